// A phone backed up into a database the window makes for it: the database is marked unfinished
// before it exists and until the backup ends, a backup that does not finish leaves none behind,
// and a name as long as the file system allows is made or refused in words.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include "app/unfinishedimport.h"
#include "store/localdb.h"
#include "ui/progressform.h"
#include "windowfixture.h"

using namespace twtest;

namespace {

// `letter` repeated, then ".db", to at most `bytes` bytes of UTF-8.
QString nameOfBytes(const QString& letter, int bytes) {
    QString name;
    while ((name + letter).toUtf8().size() + 3 <= bytes)
        name += letter;
    return name + QStringLiteral(".db");
}

ProgressForm* visibleProgress() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* f = qobject_cast<ProgressForm*>(w);
        if (f && f->isVisible())
            return f;
    }
    return nullptr;
}

class NewDatabase : public WindowTest {
protected:
    // Opens the window on a phone of 300 contacts and selects its mirror.
    void openOnPhone() {
        const std::string udid = fakedevice::makeUdid(61);
        phone = std::make_shared<fakedevice::Phone>(udid, "Phone");
        phone->generateContacts(300);
        phoneServer()->attach(phone);
        open();
        ASSERT_TRUE(waitFor([&] { return dbChild(tree().deviceRoot(), 0) != nullptr; }));
        select(dbChild(tree().deviceRoot(), 0));
    }
    void select(Tree::_ItemNode* node) {
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    }
    void backupInto(const QString& name) {
        choosers.dbName = [name](QWidget*, const QString&) { return name; };
        Boxes::instance().reset();
        QMetaObject::invokeMethod(win.get(), "miTreeBackup");
    }
    QStringList dataFiles() const { return LocalDb::dbDir().entryList(QDir::Files | QDir::Hidden); }
    std::shared_ptr<fakedevice::Phone> phone;
};

}  // namespace

TEST_F(NewDatabase, ABackupIntoANewDatabaseIsMarkedWhileItRuns) {
    openOnPhone();
    const QString db = LocalDb::dbDir().absoluteFilePath("A.db");
    const QString mark = UnfinishedImportMark::markPath(db);
    // Watched from the window's own event loops while the backup runs.
    bool unmarked = false, marked = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QFileInfo::exists(db) && !QFileInfo::exists(mark))
            unmarked = true;
        if (visibleProgress() && QFileInfo::exists(mark))
            marked = true;
    });
    watch.start(0);
    backupInto("A.db");
    watch.stop();
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_IMPORT_300"))
        << Boxes::instance().dump().toStdString();
    EXPECT_TRUE(marked);
    EXPECT_FALSE(unmarked);
    EXPECT_EQ(dataFiles(), QStringList{"A.db"});

    // Into the same, existing database: no mark.
    select(dbChild(tree().deviceRoot(), 0));
    bool markedAgain = false;
    QTimer again;
    QObject::connect(&again, &QTimer::timeout, [&] {
        if (QFileInfo::exists(mark))
            markedAgain = true;
    });
    again.start(0);
    backupInto("A.db");
    again.stop();
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_IMPORT_0"))
        << Boxes::instance().dump().toStdString();
    EXPECT_FALSE(markedAgain);
    EXPECT_EQ(dataFiles(), QStringList{"A.db"});
}

TEST_F(NewDatabase, ACancelledBackupLeavesNoNewDatabase) {
    openOnPhone();
    QTimer cancel;
    bool pressed = false;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        ProgressForm* form = visibleProgress();
        if (form && !pressed) {
            pressed = true;
            Boxes::instance().answerNext(true);
            emit form->findChild<QPushButton*>("btnCancel")->pressed();
        }
    });
    cancel.start(0);
    backupInto("B.db");
    cancel.stop();
    ASSERT_TRUE(pressed);
    EXPECT_FALSE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_IMPORT"))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(dataFiles(), QStringList());
    EXPECT_TRUE(tree().localDbRoot()->children.isEmpty());
}

TEST_F(NewDatabase, NamesUpToTheLimitAreMadeOrRefusedInWords) {
    openOnPhone();
    // 255 bytes is a legal file name, but SQLite's journal beside it would not be.
    for (const QString& letter : {QStringLiteral("z"), QString::fromUtf8("ü")}) {
        const QString tooLong = nameOfBytes(letter, 255);
        select(dbChild(tree().deviceRoot(), 0));
        backupInto(tooLong);
        EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Critical, "The name is too long"))
            << Boxes::instance().dump().toStdString();
        EXPECT_EQ(dataFiles(), QStringList());
        EXPECT_TRUE(tree().localDbRoot()->children.isEmpty());
    }
    // The longest name that takes its journal too, in two-byte letters, holds the backup.
    const QString longest = nameOfBytes(QString::fromUtf8("ü"), 247);
    ASSERT_GE(longest.toUtf8().size(), 246);
    select(dbChild(tree().deviceRoot(), 0));
    backupInto(longest);
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_IMPORT_300"))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(dataFiles(), QStringList{longest});
    ASSERT_EQ(tree().localDbRoot()->children.size(), 1);
    EXPECT_EQ(dbChild(tree().localDbRoot(), 0)->db->contacts().size(), 300);
}
