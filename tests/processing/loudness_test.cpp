#include "Signals.h"
#include "audiofile/SampleSequence.h"
#include "audiofile/SequenceLoudness.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

constexpr double kRate = 48000;

// Stereo sines of 1 kHz at each (dBFS, seconds) in turn, as a sequence.
ZQ::SampleSequence tones(const std::vector<std::pair<double, double>>& parts, double frequency = 1000,
                         unsigned channels = 2) {
    std::uint64_t frames = 0;
    for (auto& [level, seconds] : parts)
        frames += static_cast<std::uint64_t>(std::llround(seconds * kRate));
    auto block = ZQ::MemorySampleBlock::create(channels, frames);
    std::uint64_t at = 0;
    for (auto& [level, seconds] : parts) {
        const auto n = static_cast<std::uint64_t>(std::llround(seconds * kRate));
        const double amplitude = std::pow(10.0, level / 20.0);
        for (unsigned c = 0; c < channels; ++c)
            for (std::uint64_t k = 0; k < n; ++k)
                block->channelData(c)[at + k] = amplitude * std::sin(2 * M_PI * frequency * double(at + k) / kRate);
        at += n;
    }
    block->finish();
    return ZQ::SampleSequence(channels, {{block, 0, frames}});
}

ZQ::LoudnessFigures measure(const ZQ::SampleSequence& s, unsigned threads = 1) {
    return ZQ::measureLoudness(s, 0, s.frameCount(), kRate, threads);
}

} // namespace

TEST(Loudness, TheEbuSineCasesMeasureWithinTheirTolerances) {
    // Tech 3341, cases 1 to 5: integrated loudness, ±0.1 LU.
    const struct {
        std::vector<std::pair<double, double>> parts;
        double expected;
    } cases[] = {
        {{{-23, 20}}, -23.0},
        {{{-33, 20}}, -33.0},
        {{{-36, 10}, {-23, 60}, {-36, 10}}, -23.0},
        {{{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}}, -23.0},
        {{{-26, 20}, {-20, 20.1}, {-26, 20}}, -23.0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const ZQ::LoudnessFigures f = measure(tones(cases[i].parts));
        ASSERT_TRUE(f.valid);
        EXPECT_NEAR(f.integrated, cases[i].expected, 0.1) << "case " << i + 1;
    }
    // Tech 3342, cases 1 to 4: loudness range, ±1 LU.
    const struct {
        std::vector<std::pair<double, double>> parts;
        double expected;
    } ranges[] = {
        {{{-20, 20}, {-30, 20}}, 10},
        {{{-20, 20}, {-15, 20}}, 5},
        {{{-40, 20}, {-20, 20}}, 20},
        {{{-50, 20}, {-35, 20}, {-20, 20}, {-35, 20}, {-50, 20}}, 15},
    };
    for (std::size_t i = 0; i < std::size(ranges); ++i)
        EXPECT_NEAR(measure(tones(ranges[i].parts)).range, ranges[i].expected, 1.0) << "case " << i + 1;
}

TEST(Loudness, PeaksAreFoundBetweenSamplesAndSilenceHasNoLoudness) {
    // A quarter of the rate at 45°: every sample is at 0.707 of the peak,
    // which lies between them.
    const std::size_t n = 10 * 48000;
    auto block = ZQ::MemorySampleBlock::create(1, n);
    const double amplitude = std::pow(10.0, -6.0 / 20.0);
    for (std::size_t k = 0; k < n; ++k)
        block->channelData(0)[k] = amplitude * std::sin(M_PI / 2 * double(k) + M_PI / 4);
    block->finish();
    const ZQ::LoudnessFigures f = measure(ZQ::SampleSequence(1, {{block, 0, n}}));
    EXPECT_NEAR(f.samplePeak, -9.0, 0.05);
    EXPECT_GT(f.truePeak, -6.4); // Tech 3341 allows -0.4 ... +0.2 dB
    EXPECT_LT(f.truePeak, -5.8);

    const ZQ::LoudnessFigures silent = measure(tones({{-200, 5}}));
    EXPECT_TRUE(silent.valid);
    EXPECT_FALSE(std::isfinite(silent.integrated));
    EXPECT_EQ(ZQ::loudnessText(silent.integrated, "LUFS"), "-inf LUFS");
    EXPECT_EQ(ZQ::loudnessText(-23.04, "LUFS"), "-23.0 LUFS");
}

TEST(Loudness, TwoThreadsMeasureWhatOneDoes) {
    const ZQ::SampleSequence s = tones({{-40, 17.3}, {-20, 31.1}, {-30, 22.7}}, 997);
    const ZQ::LoudnessFigures one = measure(s, 1), two = measure(s, 2);
    ASSERT_TRUE(two.valid);
    EXPECT_NEAR(two.integrated, one.integrated, 0.01);
    EXPECT_NEAR(two.range, one.range, 0.1);
    EXPECT_DOUBLE_EQ(two.samplePeak, one.samplePeak);
    EXPECT_NEAR(two.truePeak, one.truePeak, 0.01);
    // A part of the whole: the loud stretch alone.
    const auto loudFrom = static_cast<std::uint64_t>(17.3 * kRate);
    const ZQ::LoudnessFigures part = ZQ::measureLoudness(s, loudFrom, std::uint64_t(31.1 * kRate), kRate, 2);
    EXPECT_NEAR(part.integrated, -20.0, 0.1);
    // Cancelled: not valid.
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(ZQ::measureLoudness(s, 0, s.frameCount(), kRate, 2, &cancel).valid);
}
