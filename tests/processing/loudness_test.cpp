#include "Signals.h"
#include "audiofile/SampleSequence.h"
#include "audiofile/SequenceLoudness.h"
#include "processing/TruePeak.h"

#include <ebur128.h>
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
    // Tech 3341, cases 1 to 5: integrated loudness, ±0.1 LU (7 and 8 are
    // recorded programme; 9 to 14 measure momentary and short-term
    // loudness, which nothing here shows).
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
    // Case 6: 5.0 channels (the sixth, LFE, silent and not counted) at
    // -28 (L, R), -24 (C) and -30 dBFS (Ls, Rs) for 20 s.
    {
        const std::uint64_t n = 20 * 48000;
        auto block = ZQ::MemorySampleBlock::create(6, n);
        const double levels[6] = {-28, -28, -24, -400, -30, -30};
        for (unsigned c = 0; c < 6; ++c)
            for (std::uint64_t k = 0; k < n; ++k)
                block->channelData(c)[k] =
                    std::pow(10.0, levels[c] / 20.0) * std::sin(2 * M_PI * 1000 * double(k) / kRate);
        block->finish();
        EXPECT_NEAR(measure(ZQ::SampleSequence(6, {{block, 0, n}})).integrated, -23.0, 0.1) << "case 6";
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

TEST(TruePeak, MatchesTheStandardsSinesAndLibebur128) {
    // Tech 3341's true-peak sines: a quarter, a sixth and an eighth of the
    // rate, phased so that no sample falls on the peak of -6 dBFS; faded in
    // over a tenth of a second, since a sudden start overshoots in any
    // band-limited reconstruction.
    const double amplitude = std::pow(10.0, -6.0 / 20.0);
    const struct {
        double period; // samples a cycle
        double phase;  // degrees
    } sines[] = {{4, 45}, {6, 60}, {8, 67.5}, {4, 0}};
    for (const auto& s : sines) {
        std::vector<double> x(48000);
        for (std::size_t k = 0; k < x.size(); ++k)
            x[k] = amplitude * std::sin(2 * M_PI * double(k) / s.period + s.phase * M_PI / 180) *
                   std::min(1.0, double(k) / 4800.0);
        ZQ::TruePeak peak(1, 48000);
        peak.add(x.data(), x.size());
        const double db = 20 * std::log10(peak.peak());
        EXPECT_GT(db, -6.4) << s.period << " samples, " << s.phase << "°";
        EXPECT_LT(db, -5.8) << s.period << " samples, " << s.phase << "°";
    }
    // Smoothed noise and a chord below a third of the rate (where both
    // interpolators are flat), at 44.1 and 96 kHz: within 0.2 dB of
    // libebur128's own true peak.
    for (const double rate : {44100.0, 96000.0}) {
        std::vector<double> x(2 * std::size_t(rate));
        std::uint32_t seed = 1;
        double a = 0, b = 0;
        for (std::size_t k = 0; k < x.size() / 2; ++k) {
            seed = seed * 1664525u + 1013904223u;
            const double white = double(seed >> 8) / double(1 << 24) - 0.5;
            a += 0.3 * (white - a);
            b += 0.3 * (a - b);
            x[2 * k] = 2.0 * b;
            const double t = double(k) / rate;
            x[2 * k + 1] =
                std::min(1.0, t * 10) * (0.2 * std::sin(2 * M_PI * 3001 * t) + 0.2 * std::sin(2 * M_PI * 7919 * t + 1) +
                                         0.1 * std::sin(2 * M_PI * rate * 0.31 * t + 2));
        }
        ZQ::TruePeak ours(2, rate);
        ours.add(x.data(), x.size() / 2);
        ebur128_state* st = ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_TRUE_PEAK);
        ebur128_add_frames_double(st, x.data(), x.size() / 2);
        double left = 0, right = 0;
        ebur128_true_peak(st, 0, &left);
        ebur128_true_peak(st, 1, &right);
        ebur128_destroy(&st);
        EXPECT_NEAR(20 * std::log10(ours.peak()), 20 * std::log10(std::max(left, right)), 0.2) << rate;
    }
}
