#include "platform/soundfile/AudioFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::audio {

namespace {

// libsndfile's channel position for each WAVE speaker bit, lowest first.
constexpr int kSpeakerPositions[] = {
    SF_CHANNEL_MAP_LEFT,
    SF_CHANNEL_MAP_RIGHT,
    SF_CHANNEL_MAP_CENTER,
    SF_CHANNEL_MAP_LFE,
    SF_CHANNEL_MAP_REAR_LEFT,
    SF_CHANNEL_MAP_REAR_RIGHT,
    SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
    SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER,
    SF_CHANNEL_MAP_REAR_CENTER,
    SF_CHANNEL_MAP_SIDE_LEFT,
    SF_CHANNEL_MAP_SIDE_RIGHT,
    SF_CHANNEL_MAP_TOP_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_LEFT,
    SF_CHANNEL_MAP_TOP_FRONT_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_RIGHT,
    SF_CHANNEL_MAP_TOP_REAR_LEFT,
    SF_CHANNEL_MAP_TOP_REAR_CENTER,
    SF_CHANNEL_MAP_TOP_REAR_RIGHT,
};

// The libsndfile format for a container, sample format and layout; 0 when
// there is none.
int sndfileFormat(FourCharCode type, const AudioStreamBasicDescription& format, const WaveLayout& layout) {
    int major = 0;
    if (type == kAudioFileWAVEType)
        major = layout.rf64 ? SF_FORMAT_RF64 : layout.extensible ? SF_FORMAT_WAVEX : SF_FORMAT_WAV;
    else if (type == kAudioFileAIFFType)
        major = SF_FORMAT_AIFF;
    if (!major) return 0;
    const bool isFloat = format.mFormatFlags & kAudioFormatFlagIsFloat;
    int sub = 0;
    if (format.mFormatID == kAudioFormatLinearPCM) {
        if (isFloat && format.mBitsPerChannel == 32)
            sub = SF_FORMAT_FLOAT;
        else if (!isFloat && format.mBitsPerChannel == 16)
            sub = SF_FORMAT_PCM_16;
        else if (!isFloat && format.mBitsPerChannel == 24)
            sub = SF_FORMAT_PCM_24;
        else if (!isFloat && format.mBitsPerChannel == 32)
            sub = SF_FORMAT_PCM_32;
    }
    // The container's own byte order (big for AIFF, little for WAV), in which
    // the words arrive. Naming the order explicitly would make libsndfile
    // write AIFC instead of AIFF.
    return sub ? major | sub | SF_ENDIAN_FILE : 0;
}

constexpr FourCharCode kFlac = fourcc("flac"), kVorbis = fourcc("vorb"), kOpus = fourcc("opus"), kMp3 = fourcc(".mp3");

struct TagKey {
    const char* key;
    int sfKey;
};
constexpr TagKey kTagKeys[] = {
    {"title", SF_STR_TITLE},         {"artist", SF_STR_ARTIST},
    {"album", SF_STR_ALBUM},         {"comments", SF_STR_COMMENT},
    {"copyright", SF_STR_COPYRIGHT}, {"year", SF_STR_DATE},
    {"genre", SF_STR_GENRE},         {"track number", SF_STR_TRACKNUMBER},
};

void setTags(SNDFILE* s, const FileTags& tags) {
    for (const auto& [key, text] : tags)
        for (const TagKey& k : kTagKeys)
            if (key == k.key && !text.empty()) sf_set_string(s, k.sfKey, text.c_str());
}

// A descriptor the writer owns until libsndfile takes it over (fd = -1).
struct OwnedDescriptor {
    int fd;
    ~OwnedDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

OSStatus AudioFileWriter::create(const std::string& path, FourCharCode type, const AudioStreamBasicDescription& format,
                                 AudioFileWriter** out) {
    if (!out) return kParameterError;
    *out = nullptr;
    if (type != kAudioFileWAVEType && type != kAudioFileAIFFType) return kAudioFileUnsupportedFileTypeError;
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) return kAudioFilePermissionsError;
    return create(descriptor, type, format, WaveLayout{}, out);
}

OSStatus AudioFileWriter::create(int descriptor, FourCharCode type, const AudioStreamBasicDescription& format,
                                 const WaveLayout& layout, AudioFileWriter** out, const FileTags& tags) {
    OwnedDescriptor owned{descriptor};
    if (!out) return kParameterError;
    *out = nullptr;
    if (descriptor < 0) return kAudioFilePermissionsError;
    if (type != kAudioFileWAVEType && type != kAudioFileAIFFType) return kAudioFileUnsupportedFileTypeError;
    const std::uint32_t channels = format.mChannelsPerFrame;
    const double rate = format.mSampleRate;
    const int sfFormat = sndfileFormat(type, format, layout);
    if (!sfFormat || channels == 0 || channels > 1024 || !(rate >= 1.0 && rate <= 2147483647.0) ||
        format.mBytesPerFrame != channels * (format.mBitsPerChannel / 8))
        return kAudioFileUnsupportedDataFormatError;

    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(rate));
    info.channels = static_cast<int>(channels);
    info.format = sfFormat;
    if (!sf_format_check(&info)) return kAudioFileUnsupportedDataFormatError;
    SNDFILE* s = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
    if (!s) return kAudioFilePermissionsError;
    owned.fd = -1; // libsndfile closes it now
    // The words arrive raw, past libsndfile's peak tracking: a PEAK chunk
    // would claim a peak of zero.
    sf_command(s, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    // The speakers, one per bit, in the order the mask names them; a mask
    // that names other than one speaker per channel is left to libsndfile.
    if (type == kAudioFileWAVEType && (layout.extensible || layout.rf64) && layout.channelMask != 0 &&
        std::uint32_t(__builtin_popcount(layout.channelMask)) == channels &&
        layout.channelMask < (1u << std::size(kSpeakerPositions))) {
        std::vector<int> map;
        for (std::size_t bit = 0; bit < std::size(kSpeakerPositions); ++bit)
            if (layout.channelMask & (1u << bit)) map.push_back(kSpeakerPositions[bit]);
        sf_command(s, SFC_SET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int)));
    }
    return adopt(s, format.mBytesPerFrame, tags, out);
}

