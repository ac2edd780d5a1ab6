// The message loop and the directory messages against a scripted device, and the texts a
// caller of runThrow sees.
#include "backupservice/backup2tool.h"
#include "scripted_link.h"
#include "test_util.h"

#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <atomic>
#include <stdexcept>

namespace {

const QString kUdid = QStringLiteral("0123456789abcdef0123456789abcdef01234567");

// Stops the loop at a chosen message, with a code and optionally a text.
struct GateHook : Backup2ToolHook {
    QString stopAt;
    int code = 0;
    QString text;
    QStringList seen;
    bool onHandleMsgContinue(QDir, QString, PlistCFType msg, int& c, QString& err) override {
        seen << msg.at(0).CFStringQString();
        if (msg.at(0).CFStringQString() != stopAt)
            return true;
        c = code;
        if (!text.isEmpty())
            err = text;
        return false;
    }
};

}  // namespace

TEST(MessageLoop, HostileDirectoryMessagesAreRefused) {
    QTemporaryDir dir;
    QDir root(dir.path() + "/root");
    root.mkpath(kUdid);
    writeFile(dir.path() + "/outside", "keep me");
    writeFile(root.filePath(kUdid + "/inside"), "mine");

    backup2tool tool(kUdid, root);
    ScriptedLink link;
    link.message(dlMessage("DLContentsOfDirectory", {str("..")}));
    link.message(dlMessage("DLMessageCreateDirectory", {str("../made")}));
    link.message(dlMessage("DLMessageMoveFiles", {dict({{"../outside", str(kUdid + "/stolen")}})}));
    link.message(dlMessage("DLMessageMoveFiles",
                           {dict({{kUdid + "/inside", str("/tmp/../" + dir.path() + "/x")}})}));
    link.message(
        dlMessage("DLMessageRemoveFiles", {strArray({"../outside", kUdid + "/../../outside"})}));
    link.message(dlMessage("DLMessageCopyItem", {str("../outside"), str(kUdid + "/copy")}));
    link.message(dlMessage("DLMessageCopyItem", {str(kUdid + "/inside"), str("../../copy")}));
    link.message(dlMessage("DLMessageDisconnect"));
    QString err;
    EXPECT_EQ(tool.messageLoopThrow(link, err), 0);
    ASSERT_EQ(link.statuses.size(), 7);
    for (const auto& s : link.statuses) {
        EXPECT_EQ(s.code, -1);
        EXPECT_TRUE(s.description.startsWith("Refused path outside the backup folder"));
    }
    EXPECT_EQ(readFile(dir.path() + "/outside"), "keep me");
    EXPECT_EQ(readFile(root.filePath(kUdid + "/inside")), "mine");
    EXPECT_FALSE(QFile::exists(dir.path() + "/made"));
    EXPECT_FALSE(QFile::exists(root.filePath(kUdid + "/stolen")));
    EXPECT_FALSE(QFile::exists(root.filePath(kUdid + "/copy")));

    // The device folder itself may be listed but never removed, moved, copied onto or written.
    ScriptedLink self;
    self.message(dlMessage("DLMessageRemoveFiles", {strArray({kUdid, kUdid + "/."})}));
    self.message(dlMessage("DLMessageMoveFiles", {dict({{kUdid + "/inside", str(kUdid)}})}));
    self.message(dlMessage("DLMessageCopyItem", {str(kUdid + "/inside"), str(kUdid + "/")}));
    self.message(dlMessage("DLContentsOfDirectory", {str(kUdid)}));
    self.message(dlMessage("DLMessageDisconnect"));
    EXPECT_EQ(tool.messageLoopThrow(self, err), 0);
    ASSERT_EQ(self.statuses.size(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(self.statuses[i].code, -1);
        EXPECT_TRUE(self.statuses[i].description.startsWith("Refused the backup folder itself"));
    }
    EXPECT_EQ(self.statuses[3].code, 0);
    EXPECT_TRUE(self.statuses[3].value.get("inside").ref());
    EXPECT_EQ(readFile(root.filePath(kUdid + "/inside")), "mine");

    EXPECT_FALSE(backup2tool::pathInsideRoot(root, kUdid + "/a/../b"));
    EXPECT_TRUE(backup2tool::pathInsideRoot(root, root.absoluteFilePath("x")));
    EXPECT_FALSE(backup2tool::pathInsideRoot(root, root.absolutePath() + "x/y"));
}

TEST(MessageLoop, MoveStatusCodesAndMalformedMessages) {
    QTemporaryDir dir;
    QDir root(dir.path());
    struct FailingHook : Backup2ToolHook {
        QList<int> results;
        QStringList moved;
        int moveFile(QDir, QString src, QString, QString& err) override {
            moved << src;
            err = "failed " + src;
            return results.takeFirst();
        }
    };
    auto* hook = new FailingHook;
    QSharedPointer<Backup2ToolHook> shared(hook);
    backup2tool tool(kUdid, root, shared);
    for (int code : {2, 17, 10}) {
        hook->results = {0, code, 0};
        hook->moved.clear();
        const QString d = kUdid + "/";
        PlistCFType moves = dict({{d + "a", str(d + "b")},
                                  {d + "skip", PlistCFType::createCFNumberInt32(1)},
                                  {d + "c", str(d + "d")},
                                  {d + "e", str(d + "f")}});
        ScriptedLink link;
        tool.moveFilesThrow(link, dlMessage("DLMessageMoveFiles", {moves}));
        EXPECT_EQ(hook->moved, QStringList({d + "a", d + "c"}));
        ASSERT_EQ(link.statuses.size(), 1);
        EXPECT_EQ(link.statuses[0].code, backup2tool::deviceStatusCode(code));
        EXPECT_EQ(link.statuses[0].description, "failed " + d + "c");
    }
    EXPECT_EQ(backup2tool::deviceStatusCode(2), -6);
    EXPECT_EQ(backup2tool::deviceStatusCode(17), -7);
    EXPECT_EQ(backup2tool::deviceStatusCode(10), -10);

    ScriptedLink link;
    EXPECT_THROW(tool.copyItemThrow(link, dlMessage("DLMessageCopyItem", {str("a")})),
                 std::runtime_error);
    EXPECT_THROW(tool.sendDirContentsThrow(link, dlMessage("DLContentsOfDirectory",
                                                           {PlistCFType::createCFNumberInt32(3)})),
                 std::runtime_error);
    EXPECT_TRUE(link.statuses.isEmpty());
    link.message(dlMessage("DLMessageSomethingNew"));
    QString err;
    try {
        tool.messageLoopThrow(link, err);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Message can not handle: DLMessageSomethingNew");
    }
    // A dropped connection while waiting for a message is an error, not a hang.
    try {
        tool.messageLoopThrow(link, err);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(),
                     "ERROR: Could not receive from mobilebackup2 (-3). Please restart "
                     "your iPhone to try again.");
    }
}

