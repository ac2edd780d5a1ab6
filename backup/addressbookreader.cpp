#include "addressbookreader.h"

#include "addressbooklabels.h"
#include "addressbookschema.h"
#include "linkedcards.h"

#include <QFile>

#include <cmath>
#include <deque>
#include <stdexcept>
#include <utility>

namespace {

// A database of the backup, named under Library/AddressBook, with the files SQLite keeps beside
// it: the write-ahead log, and the rollback journal of older phones. Each is copied beside the
// copy of the database under its own suffix, so that SQLite reads what the phone committed. (The
// index of a log, "-shm", is left out: SQLite rebuilds it from the log when it opens the copy,
// whatever lies there.)
struct Listed {
    const BackupManifest::_FileNode* database;
    const char* name;
    const BackupManifest::_FileNode* wal;
    const BackupManifest::_FileNode* journal;

    // The name and data file of the first of them that the index lists but the folder lacks (a
    // backup that did not run to its end); empty when none is missing.
    QPair<QString, QString> missing(const BackupManifest& backup) const {
        const QPair<const BackupManifest::_FileNode*, const char*> files[] = {
            {database, ""}, {wal, "-wal"}, {journal, "-journal"}};
        for (const auto& f : files) {
            const QString path = backup.missingFile(f.first);
            if (!path.isEmpty())
                return qMakePair(QLatin1String(name) + QLatin1String(f.second), path);
        }
        return QPair<QString, QString>();
    }
};

// The words of a failure with its cause (%1) in them.
[[noreturn]] void throwWithCause(const QString& words, const std::exception& cause) {
    throw std::runtime_error(words.arg(QString::fromUtf8(cause.what())).toUtf8().toStdString());
}

// Columns of the multi-value query (readPersons), read by position: this runs per value.
enum { kRecordId = 0, kUid = 1, kProperty = 2, kValue = 3, kLabel = 4 };

// Seconds from 2001-01-01 of a stored date. Phones write them as text, whole or with a
// fraction ("-1234567890", "330393600.000000"), older ones as numbers; NULL and text that is
// no number are no date.
bool readDate(const Sqlite3Cursor& c, int column, long long& seconds) {
    if (c.isNull(column))
        return false;
    bool ok = false;
    const double v = c.getText(column).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v > 1e14 || v < -1e14)
        return false;
    seconds = static_cast<long long>(std::floor(v));
    return true;
}

// Hands contacts on in address-book order: a place is kept for a contact that is not whole yet
// (linked cards wait for their last card), and the ones after it wait with it.
class InOrder {
public:
    explicit InOrder(AddressBookReader::Sink& sink) : m_sink(sink) {}
    int keepPlace() {
        m_waiting.emplace_back();
        m_whole.push_back(false);
        return m_first + int(m_waiting.size()) - 1;
    }
    void fill(int place, pim::_Contact&& contact) {
        const size_t at = size_t(place - m_first);
        m_waiting[at] = std::move(contact);
        m_whole[at] = true;
        while (!m_waiting.empty() && m_whole.front()) {
            m_sink.take(std::move(m_waiting.front()));
            m_waiting.pop_front();
            m_whole.pop_front();
            ++m_first;
        }
    }
    void add(pim::_Contact&& contact) { fill(keepPlace(), std::move(contact)); }

private:
    AddressBookReader::Sink& m_sink;
    std::deque<pim::_Contact> m_waiting;
    std::deque<bool> m_whole;
    int m_first = 0;  // the place of m_waiting.front()
};

}  // namespace

void AddressBookReader::throwUnfinished(const QString& detail) {
    throw std::runtime_error(
        tr("This backup is unfinished: it did not run to its end, so contacts could be "
           "missing. Make a complete backup of the phone, keeping the phone connected until "
           "the backup ends, and import that one. (%1)")
            .arg(detail)
            .toUtf8()
            .toStdString());
}

AddressBookReader::AddressBookReader(const BackupManifest& b,
                                     QSharedPointer<AbsContactCombineRule> r)
    : backup(b), rule(std::move(r)) {}

AddressBookReader::~AddressBookReader() {
    close();
}

QString AddressBookReader::dateText(long long seconds) {
    return DateText().text(seconds);
}

void AddressBookReader::close() {
    fullImages = RowsByPerson();
    thumbnails = RowsByPerson();
    labels.clear();
    entries.clear();
    addressBook.close();
    images.close();
    // The copies, their journals and the folder go together.
    workDir.reset();
    addressBookCopy.clear();
    imagesCopy.clear();
}

