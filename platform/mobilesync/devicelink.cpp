#include "devicelink.h"

#include <libimobiledevice/lockdown.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plistguard.h"

namespace devicelink {

namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

int Connection::open(idevice_t device, const char* service, const char* label, std::string* why) {
    close();
    lockdownd_client_t lockdown = nullptr;
    int rc = lockdownd_client_new_with_handshake(device, &lockdown, label);
    if (rc != LOCKDOWN_E_SUCCESS) {
        if (lockdown)
            lockdownd_client_free(lockdown);
        return rc;
    }
    lockdownd_service_descriptor_t descriptor = nullptr;
    rc = lockdownd_start_service(lockdown, service, &descriptor);
    lockdownd_client_free(lockdown);
    if (rc != LOCKDOWN_E_SUCCESS || !descriptor || descriptor->port == 0) {
        if (descriptor)
            lockdownd_service_descriptor_free(descriptor);
        return rc != LOCKDOWN_E_SUCCESS ? rc : MOBILESYNC_E_UNKNOWN_ERROR;
    }
    // The service client sets up TLS itself when the descriptor asks for it.
    rc = service_client_new(device, descriptor, &client_);
    lockdownd_service_descriptor_free(descriptor);
    if (rc != SERVICE_E_SUCCESS) {
        client_ = nullptr;
        return rc == SERVICE_E_SSL_ERROR ? MOBILESYNC_E_SSL_ERROR : MOBILESYNC_E_MUX_ERROR;
    }
    broken_ = false;
    rc = versionExchange(why);
    if (rc != MOBILESYNC_E_SUCCESS)
        close();
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
        return MOBILESYNC_E_PLIST_ERROR;
    }
    plist_get_uint_val(v, &major);
    if (major > kMaxVersion) {
        if (why)
            *why = "The phone speaks device-link version " + std::to_string(major) +
                   ", newer than this program knows (" + std::to_string(kMaxVersion) + ").";
        return MOBILESYNC_E_BAD_VERSION;
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
        return MOBILESYNC_E_BAD_VERSION;
    }
    return MOBILESYNC_E_SUCCESS;
}

int Connection::send(plist_t message) {
    if (!client_)
        return MOBILESYNC_E_INVALID_ARG;
    if (broken_)
        return MOBILESYNC_E_MUX_ERROR;
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(message, &bin, &length);
    if (!bin || length == 0) {
        std::free(bin);
        return MOBILESYNC_E_PLIST_ERROR;
    }
    std::vector<char> frame(length + 4);
    frame[0] = char(length >> 24);
    frame[1] = char(length >> 16);
    frame[2] = char(length >> 8);
    frame[3] = char(length);
    std::memcpy(frame.data() + 4, bin, length);
    std::free(bin);
    uint32_t done = 0;
    while (done < frame.size()) {
        uint32_t sent = 0;
        const int rc =
            service_send(client_, frame.data() + done, uint32_t(frame.size() - done), &sent);
        if (rc != SERVICE_E_SUCCESS || sent == 0) {
            broken_ = true;
            return MOBILESYNC_E_MUX_ERROR;
        }
        done += sent;
    }
    return MOBILESYNC_E_SUCCESS;
}

int Connection::receiveBytes(char* data, uint32_t size, int64_t deadlineMs, bool* started) {
    uint32_t have = 0;
    while (have < size) {
        const int64_t left = deadlineMs - nowMs();
        if (left <= 0)
            return MOBILESYNC_E_RECEIVE_TIMEOUT;
        uint32_t got = 0;
        const int64_t before = nowMs();
        const int rc =
            service_receive_with_timeout(client_, data + have, size - have, &got, unsigned(left));
        if (got > 0) {
            have += got;
            *started = true;
            continue;
        }
        // The library reports a closed connection as "not enough data", over TLS as an SSL
        // error, and on some paths as a time-out that did not wait: all mean the link is gone.
        if (rc == SERVICE_E_TIMEOUT && nowMs() - before + 50 >= left)
            return MOBILESYNC_E_RECEIVE_TIMEOUT;
        return MOBILESYNC_E_UNKNOWN_ERROR;
    }
    return MOBILESYNC_E_SUCCESS;
}

int Connection::receive(plist_t* message, int timeoutMs, std::string* why) {
    *message = nullptr;
    if (!client_)
        return MOBILESYNC_E_INVALID_ARG;
    if (broken_)
        return MOBILESYNC_E_UNKNOWN_ERROR;
    const int64_t deadline = nowMs() + (timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs);
    bool started = false;
    unsigned char head[4];
    int rc = receiveBytes(reinterpret_cast<char*>(head), 4, deadline, &started);
    if (rc == MOBILESYNC_E_RECEIVE_TIMEOUT && !started)
        return rc;  // nothing consumed: the caller may wait again
    if (rc != MOBILESYNC_E_SUCCESS) {
        broken_ = true;
        return rc;
    }
    const uint32_t length = be32(head);
    const plistguard::Limits limits;
    if (length == 0 || length > limits.maxBytes) {
        broken_ = true;
        if (why)
            *why = "The phone sent an invalid message (a frame of " + std::to_string(length) +
                   " bytes).";
        return MOBILESYNC_E_PLIST_ERROR;
    }
    std::vector<char> body(length);
    // A phone that has begun a frame gets the whole wait again to finish it.
    rc = receiveBytes(body.data(), length,
                      nowMs() + (timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs), &started);
    if (rc != MOBILESYNC_E_SUCCESS) {
        broken_ = true;
        return rc;
    }
    rc = decodeFrame(body.data(), body.size(), message, why);
    if (rc != MOBILESYNC_E_SUCCESS)
        broken_ = true;
    return rc;
}

int Connection::decodeFrame(const char* data, size_t size, plist_t* message, std::string* why) {
    *message = nullptr;
    std::string refused;
    plist_t p = plistguard::parse(data, size, &refused);
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
    if (client_) {
        service_client_free(client_);
        client_ = nullptr;
    }
    version_ = 0;
    broken_ = false;
}

}  // namespace devicelink
