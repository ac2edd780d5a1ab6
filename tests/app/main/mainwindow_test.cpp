// The main window driven as the user would: start-up, node selection, search, groups,
// deletion, backup, and the simulated iPhone plugged in and out.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QResizeEvent>
#include <QSplitter>
#include <QPushButton>
#include <QToolButton>
#include <memory>

#include "app/mainwindow_form.h"
#include "ui/translator.h"
#include "tests/fakedevice/fakedevice.h"
#include "platform/mobilesync/phonecall.h"
#include "testutil.h"
#include "windowfixture.h"

using namespace twtest;
using Tree = ItemModelMainTree;

namespace {

fakedevice::Server*& g_server = phoneServer();

class MainWindowTest : public WindowTest {
protected:
    void select(Tree::_ItemNode* node) {
        if (node == tree().deviceRoot() || node == tree().localDbRoot()) {
            ui()->treeMain->setCurrentIndex(tree().index(node == tree().deviceRoot() ? 0 : 1, 0));
            return;
        }
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    }
    QStringList listedNames() {
        QStringList out;
        for (const pim::_Contact& c : win->contactsModel().contacts()) {
            out << c.fullName;
        }
        return out;
    }
    std::vector<bool> actionStates() {
        std::vector<bool> s;
        for (QAction* a : toolBarActions) {
            s.push_back(a->isEnabled());
        }
        return s;
    }
    QString dataPath(const QString& rel) { return g_dataSaveDir().absoluteFilePath(rel); }
};

std::shared_ptr<fakedevice::Phone> phoneWith(const std::string& udid, const std::string& name,
                                             const fakedevice::Plist& records) {
    auto phone = std::make_shared<fakedevice::Phone>(udid, name);
    phone->setRecords(records);
    return phone;
}

fakedevice::Plist record(const char* kind,
                         std::initializer_list<std::pair<const char*, const char*>> kv,
                         std::initializer_list<const char*> contacts = {}) {
    fakedevice::Plist r = fakedevice::Plist::dict();
    r.set(fakedevice::kEntityNameKey, fakedevice::Plist::string(kind));
    for (const auto& p : kv) {
        r.set(p.first, fakedevice::Plist::string(p.second));
    }
    if (contacts.size()) {
        fakedevice::Plist arr = fakedevice::Plist::array();
        for (const char* c : contacts) {
            arr.append(fakedevice::Plist::string(c));
        }
        r.set("contact", arr);
    }
    return r;
}

// Three contacts, children before and after their contacts, in two batches.
fakedevice::Plist sampleRecords() {
    fakedevice::Plist recs = fakedevice::Plist::dict();
    // A child that comes before the contact it names.
    recs.set("p-early", record("com.apple.contacts.Phone Number",
                               {{"value", "555-0100"}, {"type", "mobile"}}, {"c2"}));
    recs.set("c1",
             record("com.apple.contacts.Contact",
                    {{"first name", "Zoe"}, {"last name", "Adams"}, {"company name", "Acme"}}));
    recs.set("c2",
             record("com.apple.contacts.Contact", {{"first name", "Bob"}, {"last name", "Brown"}}));
    recs.set("c3",
             record("com.apple.contacts.Contact", {{"first name", "Amy"}, {"last name", "Cole"}}));
    recs.set("e1", record("com.apple.contacts.Email Address",
                          {{"value", "zoe@example.com"}, {"type", "work"}}, {"c1"}));
    recs.set("u1", record("com.apple.contacts.URL",
                          {{"value", "http://z.example"}, {"type", "home"}}, {"c1"}));
    recs.set("i1", record("com.apple.contacts.IM",
                          {{"user", "zoe.a"}, {"service", "skype"}, {"type", "Home"}}, {"c1"}));
    recs.set("g1", record("com.apple.contacts.Group", {{"name", "Friends"}}));
    recs.set("p2", record("com.apple.contacts.Phone Number",
                          {{"value", "555-0200"}, {"type", "home"}}, {"c1", "c3"}));
    return recs;
}

}  // namespace

TEST_F(MainWindowTest, StartsOnEmptyHome) {
    MainWindow& w = open();
    EXPECT_EQ(w.windowTitle(), "Quorvanteli Tellwick for Mac");
    EXPECT_EQ(tree().rowCount(QModelIndex()), 2);
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    EXPECT_TRUE(tree().localDbRoot()->children.isEmpty());
    EXPECT_FALSE(ui()->treeMain->currentIndex().isValid());
    EXPECT_EQ(ui()->lbTotal->text(), "Total:0");
    // Only the two imports are on.
    const std::vector<bool> expected = {false, false, true,  false, false,
                                        true,  false, false, false};
    EXPECT_EQ(actionStates(), expected);
    EXPECT_EQ(ui()->toolBar->actions().size(), 10);  // nine actions and one separator

    w.resize(1000, 600);
    w.show();
    waitFor([&w] { return w.isVisible(); }, 1000);
    const QList<int> sizes = ui()->splitter->sizes();
    ASSERT_EQ(sizes.size(), 3);
    // The two handles take a pixel each from what the splitter hands out.
    EXPECT_NEAR(sizes[0], 220, 2);
    EXPECT_NEAR(sizes[1], 390, 2);
    EXPECT_NEAR(sizes[2], 390, 2);
    QHeaderView* h = ui()->treeContacts->header();
    EXPECT_EQ(h->sectionSize(0), 146);
    EXPECT_EQ(h->sectionSize(1), 73);
    EXPECT_EQ(h->sectionSize(2), 73);  // the last one stretches to the view's edge
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
}

