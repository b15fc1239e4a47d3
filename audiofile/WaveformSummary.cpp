#include "audiofile/WaveformSummary.h"

#include "core/allocator.h"

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

} // namespace

// Samples [a, b) folded into lo and hi. Several running extremes keep the
// processor's pipelines full; combining them with the same comparisons gives
// the single scan's values (a NaN already in lo stays, NaN samples never win).
void WaveformSummary::scan(const double* s, std::uint64_t a, std::uint64_t b, double& lo, double& hi) {
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

WaveformSummary::~WaveformSummary() {
    clear();
}

void WaveformSummary::clear() {
    for (Level& l : levels_)
        if (l.blocks) freeZeroedArray(l.blocks);
    levels_.clear();
    count_ = 0;
    baseShift_ = kBaseShift;
    valid_.store(0, std::memory_order_release);
    exact_.store(true, std::memory_order_release);
}

std::uint64_t WaveformSummary::bytes() const {
    std::uint64_t n = 0;
    for (const Level& l : levels_)
        n += l.count * sizeof(Extremes);
    return n;
}

bool WaveformSummary::allocateLevels(std::uint64_t count) {
    std::uint64_t blocks = count >> baseShift_;
    while (blocks > 0) {
        auto* b = static_cast<Extremes*>(allocateZeroedArray(blocks * sizeof(Extremes)));
        if (!b) return false;
        levels_.push_back({b, blocks, 0});
        blocks >>= kLevelShift;
    }
    return true;
}

bool WaveformSummary::prepare(std::uint64_t count, unsigned baseShift) {
    clear();
    baseShift_ = std::max(baseShift, kBaseShift);
    if (!allocateLevels(count)) {
        clear();
        return false;
    }
    count_ = count;
    return true;
}

WaveformSummary::Extremes WaveformSummary::extremesOf(const double* s, std::uint64_t n, bool& exact) {
    double lo = kInf, hi = -kInf;
    for (std::uint64_t i = 0; i < n; ++i) {
        lo = lower(lo, s[i]);
        hi = higher(hi, s[i]);
    }
    const auto flo = static_cast<float>(lo), fhi = static_cast<float>(hi);
    exact = exact && static_cast<double>(flo) == lo && static_cast<double>(fhi) == hi;
    return {flo, fhi};
}

void WaveformSummary::extendValid(std::uint64_t blocks, std::uint64_t validSamples, bool exact) {
    if (!exact) exact_.store(false, std::memory_order_relaxed);
    for (std::size_t l = 1; l < levels_.size(); ++l) {
        const Level& below = levels_[l - 1];
        Level& here = levels_[l];
        const std::uint64_t target = std::min(here.count, (blocks >> (kLevelShift * l)));
        for (std::uint64_t b = here.done; b < target; ++b) {
            const Extremes* e = below.blocks + (b << kLevelShift);
            float lo = static_cast<float>(kInf), hi = static_cast<float>(-kInf);
            for (unsigned i = 0; i < (1u << kLevelShift); ++i) {
                lo = e[i].min < lo ? e[i].min : lo;
                hi = hi < e[i].max ? e[i].max : hi;
            }
            here.blocks[b] = {lo, hi};
        }
        here.done = std::max(here.done, target);
    }
    if (validSamples > valid_.load(std::memory_order_relaxed))
        valid_.store(std::min(validSamples, count_), std::memory_order_release);
}

bool WaveformSummary::build(const double* samples, std::uint64_t count) {
    if (!samples && count) return false;
    if (!prepare(count)) return false;
    bool exact = true;
    const std::uint64_t blocks = count >> kBaseShift;
    for (std::uint64_t b = 0; b < blocks; ++b)
        levels_[0].blocks[b] = extremesOf(samples + (b << kBaseShift), std::uint64_t(1) << kBaseShift, exact);
    extendValid(blocks, count, exact);
    return true;
}

void WaveformSummary::fold(const double* samples, std::uint64_t first, std::uint64_t last, double& lo,
                           double& hi) const {
    fold(first, last, lo, hi,
         [samples](std::uint64_t a, std::uint64_t b, double& l, double& h) { scan(samples, a, b, l, h); });
}

} // namespace ZQ
