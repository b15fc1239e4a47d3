#include "audiofile/AudioFileInformation.h"

#include "core/allocator.h"
#include "platform/base/Format.h"
#include "platform/base/Values.h"
#include "platform/soundfile/AudioFile.h"
#include "platform/soundfile/ExtAudioFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

namespace ZQ {

namespace audio = platform::audio;
using audio::fourcc;

namespace {

void releaseMarkerNames(AudioFileMarker* markers, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        platform::releaseObject(markers[i].mName);
        markers[i].mName = nullptr;
    }
}

// The two services the record reads from, behind one face.
class PropertySource {
public:
    PropertySource(audio::ExtAudioFile* ext, audio::AudioFile* file) : ext_(ext), file_(file) {}
    OSStatus info(FourCharCode id, std::uint32_t* size, std::uint32_t* writable) const {
        return ext_ ? ext_->getPropertyInfo(id, size, writable) : file_->getPropertyInfo(id, size, writable);
    }
    OSStatus get(FourCharCode id, std::uint32_t* ioSize, void* data) const {
        return ext_ ? ext_->getProperty(id, ioSize, data) : file_->getProperty(id, ioSize, data);
    }
    const char* overwriteText() const {
        return ext_ ? "Overwrite in property request (ExtAudioFile): "
                    : "Overwrite in property request (AudioFileID): ";
    }

private:
    audio::ExtAudioFile* ext_;
    audio::AudioFile* file_;
};

std::uint8_t flagsFor(bool ok, std::uint32_t writable) {
    return ok ? static_cast<std::uint8_t>(kPropertyPresent | kPropertyRead | (writable ? kPropertyWritable : 0)) : 0;
}

void reportOverwrite(const PropertySource& src, FourCharCode id) {
    std::printf("%s%u\n", src.overwriteText(), id);
    std::printf("%c%c%c%c\n", char(id >> 24), char(id >> 16), char(id >> 8), char(id));
}

template <class T> void readFixed(const PropertySource& src, FourCharCode id, T& value, std::uint8_t& flags) {
    flags = 0;
    std::uint32_t size = 0, writable = 0;
    OSStatus r = src.info(id, &size, &writable);
    reportPropertyError(id, r);
    if (r != audio::kNoErr) return;
    std::uint32_t io = sizeof(T);
    OSStatus g = src.get(id, &io, &value); // never more than the slot holds
    reportPropertyError(id, g);
    if (size > sizeof(T)) reportOverwrite(src, id); // the truncated value is kept
    flags = flagsFor(g == audio::kNoErr, writable);
}

template <class T> void readReference(const PropertySource& src, FourCharCode id, ReferenceSlot<T>& slot) {
    slot.reset();
    platform::Object* raw = nullptr;
    readFixed(src, id, raw, slot.flags);
    if (!slot.isPresent()) {
        platform::releaseObject(raw);
        return;
    }
    slot.value = dynamic_cast<T*>(raw);
    if (!slot.value) { // not the kind the slot holds: keep nothing
        platform::releaseObject(raw);
        slot.flags = 0;
    }
}

template <class B> void readBuffer(const PropertySource& src, FourCharCode id, BufferSlot<B>& slot) {
    slot.flags = 0;
    std::uint32_t size = 0, writable = 0;
    OSStatus r = src.info(id, &size, &writable);
    reportPropertyError(id, r);
    if (r != audio::kNoErr) {
        slot.value.clear();
        return;
    }
    switch (slot.value.prepare(size)) {
    case Prepared::kEmpty:
        slot.flags = flagsFor(true, writable);
        return;
    case Prepared::kTooSmall:
    case Prepared::kMisfit:
        return;
    case Prepared::kReady:
        break;
    }
    std::uint32_t io = size;
    OSStatus g = src.get(id, &io, slot.value.data());
    reportPropertyError(id, g);
    slot.flags = flagsFor(g == audio::kNoErr, writable);
}

template <class T> void readList(const PropertySource& src, FourCharCode id, ListSlot<T>& slot) {
    slot.flags = 0;
    std::uint32_t size = 0, writable = 0;
    OSStatus r = src.info(id, &size, &writable);
    reportPropertyError(id, r);
    if (r != audio::kNoErr) {
        slot.value.resize(0);
        return;
    }
    slot.value.resize(size / sizeof(T));
    if (slot.value.count() == 0) { // smaller than one item: an empty list
        slot.flags = flagsFor(true, writable);
        return;
    }
    std::uint32_t io = static_cast<std::uint32_t>(slot.value.count() * sizeof(T));
    OSStatus g = src.get(id, &io, slot.value.data());
    reportPropertyError(id, g);
    slot.flags = flagsFor(g == audio::kNoErr, writable);
}

bool isSilent(FourCharCode property, OSStatus result) {
    const auto pty = static_cast<OSStatus>(fourcc("pty?"));
    const auto chk = static_cast<OSStatus>(fourcc("chk?"));
    if (property == fourcc("fclo") || property == fourcc("cclo")) return result == -1;
    if (property == fourcc("mgic")) return result == pty || result == chk;
    if (property == fourcc("cmap")) return result == chk;
    if (property == fourcc("fnam") || property == fourcc("rgls") || property == fourcc("rgmk") ||
        property == fourcc("pnfo") || property == fourcc("rsrv"))
        return result == pty;
    return false;
}

} // namespace

