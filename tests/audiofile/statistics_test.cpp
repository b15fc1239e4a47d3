// Level statistics on generated signals, each checked against a plain
// long-double scan written here: peak (level, signed value, first position),
// RMS, DC offset and clipped samples, for whole channels, ranges inside
// them, one frame and sixteen channels, with one and two threads; ranges
// joined with append(); progress and cancellation from the computing threads.
#include "audiofile/ChannelStatistics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace ZQ::Statistics;

namespace {

// What the statistics must be, from a scan that shares nothing with the code
// under test: two passes, long double sums.
struct Expected {
    double peak = 0;
    double peakValue = 0;
    std::uint64_t firstPeakIndex = 0;
    std::uint64_t clipped = 0;
    long double mean = 0;
    long double rms = 0;
};

Expected scan(const std::vector<double>& x, std::uint64_t first, std::uint64_t last) {
    Expected e;
    long double sum = 0, squares = 0;
    for (std::uint64_t i = first; i <= last; ++i) {
        const double a = std::fabs(x[i]);
        if (a > e.peak) e.peak = a;
        if (a >= 1.0) ++e.clipped;
        sum += x[i];
        squares += static_cast<long double>(x[i]) * x[i];
    }
    e.firstPeakIndex = first;
    for (std::uint64_t i = first; i <= last; ++i)
        if (std::fabs(x[i]) == e.peak) {
            e.firstPeakIndex = i;
            e.peakValue = x[i];
            break;
        }
    const long double n = static_cast<long double>(last - first + 1);
    e.mean = sum / n;
    e.rms = std::sqrt(squares / n);
    return e;
}

double db(long double level) {
    return static_cast<double>(20.0L * std::log10(level));
}

void expectMatches(const ChannelStatistics& s, const Expected& e, std::uint64_t count, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(s.count, count);
    EXPECT_EQ(s.peak, e.peak);
    EXPECT_EQ(s.peakValue, e.peakValue);
    EXPECT_EQ(s.firstPeakIndex, e.firstPeakIndex);
    EXPECT_EQ(s.clipped, e.clipped);
    EXPECT_NEAR(s.dcOffset(), static_cast<double>(e.mean), 1e-13);
    EXPECT_NEAR(s.rms(), static_cast<double>(e.rms), 1e-13 + 1e-12 * static_cast<double>(e.rms));
}

bool run(const std::vector<const double*>& channels, std::uint64_t first, std::uint64_t last,
         std::vector<ChannelStatistics>& out, Control* control = nullptr, int threads = 2) {
    return compute(std::span<const double* const>(channels.data(), channels.size()), first, last, out, control,
                   threads);
}

// Uniform noise in [-amplitude, amplitude] plus `offset`.
std::vector<double> noise(std::size_t n, double amplitude, double offset, unsigned seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> u(-amplitude, amplitude);
    std::vector<double> x(n);
    for (double& v : x)
        v = u(random) + offset;
    return x;
}

// A sine at 1 kHz sampled at 48 kHz: 48 samples a period, sample 12 exactly
// on the crest (sin(pi/2) is 1 in double).
std::vector<double> sine(std::size_t n, double amplitude, double offset = 0.0) {
    std::vector<double> x(n);
    for (std::size_t k = 0; k < n; ++k)
        x[k] = amplitude * std::sin(2.0 * std::numbers::pi * 1000.0 * double(k) / 48000.0) + offset;
    return x;
}

} // namespace

TEST(ChannelStatistics, ASineAtHalfScaleMeasuresMinusSixPeakAndMinusNineRms) {
    const std::vector<double> x = sine(48000, 0.5);
    std::vector<ChannelStatistics> out;
    ASSERT_TRUE(run({x.data()}, 0, x.size() - 1, out));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(out[0].peakDbfs(), -6.0206, 0.01);
    EXPECT_NEAR(out[0].rmsDbfs(), -9.0309, 0.01);
    EXPECT_NEAR(out[0].rmsDbfs(), db(scan(x, 0, x.size() - 1).rms), 1e-9);
    EXPECT_EQ(out[0].firstPeakIndex, 12u); // the first crest; every later one is as high
    EXPECT_EQ(out[0].peakValue, 0.5);
    EXPECT_NEAR(out[0].dcOffset(), 0.0, 1e-15);
    EXPECT_EQ(out[0].clipped, 0u);
    EXPECT_EQ(dbfsText(out[0].peakDbfs()), "-6.02 dBFS");
    EXPECT_EQ(dbfsText(out[0].rmsDbfs()), "-9.03 dBFS");
}

