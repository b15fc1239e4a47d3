// Everything the audio file services can say about one file, gathered when a
// document opens it: 34 property slots, each a value plus a flags byte.
// Owned by the document's sample store; filled on the opening thread and only
// read afterwards.
#pragma once

#include "core/holders.h"
#include "core/object.h"
#include "platform/base/AudioTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class Dictionary;
class String;
namespace audio {
class AudioFile;
class ExtAudioFile;
} // namespace audio
} // namespace platform

namespace ZQ {

using platform::audio::AudioChannelDescription;
using platform::audio::AudioChannelLayoutHeader;
using platform::audio::AudioFileMarker;
using platform::audio::AudioFileMarkerListHeader;
using platform::audio::AudioFileRegion;
using platform::audio::AudioFormatListItem;
using platform::audio::AudioStreamBasicDescription;
using platform::audio::FourCharCode;
using platform::audio::OSStatus;

// Flag bits behind each slot's value.
enum : std::uint8_t {
    kPropertyPresent = 1,
    kPropertyRead = 2,
    kPropertyWritable = 4,
};

template <class T> struct PropertySlot {
    T value{};
    std::uint8_t flags = 0;
    bool isPresent() const { return (flags & kPropertyPresent) != 0; }
};

// An owned reference-counted value (a string or a dictionary) in a slot.
template <class T> struct ReferenceSlot {
    ReferenceSlot() = default;
    ReferenceSlot(const ReferenceSlot&) = delete;
    ReferenceSlot& operator=(const ReferenceSlot&) = delete;
    ~ReferenceSlot() { reset(); }
    void reset();
    T* value = nullptr; // +1, owned
    std::uint8_t flags = 0;
    bool isPresent() const { return (flags & kPropertyPresent) != 0; }
};

// What preparing a variable-size buffer for a reported size found.
enum class Prepared { kEmpty, kReady, kTooSmall, kMisfit };

// A header followed by whole items, in a block from the tracking allocator,
// locked by its own lock. Channel layouts (12 + 20 per description) and
// marker lists (8 + 40 per marker; the markers' names are owned).
template <class Header, class Item> class VariableBuffer : public z_ {
public:
    static constexpr std::size_t kHeaderSize = sizeof(Header);
    static constexpr std::size_t kItemSize = sizeof(Item);

    VariableBuffer() = default;
    VariableBuffer(const VariableBuffer&) = delete;
    VariableBuffer& operator=(const VariableBuffer&) = delete;
    ~VariableBuffer() override { clear(); }

    // Empties the buffer, then makes room for `size` zeroed bytes when size is
    // the header plus whole items. Below the header size it prints the
    // "totalSizeOfObjectInBytes(...)" line.
    Prepared prepare(std::uint32_t size);
    void clear();

    void* data() const { return block_; }
    std::uint32_t size() const { return size_; }
    const Header* header() const { return static_cast<const Header*>(block_); }
    // Items the buffer has room for (the header's own count may say less).
    std::size_t capacity() const { return size_ < kHeaderSize ? 0 : (size_ - kHeaderSize) / kItemSize; }
    const Item* items() const {
        return block_ ? reinterpret_cast<const Item*>(static_cast<const unsigned char*>(block_) + kHeaderSize)
                      : nullptr;
    }

private:
    void* block_ = nullptr;
    std::uint32_t size_ = 0;
};

using ChannelLayoutBuffer = VariableBuffer<AudioChannelLayoutHeader, AudioChannelDescription>;
using MarkerListBuffer = VariableBuffer<AudioFileMarkerListHeader, AudioFileMarker>;

// A growable list of fixed-size items (format items, regions, region
// markers, chunk ids).
template <class Item> class PropertyList : public z_ {
public:
    PropertyList() = default;
    PropertyList(const PropertyList&) = delete;
    PropertyList& operator=(const PropertyList&) = delete;
    ~PropertyList() override { resize(0); }

    // Whole items in `bytes`: new items zeroed, surplus ones dropped.
    void resize(std::size_t count);
    std::size_t count() const { return items_.size(); }
    Item* data() { return items_.data(); }
    const std::vector<Item>& items() const { return items_; }
    // For tests and tools that build a list by hand.
    void add(const Item& item) { items_.push_back(item); }

private:
    std::vector<Item> items_;
};

template <class T> struct ListSlot {
    PropertyList<T> value;
    std::uint8_t flags = 0;
    bool isPresent() const { return (flags & kPropertyPresent) != 0; }
};
template <class B> struct BufferSlot {
    B value;
    std::uint8_t flags = 0;
    bool isPresent() const { return (flags & kPropertyPresent) != 0; }
};

class AudioFileInformationData : public z_ {
public:
    AudioFileInformationData() = default;
    AudioFileInformationData(const AudioFileInformationData&) = delete;
    AudioFileInformationData& operator=(const AudioFileInformationData&) = delete;
    ~AudioFileInformationData() override = default;

