// The real output device through PortAudio (the one file that includes it).
#include "platform/audioout/AudioDevice.h"
#include "platform/audioout/AudioQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <portaudio.h>
#include <unistd.h>
#include <vector>

namespace platform::audio {

namespace {

// While PortAudio looks for devices, ALSA prints dozens of lines on standard
// error on machines without sound: keep them out of the user's way.
class QuietStandardError {
public:
    QuietStandardError() {
        saved_ = ::dup(2);
        const int null = ::open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) ::dup2(null, 2);
        if (null >= 0) ::close(null);
    }
    ~QuietStandardError() {
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }

private:
    int saved_ = -1;
};

// PortAudio is set up once and kept while any device is open, playing or
// not (it must not be torn down under another queue's stream, nor under a
// device index a first Play will use). Its device list is made when it is
// set up, so a device that was missing (a sound server not yet running) is
// looked for again by setting it up anew, which is done only while no device
// is open. Opening, starting, stopping and closing go through this lock too:
// the library is not made for calls from several threads at once (recursive:
// a device that failed to open is let go while it is held).
std::recursive_mutex& portAudioLock() {
    static std::recursive_mutex lock;
    return lock;
}
bool gInitialised = false;
int gOpenDevices = 0;

bool portAudioReadyLocked(bool lookAgain, std::string& error) {
    if (gInitialised && lookAgain && gOpenDevices == 0) {
        Pa_Terminate();
        gInitialised = false;
    }
    if (!gInitialised) {
        QuietStandardError quiet;
        const PaError r = Pa_Initialize();
        if (r != paNoError) {
            error = Pa_GetErrorText(r);
            return false;
        }
        gInitialised = true;
    }
    return true;
}

// The output device of this name, or none.
PaDeviceIndex deviceNamed(const std::string& name) {
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i)
        if (const PaDeviceInfo* info = Pa_GetDeviceInfo(i))
            if (info->maxOutputChannels > 0 && info->name && name == info->name) return i;
    return paNoDevice;
}

// Steady-clock nanoseconds, for the callback's heartbeat (no lock, no call
// that may block).
std::int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The device buffer: tens of milliseconds, so that a busy machine does not
// starve it (the low-latency default of a few milliseconds underruns as soon
// as the callback thread waits for a core).
constexpr double kSuggestedLatency = 0.06;
// A started device that took no frames for this long has gone away.
constexpr std::int64_t kSilentDeviceNanoseconds = 1000000000;
// Except just after it starts: a sound server may take seconds to begin
// taking a new stream (a sink waking from its idle sleep, a Bluetooth
// headset resuming). A server that dies meanwhile is noticed at once all
// the same, by the stream going inactive.
constexpr std::int64_t kStartingDeviceNanoseconds = 5000000000;

// The device's stream is opened at the first start, not before: an open
// stream keeps a sound server's sink awake even before anything plays. The
// open that makes the device tries the stream once and closes it, so that a
// device that cannot play is known at once.
class PortAudioDevice final : public Device {
public:
    PortAudioDevice(DeviceClient& client, unsigned channels) : client_(client), channels_(channels) {}
    ~PortAudioDevice() override { close(); }