void AddressBookReader::readAddr(unsigned long long uid, pim::Entity& e) const {
    const auto found = entries.constFind(static_cast<long long>(uid));
    if (found == entries.constEnd())
        return;
    for (const auto& part : found.value()) {
        const QString& key = part.first;
        const QString& value = part.second;
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
    }
    // The address as one text, once its parts are all in (a list of none sets nothing).
    if (!found.value().isEmpty())
        e.fields[QStringLiteral("data1")] = e.formattedAddr();
}

void AddressBookReader::readIM(unsigned long long uid, pim::Entity& e) const {
    const auto found = entries.constFind(static_cast<long long>(uid));
    if (found == entries.constEnd())
        return;
    for (const auto& part : found.value()) {
        const QString& key = part.first;
        const QString& value = part.second;
        if (key == QLatin1String("service")) {
            int code = 0;
            if (addressbooklabels::serviceCode(value, code))
                e.fields[QStringLiteral("data5")] = code;
        } else if (key == QLatin1String("username")) {
            e.fields[QStringLiteral("data1")] = value;
        }
    }
}

void AddressBookReader::loadLookupTables() {
    labels.clear();
    entries.clear();
    {
        Sqlite3Cursor c = addressBook.queryThrow("select rowid, value from ABMultiValueLabel");
        while (c.moveNext())
            labels.insert(c.getInt64(0), c.getText(1));
    }
    QHash<long long, QString> keys;
    {
        Sqlite3Cursor c = addressBook.queryThrow("select rowid, value from ABMultiValueEntryKey");
        while (c.moveNext())
            keys.insert(c.getInt64(0), c.getText(1));
    }
    Sqlite3Cursor c = addressBook.queryThrow("select parent_id, key, value from ABMultiValueEntry");
    while (c.moveNext()) {
        // A part whose name has no row cannot be placed: it is left out.
        const auto key = keys.constFind(c.getInt64(1));
        if (key != keys.constEnd())
            entries[c.getInt64(0)].append(qMakePair(key.value(), c.getText(2)));
    }
}

void AddressBookReader::readMultiValue(const Sqlite3Cursor& c, pim::_Contact& contact) {
    const int property = c.getInt(kProperty);
    pim::Entity e;
    int type = 0;
    switch (property) {
        case 3:
            type = pim::ENTITY_PHONE;
            e.fields[QStringLiteral("data1")] = c.getText(kValue);
            break;
        case 4:
            type = pim::ENTITY_EMAIL;
            e.fields[QStringLiteral("data1")] = c.getText(kValue);
            break;
        case 5:
            type = pim::ENTITY_ADDR;
            readAddr(static_cast<unsigned long long>(c.getInt64(kUid)), e);
            break;
        case 12: {
            type = pim::ENTITY_EVENT;
            long long seconds = 0;
            if (!readDate(c, kValue, seconds))
                return;
            e.fields[QStringLiteral("data1")] = dates.text(seconds);
            break;
        }
        case 13:
            type = pim::ENTITY_IM;
            readIM(static_cast<unsigned long long>(c.getInt64(kUid)), e);
            break;
        case 22:
            type = pim::ENTITY_URL;
            e.fields[QStringLiteral("data1")] = c.getText(kValue);
            break;
        case 23:
            type = pim::ENTITY_REL;
            e.fields[QStringLiteral("data1")] = c.getText(kValue);
            break;
        default:
            return;
    }
    // A value without a label (none set, or a label row that is gone) keeps the default
    // label of its kind rather than being lost.
    const auto label = c.isNull(kLabel) ? labels.constEnd() : labels.constFind(c.getInt64(kLabel));
    if (label != labels.constEnd())
        addressbooklabels::setLabel(e, property, label.value());
    else
        e.fields[QStringLiteral("data2")] = addressbooklabels::defaultLabel(property);
    contact.entities[type].append(e);
}

