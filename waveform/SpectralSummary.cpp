#include "waveform/SpectralSummary.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <thread>

namespace ZQ {

std::uint8_t SpectralSummary::levelOf(float db) {
    const float steps = std::round((db - kFloorDb) * 2.0f);
    return static_cast<std::uint8_t>(std::clamp(steps, 0.0f, 255.0f));
}

void SpectralSummary::clear() {
    size_ = 0;
    count_ = blocks_ = 0;
    levels_.clear();
    levels_.shrink_to_fit();
}

SampleReader contiguousReader(const double* samples) {
    return [samples](std::uint64_t first, std::uint64_t n, double* out) {
        std::copy(samples + first, samples + first + n, out);
    };
}

bool SpectralSummary::build(const SampleReader& read, std::uint64_t count, unsigned size,
                            const std::atomic<bool>* cancel, unsigned threads) {
    clear();
    if (!read || count == 0 || !Spectral::isValidSize(size)) return false;
    size_ = size;
    return rebuildFrom(read, count, 0, cancel, threads);
}

bool SpectralSummary::rebuildFrom(const SampleReader& read, std::uint64_t count, std::uint64_t from,
                                  const std::atomic<bool>* cancel, unsigned threads) {
    if (!read || count == 0 || size_ == 0) {
        clear();
        return false;
    }
    // Frames centred on 0, hop, 2 hop, ... up to the last sample.
    const std::uint64_t frames = (count - 1) / hop() + 1;
    const std::uint64_t blocks = (frames + kPool - 1) / kPool;
    // A frame reaches size / 2 samples back: the first block whose frames can
    // see a changed sample.
    const std::uint64_t firstChanged = from > hop() ? (from - hop()) / samplesPerBlock() : 0;
    const std::uint64_t keep = std::min({firstChanged, blocks_, blocks});
    try {
        levels_.resize(blocks * bins());
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
    count_ = count;
    blocks_ = blocks;
    if (!summarise(read, keep, cancel, threads)) {
        clear();
        return false;
    }
    return true;
}

bool SpectralSummary::summarise(const SampleReader& read, std::uint64_t fromBlock, const std::atomic<bool>* cancel,
                                unsigned threads) {
    const unsigned n = bins();
    const std::uint64_t frames = (count_ - 1) / hop() + 1;
    std::atomic<bool> stopped{false};
    auto work = [&](std::uint64_t firstBlock, std::uint64_t endBlock) {
        Spectral::FrameAnalyzer analyzer(size_);
        std::vector<float> power(n), peak(n);
        std::vector<double> held; // the block's frames' samples
        for (std::uint64_t b = firstBlock; b < endBlock; ++b) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                stopped.store(true);
                return;
            }
            std::fill(peak.begin(), peak.end(), 0.0f);
            const std::uint64_t endFrame = std::min(frames, (b + 1) * kPool);
            // Every sample of the channel that the block's frames cover.
            const std::int64_t half = size_ / 2;
            const std::int64_t heldFirst = std::max<std::int64_t>(0, std::int64_t(b * kPool * hop()) - half);
            const std::int64_t heldEnd =
                std::min<std::int64_t>(std::int64_t(count_), std::int64_t((endFrame - 1) * hop()) + half + 1);
            held.resize(std::size_t(heldEnd - heldFirst));
            read(std::uint64_t(heldFirst), held.size(), held.data());
            for (std::uint64_t f = b * kPool; f < endFrame; ++f) {
                analyzer.power(held.data(), heldFirst, held.size(), static_cast<std::int64_t>(f * hop()), power.data());
                for (unsigned k = 0; k < n; ++k)
                    peak[k] = std::max(peak[k], power[k]);
            }
            // Logarithms once a block, not once a frame.
            std::uint8_t* row = levels_.data() + b * n;
            for (unsigned k = 0; k < n; ++k)
                row[k] = levelOf(Spectral::powerDb(peak[k]));
        }
    };
    const std::uint64_t todo = blocks_ - std::min(fromBlock, blocks_);
    if (threads >= 2 && todo >= 4) {
        const std::uint64_t middle = fromBlock + todo / 2;
        std::thread other(work, middle, blocks_);
        work(fromBlock, middle);
        other.join();
    } else {
        work(fromBlock, blocks_);
    }
    return !stopped.load();
}

void SpectralSummary::maxDb(std::uint64_t first, std::uint64_t last, float* out) const {
    const unsigned n = bins();
    if (isEmpty() || n == 0) {
        std::fill(out, out + n, Spectral::kSilenceDb);
        return;
    }
    // The frames centred in first..last, and the blocks that hold them; a
    // range between two frame centres takes the nearer frame.
    const std::uint64_t a = std::min(first, count_ - 1), b = std::clamp(last, a, count_ - 1);
    std::uint64_t firstFrame = (a + hop() - 1) / hop(), lastFrame = b / hop();
    if (firstFrame > lastFrame) firstFrame = lastFrame = (a + hop() / 2) / hop();
    const std::uint64_t firstBlock = std::min(firstFrame / kPool, blocks_ - 1);
    const std::uint64_t lastBlock = std::min(lastFrame / kPool, blocks_ - 1);
    std::vector<std::uint8_t> best(levels_.begin() + static_cast<std::ptrdiff_t>(firstBlock * n),
                                   levels_.begin() + static_cast<std::ptrdiff_t>((firstBlock + 1) * n));
    for (std::uint64_t block = firstBlock + 1; block <= lastBlock; ++block) {
        const std::uint8_t* row = levels_.data() + block * n;
        for (unsigned k = 0; k < n; ++k)
            best[k] = std::max(best[k], row[k]);
    }
    for (unsigned k = 0; k < n; ++k)
        out[k] = best[k] == 0 ? Spectral::kSilenceDb : dbOf(best[k]);
}

} // namespace ZQ
