// A session stays inside its own device's folder: symbolic links planted in the backup folder
// and paths into another device's folder are refused for every message, and a received file
// that cannot be written completely leaves the old one as it was.
#include "backupservice/backup2tool.h"
#include "scripted_link.h"
#include "test_util.h"

#include "tests/export/small_disk.h"

#include <QDirIterator>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

const QString kUdid = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
const QString kOther = QStringLiteral("fedcba9876543210fedcba9876543210fedcba98");

QMap<QString, QByteArray> snapshot(const QString& root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo fi(path);
        files.insert(QDir(root).relativeFilePath(path), fi.isSymLink()
                                                            ? "-> " + fi.symLinkTarget().toUtf8()
                                                        : fi.isDir() ? QByteArray("<dir>")
                                                                     : readFile(path));
    }
    return files;
}

// Every message that names `bad`, each expected to be refused without touching the disk.
void sendEverything(ScriptedLink& link, const QString& bad, const QString& good) {
    link.message(dlMessage("DLMessageDownloadFiles", {strArray({bad})}));
    link.message(dlMessage("DLContentsOfDirectory", {str(bad)}));
    link.message(dlMessage("DLMessageCreateDirectory", {str(bad + "/made")}));
    link.message(dlMessage("DLMessageMoveFiles", {dict({{good, str(bad + "/moved")}})}));
    link.message(dlMessage("DLMessageMoveFiles", {dict({{bad + "/secret", str(good + "2")}})}));
    link.message(dlMessage("DLMessageRemoveFiles", {strArray({bad + "/secret", bad})}));
    link.message(dlMessage("DLMessageCopyItem", {str(bad), str(good + "3")}));
    link.message(dlMessage("DLMessageCopyItem", {str(good), str(bad + "/copied")}));
}

int refusedStatuses(const ScriptedLink& link) {
    int n = 0;
    for (const auto& s : link.statuses) {
        if (s.code == -1 && s.description.startsWith("Refused path outside the backup folder"))
            ++n;
        // A download answers with a status per file inside its dictionary.
        if (s.code == -13 && s.value.dict_size() == 1)
            ++n;
    }
    return n;
}

}  // namespace

TEST(Confinement, LinksOutOfTheDeviceFolderAreNeverFollowed) {
    QTemporaryDir dir;
    writeFile(dir.filePath("outside/secret"), "do not touch");
    writeFile(dir.filePath("root/" + kUdid + "/mine"), "mine");
    const QDir root(dir.filePath("root"));
    const QString device = root.filePath(kUdid);
    ASSERT_TRUE(QFile::link(dir.filePath("outside"), device + "/folderlink"));
    ASSERT_TRUE(QFile::link(dir.filePath("outside/secret"), device + "/filelink"));
    ASSERT_TRUE(QFile::link(dir.filePath("outside/notyet"), device + "/dangling"));
    const QMap<QString, QByteArray> before = snapshot(dir.path());

    backup2tool tool(kUdid, root);
    for (const QString& bad : {kUdid + "/folderlink", kUdid + "/filelink", kUdid + "/dangling"}) {
        ScriptedLink link;
        sendEverything(link, bad, kUdid + "/mine");
        link.message(dlMessage("DLMessageDisconnect"));
        QString err;
        EXPECT_EQ(tool.messageLoopThrow(link, err), 0);
        EXPECT_EQ(refusedStatuses(link), 8) << bad.toStdString();
        EXPECT_FALSE(link.out.contains("do not touch")) << bad.toStdString();
        EXPECT_EQ(snapshot(dir.path()), before) << bad.toStdString();

        // Uploads through the link and into it.
        for (const QString& target : {bad, bad + "/new"}) {
            ScriptedLink up;
            up.name("d");
            up.name(target.toUtf8());
            up.block(0x0C, "overwritten");
            up.block(0x00);
            up.word(0);
            tool.recvFilesThrow(up, dlMessage("DLMessageUploadFiles"));
            ASSERT_EQ(up.statuses.size(), 1);
            EXPECT_EQ(up.statuses[0].code, -1) << target.toStdString();
            EXPECT_EQ(snapshot(dir.path()), before) << target.toStdString();
        }
    }

    // A link that stays inside the device folder is an ordinary path; a root reached through a
    // link of its own is still the root.
    ASSERT_TRUE(QFile::link(device + "/mine", device + "/alias"));
    ASSERT_TRUE(QFile::link(root.absolutePath(), dir.filePath("rootlink")));
    backup2tool linked(kUdid, QDir(dir.filePath("rootlink")));
    ScriptedLink link;
    linked.sendFilesThrow(link,
                          dlMessage("DLMessageDownloadFiles", {strArray({kUdid + "/alias"})}));
    EXPECT_TRUE(link.out.contains("mine"));
    EXPECT_EQ(link.statuses.value(0).code, 0);
}

