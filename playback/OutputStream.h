// One open audio output of a fixed rate and channel count, shared by every
// source of that format: it mixes what its producing sources add, converts the
// mix to 32-bit floats and hands it to the audio queue; silence when nothing
// produces. Streams live in a process-wide registry, one per (rate key,
// channel count), each on its own stream thread.
//
// Every operation takes the stream lock (the z_ lock); fill holds it while
// the sources render. A source connecting takes its own lock first, then
// the stream's.
#pragma once

#include "core/holders.h"
#include "core/values.h"
#include "platform/audioout/AudioQueue.h"
#include "platform/threads/RunLoop.h"
#include "playback/OutputSource.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ZQASThread;

namespace ZQ::AudioStream {
// A device that has played nothing for this long rests until the next Play.
inline constexpr double kRestAfterSeconds = 0.5;
} // namespace ZQ::AudioStream

namespace ZQ::AudioStream {

// One queue property this stream listens to.
template <class T> struct TypePropertyData {
    std::uint32_t property_ = 0;
    T value_{};
};
template <class T> struct QueueProperty : z_ {
    explicit QueueProperty(std::uint32_t id) : rcv_pid_(id) { o_.property_ = id; }
    std::uint32_t rcv_pid_;
    TypePropertyData<T> o_;
    platform::audio::AudioQueue* audioQueueRef_ = nullptr;
};

struct ListenerState {
    virtual ~ListenerState() = default;
    QueueProperty<std::uint32_t> isRunning{platform::audio::kAudioQueueProperty_IsRunning};
    QueueProperty<double> deviceSampleRate{platform::audio::kAudioQueueDeviceProperty_SampleRate};
    QueueProperty<std::uint32_t> deviceNumberChannels{platform::audio::kAudioQueueDeviceProperty_NumberChannels};
    QueueProperty<const void*> currentDevice{platform::audio::kAudioQueueProperty_CurrentDevice};
    QueueProperty<const void*> magicCookie{platform::audio::kAudioQueueProperty_MagicCookie};
};

struct BufferData {
    explicit BufferData(std::uint64_t channels)
        : numAudioQueueBuffers_(channels), buffers_(static_cast<std::size_t>(channels), nullptr) {}
    Num::Count numAudioQueueBuffers_;
    Num::Count audioSampleAllocationCount_{0ull};
    std::vector<platform::audio::AudioQueueBuffer*> buffers_;
};

struct AudioQueueStateData {
    ReadPosition audioStreamReadPosition_;
    platform::audio::AudioQueue* audioQueue_ = nullptr;
};

class OutputStream final : public SourceHost {
public:
    // The stream of `rate` and `channels`, made (with its thread, not started)
    // on first request; null with "Invalid sample rate: %f" outside 8000 ...
    // 384000 Hz. Under the registry lock.
    static OutputStream* findOrCreate(double rate, Num::Count channels);
    // The registry key of a rate: rate x 10000 + 0.5, truncated; 0 when invalid.
    static std::uint64_t keyFor(double rate);
    // Takes every entry out of the registry (the streams stay with their
    // threads); termination only.
    static void releaseRegistry();
    // Keeps a failed, closed stream until termination (see releaseRegistry).
    static void retire(OutputStream* stream);
    static std::size_t registrySize();

    OutputStream(ZQASThread* thread, double rate, Num::Count channels);
    ~OutputStream() override;

    // Stream thread. 0 or the failing status.
    std::int32_t initialise();
    std::int32_t start();
    void stop(bool immediate);
    void close(ZQASThread* thread);
    // The run-loop source's and timer's routine.
    void wakeUp();

    std::int32_t addSource(OutputSource* source, bool startProducing) override;
    std::int32_t removeSource(OutputSource* source) override;
    void removeAllSources();
    void deferUntilUnlocked(std::function<void()> work) override;
    void sourceDidStartProducing(const std::string& mediaName) override;
    bool streamFramesHeard(std::uint64_t& frames) const override;
    void signal(bool hasSources);
    // Stream thread: the device failed (or, `unavailable`, could not be
    // opened). The stream leaves the registry, lets every source go with its
    // position kept (the playing ones tell their owners why) and closes.
    void deviceDidFail(const std::string& reason, bool unavailable);
    bool hasFailed() const {
        sync_guard g(this);
        return hasFailed_;
    }

