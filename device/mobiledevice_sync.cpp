#include "mobiledevice_sync.h"

#include <plist/plist.h>

#include <QDateTime>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "mobiledevice.h"
#include "phonecall.h"

namespace {

// What was under way when the phone failed: it decides what the user is told was kept.
enum class Stage { Open, Read, Write };

QString stageWords(DeviceFailure kind, Stage stage, int waitMs) {
    QString text;
    if (kind == DeviceFailure::Silent)
        text = QStringLiteral("The phone stopped answering for %1 seconds.").arg(waitMs / 1000.0);
    else if (kind == DeviceFailure::Disconnected)
        text = QStringLiteral("The phone was disconnected.");
    else
        return QString::fromStdString(deviceFailureWords(kind));
    if (stage == Stage::Read)
        text += QStringLiteral(" Nothing of this read was kept.");
    else if (stage == Stage::Write)
        text += QStringLiteral(
            " What the phone had taken before stays on it; the rest was not written to it.");
    text += kind == DeviceFailure::Silent
                ? QStringLiteral(" Unplug it, plug it in again and keep it unlocked.")
                : QStringLiteral(" Plug it in again.");
    return text;
}

// Throws the failure: its words first, then the failing call with its code (the pattern, %1 the
// code) and the phone's own text, when it gave one, as the detail line.
[[noreturn]] void fail(DeviceFailure kind, Stage stage, int waitMs, const char* pattern, int rc,
                       const QString& extra = QString()) {
    QString detail = QString::fromLatin1(pattern).arg(rc);
    if (detail.contains(QLatin1String("%2")))
        detail = detail.arg(extra);
    else if (!extra.isEmpty())
        detail += QLatin1Char(' ') + extra;
    if (kind == DeviceFailure::None)
        kind = DeviceFailure::Other;
    throw DeviceError(kind, stageWords(kind, stage, waitMs).toStdString(),
                      detail.toUtf8().toStdString());
}

[[noreturn]] void fail(const mobiledevice_sync_client& holder, Stage stage, const char* pattern,
                       int rc) {
    const MobileSyncSession& session = *holder.client;
    fail(session.failure(), stage, session.lastWaitMs(), pattern, rc,
         QString::fromStdString(session.description()));
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
        fail(failureOfLookup(rc), Stage::Open, 0,
             "mobiledevice_sync_start_throw: open device failed. return %1.", rc);
    }
    // The connection keeps a pointer to the device (TLS reads the udid through it), so the
    // holder keeps it until the session goes.
    holder.device = device;

    holder.client = new MobileSyncSession;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    holder.client->setCancelFlag(holder.cancelFlag, holder.cancelGraceMs);
    rc = holder.client->open(device, MOBILEDEVICE_CLIENT_LABEL);
    if (rc != 0)
        fail(holder, Stage::Open, "mobiledevice_sync_start_throw: start service failed. return %1.",
             rc);

    const QByteArray dataClass = ctx.dataClass.toUtf8();
    const QByteArray deviceAnchor = ctx.deviceAnchor.toUtf8();
    const QByteArray computerAnchor = ctx.computerAnchor.toUtf8();
    MobileSyncStart answer;
    rc = holder.client->start(dataClass.constData(), deviceAnchor.constData(),
                              computerAnchor.constData(), 106, &answer);
    if (rc != 0)
        fail(holder, Stage::Open, "mobiledevice_sync_start_throw: start failed. return %1. %2", rc);
}

void mobiledevice_sync_start_recv_all_records_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = holder.client->getAllRecords();
    if (rc != 0)
        fail(holder, Stage::Read, "mobilesync_get_all_records_from_device failed. return %1.", rc);
}

void mobiledevice_sync_start_send_to_device_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = holder.client->readyToSendChangesNoWait();
    if (rc != 0)
        fail(holder, Stage::Write,
             "mobilesync_ready_to_send_changes_from_computer failed. return %1.", rc);
}

bool mobiledevice_sync_record_next_throw(mobiledevice_sync_client& holder, PlistCFType& records,
                                         PlistCFType* actions) {
    if (!holder.client)
        return false;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    MobileSyncBatch batch;
    int rc = holder.client->receiveChanges(&batch);
    if (rc != 0)
        fail(holder, Stage::Read, "mobilesync_receive_changes failed. return %1.", rc);
    records = PlistCFType(batch.entities, true);
    if (actions)
        *actions = PlistCFType(batch.actions, true);
    else if (batch.actions)
        plist_free(batch.actions);
    rc = holder.client->acknowledgeChanges();
    if (rc != 0)
        fail(holder, Stage::Read, "mobilesync_acknowledge_changes_from_device failed. return %1.",
             rc);
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
        fail(holder.client->failure(), Stage::Write, 0,
             "mobilesync_send_changes failed. return %1.", rc);
    plist_t mapping = nullptr;
    rc = holder.client->remapIdentifiers(&mapping);
    if (rc != 0)
        fail(holder, Stage::Write, "mobilesync_remap_identifiers failed. return %1.", rc);
    return PlistCFType(mapping, true);
}

void mobiledevice_sync_send_finish_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    const int rc = holder.client->finish();
    if (rc != 0)
        fail(holder, Stage::Write, "mobilesync_finish failed. return %1.", rc);
}

void mobiledevice_sync_cancel(mobiledevice_sync_client& holder, QString reason) {
    if (holder.client)
        holder.client->cancel(reason.toUtf8().constData());
}

bool mobiledevice_sync_set_tethered_throw(QString devid, QString key, bool disable,
                                          bool* wasDisabled, const std::atomic<bool>* cancel) {
    if (wasDisabled)
        *wasDisabled = false;
    struct Outcome {
        bool ok = false;
        bool wasDisabled = false;
    };
    // The look-up, the handshake and both values wait on the phone: a cancel stops waiting at
    // once, and a call left behind writes nothing.
    const std::optional<Outcome> outcome = phonecall::waitUnlessCancelled<Outcome>(
        [devid, key, disable](const std::atomic<bool>& abandoned) {
            Outcome o;
            const QString domain = QStringLiteral("com.apple.mobile.tethered_sync");
            const QString flag = QStringLiteral("DisableTethered");
            iDevice dev(devid);
            if (!dev.open() || abandoned)
                return o;
            // The phone's own value is kept whole (keys such as "SyncingOS" with it); only the
            // flag changes, in the type the phone gave it (older phones use 0 and 1).
            const PlistCFType old = mobiledevice_info(&dev, domain, key);
            PlistCFType value = old.isCFDictionary()
                                    ? PlistCFType(plist_copy(static_cast<plist_t>(old.ref())), true)
                                    : PlistCFType::createCFDictionary();
            const PlistCFType before = value.get(flag);
            o.wasDisabled = before.isCFBoolean()
                                ? before.CFNumberBool(false)
                                : before.isCFNumber() && before.CFNumberInt64(0) != 0;
            if (!before.isCFBoolean() && before.isCFNumber())
                value.put(flag, PlistCFType::createCFNumberInt64(disable ? 1 : 0));
            else
                value.put(flag, PlistCFType::createCFBoolean(disable));
            if (abandoned)
                return o;
            o.ok = mobiledevice_set(&dev, domain, key, value);
            return o;
        },
        cancel);
    if (!outcome)
        return false;
    if (wasDisabled)
        *wasDisabled = outcome->wasDisabled;
    return outcome->ok;
}