void AddressBookReader::openImages() {
    m_photoError.clear();
    if (!backup.addressBookImagesDb) {
        m_photoError = tr("the backup holds no address-book images database");
        return;
    }
    const Listed imageFiles{backup.addressBookImagesDb, "AddressBookImages.sqlitedb",
                            backup.addressBookImagesWal, backup.addressBookImagesJournal};
    const QPair<QString, QString> missing = imageFiles.missing(backup);
    if (!missing.first.isEmpty()) {
        m_photoError = tr("this backup is unfinished: it lists Library/AddressBook/%1, but "
                          "its file %2 is missing. Make a complete backup of the phone, "
                          "keeping the phone connected until the backup ends, and import "
                          "that one for the photos")
                           .arg(missing.first, missing.second);
        return;
    }
    // Photos are a part of the import, not a condition of it: a damaged or unreadable images
    // database costs the photos only.
    try {
        imagesCopy = workDir->filePath(QStringLiteral("AddressBookImages.sqlitedb"));
        backup.copyFile(imageFiles.database, imagesCopy, nullptr, nullptr);
        backup.copyCompanion(imageFiles.wal, imagesCopy, QStringLiteral("-wal"));
        backup.copyCompanion(imageFiles.journal, imagesCopy, QStringLiteral("-journal"));
        // Opened for writing, as a hot journal is rolled back only so.
        images.openThrow(imagesCopy, 2);
        // Only the row ids are put in person order; each image is then read from its row. A
        // database without the record-id indexes is sorted here, and sorting the images
        // themselves would copy every one of them through temporary files. (length() of a blob
        // is taken from the row's header, without reading the image.)
        fullImages = RowsByPerson(
            images.queryThrow("select record_id, rowid from ABFullSizeImage where length(data) > 0 "
                              "order by record_id, rowid"));
        // Thumbnails serve a person without a full-size image: the largest of them. Older
        // databases have none.
        if (addressbookschema::hasTable(images, "ABThumbnailImage"))
            thumbnails = RowsByPerson(images.queryThrow(
                "select record_id, rowid from ABThumbnailImage where length(data) > 0 "
                "order by record_id, length(data) desc"));
    } catch (const std::exception& e) {
        m_photoError = QString::fromUtf8(e.what());
        fullImages = RowsByPerson();
        thumbnails = RowsByPerson();
        images.close();
    }
}

QByteArray AddressBookReader::imageData(const char* query, long long rowId) {
    Sqlite3Sql sql(query);
    sql.addInt64Param(rowId);
    Sqlite3Cursor c = images.queryThrow(sql);
    return c.moveNext() ? c.getBlob(0) : QByteArray();
}

void AddressBookReader::readPhoto(long long personId, pim::_Contact& contact) {
    if (!images.isOpen())
        return;
    try {
        QByteArray bytes;
        if (fullImages.at(personId))
            bytes = imageData("select data from ABFullSizeImage where rowid = ?",
                              fullImages.row().getInt64(1));
        else if (thumbnails.at(personId))
            bytes = imageData("select data from ABThumbnailImage where rowid = ?",
                              thumbnails.row().getInt64(1));
        if (bytes.isEmpty())
            return;
        pim::Entity photo;
        photo.fields[QStringLiteral("data15")] = bytes;
        photo.fields[QStringLiteral("data4")] = pim::Entity::photoHash(bytes);
        contact.entities[pim::ENTITY_PHOTO].append(photo);
    } catch (const std::exception& e) {
        // Damage found part way: the photos read so far stay, the rest are left out.
        m_photoError = QString::fromUtf8(e.what());
        fullImages = RowsByPerson();
        thumbnails = RowsByPerson();
        images.close();
    }
}

void AddressBookReader::nameFromDetails(pim::_Contact& contact) {
    if (!contact.fullName.isEmpty())
        return;
    // As the file import does: a contact without a name is known by its company, else by its
    // first e-mail address or number, and so is never merged with other nameless ones.
    const QString fallback = pim::nameFromDetails(contact);
    if (fallback.isEmpty())
        return;
    QList<pim::Entity>& names = contact.entities[pim::ENTITY_NAME];
    if (names.isEmpty())
        names.append(pim::Entity());
    pim::Entity& name = names.first();
    name.fields[QStringLiteral("data2")] = fallback;
    contact.fullName = name.fullName();
    name.fields[QStringLiteral("data1")] = contact.fullName;
}