OSStatus AudioFileWriter::adopt(void* sndfile, std::uint32_t bytesPerFrame, const FileTags& tags,
                                AudioFileWriter** out) {
    setTags(static_cast<SNDFILE*>(sndfile), tags); // before the samples: in the header
    auto* w = new AudioFileWriter;
    w->sndfile_ = sndfile;
    w->bytesPerFrame_ = bytesPerFrame;
    *out = w;
    return kNoErr;
}

namespace {

bool setLevel(SNDFILE* s, int command, double value) {
    value = std::clamp(value, 0.0, 1.0);
    return sf_command(s, command, &value, sizeof value) == SF_TRUE;
}

} // namespace

std::string encodingRefusal(const AudioStreamBasicDescription& format) {
    const double rate = format.mSampleRate;
    const std::uint32_t channels = format.mChannelsPerFrame;
    auto rateText = [rate] {
        char text[32];
        std::snprintf(text, sizeof text, "%g kHz", rate / 1000.0);
        return std::string(text);
    };
    switch (format.mFormatID) {
    case kFlac:
        if (channels > 8)
            return "A FLAC file holds at most 8 channels; this document has " + std::to_string(channels) + ".";
        if (rate > 655350 || rate < 1) return "A FLAC file cannot hold a rate of " + rateText() + ".";
        return "";
    case kVorbis:
        if (channels > 255) return "An Ogg Vorbis file holds at most 255 channels.";
        if (rate < 8000 || rate > 192000) return "Ogg Vorbis holds rates of 8 to 192 kHz, not " + rateText() + ".";
        return "";
    case kOpus:
        if (channels > 8)
            return "An Opus file holds at most 8 channels; this document has " + std::to_string(channels) + ".";
        if (rate != 48000 && rate != 24000 && rate != 16000 && rate != 12000 && rate != 8000)
            return "Opus holds rates of 8, 12, 16, 24 and 48 kHz only, not " + rateText() + ".";
        return "";
    case kMp3:
        if (channels > 2)
            return "An MP3 file holds at most 2 channels; this document has " + std::to_string(channels) + ".";
        for (double r : {8000.0, 11025.0, 12000.0, 16000.0, 22050.0, 24000.0, 32000.0, 44100.0, 48000.0})
            if (rate == r) return "";
        return "MP3 holds rates of 8 to 48 kHz (8, 11.025, 12, 16, 22.05, 24, 32, 44.1, 48), not " + rateText() + ".";
    default:
        return "The format cannot be written.";
    }
}

