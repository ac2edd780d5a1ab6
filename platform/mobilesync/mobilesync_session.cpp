#include "mobilesync_session.h"

#include <algorithm>
#include <cstring>

using devicelink::arrayOf;
using devicelink::element;
using devicelink::isMessage;
using devicelink::text;
using Owned = devicelink::OwnedPlist;

namespace {

// Answers to a write that a phone may send before the one asked for and that are skipped.
const int kMaxStrayMessages = 4;
// Internal: a message that is to be skipped.
const int kStray = MOBILESYNC_E_NOT_READY;

bool isType(plist_t node, plist_type type) {
    return node && plist_get_node_type(node) == type;
}

// A cancel or goodbye from the phone where another message was due.
int phoneEnded(plist_t message, std::string* description) {
    if (isMessage(message, "SDMessageCancelSession")) {
        *description = text(element(message, 2));
        return MOBILESYNC_E_CANCELLED;
    }
    if (isMessage(message, "DLMessageDisconnect")) {
        const std::string why = text(element(message, 1));
        *description = "The phone ended the session" + (why.empty() ? "." : ": " + why);
        return MOBILESYNC_E_CANCELLED;
    }
    return MOBILESYNC_E_SUCCESS;
}

int invalid(std::string* description, const char* what) {
    *description = std::string("The phone sent an invalid message (") + what + ").";
    return MOBILESYNC_E_PLIST_ERROR;
}

}  // namespace

int MobileSyncSession::open(idevice_t device, const char* label,
                            const devicelink::LockdownStep& before) {
    description_.clear();
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    // Lockdown and the version exchange wait as long as the library does.
    lastWaitMs_ = devicelink::kDefaultTimeoutMs;
    const int rc = link_.open(device, kSyncServiceName, label, &description_, before);
    // A set-up lockdown refused is told with the reason it named.
    phoneWords_ = link_.refusal();
    return rc;
}

int MobileSyncSession::receive(plist_t* message, int waitMs) {
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    lastWaitMs_ = waitMs > 0 ? waitMs : timeoutMs_;
    return link_.receive(message, lastWaitMs_, &description_);
}

DeviceFailure MobileSyncSession::failureOfAnswer(int rc) {
    switch (rc) {
        case MOBILESYNC_E_SUCCESS:
            return DeviceFailure::None;
        case MOBILESYNC_E_SYNC_REFUSED:
            return DeviceFailure::SyncRefused;
        case MOBILESYNC_E_CANCELLED:
            return DeviceFailure::EndedByPhone;
        default:
            return DeviceFailure::InvalidMessage;
    }
}

int MobileSyncSession::readStartAnswer(plist_t message, MobileSyncStart* answer,
                                       std::string* description) {
    description->clear();
    if (isMessage(message, "SDMessageRefuseToSyncDataClassWithComputer")) {
        *description = text(element(message, 2));
        return MOBILESYNC_E_SYNC_REFUSED;
    }
    if (int rc = phoneEnded(message, description))
        return rc;
    if (!isMessage(message, "SDMessageSyncDataClassWithComputer"))
        return invalid(description, "no answer to the sync start");
    // Six elements, or seven since iOS 14 (a trailing empty parameter).
    const uint32_t n = plist_array_get_size(message);
    plist_t type = element(message, 4);
    plist_t version = element(message, 5);
    if ((n != 6 && n != 7) || !isType(type, PLIST_STRING) || !isType(version, PLIST_UINT))
        return invalid(description, "a sync start answer of the wrong form");
    answer->syncType = text(type);
    if (answer->syncType != "SDSyncTypeFast" && answer->syncType != "SDSyncTypeSlow" &&
        answer->syncType != "SDSyncTypeReset")
        return invalid(description, "an unknown sync type");
    plist_get_uint_val(version, &answer->deviceVersion);
    answer->deviceAnchor = text(element(message, 2));
    return MOBILESYNC_E_SUCCESS;
}

std::string MobileSyncSession::phoneWordsOf(plist_t message) {
    if (isMessage(message, "SDMessageRefuseToSyncDataClassWithComputer") ||
        isMessage(message, "SDMessageCancelSession"))
        return text(element(message, 2));
    if (isMessage(message, "DLMessageDisconnect"))
        return text(element(message, 1));
    return std::string();
}

