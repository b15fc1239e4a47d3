// The audio output queue: a format (interleaved 32-bit float, 1 or 2
// channels, 8000 ... 384000 Hz), buffers the owner fills and enqueues, and an
// output callback that hands each buffer back on the owner's run loop once
// its samples are on their way to the device. Start, stop (at once or after
// what is queued), flush, dispose, volume, and five properties with
// listeners.
//
// Backends, chosen by the environment variable ZQ_AUDIO_OUTPUT:
//   (unset)              pulse when a sound server answers, else portaudio
//   pulse                the desktop's sound server (PulseAudio, or PipeWire's
//                        Pulse service): a stream of its own, corked while
//                        nothing plays, its timing the server's
//   portaudio            the real output device through PortAudio (ALSA,
//                        JACK); without one, newOutput fails (lastError says
//                        why) and a later call looks again
//   null                 a clock thread that consumes at the real rate
//   capture:PATH         as null, and every frame that would have been played
//                        is written to a 32-bit float WAV file at PATH, whose
//                        header is kept up to date so it can be read while it
//                        grows (a second queue of the process on the same
//                        PATH adds ".2", a third ".3", before the extension)
//
// The device side never allocates, never takes a lock and never calls the
// owner: it reads from a lock-free ring that the owner's thread fills, and
// wakes that thread (lock-free) whenever a buffer's worth of room is free.
// All other members are called on the owner's run-loop thread.
#pragma once

#include "platform/base/AudioTypes.h"
#include "platform/base/Object.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class RunLoop;
}

namespace platform::audio {

struct AudioQueueBuffer {
    std::uint32_t mAudioDataBytesCapacity = 0;
    void* mAudioData = nullptr;
    std::uint32_t mAudioDataByteSize = 0;
};

class AudioQueue;
using AudioQueueOutputCallback = void (*)(void* userData, AudioQueue* queue, AudioQueueBuffer* buffer);
using AudioQueuePropertyListenerProc = void (*)(void* userData, AudioQueue* queue, std::uint32_t propertyID);

inline constexpr std::uint32_t kAudioQueueProperty_IsRunning = fourcc("aqrn");
inline constexpr std::uint32_t kAudioQueueDeviceProperty_SampleRate = fourcc("aqsr");
inline constexpr std::uint32_t kAudioQueueDeviceProperty_NumberChannels = fourcc("aqdc");
inline constexpr std::uint32_t kAudioQueueProperty_CurrentDevice = fourcc("aqcd");
inline constexpr std::uint32_t kAudioQueueProperty_MagicCookie = fourcc("aqmc");
inline constexpr std::uint32_t kAudioQueueProperty_ChannelLayout = fourcc("aqcl");
inline constexpr std::uint32_t kAudioQueueParam_Volume = 1;

inline constexpr OSStatus kAudioQueueErr_InvalidBuffer = -66687;
inline constexpr OSStatus kAudioQueueErr_InvalidProperty = -66683;
inline constexpr OSStatus kAudioQueueErr_InvalidPropertySize = -66684;
inline constexpr OSStatus kAudioQueueErr_InvalidParameter = -66682;
inline constexpr OSStatus kAudioQueueErr_Disposed = -66686;
inline constexpr OSStatus kAudioFormatUnsupportedDataFormatError = static_cast<OSStatus>(fourcc("fmt?"));
inline constexpr OSStatus kAudioQueueErr_CannotStart = -66681;

// How far the queue's ring runs ahead of the device, in seconds.
inline constexpr double kFillAheadSeconds = 0.04;

class AudioQueue final : public Object {
public:
    // A queue for `format` whose callbacks run on `loop` (the calling thread's
    // loop when null). 0 with *out set (+1), or an error code.
    static OSStatus newOutput(const AudioStreamBasicDescription& format, AudioQueueOutputCallback callback,
                              void* userData, RunLoop* loop, AudioQueue** out);

    OSStatus allocateBuffer(std::uint32_t bytes, AudioQueueBuffer** out);
    // The buffer plays mAudioDataByteSize bytes as they are now; the bytes
    // themselves are taken when the queue next turns (after the current
    // callback has returned), so they may be written after this call.
    OSStatus enqueueBuffer(AudioQueueBuffer* buffer);
    OSStatus start();
    // Immediately (what is queued is dropped) or once what is queued has played.
    OSStatus stop(bool immediate);
    OSStatus flush();
    // While nothing plays: the device underneath stops until the next start
    // (no callbacks, no cost); the queue itself stays as it is.
    void rest();
    bool isResting() const;
    // False, with the reason, once the device has failed while started (an
    // error, a stream that ended by itself, a sound server that went away).
    bool deviceIsAlive(std::string& reason) const;
    // Returns once what the device has taken is where it goes (a capture
    // file written); any thread.
    void settleDevice() const;
    // The device's output latency in seconds, as it reports it now (0 when
    // it reports none); any thread.
    double deviceLatency() const;
    // How many of the owner's frames have been heard: those the device has
    // taken less those it still holds (its latency now); any thread.
    std::uint64_t framesHeard() const;
    // What the desktop's mixer shows for the sound (a file's name).
    void setMediaName(const std::string& name);
    // What the device plays on now, in the user's words (a sink's
    // description, a device's name); it may change while playing when the
    // desktop moves the sound.
    std::string deviceDescription() const;
    // Why the last newOutput of this thread failed to open a device.
    static std::string lastError();
    OSStatus dispose(bool immediate);
    OSStatus setParameter(std::uint32_t parameter, float value);

    // Channel layout only (a 12-byte header or longer).
    OSStatus setProperty(std::uint32_t id, const void* data, std::uint32_t size);
    // Is running (4), device sample rate (8, double), device channel count (4),
    // current device (8, a String* owned by the queue), magic cookie (8, null).
    OSStatus getProperty(std::uint32_t id, void* data, std::uint32_t* ioSize) const;
    OSStatus addPropertyListener(std::uint32_t id, AudioQueuePropertyListenerProc proc, void* userData);
    OSStatus removePropertyListener(std::uint32_t id, AudioQueuePropertyListenerProc proc, void* userData);

    // Times the device needed samples the ring did not have.
    std::uint64_t underruns() const;
    // Frames the device has taken so far, and frames put in its ring so far
    // (any thread).
    std::uint64_t framesConsumed() const;
    std::uint64_t framesWritten() const;
    // Frames the device has taken out of the ring (of those written).
    std::uint64_t framesRead() const;
    // "pulse", "portaudio", "null" or "capture".
    const char* backend() const;
    bool isRunning() const;

    const char* kindName() const override { return "AudioQueue"; }

    struct Impl;

private:
    AudioQueue();
    ~AudioQueue() override;
    Impl* impl_;
};

// The output devices the user can choose from: the sound server's sinks by
// their descriptions when a server answers (kept up to date as they come and
// go), else the devices PortAudio offers.
std::vector<std::string> outputDeviceNames();
// The device new outputs open, one of those names ("" for the system
// default, which follows the server's default sink). A device that is
// missing when an output opens falls back to the default with a one-line
// notice.
void setPreferredOutputDevice(const std::string& name);
std::string preferredOutputDevice();

// The version texts of the audio output libraries.
const char* audioOutputLibraryVersion();

} // namespace platform::audio