bool AddressBookReader::read(Sink& sink) {
    // Without the address book there is nothing to import; say so plainly rather than report
    // a failed open of a temporary file the user never heard of.
    if (!backup.addressBookDb)
        throw std::runtime_error(
            tr("This backup holds no address book (Library/AddressBook/AddressBook.sqlitedb).")
                .toUtf8()
                .constData());
    // A backup that did not run to its end may hold an address book and a log of two different
    // runs, or lack them: say so, and what helps, before any detail.
    if (backup.isUnfinished())
        throwUnfinished(tr("Status.plist gives its state as \"%1\" where a complete backup "
                           "says \"finished\".")
                            .arg(backup.info.snapshotState));
    const Listed bookFiles{backup.addressBookDb, "AddressBook.sqlitedb", backup.addressBookWal,
                           backup.addressBookJournal};
    const QPair<QString, QString> missing = bookFiles.missing(backup);
    if (!missing.first.isEmpty())
        throwUnfinished(tr("It lists Library/AddressBook/%1, but its file %2 is missing.")
                            .arg(missing.first, missing.second));
    // The copies are decrypted data: they live in a folder of this user's own that goes on
    // every road (closeAndRemoveCopies, or with the worker).
    workDir.reset(new BackupTempDir);
    addressBookCopy = workDir->filePath(QStringLiteral("AddressBook.sqlitedb"));
    m_lostChanges.clear();
    try {
        backup.copyFile(bookFiles.database, addressBookCopy, nullptr, nullptr);
    } catch (const BackupManifest::ShortFile& e) {
        throwWithCause(tr("The address book of this backup "
                          "(Library/AddressBook/AddressBook.sqlitedb) is damaged, so contacts "
                          "may be missing. %1"),
                       e);
    }
    // With its write-ahead log, where what the phone wrote last may be, and its rollback
    // journal: a backup taken in the middle of a change holds the database half changed and the
    // pages as the phone last committed them in the journal only. An import without either would
    // quietly miss or garble contacts.
    const struct {
        const BackupManifest::_FileNode* node;
        const char* suffix;
        QString words;
    } companions[] = {
        {bookFiles.wal, "-wal",
         tr("The latest changes to the address book of this backup "
            "(Library/AddressBook/AddressBook.sqlitedb-wal) cannot be read, so contacts would be "
            "missing. Make a new backup of the phone and import that one. (%1)")},
        {bookFiles.journal, "-journal",
         tr("The journal of the address book of this backup "
            "(Library/AddressBook/AddressBook.sqlitedb-journal) cannot be read. When a backup is "
            "taken in the middle of a change, the journal holds what undoes it, so without it "
            "contacts could be missing or wrong. Make a new backup of the phone and import that "
            "one. (%1)")},
    };
    for (const auto& companion : companions) {
        try {
            backup.copyCompanion(companion.node, addressBookCopy, QLatin1String(companion.suffix));
        } catch (const BackupManifest::ShortFile& e) {
            // A lost log leaves the database as the phone last checkpointed it, whole but
            // without the latest changes: those are said at the end. A lost journal leaves a
            // half-made change that nothing undoes: nothing of it may be stored.
            if (companion.node != bookFiles.wal)
                throwWithCause(companion.words, e);
            m_lostChanges =
                tr("The latest changes to the address book are missing, so contacts may be "
                   "missing: they are in its log "
                   "(Library/AddressBook/AddressBook.sqlitedb-wal), whose bytes this backup "
                   "has lost. The contacts were imported as the address book held them "
                   "before those changes. Make a new backup of the phone and import that one for "
                   "them. (%1)")
                    .arg(QString::fromUtf8(e.what()));
        } catch (const std::exception& e) {
            throwWithCause(companion.words, e);
        }
    }
    // The database's own messages name our private copy: say which file of the backup it is.
    try {
        return readAddressBook(sink);
    } catch (const NoContact&) {
        throw;
    } catch (const std::exception& e) {
        throwWithCause(tr("The address book of this backup "
                          "(Library/AddressBook/AddressBook.sqlitedb) cannot be read: the backup "
                          "may be damaged. Make a new backup of the phone and import that one. "
                          "(%1)"),
                       e);
    }
}

pim::_Contact AddressBookReader::personFromRow(const Sqlite3Cursor& c) const {
    pim::_Contact contact;
    pim::Entity name;
    name.fields[QStringLiteral("data2")] = c.getText(1);
    name.fields[QStringLiteral("data3")] = c.getText(2);
    name.fields[QStringLiteral("data4")] = c.getText(3);
    name.fields[QStringLiteral("data5")] = c.getText(4);
    name.fields[QStringLiteral("data6")] = c.getText(5);
    contact.fullName = name.fullName();
    name.fields[QStringLiteral("data1")] = contact.fullName;
    const QString phoneticGiven = c.getText(12);
    const QString phoneticFamily = c.getText(13);
    if (!phoneticGiven.isEmpty())
        name.fields[QStringLiteral("data7")] = phoneticGiven;
    if (!phoneticFamily.isEmpty())
        name.fields[QStringLiteral("data8")] = phoneticFamily;
    contact.entities[pim::ENTITY_NAME].append(name);

    const QString org = c.getText(6);
    const QString dept = c.getText(7);
    const QString job = c.getText(8);
    if (!org.isEmpty() || !dept.isEmpty() || !job.isEmpty()) {
        pim::Entity e;
        e.fields[QStringLiteral("data1")] = org;
        e.fields[QStringLiteral("data5")] = dept;
        e.fields[QStringLiteral("data4")] = job;
        contact.entities[pim::ENTITY_ORG].append(e);
    }
    const QString note = c.getText(9);
    if (!note.isEmpty()) {
        pim::Entity e;
        e.fields[QStringLiteral("data1")] = note;
        contact.entities[pim::ENTITY_NOTES].append(e);
    }
    // Every stored birthday, also those before 2001 (negative) and those without a year,
    // which phones keep as a date in 1604.
    long long birthday = 0;
    if (readDate(c, 10, birthday)) {
        pim::Entity e;
        e.fields[QStringLiteral("data1")] = dates.text(birthday);
        e.fields[QStringLiteral("data2")] = 3;
        contact.entities[pim::ENTITY_EVENT].append(e);
    }
    const QString nick = c.getText(11);
    if (!nick.isEmpty()) {
        pim::Entity e;
        e.fields[QStringLiteral("data1")] = nick;
        contact.entities[pim::ENTITY_NICKNAME].append(e);
    }
    return contact;
}

