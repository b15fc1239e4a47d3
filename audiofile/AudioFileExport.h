// Writes a document's samples as a new WAV or AIFF file: 16- or 32-bit
// signed integers (clipped) or 32-bit float (unchanged), for any channel
// count the store holds; or as a FLAC, Ogg Vorbis, Opus or MP3 stream with
// the source's tags (a stream the format cannot hold, by its rate or
// channels, is refused before anything is written, saying why); or, for a
// save, in the source's own container and encoding (kSourceEncoding).
//
// The samples are converted and written a chunk at a time, so an export adds
// a few megabytes to the program's memory whatever the document's length.
// WAV files of more than two channels use the extensible format with a
// speaker mask, float ones an 18-byte format chunk; WAV data past what a RIFF header can
// count is written as RF64. AIFF cannot count that far, and such an export
// is refused before anything is written.
//
// The file is written beside the destination under a temporary name and
// renamed over it only once everything succeeded, so a failed or cancelled
// export never destroys or truncates an existing file. A symbolic link at
// the destination stays and its target is written; an overwritten file keeps
// its mode (and, where the process may, its owner and group); a new file gets
// 0666 less the umask. Messages go to standard output.
//
// Markers, when given, are written after the samples: in a WAV file as cue
// points with their names as labels and regions' lengths as 'ltxt' entries,
// in an AIFF file (which has no regions) as markers, a region as its start,
// in a CAF file as markers and regions with their names; encoded streams
// and Wave64 files hold none.
// What the file cannot hold is left out and counted: positions at or past
// the last frame, or past 2^32 - 1, and more than 100,000 markers (32,767
// in AIFF). A file without markers is written exactly as it always was.
#pragma once

#include "platform/base/AudioTypes.h"
#include "platform/soundfile/AudioFileWriter.h"
#include "processing/Dither.h"
#include "processing/Resampler.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace platform {
class URL;
}

namespace ZQ {

class AudioFileDocumentSampleData;
class AudioFileInformationData;
class MarkerList;

namespace AudioFileExport {

// Sample-format codes.
inline constexpr int kInteger16 = 102;
inline constexpr int kInteger24 = 103; // what a save of a 24-bit file writes
inline constexpr int kInteger32 = 104;
inline constexpr int kFloat32 = 201;
// Encoded streams: FLAC of 16 or 24 bits (clipped as the integer formats
// are), Ogg Vorbis, Opus and MP3 (given the samples as 32-bit floats).
inline constexpr int kFlac16 = 316;
inline constexpr int kFlac24 = 324;
inline constexpr int kVorbis = 401;
inline constexpr int kOpus = 402;
inline constexpr int kMp3 = 403;
// The source's own container (the `type` an export is given) and encoding,
// as Save writes a file that none of the codes above describes (8-bit and
// 64-bit samples, codecs in WAV, AIFF and CAF, CAF and Wave64 files):
// libsndfile encodes it from the samples.
inline constexpr int kSourceEncoding = 900;
bool isEncoded(int code);
// The container an export of `code` writes (`plain` for WAV and AIFF codes).
platform::audio::FourCharCode containerFor(int code, platform::audio::FourCharCode plain);

// Frames converted and written at a time.
inline constexpr std::uint32_t kChunkFrames = 65536;
// "Clipped audio file" lines printed before the rest are only counted.
inline constexpr std::uint64_t kClipLinesShown = 100;
// Sample bytes a RIFF or AIFF header can count, less room for the header's
// own chunks.
inline constexpr std::uint64_t kLargestPlainDataBytes = 0xFFFFFFFFull - 65536;

// How far an export has got, and a way to stop it (any thread).
struct Progress {
    std::atomic<std::uint64_t> framesWritten{0};
    std::atomic<std::uint64_t> totalFrames{0};
    std::atomic<bool> cancelled{false};
    void cancel() { cancelled.store(true); }
    // 0 ... 1.
    double fraction() const;
};

// What an export did besides writing the file.
struct Outcome {
    std::uint64_t clippedSamples = 0;
    bool cancelled = false;
    // The container written: WAVE, RF64 or AIFF.
    platform::audio::FourCharCode container = 0;
    // Markers (and regions) written, and those the file could not hold.
    std::uint64_t markersWritten = 0;
    std::uint64_t markersLeftOut = 0;
};

// What a conversion does to the samples on their way, in this order: a
// gain, a new rate (the whole stream through one resampler, to the exact
// length; markers move with the frames they point at), and the dither of
// a requantisation to integers (a sample already on the new grid is
// written unchanged; clipping is counted as ever).
struct Conversion {
    double gain = 1.0;
    double rate = 0; // 0: the source's
    Resampler::Quality quality = Resampler::Quality::VeryHigh;
    Requantizer::Dither dither = Requantizer::Dither::None;
    bool changesSamples() const { return gain != 1.0 || rate > 0; }
};

// False when nothing was written; `reason`, when given, then says why in
// words for the user (empty after a cancel).
bool write(AudioFileDocumentSampleData* store, const platform::URL* url, platform::audio::FourCharCode type, int code,
           std::string* reason = nullptr, Progress* progress = nullptr, Outcome* outcome = nullptr,
           const MarkerList* markers = nullptr, const platform::audio::EncoderSettings* encoder = nullptr,
           const Conversion* conversion = nullptr);

// The conversions, one sample at a time (`clipped` set when the value was
// limited).
std::int16_t toInteger16(double x, bool& clipped);
std::int32_t toInteger24(double x, bool& clipped);
std::int32_t toInteger32(double x, bool& clipped);

// The WAVE speaker mask for `channels`: the source's own layout when it
// names one speaker per channel, otherwise the usual one for the count
// (quad, 5.1, 7.1; front centre for mono, left and right for stereo), or 0.
std::uint32_t channelMask(const AudioFileInformationData* information, int channels);
// The source's own speaker mask only (0 when it names none, or not one
// speaker per channel).
std::uint32_t ownChannelMask(const AudioFileInformationData* information, int channels);
std::uint32_t standardChannelMask(int channels);

// The note a window shows after an export that clipped `count` samples:
// "1,234 samples were clipped to full scale".
std::string clippedNote(std::uint64_t count);
// And after one that left out markers: "3 markers were left out: the file
// cannot hold them" (the format holds none, or they lie past its reach).
std::string markersLeftOutNote(std::uint64_t count);

// The sample-byte count above which WAV becomes RF64 and AIFF is refused;
// tests lower it to try large exports on small documents (0 restores it).
void setLargeDataThresholdForTesting(std::uint64_t bytes);
// A pause after every chunk, so that tests can watch (and cancel) a long
// export on a short document (0 for none).
void setChunkPauseForTesting(std::chrono::microseconds pause);

} // namespace AudioFileExport
} // namespace ZQ
