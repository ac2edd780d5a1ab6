#include "deviceerror.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/service.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <usbmuxd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "plistguard.h"

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
            // The phone named its reason: it refused, and said which reason.
            return lockdownErrorName(code) ? DeviceFailure::SessionRefused : DeviceFailure::Other;
    }
}

const char* lockdownErrorName(int code) {
    // libimobiledevice's names of the phone's errors, in the order of lockdownd_error_t.
    static const char* const kNames[] = {"InvalidResponse",
                                         "MissingKey",
                                         "MissingValue",
                                         "GetProhibited",
                                         "SetProhibited",
                                         "RemoveProhibited",
                                         "ImmutableValue",
                                         "PasswordProtected",
                                         "UserDeniedPairing",
                                         "PairingDialogResponsePending",
                                         "MissingHostID",
                                         "InvalidHostID",
                                         "SessionActive",
                                         "SessionInactive",
                                         "MissingSessionID",
                                         "InvalidSessionID",
                                         "MissingService",
                                         "InvalidService",
                                         "ServiceLimit",
                                         "MissingPairRecord",
                                         "SavePairRecordFailed",
                                         "InvalidPairRecord",
                                         "InvalidActivationRecord",
                                         "MissingActivationRecord",
                                         "ServiceProhibited",
                                         "EscrowLocked",
                                         "PairingProhibitedOverThisConnection",
                                         "FMiPProtected",
                                         "MCProtected",
                                         "MCChallengeRequired"};
    static_assert(sizeof kNames / sizeof *kNames ==
                      LOCKDOWN_E_INVALID_RESPONSE - LOCKDOWN_E_MC_CHALLENGE_REQUIRED + 1,
                  "one name for each code from InvalidResponse to MCChallengeRequired");
    if (code > LOCKDOWN_E_INVALID_RESPONSE || code < LOCKDOWN_E_MC_CHALLENGE_REQUIRED)
        return nullptr;
    return kNames[LOCKDOWN_E_INVALID_RESPONSE - code];
}

namespace {

// Whether the last TLS error of this thread is the peer's alert that refuses this computer's
// certificate or the handshake.
bool peerRefusedCertificate() {
    const unsigned long error = ERR_peek_last_error();
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(error) - SSL_AD_REASON_OFFSET) {
        case SSL_AD_HANDSHAKE_FAILURE:
        case SSL_AD_BAD_CERTIFICATE:
        case SSL_AD_UNSUPPORTED_CERTIFICATE:
        case SSL_AD_CERTIFICATE_REVOKED:
        case SSL_AD_CERTIFICATE_EXPIRED:
        case SSL_AD_CERTIFICATE_UNKNOWN:
        case SSL_AD_UNKNOWN_CA:
        case SSL_AD_ACCESS_DENIED:
        case SSL_AD_DECRYPT_ERROR:
        case SSL_AD_CERTIFICATE_REQUIRED:
            return true;
        default:
            return false;
    }
}

// The PEM text of a data entry of the record, or empty.
std::string pemOf(plist_t record, const char* key) {
    plist_t node = plist_dict_get_item(record, key);
    if (!node || plist_get_node_type(node) != PLIST_DATA)
        return std::string();
    char* bytes = nullptr;
    uint64_t size = 0;
    plist_get_data_val(node, &bytes, &size);
    std::string out(bytes ? bytes : "", bytes ? size : 0);
    std::free(bytes);
    return out;
}

// Whether this computer's pair record for the phone, as usbmuxd keeps it, holds no certificate
// and key that TLS can use: libimobiledevice presents RootCertificate with RootPrivateKey. False
// when there is no record to judge.
bool pairRecordUnusable(const std::string& udid) {
    char* data = nullptr;
    uint32_t size = 0;
    if (udid.empty() || usbmuxd_read_pair_record(udid.c_str(), &data, &size) < 0 || !data)
        return false;
    std::unique_ptr<void, void (*)(plist_t)> record(plistguard::parse(data, size), plist_free);
    std::free(data);
    if (!record || plist_get_node_type(record.get()) != PLIST_DICT)
        return true;
    const std::string certText = pemOf(record.get(), "RootCertificate");
    const std::string keyText = pemOf(record.get(), "RootPrivateKey");
    std::unique_ptr<BIO, int (*)(BIO*)> certBio(
        BIO_new_mem_buf(certText.data(), int(certText.size())), BIO_free);
    std::unique_ptr<BIO, int (*)(BIO*)> keyBio(BIO_new_mem_buf(keyText.data(), int(keyText.size())),
                                               BIO_free);
    std::unique_ptr<X509, void (*)(X509*)> cert(
        PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr), X509_free);
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    // The parse errors are this check's own, not the connection's.
    ERR_clear_error();
    return !cert || !key || X509_check_private_key(cert.get(), key.get()) != 1;
}

}  // namespace

void clearTlsErrors() {
    ERR_clear_error();
}

DeviceFailure failureOfStartService(int code, const std::string& udid) {
    switch (code) {
        case LOCKDOWN_E_MISSING_VALUE:
            return DeviceFailure::NotUnlockedSinceRestart;
        case LOCKDOWN_E_SERVICE_PROHIBITED:
            return DeviceFailure::ServiceProhibited;
        case LOCKDOWN_E_INVALID_SERVICE:
            return DeviceFailure::ServiceUnavailable;
        case LOCKDOWN_E_SSL_ERROR:
        case LOCKDOWN_E_MUX_ERROR:
            // The phone's alert may be lost when it closes before the request is written.
            return peerRefusedCertificate() || pairRecordUnusable(udid)
                       ? DeviceFailure::SecurityRefused
                       : DeviceFailure::Disconnected;
        default: {
            const DeviceFailure kind = failureOfLockdown(code);
            return kind == DeviceFailure::SessionRefused ? DeviceFailure::ServiceRefused : kind;
        }
    }
}

bool isUsbmuxdFailure(DeviceFailure kind) {
    switch (kind) {
        case DeviceFailure::MuxNotRunning:
        case DeviceFailure::MuxNoAccess:
        case DeviceFailure::MuxForeign:
        case DeviceFailure::MuxSilent:
        case DeviceFailure::MuxUnreachable:
            return true;
        default:
            return false;
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

UsbmuxdAddress usbmuxdAddress() {
    UsbmuxdAddress a;
    const char* env = std::getenv("USBMUXD_SOCKET_ADDRESS");
    if (!env || !*env) {
        a.text = "/var/run/usbmuxd";
    } else if (std::strncmp(env, "UNIX:", 5) == 0) {
        a.text = env + 5;
    } else {
        a.text = env;
        a.isUnix = false;
    }
    return a;
}

DeviceError::DeviceError(DeviceFailure kind, const std::string& words, const std::string& detail)
    : std::runtime_error(words.empty()    ? detail
                         : detail.empty() ? words
                                          : words + "\n" + detail),
      kind_(kind),
      detail_(detail) {}
