#include "platform/audioout/AudioQueue.h"
#include "platform/base/Values.h"
#include "platform/threads/RunLoop.h"
#include "support/Fixtures.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <thread>
#include <vector>

using namespace platform;
using namespace platform::audio;

namespace {

AudioStreamBasicDescription floatFormat(double rate, unsigned channels) {
    AudioStreamBasicDescription f;
    f.mSampleRate = rate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = 17;
    f.mBytesPerPacket = f.mBytesPerFrame = 4 * channels;
    f.mFramesPerPacket = 1;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = 32;
    return f;
}

// Fills each returned buffer with the next frames of a counting signal:
// frame k carries (k + 1) / 2^20 on channel 0 and its negative on channel 1.
struct Counter {
    unsigned channels = 2;
    std::uint64_t next = 0;
    int callbacks = 0;
    bool refill = true;
    static void callback(void* user, AudioQueue* q, AudioQueueBuffer* b) {
        auto* self = static_cast<Counter*>(user);
        ++self->callbacks;
        if (!self->refill) return;
        self->write(q, b);
    }
    void write(AudioQueue* q, AudioQueueBuffer* b) {
        b->mAudioDataByteSize = b->mAudioDataBytesCapacity;
        ASSERT_EQ(q->enqueueBuffer(b), kNoErr);
        auto* out = static_cast<float*>(b->mAudioData); // written after enqueueing, as the stream does
        const std::uint32_t frames = b->mAudioDataByteSize / (4 * channels);
        for (std::uint32_t k = 0; k < frames; ++k, ++next)
            for (unsigned c = 0; c < channels; ++c)
                out[k * channels + c] = static_cast<float>((c ? -1.0 : 1.0) * double(next + 1) / 1048576.0);
    }
};

struct Running {
    std::vector<std::uint32_t> seen;
    static void listener(void* user, AudioQueue* q, std::uint32_t id) {
        std::uint32_t v = 9, size = 4;
        q->getProperty(id, &v, &size);
        static_cast<Running*>(user)->seen.push_back(v);
    }
};

} // namespace

TEST(AudioQueue, CaptureReceivesEveryFrameInOrderAtTheRealRate) {
    testsupport::TempDir dir;
    const std::string path = dir.file("played.wav");
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + path).c_str(), 1);
    Counter counter;
    AudioQueue* raw = nullptr;
    ASSERT_EQ(AudioQueue::newOutput(floatFormat(32000, 2), &Counter::callback, &counter, nullptr, &raw), kNoErr);
    Ref<AudioQueue> q = Ref<AudioQueue>::adopt(raw);
    EXPECT_STREQ(q->backend(), "capture");
    Running running;
    ASSERT_EQ(q->addPropertyListener(kAudioQueueProperty_IsRunning, &Running::listener, &running), kNoErr);
    AudioQueueBuffer* buffers[2];
    for (auto& b : buffers)
        ASSERT_EQ(q->allocateBuffer(8192, &b), kNoErr);
    for (auto* b : buffers)
        counter.write(q.get(), b); // prime
    ASSERT_EQ(q->start(), kNoErr);
    EXPECT_TRUE(q->isRunning());
    RunLoop::current()->runFor(0.5);
    ASSERT_EQ(q->stop(true), kNoErr);
    EXPECT_EQ(running.seen, (std::vector<std::uint32_t>{1, 0}));
    EXPECT_EQ(q->underruns(), 0u);
    const std::uint64_t consumed = q->framesConsumed();
    // Real time: half a second is about 16000 frames (never much more).
    EXPECT_GT(consumed, 8000u);
    EXPECT_LT(consumed, 32000u);
    q->dispose(true);

    int channels = 0, rate = 0;
    std::vector<float> data = testsupport::readFloatFile(path, channels, rate);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 32000);
    ASSERT_EQ(data.size(), consumed * 2);
    for (std::size_t k = 0; k < consumed; ++k) {
        ASSERT_EQ(data[2 * k], static_cast<float>(double(k + 1) / 1048576.0)) << k;
        ASSERT_EQ(data[2 * k + 1], -data[2 * k]) << k;
    }
    EXPECT_GT(counter.callbacks, 2); // buffers came back to be filled again
}

TEST(AudioQueue, StarvingCountsUnderrunsAndPlaysSilence) {
    testsupport::TempDir dir;
    const std::string path = dir.file("starved.wav");
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + path).c_str(), 1);
    Counter counter;
    counter.channels = 1;
    counter.refill = false; // buffers come back and are not filled again
    AudioQueue* raw = nullptr;
    ASSERT_EQ(AudioQueue::newOutput(floatFormat(16000, 1), &Counter::callback, &counter, nullptr, &raw), kNoErr);
    Ref<AudioQueue> q = Ref<AudioQueue>::adopt(raw);
    AudioQueueBuffer* b = nullptr;
    ASSERT_EQ(q->allocateBuffer(4096, &b), kNoErr);
    counter.write(q.get(), b);
    ASSERT_EQ(q->setParameter(kAudioQueueParam_Volume, 0.5f), kNoErr);
    EXPECT_EQ(q->setParameter(7, 0.5f), kAudioQueueErr_InvalidParameter);
    ASSERT_EQ(q->start(), kNoErr);
    RunLoop::current()->runFor(0.3);
    EXPECT_GT(q->underruns(), 0u);
    q->dispose(true);
    int channels = 0, rate = 0;
    std::vector<float> data = testsupport::readFloatFile(path, channels, rate);
    ASSERT_GT(data.size(), 2048u);
    for (std::size_t k = 0; k < 1024; ++k)
        ASSERT_EQ(data[k], static_cast<float>(0.5 * double(k + 1) / 1048576.0)) << k;
    for (std::size_t k = 1024; k < data.size(); ++k)
        ASSERT_EQ(data[k], 0.0f) << k;
}

