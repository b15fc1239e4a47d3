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
    // Rests: no call of the client until the next start (the device's own
    // stream stops, so that an idle program costs nothing).
    virtual void stop() = 0;
    // Ends for good; no call of the client follows its return.
    virtual void close() = 0;
    // False, with the reason, once the device has failed while started: an
    // error, a stream that stopped by itself, or no frames taken for a
    // second (a sound server that went away).
    virtual bool isAlive(std::string& reason) const = 0;
    virtual double sampleRate() const = 0;
    // Returns once what the device has taken from the client is wherever the
    // device puts it (the capture file written); any thread.
    virtual void settle() {}
    // Seconds from a frame leaving the client to its being heard, as the
    // device reports it (0 when it has none).
    virtual double outputLatency() const { return 0; }
    virtual std::string name() const = 0;
};

// A client whose frames are converted from one rate to another on their way
// to a device (libsoxr, high quality).
class ConvertingClient : public DeviceClient {
public:
    virtual ~ConvertingClient() = default;
};
std::unique_ptr<ConvertingClient> makeRateConverter(DeviceClient& source, double from, double to, unsigned channels,
                                                    std::string& error);

// A thread that takes frames at the real rate; with a capture path, it also
// writes them to a 32-bit float WAV file there (empty error text on success).
std::unique_ptr<Device> makeClockDevice(DeviceClient& client, double rate, unsigned channels,
                                        const std::string& capturePath, std::string& error);
// The chosen output device through PortAudio (see setPreferredOutputDevice;
// the system default otherwise); null (with the reason) when there is none or
// it cannot be opened. A device that refuses `rate` sets *refusedRate to the
// rate it would play at instead (0 otherwise).
std::unique_ptr<Device> makePortAudioDevice(DeviceClient& client, double rate, unsigned channels, std::string& error,
                                            double* refusedRate = nullptr);

} // namespace platform::audio
