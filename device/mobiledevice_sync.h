// One contact sync session with the device's sync service, as a handful of calls that throw
// DeviceError (a std::runtime_error): UTF-8 text that names the cause in words and the next
// step, then a line with the failing call, its return code and the phone's own words.
//
// Receiving:  client.tethered = TetheredSync{"Contacts", false};
//             mobiledevice_sync_start_throw(id, ctx, client);
//             mobiledevice_sync_start_recv_all_records_throw(client);
//             bool more; do { more = mobiledevice_sync_record_next_throw(client, records, 0);
//                             ...handle records... } while (more);
// Sending:    mobiledevice_sync_start_throw(id, ctx, client);
//             mobiledevice_sync_start_send_to_device_throw(client);
//             PlistCFType remap = mobiledevice_sync_send_throw(client, records, false,
//             PlistCFType());
//             ... mobiledevice_sync_send_finish_throw(client);
// The client holder frees the session when it goes out of scope (or with free()).
#pragma once

#include <QString>
#include <QByteArray>
#include <atomic>
#include <optional>
#include <libimobiledevice/libimobiledevice.h>

#include "platform/mobilesync/deviceerror.h"
#include "platform/mobilesync/devicewords.h"
#include "platform/mobilesync/mobilesync_session.h"
#include "plistcftype.h"

struct _mobiledevice_sync_ctx {
    QString dataClass;       // "com.apple.Contacts"
    QString deviceAnchor;    // "---"
    QString computerAnchor;  // local date-time, ISO 8601 without zone

    _mobiledevice_sync_ctx(QString dataClass, QString deviceAnchor, QString computerAnchor)
        : dataClass(dataClass), deviceAnchor(deviceAnchor), computerAnchor(computerAnchor) {}

    // The parameters every caller uses: contacts, device anchor "---", computer anchor now.
    static _mobiledevice_sync_ctx contacts();
};

// The phone's tethered-sync flag under a key, to be set to `disable` (see
// mobiledevice_sync_set_tethered_throw), and what setting it found.
struct TetheredSync {
    QString key;
    bool disable = false;
    bool written = false;  // the phone took the value
    bool wasDisabled = false;
    bool overTheAir = false;

    TetheredSync(QString key, bool disable) : key(std::move(key)), disable(disable) {}
};

// The caller-owned session handle. `client` is the sync session (null before the start), which
// owns the device handle it was started on; the holder frees it when destroyed. Whoever frees
// `client` by hand must set it to null.
struct mobiledevice_sync_client {
    MobileSyncSession* client = nullptr;
    // The phone's identifier once it was found: a failure is checked against usbmuxd's list.
    QString udid;
    // How long the phone may stay silent before the session is given up on (longer before the
    // first batch of a read and while the phone applies a batch of changes).
    int receiveTimeoutMs = devicelink::kDefaultTimeoutMs;
    // Set by another thread to end the receive in progress within a fraction of a second (a
    // confirmed cancel); read from the session's start on. Not owned.
    const std::atomic<bool>* cancelFlag = nullptr;
    // How long a reply already due may still come once the flag is set (see Connection).
    int cancelGraceMs = 0;
    // When set, the start sets the phone's tethered-sync flag first, on the lockdown session
    // that starts the sync service (a handshake costs the phone's round trips and a pause of
    // 100 ms in libimobiledevice's TLS set-up), and fills in what it found. A value the phone
    // did not take is not a failure; the service then starts on a session of its own.
    std::optional<TetheredSync> tethered;

    mobiledevice_sync_client() = default;
    ~mobiledevice_sync_client() { free(); }
    mobiledevice_sync_client(const mobiledevice_sync_client&) = delete;
    mobiledevice_sync_client& operator=(const mobiledevice_sync_client&) = delete;

    // Ends the session (says goodbye to the device and releases it).
    void free();
};

// Opens the device (USB only), starts the sync service and the session. Throws
// "mobiledevice_sync_start_throw: open device failed. return %1.",
// "mobiledevice_sync_start_throw: start service failed. return %1." or
// "mobiledevice_sync_start_throw: start failed. return %1. %2" (%2 the device's description).
void mobiledevice_sync_start_throw(QString devid, const _mobiledevice_sync_ctx& ctx,
                                   mobiledevice_sync_client& client);
// Asks for every record. Throws "mobilesync_get_all_records_from_device failed. return %1."
void mobiledevice_sync_start_recv_all_records_throw(mobiledevice_sync_client& client);
// Tells the device the computer is about to send, without waiting for its answer. Throws
// "mobilesync_ready_to_send_changes_from_computer failed. return %1."
void mobiledevice_sync_start_send_to_device_throw(mobiledevice_sync_client& client);
// Receives one batch (records: dictionary id -> record; actions may be null), acknowledges it
// and returns true while more batches follow. The last batch's records are filled like any
// other. Throws "mobilesync_receive_changes failed. return %1." or
// "mobilesync_acknowledge_changes_from_device failed. return %1."
bool mobiledevice_sync_record_next_throw(mobiledevice_sync_client& client, PlistCFType& records,
                                         PlistCFType* actions);
// Sends one message of records and returns the device's identifier remapping (computer id ->
// device id), an empty value when the device sent none. Throws
// "mobilesync_send_changes failed. return %1." or "mobilesync_remap_identifiers failed. return %1."
PlistCFType mobiledevice_sync_send_throw(mobiledevice_sync_client& client, PlistCFType records,
                                         bool isLastBatch, PlistCFType actions);
// Finishes the session. Throws "mobilesync_finish failed. return %1."
void mobiledevice_sync_send_finish_throw(mobiledevice_sync_client& client);
// Tells the phone the computer gives up on the session (a worker's cancel); does not throw.
void mobiledevice_sync_cancel(mobiledevice_sync_client& client, QString reason);
// Sets "DisableTethered" to disable in the phone's value under the key in
// "com.apple.mobile.tethered_sync", read first: every other key the phone had stays.
// *wasDisabled (when given) tells whether the
// phone had tethered sync off. That flag alone is also what a phone that never synced with a
// computer has; *overTheAir (when given) tells whether the value's keys say the phone itself
// syncs that data class over the air ("SyncingOS" naming the phone's own system, with the
// flag set), i.e. keeps it in the cloud. Returns success; throws only a failure the call met
// unexpectedly (phonecall.h). A set cancel flag ends the wait for the phone at once (false);
// nothing is written to the phone after it.
bool mobiledevice_sync_set_tethered_throw(QString devid, QString key, bool disable,
                                          bool* wasDisabled = nullptr, bool* overTheAir = nullptr,
                                          const std::atomic<bool>* cancel = nullptr);
