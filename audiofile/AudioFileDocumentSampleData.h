// A document's samples: the file's information record and a sequence of
// pieces of sample blocks (the file's data read where it lies, or decoded
// once into a temporary file, and whatever edits inserted), of which up to
// sixteen channels are kept.
//
// read() and clear() refuse to run while a read is in progress (the flag is
// safe to poll from another thread). Edits are made by the owner, which
// serialises them (the document's monitor); readers on any thread take a
// snapshot with samples() and read it while the store moves on.
#pragma once

#include "audiofile/AudioFileInformation.h"
#include "audiofile/AudioFileReader.h"
#include "audiofile/SampleSequence.h"
#include "core/buffer.h"
#include "core/object.h"
#include "core/values.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

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
    static constexpr int kMaxChannels = int(kMaxDocumentChannels);

    AudioFileDocumentSampleData();
    AudioFileDocumentSampleData(const AudioFileDocumentSampleData&) = delete;
    AudioFileDocumentSampleData& operator=(const AudioFileDocumentSampleData&) = delete;
    ~AudioFileDocumentSampleData() override = default;

    // Empties the store unless a read is running.
    void clear();
    // Opens the file; false when it cannot (the reader says why), when it
    // was cancelled through `control`, or when another read is running.
    bool read(const platform::URL* url, DecodeControl* control = nullptr);
    // Holds `frames` frames of the given channels (copied into memory) at
    // `rate`, for the demo, tools and tests; false, with the memory
    // refusal's text in `refusal`, when they do not fit.
    bool loadChannels(double rate, const std::vector<const double*>& channels, std::uint64_t frames,
                      std::string* refusal = nullptr);

    double sampleRate() const;
    // The file's channel count (a file of more than kMaxChannels is refused).
    std::int32_t channelCount() const;
    Num::Count channelSampleCount(std::int32_t channel) const;

    // The samples as they are now, for reading on any thread (null when
    // nothing is loaded).
    SampleSnapshot samples() const;
    // One channel of them; an invalid channel prints why and gives one
    // without samples.
    ChannelSamples channel(std::int32_t channel) const;
    // The channel's samples [first, first + count) into `out`; false (and
    // `out` untouched) for an invalid channel or a range past the end.
    bool readChannel(std::int32_t channel, std::uint64_t first, std::uint64_t count, double* out) const;

    bool isLoaded() const { return isLoaded_.load(std::memory_order_acquire); }
    bool isReading() const { return isReading_.load(std::memory_order_acquire); }
    std::int32_t bufferChannelCount() const { return bufferChannelCount_; }
    const AudioFileInformationData* information() const { return information_.get(); }
    AudioFileInformation& informationHolder() { return information_; }
    // Whether the file the samples are read from changed on disk since it
    // was opened (any thread).
    bool changedOnDisk() const;

    // Editing. Ranges are inclusive sample indices ([a, b] covers a ... b)
    // and must lie within the channels; a range with min_ > max_ is refused.
    // Copies are new stores with this store's rate and channel count that
    // share its blocks: nothing is copied but a list of pieces.
    //
    // Frames in every channel (the channels of a store are equally long).
    std::uint64_t frameCount() const;
    bool copyAll(SampleDataHolder& into) const;
    bool copyRange(const Num::SampleRange& range, SampleDataHolder& into) const;
    // The channel's samples of `range` into `out` (left untouched when the
    // channel or range is not valid, or memory is short).
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

    // A store of this one's rate and channels holding `block`'s frames.
    bool makeFromBlock(std::shared_ptr<SampleBlock> block, SampleDataHolder& into) const;

private:
    // A loaded store holding `sequence`, with this store's format.
    AudioFileDocumentSampleData* makeSibling(SampleSequence sequence) const;
    bool rangeIsValid(const Num::SampleRange& range) const;
    bool checkChannel(std::int32_t channel) const;
    void setSamples(SampleSnapshot samples);

    mutable std::mutex lock_; // guards samples_ only
    SampleSnapshot samples_;
    std::int32_t bufferChannelCount_ = 0;
    AudioFileInformation information_;
    std::atomic<bool> isLoaded_{false};
    std::atomic<bool> isReading_{false};
};

} // namespace ZQ
