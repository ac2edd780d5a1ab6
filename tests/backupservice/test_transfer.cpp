// Raw file transfer in both directions against a scripted device, including hostile input.
#include "backupservice/backup2tool.h"
#include "scripted_link.h"
#include "test_util.h"

#include <sys/stat.h>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

const QString kUdid = QStringLiteral("0123456789abcdef0123456789abcdef01234567");

QString whatOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::runtime_error& e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

QByteArray nameFrame(const QByteArray& n) {
    return be32(quint32(n.size())) + n;
}

}  // namespace

TEST(Download, FramesForPresentMissingEmptyAndLargeFiles) {
    QTemporaryDir dir;
    QDir root(dir.path());
    writeFile(root.filePath(kUdid + "/a"), "hello");
    writeFile(root.filePath(kUdid + "/empty"), "");
    writeFile(root.filePath(kUdid + "/big"), pattern(32769));
    writeFile(root.filePath(kUdid + "/exact"), pattern(32768));

    backup2tool tool(kUdid, root);
    ScriptedLink link;
    tool.sendFilesThrow(link,
                        dlMessage("DLMessageDownloadFiles",
                                  {strArray({kUdid + "/a", kUdid + "/missing", "", kUdid + "/empty",
                                             kUdid + "/exact", kUdid + "/big"}),
                                   PlistCFType::createCFDictionary(), real(0.5)}));
    QByteArray expected;
    expected += nameFrame((kUdid + "/a").toUtf8()) + be32(6) +
                "\x0c"
                "hello" +
                be32(1) + QByteArray(1, 0);
    expected += nameFrame((kUdid + "/missing").toUtf8()) + be32(1) + "\x06";
    expected += nameFrame((kUdid + "/empty").toUtf8()) + be32(1) + QByteArray(1, 0);
    expected += nameFrame((kUdid + "/exact").toUtf8()) + QByteArray("\x00\x00\x80\x01", 4) +
                "\x0c" + pattern(32768) + be32(1) + QByteArray(1, 0);
    const QByteArray big = pattern(32769);
    expected += nameFrame((kUdid + "/big").toUtf8()) + QByteArray("\x00\x00\x80\x01", 4) + "\x0c" +
                big.left(32768) + be32(2) + "\x0c" + big.right(1) + be32(1) + QByteArray(1, 0);
    expected += be32(0);
    EXPECT_EQ(link.out, expected);
    // The end block goes out as a length word and then one byte.
    EXPECT_EQ(link.sendCalls.last(), be32(0));
    EXPECT_EQ(link.sendCalls.at(link.sendCalls.size() - 2), QByteArray(1, 0));

    ASSERT_EQ(link.statuses.size(), 1);
    EXPECT_EQ(link.statuses[0].code, -13);
    EXPECT_EQ(link.statuses[0].description, "Multi status");
    const PlistCFType entry = link.statuses[0].value.get(kUdid + "/missing");
    EXPECT_EQ(entry.get("DLFileErrorString").CFStringQString(), "");
    EXPECT_EQ(entry.get("DLFileErrorCode").CFNumberInt64(0), -6);
    EXPECT_EQ(tool.extraError(), "missing not exists.");
}

TEST(Download, AllPresentAndManifestRedirect) {
    QTemporaryDir dir;
    QDir root(dir.path());
    writeFile(root.filePath(kUdid + "/Manifest.db"), "real");
    writeFile(root.filePath(kUdid + "/filtered.db"), "filtered");

    backup2tool tool(kUdid, root);
    tool.setManifestDbName("filtered.db");
    ScriptedLink link;
    tool.sendFilesThrow(link,
                        dlMessage("DLMessageDownloadFiles",
                                  {strArray({kUdid + "/MANIFEST.DB", kUdid + "/a/Manifest.db"})}));
    QByteArray expected = nameFrame((kUdid + "/MANIFEST.DB").toUtf8()) + be32(9) + "\x0c" +
                          "filtered" + be32(1) + QByteArray(1, 0) +
                          nameFrame((kUdid + "/a/Manifest.db").toUtf8()) + be32(9) + "\x0c" +
                          "filtered" + be32(1) + QByteArray(1, 0) + be32(0);
    EXPECT_EQ(link.out, expected);
    ASSERT_EQ(link.statuses.size(), 1);
    EXPECT_EQ(link.statuses[0].code, 0);
    EXPECT_EQ(link.statuses[0].description, "<none>");
    EXPECT_TRUE(link.statuses[0].value.isCFDictionary());
    EXPECT_EQ(link.statuses[0].value.dict_size(), 0);
}

