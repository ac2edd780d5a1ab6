#include "importcontactsfromitunesthread.h"

#include "app/ui/progressform.h"

#include <localdb.h>

#include <QDateTime>
#include <QFile>

#include <stdexcept>

namespace {

struct LabelCode {
    const char* label;
    int code;
};

const LabelCode kPhoneLabels[] = {
    {"_$!<Mobile>!$_", 2}, {"_$!<Main>!$_", 12}, {"_$!<HomeFAX>!$_", 5}, {"_$!<WorkFAX>!$_", 4},
    {"_$!<Work>!$_", 3},   {"_$!<Home>!$_", 1},  {"_$!<Pager>!$_", 6},   {"_$!<OtherFAX>!$_", 13},
    {"_$!<Other>!$_", 0},  {nullptr, 0}};
const LabelCode kHomeWorkLabels[] = {
    {"_$!<Home>!$_", 1}, {"_$!<Work>!$_", 2}, {"_$!<Other>!$_", 0}, {nullptr, 0}};
const LabelCode kDateLabels[] = {{"_$!<Anniversary>!$_", 1}, {"_$!<Other>!$_", 0}, {nullptr, 0}};
const LabelCode kWebLabels[] = {{"_$!<HomePage>!$_", 1},
                                {"_$!<Home>!$_", 4},
                                {"_$!<Work>!$_", 5},
                                {"_$!<Other>!$_", 0},
                                {nullptr, 0}};
const LabelCode kRelatedLabels[] = {{"_$!<Assistant>!$_", 1},
                                    {"_$!<Brother>!$_", 2},
                                    {"_$!<Child>!$_", 3},
                                    {"_$!<Father>!$_", 5},
                                    {"_$!<Friend>!$_", 6},
                                    {"_$!<Manager>!$_", 7},
                                    {"_$!<Mother>!$_", 8},
                                    {"_$!<Parent>!$_", 9},
                                    {"_$!<Partner>!$_", 10},
                                    {"_$!<Sister>!$_", 13},
                                    {"_$!<Spouse>!$_", 14},
                                    {"_$!<Other>!$_", 0},
                                    {nullptr, 0}};
const LabelCode kServices[] = {{"AIM", 1},       {"MSN", 2},        {"Yahoo", 3}, {"Skype", 4},
                               {"QQ", 5},        {"GoogleTalk", 6}, {"ICQ", 7},   {"Jabber", 8},
                               {"GaduGadu", 10}, {"Facebook", 11},  {nullptr, 0}};

bool lookUp(const LabelCode* table, const QString& text, int& code) {
    for (const LabelCode* l = table; l->label; ++l) {
        if (text == QLatin1String(l->label)) {
            code = l->code;
            return true;
        }
    }
    return false;
}

void setLabel(pim::Entity& e, const LabelCode* table, const QString& subType) {
    int code = 0;
    if (lookUp(table, subType, code)) {
        e.fields[QStringLiteral("data2")] = code;
    } else {
        e.fields[QStringLiteral("data2")] = 0;
        e.fields[QStringLiteral("data3")] = subType;
    }
}

// The key/value entries of one multi-value (an address's parts, an IM account's fields).
Sqlite3Cursor queryEntries(Sqlite3DB& addressBook, unsigned long long uid) {
    Sqlite3Sql sql("select v.value,l.value as key from abmultivalueentry as v");
    sql.appendSql(
        QStringLiteral(" inner join abmultivalueentrykey as l on v.parent_id=%1 and v.key=l.rowid")
            .arg(uid));
    return addressBook.queryThrow(sql);
}

QString copyPath(const char* pattern) {
    return QDir(QDir::tempPath())
        .absoluteFilePath(QString::fromLatin1(pattern).arg(QDateTime::currentMSecsSinceEpoch()));
}

}  // namespace

ImportContactsFromiTunesThread::ImportContactsFromiTunesThread(BackupManifest& b, LocalDb* d,
                                                               ProgressForm* p, QObject* parent)
    : QThread(parent), backup(b), db(d), progress(p) {}

ImportContactsFromiTunesThread::~ImportContactsFromiTunesThread() = default;

QString ImportContactsFromiTunesThread::dateText(long long seconds) {
    static const qint64 reference =
        QDateTime(QDate(2001, 1, 1), QTime(0, 0, 0, 0), Qt::UTC).toMSecsSinceEpoch();
    // Beyond a few million years QDateTime has nothing to show, and the product would overflow.
    const long long limit = 100000000000000LL;
    if (seconds > limit || seconds < -limit)
        return QString();
    return QDateTime::fromMSecsSinceEpoch(reference + seconds * 1000).toString(Qt::ISODate);
}

void ImportContactsFromiTunesThread::closeAndRemoveCopies() {
    addressBook.close();
    images.close();
    if (!addressBookCopy.isEmpty())
        QFile::remove(addressBookCopy);
    if (!imagesCopy.isEmpty())
        QFile::remove(imagesCopy);
}

