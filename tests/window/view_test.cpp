// How the views behave for someone who zooms, scrolls, resizes, selects and
// plays: the place in view is kept, the slider's travel is even, the
// scroller reaches the last sample, the window looks the same after any
// resize, overlays show on every background, a click while playing moves
// playing there, edges of the selection can be dragged, and a drag past the
// edge scrolls.
#include "controls/ZQTransportButton.h"
#include "playback/AudioFileDocumentOutputSource.h"
#include "playback/OutputStream.h"
#include "support/PlaybackCapture.h"
#include "window/WindowFixture.h"

#include <QLabel>
#include <cmath>

using namespace testsupport;
using platform::Ref;

namespace {

class ViewTest : public WindowTest {
protected:
    void TearDown() override {
        unsetenv("ZQ_AUDIO_OUTPUT");
        WindowTest::TearDown();
    }
    static std::uint64_t first(ZQWaveform* v) { return v->visibleRange().min_.v_; }
    static std::uint64_t last(ZQWaveform* v) { return v->visibleRange().max_.v_; }
    // The views take their visible range when they draw.
    static void draw(ZQWaveformDisplayController* c) {
        for (int i = 0; i < c->waveformCount(); ++i)
            c->waveform(i)->grab();
    }
    // The column (in the view's pixels) where `sample` is drawn.
    static double columnOf(ZQWaveform* v, std::uint64_t sample) {
        return (double(sample) - double(first(v))) / double(last(v) - first(v)) * v->width();
    }
    Ref<ZQAudioFileDocument> tenSeconds() { return open(floatFile("ten.wav", 1, 10 * 8000, fixtureSample, 8000)); }
};

} // namespace

TEST_F(ViewTest, ZoomingKeepsThePlayPositionInPlaceOrElseTheCentre) {
    Ref<ZQAudioFileDocument> doc = tenSeconds();
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    draw(c);

    // The play position at 3/5 of the width stays there through Zoom In and Out.
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(480, v->height() / 2));
    const std::uint64_t at = doc->presentPlaybackPosition();
    for (int step = 0; step < 4; ++step) {
        doc->zoomIn();
        draw(c);
        EXPECT_NEAR(columnOf(v, at), 480.0, 2.0) << "zoom in " << step;
    }
    doc->zoomOut();
    draw(c);
    EXPECT_NEAR(columnOf(v, at), 480.0, 2.0);

    // Out of view, the centre of the view stays where it is.
    c->scrollToFirstSample(60000);
    draw(c);
    ASSERT_GT(first(v), at);
    const double centre = (double(first(v)) + double(last(v))) / 2;
    doc->zoomIn();
    draw(c);
    EXPECT_NEAR((double(first(v)) + double(last(v))) / 2, centre, double(last(v) - first(v)) / 100);

    // Zoomed out entirely and in again: the play position, not an end.
    c->zoomOutEntirely();
    draw(c);
    EXPECT_EQ(first(v), 0u);
    const double whole = columnOf(v, at);
    doc->zoomIn();
    draw(c);
    EXPECT_NEAR(columnOf(v, at), whole, 2.0);
    EXPECT_GT(first(v), 0u);

    // Zoom to Selection fits the selection to the width.
    c->scrollToFirstSample(0);
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(200, 50));
    QTest::mouseMove(v, QPoint(260, 50));
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(260, 50));
    const ZQ::SampleSelection s = v->selection();
    ASSERT_GT(s.max_.v_, s.min_.v_);
    c->zoomToSelection();
    draw(c);
    EXPECT_EQ(first(v), s.min_.v_);
    EXPECT_NEAR(double(last(v)), double(s.max_.v_), 2.0);
}

