// Turns one audio file into per-channel double buffers: open, check the
// container type, fill the information record, and decode interleaved
// 32-bit float a bounded chunk at a time straight into the channels, which
// are allocated once at their final size. A long file of an exactly seekable
// encoding is decoded by two workers over the two halves. All or nothing.
//
// Messages go to the log (platform::log), standard output or standard error
// as each step says. Any thread; one file per call.
#pragma once

#include "audiofile/AudioFileInformation.h"
#include "core/buffer.h"
#include "platform/base/AudioTypes.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
class URL;
}

namespace ZQ {

using platform::audio::ExtAudioFile;

// A decode's progress and cancellation, shared between the decode and
// whoever watches it (a progress window, a terminal line). The watcher may
// read the counters and call cancel() from any thread at any time.
struct DecodeControl {
    // Workers to use: 0 lets the reader choose (two for a long file of an
    // exactly seekable encoding, otherwise one); 1 or 2 insists.
    int workers = 0;

    std::atomic<bool> cancelRequested{false};
    std::atomic<std::uint64_t> framesDone{0};
    std::atomic<std::uint64_t> framesTotal{0}; // 0 until the length is known

    // Set by the reader once it has returned.
    bool cancelled = false;
    int workersUsed = 0;
    // Why the file was refused before decoding ("needs 9.3 GB of memory; 6.1
    // GB are available"); empty otherwise.
    std::string refusal;

    void cancel() { cancelRequested.store(true, std::memory_order_relaxed); }
    // 0 ... 1; never goes down.
    double fraction() const {
        const std::uint64_t total = framesTotal.load(std::memory_order_relaxed);
        const std::uint64_t done = framesDone.load(std::memory_order_relaxed);
        return total == 0 ? 0.0 : done >= total ? 1.0 : double(done) / double(total);
    }
};

// The status a cancelled decode returns through the chain (the service's
// "user cancelled"); it is never reported as a failure.
inline constexpr OSStatus kDecodeCancelledError = -128;

// Frames decoded per read: bounded in bytes for files of many channels.
std::uint32_t decodeChunkFrames(std::uint32_t channels);
inline constexpr std::uint32_t kDecodeChunkFrames = 8192;
// From this length on a file of an exactly seekable encoding is decoded by
// two workers (about six seconds at 44.1 kHz).
inline constexpr std::uint64_t kTwoWorkerMinFrames = 1u << 18;

// The memory a new document may take: the system's available memory (and
// the control group's remaining limit, when one is set), or the figure a
// test set.
std::uint64_t availableMemoryBytes();
// A test's stand-in for the available memory; 0 restores the real figure.
void setAvailableMemoryForTesting(std::uint64_t bytes);
// A test's slow disk: every chunk of every decode is followed by this pause
// (0 restores full speed), so that a small file opens for as long as a
// long one would.
void setDecodeChunkPauseForTesting(std::chrono::microseconds pause);
// "9.3 GB", "212 MB": sizes as the refusal names them.
std::string memorySizeText(std::uint64_t bytes);

// Reads the file `url` names into outputs[0 ... limit-1] (channels beyond the
// file's count are emptied, channels beyond the limit are not delivered) and
// writes the file's channel count to channelCountOut. On failure every output
// is emptied. `control` (optional) reports progress and can cancel.
bool readAudioFileSamples(const platform::URL* url, AudioFileInformation& information, SampleBuffer* outputs,
                          std::uint16_t limit, std::int32_t& channelCountOut, DecodeControl* control = nullptr);

// Where a decode delivers: the caller's channel buffers and their limit.
struct DecodeTarget {
    SampleBuffer* outputs = nullptr;
    std::uint16_t limit = 0;
    DecodeControl* control = nullptr;
    std::string path;            // for a second worker's own file handle
    std::uint32_t channels = 0;  // the file's channel count, once known
    std::uint64_t delivered = 0; // frames in every delivered channel
    // Of the memory the check promised this decode, what it has not written yet.
    std::atomic<std::uint64_t> promised{0};
};

// Opens the paths (the program passes one), drops the unsupported ones and
// decodes the first that is left into `target`. references[i] holds path i's
// open file (+1) or null. 0, a service error code, -1, or
// kDecodeCancelledError.
OSStatus openAudioFileList(DecodeTarget& target, const std::string* paths, std::size_t count,
                           ExtAudioFile** references);

// WAVE, AIFF, Sound Designer II and CAF files with an extension of 1 to 8
// characters; nothing else.
bool isSupportedAudioFile(const std::string* path, ExtAudioFile* reference);

// The length checks, the memory check, then the decode.
OSStatus readAllFrames(DecodeTarget& target, ExtAudioFile* reference);
// Sets the float client format and decodes `frames` frames into the target.
OSStatus decodeAllFrames(DecodeTarget& target, ExtAudioFile* reference, std::uint32_t frames);

} // namespace ZQ