template <class T> void ReferenceSlot<T>::reset() {
    platform::releaseObject(value);
    value = nullptr;
    flags = 0;
}
template struct ReferenceSlot<platform::String>;
template struct ReferenceSlot<platform::Dictionary>;

template <class Header, class Item> void VariableBuffer<Header, Item>::clear() {
    sync_guard g(this);
    if (!block_) return;
    if constexpr (std::is_same_v<Item, AudioFileMarker>)
        releaseMarkerNames(reinterpret_cast<AudioFileMarker*>(static_cast<unsigned char*>(block_) + kHeaderSize),
                           capacity());
    freeZeroedArray(block_);
    block_ = nullptr;
    size_ = 0;
}

template <class Header, class Item> Prepared VariableBuffer<Header, Item>::prepare(std::uint32_t size) {
    sync_guard g(this);
    clear();
    if (size == 0) return Prepared::kEmpty;
    if (size < kHeaderSize) {
        std::printf("totalSizeOfObjectInBytes(%u) < baseObjectSize(%zu)\n", size, kHeaderSize);
        return Prepared::kTooSmall;
    }
    if ((size - kHeaderSize) % kItemSize != 0) return Prepared::kMisfit;
    block_ = allocateZeroedArray(size);
    if (!block_) return Prepared::kMisfit;
    size_ = size;
    return Prepared::kReady;
}

template class VariableBuffer<AudioChannelLayoutHeader, AudioChannelDescription>;
template class VariableBuffer<AudioFileMarkerListHeader, AudioFileMarker>;

template <class Item> void PropertyList<Item>::resize(std::size_t count) {
    sync_guard g(this);
    if constexpr (std::is_same_v<Item, AudioFileRegion>) {
        for (std::size_t i = count; i < items_.size(); ++i) {
            platform::releaseObject(items_[i].mName);
            releaseMarkerNames(items_[i].mMarkers, 1);
        }
        // Kept items are read again: their names go too.
        for (std::size_t i = 0; i < std::min(count, items_.size()); ++i) {
            platform::releaseObject(items_[i].mName);
            releaseMarkerNames(items_[i].mMarkers, 1);
            items_[i] = Item{};
        }
    } else {
        for (std::size_t i = 0; i < std::min(count, items_.size()); ++i)
            items_[i] = Item{};
    }
    items_.resize(count);
}

template class PropertyList<AudioFormatListItem>;
template class PropertyList<AudioFileRegion>;
template class PropertyList<AudioFileMarker>;
template class PropertyList<std::uint32_t>;

void reportPropertyError(FourCharCode property, OSStatus result) {
    if (result == 0 || isSilent(property, result)) return;
    const auto r = static_cast<std::uint32_t>(result);
    std::printf(" -==== Error accessing property: %c%c%c%c : %li (%c%c%c%c)\n", char(property >> 24),
                char(property >> 16), char(property >> 8), char(property), static_cast<long>(result), char(r >> 24),
                char(r >> 16), char(r >> 8), char(r));
}