TEST_F(MainWindowTest, StartsOnDataFolderWithMirrorsAndLocalDatabases) {
    QDir().mkpath(dataPath("ios_virtual"));
    makeDb(dataPath("ios_virtual/abc.def.db"),
           {makeContact("Carl", "Dunn", "111"), makeContact("Anna", "Berg", "222")}, true);
    const QString older = LocalDb::dbDir().absoluteFilePath("zeta.db");
    const QString newer = LocalDb::dbDir().absoluteFilePath("alpha.db");
    makeDb(older, {makeContact("Old", "One")});
    makeDb(newer, {makeContact("New", "One")});
    QFile f(older);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime);
    f.close();

    MainWindow& w = open();
    (void)w;
    ASSERT_EQ(tree().deviceRoot()->children.size(), 1);
    Tree::_DBItemNode* mirror = dbChild(tree().deviceRoot(), 0);
    EXPECT_EQ(mirror->name, "abc");
    EXPECT_EQ(mirror->id, "abc.def.db");
    EXPECT_EQ(mirror->kind, 1);
    // The mirror is current and listed, sorted by name.
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), mirror);
    EXPECT_EQ(listedNames(), (QStringList{"Anna Berg", "Carl Dunn"}));
    EXPECT_EQ(ui()->lbTotal->text(), "Total:2");
    // No contact selected after the node change, so the pane is empty.
    EXPECT_TRUE(ui()->treeContacts->selectionModel()->selectedRows().isEmpty());
    EXPECT_TRUE(paneEmpty(ui()->wdContactInfo));
    // A mirror without a phone behind it: back up, export and print, but no device writes.
    const std::vector<bool> expected = {false, true, true, false, false, true, true, true, false};
    EXPECT_EQ(actionStates(), expected);

    ASSERT_EQ(tree().localDbRoot()->children.size(), 2);
    EXPECT_EQ(tree().localDbRoot()->children[0]->name, "zeta.db");  // oldest first
    EXPECT_EQ(tree().localDbRoot()->children[1]->name, "alpha.db");

    // A local database: restore needs a phone, the virtual mirror is none.
    select(tree().localDbRoot()->children[1]);
    EXPECT_EQ(listedNames(), QStringList{"New One"});
    const std::vector<bool> local = {true, false, true, false, false, true, true, true, true};
    EXPECT_EQ(actionStates(), local);
    EXPECT_FALSE(tree().localDbRoot()->children[1]->children.size());

    // A root turns the database actions off again and empties the list.
    select(tree().localDbRoot());
    const std::vector<bool> none = {false, false, true, false, false, true, false, false, false};
    EXPECT_EQ(actionStates(), none);
    EXPECT_EQ(ui()->lbTotal->text(), "Total:0");
    EXPECT_EQ(win->contactsModel().size(), 0);
}

TEST_F(MainWindowTest, VirtualMirrorOffersNoDeviceWrites) {
    QDir().mkpath(dataPath("ios_virtual"));
    makeDb(dataPath("ios_virtual/old.db"), {makeContact("Keep", "Me")}, true);
    open();
    Tree::_DBItemNode* mirror = dbChild(tree().deviceRoot(), 0);
    ASSERT_TRUE(mirror);
    QStringList entries;
    choosers.contextMenu = [&entries](QMenu& m) -> QAction* {
        for (QAction* a : m.actions()) {
            if (!a->isSeparator()) {
                entries << a->text();
            }
        }
        return nullptr;
    };
    QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
    EXPECT_FALSE(entries.contains("IDS_MI_DEL_CONTACTS"));
    EXPECT_FALSE(entries.contains("IDS_MI_NEW_CONTACT"));
    EXPECT_TRUE(entries.contains("IDS_MI_BACKUP_CONTACTS"));

    // Clearing it (tree delete) does nothing: no question, no loss.
    QMetaObject::invokeMethod(win.get(), "miTreeDel");
    EXPECT_TRUE(Boxes::instance().shown.empty());
    EXPECT_EQ(mirror->db->contacts().size(), 1);
}

