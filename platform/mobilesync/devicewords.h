// The one table from what was seen of a failing phone to what the user is told. A cause is named
// only when something names it: the layer's own code (each turned into a DeviceFailure where it
// arose), the phone's own words, a fact checked (whether the phone is still attached) or what
// was under way. Where nothing names a cause, the words say so.
#pragma once

#include <string>

#include "deviceerror.h"

// What was under way when the phone failed: it names the step, and decides what the user is
// told was kept. Open is the sync service's set-up (lockdown's handshake and StartService, the
// service's connection and TLS, the device-link version exchange), Start the sync session's
// start. At Finish the phone held every change of the session and had not accepted them yet:
// what it kept is for the caller to say.
enum class DeviceStage { None, Open, Start, Read, Write, Finish };

struct DeviceSeen {
    DeviceFailure kind = DeviceFailure::Other;
    DeviceStage stage = DeviceStage::None;
    // The phone's own text for its refusal, its cancel or its hang-up, as it gave it; empty when
    // it gave none.
    std::string phoneWords;
    // The wait a silent phone was given.
    int waitMs = 0;
};

// The refusal a phone with iCloud Contacts on gives.
constexpr const char* kICloudRefusal = "No Data Store available for data class";

// The cause in plain words and what the user can do, in the program's translation (UTF-8).
std::string deviceFailureWords(const DeviceSeen& seen);
std::string deviceFailureWords(DeviceFailure kind);
