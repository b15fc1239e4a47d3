#include "audiofile/AudioFileReader.h"

#include "core/allocator.h"
#include "platform/base/FileManager.h"
#include "platform/base/Format.h"
#include "platform/base/Values.h"
#include "platform/soundfile/ExtAudioFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace ZQ {

namespace audio = platform::audio;
using platform::Ref;

namespace {
// Where a decode of an unconfirmed length starts; it doubles from there.
constexpr std::uint64_t kFirstGrowingBlockFrames = 1 << 16;
} // namespace

OSStatus AllocateAudioBufferList(AudioBufferList& list, ExtAudioFile* reference, std::uint32_t frames) {
    audio::AudioStreamBasicDescription fileFormat;
    std::uint32_t size = sizeof fileFormat;
    OSStatus r = reference->getProperty(audio::ext::kFileDataFormat, &size, &fileFormat);
    audio::AudioStreamBasicDescription client;
    if (r == audio::kNoErr) {
        // Only the encoding changes: the file's own rate and channel count.
        client.mSampleRate = fileFormat.mSampleRate;
        client.mFormatID = audio::kAudioFormatLinearPCM;
        client.mFormatFlags = audio::kAudioFormatFlagIsFloat | audio::kAudioFormatFlagIsPacked;
        client.mBytesPerPacket = fileFormat.mChannelsPerFrame * 4;
        client.mFramesPerPacket = 1;
        client.mBytesPerFrame = fileFormat.mChannelsPerFrame * 4;
        client.mChannelsPerFrame = fileFormat.mChannelsPerFrame;
        client.mBitsPerChannel = 32;
        client.mReserved = 0;
        r = reference->setProperty(audio::ext::kClientDataFormat, sizeof client, &client);
    }
    if (r != audio::kNoErr) {
        std::fprintf(stderr, "Error setting asbd\n");
        return r;
    }

    list.mNumberBuffers = 1;
    audio::AudioBuffer& b = list.mBuffers[0];
    b.mNumberChannels = client.mChannelsPerFrame;
    const std::uint64_t bytesPerFrame = std::uint64_t(client.mChannelsPerFrame) * 4;
    // A length the sample data cannot hold (a codec's claimed frame count, say)
    // gets no block of that size: the decode grows its block as frames arrive.
    const std::int64_t room = reference->audioFile() ? reference->audioFile()->framesTheDataCanHold() : -1;
    const bool trusted = room >= 0 && std::uint64_t(frames) <= std::uint64_t(room);
    std::uint64_t capacity = trusted ? frames : std::min<std::uint64_t>(frames, kFirstGrowingBlockFrames);
    b.mDataByteSize = capacity * bytesPerFrame;
    b.mData = b.mDataByteSize ? allocateZeroedArray(b.mDataByteSize) : nullptr;
    if (!b.mData) {
        b.mDataByteSize = 0;
        std::fprintf(stderr, "AllocateAudioBufferList: allocation error. Escaping\n");
        std::fprintf(stderr, "An error was encountered while allocating a buffer. Escaping.\n");
        return -1;
    }

    std::uint64_t delivered = 0;
    for (;;) {
        // One frame more than the length is asked for; the buffer's size caps
        // what the service may deliver at the reported length.
        const std::uint64_t want = capacity - delivered;
        AudioBufferList slice;
        slice.mNumberBuffers = 1;
        slice.mBuffers[0].mNumberChannels = b.mNumberChannels;
        slice.mBuffers[0].mData = static_cast<unsigned char*>(b.mData) + delivered * bytesPerFrame;
        slice.mBuffers[0].mDataByteSize = want * bytesPerFrame;
        std::uint32_t got = frames + 1 > frames ? frames + 1 : frames;
        r = reference->read(&got, &slice);
        if (r != audio::kNoErr) {
            b.mDataByteSize = delivered * bytesPerFrame;
            std::fprintf(stderr, "ExtAudioFileRead Err: \n");
            return r;
        }
        delivered += got;
        if (got < want || delivered >= frames) break; // the end, or all of it
        const std::uint64_t grown = std::min<std::uint64_t>(frames, capacity * 2);
        void* bigger = allocateZeroedArray(grown * bytesPerFrame);
        if (!bigger) {
            b.mDataByteSize = delivered * bytesPerFrame;
            std::fprintf(stderr, "AllocateAudioBufferList: allocation error. Escaping\n");
            std::fprintf(stderr, "An error was encountered while allocating a buffer. Escaping.\n");
            return -1;
        }
        std::memcpy(bigger, b.mData, delivered * bytesPerFrame);
        freeZeroedArray(b.mData);
        b.mData = bigger;
        capacity = grown;
    }
    b.mDataByteSize = delivered * bytesPerFrame;
    if (delivered == 0 || delivered == frames) return audio::kNoErr;
    std::fprintf(stderr, "Error: packet count mismatch\n");
    return -1;
}

