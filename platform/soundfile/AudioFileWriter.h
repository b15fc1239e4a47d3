// Writes WAV and AIFF files from sample words that are already in the file's
// own format and byte order (16- or 32-bit signed integers, 32-bit float), so
// what reaches the disk is exactly what the caller handed over; and FLAC,
// Ogg Vorbis, Opus and MP3 streams from samples the encoder takes in.
// libsndfile writes the headers and drives the encoders.
#pragma once

#include "platform/base/AudioTypes.h"
#include "platform/base/Object.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform::audio {

// How a WAVE file is laid out beyond its sample format.
struct WaveLayout {
    // WAVE_FORMAT_EXTENSIBLE, with `channelMask` as its speaker positions
    // (0: none named).
    bool extensible = false;
    std::uint32_t channelMask = 0;
    // RF64 (64-bit sizes) for data past what a RIFF header can count.
    bool rf64 = false;
};

// Gives a finished plain float WAV file the 18-byte format chunk that strict
// readers expect of a format other than integer PCM (the extension size,
// zero), in place: the two bytes come out of the padding chunk libsndfile
// leaves before the data. False, with the file unchanged, when its header is
// not laid out that way.
bool extendFloatFormatChunk(const std::string& path);

// A marker as a file stores it: a WAVE cue point (named by a 'labl'; with a
// length, a region, whose length an 'ltxt' gives), or an AIFF 'MARK' entry
// (a Pascal string of at most 255 bytes for a name, and no length).
struct FileMarker {
    std::uint32_t frame = 0;
    std::uint32_t length = 0;
    std::string name;
};

// The most markers an AIFF file can number: its identifiers are positive
// 16-bit numbers.
inline constexpr std::size_t kMaxAiffMarkers = 32767;

// The bytes the marker chunks of `markers` take in a file of `type`: WAVE
// 'cue ' and, for names and lengths, 'LIST'/'adtl'; AIFF 'MARK'; CAF 'mark',
// 'regn' and 'strg'. 0 for none.
std::uint64_t markerChunkBytes(FourCharCode type, const std::vector<FileMarker>& markers);

// Appends the marker chunks to a finished WAVE (RIFF or RF64), AIFF (or
// AIFC) or CAF file and corrects the size its header gives (CAF has none),
// leaving every byte before them as it was; nothing at all for no markers.
// CAF gets 'mark', 'regn' (a region as a start and an end marker) and 'strg'. libsndfile (1.2) is not asked to
// write them: its cue chunk has no labels, RF64 gets none, past a few
// thousand points the header it writes is corrupt, and in a float file the
// cue chunk takes the padding the format chunk is extended into. False, with
// `why`, when the file is not laid out as a finished file of its kind is,
// has too many markers for its kind, or cannot be written (it is then to be
// discarded).
bool appendMarkerChunks(const std::string& path, const std::vector<FileMarker>& markers, std::string* why);

// What an encoded stream is written as, in the terms its users know.
struct EncoderSettings {
    // FLAC: 16 or 24 bits, compression level 0 (fastest) ... 8 (smallest).
    int flacBits = 16;
    int flacLevel = 5;
    // Ogg Vorbis: quality 0 ... 10, as oggenc's -q.
    double vorbisQuality = 5;
    // Opus: the bit rate of the whole stream in kbit/s (6 ... 256 a channel).
    int opusKbps = 128;
    // MP3 (MPEG-1 Layer III): a constant bit rate in kbit/s (32 ... 320),
    // or, when mp3VbrQuality is 0 (best) ... 9, a variable one of that quality.
    int mp3Kbps = 192;
    int mp3VbrQuality = -1;
};

// The texts a file's tags can carry, by the info dictionary's keys
// ("title", "artist", "album", "year", "comments", "genre", "track number",
// "copyright", "encoding application").
using FileTags = std::vector<std::pair<std::string, std::string>>;

// Why a stream of `format` (mFormatID 'flac', 'vorb', 'opus' or '.mp3'; its
// rate and channel count) cannot be encoded, in words; empty when it can.
std::string encodingRefusal(const AudioStreamBasicDescription& format);

class AudioFileWriter final : public Object {
public:
    // An encoded stream on an open descriptor (which the writer then owns
    // and closes): FLAC in its own container, Vorbis or Opus in Ogg, MPEG
    // Layer III. `format` names the codec (mFormatID as above), the rate and
    // the channels; `tags` are written ahead of the samples. Frames are then
    // given to writeInt (FLAC: full-scale 32-bit words, of which the top 16
    // or 24 bits are kept) or writeFloat (the lossy codecs).
    static OSStatus createEncoded(int descriptor, const AudioStreamBasicDescription& format,
                                  const EncoderSettings& settings, const FileTags& tags, AudioFileWriter** out);
    OSStatus writeInt(std::uint32_t frames, const std::int32_t* interleaved);
    OSStatus writeFloat(std::uint32_t frames, const float* interleaved);
    OSStatus writeDouble(std::uint32_t frames, const double* interleaved);

    // A file of `container` (WAVE, RF64, AIFF, AIFC, CAF, Wave64) in the
    // encoding `format` names as the reader describes a file's (linear
    // samples of 8 to 64 bits in their byte order, μ-law, A-law, IMA and
    // Microsoft ADPCM, GSM 6.10, Apple Lossless), on an open descriptor it
    // then owns, with `tags`; libsndfile encodes. A WAVE layout's RF64 and
    // extensible header apply to linear samples. Frames are then given to
    // writeInt (full-scale 32-bit words, of which the encoding keeps its top
    // bits: integer and codec encodings) or writeDouble (float encodings).
    static OSStatus createLike(int descriptor, FourCharCode container, const AudioStreamBasicDescription& format,
                               const WaveLayout& layout, const FileTags& tags, AudioFileWriter** out);
    static bool canCreateLike(FourCharCode container, const AudioStreamBasicDescription& format);

    // Creates (or erases) the file at path for a WAVE or AIFF container and a
    // linear PCM format of 16/32-bit integers or 32-bit float; status 0 with
    // *out set (+1), kAudioFileUnsupportedFileTypeError,
    // kAudioFileUnsupportedDataFormatError or kAudioFilePermissionsError.
    static OSStatus create(const std::string& path, FourCharCode type, const AudioStreamBasicDescription& format,
                           AudioFileWriter** out);
    // The same on an open descriptor (which the writer then owns and
    // closes), with the layout of a WAVE file (ignored for AIFF) and the
    // tags the header carries (a WAVE 'LIST'/'INFO' chunk, AIFF text chunks).
    static OSStatus create(int descriptor, FourCharCode type, const AudioStreamBasicDescription& format,
                           const WaveLayout& layout, AudioFileWriter** out, const FileTags& tags = {});

    // Appends `frames` frames of interleaved words (format.mBytesPerFrame each).
    OSStatus write(std::uint32_t frames, const void* words);
    // Finishes the header and closes; later calls report success.
    OSStatus close();

    const char* kindName() const override { return "AudioFileWriter"; }

private:
    AudioFileWriter() = default;
    // A writer over an open libsndfile handle, with `tags` set before any
    // sample (bytesPerFrame 0: frames are given as numbers, not raw words).
    static OSStatus adopt(void* sndfile, std::uint32_t bytesPerFrame, const FileTags& tags, AudioFileWriter** out);
    ~AudioFileWriter() override;
    void* sndfile_ = nullptr;
    std::uint32_t bytesPerFrame_ = 0;
};

} // namespace platform::audio
