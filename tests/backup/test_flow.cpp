// The user-facing road: chooser, password dialog and the address-book import into a real
// LocalDb, under real progress dialogs (offscreen).
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "backup/importcontactsfromitunesthread.h"
#include "backup/abstreeitemmodel.h"
#include "backup/loaditunesbackupdlg.h"
#include "backup/passcodedlg.h"

#include "ui/progressform.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"
#include "ui/translator.h"
#include "resources/ui/uiresources.h"

#include "store/localdb.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

using namespace fixture;

namespace {

struct Outcome {
    int result = -1;
    bool rejected = false;
    QStringList boxes;
};

struct BoxCatcher {
    QStringList boxes;
    BoxCatcher() {
        g_setMessageBoxHook([this](QMessageBox& box) {
            boxes << box.text();
            return int(QMessageBox::Ok);
        });
    }
    ~BoxCatcher() { g_setMessageBoxHook(MessageBoxHook()); }
};

Outcome runImport(BackupManifest& bm, LocalDb& db, bool cancelAtOnce = false) {
    BoxCatcher boxes;
    Outcome out;
    ProgressForm form{QString()};
    if (cancelAtOnce)
        form.rejected = true;
    ImportContactsFromiTunesThread worker(bm, &db, &form);
    worker.start(QThread::InheritPriority);
    if (cancelAtOnce) {
        worker.wait();
        out.result = 0;
    } else {
        out.result = form.exec();
        worker.wait();
    }
    out.rejected = form.rejected;
    out.boxes = boxes.boxes;
    return out;
}

QStringList tempCopies() {
    return QDir(QDir::tempPath())
        .entryList({"AddressBook-*.sqlitedb", "AddressBookImages-*.sqlitedb"}, QDir::Files);
}

const pim::_Contact* byName(const QList<pim::_Contact>& list, const QString& name) {
    for (const auto& c : list)
        if (c.fullName == name)
            return &c;
    return nullptr;
}

QString field(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

void checkJohn(const pim::_Contact& john) {
    const auto& ents = john.entities;
    ASSERT_EQ(ents.value(pim::ENTITY_NAME).size(), 1);
    const pim::Entity name = ents.value(pim::ENTITY_NAME)[0];
    EXPECT_EQ(field(name, "data2"), QString("John"));
    EXPECT_EQ(field(name, "data3"), QString("Appleseed"));
    EXPECT_EQ(field(name, "data4"), QString("Q"));
    EXPECT_EQ(field(name, "data5"), QString("Dr."));
    EXPECT_EQ(field(name, "data6"), QString("Jr."));

    ASSERT_EQ(ents.value(pim::ENTITY_PHOTO).size(), 1);
    EXPECT_EQ(ents.value(pim::ENTITY_PHOTO)[0].fields.value("data15").toByteArray(), photoBytes());

    ASSERT_EQ(ents.value(pim::ENTITY_ORG).size(), 1);
    EXPECT_EQ(field(ents.value(pim::ENTITY_ORG)[0], "data1"), QString("Acme"));
    EXPECT_EQ(field(ents.value(pim::ENTITY_ORG)[0], "data4"), QString("Engineer"));
    EXPECT_EQ(field(ents.value(pim::ENTITY_ORG)[0], "data5"), QString("R&D"));
    EXPECT_EQ(field(ents.value(pim::ENTITY_NOTES).value(0), "data1"), QString("Likes tea"));
    EXPECT_EQ(field(ents.value(pim::ENTITY_NICKNAME).value(0), "data1"), QString("Johnny"));

    // Phones: mobile, a built-in label outside the table.
    QMap<QString, pim::Entity> phones;
    for (const auto& e : ents.value(pim::ENTITY_PHONE))
        phones.insert(field(e, "data1"), e);
    ASSERT_TRUE(phones.contains("+1 555 0100"));
    EXPECT_EQ(phones["+1 555 0100"].fields.value("data2").toInt(), 2);
    EXPECT_EQ(field(phones["+1 555 0101"], "data3"), QString("iPhone"));
    EXPECT_EQ(phones["+1 555 0101"].fields.value("data2").toInt(), 0);
    // A label row that is gone: the phone keeps the default label (mobile).
    ASSERT_TRUE(phones.contains("label without row"));
    EXPECT_EQ(phones["label without row"].fields.value("data2").toInt(), 2);
    EXPECT_FALSE(phones.contains("ignored property"));

    QMap<QString, pim::Entity> emails;
    for (const auto& e : ents.value(pim::ENTITY_EMAIL))
        emails.insert(field(e, "data1"), e);
    EXPECT_EQ(emails["john@work.example"].fields.value("data2").toInt(), 2);
    EXPECT_EQ(field(emails["john@own.example"], "data3"), QString("My own label"));

    const QList<pim::Entity> addrs = ents.value(pim::ENTITY_ADDR);
    ASSERT_EQ(addrs.size(), 2);
    const pim::Entity& home = field(addrs[0], "data4").isEmpty() ? addrs[1] : addrs[0];
    EXPECT_EQ(field(home, "data4"), QString("1 Infinite Loop"));
    EXPECT_EQ(field(home, "data7"), QString("Cupertino"));
    EXPECT_EQ(field(home, "data8"), QString("CA"));
    EXPECT_EQ(field(home, "data9"), QString("95014"));
    EXPECT_EQ(field(home, "data10"), QString("USA"));
    EXPECT_EQ(field(home, "data1"), QString("1 Infinite Loop\nCupertino, CA 95014\nUSA"));
    EXPECT_EQ(home.fields.value("data2").toInt(), 1);

    const QList<pim::Entity> events = ents.value(pim::ENTITY_EVENT);
    QMultiMap<int, QString> eventDates;
    for (const auto& e : events)
        eventDates.insert(e.fields.value("data2").toInt(), field(e, "data1"));
    // This person's birthday only: the namesake with other numbers is another person.
    EXPECT_EQ(eventDates.values(3),
              QStringList{ImportContactsFromiTunesThread::dateText(kBirthday)});
    EXPECT_EQ(eventDates.value(1), ImportContactsFromiTunesThread::dateText(kAnniversary));

    const QList<pim::Entity> ims = ents.value(pim::ENTITY_IM);
    ASSERT_EQ(ims.size(), 2);
    for (const auto& e : ims) {
        if (field(e, "data1") == "john.skype") {
            EXPECT_EQ(e.fields.value("data5").toInt(), 4);
            EXPECT_EQ(e.fields.value("data2").toInt(), 1);
        } else {
            EXPECT_EQ(field(e, "data1"), QString("john.tg"));
            EXPECT_TRUE(field(e, "data5").isEmpty());
        }
    }
    EXPECT_EQ(field(ents.value(pim::ENTITY_URL).value(0), "data1"), QString("http://john.example"));
    EXPECT_EQ(ents.value(pim::ENTITY_URL).value(0).fields.value("data2").toInt(), 1);
    QMap<QString, int> rel;
    for (const auto& e : ents.value(pim::ENTITY_REL))
        rel.insert(field(e, "data1"), e.fields.value("data2").toInt());
    EXPECT_EQ(rel.value("Martha"), 8);
    EXPECT_EQ(rel.value("Jim"), 2);
}

}  // namespace

TEST(DateText, TwoThousandOneEpoch) {
    const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    // The wall-clock fields in UTC, whatever this computer's zone.
    EXPECT_EQ(ImportContactsFromiTunesThread::dateText(0), ref.toString("yyyy-MM-ddTHH:mm:ss"));
    EXPECT_EQ(ImportContactsFromiTunesThread::dateText(86400 + 43200),
              QString("2001-01-02T12:00:00"));
    EXPECT_TRUE(
        ImportContactsFromiTunesThread::dateText(std::numeric_limits<long long>::max()).isEmpty());
    EXPECT_TRUE(
        ImportContactsFromiTunesThread::dateText(std::numeric_limits<long long>::min()).isEmpty());
}

TEST(ImportFlow, EveryBackupKindImportsEveryDetail) {
    struct Kind {
        BackupBuilder::Layout layout;
        bool encrypted;
        bool dp;
        bool salted;
    };
    const QList<Kind> kinds = {{BackupBuilder::DB, false, false, false},
                               {BackupBuilder::MBDB, false, false, false},
                               {BackupBuilder::MBDB, true, false, false},
                               {BackupBuilder::DB, true, true, false},
                               {BackupBuilder::DB, true, true, true}};
    for (const Kind& k : kinds) {
        SCOPED_TRACE(QString("layout %1 encrypted %2 dp %3 salted %4")
                         .arg(k.layout)
                         .arg(k.encrypted)
                         .arg(k.dp)
                         .arg(k.salted)
                         .toStdString());
        QTemporaryDir tmp;
        BackupBuilder b(tmp.filePath("backup"), k.layout);
        if (k.encrypted)
            b.setEncrypted("open sesame", k.dp);
        if (k.salted)
            b.setDescriptorSalt("salt!");
        b.addAddressBook();
        b.build();

        QSharedPointer<BackupManifest> bm(new BackupManifest(tmp.filePath("backup")));
        bm->readManifestInfo();
        EXPECT_EQ(bm->displayName, QString("Test Phone-backup"));
        EXPECT_EQ(bm->info.isEncrypted, k.encrypted);
        if (k.encrypted) {
            EXPECT_FALSE(bm->setPasscode("open sesamE"));
            ASSERT_TRUE(bm->setPasscode("open sesame"));
        }
        bm->parseInfo();
        ASSERT_TRUE(bm->addressBookDb);
        ASSERT_TRUE(bm->addressBookImagesDb);

        LocalDb db(tmp.filePath("target.db"),
                   QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        const QStringList before = tempCopies();
        const Outcome out = runImport(*bm, db);
        EXPECT_EQ(out.result, 1);
        EXPECT_FALSE(out.rejected);
        ASSERT_EQ(out.boxes.size(), 1);
        EXPECT_TRUE(out.boxes[0].contains("Successfully imported 3 contacts from iTunes Backup."))
            << out.boxes[0].toStdString();
        EXPECT_EQ(tempCopies(), before);

        // Two records of one name with no number in common stay two people, each with their
        // own details (the second one's birthday is from before 2001).
        const QList<pim::_Contact> stored = db.contacts();
        ASSERT_EQ(stored.size(), 3);
        QList<pim::_Contact> johns;
        for (const pim::_Contact& c : stored) {
            if (c.fullName == "Dr. John Q Appleseed Jr.")
                johns << db.contact(c._id);
        }
        ASSERT_EQ(johns.size(), 2);
        if (johns[0].entities.value(pim::ENTITY_PHONE).size() == 1)
            johns.swapItemsAt(0, 1);
        checkJohn(johns[0]);
        ASSERT_EQ(johns[1].entities.value(pim::ENTITY_PHONE).size(), 1);
        EXPECT_EQ(field(johns[1].entities.value(pim::ENTITY_PHONE)[0], "data1"),
                  QString("+1 555 0199"));
        ASSERT_EQ(johns[1].entities.value(pim::ENTITY_EVENT).size(), 1);
        EXPECT_EQ(field(johns[1].entities.value(pim::ENTITY_EVENT)[0], "data1"),
                  ImportContactsFromiTunesThread::dateText(-5));
        // A company without a person's name is known by the company.
        const pim::_Contact* globex = byName(stored, "Globex");
        ASSERT_TRUE(globex);
        const pim::_Contact g = db.contact(globex->_id);
        EXPECT_EQ(g.entities.value(pim::ENTITY_ORG).value(0).text("data1"), QString("Globex"));
        EXPECT_TRUE(g.entities.value(pim::ENTITY_PHOTO).isEmpty());  // empty image bytes
        // A stored 0 is a date too (the birthday and the date multi-value of that day are one
        // event to the merge).
        ASSERT_EQ(g.entities.value(pim::ENTITY_EVENT).size(), 1);
        EXPECT_EQ(g.entities.value(pim::ENTITY_EVENT)[0].text("data1"),
                  ImportContactsFromiTunesThread::dateText(0));
    }
}

TEST(ImportFlow, FailuresAndCancelLeaveTheDatabaseAlone) {
    QTemporaryDir tmp;
    // No address book at all.
    BackupBuilder none(tmp.filePath("none"), BackupBuilder::DB);
    none.addFile({"HomeDomain", "Library/Notes/notes.sqlite", "n", 3, false});
    none.build();
    BackupManifest noneBm(tmp.filePath("none"));
    noneBm.readManifestInfo();
    noneBm.parseInfo();
    LocalDb db(tmp.filePath("target.db"),
               QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    Outcome out = runImport(noneBm, db);
    EXPECT_EQ(out.result, 0);
    ASSERT_EQ(out.boxes.size(), 1);
    EXPECT_TRUE(out.boxes[0].contains("address book")) << out.boxes[0].toStdString();

    // An address book that is no database, and one without the expected tables.
    const QStringList before = tempCopies();
    for (const QByteArray& content : {QByteArray("garbage garbage garbage"), QByteArray()}) {
        BackupBuilder bad(tmp.filePath("bad"), BackupBuilder::MBDB);
        QByteArray bytes = content;
        if (bytes.isEmpty()) {
            runSql(tmp.filePath("empty.sqlitedb"), "create table Other(x);");
            bytes = readFile(tmp.filePath("empty.sqlitedb"));
        }
        bad.addFile({"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", bytes, 3, false});
        bad.build();
        BackupManifest badBm(tmp.filePath("bad"));
        badBm.readManifestInfo();
        badBm.parseInfo();
        out = runImport(badBm, db);
        EXPECT_EQ(out.result, 0);
        ASSERT_EQ(out.boxes.size(), 1);
        // The error names the backup's file, not the private copy the database read.
        EXPECT_TRUE(
            out.boxes[0].contains("Library/AddressBook/AddressBook.sqlitedb) cannot be "
                                  "read: "))
            << out.boxes[0].toStdString();
    }
    EXPECT_EQ(tempCopies(), before);
    EXPECT_TRUE(db.contacts().isEmpty());

    // An address book without persons: nothing to import, and said so.
    {
        const QString source = tmp.filePath("nobody.sqlitedb");
        writeAddressBook(source);
        runSql(source, "delete from ABPerson;");
        BackupBuilder nobody(tmp.filePath("nobody"), BackupBuilder::DB);
        nobody.addFile(
            {"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", readFile(source), 3, false});
        nobody.build();
        BackupManifest nb(tmp.filePath("nobody"));
        nb.readManifestInfo();
        nb.parseInfo();
        out = runImport(nb, db);
        EXPECT_EQ(out.result, 0);
        ASSERT_EQ(out.boxes.size(), 1);
        EXPECT_TRUE(out.boxes[0].contains("The address book of this backup holds no contact"))
            << out.boxes[0].toStdString();
        EXPECT_TRUE(db.contacts().isEmpty());
        EXPECT_EQ(tempCopies(), before);
    }

    // Without the images file every person comes without a photo; cancel before the first
    // person changes nothing and removes the copies.
    BackupBuilder noImages(tmp.filePath("noimg"), BackupBuilder::DB);
    noImages.addAddressBook(false);
    noImages.build();
    BackupManifest ni(tmp.filePath("noimg"));
    ni.readManifestInfo();
    ni.parseInfo();
    out = runImport(ni, db, true);
    EXPECT_TRUE(out.boxes.isEmpty());
    EXPECT_TRUE(db.contacts().isEmpty());
    EXPECT_EQ(tempCopies(), before);
    out = runImport(ni, db);
    EXPECT_EQ(out.result, 1);
    for (const auto& c : db.contacts())
        EXPECT_TRUE(db.contact(c._id).entities.value(pim::ENTITY_PHOTO).isEmpty());
}

TEST(PasswordDialog, WrongThenRightPassword) {
    QTemporaryDir tmp;
    BackupBuilder b(tmp.path(), BackupBuilder::DB);
    b.setEncrypted("right", true);
    b.addAddressBook(false);
    b.build();
    BackupManifest bm(tmp.path());
    bm.readManifestInfo();

    BoxCatcher boxes;
    PasscodeDlg dlg(&bm);
    EXPECT_EQ(dlg.windowFlags() & (Qt::Dialog | Qt::FramelessWindowHint),
              Qt::Dialog | Qt::FramelessWindowHint);
    EXPECT_EQ(dlg.ui->txtPasscode->echoMode(), QLineEdit::Password);
    dlg.btnOKPressed();
    EXPECT_EQ(boxes.boxes.value(0), QString("Password is required."));
    dlg.ui->txtPasscode->setText("wrong");
    dlg.btnOKPressed();
    dlg.ui->txtPasscode->setText(" ");
    dlg.btnOKPressed();
    EXPECT_EQ(boxes.boxes.size(), 3);
    EXPECT_EQ(boxes.boxes.value(1), QString("Invalid password."));
    EXPECT_TRUE(dlg.ui->txtPasscode->text().isEmpty());
    EXPECT_TRUE(bm.decryptedDbPath.isEmpty());
    dlg.ui->txtPasscode->setText("right");
    dlg.btnOKPressed();
    EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
    EXPECT_EQ(boxes.boxes.size(), 3);
    // The decrypted index lies in a private folder, never in the backup folder.
    EXPECT_TRUE(QFile::exists(bm.decryptedDbPath));
    EXPECT_FALSE(bm.decryptedDbPath.startsWith(tmp.path()));
    EXPECT_FALSE(QFile::exists(QDir(tmp.path()).absoluteFilePath("Manifest-decrypted.db")));
    EXPECT_EQ(bm.password, QString("right"));
}

TEST(PasswordDialog, CheckShowsItsStatusAndReportsAFailedCopy) {
    QTemporaryDir tmp;
    BackupBuilder b(tmp.path(), BackupBuilder::DB);
    b.setEncrypted("right", true);
    b.build();

    // The worker under a progress form of its own: status line at 99 %, no Cancel.
    BackupManifest bm(tmp.path());
    bm.readManifestInfo();
    ProgressForm form{QString()};
    form.setCancelable(false);
    IOSiTunesBKSetPasswordThread worker(bm, "right", form);
    worker.start(QThread::InheritPriority);
    EXPECT_EQ(form.exec(), 1);
    form.waitForThread(worker, true);
    EXPECT_TRUE(worker.result);
    EXPECT_EQ(form.findChild<QLabel*>("lbStatus")->text(), QString("Verifying. Please wait..."));
    EXPECT_EQ(form.findChild<QProgressBar*>("progressBar")->value(), 99);
    EXPECT_FALSE(form.findChild<QPushButton*>("btnCancel")->isEnabled());

    // The index cannot be decrypted (cut short): the error names the worker and the file, the
    // check fails, and the dialog does not add "Invalid password.".
    const QString index = QDir(tmp.path()).absoluteFilePath("Manifest.db");
    writeFile(index, readFile(index).left(100));
    BackupManifest blocked(tmp.path());
    blocked.readManifestInfo();
    BoxCatcher boxes;
    bool failed = false;
    EXPECT_FALSE(blocked.setPasscode("right", &failed));
    EXPECT_TRUE(failed);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.boxes[0].contains("IOSiTunesBKSetPasswordThread: "))
        << boxes.boxes[0].toStdString();
    EXPECT_TRUE(boxes.boxes[0].contains(index)) << boxes.boxes[0].toStdString();
    PasscodeDlg dlg(&blocked);
    dlg.ui->txtPasscode->setText("right");
    dlg.btnOKPressed();
    EXPECT_EQ(boxes.boxes.size(), 2);
    EXPECT_FALSE(boxes.boxes.contains("Invalid password."));
}

TEST(Chooser, ListsNewestFirstAndLoads) {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    const QString root =
        QDir(home.path()).absoluteFilePath("Library/Application Support/MobileSync/Backup");
    {
        BoxCatcher empty;
        LoadItunesBackupDlg none(nullptr);
        EXPECT_EQ(none.model()->rowCount(), 0);
        ASSERT_EQ(empty.boxes.size(), 1);
        EXPECT_TRUE(empty.boxes[0].startsWith("Can't find any backups."));
    }
    auto make = [&](const QString& name, const QDateTime& date) {
        BackupBuilder b(QDir(root).absoluteFilePath(name), BackupBuilder::DB);
        b.setDevice(name, "Phone " + name);
        b.setDate(date);
        b.build();
    };
    make("b2019", QDateTime(QDate(2019, 1, 1), QTime(1, 0)));
    make("b2020", QDateTime(QDate(2020, 1, 1), QTime(1, 0)));
    make("c2020", QDateTime(QDate(2020, 1, 1), QTime(1, 0)));
    make("nodate", QDateTime());
    writeFile(QDir(root).absoluteFilePath("plistonly/Manifest.plist"), "x");
    writeFile(QDir(root).absoluteFilePath("broken/Manifest.mbdb"), "x");
    writeFile(QDir(root).absoluteFilePath("broken/Manifest.plist"), "x");
    chmod(QFile::encodeName(QDir(root).absoluteFilePath("broken/Manifest.plist")).constData(), 0);
    // Listing order is by folder time; give them distinct times so both orders are exercised.
    const QStringList names = {"c2020", "nodate", "b2020", "b2019", "broken"};
    for (int i = 0; i < names.size(); ++i) {
        struct timeval tv[2];
        tv[0].tv_sec = tv[1].tv_sec = 1500000000 + i * 100;
        tv[0].tv_usec = tv[1].tv_usec = 0;
        utimes(QFile::encodeName(QDir(root).absoluteFilePath(names[i])).constData(), tv);
    }

    BoxCatcher boxes;
    LoadItunesBackupDlg dlg(nullptr);
    QStringList shown;
    for (int r = 0; r < dlg.model()->rowCount(); ++r)
        shown << dlg.model()->index(r, 0).data().toString();
    // broken/Manifest.plist is unreadable only when not running as root; it lists nothing either
    // way.
    EXPECT_EQ(shown.mid(0, 4),
              (QStringList{"Phone c2020", "Phone b2020", "Phone b2019", "Phone nodate"}))
        << shown.join(",").toStdString();
    EXPECT_EQ(dlg.model()->index(1, 2).data().toString(), QDir(root).absoluteFilePath("b2020"));
    EXPECT_TRUE(dlg.model()->index(3, 1).data().toString().isEmpty());

    const int errorBoxes = boxes.boxes.size();
    dlg.resize(680, 400);
    dlg.show();
    QApplication::processEvents();
    EXPECT_EQ(dlg.ui->listBackups->header()->sectionSize(0), 240);
    EXPECT_EQ(dlg.ui->listBackups->header()->sectionSize(1), 150);

    // Load with nothing current warns; a folder listed already is refused.
    dlg.ui->btnLoad->pressed();
    ASSERT_EQ(boxes.boxes.size(), errorBoxes + 1);
    EXPECT_EQ(boxes.boxes.last(), QString("Need to select an iTunes Backup to continue."));
    dlg.addOtherFolder(QDir(root).absoluteFilePath("b2019"));
    EXPECT_EQ(boxes.boxes.last(), QString("This iTunes Backup has been listed on the left."));
    EXPECT_EQ(dlg.model()->rowCount(), shown.size());
    dlg.addOtherFolder(home.path());  // no Manifest.plist
    EXPECT_TRUE(boxes.boxes.last().contains("Cannot find")) << boxes.boxes.last().toStdString();

    // A folder added by hand becomes current, so Load loads it.
    QTemporaryDir extra;
    BackupBuilder e(extra.path(), BackupBuilder::MBDB);
    e.setDevice("x", "Extra");
    e.setDate(QDateTime(QDate(2018, 1, 1), QTime(0, 0)));
    e.build();
    dlg.addOtherFolder(extra.path());
    EXPECT_EQ(dlg.model()->rowCount(), shown.size() + 1);
    dlg.ui->btnLoad->pressed();
    EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
    ASSERT_TRUE(dlg.selected);
    EXPECT_EQ(dlg.selected->info.deviceName, QString("Extra"));
    qputenv("HOME", oldHome);
}

namespace {

struct FlatModel : AbsTreeItemModel {
    using AbsTreeItemModel::roots;
    int columnCount(const QModelIndex&) const override { return 3; }
    QVariant data(const QModelIndex& i, int) const override {
        return nodeOf(i) ? nodeOf(i)->name : QVariant();
    }
};

}  // namespace

TEST(TreeModel, RemovalsAnnounceRowsAndFreeNodes) {
    FlatModel m;
    auto* a = new AbsTreeItemModel::_ItemNode(0, "A", nullptr);
    a->children << new AbsTreeItemModel::_ItemNode(0, "A1", a)
                << new AbsTreeItemModel::_ItemNode(0, "A2", a);
    auto* b = new AbsTreeItemModel::_ItemNode(0, "B", nullptr);
    auto* c = new AbsTreeItemModel::_ItemNode(0, "C", nullptr);
    m.roots << a << b << c;
    QStringList order;
    for (const auto* n : m.nodes())
        order << n->name;
    EXPECT_EQ(order, (QStringList{"A", "A1", "A2", "B", "C"}));
    EXPECT_EQ(m.rowCount(), 3);
    EXPECT_FALSE(m.index(3, 0).isValid());
    EXPECT_FALSE(m.index(0, 3).isValid());
    const QModelIndex a2 = m.index(1, 2, m.index(0, 0));
    EXPECT_EQ(m.parent(a2), m.index(0, 0));
    EXPECT_EQ(m.indexOfItemNode(a->children[1]).column(), 2);
    EXPECT_EQ(m.indexOfItemNode(c).row(), 2);  // never asked for: row from its position

    QStringList removed;
    QObject::connect(
        &m, &QAbstractItemModel::rowsAboutToBeRemoved,
        [&](const QModelIndex& p, int first, int last) {
            removed << QString("%1:%2-%3")
                           .arg(p.isValid() ? AbsTreeItemModel::nodeOf(p)->name : "root")
                           .arg(first)
                           .arg(last);
        });
    m.removeNode(a);
    EXPECT_EQ(removed, (QStringList{"A:0-1", "root:0-0"}));
    m.clearChilds(b);  // a leaf: nothing to announce
    EXPECT_EQ(removed.size(), 2);
    m.clearChilds(nullptr);
    EXPECT_EQ(removed.last(), QString("root:0-1"));
    EXPECT_EQ(m.rowCount(), 0);
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The English texts come from the embedded translation, as in the program.
    tw_initUiResources();
    TwTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QApplication::installTranslator(&translator);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
