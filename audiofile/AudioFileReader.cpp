#include "audiofile/AudioFileReader.h"

#include "audiofile/MappedFile.h"
#include "core/allocator.h"
#include "platform/base/FileManager.h"
#include "platform/base/Format.h"
#include "platform/base/Values.h"
#include "platform/soundfile/ExtAudioFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ZQ {

namespace audio = platform::audio;
using platform::Ref;

namespace {
// The most one chunk of interleaved floats takes, whatever the channel count.
constexpr std::uint64_t kMaxChunkBytes = 1 << 20;
// Frames at each end of a file read both in place and through the decoder,
// which must agree before the file is read in place.
constexpr std::uint64_t kCheckedFrames = 2048;

std::atomic<std::uint64_t> gTestMemory{0};
std::atomic<std::uint64_t> gTestDisk{0};
std::atomic<std::int64_t> gChunkPauseMicroseconds{0};

// A kB figure from /proc/meminfo, or -1.
long long meminfoKB(const char* field) {
    std::ifstream in("/proc/meminfo");
    std::string line;
    const std::string key = field;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + key.size());
    return -1;
}

// A number from a control-group file, or -1 ("max" is no limit).
long long cgroupValue(const char* file) {
    std::ifstream in(std::string("/sys/fs/cgroup/") + file);
    std::string word;
    if (!(in >> word) || word == "max") return -1;
    return std::atoll(word.c_str());
}

void reportAllocationError() {
    std::fprintf(stderr, "AllocateAudioBufferList: allocation error. Escaping\n");
    std::fprintf(stderr, "An error was encountered while allocating a buffer. Escaping.\n");
}

OSStatus setFloatClientFormat(ExtAudioFile* reference, std::uint32_t* channelsOut) {
    audio::AudioStreamBasicDescription fileFormat;
    std::uint32_t size = sizeof fileFormat;
    OSStatus r = reference->getProperty(audio::ext::kFileDataFormat, &size, &fileFormat);
    if (r != audio::kNoErr) return r;
    // Only the encoding changes: the file's own rate and channel count.
    audio::AudioStreamBasicDescription client;
    client.mSampleRate = fileFormat.mSampleRate;
    client.mFormatID = audio::kAudioFormatLinearPCM;
    client.mFormatFlags = audio::kAudioFormatFlagIsFloat | audio::kAudioFormatFlagIsPacked;
    client.mBytesPerPacket = fileFormat.mChannelsPerFrame * 4;
    client.mFramesPerPacket = 1;
    client.mBytesPerFrame = fileFormat.mChannelsPerFrame * 4;
    client.mChannelsPerFrame = fileFormat.mChannelsPerFrame;
    client.mBitsPerChannel = 32;
    client.mReserved = 0;
    if (channelsOut) *channelsOut = fileFormat.mChannelsPerFrame;
    return reference->setProperty(audio::ext::kClientDataFormat, sizeof client, &client);
}

} // namespace

std::uint32_t decodeChunkFrames(std::uint32_t channels) {
    if (channels == 0) return kDecodeChunkFrames;
    const std::uint64_t bounded = kMaxChunkBytes / (std::uint64_t(channels) * 4);
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(bounded, 64, kDecodeChunkFrames));
}

std::uint64_t availableMemoryBytes() {
    if (const std::uint64_t test = gTestMemory.load()) return test;
    const long long availableKB = meminfoKB("MemAvailable:");
    std::uint64_t available = availableKB >= 0 ? std::uint64_t(availableKB) * 1024 : ~std::uint64_t{0};
    const long long limit = cgroupValue("memory.max"), used = cgroupValue("memory.current");
    if (limit >= 0)
        available = std::min<std::uint64_t>(available, limit > used ? std::uint64_t(limit - std::max(used, 0LL)) : 0);
    return available;
}

void setAvailableMemoryForTesting(std::uint64_t bytes) {
    gTestMemory.store(bytes);
}

void setDecodeChunkPauseForTesting(std::chrono::microseconds pause) {
    gChunkPauseMicroseconds.store(pause.count());
}

std::string memorySizeText(std::uint64_t bytes) {
    if (bytes >= 1000000000ull) return platform::format("%.1f GB", double(bytes) / 1e9);
    return platform::format("%.0f MB", std::max(1.0, double(bytes) / 1e6));
}

std::string decodeCacheFolder() {
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') {
        base = cache;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && home[0] ? home : "/tmp") + "/.cache";
    }
    const std::string folder = base + "/ZQAudio";
    // Each step, so that a missing cache folder is made as the desktop would.
    for (std::size_t at = 1; at != std::string::npos;) {
        at = folder.find('/', at + 1);
        ::mkdir(folder.substr(0, at).c_str(), 0700);
    }
    return folder;
}

void setAvailableDiskForTesting(std::uint64_t bytes) {
    gTestDisk.store(bytes);
}

