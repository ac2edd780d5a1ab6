#include "mobiledevice_sync.h"

#include <plist/plist.h>

#include <QDateTime>
#include <cstdlib>
#include <stdexcept>

#include "mobiledevice.h"
#include "mobilesync_nocheck.h"

namespace {

[[noreturn]] void fail(const char* pattern, int rc, const QString& extra = QString()) {
    QString text = QString::fromLatin1(pattern).arg(rc);
    if (text.contains(QLatin1String("%2")))
        text = text.arg(extra);
    throw std::runtime_error(text.toUtf8().toStdString());
}

}  // namespace

_mobiledevice_sync_ctx _mobiledevice_sync_ctx::contacts() {
    return _mobiledevice_sync_ctx(
        QStringLiteral("com.apple.Contacts"), QStringLiteral("---"),
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
}

void mobiledevice_sync_client::free() {
    if (client) {
        mobilesync_client_free(client);
        client = nullptr;
    }
    if (device) {
        idevice_free(device);
        device = nullptr;
    }
}

void mobiledevice_sync_start_throw(QString devid, const _mobiledevice_sync_ctx& ctx,
                                   mobiledevice_sync_client& holder) {
    mobiledevice_ignore_sigpipe();
    // A holder reused for a second session first lets go of the first one.
    holder.free();

    idevice_t device = nullptr;
    const QByteArray udid = devid.toUtf8();
    int rc = idevice_new_with_options(&device, udid.constData(), IDEVICE_LOOKUP_USBMUX);
    if (rc != 0) {
        if (device)
            idevice_free(device);
        fail("mobiledevice_sync_start_throw: open device failed. return %1.", rc);
    }
    // The connection keeps a pointer to the device, so the holder keeps it until the client
    // goes.
    holder.device = device;

    rc = mobilesync_client_start_service(device, &holder.client, MOBILEDEVICE_CLIENT_LABEL);
    if (rc != 0)
        fail("mobiledevice_sync_start_throw: start service failed. return %1.", rc);

    holder.dataClass = ctx.dataClass.toUtf8();
    const QByteArray deviceAnchor = ctx.deviceAnchor.toUtf8();
    const QByteArray computerAnchor = ctx.computerAnchor.toUtf8();
    mobilesync_anchors_t anchors =
        mobilesync_anchors_new(deviceAnchor.constData(), computerAnchor.constData());
    mobilesync_sync_type_t syncType = MOBILESYNC_SYNC_TYPE_FAST;
    uint64_t deviceVersion = 0;
    char* description = nullptr;
    rc = mobilesync_start(holder.client, holder.dataClass.constData(), anchors, 106, &syncType,
                          &deviceVersion, &description);
    mobilesync_anchors_free(anchors);
    QString descriptionText = description ? QString::fromUtf8(description) : QString();
    // The protocol's placeholder for "no argument" is no description.
    if (descriptionText == QLatin1String("___EmptyParameterString___"))
        descriptionText.clear();
    if (description)
        ::free(description);
    if (rc != 0)
        fail("mobiledevice_sync_start_throw: start failed. return %1. %2", rc, descriptionText);
}

void mobiledevice_sync_start_recv_all_records_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = mobilesync_get_all_records_from_device(holder.client);
    if (rc != 0)
        fail("mobilesync_get_all_records_from_device failed. return %1.", rc);
}

void mobiledevice_sync_start_send_to_device_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = mobilesync_ready_to_send_changes_from_computer_nocheck(holder.client);
    if (rc != 0)
        fail("mobilesync_ready_to_send_changes_from_computer failed. return %1.", rc);
}

bool mobiledevice_sync_record_next_throw(mobiledevice_sync_client& holder, PlistCFType& records,
                                         PlistCFType* actions) {
    if (!holder.client)
        return false;
    plist_t entities = nullptr;
    plist_t acts = nullptr;
    uint8_t isLast = 0;
    int rc = mobilesync_receive_changes(holder.client, &entities, &isLast, &acts);
    if (rc != 0) {
        if (entities)
            plist_free(entities);
        if (acts)
            plist_free(acts);
        fail("mobilesync_receive_changes failed. return %1.", rc);
    }
    records = PlistCFType(entities, true);
    if (actions)
        *actions = PlistCFType(acts, true);
    else if (acts)
        plist_free(acts);
    rc = mobilesync_acknowledge_changes_from_device(holder.client);
    if (rc != 0)
        fail("mobilesync_acknowledge_changes_from_device failed. return %1.", rc);
    return !isLast;
}

PlistCFType mobiledevice_sync_send_throw(mobiledevice_sync_client& holder, PlistCFType records,
                                         bool isLastBatch, PlistCFType actions) {
    if (!holder.client)
        return PlistCFType();
    // The session was readied without waiting for the device, so the library's own send and
    // remap (which insist on the device's answer having been seen) cannot be used here.
    int rc = mobilesync_nocheck_send_changes(
        holder.client, holder.dataClass.constData(), static_cast<plist_t>(records.ref()),
        isLastBatch, actions.isNull() ? nullptr : static_cast<plist_t>(actions.ref()));
    if (rc != 0)
        fail("mobilesync_send_changes failed. return %1.", rc);
    plist_t mapping = nullptr;
    rc = mobilesync_nocheck_remap_identifiers(holder.client, &mapping);
    if (rc != 0) {
        if (mapping)
            plist_free(mapping);
        fail("mobilesync_remap_identifiers failed. return %1.", rc);
    }
    return PlistCFType(mapping, true);
}

void mobiledevice_sync_send_finish_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = mobilesync_finish(holder.client);
    if (rc != 0)
        fail("mobilesync_finish failed. return %1.", rc);
}

bool mobiledevice_sync_set_tethered_throw(QString devid, QString key, bool disable) {
    PlistCFType value = PlistCFType::createCFDictionary();
    value.put(QStringLiteral("DisableTethered"), PlistCFType::createCFBoolean(disable));
    return mobiledevice_set(devid, QStringLiteral("com.apple.mobile.tethered_sync"), key, value);
}
