#include <QDBusConnection>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/power/powerassertion.h"

namespace {

// Stands in for the desktop's screen saver on a private session bus.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QMutex lock;
    QStringList calls;

public slots:
    uint Inhibit(const QString& app, const QString& reason) {
        QMutexLocker locker(&lock);
        calls << QString("Inhibit %1 %2").arg(app, reason);
        return 0;  // a cookie of 0 is valid for the screen saver
    }
    void UnInhibit(uint cookie) {
        QMutexLocker locker(&lock);
        calls << QString("UnInhibit %1").arg(cookie);
    }
};

// Serves the fake on its own connection and thread, so the blocking calls of the code under
// test (made on the main thread) can be answered.
class ServiceThread : public QThread {
public:
    explicit ServiceThread(QString address) : address(std::move(address)) {}
    FakeScreenSaver* saver = nullptr;
    std::atomic<bool> ready{false};

protected:
    void run() override {
        QDBusConnection conn = QDBusConnection::connectToBus(address, "fake-screensaver");
        FakeScreenSaver fake;
        conn.registerObject("/org/freedesktop/ScreenSaver", &fake, QDBusConnection::ExportAllSlots);
        conn.registerService("org.freedesktop.ScreenSaver");
        saver = &fake;
        ready = conn.isConnected();
        exec();
        saver = nullptr;
        QDBusConnection::disconnectFromBus("fake-screensaver");
    }

private:
    QString address;
};

}  // namespace

TEST(PowerAssertion, InhibitsAndReleasesThroughTheScreenSaver) {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty() || !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs dbus-daemon and no session bus of the user";
    }
    QProcess bus;
    bus.start(daemon, {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForStarted(2000));
    ASSERT_TRUE(bus.waitForReadyRead(2000));
    const QByteArray address = bus.readLine().trimmed();
    ASSERT_FALSE(address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    ServiceThread service(QString::fromLatin1(address));
    service.start();
    for (int i = 0; i < 200 && !service.ready; ++i) {
        QThread::msleep(5);
    }
    ASSERT_TRUE(service.ready);

    PowerAssertionID wrongType = 5;
    EXPECT_EQ(g_powerAssertionCreateWithName("Other", 255, "x", &wrongType), kPowerAssertionFailed);
    EXPECT_EQ(wrongType, 0u);

    PowerAssertionID id = 0;
    EXPECT_EQ(g_powerAssertionCreateWithName("NoDisplaySleepAssertion", 255,
                                             "Describe Activity Type", &id),
              kPowerAssertionSuccess);
    EXPECT_NE(id, 0u);  // even though the screen saver's cookie was 0
    EXPECT_EQ(g_powerAssertionRelease(id), kPowerAssertionSuccess);
    EXPECT_EQ(g_powerAssertionRelease(id), kPowerAssertionFailed);  // already released

    QStringList calls;
    {
        QMutexLocker locker(&service.saver->lock);
        calls = service.saver->calls;
    }
    EXPECT_EQ(calls, (QStringList{"Inhibit tellwick Describe Activity Type", "UnInhibit 0"}));

    service.quit();
    service.wait();
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    bus.kill();
    bus.waitForFinished(2000);
}

#include "test_power.moc"