    // Fills every slot from an open extended audio file, in slot order; a
    // null handle reads nothing and gives false.
    bool read(platform::audio::ExtAudioFile* handle);

    // Prints that copying is disabled and reports false (0).
    bool copyPropertiesTo(const void* destination) const;

    // Conveniences over the file data format and length.
    double sampleRate() const { return fileDataFormat.value.mSampleRate; }
    std::int32_t channelCount() const { return static_cast<std::int32_t>(fileDataFormat.value.mChannelsPerFrame); }
    std::int64_t fileLengthFrames() const { return fileLength.value; }

    // Extended audio file slots.
    PropertySlot<AudioStreamBasicDescription> fileDataFormat;   // 'ffmt'
    BufferSlot<ChannelLayoutBuffer> fileChannelLayout;          // 'fclo'
    PropertySlot<AudioStreamBasicDescription> clientDataFormat; // 'cfmt'
    BufferSlot<ChannelLayoutBuffer> clientChannelLayout;        // 'cclo'
    PropertySlot<const void*> audioConverter;                   // 'acnv'
    // The underlying file while the read ran; an identity only afterwards.
    PropertySlot<const void*> audioFile;             // 'afil'
    PropertySlot<std::uint32_t> fileMaxPacketSize;   // 'fmps'
    PropertySlot<std::uint32_t> clientMaxPacketSize; // 'cmps'
    PropertySlot<std::int64_t> fileLength;           // '#frm'
    PropertySlot<const void*> converterConfig;       // 'accf'
    PropertySlot<std::uint32_t> ioBufferSizeBytes;   // 'iobs'
    PropertySlot<const void*> ioBuffer;              // 'iobf'
    // Audio file slots. 'rgls' carries only a region's first marker inline;
    // 'rgmk' holds every region's markers (unnamed), region after region.
    PropertySlot<FourCharCode> fileFormat;                                   // 'ffmt'
    PropertySlot<AudioStreamBasicDescription> dataFormat;                    // 'dfmt'
    ListSlot<AudioFormatListItem> formatList;                                // 'flst'
    PropertySlot<std::uint32_t> isOptimized;                                 // 'optm'
    PropertySlot<std::uint64_t> magicCookie;                                 // 'mgic'
    PropertySlot<std::uint64_t> audioDataByteCount;                          // 'bcnt'
    PropertySlot<std::uint64_t> audioDataPacketCount;                        // 'pcnt'
    PropertySlot<std::uint32_t> maximumPacketSize;                           // 'psze'
    PropertySlot<std::int64_t> dataOffset;                                   // 'doff'
    BufferSlot<ChannelLayoutBuffer> channelLayout;                           // 'cmap'
    PropertySlot<std::uint32_t> deferSizeUpdates;                            // 'dszu'
    ReferenceSlot<platform::String> dataFormatName;                          // 'fnam'
    BufferSlot<MarkerListBuffer> markerList;                                 // 'mkls'
    ListSlot<AudioFileRegion> regionList;                                    // 'rgls'
    ListSlot<AudioFileMarker> regionMarkers;                                 // 'rgmk'
    ListSlot<std::uint32_t> chunkIDs;                                        // 'chid'
    ReferenceSlot<platform::Dictionary> infoDictionary;                      // 'info'
    PropertySlot<platform::audio::AudioFilePacketTableInfo> packetTableInfo; // 'pnfo'
    PropertySlot<std::uint32_t> packetSizeUpperBound;                        // 'pkub'
    PropertySlot<double> reserveDuration;                                    // 'rsrv'
    PropertySlot<double> estimatedDuration;                                  // 'edur'
    PropertySlot<std::uint32_t> bitRate;                                     // 'brat'

private:
    void clearAudioFileSlots();
};

// The owning holder a sample store keeps.
using AudioFileInformation = auto_ptr<AudioFileInformationData>;

// The name of a file type code ("WAVE", "AIFF", ..., "Unknown").
std::string formatName(FourCharCode type);

// One-line descriptions of the record's lists.
std::string formatListDescription(const std::vector<AudioFormatListItem>& items);
std::string chunkIDDescription(const std::vector<std::uint32_t>& ids);
std::string regionDescription(const std::vector<AudioFileRegion>& regions);

// The " -==== Error accessing property: ..." line for a non-zero result,
// unless the (property, result) pair is one the files commonly give.
void reportPropertyError(FourCharCode property, OSStatus result);

} // namespace ZQ
