#include "powerassertion.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QVariant>

namespace {

const char kService[] = "org.freedesktop.ScreenSaver";
const char kPath[] = "/org/freedesktop/ScreenSaver";
const char kInterface[] = "org.freedesktop.ScreenSaver";
// Start-up must not hang on a bus that does not answer.
const int kCallTimeoutMs = 2000;

// Our ids are handed out from 1; the screen saver's cookies may be any value, 0 included.
QMutex g_lock;
QMap<PowerAssertionID, uint> g_cookies;
PowerAssertionID g_nextId = 1;

const char kConnectionName[] = "tellwick-power";

// A connection of our own, made when needed: a failed attempt is not kept, so a bus that
// appears later is still found.
bool sessionBus(QDBusConnection* bus) {
    // Without an address libdbus may try to autolaunch a bus; do without instead. The address
    // is read now (libdbus would keep whatever it saw first in the process).
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty()) {
        return false;
    }
    const QString name = QString::fromLatin1(kConnectionName);
    QDBusConnection connection = QDBusConnection::connectToBus(address, name);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return false;
    }
    *bus = connection;
    return true;
}

}  // namespace

int g_powerAssertionCreateWithName(const QString& type, int level, const QString& name,
                                   PowerAssertionID* id) {
    if (id) {
        *id = 0;
    }
    // Only keeping the display awake at full level has a counterpart here.
    QDBusConnection bus(QString::fromLatin1(kConnectionName));
    if (!id || type != QLatin1String("NoDisplaySleepAssertion") || level != 255 ||
        !sessionBus(&bus)) {
        return kPowerAssertionFailed;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kInterface), QStringLiteral("Inhibit"));
    call << QStringLiteral("tellwick") << name;
    const QDBusMessage answer = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return kPowerAssertionFailed;
    }
    bool ok = false;
    const uint cookie = answer.arguments().first().toUInt(&ok);
    if (!ok) {
        return kPowerAssertionFailed;
    }
    QMutexLocker locker(&g_lock);
    PowerAssertionID newId = g_nextId++;
    if (newId == 0) {
        newId = g_nextId++;
    }
    g_cookies.insert(newId, cookie);
    *id = newId;
    return kPowerAssertionSuccess;
}

int g_powerAssertionRelease(PowerAssertionID id) {
    uint cookie = 0;
    {
        QMutexLocker locker(&g_lock);
        auto it = g_cookies.find(id);
        if (it == g_cookies.end()) {
            return kPowerAssertionFailed;
        }
        cookie = it.value();
        g_cookies.erase(it);
    }
    QDBusConnection bus(QString::fromLatin1(kConnectionName));
    if (!sessionBus(&bus)) {
        return kPowerAssertionFailed;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
        QStringLiteral("UnInhibit"));
    call << cookie;
    const QDBusMessage answer = bus.call(call, QDBus::Block, kCallTimeoutMs);
    return answer.type() == QDBusMessage::ReplyMessage ? kPowerAssertionSuccess
                                                       : kPowerAssertionFailed;
}
