// The main window never acts on contacts it does not list, and its edit form writes only what
// the user changed: driven through the real window, its slots and its edit form.
#include <gtest/gtest.h>

#include <QAction>
#include <QCryptographicHash>
#include <QMenu>
#include <memory>

#include "app/mainwindow_form.h"
#include "editor/contacteditor.h"
#include "sqlite3db.h"
#include "testutil.h"

using namespace twtest;
using Tree = ItemModelMainTree;

namespace {

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        freshDataFolder();
        Boxes::instance().reset();
        MainWindow::resetChoosers();
    }
    void TearDown() override {
        win.reset();
        MainWindow::resetChoosers();
    }
    void open() { win = std::make_unique<MainWindow>(); }
    Tree& tree() { return win->treeModel(); }
    Ui_MainWindow* ui() { return win->form(); }
    Tree::_DBItemNode* localDb(const QString& name) {
        for (Tree::_ItemNode* n : tree().localDbRoot()->children) {
            if (n->name == name) {
                return dynamic_cast<Tree::_DBItemNode*>(n);
            }
        }
        return nullptr;
    }
    void select(Tree::_ItemNode* node) {
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    }
    QStringList listedNames() {
        QStringList out;
        for (const pim::_Contact& c : win->contactsModel().contacts()) {
            out << c.fullName;
        }
        return out;
    }

    std::unique_ptr<MainWindow> win;
};

// A database from another program: it takes writes, but its groups cannot be read.
QString makeForeignDb(const QString& name) {
    const QString path = LocalDb::dbDir().absoluteFilePath(name);
    makeDb(path, {makeContact("Other", "person 1"), makeContact("Other", "person 2"),
                  makeContact("Other", "person 3")});
    Sqlite3DB db;
    db.openThrow(path, 2);
    db.executeScriptThrow("drop table contact_group");
    db.close();
    return path;
}

}  // namespace

TEST_F(WindowTest, NothingActsOnContactsAfterANodeFailedToLoad) {
    makeDb(LocalDb::dbDir().absoluteFilePath("family.db"),
           {makeContact("Anna", "Dubois", "100"), makeContact("Ben", "Lee", "200")});
    const QString foreign = makeForeignDb("foreign.db");
    open();
    Tree::_DBItemNode* family = localDb("family.db");
    Tree::_DBItemNode* bad = localDb("foreign.db");
    ASSERT_TRUE(family && bad);
    select(family);
    ASSERT_EQ(listedNames(), (QStringList{"Anna Dubois", "Ben Lee"}));
    ui()->treeContacts->selectionModel()->select(
        win->contactsModel().indexOfPos(0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ASSERT_EQ(win->contactsSelected().size(), 1);

    const QByteArray before = fileHash(foreign);
    select(bad);
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
        << Boxes::instance().dump().toStdString();
    // The list, the total, the pane and the selection are empty; no contact action is offered.
    EXPECT_TRUE(listedNames().isEmpty());
    EXPECT_EQ(ui()->lbTotal->text(), "Total:0");
    EXPECT_TRUE(paneEmpty(ui()->wdContactInfo));
    EXPECT_TRUE(win->contactsSelected().isEmpty());
    for (int a :
         {TBA_BACKUP, TBA_I2I, TBA_DB2I, TBA_EXPORT, TBA_PRINT, TBA_DELETE, TBA_NEW_CONTACT}) {
        EXPECT_FALSE(toolBarActions[a]->isEnabled()) << a;
    }

    // Every road to a delete or an edit of the failed database does nothing.
    int forms = 0;
    MainWindow::choosers().editForm = [&](EditContactForm&) {
        ++forms;
        return 1;
    };
    Boxes::instance().answerNext(true);
    QMetaObject::invokeMethod(win.get(), "miContactDel");
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    QMetaObject::invokeMethod(win.get(), "miContactEdit");
    EXPECT_FALSE(win->delContacts(family->db->contacts()));
    pim::_Contact anna = family->db->contacts(0, "Anna").value(0);
    win->editContact(anna);
    EXPECT_EQ(forms, 0);
    // The tree's context menu on it offers only its removal.
    QStringList offered;
    MainWindow::choosers().contextMenu = [&](QMenu& menu) -> QAction* {
        for (QAction* a : menu.actions()) {
            if (!a->isSeparator()) {
                offered << a->text();
            }
        }
        return nullptr;
    };
    QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
    EXPECT_EQ(offered, QStringList{"IDS_MI_REMOVE_LOCAL_DB"});
    EXPECT_EQ(fileHash(foreign), before);
    EXPECT_EQ(family->db->contacts().size(), 2);
    EXPECT_FALSE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_DEL_CONTACTS"));

    // A node that loads brings the actions back.
    select(family);
    EXPECT_EQ(listedNames(), (QStringList{"Anna Dubois", "Ben Lee"}));
    EXPECT_TRUE(toolBarActions[TBA_DELETE]->isEnabled());
    EXPECT_TRUE(toolBarActions[TBA_NEW_CONTACT]->isEnabled());
}
