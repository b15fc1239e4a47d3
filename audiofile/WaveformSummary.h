// An exact summary of one channel of samples for the overview: the minimum
// and maximum of every first-level block (32 samples, or a larger power of
// two for very long channels), of every 8 such blocks, and so on up. The
// minimum and maximum of any range then cost time in proportion to the
// number of levels, not of samples, and are exactly what a scan of the
// samples finds (NaN samples are passed over as the scan passes over them;
// see fold()). The samples themselves are not held: fold() asks its caller
// to scan the few at either end of a range that no whole block covers.
//
// The extremes are kept as 32-bit floats: samples read from a file are
// floats widened to double, whose extremes floats hold exactly. A channel
// with any extreme a float cannot hold exactly is not summarised exactly
// (isExact() is false and the overview scans its samples instead).
//
// A summary may be built a stretch at a time (a long file, on several
// workers): samples [0, validSamples()) can be folded while the rest is
// still being written. Whoever writes first-level blocks calls
// extendValid() from one thread at a time; any number of threads may fold
// at once. Memory: 8 bytes per first-level block, and an eighth more for
// the levels above (about 0.29 bytes per sample with blocks of 32).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace ZQ {

class WaveformSummary {
public:
    static constexpr unsigned kBaseShift = 5;  // the finest first level: 32 samples per block
    static constexpr unsigned kLevelShift = 3; // each level's blocks hold 8 of the level below

    struct Extremes {
        float min;
        float max;
    };

    WaveformSummary() = default;
    WaveformSummary(const WaveformSummary&) = delete;
    WaveformSummary& operator=(const WaveformSummary&) = delete;
    ~WaveformSummary();

    // An empty summary of `count` samples with first-level blocks of
    // 2^baseShift samples (at least kBaseShift); false (and an empty summary)
    // when memory runs short.
    bool prepare(std::uint64_t count, unsigned baseShift = kBaseShift);
    // The whole summary of `count` contiguous samples at once; false when
    // memory runs short. Samples may be NaN or infinite.
    bool build(const double* samples, std::uint64_t count);
    // The first level's blocks, for a builder to write block b's extremes to
    // firstLevel()[b] before it passes b in extendValid().
    Extremes* firstLevel() { return levels_.empty() ? nullptr : levels_[0].blocks; }
    // First-level blocks [0, blocks) are written: the levels above are
    // completed over them and samples [0, validSamples) may be folded
    // (validSamples is blocks << baseShift, or sampleCount() at the end).
    // `exact` is false when a written block's extremes were rounded.
    void extendValid(std::uint64_t blocks, std::uint64_t validSamples, bool exact);
    void clear();

    std::uint64_t sampleCount() const { return count_; }
    std::uint64_t validSamples() const { return valid_.load(std::memory_order_acquire); }
    bool isComplete() const { return validSamples() >= count_; }
    unsigned baseShift() const { return baseShift_; }
    // Whether the summary holds its samples' extremes exactly (see above).
    bool isExact() const { return exact_.load(std::memory_order_acquire); }
    bool isEmpty() const { return levels_.empty(); }
    std::size_t levelCount() const { return levels_.size(); }
    std::uint64_t bytes() const;

    // The extremes of `n` contiguous samples with the scan's comparisons,
    // widened back from floats; `exact` turns false when a float cannot
    // hold one of them.
    static Extremes extremesOf(const double* samples, std::uint64_t n, bool& exact);

    // Folds samples [first, last] (inclusive, last < validSamples()) into `lo`
    // and `hi` exactly as the scan `lo = min(lo, s[i]); hi = max(hi, s[i])`
    // with std::min/std::max would, up to the sign of a zero: a NaN sample
    // never replaces a number. scan(a, b, lo, hi) must fold samples [a, b)
    // the same way; it is asked only for the ends no whole block covers.
    template <class Scan> void fold(std::uint64_t first, std::uint64_t last, double& lo, double& hi, Scan&& scan) const;
    // fold() over summaries[0 ... count-1], all with the same blocks, into
    // lo[c] and hi[c]; scan(a, b) folds samples [a, b) of all of them.
    template <class Scan>
    static void foldAll(const WaveformSummary* summaries, unsigned count, std::uint64_t first, std::uint64_t last,
                        double* lo, double* hi, Scan&& scan);
    // The same over samples the caller holds contiguously (from sample 0).
    void fold(const double* samples, std::uint64_t first, std::uint64_t last, double& lo, double& hi) const;

