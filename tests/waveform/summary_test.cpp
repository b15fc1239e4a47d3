// The channel summary must give exactly what scanning the samples gives, so
// that the overview drawn from it is the one the plain scan draws, bit for
// bit, at every zoom, scroll, width and height.
#include "audiofile/WaveformSummary.h"
#include "support/Samples.h"
#include "waveform/WaveformOverview.h"

#include <algorithm>
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

TEST(WaveformSummary, IsSmallAndCanBeBuiltAStretchAtATimeInAnyOrder) {
    std::mt19937 random(11);
    const std::size_t n = (1 << 20) + 77;
    const std::vector<double> s = signal(1, n, random);
    WaveformSummary whole;
    ASSERT_TRUE(whole.build(s.data(), n));
    EXPECT_LE(static_cast<double>(whole.bytes()) / n, 0.3);
    EXPECT_GE(whole.levelCount(), 5u);
    EXPECT_TRUE(whole.isComplete());

    // Coarser first levels, written in stretches out of order: only the part
    // before the first missing stretch can be folded, and once everything is
    // written every fold equals the whole build's (and the plain scan's).
    for (unsigned shift : {5u, 6u, 9u}) {
        WaveformSummary built;
        ASSERT_TRUE(built.prepare(n, shift));
        const std::uint64_t blocks = n >> shift, stretch = 1000;
        std::vector<std::uint64_t> order;
        for (std::uint64_t b = 0; b < blocks; b += stretch)
            order.push_back(b);
        std::shuffle(order.begin(), order.end(), random);
        std::vector<bool> written(order.size(), false);
        std::size_t prefix = 0;
        for (std::uint64_t b : order) {
            bool exact = true;
            for (std::uint64_t k = b; k < std::min(blocks, b + stretch); ++k)
                built.firstLevel()[k] =
                    WaveformSummary::extremesOf(s.data() + (k << shift), std::uint64_t(1) << shift, exact);
            written[b / stretch] = true;
            while (prefix < written.size() && written[prefix])
                ++prefix;
            const std::uint64_t done = std::min(blocks, prefix * stretch);
            built.extendValid(done, prefix == written.size() ? n : done << shift, exact);
            ASSERT_EQ(built.validSamples(), prefix == written.size() ? n : done << shift);
        }
        ASSERT_TRUE(built.isComplete());
        for (int round = 0; round < 200; ++round) {
            std::size_t a = random() % n, b = random() % n;
            if (a > b) std::swap(a, b);
            double lo1 = 0.5, hi1 = 0.5, lo2 = 0.5, hi2 = 0.5;
            whole.fold(s.data(), a, b, lo1, hi1);
            built.fold(s.data(), a, b, lo2, hi2);
            ASSERT_TRUE(sameValue(lo1, lo2)) << shift << " [" << a << ", " << b << "]";
            ASSERT_TRUE(sameValue(hi1, hi2)) << shift << " [" << a << ", " << b << "]";
        }
    }
}

namespace {

// The signal as the views see it: one block in memory with its summary, or
// cut into pieces of several blocks (every piece boundary a place where a
// fold goes from one block's summary to the next), or with no summary at
// all (the plain scan every overview must equal).
ZQ::ChannelSamples asChannel(const std::vector<double>& s, int how, std::mt19937& random) {
    const std::uint64_t n = s.size();
    if (how == 0) return testsupport::memoryChannel(s);
    std::vector<ZQ::SamplePiece> pieces;
    std::uint64_t at = 0;
    while (at < n) {
        const std::uint64_t len = how == 2 ? n : std::min<std::uint64_t>(n - at, 1 + random() % (n / 3 + 1));
        auto block = ZQ::MemorySampleBlock::create(1, len);
        std::copy(s.begin() + std::ptrdiff_t(at), s.begin() + std::ptrdiff_t(at + len), block->channelData(0));
        if (how == 1) block->finish(); // a plain block has no summary: folds scan it
        pieces.push_back({block, 0, len});
        at += len;
    }
    return {std::make_shared<const ZQ::SampleSequence>(1, std::move(pieces)), 0};
}

} // namespace

