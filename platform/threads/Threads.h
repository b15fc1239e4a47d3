// Thread and timer objects.
//
// Thread: a reference-counted handle of one operating-system thread running a
// body function. The thread keeps its object alive while it runs.
// Timer: a repeating timer on the event loop of the thread that schedules it
// (a Qt event loop; the main thread needs a QCoreApplication). The event loop
// holds a reference to a scheduled timer until it is invalidated.
#pragma once

#include "platform/base/Object.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class QTimer;

namespace platform {

class Thread final : public Object {
public:
    using Body = std::function<void()>;

    // A thread object that is not yet running (+1).
    static Thread* create(Body body);
    // Creates and starts a thread that nobody waits for.
    static void detachNew(Body body);

    // The object of the calling thread (created on first use for threads that
    // were not started through this class). Not retained.
    static Thread* current();
    static Thread* main();
    static bool isMainThread();

    // Starts the body once; later calls do nothing.
    void start();
    void setName(const std::string& name);
    std::string name() const;
    bool isExecuting() const { return state_.load() == State::running; }
    bool isFinished() const { return state_.load() == State::finished; }
    // Blocks until the body has returned; returns at once for a thread that
    // was never started through this class or already finished.
    void waitUntilFinished();
    std::thread::id id() const { return id_; }

    const char* kindName() const override { return "Thread"; }

private:
    enum class State { created, running, finished };
    explicit Thread(Body body) : body_(std::move(body)) {}
    Body body_;
    std::atomic<State> state_{State::created};
    std::thread::id id_{};
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    std::string name_;
};

class Timer final : public Object {
public:
    using Callback = std::function<void(Timer*)>;

    // Schedules a repeating timer on the calling thread's event loop and
    // returns it (+1 for the caller; the event loop holds its own reference).
    // userInfo is retained.
    static Timer* scheduledTimer(double seconds, Callback callback, Object* userInfo = nullptr);

    // Stops the timer for good: the callback is not called again once this
    // returns on the timer's own thread (from another thread, a callback that
    // is already running may finish).
    void invalidate();
    bool isValid() const { return valid_.load(); }
    double interval() const { return seconds_; }
    Object* userInfo() const { return userInfo_.get(); }

    const char* kindName() const override { return "Timer"; }

private:
    Timer(double seconds, Callback callback, Object* userInfo);
    double seconds_;
    Callback callback_;
    Ref<Object> userInfo_;
    QTimer* timer_ = nullptr;
    std::atomic<bool> valid_{true};
};

// Hands `work` to the main thread's event loop and returns at once, also when
// called on the main thread (the work then runs on a later turn of the loop).
// Without a running application object the work is dropped with a log line.
void performOnMainThread(std::function<void()> work);

} // namespace platform
