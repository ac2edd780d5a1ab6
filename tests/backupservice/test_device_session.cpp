// Whole backup and restore sessions through libimobiledevice against the simulated iPhone's
// backup service.
#include "backupservice/backup2tool.h"
#include "backupservice/fakebackup2toolhook.h"
#include "tests/fakedevice/fakedevice.h"
#include "test_util.h"

#include <QTemporaryDir>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <stdexcept>

using fakedevice::BackupScript;
using fakedevice::BackupUpload;
using fakedevice::Plist;

namespace {

Plist dl(const std::string& name, std::initializer_list<Plist> rest = {}) {
    Plist a = Plist::array();
    a.append(Plist::string(name));
    for (const Plist& p : rest)
        a.append(p);
    return a;
}

Plist strings(std::initializer_list<std::string> items) {
    Plist a = Plist::array();
    for (const std::string& s : items)
        a.append(Plist::string(s));
    return a;
}

int64_t statusCode(const Plist& status) {
    uint64_t v = 0;
    plist_get_uint_val(plist_array_get_item(status.get(), 1), &v);
    return static_cast<int64_t>(v);
}

std::string statusText(const Plist& status) {
    return fakedevice::plistString(plist_array_get_item(status.get(), 2));
}

plist_t statusValue(const Plist& status) {
    return plist_array_get_item(status.get(), 3);
}

class DeviceSession : public ::testing::Test {
protected:
    void SetUp() override {
        fakedevice::ignoreSigpipe();
        server = std::make_unique<fakedevice::Server>(tmp.socketPath());
        mux = std::make_unique<fakedevice::ScopedMuxAddress>(server->socketAddress());
        phone = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(7), "Backup Phone");
        server->attach(phone);
        udid = QString::fromStdString(phone->udid());
        root = QDir(dir.path());
    }
    void TearDown() override {
        mux.reset();
        server.reset();
    }
    std::string path(const QString& rel) const { return (udid + "/" + rel).toStdString(); }
    QString local(const QString& rel) const { return root.filePath(udid + "/" + rel); }
    QString runError(backup2tool& tool, _backup2tool_req req) {
        try {
            tool.runThrow(req);
        } catch (const std::runtime_error& e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    }

    fakedevice::TempDir tmp;
    std::unique_ptr<fakedevice::Server> server;
    std::unique_ptr<fakedevice::ScopedMuxAddress> mux;
    std::shared_ptr<fakedevice::Phone> phone;
    QTemporaryDir dir;
    QDir root;
    QString udid;
};

}  // namespace

