// Shared between the session and its transfer handlers; not part of the interface.
#pragma once

#include <exception>

// Thrown out of a raw-transfer wait when the session is cancelled; the message loop turns it
// into the session's normal cancelled end.
struct Backup2Cancelled : std::exception {
    const char* what() const noexcept override { return "backup session cancelled"; }
};
