// Turns one audio file into a block of samples: open, check the container
// type, fill the information record, and serve the samples from the file
// itself, or from a temporary file of floats decoded from it once.
//
// Messages go to the log (platform::log), standard output or standard error
// as each step says. Any thread; one file per call.
#pragma once

#include "audiofile/AudioFileInformation.h"
#include "audiofile/SampleBlock.h"
#include "platform/base/AudioTypes.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
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
    std::atomic<bool> cancelRequested{false};
    std::atomic<std::uint64_t> framesDone{0};
    std::atomic<std::uint64_t> framesTotal{0}; // 0 until the length is known

    // The file is told by its content alone, whatever its name says (the
    // tools read files without an extension); set before the read.
    bool byContent = false;

    // Set by the reader once it has returned.
    bool cancelled = false;
    // Whether the samples are decoded into a temporary file (else read in place).
    bool decoded = false;
    // Why the file was refused before decoding ("needs 9.3 GB of disk space
    // in /home/ann/.cache/ZQAudio; 2.1 GB are available"); empty otherwise.
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

// The most channels a document holds; a file with more is refused, saying so.
inline constexpr std::uint32_t kMaxDocumentChannels = 64;

// Frames decoded per read: bounded in bytes for files of many channels.
std::uint32_t decodeChunkFrames(std::uint32_t channels);
inline constexpr std::uint32_t kDecodeChunkFrames = 8192;

// The memory a new block of samples may take: the system's available memory (and
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

// The folder of the temporary files that decoded samples are kept in
// ($XDG_CACHE_HOME/ZQAudio, else ~/.cache/ZQAudio; made when missing).
std::string decodeCacheFolder();
// A test's stand-in for the free space there; 0 restores the real figure.
void setAvailableDiskForTesting(std::uint64_t bytes);
// The free space in `folder`, or the figure a test set.
std::uint64_t availableDiskBytes(const std::string& folder);
// A file in `folder` nobody can see or leave behind: unnamed where the
// system allows it, otherwise removed as soon as it is made; -1 (errno set)
// when it cannot be made.
int unnamedTemporaryFile(const std::string& folder);
// Writes all `bytes` to `fd` (again after an interruption); false, errno
// set, when the disk refuses them.
bool writeAllBytes(int fd, const void* data, std::size_t bytes);

// Opens the file `url` names: fills the information record and gives its
// samples as one block, read where they lie when the encoding is plain PCM
// or float (checked against the decoder on the first and last frames), and
// otherwise decoded once, a chunk at a time, into a temporary 32-bit float
// file in decodeCacheFolder() that is gone as soon as nothing maps it (it
// never has a name, so a crash leaves none behind). Writes the file's
// channel count to channelCountOut. `control` (optional) reports the
// decode's progress and can cancel it; a refusal for want of disk space
// says why in control->refusal.
bool openAudioFileSamples(const platform::URL* url, AudioFileInformation& information,
                          std::shared_ptr<SampleBlock>& block, std::int32_t& channelCountOut,
                          DecodeControl* control = nullptr);

// WAVE (RIFF, RF64, BW64), Wave64, AIFF, Sound Designer II, CAF, FLAC, Ogg
// and MPEG audio files with an extension of 1 to 8 characters; nothing else.
bool isSupportedAudioFile(const std::string* path, ExtAudioFile* reference, bool byContent = false);

} // namespace ZQ
