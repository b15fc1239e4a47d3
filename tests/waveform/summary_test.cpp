// The channel summary must give exactly what scanning the samples gives, so
// that the overview drawn from it is the one the plain scan draws, bit for
// bit, at every zoom, scroll, width and height.
#include "waveform/WaveformOverview.h"
#include "waveform/WaveformSummary.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

using namespace ZQ;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Signals that could break a summary: noise with NaN, infinities and signed
// zeros sprinkled in, runs of NaN as long as whole blocks, silence, and
// impulses at block edges. Every value is a float widened to double, as the
// samples decoded from a file are.
std::vector<double> signal(int kind, std::size_t n, std::mt19937& random) {
    std::vector<double> s(n);
    std::uniform_real_distribution<float> u(-1.5f, 1.5f);
    std::uniform_int_distribution<int> pick(0, 199);
    for (std::size_t i = 0; i < n; ++i) {
        switch (kind) {
        case 0:
            s[i] = u(random);
            break;
        case 1: {
            const int p = pick(random);
            s[i] = p == 0 ? kNaN : p == 1 ? kInf : p == 2 ? -kInf : p == 3 ? -0.0 : p == 4 ? 0.0 : u(random);
            break;
        }
        case 2:
            s[i] = (i / 64) % 3 == 1 ? kNaN : u(random);
            break;
        case 3:
            s[i] = 0.0;
            break;
        default:
            s[i] = (i % 512 == 0 || i % 4096 == 4095) ? (i % 1024 ? 1.0 : -1.0) : 0.001f;
            break;
        }
    }
    return s;
}

bool sameValue(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

} // namespace

TEST(WaveformSummary, FoldsAnyRangeExactlyAsTheScan) {
    std::mt19937 random(7);
    for (int kind = 0; kind < 5; ++kind) {
        for (std::size_t n : {1u, 63u, 64u, 65u, 511u, 4097u, 300001u}) {
            const std::vector<double> s = signal(kind, n, random);
            WaveformSummary summary;
            ASSERT_TRUE(summary.build(s.data(), n));
            ASSERT_TRUE(summary.isExact()) << kind << " " << n;
            std::uniform_int_distribution<std::size_t> at(0, n - 1);
            for (int round = 0; round < 300; ++round) {
                std::size_t a = at(random), b = at(random);
                if (a > b) std::swap(a, b);
                if (round == 0) a = 0, b = n - 1; // the whole channel
                for (double start : {0.0, -0.0, 0.25, kNaN}) {
                    double lo = start, hi = start, slo = start, shi = start;
                    for (std::size_t i = a; i <= b; ++i) {
                        lo = std::min(lo, s[i]);
                        hi = std::max(hi, s[i]);
                    }
                    summary.fold(s.data(), a, b, slo, shi);
                    ASSERT_TRUE(sameValue(lo, slo)) << kind << " " << n << " [" << a << ", " << b << "]";
                    ASSERT_TRUE(sameValue(hi, shi)) << kind << " " << n << " [" << a << ", " << b << "]";
                }
            }
        }
    }
}

TEST(WaveformSummary, IsSmallAndRebuildsFromAnEditPoint) {
    std::mt19937 random(11);
    const std::size_t n = 1 << 20;
    std::vector<double> s = signal(0, n, random);
    WaveformSummary summary;
    ASSERT_TRUE(summary.build(s.data(), n));
    EXPECT_LE(static_cast<double>(summary.bytes()) / n, 0.3);
    EXPECT_GE(summary.levelCount(), 5u);

    // An edit that changes samples from some point on and shortens the channel.
    const std::size_t from = 300007;
    s.resize(n - 5000);
    for (std::size_t i = from; i < s.size(); ++i)
        s[i] = -s[i] * 0.5; // still floats
    ASSERT_TRUE(summary.rebuildFrom(s.data(), s.size(), from));
    WaveformSummary fresh;
    ASSERT_TRUE(fresh.build(s.data(), s.size()));
    ASSERT_EQ(summary.sampleCount(), s.size());
    for (std::size_t a : {0ul, 1000ul, from - 70, from + 3}) {
        double lo1 = 0, hi1 = 0, lo2 = 0, hi2 = 0;
        summary.fold(s.data(), a, s.size() - 1, lo1, hi1);
        fresh.fold(s.data(), a, s.size() - 1, lo2, hi2);
        EXPECT_EQ(lo1, lo2);
        EXPECT_EQ(hi1, hi2);
    }
}

