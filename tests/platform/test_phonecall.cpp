// What a call on a phone throws comes back to its waiter as the call's failure in words, and
// the process goes on.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/mobilesync/phonecall.h"

TEST(PhoneCall, WhatACallThrowsComesBackAsItsFailureInWords) {
    struct Case {
        const char* what;
        std::function<int()> call;
        DeviceFailure kind;
        std::vector<std::string> parts;
    };
    const std::vector<Case> cases = {
        {"a standard exception",
         []() -> int { throw std::runtime_error("no such record key"); },
         DeviceFailure::Other,
         {"failed unexpectedly", "\nno such record key"}},
        {"memory running out",
         []() -> int { throw std::bad_alloc(); },
         DeviceFailure::Other,
         {"failed unexpectedly", "\nstd::bad_alloc"}},
        {"something not an exception",
         []() -> int { throw 42; },
         DeviceFailure::Other,
         {"failed unexpectedly", "\nThe exception carried no text."}},
        {"a failure the call named itself",
         []() -> int {
             throw DeviceError(DeviceFailure::Locked, "The phone is locked.", "return -17.");
         },
         DeviceFailure::Locked,
         {"The phone is locked.\nreturn -17."}},
    };
    for (const Case& c : cases) {
        // On a thread of its own (with a flag) and here and now (without one) alike.
        for (const bool withFlag : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (withFlag ? ", on its own thread" : ", here"));
            std::atomic<bool> cancel{false};
            try {
                phonecall::waitUnlessCancelled<int>(
                    [&c](const std::atomic<bool>&) { return c.call(); },
                    withFlag ? &cancel : nullptr);
                ADD_FAILURE() << "no failure came back";
            } catch (const DeviceError& e) {
                EXPECT_EQ(e.kind(), c.kind);
                for (const std::string& part : c.parts)
                    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
            }
        }
    }
    // The failure of a call abandoned before it threw goes with its thread.
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(phonecall::waitUnlessCancelled<int>(
        [](const std::atomic<bool>&) -> int { throw std::runtime_error("unseen"); }, &cancel));
    EXPECT_TRUE(phonecall::Running::waitForAll(5000));
}