bool AddressBookReader::readAddressBook(Sink& sink) {
    // Opened for writing: SQLite rolls back a hot journal beside the copy only so, and a copy
    // opened read-only would read the half-made change or fail.
    addressBook.openThrow(addressBookCopy, 2);
    openImages();
    loadLookupTables();

    // Each table is read once, not once per person, so the time stays linear with or without
    // indexes on the ids.
    int n = 0;
    {
        Sqlite3Cursor count = addressBook.queryThrow("select count(*) from ABPerson");
        if (count.moveNext())
            n = count.getInt(0);
    }
    // "0 contacts imported" alone leaves the user guessing: a phone that keeps its contacts in
    // iCloud has none in its backup.
    if (n == 0)
        throw NoContact(tr("The address book of this backup holds no contact, so nothing was "
                           "imported. Contacts kept in iCloud are not in a phone's backup: "
                           "only those kept on the phone are.")
                            .toUtf8()
                            .toStdString());
    // The details, by person, walked in step with the persons: one pass over each table, so
    // the time stays linear with or without an index on the ids. Values of persons that are
    // gone are passed over.
    RowsByPerson values(
        addressBook.queryThrow("select record_id, UID, property, value, label from ABMultiValue "
                               "order by record_id, UID"));
    // The phonetic names, where the address book has their columns: for a person that has
    // nothing else they are all there is to show.
    auto column = [this](const char* name) {
        return QLatin1String(addressbookschema::hasColumn(addressBook, "ABPerson", name) ? name
                                                                                         : "null");
    };
    Sqlite3Cursor c = addressBook.queryThrow(
        QStringLiteral("select rowid, "
                       "first,last,middle,prefix,suffix,organization,department,jobtitle,note,"
                       "birthday,nickname,%1,%2 from Abperson order by rowid asc")
            .arg(column("FirstPhonetic"), column("LastPhonetic")));
    // Cards linked into one contact are joined at their last card and take the place of the
    // first.
    LinkedCards links(rule);
    links.load(addressBook);
    sink.expect(links.contactCount(n));
    InOrder out(sink);
    QHash<long long, int> linkPlace;
    QHash<long long, QList<QPair<long long, pim::_Contact> > > linkCards;
    while (c.moveNext()) {
        if (sink.stopped())
            return false;
        const long long personId = c.getInt64(0);
        pim::_Contact contact = personFromRow(c);
        readPhoto(personId, contact);
        for (; values.at(personId); values.step())
            readMultiValue(values.row(), contact);
        const long long link = links.isEmpty() ? 0 : links.linkOf(personId);
        if (link == 0) {
            nameFromDetails(contact);
            out.add(std::move(contact));
            continue;
        }
        QList<QPair<long long, pim::_Contact> >& cards = linkCards[link];
        if (cards.isEmpty())
            linkPlace.insert(link, out.keepPlace());
        cards.append(qMakePair(personId, contact));
        if (personId == links.lastCardOf(link)) {
            pim::_Contact joined = links.join(link, cards);
            nameFromDetails(joined);
            linkCards.remove(link);
            out.fill(linkPlace.value(link), std::move(joined));
        }
    }
    // Each link was whole at its last card; one that was not still takes its place.
    for (auto it = linkCards.constBegin(); it != linkCards.constEnd(); ++it) {
        pim::_Contact joined = links.join(it.key(), it.value());
        nameFromDetails(joined);
        out.fill(linkPlace.value(it.key()), std::move(joined));
    }
    return true;
}
