#include "waveform/ChannelData.h"

namespace ZQ {

void ChannelData::setTileListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> g(lock_);
    // The workers hold the old one until their call returns; a new one is a
    // new object, so nothing is replaced under them.
    listener_ = std::make_shared<std::function<void()>>(std::move(listener));
}

std::shared_ptr<SpectrogramCache> ChannelData::spectrogramCache(const AudioFileDocumentSampleData* samples) {
    std::shared_ptr<SpectrogramCache> made;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (closed_ || !samples) return nullptr;
        if (spectra_) return spectra_;
        // The workers reach the listener through this object only while it
        // lives: a weak hold on the listener slot's owner would do, but the
        // cache is stopped in close() before anything here goes.
        spectra_ = std::make_shared<SpectrogramCache>([this] {
            std::shared_ptr<std::function<void()>> listener;
            {
                std::lock_guard<std::mutex> l(lock_);
                listener = listener_;
            }
            if (listener && *listener) (*listener)();
        });
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
    }
    if (cache) cache->suspend();
}

void ChannelData::samplesDidChange(const AudioFileDocumentSampleData* samples, std::uint64_t from) {
    std::shared_ptr<SpectrogramCache> cache;
    {
        std::lock_guard<std::mutex> g(lock_);
        cache = spectra_;
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
        listener_ = std::make_shared<std::function<void()>>();
    }
    // The workers stop here (a view may hold the cache a moment longer, idle).
    if (cache) cache->suspend();
}

} // namespace ZQ
