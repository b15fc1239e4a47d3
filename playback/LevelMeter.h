// The level of what a source sends to the device, per output channel: a
// peak that rises at once, holds for 1.5 s and then falls at 20 dB a
// second, the RMS over the last 300 ms, and a clip flag that stays set
// until it is cleared. The stream thread measures (under the stream's
// lock, without allocating); any thread reads the published figures, which
// are plain atomics.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace ZQ {

class LevelMeter {
public:
    static constexpr unsigned kMaxChannels = 2; // a mono or a stereo stream
    // What the meters show as silence, and the bottom of their scale.
    static constexpr double kFloorDb = -60.0;
    static constexpr double kHoldSeconds = 1.5;
    static constexpr double kFallDbPerSecond = 20.0;
    static constexpr double kRmsSeconds = 0.3;
    // The RMS window moves in steps of 10 ms: 30 of them make 300 ms.
    static constexpr unsigned kRmsSteps = 30;

    explicit LevelMeter(double rate);

    // Stream thread: `frames` interleaved frames of `channels` channels, as
    // they go to the device; with `addTo`, each sample is also added there
    // (in the same pass: the source's sound joins the stream's mix).
    void measure(const double* samples, unsigned channels, std::uint64_t frames, double* addTo = nullptr);
    // Stream thread, for a caller that meters while it mixes: how many frames
    // may go into one call of add (the rest of the current 10 ms step), and
    // the sums of squares and the largest magnitudes of that many frames.
    std::uint64_t framesToStepEnd() const { return stepFrames_ - stepDone_; }
    void add(const double* squares, const double* peaks, unsigned channels, std::uint64_t frames);
    // With the stream's lock held (or before the stream knows the source):
    // the meters start again from silence (a new Play, a resume).
    void restart();

    // Whether sound is on its way (from a restart until the source stops
    // producing): a display shows silence otherwise.
    void setActive(bool active) { active_.store(active, std::memory_order_relaxed); }
    bool isActive() const { return active_.load(std::memory_order_relaxed); }

    // Any thread.
    unsigned channels() const { return channels_.load(std::memory_order_relaxed); }
    // dBFS, at least kFloorDb.
    double peakDb(unsigned channel) const;
    double rmsDb(unsigned channel) const;
    bool clipped(unsigned channel) const;
    void clearClip(unsigned channel);
    // How many frames have been measured since the last restart.
    std::uint64_t framesMeasured() const { return measured_.load(std::memory_order_relaxed); }

    // Amplitude (linear) in dBFS, at least kFloorDb.
    static double toDb(double amplitude);

private:
    void finishStep();

    std::uint64_t stepFrames_;
    std::uint64_t holdFrames_;
    double fallPerStep_; // the factor a falling peak is multiplied by per step
    // Stream thread only.
    struct Channel {
        std::array<double, kRmsSteps> squares{};
        double stepSquares = 0, stepPeak = 0, peak = 0;
        std::uint64_t holdLeft = 0;
    };
    std::array<Channel, kMaxChannels> state_{};
    unsigned stepsFilled_ = 0, stepIndex_ = 0, measuring_ = 0;
    std::uint64_t stepDone_ = 0;
    // Published.
    std::array<std::atomic<float>, kMaxChannels> peak_{}, rms_{};
    std::array<std::atomic<bool>, kMaxChannels> clip_{};
    std::atomic<unsigned> channels_{0};
    std::atomic<std::uint64_t> measured_{0};
    std::atomic<bool> active_{false};
};

} // namespace ZQ