TEST(AudioQueue, RefusesWhatItCannotPlayAndAnswersItsProperties) {
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    Counter counter;
    AudioQueue* raw = nullptr;
    EXPECT_EQ(AudioQueue::newOutput(floatFormat(4000, 2), &Counter::callback, &counter, nullptr, &raw),
              kAudioFormatUnsupportedDataFormatError);
    EXPECT_EQ(AudioQueue::newOutput(floatFormat(44100, 3), &Counter::callback, &counter, nullptr, &raw),
              kAudioFormatUnsupportedDataFormatError);
    ASSERT_EQ(AudioQueue::newOutput(floatFormat(44100, 1), &Counter::callback, &counter, nullptr, &raw), kNoErr);
    Ref<AudioQueue> q = Ref<AudioQueue>::adopt(raw);
    EXPECT_STREQ(q->backend(), "null");
    double rate = 0;
    std::uint32_t size = sizeof rate;
    ASSERT_EQ(q->getProperty(kAudioQueueDeviceProperty_SampleRate, &rate, &size), kNoErr);
    EXPECT_EQ(rate, 44100.0);
    std::uint32_t channels = 0;
    size = sizeof channels;
    ASSERT_EQ(q->getProperty(kAudioQueueDeviceProperty_NumberChannels, &channels, &size), kNoErr);
    EXPECT_EQ(channels, 1u);
    const void* device = nullptr;
    size = sizeof device;
    ASSERT_EQ(q->getProperty(kAudioQueueProperty_CurrentDevice, &device, &size), kNoErr);
    EXPECT_EQ(static_cast<const String*>(device)->utf8(), "null");
    size = 2;
    EXPECT_EQ(q->getProperty(kAudioQueueDeviceProperty_SampleRate, &rate, &size), kAudioQueueErr_InvalidPropertySize);
    EXPECT_EQ(q->addPropertyListener(fourcc("zzzz"), &Running::listener, nullptr), kAudioQueueErr_InvalidProperty);
    AudioQueueBuffer* b = nullptr;
    EXPECT_EQ(q->allocateBuffer(6, &b), kAudioQueueErr_InvalidBuffer);
    AudioQueueBuffer stranger;
    EXPECT_EQ(q->enqueueBuffer(&stranger), kAudioQueueErr_InvalidBuffer);
    q->dispose(true);
    EXPECT_EQ(q->start(), kAudioQueueErr_Disposed);
}

TEST(AudioQueue, TheDefaultDeviceOpensOrFailsWithItsReasonAndNoChatter) {
    unsetenv("ZQ_AUDIO_OUTPUT");
    Counter counter;
    for (int attempt = 0; attempt < 2; ++attempt) { // a failure looks for a device again
        AudioQueue* raw = nullptr;
        testing::internal::CaptureStderr();
        const OSStatus r = AudioQueue::newOutput(floatFormat(48000, 2), &Counter::callback, &counter, nullptr, &raw);
        const std::string err = testing::internal::GetCapturedStderr();
        // None of the sound library's own chatter, either way.
        EXPECT_EQ(err, "");
        if (r == kNoErr) { // this machine has a sound server or device
            Ref<AudioQueue> q = Ref<AudioQueue>::adopt(raw);
            // The server when one answers (it names the output it plays on),
            // else PortAudio's device (with the latency it reports).
            const std::string backend = q->backend();
            if (backend == "pulse") {
                EXPECT_FALSE(q->deviceDescription().empty());
            } else {
                EXPECT_EQ(backend, "portaudio");
                EXPECT_GT(q->deviceLatency(), 0.0);
            }
            q->dispose(true);
        } else {
            EXPECT_EQ(r, kAudioQueueErr_CannotStart);
            EXPECT_EQ(raw, nullptr);
            EXPECT_FALSE(AudioQueue::lastError().empty()); // the reason the user is shown
        }
    }
}

TEST(RunLoop, PerformsTimesAndStops) {
    std::atomic<RunLoop*> loop{nullptr};
    std::atomic<int> ticks{0};
    std::atomic<bool> done{false};
    std::thread t([&] {
        RunLoop* l = RunLoop::current();
        l->addTimer(0.0, 0.01, [&] { ++ticks; });
        loop = l;
        while (l->runFor(0.25) != RunLoop::Result::Stopped) {
        }
        done = true;
        l->close();
    });
    while (!loop.load())
        std::this_thread::yield();
    std::thread::id ranOn;
    loop.load()->performAndWait([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, t.get_id());
    while (ticks.load() < 3)
        std::this_thread::yield();
    Ref<RunLoop> keep = Ref<RunLoop>::retain(loop.load());
    keep->stop();
    t.join();
    EXPECT_TRUE(done);
    // A closed loop runs work on the caller.
    keep->performAndWait([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}
