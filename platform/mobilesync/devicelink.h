// A device-link connection to one service of the phone, over libimobiledevice's public service
// API: lockdown starts the service (and says whether it runs over TLS, which the service client
// then sets up), the phone announces its device-link version, and from then on both sides
// exchange length-prefixed property lists.
//
// The installed library's own device-link clients insist on a fixed version (300 for the sync
// service), which every phone since iOS 14 refuses; this one answers with the version the phone
// announces. Every frame from the phone passes plistguard before libplist sees it, and every
// receive gives up on a phone that stays silent for a bounded time (bytes arriving keep a large
// frame going) or on a cancel flag, waiting in slices (phonecall::Wait).
//
// Results are mobilesync_error_t codes, so that callers report them as they always have; what
// they mean for the user is failure(), set where the code arose (a lockdown or service code is
// never read as a sync code).
#pragma once

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/mobilesync.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/service.h>
#include <plist/plist.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "deviceerror.h"
#include "plistguard.h"

namespace devicelink {

// The highest device-link version this layer speaks (iOS 14 and later announce it).
constexpr uint64_t kMaxVersion = 400;
// How long a receive waits for a phone that has gone quiet.
constexpr int kDefaultTimeoutMs = 30000;
// The largest frame a phone may send: a batch of 40 contacts with photos of several megabytes
// each is a few hundred megabytes at most; the guard's other limits stay as they are.
constexpr size_t kMaxFrameBytes = 256u << 20;
plistguard::Limits frameLimits();
constexpr const char* kEmptyParameter = "___EmptyParameterString___";

// Work on the lockdown session that starts a service, after its handshake and before
// StartService: a lockdown value the service depends on, without a handshake of its own. It
// runs where the connection is set up (on the set-up's thread when there is a cancel flag) and
// is told when its waiter gave up, after which it writes nothing. False when the session may no
// longer be fit to start the service on (a request failed): the service then starts on a fresh
// lockdown session, as it would without the step.
using LockdownStep =
    std::function<bool(lockdownd_client_t lockdown, const std::atomic<bool>& abandoned)>;

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

    // Starts the service through a lockdown session on the device, whose handle it takes over
    // (the connection frees it as it closes; a set-up a cancel left behind frees it itself),
    // connects (with TLS when lockdown asks for it) and answers the version exchange. With a
    // cancel flag, a set cancel ends the wait at once (MOBILESYNC_E_CANCELLED), whatever the
    // phone does. *why explains failures the
    // code alone does not (a version the layer does not speak). The set-up run with a flag
    // throws what its thread threw (see phonecall.h). `before`, when given, runs on the
    // lockdown session first.
    int open(idevice_t device, const char* service, const char* label, std::string* why,
             const LockdownStep& before = {});
    bool isOpen() const { return client_ != nullptr; }
    uint64_t version() const { return version_; }

    // One frame, written as a binary list.
    int send(plist_t message);
    // One frame; the phone may be silent for at most timeoutMs at a time (while bytes arrive
    // the frame goes on). MOBILESYNC_E_RECEIVE_TIMEOUT when nothing at all arrived (the
    // connection can be used again); a frame cut short by the wait, a closed connection
    // (MOBILESYNC_E_UNKNOWN_ERROR), a cancel (MOBILESYNC_E_CANCELLED) or a frame the guard
    // refuses (MOBILESYNC_E_PLIST_ERROR, *why says why) leaves it broken.
    int receive(plist_t* message, int timeoutMs, std::string* why);

    // A flag another thread sets to end the receive in progress (null: none). Not owned.
    // With a grace, a reply already under way may still come for that long after the flag was
    // set: a write whose answer is due then ends cleanly, and a stalled phone is given up on.
    void setCancelFlag(const std::atomic<bool>* flag, int graceMs = 0) {
        cancel_ = flag;
        cancelGraceMs_ = graceMs;
    }
    bool cancelled() const { return cancel_ && cancel_->load(); }
    // What the last failing call means for the user; None after a success.
    DeviceFailure failure() const { return failure_; }
    // The reason lockdown named when it refused the last open ("ServiceProhibited"); empty
    // when it named none.
    const std::string& refusal() const { return refusal_; }

    // ["DLMessagePing", text]; the phone does not answer it.
    int ping(const char* text);
    // Says goodbye with DLMessageDisconnect (best effort) and closes.
    void disconnect(const char* reason = "All done, thanks for the memories");
    // Closes without a word.
    void close();

    // Test seam for the frame fuzzer: the frame reader applied to bytes already received.
    static int decodeFrame(const char* data, size_t size, plist_t* message, std::string* why);

private:
    // Lockdown's handshake, the step before, StartService, then the service client (TLS when
    // asked for).
    static int startService(idevice_t device, const char* service, const char* label,
                            const LockdownStep& before, const std::atomic<bool>& abandoned,
                            service_client_t* client, DeviceFailure* failure, std::string* why,
                            std::string* refusal);
    int receiveBytes(char* data, uint32_t size, int silenceMs, bool* started);
    // Writes all of it; false when the connection failed.
    bool sendAll(const char* data, uint32_t size);
    int versionExchange(std::string* why);
    int fail(int rc, DeviceFailure kind) {
        failure_ = kind;
        return rc;
    }

    service_client_t client_ = nullptr;
    // The device handle the service client refers to.
    idevice_t device_ = nullptr;
    uint64_t version_ = 0;
    bool broken_ = false;
    const std::atomic<bool>* cancel_ = nullptr;
    int cancelGraceMs_ = 0;
    DeviceFailure failure_ = DeviceFailure::None;
    std::string refusal_;
};

}  // namespace devicelink
