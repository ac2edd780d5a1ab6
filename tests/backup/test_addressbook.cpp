// Address books as phones of recent years write them: labels as words, several accounts with
// linked cards, contacts still in the write-ahead log; and keybags damaged or opened with a
// wrong password.
#include "backup/addressbooklabels.h"
#include "backup_fixture.h"
#include "backup/importcontactsfromitunesthread.h"
#include "backup/linkedcards.h"
#include "backup/mbdbparser.h"
#include "backup/passcodedlg.h"

#include "ui/progressform.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"

#include "store/localdb.h"
#include "platform/sqlite/sqlite3db.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using namespace fixture;

namespace {

struct Boxes {
    QStringList texts;
    Boxes() {
        g_setMessageBoxHook([this](QMessageBox& box) {
            texts << box.text();
            return int(QMessageBox::Ok);
        });
    }
    ~Boxes() { g_setMessageBoxHook(MessageBoxHook()); }
};

QStringList import(BackupManifest& bm, LocalDb& db) {
    Boxes boxes;
    ProgressForm form{QString()};
    ImportContactsFromiTunesThread worker(bm, &db, &form);
    worker.start(QThread::InheritPriority);
    form.exec();
    worker.wait();
    return boxes.texts;
}

QMap<QString, pim::_Contact> storedByName(LocalDb& db) {
    QMap<QString, pim::_Contact> out;
    for (const pim::_Contact& c : db.contacts())
        out.insert(c.fullName, db.contact(c._id));
    return out;
}

// "value label" of every entity of a type: the code, or the label's word after a slash.
QStringList details(const pim::_Contact& c, int type) {
    QStringList out;
    for (const pim::Entity& e : c.entities.value(type)) {
        const QString word = e.text("data3");
        out << e.text("data1") + " " +
                   (word.isEmpty() ? QString::number(e.fields.value("data2").toInt()) : "/" + word);
    }
    out.sort();
    return out;
}

QByteArray photoOf(const pim::_Contact& c) {
    return c.entities.value(pim::ENTITY_PHOTO).value(0).fields.value("data15").toByteArray();
}

QByteArray picture(char fill, int size) {
    return QByteArray::fromHex("ffd8ffe0") + QByteArray(size, fill);
}

QStringList privateFolders() {
    return QDir(QDir::tempPath())
        .entryList({"tellwick-backup-*"}, QDir::AllEntries | QDir::NoDotAndDotDot);
}

void checkLinkedContacts(LocalDb& db) {
    const QMap<QString, pim::_Contact> all = storedByName(db);
    ASSERT_EQ(all.size(), kLinkedContacts) << all.keys().join(", ").toStdString();
    for (int n = 1; n <= 34; ++n)
        EXPECT_TRUE(all.contains(QString("Person %1 Filler").arg(n, 2, 10, QChar('0')))) << n;

    // Two accounts, one contact: the preferred card's name, the same number once.
    const pim::_Contact maria = all.value("Maria Lopez");
    EXPECT_EQ(details(maria, pim::ENTITY_PHONE), QStringList{"+34 600 000 001 2"});
    EXPECT_EQ(details(maria, pim::ENTITY_EMAIL),
              (QStringList{"maria@contoso.example 2", "maria@school.example /School"}));
    EXPECT_EQ(maria.entities.value(pim::ENTITY_ORG).value(0).text("data1"), QString("Contoso"));
    EXPECT_EQ(maria.entities.value(pim::ENTITY_ADDR).size(), 1);
    EXPECT_EQ(maria.entities.value(pim::ENTITY_EVENT).size(), 1);

    // Three accounts: the name of the card the link prefers, the image of the one it prefers
    // for that, every detail of all three.
    const pim::_Contact thomas = all.value("Thomas Baker");
    EXPECT_EQ(thomas.entities.value(pim::ENTITY_NAME).value(0).text("data2"), QString("Thomas"));
    EXPECT_EQ(details(thomas, pim::ENTITY_PHONE),
              (QStringList{"+44 20 7946 0001 3", "+44 7700 900001 /iPhone"}));
    EXPECT_EQ(details(thomas, pim::ENTITY_EMAIL),
              (QStringList{"tom@gym.example /Gym", "tom@mail.example 1"}));
    EXPECT_EQ(details(thomas, pim::ENTITY_REL), QStringList{"Anna Baker /Daughter"});
    EXPECT_EQ(details(thomas, pim::ENTITY_URL), QStringList{"https://tom.example 1"});
    EXPECT_EQ(details(thomas, pim::ENTITY_IM), QStringList{"tom.baker 1"});
    EXPECT_EQ(thomas.entities.value(pim::ENTITY_ORG).value(0).text("data1"), QString("Fabrikam"));
    EXPECT_EQ(photoOf(thomas), picture('F', 200));

    // Written last, so in the logs only: a card linked to an older one, a new contact and its
    // thumbnail.
    const pim::_Contact wen = all.value("Wen Li");
    EXPECT_EQ(details(wen, pim::ENTITY_PHONE), QStringList{"+86 10 5555 0001 2"});
    EXPECT_EQ(details(wen, pim::ENTITY_EMAIL), QStringList{"wen.li@mail.example 1"});
    const pim::_Contact late = all.value("Late Addition");
    EXPECT_EQ(details(late, pim::ENTITY_PHONE), QStringList{"+1 555 0299 /School"});
    EXPECT_EQ(photoOf(late), picture('L', 40));

    // No label arrives as its marker.
    for (const pim::_Contact& c : all) {
        for (const QList<pim::Entity>& list : c.entities) {
            for (const pim::Entity& e : list)
                EXPECT_FALSE(e.text("data3").contains("_$!<")) << e.text("data3").toStdString();
        }
    }
}

}  // namespace

