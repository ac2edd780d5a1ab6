#include "mobiledevice.h"

#include <plist/plist.h>

#include <QAtomicPointer>
#include <QCoreApplication>
#include <csignal>
#include <mutex>
#include <vector>

#include "backuptool.h"

const char* const MOBILEDEVICE_CLIENT_LABEL = "QUORVANTELI";

void mobiledevice_ignore_sigpipe() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

// ---- iDevice ----

iDevice::iDevice(QString identifier) : m_identifier(identifier) {
    mobiledevice_ignore_sigpipe();
}

iDevice::~iDevice() {
    if (m_lockdown)
        lockdownd_client_free(m_lockdown);
    m_lockdown = nullptr;
    if (m_device)
        idevice_free(m_device);
    m_device = nullptr;
}

int iDevice::newDevice() {
    if (m_device) {
        idevice_free(m_device);
        m_device = nullptr;
    }
    const QByteArray udid = m_identifier.toUtf8();
    return idevice_new_with_options(&m_device, udid.constData(), IDEVICE_LOOKUP_USBMUX);
}

int iDevice::lockdowndWithHandshake() {
    if (!m_device)
        return LOCKDOWN_E_INVALID_ARG;
    if (m_lockdown) {
        lockdownd_client_free(m_lockdown);
        m_lockdown = nullptr;
    }
    return lockdownd_client_new_with_handshake(m_device, &m_lockdown, MOBILEDEVICE_CLIENT_LABEL);
}

int iDevice::lockdown() {
    if (!m_device)
        return LOCKDOWN_E_INVALID_ARG;
    if (m_lockdown) {
        lockdownd_client_free(m_lockdown);
        m_lockdown = nullptr;
    }
    return lockdownd_client_new(m_device, &m_lockdown, MOBILEDEVICE_CLIENT_LABEL);
}

bool iDevice::open() {
    return newDevice() == 0 && lockdowndWithHandshake() == 0;
}

DeviceFailure mobiledevice_check(QString devid) {
    iDevice dev(devid);
    const int rc = dev.newDevice();
    if (rc != 0)
        return failureOfLookup(rc);
    const DeviceFailure kind = failureOfLockdown(dev.lockdowndWithHandshake());
    // A failed handshake (-5) or a dropped one (-8) says nothing of the cable by itself.
    if (kind != DeviceFailure::SecurityRefused && kind != DeviceFailure::Disconnected)
        return kind;
    return mobiledevice_attached(devid) ? DeviceFailure::SecurityRefused
                                        : DeviceFailure::Disconnected;
}

bool mobiledevice_attached(const QString& devid) {
    idevice_info_t* list = nullptr;
    int count = 0;
    if (idevice_get_device_list_extended(&list, &count) != IDEVICE_E_SUCCESS)
        return false;
    const QByteArray udid = devid.toUtf8();
    bool found = false;
    for (int i = 0; i < count && list && !found; ++i)
        found = list[i] && list[i]->conn_type == CONNECTION_USBMUXD && list[i]->udid &&
                udid == list[i]->udid;
    idevice_device_list_extended_free(list);
    return found;
}

// ---- lockdown values ----

PlistCFType mobiledevice_info(QString devid, QString domain, QString key) {
    iDevice dev(devid);
    if (!dev.open())
        return PlistCFType();
    return mobiledevice_info(&dev, domain, key);
}

PlistCFType mobiledevice_info(iDevice* dev, QString domain, QString key) {
    if (!dev || !dev->lockdownClient())
        return PlistCFType();
    const QByteArray d = domain.toUtf8();
    const QByteArray k = key.toUtf8();
    plist_t value = nullptr;
    const int rc =
        lockdownd_get_value(dev->lockdownClient(), domain.isEmpty() ? nullptr : d.constData(),
                            key.isEmpty() ? nullptr : k.constData(), &value);
    if (rc != 0) {
        if (value)
            plist_free(value);
        return PlistCFType();
    }
    return PlistCFType(value, true);
}

