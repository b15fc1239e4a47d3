#include "audiofile/AudioFileReader.h"

#include "core/allocator.h"
#include "platform/base/FileManager.h"
#include "platform/base/Format.h"
#include "platform/base/Values.h"
#include "platform/soundfile/ExtAudioFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace ZQ {

namespace audio = platform::audio;
using platform::Ref;

namespace {
// Where a decode of an unconfirmed length starts; it doubles from there.
constexpr std::uint64_t kFirstGrowingBlockFrames = 1 << 16;
// The most one chunk of interleaved floats takes, whatever the channel count.
constexpr std::uint64_t kMaxChunkBytes = 1 << 20;

std::atomic<std::uint64_t> gTestMemory{0};
// Memory promised to decodes that passed the check but have not yet written
// it: the system counts a page only once it is touched, so opens checked at
// the same moment must not all be promised the same memory.
std::atomic<std::uint64_t> gPromisedBytes{0};
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

void releaseOutputs(DecodeTarget& t) {
    for (std::uint16_t c = 0; c < t.limit; ++c)
        t.outputs[c].release();
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

// What one worker did: its status and the frames it delivered.
struct RangeResult {
    OSStatus status = audio::kNoErr;
    std::uint64_t delivered = 0;
    bool outOfMemory = false;
};

// Decodes frames [from, to) from `reference`, which stands at `from`, a chunk
// at a time into the target's first `kept` channels. With `capacity` the
// channels may be shorter than `to` and grow (doubling) as frames arrive.
RangeResult decodeRange(ExtAudioFile* reference, DecodeTarget& t, std::uint32_t kept, std::uint64_t from,
                        std::uint64_t to, std::uint64_t* capacity) {
    RangeResult result;
    const std::uint32_t channels = t.channels;
    const std::uint32_t chunkFrames = decodeChunkFrames(channels);
    FloatSampleBuffer chunk;
    if (!chunk.allocate(Num::Count(std::uint64_t(chunkFrames) * channels))) {
        result.outOfMemory = true;
        return result;
    }
    std::uint64_t at = from;
    while (at < to) {
        if (t.control && t.control->cancelRequested.load(std::memory_order_relaxed)) {
            result.status = kDecodeCancelledError;
            break;
        }
        const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunkFrames, to - at));
        if (capacity && at + want > *capacity) {
            const std::uint64_t grown = std::min<std::uint64_t>(to, std::max(*capacity * 2, at + want));
            for (std::uint32_t c = 0; c < kept; ++c)
                if (!t.outputs[c].resize(Num::Count(grown))) result.outOfMemory = true;
            if (result.outOfMemory) break;
            *capacity = grown;
        }
        audio::AudioBufferList slice;
        slice.mNumberBuffers = 1;
        slice.mBuffers[0].mNumberChannels = channels;
        slice.mBuffers[0].mData = chunk.data();
        slice.mBuffers[0].mDataByteSize = std::uint64_t(want) * channels * 4;
        std::uint32_t got = want;
        const OSStatus r = reference->read(&got, &slice);
        if (r != audio::kNoErr) {
            result.status = r;
            break;
        }
        // De-interleaved and widened: each value exactly the float the decoder gave.
        for (std::uint32_t c = 0; c < kept; ++c) {
            double* out = t.outputs[c].data() + at;
            const float* in = chunk.data() + c;
            for (std::uint32_t k = 0; k < got; ++k)
                out[k] = static_cast<double>(in[std::size_t(k) * channels]);
        }
        at += got;
        if (t.control) t.control->framesDone.fetch_add(got, std::memory_order_relaxed);
        if (t.promised.load(std::memory_order_relaxed) > 0) { // what is written now counts as used
            const std::uint64_t written = std::uint64_t(got) * kept * sizeof(double);
            std::uint64_t left = t.promised.load();
            while (left > 0 && !t.promised.compare_exchange_weak(left, left - std::min(left, written))) {
            }
            gPromisedBytes.fetch_sub(std::min(left, written));
        }
        if (const std::int64_t pause = gChunkPauseMicroseconds.load(std::memory_order_relaxed))
            std::this_thread::sleep_for(std::chrono::microseconds(pause));
        if (got < want) break; // the end of what the file holds
    }
    result.delivered = at - from;
    return result;
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

OSStatus decodeAllFrames(DecodeTarget& t, ExtAudioFile* reference, std::uint32_t frames) {
    std::uint32_t channels = 0;
    OSStatus r = setFloatClientFormat(reference, &channels);
    if (r != audio::kNoErr) {
        std::fprintf(stderr, "Error setting asbd\n");
        return r;
    }
    t.channels = channels;
    t.delivered = 0;
    const std::uint32_t kept = std::min<std::uint32_t>(channels, t.limit);
    releaseOutputs(t); // before the new blocks: never two documents' worth at once
    if (channels == 0) return audio::kNoErr;

    // A length the sample data cannot hold (a codec's claimed frame count, say)
    // gets no block of that size: the decode grows its block as frames arrive.
    audio::AudioFile* file = reference->audioFile();
    const std::int64_t room = file ? file->framesTheDataCanHold() : -1;
    const bool trusted = room >= 0 && std::uint64_t(frames) <= std::uint64_t(room);
    std::uint64_t capacity = trusted ? frames : std::min<std::uint64_t>(frames, kFirstGrowingBlockFrames);
    for (std::uint32_t c = 0; c < kept; ++c) {
        if (t.outputs[c].allocate(Num::Count(capacity))) continue;
        releaseOutputs(t);
        reportAllocationError();
        return -1;
    }
    if (t.control) t.control->framesTotal.store(frames, std::memory_order_relaxed);

    // Two workers where a seek lands exactly on a frame: plain PCM and float.
    const bool seekable = trusted && file && file->fileDataFormat().mFormatID == audio::kAudioFormatLinearPCM;
    const int asked = t.control ? t.control->workers : 0;
    const bool twoWorkers = seekable && frames >= 2 && (asked == 2 || (asked == 0 && frames >= kTwoWorkerMinFrames));

    RangeResult first, second;
    bool secondRan = false;
    if (twoWorkers) {
        const std::uint64_t split = frames / 2;
        std::thread other([&] {
            // Its own file handle: a decoder's position belongs to one reader.
            Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(t.path));
            ExtAudioFile* own = nullptr;
            if (ExtAudioFile::openURL(url.get(), &own) != audio::kNoErr) return;
            Ref<ExtAudioFile> held = Ref<ExtAudioFile>::adopt(own);
            std::uint32_t ownChannels = 0;
            if (setFloatClientFormat(own, &ownChannels) != audio::kNoErr || ownChannels != channels ||
                own->seek(std::int64_t(split)) != audio::kNoErr)
                return;
            second = decodeRange(own, t, kept, split, frames, nullptr);
            secondRan = true;
        });
        first = decodeRange(reference, t, kept, 0, split, nullptr);
        other.join();
        // Where the second handle could not be had, the first goes on alone.
        if (!secondRan && first.status == audio::kNoErr && !first.outOfMemory && first.delivered == split)
            second = decodeRange(reference, t, kept, split, frames, nullptr);
        if (first.delivered < split) second = RangeResult{second.status, 0, second.outOfMemory};
    } else {
        first = decodeRange(reference, t, kept, 0, frames, trusted ? nullptr : &capacity);
    }
    if (t.control) t.control->workersUsed = twoWorkers && secondRan ? 2 : 1;

