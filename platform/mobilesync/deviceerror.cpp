#include "deviceerror.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/service.h>

DeviceFailure failureOfLockdown(int code) {
    switch (code) {
        case LOCKDOWN_E_SUCCESS:
            return DeviceFailure::None;
        case LOCKDOWN_E_PASSWORD_PROTECTED:
            return DeviceFailure::Locked;
        case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
            return DeviceFailure::TrustPending;
        case LOCKDOWN_E_USER_DENIED_PAIRING:
            return DeviceFailure::TrustDeclined;
        case LOCKDOWN_E_INVALID_HOST_ID:
        case LOCKDOWN_E_MISSING_HOST_ID:
        case LOCKDOWN_E_INVALID_PAIR_RECORD:
        case LOCKDOWN_E_MISSING_PAIR_RECORD:
        case LOCKDOWN_E_INVALID_CONF:
        case LOCKDOWN_E_PAIRING_FAILED:
            return DeviceFailure::PairingInvalid;
        case LOCKDOWN_E_SSL_ERROR:
            return DeviceFailure::SecurityRefused;
        case LOCKDOWN_E_MUX_ERROR:
            return DeviceFailure::Disconnected;
        case LOCKDOWN_E_RECEIVE_TIMEOUT:
            return DeviceFailure::Silent;
        default:
            return DeviceFailure::Other;
    }
}

DeviceFailure failureOfService(int code) {
    switch (code) {
        case SERVICE_E_SUCCESS:
            return DeviceFailure::None;
        case SERVICE_E_SSL_ERROR:
            return DeviceFailure::SecurityRefused;
        case SERVICE_E_MUX_ERROR:
        case SERVICE_E_NOT_ENOUGH_DATA:
            return DeviceFailure::Disconnected;
        case SERVICE_E_TIMEOUT:
            return DeviceFailure::Silent;
        default:
            return DeviceFailure::Other;
    }
}

DeviceFailure failureOfLookup(int code) {
    switch (code) {
        case IDEVICE_E_SUCCESS:
            return DeviceFailure::None;
        case IDEVICE_E_NO_DEVICE:
            return DeviceFailure::NotFound;
        default:
            return DeviceFailure::Other;
    }
}

std::string deviceFailureWords(DeviceFailure kind) {
    switch (kind) {
        case DeviceFailure::None:
            return std::string();
        case DeviceFailure::NotFound:
            return "The phone is not connected (or not by USB). Connect it with its cable and try "
                   "again.";
        case DeviceFailure::Locked:
            return "The phone is locked. Unlock it with its passcode and keep it unlocked while "
                   "its contacts are read or written, then unplug it and plug it in again.";
        case DeviceFailure::TrustPending:
            return "The phone asks whether to trust this computer. Tap \"Trust\" on the phone "
                   "and enter its passcode.";
        case DeviceFailure::TrustDeclined:
            return "The phone does not trust this computer (\"Don't Trust\" was tapped). Unplug "
                   "the phone, plug it in again and tap \"Trust\" when it asks.";
        case DeviceFailure::PairingInvalid:
            return "The phone no longer knows this computer (it may have been erased or reset). "
                   "Unplug the phone, plug it in again and tap \"Trust\" when it asks.";
        case DeviceFailure::SecurityRefused:
            return "The phone refused the secure connection to this computer. Unplug the phone, "
                   "plug it in again and tap \"Trust\" if it asks; if it keeps refusing, restart "
                   "the phone.";
        case DeviceFailure::SyncRefused:
            return "The phone refuses to sync its contacts with this computer: its contacts are "
                   "kept in iCloud. To sync them over USB, turn off Contacts in the phone's "
                   "Settings > [your name] > iCloud (choose to keep the contacts on the phone), "
                   "then unplug the phone and plug it in again.";
        case DeviceFailure::Disconnected:
            return "The phone was disconnected. Plug it in again.";
        case DeviceFailure::Silent:
            return "The phone stopped answering. Unplug it, plug it in again and keep it "
                   "unlocked.";
        case DeviceFailure::EndedByPhone:
            return "The phone ended the sync session. Unlock the phone, keep it unlocked and try "
                   "again.";
        case DeviceFailure::InvalidMessage:
            return "The phone sent something this program cannot read, and the sync was "
                   "stopped.";
        case DeviceFailure::Cancelled:
            return "Cancelled.";
        case DeviceFailure::Other:
            return "The phone could not complete the sync. Unplug it, plug it in again and try "
                   "again.";
    }
    return std::string();
}

DeviceError::DeviceError(DeviceFailure kind, const std::string& words, const std::string& detail)
    : std::runtime_error(words.empty()    ? detail
                         : detail.empty() ? words
                                          : words + "\n" + detail),
      kind_(kind),
      detail_(detail) {}
