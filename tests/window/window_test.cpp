// The document window driven as a user drives it: files opened through the
// application's route, real mouse and key events, pixels from grab(), and
// playback heard through the capture output.
#include "WindowFixture.h"
#include "controls/ZQDoubleSlider.h"
#include "controls/ZQTransportButton.h"
#include "document/Termination.h"
#include "playback/OutputStream.h"
#include "support/PlaybackCapture.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <fstream>

using namespace testsupport;
using platform::Ref;
using ZQ::Frame;

namespace {

double sine(int c, long k) {
    return 0.5 * std::sin(0.01 * k * (c + 1));
}
double square(int, long k) {
    return (k / 50) % 2 ? -1.0 : 1.0;
}
double silence(int, long) {
    return 0.0;
}

// The frame of `w` in its parent, y upwards, from its real geometry.
Frame placed(const QWidget* w) {
    const QRect g = w->geometry();
    return {double(g.x()), double(w->parentWidget()->height() - g.y() - g.height()), double(g.width()),
            double(g.height())};
}

void expectFrame(const QWidget* w, double x, double y, double width, double height, const char* what) {
    const Frame f = placed(w);
    EXPECT_NEAR(f.x, x, 0.5) << what;
    EXPECT_NEAR(f.y, y, 0.5) << what;
    EXPECT_NEAR(f.width, width, 0.5) << what;
    EXPECT_NEAR(f.height, height, 0.5) << what;
}

// Sets the content view's size by resizing the window, and lets the layout settle.

} // namespace

TEST_F(WindowTest, EveryFrameFollowsTheLayoutAfterBuildingAndResizing) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("three.wav", 3, 1000, sine));
    ZQWaveformDisplayController* c = display(doc.get());
    ASSERT_TRUE(c);
    ZQDocumentWindow* w = c->window();
    EXPECT_EQ(w->windowTitle(), "three.wav");
    EXPECT_EQ(w->minimumSize(), QSize(600, 255));
    EXPECT_EQ(w->maximumSize(), QSize(4096, 4096));
    // The content background is white at 0.94.
    EXPECT_TRUE(sameColour(w->contentView()->grab().toImage().pixel(2, 2), 240, 240, 240));

    for (QSize size : {QSize(700, 420), QSize(1100, 640), QSize(640, 300)}) {
        resizeContent(c, size.width(), size.height());
        const double W = size.width(), H = size.height();
        expectFrame(c->contentBox(), 4, 36, W - 8, H - 36, "content box");
        // Inside the box, its border and margins (1 + 0, 1 + 4) around the content view.
        const double Bw = W - 8 - 2, Bh = H - 36 - 10;
        expectFrame(c->contentBox()->contentView(), 1, 5, Bw, Bh, "box content");
        // The split view under the time ruler, which takes the top of its place.
        const double ruler = ZQTimeRuler::kScaleHeight;
        expectFrame(c->splitView(), 0, 20, Bw, Bh - 26 - ruler, "split view");
        expectFrame(c->timeRuler(), 0, 20 + Bh - 26 - ruler, Bw, ruler, "time ruler");
        expectFrame(c->horizontalScrollScroller(), 0, 20 - 12, Bw, 12, "scroller");
        expectFrame(c->horizontalZoomSlider(), 16, 20 - 12 - 15, Bw - 32, 20, "zoom slider");
        EXPECT_TRUE(c->verticalZoomSlider()->isHidden());
        // The readouts and the transport bar stay in the bottom left.
        // The two readouts keep their 160 points where the window has them,
        // and give up what it lacks (4 points from its right edge): they
        // elide rather than run past it.
        const double room = size.width() - 4;
        expectFrame(c->sampleCountDisplay(), 536, 18, std::min(160.0, room - 536), 16, "sample count");
        expectFrame(c->currentSelectionDisplay(), 558, 6, std::min(160.0, room - 558), 16, "selection");
        expectFrame(c->hmsDuration(), 448, 6, 80, 16, "duration");
        expectFrame(c->hmsCurrent(), 448, 18, 80, 16, "time");
        const Frame box = placed(bar(doc.get())->box());
        EXPECT_EQ(box.x, 13);
        EXPECT_EQ(box.y, 8);
        EXPECT_EQ(box.width, 8 * 54 + 2 * 3 + 2); // eight buttons, margins and border
        // Three views, top to bottom, 2-point gaps, each as wide as the split view.
        const double Sh = Bh - 26 - ruler, each = (Sh - 4) / 3;
        for (int i = 0; i < 3; ++i) {
            ZQWaveform* v = c->waveform(i);
            ASSERT_TRUE(v);
            const Frame f = placed(v);
            EXPECT_NEAR(f.y, Sh - (i + 1) * each - 2 * i, 0.51) << i;
            EXPECT_NEAR(f.height, each, 1.0) << i;
            EXPECT_EQ(f.width, Bw);
        }
    }
}

