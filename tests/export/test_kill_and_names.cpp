// Exports killed at any moment, and target names at the file system's length limit: the old
// file or the new one stands whole, and a legal name never fails for what a temporary adds.
#include "export_test_util.h"
#include "export/exportrun.h"
#include "export/pagefolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <unistd.h>

using namespace exporttest;

namespace {

struct Quiet : ExportReporter {
    // Slow enough for a kill to land inside the run.
    int pauseUs = 0;
    QStringList succeeded, errors;
    bool cancelled() override { return false; }
    void progress(QString, int, QString) override {
        if (pauseUs)
            ::usleep(useconds_t(pauseUs));
    }
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

QList<pim::_Contact> people(int n) {
    QList<pim::_Contact> list;
    for (int i = 0; i < n; ++i) {
        pim::_Contact c = contact(
            QStringLiteral("Person %1").arg(i),
            {{pim::ENTITY_PHONE, ent({{"data1", QString::number(5550000 + i)}, {"data2", "2"}})},
             {pim::ENTITY_NOTES, ent({{"data1", QString(100, QChar('a' + i % 26))}})}});
        c._id = i + 1;
        list << c;
    }
    return list;
}

// The whole of a finished export of `n` people, by its ending.
bool complete(int type, const QByteArray& bytes, int n) {
    switch (type) {
        case EXPORT_VCARD:
            return bytes.count("END:VCARD") == n && bytes.endsWith("END:VCARD\r\n");
        case EXPORT_CSV:
            return bytes.count('\n') == n + 1 &&
                   bytes.contains("\n" + QByteArray::number(5550000 + n - 1) + ",");
        default:
            return bytes.endsWith("</body></html>") && bytes.count("<img ") == n;
    }
}

}  // namespace

// The child side: `--export-child TYPE PATH N` exports N people slowly and exits.
int g_exportChild(int argc, char** argv) {
    if (argc < 5)
        return 2;
    QString path = QString::fromLocal8Bit(argv[3]);
    Quiet q;
    q.pauseUs = 300;
    g_runExport(people(atoi(argv[4])), atoi(argv[2]), path, q);
    return q.succeeded.size() == 1 ? 0 : 1;
}

TEST(KilledExport, LeavesTheOldFileOrTheNewOneWhole) {
    QTemporaryDir dir;
    const int n = 300;
    QRandomGenerator rng(11);
    struct Target {
        int type;
        const char* name;
    };
    for (const Target& t : {Target{EXPORT_VCARD, "c.vcf"}, Target{EXPORT_CSV, "c.csv"},
                            Target{EXPORT_HTML, "c.html"}}) {
        const QString path = dir.filePath(t.name);
        int oldSeen = 0, newSeen = 0;
        for (int round = 0; round < 8; ++round) {
            writeFile(path, "earlier export");
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {"--export-child", QString::number(t.type), path, QString::number(n)});
            ASSERT_TRUE(child.waitForStarted(5000));
            // From before the file is opened to after the export ended (about 100 ms).
            QThread::msleep(rng.bounded(5 + round * 20));
            ::kill(pid_t(child.processId()), SIGKILL);
            child.waitForFinished(5000);
            const QByteArray now = readFile(path);
            if (now == "earlier export") {
                ++oldSeen;
            } else {
                EXPECT_TRUE(complete(t.type, now, n))
                    << t.name << " round " << round << ": " << now.right(200).toStdString();
                ++newSeen;
            }
        }
        EXPECT_GT(oldSeen, 0) << t.name;
        // The last rounds run long enough to finish.
        QProcess last;
        last.start(QCoreApplication::applicationFilePath(),
                   {"--export-child", QString::number(t.type), path, QString::number(n)});
        ASSERT_TRUE(last.waitForFinished(20000));
        EXPECT_EQ(last.exitCode(), 0);
        EXPECT_TRUE(complete(t.type, readFile(path), n)) << t.name;
    }
}

TEST(ExportNames, LegalNamesUpToTheLimitAreWritten) {
    QTemporaryDir dir;
    const QList<pim::_Contact> list = people(2);
    // Names of 248 to 255 bytes: ASCII, and two-byte letters that a cut must not split.
    QStringList names;
    for (int len : {248, 251, 255})
        names << QString(len - 4, 'n') + ".vcf";
    names << QString(125, QChar(0xe9)) + ".vcf";  // 254 bytes in UTF-8
    for (const QString& name : names) {
        ASSERT_LE(QFile::encodeName(name).size(), 255);
        QString path = dir.filePath(name);
        for (int again = 0; again < 2; ++again) {  // a new file, then over the old one
            Quiet q;
            g_runExport(list, EXPORT_VCARD, path, q);
            EXPECT_EQ(q.errors, QStringList()) << name.size();
            EXPECT_EQ(readFile(path).count("END:VCARD"), 2);
        }
    }
    // A 255-byte page: the pictures folder gets a name within the limit beside it.
    QString page = dir.filePath(QString(250, 'p') + ".html");
    Quiet q;
    g_runExport(list, EXPORT_HTML, page, q);
    EXPECT_EQ(q.errors, QStringList());
    const QString folder = PageFolder::firstName(page);
    EXPECT_EQ(QFile::encodeName(folder).size(), 255);
    EXPECT_TRUE(folder.endsWith("_files"));
    EXPECT_TRUE(QFileInfo(dir.filePath(folder + "/contact.png")).isFile());

    // Only what the system refuses fails, with its text.
    QString tooLong = dir.filePath(QString(256, 'x'));
    Quiet qt;
    g_runExport(list, EXPORT_VCARD, tooLong, qt);
    EXPECT_EQ(qt.errors, QStringList{QString::fromLocal8Bit(std::strerror(ENAMETOOLONG))});
    // Nothing left beside the targets.
    for (const QString& f : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
        EXPECT_FALSE(f.startsWith('.')) << f.toStdString();
}
