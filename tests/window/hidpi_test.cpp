// On a screen of device pixel ratio 2 (this binary runs with
// QT_SCALE_FACTOR=2): the traces have a column per device pixel, and the
// play-position line, an empty selection and the centre line are one device
// pixel wide.
#include "WindowFixture.h"

#include <QGuiApplication>

using namespace testsupport;
using platform::Ref;

namespace {

// Silence with a one-sample click every 4000 samples (at 2000, 6000, ...).
double clicks(int, long k) {
    return k % 4000 == 2000 ? 0.5 : 0.0;
}

bool brighter(QRgb a, QRgb b) {
    return qRed(a) > qRed(b) || qGreen(a) > qGreen(b) || qBlue(a) > qBlue(b);
}

} // namespace

TEST_F(WindowTest, AtRatioTwoEveryLineIsOneDevicePixelAndTheTracesHaveAColumnPerDevicePixel) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("clicks.wav", 1, 32000, clicks, 8000));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 400, 240);
    ZQWaveform* v = c->waveform(0);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->devicePixelRatioF(), 2.0) << "run with QT_SCALE_FACTOR=2";
    spinFor(100);
    const QImage before = v->grab().toImage();
    ASSERT_EQ(before.width(), 2 * v->width());
    ASSERT_EQ(before.height(), 2 * v->height());

    // Each click is one sample: drawn per device pixel it fills one device
    // column; drawn at the logical resolution and scaled, it would fill two.
    const int W = before.width();
    const int row = before.height() / 2 - 20; // above the centre, inside the clicks' lines
    std::vector<int> traced;
    for (int x = 0; x < W; ++x)
        if (brighter(before.pixel(x, row), before.pixel(0, row))) traced.push_back(x);
    ASSERT_EQ(traced.size(), 8u) << "the clicks' lines are not one device pixel each";
    for (std::size_t i = 0; i < traced.size(); ++i)
        EXPECT_NEAR(traced[i], (2000.0 + 4000.0 * double(i)) / 31999.0 * W, 2) << i;

    // The centre line, where all is silent: one device row, unlike its neighbours.
    const int quiet = W / 8; // sample 4000, between two clicks
    int centreRows = 0;
    auto differs = [&](int y0, int y1) {
        const QRgb a = before.pixel(quiet, y0), b = before.pixel(quiet, y1);
        return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) > 30;
    };
    for (int y = 1; y + 1 < before.height(); ++y)
        centreRows += differs(y, y - 1) && differs(y, y + 1);
    EXPECT_EQ(centreRows, 1);

    // A selection, then the play position a second in (a quarter of the way):
    // outside the band only the play line is brighter, one device column.
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(300, 60));
    QTest::mouseMove(v, QPoint(350, 60));
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(350, 60));
    QTest::keyClick(c->window(), Qt::Key_Right);
    QCoreApplication::processEvents();
    ASSERT_EQ(doc->presentPlaybackPosition(), 8000u);
    spinFor(50);
    const QImage after = v->grab().toImage();
    const QRect band = v->selectionOverlay()->bandRect(); // device columns
    EXPECT_NEAR(band.left(), 600, 2);
    EXPECT_NEAR(band.right(), 700, 2);
    std::vector<int> lit;
    for (int x = 0; x < after.width(); ++x)
        if ((x < band.left() - 1 || x > band.right() + 1) && brighter(after.pixel(x, 4), before.pixel(x, 4)))
            lit.push_back(x);
    ASSERT_EQ(lit.size(), 1u) << "the play line is not one device pixel wide";
    EXPECT_NEAR(lit[0], W * 8000.0 / 31999.0, 1);
    EXPECT_EQ(v->playheadView()->column(), lit[0]);

    // An empty selection: one device column too.
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(150, 60));
    QTest::keyClick(c->window(), Qt::Key_Right); // the play line away from it
    QCoreApplication::processEvents();
    spinFor(50);
    const QImage line = v->grab().toImage();
    const int playLine = v->playheadView()->column();
    int selectionColumns = 0;
    for (int x = 0; x < line.width(); ++x)
        selectionColumns += std::abs(x - playLine) > 1 && brighter(line.pixel(x, 4), before.pixel(x, 4));
    EXPECT_EQ(selectionColumns, 1);
}

TEST_F(WindowTest, AtRatioTwoTheRulerDrawsOneDevicePixelTicksAtThePlayLinesColumnsAndSharpLabels) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("ruled.wav", 1, 32000, clicks, 8000));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 400, 240);
    ZQTimeRuler* ruler = c->timeRuler();
    ZQWaveform* v = c->waveform(0);
    ASSERT_EQ(ruler->devicePixelRatioF(), 2.0) << "run with QT_SCALE_FACTOR=2";
    const QImage image = ruler->grab().toImage();
    ASSERT_EQ(image.width(), 2 * ruler->width());
    const int row = image.height() - 3; // through every tick, above the edge line
    std::vector<int> dark;
    for (int x = 0; x < image.width(); ++x)
        if (qGray(image.pixel(x, row)) < 120) dark.push_back(x);
    const auto& ticks = ruler->drawnTicks();
    ASSERT_GE(ticks.size(), 4u);
    // One device column per tick, nothing else dark on that row.
    std::vector<int> expected;
    for (const auto& t : ticks)
        expected.push_back(int(t.x));
    EXPECT_EQ(dark, expected);
    // Each at the column the play line takes at its sample.
    for (const auto& t : ticks) {
        if (t.sample >= 32000) continue;
        doc->locatePlaybackPosition(t.sample);
        c->playbackTimerTick();
        EXPECT_EQ(v->playheadView()->column(), int(t.x)) << t.sample;
    }
    // The labels are drawn at twice the pixels: taller than 12 device rows.
    ASSERT_FALSE(ruler->drawnLabels().empty());
    const QRect label = ruler->drawnLabels().front();
    int inkTop = image.height(), inkBottom = -1;
    for (int y = 0; y < image.height() - 4; ++y)
        for (int x = label.left(); x <= label.right() && x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 120) {
                inkTop = std::min(inkTop, y);
                inkBottom = std::max(inkBottom, y);
            }
    EXPECT_GE(inkBottom - inkTop + 1, 12);
}
