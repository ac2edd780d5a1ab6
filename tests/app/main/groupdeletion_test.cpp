// Deleting a group says what goes with it: how many contacts, and that they leave the phone.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMenu>

#include "app/mainwindow_form.h"
#include "tests/fakedevice/fakedevice.h"
#include "store/localdb.h"
#include "testutil.h"
#include "ui/translator.h"
#include "windowfixture.h"

using namespace twtest;

namespace {

class GroupDeletion : public WindowTest {
protected:
    void select(Tree::_ItemNode* node) {
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    }
    Tree::_ItemNode* group(Tree::_DBItemNode* db, const QString& name) {
        for (Tree::_ItemNode* child : db->children) {
            if (child->name == name)
                return child;
        }
        ADD_FAILURE() << "no group " << name.toStdString();
        return nullptr;
    }
    // The entries of the tree's context menu for the current node.
    QStringList menuEntries() {
        QStringList entries;
        choosers.contextMenu = [&entries](QMenu& m) -> QAction* {
            for (QAction* a : m.actions()) {
                if (!a->isSeparator())
                    entries << a->text();
            }
            return nullptr;
        };
        QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
        return entries;
    }
    // Asks to delete the current group and answers `yes`; returns the question's text.
    QString deleteGroup(bool yes) {
        Boxes::instance().reset();
        Boxes::instance().answerNext(yes);
        QMetaObject::invokeMethod(win.get(), "miTreeDel");
        for (const Box& b : Boxes::instance().shown) {
            if (b.icon == QMessageBox::Question)
                return b.text;
        }
        return QString();
    }
};

}  // namespace

TEST_F(GroupDeletion, TheQuestionCountsTheContactsThatGoWithTheGroup) {
    const QString path = LocalDb::dbDir().absoluteFilePath("family.db");
    makeDb(path, {makeContact("Ann", "Lee", "100"), makeContact("Ben", "Lee", "200"),
                  makeContact("Cid", "Moe", "300")});
    {
        LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.beginEdit();
        const quint64 friends = db.getGroupIdOrAdd("Friends");
        const quint64 solo = db.getGroupIdOrAdd("Solo");
        db.getGroupIdOrAdd("Empty");
        const QList<pim::_Contact> all = db.contacts();
        db.setGroup(all[0]._id, friends, "Friends");
        db.setGroup(all[1]._id, friends, "Friends");
        db.setGroup(all[2]._id, solo, "Solo");
        db.endEdit(true);
    }
    open();
    Tree::_DBItemNode* node = dbChild(tree().localDbRoot(), 0);
    ASSERT_NE(node, nullptr);
    tree().refreshDbNodeGroups(node);
    ASSERT_EQ(node->children.size(), 3);

    select(group(node, "Friends"));
    EXPECT_TRUE(menuEntries().contains("IDS_MI_DEL_GROUP"));
    // No keeps everything; the question names the two contacts.
    EXPECT_EQ(deleteGroup(false), "IDS_CONFIRM_DEL_GROUP<br/>IDS_CONFIRM_DEL_GROUP_2_MEMBERS");
    EXPECT_EQ(node->db->contacts().size(), 3);
    EXPECT_EQ(node->children.size(), 3);

    select(group(node, "Solo"));
    EXPECT_EQ(deleteGroup(true), "IDS_CONFIRM_DEL_GROUP<br/>IDS_CONFIRM_DEL_GROUP_1_MEMBER");
    EXPECT_EQ(node->db->contacts().size(), 2);

    select(group(node, "Empty"));
    EXPECT_EQ(deleteGroup(true), "IDS_CONFIRM_DEL_GROUP<br/>IDS_CONFIRM_DEL_GROUP_EMPTY");
    EXPECT_EQ(node->db->contacts().size(), 2);
    EXPECT_EQ(node->children.size(), 1);

    // In English, as the user reads it.
    TwTranslator translator;
    ASSERT_TRUE(translator.load(":/en.qm"));
    QCoreApplication::installTranslator(&translator);
    select(group(node, "Friends"));
    const QString english = deleteGroup(false);
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(english,
              "Confirm to delete the Group?<br/>The 2 contacts in it will be deleted with it.");
}

TEST_F(GroupDeletion, OnAPhoneTheQuestionSaysTheContactsLeaveThePhone) {
    auto phone = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(41), "Grouped");
    phone->generateContacts(4);
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    Tree::_DBItemNode* node = dbChild(tree().deviceRoot(), 0);
    ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    // Two contacts into a group of the mirror.
    QItemSelectionModel* sel = ui()->treeContacts->selectionModel();
    sel->select(win->contactsModel().indexOfPos(0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    sel->select(win->contactsModel().indexOfPos(1),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    choosers.group = [](QWidget*, LocalDb*, quint64& id, QString& name) {
        id = 0;
        name = "Team";
        return true;
    };
    QMetaObject::invokeMethod(win.get(), "miContactSetGroup");
    ASSERT_EQ(node->children.size(), 1);
    select(node->children[0]);
    EXPECT_TRUE(menuEntries().contains("IDS_MI_DEL_GROUP"));

    EXPECT_EQ(deleteGroup(false),
              "IDS_CONFIRM_DEL_GROUP<br/>IDS_CONFIRM_DEL_GROUP_2_MEMBERS_PHONE");
    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), 4u);
    EXPECT_EQ(deleteGroup(true), "IDS_CONFIRM_DEL_GROUP<br/>IDS_CONFIRM_DEL_GROUP_2_MEMBERS_PHONE");
    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), 2u);
    EXPECT_EQ(node->db->contacts().size(), 2);
}
