#include "mobiledevice_sync.h"

#include <plist/plist.h>

#include <QDateTime>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>

#include "mobiledevice.h"
#include "mobiledevice_mux.h"
#include "platform/mobilesync/phonecall.h"

namespace {

// A closed connection or a failed TLS handshake does not by itself say that the cable is gone:
// usbmuxd's list of attached phones does. A phone pulled out leaves that list within moments of
// its connections breaking, so an attached phone is looked for once more after a short pause.
// A usbmuxd that cannot be asked is named as such: it carries every connection to the phone. A
// set cancel flag ends every wait here at once (Cancelled).
DeviceFailure checkedFailure(DeviceFailure kind, const QString& udid,
                             const std::atomic<bool>* cancel) {
    const bool linkFailure =
        kind == DeviceFailure::Disconnected || kind == DeviceFailure::SecurityRefused;
    if ((!linkFailure && kind != DeviceFailure::Other) || udid.isEmpty())
        return kind;
    DeviceFailure listing = mobiledevice_listing(udid, cancel);
    if (listing != DeviceFailure::None)
        return listing == DeviceFailure::NotFound ? DeviceFailure::Disconnected : listing;
    // A code that names no cause stays without one while the phone is attached.
    if (!linkFailure)
        return kind;
    if (!phonecall::pause(300, cancel))
        return DeviceFailure::Cancelled;
    listing = mobiledevice_listing(udid, cancel);
    if (listing != DeviceFailure::None)
        return listing == DeviceFailure::NotFound ? DeviceFailure::Disconnected : listing;
    // Still attached: only the TLS handshake's own failure speaks of the pairing. A connection
    // that closed, at whatever step, is the phone ending it without a word.
    return kind == DeviceFailure::SecurityRefused ? DeviceFailure::SecurityRefused
                                                  : DeviceFailure::EndedByPhone;
}

// Throws the failure: its words first, then the failing call with its code (the pattern, %1 the
// code) and the layer's or the phone's own text, when there is one, as the detail line.
[[noreturn]] void fail(DeviceSeen seen, const QString& udid, const std::atomic<bool>* cancel,
                       const char* pattern, int rc, const QString& extra = QString()) {
    QString detail = QString::fromLatin1(pattern).arg(rc);
    if (detail.contains(QLatin1String("%2")))
        detail = detail.arg(extra);
    else if (!extra.isEmpty())
        detail += QLatin1Char(' ') + extra;
    if (seen.kind == DeviceFailure::None)
        seen.kind = DeviceFailure::Other;
    const DeviceFailure checked = checkedFailure(seen.kind, udid, cancel);
    if (checked != seen.kind) {
        seen.kind = checked;
        seen.phoneWords.clear();
    }
    throw DeviceError(seen.kind, deviceFailureWords(seen), detail.toUtf8().toStdString());
}

[[noreturn]] void fail(const mobiledevice_sync_client& holder, DeviceStage stage,
                       const char* pattern, int rc, bool waited = true) {
    const MobileSyncSession& session = *holder.client;
    DeviceSeen seen;
    seen.kind = session.failure();
    seen.stage = stage;
    seen.phoneWords = session.phoneWords();
    seen.waitMs = waited ? session.lastWaitMs() : 0;
    // After a confirmed cancel nobody reads the words: the phone is not asked after.
    const bool cancelled = holder.cancelFlag && holder.cancelFlag->load();
    fail(seen, cancelled ? QString() : holder.udid, holder.cancelFlag, pattern, rc,
         QString::fromStdString(session.description()));
}

// Sets the flag on an open lockdown session; a call left behind (abandoned) writes nothing.
TetheredSync setTethered(lockdownd_client_t lockdown, TetheredSync ask,
                         const std::atomic<bool>& abandoned) {
    const QString domain = QStringLiteral("com.apple.mobile.tethered_sync");
    const QString flag = QStringLiteral("DisableTethered");
    // The phone's own value is kept whole (keys such as "SyncingOS" with it); only the flag
    // changes, in the type the phone gave it (older phones use 0 and 1).
    const PlistCFType old = lockdown_value(lockdown, domain, ask.key);
    PlistCFType value = old.isCFDictionary()
                            ? PlistCFType(plist_copy(static_cast<plist_t>(old.ref())), true)
                            : PlistCFType::createCFDictionary();
    const PlistCFType before = value.get(flag);
    ask.wasDisabled = before.isCFBoolean() ? before.CFNumberBool(false)
                                           : before.isCFNumber() && before.CFNumberInt64(0) != 0;
    // "Mac OS X" (or another computer's system) syncs the class over the cable; the phone's own
    // system ("iOS", "iPhone OS") syncs it with the cloud.
    const QString syncingOs = value.get(QStringLiteral("SyncingOS")).CFStringQString();
    ask.overTheAir = ask.wasDisabled && (syncingOs.startsWith(QLatin1String("iOS")) ||
                                         syncingOs.startsWith(QLatin1String("iPhone OS")));
    if (!before.isCFBoolean() && before.isCFNumber())
        value.put(flag, PlistCFType::createCFNumberInt64(ask.disable ? 1 : 0));
    else
        value.put(flag, PlistCFType::createCFBoolean(ask.disable));
    if (abandoned)
        return ask;
    ask.written = lockdown_set_value(lockdown, domain, ask.key, value);
    return ask;
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
    udid.clear();
}

void mobiledevice_sync_start_throw(QString devid, const _mobiledevice_sync_ctx& ctx,
                                   mobiledevice_sync_client& holder) {
    mobiledevice_ignore_sigpipe();
    // A holder reused for a second session first lets go of the first one.
    holder.free();

    // A cancel ends the wait for usbmuxd's answer at once.
    FoundDevice found = mobiledevice_lookup(devid, holder.cancelFlag);
    if (found.failure == DeviceFailure::Cancelled)
        throw DeviceError(DeviceFailure::Cancelled, deviceFailureWords(DeviceFailure::Cancelled),
                          "mobiledevice_sync_start_throw: open device cancelled.");
    if (found.failure != DeviceFailure::None) {
        DeviceSeen seen;
        seen.kind = found.failure;
        seen.stage = DeviceStage::Open;
        fail(seen, QString(), nullptr,
             "mobiledevice_sync_start_throw: open device failed. return %1.", found.rc);
    }
    holder.udid = devid;

    holder.client = new MobileSyncSession;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    holder.client->setCancelFlag(holder.cancelFlag, holder.cancelGraceMs);
    // The step may be left behind by a cancel: what it found goes into a value of its own, read
    // only once the set-up has ended.
    devicelink::LockdownStep tethered;
    std::shared_ptr<std::optional<TetheredSync>> setTo;
    if (holder.tethered) {
        holder.tethered = TetheredSync(holder.tethered->key, holder.tethered->disable);
        setTo = std::make_shared<std::optional<TetheredSync>>();
        tethered = [setTo, ask = *holder.tethered](lockdownd_client_t lockdown,
                                                   const std::atomic<bool>& abandoned) {
            *setTo = setTethered(lockdown, ask, abandoned);
            return (*setTo)->written;
        };
    }
    // The session takes the handle over: its set-up, on a thread of its own with a cancel flag,
    // needs no look-up of its own.
    int rc = holder.client->open(found.release(), MOBILEDEVICE_CLIENT_LABEL, tethered);
    if (rc != 0)
        fail(holder, DeviceStage::Open,
             "mobiledevice_sync_start_throw: start service failed. return %1.", rc);
    if (setTo && *setTo)
        holder.tethered = **setTo;

    const QByteArray dataClass = ctx.dataClass.toUtf8();
    const QByteArray deviceAnchor = ctx.deviceAnchor.toUtf8();
    const QByteArray computerAnchor = ctx.computerAnchor.toUtf8();
    MobileSyncStart answer;
    rc = holder.client->start(dataClass.constData(), deviceAnchor.constData(),
                              computerAnchor.constData(), 106, &answer);
    if (rc != 0)
        fail(holder, DeviceStage::Start,
             "mobiledevice_sync_start_throw: start failed. return %1. %2", rc);
}

void mobiledevice_sync_start_recv_all_records_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = holder.client->getAllRecords();
    if (rc != 0)
        fail(holder, DeviceStage::Read, "mobilesync_get_all_records_from_device failed. return %1.",
             rc);
}

