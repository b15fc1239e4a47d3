#include "processing/Loudness.h"

#include "processing/TruePeak.h"

#include <algorithm>
#include <cstdio>
#include <ebur128.h>

namespace ZQ {

namespace {
// The true peak is our own (TruePeak): libebur128's takes three times as long
// as the rest of the measurement together.
constexpr int kMode = EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK;

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
    m->truePeak_ = std::make_unique<TruePeak>(channels, rate);
    return m;
}

LoudnessMeter::~LoudnessMeter() {
    auto* s = static_cast<ebur128_state*>(state_);
    if (s) ebur128_destroy(&s);
}

void LoudnessMeter::add(const double* interleaved, std::size_t frames) {
    if (!frames) return;
    ebur128_add_frames_double(static_cast<ebur128_state*>(state_), interleaved, frames);
    truePeak_->add(interleaved, frames);
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
        for (unsigned c = 0; c < meters.front()->channels_; ++c)
            if (ebur128_sample_peak(s, c, &value) == EBUR128_SUCCESS) samplePeak = std::max(samplePeak, value);
    for (LoudnessMeter* m : meters)
        if (m && m->truePeak_) truePeak = std::max(truePeak, m->truePeak_->peak());
    f.truePeak = decibels(truePeak);
    f.samplePeak = decibels(samplePeak);
    f.valid = true;
    return f;
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
