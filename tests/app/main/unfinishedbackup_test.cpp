// A backup into a new database that is killed half-way leaves no database after the next start:
// the database is marked unfinished before it is made, and the start removes what the mark names.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstring>

#include "app/mainwindow.h"
#include "app/mainwindow_form.h"
#include "app/unfinishedimport.h"
#include "store/localdb.h"
#include "testutil.h"

using namespace twtest;

namespace {

const char kSource[] = "source.db";
const char kCopy[] = "source-copy.db";

ChooserScripts scripts;
ScriptedChoosers answering{scripts};

QString dbPath(const char* name) {
    return LocalDb::dbDir().absoluteFilePath(name);
}

QList<pim::_Contact> people(int n) {
    QList<pim::_Contact> out;
    for (int i = 0; i < n; ++i) {
        pim::_Contact c(0, QString(), QStringLiteral("First Last%1").arg(i));
        pim::Entity name, phone;
        name.fields["data2"] = QStringLiteral("First");
        name.fields["data3"] = QStringLiteral("Last%1").arg(i);
        name.fields["data1"] = c.fullName;
        phone.fields["data1"] = QStringLiteral("555-%1").arg(i);
        phone.fields["data2"] = 2;
        c.entities[pim::ENTITY_NAME] << name;
        c.entities[pim::ENTITY_PHONE] << phone;
        out << c;
    }
    return out;
}

QStringList localNodes(MainWindow& w) {
    QStringList out;
    for (auto* child : w.treeModel().localDbRoot()->children)
        out << child->name;
    out.sort();
    return out;
}

}  // namespace

// The child side: `--backup-child` backs the source database up into a new one.
int backupChild() {
    Boxes::instance().install();
    scripts.dbName = [](QWidget*, const QString&) { return QString(kCopy); };
    MainWindow w(answering);
    ItemModelMainTree& tree = w.treeModel();
    for (auto* child : tree.localDbRoot()->children) {
        if (child->name == kSource)
            w.form()->treeMain->setCurrentIndex(tree.indexOfItemNode(child));
    }
    QMetaObject::invokeMethod(&w, "miTreeBackup");
    return 0;
}

TEST(UnfinishedBackup, AKilledBackupIntoANewDatabaseLeavesNoneAfterTheNextStart) {
    freshDataFolder();
    makeDb(dbPath(kSource), people(20000));
    const QString mark = UnfinishedImportMark::markPath(dbPath(kCopy));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--backup-child"});
        ASSERT_TRUE(child.waitForStarted(5000));
        ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(mark); }, 30000));
        if (round > 0) {
            // In the middle of the writing: its journal is there until the commit. A fixed
            // wait would land after the commit on a fast machine.
            const QString journal = dbPath(kCopy) + "-journal";
            ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(journal); }, 30000));
        }
        ::kill(pid_t(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(5000));
        // Killed in the middle (or right after the mark): the mark is still there.
        ASSERT_TRUE(QFileInfo::exists(mark));

        MainWindow w(answering);
        EXPECT_FALSE(QFileInfo::exists(dbPath(kCopy)));
        EXPECT_FALSE(QFileInfo::exists(mark));
        EXPECT_EQ(localNodes(w), QStringList{kSource});
    }
    // Left to finish, the backup keeps its database and no mark.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {"--backup-child"});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_FALSE(QFileInfo::exists(mark));
    EXPECT_EQ(LocalDb(dbPath(kCopy), QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule))
                  .contacts()
                  .size(),
              20000);
    MainWindow w(answering);
    EXPECT_EQ(localNodes(w), (QStringList{kCopy, kSource}));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--backup-child") == 0)
        return backupChild();
    ::testing::InitGoogleTest(&argc, argv);
    Boxes::instance().install();
    const int rc = RUN_ALL_TESTS();
    g_setMessageBoxHook(MessageBoxHook());
    return rc;
}
