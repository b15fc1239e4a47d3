// The levels of spectrogram columns for the views of one document, computed
// off the main thread in tiles of kTileColumns columns and kept in a bounded
// cache (least recently used first out), so that scrolling back, ticks and
// the selection never transform a frame again, and a colour or scale change
// only recolours.
//
// Columns lie on a grid per zoom: column j of a zoom of `samplesPerColumn`
// holds the frames centred in samples [j * spc, (j + 1) * spc), at least the
// one nearest its middle; zoomed out past the summary's blocks, the pooled
// summary of the channel (built here once, in the background) answers
// instead, so that short events stay visible at any zoom.
//
// Threads: tile() and the rest from the main thread; two workers compute.
// The samples handed in must stay put until suspend() has returned (an edit
// suspends, changes the samples, then hands the new ones in and resumes).
#pragma once

#include "waveform/SpectralSummary.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace ZQ {

class SpectrogramCache {
public:
    static constexpr unsigned kTileColumns = 64;
    static constexpr std::uint64_t kDefaultBound = 256ull << 20;

    // A tile: kTileColumns columns of `bins` levels (SpectralSummary's bytes).
    struct Tile {
        unsigned bins = 0;
        std::vector<std::uint8_t> levels; // column-major
        const std::uint8_t* column(unsigned c) const { return levels.data() + std::size_t(c) * bins; }
    };
    struct Key {
        int channel = 0;
        unsigned size = 0;
        double samplesPerColumn = 0;
        std::int64_t tile = 0;
        auto tied() const { return std::tie(channel, size, samplesPerColumn, tile); }
        bool operator<(const Key& o) const { return tied() < o.tied(); }
        bool operator==(const Key& o) const { return tied() == o.tied(); }
    };

    // `ready` runs on a worker after each tile (or summary) is done.
    explicit SpectrogramCache(std::function<void()> ready, std::uint64_t byteBound = kDefaultBound);
    ~SpectrogramCache();
    SpectrogramCache(const SpectrogramCache&) = delete;
    SpectrogramCache& operator=(const SpectrogramCache&) = delete;

    // The channel's samples (until the next call for it, or a suspend).
    void setChannel(int channel, SampleReader read, std::uint64_t count);
    void setChannel(int channel, const double* samples, std::uint64_t count) {
        setChannel(channel, samples ? contiguousReader(samples) : SampleReader(), count);
    }
    // The tile, or null while it is being made: a missing tile is queued,
    // `priority` first (higher sooner; the view gives the tiles nearest the
    // middle of what it shows the highest).
    std::shared_ptr<const Tile> tile(const Key& key, double priority);
    // Drops the queue and waits for the workers to finish what they hold:
    // afterwards nothing reads the samples until resume().
    void suspend();
    void resume();
    // The channel's samples changed from `sample` on: the columns whose frames
    // reach it go, and its summary is made again from there.
    void invalidateFrom(int channel, std::uint64_t sample);
    // Everything goes (a new window size does not need this: it is a new key).
    void clear();

    std::uint64_t bytes() const;
    std::uint64_t bound() const { return bound_; }
    std::size_t tileCount() const;
    // Tiles made since the cache was (for tests: what a redraw recomputed).
    std::uint64_t tilesMade() const;
    bool hasSummary(int channel, unsigned size) const;

private:
    struct Channel {
        SampleReader read;
        std::uint64_t count = 0;
        std::map<unsigned, std::shared_ptr<SpectralSummary>> summaries; // by frame size
        std::map<unsigned, std::uint64_t> staleFrom;                    // summaries to redo from there
    };
    struct Entry {
        std::shared_ptr<const Tile> tile;
        std::list<Key>::iterator use;
    };
    void work();
    std::shared_ptr<Tile> make(const Key& key, const SampleReader& read, std::uint64_t count,
                               const SpectralSummary* summary);
    void insert(const Key& key, std::shared_ptr<const Tile> tile);

    std::function<void()> ready_;
    const std::uint64_t bound_;
    mutable std::mutex lock_;
    std::condition_variable wake_, idle_;
    std::map<int, Channel> channels_;
    std::map<Key, Entry> tiles_;
    std::list<Key> uses_; // most recent first
    std::map<Key, double> queue_;
    std::vector<Key> busy_;
    std::uint64_t bytes_ = 0;
    std::uint64_t made_ = 0;
    unsigned working_ = 0;
    bool suspended_ = false;
    bool stopping_ = false;
    // Set while suspending or stopping: the work in hand stops at its next
    // column (or block of a summary) and is thrown away.
    std::atomic<bool> cancel_{false};
    std::vector<std::thread> workers_;
};

} // namespace ZQ