bool writeAllBytes(int fd, const void* data, std::size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd, p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        bytes -= std::size_t(n);
    }
    return true;
}

int unnamedTemporaryFile(const std::string& folder) {
#ifdef O_TMPFILE
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
#endif
    std::string name = folder + "/decoded-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) ::unlink(name.c_str());
    return named;
}

std::uint64_t availableDiskBytes(const std::string& folder) {
    if (const std::uint64_t test = gTestDisk.load()) return test;
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0) return 0;
    return std::uint64_t(fs.f_bavail) * fs.f_frsize;
}

namespace {

// How the file lays out its samples, when they can be read where they lie.
bool inPlaceEncoding(const audio::AudioFile* file, SampleEncoding& out) {
    if (!file) return false;
    const audio::AudioStreamBasicDescription& f = file->fileDataFormat();
    if (f.mFormatID != audio::kAudioFormatLinearPCM || f.mBitsPerChannel % 8 != 0 || f.mChannelsPerFrame == 0)
        return false;
    out.channels = f.mChannelsPerFrame;
    out.bytes = f.mBitsPerChannel / 8;
    out.bigEndian = (f.mFormatFlags & audio::kAudioFormatFlagIsBigEndian) != 0;
    out.kind = (f.mFormatFlags & audio::kAudioFormatFlagIsFloat)           ? SampleEncoding::Kind::Float
               : (f.mFormatFlags & audio::kAudioFormatFlagIsSignedInteger) ? SampleEncoding::Kind::Signed
                                                                           : SampleEncoding::Kind::Unsigned;
    return out.isReadable() && f.mBytesPerFrame == out.frameBytes();
}

// Frames [from, from + n) through the decoder, as interleaved floats.
bool decoderFrames(ExtAudioFile* reference, std::uint64_t from, std::uint64_t n, std::uint32_t channels,
                   std::vector<float>& out) {
    out.assign(n * channels, 0.0f);
    if (reference->seek(std::int64_t(from)) != audio::kNoErr) return false;
    std::uint64_t done = 0;
    while (done < n) {
        audio::AudioBufferList list;
        list.mNumberBuffers = 1;
        list.mBuffers[0].mNumberChannels = channels;
        list.mBuffers[0].mData = out.data() + done * channels;
        list.mBuffers[0].mDataByteSize = static_cast<std::uint32_t>((n - done) * channels * 4);
        std::uint32_t got = static_cast<std::uint32_t>(n - done);
        if (reference->read(&got, &list) != audio::kNoErr || got == 0) return false;
        done += got;
    }
    return true;
}

// Whether the block reads the first and last frames exactly as the decoder
// does: a layout our own reading misjudged goes through the decoder instead.
bool agreesWithDecoder(const SampleBlock& block, ExtAudioFile* reference) {
    const std::uint64_t frames = block.frames();
    const std::uint32_t channels = block.channels();
    const std::uint64_t n = std::min(frames, kCheckedFrames);
    std::vector<float> decoded;
    std::vector<double> mine(n * channels);
    std::vector<double*> outs(channels);
    for (std::uint64_t from : {std::uint64_t(0), frames - n}) {
        if (!decoderFrames(reference, from, n, channels, decoded)) return false;
        for (std::uint32_t c = 0; c < channels; ++c)
            outs[c] = mine.data() + c * n;
        block.readFrames(from, n, outs.data(), channels);
        for (std::uint64_t k = 0; k < n; ++k)
            for (std::uint32_t c = 0; c < channels; ++c) {
                const float a = decoded[k * channels + c], b = static_cast<float>(mine[c * n + k]);
                if (std::memcmp(&a, &b, sizeof a) != 0) return false;
            }
    }
    return reference->seek(0) == audio::kNoErr;
}

// Decodes every frame into a temporary file of native floats, which the
// block then maps. 0, a service error code, -1, or kDecodeCancelledError.
OSStatus decodeToTemporaryFile(ExtAudioFile* reference, std::uint64_t frames, DecodeControl* control,
                               std::shared_ptr<SampleBlock>& block) {
    const std::uint32_t channels = reference->clientDataFormat().mChannelsPerFrame;
    if (channels == 0) return -1;
    const std::string folder = decodeCacheFolder();
    const std::uint64_t needed = frames * channels * sizeof(float);
    const std::uint64_t available = availableDiskBytes(folder);
    if (needed > available) {
        const std::string why = "needs " + memorySizeText(needed) + " of disk space in " + folder + "; " +
                                memorySizeText(available) + " are available";
        if (control) control->refusal = why;
        std::fprintf(stderr, "The file %s\n", why.c_str());
        return -1;
    }
    const int fd = unnamedTemporaryFile(folder);
    if (fd < 0) {
        const std::string why = "cannot be decoded: " + std::string(std::strerror(errno)) + " in " + folder;
        if (control) control->refusal = why;
        std::fprintf(stderr, "The file %s\n", why.c_str());
        return -1;
    }
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) ::close(fd);
        }
    } owned{fd};
    if (control) control->framesTotal.store(frames, std::memory_order_relaxed);

    const std::uint32_t chunkFrames = decodeChunkFrames(channels);
    std::vector<float> chunk;
    try {
        chunk.resize(std::size_t(chunkFrames) * channels);
    } catch (const std::bad_alloc&) {
        reportAllocationError();
        return -1;
    }
    std::uint64_t at = 0;
    while (at < frames) {
        if (control && control->cancelRequested.load(std::memory_order_relaxed)) return kDecodeCancelledError;
        const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunkFrames, frames - at));
        audio::AudioBufferList slice;
        slice.mNumberBuffers = 1;
        slice.mBuffers[0].mNumberChannels = channels;
        slice.mBuffers[0].mData = chunk.data();
        slice.mBuffers[0].mDataByteSize = want * channels * 4;
        std::uint32_t got = want;
        const OSStatus r = reference->read(&got, &slice);
        if (r != audio::kNoErr) {
            std::fprintf(stderr, "ExtAudioFileRead Err: \n");
            return r;
        }
        if (got > 0 && !writeAllBytes(fd, chunk.data(), std::size_t(got) * channels * 4)) {
            const std::string why = "cannot be decoded: " + std::string(std::strerror(errno)) + " in " + folder;
            if (control) control->refusal = why;
            std::fprintf(stderr, "The file %s\n", why.c_str());
            return -1;
        }
        at += got;
        if (control) control->framesDone.fetch_add(got, std::memory_order_relaxed);
        if (const std::int64_t pause = gChunkPauseMicroseconds.load(std::memory_order_relaxed))
            std::this_thread::sleep_for(std::chrono::microseconds(pause));
        if (got < want) break; // the end of what the file holds
    }
    if (at != frames) {
        std::fprintf(stderr, "Error: packet count mismatch\n");
        return -1;
    }
    std::string error;
    std::shared_ptr<MappedFile> mapped = MappedFile::adopt(fd, frames * channels * 4, &error);
    owned.fd = -1; // the mapping has it now, or closed it
    if (!mapped) {
        std::fprintf(stderr, "The decoded samples could not be mapped: %s\n", error.c_str());
        return -1;
    }
    SampleEncoding floats;
    floats.kind = SampleEncoding::Kind::Float;
    floats.bytes = 4;
    floats.bigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    floats.channels = channels;
    block = FileSampleBlock::create(std::move(mapped), floats, frames);
    if (!block) return -1;
    if (control) control->decoded = true;
    return audio::kNoErr;
}

