#include "device/workers/iossynctodevicethread.h"

#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>

#include "ui/progressform.h"
#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "device/workers/contactrecords.h"
#include "device/workers/phoneforms.h"
#include "device/workers/remapreply.h"
#include "store/localdb.h"

namespace {

// Contacts per message to the device.
const int kContactsPerMessage = 20;
const int kBatchSize = 10;

}  // namespace

IOSSyncToDeviceThread::IOSSyncToDeviceThread(QString udid, LocalDb* db,
                                             QList<pim::_Contact> contacts, ProgressForm* form)
    : QThread(nullptr), m_udid(udid), m_db(db), m_contacts(contacts), m_form(form) {}

IOSSyncToDeviceThread::~IOSSyncToDeviceThread() = default;

QString IOSSyncToDeviceThread::contactRecordId(const pim::_Contact& contact) {
    return contactrecords::contactRecordId(contact);
}

bool IOSSyncToDeviceThread::isContactLevel(int type, const pim::Entity& entity) {
    return contactrecords::isContactLevel(type, entity);
}

unsigned long long IOSSyncToDeviceThread::childRowIdOf(const QString& recordId) {
    return remapreply::childRowIdOf(recordId);
}

void IOSSyncToDeviceThread::addPlistDataFromContact(PlistCFType& records,
                                                    const pim::_Contact& contact) {
    contactrecords::addContact(records, contact);
}

void IOSSyncToDeviceThread::addPlistDataFromEntity(PlistCFType& records, QString contactId,
                                                   int type, long long newId,
                                                   const pim::Entity& entity) {
    contactrecords::addEntity(records, contactId, type, newId, entity);
}

void IOSSyncToDeviceThread::checkNewIdsGiven(const PlistCFType& records, const PlistCFType& remap) {
    remapreply::checkNewIdsGiven(records, remap);
}

void IOSSyncToDeviceThread::checkCancel() const {
    if (m_form && m_form->rejected) {
        throw -1;
    }
}

void IOSSyncToDeviceThread::keepTakenBatches() {
    // Called from the handlers below: a failing rollback or commit must not escape the thread.
    if (m_batchOpen) {
        m_batchOpen = false;
        m_db->endPart(false);
    }
    if (!m_editOpen) {
        return;
    }
    m_editOpen = false;
    try {
        m_db->endEdit(true);
    } catch (const std::exception& e) {
        // The phone keeps what it took; the mirror, a cache the next read refills, goes without.
        qWarning("IOSSyncToDeviceThread: keeping the batches the phone took failed: %s", e.what());
        try {
            m_db->endEdit(false);
        } catch (const std::exception& again) {
            qWarning("IOSSyncToDeviceThread: rollback failed: %s", again.what());
        }
    }
}

