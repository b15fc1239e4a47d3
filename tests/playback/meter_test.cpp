// The level meter's ballistics on known signals, fed as the stream thread
// feeds it (blocks of interleaved frames).
#include "playback/LevelMeter.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

using ZQ::LevelMeter;

namespace {

// `seconds` of a sine of `amplitude` at 1 kHz on channel 0 and `right` times
// it on channel 1, fed in blocks of 512 frames.
void feedSine(LevelMeter& m, double rate, double seconds, double amplitude, double right = 1.0) {
    const auto frames = static_cast<long>(rate * seconds);
    std::vector<double> block;
    static long phase = 0;
    for (long done = 0; done < frames;) {
        const long n = std::min<long>(512, frames - done);
        block.assign(static_cast<std::size_t>(2 * n), 0.0);
        for (long k = 0; k < n; ++k, ++phase) {
            const double v = amplitude * std::sin(2 * std::numbers::pi * 1000.0 * double(phase) / rate);
            block[2 * k] = v;
            block[2 * k + 1] = right * v;
        }
        m.measure(block.data(), 2, static_cast<std::uint64_t>(n));
        done += n;
    }
}

void feedSilence(LevelMeter& m, double rate, double seconds) {
    feedSine(m, rate, seconds, 0.0);
}

} // namespace

TEST(LevelMeter, ASineReadsItsPeakAndRmsAndSilenceReadsTheFloor) {
    for (double rate : {8000.0, 44100.0, 48000.0, 192000.0}) {
        LevelMeter m(rate);
        m.restart();
        EXPECT_TRUE(m.isActive());
        EXPECT_EQ(m.peakDb(0), LevelMeter::kFloorDb); // nothing measured yet
        const double amplitude = std::pow(10.0, -6.0 / 20.0);
        feedSine(m, rate, 0.5, amplitude, 0.0);
        EXPECT_NEAR(m.peakDb(0), -6.0, 0.1) << rate;
        EXPECT_NEAR(m.rmsDb(0), -9.03, 0.1) << rate;
        EXPECT_EQ(m.peakDb(1), LevelMeter::kFloorDb) << rate;
        EXPECT_EQ(m.rmsDb(1), LevelMeter::kFloorDb) << rate;
        EXPECT_EQ(m.channels(), 2u);
        EXPECT_FALSE(m.clipped(0));
        // The RMS is over the last 300 ms: 300 ms of silence empties it.
        feedSilence(m, rate, 0.31);
        EXPECT_EQ(m.rmsDb(0), LevelMeter::kFloorDb) << rate;
        // A restart forgets everything but the clip lamps.
        m.restart();
        EXPECT_EQ(m.peakDb(0), LevelMeter::kFloorDb);
        EXPECT_EQ(m.framesMeasured(), 0u);
    }
}

TEST(LevelMeter, ThePeakHoldsForOneAndAHalfSecondsThenFallsTwentyDecibelsASecond) {
    const double rate = 48000;
    LevelMeter m(rate);
    m.restart();
    feedSine(m, rate, 0.1, 1.0 / 2.0); // -6.02 dBFS
    const double top = m.peakDb(0);
    EXPECT_NEAR(top, -6.02, 0.05);
    // Still held just before 1.5 s of silence have passed.
    feedSilence(m, rate, 1.45);
    EXPECT_DOUBLE_EQ(m.peakDb(0), top);
    // Half a second into the fall: 10 dB lower (within a step of 10 ms).
    feedSilence(m, rate, 0.55);
    EXPECT_NEAR(m.peakDb(0), top - 10.0, 0.3);
    feedSilence(m, rate, 1.0);
    EXPECT_NEAR(m.peakDb(0), top - 30.0, 0.3);
    // A louder peak rises at once (within one step) and holds again.
    feedSine(m, rate, 0.02, 0.9);
    EXPECT_NEAR(m.peakDb(0), 20 * std::log10(0.9), 0.05);
    // A quieter sound under a falling peak: the peak does not fall below it.
    LevelMeter q(rate);
    q.restart();
    feedSine(q, rate, 0.1, 0.5);
    feedSine(q, rate, 5.0, 0.1);
    EXPECT_NEAR(q.peakDb(0), -20.0, 0.05);
}

TEST(LevelMeter, FullScaleLightsTheLampUntilItIsCleared) {
    LevelMeter m(44100);
    m.restart();
    std::vector<double> frames = {0.5, -0.25, 0.99, 0.0, -1.0, 0.0, 0.2, 0.1};
    m.measure(frames.data(), 2, 2);
    EXPECT_FALSE(m.clipped(0));
    // Lit at once, within the very block (not only at the end of a step).
    m.measure(frames.data() + 4, 2, 1);
    EXPECT_TRUE(m.clipped(0));
    EXPECT_FALSE(m.clipped(1));
    // Stays lit through silence and a restart; a click clears it.
    feedSilence(m, 44100, 2.0);
    m.restart();
    EXPECT_TRUE(m.clipped(0));
    m.clearClip(0);
    EXPECT_FALSE(m.clipped(0));
    // Beyond full scale counts as well, on either channel.
    std::vector<double> over = {0.0, 1.5};
    m.measure(over.data(), 2, 1);
    EXPECT_TRUE(m.clipped(1));
}