TEST(LinkedAddressBook, EveryContactThePhoneShowsComesInOnce) {
    struct Kind {
        PhoneSchema schema;
        bool inUse;
        bool encrypted;
    };
    for (const Kind& k :
         {Kind{PhoneSchema::iOS16, true, false}, Kind{PhoneSchema::iOS17, true, true},
          Kind{PhoneSchema::iOS17, false, false}}) {
        SCOPED_TRACE(QString("iOS %1, in use %2, encrypted %3")
                         .arg(k.schema == PhoneSchema::iOS16 ? 16 : 17)
                         .arg(k.inUse)
                         .arg(k.encrypted)
                         .toStdString());
        QTemporaryDir tmp;
        const QString folder = tmp.filePath("backup");
        BackupBuilder b(folder, BackupBuilder::DB);
        if (k.encrypted)
            b.setEncrypted("1234", true);
        b.addLinkedAddressBook(k.schema, k.inUse);
        b.build();
        const QStringList foldersBefore = privateFolders();
        LocalDb db(tmp.filePath("target.db"),
                   QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        {
            BackupManifest bm(folder);
            bm.readManifestInfo();
            if (k.encrypted) {
                ASSERT_TRUE(bm.setPasscodeNoUIThrow("1234"));
            }
            bm.parseInfo();
            EXPECT_EQ(bm.addressBookWal != nullptr, k.inUse);
            EXPECT_EQ(bm.addressBookImagesWal != nullptr, k.inUse);
            EXPECT_EQ(import(bm, db),
                      QStringList{QString("Successfully imported %1 contacts from iTunes Backup.")
                                      .arg(kLinkedContacts)});
            checkLinkedContacts(db);
            // Again: every contact is known already.
            EXPECT_EQ(import(bm, db),
                      QStringList{QString("Successfully imported 0 contacts from iTunes "
                                          "Backup,with %1 repeated contacts merged.")
                                      .arg(kLinkedContacts)});
            EXPECT_EQ(db.contacts().size(), kLinkedContacts);
        }
        // The decrypted copies and their logs went with the import.
        EXPECT_EQ(privateFolders(), foldersBefore);
    }
}

TEST(DamagedKeybag, TheRightPasswordNamesTheDamageAWrongOneIsInvalid) {
    for (bool dp : {false, true}) {
        SCOPED_TRACE(dp);
        QTemporaryDir tmp;
        BackupBuilder b(tmp.path(), BackupBuilder::DB);
        b.setEncrypted("right", dp);
        b.damageClassKey(2);
        b.addAddressBook(false);
        b.build();
        BackupManifest bm(tmp.path());
        bm.readManifestInfo();
        Boxes boxes;
        PasscodeDlg dlg(&bm);
        dlg.ui->txtPasscode->setText("wrong");
        dlg.btnOKPressed();
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_EQ(boxes.texts[0], QString("Invalid password."));

        dlg.ui->txtPasscode->setText("right");
        dlg.btnOKPressed();
        ASSERT_EQ(boxes.texts.size(), 2);
        const QString text = boxes.texts[1];
        const std::string shown = text.toStdString();
        EXPECT_TRUE(text.contains("This backup is damaged: the password is right")) << shown;
        EXPECT_TRUE(text.contains("Manifest.plist")) << shown;
        EXPECT_TRUE(text.contains("Make a new encrypted backup")) << shown;
        EXPECT_TRUE(text.contains("protection class 2 do not")) << shown;
        EXPECT_NE(dlg.result(), int(QDialog::Accepted));
        EXPECT_TRUE(bm.password.isEmpty());

        // Without the dialog: a wrong password is no error, the damage is.
        EXPECT_FALSE(bm.setPasscodeNoUIThrow("wrong"));
        EXPECT_THROW(bm.setPasscodeNoUIThrow("right"), std::runtime_error);
    }
}

TEST(AddressBookLabels, EveryMarkerBecomesAWord) {
    using namespace addressbooklabels;
    struct Case {
        int property;
        const char* label;
        int code;
        const char* custom;  // data3, or nullptr when not set
    };
    const Case cases[] = {
        {kPhone, "_$!<Mobile>!$_", 2, nullptr},
        {kPhone, "_$!<iPhone>!$_", 0, "iPhone"},
        {kPhone, "_$!<School>!$_", 0, "School"},
        {kPhone, "_$!<Other>!$_", 0, nullptr},
        {kEmail, "_$!<Work>!$_", 2, nullptr},
        {kEmail, "_$!<School>!$_", 0, "School"},
        {kAddress, "_$!<Mobile>!$_", 0, "Mobile"},  // a phone label on an address
        {kUrl, "_$!<HomePage>!$_", 1, nullptr},
        {kDate, "_$!<Anniversary>!$_", 1, nullptr},
        {kRelated, "_$!<Daughter>!$_", 0, "Daughter"},
        {kRelated, "My own label", 0, "My own label"},
        // Only a whole marker is one: anything else is the user's own text.
        {kPhone, "_$!<Half", 0, "_$!<Half"},
        {kPhone, "_$!<>!$_", 0, "_$!<>!$_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        pim::Entity e;
        setLabel(e, c.property, QString::fromUtf8(c.label));
        EXPECT_EQ(e.fields.value("data2").toInt(), c.code);
        EXPECT_EQ(e.fields.contains("data3"), c.custom != nullptr);
        if (c.custom) {
            EXPECT_EQ(e.fields.value("data3").toString(), QString::fromUtf8(c.custom));
        }
    }
}

namespace {

pim::_Contact card(const QString& first, const QString& last) {
    pim::_Contact c;
    pim::Entity name;
    name.fields["data2"] = first;
    name.fields["data3"] = last;
    c.fullName = name.fullName();
    name.fields["data1"] = c.fullName;
    c.entities[pim::ENTITY_NAME].append(name);
    return c;
}

void add(pim::_Contact& c, int type, const QString& value, int label = 1) {
    pim::Entity e;
    e.fields["data1"] = value;
    e.fields["data2"] = label;
    c.entities[type].append(e);
}

}  // namespace

TEST(LinkedCards, TheNamedCardLeadsAndNothingComesTwice) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("ab.sqlitedb");
    runSql(path,
           "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY, First TEXT, PersonLink INTEGER "
           "DEFAULT -1);"
           "CREATE TABLE ABPersonLink (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
           "PreferredImagePersonID INTEGER DEFAULT -1, PreferredNamePersonID INTEGER DEFAULT -1);"
           // 1 and 2 linked without preferences; 3 is what is left of a link (4 deleted).
           "INSERT INTO ABPersonLink VALUES (1,-1,-1), (2,4,4);"
           "INSERT INTO ABPerson VALUES (1,NULL,1), (2,'Ann',1), (3,'Bo',2), (5,'Cy',-1);");
    Sqlite3DB db;
    db.openThrow(path, 2);
    LinkedCards links(QSharedPointer<AbsContactCombineRule>{});
    links.load(db);
    EXPECT_EQ(links.linkOf(1), 1);
    EXPECT_EQ(links.linkOf(2), 1);
    EXPECT_EQ(links.linkOf(3), 0);
    EXPECT_EQ(links.linkOf(5), 0);

    // A company card without a name and a named card: the name of the named one, the company
    // and the photo of the other, the shared number once.
    pim::_Contact company = card("", "");
    add(company, pim::ENTITY_ORG, "Acme");
    add(company, pim::ENTITY_PHONE, "+1 555 0100", 3);
    add(company, pim::ENTITY_PHOTO, "photo");
    pim::_Contact ann = card("Ann", "Lee");
    add(ann, pim::ENTITY_PHONE, "+1 555 0100", 2);
    add(ann, pim::ENTITY_EMAIL, "ann@example.org");
    const pim::_Contact joined = links.join(1, {qMakePair(1LL, company), qMakePair(2LL, ann)});
    EXPECT_EQ(joined.fullName, QString("Ann Lee"));
    ASSERT_EQ(joined.entities.value(pim::ENTITY_PHONE).size(), 1);
    EXPECT_EQ(joined.entities.value(pim::ENTITY_PHONE)[0].fields.value("data2").toInt(), 2);
    EXPECT_EQ(joined.entities.value(pim::ENTITY_EMAIL).size(), 1);
    EXPECT_EQ(joined.entities.value(pim::ENTITY_ORG).value(0).text("data1"), QString("Acme"));
    EXPECT_EQ(joined.entities.value(pim::ENTITY_PHOTO).value(0).text("data1"), QString("photo"));

    // Older address books have no links at all.
    const QString old = tmp.filePath("old.sqlitedb");
    runSql(old, "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY, First TEXT);");
    Sqlite3DB oldDb;
    oldDb.openThrow(old, 2);
    links.load(oldDb);
    EXPECT_TRUE(links.isEmpty());
}

TEST(LinkedAddressBook, ALogThatCannotBeCopiedStopsTheImport) {
    QTemporaryDir tmp;
    const QString folder = tmp.filePath("backup");
    BackupBuilder b(folder, BackupBuilder::DB);
    b.setEncrypted("1234", true);
    b.addLinkedAddressBook(PhoneSchema::iOS17, true);
    b.build();
    LocalDb db(tmp.filePath("target.db"),
               QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    const QStringList foldersBefore = privateFolders();
    {
        BackupManifest bm(folder);
        bm.readManifestInfo();
        ASSERT_TRUE(bm.setPasscodeNoUIThrow("1234"));
        bm.parseInfo();
        // Without the log the import would miss what the phone wrote last: it stops instead.
        // (Bytes that are no ciphertext of it: a missing one makes the backup unfinished.)
        const QString wal = MBDBParser::getBKFilePath(
            QDir(folder), bm.addressBookWal->item.backupFileName(), false);
        writeFile(wal, QByteArray(33, 'x'));
        const QStringList boxes = import(bm, db);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(
            boxes[0].contains("The latest changes to the address book of this backup "
                              "(Library/AddressBook/AddressBook.sqlitedb-wal) cannot be "
                              "read"))
            << boxes[0].toStdString();
        EXPECT_TRUE(boxes[0].contains("Make a new backup")) << boxes[0].toStdString();
        EXPECT_TRUE(boxes[0].contains(wal)) << boxes[0].toStdString();
        EXPECT_TRUE(db.contacts().isEmpty());
    }
    EXPECT_EQ(privateFolders(), foldersBefore);
}

// The tables an address book needs for an import, and an open transaction for its rows.
const char kSmallBookSchema[] =
    "create table ABPerson(ROWID integer primary key autoincrement, First text, Last text, "
    "Middle text, Prefix text, Suffix text, Organization text, Department text, JobTitle text, "
    "Note text, Birthday text, Nickname text, PersonLink integer default -1);"
    "create table ABMultiValue(UID integer primary key, record_id integer, property integer,"
    " identifier integer, label integer, value text);"
    "create table ABMultiValueLabel(value text);"
    "create table ABMultiValueEntry(parent_id integer, key integer, value text);"
    "create table ABMultiValueEntryKey(value text);"
    "begin;";

// A backup folder holding the address book, read and ready to import.
std::unique_ptr<BackupManifest> backupOf(const QString& folder, const QByteArray& book) {
    BackupBuilder b(folder, BackupBuilder::DB);
    b.addFile({"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", book, 3, false});
    b.build();
    std::unique_ptr<BackupManifest> bm(new BackupManifest(folder));
    bm->readManifestInfo();
    bm->parseInfo();
    return bm;
}

// Contacts are merged while the address book is still being read; they must still come in the
// address book's order, a linked contact at the place of its first card, each with its own
// details, also when the details are not stored in person order.
TEST(ReadWhileMerging, ContactsKeepTheAddressBookOrder) {
    QTemporaryDir tmp;
    const QString folder = tmp.filePath("backup");
    const QString source = tmp.filePath("ab.sqlitedb");
    QString script = kSmallBookSchema;
    // 300 persons; person 10k+2 and person 10k+152 (k below 15) are the same person in two
    // accounts, the second card far behind the first. Numbers are written from the last person
    // to the first.
    const int persons = 300;
    auto linkOf = [](int id) {
        const int first = id > 150 ? id - 150 : id;
        return first % 10 == 2 ? 1000 + first : -1;
    };
    QStringList expected;
    for (int id = 1; id <= persons; ++id) {
        const int link = linkOf(id);
        const QString last = link > 0 ? QString("Linked%1").arg(link) : QString("Single%1").arg(id);
        script +=
            QString("insert into ABPerson(ROWID,First,Last,PersonLink) values(%1,'P','%2',%3);")
                .arg(id)
                .arg(last)
                .arg(link);
        if (link < 0 || id <= 150)
            expected << "P " + last;
    }
    for (int id = persons; id >= 1; --id)
        script += QString(
                      "insert into ABMultiValue(record_id,property,value) "
                      "values(%1,3,'+1 555 %2');")
                      .arg(id)
                      .arg(id, 4, 10, QChar('0'));
    runSql(source, script + "commit;");

    std::unique_ptr<BackupManifest> bm = backupOf(folder, readFile(source));
    LocalDb db(tmp.filePath("target.db"),
               QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    // The backup holds no images: the note on photos follows the count.
    const QStringList boxes = import(*bm, db);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].section("<br/>", 0, 0).toStdString(),
              QString("Successfully imported %1 contacts from iTunes Backup.")
                  .arg(expected.size())
                  .toStdString());
    QStringList stored;
    Sqlite3Cursor c = db.db().queryThrow("select _id, full_name from contact order by _id");
    while (c.moveNext()) {
        stored << c.getText(1);
        // Each contact with the numbers of its own cards only.
        QStringList numbers;
        for (const pim::Entity& e : db.contact(static_cast<unsigned long long>(c.getInt64(0)))
                                        .entities.value(pim::ENTITY_PHONE))
            numbers << e.text("data1");
        numbers.sort();
        EXPECT_EQ(numbers.size(), stored.last().startsWith("P Linked") ? 2 : 1)
            << stored.last().toStdString();
    }
    EXPECT_EQ(stored, expected);
}

// The reading fails half-way, after many contacts were merged: none of them is kept, the error
// names the backup's file, and the private copies go.
TEST(ReadWhileMerging, AFailureHalfWayKeepsNothing) {
    QTemporaryDir tmp;
    const QString folder = tmp.filePath("backup");
    const QString source = tmp.filePath("ab.sqlitedb");
    QString script = kSmallBookSchema;
    const int persons = 2000;
    for (int id = 1; id <= persons; ++id)
        script += QString("insert into ABPerson(ROWID,First,Last,Note) values(%1,'P','N%1',%2);")
                      .arg(id)
                      .arg(id == 1500 ? "printf('%.20000c', 'x')" : "'short'");
    runSql(source, script + "commit;");
    // The long note of person 1500 goes on in pages of its own; the first of them now points
    // past the end of the file. Counting the persons never reads it, reading that person does.
    int pageSize = 0;
    long long overflow = 0;
    {
        Sqlite3DB book;
        book.openThrow(source, 2);
        Sqlite3Cursor c = book.queryThrow("pragma page_size");
        ASSERT_TRUE(c.moveNext());
        pageSize = c.getInt(0);
        Sqlite3Cursor o = book.queryThrow(
            "select min(pageno) from dbstat where name='ABPerson' and pagetype='overflow'");
        ASSERT_TRUE(o.moveNext());
        overflow = o.getInt64(0);
    }
    ASSERT_GT(overflow, 0);
    QByteArray bytes = readFile(source);
    const qint64 at = (overflow - 1) * pageSize;
    bytes[int(at)] = char(0x7f);
    bytes[int(at + 1)] = bytes[int(at + 2)] = bytes[int(at + 3)] = char(0xff);

    std::unique_ptr<BackupManifest> bm = backupOf(folder, bytes);
    const QStringList foldersBefore = privateFolders();
    LocalDb db(tmp.filePath("target.db"),
               QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    const QStringList boxes = import(*bm, db);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("Library/AddressBook/AddressBook.sqlitedb) cannot be read"))
        << boxes[0].toStdString();
    EXPECT_TRUE(db.contacts().isEmpty());
    EXPECT_EQ(privateFolders(), foldersBefore);
}
