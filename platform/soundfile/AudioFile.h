// The audio file service over libsndfile: opens a file, reports its container
// type by reading the container header itself (libsndfile calls AIFC "AIFF"),
// describes the file's own encoding, answers the property questions the
// information record asks, and decodes the whole file to interleaved 32-bit
// float at the file's own rate and channel count.
//
// libsndfile is handed only what the reader decodes (WAVE, AIFF and CAF files
// whose header our own walker found sound, and Sound Designer II files), so
// that a damaged or hostile file never reaches code we cannot fix. Files of
// containers other decoders know open without samples; the reader then
// refuses them by type.
//
// One AudioFile is used by one thread at a time.
#pragma once

#include "platform/base/AudioTypes.h"
#include "platform/base/Object.h"
#include "platform/soundfile/Container.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::audio {

// Property identifiers of the extended audio file.
namespace ext {
inline constexpr FourCharCode kFileDataFormat = fourcc("ffmt");
inline constexpr FourCharCode kFileChannelLayout = fourcc("fclo");
inline constexpr FourCharCode kClientDataFormat = fourcc("cfmt");
inline constexpr FourCharCode kClientChannelLayout = fourcc("cclo");
inline constexpr FourCharCode kAudioConverter = fourcc("acnv");
inline constexpr FourCharCode kAudioFile = fourcc("afil");
inline constexpr FourCharCode kFileMaxPacketSize = fourcc("fmps");
inline constexpr FourCharCode kClientMaxPacketSize = fourcc("cmps");
inline constexpr FourCharCode kFileLengthFrames = fourcc("#frm");
inline constexpr FourCharCode kConverterConfig = fourcc("accf");
inline constexpr FourCharCode kIOBufferSizeBytes = fourcc("iobs");
inline constexpr FourCharCode kIOBuffer = fourcc("iobf");
} // namespace ext

// Property identifiers of the audio file.
namespace file {
inline constexpr FourCharCode kFileFormat = fourcc("ffmt");
inline constexpr FourCharCode kDataFormat = fourcc("dfmt");
inline constexpr FourCharCode kFormatList = fourcc("flst");
inline constexpr FourCharCode kIsOptimized = fourcc("optm");
inline constexpr FourCharCode kMagicCookieData = fourcc("mgic");
inline constexpr FourCharCode kAudioDataByteCount = fourcc("bcnt");
inline constexpr FourCharCode kAudioDataPacketCount = fourcc("pcnt");
inline constexpr FourCharCode kMaximumPacketSize = fourcc("psze");
inline constexpr FourCharCode kDataOffset = fourcc("doff");
inline constexpr FourCharCode kChannelLayout = fourcc("cmap");
inline constexpr FourCharCode kDeferSizeUpdates = fourcc("dszu");
inline constexpr FourCharCode kDataFormatName = fourcc("fnam");
inline constexpr FourCharCode kMarkerList = fourcc("mkls");
inline constexpr FourCharCode kRegionList = fourcc("rgls");
// Our own: every region's markers, region after region, as unnamed 40-byte
// AudioFileMarker records ('rgls' carries only the first of each inline).
// Files without regions answer 'pty?'.
inline constexpr FourCharCode kRegionMarkers = fourcc("rgmk");
inline constexpr FourCharCode kChunkIDs = fourcc("chid");
inline constexpr FourCharCode kInfoDictionary = fourcc("info");
inline constexpr FourCharCode kPacketTableInfo = fourcc("pnfo");
inline constexpr FourCharCode kPacketSizeUpperBound = fourcc("pkub");
inline constexpr FourCharCode kReserveDuration = fourcc("rsrv");
inline constexpr FourCharCode kEstimatedDuration = fourcc("edur");
inline constexpr FourCharCode kBitRate = fourcc("brat");
} // namespace file

class MpegDecoder;

class AudioFile final : public Object {
public:
    // Opens the file at path for reading: status 0 with *out set (+1), or an
    // error code (kAudioFileFileNotFoundError, kAudioFileUnsupportedFileTypeError,
    // kAudioFileInvalidFileError).
    static OSStatus open(const std::string& path, AudioFile** out);

    FourCharCode fileType() const { return container_.type; }
    // Whether samples can be read (false for other decoders' containers).
    bool hasDecoder() const { return sndfile_ != nullptr || mpeg_ != nullptr; }
    // The file's own encoding.
    const AudioStreamBasicDescription& fileDataFormat() const { return format_; }
    std::int64_t lengthFrames() const { return frames_; }
    // The most frames the file's sample data can hold, for encodings of a
    // fixed size per frame; -1 when the encoding does not tell (codecs).
    std::int64_t framesTheDataCanHold() const;
    const std::string& path() const { return path_; }

    // The audio file's property questions (codes in namespace `file`).
    //
    // The region list ('rgls') is answered as a plain array of 64-byte
    // AudioFileRegion records, each carrying its first marker inline (and
    // mNumberMarkers telling how many the file holds), with +1 names. Files
    // without regions answer 'pty?'.
    OSStatus getPropertyInfo(FourCharCode id, std::uint32_t* size, std::uint32_t* writable) const;
    // Copies at most *ioSize bytes and sets *ioSize to the bytes written.
    // Strings and dictionaries handed out are +1 references for the caller.
    OSStatus getProperty(FourCharCode id, std::uint32_t* ioSize, void* data) const;

    // Decodes up to *ioFrames frames from the current position as interleaved
    // float; *ioFrames becomes the number delivered (0 at the end).
    OSStatus readFloat(std::uint32_t* ioFrames, float* interleaved);
    OSStatus seek(std::int64_t frame);

    const char* kindName() const override { return "AudioFile"; }

    // A BW64 file is read through a view that names it RF64 (the same
    // layout, which libsndfile knows only by that name).
    struct RenamedSource;

private:
    AudioFile() = default;
    ~AudioFile() override;
    OSStatus fixedProperty(FourCharCode id, std::vector<unsigned char>& out) const;
    // The first `count` cue points libsndfile reads.
    void readLibraryCues(std::uint32_t count);
    static OSStatus openMpeg(const std::string& path, ContainerInfo container, std::int64_t fileSize, AudioFile** out);

    std::string path_;
    void* sndfile_ = nullptr;     // SNDFILE*
    MpegDecoder* mpeg_ = nullptr; // MPEG audio, decoded without libsndfile
    RenamedSource* renamed_ = nullptr;
    int sfFormat_ = 0;
    ContainerInfo container_;
    AudioStreamBasicDescription format_;
    std::int64_t frames_ = 0;
    struct Cue {
        std::int32_t id;
        std::uint32_t position;
        std::string name;
    };
    std::vector<Cue> cues_;
    // The file's texts under the info dictionary's keys ("title", "artist" …).
    std::vector<std::pair<std::string, std::string>> tags_;
};

// The version text of the sound file library in use.
const char* soundFileLibraryVersion();

} // namespace platform::audio
