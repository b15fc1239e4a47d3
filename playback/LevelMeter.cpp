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

void LevelMeter::measure(const double* samples, unsigned channels, std::uint64_t frames, double* addTo) {
    const unsigned n = std::min(channels, kMaxChannels);
    if (n == 0 || !samples) return;
    if (n != measuring_) {
        measuring_ = n;
        channels_.store(n, std::memory_order_relaxed);
    }
    std::uint64_t k = 0;
    while (k < frames) {
        const std::uint64_t take = std::min(frames - k, stepFrames_ - stepDone_);
        // Four running sums and maxima over the interleaved samples, so that
        // no add waits for the one before it; with one or two channels,
        // sample j belongs to channel (j % 4) % n.
        double squares[4] = {0, 0, 0, 0}, peaks[4] = {0, 0, 0, 0};
        const double* p = samples + k * channels;
        const std::uint64_t count = take * channels;
        std::uint64_t j = 0;
        if (channels == n) {
            double* to = addTo ? addTo + k * channels : nullptr;
            // Straight loops without a test inside, which the compiler turns
            // into vector code.
            if (to) {
                for (; j + 4 <= count; j += 4)
                    for (unsigned a = 0; a < 4; ++a) {
                        const double v = p[j + a];
                        squares[a] += v * v;
                        const double m = std::fabs(v);
                        peaks[a] = m > peaks[a] ? m : peaks[a];
                        to[j + a] += v;
                    }
            } else {
                for (; j + 4 <= count; j += 4)
                    for (unsigned a = 0; a < 4; ++a) {
                        const double v = p[j + a];
                        squares[a] += v * v;
                        const double m = std::fabs(v);
                        peaks[a] = m > peaks[a] ? m : peaks[a];
                    }
            }
            for (; j < count; ++j) {
                const double v = p[j];
                squares[j % 4] += v * v;
                peaks[j % 4] = std::max(peaks[j % 4], std::fabs(v));
                if (to) to[j] += v;
            }
        } else {
            if (addTo)
                for (std::uint64_t i = 0; i < count; ++i)
                    addTo[k * channels + i] += p[i];
            // More channels than metered (never from a source): the first n.
            for (std::uint64_t f = 0; f < take; ++f)
                for (unsigned c = 0; c < n; ++c) {
                    const double v = p[f * channels + c];
                    squares[c] += v * v;
                    peaks[c] = std::max(peaks[c], std::fabs(v));
                }
        }
        for (unsigned c = 0; c < n; ++c) {
            Channel& ch = state_[c];
            double sum = 0, peak = ch.stepPeak;
            for (unsigned a = c; a < 4; a += n) {
                sum += squares[a];
                peak = std::max(peak, peaks[a]);
            }
            ch.stepSquares += sum;
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

void LevelMeter::add(const double* squares, const double* peaks, unsigned channels, std::uint64_t frames) {
    const unsigned n = std::min(channels, kMaxChannels);
    if (n == 0 || frames == 0) return;
    if (n != measuring_) {
        measuring_ = n;
        channels_.store(n, std::memory_order_relaxed);
    }
    for (unsigned c = 0; c < n; ++c) {
        Channel& ch = state_[c];
        ch.stepSquares += squares[c];
        ch.stepPeak = std::max(ch.stepPeak, peaks[c]);
        if (peaks[c] >= 1.0) clip_[c].store(true, std::memory_order_relaxed);
    }
    stepDone_ += std::min(frames, stepFrames_ - stepDone_);
    if (stepDone_ == stepFrames_) finishStep();
    measured_.fetch_add(frames, std::memory_order_relaxed);
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
