// The main window's flows that write to a phone (edit, new contact, delete, transfer) and the
// import of a device backup, driven through the window's slots against the simulated iPhone and
// generated backup folders, with the dialogs answered in place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <memory>

#include "app/mainwindow_form.h"
#include "backup/loaditunesbackupdlg.h"
#include "backup/passcodedlg.h"
#include "tests/backup/backup_fixture.h"
#include "tests/fakedevice/fakedevice.h"
#include "testutil.h"
#include "windowfixture.h"

using namespace twtest;
using Tree = ItemModelMainTree;

namespace {

fakedevice::Server*& g_server = phoneServer();

class DeviceWriteTest : public WindowTest {
protected:
    Tree::_DBItemNode* deviceNode(const QString& name) {
        for (int i = 0; i < tree().deviceRoot()->children.size(); ++i) {
            if (dbChild(tree().deviceRoot(), i)->name == name) {
                return dbChild(tree().deviceRoot(), i);
            }
        }
        return nullptr;
    }
    void select(Tree::_ItemNode* node) {
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    }
    int rowOf(const QString& fullName) {
        const QList<pim::_Contact>& l = win->contactsModel().contacts();
        for (int i = 0; i < l.size(); ++i) {
            if (l[i].fullName == fullName) {
                return i;
            }
        }
        return -1;
    }
    QStringList listedNames() {
        QStringList out;
        for (const pim::_Contact& c : win->contactsModel().contacts()) {
            out << c.fullName;
        }
        return out;
    }
    std::shared_ptr<fakedevice::Phone> attach(unsigned n, const std::string& name,
                                              size_t contacts) {
        auto phone = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(n), name);
        phone->generateContacts(contacts);
        g_server->attach(phone);
        return phone;
    }
    // The edit form answers with these names and saves.
    void editFormSets(const QString& first, const QString& last) {
        choosers.editForm = [first, last](EditContactForm& form) {
            form.editor()->nameEdit.firstName->setText(first);
            form.editor()->nameEdit.lastName->setText(last);
            form.form().btnSave->click();
            return form.result();
        };
    }
    static QStringList phoneNames(fakedevice::Phone& p) {
        QStringList out;
        for (const std::string& id : p.recordIds("com.apple.contacts.Contact")) {
            const fakedevice::Plist r = p.record(id);
            out << QString::fromStdString(r.stringAt("first name") + " " + r.stringAt("last name"))
                       .trimmed();
        }
        out.sort();
        return out;
    }
};

}  // namespace

TEST_F(DeviceWriteTest, EditNewContactAndDeletionReachThePhone) {
    auto phone = attach(31, "Writer", 3);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    Tree::_DBItemNode* node = dbChild(tree().deviceRoot(), 0);
    const pim::_Contact first = win->contactsModel().contacts().value(0);
    ASSERT_FALSE(first.srcId.isEmpty());

    editFormSets("Changed", "Name");
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(dbChild(tree().deviceRoot(), 0), node);  // no re-read after a good send
    EXPECT_EQ(phone->record(first.srcId.toStdString()).stringAt("first name"), "Changed");
    EXPECT_TRUE(listedNames().contains("Changed Name"));

    editFormSets("Neo", "Anderson");
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    ASSERT_TRUE(phoneNames(*phone).contains("Neo Anderson"));
    const int row = rowOf("Neo Anderson");
    ASSERT_GE(row, 0);
    const pim::_Contact neo = node->db->contact(win->contactsModel().contacts()[row]._id);
    EXPECT_EQ(phone->record(neo.srcId.toStdString()).stringAt("last name"), "Anderson");

    Boxes::instance().reset();
    ui()->treeContacts->setCurrentIndex(win->contactsModel().indexOfPos(row));
    QMetaObject::invokeMethod(win.get(), "miContactDel");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_DEL_CONTACTS"))
        << Boxes::instance().dump().toStdString();
    EXPECT_FALSE(phone->record(neo.srcId.toStdString()));
    EXPECT_FALSE(phoneNames(*phone).contains("Neo Anderson"));
    EXPECT_EQ(phoneNames(*phone).size(), 3);
}