TEST_F(WindowTest, ShowsOneViewForEachChannel) {
    for (int channels : {1, 2, 16, 20, 64}) {
        Ref<ZQAudioFileDocument> doc = open(floatFile("c" + std::to_string(channels) + ".wav", channels, 500, sine));
        ZQWaveformDisplayController* c = display(doc.get());
        ASSERT_TRUE(c);
        EXPECT_EQ(c->waveformCount(), channels) << channels;
        if (channels == 2) {
            // Two channels in a split view 200 high: 99 each, the first on top.
            resizeContent(c, 700, 200 + 26 + 10 + 36 + ZQTimeRuler::kScaleHeight);
            ASSERT_EQ(c->splitView()->height(), 200);
            expectFrame(c->waveform(0), 0, 101, c->splitView()->width(), 99, "first");
            expectFrame(c->waveform(1), 0, 0, c->splitView()->width(), 99, "second");
        }
        doc->close();
    }
}

TEST_F(WindowTest, DrawsBackgroundCentreLineAndTracesInThePreferenceColours) {
    Ref<ZQAudioFileDocument> quiet = open(floatFile("silence.wav", 1, 44100, silence));
    ZQWaveformDisplayController* c = display(quiet.get());
    resizeContent(c, 700, 300);
    ZQWaveform* v = c->waveform(0);
    QImage image = v->grab().toImage();
    const int H = image.height(), W = image.width();
    const int centre = H - static_cast<int>(std::floor(H * 0.5)); // the row of y = H/2 from the bottom
    // (Column 0 holds the play position's line and the empty selection's.)
    for (int x = 1; x < W; x += 37) {
        // The red centre line, under the faint band (white at 0.12 in the middle).
        EXPECT_TRUE(sameColour(image.pixel(x, centre), 255, 31, 31, 2)) << x;
        // Black everywhere else; the band only greys the middle rows.
        EXPECT_TRUE(sameColour(image.pixel(x, 0), 0, 0, 0)) << x;
        EXPECT_TRUE(sameColour(image.pixel(x, H - 1), 0, 0, 0)) << x;
        const QRgb off = image.pixel(x, centre - 20);
        EXPECT_EQ(qRed(off), qGreen(off));
        EXPECT_EQ(qGreen(off), qBlue(off)); // no trace colour: silence draws only the line
    }

    // A full-scale square wave reaches the top and the bottom rows in the
    // trace colour (0.56, 0.66, 0.9) in every column.
    Ref<ZQAudioFileDocument> loud = open(floatFile("square.wav", 1, 44100, square));
    ZQWaveformDisplayController* c2 = display(loud.get());
    resizeContent(c2, 700, 300);
    image = c2->waveform(0)->grab().toImage();
    for (int x = 1; x < image.width(); x += 13) {
        EXPECT_TRUE(sameColour(image.pixel(x, 0), 143, 168, 230, 2)) << x;
        EXPECT_TRUE(sameColour(image.pixel(x, image.height() - 1), 143, 168, 230, 2)) << x;
    }
    EXPECT_EQ(c2->waveform(0)->firstVisibleOverlay()->text(), "0");
    EXPECT_EQ(c2->waveform(0)->lastVisibleOverlay()->text(), "44099");
    EXPECT_EQ(c2->waveform(0)->vZoomOverlay()->text(), "100");
}

