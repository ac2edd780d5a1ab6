// Device access over libimobiledevice: one iPhone opened by its identifier for one operation,
// its lockdown values, and the device add/remove events as Qt signals.
//
// Every operation opens the device afresh and releases it before it returns; no handle is
// cached or shared between threads. Only USB-attached devices are reached.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <atomic>

#include "platform/mobilesync/deviceerror.h"
#include "platform/mobilesync/devicewords.h"
#include "plistcftype.h"

// The label the program gives itself on every lockdown connection and service start.
extern const char* const MOBILEDEVICE_CLIENT_LABEL;  // "QUORVANTELI"

// Ignores SIGPIPE for the whole process (once): a device that drops its connection then gives
// an error code instead of killing the program. Every device entry point calls it.
void mobiledevice_ignore_sigpipe();

class iDevice {
public:
    explicit iDevice(QString identifier);
    ~iDevice();
    iDevice(const iDevice&) = delete;
    iDevice& operator=(const iDevice&) = delete;

    // idevice_new_with_options(..., IDEVICE_LOOKUP_USBMUX); 0 when found.
    int newDevice();
    // Takes over a handle found elsewhere (see mobiledevice_lookup), in place of newDevice().
    void adopt(idevice_t device);
    // lockdownd_client_new_with_handshake; needs newDevice() first. 0 when connected.
    int lockdowndWithHandshake();
    // lockdownd_client_new without the handshake (pairing only).
    int lockdown();
    // newDevice() then lockdowndWithHandshake(); true only when both succeed.
    bool open();

    QString identifier() const { return m_identifier; }
    idevice_t device() const { return m_device; }
    lockdownd_client_t lockdownClient() const { return m_lockdown; }

protected:
    QString m_identifier;
    idevice_t m_device = nullptr;
    lockdownd_client_t m_lockdown = nullptr;
};

// Looks the phone up and makes one lockdown handshake: None when the phone can be used, else
// why not (a pending "Trust" prompt, a declined one, a locked phone, a usbmuxd that cannot be
// asked, ...). A set cancel flag ends the questions to usbmuxd at once (Cancelled).
DeviceFailure mobiledevice_check(QString devid, const std::atomic<bool>* cancel = nullptr);

// Whether usbmuxd lists the phone as attached over USB now (a question to usbmuxd only; the
// phone is not contacted). mobiledevice_listing (mobiledevice_mux.h) also says why not.
bool mobiledevice_attached(const QString& devid, const std::atomic<bool>* cancel = nullptr);

// Lockdown values. Empty domain/key are passed as "none", so both empty give the whole value
// dictionary. Failure (device not attached over USB, handshake refused, missing value) is an
// empty value; nothing is shown.
PlistCFType mobiledevice_info(QString devid, QString domain, QString key);
PlistCFType mobiledevice_info(iDevice* dev, QString domain, QString key);
// Writes a copy of the value; false on any failure.
bool mobiledevice_set(iDevice* dev, QString domain, QString key, PlistCFType value);
bool mobiledevice_set(QString devid, QString domain, QString key, PlistCFType value);
// The same on a lockdown session that is open already (one that starts a service next).
PlistCFType lockdown_value(lockdownd_client_t lockdown, QString domain, QString key);
bool lockdown_set_value(lockdownd_client_t lockdown, QString domain, QString key,
                        PlistCFType value);

// Device add/remove events of USB-attached devices, emitted on the library's event thread; a
// receiver living in the GUI thread gets them queued (automatic connection). One subscriber
// gets them at a time, the one started last (the library's subscription is process-wide).
class MobiledeviceSubscribe : public QObject {
    Q_OBJECT
public:
    explicit MobiledeviceSubscribe(QObject* parent = nullptr);
    ~MobiledeviceSubscribe() override;

    // Registers for events; false when the library refuses.
    bool start();
    // Devices seen attached minus detached since start().
    int deviceCount() const { return m_count; }

    // Under the event lock: whether the phone is new to this subscriber, and counted; whether
    // it had been announced, and is no longer counted.
    bool announce(const QString& devid);
    bool forget(const QString& devid);

signals:
    void newDevice(QString devid);
    void kickDevice(QString devid);

private:
    void announceAttached(const QStringList& known);

    int m_count = 0;
    QStringList m_announced;
};

// Pairing with a device that has not trusted this computer yet (no flow calls it).
class mobiledevice_pair {
public:
    explicit mobiledevice_pair(QString devid);
    bool pair();
    QString error() const { return m_error; }

private:
    QString m_devid;
    QString m_error;
};

// Switches the device's cloud backup through the backup tool ("-u <id> cloud on|off").
void enableOrDisableICloudBackup(QString devid, bool enable);
