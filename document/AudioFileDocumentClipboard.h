// The process-wide clipboard of copied samples: empty, or owning one sample
// store (all channels of the copied range, with its rate and channel count).
// It lives only inside the process; the desktop's clipboard is not used, as
// it has no format for sample stores. Every operation holds the clipboard's
// lock; moving a store between holders takes the holder's lock inside it.
#pragma once

#include "audiofile/AudioFileDocumentSampleData.h"
#include "core/object.h"
#include "core/values.h"

#include <cstdint>

namespace ZQ {

class AudioFileDocumentClipboard : public z_ {
public:
    static constexpr std::uint64_t kMaxChannels = ZQ::kMaxDocumentChannels;

    static AudioFileDocumentClipboard& sharedClipboard();

    AudioFileDocumentClipboard() = default;
    AudioFileDocumentClipboard(const AudioFileDocumentClipboard&) = delete;
    AudioFileDocumentClipboard& operator=(const AudioFileDocumentClipboard&) = delete;
    ~AudioFileDocumentClipboard() override = default;

    // Whether the held data suits a document of that rate and channel count.
    bool isFormatMatch(const sample_rate& rate, std::uint64_t channels) const;
    // Takes the store out of `holder`; false (the holder keeps it) when the
    // holder is empty, the rate is not valid or there are over kMaxChannels channels.
    bool setData(SampleDataHolder& holder, std::uint64_t channels, const sample_rate& rate);
    // A copy of the held store into `holder`; false when there is none.
    bool copyData(SampleDataHolder& holder) const;
    void clearData();

private:
    SampleDataHolder data_;
};

} // namespace ZQ