TEST_F(MainWindowTest, FailingNodeSelectionReportsOnce) {
    QFile bad(LocalDb::dbDir().absoluteFilePath("broken.db"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, 'x'));
    bad.close();
    open();
    select(tree().localDbRoot()->children[0]);
    waitFor([] { return false; }, 50);
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
        << Boxes::instance().dump().toStdString();
    EXPECT_FALSE(ui()->treeMain->selectionModel()->hasSelection());

    // A phone plugged in while the error box is up is read after the box, and then shown.
    const std::string udid = fakedevice::makeUdid(12);
    bool readUnderTheBox = true;
    g_setMessageBoxHook([&](QMessageBox& box) {
        if (box.icon() == QMessageBox::Critical) {
            g_server->attach(phoneWith(udid, "Late", sampleRecords()));
            waitFor([] { return false; }, 400);  // the box's own event loop
            readUnderTheBox = !tree().deviceRoot()->children.isEmpty();
        }
        return int(QMessageBox::Ok);
    });
    select(tree().deviceRoot());
    select(tree().localDbRoot()->children[0]);
    EXPECT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    Boxes::instance().install();
    EXPECT_FALSE(readUnderTheBox);
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), tree().deviceRoot()->children[0]);
    EXPECT_EQ(win->contactsModel().size(), 3);
}

TEST_F(MainWindowTest, SearchGroupsAndDeletion) {
    const QString path = LocalDb::dbDir().absoluteFilePath("family.db");
    makeDb(path, {makeContact("Ann", "Lee", "100", "ann@x.org"), makeContact("Ben", "Lee", "200"),
                  makeContact("Cid", "Moe", "300")});
    open();
    Tree::_DBItemNode* node = dbChild(tree().localDbRoot(), 0);
    select(node);
    ASSERT_EQ(listedNames(), (QStringList{"Ann Lee", "Ben Lee", "Cid Moe"}));

    // Search: trimmed keyword, label shown, count updated; markup in the keyword stays text.
    ui()->txtKeyword->setText("  lee ");
    ui()->btnSearch->pressed();
    EXPECT_EQ(listedNames(), (QStringList{"Ann Lee", "Ben Lee"}));
    EXPECT_EQ(ui()->lbTotal->text(), "Total:2");
    EXPECT_FALSE(ui()->lbDisplayKeyword->isHidden());
    EXPECT_EQ(ui()->lbDisplayKeyword->text(), "IDS_SEARCH_KEYWORKD_lee");
    ui()->txtKeyword->setText("<b>nobody</b>");
    ui()->btnSearch->pressed();
    EXPECT_EQ(ui()->lbTotal->text(), "Total:0");
    EXPECT_EQ(ui()->lbDisplayKeyword->textFormat(), Qt::PlainText);
    ui()->txtKeyword->setText("   ");
    ui()->btnSearch->pressed();
    EXPECT_EQ(win->contactsModel().size(), 3);
    EXPECT_TRUE(ui()->lbDisplayKeyword->isHidden());

    // Selecting a contact shows it in the pane, escaped.
    ui()->treeContacts->setCurrentIndex(win->contactsModel().indexOfPos(0));
    EXPECT_EQ(ui()->wdContactInfo->shownContact().fullName, "Ann Lee");
    EXPECT_TRUE(paneText(ui()->wdContactInfo).contains("ann@x.org"));

    // Put Ann and Cid into a new group "Friends".
    QItemSelectionModel* sel = ui()->treeContacts->selectionModel();
    sel->select(win->contactsModel().indexOfPos(0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    sel->select(win->contactsModel().indexOfPos(2),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    choosers.group = [](QWidget*, LocalDb*, quint64& id, QString& name) {
        id = 0;
        name = "Friends";
        return true;
    };
    QMetaObject::invokeMethod(win.get(), "miContactSetGroup");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "IDS_UPDATE_GROUP_SUC"));
    ASSERT_EQ(node->children.size(), 1);
    EXPECT_EQ(node->children[0]->name, "Friends");
    EXPECT_EQ(
        node->db->contacts(static_cast<Tree::_GroupItemNode*>(node->children[0])->group._id).size(),
        2);

    // Selecting the group lists its members only.
    select(node->children[0]);
    EXPECT_EQ(listedNames(), (QStringList{"Ann Lee", "Cid Moe"}));
    // The tree's parent of the group node is the database node at its current row.
    const QModelIndex gi = ui()->treeMain->currentIndex();
    EXPECT_EQ(tree().parent(gi), tree().indexOfItemNode(node));

    // Deleting the group (answered Yes) deletes its members and the group.
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miTreeDel");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Question, "IDS_CONFIRM_DEL_GROUP"));
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_DEL_CONTACTS"));
    EXPECT_TRUE(node->children.isEmpty());
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), node);
    EXPECT_EQ(listedNames(), QStringList{"Ben Lee"});
    EXPECT_TRUE(node->db->groups().isEmpty());

    // Deleting the database: No keeps it, Yes removes file and node.
    Boxes::instance().answerNext(false);
    QMetaObject::invokeMethod(win.get(), "miTreeDel");
    EXPECT_TRUE(QFileInfo::exists(path));
    Boxes::instance().answerNext(true);
    QMetaObject::invokeMethod(win.get(), "miTreeDel");
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(tree().localDbRoot()->children.isEmpty());
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "IDS_DELETE_LOCALDB_SUC"));
    // The deleted database's contacts are no longer listed.
    EXPECT_EQ(win->contactsModel().size(), 0);
    EXPECT_EQ(ui()->lbTotal->text(), "Total:0");
    EXPECT_FALSE(toolBarActions[TBA_DELETE]->isEnabled());
}