void IOSSyncToDeviceThread::run() {
    m_form->invokeUpdateProgress(tr("IDS_MERGING_CONTACTS"), 0, QString());
    m_total = m_contacts.size();
    m_done = 0;
    m_merged = 0;
    m_editOpen = false;
    m_batchOpen = false;
    // Ended with the run, on every path: its thread is stopped and joined.
    struct FormsOfRun {
        std::unique_ptr<PhoneForms>& forms;
        ~FormsOfRun() { forms.reset(); }
    } formsOfRun{m_phoneForms};
    m_phoneForms.reset(new PhoneForms(m_contacts));
    int taken = 0;  // contacts of the batches the phone took
    try {
        // The mirror is a cache that every connection of the phone rebuilds: the whole restore
        // is one transaction of it, written without waiting for the disk and rolled back from a
        // journal in memory. Its pages stay in memory until the commit (no spill into the file
        // mid-transaction, which a crash would leave half-written), so a crash loses only cache.
        // Each batch is a savepoint, kept once the phone took the batch, so a batch costs no
        // commit of its own. As for a file import, a large restore leaves the indexes that
        // merges never read to one build at the end.
        m_db->open_check();
        m_db->db().executeThrow(Sqlite3Sql("pragma synchronous=off"));
        m_db->db().executeThrow(Sqlite3Sql("pragma journal_mode=memory"));
        m_db->db().executeThrow(Sqlite3Sql("pragma cache_spill=off"));
        m_db->beginBulkEdit(m_total);
        m_editOpen = true;
        while (m_done < m_total) {
            // A cancel takes effect between batches: what the phone took stays in the mirror.
            checkCancel();
            m_db->beginPart();
            m_batchOpen = true;
            handleBatch(m_done, std::min(m_total - m_done, kBatchSize));
            // The phone took the batch.
            m_db->endPart(true);
            m_batchOpen = false;
            taken = m_done;
        }
        finishSession();
        m_db->endEdit(true);
        m_editOpen = false;
    } catch (int) {
        // Cancelled: the form has closed already. The batches the phone took stay, and the
        // session is finished so that the phone keeps them.
        keepTakenBatches();
        try {
            finishSession();
        } catch (const std::exception& e) {
            qWarning("IOSSyncToDeviceThread: finishing after a cancel failed: %s", e.what());
        }
        restoreSynchronous();
        return;
    } catch (const std::exception& e) {
        keepTakenBatches();
        m_session.reset();
        restoreSynchronous();
        // How far the restore came, beside the cause and before the failing call.
        QString text = QString::fromUtf8(e.what());
        const int cause = text.indexOf(QLatin1Char('\n'));
        text.insert(cause < 0 ? text.size() : cause,
                    tr(" The phone took %1 of the %2 contacts; the others were not written to it.")
                        .arg(taken)
                        .arg(m_total));
        m_form->invokeErrorOccurred(text);
        return;
    } catch (...) {
        keepTakenBatches();
        m_session.reset();
        restoreSynchronous();
        m_form->invokeErrorOccurred(QStringLiteral("IOSSyncToDeviceThread: unexpected failure."));
        return;
    }
    restoreSynchronous();
    if (m_merged == 0) {
        m_form->invokeSucceed(tr("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS").arg(m_done));
    } else {
        m_form->invokeSucceed(tr("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS_MERGED_%2")
                                  .arg(m_done - m_merged)
                                  .arg(m_merged));
    }
}

void IOSSyncToDeviceThread::restoreSynchronous() {
    // Each on its own: one that fails leaves the others to be restored.
    for (const char* sql :
         {"pragma journal_mode=delete", "pragma synchronous=full", "pragma cache_spill=on"}) {
        try {
            m_db->db().executeThrow(Sqlite3Sql(sql));
        } catch (const std::exception&) {
        }
    }
}

mobiledevice_sync_client& IOSSyncToDeviceThread::session() {
    if (!m_session) {
        std::unique_ptr<mobiledevice_sync_client> client(new mobiledevice_sync_client);
        mobiledevice_sync_start_throw(m_udid, _mobiledevice_sync_ctx::contacts(), *client);
        mobiledevice_sync_start_send_to_device_throw(*client);
        m_session = std::move(client);
    }
    return *m_session;
}

void IOSSyncToDeviceThread::finishSession() {
    if (!m_session) {
        return;
    }
    std::unique_ptr<mobiledevice_sync_client> client = std::move(m_session);
    mobiledevice_sync_send_finish_throw(*client);
    client->free();
}

PlistCFType IOSSyncToDeviceThread::send(const PlistCFType& records) {
    const PlistCFType remap =
        mobiledevice_sync_send_throw(session(), records, false, PlistCFType());
    checkNewIdsGiven(records, remap);
    return remap;
}

