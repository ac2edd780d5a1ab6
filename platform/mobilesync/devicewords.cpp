#include "devicewords.h"

#include <cstdio>

namespace {

std::string quoted(const std::string& words) {
    return "\"" + words + "\"";
}

// Words for the failures whose cause the kind alone names.
std::string plainWords(DeviceFailure kind) {
    switch (kind) {
        case DeviceFailure::None:
            return std::string();
        case DeviceFailure::NotFound:
            return "The phone is not connected (or not by USB). Connect it with its cable and try "
                   "again.";
        case DeviceFailure::Locked:
            return "The phone is locked. Unlock it with its passcode and keep it unlocked while "
                   "its contacts are read or written, then unplug it and plug it in again.";
        case DeviceFailure::NotUnlockedSinceRestart:
            return "The phone has not been unlocked since it was restarted, so it keeps its "
                   "contacts sealed. Unlock it with its passcode, keep it unlocked and try again.";
        case DeviceFailure::ServiceBusy:
            return "Another program, such as a sync or backup tool, is using the phone. Close "
                   "that program and try again.";
        case DeviceFailure::TrustPending:
            return "The phone asks whether to trust this computer. Tap \"Trust\" on the phone "
                   "and enter its passcode.";
        case DeviceFailure::TrustDeclined:
            return "The phone does not trust this computer (\"Don't Trust\" was tapped). Unplug "
                   "the phone, plug it in again and tap \"Trust\" when it asks.";
        case DeviceFailure::PairingInvalid:
            return "The phone no longer knows this computer (it may have been erased or reset). "
                   "Unplug the phone, plug it in again and tap \"Trust\" when it asks.";
        case DeviceFailure::SecurityRefused:
            return "The phone is attached, but it refused the secure connection to this "
                   "computer: this computer's pairing with the phone is damaged or no longer "
                   "valid. Unplug the phone, plug it in again and tap \"Trust\" if it asks; if it "
                   "keeps refusing, remove this computer's pairing with the phone (for example "
                   "with \"idevicepair unpair\") and pair it again.";
        case DeviceFailure::SyncRefused:
            return "The phone refuses to sync its contacts with this computer and did not say "
                   "why.";
        case DeviceFailure::Disconnected:
            return "The phone was disconnected. Plug it in again.";
        case DeviceFailure::Silent:
            return "The phone stopped answering. Unplug it, plug it in again and keep it "
                   "unlocked.";
        case DeviceFailure::EndedByPhone:
        case DeviceFailure::Other:
            return "The phone ended the sync without saying why. Try again.";
        case DeviceFailure::InvalidMessage:
            return "The phone sent something this program cannot read, and the sync was "
                   "stopped.";
        case DeviceFailure::Cancelled:
            return "Cancelled.";
    }
    return std::string();
}

std::string keptWords(DeviceStage stage) {
    switch (stage) {
        case DeviceStage::Read:
            return " Nothing of this read was kept.";
        case DeviceStage::Write:
            return " What the phone had taken before stays on it; the rest was not written to "
                   "it.";
        case DeviceStage::None:
        case DeviceStage::Open:
        case DeviceStage::Finish:
            break;
    }
    return std::string();
}

}  // namespace

std::string deviceFailureWords(DeviceFailure kind) {
    return plainWords(kind);
}

std::string deviceFailureWords(const DeviceSeen& seen) {
    const std::string& said = seen.phoneWords;
    switch (seen.kind) {
        case DeviceFailure::SyncRefused:
            if (said == kICloudRefusal)
                return "The phone refuses to sync its contacts with this computer: its contacts "
                       "are kept in iCloud (it said " +
                       quoted(said) +
                       "). To sync them over USB, turn off Contacts in the phone's Settings > "
                       "[your name] > iCloud (choose to keep the contacts on the phone), then "
                       "unplug the phone and plug it in again.";
            if (!said.empty())
                return "The phone refuses to sync its contacts with this computer. It said: " +
                       quoted(said) + ".";
            return plainWords(seen.kind);
        case DeviceFailure::EndedByPhone:
            if (!said.empty())
                return "The phone ended the sync. It said: " + quoted(said) + "." +
                       keptWords(seen.stage);
            return "The phone ended the sync without saying why." + keptWords(seen.stage) +
                   " Try again.";
        case DeviceFailure::Other:
            return "The phone ended the sync without saying why." + keptWords(seen.stage) +
                   " Try again.";
        case DeviceFailure::Silent: {
            std::string text = "The phone stopped answering";
            if (seen.waitMs > 0) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", seen.waitMs / 1000.0);
                text += std::string(" for ") + seconds + " seconds";
            }
            return text + "." + keptWords(seen.stage) +
                   " Unplug it, plug it in again and keep it unlocked.";
        }
        case DeviceFailure::Disconnected:
            return "The phone was disconnected." + keptWords(seen.stage) + " Plug it in again.";
        default:
            return plainWords(seen.kind);
    }
}
