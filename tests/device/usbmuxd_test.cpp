// usbmuxd lists the phones and carries every connection to them. When it cannot be asked, the
// words say so, why when that was seen, at which socket, and what to do; "not connected" is said
// only when usbmuxd answered with a list that lacks the phone, however late within libusbmuxd's
// wait. A cancel ends the wait for a usbmuxd that has not answered at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "device_fixture.h"
#include "seen.h"
#include "device/mobiledevice.h"
#include "device/mobiledevice_sync.h"
#include "platform/mobilesync/phonecall.h"

using namespace devicetest;

namespace {

Seen startOf(const QString& udid, const std::atomic<bool>* cancel = nullptr) {
    return failureOf([&] {
        mobiledevice_sync_client client;
        client.cancelFlag = cancel;
        mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    });
}

}  // namespace

TEST_F(DeviceTest, AUsbmuxdThatCannotBeAskedIsNamedWithItsSocket) {
    using fakedevice::BrokenMuxKind;
    const std::string path = dir.path() + "/usbmuxd";
    const std::string plugIn = "or plug the phone in, which starts it on most systems";
    const std::string unreachable =
        "This computer's phone service (usbmuxd) could not be reached: ";
    const std::string notConnected = "The phone is not connected";
    struct Case {
        const char* name;
        std::optional<BrokenMuxKind> broken;  // else the working usbmuxd, answering lateMs late
        int lateMs;
        DeviceFailure failure;  // None: the phone is attached
        std::string words;
        std::string next;
        qint64 withinMs;  // for each question
    } cases[] = {
        {"no socket", BrokenMuxKind::Missing, 0, DeviceFailure::MuxNotRunning,
         unreachable + "it is not running (nothing listens at its socket " + path + ")", plugIn,
         10000},
        {"a socket left behind", BrokenMuxKind::NothingListening, 0, DeviceFailure::MuxNotRunning,
         unreachable + "it is not running (nothing listens at its socket " + path + ")", plugIn,
         10000},
        {"another protocol", BrokenMuxKind::OtherProtocol, 0, DeviceFailure::MuxForeign,
         unreachable + "something else answers at its socket " + path, "start usbmuxd", 10000},
        // libusbmuxd's wait (twice 5 s for a process's first question), then 5 s of our own.
        {"silent", BrokenMuxKind::Silent, 0, DeviceFailure::MuxSilent,
         unreachable + "it took the connection at its socket " + path + " but did not answer",
         "Restart usbmuxd", 17000},
        // An answer is an answer however late it comes within libusbmuxd's 5 s.
        {"answering 3.5 s late without the phone", std::nullopt, 3500, DeviceFailure::NotFound,
         notConnected, "Connect it with its cable", 6000},
        {"answering 4.5 s late without the phone", std::nullopt, 4500, DeviceFailure::NotFound,
         notConnected, "Connect it with its cable", 7000},
        // Listed: the handle, and lockdown's session (this computer's id), ask usbmuxd again.
        {"answering 3.5 s late with the phone", std::nullopt, 3500, DeviceFailure::None, "", "",
         14000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool detached = !c.broken && c.failure != DeviceFailure::None;
        std::optional<fakedevice::BrokenMux> broken;
        std::optional<fakedevice::ScopedMuxAddress> at;
        if (c.broken) {
            broken.emplace(path, *c.broken);
            at.emplace(broken->socketAddress());
        } else {
            // Late with each answer of its own: the list, a subscription, this computer's id.
            server->setMuxFaults(
                {{fakedevice::kServiceMux, "", 0, fakedevice::FaultKind::Delay, c.lateMs, 0}});
            if (detached) {
                ASSERT_TRUE(server->detach(phone->udid()));
            }
        }
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(mobiledevice_check(udid), c.failure);
        EXPECT_LT(t.elapsed(), c.withinMs);
        const Seen f = startOf(udid);
        EXPECT_EQ(f.kind, c.failure) << f.text;
        EXPECT_GE(f.ms, c.lateMs);
        EXPECT_LT(f.ms, c.withinMs);
        if (c.failure != DeviceFailure::None) {
            EXPECT_TRUE(has(f.text, c.words)) << f.text;
            EXPECT_TRUE(has(f.text, c.next)) << f.text;
            EXPECT_EQ(has(f.text, notConnected), c.failure == DeviceFailure::NotFound) << f.text;
            EXPECT_EQ(f.detail, "mobiledevice_sync_start_throw: open device failed. return -3.");
        }
        if (c.broken) {
            EXPECT_FALSE(mobiledevice_attached(udid));
        }
        server->setMuxFaults({});
        if (detached)
            server->attach(phone);
    }

    // A usbmuxd that answers at once with a list lacking the phone: "not connected" too.
    ASSERT_TRUE(server->detach(phone->udid()));
    const Seen gone = startOf(udid);
    EXPECT_EQ(gone.kind, DeviceFailure::NotFound) << gone.text;
    EXPECT_TRUE(has(gone.text, notConnected)) << gone.text;
    EXPECT_EQ(mobiledevice_check(udid), DeviceFailure::NotFound);

    // Only the session that usbmuxd found the phone for was started, and it wrote nothing.
    EXPECT_TRUE(phone->setValueCalls().empty());
    EXPECT_EQ(phone->syncSessions().size(), 1u);
    EXPECT_EQ(phone->countRequests(fakedevice::kServiceSync, "SDMessageProcessChanges"), 0u);
}

TEST_F(DeviceTest, ACancelEndsTheWaitForAUsbmuxdThatHasNotAnsweredAtOnce) {
    const struct {
        const char* name;
        bool silent;  // else the working usbmuxd, answering 3.5 s late
    } cases[] = {{"silent", true}, {"answering late", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<fakedevice::BrokenMux> silent;
        std::optional<fakedevice::ScopedMuxAddress> at;
        if (c.silent) {
            silent.emplace(dir.path() + "/usbmuxd", fakedevice::BrokenMuxKind::Silent);
            at.emplace(silent->socketAddress());
        } else {
            server->setMuxFaults(
                {{fakedevice::kServiceMux, "", 0, fakedevice::FaultKind::Delay, 3500, 0}});
        }
        std::atomic<bool> cancel{false};
        std::atomic<int64_t> setAt{0};
        std::thread user([&] {
            std::this_thread::sleep_for(300ms);
            setAt = phonecall::Wait::nowMs();
            cancel = true;
        });
        const Seen f = startOf(udid, &cancel);
        const int64_t afterFlag = phonecall::Wait::nowMs() - setAt;
        user.join();
        EXPECT_EQ(f.kind, DeviceFailure::Cancelled) << f.text;
        // A wait that missed the flag would last the rest of libusbmuxd's 5 s.
        EXPECT_LT(afterFlag, 1000);
        server->setMuxFaults({});
    }
    // The questions left behind end within libusbmuxd's own wait, and start nothing.
    EXPECT_TRUE(phonecall::Running::waitForAll(15000));
    EXPECT_TRUE(phone->syncSessions().empty());
}

// The socket of a working usbmuxd that this user may not open. A socket's mode does not stop
// root, so as root the look-up runs as "nobody" in a helper process.
TEST_F(DeviceTest, ASocketThisUserMayNotOpenIsNamed) {
    const std::string path = server->socketPath();
    QStringList command{QStringLiteral(TW_MUX_PROBE), udid};
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            GTEST_SKIP() << "running as root without setpriv: no user whom the socket's mode stops";
        command =
            QStringList{setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups"} + command;
        // The user must reach the socket's folder and the helper; only the socket is closed.
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("USBMUXD_SOCKET_ADDRESS", QString::fromStdString(server->socketAddress()));
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    probe.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    probe.start(command.takeFirst(), command);
    ASSERT_TRUE(probe.waitForFinished(20000));
    ::chmod(path.c_str(), 0777);
    const QStringList out = QString::fromUtf8(probe.readAllStandardOutput()).split('\n');
    ASSERT_GE(out.size(), 3) << probe.readAllStandardError().toStdString();
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(out[0].toInt(), int(DeviceFailure::MuxNoAccess));
    EXPECT_EQ(out[1].toInt(), int(DeviceFailure::MuxNoAccess));
    EXPECT_TRUE(out[2].contains(QString::fromStdString("this user may not open its socket " + path +
                                                       ". Give this user "
                                                       "access to that socket")))
        << out.join('\n').toStdString();
    EXPECT_TRUE(phone->syncSessions().empty());
}
