#include "iossynctopcthread.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QVector>
#include <exception>

#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "contactrecords.h"
#include "recordpipe.h"
#include "store/edittransaction.h"
#include "store/entitycolumns.h"
#include "store/localdb.h"
#include "store/mirrorfile.h"
#include "store/runreporter.h"
#include "store/pim.h"

namespace {

const QString kContact = "com.apple.contacts.Contact";

}  // namespace

// One record of a batch, made into what the store writes of it.
struct PreparedRecord {
    QString id;
    int type = 0;            // 0 for a contact record
    pim::_Contact contact;   // a contact record's contact, its details among its entities
    QString photoHash;       // of the contact's photo, when it has one
    pim::Entity entity;      // a child record's detail
    QStringList owners;      // a child record's contacts, by record id
    QByteArray unshownKeys;  // serialized; empty when the record has none
};

class IOSSyncToPCThread::RecordWriter::Rows {
public:
    QVector<PreparedRecord> records;
};

struct IOSSyncToPCThread::RecordWriter::Private {
    LocalDb* db;
    // Device contact record id -> contact row id, across all batches; hashed, as every child
    // record looks its contacts up here.
    QHash<QString, qint64> contactIds;
    // Child entities that named a contact not seen yet, by that contact's record id.
    QHash<QString, QList<QPair<int, pim::Entity>>> pending;
    // Contact rows stored without a name; their details come in later records.
    QList<unsigned long long> nameless;

    void storeContact(PreparedRecord& r) {
        pim::_Contact& contact = r.contact;
        // Left in the rows, for the preparing thread to free.
        QMap<int, QList<pim::Entity>>& entities = contact.entities;
        db->insertContactBase(contact);
        const qint64 rowId = static_cast<qint64>(contact._id);
        contactIds.insert(r.id, rowId);
        if (contact.fullName.isEmpty()) {
            nameless.append(contact._id);
        }
        // Name first, then the others in the order the store has always had them.
        for (int type : {pim::ENTITY_NAME, pim::ENTITY_NICKNAME, pim::ENTITY_ORG, pim::ENTITY_EVENT,
                         pim::ENTITY_PHOTO, pim::ENTITY_NOTES}) {
            const auto found = entities.find(type);
            if (found == entities.end()) {
                continue;
            }
            for (pim::Entity& e : *found) {
                if (type == pim::ENTITY_PHOTO) {
                    db->insertPhoto(contact._id, e, r.photoHash);
                } else {
                    db->insertEntity(contact._id, type, e);
                }
            }
        }
        contactrecords::keepUnshownKeys(*db, r.id, r.unshownKeys);

        // Children that arrived before their contact.
        const auto it = pending.find(r.id);
        if (it != pending.end()) {
            const QList<QPair<int, pim::Entity>> waiting = it.value();
            pending.erase(it);
            for (const auto& p : waiting) {
                pim::Entity e = p.second;
                db->insertEntity(contact._id, p.first, e);
            }
        }
    }

    void storeChild(const PreparedRecord& r) {
        contactrecords::keepUnshownKeys(*db, r.id, r.unshownKeys);
        for (const QString& owner : r.owners) {
            const qint64 rowId = contactIds.value(owner, 0);
            if (rowId > 0) {
                pim::Entity e = r.entity;
                db->insertEntity(static_cast<unsigned long long>(rowId), r.type, e);
            } else if (!owner.isEmpty()) {
                pending[owner].append(qMakePair(r.type, r.entity));
            }
        }
    }
};

IOSSyncToPCThread::RecordWriter::RecordWriter(LocalDb* db) : d(new Private) {
    d->db = db;
    contactrecords::prepareUnshownKeys(*db);
}

IOSSyncToPCThread::RecordWriter::~RecordWriter() {
    delete d;
}

int IOSSyncToPCThread::RecordWriter::contactCount() const {
    return d->contactIds.size();
}

int IOSSyncToPCThread::RecordWriter::orphanCount() const {
    int n = 0;
    for (const auto& l : d->pending) {
        n += l.size();
    }
    return n;
}

void IOSSyncToPCThread::RecordWriter::finish() {
    for (unsigned long long rowId : d->nameless) {
        pim::_Contact contact = d->db->contact(rowId);
        contact.fullName = pim::nameFromDetails(contact);
        if (!contact.fullName.isEmpty()) {
            d->db->updateContactBase(contact);
        }
    }
    d->nameless.clear();
}

void IOSSyncToPCThread::RecordWriter::addBatch(const PlistCFType& batch) {
    store(*prepare(batch));
}