TEST_F(DeviceSession, BackupReceivesFilesAndAnswersDirectoryMessages) {
    const std::string big = pattern(70000).toStdString();
    Plist move = Plist::dict();
    move.set(path("Snapshot/ab/abcdef"), Plist::string(path("ab/abcdef")));
    BackupScript script;
    script.ask(dl("DLMessageGetFreeDiskSpace"))
        .ask(dl("DLMessageCreateDirectory", {Plist::string(path("Snapshot/empty"))}))
        .upload({{"HomeDomain/big", path("Snapshot/ab/abcdef"), big},
                 {"Info", path("Snapshot/Info.plist"), "<plist/>"},
                 {"Empty", path("Snapshot/cd/empty"), ""}})
        .ask(dl("DLContentsOfDirectory", {Plist::string(path("Snapshot"))}))
        .ask(dl("DLMessageMoveItems", {move, Plist::dict(), Plist(plist_new_real(0.9))}))
        .ask(dl("DLMessageCopyItem",
                {Plist::string(path("Snapshot/Info.plist")), Plist::string(path("Info.plist"))}))
        .ask(dl("DLMessageRemoveItems",
                {strings({path("Snapshot")}), Plist::dict(), Plist(plist_new_real(0.3))}))
        .finish(0, "ignored on success");
    phone->setBackupScript(script);

    backup2tool tool(udid, root);
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_BACKUP)), "");
    ASSERT_TRUE(phone->waitForBackupEnd(std::chrono::seconds(5)));

    EXPECT_EQ(readFile(local("ab/abcdef")), QByteArray::fromStdString(big));
    EXPECT_EQ(readFile(local("Info.plist")), "<plist/>");
    EXPECT_FALSE(QFile::exists(local("Snapshot")));
    EXPECT_DOUBLE_EQ(tool.progress(), 0.3);  // a smaller value replaces a larger one

    const auto sessions = phone->backupSessions();
    ASSERT_EQ(sessions.size(), 1u);
    const fakedevice::BackupSession& s = sessions[0];
    EXPECT_EQ(s.helloVersions, std::vector<double>({2.0, 2.1}));
    EXPECT_EQ(s.request, "Backup");
    EXPECT_EQ(s.requestDict.stringAt("TargetIdentifier"), phone->udid());
    EXPECT_EQ(s.requestDict.stringAt("SourceIdentifier"), phone->udid());
    EXPECT_FALSE(s.requestDict.item("Options"));
    EXPECT_TRUE(s.scriptDone);
    EXPECT_TRUE(s.disconnected);
    ASSERT_EQ(s.statuses.size(), 7u);
    for (const Plist& st : s.statuses)
        EXPECT_EQ(statusCode(st), 0) << statusText(st);
    uint64_t space = 0;
    plist_get_uint_val(statusValue(s.statuses[0]), &space);
    EXPECT_EQ(space, 1099511627776ull);
    plist_t listing = statusValue(s.statuses[3]);
    ASSERT_EQ(plist_get_node_type(listing), PLIST_DICT);
    EXPECT_EQ(plist_dict_get_size(listing), 4u);  // ab, cd, empty, Info.plist
    plist_t info = plist_dict_get_item(listing, "Info.plist");
    EXPECT_EQ(fakedevice::plistString(plist_dict_get_item(info, "DLFileType")),
              "DLFileTypeRegular");
    EXPECT_EQ(fakedevice::plistString(
                  plist_dict_get_item(plist_dict_get_item(listing, "ab"), "DLFileType")),
              "DLFileTypeDirectory");
}

TEST_F(DeviceSession, RestoreSendsFilesBack) {
    writeFile(local("Manifest.plist"), "manifest bytes");
    writeFile(local("aa/aabbcc"), pattern(40000));
    BackupScript script;
    script.download({path("Manifest.plist"), path("aa/aabbcc"), path("missing")}).finish(0);
    phone->setBackupScript(script);

    backup2tool tool(udid, root);
    _backup2tool_req req(OP_RESTORE);
    req.password = "pw";
    EXPECT_EQ(runError(tool, req), "");
    ASSERT_TRUE(phone->waitForBackupEnd(std::chrono::seconds(5)));
    const auto s = phone->backupSessions().at(0);
    EXPECT_EQ(s.request, "Restore");
    Plist options = s.requestDict.item("Options");
    EXPECT_EQ(options.keys(),
              std::vector<std::string>({"RestoreSystemFiles", "RestorePreserveSettings",
                                        "RestoreShouldReboot", "RestoreDontCopyBackup",
                                        "RemoveItemsNotRestored", "Password"}));
    ASSERT_EQ(s.downloads.size(), 3u);
    EXPECT_EQ(s.downloads[0].data, "manifest bytes");
    EXPECT_EQ(s.downloads[1].data, pattern(40000).toStdString());
    EXPECT_TRUE(s.downloads[2].failed);
    ASSERT_EQ(s.statuses.size(), 1u);
    EXPECT_EQ(statusCode(s.statuses[0]), -13);
    EXPECT_EQ(statusText(s.statuses[0]), "Multi status");

    // A missing file is named in the failure report of the same session, and only there.
    phone->setBackupScript(BackupScript().download({path("gone")}).finish(5, "restore failed"));
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_RESTORE)),
              "error code:5. <br/><br/>restore failed gone not exists.");
    phone->setBackupScript(BackupScript().finish(6, "later failure"));
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_RESTORE)),
              "error code:6. <br/><br/>later failure");

    // A restore never creates the device folder.
    QTemporaryDir other;
    backup2tool fresh(udid, QDir(other.path()));
    phone->setBackupScript(BackupScript().finish(0));
    EXPECT_EQ(runError(fresh, _backup2tool_req(OP_RESTORE)), "");
    EXPECT_FALSE(QFile::exists(QDir(other.path()).filePath(udid)));
}