TEST_F(WindowTest, TheMouseSelectsTheSameSamplesInEveryChannel) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("pair.wav", 2, 10000, sine));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 400);
    ZQWaveform* top = c->waveform(0);
    ZQWaveform* bottom = c->waveform(1);
    const QImage before = bottom->grab().toImage();
    const int y = bottom->height() / 2;
    const double W = bottom->width();
    // The first frame drawn in the column: the 10,000 frames shown spread
    // over the columns as the traces spread them (about 12 a column).
    auto indexAt = [&](int x) { return static_cast<unsigned long long>(std::ceil(x * 10000 / W)); };

    // A drag in the second channel, from right to left.
    QTest::mousePress(bottom, Qt::LeftButton, {}, QPoint(300, y));
    QTest::mouseMove(bottom, QPoint(200, y));
    QTest::mouseMove(bottom, QPoint(100, y));
    QTest::mouseRelease(bottom, Qt::LeftButton, {}, QPoint(100, y));
    const ZQ::SampleSelection s = bottom->selection();
    EXPECT_EQ(s.min_.v_, indexAt(100));
    EXPECT_EQ(s.max_.v_, indexAt(300));
    EXPECT_EQ(top->selection(), s);
    // First and last sample, then how long the selection lasts.
    const double lasts = double(indexAt(300) - indexAt(100) + 1) / doc->sampleRate();
    EXPECT_EQ(c->currentSelectionDisplay()->text(),
              QString("%1\u2013%2 (%3 s)").arg(indexAt(100)).arg(indexAt(300)).arg(QString::number(lasts, 'f', 3)));

    // The band brightens its columns (plus: +0.12 of white), and only those.
    QImage after = bottom->grab().toImage();
    const QRect band = bottom->selectionOverlay()->bandRect();
    EXPECT_NEAR(band.left(), 100, 1);
    EXPECT_NEAR(band.right(), 300, 1);
    for (int x : {20, 98, 101, 150, 250, 299, 302, 500, 780}) {
        const int row = 3; // black background there: the sum is plain to see
        const int gain = qRed(after.pixel(x, row)) - qRed(before.pixel(x, row));
        if (x >= band.left() && x <= band.right())
            EXPECT_NEAR(gain, 31, 1) << x;
        else
            EXPECT_EQ(gain, 0) << x;
    }

    // A click without moving: an empty selection, drawn as a 1-pixel line;
    // the play position moves there too, and its line is the only other.
    QTest::mouseClick(top, Qt::LeftButton, {}, QPoint(400, y));
    EXPECT_EQ(bottom->selectionLength(), 0u);
    EXPECT_EQ(c->currentSelectionDisplay()->text(), QString("\u2014")); // nothing selected
    EXPECT_EQ(doc->presentPlaybackPosition(), indexAt(400));
    const int playLine = bottom->playheadView()->column();
    EXPECT_NEAR(playLine, 400, 1);
    after = bottom->grab().toImage();
    int brightened = 0;
    for (int x = 0; x < after.width(); ++x)
        brightened += x != playLine && qRed(after.pixel(x, 3)) > qRed(before.pixel(x, 3));
    EXPECT_EQ(brightened, playLine == 400 ? 0 : 1);

    // Shift extends the selection from its far end.
    QTest::mouseClick(top, Qt::LeftButton, Qt::ShiftModifier, QPoint(600, y));
    EXPECT_EQ(bottom->selection().min_.v_, indexAt(400));
    EXPECT_EQ(bottom->selection().max_.v_, indexAt(600));
    // A press beyond the view's right edge selects up to the last visible sample.
    QTest::mousePress(top, Qt::LeftButton, {}, QPoint(700, y));
    QTest::mouseMove(top, QPoint(top->width() + 50, y));
    QTest::mouseRelease(top, Qt::LeftButton, {}, QPoint(top->width() + 50, y));
    EXPECT_EQ(top->selection().max_.v_, top->visibleRange().max_.v_);
}