    sample_rate streamSampleRate() const override { return rate_; }
    Num::Count streamChannelCount() const override { return channels_; }

    // Any thread: waits (up to `timeoutSeconds`) until the device has played
    // everything this stream has produced so far, its queued buffers
    // included. False on timeout or when the stream never started.
    bool waitUntilPlayed(double timeoutSeconds) const;
    // Every stream in the registry (see waitUntilPlayed).
    static bool waitUntilAllPlayed(double timeoutSeconds);
    // Whether any stream's device is playing now.
    static bool anyPlaying();
    // Every stream that plays nothing now closes (on its own thread), so that
    // the next Play opens the output anew (another device was chosen). Its
    // sources keep their positions and connect again when they play.
    static void reopenIdleStreams();

    // The result of the stream thread's initialise: 0, a failing status, or
    // kNotInitialisedYet before it has run.
    static constexpr std::int32_t kNotInitialisedYet = -2147483647 - 1;
    std::int32_t initialiseResult() const { return initialiseResult_.load(); }

    // Diagnostics for tests and benchmarks.
    bool isInitialized() const {
        sync_guard g(this);
        return isInitialized_.isSet();
    }
    ZQASThread* streamThread() const {
        sync_guard g(this);
        return thread_.get();
    }
    bool isStarted() const {
        sync_guard g(this);
        return isStarted_.isSet();
    }
    std::uint64_t samplesPlayed() const;
    std::uint64_t underruns() const;
    // The queue is made on the stream's thread; read under the lock.
    platform::audio::AudioQueue* audioQueue() const {
        sync_guard g(this);
        return queueObject_.get();
    }
    const platform::audio::AudioStreamBasicDescription& format() const { return format_; }
    std::size_t sourceSlots() const;
    std::uint32_t isRunningProperty() const { return listenerState_.isRunning.o_.value_; }

private:
    static void fillCallback(void* user, platform::audio::AudioQueue* queue, platform::audio::AudioQueueBuffer* buffer);
    static void propertyCallback(void* user, platform::audio::AudioQueue* queue, std::uint32_t id);
    void fill(platform::audio::AudioQueue* queue, platform::audio::AudioQueueBuffer* buffer);
    void runDeferred();
    bool anySourceProducing() const; // under the lock
    void resumeProducing();
    void restWhenIdle();
    // What the mixer shows for the stream: the last document to start playing.
    void showMediaName();
    void checkDevice();
    static void removeFromRegistry(OutputStream* stream);
    std::int32_t initialiseQueue();
    std::int32_t registerListeners();
    std::int32_t removeListeners();

    OCPtr<ZQASThread, 0> thread_;
    platform::Ref<platform::audio::AudioQueue> queueObject_;
    platform::audio::AudioStreamBasicDescription format_;
    BufferData bufferData_;
    ListenerState listenerState_;
    AudioQueueStateData queueState_;
    platform::Ref<platform::RunLoop> runLoop_;
    std::shared_ptr<platform::RunLoopSource> runLoopSource_;
    int wakeTimer_ = 0;
    once isInitialized_;
    once isStarted_;
    bool hasSources_ = false;
    once hasSignalled_;
    once isClosing_;
    std::vector<OutputSource*> sources_;
    // Buffers waiting for a source to produce (no silence is queued).
    std::vector<platform::audio::AudioQueueBuffer*> parked_;
    double idleSince_ = -1; // seconds on the steady clock; -1 while running
    std::string pendingFailure_;
    std::string pendingMediaName_;       // for the mixer, once the lock is free
    std::uint64_t enqueuedFrames_ = 0;   // frames handed to the queue (under the lock)
    std::uint64_t underrunsAtStart_ = 0; // the queue's count when it last started
    bool hasFailed_ = false;
    std::vector<double> mix_;
    std::vector<std::function<void()>> deferred_; // under the stream lock
    bool starting_ = false;                       // start() is priming (under the lock)
    std::atomic<std::int32_t> initialiseResult_{kNotInitialisedYet};
    sample_rate rate_;
    Num::Count channels_;
};

// Prints the stream's error line for `status` at `line`, then `message`.
void reportStreamError(std::int32_t status, int line, const char* message);

} // namespace ZQ::AudioStream
