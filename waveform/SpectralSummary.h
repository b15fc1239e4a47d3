// A pooled spectrogram of a whole channel, for views that show many frames
// in a pixel column: frames of `size` samples every size / 2 samples (so that
// every sample lies near the middle of a frame, and a single click shows),
// each transformed once, and each bin's greatest power over kPool frames
// kept per block, in dB at half-dB steps (one byte a bin). A column then
// costs the blocks it covers, never the samples: an hour of 44.1 kHz at the
// default size is about 19,400 blocks, 10 MB a channel.
//
// Built once, on both cores, in the background; read-only afterwards, so any
// number of readers share it.
#pragma once

#include "waveform/SpectralAnalysis.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace ZQ {

// Reads one channel's samples [first, first + n) into `out` (any thread, and
// two at once).
using SampleReader = std::function<void(std::uint64_t first, std::uint64_t n, double* out)>;
// A reader of samples the caller holds contiguously.
SampleReader contiguousReader(const double* samples);

class SpectralSummary {
public:
    static constexpr unsigned kPool = 16;
    // The dB range the bytes hold: -126 dBFS to +1.5 (a full-scale square's
    // fundamental reads +2.1 and is kept at the top).
    static constexpr float kFloorDb = -126.0f;
    static constexpr float kTopDb = 1.5f;

    // Summarises `count` samples with frames of `size`; false (and an empty
    // summary) for a bad size, when `cancel` turns true, or when memory runs
    // short. `threads` is 1 or 2.
    bool build(const SampleReader& read, std::uint64_t count, unsigned size, const std::atomic<bool>* cancel = nullptr,
               unsigned threads = 2);
    bool build(const double* samples, std::uint64_t count, unsigned size, const std::atomic<bool>* cancel = nullptr,
               unsigned threads = 2) {
        return samples && build(contiguousReader(samples), count, size, cancel, threads);
    }
    // Summarises again from sample `from` on (the samples changed there, or
    // their count did); the blocks wholly before it are kept.
    bool rebuildFrom(const SampleReader& read, std::uint64_t count, std::uint64_t from,
                     const std::atomic<bool>* cancel = nullptr, unsigned threads = 2);
    bool rebuildFrom(const double* samples, std::uint64_t count, std::uint64_t from,
                     const std::atomic<bool>* cancel = nullptr, unsigned threads = 2) {
        if (!samples) return rebuildFrom(SampleReader(), count, from, cancel, threads);
        return rebuildFrom(contiguousReader(samples), count, from, cancel, threads);
    }
    void clear();

    bool isEmpty() const { return levels_.empty(); }
    unsigned size() const { return size_; }
    unsigned bins() const { return size_ / 2 + 1; }
    std::uint64_t hop() const { return size_ / 2; }
    std::uint64_t samplesPerBlock() const { return hop() * kPool; }
    std::uint64_t sampleCount() const { return count_; }
    std::uint64_t blockCount() const { return blocks_; }
    std::uint64_t bytes() const { return levels_.size(); }

    // The greatest level of each bin (bins() of them, dBFS) over the blocks
    // holding the frames centred on samples first..last.
    void maxDb(std::uint64_t first, std::uint64_t last, float* out) const;

    static std::uint8_t levelOf(float db);
    static float dbOf(std::uint8_t level) { return kFloorDb + level * 0.5f; }

private:
    bool summarise(const SampleReader& read, std::uint64_t fromBlock, const std::atomic<bool>* cancel,
                   unsigned threads);

    unsigned size_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t blocks_ = 0;
    std::vector<std::uint8_t> levels_; // blocks_ rows of bins() bytes
};

} // namespace ZQ
