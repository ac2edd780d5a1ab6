// Writes that fail on a full disk: every export format and the PDF report the system's error,
// and the file that stood at the path before stays byte for byte, with nothing left beside it.
#include "export/contactsprinter.h"
#include "export_test_util.h"
#include "export/exportrun.h"
#include "small_disk.h"

#include <QDir>

#include <cstring>
#include <sys/fsuid.h>
#include <unistd.h>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

struct Recorder : ExportReporter {
    QStringList succeeded;
    QStringList errors;
    bool cancelled() override { return false; }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

// Enough text to overflow the small disk many times over.
QList<pim::_Contact> manyContacts(int n) {
    QList<pim::_Contact> list;
    for (int i = 0; i < n; ++i) {
        pim::_Contact c = contact(
            QStringLiteral("Person %1").arg(i),
            {{pim::ENTITY_PHONE, ent({{"data1", QString::number(5550000 + i)}, {"data2", "2"}})},
             {pim::ENTITY_NOTES, ent({{"data1", QString(200, QChar('a' + i % 26))}})}});
        c._id = i + 1;
        list << c;
    }
    list[1].entities[pim::ENTITY_PHOTO] << ent({{"data15", imageBytes("PNG", 30, 30)}});
    return list;
}

}  // namespace

TEST(WriteFailures, EveryFormatKeepsTheEarlierFile) {
    const QList<pim::_Contact> contacts = manyContacts(400);
    for (bool tmpfs : {true, false}) {
        struct Target {
            int type;
            const char* name;
        };
        for (const Target& t : {Target{EXPORT_VCARD, "c.vcf"}, Target{EXPORT_CSV, "c.csv"},
                                Target{EXPORT_TXT, "c.txt"}, Target{EXPORT_HTML, "c.html"},
                                Target{EXPORT_HTML, "c.doc"}}) {
            SmallDisk disk(32, tmpfs);
            if (tmpfs && !disk.mounted())
                continue;
            const std::string what = std::string(t.name) + (tmpfs ? " tmpfs" : " limit");
            // The earlier export: a file, for HTML with its pictures folder beside it.
            QString path = disk.filePath(t.name);
            writeFile(path, "earlier export");
            if (t.type == EXPORT_HTML) {
                ASSERT_TRUE(QDir().mkpath(disk.filePath("c_files")));
                writeFile(disk.filePath("c_files/contact.png"), "old picture");
            }
            const QMap<QString, QByteArray> before = snapshot(disk.path());

            Recorder r;
            disk.arm();
            g_runExport(contacts, t.type, path, r);
            disk.disarm();
            EXPECT_TRUE(r.succeeded.isEmpty()) << what;
            EXPECT_EQ(r.errors, QStringList({disk.errorText()})) << what;
            EXPECT_EQ(snapshot(disk.path()), before) << what;
        }
    }
}

TEST(WriteFailures, HtmlRemovesWhatItWrote) {
    // A new folder: the failed export leaves neither the folder nor its pictures.
    const QList<pim::_Contact> contacts = manyContacts(400);
    for (bool tmpfs : {true, false}) {
        SmallDisk disk(32, tmpfs);
        if (tmpfs && !disk.mounted())
            continue;
        QString path = disk.filePath("new.html");
        Recorder r;
        disk.arm();
        g_runExport(contacts, EXPORT_HTML, path, r);
        disk.disarm();
        EXPECT_EQ(r.errors.size(), 1);
        EXPECT_TRUE(snapshot(disk.path()).isEmpty())
            << snapshot(disk.path()).keys().join(' ').toStdString();
    }
}

TEST(WriteFailures, PdfKeepsTheEarlierFile) {
    const QList<pim::_Contact> contacts = manyContacts(400);
    for (bool tmpfs : {true, false}) {
        SmallDisk disk(32, tmpfs);
        if (tmpfs && !disk.mounted())
            continue;
        const QString path = disk.filePath("cards.pdf");
        writeFile(path, "%PDF earlier");
        const QMap<QString, QByteArray> before = snapshot(disk.path());
        ContactsPrinter printer;
        disk.arm();
        const int cards = printer.printToPDF(contacts, path);
        disk.disarm();
        EXPECT_EQ(cards, -1);
        EXPECT_EQ(printer.errorString(), disk.errorText());
        EXPECT_EQ(snapshot(disk.path()), before);
    }
}

namespace {

// Permission checks of this thread as an ordinary user: a root process would write anywhere.
class AsOrdinaryUser {
public:
    AsOrdinaryUser() {
        if (::geteuid() == 0) {
            ::setfsuid(65534);
            m_switched = ::setfsuid(-1) == 65534;
        }
    }
    ~AsOrdinaryUser() {
        if (m_switched)
            ::setfsuid(0);
    }
    bool ok() const { return m_switched || ::geteuid() != 0; }

private:
    bool m_switched = false;
};

}  // namespace

// A shared folder that takes no new file but holds a file the user may write: the export goes
// into that file, and a failed one puts the old content back.
TEST(WriteFailures, WritableFileInAReadOnlyFolder) {
    QTemporaryDir dir;
    const QString path = dir.filePath("shared.vcf");
    writeFile(path, "earlier export");
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadOther | QFileDevice::WriteOther |
                                                QFileDevice::ReadGroup | QFileDevice::WriteGroup));
    const QFileDevice::Permissions folder = QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                            QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(dir.path(), folder));
    {
        // The folder takes no new file: refused with the system's text, the file untouched,
        // since only a file beside it can replace it whole.
        AsOrdinaryUser user;
        if (!user.ok())
            GTEST_SKIP() << "cannot drop the file-system identity";
        QString p = path;
        Recorder r;
        g_runExport(manyContacts(3), EXPORT_VCARD, p, r);
        EXPECT_TRUE(r.succeeded.isEmpty());
        EXPECT_EQ(r.errors, QStringList({QString::fromLocal8Bit(std::strerror(EACCES))}));
        EXPECT_EQ(readFile(path), QByteArray("earlier export"));
    }
    // A file the user may not write stays an error with the system's text.
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    {
        AsOrdinaryUser user;
        QString p = path;
        Recorder rp;
        g_runExport(manyContacts(3), EXPORT_VCARD, p, rp);
        EXPECT_EQ(rp.errors, QStringList({QString::fromLocal8Bit(std::strerror(EACCES))}));
    }
    EXPECT_EQ(readFile(path), QByteArray("earlier export"));
    QFile::setPermissions(dir.path(), folder | QFileDevice::WriteOwner);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"shared.vcf"}));
}