void DisposeAudioBufferListData(AudioBufferList& list) {
    if (list.mNumberBuffers == 0) {
        std::fprintf(stderr, "DisposeAudioBufferListData: No buffers reported, Escaping\n");
        return;
    }
    audio::AudioBuffer& b = list.mBuffers[0];
    if (b.mData) freeZeroedArray(b.mData);
    b = audio::AudioBuffer{};
    list.mNumberBuffers = 0;
}

OSStatus readAllFrames(AudioBufferList& list, ExtAudioFile* reference) {
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
    r = AllocateAudioBufferList(list, reference, static_cast<std::uint32_t>(frames));
    if (r != audio::kNoErr) {
        std::fprintf(stderr, "Couldn't get all packets, Escaping\n");
        return r;
    }
    return audio::kNoErr;
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
           type == audio::kAudioFileSoundDesigner2Type || type == audio::kAudioFileCAFType;
}

OSStatus openAudioFileList(AudioBufferList& list, const std::string* paths, std::size_t count,
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
    OSStatus r = readAllFrames(list, references[first]);
    if (r != audio::kNoErr) {
        std::fprintf(stderr, "Failed to read sample data for file\n");
        return r;
    }
    return audio::kNoErr;
}

bool readAudioFileSamples(const platform::URL* url, AudioFileInformation& information, FloatSampleBuffer* outputs,
                          std::uint16_t limit, std::int32_t& channelCountOut) {
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

    AudioBufferList list;
    ExtAudioFile* reference = nullptr;
    // Whatever the outcome, the decoded block and the open file are returned
    // (the block only when one was allocated).
    struct Cleanup {
        AudioBufferList& list;
        ExtAudioFile*& reference;
        ~Cleanup() {
            if (list.mNumberBuffers) DisposeAudioBufferListData(list);
            platform::releaseObject(reference);
        }
    } cleanup{list, reference};

    OSStatus status = openAudioFileList(list, &path, 1, &reference);
    if (status != audio::kNoErr) {
        platform::log("Error %li returned when attempting to open: %@", static_cast<long>(status),
                      static_cast<const platform::Object*>(url));
        return false;
    }
    if (!information.get() || !information->read(reference)) {
        platform::log("Error accessing file information from: %@", static_cast<const platform::Object*>(url));
        return false;
    }
    platform::releaseObject(reference);
    reference = nullptr;

    const audio::AudioBuffer& b = list.mBuffers[0];
    if (b.mDataByteSize == 0 || b.mNumberChannels == 0) {
        std::fprintf(stderr, "Empty buffer, Escaping\n");
        return false;
    }
    const std::uint32_t channels = b.mNumberChannels;
    channelCountOut = static_cast<std::int32_t>(channels);
    const auto* interleaved = static_cast<const float*>(b.mData);
    const std::uint64_t frames = (b.mDataByteSize / 4) / channels;
    for (std::uint32_t c = 0; c < limit; ++c) {
        if (c >= channels) {
            outputs[c].release();
            continue;
        }
        if (!outputs[c].allocate(Num::Count(frames))) continue; // a fresh, zeroed block
        float* out = outputs[c].data();
        const float* in = interleaved + c;
        for (std::uint64_t k = 0; k < frames; ++k, in += channels)
            out[k] = *in;
    }
    DisposeAudioBufferListData(list);
    return true;
}

} // namespace ZQ
