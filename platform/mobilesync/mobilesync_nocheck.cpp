#include "mobilesync_nocheck.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kEmptyParameter[] = "___EmptyParameterString___";

// The name at index 0 of a device-link message array, or null.
const char* messageName(plist_t msg) {
    if (!msg || plist_get_node_type(msg) != PLIST_ARRAY || plist_array_get_size(msg) < 1)
        return nullptr;
    plist_t first = plist_array_get_item(msg, 0);
    if (!first || plist_get_node_type(first) != PLIST_STRING)
        return nullptr;
    return plist_get_string_ptr(first, nullptr);
}

bool isMessage(plist_t msg, const char* name) {
    const char* n = messageName(msg);
    return n && std::strcmp(n, name) == 0;
}

// How many unsolicited "ready to receive" messages a remap read skips before giving up.
const int kMaxStrayMessages = 4;

}  // namespace

mobilesync_error_t mobilesync_ready_to_send_changes_from_computer_nocheck(
    mobilesync_client_t client) {
    if (!client)
        return MOBILESYNC_E_INVALID_ARG;
    plist_t msg = plist_new_array();
    plist_array_append_item(msg, plist_new_string("DLMessagePing"));
    plist_array_append_item(msg, plist_new_string("Preparing to get changes for device"));
    mobilesync_error_t rc = mobilesync_send(client, msg);
    plist_free(msg);
    return rc;
}

mobilesync_error_t mobilesync_nocheck_send_changes(mobilesync_client_t client,
                                                   const char* dataClass, plist_t entities,
                                                   bool isLastRecord, plist_t actions) {
    if (!client || !dataClass || !entities || plist_get_node_type(entities) != PLIST_DICT)
        return MOBILESYNC_E_INVALID_ARG;
    if (actions && plist_get_node_type(actions) != PLIST_DICT)
        return MOBILESYNC_E_INVALID_ARG;
    plist_t msg = plist_new_array();
    plist_array_append_item(msg, plist_new_string("SDMessageProcessChanges"));
    plist_array_append_item(msg, plist_new_string(dataClass));
    plist_array_append_item(msg, plist_copy(entities));
    plist_array_append_item(msg, plist_new_bool(isLastRecord ? 0 : 1));
    plist_array_append_item(msg, actions ? plist_copy(actions) : plist_new_string(kEmptyParameter));
    mobilesync_error_t rc = mobilesync_send(client, msg);
    plist_free(msg);
    return rc;
}

mobilesync_error_t mobilesync_nocheck_remap_identifiers(mobilesync_client_t client,
                                                        plist_t* mapping) {
    if (!client || !mapping)
        return MOBILESYNC_E_INVALID_ARG;
    *mapping = nullptr;
    for (int stray = 0; stray <= kMaxStrayMessages; ++stray) {
        plist_t msg = nullptr;
        mobilesync_error_t rc = mobilesync_receive(client, &msg);
        if (rc != MOBILESYNC_E_SUCCESS) {
            if (msg)
                plist_free(msg);
            return rc;
        }
        if (isMessage(msg, "SDMessageDeviceReadyToReceiveChanges")) {
            plist_free(msg);
            continue;
        }
        if (isMessage(msg, "SDMessageCancelSession")) {
            plist_free(msg);
            return MOBILESYNC_E_CANCELLED;
        }
        if (!isMessage(msg, "SDMessageRemapRecordIdentifiers")) {
            if (msg)
                plist_free(msg);
            return MOBILESYNC_E_PLIST_ERROR;
        }
        plist_t map = plist_array_get_size(msg) > 2 ? plist_array_get_item(msg, 2) : nullptr;
        if (map && plist_get_node_type(map) == PLIST_DICT)
            *mapping = plist_copy(map);
        plist_free(msg);
        return MOBILESYNC_E_SUCCESS;
    }
    return MOBILESYNC_E_PLIST_ERROR;
}