TEST(WaveformSummary, TheOverviewFromTheSummaryIsTheScansBitForBit) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int kind = 0; kind < 5; ++kind) {
        for (std::size_t n : {2u, 17u, 1000u, 65537u, 2000003u}) {
            const std::vector<double> s = signal(kind, n, random);
            WaveformSummary summary;
            ASSERT_TRUE(summary.build(s.data(), n));
            for (int round = 0; round < 12; ++round) {
                WaveformZoomSettings plain, folded;
                const double height = round == 0 ? 0.0 : 7.0 + 300.0 * unit(random);
                plain.setLimits(n, height);
                folded.setLimits(n, height);
                // Fully out, fully in (the interpolating mode) and everything between.
                const double zoom = round == 1 ? 1.0 : round == 2 ? 0.0 : std::pow(unit(random), 3.0);
                const double scroll = round == 3 ? 1.0 : unit(random);
                const double vertical = 0.5 + 15.5 * unit(random);
                for (WaveformZoomSettings* z : {&plain, &folded}) {
                    testing::internal::CaptureStdout(); // tiny channels print their range line
                    z->setHorizontalZoom(zoom);
                    z->setHorizontalScroll(scroll);
                    z->setVerticalZoom(vertical);
                    testing::internal::GetCapturedStdout();
                }
                const double width = 10.0 + std::floor(2500.0 * unit(random)) + (round % 2 ? 0.5 : 0.0);
                const CGRect frame{{0, 0}, {width, height}};
                WaveformOverview<CGPoint> a, b, c;
                IndexRange va, vb, vc;
                WaveformZoomSettings shared = folded;
                testing::internal::CaptureStdout();
                const bool okA = calculateWaveformOverview(a, plain, s.data(), n, frame, va);
                const bool okB = calculateWaveformOverview(b, folded, s.data(), n, frame, vb, &summary);
                // Columns shared out in uneven pieces, the last first: the same points.
                const bool okC = calculateWaveformOverview(
                    c, shared, s.data(), n, frame, vc, &summary,
                    [](std::uint64_t count, void* context, void (*part)(void*, std::uint64_t, std::uint64_t)) {
                        const std::uint64_t cut = count / 3;
                        part(context, cut, count);
                        part(context, 0, cut);
                    });
                testing::internal::GetCapturedStdout();
                ASSERT_EQ(okA, okC);
                if (okC) {
                    ASSERT_EQ(
                        std::memcmp(a.overviewData, c.overviewData, (a.waveformPointsCount + 1) * sizeof(CGPoint)), 0);
                }
                ASSERT_EQ(okA, okB);
                if (!okA) continue;
                ASSERT_EQ(a.waveformPointsCount, b.waveformPointsCount);
                ASSERT_EQ(std::memcmp(a.overviewData, b.overviewData, (a.waveformPointsCount + 1) * sizeof(CGPoint)), 0)
                    << "kind " << kind << " n " << n << " zoom " << zoom << " scroll " << scroll << " width " << width;
                EXPECT_EQ(va, vb);
            }
        }
    }
}

TEST(WaveformSummary, AChannelBeyondFloatsIsScannedInstead) {
    std::vector<double> s(10000);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::sin(i * 0.001) * (1.0 + 1e-12); // no float holds these
    WaveformSummary summary;
    ASSERT_TRUE(summary.build(s.data(), s.size()));
    EXPECT_FALSE(summary.isExact());
    WaveformZoomSettings z1, z2;
    z1.setLimits(s.size(), 100);
    z2.setLimits(s.size(), 100);
    WaveformOverview<CGPoint> a, b;
    IndexRange va, vb;
    const CGRect frame{{0, 0}, {300, 100}};
    ASSERT_TRUE(calculateWaveformOverview(a, z1, s.data(), s.size(), frame, va));
    ASSERT_TRUE(calculateWaveformOverview(b, z2, s.data(), s.size(), frame, vb, &summary));
    EXPECT_EQ(std::memcmp(a.overviewData, b.overviewData, 301 * sizeof(CGPoint)), 0);
    // A float-valued channel is summarised exactly.
    for (double& v : s)
        v = static_cast<float>(v);
    ASSERT_TRUE(summary.build(s.data(), s.size()));
    EXPECT_TRUE(summary.isExact());
}

TEST(WaveformSummary, ASummaryOfOtherSamplesIsNotUsed) {
    std::mt19937 random(5);
    const std::vector<double> s = signal(0, 5000, random);
    WaveformSummary stale;
    ASSERT_TRUE(stale.build(s.data(), 4000)); // of an earlier, shorter channel
    WaveformZoomSettings z1, z2;
    z1.setLimits(s.size(), 100);
    z2.setLimits(s.size(), 100);
    WaveformOverview<CGPoint> a, b;
    IndexRange va, vb;
    const CGRect frame{{0, 0}, {100, 100}};
    ASSERT_TRUE(calculateWaveformOverview(a, z1, s.data(), s.size(), frame, va));
    ASSERT_TRUE(calculateWaveformOverview(b, z2, s.data(), s.size(), frame, vb, &stale));
    EXPECT_EQ(std::memcmp(a.overviewData, b.overviewData, 101 * sizeof(CGPoint)), 0);
}
