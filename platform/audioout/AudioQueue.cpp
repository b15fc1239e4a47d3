#include "platform/audioout/AudioQueue.h"

#include "platform/audioout/AudioDevice.h"
#include "platform/base/Values.h"
#include "platform/threads/RunLoop.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform::audio {

namespace {

std::string& lastOpenError() {
    thread_local std::string text;
    return text;
}

// PATH the first time a process captures to it, then PATH with ".2", ".3"
// before the extension (two streams must not write one file).
std::string capturePathFor(const std::string& base) {
    static std::mutex lock;
    static std::map<std::string, int> uses;
    int n;
    {
        std::lock_guard<std::mutex> g(lock);
        n = ++uses[base];
    }
    if (n == 1) return base;
    const std::size_t slash = base.rfind('/');
    const std::size_t dot = base.rfind('.');
    const std::string suffix = "." + std::to_string(n);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return base + suffix;
    return base.substr(0, dot) + suffix + base.substr(dot);
}

std::mutex& preferenceLock() {
    static std::mutex lock;
    return lock;
}
std::string gPreferred;        // under the lock; empty: the system default
std::string gMissingNoticeFor; // under the lock: the name last reported missing

// ZQ_AUDIO_OUTPUT when set; otherwise the sound server when one answers,
// else PortAudio.
std::string chosenBackend() {
    const char* env = std::getenv("ZQ_AUDIO_OUTPUT");
    if (env && *env) return env;
    return soundServerAnswers() ? "pulse" : "portaudio";
}

// The server's name of the sink the user chose (by its description); "" for
// the default, also when the chosen one is gone (said once).
std::string preferredSinkName() {
    const std::string wanted = preferredOutputDevice();
    if (wanted.empty()) return "";
    for (const SoundServerSink& s : soundServerSinks())
        if (s.description == wanted || s.name == wanted) return s.name;
    noteMissingOutputDevice(wanted);
    return "";
}

} // namespace

void noteMissingOutputDevice(const std::string& name) {
    std::lock_guard<std::mutex> g(preferenceLock());
    if (gMissingNoticeFor == name) return;
    std::fprintf(stderr, "Audio output: the device \"%s\" is not available; using the system default\n", name.c_str());
    gMissingNoticeFor = name;
}

struct AudioQueue::Impl final : DeviceClient {
    AudioQueue* self = nullptr;
    AudioStreamBasicDescription format;
    unsigned channels = 0;
    AudioQueueOutputCallback callback = nullptr;
    void* userData = nullptr;
    Ref<RunLoop> loop;
    std::shared_ptr<RunLoopSource> source;
    std::shared_ptr<std::atomic<Impl*>> alive;

    // The ring: written by the loop thread, read by the device.
    std::vector<float> ring;
    std::uint64_t ringFrames = 0;
    // How far ahead of the device the ring is kept full: fillAhead frames
    // while running; when the device starts it first takes a whole buffer of
    // its own at once, so the ring is prerolled with that much more.
    std::uint64_t fillAhead = 0;
    std::uint64_t deviceFrames = 0;
    std::atomic<std::uint64_t> target{0};
    std::atomic<std::int64_t> startBurstLeft{0};
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> read{0};
    std::atomic<std::uint64_t> wakeMark{0};
    std::atomic<std::uint64_t> wakeFrames{1024};
    std::atomic<bool> playing{false};
    std::atomic<bool> draining{false};
    std::atomic<std::uint64_t> underruns{0};
    std::atomic<std::uint64_t> consumed{0};
    std::atomic<float> volume{1.0f};

    std::vector<std::unique_ptr<AudioQueueBuffer>> buffers;
    std::vector<std::unique_ptr<float[]>> blocks;
    // Enqueued buffers with the byte size they had when enqueued (what plays).
    std::deque<std::pair<AudioQueueBuffer*, std::uint32_t>> queued;
    struct Listener {
        std::uint32_t id;
        AudioQueuePropertyListenerProc proc;
        void* userData;
    };
    std::vector<Listener> listeners;
    std::uint32_t reportedRunning = 0;
    bool disposed = false;
    bool started = false;
    bool pumping = false;
    std::atomic<bool> resting{false}; // asked from any thread
    bool deviceRunning = false;       // started, and not resting since
    // For a device that plays at another rate: the ring holds its frames,
    // `ratio` of them for each of the owner's.
    std::unique_ptr<RateConverter> converter;
    std::vector<float> converted;
    double ratio = 1.0;
    // The owner's frames taken in so far, and where the count last started
    // afresh in the ring's frames and in the owner's.
    std::uint64_t pumpedFrames = 0;
    std::atomic<std::uint64_t> ringBase{0};
    std::atomic<std::uint64_t> pumpedBase{0};
    std::unique_ptr<Device> device;
    std::string backend;
    Ref<String> deviceName;