void AudioFileInformationData::clearAudioFileSlots() {
    fileFormat.flags = dataFormat.flags = isOptimized.flags = magicCookie.flags = 0;
    audioDataByteCount.flags = audioDataPacketCount.flags = maximumPacketSize.flags = dataOffset.flags = 0;
    deferSizeUpdates.flags = packetTableInfo.flags = packetSizeUpperBound.flags = 0;
    reserveDuration.flags = estimatedDuration.flags = bitRate.flags = 0;
    formatList.value.resize(0);
    formatList.flags = 0;
    channelLayout.value.clear();
    channelLayout.flags = 0;
    dataFormatName.reset();
    markerList.value.clear();
    markerList.flags = 0;
    regionList.value.resize(0);
    regionList.flags = 0;
    regionMarkers.value.resize(0);
    regionMarkers.flags = 0;
    chunkIDs.value.resize(0);
    chunkIDs.flags = 0;
    infoDictionary.reset();
}

bool AudioFileInformationData::read(audio::ExtAudioFile* handle) {
    if (!handle) return false;
    sync_guard g(this);
    namespace x = audio::ext;
    namespace f = audio::file;
    const PropertySource ext(handle, nullptr);
    readFixed(ext, x::kFileDataFormat, fileDataFormat.value, fileDataFormat.flags);
    readBuffer(ext, x::kFileChannelLayout, fileChannelLayout);
    readFixed(ext, x::kClientDataFormat, clientDataFormat.value, clientDataFormat.flags);
    readBuffer(ext, x::kClientChannelLayout, clientChannelLayout);
    readFixed(ext, x::kAudioConverter, audioConverter.value, audioConverter.flags);
    readFixed(ext, x::kAudioFile, audioFile.value, audioFile.flags);
    readFixed(ext, x::kFileMaxPacketSize, fileMaxPacketSize.value, fileMaxPacketSize.flags);
    readFixed(ext, x::kClientMaxPacketSize, clientMaxPacketSize.value, clientMaxPacketSize.flags);
    readFixed(ext, x::kFileLengthFrames, fileLength.value, fileLength.flags);
    readFixed(ext, x::kConverterConfig, converterConfig.value, converterConfig.flags);
    readFixed(ext, x::kIOBufferSizeBytes, ioBufferSizeBytes.value, ioBufferSizeBytes.flags);
    readFixed(ext, x::kIOBuffer, ioBuffer.value, ioBuffer.flags);

    // The audio file the handle reads; its slots stay empty without one.
    auto* file = audioFile.isPresent() ? static_cast<audio::AudioFile*>(const_cast<void*>(audioFile.value)) : nullptr;
    if (file != handle->audioFile()) file = nullptr; // only the handle's own file is trusted
    if (!file) {
        clearAudioFileSlots();
        return true;
    }
    const PropertySource af(nullptr, file);
    readFixed(af, f::kFileFormat, fileFormat.value, fileFormat.flags);
    readFixed(af, f::kDataFormat, dataFormat.value, dataFormat.flags);
    readList(af, f::kFormatList, formatList);
    readFixed(af, f::kIsOptimized, isOptimized.value, isOptimized.flags);
    readFixed(af, f::kMagicCookieData, magicCookie.value, magicCookie.flags);
    readFixed(af, f::kAudioDataByteCount, audioDataByteCount.value, audioDataByteCount.flags);
    readFixed(af, f::kAudioDataPacketCount, audioDataPacketCount.value, audioDataPacketCount.flags);
    readFixed(af, f::kMaximumPacketSize, maximumPacketSize.value, maximumPacketSize.flags);
    readFixed(af, f::kDataOffset, dataOffset.value, dataOffset.flags);
    readBuffer(af, f::kChannelLayout, channelLayout);
    readFixed(af, f::kDeferSizeUpdates, deferSizeUpdates.value, deferSizeUpdates.flags);
    readReference(af, f::kDataFormatName, dataFormatName);
    readBuffer(af, f::kMarkerList, markerList);
    readList(af, f::kRegionList, regionList);
    readList(af, f::kRegionMarkers, regionMarkers);
    readList(af, f::kChunkIDs, chunkIDs);
    readReference(af, f::kInfoDictionary, infoDictionary);
    readFixed(af, f::kPacketTableInfo, packetTableInfo.value, packetTableInfo.flags);
    readFixed(af, f::kPacketSizeUpperBound, packetSizeUpperBound.value, packetSizeUpperBound.flags);
    readFixed(af, f::kReserveDuration, reserveDuration.value, reserveDuration.flags);
    readFixed(af, f::kEstimatedDuration, estimatedDuration.value, estimatedDuration.flags);
    readFixed(af, f::kBitRate, bitRate.value, bitRate.flags);
    return true;
}

