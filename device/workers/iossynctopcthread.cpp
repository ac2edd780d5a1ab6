#include "device/workers/iossynctopcthread.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <exception>

#include "app/ui/progressform.h"
#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "store/localdb.h"
#include "store/pim.h"

namespace {

const char* const kKindKey = "com.apple.syncservices.RecordEntityName";
const QString kContact = "com.apple.contacts.Contact";

QString textOf(const PlistCFType& rec, const char* key) {
    return rec.get(QString::fromLatin1(key)).CFStringQString();
}

QString dateOf(const PlistCFType& rec, const char* key) {
    const PlistCFType v = rec.get(QString::fromLatin1(key));
    if (!v.isCFDate()) {
        return QString("");
    }
    const QDateTime dt = v.CFDateToDateTime(0);
    return dt.isValid() ? dt.toString(pim::DATE_TIME_FORMAT) : QString("");
}

bool present(const PlistCFType& rec, const char* key) {
    return rec.get(QString::fromLatin1(key)).ref() != nullptr;
}

using CodeTable = QHash<QString, int>;

const CodeTable& phoneCodes() {
    static const CodeTable t = {{"home", 1},     {"mobile", 2}, {"work", 3},  {"work fax", 4},
                                {"home fax", 5}, {"pager", 6},  {"main", 12}, {"other", 0}};
    return t;
}
const CodeTable& homeWorkCodes() {
    static const CodeTable t = {{"home", 1}, {"work", 2}, {"other", 0}};
    return t;
}
const CodeTable& urlCodes() {
    static const CodeTable t = {{"home page", 1}, {"home", 4}, {"work", 5}, {"other", 0}};
    return t;
}
const CodeTable& dateCodes() {
    static const CodeTable t = {{"anniversary", 1}, {"other", 0}};
    return t;
}
const CodeTable& relationCodes() {
    static const CodeTable t = {{"assistant", 1}, {"brother", 2}, {"child", 3},   {"father", 5},
                                {"friend", 6},    {"manager", 7}, {"mother", 8},  {"parent", 9},
                                {"partner", 10},  {"sister", 13}, {"spouse", 14}, {"other", 0}};
    return t;
}
const CodeTable& serviceCodes() {
    static const CodeTable t = {{"aim", 1},       {"msn", 2},        {"yahoo", 3}, {"skype", 4},
                                {"qq", 5},        {"googletalk", 6}, {"icq", 7},   {"jabber", 8},
                                {"gadugadu", 10}, {"facebook", 11}};
    return t;
}

// Puts the code of the record's value under key into the entity, when the table knows it.
void setCode(pim::Entity& e, const char* column, const PlistCFType& rec, const char* key,
             const CodeTable& table) {
    const PlistCFType v = rec.get(QString::fromLatin1(key));
    if (!v.isCFString()) {
        return;
    }
    const auto it = table.constFind(v.CFStringQString());
    if (it != table.constEnd()) {
        e.fields.insert(QString::fromLatin1(column), it.value());
    }
}

struct ChildKind {
    const char* kind;
    int type;
};
const ChildKind kChildKinds[] = {
    {"com.apple.contacts.Phone Number", pim::ENTITY_PHONE},
    {"com.apple.contacts.Email Address", pim::ENTITY_EMAIL},
    {"com.apple.contacts.Street Address", pim::ENTITY_ADDR},
    {"com.apple.contacts.URL", pim::ENTITY_URL},
    {"com.apple.contacts.IM", pim::ENTITY_IM},
    {"com.apple.contacts.Date", pim::ENTITY_EVENT},
    {"com.apple.contacts.Related Name", pim::ENTITY_REL},
};

int childType(const QString& kind) {
    for (const ChildKind& k : kChildKinds) {
        if (kind == QLatin1String(k.kind)) {
            return k.type;
        }
    }
    return 0;
}

pim::Entity childEntity(int type, const QString& id, const PlistCFType& rec) {
    pim::Entity e(0, id);
    switch (type) {
        case pim::ENTITY_PHONE:
            e.fields["data1"] = textOf(rec, "value");
            e.fields["data3"] = textOf(rec, "label");
            setCode(e, "data2", rec, "type", phoneCodes());
            break;
        case pim::ENTITY_EMAIL:
            e.fields["data1"] = textOf(rec, "value");
            e.fields["data3"] = textOf(rec, "label");
            setCode(e, "data2", rec, "type", homeWorkCodes());
            break;
        case pim::ENTITY_ADDR:
            e.fields["data3"] = textOf(rec, "label");
            setCode(e, "data2", rec, "type", homeWorkCodes());
            e.fields["data4"] = textOf(rec, "street");
            e.fields["data7"] = textOf(rec, "city");
            e.fields["data8"] = textOf(rec, "state");
            e.fields["data9"] = textOf(rec, "postal code");
            e.fields["data10"] = textOf(rec, "country");
            e.fields["data11"] = textOf(rec, "country code");
            e.fields["data1"] = e.formattedAddr();
            break;
        case pim::ENTITY_URL:
            e.fields["data1"] = textOf(rec, "value");
            e.fields["data3"] = textOf(rec, "label");
            setCode(e, "data2", rec, "type", urlCodes());
            break;
        case pim::ENTITY_IM:
            e.fields["data1"] = textOf(rec, "user");
            e.fields["data3"] = textOf(rec, "label");
            setCode(e, "data2", rec, "type", homeWorkCodes());
            setCode(e, "data5", rec, "service", serviceCodes());
            break;
        case pim::ENTITY_EVENT:
            e.fields["data1"] = dateOf(rec, "value");
            e.fields["data3"] = textOf(rec, "label");
            setCode(e, "data2", rec, "type", dateCodes());
            break;
        case pim::ENTITY_REL:
            e.fields["data1"] = textOf(rec, "value");
            e.fields["data3"] = textOf(rec, "label");
            setCode(e, "data2", rec, "type", relationCodes());
            break;
        default:
            break;
    }
    return e;
}

}  // namespace