    // Device side.
    std::uint64_t take(float* out, std::uint64_t frames) override {
        if (!playing.load(std::memory_order_acquire)) return 0;
        const std::uint64_t w = written.load(std::memory_order_acquire);
        std::uint64_t r = read.load(std::memory_order_relaxed);
        const std::uint64_t n = std::min<std::uint64_t>(w - r, frames);
        const float gain = volume.load(std::memory_order_relaxed);
        for (std::uint64_t k = 0; k < n; ++k) {
            const float* frame = &ring[((r + k) % ringFrames) * channels];
            for (unsigned c = 0; c < channels; ++c)
                out[k * channels + c] = frame[c] * gain;
        }
        r += n;
        read.store(r, std::memory_order_release);
        countBurst(n);
        bool wake = false;
        if (draining.load(std::memory_order_acquire) && r == w) {
            playing.store(false, std::memory_order_release);
            wake = true;
        }
        if (r - wakeMark.load(std::memory_order_relaxed) >= wakeFrames.load(std::memory_order_relaxed)) {
            wakeMark.store(r, std::memory_order_relaxed);
            wake = true;
        }
        if (wake) {
            source->signal();
            loop->wakeUp();
        }
        return n;
    }
    void render(float* out, std::uint64_t frames) override {
        if (!playing.load(std::memory_order_acquire)) {
            std::memset(out, 0, frames * channels * sizeof(float));
            return;
        }
        const std::uint64_t n = take(out, frames);
        if (n < frames) {
            std::memset(out + n * channels, 0, (frames - n) * channels * sizeof(float));
            if (!draining.load(std::memory_order_acquire)) underruns.fetch_add(1, std::memory_order_relaxed);
            countBurst(frames - n); // the silence fills the device's buffer too
        }
        consumed.fetch_add(frames, std::memory_order_relaxed);
    }
    // Once the device has filled its own buffer (`frames` more of it now),
    // the ring runs the usual distance ahead.
    void countBurst(std::uint64_t frames) {
        if (startBurstLeft.load(std::memory_order_relaxed) > 0 &&
            startBurstLeft.fetch_sub(static_cast<std::int64_t>(frames), std::memory_order_relaxed) <=
                static_cast<std::int64_t>(frames))
            target.store(fillAhead, std::memory_order_relaxed);
    }
    bool isPlaying() const override { return playing.load(std::memory_order_acquire); }
    void deviceRanDry() override {
        if (!draining.load(std::memory_order_acquire)) underruns.fetch_add(1, std::memory_order_relaxed);
    }

    // Before the device first runs.
    void sizeRing() {
        // Room beyond the target for what a converter gives at once.
        ringFrames = fillAhead + deviceFrames + (converter ? 2048 : 0);
        ring.assign(ringFrames * channels, 0.0f);
        target.store(fillAhead);
    }

