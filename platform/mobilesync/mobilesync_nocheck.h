// The sync-service steps the public mobilesync interface lacks: "ready to send" without
// waiting for the device's answer, and the send and remap that work after it.
//
// The public ready-to-send step waits for the device's "ready to receive" message and only
// then switches the client's private direction; its send and remap refuse to run otherwise.
// These steps build the same device-link messages themselves over mobilesync_send and
// mobilesync_receive, so they work right after a session start.
#pragma once

#include <libimobiledevice/mobilesync.h>
#include <plist/plist.h>

// Sends the "preparing to get changes" ping; reads nothing.
mobilesync_error_t mobilesync_ready_to_send_changes_from_computer_nocheck(
    mobilesync_client_t client);

// Sends ["SDMessageProcessChanges", dataClass, entities, more = !isLastRecord,
// actions or "___EmptyParameterString___"]. entities must be a dictionary, actions a
// dictionary or null.
mobilesync_error_t mobilesync_nocheck_send_changes(mobilesync_client_t client,
                                                   const char* dataClass, plist_t entities,
                                                   bool isLastRecord, plist_t actions);

// Reads the device's answer to a send. On "SDMessageRemapRecordIdentifiers" *mapping gets a
// copy of its dictionary (null when the device sent none); a cancel gives
// MOBILESYNC_E_CANCELLED, anything else MOBILESYNC_E_PLIST_ERROR. A stray
// "SDMessageDeviceReadyToReceiveChanges" before the answer is skipped.
mobilesync_error_t mobilesync_nocheck_remap_identifiers(mobilesync_client_t client,
                                                        plist_t* mapping);
