// Audio description records and codes of the audio file service, laid out as
// the program's information record expects them (sizes are checked below).
#pragma once

#include <cstdint>

namespace platform {
class String;
}

namespace platform::audio {

using FourCharCode = std::uint32_t;
using OSStatus = std::int32_t;

constexpr FourCharCode fourcc(const char (&s)[5]) {
    return (FourCharCode(std::uint8_t(s[0])) << 24) | (FourCharCode(std::uint8_t(s[1])) << 16) |
           (FourCharCode(std::uint8_t(s[2])) << 8) | FourCharCode(std::uint8_t(s[3]));
}

struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    std::uint32_t mFormatID = 0;
    std::uint32_t mFormatFlags = 0;
    std::uint32_t mBytesPerPacket = 0;
    std::uint32_t mFramesPerPacket = 0;
    std::uint32_t mBytesPerFrame = 0;
    std::uint32_t mChannelsPerFrame = 0;
    std::uint32_t mBitsPerChannel = 0;
    std::uint32_t mReserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

struct AudioChannelDescription {
    std::uint32_t mChannelLabel = 0;
    std::uint32_t mChannelFlags = 0;
    float mCoordinates[3] = {};
};
static_assert(sizeof(AudioChannelDescription) == 20);

// Header of a channel layout; mNumberChannelDescriptions descriptions follow.
struct AudioChannelLayoutHeader {
    std::uint32_t mChannelLayoutTag = 0;
    std::uint32_t mChannelBitmap = 0;
    std::uint32_t mNumberChannelDescriptions = 0;
};
static_assert(sizeof(AudioChannelLayoutHeader) == 12);

struct AudioFormatListItem {
    AudioStreamBasicDescription mASBD;
    std::uint32_t mChannelLayoutTag = 0;
};
static_assert(sizeof(AudioFormatListItem) == 48);

struct AudioFileSMPTETime {
    std::int8_t mHours = 0;
    std::uint8_t mMinutes = 0;
    std::uint8_t mSeconds = 0;
    std::uint8_t mFrames = 0;
    std::uint32_t mSubFrameSampleOffset = 0;
};

struct AudioFileMarker {
    double mFramePosition = 0;
    String* mName = nullptr; // owned by the list's reader: released with it
    std::int32_t mMarkerID = 0;
    AudioFileSMPTETime mSMPTETime;
    std::uint32_t mType = 0;
    std::uint16_t mReserved = 0;
    std::uint16_t mChannel = 0;
};
static_assert(sizeof(AudioFileMarker) == 40);

// Header of a marker list; mNumberMarkers markers follow.
struct AudioFileMarkerListHeader {
    std::uint32_t mSMPTE_TimeType = 0;
    std::uint32_t mNumberMarkers = 0;
};
static_assert(sizeof(AudioFileMarkerListHeader) == 8);

struct AudioFileRegion {
    std::uint32_t mRegionID = 0;
    String* mName = nullptr;
    std::uint32_t mFlags = 0;
    std::uint32_t mNumberMarkers = 0;
    AudioFileMarker mMarkers[1];
};
static_assert(sizeof(AudioFileRegion) == 64);

struct AudioFilePacketTableInfo {
    std::int64_t mNumberValidFrames = 0;
    std::int32_t mPrimingFrames = 0;
    std::int32_t mRemainderFrames = 0;
};
static_assert(sizeof(AudioFilePacketTableInfo) == 16);

// One buffer of audio data. The byte size is 64-bit here, so a whole long
// multichannel file fits one buffer without the size wrapping around.
struct AudioBuffer {
    std::uint32_t mNumberChannels = 0;
    std::uint64_t mDataByteSize = 0;
    void* mData = nullptr;
};

struct AudioBufferList {
    std::uint32_t mNumberBuffers = 0;
    AudioBuffer mBuffers[1];
};

// Format identifiers and flags.
// The rates the output plays: every rate the reader accepts.
inline constexpr double kLowestPlaybackRate = 8000.0;
inline constexpr double kHighestPlaybackRate = 384000.0;

inline constexpr FourCharCode kAudioFormatLinearPCM = fourcc("lpcm");
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1;
inline constexpr std::uint32_t kAudioFormatFlagIsBigEndian = 2;
inline constexpr std::uint32_t kAudioFormatFlagIsSignedInteger = 4;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 8;

// Container type codes.
inline constexpr FourCharCode kAudioFileWAVEType = fourcc("WAVE");
inline constexpr FourCharCode kAudioFileAIFFType = fourcc("AIFF");
inline constexpr FourCharCode kAudioFileAIFCType = fourcc("AIFC");
inline constexpr FourCharCode kAudioFileCAFType = fourcc("caff");
inline constexpr FourCharCode kAudioFileSoundDesigner2Type = fourcc("Sd2f");
inline constexpr FourCharCode kAudioFileNextType = fourcc("NeXT");
inline constexpr FourCharCode kAudioFileWave64Type = fourcc("W64f");
inline constexpr FourCharCode kAudioFileRF64Type = fourcc("RF64");
inline constexpr FourCharCode kAudioFileBW64Type = fourcc("BW64"); // RF64's layout under another name
inline constexpr FourCharCode kAudioFileFLACType = fourcc("flac");
inline constexpr FourCharCode kAudioFileMP1Type = fourcc("MPG1");
inline constexpr FourCharCode kAudioFileMP2Type = fourcc("MPG2");
inline constexpr FourCharCode kAudioFileMP3Type = fourcc("MPG3");
inline constexpr FourCharCode kAudioFileAAC_ADTSType = fourcc("adts");
inline constexpr FourCharCode kAudioFileMPEG4Type = fourcc("mp4f");
inline constexpr FourCharCode kAudioFileM4AType = fourcc("m4af");
inline constexpr FourCharCode kAudioFile3GPType = fourcc("3gpp");
inline constexpr FourCharCode kAudioFile3GP2Type = fourcc("3gp2");
inline constexpr FourCharCode kAudioFileAMRType = fourcc("amrf");
inline constexpr FourCharCode kAudioFileAC3Type = fourcc("ac-3");
// Not a platform code: an Ogg stream's own magic, which the type rule for
// unknown containers (their first four printable bytes) gives as well.
inline constexpr FourCharCode kAudioFileOggType = fourcc("OggS");

// Channel layout tags.
inline constexpr std::uint32_t kAudioChannelLayoutTag_UseChannelDescriptions = 0;
inline constexpr std::uint32_t kAudioChannelLayoutTag_UseChannelBitmap = 1u << 16;

// Result codes.
inline constexpr OSStatus kNoErr = 0;
inline constexpr OSStatus kAudioFileUnspecifiedError = static_cast<OSStatus>(fourcc("wht?"));
inline constexpr OSStatus kAudioFileUnsupportedFileTypeError = static_cast<OSStatus>(fourcc("typ?"));
inline constexpr OSStatus kAudioFileUnsupportedDataFormatError = static_cast<OSStatus>(fourcc("fmt?"));
inline constexpr OSStatus kAudioFileUnsupportedPropertyError = static_cast<OSStatus>(fourcc("pty?"));
inline constexpr OSStatus kAudioFileBadPropertySizeError = static_cast<OSStatus>(fourcc("!siz"));
inline constexpr OSStatus kAudioFileInvalidChunkError = static_cast<OSStatus>(fourcc("chk?"));
inline constexpr OSStatus kAudioFileInvalidFileError = static_cast<OSStatus>(fourcc("dta?"));
inline constexpr OSStatus kAudioFilePermissionsError = static_cast<OSStatus>(fourcc("prm?"));
inline constexpr OSStatus kAudioFileNotOpenError = -38;
inline constexpr OSStatus kAudioFileFileNotFoundError = -43;
inline constexpr OSStatus kParameterError = -50;
// The extended audio file's refusal of a client format it cannot deliver.
inline constexpr OSStatus kExtAudioFileInvalidDataFormatError = -66410;

} // namespace platform::audio
