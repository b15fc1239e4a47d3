// The device side of the audio output queue (private to the platform
// library): what a backend needs from the queue, and the backends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform::audio {

// Implemented by the queue. Real-time safe: no allocation, no locks.
class DeviceClient {
public:
    // Fills `frames` frames of interleaved float: the ring's samples, then
    // silence (counted as an underrun while playing).
    virtual void render(float* out, std::uint64_t frames) = 0;
    virtual bool isPlaying() const = 0;

protected:
    ~DeviceClient() = default;
};

class Device {
public:
    virtual ~Device() = default;
    // Begins (or resumes) taking frames from the client.
    virtual bool start() = 0;
    // Ends for good; no call of the client follows its return.
    virtual void close() = 0;
    virtual double sampleRate() const = 0;
    virtual std::string name() const = 0;
};

// A thread that takes frames at the real rate; with a capture path, it also
// writes them to a 32-bit float WAV file there (empty error text on success).
std::unique_ptr<Device> makeClockDevice(DeviceClient& client, double rate, unsigned channels,
                                        const std::string& capturePath, std::string& error);
// The default output device through PortAudio; null (with the reason) when
// there is none or it cannot be opened.
std::unique_ptr<Device> makePortAudioDevice(DeviceClient& client, double rate, unsigned channels, std::string& error);

} // namespace platform::audio
