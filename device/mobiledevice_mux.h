// What usbmuxd says of a phone, and, when usbmuxd cannot be asked, why not. usbmuxd lists the
// attached phones and carries every connection to them; libimobiledevice reports a usbmuxd it
// cannot ask as it reports a phone that is not attached (IDEVICE_E_NO_DEVICE), so usbmuxd is
// asked for the phone through libusbmuxd, whose answer tells the two apart, and when no list
// came, its socket is asked what it answers.
#pragma once

#include <libimobiledevice/libimobiledevice.h>

#include <QString>
#include <atomic>
#include <utility>

#include "platform/mobilesync/deviceerror.h"

// None when usbmuxd lists the phone as attached over USB; NotFound when usbmuxd answered with a
// list that lacks it, however late the answer came; a usbmuxd failure (isUsbmuxdFailure) when no
// list came within libusbmuxd's own wait. A set cancel flag ends the wait at once (Cancelled).
DeviceFailure mobiledevice_listing(const QString& devid, const std::atomic<bool>* cancel = nullptr);

// The phone's handle (USB only), or why there is none, as mobiledevice_listing says.
struct FoundDevice {
    idevice_t device = nullptr;
    int rc = IDEVICE_E_UNKNOWN_ERROR;
    DeviceFailure failure = DeviceFailure::Other;

    FoundDevice() = default;
    FoundDevice(FoundDevice&& o) noexcept
        : device(std::exchange(o.device, nullptr)), rc(o.rc), failure(o.failure) {}
    FoundDevice& operator=(FoundDevice&&) = delete;
    ~FoundDevice() {
        if (device)
            idevice_free(device);
    }
    // The handle, for the caller to free.
    idevice_t release() { return std::exchange(device, nullptr); }
};

// usbmuxd's answer to one question decides; the handle is made (libimobiledevice asks usbmuxd
// again) only for a phone usbmuxd listed. A set cancel flag ends the wait at once (failure
// Cancelled).
FoundDevice mobiledevice_lookup(const QString& devid, const std::atomic<bool>* cancel = nullptr);
