#include "devicelink.h"

#include <libimobiledevice/lockdown.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "phonecall.h"
#include "plistguard.h"

namespace devicelink {

namespace {

uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

plist_t arrayOf(std::initializer_list<plist_t> items) {
    plist_t a = plist_new_array();
    for (plist_t i : items)
        plist_array_append_item(a, i);
    return a;
}

const char* messageName(plist_t message) {
    plist_t first = element(message, 0);
    if (!first || plist_get_node_type(first) != PLIST_STRING)
        return nullptr;
    return plist_get_string_ptr(first, nullptr);
}

bool isMessage(plist_t message, const char* name) {
    const char* n = messageName(message);
    return n && std::strcmp(n, name) == 0;
}

plist_t element(plist_t message, uint32_t i) {
    if (!message || plist_get_node_type(message) != PLIST_ARRAY ||
        plist_array_get_size(message) <= i)
        return nullptr;
    return plist_array_get_item(message, i);
}

std::string text(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::string();
    const char* s = plist_get_string_ptr(node, nullptr);
    if (!s || std::strcmp(s, kEmptyParameter) == 0)
        return std::string();
    return s;
}

Connection::~Connection() {
    close();
}

plistguard::Limits frameLimits() {
    plistguard::Limits limits;
    limits.maxBytes = kMaxFrameBytes;
    limits.maxPayload = std::max<uint64_t>(limits.maxPayload, kMaxFrameBytes);
    return limits;
}

namespace {

// The service set up on the device handle: an abandoned set-up frees both itself.
struct Opened {
    idevice_t device = nullptr;
    service_client_t client = nullptr;
    int rc = MOBILESYNC_E_UNKNOWN_ERROR;
    DeviceFailure failure = DeviceFailure::Other;
    std::string why;
    std::string refusal;

