// What the views of one document draw from besides the samples' own
// summaries: the spectral tile cache, made on first use and kept with the
// document, stopped while an edit changes the samples and told where they
// changed. The document owns it and calls the hooks; views ask it for the
// cache. Any thread (the cache's workers report through the tile listener).
#pragma once

#include "audiofile/AudioFileDocumentSampleData.h"
#include "waveform/SpectrogramCache.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace ZQ {

class ChannelData {
public:
    ChannelData() = default;
    ~ChannelData() { close(); }
    ChannelData(const ChannelData&) = delete;
    ChannelData& operator=(const ChannelData&) = delete;

    // Called on a worker whenever tiles finish (at most once until the
    // listener has run again); empty for none.
    void setTileListener(std::function<void()> listener);
    // The cache, made on first use over `samples` as they are now; null once
    // closed or without samples.
    std::shared_ptr<SpectrogramCache> spectrogramCache(const AudioFileDocumentSampleData* samples);
    // Nothing reads the samples from here until samplesDidChange.
    void samplesWillChange();
    // The samples are `samples` now, changed from frame `from` on.
    void samplesDidChange(const AudioFileDocumentSampleData* samples, std::uint64_t from);
    // For good: the workers stop before the samples go.
    void close();

private:
    void handIn(SpectrogramCache& cache, const AudioFileDocumentSampleData* samples);
    // What the workers hold: never this object, which may go before a
    // worker's last report has returned.
    struct Listener {
        std::mutex lock;
        std::function<void()> call;
    };
    std::mutex lock_;
    std::shared_ptr<SpectrogramCache> spectra_;
    const std::shared_ptr<Listener> listener_ = std::make_shared<Listener>();
    bool suspended_ = false; // by samplesWillChange, until samplesDidChange (or the next use)
    bool closed_ = false;
};

} // namespace ZQ
