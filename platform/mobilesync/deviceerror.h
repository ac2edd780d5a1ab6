// What went wrong with a phone, in the user's terms. Lockdown, service and sync-session codes
// overlap (-5 is an SSL error for lockdown and a receive time-out for the sync service; -7 is a
// lockdown time-out and a sync refusal), so each code is turned into a DeviceFailure where it
// arises, by the layer that gave it, and never read as another layer's.
#pragma once

#include <stdexcept>
#include <string>

enum class DeviceFailure {
    None,
    NotFound,         // no such phone attached over USB
    Locked,           // locked with its passcode ("PasswordProtected")
    TrustPending,     // "Trust this computer?" still on the phone's screen
    TrustDeclined,    // "Don't Trust" tapped
    PairingInvalid,   // the phone no longer knows this computer (erased, pairing removed)
    SecurityRefused,  // the TLS handshake itself failed with the phone still attached
    SyncRefused,      // the phone refuses to sync the data class, in its own words
    Disconnected,     // the connection closed and the phone is no longer attached
    Silent,           // nothing arrived within the wait
    EndedByPhone,     // the phone cancelled, or hung up while attached (its words, when it gave
                      // any, apart)
    InvalidMessage,   // the phone sent something the session cannot take
    Cancelled,        // the user cancelled
    Other,            // nothing names a cause

    // Not unlocked since it restarted: its data stay sealed ("EscrowLocked", or "MissingValue"
    // from StartService).
    NotUnlockedSinceRestart,
    // Another program holds the service ("ServiceLimit").
    ServiceBusy,
    // StartService refused: "ServiceProhibited" (a restriction on the phone), "InvalidService"
    // (the phone does not offer the service now).
    ServiceProhibited,
    ServiceUnavailable,
    // Lockdown refused a step naming a reason that has no words of its own here: its handshake
    // (the pairing checked, the session started) or StartService. The name is the phone's own
    // word for it (DeviceSeen::phoneWords).
    SessionRefused,
    ServiceRefused,

    // usbmuxd, which lists the phones and carries every connection to them, could not be asked:
    MuxNotRunning,   // nothing listens at its socket (none there, or one left behind)
    MuxNoAccess,     // this user may not open its socket
    MuxForeign,      // something answered there that is not usbmuxd
    MuxSilent,       // it took the connection and gave no answer within the library's wait
    MuxUnreachable,  // the list could not be had, for no reason that was seen
};

// Whether the failure is usbmuxd's, not the phone's.
bool isUsbmuxdFailure(DeviceFailure kind);

// A lockdownd_error_t of the lockdown client and its handshake.
DeviceFailure failureOfLockdown(int code);
// The "Error" lockdown answered with, for a code libimobiledevice gives only for that answer
// (-34 only for "ServiceProhibited"); null for the codes the library makes itself (a property
// list, TLS or connection error, a time-out, an answer it could not read or did not know).
const char* lockdownErrorName(int code);
// A lockdownd_error_t of StartService for the phone udid: a phone not unlocked since it
// restarted answers "MissingValue" there (its escrow bag cannot be opened), which elsewhere is
// only a refusal with that name. The session's TLS handshake is over by then: an SSL or mux error
// there is the phone refusing this computer's certificate only when its TLS alert says so (over
// TLS 1.3 the client learns of that at its first read) or when this computer's pair record holds no
// usable certificate and key; otherwise it is a connection that broke. The alert is read from
// OpenSSL's error queue of the calling thread: clearTlsErrors() before the call.
DeviceFailure failureOfStartService(int code, const std::string& udid);
void clearTlsErrors();
// A service_error_t (service client set-up and its connection).
DeviceFailure failureOfService(int code);
// An idevice_error_t of the device lookup.
DeviceFailure failureOfLookup(int code);

// Where usbmuxd is asked, as libusbmuxd reads it: USBMUXD_SOCKET_ADDRESS "UNIX:<path>", another
// address ("host:port") in that variable, or the socket /var/run/usbmuxd.
struct UsbmuxdAddress {
    std::string text;  // the socket's path, or the address as given
    bool isUnix = true;
};
UsbmuxdAddress usbmuxdAddress();

// The words for each failure are in devicewords.h.

// A device operation that failed: what() is the words, a line break and the detail (the
// failing call with its code, and the phone's own text when it gave one), complete as shown.
class DeviceError : public std::runtime_error {
public:
    DeviceError(DeviceFailure kind, const std::string& words, const std::string& detail);
    DeviceFailure kind() const { return kind_; }
    const std::string& detail() const { return detail_; }

private:
    DeviceFailure kind_;
    std::string detail_;
};
