// The data folder is fixed once per process, so each layout is checked in a child process of
// this binary ("--probe") run with its own HOME.
#include "store/data_path_util.h"
#include "store/localdb.h"
#include "platform/opener/opener.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

namespace {

QString g_self;

QString probe(const QString& home, const QString& workDir = QString()) {
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    p.setProcessEnvironment(env);
    p.start(g_self, {"--probe"});
    EXPECT_TRUE(p.waitForFinished(20000));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString linkFile(const QString& home) {
    return home +
           "/Library/Application Support/QuorVanteli/4C17E09A2D6B83F5E1A0C94B7D2E6F38.redirect";
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST(DataFolder, LinkFileInSeparateProcesses) {
    QTemporaryDir home, target;
    const QString def =
        home.path() + "/Library/Application Support/QuorVanteli/4C17E09A2D6B83F5E1A0C94B7D2E6F38";
    const QString moved = target.path() + "/4C17E09A2D6B83F5E1A0C94B7D2E6F38";
    const QString t = target.path();

    EXPECT_EQ(probe(home.path()), def + "|" + def + "/data");  // no link file
    EXPECT_TRUE(QFileInfo(def + "/data").isDir());

    struct Case {
        QByteArray link;
        QString expected;
    } cases[] = {
        {t.toUtf8(), moved},
        {t.toUtf8() + QByteArray("\0junk", 5), moved},  // read up to the first NUL
        {t.toUtf8() + "\n", def},                       // no trimming
        {t.toUtf8() + "/missing", def},
        {(t + "/file.txt").toUtf8(), def},  // a file is no folder
        {QByteArray(), def},
    };
    writeFile(t + "/file.txt", "x");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link.constData());
        writeFile(linkFile(home.path()), c.link);
        EXPECT_EQ(probe(home.path()).section('|', 0, 0), c.expected);
    }
}

TEST(DataFolder, LinkFileIsReadOnlyWhenRegularAndResolvedBesideIt) {
    QTemporaryDir home;
    const QString folder = home.path() + "/Library/Application Support/QuorVanteli";
    const QString def = folder + "/4C17E09A2D6B83F5E1A0C94B7D2E6F38";
    QDir().mkpath(folder + "/moved");
    QDir().mkpath(home.path() + "/elsewhere/moved");

    // A relative path names a folder beside the link file, from any working folder.
    writeFile(linkFile(home.path()), "moved");
    const QString moved = folder + "/moved/4C17E09A2D6B83F5E1A0C94B7D2E6F38";
    EXPECT_EQ(probe(home.path(), home.path() + "/elsewhere").section('|', 0, 0), moved);
    EXPECT_EQ(probe(home.path(), "/").section('|', 0, 0), moved);

    // A named pipe in its place is not read (it would block the start).
    QFile::remove(linkFile(home.path()));
    ASSERT_EQ(QProcess::execute("mkfifo", {linkFile(home.path())}), 0);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(probe(home.path()).section('|', 0, 0), def);
    EXPECT_LT(timer.elapsed(), 10000);
}

TEST(DataFolder, OneProgramPerDataFolderUntilItEndsAnyWay) {
    QTemporaryDir home;
    const QString folder =
        home.path() + "/Library/Application Support/QuorVanteli/4C17E09A2D6B83F5E1A0C94B7D2E6F38";
    QDir().mkpath(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    const auto start = [&](QProcess& p) {
        p.setProcessEnvironment(env);
        p.start(g_self, {"--lock"});
        EXPECT_TRUE(p.waitForReadyRead(20000));
        return QString::fromUtf8(p.readLine()).trimmed();
    };
    {
        const DataFolderLock mine(folder);
        EXPECT_FALSE(mine.heldElsewhere());
        QProcess second;
        EXPECT_EQ(start(second), "held");
        EXPECT_TRUE(second.waitForFinished(20000));
    }
    // Released with its holder: the next program gets it, and holds it until it is killed.
    QProcess other;
    EXPECT_EQ(start(other), "locked");
    EXPECT_TRUE(DataFolderLock(folder).heldElsewhere());
    other.kill();
    EXPECT_TRUE(other.waitForFinished(20000));
    EXPECT_FALSE(DataFolderLock(folder).heldElsewhere());
    // Another data folder is another program's.
    QTemporaryDir elsewhere;
    EXPECT_FALSE(DataFolderLock(elsewhere.path()).heldElsewhere());
}

TEST(DataFolder, FixedForTheProcessAndRecreated) {
    const QDir root = g_dataSaveDir();
    EXPECT_TRUE(root.exists());
    EXPECT_TRUE(root.absolutePath().startsWith(QDir::homePath()));
    QTemporaryDir other;
    g_setDataSaveDirLink(other.path());
    EXPECT_EQ(g_dataSaveDirLink(), other.path());
    EXPECT_EQ(g_dataSaveDir().absolutePath(), root.absolutePath());  // next start only
    QDir(root).removeRecursively();
    EXPECT_TRUE(g_dataSaveDir().exists());
    EXPECT_EQ(LocalDb::dbDir().absolutePath(), root.absoluteFilePath("data"));
    QFile::remove(g_dataSaveDirLinkFile());
}

TEST(DataFolder, DeleteCascadeStaysInsideTheTree) {
    QTemporaryDir tmp;
    const QString tree = tmp.path() + "/tree";
    const QString outside = tmp.path() + "/outside";
    writeFile(tree + "/a.txt", "a");
    writeFile(tree + "/sub/b.txt", "b");
    writeFile(tree + "/sub/.hidden", "h");
    writeFile(outside + "/keep.txt", "k");
    ASSERT_TRUE(QFile::link(outside, tree + "/linkdir"));
    ASSERT_TRUE(QFile::link(outside + "/keep.txt", tree + "/linkfile"));
    ASSERT_TRUE(QFile::link(outside, tmp.path() + "/toplink"));

    g_delDirCascade(tmp.path() + "/toplink");  // a link given directly: only the link goes
    EXPECT_FALSE(QFileInfo(tmp.path() + "/toplink").isSymLink());
    EXPECT_TRUE(QFile::exists(outside + "/keep.txt"));

    g_delDirCascade(tree);
    EXPECT_TRUE(QFile::exists(outside + "/keep.txt"));
    EXPECT_FALSE(QFileInfo(tree + "/linkdir").isSymLink());
    EXPECT_FALSE(QFileInfo(tree + "/linkfile").isSymLink());
    EXPECT_FALSE(QFile::exists(tree + "/a.txt"));
    EXPECT_TRUE(
        QFile::exists(tree + "/sub/.hidden"));  // hidden entries are left, with their folder
    EXPECT_FALSE(QFile::exists(tree + "/sub/b.txt"));
    g_delDirCascade(tmp.path() + "/nothing-here");
}

TEST(DataFolder, ValidFilePath) {
    QTemporaryDir tmp;
    const QString d = tmp.path() + "/";
    for (const char* f : {"report.txt", "report(1).txt", "archive.tar.gz", "README", "100%2.txt"}) {
        writeFile(d + f, "x");
    }
    EXPECT_EQ(g_getValidFilePath(d + "report.txt"), d + "report(2).txt");
    EXPECT_EQ(g_getValidFilePath(d + "archive.tar.gz"), d + "archive(1).gz");
    EXPECT_EQ(g_getValidFilePath(d + "README"), d + "README(1)");
    EXPECT_EQ(g_getValidFilePath(d + "new.db"), d + "new.db");
    EXPECT_EQ(g_getValidFilePath(d + "100%2.txt"), d + "100%2(1).txt");
}

// The opener gets the text as one argument; a fake opener records what it received.
class Opener : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        script = tmp.path() + "/opener.sh";
        out = tmp.path() + "/args.txt";
        writeFile(script,
                  QString("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1.tmp'\n"
                          "echo $# >> '%1.tmp'\nmv '%1.tmp' '%1'\n")
                      .arg(out)
                      .toUtf8());
        QFile::setPermissions(
            script, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::WriteOwner);
        tw_setOpenerProgram(script);
    }
    void TearDown() override { tw_setOpenerProgram(QString()); }
    QString received() {
        QElapsedTimer timer;
        timer.start();
        while (!QFile::exists(out) && timer.elapsed() < 10000)
            QThread::msleep(10);
        QFile f(out);
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        const QString s = QString::fromUtf8(f.readAll());
        f.close();
        QFile::remove(out);
        return s;
    }
    QTemporaryDir tmp;
    QString script, out;
};