TEST_F(DeviceSession, DeviceErrorsBecomeAdvice) {
    backup2tool tool(udid, root);
    phone->setBackupScript(BackupScript().finish(105, "Insufficient free space on device"));
    EXPECT_TRUE(runError(tool, _backup2tool_req(OP_RESTORE))
                    .startsWith("error code:-36. Insufficient free disk space on device"));
    phone->setBackupScript(BackupScript().message(dl("DLMessagePurgeDiskSpace")));
    EXPECT_TRUE(runError(tool, _backup2tool_req(OP_BACKUP))
                    .startsWith("error code:-36. Insufficient free disk space on drive"));
    phone->setBackupScript(BackupScript().disconnect());
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_BACKUP)), "");
    EXPECT_EQ(runError(tool, _backup2tool_req(static_cast<backup2tool_op>(5))),
              "backup2tool: invalid op.");

    server->detach(phone->udid());
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_BACKUP)),
              "backup2tool: No device found. Please restart your iPhone to try again.");
}

TEST_F(DeviceSession, HostileDevice) {
    backup2tool tool(udid, root);
    const QString absolute =
        QDir::tempPath() + QString("/bs-escape-%1").arg(QCoreApplication::applicationPid());
    // Paths that leave the root are refused; the file after them still arrives.
    phone->setBackupScript(BackupScript()
                               .upload({{"a", "../outside", "evil"},
                                        {"b", absolute.toStdString(), "evil"},
                                        {"c", path("fine"), "good"}})
                               .ask(dl("DLMessageRemoveItems", {strings({"../../etc"})}))
                               .finish(0));
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_BACKUP)), "");
    EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath("../outside")));
    EXPECT_FALSE(QFile::exists(absolute));
    EXPECT_EQ(readFile(local("fine")), "good");
    auto s = phone->backupSessions().back();
    ASSERT_EQ(s.statuses.size(), 2u);
    EXPECT_EQ(statusCode(s.statuses[0]), -1);
    EXPECT_EQ(statusCode(s.statuses[1]), -1);

    // A huge name length.
    phone->setBackupScript(
        BackupScript()
            .message(dl("DLMessageUploadFiles",
                        {Plist::dict(), Plist(plist_new_real(0.1)), Plist(plist_new_uint(1))}))
            .raw(BackupScript::be32(0xFFFFFFF0u)));
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_BACKUP)),
              "backup2tool::recvFileNamesThrow: too large filename length (4294967280)!");

    // A huge block length, then the connection drops: an error, neither a hang nor a 4 GB
    // buffer, and only bytes that came from the device in the file.
    phone->setBackupScript(
        BackupScript()
            .message(dl("DLMessageUploadFiles",
                        {Plist::dict(), Plist(plist_new_real(0.1)), Plist(plist_new_uint(1))}))
            .raw(BackupScript::nameFrame("d") + BackupScript::nameFrame(path("huge")) +
                 BackupScript::be32(0xFFFFFFFFu) + "\x0c" + "abc")
            .drop());
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(runError(tool, _backup2tool_req(OP_BACKUP)).endsWith("recv null data."));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_LE(readFile(local("huge")).size(), 3);

    // Hostile messages end the session with an error, neither a crash nor an abort.
    for (fakedevice::HostileFrame kind :
         {fakedevice::HostileFrame::Nested, fakedevice::HostileFrame::SharedReferences,
          fakedevice::HostileFrame::NulString}) {
        const std::string bytes = fakedevice::hostileFrameBytes(kind);
        phone->setBackupScript(
            BackupScript().raw(BackupScript::be32(uint32_t(bytes.size())) + bytes));
        timer.restart();
        EXPECT_EQ(runError(tool, _backup2tool_req(OP_BACKUP)).left(48),
                  "ERROR: Could not receive from mobilebackup2 (-2)")
            << int(kind);
        EXPECT_LT(timer.elapsed(), 5000);
    }

    // A connection dropped between messages.
    phone->setBackupScript(BackupScript().ask(dl("DLMessageGetFreeDiskSpace")).drop());
    timer.restart();
    const QString dropped = runError(tool, _backup2tool_req(OP_BACKUP));
    EXPECT_TRUE(dropped.startsWith("ERROR: Could not receive from mobilebackup2 (-"))
        << dropped.toStdString();
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST_F(DeviceSession, CancelFromAnotherThread) {
    BackupScript script;
    for (int i = 0; i < 2000; ++i)
        script.ask(dl("DLMessageGetFreeDiskSpace"));
    script.finish(0);
    phone->setBackupScript(script);
    backup2tool tool(udid, root);
    QThread* canceller = QThread::create([&] {
        fakedevice::waitUntil(
            [&] {
                auto s = phone->backupSessions();
                return !s.empty() && s[0].statuses.size() >= 5;
            },
            std::chrono::seconds(5));
        tool.cancel();
    });
    canceller->start();
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_BACKUP)), "");
    canceller->wait();
    delete canceller;
    ASSERT_TRUE(phone->waitForBackupEnd(std::chrono::seconds(5)));
    const auto s = phone->backupSessions().at(0);
    EXPECT_GE(s.statuses.size(), 5u);
    EXPECT_LT(s.statuses.size(), 2000u);
    EXPECT_FALSE(s.scriptDone);
}

