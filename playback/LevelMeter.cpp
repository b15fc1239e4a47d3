#include "playback/LevelMeter.h"

#include <algorithm>
#include <cmath>

namespace ZQ {

LevelMeter::LevelMeter(double rate) {
    const double r = rate > 0 ? rate : 44100.0;
    stepFrames_ = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(r * kRmsSeconds / kRmsSteps)));
    holdFrames_ = static_cast<std::uint64_t>(std::llround(r * kHoldSeconds));
    const double stepSeconds = static_cast<double>(stepFrames_) / r;
    fallPerStep_ = std::pow(10.0, -kFallDbPerSecond * stepSeconds / 20.0);
    for (unsigned c = 0; c < kMaxChannels; ++c) {
        peak_[c].store(0.0f);
        rms_[c].store(0.0f);
        clip_[c].store(false);
    }
}

double LevelMeter::toDb(double amplitude) {
    if (!(amplitude > 0)) return kFloorDb;
    return std::max(kFloorDb, 20.0 * std::log10(amplitude));
}

void LevelMeter::restart() {
    for (Channel& c : state_)
        c = Channel{};
    stepsFilled_ = stepIndex_ = 0;
    stepDone_ = 0;
    for (unsigned c = 0; c < kMaxChannels; ++c) {
        peak_[c].store(0.0f, std::memory_order_relaxed);
        rms_[c].store(0.0f, std::memory_order_relaxed);
    }
    measured_.store(0, std::memory_order_relaxed);
    active_.store(true, std::memory_order_relaxed);
}

void LevelMeter::measure(const double* samples, unsigned channels, std::uint64_t frames) {
    const unsigned n = std::min(channels, kMaxChannels);
    if (n == 0 || !samples) return;
    if (n != measuring_) {
        measuring_ = n;
        channels_.store(n, std::memory_order_relaxed);
    }
    std::uint64_t k = 0;
    while (k < frames) {
        const std::uint64_t take = std::min(frames - k, stepFrames_ - stepDone_);
        for (unsigned c = 0; c < n; ++c) {
            Channel& ch = state_[c];
            double squares = 0, peak = ch.stepPeak;
            const double* p = samples + k * channels + c;
            for (std::uint64_t i = 0; i < take; ++i) {
                const double v = p[i * channels];
                squares += v * v;
                peak = std::max(peak, std::fabs(v));
            }
            ch.stepSquares += squares;
            ch.stepPeak = peak;
            // Full scale reached: the lamp lights at once, not a step later.
            if (peak >= 1.0) clip_[c].store(true, std::memory_order_relaxed);
        }
        k += take;
        stepDone_ += take;
        if (stepDone_ == stepFrames_) finishStep();
    }
    measured_.fetch_add(frames, std::memory_order_relaxed);
}

void LevelMeter::finishStep() {
    stepsFilled_ = std::min(stepsFilled_ + 1, kRmsSteps);
    for (unsigned c = 0; c < measuring_; ++c) {
        Channel& ch = state_[c];
        // Rises at once; holds; then falls (never below what this step had).
        if (ch.stepPeak >= ch.peak) {
            ch.peak = ch.stepPeak;
            ch.holdLeft = holdFrames_;
        } else if (ch.holdLeft >= stepFrames_) {
            ch.holdLeft -= stepFrames_;
        } else {
            ch.holdLeft = 0;
            ch.peak = std::max(ch.stepPeak, ch.peak * fallPerStep_);
        }
        ch.squares[stepIndex_] = ch.stepSquares;
        double sum = 0;
        for (unsigned s = 0; s < stepsFilled_; ++s)
            sum += ch.squares[s];
        const double rms = std::sqrt(sum / static_cast<double>(stepsFilled_ * stepFrames_));
        peak_[c].store(static_cast<float>(ch.peak), std::memory_order_relaxed);
        rms_[c].store(static_cast<float>(rms), std::memory_order_relaxed);
        ch.stepSquares = 0;
        ch.stepPeak = 0;
    }
    stepIndex_ = (stepIndex_ + 1) % kRmsSteps;
    stepDone_ = 0;
}

double LevelMeter::peakDb(unsigned channel) const {
    return channel < kMaxChannels ? toDb(peak_[channel].load(std::memory_order_relaxed)) : kFloorDb;
}

double LevelMeter::rmsDb(unsigned channel) const {
    return channel < kMaxChannels ? toDb(rms_[channel].load(std::memory_order_relaxed)) : kFloorDb;
}

bool LevelMeter::clipped(unsigned channel) const {
    return channel < kMaxChannels && clip_[channel].load(std::memory_order_relaxed);
}

void LevelMeter::clearClip(unsigned channel) {
    if (channel < kMaxChannels) clip_[channel].store(false, std::memory_order_relaxed);
}

} // namespace ZQ