    // Under the PortAudio lock.
    bool open(double rate, const std::string& preferred, std::string& error, double* refusedRate) {
        PaDeviceIndex index = preferred.empty() ? paNoDevice : deviceNamed(preferred);
        if (!preferred.empty() && index == paNoDevice) noteMissingOutputDevice(preferred);
        if (index == paNoDevice) index = Pa_GetDefaultOutputDevice();
        if (index == paNoDevice) {
            error = "no audio output device";
            return false;
        }
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        PaStreamParameters out{};
        out.device = index;
        out.channelCount = static_cast<int>(channels_);
        out.sampleFormat = paFloat32;
        out.suggestedLatency = std::max(kSuggestedLatency, info ? info->defaultLowOutputLatency : 0.0);
        PaError r;
        {
            QuietStandardError quiet;
            r = Pa_IsFormatSupported(nullptr, &out, rate);
        }
        if (r == paInvalidSampleRate && info && info->defaultSampleRate > 0 && info->defaultSampleRate != rate) {
            if (refusedRate) *refusedRate = info->defaultSampleRate;
            error = "the device does not play at this rate";
            return false;
        }
        parameters_ = out;
        rate_ = rate;
        if (!openStream(error)) return false;
        name_ = info && info->name ? info->name : "default";
        const PaStreamInfo* s = Pa_GetStreamInfo(stream_);
        rate_ = s ? s->sampleRate : rate;
        latency_ = s ? s->outputLatency : 0;
        closeStream();
        opened_ = true;
        ++gOpenDevices;
        return true;
    }
    bool start() override {
        std::lock_guard<std::recursive_mutex> g(portAudioLock());
        if (!opened_) return false;
        std::string error;
        if (!stream_ && !openStream(error)) {
            std::fprintf(stderr, "Audio output: %s\n", error.c_str());
            return false;
        }
        if (Pa_IsStreamActive(stream_) == 1) return true;
        startedAt_ = nowNanoseconds();
        heartbeat_.store(startedAt_, std::memory_order_relaxed);
        if (Pa_StartStream(stream_) != paNoError) return false;
        started_.store(true, std::memory_order_release);
        return true;
    }
    void stop() override {
        std::lock_guard<std::recursive_mutex> g(portAudioLock());
        if (!stream_ || !started_.load()) return;
        started_.store(false, std::memory_order_release);
        Pa_AbortStream(stream_); // what is left in the device is silence by now
    }
    void close() override {
        std::lock_guard<std::recursive_mutex> g(portAudioLock());
        if (opened_) --gOpenDevices;
        opened_ = false;
        closeStream();
    }
    bool isAlive(std::string& reason) const override {
        if (!started_.load(std::memory_order_acquire)) return true;
        std::lock_guard<std::recursive_mutex> g(portAudioLock());
        if (!stream_ || !started_.load()) return true;
        if (Pa_IsStreamActive(stream_) != 1) {
            reason = "the audio device stopped";
            return false;
        }
        const std::int64_t now = nowNanoseconds();
        const std::int64_t limit =
            now - startedAt_ < kStartingDeviceNanoseconds ? kStartingDeviceNanoseconds : kSilentDeviceNanoseconds;
        if (now - heartbeat_.load(std::memory_order_relaxed) > limit) {
            reason = "the audio device stopped taking sound (the sound server may have gone away)";
            return false;
        }
        return true;
    }
    double sampleRate() const override { return rate_; }
    double outputLatency() const override { return latency_; }
    std::string name() const override { return name_; }

private:
    // Under the PortAudio lock.
    bool openStream(std::string& error) {
        PaError r;
        {
            QuietStandardError quiet;
            r = Pa_OpenStream(&stream_, nullptr, &parameters_, rate_, paFramesPerBufferUnspecified, paNoFlag,
                              &PortAudioDevice::callback, this);
        }
        if (r != paNoError) {
            error = Pa_GetErrorText(r);
            if (r == paUnanticipatedHostError) {
                const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
                if (host && host->errorText && *host->errorText) error += std::string(": ") + host->errorText;
            }
            stream_ = nullptr;
            return false;
        }
        return true;
    }
    void closeStream() {
        if (!stream_) return;
        started_.store(false, std::memory_order_release);
        {
            QuietStandardError quiet; // a stream whose server went away complains
            Pa_AbortStream(stream_);
            Pa_CloseStream(stream_);
        }
        stream_ = nullptr;
    }

    // PortAudio's real-time thread: only the client's lock-free render.
    static int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<PortAudioDevice*>(user);
        self->client_.render(static_cast<float*>(output), frames);
        self->heartbeat_.store(nowNanoseconds(), std::memory_order_relaxed);
        return paContinue;
    }

    DeviceClient& client_;
    unsigned channels_;
    PaStream* stream_ = nullptr;
    PaStreamParameters parameters_{};
    bool opened_ = false;
    double rate_ = 0;
    double latency_ = 0;
    std::string name_;
    std::atomic<bool> started_{false};
    std::atomic<std::int64_t> heartbeat_{0};
    std::int64_t startedAt_ = 0; // under the PortAudio lock
};

} // namespace

std::unique_ptr<Device> makePortAudioDevice(DeviceClient& client, double rate, unsigned channels,
                                            const std::string& preferred, std::string& error, double* refusedRate) {
    std::lock_guard<std::recursive_mutex> g(portAudioLock());
    auto device = std::make_unique<PortAudioDevice>(client, channels);
    // A failure with no stream open may be a device list made before the
    // device (or its server) was there: look once more.
    if (refusedRate) *refusedRate = 0;
    for (const bool lookAgain : {false, true}) {
        if (lookAgain && gOpenDevices != 0) break;
        error.clear();
        if (portAudioReadyLocked(lookAgain, error) && device->open(rate, preferred, error, refusedRate)) return device;
        if (refusedRate && *refusedRate > 0) break;
    }
    return nullptr;
}

std::vector<std::string> portAudioDeviceNames() {
    std::lock_guard<std::recursive_mutex> g(portAudioLock());
    std::string error;
    // A fresh list when no stream holds the library (devices come and go).
    if (!portAudioReadyLocked(true, error)) return {};
    std::vector<std::string> names;
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i)
        if (const PaDeviceInfo* info = Pa_GetDeviceInfo(i))
            if (info->maxOutputChannels > 0 && info->name) names.emplace_back(info->name);
    return names;
}

const char* portAudioLibraryVersion() {
    return Pa_GetVersionText();
}

} // namespace platform::audio
