#include "waveform/ChannelData.h"

namespace ZQ {

void ChannelData::setTileListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> g(listener_->lock);
    listener_->call = std::move(listener);
}

std::shared_ptr<SpectrogramCache> ChannelData::spectrogramCache(const AudioFileDocumentSampleData* samples) {
    std::shared_ptr<SpectrogramCache> made;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (closed_ || !samples) return nullptr;
        if (spectra_ && !suspended_) return spectra_;
        if (!spectra_) {
            spectra_ = std::make_shared<SpectrogramCache>([listener = listener_] {
                std::lock_guard<std::mutex> l(listener->lock);
                if (listener->call) listener->call();
            });
        }
        // New, or left suspended by an edit that did not happen: the samples
        // as they are now.
        suspended_ = false;
        made = spectra_;
    }
    made->suspend();
    handIn(*made, samples);
    made->resume();
    return made;
}

void ChannelData::handIn(SpectrogramCache& cache, const AudioFileDocumentSampleData* samples) {
    for (int c = 0; samples && c < samples->channelCount(); ++c) {
        // The samples as they are now, held by the reader until the next edit.
        const ChannelSamples channel = samples->channel(c);
        if (!channel.isValid()) continue;
        cache.setChannel(
            c, [channel](std::uint64_t first, std::uint64_t n, double* out) { channel.read(first, n, out); },
            channel.count());
    }
}

void ChannelData::samplesWillChange() {
    std::shared_ptr<SpectrogramCache> cache;
    {
        std::lock_guard<std::mutex> g(lock_);
        cache = spectra_;
        suspended_ = cache != nullptr;
    }
    if (cache) cache->suspend();
}

void ChannelData::samplesDidChange(const AudioFileDocumentSampleData* samples, std::uint64_t from) {
    std::shared_ptr<SpectrogramCache> cache;
    {
        std::lock_guard<std::mutex> g(lock_);
        cache = spectra_;
        suspended_ = false;
    }
    if (!cache) return;
    cache->suspend(); // already, after samplesWillChange; a no-op then
    for (int c = 0; samples && c < samples->channelCount(); ++c)
        cache->invalidateFrom(c, from);
    handIn(*cache, samples);
    cache->resume();
}

void ChannelData::close() {
    std::shared_ptr<SpectrogramCache> cache;
    {
        std::lock_guard<std::mutex> g(lock_);
        closed_ = true;
        cache = std::move(spectra_);
    }
    {
        std::lock_guard<std::mutex> g(listener_->lock);
        listener_->call = nullptr;
    }
    // The workers stop here (a view may hold the cache a moment longer, idle).
    if (cache) cache->suspend();
}

} // namespace ZQ