TEST_F(ViewTest, TheSliderZoomsByEqualFactorsAndTheScrollerReachesTheLastSample) {
    const long n = 1323000; // 30 s at 44.1 kHz
    Ref<ZQAudioFileDocument> doc = open(floatFile("long.wav", 2, n, fixtureSample));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    ZQDoubleSlider* slider = c->horizontalZoomSlider();

    // Equal steps of the slider zoom by equal factors.
    std::vector<double> zooms;
    for (int step = 0; step <= 5; ++step) {
        slider->setValue(ZQDoubleSlider::kSteps / 5 * step);
        zooms.push_back(v->horizontalZoom());
    }
    EXPECT_DOUBLE_EQ(zooms[0], 1.0);
    const double factor = zooms[1] / zooms[0];
    EXPECT_LT(factor, 0.5);
    for (std::size_t k = 2; k < zooms.size(); ++k)
        EXPECT_NEAR(zooms[k] / zooms[k - 1], factor, factor * 1e-3) << k;

    // Its ends: the whole file, and the deepest zoom.
    slider->setValue(0);
    draw(c);
    EXPECT_EQ(first(v), 0u);
    EXPECT_EQ(last(v), std::uint64_t(n - 1));
    EXPECT_FALSE(c->canZoomOut());
    slider->setValue(slider->maximum());
    draw(c);
    EXPECT_DOUBLE_EQ(v->horizontalZoom(), v->zoomSettings().horizontalZoomRange.min_);
    EXPECT_LE(last(v) - first(v), 32u);
    EXPECT_FALSE(c->canZoomIn());
    EXPECT_TRUE(c->canZoomOut());

    // At any zoom, the scroller dragged to its end shows the last sample.
    auto* scroller = c->horizontalScrollScroller();
    for (double zoom : {0.5, 0.013, 0.0001, 0.0}) {
        if (zoom > 0) c->setHorizontalZoom(zoom, true);
        c->zoomSettingsHaveChanged();
        scroller->setValue(scroller->maximum());
        draw(c);
        EXPECT_EQ(last(v), std::uint64_t(n - 1)) << zoom;
        EXPECT_EQ(c->waveform(1)->visibleRange(), v->visibleRange());
        EXPECT_EQ(v->lastVisibleOverlay()->text(), QString::number(n - 1)) << zoom;
    }
}

TEST_F(ViewTest, AfterAnyResizeTheWindowLooksAsItDid) {
    // A tone, then a faint noise near silence: its trace covers the centre
    // line only where the rows fall as they did.
    Ref<ZQAudioFileDocument> doc = open(floatFile("half.wav", 2, 88200, [](int c, long k) {
        return k < 44100 ? 0.8 * std::sin(2 * M_PI * 440 * k / 44100.0) : 1e-3 * (((k * 7 + c) % 5) - 2);
    }));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 700, 360);
    QWidget* content = c->window()->contentView();
    const QImage before = content->grab().toImage();

    // Squeezed to nothing (below the window's minimum) and back, in steps.
    c->window()->setMinimumSize(0, 0);
    for (int h = 340; h >= 40; h -= 60)
        resizeContent(c, 700 - (360 - h) / 2, h);
    resizeContent(c, 120, 30);
    for (int h = 60; h <= 360; h += 75)
        resizeContent(c, 700, h);
    resizeContent(c, 700, 360);
    const QImage after = content->grab().toImage();
    EXPECT_EQ(after, before);
    ZQWaveform* top = c->waveform(0);
    EXPECT_GE(top->geometry().top(), 0);
    EXPECT_TRUE(top->rect().contains(top->vZoomOverlay()->geometry()));
}

TEST_F(ViewTest, TheSelectionThePlayLineAndTheLabelsShowOnLightAndDarkBackgrounds) {
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "quiet.wav", 1, 80000,
        [](int, long k) {
            return 0.05 * std::sin(k / 10.0); // a low trace: the band is seen above it
        },
        8000));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(200, 20));
    QTest::mouseMove(v, QPoint(400, 20));
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(400, 20));
    doc->locatePlaybackPosition(60000); // the line at 3/4 of the width
    c->playbackTimerTick();
    const int line = v->playheadView()->column();
    ASSERT_GT(line, 500);

    auto contrast = [](QRgb a, QRgb b) { return std::abs(qGray(a) - qGray(b)); };
    for (const QColor& background : {QColor(Qt::white), QColor(Qt::black), QColor(255, 240, 160)}) {
        const QColor trace = background.lightness() > 128 ? QColor(20, 40, 120) : QColor(150, 200, 255);
        c->setBackgroundColor(background);
        c->setForegroundColor(trace);
        const QImage image = v->grab().toImage();
        const int row = 30; // above the trace, inside the view's own band
        EXPECT_GT(contrast(image.pixel(300, row), image.pixel(600, row)), 10)
            << "band on " << background.name().toStdString();
        EXPECT_GT(contrast(image.pixel(line, row), image.pixel(line + 3, row)), 40)
            << "line on " << background.name().toStdString();
        // Each label's text stands out from its backing.
        for (QLabel* label : {v->vZoomOverlay(), v->firstVisibleOverlay(), v->lastVisibleOverlay()}) {
            const QImage l = label->grab().toImage();
            int strongest = 0;
            for (int y = 0; y < l.height(); ++y)
                for (int x = 0; x < l.width(); ++x)
                    strongest = std::max(strongest, contrast(l.pixel(x, y), l.pixel(0, 0)));
            EXPECT_GT(strongest, 60) << label->text().toStdString() << " on " << background.name().toStdString();
            EXPECT_TRUE(v->rect().contains(label->geometry()));
        }
    }
}

