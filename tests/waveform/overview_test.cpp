#include "support/Samples.h"
#include "waveform/WaveformOverview.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace ZQ;
using testsupport::memoryChannel;

namespace {

struct CountingView : ZQWaveformViewSettingsNotificationReceiverProtocol {
    int changes = 0;
    bool wants = true;
    bool waveformViewWantsZoomSettingsChangeNotifications() override { return wants; }
    void zoomSettingsHaveChanged() override { ++changes; }
};

std::string captured(const std::function<void()>& step) {
    testing::internal::CaptureStdout();
    step();
    return testing::internal::GetCapturedStdout();
}

CGRect frame(double w, double h) {
    return CGRect{{0, 0}, {w, h}};
}

// The plain reading of one column in min/max mode.
CGPoint plainMinMax(const std::vector<double>& s, std::uint64_t start, std::uint64_t n, double centre, double scale) {
    double lo = 0, hi = 0;
    for (std::uint64_t i = start; i < start + n && i < s.size(); ++i) {
        lo = std::min(lo, s[i]);
        hi = std::max(hi, s[i]);
    }
    return {centre + lo * scale, centre + hi * scale};
}

// Lagrange's formula itself, through the nodes -2 ... 3.
double lagrange(const double y[6], double t) {
    double v = 0;
    for (int j = 0; j < 6; ++j) {
        double basis = 1;
        for (int m = 0; m < 6; ++m)
            if (m != j) basis *= (t - (m - 2)) / double(j - m);
        v += y[j] * basis;
    }
    return v;
}

} // namespace

TEST(ZoomSettings, LimitsFollowTheSampleCount) {
    WaveformZoomSettings z;
    z.setLimits(1000, 300);
    EXPECT_EQ(z.validSampleRange_.max_.v_, 999u);
    EXPECT_EQ(z.validNumVisibleSamples_.min_.v_, 16u);
    EXPECT_EQ(z.validNumVisibleSamples_.max_.v_, 999u);
    EXPECT_EQ(z.validRangeForFirstVisibleSample_.max_.v_, 984u);
    EXPECT_DOUBLE_EQ(z.horizontalZoomRange.min_, 0.016);
    EXPECT_EQ(z.horizontalZoomRange.max_, 1.0);
    EXPECT_EQ(z.halfPhysicalViewHeightPx.v_, 150.0);

    WaveformZoomSettings ten;
    ten.setLimits(10, 0);
    EXPECT_EQ(ten.validNumVisibleSamples_.min_.v_, 10u);
    EXPECT_EQ(ten.horizontalZoomRange.min_, 1.0);
    EXPECT_EQ(ten.horizontalZoomRange.max_, 1.0);

    for (std::uint64_t n : {0u, 1u}) {
        WaveformZoomSettings tiny;
        EXPECT_EQ(captured([&] { tiny.setLimits(n, 10); }), "range: [100000000.000000...1.000000]\n");
        EXPECT_EQ(tiny.horizontalZoomRange.min_, 1e8);
        EXPECT_EQ(tiny.horizontalZoom.v_, 1.0);
    }
}

TEST(ZoomSettings, StepsClampAndNotifyOnlyOnVisibleChanges) {
    WaveformZoomSettings z;
    CountingView view;
    z.setWaveformView(&view);
    z.setLimits(1000, 100);
    EXPECT_EQ(view.changes, 0); // already within the limits
    z.zoomIn();
    EXPECT_EQ(z.horizontalZoom.v_, 0.5);
    z.zoomIn();
    EXPECT_EQ(z.horizontalZoom.v_, 0.25);
    for (int i = 0; i < 4; ++i)
        z.zoomIn();
    EXPECT_DOUBLE_EQ(z.horizontalZoom.v_, 0.016); // 0.015625 is clamped
    EXPECT_EQ(view.changes, 6);
    z.zoomIn();
    EXPECT_EQ(view.changes, 6);

    z.setHorizontalZoom(1.0);
    view.changes = 0;
    z.zoomOut();
    EXPECT_EQ(z.horizontalZoom.v_, 1.0);
    EXPECT_EQ(view.changes, 0);

    std::vector<double> seen;
    for (int i = 0; i < 5; ++i) {
        z.zoomAmplitudeIn();
        seen.push_back(z.verticalZoom.v_);
    }
    EXPECT_EQ(seen, (std::vector<double>{2, 4, 8, 16, 16}));
    z.setVerticalZoom(1.0);
    z.zoomAmplitudeOut();
    z.zoomAmplitudeOut();
    EXPECT_EQ(z.verticalZoom.v_, 0.5);

    z.setHorizontalScroll(-0.5);
    EXPECT_EQ(z.horizontalScroll.v_, 0.0);
    z.setHorizontalScroll(3.0);
    EXPECT_EQ(z.horizontalScroll.v_, 1.0);

    // Below 1/65536 nothing is said, though the value is stored.
    z.setHorizontalScroll(0.5);
    view.changes = 0;
    z.setHorizontalScroll(0.5 + 1e-7);
    EXPECT_EQ(z.horizontalScroll.v_, 0.5 + 1e-7);
    EXPECT_EQ(view.changes, 0);
    z.setHorizontalScroll(0.5 + 2.0 / 65536);
    EXPECT_EQ(view.changes, 1);

    // zoomOutEntirely keeps the scroll position.
    z.setHorizontalZoom(0.25);
    z.setVerticalZoom(4);
    z.zoomOutEntirely();
    EXPECT_EQ(z.horizontalZoom.v_, 1.0);
    EXPECT_EQ(z.verticalZoom.v_, 1.0);
    EXPECT_EQ(z.horizontalScroll.v_, 0.5 + 2.0 / 65536);

    // A view that does not want notifications gets none.
    WaveformZoomSettings quiet;
    CountingView silent;
    silent.wants = false;
    quiet.setWaveformView(&silent);
    quiet.setLimits(1000, 10);
    quiet.zoomIn();
    EXPECT_EQ(silent.changes, 0);
}