OSStatus AudioFileWriter::createEncoded(int descriptor, const AudioStreamBasicDescription& format,
                                        const EncoderSettings& settings, const FileTags& tags, AudioFileWriter** out) {
    OwnedDescriptor owned{descriptor};
    if (!out) return kParameterError;
    *out = nullptr;
    if (descriptor < 0) return kAudioFilePermissionsError;
    if (format.mChannelsPerFrame == 0 || !encodingRefusal(format).empty()) return kAudioFileUnsupportedDataFormatError;
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(format.mSampleRate));
    info.channels = static_cast<int>(format.mChannelsPerFrame);
    const FourCharCode id = format.mFormatID;
    info.format = id == kFlac     ? SF_FORMAT_FLAC | (settings.flacBits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16)
                  : id == kVorbis ? SF_FORMAT_OGG | SF_FORMAT_VORBIS
                  : id == kOpus   ? SF_FORMAT_OGG | SF_FORMAT_OPUS
                                  : SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    if (!sf_format_check(&info)) return kAudioFileUnsupportedDataFormatError;
    SNDFILE* s = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
    if (!s) return kAudioFilePermissionsError;
    owned.fd = -1; // libsndfile closes it now
    // libsndfile's settings are levels of 0 ... 1; each is mapped from the
    // figure users know the way libsndfile maps it onward to the encoder.
    if (id == kFlac) {
        setLevel(s, SFC_SET_COMPRESSION_LEVEL, std::clamp(settings.flacLevel, 0, 8) / 8.0);
    } else if (id == kVorbis) {
        // Quality 0 ... 1 is the encoder's own, oggenc's -q 0 ... 10.
        setLevel(s, SFC_SET_VBR_ENCODING_QUALITY, std::clamp(settings.vorbisQuality, 0.0, 10.0) / 10.0);
    } else if (id == kOpus) {
        // A channel's bit rate runs from 256 kbit/s at level 0 to 6 at level 1.
        const double perChannel = std::clamp(double(settings.opusKbps) / info.channels, 6.0, 256.0);
        setLevel(s, SFC_SET_COMPRESSION_LEVEL, (256.0 - perChannel) / 250.0);
    } else {
        int mode = settings.mp3VbrQuality >= 0 ? SF_BITRATE_MODE_VARIABLE : SF_BITRATE_MODE_CONSTANT;
        sf_command(s, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        if (mode == SF_BITRATE_MODE_VARIABLE) {
            setLevel(s, SFC_SET_COMPRESSION_LEVEL, std::clamp(settings.mp3VbrQuality, 0, 9) / 10.0);
        } else {
            // The rate runs from 320 kbit/s at level 0 to 32 at level 1 (for
            // MPEG-1 rates; the encoder takes the nearest it can write). A
            // quarter below keeps the chosen figure through truncation.
            const double kbps = std::clamp(settings.mp3Kbps, 32, 320);
            setLevel(s, SFC_SET_COMPRESSION_LEVEL, (320.0 - kbps - 0.25) / 288.0);
        }
    }
    return adopt(s, 0, tags, out); // not raw words
}

namespace {

// The libsndfile format that writes `format` (as the reader describes a
// file's encoding) in `container`; 0 when there is none.
int sndfileFormatLike(FourCharCode container, const AudioStreamBasicDescription& format, const WaveLayout& layout) {
    const bool wave =
        container == kAudioFileWAVEType || container == kAudioFileRF64Type || container == kAudioFileBW64Type;
    const bool aiff = container == kAudioFileAIFFType || container == kAudioFileAIFCType;
    const bool caf = container == kAudioFileCAFType;
    const bool w64 = container == kAudioFileWave64Type;
    const FourCharCode id = format.mFormatID;
    const std::uint32_t bits = format.mBitsPerChannel;
    const bool linear = id == kAudioFormatLinearPCM;
    int sub = 0;
    if (linear && (format.mFormatFlags & kAudioFormatFlagIsFloat)) {
        sub = bits == 32 ? SF_FORMAT_FLOAT : bits == 64 ? SF_FORMAT_DOUBLE : 0;
    } else if (linear) {
        const bool isSigned = format.mFormatFlags & kAudioFormatFlagIsSignedInteger;
        sub = bits == 8    ? (isSigned ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_U8)
              : bits == 16 ? SF_FORMAT_PCM_16
              : bits == 24 ? SF_FORMAT_PCM_24
              : bits == 32 ? SF_FORMAT_PCM_32
                           : 0;
        if (bits > 8 && !isSigned) sub = 0;
    } else if (id == fourcc("ulaw")) {
        sub = SF_FORMAT_ULAW;
    } else if (id == fourcc("alaw")) {
        sub = SF_FORMAT_ALAW;
    } else if (id == 0x6D730011u || id == fourcc("ima4")) {
        sub = SF_FORMAT_IMA_ADPCM;
    } else if (id == 0x6D730002u) {
        sub = SF_FORMAT_MS_ADPCM;
    } else if (id == fourcc("agsm")) {
        sub = SF_FORMAT_GSM610;
    } else if (id == fourcc("alac")) {
        sub = bits == 16   ? SF_FORMAT_ALAC_16
              : bits == 20 ? SF_FORMAT_ALAC_20
              : bits == 24 ? SF_FORMAT_ALAC_24
              : bits == 32 ? SF_FORMAT_ALAC_32
                           : 0;
    }
    if (!sub) return 0;
    int major = 0;
    if (wave) {
        // The extensible header and RF64 hold linear samples only.
        major = !linear             ? SF_FORMAT_WAV
                : layout.rf64       ? SF_FORMAT_RF64
                : layout.extensible ? SF_FORMAT_WAVEX
                                    : SF_FORMAT_WAV;
        if (!linear && layout.rf64) return 0;
    } else if (aiff) {
        major = SF_FORMAT_AIFF;
    } else if (caf) {
        major = SF_FORMAT_CAF;
    } else if (w64) {
        major = SF_FORMAT_W64;
    }
    if (!major) return 0;
    // Linear samples keep their byte order where the container lets them
    // choose it (AIFC 'sowt', little-endian CAF); otherwise the container's own.
    int endian = SF_ENDIAN_FILE;
    const bool big = format.mFormatFlags & kAudioFormatFlagIsBigEndian;
    if (linear && bits > 8 && (aiff || caf)) endian = big ? SF_ENDIAN_FILE : SF_ENDIAN_LITTLE;
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(format.mSampleRate));
    info.channels = static_cast<int>(format.mChannelsPerFrame);
    info.format = major | sub | endian;
    return info.channels > 0 && sf_format_check(&info) ? info.format : 0;
}

} // namespace

