// One session with the phone's sync service ("com.apple.mobilesync") over devicelink: the
// SDMessage steps of a read (start, all records, batches and their acknowledgements) and of a
// write (ready to send, changes, identifier remaps, finish), cancel, and goodbye.
//
// Results are mobilesync_error_t codes; description() holds the phone's or the layer's own
// words for the last failure (a refusal, a cancel, an invalid message), empty when there are
// none, and failure() what the failure means for the user. A receive gives up on a phone silent
// for receiveTimeoutMs, longer where the phone has work to do first (its first batch of a read,
// applying a batch of changes), and at once when the cancel flag is set.
#pragma once

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/mobilesync.h>
#include <plist/plist.h>

#include <string>

#include "devicelink.h"

constexpr const char* kSyncServiceName = "com.apple.mobilesync";

// The phone's answer to a start.
struct MobileSyncStart {
    std::string syncType;  // "SDSyncTypeFast", "SDSyncTypeSlow" or "SDSyncTypeReset"
    uint64_t deviceVersion = 0;
    std::string deviceAnchor;
};

// One batch of the phone's records.
struct MobileSyncBatch {
    plist_t entities = nullptr;  // owned by the caller once taken: dictionary id -> record
    plist_t actions = nullptr;   // owned by the caller: a dictionary, or null
    bool isLast = false;
    // When set (receiveChanges): the phone's whole message, owned by the caller, which
    // entities and actions live inside; only it is freed. A batch of photos is then not copied
    // out of the message it came in.
    plist_t message = nullptr;
};

class MobileSyncSession {
public:
    MobileSyncSession() = default;
    ~MobileSyncSession() { end(); }
    MobileSyncSession(const MobileSyncSession&) = delete;
    MobileSyncSession& operator=(const MobileSyncSession&) = delete;

    // Starts the service on the device, whose handle it takes over (lockdown handshake, TLS,
    // version exchange); `before`, when given, runs on the lockdown session before the service
    // starts (see devicelink::LockdownStep).
    int open(idevice_t device, const char* label, const devicelink::LockdownStep& before = {});
    bool isOpen() const { return link_.isOpen(); }
    uint64_t linkVersion() const { return link_.version(); }

    // SDMessageSyncDataClassWithDevice and the phone's answer (both its six- and its
    // seven-element form). A refusal gives MOBILESYNC_E_SYNC_REFUSED, a cancel
    // MOBILESYNC_E_CANCELLED, each with the phone's text in description().
    int start(const char* dataClass, const char* deviceAnchor, const char* computerAnchor,
              uint64_t version, MobileSyncStart* answer);
    int getAllRecords();
    // The next SDMessageProcessChanges from the phone. Anything that is not a well-formed
    // batch ends the read with an error: a cancel, a DLMessageDisconnect, a malformed batch.
    int receiveChanges(MobileSyncBatch* batch);
    int acknowledgeChanges();
    // Tells the phone that changes follow without waiting for its answer (a ping it does not
    // answer); a "ready to receive" it volunteers is skipped when the remap is read.
    int readyToSendChangesNoWait();
    // SDMessageProcessChanges with the records (a dictionary, which the message takes rather
    // than copies) and actions (a dictionary, or null for none); more = !isLast. *kept gets,
    // whatever the outcome, the tree the records now live in (the message, or the records
    // alone when no message was made), owned by the caller.
    int sendChanges(plist_t entities, bool isLast, plist_t actions, plist_t* kept);
    // The phone's answer to sendChanges: *mapping gets its remap dictionary, or null when the
    // phone assigned no identifiers.
    int remapIdentifiers(plist_t* mapping);
    int finish();
    // SDMessageCancelSession with the reason; best effort.
    int cancel(const char* reason);
    // Says goodbye and closes; a read not yet at its last batch is cancelled first.
    void end();

    void setReceiveTimeout(int ms) { timeoutMs_ = ms; }
    int receiveTimeout() const { return timeoutMs_; }
    // The wait of the last receive (what a silent phone was given).
    int lastWaitMs() const { return lastWaitMs_; }
    void setCancelFlag(const std::atomic<bool>* flag, int graceMs = 0) {
        link_.setCancelFlag(flag, graceMs);
    }
    const std::string& description() const { return description_; }
    // The phone's own text of the last failure (the reason of its refusal, its cancel or its
    // hang-up, the name lockdown gave a refused set-up) as it gave it; empty when it gave none.
    const std::string& phoneWords() const { return phoneWords_; }
    DeviceFailure failure() const {
        return failure_ != DeviceFailure::None ? failure_ : link_.failure();
    }

    // The phone prepares a whole read before its first batch, and applies a batch of changes
    // before it answers with the remap: those waits are longer than between two batches.
    static constexpr int kFirstBatchFactor = 4;
    static constexpr int kApplyMsPerRecord = 20;

    // How a received message reads, for the steps above and for the frame fuzzer. Each takes
    // the decoded message (borrowed) and fills its outputs with copies.
    static int readStartAnswer(plist_t message, MobileSyncStart* answer, std::string* description);
    static int readChanges(plist_t message, MobileSyncBatch* batch, std::string* description);
    // readChanges without the copies: batch's entities and actions are borrowed from message.
    static int findChanges(plist_t message, MobileSyncBatch* batch, std::string* description);
    static int readRemap(plist_t message, plist_t* mapping, std::string* description);
    // The reason a refusal, a cancel or a goodbye of the phone carries; empty for any other
    // message.
    static std::string phoneWordsOf(plist_t message);

private:
    int receive(plist_t* message, int waitMs = 0);
    int failWith(int rc, DeviceFailure kind) {
        failure_ = kind;
        return rc;
    }
    // A failure the phone answered with: its kind, and its words kept apart.
    int failWith(int rc, DeviceFailure kind, plist_t answer) {
        phoneWords_ = phoneWordsOf(answer);
        return failWith(rc, kind);
    }
    static DeviceFailure failureOfAnswer(int rc);

    devicelink::Connection link_;
    std::string dataClass_;
    std::string description_;
    std::string phoneWords_;
    DeviceFailure failure_ = DeviceFailure::None;
    bool reading_ = false;      // records asked for, the last batch not yet received
    bool firstBatch_ = false;   // the next batch is the first of the read
    uint64_t sentRecords_ = 0;  // records of the last change message, for the remap's wait
    int timeoutMs_ = devicelink::kDefaultTimeoutMs;
    int lastWaitMs_ = 0;
};
