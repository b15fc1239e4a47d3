// The renderers alone, drawing into images checked by pixels: the traces
// from the centre line, markers and regions over a row, the frequency
// axis kept clear of the channel's toggles.
#include "support/Samples.h"
#include "waveform/ChannelGeometry.h"
#include "window/MarkerRenderer.h"
#include "window/ScaleRenderer.h"
#include "window/SpectrogramRenderer.h"
#include "window/TraceRenderer.h"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>

using namespace ZQ;

TEST(Renderers, TracesAreDrawnFromTheCentreLineAndSilenceDrawsOnlyTheCentreLine) {
    // A square wave of 40 frames a period at 20 frames a column, then silence.
    std::vector<double> samples(4000);
    for (std::size_t k = 0; k < samples.size(); ++k)
        samples[k] = k < 2000 ? ((k / 20) % 2 ? 0.9 : -0.9) : 0.0;
    WaveformZoomSettings zoom;
    zoom.setLimits(samples.size(), 100);
    zoom.zoomOutEntirely();
    TraceRenderer traces;
    IndexRange drawn;
    QImage image(QSize(200, 100), QImage::Format_RGB32);
    ASSERT_TRUE(traces.rebuild(testsupport::memoryChannel(samples), zoom, image.size(), 100, false, drawn));
    traces.render(image, 100, 50, WaveformColors{}, SpectrogramRenderer(), MarkerRenderer(), false);
    auto isTrace = [&](int x, int y) { return qGreen(image.pixel(x, y)) > 200 && qRed(image.pixel(x, y)) > 200; };
    // Each column is flat at one rail and drawn from the centre line to it:
    // the pairs of columns cover every row between the rails, and meet.
    for (int x = 2; x < 96; ++x) {
        int rows = 0;
        for (int y = 10; y < 90; ++y)
            rows += isTrace(x, y) || isTrace(x + 1, y);
        EXPECT_GE(rows, 79) << x;
        EXPECT_NE(isTrace(x, 20), isTrace(x, 80)) << x; // one rail or the other
    }
    // Silence: no trace, the centre line only.
    for (int x = 110; x < 200; ++x)
        for (int y = 0; y < 100; ++y)
            if (y != 50) {
                ASSERT_FALSE(isTrace(x, y)) << x << "," << y;
            }
    EXPECT_EQ(traces.renders(), 1u);
}

TEST(Renderers, MarkersAreLinesOverRegionTintsInTheirColumns) {
    const ChannelGeometry g = ChannelGeometry::of(0, 1000, 100, 1.0);
    MarkerRenderer markers;
    markers.collect(MarkerList({{200, 0, "a"}, {500, 300, "r"}, {5000, 0, "far"}}), g);
    std::vector<QRgb> row(100, qRgb(0, 0, 0));
    markers.paintRow(row.data(), 100);
    EXPECT_GT(qRed(row[20]), 150);                                              // the marker's line
    EXPECT_GT(qRed(row[50]), 150);                                              // the region's start has its line
    EXPECT_GT(qRed(row[60]), 20);                                               // tinted
    EXPECT_LT(qRed(row[60]), 100);                                              // but no line
    EXPECT_EQ(row[19], qRgb(0, 0, 0));                                          // nothing beside
    EXPECT_EQ(row[80], qRgb(0, 0, 0));                                          // the region ends at 800
    EXPECT_EQ(MarkerRenderer::markerAt(MarkerList({{200, 0, "a"}}), g, 23), 0); // within a few pixels
    EXPECT_EQ(MarkerRenderer::markerAt(MarkerList({{200, 0, "a"}}), g, 26), -1);
}

TEST(Renderers, TheFrequencyAxisMovesItsLabelsBesideTheToggles) {
    QImage image(QSize(300, 200), QImage::Format_RGB32);
    image.fill(Qt::black);
    SpectrogramImage::Scale scale;
    scale.rate = 44100;
    scale.logarithmic = true;
    const std::vector<ScaleRenderer::Mark> free = ScaleRenderer::drawFrequency(image, 0, scale, QRect());
    ASSERT_FALSE(free.empty());
    // Toggles over the lower labels' rows: those labels start right of them.
    const QRect toggles(2, 150, 34, 14);
    image.fill(Qt::black);
    const std::vector<ScaleRenderer::Mark> moved = ScaleRenderer::drawFrequency(image, 0, scale, toggles);
    ASSERT_EQ(moved.size(), free.size());
    for (const ScaleRenderer::Mark& m : moved) {
        const bool beside = m.row - 6 < toggles.bottom() && m.row + 6 > toggles.top();
        // Nothing of a label is drawn inside the toggles' rectangle.
        for (int y = toggles.top(); y <= toggles.bottom(); ++y)
            for (int x = toggles.left() + 4; x <= toggles.right(); ++x)
                if (beside) {
                    ASSERT_EQ(image.pixel(x, y), qRgb(0, 0, 0)) << m.label.toStdString();
                }
    }
}