bool AudioFileWriter::canCreateLike(FourCharCode container, const AudioStreamBasicDescription& format) {
    return sndfileFormatLike(container, format, WaveLayout{}) != 0;
}

OSStatus AudioFileWriter::createLike(int descriptor, FourCharCode container, const AudioStreamBasicDescription& format,
                                     const WaveLayout& layout, const FileTags& tags, AudioFileWriter** out) {
    OwnedDescriptor owned{descriptor};
    if (!out) return kParameterError;
    *out = nullptr;
    if (descriptor < 0) return kAudioFilePermissionsError;
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(format.mSampleRate));
    info.channels = static_cast<int>(format.mChannelsPerFrame);
    info.format = sndfileFormatLike(container, format, layout);
    if (!info.format || format.mChannelsPerFrame > 1024 || !(format.mSampleRate >= 1.0))
        return kAudioFileUnsupportedDataFormatError;
    SNDFILE* s = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
    if (!s) return kAudioFilePermissionsError;
    owned.fd = -1; // libsndfile closes it now
    // As the plain writer does: no PEAK chunk the source did not have a say in.
    sf_command(s, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    return adopt(s, 0, tags, out); // not raw words
}

namespace {
// Frames the encoder takes in, through libsndfile's writer for their type.
template <class Sample, class Write>
OSStatus writeFrames(void* sndfile, std::uint32_t frames, const Sample* interleaved, Write write) {
    if (!sndfile) return kAudioFileNotOpenError;
    if (frames == 0) return kNoErr;
    if (!interleaved) return kParameterError;
    return write(static_cast<SNDFILE*>(sndfile), interleaved, sf_count_t(frames)) == sf_count_t(frames)
               ? kNoErr
               : kAudioFilePermissionsError;
}
} // namespace

OSStatus AudioFileWriter::writeInt(std::uint32_t frames, const std::int32_t* interleaved) {
    return writeFrames(sndfile_, frames, interleaved, sf_writef_int);
}

OSStatus AudioFileWriter::writeFloat(std::uint32_t frames, const float* interleaved) {
    return writeFrames(sndfile_, frames, interleaved, sf_writef_float);
}

OSStatus AudioFileWriter::writeDouble(std::uint32_t frames, const double* interleaved) {
    return writeFrames(sndfile_, frames, interleaved, sf_writef_double);
}

OSStatus AudioFileWriter::write(std::uint32_t frames, const void* words) {
    if (!sndfile_) return kAudioFileNotOpenError;
    if (frames == 0) return kNoErr;
    if (!words) return kParameterError;
    const sf_count_t bytes = static_cast<sf_count_t>(frames) * bytesPerFrame_;
    // Raw: libsndfile neither converts nor swaps these bytes.
    return sf_write_raw(static_cast<SNDFILE*>(sndfile_), words, bytes) == bytes ? kNoErr : kAudioFilePermissionsError;
}

OSStatus AudioFileWriter::close() {
    if (!sndfile_) return kNoErr;
    int r = sf_close(static_cast<SNDFILE*>(sndfile_));
    sndfile_ = nullptr;
    return r == 0 ? kNoErr : kAudioFilePermissionsError;
}