    const std::uint64_t delivered = first.delivered + second.delivered;
    const OSStatus status = first.status != audio::kNoErr ? first.status : second.status;
    if (status == kDecodeCancelledError) {
        releaseOutputs(t);
        return status;
    }
    if (first.outOfMemory || second.outOfMemory) {
        releaseOutputs(t);
        reportAllocationError();
        return -1;
    }
    if (status != audio::kNoErr) {
        releaseOutputs(t);
        std::fprintf(stderr, "ExtAudioFileRead Err: \n");
        return status;
    }
    if (delivered == 0) { // counts as complete; the caller finds nothing to keep
        releaseOutputs(t);
        return audio::kNoErr;
    }
    if (delivered != frames) {
        releaseOutputs(t);
        std::fprintf(stderr, "Error: packet count mismatch\n");
        return -1;
    }
    for (std::uint32_t c = 0; c < kept; ++c) // a grown block may be longer than the file
        if (t.outputs[c].count().v_ != delivered && !t.outputs[c].resize(Num::Count(delivered))) {
            releaseOutputs(t);
            reportAllocationError();
            return -1;
        }
    t.delivered = delivered;
    if (t.control) t.control->framesTotal.store(delivered, std::memory_order_relaxed);
    return audio::kNoErr;
}

OSStatus readAllFrames(DecodeTarget& t, ExtAudioFile* reference) {
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
    if (frames >= 4294967296LL) {
        std::printf("File is too large: %lu frames\n", static_cast<unsigned long>(frames));
        return -1;
    }
    // A length the data can hold is what the channels will take: refused
    // before anything is allocated when it cannot fit.
    const audio::AudioFile* audioFile = reference->audioFile();
    const std::int64_t room = audioFile ? audioFile->framesTheDataCanHold() : -1;
    if (room >= 0 && frames <= room) {
        const std::uint64_t kept = std::min<std::uint64_t>(audioFile->fileDataFormat().mChannelsPerFrame, t.limit);
        const std::uint64_t needed = std::uint64_t(frames) * kept * sizeof(double);
        const std::uint64_t system = availableMemoryBytes(), promised = gPromisedBytes.load();
        const std::uint64_t available = system > promised ? system - promised : 0;
        if (needed > available) {
            const std::string why =
                "needs " + memorySizeText(needed) + " of memory; " + memorySizeText(available) + " are available";
            if (t.control) t.control->refusal = why;
            std::fprintf(stderr, "The file %s\n", why.c_str());
            return -1;
        }
    }
    if (room >= 0 && frames <= room) {
        const std::uint64_t kept = std::min<std::uint64_t>(audioFile->fileDataFormat().mChannelsPerFrame, t.limit);
        t.promised.store(std::uint64_t(frames) * kept * sizeof(double));
        gPromisedBytes.fetch_add(t.promised.load());
    }
    r = decodeAllFrames(t, reference, static_cast<std::uint32_t>(frames));
    gPromisedBytes.fetch_sub(t.promised.exchange(0)); // whatever was not written: failed, cancelled or short
    if (r != audio::kNoErr && r != kDecodeCancelledError) std::fprintf(stderr, "Couldn't get all packets, Escaping\n");
    return r;
}