struct IOSSyncToPCThread::RecordWriter::Private {
    LocalDb* db;
    // Device contact record id -> contact row id, across all batches.
    QMap<QString, qint64> contactIds;
    // Child entities that named a contact not seen yet, by that contact's record id.
    QHash<QString, QList<QPair<int, pim::Entity>>> pending;

    void storeContact(const QString& id, const PlistCFType& rec) {
        pim::Entity name(0, id);
        name.fields["data2"] = textOf(rec, "first name");
        name.fields["data7"] = textOf(rec, "first name yomi");
        name.fields["data4"] = textOf(rec, "middle name");
        name.fields["data3"] = textOf(rec, "last name");
        name.fields["data8"] = textOf(rec, "last name yomi");
        name.fields["data5"] = textOf(rec, "title");
        name.fields["data6"] = textOf(rec, "suffix");
        name.fields["data1"] = name.fullName();

        pim::_Contact contact(0, id, name.fullName());
        db->insertContactBase(contact);
        const qint64 rowId = static_cast<qint64>(contact._id);
        contactIds.insert(id, rowId);
        db->insertEntity(contact._id, pim::ENTITY_NAME, name);

        if (present(rec, "nickname")) {
            pim::Entity e(0, id);
            e.fields["data1"] = textOf(rec, "nickname");
            e.fields["data2"] = 1;
            db->insertEntity(contact._id, pim::ENTITY_NICKNAME, e);
        }
        if (present(rec, "company name") || present(rec, "department") ||
            present(rec, "job title")) {
            pim::Entity e(0, id);
            e.fields["data1"] = textOf(rec, "company name");
            e.fields["data5"] = textOf(rec, "department");
            e.fields["data4"] = textOf(rec, "job title");
            e.fields["data2"] = 1;
            db->insertEntity(contact._id, pim::ENTITY_ORG, e);
        }
        if (present(rec, "birthday")) {
            pim::Entity e(0, id);
            e.fields["data1"] = dateOf(rec, "birthday");
            e.fields["data2"] = 3;
            db->insertEntity(contact._id, pim::ENTITY_EVENT, e);
        }
        if (present(rec, "image")) {
            pim::Entity e(0, id);
            e.fields["data15"] = rec.get(QString("image")).CFDataBytes();
            db->insertEntity(contact._id, pim::ENTITY_PHOTO, e);
        }
        if (present(rec, "notes")) {
            pim::Entity e(0, id);
            e.fields["data1"] = textOf(rec, "notes");
            db->insertEntity(contact._id, pim::ENTITY_NOTES, e);
        }

        // Children that arrived before their contact.
        const auto it = pending.find(id);
        if (it != pending.end()) {
            const QList<QPair<int, pim::Entity>> waiting = it.value();
            pending.erase(it);
            for (const auto& p : waiting) {
                pim::Entity e = p.second;
                db->insertEntity(contact._id, p.first, e);
            }
        }
    }