TEST(ChannelStatistics, TheDcOffsetIsTheMeanOfAnOffsetSignal) {
    // 6250 whole periods of the sine above 0.125, and noise around -1/32.
    const std::vector<double> up = sine(300000, 0.5, 0.125), down = noise(300000, 0.25, -0.03125, 7);
    std::vector<ChannelStatistics> out;
    ASSERT_TRUE(run({up.data(), down.data()}, 0, 299999, out));
    EXPECT_NEAR(out[0].dcOffset(), 0.125, 1e-15);
    EXPECT_NEAR(out[1].dcOffset(), static_cast<double>(scan(down, 0, 299999).mean), 1e-15);
    EXPECT_LT(std::fabs(out[1].dcOffset() + 0.03125), 0.005);
    // The offset counts in the RMS: sqrt(0.5^2 / 2 + 0.125^2).
    EXPECT_NEAR(out[0].rms(), std::sqrt(0.125 + 0.015625), 1e-12);
}

TEST(ChannelStatistics, ClippedCountsSamplesAtAndBeyondFullScaleButNotNaN) {
    // Long enough for several pieces, so that both threads count.
    std::vector<double> x = noise(3'000'003, 0.5, 0.0, 3);
    const std::vector<std::pair<std::size_t, double>> marks = {
        {5, 1.0},
        {6, -1.0},
        {7, 0.9999999999},
        {1'048'575, 1.5},
        {1'048'576, -2.0},
        {2'999'999, -1.0},
        {3'000'002, 1.0}, // in the tail after the last whole vector
        {40, std::numeric_limits<double>::quiet_NaN()},
        {41, -std::numeric_limits<double>::quiet_NaN()},
    };
    for (const auto& [at, v] : marks)
        x[at] = v;
    std::vector<ChannelStatistics> out;
    ASSERT_TRUE(run({x.data()}, 0, x.size() - 1, out));
    EXPECT_EQ(out[0].clipped, 6u);
    EXPECT_EQ(out[0].peak, 2.0);
    EXPECT_EQ(out[0].peakValue, -2.0);
    EXPECT_EQ(out[0].firstPeakIndex, 1'048'576u);
    EXPECT_TRUE(std::isnan(out[0].dcOffset())); // the NaN is in the sums, as it is in the samples
    // Without the NaNs everything else holds against the plain scan.
    x[40] = x[41] = 0.0;
    ASSERT_TRUE(run({x.data()}, 0, x.size() - 1, out));
    expectMatches(out[0], scan(x, 0, x.size() - 1), x.size(), "without NaN");
}

TEST(ChannelStatistics, TheFirstPeakIsTheEarliestOfEqualPeaks) {
    std::vector<double> x(1000, 0.1);
    x[100] = -0.9;
    x[200] = 0.9;
    std::vector<ChannelStatistics> out;
    ASSERT_TRUE(run({x.data()}, 0, x.size() - 1, out));
    EXPECT_EQ(out[0].firstPeakIndex, 100u);
    EXPECT_EQ(out[0].peakValue, -0.9);
    EXPECT_EQ(out[0].peak, 0.9);

    // Far apart, in pieces that two threads take, the later piece perhaps
    // first: still the earlier one; a strictly higher later peak wins.
    std::vector<double> y = noise(5'000'000, 0.5, 0.0, 11);
    y[4'500'001] = 0.75;
    y[1'500'003] = -0.75;
    y[1'500'007] = 0.75;
    ASSERT_TRUE(run({y.data()}, 0, y.size() - 1, out));
    EXPECT_EQ(out[0].firstPeakIndex, 1'500'003u);
    EXPECT_EQ(out[0].peakValue, -0.75);
    y[4'999'999] = 0.8;
    ASSERT_TRUE(run({y.data()}, 0, y.size() - 1, out));
    EXPECT_EQ(out[0].firstPeakIndex, 4'999'999u);
    EXPECT_EQ(out[0].peakValue, 0.8);
}

TEST(ChannelStatistics, ARangeInsideAChannelCountsOnlyItsOwnSamples) {
    std::vector<double> x = noise(2'500'000, 0.3, 0.01, 5);
    // Louder and clipped outside the range, on both sides.
    x[999] = 1.25;
    x[2'000'124] = -3.0;
    for (const auto& [first, last] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
             {1000, 2000}, {1001, 1006}, {1003, 2'000'123}, {999, 999}}) {
        std::vector<ChannelStatistics> out;
        ASSERT_TRUE(run({x.data()}, first, last, out));
        expectMatches(out[0], scan(x, first, last), last - first + 1,
                      ("range " + std::to_string(first) + "-" + std::to_string(last)).c_str());
        EXPECT_GE(out[0].firstPeakIndex, first);
        EXPECT_LE(out[0].firstPeakIndex, last);
    }
}