TEST(Confinement, AnotherDevicesFolderIsOutside) {
    QTemporaryDir dir;
    const QDir root(dir.path());
    writeFile(root.filePath(kOther + "/Manifest.db"), "other phone");
    writeFile(root.filePath(kUdid + "/mine"), "mine");
    writeFile(root.filePath("Manifest.db"), "the root's");
    ASSERT_TRUE(QFile::link(root.filePath(kOther), root.filePath(kUdid + "/peer")));
    const QMap<QString, QByteArray> before = snapshot(dir.path());

    backup2tool tool(kUdid, root);
    for (const QString& bad : {kOther, kOther + "/Manifest.db", kUdid + "/peer",
                               QStringLiteral("Manifest.db"), root.filePath(kOther)}) {
        ScriptedLink link;
        sendEverything(link, bad, kUdid + "/mine");
        link.message(dlMessage("DLMessageDisconnect"));
        QString err;
        EXPECT_EQ(tool.messageLoopThrow(link, err), 0);
        EXPECT_EQ(refusedStatuses(link), 8) << bad.toStdString();
        EXPECT_FALSE(link.out.contains("other phone")) << bad.toStdString();
        EXPECT_FALSE(link.out.contains("the root's")) << bad.toStdString();
        EXPECT_EQ(snapshot(dir.path()), before) << bad.toStdString();
    }
    // A device folder that is itself a link out of the root is not followed.
    QTemporaryDir elsewhere;
    writeFile(elsewhere.filePath("secret"), "elsewhere");
    const QString linkedUdid = QStringLiteral("00000000000000000000000000000000000000aa");
    ASSERT_TRUE(QFile::link(elsewhere.path(), root.filePath(linkedUdid)));
    backup2tool linked(linkedUdid, root);
    ScriptedLink viaLink;
    sendEverything(viaLink, linkedUdid + "/secret", linkedUdid + "/secret");
    viaLink.message(dlMessage("DLMessageDisconnect"));
    QString linkErr;
    EXPECT_EQ(linked.messageLoopThrow(viaLink, linkErr), 0);
    EXPECT_EQ(refusedStatuses(viaLink), 8);
    EXPECT_FALSE(viaLink.out.contains("elsewhere"));
    EXPECT_EQ(readFile(elsewhere.filePath("secret")), "elsewhere");
    QFile::remove(root.filePath(linkedUdid));

    // An identifier that is a path is no device folder.
    for (const char* bad : {"../x", "a/b", "..", ""}) {
        backup2tool tool(QString::fromLatin1(bad), root);
        QString e;
        EXPECT_THROW(tool.innerRunThrow(_backup2tool_req(OP_BACKUP), e), std::runtime_error);
    }

    // The default hook keeps to the root even when called directly.
    Backup2ToolHook hook;
    QString err;
    EXPECT_NE(hook.copyFile(root, kUdid + "/mine", "../escaped", err), 0);
    EXPECT_NE(hook.moveFile(root, kUdid + "/mine", kUdid + "/peer/../../x", err), 0);
    EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(Confinement, FailedReceiveKeepsTheOldFile) {
    for (bool tmpfs : {true, false}) {
        SmallDisk disk(64, tmpfs);
        if (tmpfs && !disk.mounted())
            continue;
        const QDir root(disk.path());
        writeFile(root.filePath(kUdid + "/Manifest.db"), "earlier backup");
        const QMap<QString, QByteArray> before = snapshot(disk.path());

        backup2tool tool(kUdid, root);
        ScriptedLink link;
        link.name("d");
        link.name((kUdid + "/Manifest.db").toUtf8());
        for (int i = 0; i < 4; ++i)
            link.block(0x0C, pattern(30000));
        link.block(0x00);
        link.word(0);
        QString what;
        disk.arm();
        try {
            tool.recvFilesThrow(link, dlMessage("DLMessageUploadFiles"));
        } catch (const std::runtime_error& e) {
            what = QString::fromUtf8(e.what());
        }
        disk.disarm();
        EXPECT_TRUE(what.endsWith(" failed. " + disk.errorText())) << what.toStdString();
        EXPECT_EQ(snapshot(disk.path()), before);

        // A copy onto an existing file: the same.
        disk.disarm();
        // Room for the source, not for its copy; or past the file-size limit.
        writeFile(root.filePath(kUdid + "/big"), pattern(tmpfs ? 40000 : 70000));
        const QMap<QString, QByteArray> beforeCopy = snapshot(disk.path());
        Backup2ToolHook hook;
        QString err;
        disk.arm();
        const int copied = hook.copyFile(root, kUdid + "/big", kUdid + "/Manifest.db", err);
        disk.disarm();
        EXPECT_NE(copied, 0);
        EXPECT_EQ(err, disk.errorText());
        EXPECT_EQ(snapshot(disk.path()), beforeCopy);
    }
}