    // Loop side.
    void notify(std::uint32_t id) {
        auto copy = listeners;
        for (const Listener& l : copy)
            if (l.id == id) l.proc(l.userData, self, id);
    }
    void reportRunning() {
        const std::uint32_t now = playing.load(std::memory_order_acquire) ? 1 : 0;
        if (now != reportedRunning) {
            reportedRunning = now;
            notify(kAudioQueueProperty_IsRunning);
        }
    }
    // Moves enqueued buffers into the ring while there is room, handing each
    // back to the owner as soon as its samples are in (converted to the
    // device's rate on the way when it plays at another).
    void pump() {
        if (disposed || pumping) return;
        pumping = true;
        bool wrote = false;
        while (started && !queued.empty() && !disposed) {
            auto [b, bytes] = queued.front();
            const std::uint64_t frames = bytes / (4u * channels);
            const std::uint64_t w = written.load(std::memory_order_relaxed);
            const std::uint64_t ahead = w - read.load(std::memory_order_acquire);
            const std::uint64_t goal = target.load(std::memory_order_relaxed);
            const std::uint64_t free = goal > ahead ? goal - ahead : 0;
            const auto needed =
                static_cast<std::uint64_t>(std::ceil(static_cast<double>(frames) * ratio)) + (converter ? 64u : 0u);
            if (needed > free) break;
            const auto* in = static_cast<const float*>(b->mAudioData);
            if (converter) {
                converted.clear();
                converter->convert(in, frames, converted);
                put(converted.data(), converted.size() / channels);
            } else {
                put(in, frames);
            }
            pumpedFrames += frames;
            wrote = true;
            queued.pop_front();
            callback(userData, self, b);
        }
        pumping = false;
        if (wrote && device) device->kick();
        reportRunning();
    }
    // Into the ring, as far as it has room (the converter's slack).
    void put(const float* in, std::uint64_t frames) {
        const std::uint64_t w = written.load(std::memory_order_relaxed);
        const std::uint64_t room = ringFrames - (w - read.load(std::memory_order_acquire));
        frames = std::min(frames, room);
        for (std::uint64_t k = 0; k < frames; ++k)
            std::memcpy(&ring[((w + k) % ringFrames) * channels], in + k * channels, channels * sizeof(float));
        written.store(w + frames, std::memory_order_release);
    }
    // The converter's last frames once what was queued is in (a stop after
    // what is queued); from here the ring and the owner's frames count anew.
    void finishConversion() {
        if (!converter) return;
        converted.clear();
        converter->finish(converted);
        put(converted.data(), converted.size() / channels);
        ringBase = written.load(std::memory_order_relaxed);
        pumpedBase = pumpedFrames;
    }
};

AudioQueue::AudioQueue() : impl_(new Impl) {
    impl_->self = this;
}

AudioQueue::~AudioQueue() {
    dispose(true);
    delete impl_;
}

OSStatus AudioQueue::newOutput(const AudioStreamBasicDescription& format, AudioQueueOutputCallback callback,
                               void* userData, RunLoop* loop, AudioQueue** out) {
    if (!out || !callback) return kParameterError;
    *out = nullptr;
    const unsigned channels = format.mChannelsPerFrame;
    if (format.mFormatID != kAudioFormatLinearPCM || !(format.mFormatFlags & kAudioFormatFlagIsFloat) ||
        format.mBitsPerChannel != 32 || (channels != 1 && channels != 2) || format.mBytesPerFrame != 4 * channels ||
        !(format.mSampleRate >= kLowestPlaybackRate && format.mSampleRate <= kHighestPlaybackRate))
        return kAudioFormatUnsupportedDataFormatError;

    Ref<AudioQueue> q = Ref<AudioQueue>::adopt(new AudioQueue);
    Impl& i = *q->impl_;
    i.format = format;
    i.channels = channels;
    i.callback = callback;
    i.userData = userData;
    i.loop = Ref<RunLoop>::retain(loop ? loop : RunLoop::current());
    // The source may still be in the loop for a moment after a dispose made on
    // another thread: it reaches the queue only through this token.
    i.alive = std::make_shared<std::atomic<Impl*>>(&i);
    i.source = std::make_shared<RunLoopSource>([alive = i.alive] {
        if (Impl* impl = alive->load()) impl->pump();
    });
    std::string error;
    const std::string choice = chosenBackend();
    double deviceRate = format.mSampleRate;
    if (choice.rfind("capture:", 0) == 0) {
        // capture:PATH@RATE stands for a device that plays at RATE only.
        std::string target = choice.substr(8);
        const std::size_t at = target.rfind('@');
        if (at != std::string::npos && at + 1 < target.size() &&
            target.find_first_not_of("0123456789", at + 1) == std::string::npos) {
            const double onlyRate = std::stod(target.substr(at + 1));
            if (onlyRate >= 8000) deviceRate = onlyRate;
            target.resize(at);
        }
        const std::string path = capturePathFor(target);
        i.device = makeClockDevice(i, deviceRate, channels, path, error);
        if (!i.device) {
            std::fprintf(stderr, "Audio output: cannot write the capture file %s: %s\n", path.c_str(), error.c_str());
            return kAudioFilePermissionsError;
        }
        i.backend = "capture";
    } else if (choice == "null") {
        i.device = makeClockDevice(i, format.mSampleRate, channels, "", error);
        i.backend = "null";
    } else if (choice == "pulse") {
        i.device = makePulseDevice(i, format.mSampleRate, channels, preferredSinkName(), "ZQ Audio", error);
        i.backend = "pulse";
    } else {
        if (choice != "portaudio")
            std::fprintf(stderr, "Audio output: unknown ZQ_AUDIO_OUTPUT \"%s\"; using portaudio\n", choice.c_str());
        double refusedRate = 0;
        const std::string preferred = preferredOutputDevice();
        i.device = makePortAudioDevice(i, format.mSampleRate, channels, preferred, error, &refusedRate);
        if (!i.device && refusedRate > 0) {
            // The device plays at another rate only: converted on the way.
            deviceRate = refusedRate;
            i.device = makePortAudioDevice(i, deviceRate, channels, preferred, error);
        }
        i.backend = "portaudio";
    }
    if (!i.device) {
        lastOpenError() = error.empty() ? "the audio output cannot be opened" : error;
        return kAudioQueueErr_CannotStart;
    }
    if (deviceRate != format.mSampleRate) {
        i.converter = makeRateConverter(format.mSampleRate, deviceRate, channels, error);
        if (!i.converter) {
            lastOpenError() = error;
            return kAudioQueueErr_CannotStart;
        }
        i.ratio = deviceRate / format.mSampleRate;
    }
    // About 40 ms ahead of the device: room for the stream thread to be late
    // (the device keeps its own buffer beyond this), and short enough that a
    // Stop or a Pause is heard at once.
    const auto ahead = static_cast<std::uint64_t>(deviceRate * kFillAheadSeconds);
    i.fillAhead = std::max<std::uint64_t>(512, (ahead + 255) / 256 * 256);
    i.deviceFrames = static_cast<std::uint64_t>(std::max(0.0, i.device->outputLatency()) * deviceRate);
    i.sizeRing();
    i.deviceName = Ref<String>::adopt(String::create(i.device->name()));
    i.loop->addSource(i.source);
    *out = static_cast<AudioQueue*>(q->retain());
    return kNoErr;
}

