#include "device/workers/iossynctodevicethread.h"

#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QRegExp>
#include <QSet>
#include <algorithm>
#include <exception>

#include "app/ui/progressform.h"
#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "store/localdb.h"

namespace {

const char* const kKindKey = "com.apple.syncservices.RecordEntityName";
// Contacts per message to the device.
const int kContactsPerMessage = 20;
const int kBatchSize = 10;

QString col(const pim::Entity& e, const char* key) {
    return e.text(QString::fromLatin1(key));
}

int colInt(const pim::Entity& e, const char* key) {
    bool ok = false;
    const int v = col(e, key).trimmed().toInt(&ok);
    return ok ? v : 0;
}

// A date alone or a date with a time of day, ISO 8601; invalid when it reads as neither.
QDateTime isoDateTime(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        return QDateTime();
    }
    QDateTime dt = QDateTime::fromString(t, Qt::ISODate);
    if (dt.isValid()) {
        return dt;
    }
    const QDate d = QDate::fromString(t, Qt::ISODate);
    return d.isValid() ? QDateTime(d, QTime(0, 0)) : QDateTime();
}

void putText(PlistCFType& rec, const char* key, const QString& value) {
    if (!value.isEmpty()) {
        rec.put(QString::fromLatin1(key), PlistCFType::createCFString(value));
    }
}

void putKind(PlistCFType& rec, const char* kind) {
    rec.put(QString::fromLatin1(kKindKey), PlistCFType::createCFString(QString::fromLatin1(kind)));
}

using WordTable = QMap<int, QString>;

const WordTable& phoneWords() {
    static const WordTable t = {{1, "home"},     {2, "mobile"}, {3, "work"}, {4, "work fax"},
                                {5, "home fax"}, {6, "pager"},  {12, "main"}};
    return t;
}
const WordTable& homeWorkWords() {
    static const WordTable t = {{1, "home"}, {2, "work"}};
    return t;
}
const WordTable& dateWords() {
    static const WordTable t = {{1, "anniversary"}};
    return t;
}
const WordTable& urlWords() {
    static const WordTable t = {{1, "home page"}, {4, "home"}, {5, "work"}};
    return t;
}
const WordTable& relationWords() {
    static const WordTable t = {{1, "assistant"}, {2, "brother"}, {3, "child"},  {5, "father"},
                                {6, "friend"},    {7, "manager"}, {8, "mother"}, {9, "parent"},
                                {10, "partner"},  {13, "sister"}, {14, "spouse"}};
    return t;
}
const WordTable& serviceWords() {
    static const WordTable t = {{1, "aim"},       {2, "msn"},        {3, "yahoo"}, {4, "skype"},
                                {5, "qq"},        {6, "googletalk"}, {7, "icq"},   {8, "jabber"},
                                {10, "gadugadu"}, {11, "facebook"}};
    return t;
}

// "label" only for a custom label, "type" always ("other" for a custom label or an unknown code).
void putLabelPair(PlistCFType& rec, const pim::Entity& e, const WordTable& words) {
    const QString label = col(e, "data3");
    if (!label.isEmpty()) {
        putText(rec, "label", label);
        putText(rec, "type", QStringLiteral("other"));
    } else {
        putText(rec, "type", words.value(colInt(e, "data2"), QStringLiteral("other")));
    }
}

// Remap answers: only string values that name an id count; anything else is ignored.
QString remapValue(const PlistCFType& remap, const PlistCFType& key) {
    const PlistCFType v = remap.get(key);
    return v.isCFString() ? v.CFStringQString() : QString();
}

}  // namespace

IOSSyncToDeviceThread::IOSSyncToDeviceThread(QString udid, LocalDb* db,
                                             QList<pim::_Contact> contacts, ProgressForm* form)
    : QThread(nullptr), m_udid(udid), m_db(db), m_contacts(contacts), m_form(form) {}

IOSSyncToDeviceThread::~IOSSyncToDeviceThread() = default;

QString IOSSyncToDeviceThread::contactRecordId(const pim::_Contact& contact) {
    if (!contact.srcId.isEmpty()) {
        return contact.srcId;
    }
    return QStringLiteral("-") + QString::number(contact._id);
}

