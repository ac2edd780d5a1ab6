// A device-link connection to one service of the phone, over libimobiledevice's public service
// API: lockdown starts the service (and says whether it runs over TLS, which the service client
// then sets up), the phone announces its device-link version, and from then on both sides
// exchange length-prefixed property lists.
//
// The installed library's own device-link clients insist on a fixed version (300 for the sync
// service), which every phone since iOS 14 refuses; this one answers with the version the phone
// announces. Every frame from the phone passes plistguard before libplist sees it, and every
// receive waits a bounded time.
//
// Results are mobilesync_error_t codes, so that callers report them as they always have.
#pragma once

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/mobilesync.h>
#include <libimobiledevice/service.h>
#include <plist/plist.h>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace devicelink {

// The highest device-link version this layer speaks (iOS 14 and later announce it).
constexpr uint64_t kMaxVersion = 400;
// How long a receive waits for a phone that has gone quiet.
constexpr int kDefaultTimeoutMs = 30000;
constexpr const char* kEmptyParameter = "___EmptyParameterString___";

// Frees the node it holds when it goes.
struct OwnedPlist {
    plist_t p = nullptr;
    ~OwnedPlist() {
        if (p)
            plist_free(p);
    }
};

// A new array holding the items (which it takes).
plist_t arrayOf(std::initializer_list<plist_t> items);

// The name at index 0 of a device-link message array, or null.
const char* messageName(plist_t message);
bool isMessage(plist_t message, const char* name);
// Element i of an array, or null.
plist_t element(plist_t message, uint32_t i);
// The text of a string node, or "" (also for the empty-parameter placeholder).
std::string text(plist_t node);

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Starts the service through a lockdown session, connects (with TLS when lockdown asks
    // for it) and answers the version exchange. *why explains failures the code alone does
    // not (a version the layer does not speak).
    int open(idevice_t device, const char* service, const char* label, std::string* why);
    bool isOpen() const { return client_ != nullptr; }
    uint64_t version() const { return version_; }

    // One frame, written as a binary list.
    int send(plist_t message);
    // One frame within timeoutMs. MOBILESYNC_E_RECEIVE_TIMEOUT when nothing at all arrived
    // (the connection can be used again); a frame cut short by the wait, a closed connection
    // (MOBILESYNC_E_UNKNOWN_ERROR) or a frame the guard refuses (MOBILESYNC_E_PLIST_ERROR,
    // *why says why) leaves it broken.
    int receive(plist_t* message, int timeoutMs, std::string* why);

    // ["DLMessagePing", text]; the phone does not answer it.
    int ping(const char* text);
    // Says goodbye with DLMessageDisconnect (best effort) and closes.
    void disconnect(const char* reason = "All done, thanks for the memories");
    // Closes without a word.
    void close();

    // Test seam for the frame fuzzer: the frame reader applied to bytes already received.
    static int decodeFrame(const char* data, size_t size, plist_t* message, std::string* why);

private:
    int receiveBytes(char* data, uint32_t size, int64_t deadlineMs, bool* started);
    int versionExchange(std::string* why);

    service_client_t client_ = nullptr;
    uint64_t version_ = 0;
    bool broken_ = false;
};

}  // namespace devicelink
