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
    Locked,           // locked with its passcode since it was started
    TrustPending,     // "Trust this computer?" still on the phone's screen
    TrustDeclined,    // "Don't Trust" tapped
    PairingInvalid,   // the phone no longer knows this computer (erased, pairing removed)
    SecurityRefused,  // the phone refused the TLS handshake
    SyncRefused,      // the phone refuses to sync the data class (contacts kept in iCloud)
    Disconnected,     // the connection closed without a word (cable pulled)
    Silent,           // nothing arrived within the wait
    EndedByPhone,     // the phone cancelled or hung up in words
    InvalidMessage,   // the phone sent something the session cannot take
    Cancelled,        // the user cancelled
    Other,
};

// A lockdownd_error_t (lockdown client, service start through lockdown).
DeviceFailure failureOfLockdown(int code);
// A service_error_t (service client set-up and its connection).
DeviceFailure failureOfService(int code);
// An idevice_error_t of the device lookup.
DeviceFailure failureOfLookup(int code);

// The cause in plain words and what the user can do, for every failure but Silent and
// Disconnected, whose words depend on the wait and on what was under way (the caller's).
std::string deviceFailureWords(DeviceFailure kind);

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
