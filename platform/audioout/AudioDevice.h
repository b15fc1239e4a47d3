// The device side of the audio output queue (private to the platform
// library): what a backend needs from the queue, and the backends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::audio {

// Implemented by the queue. Real-time safe: no allocation, no locks.
class DeviceClient {
public:
    // Fills `frames` frames of interleaved float: the ring's samples, then
    // silence (counted as an underrun while playing).
    virtual void render(float* out, std::uint64_t frames) = 0;
    // Up to `frames` frames of the ring, never silence: how many it took
    // (none unless playing). For a device that does its own timing.
    virtual std::uint64_t take(float* out, std::uint64_t frames) = 0;
    virtual bool isPlaying() const = 0;
    // Such a device ran dry while playing (counted as an underrun).
    virtual void deviceRanDry() = 0;

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
    // device reports it when it opens (0 when it has none).
    virtual double outputLatency() const { return 0; }
    // The same at this moment (a sound server's timing); any thread.
    virtual double latencyNow() const { return outputLatency(); }
    // What the device plays on now: a sink's description, a device's name.
    virtual std::string name() const = 0;
    // The client's ring has new frames (the queue's thread, after it filled it).
    virtual void kick() {}
    // No frames follow for now: what was taken plays out in full.
    virtual void drain() {}
    // What the desktop's mixer calls the sound (a file's name).
    virtual void setMediaName(const std::string&) {}
    // Whether the device's own buffer holds only frames it was given, so that
    // once they have played out it is empty (a sound server), rather than
    // filled with silence of its own while nothing plays.
    virtual bool emptiesWhenDrained() const { return false; }
};

// Frames on their way from one rate to another (libsoxr, high quality), on
// the queue's thread: the device only copies.
class RateConverter {
public:
    virtual ~RateConverter() = default;
    // Appends what `frames` interleaved frames give at the new rate.
    virtual void convert(const float* in, std::uint64_t frames, std::vector<float>& out) = 0;
    // Appends the frames the filter still holds; the next convert starts afresh.
    virtual void finish(std::vector<float>& out) = 0;
};
std::unique_ptr<RateConverter> makeRateConverter(double from, double to, unsigned channels, std::string& error);

// A thread that takes frames at the real rate; with a capture path, it also
// writes them to a 32-bit float WAV file there (empty error text on success).
std::unique_ptr<Device> makeClockDevice(DeviceClient& client, double rate, unsigned channels,
                                        const std::string& capturePath, std::string& error);
// The output device of that name through PortAudio ("" or a missing one:
// the system default); null (with the reason) when there is none or it
// cannot be opened. A device that refuses `rate` sets *refusedRate to the
// rate it would play at instead (0 otherwise).
std::unique_ptr<Device> makePortAudioDevice(DeviceClient& client, double rate, unsigned channels,
                                            const std::string& preferred, std::string& error,
                                            double* refusedRate = nullptr);

// The desktop's sound server (PulseAudio, or PipeWire's Pulse service): a
// stream at `rate` on the sink of that name ("" for the server's default,
// followed when it changes), made corked; null (with the reason) when no
// server answers or it refuses the stream.
std::unique_ptr<Device> makePulseDevice(DeviceClient& client, double rate, unsigned channels,
                                        const std::string& sinkName, const std::string& mediaName, std::string& error);
// Whether a sound server answers (it is connected to, once, for the process).
bool soundServerAnswers();
struct SoundServerSink {
    std::string name;        // the server's
    std::string description; // the user's: "Built-in Audio Analog Stereo"
};
// The server's sinks as it last told them, and the default one's name.
std::vector<SoundServerSink> soundServerSinks(std::string* defaultSink = nullptr);
const char* soundServerLibraryVersion();
// The chosen output device is missing, the default plays instead: said on
// standard error, once for each name.
void noteMissingOutputDevice(const std::string& name);
// PortAudio's output devices by name (looked for afresh when no device is open).
std::vector<std::string> portAudioDeviceNames();
const char* portAudioLibraryVersion();

} // namespace platform::audio