TEST_F(MainWindowTest, RejectsUnsafeDeviceIdentifier) {
    open();
    win->iosDeviceConnected("../../evil");
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1);
    EXPECT_FALSE(QFileInfo::exists(dataPath("evil")));
    EXPECT_FALSE(QDir(dataPath("ios_cache")).exists() &&
                 !QDir(dataPath("ios_cache")).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(MainWindow::isSafeDeviceId("00008030-001A2B3C4D5E6F70"));
    EXPECT_FALSE(MainWindow::isSafeDeviceId(""));
    EXPECT_FALSE(MainWindow::isSafeDeviceId("a.db"));
    EXPECT_FALSE(MainWindow::isSafeDeviceId("a b"));
}

TEST_F(MainWindowTest, PhonePluggedReadUnpluggedReplugged) {
    const std::string udid = fakedevice::makeUdid(7);
    auto phone = phoneWith(udid, "Tess <b>Phone</b>", sampleRecords());
    phone->updateScenario([](fakedevice::Scenario& s) { s.batchSize = 3; });
    g_server->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
        << Boxes::instance().dump().toStdString();
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information,
                                           "IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS"));
    Tree::_DBItemNode* node = dbChild(tree().deviceRoot(), 0);
    EXPECT_EQ(node->name, "Tess <b>Phone</b>");
    EXPECT_EQ(node->id, QString::fromStdString(udid));
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), node);
    EXPECT_EQ(listedNames(), (QStringList{"Amy Cole", "Bob Brown", "Zoe Adams"}));
    EXPECT_EQ(ui()->lbTotal->text(), "Total:3");
    const std::vector<bool> expected = {true, true, true, false, false, true, true, true, true};
    EXPECT_EQ(actionStates(), expected);

    // The mirror file is named by the udid and holds the records as read.
    const QString mirrorPath = dataPath("ios_cache/" + QString::fromStdString(udid));
    EXPECT_TRUE(QFileInfo::exists(mirrorPath));
    QMap<QString, pim::_Contact> byName;
    for (const pim::_Contact& c : node->db->contacts()) {
        byName[c.fullName] = c;
    }
    const pim::_Contact bob = byName["Bob Brown"];
    EXPECT_EQ(bob.srcId, "c2");
    ASSERT_EQ(bob.entities.value(pim::ENTITY_PHONE).size(), 1);  // arrived before its contact
    EXPECT_EQ(bob.entities[pim::ENTITY_PHONE][0].text("data1"), "555-0100");
    EXPECT_EQ(bob.entities[pim::ENTITY_PHONE][0].text("data2"), "2");
    const pim::_Contact zoe = byName["Zoe Adams"];
    EXPECT_EQ(zoe.entities.value(pim::ENTITY_ORG).value(0).text("data1"), "Acme");
    EXPECT_EQ(zoe.entities.value(pim::ENTITY_ORG).value(0).text("data2"), "1");
    EXPECT_EQ(zoe.entities.value(pim::ENTITY_EMAIL).value(0).text("data2"), "2");
    EXPECT_EQ(zoe.entities.value(pim::ENTITY_URL).value(0).text("data2"), "4");
    const pim::Entity im = zoe.entities.value(pim::ENTITY_IM).value(0);
    EXPECT_EQ(im.text("data1"), "zoe.a");
    EXPECT_EQ(im.text("data5"), "4");
    EXPECT_EQ(im.text("data2"), "");  // "Home" is not "home"
    // One child naming two contacts is stored under each, with its own source id.
    EXPECT_EQ(byName["Amy Cole"].entities.value(pim::ENTITY_PHONE).value(0).srcId, "p2");
    EXPECT_EQ(zoe.entities.value(pim::ENTITY_PHONE).value(0).srcId, "p2");
    // The tethered-sync switch was written before the read.
    bool tethered = false;
    for (const auto& call : phone->setValueCalls()) {
        tethered |= call.domain == "com.apple.mobile.tethered_sync" && call.key == "Contacts";
    }
    EXPECT_TRUE(tethered);

    // Unplugged: the node goes, the mirror file stays.
    g_server->detach(udid);
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.isEmpty(); }));
    EXPECT_TRUE(QFileInfo::exists(mirrorPath));
    // Nothing of the gone phone stays listed or offered.
    EXPECT_EQ(win->contactsModel().size(), 0);
    EXPECT_EQ(ui()->lbTotal->text(), "Total:0");
    EXPECT_TRUE(paneEmpty(ui()->wdContactInfo));
    const std::vector<bool> gone = {false, false, true, false, false, true, false, false, false};
    EXPECT_EQ(actionStates(), gone);

    // Plugged in again with a changed address book: one node, read afresh.
    phone->addRecord("c4", record("com.apple.contacts.Contact", {{"first name", "Dan"}}));
    g_server->attach(phone);
    ASSERT_TRUE(waitFor([&] {
        return tree().deviceRoot()->children.size() == 1 && win->contactsModel().size() == 4;
    })) << Boxes::instance().dump().toStdString();
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();

    // A second connection of the same phone replaces the node, closing the old store first
    // (whoever else still holds it).
    QSharedPointer<LocalDb> oldStore = dbChild(tree().deviceRoot(), 0)->db;
    oldStore->contacts();
    ASSERT_TRUE(oldStore->isOpen());
    win->iosDeviceConnected(QString::fromStdString(udid));
    EXPECT_FALSE(oldStore->isOpen());
    EXPECT_EQ(tree().deviceRoot()->children.size(), 1);
    EXPECT_NE(dbChild(tree().deviceRoot(), 0)->db, oldStore);
    // Names are shown as typed, also in tool tips that would render markup.
    const QModelIndex ni = tree().indexOfItemNode(dbChild(tree().deviceRoot(), 0));
    EXPECT_EQ(tree().data(ni, Qt::ToolTipRole).toString(), "Tess &lt;b&gt;Phone&lt;/b&gt;");
    EXPECT_EQ(win->contactsModel().size(), 4);
}