TEST(MessageLoop, EndingsAndProgress) {
    QTemporaryDir dir;
    QDir root(dir.path());
    backup2tool tool(kUdid, root);
    int updates = 0;
    QObject::connect(&tool, &backup2tool::update, [&](double, QString, QString s2) {
        if (s2 == "This may take a few minutes. Please wait...")
            ++updates;
    });
    {
        ScriptedLink link;
        link.messageTimeout();
        link.messageTimeout();
        link.message(dlMessage("DLMessageProcessMessage",
                               {dict({{"ErrorCode", PlistCFType::createCFNumberInt32(105)},
                                      {"Content", str("from content")}})}));
        QString err;
        EXPECT_EQ(tool.messageLoopThrow(link, err), 105);
        EXPECT_EQ(err, "from content");
        EXPECT_EQ(updates, 3);
    }
    {
        ScriptedLink link;
        link.message(dlMessage("DLMessageProcessMessage", {str("not a dictionary")}));
        QString err;
        EXPECT_EQ(tool.messageLoopThrow(link, err), 0);
        EXPECT_EQ(err, "");
    }
    {
        ScriptedLink link;
        link.message(dlMessage("DLMessagePurgeDiskSpace"));
        QString err;
        EXPECT_EQ(tool.messageLoopThrow(link, err), -36);
        EXPECT_EQ(err, "Error: DLMessagePurgeDiskSpace(Insufficient free disk space).");
    }
    {
        auto* gate = new GateHook;
        gate->stopAt = "DLMessageRemoveFiles";
        gate->code = 7;
        backup2tool gated(kUdid, root, QSharedPointer<Backup2ToolHook>(gate));
        ScriptedLink link;
        link.message(
            dlMessage("DLMessageUploadFiles", {PlistCFType::createCFDictionary(), real(0.0)}));
        link.word(0);
        link.message(dlMessage("DLMessageRemoveFiles",
                               {strArray({"x"}), PlistCFType::createCFDictionary(), real(0.75)}));
        QString err;
        EXPECT_EQ(gated.messageLoopThrow(link, err), 7);
        EXPECT_DOUBLE_EQ(gated.progress(), 0.75);
        EXPECT_EQ(link.statuses.size(),
                  1);  // the upload's only; the stopped message is not answered
        EXPECT_EQ(gate->seen, QStringList({"DLMessageUploadFiles", "DLMessageRemoveFiles"}));
    }
}

