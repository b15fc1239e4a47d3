// An exact summary of one channel for the overview: the minimum and maximum
// of every block of 32 samples, and of every 8 such blocks, and so on up.
// The minimum and maximum of any range of samples then cost time in
// proportion to the number of levels, not of samples, and are exactly what a
// scan of the samples finds (NaN samples are passed over as the scan passes
// over them; see fold()).
//
// The extremes are kept as 32-bit floats: a channel decoded from a file holds
// values widened from floats, whose extremes floats hold exactly. A channel
// with any extreme a float cannot hold exactly is not summarised (isExact()
// is false and the overview scans its samples instead).
//
// Memory: 8 bytes per 32 samples, and an eighth more for the levels above,
// about 0.29 bytes per sample. Built on any thread; read-only afterwards, so
// any number of readers may share it.
#pragma once

#include <cstdint>
#include <vector>

namespace ZQ {

class WaveformSummary {
public:
    static constexpr unsigned kBaseShift = 5;  // 32 samples per block at the first level
    static constexpr unsigned kLevelShift = 3; // each level's blocks hold 8 of the level below

    struct Extremes {
        float min;
        float max;
    };

    WaveformSummary() = default;
    WaveformSummary(const WaveformSummary&) = delete;
    WaveformSummary& operator=(const WaveformSummary&) = delete;
    ~WaveformSummary();

    // Summarises `count` samples; false (and an empty summary) when memory
    // runs short. Samples may be NaN or infinite.
    bool build(const double* samples, std::uint64_t count);
    // Summarises again from sample `from` on, for samples that changed there
    // (or whose count changed); the blocks before `from` are kept.
    bool rebuildFrom(const double* samples, std::uint64_t count, std::uint64_t from);
    void clear();

    std::uint64_t sampleCount() const { return count_; }
    // Whether the summary holds its samples' extremes exactly (see above).
    bool isExact() const { return exact_; }
    bool isEmpty() const { return levels_.empty(); }
    std::size_t levelCount() const { return levels_.size(); }
    std::uint64_t bytes() const;

    // Folds samples [first, last] (inclusive, last < sampleCount()) of the
    // samples this summary was built from into `lo` and `hi` exactly as the
    // scan `lo = min(lo, s[i]); hi = max(hi, s[i])` with std::min/std::max
    // would, up to the sign of a zero: a NaN sample never replaces a number.
    void fold(const double* samples, std::uint64_t first, std::uint64_t last, double& lo, double& hi) const;

    // Asks the processor to start loading what a fold starting or ending
    // near sample `at` reads, so that folding column after column of a wide
    // range does not wait on memory for each one.
    void prefetch(const double* samples, std::uint64_t at) const;

private:
    struct Level {
        Extremes* blocks = nullptr; // from the tracking allocator
        std::uint64_t count = 0;    // whole blocks only
    };
    bool allocateLevels(std::uint64_t count);
    void summarise(const double* samples, std::uint64_t fromBlock);

    std::vector<Level> levels_;
    std::uint64_t count_ = 0;
    bool exact_ = true;
};

} // namespace ZQ
