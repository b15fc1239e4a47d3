// Level statistics of sample ranges: per channel the peak (largest |x|, with
// the signed sample and the index of its first occurrence), RMS, DC offset
// and the count of clipped samples (|x| >= 1). Pure computation over the
// caller's samples, split over two threads, with progress and cancellation.
//
// Sums are taken in double: lanes of partial sums within blocks of a few
// thousand samples, block totals added with their rounding error kept
// (Neumaier), so that an hour of samples keeps RMS and DC offset exact to
// far below anything a level display shows. NaN samples never count as a
// peak or as clipped (they do make the sums NaN).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace ZQ::Statistics {

// A sample at or beyond this magnitude is clipped.
inline constexpr double kClipLevel = 1.0;

// A sum of many doubles with its rounding error carried beside it.
struct CompensatedSum {
    double sum = 0.0;
    double error = 0.0;

    void add(double x);
    void add(const CompensatedSum& other);
    double value() const { return sum + error; }
};

// One channel over one range. Plain data: the sums are kept, not the means,
// so that the statistics of neighbouring ranges join with append().
struct ChannelStatistics {
    std::uint64_t count = 0;          // samples
    double peak = 0.0;                // the largest |x| (0 for silence)
    double peakValue = 0.0;           // the signed sample at firstPeakIndex
    std::uint64_t firstPeakIndex = 0; // index (in the channel) of the first sample with |x| == peak
    std::uint64_t clipped = 0;        // samples with |x| >= kClipLevel
    CompensatedSum sum;               // of x
    CompensatedSum sumOfSquares;      // of x * x

    // 20 log10 of the level; -inf for silence (and for no samples).
    double peakDbfs() const;
    double rms() const;
    double rmsDbfs() const;
    // The mean sample (0 for no samples).
    double dcOffset() const;
    // Adds the statistics of the range that follows this one (its first
    // peak counts only when it is strictly larger than this one's).
    void append(const ChannelStatistics& later);
};

// 20 log10(level): -inf for 0.
double toDbfs(double level);

// Progress and cancellation of a computation. Any thread.
struct Control {
    std::atomic<bool> cancelRequested{false};
    std::atomic<std::uint64_t> samplesDone{0};
    // Set by compute() to its own sample count when 0 at its start; a caller
    // that computes one range in several calls sets the whole count first.
    std::atomic<std::uint64_t> samplesTotal{0};
    // Called from the computing threads after each piece with fraction();
    // calls from the two threads may arrive out of order. Optional.
    std::function<void(double fraction)> onProgress;

    void cancel() { cancelRequested.store(true, std::memory_order_relaxed); }
    bool cancelled() const { return cancelRequested.load(std::memory_order_relaxed); }
    // 0 ... 1.
    double fraction() const;
};

// Samples [first, last] (both included) of each channel: channels[c] points
// at sample 0 of channel c, which must hold at least last + 1 samples.
// `out` gets one entry per channel, peak indices counted from sample 0.
// Uses `threads` threads (1 or 2; one for short ranges). False, with `out`
// empty, when cancelled through `control`, for no channels, a null channel
// or first > last. The caller keeps the samples unchanged until it returns.
bool compute(std::span<const double* const> channels, std::uint64_t first, std::uint64_t last,
             std::vector<ChannelStatistics>& out, Control* control = nullptr, int threads = 2);
// The same over samples that read(c, first, count, to) delivers (from any
// of the computing threads at once): channel c's samples [first, first +
// count) into `to`. `channelCount` channels are measured.
using ChannelReader = std::function<void(std::uint64_t channel, std::uint64_t first, std::uint64_t count, double* to)>;
bool compute(const ChannelReader& read, std::uint64_t channelCount, std::uint64_t first, std::uint64_t last,
             std::vector<ChannelStatistics>& out, Control* control = nullptr, int threads = 2);

// Texts as the statistics panel shows them: "-6.02 dBFS", "-inf dBFS"
// (silence), "n/a" (NaN).
std::string dbfsText(double db);
// A sample value with its sign: "+0.500000", "-1.000000"; values below
// 0.0001 in scientific form ("+2.500e-07"), "0" for zero.
std::string sampleValueText(double value);

} // namespace ZQ::Statistics