    Opened() = default;
    Opened(Opened&& o) noexcept
        : device(std::exchange(o.device, nullptr)),
          client(std::exchange(o.client, nullptr)),
          rc(o.rc),
          failure(o.failure),
          why(std::move(o.why)),
          refusal(std::move(o.refusal)) {}
    Opened& operator=(Opened&&) = delete;
    ~Opened() {
        if (client)
            service_client_free(client);
        if (device)
            idevice_free(device);
    }
};

// A device handle freed with its last owner unless taken: the set-up's thread takes it, and a
// set-up that never ran leaves it to be freed.
class DeviceHandle {
public:
    explicit DeviceHandle(idevice_t device) : device_(device) {}
    ~DeviceHandle() {
        if (device_)
            idevice_free(device_);
    }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    idevice_t take() { return std::exchange(device_, nullptr); }

private:
    idevice_t device_;
};

std::string udidOf(idevice_t device) {
    char* udid = nullptr;
    if (idevice_get_udid(device, &udid) != IDEVICE_E_SUCCESS || !udid)
        return std::string();
    std::string s(udid);
    std::free(udid);
    return s;
}

// The reason lockdown named for a refusal, in its own word; empty for a code it did not answer.
std::string refusalOf(int rc) {
    const char* name = lockdownErrorName(rc);
    return name ? name : "";
}

// Lockdown's handshake (its TLS included); its cause in *failure when it fails.
int handshake(idevice_t device, const char* label, lockdownd_client_t* lockdown,
              DeviceFailure* failure, std::string* why, std::string* refusal) {
    *lockdown = nullptr;
    const int rc = lockdownd_client_new_with_handshake(device, lockdown, label);
    if (rc == LOCKDOWN_E_SUCCESS)
        return rc;
    if (*lockdown) {
        lockdownd_client_free(*lockdown);
        *lockdown = nullptr;
    }
    if (why)
        *why = "lockdown handshake: return " + std::to_string(rc) + ".";
    *failure = failureOfLockdown(rc);
    *refusal = refusalOf(rc);
    return rc;
}

}  // namespace

int Connection::startService(idevice_t device, const char* service, const char* label,
                             const LockdownStep& before, const std::atomic<bool>& abandoned,
                             service_client_t* client, DeviceFailure* failure, std::string* why,
                             std::string* refusal) {
    *failure = DeviceFailure::None;
    refusal->clear();
    const auto fail = [failure](int rc, DeviceFailure kind) {
        *failure = kind;
        return rc;
    };
    lockdownd_client_t lockdown = nullptr;
    int rc = handshake(device, label, &lockdown, failure, why, refusal);
    if (rc != LOCKDOWN_E_SUCCESS)
        return rc;
    // A step that failed may have left the session unfit (a refused certificate shows at its
    // first read, a request may have broken the connection): the service then starts on a
    // session of its own, and a failure is named there as it would be without the step.
    if (before && !before(lockdown, abandoned) && !abandoned) {
        lockdownd_client_free(lockdown);
        rc = handshake(device, label, &lockdown, failure, why, refusal);
        if (rc != LOCKDOWN_E_SUCCESS)
            return rc;
    }
    if (abandoned) {
        // Nobody waits for the service any more: it is not started.
        lockdownd_client_free(lockdown);
        return fail(MOBILESYNC_E_CANCELLED, DeviceFailure::Cancelled);
    }
    lockdownd_service_descriptor_t descriptor = nullptr;
    clearTlsErrors();
    rc = lockdownd_start_service(lockdown, service, &descriptor);
    // Read before the goodbye to lockdown, which leaves TLS errors of its own.
    const DeviceFailure startFailure = failureOfStartService(rc, udidOf(device));
    lockdownd_client_free(lockdown);
    if (rc != LOCKDOWN_E_SUCCESS || !descriptor || descriptor->port == 0) {
        if (descriptor)
            lockdownd_service_descriptor_free(descriptor);
        if (why)
            *why = "lockdown StartService: return " + std::to_string(rc) + ".";
        *refusal = refusalOf(rc);
        return rc != LOCKDOWN_E_SUCCESS ? fail(rc, startFailure)
                                        : fail(MOBILESYNC_E_UNKNOWN_ERROR, DeviceFailure::Other);
    }
    // The service client sets up TLS itself when the descriptor asks for it.
    rc = service_client_new(device, descriptor, client);
    lockdownd_service_descriptor_free(descriptor);
    if (rc != SERVICE_E_SUCCESS) {
        *client = nullptr;
        if (why)
            *why = "service connection: return " + std::to_string(rc) + ".";
        const DeviceFailure kind = failureOfService(rc);
        return fail(rc == SERVICE_E_SSL_ERROR ? MOBILESYNC_E_SSL_ERROR : MOBILESYNC_E_MUX_ERROR,
                    kind == DeviceFailure::Other ? DeviceFailure::Disconnected : kind);
    }
    return MOBILESYNC_E_SUCCESS;
}

int Connection::open(idevice_t device, const char* service, const char* label, std::string* why,
                     const LockdownStep& before) {
    close();
    failure_ = DeviceFailure::None;
    refusal_.clear();
    const auto handle = std::make_shared<DeviceHandle>(device);
    int rc = MOBILESYNC_E_SUCCESS;
    if (!cancel_) {
        const std::atomic<bool> never{false};
        rc = startService(device, service, label, before, never, &client_, &failure_, why,
                          &refusal_);
        if (rc == MOBILESYNC_E_SUCCESS)
            device_ = handle->take();
    } else {
        // Lockdown's handshake, StartService and the TLS handshake cannot be interrupted: they
        // run on a thread of their own, which a cancel leaves behind with the device handle.
        phonecall::Call<Opened>::Fn set_up = [handle, service = std::string(service),
                                              label = std::string(label),
                                              before](const std::atomic<bool>& abandoned) {
            Opened o;
            o.device = handle->take();
            o.rc = startService(o.device, service.c_str(), label.c_str(), before, abandoned,
                                &o.client, &o.failure, &o.why, &o.refusal);
            return o;
        };
        std::optional<Opened> opened = phonecall::waitUnlessCancelled<Opened>(set_up, cancel_);
        if (!opened)
            return fail(MOBILESYNC_E_CANCELLED, DeviceFailure::Cancelled);
        rc = opened->rc;
        failure_ = opened->failure;
        refusal_ = opened->refusal;
        if (why && !opened->why.empty())
            *why = opened->why;
        if (rc == MOBILESYNC_E_SUCCESS) {
            client_ = std::exchange(opened->client, nullptr);
            device_ = std::exchange(opened->device, nullptr);
        }
    }
    if (rc != MOBILESYNC_E_SUCCESS)
        return rc;
    broken_ = false;
    rc = versionExchange(why);
    if (rc != MOBILESYNC_E_SUCCESS) {
        const DeviceFailure kind = failure_;
        close();
        failure_ = kind;
    }
    return rc;
}

int Connection::versionExchange(std::string* why) {
    plist_t raw = nullptr;
    int rc = receive(&raw, kDefaultTimeoutMs, why);
    OwnedPlist msg{raw};
    if (rc != MOBILESYNC_E_SUCCESS)
        return rc;
    uint64_t major = 0;
    plist_t v = element(msg.p, 1);
    if (!isMessage(msg.p, "DLMessageVersionExchange") || !v ||
        plist_get_node_type(v) != PLIST_UINT) {
        if (why)
            *why = "The phone did not start the service with a version exchange.";
        return fail(MOBILESYNC_E_PLIST_ERROR, DeviceFailure::InvalidMessage);
    }
    plist_get_uint_val(v, &major);
    if (major > kMaxVersion) {
        if (why)
            *why = "The phone speaks device-link version " + std::to_string(major) +
                   ", newer than this program knows (" + std::to_string(kMaxVersion) + ").";
        return fail(MOBILESYNC_E_BAD_VERSION, DeviceFailure::Other);
    }
    version_ = major;
    OwnedPlist ok{arrayOf({plist_new_string("DLMessageVersionExchange"),
                           plist_new_string("DLVersionsOk"), plist_new_uint(major)})};
    rc = send(ok.p);
    if (rc != MOBILESYNC_E_SUCCESS)
        return rc;
    raw = nullptr;
    rc = receive(&raw, kDefaultTimeoutMs, why);
    OwnedPlist ready{raw};
    if (rc != MOBILESYNC_E_SUCCESS)
        return rc;
    if (!isMessage(ready.p, "DLMessageDeviceReady")) {
        if (why)
            *why = "The phone did not accept the version exchange.";
        return fail(MOBILESYNC_E_BAD_VERSION, DeviceFailure::Other);
    }
    return MOBILESYNC_E_SUCCESS;
}

int Connection::send(plist_t message) {
    failure_ = DeviceFailure::None;
    if (!client_)
        return fail(MOBILESYNC_E_INVALID_ARG, DeviceFailure::Other);
    if (broken_)
        return fail(MOBILESYNC_E_MUX_ERROR, DeviceFailure::Disconnected);
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(message, &bin, &length);
    if (!bin || length == 0) {
        std::free(bin);
        return fail(MOBILESYNC_E_PLIST_ERROR, DeviceFailure::Other);
    }
    // The length, then the message as plist_to_bin made it: a batch of photos is not copied
    // into a frame of its own.
    const char head[4] = {char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
    const bool sent = sendAll(head, sizeof head) && sendAll(bin, length);
    std::free(bin);
    if (!sent) {
        broken_ = true;
        return fail(MOBILESYNC_E_MUX_ERROR, DeviceFailure::Disconnected);
    }
    return MOBILESYNC_E_SUCCESS;
}

bool Connection::sendAll(const char* data, uint32_t size) {
    uint32_t done = 0;
    while (done < size) {
        uint32_t sent = 0;
        const int rc = service_send(client_, data + done, size - done, &sent);
        if (rc != SERVICE_E_SUCCESS || sent == 0)
            return false;
        done += sent;
    }
    return true;
}

int Connection::receiveBytes(char* data, uint32_t size, int silenceMs, bool* started) {
    uint32_t have = 0;
    phonecall::Wait wait(cancel_, silenceMs, cancelGraceMs_);
    while (have < size) {
        const int slice = wait.next();
        if (slice == 0)
            return wait.cancelled() ? fail(MOBILESYNC_E_CANCELLED, DeviceFailure::Cancelled)
                                    : fail(MOBILESYNC_E_RECEIVE_TIMEOUT, DeviceFailure::Silent);
        uint32_t got = 0;
        const int64_t before = phonecall::Wait::nowMs();
        const int rc =
            service_receive_with_timeout(client_, data + have, size - have, &got, unsigned(slice));
        if (got > 0) {
            have += got;
            *started = true;
            wait.heard();
            continue;
        }
        // The library reports a closed connection as "not enough data", over TLS as an SSL
        // error, and on some paths as a time-out that did not wait: all mean the link is gone.
        if (rc == SERVICE_E_TIMEOUT && phonecall::Wait::nowMs() - before + slice / 2 + 10 >= slice)
            continue;
        return fail(MOBILESYNC_E_UNKNOWN_ERROR, DeviceFailure::Disconnected);
    }
    return MOBILESYNC_E_SUCCESS;
}

int Connection::receive(plist_t* message, int timeoutMs, std::string* why) {
    *message = nullptr;
    failure_ = DeviceFailure::None;
    if (!client_)
        return fail(MOBILESYNC_E_INVALID_ARG, DeviceFailure::Other);
    if (broken_)
        return fail(MOBILESYNC_E_UNKNOWN_ERROR, DeviceFailure::Disconnected);
    const int silence = timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs;
    bool started = false;
    unsigned char head[4];
    int rc = receiveBytes(reinterpret_cast<char*>(head), 4, silence, &started);
    if (rc == MOBILESYNC_E_RECEIVE_TIMEOUT && !started)
        return rc;  // nothing consumed: the caller may wait again
    if (rc != MOBILESYNC_E_SUCCESS) {
        broken_ = true;
        return rc;
    }
    const uint32_t length = be32(head);
    const plistguard::Limits limits = frameLimits();
    if (length == 0 || length > limits.maxBytes) {
        broken_ = true;
        if (why)
            *why = "The phone sent an invalid message (a frame of " + std::to_string(length) +
                   " bytes).";
        return fail(MOBILESYNC_E_PLIST_ERROR, DeviceFailure::InvalidMessage);
    }
    // The buffer grows with what arrives, so a length the phone only announces costs nothing;
    // it is not cleared first, as the bytes that arrive fill it.
    constexpr uint32_t kChunk = 4u << 20;
    std::unique_ptr<char[]> body;
    uint32_t have = 0;
    while (have < length) {
        const uint32_t part = std::min<uint32_t>(kChunk, length - have);
        std::unique_ptr<char[]> grown(new char[have + part]);
        if (have > 0)
            std::memcpy(grown.get(), body.get(), have);
        body = std::move(grown);
        rc = receiveBytes(body.get() + have, part, silence, &started);
        if (rc != MOBILESYNC_E_SUCCESS) {
            broken_ = true;
            return rc;
        }
        have += part;
    }
    rc = decodeFrame(body.get(), have, message, why);
    if (rc != MOBILESYNC_E_SUCCESS) {
        broken_ = true;
        failure_ = DeviceFailure::InvalidMessage;
    }
    return rc;
}

int Connection::decodeFrame(const char* data, size_t size, plist_t* message, std::string* why) {
    *message = nullptr;
    std::string refused;
    plist_t p = plistguard::parse(data, size, &refused, frameLimits());
    if (!p || plist_get_node_type(p) != PLIST_ARRAY || !messageName(p)) {
        if (p)
            plist_free(p);
        if (why)
            *why = "The phone sent an invalid message (" +
                   (refused.empty() ? std::string("not a device-link message") : refused) + ").";
        return MOBILESYNC_E_PLIST_ERROR;
    }
    *message = p;
    return MOBILESYNC_E_SUCCESS;
}

int Connection::ping(const char* text) {
    OwnedPlist msg{arrayOf({plist_new_string("DLMessagePing"), plist_new_string(text)})};
    return send(msg.p);
}

void Connection::disconnect(const char* reason) {
    if (client_ && !broken_) {
        // Whatever the phone already sent (a "ready to receive" after a read) is taken first,
        // so that closing does not reset a connection with unread data on it.
        for (int i = 0; i < 4; ++i) {
            plist_t stray = nullptr;
            if (receive(&stray, 1, nullptr) != MOBILESYNC_E_SUCCESS)
                break;
            plist_free(stray);
        }
        broken_ = false;
        OwnedPlist msg{
            arrayOf({plist_new_string("DLMessageDisconnect"), plist_new_string(reason)})};
        send(msg.p);
    }
    close();
}

void Connection::close() {
    if (client_ && cancel_ && (broken_ || cancelled())) {
        // Closing a TLS connection waits for the phone's own close: a stalled phone would hold
        // it, so it is closed on a thread left behind, which owns both handles.
        phonecall::Call<int> closing(
            [client = client_, device = device_](const std::atomic<bool>&) {
                service_client_free(client);
                idevice_free(device);
                return 0;
            });
        client_ = nullptr;
        device_ = nullptr;
    }
    if (client_) {
        service_client_free(client_);
        client_ = nullptr;
    }
    if (device_) {
        idevice_free(device_);
        device_ = nullptr;
    }
    version_ = 0;
    broken_ = false;
}

}  // namespace devicelink