OSStatus AudioQueue::allocateBuffer(std::uint32_t bytes, AudioQueueBuffer** out) {
    if (!out) return kParameterError;
    *out = nullptr;
    if (impl_->disposed) return kAudioQueueErr_Disposed;
    if (bytes == 0 || bytes % (4 * impl_->channels) != 0) return kAudioQueueErr_InvalidBuffer;
    auto block = std::make_unique<float[]>(bytes / 4);
    auto b = std::make_unique<AudioQueueBuffer>();
    b->mAudioDataBytesCapacity = bytes;
    b->mAudioData = block.get();
    *out = b.get();
    const auto frames = static_cast<std::uint64_t>(std::ceil(bytes / (4.0 * impl_->channels) * impl_->ratio));
    // The ring holds at least three of the owner's buffers, so that one can
    // go in while the device plays the others (resized only before it runs).
    if (!impl_->started && impl_->fillAhead < 3 * frames) {
        impl_->fillAhead = 3 * frames;
        impl_->sizeRing();
    }
    impl_->wakeFrames.store(std::min<std::uint64_t>(std::max<std::uint64_t>(frames, 1), impl_->ringFrames / 2));
    impl_->blocks.push_back(std::move(block));
    impl_->buffers.push_back(std::move(b));
    return kNoErr;
}

OSStatus AudioQueue::enqueueBuffer(AudioQueueBuffer* buffer) {
    Impl& i = *impl_;
    if (i.disposed) return kAudioQueueErr_Disposed;
    const bool ours = std::any_of(i.buffers.begin(), i.buffers.end(), [&](auto& b) { return b.get() == buffer; });
    if (!ours || buffer->mAudioDataByteSize > buffer->mAudioDataBytesCapacity ||
        buffer->mAudioDataByteSize % (4 * i.channels) != 0)
        return kAudioQueueErr_InvalidBuffer;
    i.queued.emplace_back(buffer, buffer->mAudioDataByteSize);
    // Taken on the loop's next turn: the owner writes the samples after this call.
    i.source->signal();
    i.loop->wakeUp();
    return kNoErr;
}

