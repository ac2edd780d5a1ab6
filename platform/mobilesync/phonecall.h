// Waiting on a phone, one way for every wait.
//
// Every wait on a phone goes in slices (`Wait`): between two slices the waiter looks at its
// cancel flag, so that a set flag ends the wait within kSliceMs. A receive blocks in the library
// for one slice at a time. A call into libimobiledevice that the library cannot interrupt (a
// look-up, lockdown's handshake and StartService, a TLS handshake, a lockdown value) runs on a
// thread of its own (`Call`), and its waiter waits for it one slice at a time
// (`waitUnlessCancelled`); the GUI thread never waits itself, but runs such a waiter on a
// thread under a progress dialog whose cancel flag it hands over.
//
// A phone that stops sending holds an uninterruptible call for the library's own time limits (a
// minute and more). A waiter that stops waiting abandons the call: the thread finishes on its
// own and frees the result itself, and nothing the waiter owns is touched by it. The callable
// therefore gets everything it uses by value, and its result frees its handles when it goes
// (an RAII type). It is handed a flag that is set once it is abandoned: a call of several steps
// skips the rest (nothing is written to a phone after a cancel).
//
// What a call throws comes back to its waiter as the call's failure, thrown again from take():
// a DeviceError as it was, anything else as a DeviceError that says the step failed
// unexpectedly, with the exception's text as the detail. It never ends the process.
//
// Threads still running are counted; Running::waitForAll lets the program's end wait a bounded
// time for them, so that none is inside the library while the process exits.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "deviceerror.h"

namespace phonecall {

// The longest a waiter goes without looking at its cancel flag.
constexpr int kSliceMs = 50;

// One wait on a phone. The waiter asks next() how long it may block, blocks at most that long
// on the phone (a receive, a call), and tells heard() when something arrived.
class Wait {
public:
    // cancel ends the wait (null: only the limit does). limitMs is how long the phone may stay
    // silent (0: no limit). With a grace, an answer already due may still come for that long
    // after the flag was seen: a write whose answer is due ends cleanly, a stalled phone is
    // given up on.
    explicit Wait(const std::atomic<bool>* cancel, int limitMs = 0, int graceMs = 0)
        : cancel_(cancel), limitMs_(limitMs), graceMs_(graceMs), heardAt_(nowMs()) {}

    // How long the next slice may block: at most kSliceMs while there is a flag to look at, and
    // never past the limit. 0 once the wait is over; cancelled() says whether the flag ended it.
    int next() {
        const int64_t now = nowMs();
        int64_t slice = kSliceMs;
        if (cancel_ && cancel_->load()) {
            if (cancelSeenAt_ < 0)
                cancelSeenAt_ = now;
            const int64_t graceLeft = graceMs_ - (now - cancelSeenAt_);
            if (graceLeft <= 0) {
                cancelled_ = true;
                return 0;
            }
            slice = std::min<int64_t>(slice, graceLeft);
        }
        if (limitMs_ > 0) {
            const int64_t left = limitMs_ - (now - heardAt_);
            if (left <= 0)
                return 0;
            // Without a flag nothing needs looking at: the whole rest in one slice.
            slice = cancel_ ? std::min(slice, left) : left;
        }
        return int(slice);
    }
    // Something arrived: the silence counts afresh.
    void heard() { heardAt_ = nowMs(); }
    bool cancelled() const { return cancelled_; }