bool extendFloatFormatChunk(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char h[64];
    const bool read = ::pread(fd, h, sizeof h, 0) == ssize_t(sizeof h);
    auto is = [&](int at, const char* tag) { return std::memcmp(h + at, tag, 4) == 0; };
    auto le32 = [&](int at) {
        return std::uint32_t(h[at]) | std::uint32_t(h[at + 1]) << 8 | std::uint32_t(h[at + 2]) << 16 |
               std::uint32_t(h[at + 3]) << 24;
    };
    // RIFF, WAVE, a 16-byte fmt of IEEE float (tag 3), a 4-byte fact, then a
    // padding chunk with room to give.
    const bool expected = read && is(0, "RIFF") && is(8, "WAVE") && is(12, "fmt ") && le32(16) == 16 && h[20] == 3 &&
                          h[21] == 0 && is(36, "fact") && le32(40) == 4 && is(48, "PAD ") && le32(52) >= 2 &&
                          le32(52) % 2 == 0;
    if (!expected) {
        ::close(fd);
        return false;
    }
    unsigned char patched[64];
    std::memcpy(patched, h, 12);
    std::memcpy(patched + 12, "fmt \x12\0\0\0", 8); // 18 bytes
    std::memcpy(patched + 20, h + 20, 16);          // the format itself
    patched[36] = patched[37] = 0;                  // no extension bytes
    std::memcpy(patched + 38, h + 36, 12);          // fact, two bytes on
    const std::uint32_t pad = le32(52) - 2;         // the padding, two bytes shorter
    std::memcpy(patched + 50, "PAD ", 4);
    for (int i = 0; i < 4; ++i)
        patched[54 + i] = static_cast<unsigned char>(pad >> (8 * i));
    std::memset(patched + 58, 0, sizeof patched - 58);
    const std::size_t length = std::min<std::size_t>(sizeof patched, 58 + pad);
    const bool written = ::pwrite(fd, patched, length, 0) == ssize_t(length);
    return ::close(fd) == 0 && written;
}