void IOSSyncToDeviceThread::handleBatch(int start, int count) {
    using ChangeMap = QMap<int, QList<pim::Entity>>;
    QMap<unsigned long long, QString> idMap;
    QMap<unsigned long long, ChangeMap> changeMap;
    QList<pim::_Contact> contactRecords;

    for (int i = start; i < start + count && i < m_contacts.size(); ++i) {
        ++m_done;
        // Often enough for the eye; a report per contact would keep the window busy.
        if (!m_reported.isValid() || m_reported.elapsed() >= 50 || m_done == m_total) {
            m_reported.start();
            m_form->invokeUpdateProgress(
                tr("IDS_MERGING_CONTACTS"),
                static_cast<int>(static_cast<double>(m_done) / m_total * 100.0),
                QStringLiteral("Contacts:%1/%2").arg(m_done).arg(m_total));
        }

        // Merged in the form the phone gives back: a detail read from the phone is then the
        // same detail the next restore of the same contact brings.
        pim::_Contact merged;
        bool wasMerged = false;
        const ChangeMap changes = m_db->combineContact(m_phoneForms->at(i), merged, wasMerged);
        if (wasMerged) {
            ++m_merged;
        }
        if (changes.isEmpty()) {
            continue;
        }
        const unsigned long long rowId = merged._id;
        idMap[rowId] = merged.srcId;
        // Two contacts of one batch can land on the same mirror contact: keep what both merges
        // changed, the later version of an entity replacing the earlier.
        ChangeMap& all = changeMap[rowId];
        for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
            QList<pim::Entity>& list = all[it.key()];
            for (const pim::Entity& e : it.value()) {
                auto same = std::find_if(list.begin(), list.end(), [&](const pim::Entity& x) {
                    return e._id != 0 && x._id == e._id;
                });
                if (same != list.end()) {
                    *same = e;
                } else {
                    list.append(e);
                }
            }
        }
        bool contactLevel = false;
        for (auto it = all.constBegin(); it != all.constEnd() && !contactLevel; ++it) {
            for (const pim::Entity& e : it.value()) {
                if (contactrecords::needsContactRecord(it.key(), e)) {
                    contactLevel = true;
                    break;
                }
            }
        }
        // A contact the phone does not know yet needs its contact record, or the phone would
        // get details that belong to no contact.
        if (contactLevel || merged.srcId.isEmpty()) {
            auto same = std::find_if(contactRecords.begin(), contactRecords.end(),
                                     [&](const pim::_Contact& c) { return c._id == rowId; });
            if (same != contactRecords.end()) {
                *same = merged;
            } else {
                contactRecords.append(merged);
            }
        }
    }

    QSet<unsigned long long> offeredContacts;
    for (auto it = idMap.constBegin(); it != idMap.constEnd(); ++it) {
        offeredContacts.insert(it.key());
    }
    for (int first = 0; first < contactRecords.size(); first += kContactsPerMessage) {
        PlistCFType records = PlistCFType::createCFDictionary();
        const int last = std::min(first + kContactsPerMessage, contactRecords.size());
        for (int i = first; i < last; ++i) {
            const pim::_Contact& c = contactRecords.at(i);
            contactrecords::addContact(records, c, contactrecords::unshownKeysOf(*m_db, c.srcId));
        }
        const PlistCFType remap = send(records);
        const QMap<unsigned long long, QString> given =
            remapreply::applyContactIds(remap, offeredContacts, *m_db);
        for (auto it = given.constBegin(); it != given.constEnd(); ++it) {
            idMap[it.key()] = it.value();
        }
    }

    const QList<unsigned long long> rowIds = changeMap.keys();
    for (int first = 0; first < rowIds.size(); first += kContactsPerMessage) {
        PlistCFType records = PlistCFType::createCFDictionary();
        QSet<unsigned long long> offered;
        const int last = std::min(first + kContactsPerMessage, rowIds.size());
        for (int i = first; i < last; ++i) {
            const unsigned long long rowId = rowIds.at(i);
            QString owner = idMap.value(rowId);
            if (owner.isEmpty()) {
                owner = QStringLiteral("-") + QString::number(rowId);
            }
            const ChangeMap& changes = changeMap[rowId];
            for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
                for (const pim::Entity& e : it.value()) {
                    contactrecords::addEntityChange(records, owner, it.key(),
                                                    -static_cast<long long>(e._id), e,
                                                    contactrecords::unshownKeysOf(*m_db, e.srcId));
                    offered.insert(e._id);
                }
            }
        }
        if (records.dict_size() == 0) {
            continue;
        }
        remapreply::applyEntityIds(send(records), offered, *m_db);
    }
}
