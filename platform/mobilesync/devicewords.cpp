#include "devicewords.h"

#include <QCoreApplication>
#include <QString>

namespace {

// Every sentence goes through the program's translation (context "DeviceWords"); the English
// source is also what the user reads where no translation is installed.
QString tr(const char* text) {
    return QCoreApplication::translate("DeviceWords", text);
}

QString quoted(const std::string& words) {
    return QLatin1Char('"') + QString::fromStdString(words) + QLatin1Char('"');
}

QString socketOf() {
    return QString::fromStdString(usbmuxdAddress().text);
}

// Words for the failures whose cause the kind alone names.
QString plainWords(DeviceFailure kind) {
    switch (kind) {
        case DeviceFailure::None:
            return QString();
        case DeviceFailure::NotFound:
            return tr(
                "The phone is not connected (or not by USB). Connect it with its cable and "
                "try again.");
        case DeviceFailure::Locked:
            return tr(
                "The phone is locked. Unlock it with its passcode and keep it unlocked "
                "while its contacts are read or written, then unplug it and plug it in "
                "again.");
        case DeviceFailure::NotUnlockedSinceRestart:
            return tr(
                "The phone has not been unlocked since it was restarted, so it keeps its "
                "contacts sealed. Unlock it with its passcode, keep it unlocked and try "
                "again.");
        case DeviceFailure::ServiceBusy:
            return tr(
                "Another program, such as a sync or backup tool, is using the phone. Close "
                "that program and try again.");
        case DeviceFailure::ServiceProhibited:
            return tr(
                "The phone refused to start its contacts sync service (ServiceProhibited): a "
                "restriction on the phone may forbid syncing with a computer. Ask whoever "
                "manages the phone to allow it, then try again.");
        case DeviceFailure::ServiceUnavailable:
            return tr(
                "The phone refused to start its contacts sync service (InvalidService): it "
                "says it has no such service. Restart the phone and try again.");
        case DeviceFailure::SessionRefused:
            return tr(
                "The phone refused the connection with this computer. Unplug it, plug it in "
                "again and try again.");
        case DeviceFailure::ServiceRefused:
            return tr(
                "The phone refused to start its contacts sync service. Unplug it, plug it in "
                "again and try again.");
        case DeviceFailure::TrustPending:
            return tr(
                "The phone asks whether to trust this computer. Tap \"Trust\" on the phone "
                "and enter its passcode.");
        case DeviceFailure::TrustDeclined:
            return tr(
                "The phone does not trust this computer (\"Don't Trust\" was tapped). "
                "Unplug the phone, plug it in again and tap \"Trust\" when it asks.");
        case DeviceFailure::PairingInvalid:
            return tr(
                "The phone no longer knows this computer (it may have been erased or "
                "reset). Unplug the phone, plug it in again and tap \"Trust\" when it "
                "asks.");
        case DeviceFailure::SecurityRefused:
            return tr(
                "The phone is attached, but it refused the secure connection to this "
                "computer: this computer's pairing with the phone is damaged or no longer "
                "valid. Unplug the phone, plug it in again and tap \"Trust\" if it asks; if "
                "it keeps refusing, remove this computer's pairing with the phone (for "
                "example with \"idevicepair unpair\") and pair it again.");
        case DeviceFailure::SyncRefused:
            return tr(
                "The phone refuses to sync its contacts with this computer and did not say "
                "why.");
        case DeviceFailure::Disconnected:
            return tr("The phone was disconnected. Plug it in again.");
        case DeviceFailure::Silent:
            return tr(
                "The phone stopped answering. Unplug it, plug it in again and keep it "
                "unlocked.");
        case DeviceFailure::EndedByPhone:
            return tr(
                "The phone is attached, but it ended the connection without saying why. "
                "Unplug it, plug it in again and try again.");
        case DeviceFailure::Other:
            return tr("The phone ended the sync without saying why. Try again.");
        case DeviceFailure::InvalidMessage:
            return tr(
                "The phone sent something this program cannot read, and the sync was "
                "stopped.");
        case DeviceFailure::Cancelled:
            return tr("Cancelled.");
        case DeviceFailure::MuxNotRunning:
            return tr("This computer's phone service (usbmuxd) could not be reached: it is not "
                      "running (nothing listens at its socket %1). Start usbmuxd, or plug the "
                      "phone in, which starts it on most systems, and try again.")
                .arg(socketOf());
        case DeviceFailure::MuxNoAccess:
            return tr("This computer's phone service (usbmuxd) could not be reached: this user "
                      "may not open its socket %1. Give this user access to that socket (for "
                      "example, ask the computer's administrator to add the user to the group "
                      "that owns it) and try again.")
                .arg(socketOf());
        case DeviceFailure::MuxForeign:
            return tr("This computer's phone service (usbmuxd) could not be reached: something "
                      "else answers at its socket %1. Stop the program that listens there and "
                      "start usbmuxd (or plug the phone in, which starts it on most systems), "
                      "then try again.")
                .arg(socketOf());
        case DeviceFailure::MuxSilent:
            return tr("This computer's phone service (usbmuxd) could not be reached: it took the "
                      "connection at its socket %1 but did not answer. Restart usbmuxd (or unplug "
                      "the phone and plug it in again, which starts it on most systems), then try "
                      "again.")
                .arg(socketOf());
        case DeviceFailure::MuxUnreachable:
            return tr("This computer's phone service (usbmuxd) could not be reached at %1, for a "
                      "reason it did not give. Start usbmuxd, or plug the phone in, which starts "
                      "it on most systems, and try again.")
                .arg(socketOf());
    }
    return QString();
}

// What the user is told was kept; empty where the stage says nothing of it.
QString keptWords(DeviceStage stage) {
    switch (stage) {
        case DeviceStage::Read:
            return QLatin1Char(' ') + tr("Nothing of this read was kept.");
        case DeviceStage::Write:
            // A change message may have reached the phone without its answer reaching this
            // computer: what of the rest is on the phone is for the writer to say.
            return QLatin1Char(' ') + tr("What the phone had taken before stays on it.");
        case DeviceStage::None:
        case DeviceStage::Open:
        case DeviceStage::Start:
        case DeviceStage::Finish:
            break;
    }
    return QString();
}

// The same when the phone itself ended the session: nothing is said of a write, since what a
// phone keeps of changes it did not see to the finish (where it commits them) is not known; the
// writer says what it sent and what follows.
QString keptAfterPhoneEnded(DeviceStage stage) {
    return stage == DeviceStage::Write ? QString() : keptWords(stage);
}

QString endedWithoutWords(DeviceStage stage) {
    switch (stage) {
        case DeviceStage::Open:
            return tr(
                "The phone is attached, but it ended the connection while the sync "
                "service was being started, without saying why. Unplug it, plug it in "
                "again and try again.");
        case DeviceStage::Start:
            return tr(
                "The phone is attached, but it ended the connection when the sync session "
                "was started, without saying why. Unplug it, plug it in again and try "
                "again.");
        case DeviceStage::None:
            return plainWords(DeviceFailure::EndedByPhone);
        case DeviceStage::Read:
        case DeviceStage::Write:
        case DeviceStage::Finish:
            break;
    }
    return tr("The phone ended the sync without saying why.") + keptAfterPhoneEnded(stage) +
           QLatin1Char(' ') + tr("Try again.");
}

// A step lockdown refused with a reason that has no words of its own: the phone's name for it.
QString refusedWords(DeviceFailure kind, const std::string& name) {
    const QString step = kind == DeviceFailure::SessionRefused
                             ? tr("The phone refused the connection with this computer (%1).")
                             : tr("The phone refused to start its contacts sync service (%1).");
    return step.arg(QString::fromStdString(name)) + QLatin1Char(' ') +
           tr("Unplug the phone, plug it in again and try again.");
}

QString seenWords(const DeviceSeen& seen) {
    const std::string& said = seen.phoneWords;
    switch (seen.kind) {
        case DeviceFailure::SyncRefused:
            if (said == kICloudRefusal)
                return tr("The phone refuses to sync its contacts with this computer: its "
                          "contacts are kept in iCloud (it said %1). To sync them over USB, turn "
                          "off Contacts in the phone's Settings > [your name] > iCloud (choose to "
                          "keep the contacts on the phone), then unplug the phone and plug it in "
                          "again.")
                    .arg(quoted(said));
            if (!said.empty())
                return tr("The phone refuses to sync its contacts with this computer. It said: "
                          "%1.")
                    .arg(quoted(said));
            return plainWords(seen.kind);
        case DeviceFailure::EndedByPhone:
            if (!said.empty())
                return tr("The phone ended the sync. It said: %1.").arg(quoted(said)) +
                       keptAfterPhoneEnded(seen.stage);
            return endedWithoutWords(seen.stage);
        case DeviceFailure::SessionRefused:
        case DeviceFailure::ServiceRefused:
            return said.empty() ? plainWords(seen.kind) : refusedWords(seen.kind, said);
        case DeviceFailure::Other:
            return tr("The phone ended the sync without saying why.") + keptWords(seen.stage) +
                   QLatin1Char(' ') + tr("Try again.");
        case DeviceFailure::Silent: {
            const QString stopped =
                seen.waitMs > 0
                    ? tr("The phone stopped answering for %1 seconds.").arg(seen.waitMs / 1000.0)
                    : tr("The phone stopped answering.");
            return stopped + keptWords(seen.stage) + QLatin1Char(' ') +
                   tr("Unplug it, plug it in again and keep it unlocked.");
        }
        case DeviceFailure::Disconnected:
            return tr("The phone was disconnected.") + keptWords(seen.stage) + QLatin1Char(' ') +
                   tr("Plug it in again.");
        default:
            return plainWords(seen.kind);
    }
}

}  // namespace

std::string deviceFailureWords(DeviceFailure kind) {
    return plainWords(kind).toStdString();
}

std::string deviceFailureWords(const DeviceSeen& seen) {
    return seenWords(seen).toStdString();
}