TEST(MessageLoop, CancelFromAnotherThreadEndsAStalledWait) {
    QTemporaryDir dir;
    QDir root(dir.path());

    // A device that keeps timing out: first between messages, then in the middle of an upload.
    struct SlowLink : ScriptedLink {
        std::atomic<int> waits{0};
        bool uploadStarted = false;
        int receiveMessage(plist_t* msg, char** name) override {
            if (!uploadStarted) {
                uploadStarted = true;
                return ScriptedLink::receiveMessage(msg, name);
            }
            ++waits;
            QThread::msleep(2);
            return MOBILEBACKUP2_E_RECEIVE_TIMEOUT;
        }
        int receiveRaw(char* data, quint32 length, quint32* received) override {
            ++waits;
            QThread::msleep(2);
            *received = 0;
            (void)data;
            (void)length;
            return MOBILEBACKUP2_E_RECEIVE_TIMEOUT;
        }
    };
    for (int round = 0; round < 2; ++round) {
        backup2tool tool(kUdid, root);
        SlowLink link;
        if (round == 1)
            link.message(dlMessage("DLMessageUploadFiles"));
        else
            link.uploadStarted = true;
        QThread* canceller = QThread::create([&] {
            while (link.waits < 5)
                QThread::msleep(1);
            tool.cancel();
        });
        canceller->start();
        QString err;
        EXPECT_EQ(tool.messageLoopThrow(link, err), 0);
        canceller->wait();
        delete canceller;
        EXPECT_TRUE(link.statuses.isEmpty());
    }
}

TEST(RunText, AdviceByCodeAndText) {
    EXPECT_EQ(backup2tool::runErrorText(OP_BACKUP, 5, ""),
              "error code:5. Please restart your iPhone to try again.");
    EXPECT_EQ(backup2tool::runErrorText(OP_BACKUP, -36,
                                        "Error: DLMessagePurgeDiskSpace(Insufficient free disk "
                                        "space)."),
              "error code:-36. Insufficient free disk space on drive to back up. Not enough free "
              "disk space on your computer.<br/><br/>Error: DLMessagePurgeDiskSpace(Insufficient "
              "free disk space).");
    EXPECT_TRUE(backup2tool::runErrorText(OP_RESTORE, 100, " x ")
                    .startsWith("error code:-36. Insufficient free disk space on device"));
    EXPECT_EQ(backup2tool::runErrorText(OP_RESTORE, 100, ""),
              "error code:100. Please restart your iPhone to try again.");
    EXPECT_EQ(backup2tool::runErrorText(OP_BACKUP, 3, "COULD NOT SEND data"),
              "error code:-10. Error attaching to device. Please Keep your iPhone connected and "
              "active.<br/><br/>COULD NOT SEND data");
    const QString fmi =
        backup2tool::runErrorText(OP_BACKUP, 211, "Find My iPhone must be disabled.");
    EXPECT_TRUE(fmi.startsWith("error code:-37. ")) << fmi.toStdString();
    EXPECT_TRUE(fmi.contains("<a href=")) << fmi.toStdString();
    EXPECT_EQ(
        backup2tool::runErrorText(
            OP_RESTORE, 9, "Failed to move the incomplete restore directory into place at path /x"),
        "error code:9. <br/><br/>Please restart your iPhone first.<br/><br/>Failed to move "
        "the incomplete restore directory into place at path /x");
    EXPECT_EQ(backup2tool::runErrorText(OP_BACKUP, 4, "other"), "error code:4. <br/><br/>other");
}

TEST(RunText, SizesAndRestoreOptions) {
    EXPECT_EQ(backup2tool::sizeText(999), "999 Bytes");
    EXPECT_EQ(backup2tool::sizeText(1000), "1.0 KB");
    EXPECT_EQ(backup2tool::sizeText(999999), "1000.0 KB");
    EXPECT_EQ(backup2tool::sizeText(1500000), "1.5 MB");
    EXPECT_EQ(backup2tool::sizeText(1000000000000ULL), "1.0 TB");

    auto keys = [](const PlistCFType& d) {
        QStringList out;
        for (const auto& it : d.dict_items())
            out << it.first + "=" + (it.second.CFNumberBool(false) ? "1" : "0");
        return out;
    };
    _backup2tool_req restore(OP_RESTORE);
    EXPECT_EQ(
        keys(backup2tool::restoreOptions(restore)),
        QStringList({"RestoreSystemFiles=1", "RestorePreserveSettings=1", "RestoreShouldReboot=1",
                     "RestoreDontCopyBackup=1", "RemoveItemsNotRestored=0"}));
    restore.onlyNonDefaultOptions = true;
    EXPECT_EQ(keys(backup2tool::restoreOptions(restore)),
              QStringList({"RestoreSystemFiles=1", "RestorePreserveSettings=1",
                           "RestoreDontCopyBackup=1"}));
    restore.password = "secret";
    restore.restoreShouldReboot = false;
    const PlistCFType withPassword = backup2tool::restoreOptions(restore);
    EXPECT_EQ(withPassword.get("Password").CFStringQString(), "secret");
    EXPECT_FALSE(withPassword.get("RestoreShouldReboot").CFNumberBool(true));
}
