// Waiting on a phone: what a call throws comes back to its waiter as the call's failure in
// words, and every wait ends within a tenth of a second of its cancel flag (after the grace an
// answer already due is given).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "phonecall.h"
#include "tests/timing.h"

using namespace std::chrono_literals;

namespace {

int64_t since(int64_t t) {
    return phonecall::Wait::nowMs() - t;
}

// Sets the flag after ms on a thread of its own; joined when it goes.
class CancelLater {
public:
    CancelLater(std::atomic<bool>& flag, int ms)
        : thread_([this, &flag, ms] {
              std::this_thread::sleep_for(std::chrono::milliseconds(ms));
              setAt = phonecall::Wait::nowMs();
              flag = true;
          }) {}
    ~CancelLater() { join(); }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    std::atomic<int64_t> setAt{0};

private:
    std::thread thread_;
};

}  // namespace

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

TEST(PhoneCall, EveryWaitEndsWithinATenthOfASecondOfItsFlag) {
    struct Case {
        const char* what;
        int graceMs;
        // Waits until the flag ends it; true when it said so.
        std::function<bool(const std::atomic<bool>&, int graceMs)> wait;
    };
    // A receive from a phone that sends nothing: slice after slice.
    const auto silentPhone = [](const std::atomic<bool>& cancel, int grace) {
        phonecall::Wait wait(&cancel, 60000, grace);
        for (int slice; (slice = wait.next()) > 0;)
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        return wait.cancelled();
    };
    const std::vector<Case> cases = {
        {"a call that never answers", 0,
         [](const std::atomic<bool>& cancel, int) {
             return !phonecall::waitUnlessCancelled<int>(
                 [](const std::atomic<bool>& abandoned) {
                     while (!abandoned)
                         std::this_thread::sleep_for(5ms);
                     return 0;
                 },
                 &cancel);
         }},
        {"a pause", 0,
         [](const std::atomic<bool>& cancel, int) { return !phonecall::pause(60000, &cancel); }},
        {"a silent phone", 0, silentPhone},
        {"a silent phone whose answer is due", 300, silentPhone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> cancel{false};
        CancelLater user(cancel, 200);
        EXPECT_TRUE(c.wait(cancel, c.graceMs));
        const int64_t afterFlag = since(user.setAt);
        EXPECT_GE(afterFlag, c.graceMs);
        EXPECT_LT(afterFlag, c.graceMs + 100 * kTimeScale);
    }
    EXPECT_TRUE(phonecall::Running::waitForAll(5000));
}

TEST(PhoneCall, ASilenceLimitEndsTheWaitAndWhatArrivesStartsItAfresh) {
    phonecall::Wait wait(nullptr, 300);
    const int64_t start = phonecall::Wait::nowMs();
    // Without a flag the whole rest of the limit is one slice.
    EXPECT_GT(wait.next(), phonecall::kSliceMs);
    std::this_thread::sleep_for(200ms);
    wait.heard();
    while (const int slice = wait.next())
        std::this_thread::sleep_for(std::chrono::milliseconds(slice));
    EXPECT_FALSE(wait.cancelled());
    EXPECT_GE(since(start), 500);
    EXPECT_LT(since(start), 700 * kTimeScale);
}