namespace {

void putLE16(std::string& s, std::uint32_t v) {
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}

void putLE32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
void putBE32(std::string& s, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
void putBE16(std::string& s, std::uint32_t v) {
    s.push_back(static_cast<char>(v >> 8));
    s.push_back(static_cast<char>(v));
}
std::uint32_t le32At(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint32_t be32At(const unsigned char* p) {
    return std::uint32_t(p[3]) | std::uint32_t(p[2]) << 8 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[0]) << 24;
}
std::uint64_t le64At(const unsigned char* p) {
    return std::uint64_t(le32At(p)) | std::uint64_t(le32At(p + 4)) << 32;
}

// A name as far as its first zero byte (a 'labl' text ends there).
std::string textOf(const std::string& name) {
    return name.substr(0, name.find('\0'));
}

// At most `limit` bytes of a UTF-8 text, never cutting a character in two.
std::string shortened(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    text.resize(n);
    return text;
}

// A chunk of a RIFF (little-endian sizes) or FORM (big-endian) file, padded
// to an even length.
std::string chunk(const char* id, const std::string& body, bool bigEndian) {
    std::string c(id, 4);
    if (bigEndian)
        putBE32(c, static_cast<std::uint32_t>(body.size()));
    else
        putLE32(c, static_cast<std::uint32_t>(body.size()));
    c += body;
    if (body.size() & 1) c.push_back('\0');
    return c;
}

// 'cue ' with one point a marker (identifiers 1, 2, ...), its frame both as
// the play position and as the sample offset into the one data chunk; then
// 'LIST'/'adtl' with a 'labl' for every named one and an 'ltxt' of purpose
// 'rgn ' for every region. The labels come first: libsndfile stops reading
// labels at the first 'ltxt'.
std::string waveMarkerChunks(const std::vector<FileMarker>& markers) {
    std::string cue;
    putLE32(cue, static_cast<std::uint32_t>(markers.size()));
    std::string labels, lengths;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const FileMarker& m = markers[i];
        const auto id = static_cast<std::uint32_t>(i + 1);
        putLE32(cue, id);
        putLE32(cue, m.frame);
        cue += "data";
        putLE32(cue, 0); // chunk start
        putLE32(cue, 0); // block start
        putLE32(cue, m.frame);
        if (const std::string name = textOf(m.name); !name.empty()) {
            std::string body;
            putLE32(body, id);
            body += name;
            body.push_back('\0');
            labels += chunk("labl", body, false);
        }
        if (m.length > 0) {
            std::string body;
            putLE32(body, id);
            putLE32(body, m.length);
            body += "rgn ";
            body.append(8, '\0'); // country, language, dialect, code page
            lengths += chunk("ltxt", body, false);
        }
    }
    std::string out = chunk("cue ", cue, false);
    if (!labels.empty() || !lengths.empty()) out += chunk("LIST", "adtl" + labels + lengths, false);
    return out;
}

// 'MARK': identifiers 1, 2, ...; each name a Pascal string of at most 255
// bytes, padded so that its length byte and text are even in length.
std::string aiffMarkerChunk(const std::vector<FileMarker>& markers) {
    std::string body;
    putBE16(body, static_cast<std::uint32_t>(markers.size()));
    for (std::size_t i = 0; i < markers.size(); ++i) {
        putBE16(body, static_cast<std::uint32_t>(i + 1));
        putBE32(body, markers[i].frame);
        const std::string name = shortened(textOf(markers[i].name), 255);
        body.push_back(static_cast<char>(name.size()));
        body += name;
        if ((name.size() + 1) & 1) body.push_back('\0');
    }
    return chunk("MARK", body, true);
}

void putBE64(std::string& s, std::uint64_t v) {
    putBE32(s, static_cast<std::uint32_t>(v >> 32));
    putBE32(s, static_cast<std::uint32_t>(v));
}

// A CAF chunk: its type, a 64-bit size, the body (no padding).
std::string cafChunk(const char* id, const std::string& body) {
    std::string c(id, 4);
    putBE64(c, body.size());
    return c + body;
}

// A CAF marker: type, position (a 64-bit float), the identifier of its
// name in 'strg', no SMPTE time, every channel.
void putCafMarker(std::string& s, FourCharCode type, std::uint64_t frame, std::uint32_t id) {
    putBE32(s, type);
    const double position = static_cast<double>(frame);
    std::uint64_t bits;
    std::memcpy(&bits, &position, sizeof bits);
    putBE64(s, bits);
    putBE32(s, id);
    putBE64(s, 0);
    putBE32(s, 0);
}

// 'mark' for the points, 'regn' for the regions (a start and an end marker
// each) and 'strg' for the names, which identifiers 1, 2, ... join to them.
std::string cafMarkerChunks(const std::vector<FileMarker>& markers) {
    std::string mark, regn, strings, texts;
    std::uint32_t points = 0, regions = 0, names = 0;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const FileMarker& m = markers[i];
        const auto id = static_cast<std::uint32_t>(i + 1);
        if (const std::string name = textOf(m.name); !name.empty()) {
            putBE32(strings, id);
            putBE64(strings, texts.size());
            texts += name;
            texts.push_back('\0');
            ++names;
        }
        if (m.length == 0) {
            putCafMarker(mark, 0, m.frame, id);
            ++points;
        } else {
            putBE32(regn, id);
            putBE32(regn, id);
            putBE32(regn, 0); // flags
            putBE32(regn, 2);
            putCafMarker(regn, fourcc("rbeg"), m.frame, id);
            putCafMarker(regn, fourcc("rend"), std::uint64_t(m.frame) + m.length, id);
            ++regions;
        }
    }
    std::string out;
    auto table = [](std::uint32_t count, const std::string& entries) {
        std::string body;
        putBE32(body, 0); // no SMPTE time type
        putBE32(body, count);
        return body + entries;
    };
    if (points) out += cafChunk("mark", table(points, mark));
    if (regions) out += cafChunk("regn", table(regions, regn));
    if (names) {
        std::string body;
        putBE32(body, names);
        out += cafChunk("strg", body + strings + texts);
    }
    return out;
}

std::string markerChunks(FourCharCode type, const std::vector<FileMarker>& markers) {
    if (markers.empty()) return {};
    if (type == kAudioFileCAFType) return cafMarkerChunks(markers);
    return type == kAudioFileAIFFType ? aiffMarkerChunk(markers) : waveMarkerChunks(markers);
}

// Where the chunks of a CAF file of `fileSize` bytes end, each with a size
// of its own (more may follow then); 0 when one runs to the end. A few
// bytes past the last, too few for a chunk (libsndfile pads Apple Lossless
// data to an even length without counting it), belong to none.
std::uint64_t cafChunksEnd(int fd, std::uint64_t fileSize) {
    std::uint64_t pos = 8;
    unsigned char h[12];
    while (pos + 12 <= fileSize) {
        if (::pread(fd, h, sizeof h, static_cast<off_t>(pos)) != ssize_t(sizeof h)) return 0;
        const std::uint64_t size = std::uint64_t(be32At(h + 4)) << 32 | be32At(h + 8);
        if (size > fileSize - pos - 12) return 0; // -1 (to the end) included
        pos += 12 + size;
    }
    return pos;
}