TEST_F(ViewTest, EdgesOfTheSelectionDragAndADragPastTheEdgeScrolls) {
    Ref<ZQAudioFileDocument> doc = tenSeconds();
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    draw(c);
    const int y = v->height() / 2;
    auto indexAt = [&](int x) { return v->convertEventCoordinatesToSampleIndex(QPointF(x, y)); };
    auto drag = [&](int from, int to) { dragAcross(v, from, to); };
    drag(200, 400);
    const std::uint64_t a = indexAt(200), b = indexAt(400);
    ASSERT_EQ(v->selection().min_.v_, a);
    ASSERT_EQ(v->selection().max_.v_, b);

    // Grabbing the right edge (2 pixels off) moves that edge only.
    drag(402, 600);
    EXPECT_EQ(v->selection().min_.v_, a);
    EXPECT_EQ(v->selection().max_.v_, indexAt(600));
    // The left edge, past the right one: the selection turns over the anchor.
    drag(198, 100);
    EXPECT_EQ(v->selection().min_.v_, indexAt(100));
    EXPECT_EQ(v->selection().max_.v_, indexAt(600));
    // Grabbing an edge is no click: the play position stays.
    const std::uint64_t position = doc->presentPlaybackPosition();
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(101, y));
    EXPECT_EQ(doc->presentPlaybackPosition(), position);
    EXPECT_EQ(v->selection().min_.v_, indexAt(100));
    // Away from the edges a press starts a new selection.
    drag(300, 350);
    EXPECT_EQ(v->selection().min_.v_, indexAt(300));

    // Zoomed in, a drag held past the right edge scrolls the view and the
    // selection follows to the new edge.
    c->setHorizontalZoom(0.05, true);
    c->zoomSettingsHaveChanged();
    draw(c);
    const std::uint64_t start = first(v), end = last(v);
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(400, y));
    const std::uint64_t anchor = v->selection().min_.v_;
    QTest::mouseMove(v, QPoint(v->width() + 60, y));
    ASSERT_TRUE(waitUntil(
        [&] {
            draw(c);
            return first(v) > start + (end - start) / 2;
        },
        3000));
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(v->width() + 60, y));
    draw(c);
    EXPECT_EQ(v->selection().min_.v_, anchor);
    EXPECT_GT(v->selection().max_.v_, end);
    EXPECT_GE(v->selection().max_.v_ + 2, last(v));
    // Released, the view stays put.
    const std::uint64_t settled = first(v);
    spinFor(200);
    draw(c);
    EXPECT_EQ(first(v), settled);
}