TEST_F(DeviceWriteTest, FailedSendsReReadThePhone) {
    auto phone = attach(32, "Refuser", 2);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    const QStringList before = listedNames();
    phone->updateScenario([](fakedevice::Scenario& s) { s.cancelAtProcessChanges = 0; });

    // The edit is in the mirror before the send fails; the re-read brings the phone's state.
    Boxes::instance().reset();
    editFormSets("Never", "Arrives");
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
        << Boxes::instance().dump().toStdString();
    ASSERT_EQ(tree().deviceRoot()->children.size(), 1);
    Tree::_DBItemNode* node = dbChild(tree().deviceRoot(), 0);
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), node);
    EXPECT_EQ(listedNames(), before);
    EXPECT_FALSE(phoneNames(*phone).contains("Never Arrives"));

    // A deletion that fails: the contacts come back.
    Boxes::instance().reset();
    ui()->treeContacts->setCurrentIndex(win->contactsModel().indexOfPos(0));
    QMetaObject::invokeMethod(win.get(), "miContactDel");
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1);
    EXPECT_FALSE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_DEL_CONTACTS"));
    node = dbChild(tree().deviceRoot(), 0);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->db->contacts().size(), 2);
    EXPECT_EQ(listedNames(), before);
}

TEST_F(DeviceWriteTest, UnplugDuringASendShowsOneMessage) {
    auto phone = attach(35, "Leaver", 2);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    // The phone holds its answer to the changes back and is pulled out meanwhile.
    phone->updateScenario([](fakedevice::Scenario& s) {
        fakedevice::Fault hold;
        hold.service = fakedevice::kServiceSync;
        hold.request = "SDMessageProcessChanges";
        hold.kind = fakedevice::FaultKind::Delay;
        hold.delayMs = 3000;
        hold.times = 1;
        s.faults.push_back(hold);
    });
    Boxes::instance().reset();
    editFormSets("Gone", "Away");
    QTimer::singleShot(500, [&] { g_server->detach(phone->udid()); });
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    waitFor([] { return false; }, 300);  // the unplug event arrives
    EXPECT_EQ(Boxes::instance().shown.size(), 1u) << Boxes::instance().dump().toStdString();
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1);
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
}

TEST_F(DeviceWriteTest, TransferToConnectedPhonesOnly) {
    makeDb(LocalDb::dbDir().absoluteFilePath("home.db"),
           {makeContact("Ada", "Lovelace"), makeContact("Alan", "Turing"),
            makeContact("Grace", "Hopper")});
    QDir().mkpath(g_dataSaveDir().absoluteFilePath("ios_virtual"));
    makeDb(g_dataSaveDir().absoluteFilePath("ios_virtual/old.db"), {makeContact("Old", "One")},
           true);
    auto one = attach(33, "One", 2);
    open();
    ASSERT_TRUE(waitFor([&] { return deviceNode("One") != nullptr; }));
    auto two = attach(34, "Two", 1);
    ASSERT_TRUE(waitFor([&] { return deviceNode("Two") != nullptr; }));

    QStringList offered;
    QString pick;
    choosers.dataSource = [&](QWidget*, const QString&,
                              const QList<DataSourceSelForm::_SelItem>& items) {
        offered.clear();
        void* chosen = nullptr;
        for (const auto& i : items) {
            offered << i.text;
            if (i.text == pick) {
                chosen = i.data;
            }
        }
        return chosen;
    };

    // Restore a local database: every connected phone, never a mirror loaded from a file.
    Boxes::instance().reset();
    select(tree().localDbRoot()->children[0]);
    pick = "Two";
    QMetaObject::invokeMethod(win.get(), "miTreeDB2I");
    offered.sort();
    EXPECT_EQ(offered, (QStringList{"One", "Two"}));
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    EXPECT_TRUE(phoneNames(*two).contains("Grace Hopper"));
    EXPECT_EQ(phoneNames(*two).size(), 4);
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), deviceNode("Two"));
    EXPECT_EQ(deviceNode("Two")->db->contacts().size(), 4);

    // Phone to phone: the source is not offered. Cancelling the chooser does nothing.
    select(deviceNode("One"));
    pick.clear();
    QMetaObject::invokeMethod(win.get(), "miTreeI2I");
    EXPECT_EQ(offered, QStringList{"Two"});
    EXPECT_EQ(phoneNames(*two).size(), 4);
    pick = "Two";
    QMetaObject::invokeMethod(win.get(), "miTreeI2I");
    for (const QString& n : phoneNames(*one)) {
        EXPECT_TRUE(phoneNames(*two).contains(n)) << n.toStdString();
    }

    // A phone that gives up mid-transfer: the mirror is read again and matches the phone.
    two->updateScenario([](fakedevice::Scenario& s) { s.cancelAtProcessChanges = 0; });
    Boxes::instance().reset();
    select(tree().localDbRoot()->children[0]);
    makeDb(LocalDb::dbDir().absoluteFilePath("more.db"), {makeContact("Katherine", "Johnson")});
    QSharedPointer<LocalDb> more(
        new LocalDb(LocalDb::dbDir().absoluteFilePath("more.db"),
                    QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
    win->transfer2IOS(more->contacts(), QString());
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
        << Boxes::instance().dump().toStdString();
    Tree::_DBItemNode* again = deviceNode("Two");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), again);
    EXPECT_EQ(again->db->contacts().size(), static_cast<int>(phoneNames(*two).size()));
}

