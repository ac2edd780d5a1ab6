// An import into a new database that does not finish leaves no empty database: not when it
// fails or is cancelled, and not when the program is killed (the next start removes it).
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

const char kDbName[] = "big.vcf.db";

QString vcardPath() {
    return QDir(QString::fromLocal8Bit(qgetenv("HOME"))).absoluteFilePath("big.vcf");
}

void writeVCards(int n) {
    QFile f(vcardPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (int i = 0; i < n; ++i) {
        f.write(QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Last%1;First;;;\r\nFN:First "
                               "Last%1\r\nTEL;TYPE=CELL:555-%1\r\nEMAIL:p%1@example.org\r\n"
                               "NOTE:a note long enough to take some room on disk\r\nEND:VCARD\r\n")
                    .arg(i)
                    .toUtf8());
    }
}

// The window's choosers, answered by the test.
ChooserScripts scripts;
ScriptedChoosers answering{scripts};

void chooseFileAndDb() {
    scripts.openFile = [](QWidget*, const QString& filters, QString* selected) {
        *selected = filters.split(";;").value(0);
        return vcardPath();
    };
    scripts.dbName = [](QWidget*, const QString&) { return QString(kDbName); };
}

QStringList localNodes(MainWindow& w) {
    QStringList out;
    for (auto* child : w.treeModel().localDbRoot()->children)
        out << child->name;
    return out;
}

class UnfinishedImport : public ::testing::Test {
protected:
    void SetUp() override {
        freshDataFolder();
        Boxes::instance().reset();
        scripts = ChooserScripts();
    }
    void TearDown() override { scripts = ChooserScripts(); }
    QString dbPath() const { return LocalDb::dbDir().absoluteFilePath(kDbName); }
    QString markPath() const { return UnfinishedImportMark::markPath(dbPath()); }
};

}  // namespace

// The child side: `--import-child` runs the window's import of big.vcf into a new database.
int importChild() {
    Boxes::instance().install();
    chooseFileAndDb();
    MainWindow w(answering);
    QMetaObject::invokeMethod(&w, "miImport");
    return 0;
}

TEST_F(UnfinishedImport, AKilledImportLeavesNoDatabaseAfterTheNextStart) {
    // Big enough that the import is still running at the latest kill (400 ms after the
    // database appears) on a fast machine: 20,000 of these cards import in about 0.3 s.
    writeVCards(200000);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        freshDataFolder();
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--import-child"});
        ASSERT_TRUE(child.waitForStarted(5000));
        // The mark comes first, then the database: kill once both are there.
        ASSERT_TRUE(waitFor(
            [&] { return QFileInfo::exists(markPath()) && QFileInfo::exists(dbPath()); }, 20000));
        QThread::msleep(50 + 150 * round);
        ::kill(pid_t(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(5000));
        // Killed in the middle: the new database and its mark are still there.
        ASSERT_TRUE(QFileInfo::exists(dbPath()));
        ASSERT_TRUE(QFileInfo::exists(markPath()));

        MainWindow w(answering);
        EXPECT_FALSE(QFileInfo::exists(dbPath()));
        EXPECT_FALSE(QFileInfo::exists(markPath()));
        EXPECT_FALSE(QFileInfo::exists(dbPath() + "-journal"));
        EXPECT_EQ(localNodes(w), QStringList());
    }
}

TEST_F(UnfinishedImport, MarksAreGoneOnceTheImportEndsAndCommittedDatabasesStay) {
    writeVCards(3);
    {
        MainWindow w(answering);
        chooseFileAndDb();
        QMetaObject::invokeMethod(&w, "miImport");
        EXPECT_EQ(localNodes(w), QStringList{kDbName}) << Boxes::instance().dump().toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(dbPath()));
    EXPECT_FALSE(QFileInfo::exists(markPath()));

    // Killed after the commit, before the mark went: the database holds the import and stays.
    QFile(markPath()).open(QIODevice::WriteOnly);
    // A marked database that is empty, and a mark without a database, both go.
    makeDb(LocalDb::dbDir().absoluteFilePath("empty.db"), {});
    QFile(UnfinishedImportMark::markPath(LocalDb::dbDir().absoluteFilePath("empty.db")))
        .open(QIODevice::WriteOnly);
    QFile(UnfinishedImportMark::markPath(LocalDb::dbDir().absoluteFilePath("gone.db")))
        .open(QIODevice::WriteOnly);
    // A name as long as a database may have: the mark's own name is shortened to fit and the
    // mark names the database inside.
    const QString longDb = LocalDb::dbDir().absoluteFilePath(QString(244, 'l') + ".db");
    makeDb(longDb, {});
    const QString longMark = UnfinishedImportMark::markPath(longDb);
    EXPECT_EQ(QFile::encodeName(QFileInfo(longMark).fileName()).size(), 255);
    {
        QFile f(longMark);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QFileInfo(longDb).fileName().toUtf8());
    }
    // An empty database without a mark is the user's own and stays.
    makeDb(LocalDb::dbDir().absoluteFilePath("mine.db"), {});
    MainWindow w(answering);
    QStringList nodes = localNodes(w);
    nodes.sort();
    EXPECT_EQ(nodes, (QStringList{kDbName, "mine.db"}));
    EXPECT_EQ(LocalDb::dbDir().entryList(QDir::Files | QDir::Hidden),
              (QStringList{kDbName, "mine.db"}));

    // A failed import into a new database leaves neither the database nor a mark.
    QFile bad(vcardPath());
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("no vCard at all\n");
    bad.close();
    scripts.dbName = [](QWidget*, const QString&) { return QString("new.db"); };
    scripts.openFile = [](QWidget*, const QString& filters, QString* selected) {
        *selected = filters.split(";;").value(0);
        return vcardPath();
    };
    QMetaObject::invokeMethod(&w, "miImport");
    EXPECT_EQ(LocalDb::dbDir().entryList(QDir::Files | QDir::Hidden),
              (QStringList{kDbName, "mine.db"}));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--import-child") == 0)
        return importChild();
    ::testing::InitGoogleTest(&argc, argv);
    Boxes::instance().install();
    const int rc = RUN_ALL_TESTS();
    g_setMessageBoxHook(MessageBoxHook());
    return rc;
}