// A FLAC file's markers, as flac's own --keep-foreign-metadata keeps a WAV
// file's chunks: an APPLICATION block of id "riff" for each chunk of the WAV
// file the stream decodes to (the 'RIFF' header, 'fmt ', the 'data' header,
// then 'cue ' and 'LIST'), inserted after the stream's own blocks. The audio
// frames move along in place, from the end, a megabyte at a time.
bool appendFlacMarkers(int fd, std::uint64_t fileSize, const std::vector<FileMarker>& markers, std::string* why) {
    auto fail = [why](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    unsigned char h[4];
    std::uint64_t pos = 4, lastHeader = 0;
    unsigned char info[34] = {};
    bool haveInfo = false;
    for (int steps = 0;; ++steps) {
        if (steps > 10000 || pos + 4 > fileSize || ::pread(fd, h, 4, off_t(pos)) != 4)
            return fail("the file's metadata is not complete");
        const std::uint32_t length = std::uint32_t(h[1]) << 16 | std::uint32_t(h[2]) << 8 | h[3];
        if ((h[0] & 0x7F) == 0 && length >= 34 && ::pread(fd, info, 34, off_t(pos + 4)) == 34) haveInfo = true;
        lastHeader = pos;
        pos += 4 + length;
        if (h[0] & 0x80) break;
    }
    if (!haveInfo || pos > fileSize) return fail("the file's stream information is missing");
    const std::uint32_t rate = std::uint32_t(info[10]) << 12 | std::uint32_t(info[11]) << 4 | info[12] >> 4;
    const std::uint32_t channels = ((info[12] >> 1) & 7) + 1;
    const std::uint32_t bits = ((std::uint32_t(info[12] & 1) << 4) | info[13] >> 4) + 1;
    const std::uint64_t frames = std::uint64_t(info[13] & 0x0F) << 32 | be32At(info + 14);
    const std::uint32_t bytes = (bits + 7) / 8;
    // The WAV file the stream decodes to: plain PCM up to two channels of
    // up to 16 bits, the extensible format otherwise.
    const bool extensible = channels > 2 || bits > 16;
    std::string fmt;
    putLE16(fmt, extensible ? 0xFFFE : 1);
    putLE16(fmt, channels);
    putLE32(fmt, rate);
    putLE32(fmt, rate * channels * bytes);
    putLE16(fmt, channels * bytes);
    putLE16(fmt, bytes * 8);
    if (extensible) {
        putLE16(fmt, 22);
        putLE16(fmt, bits);
        putLE32(fmt, 0); // no speaker assignment is claimed
        fmt += std::string("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16); // PCM
    }
    const std::uint64_t dataBytes = frames * channels * bytes;
    const std::string marks = waveMarkerChunks(markers);
    const std::uint64_t riffSize = 4 + 8 + fmt.size() + 8 + dataBytes + (dataBytes & 1) + marks.size();
    if (riffSize > 0xFFFFFFFFull) return fail("the stream is too long for its markers to be kept as a WAV file's");
    std::vector<std::string> chunks;
    std::string riff = "RIFF";
    putLE32(riff, static_cast<std::uint32_t>(riffSize));
    chunks.push_back(riff + "WAVE");
    chunks.push_back(chunk("fmt ", fmt, false));
    std::string data = "data";
    putLE32(data, static_cast<std::uint32_t>(dataBytes));
    chunks.push_back(data);
    for (std::size_t at = 0; at + 8 <= marks.size();) { // 'cue ', then 'LIST'
        const std::uint32_t size = static_cast<std::uint32_t>(static_cast<unsigned char>(marks[at + 4])) |
                                   static_cast<std::uint32_t>(static_cast<unsigned char>(marks[at + 5])) << 8 |
                                   static_cast<std::uint32_t>(static_cast<unsigned char>(marks[at + 6])) << 16 |
                                   static_cast<std::uint32_t>(static_cast<unsigned char>(marks[at + 7])) << 24;
        const std::size_t whole = 8 + size + (size & 1);
        chunks.push_back(marks.substr(at, whole));
        at += whole;
    }
    std::string blocks;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const std::size_t length = 4 + chunks[i].size();
        if (length >= (1u << 24)) return fail("there are too many markers for a FLAC metadata block");
        blocks.push_back(static_cast<char>((i + 1 == chunks.size() ? 0x80 : 0) | 2)); // APPLICATION
        blocks.push_back(static_cast<char>(length >> 16));
        blocks.push_back(static_cast<char>(length >> 8));
        blocks.push_back(static_cast<char>(length));
        blocks += "riff" + chunks[i];
    }
    // The frames move along by the blocks' size, the last megabyte first.
    const std::uint64_t shift = blocks.size();
    std::vector<char> buffer(1 << 20);
    errno = 0;
    for (std::uint64_t end = fileSize; end > pos;) {
        const std::uint64_t n = std::min<std::uint64_t>(buffer.size(), end - pos);
        end -= n;
        if (::pread(fd, buffer.data(), n, off_t(end)) != ssize_t(n) ||
            ::pwrite(fd, buffer.data(), n, off_t(end + shift)) != ssize_t(n))
            return fail(errno ? std::strerror(errno) : "the disk may be full");
    }
    unsigned char first = 0;
    if (::pread(fd, &first, 1, off_t(lastHeader)) != 1) return fail("the file could not be read again");
    first &= 0x7F; // no longer the last block
    if (::pwrite(fd, &first, 1, off_t(lastHeader)) != 1 ||
        ::pwrite(fd, blocks.data(), blocks.size(), off_t(pos)) != ssize_t(blocks.size()))
        return fail(errno ? std::strerror(errno) : "the disk may be full");
    return true;
}

} // namespace