OSStatus AudioQueue::start() {
    Impl& i = *impl_;
    if (i.disposed) return kAudioQueueErr_Disposed;
    i.started = true;
    i.draining.store(false);
    // After a stop that played out, the owner's frames and the ring's agree anew.
    if (i.written.load() == i.read.load()) {
        i.ringBase = i.written.load();
        i.pumpedBase = i.pumpedFrames;
    }
    // A device that starts fills its own buffer at once: preroll that much
    // more, so that its first burst does not run the ring dry. So does a
    // server whose buffer has played out.
    const bool drained = i.device->emptiesWhenDrained() && !i.playing.load() && i.written.load() == i.read.load();
    if ((!i.deviceRunning || drained) && i.deviceFrames > 0) {
        i.startBurstLeft.store(static_cast<std::int64_t>(i.deviceFrames));
        i.target.store(i.ringFrames);
    }
    i.pump(); // what was primed goes into the ring first
    i.playing.store(true, std::memory_order_release);
    i.resting = false;
    if (!i.device->start()) {
        i.playing.store(false);
        return kAudioQueueErr_CannotStart;
    }
    i.deviceRunning = true;
    i.reportRunning();
    return kNoErr;
}

OSStatus AudioQueue::stop(bool immediate) {
    Impl& i = *impl_;
    if (i.disposed) return kAudioQueueErr_Disposed;
    if (immediate) {
        i.playing.store(false, std::memory_order_release);
        i.queued.clear();
        i.started = false;
    } else {
        i.finishConversion();
        i.draining.store(true, std::memory_order_release);
        if (i.written.load() == i.read.load()) i.playing.store(false, std::memory_order_release);
        if (i.device) i.device->drain();
    }
    i.reportRunning();
    return kNoErr;
}

void AudioQueue::rest() {
    Impl& i = *impl_;
    if (i.disposed || i.resting || i.playing.load(std::memory_order_acquire)) return;
    i.device->stop();
    i.resting = true;
    i.deviceRunning = false;
}

bool AudioQueue::isResting() const {
    return impl_->resting.load();
}

bool AudioQueue::deviceIsAlive(std::string& reason) const {
    return impl_->disposed || !impl_->device || impl_->device->isAlive(reason);
}

void AudioQueue::settleDevice() const {
    if (impl_->device) impl_->device->settle();
}

double AudioQueue::deviceLatency() const {
    return impl_->device ? impl_->device->latencyNow() : 0.0;
}

std::uint64_t AudioQueue::framesHeard() const {
    const Impl& i = *impl_;
    if (!i.device) return 0; // a closed device holds nothing
    // The ring's frames handed to the device, less those it still holds.
    const double rate = i.device->sampleRate();
    const double taken = static_cast<double>(i.read.load(std::memory_order_acquire));
    const auto ringBase = static_cast<double>(i.ringBase.load());
    const double ringHeard = std::max(ringBase, taken - i.device->latencyNow() * rate);
    const double heard = static_cast<double>(i.pumpedBase.load()) + (ringHeard - ringBase) / i.ratio;
    return static_cast<std::uint64_t>(std::max(0.0, heard));
}

void AudioQueue::setMediaName(const std::string& name) {
    if (impl_->device && !impl_->disposed) impl_->device->setMediaName(name);
}

std::string AudioQueue::deviceDescription() const {
    return impl_->device ? impl_->device->name() : std::string();
}

std::string AudioQueue::lastError() {
    return lastOpenError();
}

OSStatus AudioQueue::flush() {
    return impl_->disposed ? kAudioQueueErr_Disposed : kNoErr;
}

OSStatus AudioQueue::dispose(bool) {
    Impl& i = *impl_;
    if (i.disposed) return kNoErr;
    i.playing.store(false, std::memory_order_release);
    if (i.device) i.device->close(); // no device call after this
    i.disposed = true;
    if (i.alive) i.alive->store(nullptr);
    i.queued.clear();
    if (i.loop) {
        if (i.loop->isCurrent()) {
            i.loop->removeSource(i.source);
        } else {
            auto loop = i.loop;
            auto source = i.source;
            loop->perform([loop, source] { loop->removeSource(source); });
        }
    }
    i.reportRunning();
    return kNoErr;
}

OSStatus AudioQueue::setParameter(std::uint32_t parameter, float value) {
    if (impl_->disposed) return kAudioQueueErr_Disposed;
    if (parameter != kAudioQueueParam_Volume) return kAudioQueueErr_InvalidParameter;
    impl_->volume.store(std::clamp(value, 0.0f, 1.0f));
    return kNoErr;
}

