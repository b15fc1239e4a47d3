#include "audiofile/AudioFileExport.h"

#include "audiofile/AudioFileDocumentSampleData.h"
#include "core/allocator.h"
#include "platform/base/Values.h"
#include "platform/soundfile/AudioFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

std::uint16_t swap16(std::uint16_t v) {
    return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
std::uint32_t swap32(std::uint32_t v) {
    return __builtin_bswap32(v);
}

// A temporary file next to the destination; removed unless renamed.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& destination) {
        const std::size_t slash = destination.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : destination.substr(0, slash);
        const std::string name = slash == std::string::npos ? destination : destination.substr(slash + 1);
        std::string pattern = (dir.empty() ? std::string() : dir) + "/." + name + ".export-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            error_ = errno;
            return;
        }
        ::close(fd);
        path_ = pattern;
    }
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    int error() const { return error_; }
    bool moveTo(const std::string& destination) {
        if (::rename(path_.c_str(), destination.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string path_;
    int error_ = 0;
};

} // namespace

bool write(AudioFileDocumentSampleData* store, const platform::URL* url, audio::FourCharCode type, int code,
           std::string* reason) {
    auto refuse = [reason](std::string why) {
        if (reason) *reason = std::move(why);
        return false;
    };
    if (code != kInteger16 && code != kInteger32 && code != kFloat32) {
        std::printf("Unrecognized Format\n");
        return refuse("The sample format is not one that can be written.");
    }
    if (!store || !store->information() || !url || !url->isFileURL())
        return refuse("The document has no samples to export.");
    const AudioFileInformationData& info = *store->information();

    // The file's format: the source's, with the chosen encoding.
    audio::AudioStreamBasicDescription format = info.fileDataFormat.value;
    const bool aiff = type == audio::kAudioFileAIFFType;
    const std::uint32_t bytesPerSample = code == kInteger16 ? 2 : 4;
    format.mFormatID = audio::kAudioFormatLinearPCM;
    format.mFormatFlags = (code == kFloat32 ? audio::kAudioFormatFlagIsFloat : audio::kAudioFormatFlagIsSignedInteger) |
                          audio::kAudioFormatFlagIsPacked | (aiff ? audio::kAudioFormatFlagIsBigEndian : 0);
    format.mBitsPerChannel = bytesPerSample * 8;
    format.mBytesPerFrame = format.mBytesPerPacket = format.mChannelsPerFrame * bytesPerSample;

    // Checked before anything is created, so a refused export leaves no file.
    const std::int32_t channels = info.channelCount();
    if (channels != 1 && channels != 2) {
        std::printf("Unsupported channel count: %d\n", static_cast<int>(channels));
        return refuse("Only mono and stereo documents can be exported; this document has " + std::to_string(channels) +
                      " channels.");
    }

    const std::string destination = url->path();
    TemporaryFile temporary(destination);
    audio::AudioFileWriter* file = nullptr;
    audio::OSStatus e = temporary.path().empty()
                            ? audio::kAudioFilePermissionsError
                            : audio::AudioFileWriter::create(temporary.path(), type, format, &file);
    if (e != audio::kNoErr) {
        printCode("Error creating audio file:", e);
        if (temporary.path().empty())
            return refuse("The folder cannot be written to: " + std::string(std::strerror(temporary.error())) + ".");
        return refuse("The file could not be created (error " + std::to_string(e) + ").");
    }
    platform::Ref<audio::AudioFileWriter> writer = platform::Ref<audio::AudioFileWriter>::adopt(file);

    const std::int64_t length = info.fileLengthFrames();
    auto* list = static_cast<audio::AudioBufferList*>(allocateZeroed(sizeof(audio::AudioBufferList)));
    if (!list) {
        std::printf("Allocation error: Unable to allocate AudioBufferList\n");
        return refuse("There is not enough memory to convert the samples.");
    }
    struct ListGuard {
        audio::AudioBufferList* list;
        ~ListGuard() {
            if (list->mBuffers[0].mData) freeZeroedArray(list->mBuffers[0].mData);
            freeZeroed(list);
        }
    } guard{list};

    const double* left = store->channelSamples(0);
    const double* right = channels == 2 ? store->channelSamples(1) : nullptr;
    // The channels must hold every frame the record announces.
    if (length <= 0 || length > 0xFFFFFFFFll || !left || (channels == 2 && !right) ||
        store->channelSampleCount(0).v_ < std::uint64_t(length) ||
        (channels == 2 && store->channelSampleCount(1).v_ < std::uint64_t(length)))
        return refuse(length > 0xFFFFFFFFll ? "The document is too long to be written in one file."
                                            : "The document has no samples to export.");
    const auto frames = static_cast<std::uint64_t>(length);
    list->mNumberBuffers = static_cast<std::uint32_t>(channels);
    audio::AudioBuffer& b = list->mBuffers[0];
    b.mNumberChannels = static_cast<std::uint32_t>(channels);
    b.mDataByteSize = frames * static_cast<std::uint64_t>(channels) * bytesPerSample;
    b.mData = allocateZeroedArray(b.mDataByteSize);
    if (!b.mData) return refuse("There is not enough memory to convert the samples.");

    const double* source[2] = {left, right};
    const std::uint64_t samples = frames * static_cast<std::uint64_t>(channels);
    bool clipped = false;
    if (code == kInteger16) {
        auto* out = static_cast<std::uint16_t*>(b.mData);
        for (std::uint64_t i = 0; i < samples; ++i) {
            const std::int16_t v = toInteger16(source[i % channels][i / channels], clipped);
            if (clipped) std::printf("Clipped audio file\n");
            out[i] = aiff ? swap16(static_cast<std::uint16_t>(v)) : static_cast<std::uint16_t>(v);
        }
    } else if (code == kInteger32) {
        auto* out = static_cast<std::uint32_t*>(b.mData);
        for (std::uint64_t i = 0; i < samples; ++i) {
            const std::int32_t v = toInteger32(source[i % channels][i / channels], clipped);
            if (clipped) std::printf("Clipped audio file\n");
            out[i] = aiff ? swap32(static_cast<std::uint32_t>(v)) : static_cast<std::uint32_t>(v);
        }
    } else {
        auto* out = static_cast<std::uint32_t*>(b.mData);
        for (std::uint64_t i = 0; i < samples; ++i) {
            const float v = static_cast<float>(source[i % channels][i / channels]);
            std::uint32_t word;
            std::memcpy(&word, &v, sizeof word);
            out[i] = aiff ? swap32(word) : word; // floats too are big-endian in AIFF
        }
    }

    errno = 0;
    e = writer->write(static_cast<std::uint32_t>(frames), b.mData);
    if (e != audio::kNoErr) {
        const int why = errno;
        std::printf("Error writing audio data:%d\n", static_cast<int>(e));
        return refuse("The samples could not be written: " +
                      std::string(why ? std::strerror(why) : "the disk may be full") + ".");
    }
    std::printf("Audio data is good: imp_continues...\n");
    // The record answers false, which as a status is 0: nothing to report.
    if (const int copied = static_cast<int>(info.copyPropertiesTo(writer.get())); copied != 0) {
        std::printf("Error writing audio file properties: %d\n", copied);
        return refuse("The file's properties could not be written.");
    }
    errno = 0;
    e = writer->close();
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