bool isSupportedAudioFile(const std::string* path, ExtAudioFile* reference) {
    if (!path) return false;
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(*path));
    Ref<platform::String> text = Ref<platform::String>::adopt(platform::String::create(*path));
    bool hasExtension = false;
    const std::string extension = url->pathExtension(&hasExtension);
    if (!hasExtension) {
        platform::log("Unidentified file extension for path: %@", text.get());
        return false;
    }
    if (extension.empty() || extension.size() > 8) {
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
    return type == audio::kAudioFileAIFFType || type == audio::kAudioFileWAVEType ||
           type == audio::kAudioFileRF64Type || type == audio::kAudioFileBW64Type ||
           type == audio::kAudioFileSoundDesigner2Type || type == audio::kAudioFileCAFType;
}

OSStatus openAudioFileList(DecodeTarget& target, const std::string* paths, std::size_t count,
                           ExtAudioFile** references) {
    std::vector<bool> valid(count, false);
    std::size_t removed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        references[i] = nullptr;
        const std::string& path = paths[i];
        if (path.empty()) {
            std::printf("Unable to open file at path: %s\n", path.c_str());
            return -1;
        }
        Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
        OSStatus r = ExtAudioFile::openURL(url.get(), &references[i]);
        if (r != audio::kNoErr) {
            std::printf("Unable to open file at path: %s\n", path.c_str());
            return r;
        }
        valid[i] = isSupportedAudioFile(&path, references[i]);
        if (!valid[i]) {
            std::printf("Removing unsupported/unrecognized file at path: %s\n", path.c_str());
            platform::releaseObject(references[i]);
            references[i] = nullptr;
            ++removed;
        }
    }
    if (removed == count) return -1;
    std::size_t first = 0;
    while (!valid[first])
        ++first;
    target.path = paths[first];
    OSStatus r = readAllFrames(target, references[first]);
    if (r != audio::kNoErr) {
        if (r != kDecodeCancelledError) std::fprintf(stderr, "Failed to read sample data for file\n");
        return r;
    }
    return audio::kNoErr;
}

bool readAudioFileSamples(const platform::URL* url, AudioFileInformation& information, SampleBuffer* outputs,
                          std::uint16_t limit, std::int32_t& channelCountOut, DecodeControl* control) {
    if (!url) {
        std::fprintf(stderr, "Invalid URL");
        return false;
    }
    DecodeTarget target;
    target.outputs = outputs;
    target.limit = limit;
    target.control = control;
    const std::string path = url->standardizedPath();
    Ref<platform::FileManager> files = Ref<platform::FileManager>::adopt(platform::FileManager::create());
    if (!files->fileExistsAtPath(path)) {
        std::fprintf(stderr, "Invalid file at path");
        releaseOutputs(target);
        return false;
    }

    ExtAudioFile* reference = nullptr;
    struct Cleanup { // the open file is returned whatever the outcome
        ExtAudioFile*& reference;
        ~Cleanup() { platform::releaseObject(reference); }
    } cleanup{reference};

    OSStatus status = openAudioFileList(target, &path, 1, &reference);
    if (status != audio::kNoErr) {
        releaseOutputs(target);
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
        releaseOutputs(target);
        return false;
    }
    platform::releaseObject(reference);
    reference = nullptr;

    if (target.delivered == 0 || target.channels == 0) {
        std::fprintf(stderr, "Empty buffer, Escaping\n");
        releaseOutputs(target);
        return false;
    }
    channelCountOut = static_cast<std::int32_t>(target.channels);
    return true;
}

} // namespace ZQ