TEST(Overview, WorkedExamples) {
    std::vector<double> s(1000);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::sin(i * 0.05) * 0.5;
    WaveformZoomSettings z;
    z.setLimits(1000, 200);
    WaveformOverview<CGPoint> o;
    IndexRange visible;

    // 1000 samples in 100 pixels: 10 per column.
    ASSERT_TRUE(calculateWaveformOverview(o, z, memoryChannel(s), frame(100, 200), visible));
    EXPECT_EQ(o.allocationSize, 2000u);
    EXPECT_EQ(o.waveformPointsCount, 100u);
    EXPECT_EQ(o.overviewData[100].x, 100.0);
    EXPECT_EQ(o.overviewData[100].y, o.overviewData[99].y);
    EXPECT_EQ(visible.min_.v_, 0u);
    EXPECT_EQ(visible.max_.v_, 999u);
    for (std::uint64_t k = 0; k < 99; ++k) {
        CGPoint want = plainMinMax(s, k * 10, 10, 100, 100);
        EXPECT_DOUBLE_EQ(o.overviewData[k].x, want.x) << k;
        EXPECT_DOUBLE_EQ(o.overviewData[k].y, want.y) << k;
        EXPECT_LE(o.overviewData[k].x, 100.0); // every column touches the centre line
        EXPECT_GE(o.overviewData[k].y, 100.0);
    }

    // The deepest zoom: 31 samples in 400 pixels, interpolated.
    for (int i = 0; i < 6; ++i)
        z.zoomIn();
    EXPECT_EQ(z.numVisibleSamples(), 31u);
    z.setHorizontalScroll(0.5);
    ASSERT_TRUE(calculateWaveformOverview(o, z, memoryChannel(s), frame(400, 200), visible));
    const std::uint64_t first = visible.min_.v_;
    EXPECT_EQ(first, std::uint64_t((984 - 16) * 0.5)); // span = 984 - round(1000 x 0.016)
    EXPECT_EQ(visible.max_.v_, first + 31);
    const double spp = 31.0 / 400;
    for (std::uint64_t k = 0; k < 400; ++k) {
        const double pos = k * spp + first;
        const auto i = static_cast<std::uint64_t>(pos);
        double y[6];
        for (int j = 0; j < 6; ++j)
            y[j] = s[i + j - 2];
        const double v = lagrange(y, pos - i);
        EXPECT_NEAR(o.overviewData[k].x, std::max(v, 0.0) * 100 + 100, 1e-9) << k;
        EXPECT_NEAR(o.overviewData[k].y, std::min(v, 0.0) * 100 + 100, 1e-9) << k;
    }

    // A flat view: every point on the centre line.
    ASSERT_TRUE(calculateWaveformOverview(o, z, memoryChannel(s), frame(300, 0), visible));
    for (std::uint64_t k = 0; k < 300; ++k)
        EXPECT_EQ(o.overviewData[k].x, 0.0);
}