TEST_F(MainWindowTest, PhoneFailingMidReadLeavesNoNodeAndNoRows) {
    const std::string udid = fakedevice::makeUdid(8);
    auto phone = std::make_shared<fakedevice::Phone>(udid, "Flaky");
    phone->generateContacts(30);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 20;
        s.dropAtBatch = 3;
    });
    g_server->attach(phone);
    open();
    ASSERT_TRUE(waitFor([] { return Boxes::instance().count(QMessageBox::Critical) == 1; }))
        << Boxes::instance().dump().toStdString();
    waitFor([] { return false; }, 100);
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1);
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    LocalDb mirror(dataPath("ios_cache/" + QString::fromStdString(udid)),
                   QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule));
    EXPECT_TRUE(mirror.contacts().isEmpty());
}

TEST_F(MainWindowTest, BackupIntoNewThenExistingDatabase) {
    const std::string udid = fakedevice::makeUdid(9);
    g_server->attach(phoneWith(udid, "Work Phone", sampleRecords()));
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    QString offered;
    choosers.dbName = [&offered](QWidget*, const QString& def) {
        offered = def;
        return QString("Work Phone-backup.db");
    };
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miFileBackup");
    EXPECT_EQ(offered, "Work Phone-backup.db");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_IMPORT_3_TO_LOCALDB"))
        << Boxes::instance().dump().toStdString();
    ASSERT_EQ(tree().localDbRoot()->children.size(), 1);
    Tree::_DBItemNode* target = dbChild(tree().localDbRoot(), 0);
    EXPECT_EQ(target->name, "Work Phone-backup.db");
    EXPECT_TRUE(QFileInfo::exists(LocalDb::dbDir().absoluteFilePath("Work Phone-backup.db")));
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), target);
    EXPECT_EQ(listedNames(), (QStringList{"Amy Cole", "Bob Brown", "Zoe Adams"}));

    // The same backup again, from two selected contacts of the phone: both merge.
    select(tree().deviceRoot()->children[0]);
    QItemSelectionModel* sel = ui()->treeContacts->selectionModel();
    sel->select(win->contactsModel().indexOfPos(0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    sel->select(win->contactsModel().indexOfPos(2),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miFileBackup");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information,
                                           "IDS_SUC_IMPORT_0_TO_LOCALDB_2_MERGED"))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(tree().localDbRoot()->children.size(), 1);
    EXPECT_EQ(target->db->contacts().size(), 3);
    // The merge kept one phone per contact, not two.
    for (const pim::_Contact& c : target->db->contacts()) {
        if (c.fullName == "Zoe Adams") {
            EXPECT_EQ(c.entities.value(pim::ENTITY_PHONE).size(), 1);
        }
    }
    // A cancelled chooser ends the flow before anything is made.
    choosers.dbName = [](QWidget*, const QString&) { return QString(); };
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miTreeBackup");
    EXPECT_TRUE(Boxes::instance().shown.empty());
}

TEST_F(MainWindowTest, GroupDeletionOnAPhoneDeletesItsMembersThere) {
    const std::string udid = fakedevice::makeUdid(10);
    auto phone = phoneWith(udid, "Grouped", sampleRecords());
    g_server->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    Tree::_DBItemNode* node = dbChild(tree().deviceRoot(), 0);
    // Put one contact into a group in the mirror, then delete that group.
    ui()->treeContacts->setCurrentIndex(win->contactsModel().indexOfPos(0));
    const QString member = win->contactsModel().contacts().value(0).srcId;
    choosers.group = [](QWidget*, LocalDb*, quint64& id, QString& name) {
        id = 0;
        name = "Team";
        return true;
    };
    QMetaObject::invokeMethod(win.get(), "miContactSetGroup");
    ASSERT_EQ(node->children.size(), 1);
    select(node->children[0]);
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miTreeDel");
    // The member goes from the mirror and from the phone, then the group.
    EXPECT_EQ(dbChild(tree().deviceRoot(), 0), node);
    EXPECT_EQ(node->children.size(), 0);
    EXPECT_EQ(node->db->groups().size(), 0);
    EXPECT_EQ(node->db->contacts().size(), 2);
    EXPECT_FALSE(phone->record(member.toStdString()));
    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), 2u);
}

