#include "waveform/WaveformSummary.h"

#include "core/allocator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ZQ {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The scan's own comparisons: a NaN on the right never replaces the left.
inline double lower(double acc, double s) {
    return s < acc ? s : acc;
}
inline double higher(double acc, double s) {
    return acc < s ? s : acc;
}

// Samples [a, b) folded into lo and hi. Several running extremes keep the
// processor's pipelines full; combining them with the same comparisons gives
// the single scan's values (a NaN already in lo stays, NaN samples never win).
inline void scan(const double* s, std::uint64_t a, std::uint64_t b, double& lo, double& hi) {
#if defined(__SSE2__)
    // MINPD/MAXPD give their second operand when either is NaN: with the
    // running value second, that is the scan's std::min(running, sample).
    if (b - a >= 8) {
        __m128d l0 = _mm_set1_pd(kInf), l1 = l0, h0 = _mm_set1_pd(-kInf), h1 = h0;
        for (; a + 4 <= b; a += 4) {
            const __m128d x = _mm_loadu_pd(s + a), y = _mm_loadu_pd(s + a + 2);
            l0 = _mm_min_pd(x, l0);
            h0 = _mm_max_pd(x, h0);
            l1 = _mm_min_pd(y, l1);
            h1 = _mm_max_pd(y, h1);
        }
        alignas(16) double lows[4], highs[4];
        _mm_store_pd(lows, l0);
        _mm_store_pd(lows + 2, l1);
        _mm_store_pd(highs, h0);
        _mm_store_pd(highs + 2, h1);
        for (int i = 0; i < 4; ++i) {
            lo = std::min(lo, lows[i]);
            hi = std::max(hi, highs[i]);
        }
    }
#endif
    double l1 = kInf, l2 = kInf, l3 = kInf, h1 = -kInf, h2 = -kInf, h3 = -kInf;
    for (; a + 4 <= b; a += 4) {
        lo = std::min(lo, s[a]);
        hi = std::max(hi, s[a]);
        l1 = std::min(l1, s[a + 1]);
        h1 = std::max(h1, s[a + 1]);
        l2 = std::min(l2, s[a + 2]);
        h2 = std::max(h2, s[a + 2]);
        l3 = std::min(l3, s[a + 3]);
        h3 = std::max(h3, s[a + 3]);
    }
    for (; a < b; ++a) {
        lo = std::min(lo, s[a]);
        hi = std::max(hi, s[a]);
    }
    lo = std::min(std::min(lo, l1), std::min(l2, l3));
    hi = std::max(std::max(hi, h1), std::max(h2, h3));
}

} // namespace

WaveformSummary::~WaveformSummary() {
    clear();
}

void WaveformSummary::clear() {
    for (Level& l : levels_)
        if (l.blocks) freeZeroedArray(l.blocks);
    levels_.clear();
    count_ = 0;
    exact_ = true;
}

std::uint64_t WaveformSummary::bytes() const {
    std::uint64_t n = 0;
    for (const Level& l : levels_)
        n += l.count * sizeof(Extremes);
    return n;
}

bool WaveformSummary::allocateLevels(std::uint64_t count) {
    std::uint64_t blocks = count >> kBaseShift;
    while (blocks > 0) {
        auto* b = static_cast<Extremes*>(allocateZeroedArray(blocks * sizeof(Extremes)));
        if (!b) return false;
        levels_.push_back({b, blocks});
        blocks >>= kLevelShift;
    }
    return true;
}

void WaveformSummary::summarise(const double* samples, std::uint64_t fromBlock) {
    if (levels_.empty()) return;
    const Level& base = levels_[0];
    bool exact = true;
    for (std::uint64_t b = fromBlock; b < base.count; ++b) {
        const double* s = samples + (b << kBaseShift);
        double lo = kInf, hi = -kInf;
        for (unsigned i = 0; i < (1u << kBaseShift); ++i) {
            lo = lower(lo, s[i]);
            hi = higher(hi, s[i]);
        }
        const auto flo = static_cast<float>(lo), fhi = static_cast<float>(hi);
        exact = exact && static_cast<double>(flo) == lo && static_cast<double>(fhi) == hi;
        base.blocks[b] = {flo, fhi};
    }
    exact_ = exact_ && exact;
    for (std::size_t l = 1; l < levels_.size(); ++l) {
        fromBlock >>= kLevelShift;
        const Level& below = levels_[l - 1];
        const Level& here = levels_[l];
        for (std::uint64_t b = fromBlock; b < here.count; ++b) {
            const Extremes* e = below.blocks + (b << kLevelShift);
            float lo = static_cast<float>(kInf), hi = static_cast<float>(-kInf);
            for (unsigned i = 0; i < (1u << kLevelShift); ++i) {
                lo = e[i].min < lo ? e[i].min : lo;
                hi = hi < e[i].max ? e[i].max : hi;
            }
            here.blocks[b] = {lo, hi};
        }
    }
}