TEST(Overview, BothModesMatchAPlainComputationOnRandomSignals) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> amplitude(-1.0, 1.0);
    for (int round = 0; round < 40; ++round) {
        const std::uint64_t n = 50 + random() % 200000;
        std::vector<double> s(n);
        for (double& v : s)
            v = amplitude(random);
        WaveformZoomSettings z;
        z.setLimits(n, 180);
        z.setHorizontalZoom(std::pow(2.0, -double(random() % 16)));
        z.setHorizontalScroll((random() % 1001) / 1000.0);
        z.setVerticalZoom(0.5 + (random() % 8));
        const double width = 10 + random() % 1500;
        WaveformOverview<CGPoint> o;
        IndexRange visible;
        ASSERT_TRUE(calculateWaveformOverview(o, z, memoryChannel(s), frame(width, 181), visible));
        const double pixelScale = std::floor(181.0) * 0.5 * z.verticalZoom.v_;
        const double centre = 90.5;
        const std::uint64_t w = static_cast<std::uint64_t>(width);
        const std::uint64_t visibleCount = z.numVisibleSamples();
        const double spp = double(visibleCount) / w;
        const std::uint64_t first = visible.min_.v_;
        for (std::uint64_t k = 0; k < w; ++k) {
            if (spp > 1.0) {
                const std::uint64_t start = static_cast<std::uint64_t>(std::floor(k * spp)) + first;
                if (start >= n - 1) continue;
                CGPoint want = plainMinMax(s, start, static_cast<std::uint64_t>(spp), centre, pixelScale);
                ASSERT_DOUBLE_EQ(o.overviewData[k].x, want.x) << round << " " << k;
                ASSERT_DOUBLE_EQ(o.overviewData[k].y, want.y) << round << " " << k;
            } else {
                const double pos = k * spp + first;
                const auto i = static_cast<std::int64_t>(pos);
                double y[6];
                for (int j = 0; j < 6; ++j)
                    y[j] = s[std::clamp<std::int64_t>(i + j - 2, 0, std::int64_t(n) - 1)];
                const double v = lagrange(y, pos - i);
                ASSERT_NEAR(o.overviewData[k].x, std::max(v, 0.0) * pixelScale + centre, 1e-7) << round << " " << k;
                ASSERT_NEAR(o.overviewData[k].y, std::min(v, 0.0) * pixelScale + centre, 1e-7) << round << " " << k;
            }
        }
    }
}

TEST(Overview, WideViewsGrowTheArrayAndNarrowOnesAreSkippedByTheCaller) {
    std::vector<double> s(100000, 0.25);
    WaveformZoomSettings z;
    z.setLimits(s.size(), 100);
    WaveformOverview<CGPoint> o;
    IndexRange visible;
    // Exactly the usual capacity wide: the closing point needs one more.
    ASSERT_TRUE(calculateWaveformOverview(o, z, memoryChannel(s), frame(2000, 100), visible));
    EXPECT_GE(o.allocationSize, 2001u);
    EXPECT_EQ(o.overviewData[2000].x, 2000.0);
    ASSERT_TRUE(calculateWaveformOverview(o, z, memoryChannel(s), frame(3840.5, 100), visible));
    EXPECT_GE(o.allocationSize, 3841u);
    EXPECT_EQ(o.waveformPointsCount, 3840u);
    EXPECT_EQ(o.overviewData[3839].y, 0.25 * 50 + 50);
    // Back to a small view: the array is reused, not reallocated.
    CGPoint* array = o.overviewData;
    ASSERT_TRUE(calculateWaveformOverview(o, z, memoryChannel(s), frame(640, 100), visible));
    EXPECT_EQ(o.overviewData, array);

    EXPECT_FALSE(updateCache(o, 0, 10));
    WaveformOverview<CGPoint> empty;
    EXPECT_FALSE(empty.allocate(0));
    EXPECT_EQ(empty.overviewData, nullptr);
    EXPECT_EQ(empty.allocationSize, 0u);
}

TEST(Overview, TheViewsEntrySkipsWhatCannotBeDrawn) {
    std::vector<double> s(500, -0.5);
    WaveformZoomSettings z;
    z.setLimits(s.size(), 40);
    WaveformOverview<CGPoint> o;
    IndexRange visible;
    bool inProgress = false;
    EXPECT_FALSE(updateWaveformCache(o, z, ZQ::ChannelSamples{}, true, 0, frame(100, 40), visible, inProgress));
    EXPECT_FALSE(updateWaveformCache(o, z, memoryChannel({}), true, 0, frame(100, 40), visible, inProgress));
    EXPECT_EQ(captured([&] {
                  EXPECT_FALSE(
                      updateWaveformCache(o, z, memoryChannel(s), false, 0, frame(100, 40), visible, inProgress));
              }),
              "skipping imp");
    EXPECT_FALSE(updateWaveformCache(o, z, memoryChannel(s), true, -1, frame(100, 40), visible, inProgress));
    EXPECT_FALSE(updateWaveformCache(o, z, memoryChannel(s), true, 0, frame(9.5, 40), visible, inProgress));
    EXPECT_EQ(o.overviewData, nullptr); // nothing was built
    EXPECT_TRUE(updateWaveformCache(o, z, memoryChannel(s), true, 0, frame(10, 40), visible, inProgress));
    EXPECT_FALSE(inProgress);
    EXPECT_EQ(o.waveformPointsCount, 10u);
    EXPECT_EQ(o.overviewData[0].x, 20.0 - 0.5 * 20);
    EXPECT_EQ(o.overviewData[0].y, 20.0);
}