bool IOSSyncToDeviceThread::isContactLevel(int type, const pim::Entity& entity) {
    switch (type) {
        case pim::ENTITY_NAME:
        case pim::ENTITY_PHOTO:
        case pim::ENTITY_NICKNAME:
        case pim::ENTITY_NOTES:
        case pim::ENTITY_ORG:
            return true;
        case pim::ENTITY_EVENT:
            return colInt(entity, "data2") == 3;
        default:
            return false;
    }
}

unsigned long long IOSSyncToDeviceThread::childRowIdOf(const QString& recordId) {
    // "<code>/<contact>/-<row id>". The contact part is a device id (digits), or still a
    // provisional contact id when the device did not remap the contact.
    static const QRegExp pattern(QStringLiteral("\\d+/-?\\d*/\\-(\\d+)"));
    QRegExp re(pattern);
    if (re.indexIn(recordId) < 0) {
        return 0;
    }
    bool ok = false;
    const unsigned long long id = re.cap(1).toULongLong(&ok);
    return ok ? id : 0;
}

void IOSSyncToDeviceThread::addPlistDataFromContact(PlistCFType& records,
                                                    const pim::_Contact& contact) {
    PlistCFType rec = PlistCFType::createCFDictionary();
    putKind(rec, "com.apple.contacts.Contact");
    putText(rec, "display as company", QStringLiteral("person"));

    const QList<pim::Entity> names = contact.entities.value(pim::ENTITY_NAME);
    if (!names.isEmpty()) {
        const pim::Entity& n = names.first();
        putText(rec, "first name", col(n, "data2"));
        putText(rec, "first name yomi", col(n, "data7"));
        putText(rec, "middle name", col(n, "data4"));
        putText(rec, "last name", col(n, "data3"));
        putText(rec, "last name yomi", col(n, "data8"));
        putText(rec, "title", col(n, "data5"));
        putText(rec, "suffix", col(n, "data6"));
    }
    const QList<pim::Entity> orgs = contact.entities.value(pim::ENTITY_ORG);
    if (!orgs.isEmpty()) {
        const pim::Entity& o = orgs.first();
        putText(rec, "company name", col(o, "data1"));
        putText(rec, "department", col(o, "data5"));
        putText(rec, "job title", col(o, "data4"));
    }
    const QList<pim::Entity> nicks = contact.entities.value(pim::ENTITY_NICKNAME);
    if (!nicks.isEmpty()) {
        putText(rec, "nickname", col(nicks.first(), "data1"));
    }
    // The last birthday with a readable date wins.
    QDateTime birthday;
    for (const pim::Entity& e : contact.entities.value(pim::ENTITY_EVENT)) {
        if (colInt(e, "data2") != 3) {
            continue;
        }
        const QDateTime dt = isoDateTime(col(e, "data1"));
        if (dt.isValid()) {
            birthday = dt;
        }
    }
    if (birthday.isValid()) {
        rec.put(QStringLiteral("birthday"), PlistCFType::createCFDate(birthday));
    }
    const QList<pim::Entity> photos = contact.entities.value(pim::ENTITY_PHOTO);
    if (!photos.isEmpty()) {
        const QByteArray bytes =
            photos.first().fields.value(QStringLiteral("data15")).toByteArray();
        if (!bytes.isEmpty()) {
            rec.put(QStringLiteral("image"), PlistCFType::createCFData(bytes));
        }
    }
    const QList<pim::Entity> notes = contact.entities.value(pim::ENTITY_NOTES);
    if (!notes.isEmpty()) {
        putText(rec, "notes", col(notes.first(), "data1"));
    }
    records.put(contactRecordId(contact), rec);
}