TEST_F(WindowTest, TheZoomSliderAndTheScrollerMoveEveryView) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("long.wav", 2, 100000, sine));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 400);
    ZQWaveform* v0 = c->waveform(0);
    ZQWaveform* v1 = c->waveform(1);
    const QImage whole = v1->grab().toImage();

    // The user drags the zoom slider a quarter of the way: a quarter of the
    // way to the deepest zoom, counted in factors.
    const double deepest = v0->zoomSettings().horizontalZoomRange.min_;
    c->horizontalZoomSlider()->setValue(ZQDoubleSlider::kSteps / 4);
    const double quarter = std::pow(deepest, 0.25);
    EXPECT_NEAR(v0->horizontalZoom(), quarter, quarter * 1e-5);
    EXPECT_DOUBLE_EQ(v1->horizontalZoom(), v0->horizontalZoom());
    EXPECT_DOUBLE_EQ(c->horizontalScrollScroller()->knobProportion(), v0->horizontalZoom());
    const QImage zoomed = v1->grab().toImage();
    EXPECT_NE(zoomed, whole);
    EXPECT_EQ(v1->lastVisibleOverlay()->text(), QString::number(v1->visibleRange().max_.v_));
    EXPECT_NEAR(double(v1->visibleRange().max_.v_ - v1->visibleRange().min_.v_), 100000 * quarter, 20);

    // Then the scroller to the end: the last visible sample is the last one.
    auto* scroller = c->horizontalScrollScroller();
    scroller->setValue(scroller->maximum());
    EXPECT_DOUBLE_EQ(v0->horizontalScroll(), 1.0);
    v0->grab(); // the visible range is worked out as the view draws
    v1->grab();
    EXPECT_EQ(v1->visibleRange(), v0->visibleRange());
    EXPECT_EQ(v1->visibleRange().max_.v_, 99999u);
    EXPECT_EQ(v1->lastVisibleOverlay()->text(), "99999");
    // A small step still moves it.
    scroller->setValue(scroller->maximum() - 1);
    EXPECT_LT(v0->horizontalScroll(), 1.0);
    EXPECT_GT(v0->horizontalScroll(), 0.9999);

    // Zoom commands reach every view and move the slider with them.
    const double before = v1->horizontalZoom();
    doc->zoomIn();
    EXPECT_NEAR(v1->horizontalZoom(), before / 2, before * 1e-9);
    EXPECT_NEAR(c->horizontalZoomSlider()->doubleValue(), std::log(before / 2) / std::log(deepest), 1e-5);
    doc->zoomAmplitudeIn();
    EXPECT_DOUBLE_EQ(v1->verticalZoom(), 2.0);
    v1->grab();
    EXPECT_EQ(v1->vZoomOverlay()->text(), "200");
    c->zoomOutEntirely();
    EXPECT_DOUBLE_EQ(v1->horizontalZoom(), 1.0);
    EXPECT_DOUBLE_EQ(v1->verticalZoom(), 1.0);
    EXPECT_DOUBLE_EQ(c->horizontalZoomSlider()->doubleValue(), 0.0);

    // Fully zoomed in at the end, a few dozen frames across the view: the
    // last frame's play line is where the traces draw that frame.
    c->horizontalZoomSlider()->setValue(ZQDoubleSlider::kSteps);
    scroller->setValue(scroller->maximum());
    v1->grab();
    const std::uint64_t shown = v1->zoomSettings().numVisibleSamples();
    ASSERT_LT(shown, 100u);
    doc->locatePlaybackPosition(99999);
    QCoreApplication::processEvents();
    EXPECT_NEAR(v1->playheadView()->column(), double(shown - 1) / double(shown) * v1->width(), 1);
    EXPECT_EQ(v1->lastVisibleOverlay()->text(), "99999");
}