OSStatus AudioQueue::setProperty(std::uint32_t id, const void* data, std::uint32_t size) {
    if (impl_->disposed) return kAudioQueueErr_Disposed;
    if (id != kAudioQueueProperty_ChannelLayout) return kAudioQueueErr_InvalidProperty;
    if (!data || size < sizeof(AudioChannelLayoutHeader)) return kAudioQueueErr_InvalidPropertySize;
    return kNoErr; // the device takes channels in order; the layout adds nothing here
}

OSStatus AudioQueue::getProperty(std::uint32_t id, void* data, std::uint32_t* ioSize) const {
    if (!data || !ioSize) return kParameterError;
    auto put = [&](const auto& value) {
        if (*ioSize < sizeof value) return kAudioQueueErr_InvalidPropertySize;
        std::memcpy(data, &value, sizeof value);
        *ioSize = sizeof value;
        return kNoErr;
    };
    switch (id) {
    case kAudioQueueProperty_IsRunning:
        return put(std::uint32_t(isRunning() ? 1 : 0));
    case kAudioQueueDeviceProperty_SampleRate:
        return put(impl_->device ? impl_->device->sampleRate() : 0.0);
    case kAudioQueueDeviceProperty_NumberChannels:
        return put(std::uint32_t(impl_->channels));
    case kAudioQueueProperty_CurrentDevice:
        return put(static_cast<const void*>(impl_->deviceName.get()));
    case kAudioQueueProperty_MagicCookie:
        return put(static_cast<const void*>(nullptr));
    default:
        return kAudioQueueErr_InvalidProperty;
    }
}

OSStatus AudioQueue::addPropertyListener(std::uint32_t id, AudioQueuePropertyListenerProc proc, void* userData) {
    if (!proc) return kParameterError;
    if (impl_->disposed) return kAudioQueueErr_Disposed;
    switch (id) {
    case kAudioQueueProperty_IsRunning:
    case kAudioQueueDeviceProperty_SampleRate:
    case kAudioQueueDeviceProperty_NumberChannels:
    case kAudioQueueProperty_CurrentDevice:
    case kAudioQueueProperty_MagicCookie:
        break;
    default:
        return kAudioQueueErr_InvalidProperty;
    }
    impl_->listeners.push_back({id, proc, userData});
    return kNoErr;
}

OSStatus AudioQueue::removePropertyListener(std::uint32_t id, AudioQueuePropertyListenerProc proc, void* userData) {
    auto& l = impl_->listeners;
    auto it = std::find_if(l.begin(), l.end(), [&](const Impl::Listener& x) {
        return x.id == id && x.proc == proc && x.userData == userData;
    });
    if (it == l.end()) return kAudioQueueErr_InvalidProperty;
    l.erase(it);
    return kNoErr;
}

std::uint64_t AudioQueue::underruns() const {
    return impl_->underruns.load();
}
std::uint64_t AudioQueue::framesConsumed() const {
    return impl_->consumed.load();
}
std::uint64_t AudioQueue::framesRead() const {
    return impl_->read.load();
}
std::uint64_t AudioQueue::framesWritten() const {
    return impl_->written.load();
}
const char* AudioQueue::backend() const {
    return impl_->backend.c_str();
}
bool AudioQueue::isRunning() const {
    return impl_->playing.load(std::memory_order_acquire);
}

} // namespace platform::audio

namespace platform::audio {

std::vector<std::string> outputDeviceNames() {
    if (chosenBackend() == "pulse") {
        std::vector<std::string> names;
        for (const SoundServerSink& s : soundServerSinks())
            names.push_back(s.description);
        return names;
    }
    return portAudioDeviceNames();
}

void setPreferredOutputDevice(const std::string& name) {
    std::lock_guard<std::mutex> g(preferenceLock());
    gPreferred = name;
}

std::string preferredOutputDevice() {
    std::lock_guard<std::mutex> g(preferenceLock());
    return gPreferred;
}

const char* audioOutputLibraryVersion() {
    static const std::string text =
        std::string("libpulse ") + soundServerLibraryVersion() + "\n" + portAudioLibraryVersion();
    return text.c_str();
}

} // namespace platform::audio
