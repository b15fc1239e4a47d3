// A document's samples: the whole file decoded once into up to sixteen
// channels of doubles, plus the file's information record.
//
// read() and clear() refuse to run while a read is in progress (the flag is
// safe to poll from another thread); everything else is called by the owner,
// which serialises access (the document's monitor).
#pragma once

#include "audiofile/AudioFileInformation.h"
#include "core/buffer.h"
#include "core/object.h"
#include "core/values.h"

#include <atomic>
#include <cstdint>

namespace platform {
class URL;
}

namespace ZQ {

class AudioFileDocumentSampleData;
struct DecodeControl;
// The holder an editing operation fills or takes a store from.
using SampleDataHolder = auto_ptr<AudioFileDocumentSampleData>;

class AudioFileDocumentSampleData : public z_ {
public:
    static constexpr int kMaxChannels = 16;

    AudioFileDocumentSampleData();
    AudioFileDocumentSampleData(const AudioFileDocumentSampleData&) = delete;
    AudioFileDocumentSampleData& operator=(const AudioFileDocumentSampleData&) = delete;
    ~AudioFileDocumentSampleData() override = default;

    // Empties the channels unless a read is running.
    void clear();
    // Decodes the file; false when it cannot (the reader says why), when it
    // was cancelled through `control`, or when another read is running.
    bool read(const platform::URL* url, DecodeControl* control = nullptr);

    double sampleRate() const;
    // The file's channel count, at most kMaxChannels: a file with more keeps
    // only its first sixteen channels.
    std::int32_t channelCount() const;
    Num::Count channelSampleCount(std::int32_t channel) const;
    const double* channelSamples(std::int32_t channel) const;
    double* channelSamples(std::int32_t channel);

    bool isLoaded() const { return isLoaded_.load(std::memory_order_acquire); }
    bool isReading() const { return isReading_.load(std::memory_order_acquire); }
    std::int32_t bufferChannelCount() const { return bufferChannelCount_; }
    const AudioFileInformationData* information() const { return information_.get(); }
    AudioFileInformation& informationHolder() { return information_; }
    // The channel buffers, for the editing operations.
    SampleBuffer& channel(int c) { return channels_[c]; }

    // Editing. Ranges are inclusive sample indices ([a, b] covers a ... b)
    // and must lie within the channels; a range with min_ > max_ is refused.
    // Copies are new, separately owned stores with this store's rate and
    // channel count. The changing operations leave the store as it was when
    // they fail (memory short): every channel grows before any is rewritten.
    //
    // Frames in every channel (the channels of a store are equally long).
    std::uint64_t frameCount() const;
    bool copyAll(SampleDataHolder& into) const;
    bool copyRange(const Num::SampleRange& range, SampleDataHolder& into) const;
    // The channel's samples of `range` into `out` (left untouched when the
    // channel or range is not valid).
    void copyChannelRange(SampleBuffer& out, std::int32_t channel, const Num::SampleRange& range) const;
    // Removes the range; `removed` receives what was removed.
    bool cutRange(const Num::SampleRange& range, SampleDataHolder& removed);
    bool deleteRange(const Num::SampleRange& range);
    // Inserts a copy of the range right after it.
    bool duplicateRange(const Num::SampleRange& range);
    // The clipboard's samples (same channel count) in place of the range, or,
    // for a range of one index (min_ == max_), before that sample; a store
    // with no frames takes them at 0. Index count (the frame count) is
    // accepted as min_ == max_ to insert at the end.
    bool pasteRange(const SampleDataHolder& data, const Num::SampleRange& range);
    // The general edit all of the above come down to: at frame `at`,
    // `removeCount` frames of every channel are replaced by the frames of
    // `insert` (none when null); `removed` (when given) receives the frames
    // taken out. at + removeCount must not pass the end.
    bool replaceFrames(std::uint64_t at, std::uint64_t removeCount, const AudioFileDocumentSampleData* insert,
                       SampleDataHolder* removed);

private:
    void releaseChannels();
    // A loaded store of `frames` zeroed frames in `channels` channels with
    // this store's format; null when memory runs short.
    AudioFileDocumentSampleData* makeSibling(std::int32_t channels, std::uint64_t frames) const;
    bool rangeIsValid(const Num::SampleRange& range) const;
    bool checkChannel(std::int32_t channel) const;

    SampleBuffer channels_[kMaxChannels];
    std::int32_t bufferChannelCount_ = 0;
    AudioFileInformation information_;
    std::atomic<bool> isLoaded_{false};
    std::atomic<bool> isReading_{false};
};

} // namespace ZQ