    void storeChild(int type, const QString& id, const PlistCFType& rec) {
        const pim::Entity entity = childEntity(type, id, rec);
        const PlistCFType owners = rec.get(QString("contact"));
        const int n = owners.array_size();
        for (int i = 0; i < n; ++i) {
            const QString owner = owners.at(i).CFStringQString();
            const qint64 rowId = contactIds.value(owner, 0);
            if (rowId > 0) {
                pim::Entity e = entity;
                db->insertEntity(static_cast<unsigned long long>(rowId), type, e);
            } else if (!owner.isEmpty()) {
                pending[owner].append(qMakePair(type, entity));
            }
        }
    }
};

IOSSyncToPCThread::RecordWriter::RecordWriter(LocalDb* db) : d(new Private) {
    d->db = db;
}

IOSSyncToPCThread::RecordWriter::~RecordWriter() {
    delete d;
}

int IOSSyncToPCThread::RecordWriter::orphanCount() const {
    int n = 0;
    for (const auto& l : d->pending) {
        n += l.size();
    }
    return n;
}

void IOSSyncToPCThread::RecordWriter::addBatch(const PlistCFType& batch) {
    if (!batch.isCFDictionary()) {
        return;
    }
    const QList<QPair<QString, PlistCFType>> items = batch.dict_items();
    for (const auto& item : items) {
        const QString& id = item.first;
        const PlistCFType& rec = item.second;
        if (!rec.isCFDictionary()) {
            continue;
        }
        const QString kind = textOf(rec, kKindKey);
        if (kind == kContact) {
            d->storeContact(id, rec);
        } else if (const int type = childType(kind)) {
            d->storeChild(type, id, rec);
        }
    }
}

IOSSyncToPCThread::IOSSyncToPCThread(QString devid, LocalDb* db, ProgressForm* form)
    : QThread(nullptr), m_db(db), m_devid(devid), m_form(form) {}

IOSSyncToPCThread::~IOSSyncToPCThread() = default;

void IOSSyncToPCThread::run() {
    m_form->invokeUpdateProgress(tr("IDS_RECEIVING_CONTACTS_FROM_IOS"), 99, QString());
    bool editing = false;
    try {
        const _mobiledevice_sync_ctx ctx("com.apple.Contacts", "---",
                                         QDateTime::currentDateTime().toString(Qt::ISODate));
        mobiledevice_sync_set_tethered_throw(m_devid, "Contacts", false);
        mobiledevice_sync_client client;
        mobiledevice_sync_start_throw(m_devid, ctx, client);
        mobiledevice_sync_start_recv_all_records_throw(client);
        m_db->beginEdit();
        editing = true;
        RecordWriter writer(m_db);
        bool more = true;
        while (more) {
            PlistCFType batch;
            more = mobiledevice_sync_record_next_throw(client, batch, nullptr);
            writer.addBatch(batch);
        }
        m_db->endEdit(true);
        editing = false;
        client.free();
    } catch (const std::exception& e) {
        if (editing) {
            try {
                m_db->endEdit(false);
            } catch (const std::exception&) {
            }
        }
        m_form->invokeErrorOccurred(QString::fromUtf8(e.what()));
        return;
    }
    m_form->invokeSucceed(QString());
}
