#include "audiofile/AudioFileDocumentSampleData.h"

#include "audiofile/AudioFileReader.h"
#include "platform/base/Values.h"

#include <algorithm>
#include <cstdio>

namespace ZQ {

AudioFileDocumentSampleData::AudioFileDocumentSampleData() {
    information_.make();
}

void AudioFileDocumentSampleData::releaseChannels() {
    for (SampleBuffer& c : channels_)
        c.release();
}

void AudioFileDocumentSampleData::clear() {
    if (isReading()) return;
    bufferChannelCount_ = 0;
    if (isLoaded()) {
        isLoaded_.store(false, std::memory_order_release);
        releaseChannels();
    }
}

bool AudioFileDocumentSampleData::read(const platform::URL* url) {
    bool expected = false;
    if (!isReading_.compare_exchange_strong(expected, true)) return false;
    bufferChannelCount_ = 0;
    if (isLoaded()) {
        isLoaded_.store(false, std::memory_order_release);
        releaseChannels();
    }
    if (!url) { // nothing to read: the flag must not stay set, or close would wait forever
        isReading_.store(false, std::memory_order_release);
        return false;
    }
    platform::Ref<platform::URL> held = platform::Ref<platform::URL>::retain(const_cast<platform::URL*>(url));
    bool ok;
    {
        FloatSampleBuffer decoded[kMaxChannels];
        ok = readAudioFileSamples(held.get(), information_, decoded, kMaxChannels, bufferChannelCount_);
        if (ok) {
            const std::int32_t channels = channelCount();
            for (std::int32_t c = 0; c < channels; ++c) {
                const std::uint64_t n = decoded[c].count().v_;
                if (n == 0) continue;
                if (channels_[c].allocate(Num::Count(n))) { // fresh blocks come zeroed
                    const float* in = decoded[c].data();
                    double* out = channels_[c].data();
                    for (std::uint64_t k = 0; k < n; ++k)
                        out[k] = static_cast<double>(in[k]);
                }
                decoded[c].release(); // done with it: keeps the peak lower
            }
        }
    }
    isLoaded_.store(ok, std::memory_order_release);
    isReading_.store(false, std::memory_order_release);
    return ok;
}

double AudioFileDocumentSampleData::sampleRate() const {
    return information_.get() ? information_->sampleRate() : 0.0;
}

std::int32_t AudioFileDocumentSampleData::channelCount() const {
    if (!information_.get()) return 0;
    return std::min<std::int32_t>(information_->channelCount(), kMaxChannels);
}

bool AudioFileDocumentSampleData::checkChannel(std::int32_t channel) const {
    if (static_cast<std::uint32_t>(channel) >= static_cast<std::uint32_t>(channelCount())) {
        std::printf("Invalid channel requested\n");
        return false;
    }
    return true;
}

Num::Count AudioFileDocumentSampleData::channelSampleCount(std::int32_t channel) const {
    if (!isLoaded() || !checkChannel(channel)) return Num::Count(0ull);
    return channels_[channel].count();
}

const double* AudioFileDocumentSampleData::channelSamples(std::int32_t channel) const {
    if (!isLoaded()) return nullptr;
    if (channelCount() <= 0) {
        std::printf("Invalid channel configuration for request\n");
        return nullptr;
    }
    if (!checkChannel(channel)) return nullptr;
    return channels_[channel].data();
}

double* AudioFileDocumentSampleData::channelSamples(std::int32_t channel) {
    return const_cast<double*>(static_cast<const AudioFileDocumentSampleData*>(this)->channelSamples(channel));
}

} // namespace ZQ