void mobiledevice_sync_start_send_to_device_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    const int rc = holder.client->readyToSendChangesNoWait();
    if (rc != 0)
        fail(holder, DeviceStage::Write,
             "mobilesync_ready_to_send_changes_from_computer failed. return %1.", rc);
}

namespace {

// A whole plist, freed with the last of its sharers.
std::shared_ptr<void> sharedTree(plist_t tree) {
    return std::shared_ptr<void>(tree, [](void* p) {
        if (p)
            plist_free(plist_t(p));
    });
}

}  // namespace

bool mobiledevice_sync_record_next_throw(mobiledevice_sync_client& holder, PlistCFType& records,
                                         PlistCFType* actions) {
    if (!holder.client)
        return false;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    MobileSyncBatch batch;
    int rc = holder.client->receiveChanges(&batch);
    if (rc != 0)
        fail(holder, DeviceStage::Read, "mobilesync_receive_changes failed. return %1.", rc);
    // The records are used inside the message they came in, which the handles keep.
    const std::shared_ptr<void> message = sharedTree(batch.message);
    records = PlistCFType::within(batch.entities, message);
    if (actions)
        *actions = PlistCFType::within(batch.actions, message);
    rc = holder.client->acknowledgeChanges();
    if (rc != 0)
        fail(holder, DeviceStage::Read,
             "mobilesync_acknowledge_changes_from_device failed. return %1.", rc);
    return !batch.isLast;
}