TEST(ChannelStatistics, OneFrameIsItsOwnPeakRmsAndOffset) {
    const std::vector<double> x = {0.7, -0.25, 0.0, 0.7};
    std::vector<ChannelStatistics> out;
    ASSERT_TRUE(run({x.data()}, 1, 1, out));
    EXPECT_EQ(out[0].count, 1u);
    EXPECT_EQ(out[0].peakValue, -0.25);
    EXPECT_EQ(out[0].firstPeakIndex, 1u);
    EXPECT_NEAR(out[0].peakDbfs(), -12.0412, 1e-4);
    EXPECT_NEAR(out[0].rmsDbfs(), -12.0412, 1e-4);
    EXPECT_EQ(out[0].dcOffset(), -0.25);
    // Silence: no level at all, the peak at the range's first sample.
    ASSERT_TRUE(run({x.data()}, 2, 2, out));
    EXPECT_EQ(out[0].peakDbfs(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(out[0].rmsDbfs(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(out[0].firstPeakIndex, 2u);
    EXPECT_EQ(dbfsText(out[0].peakDbfs()), "-inf dBFS");
    EXPECT_EQ(dbfsText(out[0].rmsDbfs()), "-inf dBFS");
}

TEST(ChannelStatistics, SixteenChannelsEachGetTheirOwnFigures) {
    std::vector<std::vector<double>> data;
    std::vector<const double*> channels;
    for (int c = 0; c < 16; ++c) {
        data.push_back(noise(700'001, 0.05 * (c + 1), 0.001 * (c - 8), 100 + unsigned(c)));
        if (c % 5 == 0) data.back()[std::size_t(1000 * c + 17)] = c % 2 ? -1.0 : 1.0;
    }
    for (const auto& d : data)
        channels.push_back(d.data());
    for (int threads : {1, 2}) {
        std::vector<ChannelStatistics> out;
        ASSERT_TRUE(run(channels, 13, 700'000, out, nullptr, threads));
        ASSERT_EQ(out.size(), 16u);
        for (int c = 0; c < 16; ++c)
            expectMatches(out[std::size_t(c)], scan(data[std::size_t(c)], 13, 700'000), 700'000 - 13 + 1,
                          ("channel " + std::to_string(c) + ", threads " + std::to_string(threads)).c_str());
    }
}

TEST(ChannelStatistics, OneAndTwoThreadsGiveTheSameFiguresAtEveryPieceBoundary) {
    const std::uint64_t piece = std::uint64_t(1) << 20;
    const std::vector<double> a = noise(3 * piece + 100, 0.6, 0.02, 21), b = noise(3 * piece + 100, 0.9, -0.1, 22);
    for (const auto& [first, last] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
             {0, piece - 1}, {0, piece}, {1, piece + 1}, {7, 2 * piece + 2}, {0, 3 * piece + 99}}) {
        std::vector<ChannelStatistics> one, two;
        ASSERT_TRUE(run({a.data(), b.data()}, first, last, one, nullptr, 1));
        ASSERT_TRUE(run({a.data(), b.data()}, first, last, two, nullptr, 2));
        for (std::size_t c = 0; c < 2; ++c) {
            const std::vector<double>& x = c ? b : a;
            expectMatches(two[c], scan(x, first, last), last - first + 1, "two threads");
            // The pieces join in order whichever thread took them: bit for bit.
            EXPECT_EQ(one[c].sum.value(), two[c].sum.value());
            EXPECT_EQ(one[c].sumOfSquares.value(), two[c].sumOfSquares.value());
            EXPECT_EQ(one[c].firstPeakIndex, two[c].firstPeakIndex);
        }
    }
}

TEST(ChannelStatistics, RangesJoinedWithAppendGiveTheWholeRange) {
    std::vector<double> x = noise(3'000'000, 0.5, 0.003, 31);
    x[10] = 0.99;        // in the first part
    x[2'900'000] = 0.99; // as high, later: the first one stays
    std::vector<ChannelStatistics> whole, left, right;
    ASSERT_TRUE(run({x.data()}, 0, x.size() - 1, whole));
    ASSERT_TRUE(run({x.data()}, 0, 1'234'566, left));
    ASSERT_TRUE(run({x.data()}, 1'234'567, x.size() - 1, right));
    ChannelStatistics joined;
    joined.append(left[0]);
    joined.append(right[0]);
    EXPECT_EQ(joined.count, whole[0].count);
    EXPECT_EQ(joined.firstPeakIndex, 10u);
    EXPECT_EQ(joined.peakValue, whole[0].peakValue);
    EXPECT_EQ(joined.clipped, whole[0].clipped);
    EXPECT_NEAR(joined.dcOffset(), whole[0].dcOffset(), 1e-15);
    EXPECT_NEAR(joined.rms(), whole[0].rms(), 1e-15);
    // A higher peak in the later part takes over.
    x[2'900'000] = -0.995;
    ASSERT_TRUE(run({x.data()}, 1'234'567, x.size() - 1, right));
    joined = {};
    joined.append(left[0]);
    joined.append(right[0]);
    EXPECT_EQ(joined.firstPeakIndex, 2'900'000u);
    EXPECT_EQ(joined.peakValue, -0.995);
}

TEST(ChannelStatistics, AVeryLongRangeKeepsRmsAndOffsetExact) {
    // 24 million float-valued samples (as decoded from a file): a small
    // offset under a loud sine, where a plain running sum would drift.
    std::vector<double> x(24'000'000);
    for (std::size_t k = 0; k < x.size(); ++k)
        x[k] = static_cast<float>(0.5 * std::sin(double(k) * 0.0137) + 0.001);
    const Expected e = scan(x, 0, x.size() - 1);
    std::vector<ChannelStatistics> out;
    ASSERT_TRUE(run({x.data()}, 0, x.size() - 1, out));
    EXPECT_NEAR(out[0].rmsDbfs(), db(e.rms), 1e-9);
    EXPECT_NEAR(out[0].dcOffset(), static_cast<double>(e.mean), 1e-14);
    EXPECT_EQ(out[0].firstPeakIndex, e.firstPeakIndex);
}

TEST(ChannelStatistics, ProgressReachesTheWholeAndCancelStopsTheWork) {
    const std::vector<double> a = noise(4'000'000, 0.5, 0.0, 41), b = noise(4'000'000, 0.5, 0.0, 42);
    std::vector<ChannelStatistics> out;
    {
        Control control;
        std::atomic<int> calls{0};
        std::atomic<double> highest{0.0};
        control.onProgress = [&](double f) {
            ++calls;
            double h = highest.load();
            while (f > h && !highest.compare_exchange_weak(h, f)) {
            }
        };
        ASSERT_TRUE(run({a.data(), b.data()}, 0, 3'999'999, out, &control));
        EXPECT_EQ(control.samplesTotal.load(), 8'000'000u);
        EXPECT_EQ(control.samplesDone.load(), 8'000'000u);
        EXPECT_EQ(control.fraction(), 1.0);
        EXPECT_EQ(calls.load(), 8); // four pieces a channel
        EXPECT_EQ(highest.load(), 1.0);
    }
    {
        // Cancelled from the computing thread after its first piece: the
        // other pieces are left, and nothing comes out.
        Control control;
        control.onProgress = [&](double) { control.cancel(); };
        EXPECT_FALSE(run({a.data(), b.data()}, 0, 3'999'999, out, &control));
        EXPECT_TRUE(out.empty());
        EXPECT_LE(control.samplesDone.load(), 2u * (std::uint64_t(1) << 20)); // at most the two started pieces
        EXPECT_LT(control.fraction(), 0.3);
    }
    {
        Control control;
        control.cancel();
        EXPECT_FALSE(run({a.data()}, 0, 10, out, &control));
        EXPECT_EQ(control.samplesDone.load(), 0u);
    }
    {
        // A caller working in parts sets the whole first.
        Control control;
        control.samplesTotal = 8'000'000;
        ASSERT_TRUE(run({a.data(), b.data()}, 0, 999'999, out, &control));
        EXPECT_DOUBLE_EQ(control.fraction(), 0.25);
    }
}

TEST(ChannelStatistics, BadArgumentsAreRefusedWithNothingOut) {
    const std::vector<double> x = {0.1, 0.2, 0.3};
    std::vector<ChannelStatistics> out(2);
    EXPECT_FALSE(run({}, 0, 2, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(run({x.data(), nullptr}, 0, 2, out));
    EXPECT_FALSE(run({x.data()}, 2, 1, out));
    EXPECT_FALSE(run({x.data()}, 0, std::numeric_limits<std::uint64_t>::max(), out));
    EXPECT_TRUE(out.empty());
}

TEST(ChannelStatistics, TextsShowLevelsAndValuesAsThePanelDoes) {
    EXPECT_EQ(dbfsText(toDbfs(0.5)), "-6.02 dBFS");
    EXPECT_EQ(dbfsText(toDbfs(1.0)), "0.00 dBFS");
    EXPECT_EQ(dbfsText(toDbfs(2.0)), "6.02 dBFS");
    EXPECT_EQ(dbfsText(toDbfs(0.0)), "-inf dBFS");
    EXPECT_EQ(dbfsText(std::nan("")), "n/a");
    EXPECT_EQ(sampleValueText(0.5), "+0.500000");
    EXPECT_EQ(sampleValueText(-1.0), "-1.000000");
    EXPECT_EQ(sampleValueText(0.0), "0");
    EXPECT_EQ(sampleValueText(2.5e-7), "+2.500e-07");
    EXPECT_EQ(sampleValueText(-2.5e-7), "-2.500e-07");
}