std::uint64_t markerChunkBytes(FourCharCode type, const std::vector<FileMarker>& markers) {
    return markerChunks(type, markers).size();
}

bool appendMarkerChunks(const std::string& path, const std::vector<FileMarker>& markers, std::string* why) {
    auto fail = [why](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    if (markers.empty()) return true;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return fail(std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fd};
    struct stat st {};
    unsigned char h[36] = {};
    if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize < 12 || ::pread(fd, h, sizeof h, 0) < 12) return fail("the file is not complete");
    auto is = [&](int at, const char* tag) { return std::memcmp(h + at, tag, 4) == 0; };
    const bool riff = is(0, "RIFF") && is(8, "WAVE");
    const bool rf64 = is(0, "RF64") && is(8, "WAVE") && is(12, "ds64") && fileSize >= 36 && le32At(h + 16) >= 24;
    const bool aiff = is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"));
    if (is(0, "caff")) {
        const std::uint64_t end = cafChunksEnd(fd, fileSize);
        if (end == 0) return fail("the file's last chunk runs to its end");
        const std::string bytes = cafMarkerChunks(markers);
        errno = 0;
        if (::ftruncate(fd, static_cast<off_t>(end)) != 0 ||
            ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(end)) != ssize_t(bytes.size()))
            return fail(errno ? std::strerror(errno) : "the disk may be full");
        const int fdToClose = closer.fd;
        closer.fd = -1;
        if (::close(fdToClose) != 0) return fail(std::strerror(errno));
        return true;
    }
    if (is(0, "fLaC")) {
        if (!appendFlacMarkers(fd, fileSize, markers, why)) return false;
        const int fdToClose = closer.fd;
        closer.fd = -1;
        if (::close(fdToClose) != 0) return fail(std::strerror(errno));
        return true;
    }
    if (!riff && !rf64 && !aiff) return fail("the file is not a WAV, AIFF, CAF or FLAC file");
    if (aiff && markers.size() > kMaxAiffMarkers) return fail("an AIFF file holds at most 32,767 markers");
    // The size the header gives must be the whole file: the chunks go at its end.
    const std::uint64_t stated = riff ? le32At(h + 4) : rf64 ? le64At(h + 20) : be32At(h + 4);
    if (stated + 8 != fileSize) return fail("the file's header does not give its size");
    std::string bytes = markerChunks(aiff ? kAudioFileAIFFType : kAudioFileWAVEType, markers);
    if (fileSize & 1) bytes.insert(bytes.begin(), '\0'); // the last chunk's padding
    const std::uint64_t newSize = stated + bytes.size();
    if (!rf64 && newSize > 0xFFFFFFFFull) return fail("the file would be too large for its header");
    std::string size;
    if (rf64) {
        for (int i = 0; i < 8; ++i)
            size.push_back(static_cast<char>(newSize >> (8 * i)));
    } else if (riff) {
        putLE32(size, static_cast<std::uint32_t>(newSize));
    } else {
        putBE32(size, static_cast<std::uint32_t>(newSize));
    }
    errno = 0;
    if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(fileSize)) != ssize_t(bytes.size()) ||
        ::pwrite(fd, size.data(), size.size(), rf64 ? 20 : 4) != ssize_t(size.size()))
        return fail(errno ? std::strerror(errno) : "the disk may be full");
    const int fdToClose = closer.fd;
    closer.fd = -1;
    if (::close(fdToClose) != 0) return fail(std::strerror(errno));
    return true;
}

AudioFileWriter::~AudioFileWriter() {
    close();
}

} // namespace platform::audio