// The length checks, then the samples: in place, or decoded.
OSStatus readAllFrames(ExtAudioFile* reference, DecodeControl* control, std::shared_ptr<SampleBlock>& block) {
    const void* file = nullptr;
    std::uint32_t size = sizeof file;
    OSStatus r = reference->getProperty(audio::ext::kAudioFile, &size, &file);
    if (r != audio::kNoErr) {
        platform::log("Unable to open audio file: %li", static_cast<long>(r));
        return r;
    }
    std::int64_t frames = 0;
    size = sizeof frames;
    r = reference->getProperty(audio::ext::kFileLengthFrames, &size, &frames);
    if (r != audio::kNoErr) {
        std::printf("FileLengthFrames error: %lu || Escaping.\n", static_cast<unsigned long>(static_cast<long>(r)));
        return r;
    }
    if (frames < 1) return -1;
    if (setFloatClientFormat(reference, nullptr) != audio::kNoErr) {
        std::fprintf(stderr, "Error setting asbd\n");
        return -1;
    }
    audio::AudioFile* audioFile = reference->audioFile();
    SampleEncoding encoding;
    if (audioFile && inPlaceEncoding(audioFile, encoding)) {
        std::int64_t offset = -1;
        size = sizeof offset;
        const std::uint64_t bytes = std::uint64_t(frames) * encoding.frameBytes();
        if (audioFile->getProperty(audio::file::kDataOffset, &size, &offset) == audio::kNoErr && offset >= 0 &&
            std::int64_t(bytes / encoding.frameBytes()) == frames) {
            std::string error;
            std::shared_ptr<MappedFile> mapped =
                MappedFile::open(audioFile->path(), std::uint64_t(offset), bytes, &error);
            std::shared_ptr<FileSampleBlock> inPlace =
                mapped ? FileSampleBlock::create(std::move(mapped), encoding, std::uint64_t(frames)) : nullptr;
            if (inPlace && agreesWithDecoder(*inPlace, reference)) {
                if (control) {
                    control->framesTotal.store(std::uint64_t(frames), std::memory_order_relaxed);
                    control->framesDone.store(std::uint64_t(frames), std::memory_order_relaxed);
                }
                block = std::move(inPlace);
                return audio::kNoErr;
            }
            Ref<platform::String> text = Ref<platform::String>::adopt(platform::String::create(audioFile->path()));
            platform::log("Samples of %@ are read through the decoder%s%s", text.get(), error.empty() ? "" : ": ",
                          error.c_str());
            if (reference->seek(0) != audio::kNoErr) return -1; // plain PCM: the decode starts at its first frame
        }
    }
    r = decodeToTemporaryFile(reference, std::uint64_t(frames), control, block);
    if (r != audio::kNoErr && r != kDecodeCancelledError) std::fprintf(stderr, "Couldn't get all packets, Escaping\n");
    return r;
}

} // namespace