TEST_F(ViewTest, AClickWhilePlayingIsHeardPlayingOnFromThere) {
    // Frame k: (k + 1) / 2^20, so every captured value names its frame. A
    // rate of its own: a stream keeps the output it was opened with.
    const long frames = 8000 * 4;
    const std::string capture = dir.file("played.wav");
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + capture).c_str(), 1);
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "ramp.wav", 1, frames, [](int, long k) { return (k + 1) / 1048576.0; }, 8001));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    draw(c);
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(40, v->height() / 2));
    const std::uint64_t from = doc->presentPlaybackPosition();
    ZQTransportButton* play = bar(doc.get())->widget(TransportButton::Play);
    QTest::mousePress(play, Qt::LeftButton);
    QTest::mouseRelease(play, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() > from + 2000; }, 5000));
    const std::uint64_t target = v->convertEventCoordinatesToSampleIndex(QPointF(600, v->height() / 2));
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(600, v->height() / 2));
    EXPECT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    EXPECT_GE(doc->presentPlaybackPosition(), target);
    ASSERT_TRUE(waitUntil([&] { return !doc->audioFileDocumentTransportCommandReceiver()->isPlaying(); }, 10000));
    ZQ::AudioStream::OutputStream::waitUntilAllPlayed(5.0);

    // Heard: from the first click on, then from the second click's sample
    // (after a short crossfade) to the end, with nothing between skipped.
    PlayedSound sound = readCapture(capture);
    const std::size_t start = sound.firstSounding();
    ASSERT_LT(start, sound.frames());
    const long fade = long(ZQ::AudioFileDocumentOutputSource::fadeFrames(8001));
    long jumpAt = -1;
    for (std::size_t i = start + std::size_t(2 * fade); i < sound.frames(); ++i) { // past the fade-in
        const double k = sound.at(i, 0) * 1048576.0 - 1;
        const double previous = sound.at(i - 1, 0) * 1048576.0 - 1;
        if (k > previous + 1.5) {
            jumpAt = long(i);
            break;
        }
    }
    ASSERT_GT(jumpAt, 0) << "no jump was heard";
    // Past the crossfade every frame is whole again, from the clicked one on.
    const long whole = jumpAt + 2 * fade;
    const long k0 = long(std::lround(sound.at(std::size_t(whole), 0) * 1048576.0 - 1));
    EXPECT_GE(k0, long(target));
    EXPECT_LE(k0, long(target) + 3 * fade);
    for (long k = k0; k < frames; ++k)
        ASSERT_EQ(sound.at(std::size_t(whole + (k - k0)), 0), static_cast<float>((k + 1) / 1048576.0)) << k;
}

TEST_F(ViewTest, TheReadoutsSayWhatTheyShow) {
    Ref<ZQAudioFileDocument> doc = tenSeconds();
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    for (QWidget* readout : std::initializer_list<QWidget*>{c->hmsCurrent(), c->hmsDuration(), c->sampleCountDisplay(),
                                                            c->currentSelectionDisplay()})
        EXPECT_FALSE(readout->toolTip().isEmpty());
    EXPECT_EQ(c->currentSelectionDisplay()->text(), QString("\u2014"));
    // 1.5 s selected.
    c->waveform(0)->setSelection(ZQ::SampleSelection(ZQ::Num::Count(8000ull), ZQ::Num::Count(19999ull)));
    EXPECT_EQ(c->currentSelectionDisplay()->text(), QString("8000\u201319999 (1.500 s)"));
    c->waveform(0)->setSelection(ZQ::SampleSelection(ZQ::Num::Count(0ull), ZQ::Num::Count(79999ull)));
    EXPECT_EQ(c->currentSelectionDisplay()->text(), QString("0\u201379999 (10.000 s)"));
    // At the end, the last sample.
    QTest::keyClick(c->window(), Qt::Key_E);
    c->updateNumericAndHMSDisplays();
    EXPECT_EQ(c->sampleCountDisplay()->text(), QString("79999/80000"));
    EXPECT_EQ(c->hmsCurrent()->text(), "00:00:10.000");
    (void)v;
}

TEST_F(ViewTest, ShortViewsShowOnlyTheLabelsThatFitWithoutOverlapping) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("sixteen.wav", 16, 4000, fixtureSample));
    ZQWaveformDisplayController* c = display(doc.get());
    for (int height : {900, 420, 300}) {
        resizeContent(c, 700, height);
        for (int i = 0; i < 16; ++i) {
            ZQWaveform* v = c->waveform(i);
            std::vector<QRect> shown;
            for (QLabel* l : {v->vZoomOverlay(), v->firstVisibleOverlay(), v->lastVisibleOverlay()})
                if (l->isVisibleTo(v)) {
                    EXPECT_TRUE(v->rect().contains(l->geometry())) << height << " " << i;
                    for (const QRect& other : shown)
                        EXPECT_FALSE(other.intersects(l->geometry())) << height << " " << i;
                    shown.push_back(l->geometry());
                }
            // Tall enough views show all three.
            if (v->height() >= 40) {
                EXPECT_EQ(shown.size(), 3u) << height << " " << i;
            }
        }
    }
}