    static int64_t nowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

private:
    const std::atomic<bool>* cancel_;
    int limitMs_;
    int graceMs_;
    int64_t heardAt_;
    int64_t cancelSeenAt_ = -1;
    bool cancelled_ = false;
};

// Sleeps ms unless the flag is set first (null: no flag); false when the flag ended it.
inline bool pause(int ms, const std::atomic<bool>* cancel) {
    Wait wait(cancel, std::max(ms, 1));
    for (int slice; (slice = wait.next()) > 0;)
        std::this_thread::sleep_for(std::chrono::milliseconds(slice));
    return !wait.cancelled();
}

// The failure a call hands back for an exception that is not a DeviceError: the step failed
// unexpectedly, the exception's text (what()) as the detail.
DeviceError unexpectedFailure(const char* what);
// The current exception as a call's failure (see above); for a catch block.
std::exception_ptr failureOfCurrentException();

// Calls under way (abandoned or not); the program's end waits for them.
class Running {
public:
    static void add() { count().fetch_add(1); }
    static void remove() {
        std::lock_guard<std::mutex> lock(mutex());
        count().fetch_sub(1);
        done().notify_all();
    }
    // Waits up to ms for every call to end; true when none is left.
    static bool waitForAll(int ms) {
        std::unique_lock<std::mutex> lock(mutex());
        return done().wait_for(lock, std::chrono::milliseconds(ms),
                               [] { return count().load() == 0; });
    }
    static int now() { return count().load(); }

private:
    static std::atomic<int>& count() {
        static std::atomic<int> n{0};
        return n;
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::condition_variable& done() {
        static std::condition_variable cv;
        return cv;
    }
};

template <class R>
class Call {
public:
    // Starts fn on its own thread at once.
    using Fn = std::function<R(const std::atomic<bool>& abandoned)>;

    explicit Call(Fn fn) : state_(std::make_shared<State>()) {
        Running::add();
        std::thread([state = state_, fn = std::move(fn)]() mutable {
            {
                Fn f = std::move(fn);
                std::optional<R> r;
                std::exception_ptr failure;
                try {
                    r.emplace(f(state->abandoned));
                } catch (...) {
                    failure = failureOfCurrentException();
                }
                {
                    std::lock_guard<std::mutex> lock(state->mutex);
                    if (r)
                        state->result.emplace(std::move(*r));
                    state->failure = failure;
                    state->finished = true;
                }
                state->cv.notify_all();
                // An abandoned result goes here, with the last owner of the state.
                state.reset();
            }
            Running::remove();
        }).detach();
    }
    // Abandons a call still under way: its thread drops the result.
    ~Call() { state_->abandoned = true; }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    bool finished() const {
        std::lock_guard<std::mutex> lock(state_->mutex);
        return state_->finished;
    }
    // Waits up to ms; true once the call has ended.
    bool waitFor(int ms) const {
        std::unique_lock<std::mutex> lock(state_->mutex);
        return state_->cv.wait_for(lock, std::chrono::milliseconds(ms),
                                   [this] { return state_->finished; });
    }
    // The result, once finished() (taken once); throws the call's failure instead when it threw.
    R take() {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->failure)
            std::rethrow_exception(std::exchange(state_->failure, nullptr));
        R r = std::move(*state_->result);
        state_->result.reset();
        return r;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool finished = false;
        std::optional<R> result;
        std::exception_ptr failure;
        std::atomic<bool> abandoned{false};
    };
    std::shared_ptr<State> state_;
};

// Waits for a call, one slice at a time, until it ends or the flag is set (null: no flag).
// Empty when the flag ended the wait; the call then finishes on its own. Throws the call's
// failure.
template <class R>
std::optional<R> waitUnlessCancelled(Call<R>& call, const std::atomic<bool>* cancel) {
    Wait wait(cancel);
    for (int slice; (slice = wait.next()) > 0;) {
        if (call.waitFor(slice))
            return call.take();
    }
    return std::nullopt;
}

// Runs fn on a thread of its own and waits for it as above; without a flag, here and now.
template <class R>
std::optional<R> waitUnlessCancelled(typename Call<R>::Fn fn, const std::atomic<bool>* cancel) {
    if (!cancel) {
        const std::atomic<bool> never{false};
        try {
            return fn(never);
        } catch (...) {
            std::rethrow_exception(failureOfCurrentException());
        }
    }
    if (cancel->load())
        return std::nullopt;
    Call<R> call(std::move(fn));
    return waitUnlessCancelled(call, cancel);
}

}  // namespace phonecall
