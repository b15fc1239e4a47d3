#include "document/AudioFileDocumentClipboard.h"

#include <algorithm>

namespace ZQ {

AudioFileDocumentClipboard& AudioFileDocumentClipboard::sharedClipboard() {
    static AudioFileDocumentClipboard clipboard;
    return clipboard;
}

bool AudioFileDocumentClipboard::isFormatMatch(const sample_rate& rate, std::uint64_t channels) const {
    if (!rate.isValid() || channels == 0) return false;
    sync_guard g(this);
    const AudioFileDocumentSampleData* data = data_.get();
    const std::uint64_t held = data ? static_cast<std::uint64_t>(std::max(0, data->channelCount())) : 0;
    if (channels != held) return false;
    const sample_rate r(data ? data->sampleRate() : 0.0);
    if (!r.isValid()) return false;
    return rate == r;
}

bool AudioFileDocumentClipboard::setData(SampleDataHolder& holder, std::uint64_t channels, const sample_rate& rate) {
    sync_guard g(this);
    if (holder.isEmpty() || !rate.isValid() || channels > kMaxChannels) return false;
    clearData();
    sync_guard h(holder);
    data_.reset(holder.detach());
    return true;
}

bool AudioFileDocumentClipboard::copyData(SampleDataHolder& holder) const {
    sync_guard g(this);
    const AudioFileDocumentSampleData* data = data_.get();
    return data && data->copyAll(holder);
}

void AudioFileDocumentClipboard::clearData() {
    sync_guard g(this);
    data_.reset();
}

} // namespace ZQ