void IOSSyncToDeviceThread::addPlistDataFromEntity(PlistCFType& records, QString contactId,
                                                   int type, long long newId,
                                                   const pim::Entity& entity) {
    PlistCFType rec = PlistCFType::createCFDictionary();
    int code = 0;
    switch (type) {
        case pim::ENTITY_PHONE:
            if (col(entity, "data1").isEmpty()) {
                return;
            }
            code = 3;
            putKind(rec, "com.apple.contacts.Phone Number");
            putText(rec, "value", col(entity, "data1"));
            putLabelPair(rec, entity, phoneWords());
            break;
        case pim::ENTITY_EMAIL:
            if (col(entity, "data1").isEmpty()) {
                return;
            }
            code = 4;
            putKind(rec, "com.apple.contacts.Email Address");
            putText(rec, "value", col(entity, "data1"));
            putLabelPair(rec, entity, homeWorkWords());
            break;
        case pim::ENTITY_ADDR:
            if (entity.formattedAddr().isEmpty()) {
                return;
            }
            code = 5;
            putKind(rec, "com.apple.contacts.Street Address");
            putText(rec, "country", col(entity, "data10"));
            putText(rec, "country code", col(entity, "data11"));
            putText(rec, "state", col(entity, "data8"));
            putText(rec, "city", col(entity, "data7"));
            putText(rec, "street", col(entity, "data4"));
            putText(rec, "postal code", col(entity, "data9"));
            putLabelPair(rec, entity, homeWorkWords());
            break;
        case pim::ENTITY_EVENT: {
            const QDateTime dt = isoDateTime(col(entity, "data1"));
            if (!dt.isValid()) {
                return;
            }
            // An unlabelled birthday travels in the contact record.
            if (col(entity, "data3").isEmpty() && colInt(entity, "data2") == 3) {
                return;
            }
            code = 12;
            putKind(rec, "com.apple.contacts.Date");
            rec.put(QStringLiteral("value"), PlistCFType::createCFDate(dt));
            putLabelPair(rec, entity, dateWords());
            break;
        }
        case pim::ENTITY_IM: {
            if (col(entity, "data1").isEmpty()) {
                return;
            }
            code = 13;
            putKind(rec, "com.apple.contacts.IM");
            putText(rec, "user", col(entity, "data1"));
            putLabelPair(rec, entity, homeWorkWords());
            putText(rec, "service", serviceWords().value(colInt(entity, "data5")));
            break;
        }
        case pim::ENTITY_URL:
            if (col(entity, "data1").isEmpty()) {
                return;
            }
            code = 22;
            putKind(rec, "com.apple.contacts.URL");
            putText(rec, "value", col(entity, "data1"));
            putLabelPair(rec, entity, urlWords());
            break;
        case pim::ENTITY_REL:
            if (col(entity, "data1").isEmpty()) {
                return;
            }
            code = 23;
            putKind(rec, "com.apple.contacts.Related Name");
            putText(rec, "value", col(entity, "data1"));
            putLabelPair(rec, entity, relationWords());
            break;
        default:
            return;
    }
    PlistCFType owners = PlistCFType::createCFArray();
    owners.append(PlistCFType::createCFString(contactId));
    rec.put(QStringLiteral("contact"), owners);

    // Concatenated, not QString::arg: the contact id goes in verbatim even if it holds "%1".
    const QString id = !entity.srcId.isEmpty()
                           ? entity.srcId
                           : QString::number(code) + QLatin1Char('/') + contactId +
                                 QLatin1Char('/') + QString::number(newId);
    records.put(id, rec);
}

void IOSSyncToDeviceThread::checkCancel() const {
    if (m_form && m_form->rejected) {
        throw -1;
    }
}

void IOSSyncToDeviceThread::rollbackOpenBatch() {
    if (!m_editOpen) {
        return;
    }
    m_editOpen = false;
    // Called from the handlers below: a failing rollback must not escape the thread.
    try {
        m_db->endEdit(false);
    } catch (const std::exception& e) {
        qWarning("IOSSyncToDeviceThread: rollback failed: %s", e.what());
    }
}

void IOSSyncToDeviceThread::run() {
    m_form->invokeUpdateProgress(tr("IDS_MERGING_CONTACTS"), 0, QString());
    m_total = m_contacts.size();
    m_done = 0;
    m_merged = 0;
    m_editOpen = false;
    try {
        while (m_done < m_total) {
            handleBatch(m_done, std::min(m_total - m_done, kBatchSize));
        }
    } catch (int) {
        // Cancelled: the form has closed already; only the open batch is undone.
        rollbackOpenBatch();
        return;
    } catch (const std::exception& e) {
        rollbackOpenBatch();
        m_form->invokeErrorOccurred(QString::fromUtf8(e.what()));
        return;
    } catch (...) {
        rollbackOpenBatch();
        m_form->invokeErrorOccurred(QStringLiteral("IOSSyncToDeviceThread: unexpected failure."));
        return;
    }
    if (m_merged == 0) {
        m_form->invokeSucceed(tr("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS").arg(m_done));
    } else {
        m_form->invokeSucceed(tr("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS_MERGED_%2")
                                  .arg(m_done - m_merged)
                                  .arg(m_merged));
    }
}