TEST_F(MainWindowTest, DeviceEventsWaitForTheRunningFlow) {
    const std::string udid = fakedevice::makeUdid(11);
    g_server->attach(phoneWith(udid, "Leaving", sampleRecords()));
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    bool nodeSurvived = false;
    choosers.dbName = [&](QWidget*, const QString&) {
        // The phone leaves while the backup flow holds its node.
        g_server->detach(udid);
        waitFor([] { return false; }, 300);
        nodeSurvived = tree().deviceRoot()->children.size() == 1 && win->isBusy();
        return QString("leaving.db");
    };
    QMetaObject::invokeMethod(win.get(), "miTreeBackup");
    EXPECT_TRUE(nodeSurvived);
    EXPECT_TRUE(
        Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_IMPORT_3_TO_LOCALDB"));
    // Once the flow is over the held-back event removes the node.
    EXPECT_TRUE(waitFor([&] { return tree().deviceRoot()->children.isEmpty(); }, 3000));
    EXPECT_EQ(dbChild(tree().localDbRoot(), 0)->db->contacts().size(), 3);
}

TEST_F(MainWindowTest, ContextMenusFollowTheNode) {
    makeDb(LocalDb::dbDir().absoluteFilePath("one.db"),
           {makeContact("A", "B"), makeContact("C", "D")});
    open();
    QStringList entries;
    QList<bool> enabled;
    choosers.contextMenu = [&](QMenu& m) -> QAction* {
        entries.clear();
        enabled.clear();
        for (QAction* a : m.actions()) {
            if (!a->isSeparator()) {
                entries << a->text();
                enabled << a->isEnabled();
            }
        }
        return nullptr;
    };
    select(tree().deviceRoot());
    entries << "none";
    QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
    EXPECT_EQ(entries, QStringList{"none"});  // no menu on the device root
    select(tree().localDbRoot());
    QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
    EXPECT_EQ(entries, (QStringList{"IDS_MI_OPEN_LOCALDB_FOLDER", "IDS_MI_FROM_ITUNES",
                                    "IDS_MI_IMPORT_FROM_FILE"}));
    select(tree().localDbRoot()->children[0]);
    QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(entries[0], "IDS_MI_TRANSFER_TO_IOS_FROM_LOCALDB");
    EXPECT_FALSE(enabled[0]);  // no phone to restore to
    EXPECT_EQ(entries[4], "IDS_MI_REMOVE_LOCAL_DB");

    // Contact menu: none without a selection; Edit only for exactly one row.
    entries = QStringList{"none"};
    ui()->treeContacts->clearSelection();
    QMetaObject::invokeMethod(win.get(), "contactCreateContextMenu");
    EXPECT_EQ(entries, QStringList{"none"});
    ui()->treeContacts->selectAll();
    QMetaObject::invokeMethod(win.get(), "contactCreateContextMenu");
    const int edit = entries.indexOf("IDS_MI_EDIT_CONTACT");
    ASSERT_GE(edit, 0);
    EXPECT_FALSE(enabled[edit]);
    ui()->treeContacts->setCurrentIndex(win->contactsModel().indexOfPos(1));
    QMetaObject::invokeMethod(win.get(), "contactCreateContextMenu");
    EXPECT_TRUE(enabled[entries.indexOf("IDS_MI_EDIT_CONTACT")]);

    // A failing group assignment rolls back and reports, nothing escapes the slot.
    choosers.group = [](QWidget*, LocalDb*, quint64& id, QString& name) {
        id = 987654;  // a group that does not exist
        name = "Ghost";
        return true;
    };
    Tree::_DBItemNode* node = dbChild(tree().localDbRoot(), 0);
    node->db->db().executeScriptThrow(
        "CREATE TRIGGER nogroup BEFORE INSERT ON data WHEN NEW.type = 7 "
        "BEGIN SELECT RAISE(ABORT, 'groups are locked'); END;");
    QMetaObject::invokeMethod(win.get(), "miContactSetGroup");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Critical, "groups are locked"));
    for (const pim::_Contact& c : node->db->contacts()) {
        EXPECT_TRUE(c.entities.value(pim::ENTITY_GROUP).isEmpty());
    }
}

