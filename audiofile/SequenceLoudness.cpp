#include "audiofile/SequenceLoudness.h"

#include "audiofile/SampleSequence.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace ZQ {

namespace {
constexpr std::uint64_t kChunkFrames = 1 << 15;
} // namespace

LoudnessFigures measureLoudness(const SampleSequence& samples, std::uint64_t first, std::uint64_t count, double rate,
                                unsigned threads, const std::atomic<bool>* cancel,
                                std::atomic<std::uint64_t>* samplesDone) {
    const unsigned channels = samples.channelCount();
    if (first > samples.frameCount() || count > samples.frameCount() - first) return {};
    // Stretches start on the 100 ms grid of the gating blocks, each at
    // least ten seconds long.
    const auto hop = static_cast<std::uint64_t>(std::max(1.0, std::round(rate / 10.0)));
    const std::uint64_t leadIn = 3 * hop;
    const std::uint64_t most = std::max<std::uint64_t>(1, count / (100 * hop));
    const unsigned parts = static_cast<unsigned>(std::clamp<std::uint64_t>(threads, 1, most));
    std::vector<std::unique_ptr<LoudnessMeter>> meters(parts);
    for (auto& m : meters) {
        m = LoudnessMeter::create(channels, rate);
        if (!m) return {};
    }
    auto work = [&](unsigned part) {
        const std::uint64_t blocks = count / hop;
        std::uint64_t from = first + (blocks * part / parts) * hop;
        const std::uint64_t to = part + 1 == parts ? first + count : first + (blocks * (part + 1) / parts) * hop;
        if (part > 0) from -= std::min(leadIn, from - first);
        std::vector<double> channelData(kChunkFrames * channels), frames(kChunkFrames * channels);
        std::vector<double*> out(channels);
        for (unsigned c = 0; c < channels; ++c)
            out[c] = channelData.data() + std::size_t(c) * kChunkFrames;
        for (std::uint64_t at = from; at < to; at += kChunkFrames) {
            if (cancel && cancel->load(std::memory_order_relaxed)) return;
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkFrames, to - at));
            samples.readFrames(at, n, out.data());
            for (std::size_t k = 0; k < n; ++k)
                for (unsigned c = 0; c < channels; ++c)
                    frames[k * channels + c] = out[c][k];
            meters[part]->add(frames.data(), n);
            if (samplesDone) samplesDone->fetch_add(std::uint64_t(n) * channels, std::memory_order_relaxed);
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned part = 1; part < parts; ++part)
        helpers.emplace_back(work, part);
    work(0);
    for (std::thread& t : helpers)
        t.join();
    if (cancel && cancel->load()) return {};
    std::vector<LoudnessMeter*> all;
    for (auto& m : meters)
        all.push_back(m.get());
    return LoudnessMeter::combined(all);
}

} // namespace ZQ
