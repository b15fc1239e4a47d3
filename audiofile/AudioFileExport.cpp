#include "audiofile/AudioFileExport.h"

#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileInformation.h"
#include "audiofile/Markers.h"
#include "core/allocator.h"
#include "platform/base/Format.h"
#include "platform/base/Values.h"
#include "platform/soundfile/AudioFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ZQ::AudioFileExport {

namespace audio = platform::audio;

std::int16_t toInteger16(double x, bool& clipped) {
    const double y = x * 32768.0;
    clipped = true;
    if (y > 32767.0) return 32767;
    if (y < -32768.0) return -32768;
    if (!(y <= 32767.0)) return -32768; // not a number: fails both comparisons
    clipped = false;
    return static_cast<std::int16_t>(y);
}

std::int32_t toInteger24(double x, bool& clipped) {
    const double y = x * 8388608.0;
    clipped = true;
    if (y > 8388607.0) return 8388607;
    if (y < -8388608.0) return -8388608;
    if (!(y <= 8388607.0)) return -8388608;
    clipped = false;
    return static_cast<std::int32_t>(y);
}

bool isEncoded(int code) {
    return code == kFlac16 || code == kFlac24 || code == kVorbis || code == kOpus || code == kMp3;
}

audio::FourCharCode containerFor(int code, audio::FourCharCode plain) {
    switch (code) {
    case kFlac16:
    case kFlac24:
        return audio::kAudioFileFLACType;
    case kVorbis:
    case kOpus:
        return audio::kAudioFileOggType;
    case kMp3:
        return audio::kAudioFileMP3Type;
    default:
        return plain;
    }
}

std::int32_t toInteger32(double x, bool& clipped) {
    const double y = x * 2147483648.0;
    clipped = true;
    if (y > 2147483647.0) return 2147483647;
    if (y < -2147483648.0) return -2147483647 - 1;
    if (!(y <= 2147483647.0)) return -2147483647 - 1;
    clipped = false;
    return static_cast<std::int32_t>(y);
}

namespace {

void printCode(const char* text, audio::OSStatus e) {
    std::printf("%s%d | ", text, static_cast<int>(e));
    const auto u = static_cast<std::uint32_t>(e);
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(u >> (8 * i)); // lowest byte first
        if (c == 0) break;
        std::putchar(c);
    }
    std::printf("\n");
}

std::atomic<std::uint64_t> gLargeDataThreshold{kLargestPlainDataBytes};
std::atomic<std::int64_t> gChunkPauseMicroseconds{0};

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file the bytes go to: the destination, or what the symbolic links
// there lead to. Empty for a loop of links.
std::string followLinks(const std::string& path) {
    std::string p = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n <= 0 || std::size_t(n) >= target.size()) return p;
        target.resize(static_cast<std::size_t>(n));
        p = target[0] == '/' ? target : directoryOf(p) + "/" + target;
    }
    return std::string();
}