TEST_F(WindowTest, PlaysWithTheButtonsAndKeysWhileTheLineAndReadoutsMove) {
    // Frame k: (k + 1) / 2^20, so every captured value names its frame.
    const long frames = 33075; // 1.5 s at 22050 Hz
    const std::string capture = dir.file("played.wav");
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + capture).c_str(), 1);
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "ramp.wav", 1, frames, [](int, long k) { return (k + 1) / 1048576.0; }, 22050));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 700, 300);
    ZQTransportBarBox* b = bar(doc.get());
    ZQTransportButton* play = b->widget(TransportButton::Play);
    ZQTransportButton* stop = b->widget(TransportButton::Stop);
    EXPECT_FALSE(b->widget(TransportButton::Record)->isEnabled());
    EXPECT_EQ(c->hmsDuration()->text(), "00:00:01.500");
    EXPECT_EQ(c->sampleCountDisplay()->text(), QString("0/%1").arg(frames));
    ZQWaveform* v = c->waveform(0);
    const QImage still = v->grab().toImage();

    // The button acts on the press.
    QTest::mousePress(play, Qt::LeftButton);
    EXPECT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    QTest::mouseRelease(play, Qt::LeftButton);
    EXPECT_TRUE(play->state());
    EXPECT_FALSE(play->isEnabled());
    EXPECT_TRUE(stop->isEnabled());

    // While playing: the time moves, and so does the line (plus: +0.5 of white).
    ASSERT_TRUE(waitUntil([&] { return v->playheadView()->column() > 100; }, 5000));
    const int column = v->playheadView()->column();
    const QImage playing = v->grab().toImage();
    EXPECT_NE(c->hmsCurrent()->text(), "00:00:00.000");
    EXPECT_NEAR(qRed(playing.pixel(v->playheadView()->pixelInsetOfPreviousDraw(), 2)) - qRed(still.pixel(column, 2)),
                127, 2);
    // The line is where the last tick read the position, for every view alike.
    const double expected = v->width() * double(c->windowState().playPosition()) / double(frames);
    EXPECT_NEAR(v->playheadView()->column(), expected, 1);

    // The end of the file stops playback on a stream thread; Play comes back.
    ASSERT_TRUE(waitUntil([&] { return play->isEnabled(); }, 10000));
    EXPECT_FALSE(play->state());
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    // At the end the position is the sample count: the time is the duration,
    // and the sample-count readout shows the last sample.
    EXPECT_EQ(c->hmsCurrent()->text(), "00:00:01.500");
    EXPECT_EQ(c->sampleCountDisplay()->text(), QString("%1/%2").arg(frames - 1).arg(frames));

    // What was played: frames 0 ... N-1, in order, then silence.
    ZQ::AudioStream::OutputStream::waitUntilAllPlayed(5.0);
    PlayedSound sound = readCapture(capture);
    const std::size_t first = sound.firstSounding();
    ASSERT_LT(first, sound.frames());
    for (long k = 0; k < frames; ++k)
        ASSERT_EQ(sound.at(first + k, 0), static_cast<float>((k + 1) / 1048576.0)) << k;

    // The keys: "0" to the start, space plays, space stops, ">" and "<" step a second.
    QWidget* window = c->window();
    QTest::keyClick(window, Qt::Key_0);
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
    QTest::keyClick(window, Qt::Key_Greater, Qt::ShiftModifier);
    EXPECT_EQ(doc->presentPlaybackPosition(), 22050u);
    QTest::keyClick(window, '>');
    EXPECT_EQ(doc->presentPlaybackPosition(), 33075u); // not past the end
    QTest::keyClick(window, Qt::Key_Less, Qt::ShiftModifier);
    EXPECT_EQ(doc->presentPlaybackPosition(), 33075u - 22050u);
    QTest::keyClick(window, '<');
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    QTest::keyClick(window, Qt::Key_E);
    EXPECT_EQ(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(frames));
    QTest::keyClick(window, Qt::Key_R); // Record stays disabled: nothing happens
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isRecording());
}

