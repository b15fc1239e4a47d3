#include "processing/Loudness.h"

#include "audiofile/SampleSequence.h"

#include <algorithm>
#include <cstdio>
#include <ebur128.h>
#include <thread>

namespace ZQ {

namespace {
constexpr int kMode = EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_TRUE_PEAK;
constexpr std::uint64_t kChunkFrames = 1 << 15;

double decibels(double amplitude) {
    return amplitude > 0 ? 20.0 * std::log10(amplitude) : -HUGE_VAL;
}
} // namespace

std::unique_ptr<LoudnessMeter> LoudnessMeter::create(unsigned channels, double rate) {
    if (channels == 0 || !(rate >= 1.0)) return nullptr;
    ebur128_state* s = ebur128_init(channels, static_cast<unsigned long>(std::lround(rate)), kMode);
    if (!s) return nullptr;
    std::unique_ptr<LoudnessMeter> m(new LoudnessMeter);
    m->state_ = s;
    m->channels_ = channels;
    return m;
}

LoudnessMeter::~LoudnessMeter() {
    auto* s = static_cast<ebur128_state*>(state_);
    if (s) ebur128_destroy(&s);
}

void LoudnessMeter::add(const double* interleaved, std::size_t frames) {
    if (frames) ebur128_add_frames_double(static_cast<ebur128_state*>(state_), interleaved, frames);
}

LoudnessFigures LoudnessMeter::figures() const {
    return combined({const_cast<LoudnessMeter*>(this)});
}

LoudnessFigures LoudnessMeter::combined(const std::vector<LoudnessMeter*>& meters) {
    LoudnessFigures f;
    std::vector<ebur128_state*> states;
    for (LoudnessMeter* m : meters)
        if (m && m->state_) states.push_back(static_cast<ebur128_state*>(m->state_));
    if (states.empty()) return f;
    double value = 0;
    if (ebur128_loudness_global_multiple(states.data(), states.size(), &value) == EBUR128_SUCCESS)
        f.integrated = std::isfinite(value) ? value : -HUGE_VAL;
    if (ebur128_loudness_range_multiple(states.data(), states.size(), &value) == EBUR128_SUCCESS) f.range = value;
    double truePeak = 0, samplePeak = 0;
    for (ebur128_state* s : states)
        for (unsigned c = 0; c < meters.front()->channels_; ++c) {
            if (ebur128_true_peak(s, c, &value) == EBUR128_SUCCESS) truePeak = std::max(truePeak, value);
            if (ebur128_sample_peak(s, c, &value) == EBUR128_SUCCESS) samplePeak = std::max(samplePeak, value);
        }
    f.truePeak = decibels(truePeak);
    f.samplePeak = decibels(samplePeak);
    f.valid = true;
    return f;
}

LoudnessFigures measureLoudness(const SampleSequence& samples, std::uint64_t first, std::uint64_t count, double rate,
                                unsigned threads, const std::atomic<bool>* cancel) {
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

std::string loudnessText(double value, const char* unit) {
    char text[48];
    if (!std::isfinite(value))
        std::snprintf(text, sizeof text, "-inf %s", unit);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, unit);
    return text;
}

} // namespace ZQ