std::shared_ptr<IOSSyncToPCThread::RecordWriter::Rows> IOSSyncToPCThread::RecordWriter::prepare(
    const PlistCFType& batch) {
    auto rows = std::make_shared<Rows>();
    if (!batch.isCFDictionary()) {
        return rows;
    }
    const QList<QPair<QString, PlistCFType>> items = batch.dict_items();
    rows->records.reserve(items.size());
    for (const auto& item : items) {
        const QString& id = item.first;
        const PlistCFType& rec = item.second;
        if (!rec.isCFDictionary()) {
            continue;
        }
        const QString kind = contactrecords::recordKind(rec);
        PreparedRecord r;
        r.id = id;
        // The rows' keys are given here, so that the storing thread writes the maps as they
        // are instead of adding the keys (and copying a child's map) itself.
        if (kind == kContact) {
            r.contact = contactrecords::contactFromRecord(id, rec);
            entitycolumns::holdRowKeys(r.contact);
            const QList<pim::Entity> photos = r.contact.entities.value(pim::ENTITY_PHOTO);
            if (!photos.isEmpty()) {
                r.photoHash = photos.first().photoHash();
            }
        } else if ((r.type = contactrecords::childType(kind))) {
            r.entity = contactrecords::childEntity(r.type, id, rec);
            entitycolumns::holdRowKeys(r.type, r.entity);
            const PlistCFType owners = rec.get(QString("contact"));
            const int n = owners.array_size();
            for (int i = 0; i < n; ++i) {
                r.owners << owners.at(i).CFStringQString();
            }
        } else {
            continue;
        }
        r.unshownKeys = contactrecords::unshownKeyBytes(r.type, rec);
        rows->records.append(std::move(r));
    }
    return rows;
}

void IOSSyncToPCThread::RecordWriter::store(Rows& rows) {
    for (PreparedRecord& r : rows.records) {
        if (r.type == 0) {
            d->storeContact(r);
        } else {
            d->storeChild(r);
        }
    }
}

IOSSyncToPCThread::IOSSyncToPCThread(QString devid, LocalDb* db, RunReporter* reporter)
    : QThread(nullptr), m_db(db), m_devid(devid), m_reporter(reporter) {}

IOSSyncToPCThread::~IOSSyncToPCThread() = default;

void IOSSyncToPCThread::run() {
    m_reporter->progress(tr("IDS_RECEIVING_CONTACTS_FROM_IOS"), 99, QString());
    QString closing;
    try {
        const _mobiledevice_sync_ctx ctx("com.apple.Contacts", "---",
                                         QDateTime::currentDateTime().toString(Qt::ISODate));
        mobiledevice_sync_client client;  // says goodbye to the phone when it goes
        // A confirmed cancel ends the wait for the phone at once.
        client.cancelFlag = m_reporter->cancelFlag();
        // Contact sync is allowed while the phone is tethered, on the lockdown session that
        // starts the sync service.
        client.tethered = TetheredSync(QStringLiteral("Contacts"), false);
        mobiledevice_sync_start_throw(m_devid, ctx, client);
        // The tethered-sync flag alone says nothing of iCloud (a phone that never synced with a
        // computer has it set too); its keys say whether the phone syncs its contacts over the
        // air.
        const bool inCloud = client.tethered->overTheAir;
        mobiledevice_sync_start_recv_all_records_throw(client);
        // The mirror is a cache made afresh for the read and listed only once it is read:
        // written without waiting for the disk, its pages going to the file as they are
        // filled. Its indexes are kept row by row on the storing thread, which keeps up with
        // the phone: built at the commit, they would hold up the end of the read.
        LocalDb::CacheWrites cacheWrites(*m_db, LocalDb::CacheWrites::SpilledAsWritten);
        // Every photo of the phone goes into the mirror: in the template's small pages that is
        // one write call per kilobyte.
        mirrorfile::useLargePages(*m_db);
        EditTransaction edit(*m_db);
        RecordWriter writer(m_db);
        {
            // Made into rows and stored on threads of their own while the phone sends the
            // next batch; the pipe is stopped before the edit is committed or rolled back.
            RecordPipe pipe([&writer](const PlistCFType& batch) {
                std::shared_ptr<RecordWriter::Rows> rows = RecordWriter::prepare(batch);
                return [&writer, rows] { writer.store(*rows); };
            });
            bool more = true;
            while (more) {
                PlistCFType batch;
                more = mobiledevice_sync_record_next_throw(client, batch, nullptr);
                // A cancel takes effect between batches: nothing of the read is kept.
                if (m_reporter->cancelled())
                    return;
                pipe.push(std::move(batch));
            }
            pipe.finish();
        }
        writer.finish();
        // A cancel confirmed while the last batch came in, or still being asked about, keeps
        // nothing either.
        if (m_reporter->cancelConfirmed())
            return;
        edit.commit();
        client.free();
        // A phone whose contacts live in iCloud gives none of them over USB: say why no
        // contact came rather than show an empty phone.
        if (writer.contactCount() == 0) {
            closing = inCloud ? tr("No contacts came from the phone: it keeps its contacts in "
                                   "iCloud, which it does not sync over USB.")
                              : tr("The phone holds no contacts of its own.");
            closing +=
                tr(" If its contacts are kept in iCloud, turn off Contacts in the "
                   "phone's Settings > [your name] > iCloud (choose to keep the contacts "
                   "on the phone), then unplug the phone and plug it in again.");
        }
    } catch (const std::exception& e) {
        // The user cancelled: the dialog is closed already and nothing of the read is kept.
        if (!m_reporter->cancelled())
            m_reporter->error(QString::fromUtf8(e.what()));
        return;
    }
    m_reporter->succeed(closing);
}