TEST_F(WindowTest, EachViewsSoloAndMuteTogglesChooseWhatIsHeard) {
    // Channel c holds (c + 1) / 8 throughout.
    const std::string capture = dir.file("solo.wav");
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + capture).c_str(), 1);
    const long frames = 3000;
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "three.wav", 3, frames, [](int c, long) { return (c + 1) / 8.0; }, 23000));
    ZQWaveformDisplayController* c = display(doc.get());
    ASSERT_EQ(c->waveformCount(), 3);
    ZQWaveform* second = c->waveform(1);
    QToolButton* solo = second->soloToggle();
    QToolButton* mute = c->waveform(0)->muteToggle();
    ASSERT_TRUE(solo && mute);
    // Small, at the left edge, above the first visible sample's number.
    EXPECT_LE(solo->geometry().right(), 40);
    EXPECT_LE(solo->height(), 16);
    EXPECT_EQ(solo->toolTip(), "Solo channel 2");
    const QColor before = second->grab().toImage().pixelColor(solo->geometry().center());
    QTest::mouseClick(solo, Qt::LeftButton);
    EXPECT_TRUE(doc->isChannelSoloed(1));
    EXPECT_TRUE(solo->isChecked());
    spinFor(20);
    // A soloed channel's toggle lights up (green).
    const QColor lit = second->grab().toImage().pixelColor(solo->geometry().center() + QPoint(3, 3));
    EXPECT_NE(lit, before);
    EXPECT_GT(lit.green(), lit.red());
    QTest::mouseClick(mute, Qt::LeftButton); // muting another channel changes nothing while one is soloed
    EXPECT_TRUE(doc->isChannelMuted(0));

    // Play: the soloed channel alone, on both sides, exactly.
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !doc->audioFileDocumentTransportCommandReceiver()->isPlaying(); }, 10000));
    ZQ::AudioStream::OutputStream::waitUntilAllPlayed(5.0);
    PlayedSound sound = readCapture(capture);
    ASSERT_EQ(sound.channels, 2);
    long heard = 0;
    for (std::size_t k = sound.firstSounding(); k < sound.frames(); ++k) {
        if (sound.at(k, 0) == 0.0f && sound.at(k, 1) == 0.0f) continue;
        ++heard;
        ASSERT_EQ(sound.at(k, 0), 0.25f) << k;
        ASSERT_EQ(sound.at(k, 1), 0.25f) << k;
    }
    EXPECT_EQ(heard, frames);
    QTest::mouseClick(solo, Qt::LeftButton);
    EXPECT_FALSE(doc->isChannelSoloed(1));
}

TEST_F(WindowTest, ClosingAPlayingWindowStopsAndClosesItsDocument) {
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + dir.file("close.wav")).c_str(), 1);
    Ref<ZQAudioFileDocument> doc = open(floatFile("ten.wav", 2, 10 * 16000, sine, 16000));
    ZQWaveformDisplayController* c = display(doc.get());
    QPointer<ZQDocumentWindow> window = c->window();
    QTest::keyClick(window, Qt::Key_Space);
    ASSERT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    ASSERT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() > 1000; }, 5000));
    window->close();
    EXPECT_FALSE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));
    EXPECT_EQ(doc->audioFileDocumentTransportController(), nullptr);
    EXPECT_EQ(doc->waveformDisplayController(), nullptr);
    EXPECT_FALSE(doc->fileHasLoaded()); // the samples are gone with the teardown
    EXPECT_TRUE(waitUntil([&] { return window.isNull(); }, 2000));
}

TEST_F(WindowTest, ADamagedFileShowsItsAlertAndOkClosesTheDocument) {
    const std::string path = dir.file("damaged.wav");
    { std::ofstream(path, std::ios::binary) << "RIFF\x10\0\0\0WAVEfmt this is not a sound file at all"; }
    Ref<ZQAudioFileDocument> doc;
    platform::Ref<platform::Error> error;
    Captured messages = capture([&] {
        ASSERT_TRUE(ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(path, &error));
        ASSERT_TRUE(waitUntil(
            [&] {
                doc = documentFor(path);
                ZQWaveformDisplayController* c = display(doc.get());
                return c && c->window() && c->window()->findChild<QMessageBox*>() &&
                       c->window()->findChild<QMessageBox*>()->isVisible();
            },
            10000));
    });
    ZQDocumentWindow* window = display(doc.get())->window();
    auto* alert = window->findChild<QMessageBox*>();
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert->text(), "The audio file could not be opened.");
    EXPECT_EQ(
        alert->informativeText(),
        QString("The file '%1' may be an unreadable format or possibly damaged.").arg(QString::fromStdString(path)));
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(QString(alert->buttons()[0]->text()).remove(u'&'), "Ok");
    QPointer<ZQDocumentWindow> gone = window;
    QTest::mouseClick(alert->buttons()[0], Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return gone.isNull(); }, 3000));
    EXPECT_FALSE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));
    EXPECT_NE(messages.err.find("Failed to read audio file"), std::string::npos);
}