void IOSSyncToDeviceThread::handleBatch(int start, int count) {
    using ChangeMap = QMap<int, QList<pim::Entity>>;
    QMap<unsigned long long, QString> idMap;
    QMap<unsigned long long, ChangeMap> changeMap;
    QList<pim::_Contact> contactRecords;

    m_db->beginEdit();
    m_editOpen = true;

    for (int i = start; i < start + count && i < m_contacts.size(); ++i) {
        checkCancel();
        ++m_done;
        m_form->invokeUpdateProgress(
            tr("IDS_MERGING_CONTACTS"),
            static_cast<int>(static_cast<double>(m_done) / m_total * 100.0),
            QStringLiteral("Contacts:%1/%2").arg(m_done).arg(m_total));

        pim::_Contact merged;
        bool wasMerged = false;
        const ChangeMap changes = m_db->combineContact(m_contacts.at(i), merged, wasMerged);
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
                if (isContactLevel(it.key(), e)) {
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

    if (!contactRecords.isEmpty() || !changeMap.isEmpty()) {
        mobiledevice_sync_client client;  // says goodbye to the device when it goes
        mobiledevice_sync_start_throw(m_udid, _mobiledevice_sync_ctx::contacts(), client);
        mobiledevice_sync_start_send_to_device_throw(client);

        static const QRegExp contactPattern(QStringLiteral("^-(\\d+)$"));
        for (int first = 0; first < contactRecords.size(); first += kContactsPerMessage) {
            checkCancel();
            PlistCFType records = PlistCFType::createCFDictionary();
            const int last = std::min(first + kContactsPerMessage, contactRecords.size());
            for (int i = first; i < last; ++i) {
                addPlistDataFromContact(records, contactRecords.at(i));
            }
            const PlistCFType remap =
                mobiledevice_sync_send_throw(client, records, false, PlistCFType());
            for (const PlistCFType& key : remap.dict_keys()) {
                QRegExp re(contactPattern);
                if (re.indexIn(key.CFStringQString()) != 0) {
                    continue;
                }
                bool ok = false;
                const unsigned long long rowId = re.cap(1).toULongLong(&ok);
                const QString newId = remapValue(remap, key);
                // Only contacts of this message; a reply naming any other row is ignored.
                if (!ok || newId.isEmpty() || !idMap.contains(rowId)) {
                    continue;
                }
                qDebug("IOS Sync, cid:%d => %s", static_cast<int>(rowId),
                       newId.toLocal8Bit().constData());
                m_db->updateContactBaseSrcId(rowId, newId);
                idMap[rowId] = newId;
            }
        }

        const QList<unsigned long long> rowIds = changeMap.keys();
        for (int first = 0; first < rowIds.size(); first += kContactsPerMessage) {
            checkCancel();
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
                        addPlistDataFromEntity(records, owner, it.key(),
                                               -static_cast<long long>(e._id), e);
                        offered.insert(e._id);
                    }
                }
            }
            if (records.dict_size() == 0) {
                continue;
            }
            const PlistCFType remap =
                mobiledevice_sync_send_throw(client, records, false, PlistCFType());
            for (const PlistCFType& key : remap.dict_keys()) {
                const QString keyText = key.CFStringQString();
                const unsigned long long rowId = childRowIdOf(keyText);
                const QString newId = remapValue(remap, key);
                if (rowId == 0 || newId.isEmpty() || !offered.contains(rowId)) {
                    continue;
                }
                qDebug("IOS Sync, ent:%s => %s", keyText.toLocal8Bit().constData(),
                       newId.toLocal8Bit().constData());
                m_db->updateEntitySrcId(rowId, newId);
            }
        }
        mobiledevice_sync_send_finish_throw(client);
        client.free();
    }

    m_db->endEdit(true);
    m_editOpen = false;
}