void ImportContactsFromiTunesThread::readAddr(unsigned long long uid, pim::Entity& e) {
    Sqlite3Cursor c = queryEntries(addressBook, uid);
    while (c.moveNext()) {
        const QString key = c.getText(QStringLiteral("key"));
        const QString value = c.getText(QStringLiteral("value"));
        if (key == QLatin1String("Street"))
            e.fields[QStringLiteral("data4")] = value;
        else if (key == QLatin1String("City"))
            e.fields[QStringLiteral("data7")] = value;
        else if (key == QLatin1String("State"))
            e.fields[QStringLiteral("data8")] = value;
        else if (key == QLatin1String("ZIP"))
            e.fields[QStringLiteral("data9")] = value;
        else if (key == QLatin1String("Country"))
            e.fields[QStringLiteral("data10")] = value;
        e.fields[QStringLiteral("data1")] = e.formattedAddr();
    }
}

void ImportContactsFromiTunesThread::readIM(unsigned long long uid, pim::Entity& e) {
    Sqlite3Cursor c = queryEntries(addressBook, uid);
    while (c.moveNext()) {
        const QString key = c.getText(QStringLiteral("key"));
        const QString value = c.getText(QStringLiteral("value"));
        if (key == QLatin1String("service")) {
            int code = 0;
            if (lookUp(kServices, value, code))
                e.fields[QStringLiteral("data5")] = code;
        } else if (key == QLatin1String("username")) {
            e.fields[QStringLiteral("data1")] = value;
        }
    }
}

void ImportContactsFromiTunesThread::readMultiValues(unsigned long long personId,
                                                     pim::_Contact& contact) {
    Sqlite3Sql sql("select v.UID,v.property,v.value,l.value as subType");
    sql.appendSql(QStringLiteral(" from abmultivalue as v inner join abmultivaluelabel as l on "
                                 "v.record_id=%1 and v.label=l.rowid")
                      .arg(personId));
    Sqlite3Cursor c = addressBook.queryThrow(sql);
    while (c.moveNext()) {
        const int property = c.getInt(QStringLiteral("property"));
        const QString subType = c.getText(QStringLiteral("subType"));
        pim::Entity e;
        int type = 0;
        switch (property) {
            case 3:
                type = pim::ENTITY_PHONE;
                e.fields[QStringLiteral("data1")] = c.getText(QStringLiteral("value"));
                setLabel(e, kPhoneLabels, subType);
                break;
            case 4:
                type = pim::ENTITY_EMAIL;
                e.fields[QStringLiteral("data1")] = c.getText(QStringLiteral("value"));
                setLabel(e, kHomeWorkLabels, subType);
                break;
            case 5:
                type = pim::ENTITY_ADDR;
                setLabel(e, kHomeWorkLabels, subType);
                readAddr(static_cast<unsigned long long>(c.getInt64(QStringLiteral("UID"))), e);
                break;
            case 12:
                type = pim::ENTITY_EVENT;
                e.fields[QStringLiteral("data1")] = dateText(c.getInt64(QStringLiteral("value")));
                setLabel(e, kDateLabels, subType);
                break;
            case 13:
                type = pim::ENTITY_IM;
                setLabel(e, kHomeWorkLabels, subType);
                readIM(static_cast<unsigned long long>(c.getInt64(QStringLiteral("UID"))), e);
                break;
            case 22:
                type = pim::ENTITY_URL;
                e.fields[QStringLiteral("data1")] = c.getText(QStringLiteral("value"));
                setLabel(e, kWebLabels, subType);
                break;
            case 23:
                type = pim::ENTITY_REL;
                e.fields[QStringLiteral("data1")] = c.getText(QStringLiteral("value"));
                setLabel(e, kRelatedLabels, subType);
                break;
            default:
                continue;
        }
        contact.entities[type].append(e);
    }
}

