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

class AudioFileDocumentSampleData : public z_ {
public:
    static constexpr int kMaxChannels = 16;

    AudioFileDocumentSampleData();
    AudioFileDocumentSampleData(const AudioFileDocumentSampleData&) = delete;
    AudioFileDocumentSampleData& operator=(const AudioFileDocumentSampleData&) = delete;
    ~AudioFileDocumentSampleData() override = default;

    // Empties the channels unless a read is running.
    void clear();
    // Decodes the file; false when it cannot (the reader says why) or when
    // another read is running.
    bool read(const platform::URL* url);

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

private:
    void releaseChannels();
    bool checkChannel(std::int32_t channel) const;

    SampleBuffer channels_[kMaxChannels];
    std::int32_t bufferChannelCount_ = 0;
    AudioFileInformation information_;
    std::atomic<bool> isLoaded_{false};
    std::atomic<bool> isReading_{false};
};

} // namespace ZQ
