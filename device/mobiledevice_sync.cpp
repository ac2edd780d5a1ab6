#include "mobiledevice_sync.h"

#include <plist/plist.h>

#include <QDateTime>
#include <cstdlib>
#include <stdexcept>

#include "mobiledevice.h"

namespace {

[[noreturn]] void fail(const char* pattern, int rc, const QString& extra = QString()) {
    QString text = QString::fromLatin1(pattern).arg(rc);
    if (text.contains(QLatin1String("%2")))
        text = text.arg(extra);
    else if (!extra.isEmpty())
        text += QLatin1Char(' ') + extra;
    throw std::runtime_error(text.toUtf8().toStdString());
}

// The session's own words for its last failure, or a word on a phone that went quiet.
QString detail(const mobiledevice_sync_client& holder, int rc) {
    QString text = QString::fromStdString(holder.client->description());
    if (text.isEmpty() && rc == MOBILESYNC_E_RECEIVE_TIMEOUT)
        text = QStringLiteral("The phone stopped answering for %1 seconds.")
                   .arg(holder.receiveTimeoutMs / 1000.0);
    return text;
}

}  // namespace

_mobiledevice_sync_ctx _mobiledevice_sync_ctx::contacts() {
    return _mobiledevice_sync_ctx(
        QStringLiteral("com.apple.Contacts"), QStringLiteral("---"),
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
}

void mobiledevice_sync_client::free() {
    if (client) {
        delete client;  // says goodbye to the phone
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
    // The connection keeps a pointer to the device (TLS reads the udid through it), so the
    // holder keeps it until the session goes.
    holder.device = device;

    holder.client = new MobileSyncSession;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    rc = holder.client->open(device, MOBILEDEVICE_CLIENT_LABEL);
    if (rc != 0)
        fail("mobiledevice_sync_start_throw: start service failed. return %1.", rc,
             detail(holder, rc));

    const QByteArray dataClass = ctx.dataClass.toUtf8();
    const QByteArray deviceAnchor = ctx.deviceAnchor.toUtf8();
    const QByteArray computerAnchor = ctx.computerAnchor.toUtf8();
    MobileSyncStart answer;
    rc = holder.client->start(dataClass.constData(), deviceAnchor.constData(),
                              computerAnchor.constData(), 106, &answer);
    if (rc != 0)
        fail("mobiledevice_sync_start_throw: start failed. return %1. %2", rc, detail(holder, rc));
}

void mobiledevice_sync_start_recv_all_records_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = holder.client->getAllRecords();
    if (rc != 0)
        fail("mobilesync_get_all_records_from_device failed. return %1.", rc, detail(holder, rc));
}

void mobiledevice_sync_start_send_to_device_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = holder.client->readyToSendChangesNoWait();
    if (rc != 0)
        fail("mobilesync_ready_to_send_changes_from_computer failed. return %1.", rc,
             detail(holder, rc));
}

bool mobiledevice_sync_record_next_throw(mobiledevice_sync_client& holder, PlistCFType& records,
                                         PlistCFType* actions) {
    if (!holder.client)
        return false;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    MobileSyncBatch batch;
    int rc = holder.client->receiveChanges(&batch);
    if (rc != 0)
        fail("mobilesync_receive_changes failed. return %1.", rc, detail(holder, rc));
    records = PlistCFType(batch.entities, true);
    if (actions)
        *actions = PlistCFType(batch.actions, true);
    else if (batch.actions)
        plist_free(batch.actions);
    rc = holder.client->acknowledgeChanges();
    if (rc != 0)
        fail("mobilesync_acknowledge_changes_from_device failed. return %1.", rc,
             detail(holder, rc));
    return !batch.isLast;
}

PlistCFType mobiledevice_sync_send_throw(mobiledevice_sync_client& holder, PlistCFType records,
                                         bool isLastBatch, PlistCFType actions) {
    if (!holder.client)
        return PlistCFType();
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    int rc = holder.client->sendChanges(
        static_cast<plist_t>(records.ref()), isLastBatch,
        actions.isNull() ? nullptr : static_cast<plist_t>(actions.ref()));
    if (rc != 0)
        fail("mobilesync_send_changes failed. return %1.", rc);
    plist_t mapping = nullptr;
    rc = holder.client->remapIdentifiers(&mapping);
    if (rc != 0)
        fail("mobilesync_remap_identifiers failed. return %1.", rc, detail(holder, rc));
    return PlistCFType(mapping, true);
}

void mobiledevice_sync_send_finish_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    const int rc = holder.client->finish();
    if (rc != 0)
        fail("mobilesync_finish failed. return %1.", rc, detail(holder, rc));
}

void mobiledevice_sync_cancel(mobiledevice_sync_client& holder, QString reason) {
    if (holder.client)
        holder.client->cancel(reason.toUtf8().constData());
}

bool mobiledevice_sync_set_tethered_throw(QString devid, QString key, bool disable) {
    PlistCFType value = PlistCFType::createCFDictionary();
    value.put(QStringLiteral("DisableTethered"), PlistCFType::createCFBoolean(disable));
    return mobiledevice_set(devid, QStringLiteral("com.apple.mobile.tethered_sync"), key, value);
}
