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
    SecurityRefused,  // the TLS handshake failed with the phone still attached
    SyncRefused,      // the phone refuses to sync the data class, in its own words
    Disconnected,     // the connection closed and the phone is no longer attached
    Silent,           // nothing arrived within the wait
    EndedByPhone,     // the phone cancelled or hung up (its words, when it gave any, apart)
    InvalidMessage,   // the phone sent something the session cannot take
    Cancelled,        // the user cancelled
    Other,            // nothing names a cause

    // Not unlocked since it restarted: its data stay sealed ("EscrowLocked", or "MissingValue"
    // from StartService).
    NotUnlockedSinceRestart,
    // Another program holds the service ("ServiceLimit").
    ServiceBusy,
};

// A lockdownd_error_t of the lockdown client and its handshake.
DeviceFailure failureOfLockdown(int code);
// A lockdownd_error_t of StartService: a phone not unlocked since it restarted answers
// "MissingValue" there (its escrow bag cannot be opened), which means nothing of the kind
// elsewhere.
DeviceFailure failureOfStartService(int code);
// A service_error_t (service client set-up and its connection).
DeviceFailure failureOfService(int code);
// An idevice_error_t of the device lookup.
DeviceFailure failureOfLookup(int code);

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