bool AudioFileInformationData::copyPropertiesTo(const void*) const {
    std::printf("Copy properties to destination: Temporarily disabled\n");
    return false;
}

std::string formatName(FourCharCode type) {
    static const char* const kNames[] = {"3gp2", "3gpp", "AIFC", "AIFF", "BW64", "MPG1", "MPG2",
                                         "MPG3", "NeXT", "OggS", "RF64", "Sd2f", "W64f", "WAVE",
                                         "ac-3", "adts", "amrf", "caff", "flac", "m4af", "mp4f"};
    for (const char* name : kNames) {
        const FourCharCode code = (FourCharCode(std::uint8_t(name[0])) << 24) |
                                  (FourCharCode(std::uint8_t(name[1])) << 16) |
                                  (FourCharCode(std::uint8_t(name[2])) << 8) | FourCharCode(std::uint8_t(name[3]));
        if (code == type) return name;
    }
    return "Unknown";
}

std::string formatListDescription(const std::vector<AudioFormatListItem>& items) {
    try {
        if (items.empty()) return "< Empty >";
        std::string out;
        unsigned k = 1;
        for (const AudioFormatListItem& item : items) {
            if (k > 1) out += ", ";
            const AudioStreamBasicDescription& d = item.mASBD;
            out += platform::format("%u) ", k++);
            out += platform::format(
                "Audio Stream Basic Description: Sample Rate: %f, Format ID: %qu, Format Flags: %qu, Bytes Per "
                "Packet: %qu, Frames Per Packet: %qu, Bytes Per Frame: %qu, Channels Per Frame: %qu, Bits Per "
                "Channel: %qu, Reserved: %qu, ",
                d.mSampleRate, (unsigned long long)d.mFormatID, (unsigned long long)d.mFormatFlags,
                (unsigned long long)d.mBytesPerPacket, (unsigned long long)d.mFramesPerPacket,
                (unsigned long long)d.mBytesPerFrame, (unsigned long long)d.mChannelsPerFrame,
                (unsigned long long)d.mBitsPerChannel, (unsigned long long)d.mReserved);
            out += platform::format("Audio Channel Layout Tag: %qu", (unsigned long long)item.mChannelLayoutTag);
        }
        return out;
    } catch (const std::bad_alloc&) {
        return "Error creating description";
    }
}

std::string chunkIDDescription(const std::vector<std::uint32_t>& ids) {
    try {
        if (ids.empty()) return "< No Chunk IDs Defined >";
        std::string out;
        unsigned k = 1;
        for (std::uint32_t id : ids) {
            if (k > 1) out += ", ";
            out += platform::format("%u) %qu", k++, (unsigned long long)id);
        }
        return out;
    } catch (const std::bad_alloc&) {
        return "Error creating description";
    }
}

std::string regionDescription(const std::vector<AudioFileRegion>& regions) {
    try {
        if (regions.empty()) return "< No Regions Defined >";
        std::string out;
        unsigned k = 1;
        platform::Ref<platform::String> undefined =
            platform::Ref<platform::String>::adopt(platform::String::create("< Undefined >"));
        for (const AudioFileRegion& r : regions) {
            if (k > 1) out += ", ";
            out += platform::format("%u) ", k++);
            const platform::Object* name = r.mName ? static_cast<const platform::Object*>(r.mName) : undefined.get();
            out += platform::format("Region ID: %qu, Name: %@, Flags: %qu, Number Markers: %qu",
                                    (unsigned long long)r.mRegionID, name, (unsigned long long)r.mFlags,
                                    (unsigned long long)r.mNumberMarkers);
        }
        return out;
    } catch (const std::bad_alloc&) {
        return "Error creating description";
    }
}

} // namespace ZQ
