// One call into libimobiledevice that may wait on a phone (a look-up, lockdown's handshake and
// StartService, a TLS handshake, a lockdown value) run on a thread of its own, so that whoever
// waits for it can stop waiting at once.
//
// The library gives such calls no way to be interrupted, and a phone that stops sending holds
// them for the library's own time limits (a minute and more). A caller that stops waiting
// abandons the call: the thread finishes on its own and frees the result itself, and nothing
// the caller owns is touched by it. The callable therefore gets everything it uses by value,
// and its result frees its handles when it goes (an RAII type). It is handed a flag that is set
// once it is abandoned: a call of several steps skips the rest (nothing is written to a phone
// after a cancel).
//
// Threads still running are counted; PhoneCalls::waitForAbandoned lets the program's end wait
// a bounded time for them, so that none is inside the library while the process exits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace phonecall {

// How often a waiting caller looks at its cancel flag.
constexpr int kPollMs = 20;

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
                R r = f(state->abandoned);
                {
                    std::lock_guard<std::mutex> lock(state->mutex);
                    state->result.emplace(std::move(r));
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
    // The result, once finished() (taken once).
    R take() {
        std::lock_guard<std::mutex> lock(state_->mutex);
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
        std::atomic<bool> abandoned{false};
    };
    std::shared_ptr<State> state_;
};

// Runs fn and waits for it until it ends or the flag is set (null: no flag). Empty when the
// flag ended the wait; the call then finishes on its own.
template <class R>
std::optional<R> waitUnlessCancelled(typename Call<R>::Fn fn, const std::atomic<bool>* cancel) {
    if (!cancel) {
        const std::atomic<bool> never{false};
        return fn(never);
    }
    if (cancel->load())
        return std::nullopt;
    Call<R> call(std::move(fn));
    while (!call.waitFor(kPollMs)) {
        if (cancel->load())
            return std::nullopt;
    }
    return call.take();
}

}  // namespace phonecall
