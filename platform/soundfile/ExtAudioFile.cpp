#include "platform/soundfile/ExtAudioFile.h"

#include "platform/base/Values.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform::audio {

namespace {

template <class T> void appendValue(std::vector<unsigned char>& out, const T& v) {
    auto* p = reinterpret_cast<const unsigned char*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}

AudioStreamBasicDescription floatClientFormat(const AudioStreamBasicDescription& file) {
    AudioStreamBasicDescription d;
    d.mSampleRate = file.mSampleRate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    d.mBytesPerPacket = file.mChannelsPerFrame * 4;
    d.mFramesPerPacket = 1;
    d.mBytesPerFrame = file.mChannelsPerFrame * 4;
    d.mChannelsPerFrame = file.mChannelsPerFrame;
    d.mBitsPerChannel = 32;
    return d;
}

// The decoder stands in for the audio converter; its handle is only ever
// compared, never dereferenced by callers.
int gConverterTag;

} // namespace

OSStatus ExtAudioFile::openURL(const URL* url, ExtAudioFile** out) {
    if (!out) return kParameterError;
    *out = nullptr;
    if (!url || !url->isFileURL()) return kParameterError;
    AudioFile* raw = nullptr;
    OSStatus r = AudioFile::open(url->path(), &raw);
    if (r != kNoErr) return r;
    auto* e = new ExtAudioFile;
    e->file_ = Ref<AudioFile>::adopt(raw);
    e->client_ = floatClientFormat(raw->fileDataFormat());
    *out = e;
    return kNoErr;
}

OSStatus ExtAudioFile::answer(FourCharCode id, std::vector<unsigned char>& out) const {
    using namespace ext;
    const AudioStreamBasicDescription& fileFormat = file_->fileDataFormat();
    switch (id) {
    case kFileDataFormat:
        appendValue(out, fileFormat);
        return kNoErr;
    case kClientDataFormat:
        appendValue(out, client_);
        return kNoErr;
    case kFileChannelLayout:
    case kClientChannelLayout: {
        // The file's own layout, where it has one; none is the service's -1.
        std::uint32_t size = 0;
        if (file_->getPropertyInfo(file::kChannelLayout, &size, nullptr) != kNoErr || size == 0) return -1;
        out.resize(size);
        return file_->getProperty(file::kChannelLayout, &size, out.data());
    }
    case kAudioConverter: {
        const void* converter = clientIsSet_ ? &gConverterTag : nullptr;
        appendValue(out, converter);
        return kNoErr;
    }
    case kAudioFile:
        appendValue(out, static_cast<const void*>(file_.get()));
        return kNoErr;
    case kFileMaxPacketSize:
        appendValue(out, fileFormat.mBytesPerPacket);
        return kNoErr;
    case kClientMaxPacketSize:
        appendValue(out, client_.mBytesPerPacket);
        return kNoErr;
    case kFileLengthFrames:
        appendValue(out, file_->lengthFrames());
        return kNoErr;
    case kConverterConfig:
        appendValue(out, static_cast<const void*>(nullptr));
        return kNoErr;
    case kIOBufferSizeBytes:
        appendValue(out, std::uint32_t(32768));
        return kNoErr;
    case kIOBuffer:
        appendValue(out, static_cast<const void*>(nullptr));
        return kNoErr;
    default:
        return kAudioFileUnsupportedPropertyError;
    }
}

OSStatus ExtAudioFile::getPropertyInfo(FourCharCode id, std::uint32_t* size, std::uint32_t* writable) const {
    std::vector<unsigned char> bytes;
    OSStatus r = answer(id, bytes);
    if (r != kNoErr) return r;
    if (size) *size = static_cast<std::uint32_t>(bytes.size());
    if (writable) *writable = (id == ext::kClientDataFormat || id == ext::kClientChannelLayout) ? 1 : 0;
    return kNoErr;
}

OSStatus ExtAudioFile::getProperty(FourCharCode id, std::uint32_t* ioSize, void* data) const {
    if (!ioSize || !data) return kParameterError;
    std::vector<unsigned char> bytes;
    OSStatus r = answer(id, bytes);
    if (r != kNoErr) return r;
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(*ioSize, bytes.size()));
    std::memcpy(data, bytes.data(), n);
    *ioSize = n;
    return kNoErr;
}

OSStatus ExtAudioFile::setProperty(FourCharCode id, std::uint32_t size, const void* data) {
    if (id != ext::kClientDataFormat) return kAudioFileUnsupportedPropertyError;
    if (!data || size != sizeof(AudioStreamBasicDescription)) return kAudioFileBadPropertySizeError;
    AudioStreamBasicDescription asked;
    std::memcpy(&asked, data, sizeof asked);
    const AudioStreamBasicDescription offered = floatClientFormat(file_->fileDataFormat());
    if (asked.mFormatID != offered.mFormatID || asked.mFormatFlags != offered.mFormatFlags ||
        asked.mBitsPerChannel != 32 || asked.mChannelsPerFrame != offered.mChannelsPerFrame ||
        asked.mBytesPerFrame != offered.mBytesPerFrame || asked.mBytesPerPacket != offered.mBytesPerPacket ||
        asked.mFramesPerPacket != 1 || asked.mSampleRate != offered.mSampleRate)
        return kExtAudioFileInvalidDataFormatError;
    client_ = asked;
    clientIsSet_ = true;
    return kNoErr;
}

OSStatus ExtAudioFile::read(std::uint32_t* ioFrames, AudioBufferList* list) {
    if (!ioFrames || !list || list->mNumberBuffers < 1) return kParameterError;
    AudioBuffer& b = list->mBuffers[0];
    const std::uint32_t bytesPerFrame = client_.mBytesPerFrame;
    if (bytesPerFrame == 0) return kParameterError;
    std::uint64_t room = b.mData ? b.mDataByteSize / bytesPerFrame : 0;
    std::uint32_t want = static_cast<std::uint32_t>(std::min<std::uint64_t>(*ioFrames, room));
    std::uint64_t delivered = 0;
    auto* out = static_cast<float*>(b.mData);
    // libsndfile's frame counts are signed; read in slices it handles well.
    while (delivered < want) {
        std::uint32_t slice = static_cast<std::uint32_t>(std::min<std::uint64_t>(want - delivered, 1u << 24));
        std::uint32_t got = slice;
        OSStatus r = file_->readFloat(&got, out + delivered * client_.mChannelsPerFrame);
        if (r != kNoErr) {
            *ioFrames = 0;
            b.mDataByteSize = 0;
            return r;
        }
        delivered += got;
        if (got < slice) break;
    }
    *ioFrames = static_cast<std::uint32_t>(delivered);
    b.mDataByteSize = delivered * bytesPerFrame;
    return kNoErr;
}

OSStatus ExtAudioFile::seek(std::int64_t frame) {
    if (frame < 0) return kParameterError;
    return file_->seek(frame);
}

} // namespace platform::audio
