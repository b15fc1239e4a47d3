// The real output device through PortAudio (the one file that includes it).
#include "platform/audioout/AudioDevice.h"
#include "platform/audioout/AudioQueue.h"

#include <fcntl.h>
#include <mutex>
#include <portaudio.h>
#include <unistd.h>

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

// PortAudio is set up once per process and kept (it must not be torn down
// while a stream of another queue runs).
bool portAudioReady(std::string& error) {
    static std::once_flag once;
    static PaError result = paNoError;
    std::call_once(once, [] {
        QuietStandardError quiet;
        result = Pa_Initialize();
    });
    if (result != paNoError) error = Pa_GetErrorText(result);
    return result == paNoError;
}

class PortAudioDevice final : public Device {
public:
    PortAudioDevice(DeviceClient& client, unsigned channels) : client_(client), channels_(channels) {}
    ~PortAudioDevice() override { close(); }

    bool open(double rate, std::string& error) {
        const PaDeviceIndex index = Pa_GetDefaultOutputDevice();
        if (index == paNoDevice) {
            error = "no audio output device";
            return false;
        }
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        PaStreamParameters out{};
        out.device = index;
        out.channelCount = static_cast<int>(channels_);
        out.sampleFormat = paFloat32;
        out.suggestedLatency = info ? info->defaultLowOutputLatency : 0.05;
        PaError r;
        {
            QuietStandardError quiet;
            r = Pa_OpenStream(&stream_, nullptr, &out, rate, paFramesPerBufferUnspecified, paNoFlag,
                              &PortAudioDevice::callback, this);
        }
        if (r != paNoError) {
            error = Pa_GetErrorText(r);
            stream_ = nullptr;
            return false;
        }
        name_ = info && info->name ? info->name : "default";
        const PaStreamInfo* s = Pa_GetStreamInfo(stream_);
        rate_ = s ? s->sampleRate : rate;
        return true;
    }
    bool start() override {
        if (!stream_) return false;
        if (Pa_IsStreamActive(stream_) == 1) return true;
        return Pa_StartStream(stream_) == paNoError;
    }
    void close() override {
        if (!stream_) return;
        Pa_StopStream(stream_);
        Pa_CloseStream(stream_);
        stream_ = nullptr;
    }
    double sampleRate() const override { return rate_; }
    std::string name() const override { return name_; }

private:
    // PortAudio's real-time thread: only the client's lock-free render.
    static int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<PortAudioDevice*>(user);
        self->client_.render(static_cast<float*>(output), frames);
        return paContinue;
    }

    DeviceClient& client_;
    unsigned channels_;
    PaStream* stream_ = nullptr;
    double rate_ = 0;
    std::string name_;
};

} // namespace

std::unique_ptr<Device> makePortAudioDevice(DeviceClient& client, double rate, unsigned channels, std::string& error) {
    if (!portAudioReady(error)) return nullptr;
    auto device = std::make_unique<PortAudioDevice>(client, channels);
    if (!device->open(rate, error)) return nullptr;
    return device;
}

const char* audioOutputLibraryVersion() {
    return Pa_GetVersionText();
}

} // namespace platform::audio
