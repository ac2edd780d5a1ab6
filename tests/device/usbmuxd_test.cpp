// usbmuxd lists the phones and carries every connection to them. When it cannot be asked, the
// words say so, why when that was seen, at which socket, and what to do; "not connected" is said
// only when usbmuxd answered with a list that lacks the phone. Each case ends within 10 s, and a
// cancel ends the wait for a usbmuxd that never answers at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <atomic>
#include <functional>
#include <thread>

#include "device_fixture.h"
#include "seen.h"
#include "device/mobiledevice.h"
#include "device/mobiledevice_sync.h"

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
    struct Case {
        const char* name;
        BrokenMuxKind kind;
        DeviceFailure failure;
        std::string words;
        std::string next;
    } cases[] = {
        {"no socket", BrokenMuxKind::Missing, DeviceFailure::MuxNotRunning,
         "it is not running (nothing listens at its socket " + path + ")", plugIn},
        {"a socket left behind", BrokenMuxKind::NothingListening, DeviceFailure::MuxNotRunning,
         "it is not running (nothing listens at its socket " + path + ")", plugIn},
        {"another protocol", BrokenMuxKind::OtherProtocol, DeviceFailure::MuxForeign,
         "something else answers at its socket " + path, "start usbmuxd"},
        {"silent", BrokenMuxKind::Silent, DeviceFailure::MuxSilent,
         "it took the connection at its socket " + path + " but did not answer", "Restart usbmuxd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakedevice::BrokenMux broken(path, c.kind);
        fakedevice::ScopedMuxAddress at(broken.socketAddress());
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(mobiledevice_check(udid), c.failure);
        EXPECT_LT(t.elapsed(), 10000);
        const Seen f = startOf(udid);
        EXPECT_EQ(f.kind, c.failure) << f.text;
        EXPECT_TRUE(
            has(f.text, "This computer's phone service (usbmuxd) could not be reached: " + c.words))
            << f.text;
        EXPECT_TRUE(has(f.text, c.next)) << f.text;
        EXPECT_FALSE(has(f.text, "not connected")) << f.text;
        EXPECT_EQ(f.detail, "mobiledevice_sync_start_throw: open device failed. return -3.");
        EXPECT_LT(f.ms, 10000);
        EXPECT_FALSE(mobiledevice_attached(udid));
    }

    // A usbmuxd that answers with a list lacking the phone: only then is it "not connected".
    ASSERT_TRUE(server->detach(phone->udid()));
    const Seen gone = startOf(udid);
    EXPECT_EQ(gone.kind, DeviceFailure::NotFound) << gone.text;
    EXPECT_TRUE(has(gone.text, "The phone is not connected")) << gone.text;
    EXPECT_EQ(mobiledevice_check(udid), DeviceFailure::NotFound);

    EXPECT_TRUE(phone->setValueCalls().empty());
    EXPECT_TRUE(phone->syncSessions().empty());
}

TEST_F(DeviceTest, ACancelEndsTheWaitForASilentUsbmuxdAtOnce) {
    fakedevice::BrokenMux silent(dir.path() + "/usbmuxd", fakedevice::BrokenMuxKind::Silent);
    fakedevice::ScopedMuxAddress at(silent.socketAddress());
    std::atomic<bool> cancel{false};
    std::thread user([&] {
        std::this_thread::sleep_for(300ms);
        cancel = true;
    });
    const Seen f = startOf(udid, &cancel);
    user.join();
    EXPECT_EQ(f.kind, DeviceFailure::Cancelled) << f.text;
    EXPECT_LT(f.ms, 1300);
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