TEST(Download, PathsOutsideTheRootAreRefused) {
    QTemporaryDir dir;
    QDir root(dir.path() + "/root");
    root.mkpath(".");
    writeFile(dir.path() + "/secret", "do not send");

    backup2tool tool(kUdid, root);
    ScriptedLink link;
    tool.sendFilesThrow(
        link,
        dlMessage("DLMessageDownloadFiles",
                  {strArray({"../secret", dir.path() + "/secret", kUdid + "/../../secret"})}));
    EXPECT_FALSE(link.out.contains("do not send"));
    ASSERT_EQ(link.statuses.size(), 1);
    EXPECT_EQ(link.statuses[0].code, -13);
    EXPECT_EQ(link.statuses[0].value.dict_size(), 3);
    EXPECT_EQ(link.statuses[0].value.get("../secret").get("DLFileErrorCode").CFNumberInt64(0), -1);

    // A folder inside the root is answered like a missing file instead of ending the session.
    root.mkpath(kUdid);
    ScriptedLink folder;
    tool.sendFilesThrow(folder, dlMessage("DLMessageDownloadFiles", {strArray({kUdid})}));
    EXPECT_EQ(folder.out, nameFrame(kUdid.toUtf8()) + be32(1) + "\x06" + be32(0));
    ASSERT_EQ(folder.statuses.size(), 1);
    EXPECT_EQ(folder.statuses[0].value.get(kUdid).get("DLFileErrorCode").CFNumberInt64(0), -6);
}

TEST(Download, SendFailureThrowsAndCancelStopsBeforeNextFile) {
    QTemporaryDir dir;
    QDir root(dir.path());
    writeFile(root.filePath("a"), "x");
    {
        backup2tool tool(kUdid, root);
        ScriptedLink link;
        link.failSendAfter = 0;
        EXPECT_EQ(whatOf([&] {
                      tool.sendFilesThrow(link,
                                          dlMessage("DLMessageDownloadFiles", {strArray({"a"})}));
                  }),
                  "Error attaching to device. Please Keep your iPhone connected and active. "
                  "backup2tool::sendFileThrow: send path(a) failed. return -3.");
    }
    {
        backup2tool tool(kUdid, root);
        tool.cancel();
        ScriptedLink link;
        tool.sendFilesThrow(link, dlMessage("DLMessageDownloadFiles", {strArray({"a"})}));
        EXPECT_TRUE(link.out.isEmpty());
        EXPECT_TRUE(link.statuses.isEmpty());
    }
}

TEST(Upload, ReceivesFilesIntoFolders) {
    QTemporaryDir dir;
    QDir root(dir.path());
    writeFile(root.filePath(kUdid + "/old"), "old content that is longer");
    backup2tool tool(kUdid, root);
    ScriptedLink link;
    link.name("device/one");
    link.name((kUdid + "/ab/abcdef").toUtf8());
    link.block(0x0C, "hel");
    link.block(0x0C, "lo");
    link.block(0x00);
    link.name("device/two");
    link.name((kUdid + "/old").toUtf8());
    link.timeout();  // the device pauses between blocks
    link.block(0x0C, "new");
    link.block(0x00);
    link.word(0);
    tool.recvFilesThrow(
        link, dlMessage("DLMessageUploadFiles", {PlistCFType::createCFDictionary(), real(10.0),
                                                 PlistCFType::createCFNumberInt64(1500000)}));
    EXPECT_EQ(readFile(root.filePath(kUdid + "/ab/abcdef")), "hello");
    EXPECT_EQ(readFile(root.filePath(kUdid + "/old")), "new");
    EXPECT_TRUE(link.inputConsumed());
    ASSERT_EQ(link.statuses.size(), 1);
    EXPECT_EQ(link.statuses[0].code, 0);
    EXPECT_EQ(link.statuses[0].description, "<none>");

    ScriptedLink none;
    none.word(0);
    tool.recvFilesThrow(none, dlMessage("DLMessageUploadFiles"));
    ASSERT_EQ(none.statuses.size(), 1);
    EXPECT_EQ(none.statuses[0].code, 0);
}

TEST(Upload, NameLengthsAndBlockCodes) {
    QTemporaryDir dir;
    QDir root(dir.path());
    backup2tool tool(kUdid, root);
    auto run = [&](ScriptedLink& link) {
        return whatOf([&] { tool.recvFilesThrow(link, dlMessage("DLMessageUploadFiles")); });
    };
    {
        ScriptedLink link;  // 4096 is the longest name accepted
        link.name(QByteArray(4096, 'd'));
        link.name(kUdid.toUtf8() + "/f");
        link.block(0x00);
        link.word(0);
        EXPECT_EQ(run(link), "");
        EXPECT_TRUE(QFile::exists(root.filePath(kUdid + "/f")));
    }
    {
        ScriptedLink link;
        link.word(4097);
        EXPECT_EQ(run(link), "backup2tool::recvFileNamesThrow: too large filename length (4097)!");
    }
    {
        ScriptedLink link;
        link.name("d");
        link.name("g");
        link.block(0x05, "zz");
        EXPECT_EQ(run(link), "backup2tool::recvFileThrow: invalid code 5.");
    }
    {
        ScriptedLink link;
        link.name("d");
        link.name("g");
        link.block(char(0xFF));
        EXPECT_EQ(run(link), "backup2tool::recvFileThrow: invalid code -1.");
    }
    {
        ScriptedLink link;
        link.name("d");
        link.name("g");
        link.block(0x0B, "disk on fire");
        EXPECT_EQ(run(link),
                  "Please restart your iPhone to try again. backup2tool::recvFileThrow: remote "
                  "error. disk on fire");
    }
}