TEST_F(Opener, PathReachesOpenerWhole) {
    const QString evil = tmp.path() + "/my \"dir\" $(touch pwned) `id` \\ ;x";
    QDir().mkpath(evil);
    EXPECT_TRUE(g_openFileOrFolder(evil));
    EXPECT_EQ(received(), evil + "\n1\n");
    EXPECT_FALSE(QFile::exists(tmp.path() + "/pwned"));
    EXPECT_FALSE(QFile::exists("pwned"));
    EXPECT_FALSE(g_openFileOrFolder(""));
}

TEST_F(Opener, OnlyOneWebLink) {
    EXPECT_TRUE(g_openLink("https://example.com/a?b=c&d=%20e#f"));
    EXPECT_EQ(received(), "https://example.com/a?b=c&d=%20e#f\n1\n");
    for (const char* bad :
         {"", "file:///etc/passwd", "javascript:alert(1)", "ftp://example.com/", "http://a b",
          "https://x.com\nhttps://y.com", "-https://x.com", "https://", "http:/x.com",
          "https://x.com/$(id)\t", "example.com", "\"https://x.com\""}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(g_openLink(QString::fromUtf8(bad)));
    }
    EXPECT_FALSE(QFile::exists(out));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--lock") == 0) {
        const DataFolderLock lock(g_dataSaveDir().absolutePath());
        std::printf("%s\n", lock.heldElsewhere() ? "held" : "locked");
        std::fflush(stdout);
        if (!lock.heldElsewhere())
            QThread::sleep(60);  // until killed
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--probe") == 0) {
        const QString root = g_dataSaveDir().absolutePath();
        const QString db = LocalDb::dbDir().absolutePath();
        std::printf("%s|%s\n", root.toUtf8().constData(), db.toUtf8().constData());
        return 0;
    }
    // Never touch a real user's data folder, also when run by hand outside CTest.
    QTemporaryDir privateHome;
    if (qEnvironmentVariableIsEmpty("TW_TEST_HOME"))
        qputenv("HOME", privateHome.path().toUtf8());
    QCoreApplication app(argc, argv);
    g_self = QCoreApplication::applicationFilePath();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
