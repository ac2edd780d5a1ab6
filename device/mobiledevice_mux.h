// What usbmuxd says of a phone, and, when usbmuxd cannot be asked, why not. usbmuxd lists the
// attached phones and carries every connection to them; libimobiledevice reports a usbmuxd it
// cannot ask as it reports a phone that is not attached (IDEVICE_E_NO_DEVICE), so the two are
// told apart here: from usbmuxd's own list, and from what its socket does when it is connected
// to and asked for that list.
#pragma once

#include <libimobiledevice/libimobiledevice.h>

#include <QString>
#include <atomic>
#include <utility>

#include "platform/mobilesync/deviceerror.h"

// None when usbmuxd lists the phone as attached over USB; NotFound when usbmuxd answered with a
// list that lacks it; a usbmuxd failure (isUsbmuxdFailure) when the list could not be had.
DeviceFailure mobiledevice_listing(const QString& devid);

// Why usbmuxd's list could not be had: err is errno as the failing library call left it. A
// socket that takes the connection is asked for the list once more, for up to 1.5 s, which a
// set cancel flag ends at once (Cancelled).
DeviceFailure usbmuxdFailure(int err, const std::atomic<bool>* cancel = nullptr);

// The phone's handle from usbmuxd's look-up (USB only), or why there is none: NotFound only when
// usbmuxd answered without it.
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

// Each question to usbmuxd runs on a thread of its own: a set cancel flag ends the wait at once
// (failure Cancelled), and a usbmuxd that never answers is given up on within 6 seconds and
// named within 8.
FoundDevice mobiledevice_lookup(const QString& devid, const std::atomic<bool>* cancel = nullptr);