TEST_F(MainWindowTest, TwoPhonesEnablePhoneToPhoneAndRestore) {
    makeDb(LocalDb::dbDir().absoluteFilePath("home.db"), {makeContact("A", "B")});
    g_server->attach(phoneWith(fakedevice::makeUdid(21), "One", sampleRecords()));
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    EXPECT_FALSE(toolBarActions[TBA_I2I]->isEnabled());  // no other phone yet
    select(tree().localDbRoot()->children[0]);
    EXPECT_TRUE(toolBarActions[TBA_DB2I]->isEnabled());  // one phone to restore to
    g_server->attach(phoneWith(fakedevice::makeUdid(22), "Two", sampleRecords()));
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 2; }));
    // The phone read last is selected; the other phone is a transfer target.
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex())->name, "Two");
    EXPECT_TRUE(toolBarActions[TBA_I2I]->isEnabled());
    EXPECT_TRUE(toolBarActions[TBA_BACKUP]->isEnabled());
    EXPECT_FALSE(toolBarActions[TBA_DB2I]->isEnabled());

    // The menus of a phone: entries in order, "-" a separator, "!" in front of a disabled one.
    QString shown;
    choosers.contextMenu = [&shown](QMenu& m) -> QAction* {
        QStringList out;
        for (QAction* a : m.actions()) {
            out << (a->isSeparator() ? QString("-") : (a->isEnabled() ? "" : "!") + a->text());
        }
        shown = out.join("|");
        return nullptr;
    };
    QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
    EXPECT_EQ(
        shown,
        "IDS_MI_BACKUP_CONTACTS|IDS_MI_TRANSFER_TO_OTHER_IOS_FROM_IOS|-|"
        "IDS_MI_EXPORT_CONTACTS|IDS_MI_PRINT_CONTACTS|IDS_MI_NEW_CONTACT|IDS_MI_DEL_CONTACTS|-|"
        "IDS_MI_UNMOUNT_DEVICE");
    ui()->treeContacts->setCurrentIndex(win->contactsModel().indexOfPos(0));
    QMetaObject::invokeMethod(win.get(), "contactCreateContextMenu");
    EXPECT_EQ(shown,
              "IDS_MI_BACKUP_SELECTIONS|IDS_MI_TRANSFER_SELECTIONS_TO_OTHER_IOS_FROM_IOS|-|"
              "IDS_MI_EXPORT_SELECTIONS|IDS_MI_PRINT_SELECTIONS|IDS_MI_EDIT_CONTACT|"
              "IDS_MI_SET_GROUP|IDS_MI_DEL_SELECTIONS");
    // Once the other phone has gone, it is no transfer target; Disconnect Device removes the
    // node and keeps the mirror file.
    const QString other = dbChild(tree().deviceRoot(), 0)->id;
    g_server->detach(other.toStdString());
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    select(tree().deviceRoot()->children[0]);
    QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
    EXPECT_TRUE(shown.startsWith("IDS_MI_BACKUP_CONTACTS|!IDS_MI_TRANSFER_TO_OTHER_IOS_FROM_IOS|"))
        << shown.toStdString();
    EXPECT_FALSE(toolBarActions[TBA_I2I]->isEnabled());
    const QString mirror = dbChild(tree().deviceRoot(), 0)->db->path();
    QMetaObject::invokeMethod(win.get(), "miTreeUnmount");
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(mirror));
}

TEST_F(MainWindowTest, ImportsAFileIntoANewDatabase) {
    const QString vcf =
        QDir(QString::fromLocal8Bit(qgetenv("HOME"))).absoluteFilePath("friends.vcf");
    QFile f(vcf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lane;Lois;;;\r\nFN:Lois Lane\r\n"
        "TEL;TYPE=CELL:555-0199\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Kent;Clark;;;\r\nFN:Clark Kent\r\nEND:VCARD\r\n");
    f.close();
    open();
    QString offered;
    choosers.openFile = [&](QWidget*, const QString& filters, QString* selected) {
        *selected = filters.split(";;").value(0);
        return vcf;
    };
    choosers.dbName = [&offered](QWidget*, const QString& def) {
        offered = def;
        return def + ".db";
    };
    QMetaObject::invokeMethod(win.get(), "miImport");
    EXPECT_EQ(offered, "friends.vcf");
    ASSERT_EQ(tree().localDbRoot()->children.size(), 1) << Boxes::instance().dump().toStdString();
    EXPECT_EQ(tree().localDbRoot()->children[0]->name, "friends.vcf.db");
    EXPECT_EQ(Tree::nodeOf(ui()->treeMain->currentIndex()), tree().localDbRoot()->children[0]);
    // "N" is family;given, as every program writes it.
    EXPECT_EQ(listedNames(), (QStringList{"Clark Kent", "Lois Lane"}));

    // A filter that is none of the two ends the flow without a word.
    Boxes::instance().reset();
    choosers.openFile = [&](QWidget*, const QString&, QString* selected) {
        *selected = "All files(*)";
        return vcf;
    };
    QMetaObject::invokeMethod(win.get(), "miImport");
    EXPECT_TRUE(Boxes::instance().shown.empty());
    EXPECT_EQ(tree().localDbRoot()->children.size(), 1);

    // A file that is no vCard: an error naming it, and the database made for it goes again.
    Boxes::instance().reset();
    const QString notes =
        QDir(QString::fromLocal8Bit(qgetenv("HOME"))).absoluteFilePath("notes.vcf");
    QFile n(notes);
    ASSERT_TRUE(n.open(QIODevice::WriteOnly));
    n.write("Shopping: milk, bread\n");
    n.close();
    choosers.openFile = [&](QWidget*, const QString& filters, QString* selected) {
        *selected = filters.split(";;").value(0);
        return notes;
    };
    QMetaObject::invokeMethod(win.get(), "miImport");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Critical, "notes.vcf"))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(tree().localDbRoot()->children.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(LocalDb::dbDir().absoluteFilePath("notes.vcf.db")));
}