int MobileSyncSession::start(const char* dataClass, const char* deviceAnchor,
                             const char* computerAnchor, uint64_t version,
                             MobileSyncStart* answer) {
    description_.clear();
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    if (!dataClass || !answer)
        return MOBILESYNC_E_INVALID_ARG;
    dataClass_ = dataClass;
    Owned msg{
        arrayOf({plist_new_string("SDMessageSyncDataClassWithDevice"), plist_new_string(dataClass),
                 plist_new_string(deviceAnchor ? deviceAnchor : "---"),
                 plist_new_string(computerAnchor ? computerAnchor : ""), plist_new_uint(version),
                 plist_new_string(devicelink::kEmptyParameter)})};
    int rc = link_.send(msg.p);
    if (rc != MOBILESYNC_E_SUCCESS)
        return rc;
    Owned reply;
    rc = receive(&reply.p);
    if (rc != MOBILESYNC_E_SUCCESS)
        return rc;
    rc = readStartAnswer(reply.p, answer, &description_);
    return failWith(rc, failureOfAnswer(rc), reply.p);
}

int MobileSyncSession::getAllRecords() {
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    Owned msg{arrayOf({plist_new_string("SDMessageGetAllRecordsFromDevice"),
                       plist_new_string(dataClass_.c_str())})};
    const int rc = link_.send(msg.p);
    reading_ = rc == MOBILESYNC_E_SUCCESS;
    firstBatch_ = reading_;
    return rc;
}

int MobileSyncSession::readChanges(plist_t message, MobileSyncBatch* batch,
                                   std::string* description) {
    const int rc = findChanges(message, batch, description);
    if (rc == MOBILESYNC_E_SUCCESS) {
        batch->entities = plist_copy(batch->entities);
        batch->actions = batch->actions ? plist_copy(batch->actions) : nullptr;
    }
    return rc;
}

int MobileSyncSession::findChanges(plist_t message, MobileSyncBatch* batch,
                                   std::string* description) {
    description->clear();
    if (int rc = phoneEnded(message, description))
        return rc;
    if (!isMessage(message, "SDMessageProcessChanges"))
        return invalid(description, "a batch was due");
    plist_t entities = element(message, 2);
    plist_t more = element(message, 3);
    plist_t actions = element(message, 4);
    if (!isType(entities, PLIST_DICT) || !isType(more, PLIST_BOOLEAN))
        return invalid(description, "a batch that is not a record dictionary");
    // Every record of a batch is a dictionary of its own.
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(entities, &it);
    bool wellFormed = true;
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(entities, it, &key, &value);
        if (!key)
            break;
        std::free(key);
        if (!isType(value, PLIST_DICT) &&
            !(isType(value, PLIST_STRING) && text(value).empty()))  // a deletion
            wellFormed = false;
    }
    std::free(it);
    if (!wellFormed)
        return invalid(description, "a batch that is not a record dictionary");
    uint8_t moreFlag = 0;
    plist_get_bool_val(more, &moreFlag);
    batch->entities = entities;
    batch->actions = isType(actions, PLIST_DICT) ? actions : nullptr;
    batch->isLast = !moreFlag;
    return MOBILESYNC_E_SUCCESS;
}

int MobileSyncSession::receiveChanges(MobileSyncBatch* batch) {
    description_.clear();
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    if (!batch)
        return MOBILESYNC_E_INVALID_ARG;
    *batch = MobileSyncBatch();
    Owned msg;
    int rc = receive(&msg.p, firstBatch_ ? timeoutMs_ * kFirstBatchFactor : timeoutMs_);
    if (rc != MOBILESYNC_E_SUCCESS)
        return rc;
    firstBatch_ = false;
    rc = findChanges(msg.p, batch, &description_);
    if (rc != MOBILESYNC_E_SUCCESS) {
        *batch = MobileSyncBatch();
        failWith(rc, failureOfAnswer(rc), msg.p);
        reading_ = false;
        link_.close();  // whatever follows cannot be trusted
        return rc;
    }
    batch->message = msg.p;
    msg.p = nullptr;
    if (batch->isLast)
        reading_ = false;
    return rc;
}

int MobileSyncSession::acknowledgeChanges() {
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    Owned msg{arrayOf({plist_new_string("SDMessageAcknowledgeChangesFromDevice"),
                       plist_new_string(dataClass_.c_str())})};
    return link_.send(msg.p);
}

int MobileSyncSession::readyToSendChangesNoWait() {
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    return link_.ping("Preparing to get changes for device");
}