bool WaveformSummary::build(const double* samples, std::uint64_t count) {
    clear();
    if (!samples && count) return false;
    if (!allocateLevels(count)) {
        clear();
        return false;
    }
    count_ = count;
    summarise(samples, 0);
    return true;
}

bool WaveformSummary::rebuildFrom(const double* samples, std::uint64_t count, std::uint64_t from) {
    if (!samples && count) return false;
    std::vector<Level> old;
    old.swap(levels_);
    const std::uint64_t oldCount = count_;
    count_ = 0;
    if (from == 0) exact_ = true; // all of it is summarised anew
    const bool ok = allocateLevels(count);
    // Blocks wholly before the change keep their extremes.
    std::uint64_t keep = std::min({from, count, oldCount}) >> kBaseShift;
    for (std::size_t l = 0; ok && l < levels_.size() && l < old.size(); ++l) {
        const std::uint64_t n = std::min({keep, levels_[l].count, old[l].count});
        if (n) std::memcpy(levels_[l].blocks, old[l].blocks, n * sizeof(Extremes));
        keep >>= kLevelShift;
    }
    for (Level& l : old)
        if (l.blocks) freeZeroedArray(l.blocks);
    if (!ok) {
        clear();
        return false;
    }
    count_ = count;
    summarise(samples, std::min(from, count) >> kBaseShift);
    return true;
}

void WaveformSummary::prefetch(const double* samples, std::uint64_t at) const {
    if (at >= count_) return;
    // A column edge: the tail of one column and the head of the next are the
    // samples either side of the block edge nearest to it.
    constexpr std::uint64_t kBase = std::uint64_t(1) << kBaseShift;
    const std::uint64_t edge = at & ~(kBase - 1);
    const std::uint64_t from = edge >= kBase ? edge - kBase : 0, to = std::min(count_, edge + kBase);
    for (std::uint64_t i = from; i < to; i += 8)
        __builtin_prefetch(samples + i);
    for (std::size_t l = 0; l < levels_.size() && l < 3; ++l) {
        const std::uint64_t b = at >> (kBaseShift + kLevelShift * l);
        if (b < levels_[l].count) __builtin_prefetch(levels_[l].blocks + b);
        if (b > 0 && b - 1 < levels_[l].count) __builtin_prefetch(levels_[l].blocks + b - 1);
    }
}

void WaveformSummary::fold(const double* samples, std::uint64_t first, std::uint64_t last, double& lo,
                           double& hi) const {
    auto block = [&](const Extremes& e) {
        lo = std::min(lo, static_cast<double>(e.min));
        hi = std::max(hi, static_cast<double>(e.max));
    };
    constexpr std::uint64_t kBase = std::uint64_t(1) << kBaseShift;
    const std::uint64_t end = last + 1;
    std::uint64_t pos = (first + kBase - 1) & ~(kBase - 1); // the first block edge
    if (levels_.empty() || pos >= end || end - pos < kBase) {
        scan(samples, first, end, lo, hi);
        return;
    }
    scan(samples, first, pos, lo, hi);
    // Up: at each level, blocks until the position is aligned to the next
    // level's block, as long as they fit; then the same down again.
    std::size_t l = 0;
    for (;;) {
        const unsigned shift = kBaseShift + kLevelShift * static_cast<unsigned>(l);
        const std::uint64_t size = std::uint64_t(1) << shift;
        if (l + 1 < levels_.size()) {
            const std::uint64_t next = size << kLevelShift;
            while ((pos & (next - 1)) && end - pos >= size) {
                block(levels_[l].blocks[pos >> shift]);
                pos += size;
            }
            if (!(pos & (next - 1)) && end - pos >= next) {
                ++l;
                continue;
            }
        }
        break;
    }
    for (;;) {
        const unsigned shift = kBaseShift + kLevelShift * static_cast<unsigned>(l);
        const std::uint64_t size = std::uint64_t(1) << shift;
        while (end - pos >= size) {
            block(levels_[l].blocks[pos >> shift]);
            pos += size;
        }
        if (l == 0) break;
        --l;
    }
    scan(samples, pos, end, lo, hi);
}

} // namespace ZQ
