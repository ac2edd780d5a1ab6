#include "mobiledevice.h"

#include <plist/plist.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <vector>

#include "platform/backuptool/backuptool.h"
#include "mobiledevice_mux.h"
#include "platform/mobilesync/phonecall.h"

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

void iDevice::adopt(idevice_t device) {
    if (m_device)
        idevice_free(m_device);
    m_device = device;
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

DeviceFailure mobiledevice_check(QString devid, const std::atomic<bool>* cancel) {
    iDevice dev(devid);
    FoundDevice found = mobiledevice_lookup(devid, cancel);
    if (found.failure != DeviceFailure::None)
        return found.failure;
    dev.adopt(found.release());
    const DeviceFailure kind = failureOfLockdown(dev.lockdowndWithHandshake());
    // -5 is the TLS handshake itself failing; -8 a connection to lockdown that could not be made
    // or that closed before lockdown answered. Neither says anything of the cable by itself, and
    // a -8 nothing of the pairing.
    if (kind != DeviceFailure::SecurityRefused && kind != DeviceFailure::Disconnected)
        return kind;
    const DeviceFailure listing = mobiledevice_listing(devid, cancel);
    if (listing != DeviceFailure::None)
        return listing == DeviceFailure::NotFound ? DeviceFailure::Disconnected : listing;
    return kind == DeviceFailure::SecurityRefused ? DeviceFailure::SecurityRefused
                                                  : DeviceFailure::EndedByPhone;
}

bool mobiledevice_attached(const QString& devid, const std::atomic<bool>* cancel) {
    return mobiledevice_listing(devid, cancel) == DeviceFailure::None;
}

// ---- lockdown values ----

PlistCFType mobiledevice_info(QString devid, QString domain, QString key) {
    iDevice dev(devid);
    if (!dev.open())
        return PlistCFType();
    return mobiledevice_info(&dev, domain, key);
}

PlistCFType mobiledevice_info(iDevice* dev, QString domain, QString key) {
    return dev ? lockdown_value(dev->lockdownClient(), domain, key) : PlistCFType();
}

PlistCFType lockdown_value(lockdownd_client_t lockdown, QString domain, QString key) {
    if (!lockdown)
        return PlistCFType();
    const QByteArray d = domain.toUtf8();
    const QByteArray k = key.toUtf8();
    plist_t value = nullptr;
    const int rc = lockdownd_get_value(lockdown, domain.isEmpty() ? nullptr : d.constData(),
                                       key.isEmpty() ? nullptr : k.constData(), &value);
    if (rc != 0) {
        if (value)
            plist_free(value);
        return PlistCFType();
    }
    return PlistCFType(value, true);
}

bool mobiledevice_set(iDevice* dev, QString domain, QString key, PlistCFType value) {
    return dev && lockdown_set_value(dev->lockdownClient(), domain, key, value);
}

bool lockdown_set_value(lockdownd_client_t lockdown, QString domain, QString key,
                        PlistCFType value) {
    if (!lockdown || value.isNull())
        return false;
    plist_t copy = plist_copy(static_cast<plist_t>(value.ref()));
    const QByteArray d = domain.toUtf8();
    const QByteArray k = key.toUtf8();
    // The library takes the copy over.
    return lockdownd_set_value(lockdown, d.constData(), k.constData(), copy) == 0;
}

bool mobiledevice_set(QString devid, QString domain, QString key, PlistCFType value) {
    iDevice dev(devid);
    if (!dev.open())
        return false;
    return mobiledevice_set(&dev, domain, key, value);
}

// ---- device events ----

namespace {

// The library keeps one event subscription per process and ends it by cancelling its event
// thread. Cancelled while that thread still greets usbmuxd or reads an event, it leaves the
// message it holds behind. So the subscription, once made, lasts to the process's end and
// passes from subscriber to subscriber; it is made anew only for another usbmuxd address.
// A subscriber that takes over an existing subscription is told of the phones already
// attached, as a new subscription would tell it.
struct DeviceEvents {
    std::mutex mutex;
    MobiledeviceSubscribe* current = nullptr;
    bool subscribed = false;
    QByteArray address;
    QStringList attached;
    // The library's thread greets usbmuxd as it starts, and a cancel that lands in that greeting
    // leaves the greeting's message behind. A phone announced means the greeting is over; with
    // none attached, the greeting is given its time.
    std::chrono::steady_clock::time_point subscribedAt;
    bool heard = false;
    std::condition_variable heardCondition;
};

constexpr auto kGreetingTime = std::chrono::seconds(2);

// Never destroyed: the library's thread may call in while the process ends.
DeviceEvents& deviceEvents() {
    static DeviceEvents* events = new DeviceEvents;
    return *events;
}

void onDeviceEvent(const idevice_event_t* event, void*) {
    DeviceEvents& events = deviceEvents();
    std::lock_guard<std::mutex> lock(events.mutex);
    events.heard = true;
    events.heardCondition.notify_all();
    if (!event || !event->udid)
        return;
    if (event->conn_type != CONNECTION_USBMUXD)
        return;  // network connections produce no signals
    const QString udid = QString::fromLatin1(event->udid);
    // Emitted here, the signals reach the GUI thread queued.
    if (event->event == IDEVICE_DEVICE_ADD) {
        if (!events.attached.contains(udid))
            events.attached << udid;
        if (events.current && events.current->announce(udid))
            emit events.current->newDevice(udid);
    } else if (event->event == IDEVICE_DEVICE_REMOVE) {
        events.attached.removeAll(udid);
        if (events.current && events.current->forget(udid))
            emit events.current->kickDevice(udid);
    }
}

}  // namespace

MobiledeviceSubscribe::MobiledeviceSubscribe(QObject* parent) : QObject(parent) {}

MobiledeviceSubscribe::~MobiledeviceSubscribe() {
    DeviceEvents& events = deviceEvents();
    std::lock_guard<std::mutex> lock(events.mutex);
    if (events.current == this)
        events.current = nullptr;
}

bool MobiledeviceSubscribe::start() {
    mobiledevice_ignore_sigpipe();
    DeviceEvents& events = deviceEvents();
    const QByteArray address = qgetenv("USBMUXD_SOCKET_ADDRESS");
    bool renew = false;
    {
        std::lock_guard<std::mutex> lock(events.mutex);
        events.current = nullptr;
        m_count = 0;
        m_announced.clear();
        renew = !events.subscribed || events.address != address;
    }
    if (renew) {
        if (events.subscribed) {
            {
                std::unique_lock<std::mutex> lock(events.mutex);
                events.heardCondition.wait_until(lock, events.subscribedAt + kGreetingTime,
                                                 [&events] { return events.heard; });
            }
            // Unlocked: ending the subscription waits for the library's thread, which may be
            // waiting for the lock in onDeviceEvent.
            idevice_event_unsubscribe();
        }
        {
            std::lock_guard<std::mutex> lock(events.mutex);
            events.subscribed = false;
            events.attached.clear();
            events.heard = false;
            events.subscribedAt = std::chrono::steady_clock::now();
            events.current = this;
        }
        if (idevice_event_subscribe(onDeviceEvent, nullptr) != IDEVICE_E_SUCCESS) {
            std::lock_guard<std::mutex> lock(events.mutex);
            events.current = nullptr;
            return false;
        }
        std::lock_guard<std::mutex> lock(events.mutex);
        events.subscribed = true;
        events.address = address;
        return true;
    }
    QStringList known;
    {
        std::lock_guard<std::mutex> lock(events.mutex);
        events.current = this;
        known = events.attached;
    }
    if (!known.isEmpty())
        announceAttached(known);
    return true;
}

// The library's list may still hold a phone whose removal it has not read yet, so usbmuxd is
// asked which of them are attached now, off the GUI thread.
void MobiledeviceSubscribe::announceAttached(const QStringList& known) {
    auto check =
        std::make_shared<phonecall::Call<QStringList>>([known](const std::atomic<bool>& abandoned) {
            QStringList attached;
            for (const QString& udid : known) {
                if (!abandoned && mobiledevice_attached(udid, &abandoned))
                    attached << udid;
            }
            return attached;
        });
    auto* poll = new QTimer(this);
    poll->setInterval(phonecall::kSliceMs);
    connect(poll, &QTimer::timeout, this, [this, check, poll, known] {
        if (!check->finished())
            return;
        poll->stop();
        poll->deleteLater();
        QStringList attached;
        try {
            attached = check->take();
        } catch (const std::exception&) {
            // Unchecked, the library's own list stands: a phone gone meanwhile fails its read
            // with its own words, while one left out would never be read.
            attached = known;
        }
        QStringList fresh;
        {
            DeviceEvents& events = deviceEvents();
            std::lock_guard<std::mutex> lock(events.mutex);
            if (events.current != this)
                return;
            for (const QString& udid : attached) {
                if (events.attached.contains(udid) && announce(udid))
                    fresh << udid;
            }
        }
        // Unlocked: a receiver may open the phone at once.
        for (const QString& udid : fresh)
            emit newDevice(udid);
    });
    poll->start();
}

bool MobiledeviceSubscribe::announce(const QString& devid) {
    if (m_announced.contains(devid))
        return false;
    m_announced << devid;
    ++m_count;
    return true;
}

bool MobiledeviceSubscribe::forget(const QString& devid) {
    if (!m_announced.removeAll(devid))
        return false;
    --m_count;
    return true;
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