bool isSupportedAudioFile(const std::string* path, ExtAudioFile* reference, bool byContent) {
    if (!path) return false;
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(*path));
    Ref<platform::String> text = Ref<platform::String>::adopt(platform::String::create(*path));
    bool hasExtension = false;
    const std::string extension = url->pathExtension(&hasExtension);
    // With byContent the name says nothing: only the container counts.
    if (!byContent && !hasExtension) {
        platform::log("Unidentified file extension for path: %@", text.get());
        return false;
    }
    if (!byContent && (extension.empty() || extension.size() > 8)) {
        platform::log("Unrecognized file extension for path: %@", text.get());
        return false;
    }
    audio::FourCharCode type = 0;
    const void* fileID = nullptr;
    std::uint32_t size = sizeof fileID;
    if (reference && reference->getProperty(audio::ext::kAudioFile, &size, &fileID) == audio::kNoErr && fileID) {
        auto* file = static_cast<const audio::AudioFile*>(fileID);
        size = sizeof type;
        if (file->getProperty(audio::file::kFileFormat, &size, &type) != audio::kNoErr) type = 0;
    }
    return type == audio::kAudioFileSoundDesigner2Type || audio::isDecodableContainer(type);
}

bool openAudioFileSamples(const platform::URL* url, AudioFileInformation& information,
                          std::shared_ptr<SampleBlock>& block, std::int32_t& channelCountOut, DecodeControl* control) {
    block.reset();
    if (!url) {
        std::fprintf(stderr, "Invalid URL");
        return false;
    }
    const std::string path = url->standardizedPath();
    Ref<platform::FileManager> files = Ref<platform::FileManager>::adopt(platform::FileManager::create());
    if (!files->fileExistsAtPath(path)) {
        std::fprintf(stderr, "Invalid file at path");
        return false;
    }

    ExtAudioFile* reference = nullptr;
    struct Cleanup { // the open file is returned whatever the outcome
        ExtAudioFile*& reference;
        ~Cleanup() { platform::releaseObject(reference); }
    } cleanup{reference};

    OSStatus status = audio::kNoErr;
    if (path.empty()) {
        std::printf("Unable to open file at path: %s\n", path.c_str());
        status = -1;
    } else if ((status = ExtAudioFile::openURL(url, &reference)) != audio::kNoErr) {
        std::printf("Unable to open file at path: %s\n", path.c_str());
    } else if (!isSupportedAudioFile(&path, reference, control && control->byContent)) {
        std::printf("Removing unsupported/unrecognized file at path: %s\n", path.c_str());
        status = -1;
    } else if (const std::uint32_t channels =
                   reference->audioFile() ? reference->audioFile()->fileDataFormat().mChannelsPerFrame : 0;
               channels > kMaxDocumentChannels) {
        const std::string why = "has " + std::to_string(channels) + " channels; at most " +
                                std::to_string(kMaxDocumentChannels) + " can be opened";
        if (control) control->refusal = why;
        std::fprintf(stderr, "The file %s\n", why.c_str());
        status = -1;
    } else if ((status = readAllFrames(reference, control, block)) != audio::kNoErr) {
        if (status != kDecodeCancelledError) std::fprintf(stderr, "Failed to read sample data for file\n");
    }
    if (status != audio::kNoErr) {
        block.reset();
        if (status == kDecodeCancelledError) { // the user's choice, not a failure
            if (control) control->cancelled = true;
            return false;
        }
        platform::log("Error %li returned when attempting to open: %@", static_cast<long>(status),
                      static_cast<const platform::Object*>(url));
        return false;
    }
    if (!information.get() || !information->read(reference)) {
        platform::log("Error accessing file information from: %@", static_cast<const platform::Object*>(url));
        block.reset();
        return false;
    }
    if (!block || block->frames() == 0 || block->channels() == 0) {
        std::fprintf(stderr, "Empty buffer, Escaping\n");
        block.reset();
        return false;
    }
    channelCountOut = static_cast<std::int32_t>(block->channels());
    return true;
}

} // namespace ZQ