bool ImportContactsFromiTunesThread::readPersons(QList<pim::_Contact>& contacts) {
    addressBookCopy = copyPath("AddressBook-%1.sqlitedb");
    imagesCopy = copyPath("AddressBookImages-%1.sqlitedb");
    // Without the address book there is nothing to import; say so plainly rather than report
    // a failed open of a temporary file the user never heard of.
    if (!backup.addressBookDb)
        throw std::runtime_error(
            tr("This backup holds no address book (Library/AddressBook/AddressBook.sqlitedb).")
                .toUtf8()
                .constData());
    if (QFile::exists(addressBookCopy))
        QFile::remove(addressBookCopy);
    backup.copyFile(backup.addressBookDb, addressBookCopy, nullptr, nullptr);
    addressBook.openThrow(addressBookCopy, 2);
    if (backup.addressBookImagesDb) {
        if (QFile::exists(imagesCopy))
            QFile::remove(imagesCopy);
        backup.copyFile(backup.addressBookImagesDb, imagesCopy, nullptr, nullptr);
        images.openThrow(imagesCopy, 2);
    }

    Sqlite3Cursor c = addressBook.queryThrow(
        "select rowid, "
        "first,last,middle,prefix,suffix,organization,department,jobtitle,note,birthday,"
        "nickname from Abperson order by rowid asc");
    const int n = c.count();
    int i = 0;
    while (c.moveNext()) {
        if (progress->rejected)
            return false;
        ++i;
        progress->invokeUpdateProgress(tr("IDS_READING_CONTACTS_FROM_ITUNES"),
                                       int(double(i) / n * 50.0),
                                       QStringLiteral("Contacts:%1/%2").arg(i).arg(n));
        const unsigned long long personId =
            static_cast<unsigned long long>(c.getInt64(QStringLiteral("rowid")));
        pim::_Contact contact;
        pim::Entity name;
        name.fields[QStringLiteral("data2")] = c.getText(QStringLiteral("first"));
        name.fields[QStringLiteral("data3")] = c.getText(QStringLiteral("last"));
        name.fields[QStringLiteral("data4")] = c.getText(QStringLiteral("middle"));
        name.fields[QStringLiteral("data5")] = c.getText(QStringLiteral("prefix"));
        name.fields[QStringLiteral("data6")] = c.getText(QStringLiteral("suffix"));
        contact.fullName = name.fullName();
        name.fields[QStringLiteral("data1")] = contact.fullName;
        contact.entities[pim::ENTITY_NAME].append(name);

        if (images.isOpen()) {
            Sqlite3Cursor p = images.queryThrow(
                QStringLiteral("select data from ABFullSizeImage where record_id=%1 limit 1")
                    .arg(personId));
            if (p.moveNext()) {
                const QByteArray bytes = p.getBlob(QStringLiteral("data"));
                if (!bytes.isEmpty()) {
                    pim::Entity photo;
                    photo.fields[QStringLiteral("data15")] = bytes;
                    contact.entities[pim::ENTITY_PHOTO].append(photo);
                }
            }
        }
        const QString org = c.getText(QStringLiteral("organization"));
        const QString dept = c.getText(QStringLiteral("department"));
        const QString job = c.getText(QStringLiteral("jobtitle"));
        if (!org.isEmpty() || !dept.isEmpty() || !job.isEmpty()) {
            pim::Entity e;
            e.fields[QStringLiteral("data1")] = org;
            e.fields[QStringLiteral("data5")] = dept;
            e.fields[QStringLiteral("data4")] = job;
            contact.entities[pim::ENTITY_ORG].append(e);
        }
        const QString note = c.getText(QStringLiteral("note"));
        if (!note.isEmpty()) {
            pim::Entity e;
            e.fields[QStringLiteral("data1")] = note;
            contact.entities[pim::ENTITY_NOTES].append(e);
        }
        const long long birthday = c.getInt64(QStringLiteral("birthday"));
        if (birthday > 0) {
            pim::Entity e;
            e.fields[QStringLiteral("data1")] = dateText(birthday);
            e.fields[QStringLiteral("data2")] = 3;
            contact.entities[pim::ENTITY_EVENT].append(e);
        }
        const QString nick = c.getText(QStringLiteral("nickname"));
        if (!nick.isEmpty()) {
            pim::Entity e;
            e.fields[QStringLiteral("data1")] = nick;
            contact.entities[pim::ENTITY_NICKNAME].append(e);
        }
        readMultiValues(personId, contact);
        contacts.append(contact);
    }
    return true;
}

void ImportContactsFromiTunesThread::run() {
    QList<pim::_Contact> contacts;
    try {
        const bool complete = readPersons(contacts);
        // The temporary copies go on every road, a cancel included.
        closeAndRemoveCopies();
        if (!complete)
            return;
    } catch (const std::exception& e) {
        closeAndRemoveCopies();
        progress->invokeErrorOccurred(QString::fromUtf8(e.what()));
        return;
    }

    bool editOpen = false;
    try {
        const int m = contacts.size();
        int merged = 0;
        int count = 0;
        db->beginEdit();
        editOpen = true;
        for (int k = 1; k <= m; ++k) {
            if (progress->rejected) {
                db->endEdit(false);
                return;
            }
            progress->invokeUpdateProgress(tr("IDS_WRITING_CONTACTS_FROM_ITUNES_TO_LOCALDB"),
                                           int(double(k) / m * 50.0 + 50.0),
                                           QStringLiteral("Contacts:%1/%2").arg(k).arg(m));
            pim::_Contact stored;
            bool wasMerged = false;
            db->combineContact(contacts.at(k - 1), stored, wasMerged);
            if (wasMerged)
                ++merged;
            ++count;
        }
        db->endEdit(true);
        editOpen = false;
        if (merged == 0)
            progress->invokeSucceed(tr("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES").arg(count));
        else
            progress->invokeSucceed(tr("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES_%2_MERGED")
                                        .arg(count - merged)
                                        .arg(merged));
    } catch (const std::exception& e) {
        if (editOpen) {
            try {
                db->endEdit(false);
            } catch (const std::exception&) {
                // The rollback failing leaves nothing more to undo; report the first error.
            }
        }
        progress->invokeErrorOccurred(QString::fromUtf8(e.what()));
    }
}
