// A thread's event loop for the playback threads: work performed from other
// threads (with or without waiting), repeating timers, and sources that
// other threads signal. Waking it is lock-free (an eventfd write), so the
// audio device's thread may do it.
//
// Every thread has one, made on first use by that thread; it only turns
// while its thread runs it (runFor).
#pragma once

#include "platform/base/Object.h"
#include "platform/threads/WorkQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

// Work run on the loop's thread each time something signalled it.
class RunLoopSource {
public:
    explicit RunLoopSource(std::function<void()> perform) : perform_(std::move(perform)) {}
    // Any thread, lock-free: marks the source; the loop runs it on its next turn
    // (wake the loop for that to be soon).
    void signal() { signalled_.store(true, std::memory_order_release); }
    bool takeSignal() { return signalled_.exchange(false, std::memory_order_acq_rel); }
    void perform() { perform_(); }

private:
    std::function<void()> perform_;
    std::atomic<bool> signalled_{false};
};

class RunLoop final : public Object {
public:
    // The calling thread's loop (not retained; it lives as long as the thread).
    static RunLoop* current();

    enum class Result { Stopped, TimedOut };
    // Runs until stop() or until `seconds` have passed.
    Result runFor(double seconds);
    // Any thread: ends the running (or the next) runFor.
    void stop();
    // Any thread, lock-free.
    void wakeUp();
    bool isWaiting() const { return waiting_.load(std::memory_order_acquire); }

    // Any thread: `work` runs on the loop's thread on a later turn.
    void perform(std::function<void()> work);
    // Any thread: runs `work` on the loop's thread and waits for it (at once
    // when called on that thread, or on a closed loop). The loop must be
    // running, about to run, or closed.
    void performAndWait(const std::function<void()>& work);
    // The loop's thread, as it ends: what is pending runs now, and later work
    // runs on the thread that performs it.
    void close();

    // Loop thread: a repeating timer; returns its id.
    int addTimer(double firstDelaySeconds, double periodSeconds, std::function<void()> fire);
    void removeTimer(int id);
    // Loop thread: sources are looked at on every turn.
    void addSource(const std::shared_ptr<RunLoopSource>& source);
    void removeSource(const std::shared_ptr<RunLoopSource>& source);

    bool isCurrent() const;
    const char* kindName() const override { return "RunLoop"; }

private:
    RunLoop();
    ~RunLoop() override;
    void fireTimers();
    void runSources();
    double secondsToNextTimer() const;

    using Clock = std::chrono::steady_clock;
    struct TimerEntry {
        int id;
        Clock::time_point next;
        Clock::duration period;
        std::function<void()> fire;
    };
    int eventFd_ = -1;
    std::thread::id owner_;
    WorkQueue work_;
    std::vector<TimerEntry> timers_;                      // loop thread only
    std::vector<std::shared_ptr<RunLoopSource>> sources_; // loop thread only
    int nextTimer_ = 1;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> waiting_{false};
};

} // namespace platform
