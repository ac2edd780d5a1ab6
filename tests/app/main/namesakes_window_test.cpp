// The simulator's default phone, with its namesakes, through the window's backup and restore:
// every person stays a person of their own, and repeating a backup or a restore adds nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>

#include "app/mainwindow_form.h"
#include "tests/fakedevice/fakedevice.h"
#include "store/localdb.h"
#include "testutil.h"
#include "windowfixture.h"

using namespace twtest;

namespace {

// A person as the user sees them: full name with their numbers and e-mail addresses.
QStringList peopleOf(LocalDb& db) {
    QStringList out;
    for (const pim::_Contact& listed : db.contacts()) {
        const pim::_Contact c = db.contact(listed._id);
        QStringList reach;
        for (int type : {pim::ENTITY_PHONE, pim::ENTITY_EMAIL}) {
            for (const pim::Entity& e : c.entities.value(type))
                reach << e.text("data1");
        }
        reach.sort();
        out << c.fullName + "|" + reach.join(',');
    }
    out.sort();
    return out;
}

int sharedNames(LocalDb& db) {
    QMap<QString, int> n;
    for (const pim::_Contact& c : db.contacts())
        ++n[c.fullName];
    int shared = 0;
    for (int count : n)
        shared += count > 1;
    return shared;
}

class Namesakes : public WindowTest {
protected:
    void select(Tree::_ItemNode* node) {
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    }
    Tree::_DBItemNode* phoneNode(const std::string& udid) {
        for (int i = 0; i < tree().deviceRoot()->children.size(); ++i) {
            Tree::_DBItemNode* n = dbChild(tree().deviceRoot(), i);
            if (n && n->id == QString::fromStdString(udid))
                return n;
        }
        return nullptr;
    }
    // Restores the current node's contacts to the phone of `udid`.
    void restoreTo(const std::string& udid) {
        choosers.dataSource = [udid](QWidget*, const QString&,
                                     const QList<DataSourceSelForm::_SelItem>& items) {
            for (const DataSourceSelForm::_SelItem& item : items) {
                auto* n = static_cast<Tree::_DBItemNode*>(item.data);
                if (n->id == QString::fromStdString(udid))
                    return item.data;
            }
            return static_cast<void*>(nullptr);
        };
        Boxes::instance().reset();
        QMetaObject::invokeMethod(win.get(), "miTreeDB2I");
        EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
            << Boxes::instance().dump().toStdString();
    }
    void expectNothingSent(fakedevice::Phone& phone) {
        for (const fakedevice::SyncSession& s : phone.syncSessions()) {
            for (const fakedevice::Plist& sent : s.changesReceived)
                ADD_FAILURE() << "sent: " << sent.toXml().substr(0, 2000);
        }
    }
};

}  // namespace

TEST_F(Namesakes, BackupAndRestoreOfTheDefaultPhoneKeepEveryPerson) {
    const std::string udidA = fakedevice::makeUdid(51);
    auto phoneA = std::make_shared<fakedevice::Phone>(udidA, "Phone A");
    phoneA->generateContacts(300);
    phoneServer()->attach(phoneA);
    open();
    ASSERT_TRUE(waitFor([&] { return phoneNode(udidA) != nullptr; }));
    Tree::_DBItemNode* mirrorA = phoneNode(udidA);
    const QStringList people = peopleOf(*mirrorA->db);
    ASSERT_EQ(people.size(), 300);
    ASSERT_GE(sharedNames(*mirrorA->db), 20);

    // Backed up twice: 300 people, the second time all merged and nothing added.
    choosers.dbName = [](QWidget*, const QString&) { return QString("A.db"); };
    select(mirrorA);
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miTreeBackup");
    EXPECT_TRUE(
        Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_IMPORT_300_TO_LOCALDB"))
        << Boxes::instance().dump().toStdString();
    ASSERT_EQ(tree().localDbRoot()->children.size(), 1);
    Tree::_DBItemNode* backup = dbChild(tree().localDbRoot(), 0);
    EXPECT_EQ(peopleOf(*backup->db), people);
    select(mirrorA);
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miTreeBackup");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information,
                                           "IDS_SUC_IMPORT_0_TO_LOCALDB_300_MERGED"))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(peopleOf(*backup->db), people);

    // Restored untouched to the same phone: nothing is sent.
    const std::string before = phoneA->records().toXml();
    phoneA->clearJournal();
    select(backup);
    restoreTo(udidA);
    expectNothingSent(*phoneA);
    EXPECT_EQ(phoneA->records().toXml(), before);

    // Restored to an empty phone: 300 people, each with their own details; again, nothing.
    const std::string udidB = fakedevice::makeUdid(52);
    auto phoneB = std::make_shared<fakedevice::Phone>(udidB, "Phone B");
    phoneServer()->attach(phoneB);
    ASSERT_TRUE(waitFor([&] { return phoneNode(udidB) != nullptr; }));
    select(backup);
    restoreTo(udidB);
    EXPECT_EQ(phoneB->recordIds("com.apple.contacts.Contact").size(), 300u);
    EXPECT_EQ(peopleOf(*phoneNode(udidB)->db), people);
    phoneB->clearJournal();
    select(backup);
    restoreTo(udidB);
    expectNothingSent(*phoneB);
    EXPECT_EQ(phoneB->recordIds("com.apple.contacts.Contact").size(), 300u);

    // Exported to a vCard file and imported again, twice into a new database and into the
    // backup: the new database holds the 300 people once, the backup gains no contact.
    const QString vcf = QDir(QString::fromLocal8Bit(qgetenv("HOME"))).absoluteFilePath("a.vcf");
    QFile::remove(vcf);
    choosers.saveFile = [vcf](QWidget*, const QString&, const QString& filters, QString* selected) {
        *selected = filters.split(";;").value(0);  // vCard
        return vcf;
    };
    select(backup);
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miTreeExport");
    ASSERT_TRUE(QFileInfo(vcf).isFile()) << Boxes::instance().dump().toStdString();
    choosers.openFile = [vcf](QWidget*, const QString& filters, QString* selected) {
        *selected = filters.split(";;").value(0);
        return vcf;
    };
    for (const char* into : {"fresh.db", "fresh.db", "A.db"}) {
        choosers.dbName = [into](QWidget*, const QString&) { return QString(into); };
        Boxes::instance().reset();
        QMetaObject::invokeMethod(win.get(), "miImport");
        const bool first = QString(into) == "fresh.db" &&
                           Boxes::instance().contains(QMessageBox::Information,
                                                      "IDS_SUC_IMPORT_300_CONTACTS_TO_DB");
        EXPECT_TRUE(first ||
                    Boxes::instance().contains(QMessageBox::Information,
                                               "IDS_SUC_IMPORT_0_CONTACTS_TO_DB_300_MERGED"))
            << into << "\n"
            << Boxes::instance().dump().toStdString();
    }
    EXPECT_EQ(peopleOf(*backup->db), people);
    for (int i = 0; i < tree().localDbRoot()->children.size(); ++i) {
        Tree::_DBItemNode* n = dbChild(tree().localDbRoot(), i);
        if (n->name == "fresh.db") {
            EXPECT_EQ(peopleOf(*n->db), people);
        }
    }
}