PlistCFType mobiledevice_sync_send_throw(mobiledevice_sync_client& holder, PlistCFType records,
                                         bool isLastBatch, PlistCFType actions) {
    if (!holder.client)
        return PlistCFType();
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    // The records go into the message as they are, not copied: from then on their handles
    // keep the message they live in.
    bool own = false;
    plist_t node = static_cast<plist_t>(records.handOver(&own));
    plist_t kept = nullptr;
    int rc = holder.client->sendChanges(
        node, isLastBatch, actions.isNull() ? nullptr : static_cast<plist_t>(actions.ref()), &kept);
    const std::shared_ptr<void> tree = sharedTree(kept);
    if (own)
        records.keepInside(tree);
    if (rc != 0)
        fail(holder, DeviceStage::Write, "mobilesync_send_changes failed. return %1.", rc, false);
    plist_t mapping = nullptr;
    rc = holder.client->remapIdentifiers(&mapping);
    if (rc != 0)
        fail(holder, DeviceStage::Write, "mobilesync_remap_identifiers failed. return %1.", rc);
    return PlistCFType(mapping, true);
}

void mobiledevice_sync_send_finish_throw(mobiledevice_sync_client& holder) {
    if (!holder.client)
        return;
    holder.client->setReceiveTimeout(holder.receiveTimeoutMs);
    const int rc = holder.client->finish();
    if (rc != 0)
        fail(holder, DeviceStage::Finish, "mobilesync_finish failed. return %1.", rc);
}

void mobiledevice_sync_cancel(mobiledevice_sync_client& holder, QString reason) {
    if (holder.client)
        holder.client->cancel(reason.toUtf8().constData());
}

bool mobiledevice_sync_set_tethered_throw(QString devid, QString key, bool disable,
                                          bool* wasDisabled, bool* overTheAir,
                                          const std::atomic<bool>* cancel) {
    if (wasDisabled)
        *wasDisabled = false;
    if (overTheAir)
        *overTheAir = false;
    // The look-up, the handshake and both values wait on the phone: a cancel stops waiting at
    // once, and a call left behind writes nothing.
    const std::optional<TetheredSync> outcome = phonecall::waitUnlessCancelled<TetheredSync>(
        [devid, key, disable](const std::atomic<bool>& abandoned) {
            TetheredSync ask(key, disable);
            iDevice dev(devid);
            if (!dev.open() || abandoned)
                return ask;
            return setTethered(dev.lockdownClient(), std::move(ask), abandoned);
        },
        cancel);
    if (!outcome)
        return false;
    if (wasDisabled)
        *wasDisabled = outcome->wasDisabled;
    if (overTheAir)
        *overTheAir = outcome->overTheAir;
    return outcome->written;
}
