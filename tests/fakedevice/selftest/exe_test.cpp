// The fake-iphone executable, driven like a tester would: ideviceinfo, the control socket,
// signals and bad arguments.
#include "tests/fakedevice/fakedevice.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

extern char** environ;

using namespace std::chrono_literals;

namespace {

pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

// Exit status, or -1 when the process does not end within the timeout (it is then killed).
int waitExit(pid_t pid, std::chrono::milliseconds timeout) {
    int status = 0;
    bool ended =
        fakedevice::waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool isSocket(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::string run(const std::string& cmd) {
    std::string out;
    if (FILE* f = popen(cmd.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        pclose(f);
    }
    return out;
}

std::string control(const std::string& path, const std::string& line) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string msg = line + "\n";
        send(fd, msg.data(), msg.size(), MSG_NOSIGNAL);
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[256];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, 0)) > 0) {
            answer.append(buf, static_cast<size_t>(n));
            if (answer.find('\n') != std::string::npos)
                break;
        }
    }
    close(fd);
    return answer;
}

class FakeIphoneExe : public ::testing::Test {
protected:
    fakedevice::TempDir dir;
    std::string mux = dir.path() + "/mux";
    std::string ctl = dir.path() + "/ctl";
    std::string env = "USBMUXD_SOCKET_ADDRESS=UNIX:" + mux + " ";
};

}  // namespace