int MobileSyncSession::sendChanges(plist_t entities, bool isLast, plist_t actions, plist_t* kept) {
    description_.clear();
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    *kept = entities;
    if (!isType(entities, PLIST_DICT) || (actions && !isType(actions, PLIST_DICT)))
        return failWith(MOBILESYNC_E_INVALID_ARG, DeviceFailure::Other);
    sentRecords_ = plist_dict_get_size(entities);
    *kept =
        arrayOf({plist_new_string("SDMessageProcessChanges"), plist_new_string(dataClass_.c_str()),
                 entities, plist_new_bool(isLast ? 0 : 1),
                 actions ? plist_copy(actions) : plist_new_string(devicelink::kEmptyParameter)});
    return link_.send(*kept);
}

int MobileSyncSession::readRemap(plist_t message, plist_t* mapping, std::string* description) {
    description->clear();
    *mapping = nullptr;
    if (isMessage(message, "SDMessageDeviceReadyToReceiveChanges"))
        return kStray;
    if (int rc = phoneEnded(message, description))
        return rc;
    if (!isMessage(message, "SDMessageRemapRecordIdentifiers"))
        return invalid(description, "an identifier remap was due");
    plist_t map = element(message, 2);
    if (isType(map, PLIST_DICT))
        *mapping = plist_copy(map);
    else if (map && !(isType(map, PLIST_STRING) && text(map).empty()))
        return invalid(description, "a remap that is not a dictionary");
    return MOBILESYNC_E_SUCCESS;
}

int MobileSyncSession::remapIdentifiers(plist_t* mapping) {
    description_.clear();
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    if (!mapping)
        return MOBILESYNC_E_INVALID_ARG;
    *mapping = nullptr;
    const int64_t wait = int64_t(timeoutMs_) + int64_t(sentRecords_) * kApplyMsPerRecord;
    for (int stray = 0; stray <= kMaxStrayMessages; ++stray) {
        Owned msg;
        int rc = receive(&msg.p, int(std::min<int64_t>(wait, 3600000)));
        if (rc != MOBILESYNC_E_SUCCESS)
            return rc;
        rc = readRemap(msg.p, mapping, &description_);
        if (rc != kStray)
            return failWith(rc, failureOfAnswer(rc), msg.p);
    }
    return failWith(invalid(&description_, "no identifier remap"), DeviceFailure::InvalidMessage);
}

int MobileSyncSession::finish() {
    description_.clear();
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    Owned msg{arrayOf({plist_new_string("SDMessageFinishSessionOnDevice"),
                       plist_new_string(dataClass_.c_str())})};
    int rc = link_.send(msg.p);
    if (rc != MOBILESYNC_E_SUCCESS)
        return rc;
    for (int stray = 0; stray <= kMaxStrayMessages; ++stray) {
        Owned reply;
        rc = receive(&reply.p);
        if (rc != MOBILESYNC_E_SUCCESS)
            return rc;
        if (isMessage(reply.p, "SDMessageDeviceReadyToReceiveChanges"))
            continue;
        // A phone that cannot apply the changes cancels here ("Couldn't commit changes on
        // device") and keeps none of them.
        if ((rc = phoneEnded(reply.p, &description_)))
            return failWith(rc, DeviceFailure::EndedByPhone, reply.p);
        if (isMessage(reply.p, "SDMessageDeviceFinishedSession"))
            return MOBILESYNC_E_SUCCESS;
        return failWith(invalid(&description_, "the session's end was due"),
                        DeviceFailure::InvalidMessage);
    }
    return failWith(invalid(&description_, "the session's end was due"),
                    DeviceFailure::InvalidMessage);
}

int MobileSyncSession::cancel(const char* reason) {
    failure_ = DeviceFailure::None;
    phoneWords_.clear();
    Owned msg{
        arrayOf({plist_new_string("SDMessageCancelSession"), plist_new_string(dataClass_.c_str()),
                 plist_new_string(reason ? reason : "Cancelled")})};
    return link_.send(msg.p);
}

void MobileSyncSession::end() {
    // A read given up before the phone's last batch (a cancel between batches) is cancelled
    // in words before the goodbye, so the phone drops what it had in hand.
    if (reading_ && link_.isOpen())
        cancel("The computer cancelled the read");
    reading_ = false;
    link_.disconnect();
}
