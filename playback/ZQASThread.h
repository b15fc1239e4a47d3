// The thread of one output stream: its run loop receives the audio queue's
// buffer returns, the stream's wake-up source and timer, and the thread's own
// 0.1-second housekeeping timer. Started by the stream's first source; it
// closes its stream when cancelled or when the application will terminate.
#pragma once

#include "core/holders.h"
#include "core/values.h"
#include "core/wrappers.h"
#include "platform/threads/RunLoop.h"
#include "platform/threads/Threads.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

namespace ZQ::AudioStream {
class OutputStream;
}

// The notification posted as the application ends; every stream thread
// closes its stream on it.
inline constexpr const char* kApplicationWillTerminateNotification = "ZQApplicationWillTerminateNotification";

class ZQASThread final : public platform::Object {
public:
    // A thread for a stream of this rate and channel count, not started (+1).
    static ZQASThread* initWithSampleRate(double rate, ZQ::Num::Count channelCount);
    // "ZQASThread:<rate key>|<channels>".
    static std::string initIdentifierString(double rate, ZQ::Num::Count channelCount);

    void setStream(ZQ::AudioStream::OutputStream* stream);
    void start();
    // The first call starts the thread.
    void signalHasBeenAdded();
    void updateAudio();
    // Marks the thread cancelled; on the thread itself, stops its run loop and
    // exits; from elsewhere, has the thread do it and waits. A thread that
    // was never started is not waited for: its stream is closed here.
    void cancel();
    void performExit();
    void closeThread();
    void readHasCompleted();
    void applicationWillTerminate();
    bool shouldTerminate() const;
    std::string identifier() const;

    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    bool isCurrentThread() const;
    bool hasStarted() const { return startHasBeenCalled_.load(); }
    bool isFinished() const { return finished_.load(); }
    // Waits for the thread's body to return (tests and termination).
    void waitUntilFinished();
    ZQ::AudioStream::OutputStream* stream() const;

    const char* kindName() const override { return "ZQASThread"; }

private:
    ZQASThread() = default;
    ~ZQASThread() override;
    void main();
    platform::RunLoop* loop() const;

    ZQ::AudioStream::OutputStream* outStream_ = nullptr; // owned
    ZQ::t_string identifier_;
    int timer_ = 0;
    ZQ::ObjCObjectObservationManager obmgr_{this};
    ZQ::once hasInitialized_;
    std::atomic<bool> startHasBeenCalled_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    platform::Ref<platform::Thread> thread_;
    platform::Ref<platform::RunLoop> runLoop_; // set by the thread as it starts
    mutable std::mutex loopMutex_;
    mutable std::condition_variable loopReady_;
};