bool mobiledevice_set(iDevice* dev, QString domain, QString key, PlistCFType value) {
    if (!dev || !dev->lockdownClient() || value.isNull())
        return false;
    plist_t copy = plist_copy(static_cast<plist_t>(value.ref()));
    const QByteArray d = domain.toUtf8();
    const QByteArray k = key.toUtf8();
    // The library takes the copy over.
    return lockdownd_set_value(dev->lockdownClient(), d.constData(), k.constData(), copy) == 0;
}

bool mobiledevice_set(QString devid, QString domain, QString key, PlistCFType value) {
    iDevice dev(devid);
    if (!dev.open())
        return false;
    return mobiledevice_set(&dev, domain, key, value);
}

// ---- device events ----

namespace {

// The library keeps one process-wide subscription; remember whose it is, so that an older
// subscriber going away does not end a newer one's events.
QAtomicPointer<MobiledeviceSubscribe> g_currentSubscriber;

void subscribe(const idevice_event_t* event, void* user) {
    if (!event || !user || !event->udid)
        return;
    if (event->conn_type != CONNECTION_USBMUXD)
        return;  // network connections produce no signals
    auto* self = static_cast<MobiledeviceSubscribe*>(user);
    const QString udid = QString::fromLatin1(event->udid);
    if (event->event == IDEVICE_DEVICE_ADD)
        self->invokeNewDevice(udid);
    else if (event->event == IDEVICE_DEVICE_REMOVE)
        self->invokeKickDevice(udid);
}

}  // namespace

MobiledeviceSubscribe::MobiledeviceSubscribe(QObject* parent) : QObject(parent) {}

MobiledeviceSubscribe::~MobiledeviceSubscribe() {
    if (m_subscribed && g_currentSubscriber.testAndSetOrdered(this, nullptr))
        idevice_event_unsubscribe();
}

bool MobiledeviceSubscribe::start() {
    mobiledevice_ignore_sigpipe();
    m_count = 0;
    if (idevice_event_subscribe(subscribe, this) != IDEVICE_E_SUCCESS)
        return false;
    m_subscribed = true;
    g_currentSubscriber.storeRelease(this);
    return true;
}

void MobiledeviceSubscribe::invokeNewDevice(QString devid) {
    ++m_count;
    emit newDevice(devid);
}

void MobiledeviceSubscribe::invokeKickDevice(QString devid) {
    --m_count;
    emit kickDevice(devid);
}

// ---- pairing ----

mobiledevice_pair::mobiledevice_pair(QString devid) : m_devid(devid) {}

bool mobiledevice_pair::pair() {
    m_error.clear();
    {
        iDevice dev(m_devid);
        int rc = dev.newDevice();
        if (rc != 0) {
            m_error = QStringLiteral("No device found.");
        } else if (dev.lockdowndWithHandshake() == 0) {
            return true;  // already trusted
        } else if ((rc = dev.lockdown()) != 0) {
            m_error = QString::asprintf("Could not connect to lockdownd, error code %d\n", rc);
        } else if (lockdownd_pair(dev.lockdownClient(), nullptr) == 0) {
            return true;
        }
    }
    m_error =
        QStringLiteral("%1<br/><br/>Error detail: %2")
            .arg(QCoreApplication::translate(
                     "mobiledevice_pair",
                     "Please launch iTunes (Finder if MacOS 10.15 or above) first and then "
                     "re-connect your iPhone. Once your iPhone is visible in iTunes (Finder if "
                     "MacOS 10.15 or above), please restart Quorvanteli software."),
                 m_error);
    return false;
}

// ---- cloud backup switch ----

void enableOrDisableICloudBackup(QString devid, bool enable) {
    QByteArray prog;
    QByteArray u("-u");
    QByteArray id = devid.toUtf8();
    QByteArray cloud("cloud");
    QByteArray state(enable ? "on" : "off");
    std::vector<char*> argv = {prog.data(),  u.data(),     id.data(),
                               cloud.data(), state.data(), nullptr};
    main_(nullptr, 5, argv.data());
}