TEST_F(DeviceSession, SelectiveBackupWritesOnlyChosenApps) {
    const std::string notes = "0A1B2C3D-0000-1111-2222-333344445555";
    const std::string games = "FFEEDDCC-0000-1111-2222-333344445555";
    Plist apps = Plist::array();
    for (const auto& [bundle, container] :
         {std::pair<std::string, std::string>{"com.example.notes", notes},
          {"com.example.games", games}}) {
        Plist app = Plist::dict();
        app.set("CFBundleIdentifier", Plist::string(bundle));
        app.set("Container",
                Plist::string("/private/var/mobile/Containers/Data/Application/" + container));
        apps.append(app);
    }
    phone->setInstalledApps(apps);
    std::string lowerNotes = notes;
    for (char& ch : lowerNotes)
        ch = char(tolower(ch));
    const std::string hashA = "aa" + std::string(38, '1');
    const std::string hashB = "bb" + std::string(38, '2');
    phone->setBackupScript(
        BackupScript()
            .upload({{"/var/mobile/Containers/Data/Application/" + lowerNotes + "/Documents/n",
                      path(QString::fromStdString("aa/" + hashA)), "notes data"},
                     {"/var/mobile/Containers/Data/Application/" + games + "/save",
                      path(QString::fromStdString("bb/" + hashB)), "games data"},
                     {"Manifest", path("Manifest.db"), "manifest"}})
            .ask(dl("DLContentsOfDirectory", {Plist::string(path("bb"))}))
            .finish(0));
    auto* hook = new FakeBackup2ToolHook;
    hook->setSelectedAppIds({"com.example.notes"});
    backup2tool tool(udid, root, QSharedPointer<Backup2ToolHook>(hook));
    EXPECT_EQ(runError(tool, _backup2tool_req(OP_BACKUP)), "");
    EXPECT_EQ(hook->installedContainers().value("com.example.notes"),
              QSet<QString>({QString::fromStdString(notes)}));
    EXPECT_EQ(readFile(local(QString::fromStdString("aa/" + hashA))), "notes data");
    EXPECT_FALSE(QFile::exists(local(QString::fromStdString("bb/" + hashB))));
    EXPECT_EQ(readFile(local("Manifest.db")), "manifest");
    EXPECT_EQ(phone->countRequests(fakedevice::kServiceInstProxy, "Browse"), 1u);
    // The device still sees the dropped file, with its size.
    const auto s = phone->backupSessions().back();
    ASSERT_EQ(s.statuses.size(), 2u);
    plist_t listing = statusValue(s.statuses[1]);
    plist_t entry = plist_dict_get_item(listing, hashB.c_str());
    ASSERT_TRUE(entry);
    uint64_t size = 0;
    plist_get_uint_val(plist_dict_get_item(entry, "DLFileSize"), &size);
    EXPECT_EQ(size, 10u);
}