TEST(WaveformSummary, TheOverviewFromSummariesIsTheScansBitForBit) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int kind = 0; kind < 5; ++kind) {
        for (std::size_t n : {2u, 17u, 1000u, 65537u, 2000003u}) {
            const std::vector<double> s = signal(kind, n, random);
            const ZQ::ChannelSamples plainSamples = asChannel(s, 2, random);
            const ZQ::ChannelSamples summarised = asChannel(s, 0, random);
            const ZQ::ChannelSamples pieces = asChannel(s, 1, random);
            for (int round = 0; round < 12; ++round) {
                WaveformZoomSettings plain;
                const double height = round == 0 ? 0.0 : 7.0 + 300.0 * unit(random);
                plain.setLimits(n, height);
                // Fully out, fully in (the interpolating mode) and everything between.
                const double zoom = round == 1 ? 1.0 : round == 2 ? 0.0 : std::pow(unit(random), 3.0);
                const double scroll = round == 3 ? 1.0 : unit(random);
                const double vertical = 0.5 + 15.5 * unit(random);
                testing::internal::CaptureStdout(); // tiny channels print their range line
                plain.setHorizontalZoom(zoom);
                plain.setHorizontalScroll(scroll);
                plain.setVerticalZoom(vertical);
                testing::internal::GetCapturedStdout();
                const double width = 10.0 + std::floor(2500.0 * unit(random)) + (round % 2 ? 0.5 : 0.0);
                const CGRect frame{{0, 0}, {width, height}};
                WaveformOverview<CGPoint> a, b, c, d;
                IndexRange va, vb, vc, vd;
                WaveformZoomSettings folded = plain, shared = plain, cut = plain;
                testing::internal::CaptureStdout();
                const bool okA = calculateWaveformOverview(a, plain, plainSamples, frame, va);
                const bool okB = calculateWaveformOverview(b, folded, summarised, frame, vb);
                // Columns shared out in uneven pieces, the last first: the same points.
                const bool okC = calculateWaveformOverview(
                    c, shared, summarised, frame, vc,
                    [](std::uint64_t count, void* context, void (*part)(void*, std::uint64_t, std::uint64_t)) {
                        const std::uint64_t third = count / 3;
                        part(context, third, count);
                        part(context, 0, third);
                    });
                const bool okD = calculateWaveformOverview(d, cut, pieces, frame, vd);
                // The columns reduced for all views at once, over the pieces: the same points.
                SharedColumns columns;
                WaveformZoomSettings fromShared = plain;
                const bool sharing = computeSharedColumns(columns, pieces.samples, fromShared,
                                                          static_cast<std::uint64_t>(width), nullptr);
                WaveformOverview<CGPoint> e;
                IndexRange ve;
                const bool okE = calculateWaveformOverview(e, fromShared, pieces, frame, ve, nullptr, nullptr,
                                                           sharing ? &columns : nullptr);
                testing::internal::GetCapturedStdout();
                ASSERT_EQ(okA, okB);
                ASSERT_EQ(okA, okC);
                ASSERT_EQ(okA, okD);
                ASSERT_EQ(okA, okE);
                if (!okA) continue;
                ASSERT_EQ(std::memcmp(a.overviewData, e.overviewData, (a.waveformPointsCount + 1) * sizeof(CGPoint)), 0)
                    << "shared: kind " << kind << " n " << n << " zoom " << zoom << " width " << width;
                const std::size_t bytes = (a.waveformPointsCount + 1) * sizeof(CGPoint);
                ASSERT_EQ(a.waveformPointsCount, b.waveformPointsCount);
                ASSERT_EQ(std::memcmp(a.overviewData, b.overviewData, bytes), 0)
                    << "kind " << kind << " n " << n << " zoom " << zoom << " scroll " << scroll << " width " << width;
                ASSERT_EQ(std::memcmp(a.overviewData, c.overviewData, bytes), 0);
                ASSERT_EQ(std::memcmp(a.overviewData, d.overviewData, bytes), 0)
                    << "pieces: kind " << kind << " n " << n << " zoom " << zoom << " width " << width;
                EXPECT_EQ(va, vb);
                EXPECT_EQ(va, vd);
            }
        }
    }
}

TEST(WaveformSummary, AChannelBeyondFloatsIsScannedInstead) {
    std::vector<double> s(100000);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::sin(i * 0.001) * (1.0 + 1e-12); // no float holds these
    WaveformSummary summary;
    ASSERT_TRUE(summary.build(s.data(), s.size()));
    EXPECT_FALSE(summary.isExact());
    // Through a block whose summary is inexact, the overview scans: it is
    // the plain scan's.
    std::mt19937 random(1);
    WaveformZoomSettings z1, z2;
    z1.setLimits(s.size(), 100);
    z2.setLimits(s.size(), 100);
    WaveformOverview<CGPoint> a, b;
    IndexRange va, vb;
    const CGRect frame{{0, 0}, {300, 100}};
    ASSERT_TRUE(calculateWaveformOverview(a, z1, asChannel(s, 2, random), frame, va));
    ASSERT_TRUE(calculateWaveformOverview(b, z2, asChannel(s, 0, random), frame, vb));
    EXPECT_EQ(std::memcmp(a.overviewData, b.overviewData, 301 * sizeof(CGPoint)), 0);
    // A float-valued channel is summarised exactly.
    for (double& v : s)
        v = static_cast<float>(v);
    ASSERT_TRUE(summary.build(s.data(), s.size()));
    EXPECT_TRUE(summary.isExact());
}