TEST_F(FakeIphoneExe, IdeviceinfoReadsTheSimulatedPhone) {
    if (access("/usr/bin/ideviceinfo", X_OK) != 0)
        GTEST_SKIP() << "ideviceinfo (libimobiledevice-utils) is not installed";
    const std::string udid = fakedevice::makeUdid(7);
    pid_t pid = spawn({FAKE_IPHONE_EXE, "--socket", mux, "--udid", udid, "--name", "Pocket Test",
                       "--contacts", "25", "--journal", dir.path() + "/j.jsonl", "--control", ctl});
    ASSERT_GT(pid, 0);
    // The phone makes its TLS keys first, which takes a while on a busy machine.
    ASSERT_TRUE(fakedevice::waitUntil([&] { return isSocket(mux) && isSocket(ctl); }, 30s));

    std::string info = run(env + "ideviceinfo 2>&1");
    EXPECT_NE(info.find("DeviceName: Pocket Test\n"), std::string::npos) << info;
    EXPECT_NE(info.find("UniqueDeviceID: " + udid), std::string::npos) << info;

    EXPECT_EQ(control(ctl, "count").substr(0, 3), "ok ");
    EXPECT_EQ(control(ctl, "detach"), "ok\n");
    EXPECT_EQ(run(env + "idevice_id -l 2>/dev/null"), "");
    EXPECT_EQ(control(ctl, "detach"), "error not attached\n");
    EXPECT_EQ(control(ctl, "attach"), "ok\n");
    EXPECT_EQ(run(env + "idevice_id -l 2>/dev/null"), udid + "\n");
    EXPECT_EQ(control(ctl, "save " + dir.path() + "/saved.plist"), "ok\n");
    EXPECT_EQ(control(ctl, "bogus").substr(0, 6), "error ");

    // Scenario commands change what the next client sees.
    EXPECT_EQ(control(ctl, "name Renamed Phone"), "ok\n");
    EXPECT_NE(run(env + "ideviceinfo -k DeviceName 2>&1").find("Renamed Phone"), std::string::npos);
    EXPECT_EQ(control(ctl, "untrusted on"), "ok\n");
    EXPECT_EQ(run(env + "ideviceinfo -k DeviceName 2>&1").find("Renamed Phone"), std::string::npos);
    EXPECT_EQ(control(ctl, "reset"), "ok\n");
    EXPECT_EQ(control(ctl, "contacts 4 9"), "ok\n");
    EXPECT_EQ(control(ctl, "contacts lots").substr(0, 6), "error ");
    EXPECT_EQ(control(ctl, "untrusted maybe").substr(0, 6), "error ");
    EXPECT_EQ(control(ctl, "cancel-at-batch 2"), "ok\n");
    EXPECT_EQ(control(ctl, "disconnect-at-batch 1"), "ok\n");
    EXPECT_EQ(control(ctl, "malformed-at-batch off"), "ok\n");
    EXPECT_EQ(control(ctl, "hostile shared 3"), "ok\n");
    EXPECT_EQ(control(ctl, "hostile huge").substr(0, 6), "error ");
    EXPECT_EQ(control(ctl, "delay 50"), "ok\n");
    EXPECT_NE(run(env + "ideviceinfo -k DeviceName 2>&1").find("Renamed Phone"), std::string::npos);
    // Phones beyond the happy path, as Debian's own tool meets them.
    EXPECT_EQ(control(ctl, "trust pending"), "ok\n");
    EXPECT_NE(run(env + "ideviceinfo -k DeviceName 2>&1").find("-19"), std::string::npos);
    EXPECT_EQ(control(ctl, "trust tap"), "ok\n");
    EXPECT_NE(run(env + "ideviceinfo -k DeviceName 2>&1").find("Renamed Phone"), std::string::npos);
    EXPECT_EQ(control(ctl, "trust decline"), "ok\n");
    EXPECT_NE(run(env + "ideviceinfo -k DeviceName 2>&1").find("-18"), std::string::npos);
    EXPECT_EQ(control(ctl, "trust maybe").substr(0, 6), "error ");
    EXPECT_EQ(control(ctl, "trust tap"), "ok\n");
    EXPECT_EQ(control(ctl, "tls-refused on"), "ok\n");
    EXPECT_EQ(run(env + "ideviceinfo -k DeviceName 2>&1").find("Renamed Phone"), std::string::npos);
    EXPECT_EQ(control(ctl, "tls-refused off"), "ok\n");
    EXPECT_EQ(control(ctl, "locked on"), "ok\n");  // values are still read
    EXPECT_NE(run(env + "ideviceinfo -k DeviceName 2>&1").find("Renamed Phone"), std::string::npos);
    EXPECT_EQ(control(ctl, "icloud refuse"), "ok\n");
    EXPECT_EQ(control(ctl, "icloud empty"), "ok\n");
    EXPECT_EQ(control(ctl, "count"), "ok 0\n");
    EXPECT_EQ(control(ctl, "icloud maybe").substr(0, 6), "error ");
    EXPECT_EQ(control(ctl, "unplug-at SDMessageProcessChanges 2"), "ok\n");
    EXPECT_EQ(control(ctl, "unplug-at off"), "ok\n");
    EXPECT_EQ(control(ctl, "contacts 2 1 100000"), "ok\n");
    EXPECT_EQ(control(ctl, "contacts 2 1 lots").substr(0, 6), "error ");
    EXPECT_EQ(control(ctl, "quit"), "ok\n");
    EXPECT_EQ(waitExit(pid, 5s), 0);

    // The journal holds the lockdown traffic as JSON lines.
    std::string journal = run("cat " + dir.path() + "/j.jsonl");
    EXPECT_NE(journal.find("\"name\":\"StartSession\""), std::string::npos);

    // The saved records serve again through --fixture; SIGTERM ends the process cleanly.
    pid = spawn({FAKE_IPHONE_EXE, "--socket", mux, "--fixture", dir.path() + "/saved.plist"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(fakedevice::waitUntil([&] { return isSocket(mux); }, 30s));
    EXPECT_NE(run(env + "ideviceinfo -k DeviceName 2>&1").find("Fake iPhone"), std::string::npos);
    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(pid, 5s), 0);
}

// Debian's own tools read the default, current phone (lockdown over TLS with the phone's pair
// record) and an iOS 12 one; pairing, the clock and a backup start work as on a real phone.
TEST_F(FakeIphoneExe, DebiansToolsReadTheSimulatedPhone) {
    for (const char* tool : {"ideviceinfo", "idevicepair", "idevicedate", "idevicebackup2"})
        if (access((std::string("/usr/bin/") + tool).c_str(), X_OK) != 0)
            GTEST_SKIP() << tool << " (libimobiledevice-utils) is not installed";
    // Exit code of the command, 128 + n when a signal ended it.
    auto status = [&](const std::string& cmd, std::string* out) {
        out->clear();
        FILE* f = popen((env + "timeout 60 " + cmd + " 2>&1").c_str(), "r");
        if (!f)
            return -1;
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            out->append(buf, n);
        const int st = pclose(f);
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    };
    for (const char* ios : {"17", "12"}) {
        SCOPED_TRACE(std::string("iOS ") + ios);
        pid_t pid = spawn({FAKE_IPHONE_EXE, "--socket", mux, "--ios", ios, "--contacts", "3"});
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(fakedevice::waitUntil([&] { return isSocket(mux); }, 30s));
        std::string out;
        EXPECT_EQ(status("ideviceinfo -k ProductVersion", &out), 0);
        EXPECT_EQ(out.substr(0, 3), std::string(ios) == "17" ? "17." : "12.") << out;
        EXPECT_EQ(status("ideviceinfo", &out), 0);
        EXPECT_NE(out.find("DeviceName: Fake iPhone"), std::string::npos) << out;
        EXPECT_EQ(status("idevicepair validate", &out), 0);
        EXPECT_NE(out.find("SUCCESS: Validated pairing"), std::string::npos) << out;
        EXPECT_EQ(status("idevicedate", &out), 0);
        const time_t now = time(nullptr);
        char year[8];
        strftime(year, sizeof year, "%Y", gmtime(&now));
        EXPECT_NE(out.find(year), std::string::npos) << out;
        // Pairing anew makes a pair record of the tool's own keys, which TLS then uses.
        EXPECT_EQ(status("idevicepair pair", &out), 0);
        EXPECT_NE(out.find("SUCCESS: Paired"), std::string::npos) << out;
        EXPECT_EQ(status("idevicepair validate", &out), 0);
        EXPECT_EQ(status("ideviceinfo -k DeviceName", &out), 0);
        EXPECT_EQ(out, "Fake iPhone\n");
        // A backup needs the notification proxy; the tool must end on its own, not by a signal.
        const std::string backupDir = dir.path() + "/backup" + ios;
        mkdir(backupDir.c_str(), 0700);
        EXPECT_LT(status("idevicebackup2 backup " + backupDir, &out), 124) << out;
        kill(pid, SIGTERM);
        EXPECT_EQ(waitExit(pid, 10s), 0);
    }
}

TEST_F(FakeIphoneExe, BadArgumentsAreRefused) {
    EXPECT_EQ(waitExit(spawn({FAKE_IPHONE_EXE}), 5s), 2);
    EXPECT_EQ(waitExit(spawn({FAKE_IPHONE_EXE, "--socket", mux, "--contacts", "many"}), 5s), 2);
    EXPECT_EQ(waitExit(spawn({FAKE_IPHONE_EXE, "--socket", mux, "--bogus"}), 5s), 2);
    EXPECT_EQ(waitExit(spawn({FAKE_IPHONE_EXE, "--socket", mux, "--ios", "new"}), 5s), 2);
    EXPECT_EQ(waitExit(spawn({FAKE_IPHONE_EXE, "--socket", mux, "--fixture", "/nonexistent"}), 5s),
              1);
    EXPECT_EQ(waitExit(spawn({FAKE_IPHONE_EXE, "--socket", "/nonexistent-dir/mux"}), 5s), 1);
}

TEST_F(FakeIphoneExe, PhotosGoOnEveryKthGeneratedContact) {
    EXPECT_EQ(waitExit(spawn({FAKE_IPHONE_EXE, "--socket", mux, "--photo-every", "0"}), 5s), 2);
    pid_t pid = spawn({FAKE_IPHONE_EXE, "--socket", mux, "--contacts", "10", "--photo-bytes",
                       "3000", "--photo-every", "2", "--control", ctl});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(fakedevice::waitUntil([&] { return isSocket(mux) && isSocket(ctl); }, 30s));
    const std::string saved = dir.path() + "/saved.plist";
    EXPECT_EQ(control(ctl, "save " + saved), "ok\n");
    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(pid, 10s), 0);
    const std::string xml = run("cat " + saved);
    size_t contacts = 0, photos = 0;
    for (size_t at = 0; (at = xml.find("com.apple.contacts.Contact<", at)) != std::string::npos;
         ++at)
        ++contacts;
    for (size_t at = 0; (at = xml.find("<key>image</key>", at)) != std::string::npos; ++at)
        ++photos;
    EXPECT_EQ(contacts, 10u);
    EXPECT_EQ(photos, 5u);
}