TEST(Upload, HostileDevice) {
    QTemporaryDir dir;
    QDir root(dir.path() + "/root");
    root.mkpath(".");
    backup2tool tool(kUdid, root);
    {
        // A connection dropped while a name is awaited ends with an error instead of a hang.
        ScriptedLink link;
        link.bytes(QByteArray("\x00\x00", 2));
        EXPECT_TRUE(whatOf([&] {
                        tool.recvFilesThrow(link, dlMessage("DLMessageUploadFiles"));
                    }).endsWith("could not read filename."));
    }
    {
        // A zero length where a block is expected.
        ScriptedLink link;
        link.name("d");
        link.name("z");
        link.word(0);
        EXPECT_TRUE(whatOf([&] {
                        tool.recvFilesThrow(link, dlMessage("DLMessageUploadFiles"));
                    }).endsWith("recv null data."));
    }
}

TEST(Upload, NameWithAZeroByteCannotLeaveTheRoot) {
    QTemporaryDir dir;
    QDir root(dir.path() + "/root");
    root.mkpath(".");
    backup2tool tool(kUdid, root);
    // Cleaned as a whole, the name would land inside the root; cut at the zero byte, as the C
    // library would cut it, it names a file beside the root. It must be refused.
    ScriptedLink link;
    link.name("d");
    link.name(QByteArray("../beside", 9) + QByteArray(1, 0) + "/../root/f");
    link.block(0x0C, "evil");
    link.block(0x00);
    link.word(0);
    tool.recvFilesThrow(link, dlMessage("DLMessageUploadFiles"));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/beside"));
    EXPECT_FALSE(QFileInfo::exists(root.filePath("f")));
    ASSERT_EQ(link.statuses.size(), 1);
    EXPECT_EQ(link.statuses[0].code, -1);
    EXPECT_TRUE(link.inputConsumed());
}

TEST(Upload, HookOpenFailureIsReportedAfterTheWholeFile) {
    QTemporaryDir dir;
    QDir root(dir.path());
    writeFile(root.filePath(kUdid + "/blocker"), "file, not a folder");
    backup2tool tool(kUdid, root);
    ScriptedLink link;
    link.name("d");
    link.name(kUdid.toUtf8() + "/blocker/child");
    link.block(0x0C, "data");
    link.block(0x00);
    link.word(0);
    const QString what =
        whatOf([&] { tool.recvFilesThrow(link, dlMessage("DLMessageUploadFiles")); });
    EXPECT_TRUE(what.startsWith("backup2tool::recvFileThrow: Write " +
                                root.absoluteFilePath(kUdid + "/blocker/child") + " failed."))
        << what.toStdString();
    // Everything up to the end block was read; the batch terminator stays for nobody.
    EXPECT_EQ(readFile(root.filePath(kUdid + "/blocker")), "file, not a folder");
}

namespace {
// Sends every received file to a device that is always full.
struct FullDiskHook : Backup2ToolHook {
    int recvFileOpenWrite(QDir, QString, QFile& file, QString& err) override {
        file.setFileName(QStringLiteral("/dev/full"));
        if (!file.open(QIODevice::WriteOnly)) {
            err = file.errorString();
            return file.error();
        }
        return 0;
    }
};
}  // namespace

TEST(Upload, WriteFailureHiddenInTheFileBufferIsReported) {
    if (!QFileInfo(QStringLiteral("/dev/full")).isWritable())
        GTEST_SKIP() << "no /dev/full";
    QTemporaryDir dir;
    backup2tool tool(kUdid, QDir(dir.path()), QSharedPointer<Backup2ToolHook>(new FullDiskHook));
    ScriptedLink link;
    link.name("d");
    link.name(kUdid.toUtf8() + "/small");
    link.block(0x0C, "a few bytes that fit the write buffer");
    link.block(0x00);
    link.word(0);
    const QString what =
        whatOf([&] { tool.recvFilesThrow(link, dlMessage("DLMessageUploadFiles")); });
    EXPECT_TRUE(what.startsWith("backup2tool::recvFileThrow: Write ")) << what.toStdString();
    EXPECT_TRUE(link.statuses.isEmpty());
    // The failed file was the hook's, not a temporary one: it must not be removed.
    struct stat st {};
    EXPECT_TRUE(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
}