    // The scan over contiguous samples that fold() relies on.
    static void scan(const double* samples, std::uint64_t a, std::uint64_t b, double& lo, double& hi);

private:
    // The blocks that cover samples [first, last] whole, as block(level,
    // index), and the ends no block covers, as scan(a, b).
    template <class Block, class Scan>
    void walk(std::uint64_t first, std::uint64_t last, Block&& block, Scan&& scan) const;

    struct Level {
        Extremes* blocks = nullptr; // from the tracking allocator
        std::uint64_t count = 0;    // whole blocks only
        std::uint64_t done = 0;     // blocks whose extremes are written (levels above the first)
    };
    bool allocateLevels(std::uint64_t count);

    std::vector<Level> levels_;
    std::uint64_t count_ = 0;
    unsigned baseShift_ = kBaseShift;
    std::atomic<std::uint64_t> valid_{0};
    std::atomic<bool> exact_{true};
};

template <class Block, class Scan>
void WaveformSummary::walk(std::uint64_t first, std::uint64_t last, Block&& block, Scan&& scan) const {
    const std::uint64_t base = std::uint64_t(1) << baseShift_;
    const std::uint64_t end = last + 1;
    std::uint64_t pos = (first + base - 1) & ~(base - 1); // the first block edge
    if (levels_.empty() || pos >= end || end - pos < base) {
        scan(first, end);
        return;
    }
    if (first < pos) scan(first, pos);
    // Up: at each level, blocks until the position is aligned to the next
    // level's block, as long as they fit; then the same down again.
    std::size_t l = 0;
    for (;;) {
        const unsigned shift = baseShift_ + kLevelShift * static_cast<unsigned>(l);
        const std::uint64_t size = std::uint64_t(1) << shift;
        if (l + 1 < levels_.size()) {
            const std::uint64_t next = size << kLevelShift;
            while ((pos & (next - 1)) && end - pos >= size) {
                block(l, pos >> shift);
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
        const unsigned shift = baseShift_ + kLevelShift * static_cast<unsigned>(l);
        const std::uint64_t size = std::uint64_t(1) << shift;
        while (end - pos >= size) {
            block(l, pos >> shift);
            pos += size;
        }
        if (l == 0) break;
        --l;
    }
    if (pos < end) scan(pos, end);
}

template <class Scan>
void WaveformSummary::fold(std::uint64_t first, std::uint64_t last, double& lo, double& hi, Scan&& scan) const {
    walk(
        first, last,
        [&](std::size_t l, std::uint64_t b) {
            const Extremes& e = levels_[l].blocks[b];
            lo = std::min(lo, static_cast<double>(e.min));
            hi = std::max(hi, static_cast<double>(e.max));
        },
        [&](std::uint64_t a, std::uint64_t b) { scan(a, b, lo, hi); });
}

template <class Scan>
void WaveformSummary::foldAll(const WaveformSummary* summaries, unsigned count, std::uint64_t first, std::uint64_t last,
                              double* lo, double* hi, Scan&& scan) {
    summaries[0].walk(
        first, last,
        [&](std::size_t l, std::uint64_t b) {
            for (unsigned c = 0; c < count; ++c) {
                const Extremes& e = summaries[c].levels_[l].blocks[b];
                lo[c] = std::min(lo[c], static_cast<double>(e.min));
                hi[c] = std::max(hi[c], static_cast<double>(e.max));
            }
        },
        scan);
}

} // namespace ZQ
