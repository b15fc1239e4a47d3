#include "waveform/SpectrogramCache.h"

#include <algorithm>
#include <cmath>

namespace ZQ {

namespace {

// Zoomed out this far (a column holds more frames than a block of the
// summary pools), columns come from the summary.
bool fromSummary(const SpectrogramCache::Key& key) {
    return key.samplesPerColumn >= double(key.size / 2) * SpectralSummary::kPool;
}

std::uint64_t tileBytes(const SpectrogramCache::Tile& t) {
    return t.levels.size() + sizeof(SpectrogramCache::Tile) + 64; // and the bookkeeping
}

} // namespace

SpectrogramCache::SpectrogramCache(std::function<void()> ready, std::uint64_t byteBound)
    : ready_(std::move(ready)), bound_(byteBound) {
    for (int i = 0; i < 2; ++i)
        workers_.emplace_back([this] { work(); });
}

SpectrogramCache::~SpectrogramCache() {
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
        cancel_.store(true);
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void SpectrogramCache::setChannel(int channel, SampleReader read, std::uint64_t count) {
    std::lock_guard<std::mutex> g(lock_);
    Channel& c = channels_[channel];
    c.read = std::move(read);
    c.count = count;
}

std::shared_ptr<const SpectrogramCache::Tile> SpectrogramCache::tile(const Key& key, double priority) {
    std::lock_guard<std::mutex> g(lock_);
    if (auto it = tiles_.find(key); it != tiles_.end()) {
        uses_.splice(uses_.begin(), uses_, it->second.use); // used now
        return it->second.tile;
    }
    if (!Spectral::isValidSize(key.size) || !(key.samplesPerColumn > 0) || key.tile < 0) return nullptr;
    if (std::find(busy_.begin(), busy_.end(), key) == busy_.end()) {
        auto [it, added] = queue_.emplace(key, priority);
        if (!added) it->second = priority;
        if (!suspended_) wake_.notify_one();
    }
    return nullptr;
}

void SpectrogramCache::suspend() {
    std::unique_lock<std::mutex> l(lock_);
    suspended_ = true;
    cancel_.store(true); // what is in hand stops soon
    queue_.clear();
    idle_.wait(l, [this] { return working_ == 0; });
    cancel_.store(false);
}

void SpectrogramCache::resume() {
    {
        std::lock_guard<std::mutex> g(lock_);
        suspended_ = false;
    }
    wake_.notify_all();
}

void SpectrogramCache::invalidateFrom(int channel, std::uint64_t sample) {
    std::lock_guard<std::mutex> g(lock_);
    for (auto it = tiles_.begin(); it != tiles_.end();) {
        const Key& k = it->first;
        // The last frame of the tile reaches half a frame past its columns.
        const double end = double(k.tile + 1) * kTileColumns * k.samplesPerColumn + k.size / 2.0;
        if (k.channel == channel && end >= double(sample)) {
            bytes_ -= tileBytes(*it->second.tile);
            uses_.erase(it->second.use);
            it = tiles_.erase(it);
        } else {
            ++it;
        }
    }
    if (auto c = channels_.find(channel); c != channels_.end())
        for (auto& [size, summary] : c->second.summaries) {
            auto [stale, added] = c->second.staleFrom.emplace(size, sample);
            if (!added) stale->second = std::min(stale->second, sample);
        }
}

void SpectrogramCache::clear() {
    std::lock_guard<std::mutex> g(lock_);
    tiles_.clear();
    uses_.clear();
    queue_.clear();
    bytes_ = 0;
}

std::uint64_t SpectrogramCache::bytes() const {
    std::lock_guard<std::mutex> g(lock_);
    return bytes_;
}

std::size_t SpectrogramCache::tileCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return tiles_.size();
}

std::uint64_t SpectrogramCache::tilesMade() const {
    std::lock_guard<std::mutex> g(lock_);
    return made_;
}

bool SpectrogramCache::hasSummary(int channel, unsigned size) const {
    std::lock_guard<std::mutex> g(lock_);
    auto c = channels_.find(channel);
    return c != channels_.end() && c->second.summaries.count(size) && !c->second.staleFrom.count(size);
}

void SpectrogramCache::insert(const Key& key, std::shared_ptr<const Tile> tile) {
    const std::uint64_t size = tileBytes(*tile);
    if (auto old = tiles_.find(key); old != tiles_.end()) {
        bytes_ -= tileBytes(*old->second.tile);
        uses_.erase(old->second.use);
        tiles_.erase(old);
    }
    uses_.push_front(key);
    tiles_[key] = Entry{std::move(tile), uses_.begin()};
    bytes_ += size;
    // The least recently used go first; the newest always stays.
    while (bytes_ > bound_ && uses_.size() > 1) {
        auto victim = tiles_.find(uses_.back());
        bytes_ -= tileBytes(*victim->second.tile);
        tiles_.erase(victim);
        uses_.pop_back();
    }
    ++made_;
}

void SpectrogramCache::work() {
    std::unique_lock<std::mutex> l(lock_);
    for (;;) {
        // The most wanted request that can run now: one that needs a summary
        // being made by the other worker waits for it.
        auto runnable = [this](const Key& k) {
            if (!fromSummary(k)) return true;
            return std::none_of(busy_.begin(), busy_.end(), [&k](const Key& b) {
                return b.channel == k.channel && b.size == k.size && fromSummary(b);
            });
        };
        auto pick = [&] {
            auto best = queue_.end();
            for (auto it = queue_.begin(); it != queue_.end(); ++it)
                if (runnable(it->first) && (best == queue_.end() || it->second > best->second)) best = it;
            return best;
        };
        auto next = queue_.end();
        wake_.wait(l, [&] { return stopping_ || (!suspended_ && (next = pick()) != queue_.end()); });
        if (stopping_) return;
        const Key key = next->first;
        queue_.erase(next);
        Channel& channel = channels_[key.channel];
        if (!channel.read || channel.count == 0) continue;
        const SampleReader read = channel.read; // a copy: the channel may be handed new samples meanwhile
        const std::uint64_t count = channel.count;
        ++working_;
        busy_.push_back(key);
        // The summary first, when this zoom needs it and it is missing or stale.
        std::shared_ptr<SpectralSummary> summary;
        if (fromSummary(key)) {
            summary = channel.summaries[key.size];
            auto stale = channel.staleFrom.find(key.size);
            if (!summary || stale != channel.staleFrom.end()) {
                const std::uint64_t from = stale != channel.staleFrom.end() ? stale->second : 0;
                auto fresh =
                    summary ? std::make_shared<SpectralSummary>(*summary) : std::make_shared<SpectralSummary>();
                l.unlock();
                const bool ok = summary ? fresh->rebuildFrom(read, count, from, &cancel_)
                                        : fresh->build(read, count, key.size, &cancel_);
                l.lock();
                if (ok && !suspended_ && !stopping_) {
                    channels_[key.channel].summaries[key.size] = fresh;
                    channels_[key.channel].staleFrom.erase(key.size);
                }
                summary = ok ? fresh : nullptr;
            }
        }
        std::shared_ptr<Tile> made;
        if (!suspended_ && !stopping_ && (summary || !fromSummary(key))) {
            l.unlock();
            made = make(key, read, count, summary.get());
            l.lock();
            if (made && !suspended_ && !stopping_) insert(key, std::move(made));
        }
        busy_.erase(std::find(busy_.begin(), busy_.end(), key));
        --working_;
        idle_.notify_all();
        wake_.notify_one(); // the other worker may have waited for this summary
        if (ready_ && !stopping_) {
            l.unlock();
            ready_();
            l.lock();
        }
    }
}

std::shared_ptr<SpectrogramCache::Tile> SpectrogramCache::make(const Key& key, const SampleReader& read,
                                                               std::uint64_t count, const SpectralSummary* summary) {
    auto tile = std::make_shared<Tile>();
    const unsigned bins = key.size / 2 + 1;
    tile->bins = bins;
    tile->levels.assign(std::size_t(kTileColumns) * bins, 0);
    Spectral::FrameAnalyzer analyzer(key.size);
    std::vector<float> power(bins), peak(bins), db(bins);
    std::vector<double> held; // the column's frames' samples
    const double hop = key.size / 2.0, spc = key.samplesPerColumn;
    for (unsigned c = 0; c < kTileColumns; ++c) {
        if (cancel_.load(std::memory_order_relaxed)) return nullptr;
        const double a = double(key.tile * kTileColumns + c) * spc, b = a + spc; // [a, b)
        if (a >= double(count)) break;                                           // past the end: the floor
        std::uint8_t* out = tile->levels.data() + std::size_t(c) * bins;
        if (summary) {
            const auto first = static_cast<std::uint64_t>(std::floor(a));
            const auto last = std::max(first, static_cast<std::uint64_t>(std::ceil(b)) - 1);
            summary->maxDb(first, last, db.data());
            for (unsigned k = 0; k < bins; ++k)
                out[k] = SpectralSummary::levelOf(db[k]);
            continue;
        }
        // The frames centred in the column; at least the one nearest its middle.
        auto from = static_cast<std::int64_t>(std::ceil(a / hop));
        auto to = static_cast<std::int64_t>(std::ceil(b / hop)) - 1;
        const std::int64_t half = key.size / 2;
        const std::int64_t firstCentre = from > to ? static_cast<std::int64_t>(std::llround((a + b) / 2)) : from * half;
        const std::int64_t lastCentre = from > to ? firstCentre : to * half;
        // Every sample of the channel those frames cover, read once.
        const std::int64_t heldFirst = std::clamp<std::int64_t>(firstCentre - half, 0, std::int64_t(count));
        const std::int64_t heldEnd = std::clamp<std::int64_t>(lastCentre + half + 1, heldFirst, std::int64_t(count));
        held.resize(std::size_t(heldEnd - heldFirst));
        if (!held.empty()) read(std::uint64_t(heldFirst), held.size(), held.data());
        std::fill(peak.begin(), peak.end(), 0.0f);
        if (from > to) {
            analyzer.power(held.data(), heldFirst, held.size(), firstCentre, peak.data());
        } else {
            for (std::int64_t f = from; f <= to; ++f) {
                analyzer.power(held.data(), heldFirst, held.size(), f * half, power.data());
                for (unsigned k = 0; k < bins; ++k)
                    peak[k] = std::max(peak[k], power[k]);
            }
        }
        for (unsigned k = 0; k < bins; ++k)
            out[k] = SpectralSummary::levelOf(Spectral::powerDb(peak[k]));
    }
    return tile;
}

} // namespace ZQ