// A new file next to the destination, created as any new file is (0666 less
// the umask); removed unless it was moved over the destination.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& destination) {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        const std::string stem = directoryOf(destination) + "/." + nameOf(destination) + ".export-";
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                                          std::to_string(random() % 1000000u);
            const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                fd_ = fd;
                path_ = candidate;
                return;
            }
            error_ = errno;
            if (error_ != EEXIST) return;
        }
    }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    int error() const { return error_; }
    // The descriptor, handed to a writer that closes it.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    bool moveTo(const std::string& destination) {
        if (::rename(path_.c_str(), destination.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
};

std::string bytesText(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

// Converts frames [from, from + n) of every channel into interleaved words
// of the file's format and byte order; counts (and for the first few,
// reports) the clipped samples.
template <class Word, class Convert>
void convertChunk(const double* const* channels, int count, std::uint64_t from, std::uint32_t n, Word* out,
                  std::uint64_t& clipped, Convert convert) {
    for (int c = 0; c < count; ++c) {
        const double* in = channels[c] + from;
        Word* o = out + c;
        for (std::uint32_t k = 0; k < n; ++k, o += count) {
            bool limited = false;
            *o = convert(in[k], limited);
            if (limited) {
                if (clipped < kClipLinesShown) std::printf("Clipped audio file\n");
                ++clipped;
            }
        }
    }
}

// The source's texts, to be carried into a file that can hold them.
audio::FileTags fileTags(const AudioFileInformationData& info) {
    audio::FileTags tags;
    if (!info.infoDictionary.value) return tags;
    for (const auto& [key, value] : info.infoDictionary.value->entries())
        if (key && value && value->description() != "" && key->description() != "approximate duration in seconds")
            tags.emplace_back(key->description(), value->description());
    return tags;
}

// The most markers written to a WAV file: as many as the reader takes.
constexpr std::size_t kMaxWaveMarkers = 100000;

// The markers a file of `frames` frames can hold, as it stores them; what it
// cannot is counted in `leftOut`.
std::vector<audio::FileMarker> fileMarkers(const MarkerList* markers, std::uint64_t frames, bool aiff,
                                           std::uint64_t& leftOut) {
    std::vector<audio::FileMarker> out;
    leftOut = 0;
    if (!markers) return out;
    const std::uint64_t largest = 0xFFFFFFFFull; // positions and lengths are 32-bit
    for (const Marker& m : markers->items()) {
        if (m.frame >= frames || m.frame > largest) {
            ++leftOut;
            continue;
        }
        audio::FileMarker f;
        f.frame = static_cast<std::uint32_t>(m.frame);
        // A region ends at the last frame at the latest; AIFF keeps only its start.
        if (m.isRegion() && !aiff)
            f.length = static_cast<std::uint32_t>(std::min(std::min(m.end(), frames) - m.frame, largest));
        f.name = m.name;
        out.push_back(std::move(f));
    }
    const std::size_t most = aiff ? audio::kMaxAiffMarkers : kMaxWaveMarkers;
    if (out.size() > most) {
        leftOut += out.size() - most;
        out.resize(most);
    }
    return out;
}

} // namespace

double Progress::fraction() const {
    const std::uint64_t total = totalFrames.load();
    return total == 0 ? 0.0 : std::min(1.0, static_cast<double>(framesWritten.load()) / static_cast<double>(total));
}

std::string clippedNote(std::uint64_t count) {
    std::string digits = std::to_string(count);
    for (std::ptrdiff_t at = std::ptrdiff_t(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits + (count == 1 ? " sample was clipped to full scale" : " samples were clipped to full scale");
}

std::string markersLeftOutNote(std::uint64_t count) {
    return count == 1 ? "1 marker was left out: the file cannot hold it"
                      : std::to_string(count) + " markers were left out: the file cannot hold them";
}

void setChunkPauseForTesting(std::chrono::microseconds pause) {
    gChunkPauseMicroseconds.store(pause.count());
}

void setLargeDataThresholdForTesting(std::uint64_t bytes) {
    gLargeDataThreshold.store(bytes ? bytes : kLargestPlainDataBytes);
}

std::uint32_t standardChannelMask(int channels) {
    switch (channels) {
    case 1:
        return 0x4; // front centre
    case 2:
        return 0x3; // front left, front right
    case 4:
        return 0x33; // quad: front and back pairs
    case 6:
        return 0x3F; // 5.1
    case 8:
        return 0x63F; // 7.1: 5.1 and the side pair
    default:
        return 0;
    }
}

std::uint32_t channelMask(const AudioFileInformationData* information, int channels) {
    const std::uint32_t own = ownChannelMask(information, channels);
    return own != 0 ? own : standardChannelMask(channels);
}

std::uint32_t ownChannelMask(const AudioFileInformationData* information, int channels) {
    std::uint32_t mask = 0;
    if (information && information->channelLayout.isPresent()) {
        const ChannelLayoutBuffer& layout = information->channelLayout.value;
        if (const audio::AudioChannelLayoutHeader* h = layout.header()) {
            if (h->mChannelLayoutTag == audio::kAudioChannelLayoutTag_UseChannelBitmap) {
                mask = h->mChannelBitmap;
            } else if (h->mChannelLayoutTag == audio::kAudioChannelLayoutTag_UseChannelDescriptions) {
                // Labels 1 ... 18 are the WAVE speakers in bit order; the
                // channels must name them in rising order, once each.
                const std::size_t n = std::min<std::size_t>(h->mNumberChannelDescriptions, layout.capacity());
                int lastBit = -1;
                for (std::size_t i = 0; i < n; ++i) {
                    const std::uint32_t label = layout.items()[i].mChannelLabel;
                    const int bit = static_cast<int>(label) - 1;
                    if (label < 1 || label > 18 || bit <= lastBit) {
                        mask = 0;
                        break;
                    }
                    mask |= 1u << bit;
                    lastBit = bit;
                }
            }
        }
    }
    if (mask != 0 && __builtin_popcount(mask) == channels && mask < (1u << 18)) return mask;
    return 0;
}

bool write(AudioFileDocumentSampleData* store, const platform::URL* url, audio::FourCharCode type, int code,
           std::string* reason, Progress* progress, Outcome* outcome, const MarkerList* markers,
           const audio::EncoderSettings* encoder, const Conversion* conversion) {
    auto refuse = [reason](std::string why) {
        if (reason) *reason = std::move(why);
        return false;
    };
    Outcome done;
    struct Report {
        Outcome& done;
        Outcome* out;
        ~Report() {
            if (out) *out = done;
        }
    } report{done, outcome};
    const bool encoded = isEncoded(code);
    const bool own = code == kSourceEncoding;
    if (code != kInteger16 && code != kInteger24 && code != kInteger32 && code != kFloat32 && !encoded && !own) {
        std::printf("Unrecognized Format\n");
        return refuse("The sample format is not one that can be written.");
    }
    if (!store || !store->information() || !url || !url->isFileURL())
        return refuse("The document has no samples to export.");
    const AudioFileInformationData& info = *store->information();

    // The file's format: the source's, with the chosen encoding.
    audio::AudioStreamBasicDescription format = info.fileDataFormat.value;
    // At the rate a conversion asks for (checked as such below).
    if (conversion && conversion->rate > 0) format.mSampleRate = conversion->rate;
    const bool aiff = type == audio::kAudioFileAIFFType;
    const bool wave = !aiff && !encoded &&
                      (!own || type == audio::kAudioFileWAVEType || type == audio::kAudioFileRF64Type ||
                       type == audio::kAudioFileBW64Type);
    const bool caf = own && type == audio::kAudioFileCAFType;
    const std::uint32_t bytesPerSample = code == kInteger16 ? 2 : code == kInteger24 ? 3 : 4;
    format.mFormatID = audio::kAudioFormatLinearPCM;
    format.mFormatFlags = (code == kFloat32 ? audio::kAudioFormatFlagIsFloat : audio::kAudioFormatFlagIsSignedInteger) |
                          audio::kAudioFormatFlagIsPacked | (aiff ? audio::kAudioFormatFlagIsBigEndian : 0);
    format.mBitsPerChannel = bytesPerSample * 8;
    format.mBytesPerFrame = format.mBytesPerPacket = format.mChannelsPerFrame * bytesPerSample;
    audio::EncoderSettings settings = encoder ? *encoder : audio::EncoderSettings{};
    if (encoded) {
        format.mFormatID = code == kFlac16 || code == kFlac24 ? platform::audio::fourcc("flac")
                           : code == kVorbis                  ? platform::audio::fourcc("vorb")
                           : code == kOpus                    ? platform::audio::fourcc("opus")
                                                              : platform::audio::fourcc(".mp3");
        format.mFormatFlags = 0;
        format.mBitsPerChannel = code == kFlac16 ? 16 : code == kFlac24 ? 24 : 0;
        format.mBytesPerFrame = format.mBytesPerPacket = 0;
        settings.flacBits = code == kFlac24 ? 24 : 16;
        if (const std::string why = audio::encodingRefusal(format); !why.empty()) {
            std::printf("Export refused: %s\n", why.c_str());
            return refuse(why);
        }
    }
    if (own) {
        format = info.fileDataFormat.value;
        if (!audio::AudioFileWriter::canCreateLike(type, format)) {
            std::printf("Export refused: the source's own format cannot be written\n");
            return refuse("This document's own format cannot be written; choose another with Save As.");
        }
    }
    const bool ownFloat = own && format.mFormatID == audio::kAudioFormatLinearPCM &&
                          (format.mFormatFlags & audio::kAudioFormatFlagIsFloat);
    const bool ownLinear = own && format.mFormatID == audio::kAudioFormatLinearPCM;
    const Conversion convert = conversion ? *conversion : Conversion{};
    const double sourceRate = info.fileDataFormat.value.mSampleRate;
    const bool resampling = convert.rate > 0 && convert.rate != sourceRate && !own;

    // Everything is checked before anything is created, so a refused export
    // leaves no file and an existing one as it was.
    const std::int32_t channels = info.channelCount();
    if (channels < 1 || channels > AudioFileDocumentSampleData::kMaxChannels) {
        std::printf("Unsupported channel count: %d\n", static_cast<int>(channels));
        return refuse("A document of " + std::to_string(channels) + " channels cannot be exported.");
    }
    const std::int64_t length = info.fileLengthFrames();
    // The samples as they are now: a snapshot that stays the same however
    // long the export takes.
    const SampleSnapshot samples = store->samples();
    // The channels must hold every frame the record announces.
    if (length < 0 || (length > 0 && (!samples || samples->frameCount() < std::uint64_t(length) ||
                                      samples->channelCount() < std::uint32_t(channels))))
        return refuse("The document has no samples to export.");
    const auto sourceFrames = static_cast<std::uint64_t>(length);
    const std::uint64_t frames =
        resampling ? Resampler::outputFrames(sourceFrames, sourceRate, format.mSampleRate) : sourceFrames;
    const std::uint64_t dataBytes = frames * std::uint64_t(format.mBytesPerFrame);
    // At a new rate the markers move with the frames they point at.
    MarkerList moved;
    if (resampling && markers) {
        const long double ratio = static_cast<long double>(format.mSampleRate) / sourceRate;
        std::vector<Marker> items;
        for (const Marker& m : markers->items())
            items.push_back({static_cast<std::uint64_t>(std::llround(m.frame * ratio)),
                             static_cast<std::uint64_t>(std::llround(m.length * ratio)), m.name});
        moved = MarkerList(std::move(items));
        markers = &moved;
    }
    std::uint64_t markersLeftOut = 0;
    // FLAC keeps them as a WAV file's chunks (as flac's own foreign
    // metadata does); the lossy streams and Wave64 files carry none here:
    // all are counted as left out.
    const bool flac = code == kFlac16 || code == kFlac24;
    const bool holdsMarkers = aiff || wave || caf || flac;
    std::vector<audio::FileMarker> marks =
        holdsMarkers ? fileMarkers(markers, frames, aiff, markersLeftOut) : std::vector<audio::FileMarker>{};
    if (!holdsMarkers && markers) markersLeftOut = markers->size();
    // A FLAC stream's markers ride in the chunks of the WAV file it decodes
    // to; past what a RIFF header counts, they are left out.
    if (flac && !marks.empty() &&
        frames * format.mChannelsPerFrame * (code == kFlac16 ? 2u : 3u) +
                audio::markerChunkBytes(audio::kAudioFileWAVEType, marks) >
            gLargeDataThreshold.load()) {
        markersLeftOut += marks.size();
        marks.clear();
    }
    const audio::FourCharCode markerKind = caf    ? audio::kAudioFileCAFType
                                           : aiff ? audio::kAudioFileAIFFType
                                                  : audio::kAudioFileWAVEType;
    // The marker chunks count toward what the header must hold.
    const std::uint64_t markerBytes = audio::markerChunkBytes(markerKind, marks);
    const bool large = (aiff || wave) && dataBytes + markerBytes > gLargeDataThreshold.load();
    if (own && wave && large && !ownLinear) {
        std::printf("Export refused: a WAV file holds at most 4 GB of encoded samples\n");
        return refuse("A WAV file of this encoding can hold at most 4 GB, and this save needs " + bytesText(dataBytes) +
                      ". Save it as another format with Save As.");
    }
    if (aiff && large) {
        std::printf("Export refused: an AIFF file holds at most 4 GB of samples\n");
        return refuse("An AIFF file can hold at most 4 GB of samples, and this export needs " + bytesText(dataBytes) +
                      ". Export it as WAV, which can hold it.");
    }
    audio::WaveLayout layout;
    layout.rf64 = wave && large;
    layout.extensible = wave && channels > 2 && (!own || ownLinear);
    layout.channelMask = layout.extensible || layout.rf64 ? channelMask(&info, channels) : 0;
    done.container = encoded       ? containerFor(code, type)
                     : layout.rf64 ? audio::kAudioFileRF64Type
                     : own && wave ? audio::kAudioFileWAVEType
                     : own         ? type
                     : aiff        ? audio::kAudioFileAIFFType
                                   : audio::kAudioFileWAVEType;

    const std::string chosen = url->path();
    const std::string destination = followLinks(chosen);
    if (destination.empty()) return refuse("The destination is a loop of symbolic links.");
    struct stat existing {};
    const bool overwriting = ::stat(destination.c_str(), &existing) == 0;
    if (overwriting && S_ISDIR(existing.st_mode))
        return refuse("\u201c" + nameOf(destination) + "\u201d is a folder; choose another name.");
    if (overwriting && !S_ISREG(existing.st_mode))
        return refuse("\u201c" + nameOf(destination) + "\u201d is not a regular file; choose another name.");

    TemporaryFile temporary(destination);
    errno = 0;
    audio::AudioFileWriter* file = nullptr;
    audio::OSStatus e =
        temporary.path().empty() ? audio::kAudioFilePermissionsError
        : encoded ? audio::AudioFileWriter::createEncoded(temporary.release(), format, settings, fileTags(info), &file)
        : own     ? audio::AudioFileWriter::createLike(temporary.release(), type, format, layout, fileTags(info), &file)
                  : audio::AudioFileWriter::create(temporary.release(), type, format, layout, &file, fileTags(info));
    if (e != audio::kNoErr) {
        printCode("Error creating audio file:", e);
        if (temporary.path().empty())
            return refuse("The folder \u201c" + directoryOf(destination) +
                          "\u201d cannot be written to: " + std::string(std::strerror(temporary.error())) + ".");
        if (e == audio::kAudioFileUnsupportedDataFormatError)
            return refuse("The format cannot hold this document's samples as they are (rate " +
                          platform::format("%g", format.mSampleRate) + " Hz, " + std::to_string(channels) +
                          " channels).");
        return refuse("The file could not be created" +
                      std::string(errno ? ": " + std::string(std::strerror(errno)) : "") + ".");
    }
    platform::Ref<audio::AudioFileWriter> writer = platform::Ref<audio::AudioFileWriter>::adopt(file);

    // The frames converted and written at a time: a chunk of the source's,
    // or what the resampler makes of one.
    const std::uint64_t chunkFrames = std::min<std::uint64_t>(std::max(frames, sourceFrames), kChunkFrames);
    // One chunk's words, reused for the whole file.
    const std::uint64_t chunkBytes = chunkFrames * (own       ? std::uint64_t(channels) * 8
                                                    : encoded ? std::uint64_t(channels) * 4
                                                              : format.mBytesPerFrame);
    void* block = chunkBytes ? allocateZeroedArray(chunkBytes) : nullptr;
    if (chunkBytes && !block) {
        std::printf("Allocation error: Unable to allocate AudioBufferList\n");
        return refuse("There is not enough memory to convert the samples.");
    }
    // And one chunk of each channel as doubles, read from the samples.
    const std::uint64_t chunkSamples = chunkFrames * std::uint64_t(channels);
    auto* doubles = chunkSamples ? static_cast<double*>(allocateZeroedArray(chunkSamples * sizeof(double))) : nullptr;
    struct BlockGuard {
        void* block;
        void* doubles;
        ~BlockGuard() {
            if (block) freeZeroedArray(block);
            if (doubles) freeZeroedArray(doubles);
        }
    } guard{block, doubles};
    if (chunkSamples && !doubles) {
        std::printf("Allocation error: Unable to allocate AudioBufferList\n");
        return refuse("There is not enough memory to convert the samples.");
    }
    double* source[AudioFileDocumentSampleData::kMaxChannels] = {};
    for (std::int32_t c = 0; c < channels && doubles; ++c)
        source[c] = doubles + std::uint64_t(c) * chunkFrames;

    std::unique_ptr<Resampler> resampler;
    if (resampling) {
        std::string why;
        resampler =
            Resampler::create(sourceRate, format.mSampleRate, unsigned(channels), sourceFrames, convert.quality, &why);
        if (!resampler) return refuse("The samples cannot be converted to the new rate: " + why + ".");
    }
    // Dither where integers of fewer bits than the samples carry are written.
    const unsigned integerBits = code == kInteger16 || code == kFlac16   ? 16
                                 : code == kInteger24 || code == kFlac24 ? 24
                                 : code == kInteger32                    ? 32
                                                                         : 0;
    std::unique_ptr<Requantizer> requantizer;
    if (integerBits && convert.dither != Requantizer::Dither::None)
        requantizer =
            std::make_unique<Requantizer>(integerBits, convert.dither, unsigned(channels), format.mSampleRate);

    if (progress) {
        progress->totalFrames.store(sourceFrames);
        progress->framesWritten.store(0);
    }
    std::uint64_t clipped = 0;
    std::string failure;
    // Converts source[c][0, n) to the file's words and writes them.
    auto emit = [&](std::uint32_t n) {
        if (requantizer) {
            // On the new grid, where the converters below take them as they are.
            const double step = std::ldexp(1.0, 1 - int(integerBits));
            for (std::int32_t c = 0; c < channels; ++c)
                for (std::uint32_t k = 0; k < n; ++k) {
                    bool limited = false;
                    source[c][k] = requantizer->quantize(unsigned(c), source[c][k], limited) * step;
                    if (limited) {
                        if (clipped < kClipLinesShown) std::printf("Clipped audio file\n");
                        ++clipped;
                    }
                }
        }
        if (ownFloat) {
            convertChunk(source, channels, 0, n, static_cast<double*>(block), clipped,
                         [](double x, bool&) { return x; });
        } else if (own) {
            // Full-scale words; the encoding keeps their top bits.
            convertChunk(source, channels, 0, n, static_cast<std::int32_t*>(block), clipped, toInteger32);
        } else if (code == kFlac16 || code == kFlac24) {
            // Full-scale words whose top 16 or 24 bits are the samples.
            const bool wide = code == kFlac24;
            convertChunk(source, channels, 0, n, static_cast<std::int32_t*>(block), clipped,
                         [wide](double x, bool& limited) {
                             return wide ? std::int32_t(std::uint32_t(toInteger24(x, limited)) << 8)
                                         : std::int32_t(std::uint32_t(toInteger16(x, limited)) << 16);
                         });
        } else if (encoded) {
            convertChunk(source, channels, 0, n, static_cast<float*>(block), clipped,
                         [](double x, bool&) { return static_cast<float>(x); });
        } else if (code == kInteger24) {
            // Three bytes a sample, in the container's own order.
            auto* bytes = static_cast<unsigned char*>(block);
            for (std::int32_t c = 0; c < channels; ++c)
                for (std::uint32_t k = 0; k < n; ++k) {
                    bool limited = false;
                    const auto v = std::uint32_t(toInteger24(source[c][k], limited));
                    if (limited) {
                        if (clipped < kClipLinesShown) std::printf("Clipped audio file\n");
                        ++clipped;
                    }
                    unsigned char* o = bytes + (std::size_t(k) * std::size_t(channels) + std::size_t(c)) * 3;
                    o[aiff ? 2 : 0] = static_cast<unsigned char>(v);
                    o[1] = static_cast<unsigned char>(v >> 8);
                    o[aiff ? 0 : 2] = static_cast<unsigned char>(v >> 16);
                }
        } else if (code == kInteger16) {
            convertChunk(source, channels, 0, n, static_cast<std::uint16_t*>(block), clipped,
                         [aiff](double x, bool& limited) {
                             const auto v = static_cast<std::uint16_t>(toInteger16(x, limited));
                             return aiff ? static_cast<std::uint16_t>((v >> 8) | (v << 8)) : v;
                         });
        } else if (code == kInteger32) {
            convertChunk(source, channels, 0, n, static_cast<std::uint32_t*>(block), clipped,
                         [aiff](double x, bool& limited) {
                             const auto v = static_cast<std::uint32_t>(toInteger32(x, limited));
                             return aiff ? __builtin_bswap32(v) : v;
                         });
        } else {
            convertChunk(source, channels, 0, n, static_cast<std::uint32_t*>(block), clipped, [aiff](double x, bool&) {
                const float v = static_cast<float>(x);
                std::uint32_t word;
                std::memcpy(&word, &v, sizeof word);
                return aiff ? __builtin_bswap32(word) : word; // floats too are big-endian in AIFF
            });
        }
        errno = 0;
        e = ownFloat                                    ? writer->writeDouble(n, static_cast<const double*>(block))
            : own || code == kFlac16 || code == kFlac24 ? writer->writeInt(n, static_cast<const std::int32_t*>(block))
            : encoded                                   ? writer->writeFloat(n, static_cast<const float*>(block))
                                                        : writer->write(n, block);
        if (e != audio::kNoErr) {
            const int why = errno;
            std::printf("Error writing audio data:%d\n", static_cast<int>(e));
            failure =
                "The samples could not be written: " + std::string(why ? std::strerror(why) : "the disk may be full") +
                ".";
            return false;
        }
        return true;
    };
    // The resampler's output, a chunk at a time.
    std::vector<double> interleaved, resampled;
    auto emitResampled = [&]() {
        const std::uint64_t made = resampled.size() / std::uint64_t(channels);
        for (std::uint64_t at = 0; at < made; at += chunkFrames) {
            const auto m = static_cast<std::uint32_t>(std::min(chunkFrames, made - at));
            for (std::int32_t c = 0; c < channels; ++c)
                for (std::uint32_t k = 0; k < m; ++k)
                    source[c][k] = resampled[(at + k) * std::uint64_t(channels) + std::uint64_t(c)];
            if (!emit(m)) return false;
        }
        resampled.clear();
        return true;
    };
    for (std::uint64_t from = 0; from < sourceFrames; from += kChunkFrames) {
        if (progress && progress->cancelled.load()) {
            done.cancelled = true;
            done.clippedSamples = clipped;
            std::printf("Export cancelled\n");
            return refuse("");
        }
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkFrames, sourceFrames - from));
        samples->readFrames(from, n, source);
        if (convert.gain != 1.0)
            for (std::int32_t c = 0; c < channels; ++c)
                for (std::uint32_t k = 0; k < n; ++k)
                    source[c][k] *= convert.gain;
        bool written = true;
        if (resampler) {
            interleaved.resize(std::size_t(n) * std::size_t(channels));
            for (std::int32_t c = 0; c < channels; ++c)
                for (std::uint32_t k = 0; k < n; ++k)
                    interleaved[std::size_t(k) * std::size_t(channels) + std::size_t(c)] = source[c][k];
            resampler->process(interleaved.data(), n, resampled);
            written = emitResampled();
        } else {
            written = emit(n);
        }
        if (!written) {
            done.clippedSamples = clipped;
            return refuse(failure);
        }
        if (progress) progress->framesWritten.store(from + n);
        if (const std::int64_t pause = gChunkPauseMicroseconds.load())
            std::this_thread::sleep_for(std::chrono::microseconds(pause));
    }
    if (resampler) {
        resampler->finish(resampled);
        if (!emitResampled()) {
            done.clippedSamples = clipped;
            return refuse(failure);
        }
    }
    if (clipped > kClipLinesShown)
        std::printf("Clipped audio file: %llu more samples clipped\n",
                    static_cast<unsigned long long>(clipped - kClipLinesShown));
    done.clippedSamples = clipped;
    std::printf("Audio data is good: imp_continues...\n");
    // The record answers false, which as a status is 0: nothing to report.
    if (const int copied = static_cast<int>(info.copyPropertiesTo(writer.get())); copied != 0) {
        std::printf("Error writing audio file properties: %d\n", copied);
        return refuse("The file's properties could not be written.");
    }
    errno = 0;
    e = writer->close();
    // Float data in a plain WAV file: the format chunk strict readers expect.
    if (e == audio::kNoErr && wave && !layout.extensible && !layout.rf64 && (code == kFloat32 || ownFloat))
        audio::extendFloatFormatChunk(temporary.path());
    if (e == audio::kNoErr && !marks.empty()) {
        std::string why;
        if (!audio::appendMarkerChunks(temporary.path(), marks, &why)) {
            std::printf("Error writing markers: %s\n", why.c_str());
            return refuse("The markers could not be written: " + why + ".");
        }
    }
    if (e == audio::kNoErr) {
        done.markersWritten = marks.size();
        done.markersLeftOut = markersLeftOut;
        if (markersLeftOut > 0)
            std::printf("Markers left out: %llu (past the end, or more than the file can hold)\n",
                        static_cast<unsigned long long>(markersLeftOut));
    }
    if (e == audio::kNoErr && overwriting) {
        // What the replaced file was: its owner and group where the process
        // may give them, then its mode (a change of owner clears set-id bits).
        if (::chown(temporary.path().c_str(), existing.st_uid, existing.st_gid) != 0) errno = 0;
        if (::chmod(temporary.path().c_str(), existing.st_mode & 07777) != 0) errno = 0;
    }
    if (e == audio::kNoErr && !temporary.moveTo(destination)) e = audio::kAudioFilePermissionsError;
    if (e != audio::kNoErr) {
        const int why = errno;
        std::printf("Error writing audio file:%d\n", static_cast<int>(e));
        return refuse(
            "The file could not be completed: " + std::string(why ? std::strerror(why) : "the disk may be full") + ".");
    }
    return true;
}

} // namespace ZQ::AudioFileExport