TEST_F(DeviceWriteTest, ImportsAnEncryptedBackupIntoANamedDatabase) {
    const QString root =
        QDir(testHome()).absoluteFilePath("Library/Application Support/MobileSync/Backup");
    QDir(root).removeRecursively();
    {
        fixture::BackupBuilder b(QDir(root).absoluteFilePath("kitchen"),
                                 fixture::BackupBuilder::DB);
        b.setDevice("0123456789abcdef0123456789abcdef01234567", "Kitchen Phone");
        b.setEncrypted("secret", true);
        b.addAddressBook();
        b.build();
    }
    open();
    QString offered;
    choosers.dbName = [&offered](QWidget*, const QString& def) {
        offered = def;
        return def.endsWith(".db") ? def : def + ".db";
    };
    choosers.backupChooser = [](LoadItunesBackupDlg& dlg) {
        dlg.ui->listBackups->setCurrentIndex(dlg.model()->index(0, 0));
        emit dlg.ui->btnLoad->pressed();
        return dlg.result();
    };
    QString password = "wrong";
    choosers.passcode = [&password](PasscodeDlg& dlg) {
        dlg.ui->txtPasscode->setText(password);
        dlg.btnOKPressed();
        return dlg.result();
    };

    // A wrong password ends the import before any database is made.
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miFromiTunes");
    EXPECT_TRUE(offered.isEmpty());
    EXPECT_TRUE(tree().localDbRoot()->children.isEmpty());

    password = "secret";
    QMetaObject::invokeMethod(win.get(), "miFromiTunes");
    EXPECT_EQ(offered, "Kitchen Phone-backup.db");
    ASSERT_EQ(tree().localDbRoot()->children.size(), 1) << Boxes::instance().dump().toStdString();
    Tree::_DBItemNode* node = dbChild(tree().localDbRoot(), 0);
    EXPECT_EQ(node->name, "Kitchen Phone-backup.db");
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), node);
    bool found = false;
    for (const QString& n : listedNames()) {
        found = found || n.contains("Appleseed");
    }
    EXPECT_TRUE(found) << listedNames().join(",").toStdString();
}

TEST_F(DeviceWriteTest, FailedBackupImportRemovesOnlyADatabaseItMade) {
    const QString root =
        QDir(testHome()).absoluteFilePath("Library/Application Support/MobileSync/Backup");
    QDir(root).removeRecursively();
    {
        // A backup without an address book: the import fails.
        fixture::BackupBuilder b(QDir(root).absoluteFilePath("empty"), fixture::BackupBuilder::DB);
        b.setDevice("89abcdef0123456789abcdef0123456789abcdef", "");
        b.build();
    }
    makeDb(LocalDb::dbDir().absoluteFilePath("keep.db"), {makeContact("Kept", "Contact")});
    open();
    ASSERT_EQ(tree().localDbRoot()->children.size(), 1);
    QString offered;
    QString answer;
    choosers.dbName = [&](QWidget*, const QString& def) {
        offered = def;
        return answer;
    };
    choosers.backupChooser = [](LoadItunesBackupDlg& dlg) {
        dlg.ui->listBackups->setCurrentIndex(dlg.model()->index(0, 0));
        emit dlg.ui->btnLoad->pressed();
        return dlg.result();
    };

    Boxes::instance().reset();
    answer = "Unknown Device.db";
    QMetaObject::invokeMethod(win.get(), "miFromiTunes");
    EXPECT_EQ(offered, "Unknown Device");
    EXPECT_GE(Boxes::instance().count(QMessageBox::Critical), 1)
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(tree().localDbRoot()->children.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(LocalDb::dbDir().absoluteFilePath("Unknown Device.db")));

    answer = "keep.db";
    QMetaObject::invokeMethod(win.get(), "miFromiTunes");
    ASSERT_EQ(tree().localDbRoot()->children.size(), 1);
    EXPECT_TRUE(QFileInfo::exists(LocalDb::dbDir().absoluteFilePath("keep.db")));
    EXPECT_EQ(dbChild(tree().localDbRoot(), 0)->db->contacts().size(), 1);
}