// The window as the user sees it, in English, with a phone and a local database: every
// caption translated, every icon drawn, and the tool bar inside the window's default width.
// With TW_SCREENSHOT_DIR set, the two views are also saved as PNG files there.
TEST_F(MainWindowTest, LooksFinishedWithAPhoneAndALocalDatabase) {
    TwTranslator translator;  // as the program installs it
    ASSERT_TRUE(translator.load(":/en.qm"));
    QCoreApplication::installTranslator(&translator);
    makeDb(LocalDb::dbDir().absoluteFilePath("Family.db"),
           {makeContact("Ann", "Lee", "555-0100", "ann@example.org"),
            makeContact("Ben", "Lee", "555-0111"), makeContact("Cid", "Moe", "", "cid@moe.net")});
    g_server->attach(phoneWith(fakedevice::makeUdid(31), "Tess's iPhone", sampleRecords()));
    MainWindow& w = open();
    w.resize(1000, 600);
    w.show();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    ui()->treeContacts->setCurrentIndex(win->contactsModel().indexOfPos(2));
    waitFor([] { return false; }, 100);

    const QString shots = QString::fromLocal8Bit(qgetenv("TW_SCREENSHOT_DIR"));
    if (!shots.isEmpty()) {
        w.grab().save(QDir(shots).absoluteFilePath("mainwindow-phone.png"));
    }
    // English texts, never the keys behind them.
    EXPECT_EQ(tree().data(tree().index(0, 0), Qt::DisplayRole).toString(), "Devices");
    EXPECT_EQ(tree().data(tree().index(1, 0), Qt::DisplayRole).toString(), "Local Databases");
    EXPECT_EQ(ui()->lbTotal->text(), "Total:3");
    // The menus and the tool bar, entry by entry ("-" a separator, a submenu in brackets).
    const std::function<QString(const QList<QAction*>&)> layout =
        [&layout](const QList<QAction*>& actions) {
            QStringList out;
            for (QAction* a : actions) {
                out << (a->isSeparator() ? QString("-")
                        : a->menu()      ? a->text() + "[" + layout(a->menu()->actions()) + "]"
                                         : a->text());
            }
            return out.join("|");
        };
    EXPECT_EQ(layout(ui()->menuBar->actions()),
              "File[Backup Contacts|Phone to Phone Transfer[iPhone to iPhone]|"
              "Restore Contacts to iPhone|-|Export Contacts to File|Print Contacts|Add Contact|"
              "Import[Import from File|Import from iTunes]|Delete Contact|-|"
              "Open Database Folder|Exit]|"
              "Tools[Check update]|Help[Help|Feedback and support|About]");
    EXPECT_EQ(layout(ui()->toolBar->actions()),
              "Backup Contacts|iPhone to iPhone|Restore Contacts to iPhone|-|"
              "Export Contacts to File|Print Contacts|Add Contact|Import from File|"
              "Import from iTunes|Delete Contact");
    EXPECT_EQ(toolBarActions[TBA_NEW_CONTACT]->shortcut(), QKeySequence("Ctrl+N"));
    // Every tool-bar button shows its picture, and all of them fit the window.
    int right = 0;
    for (QAction* a : ui()->toolBar->actions()) {
        if (a->isSeparator()) {
            continue;
        }
        EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
        EXPECT_FALSE(a->iconText().startsWith("IDS_"));
        QWidget* button = ui()->toolBar->widgetForAction(a);
        ASSERT_TRUE(button);
        EXPECT_TRUE(button->isVisible()) << a->text().toStdString();
        right = qMax(right, button->mapTo(&w, QPoint(button->width(), 0)).x());
    }
    EXPECT_LE(right, w.width());
    // Tree nodes carry their icons; listed contacts their photo or the empty-contact image.
    EXPECT_FALSE(tree().data(tree().index(0, 0), Qt::DecorationRole).value<QPixmap>().isNull());
    const QModelIndex phoneIdx = tree().indexOfItemNode(tree().deviceRoot()->children[0]);
    EXPECT_FALSE(tree().data(phoneIdx, Qt::DecorationRole).value<QPixmap>().isNull());
    EXPECT_FALSE(win->contactsModel()
                     .data(win->contactsModel().index(0, 0), Qt::DecorationRole)
                     .value<QPixmap>()
                     .isNull());
    // The pane shows the selected contact.
    EXPECT_EQ(ui()->wdContactInfo->shownContact().fullName, "Zoe Adams");

    // The local database with its contacts.
    select(tree().localDbRoot()->children[0]);
    ui()->treeContacts->setCurrentIndex(win->contactsModel().indexOfPos(0));
    waitFor([] { return false; }, 100);
    if (!shots.isEmpty()) {
        w.grab().save(QDir(shots).absoluteFilePath("mainwindow-localdb.png"));
    }
    EXPECT_EQ(ui()->wdContactInfo->shownContact().fullName, "Ann Lee");
    EXPECT_EQ(win->contactsModel().data(win->contactsModel().index(0, 1)).toString(), "555-0100");
    QCoreApplication::removeTranslator(&translator);
}
