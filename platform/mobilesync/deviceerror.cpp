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
        case LOCKDOWN_E_ESCROW_LOCKED:
            return DeviceFailure::NotUnlockedSinceRestart;
        case LOCKDOWN_E_SERVICE_LIMIT:
            return DeviceFailure::ServiceBusy;
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

DeviceFailure failureOfStartService(int code) {
    return code == LOCKDOWN_E_MISSING_VALUE ? DeviceFailure::NotUnlockedSinceRestart
                                            : failureOfLockdown(code);
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

DeviceError::DeviceError(DeviceFailure kind, const std::string& words, const std::string& detail)
    : std::runtime_error(words.empty()    ? detail
                         : detail.empty() ? words
                                          : words + "\n" + detail),
      kind_(kind),
      detail_(detail) {}
