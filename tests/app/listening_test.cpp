// Listening closely, as a user does it: a selection dragged with the mouse,
// Shift+Space to play it, L for Loop, Space to stop; the meters in the
// window while it plays, and a click on them to clear the clip lamps.
#include "AppFixture.h"
#include "playback/AudioFileDocumentOutputSource.h"
#include "playback/LevelMeter.h"
#include "playback/OutputStream.h"
#include "support/PlaybackCapture.h"

#include <QSettings>
#include <cmath>

using namespace testsupport;
using platform::Ref;

namespace {

class ListeningTest : public AppTest {
protected:
    void TearDown() override {
        ZQApplicationMenus::setLoops(false);
        AppTest::TearDown();
        unsetenv("ZQ_AUDIO_OUTPUT");
    }
};

// A 1 kHz sine at half scale (-6 dBFS) on the left, its frame number (over
// 2^20) on the right: loud enough to meter, and every frame tells its place.
double sineAndCount(int c, long k, int rate) {
    return c == 0 ? 0.5 * std::sin(2 * 3.14159265358979323846 * 1000.0 * double(k) / rate)
                  : static_cast<double>(k + 1) / 1048576.0;
}

// The column of a bar's colour at `x` in the meter's pixels: lit (a zone
// colour) or the trough.
bool lit(const QImage& image, const QRect& bar, double x) {
    const QRgb p = image.pixel(static_cast<int>(x), bar.center().y());
    return !sameColour(p, 40, 40, 40, 4);
}

} // namespace

TEST_F(ListeningTest, ShiftSpacePlaysTheDraggedSelectionAndWithLoopRepeatsItSeamlesslyUntilSpace) {
    const int rate = 31013; // a stream, and so a capture file, of its own
    const std::string capture = dir.file("listened.wav");
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + capture).c_str(), 1);
    const long frames = 4L * rate;
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "phrase.wav", 2, frames, [rate](int c, long k) { return sineAndCount(c, k, rate); }, rate));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 1000, 400);
    // A phrase marked with the mouse: about a tenth of the file.
    ZQWaveform* view = c->waveform(0);
    dragAcross(view, view->width() / 2, view->width() / 2 + view->width() / 10);
    const ZQ::SampleSelection s = view->selection();
    ASSERT_GT(s.max_.v_, s.min_.v_);
    // Loop on with L: for every document, and kept.
    EXPECT_FALSE(item(w, "loop")->isChecked());
    QTest::keyClick(w, Qt::Key_L);
    EXPECT_TRUE(ZQ::AudioFileDocumentOutputSource::loopsEverywhere());
    EXPECT_TRUE(QSettings().value(ZQApplicationMenus::kLoopKey).toBool());
    QMetaObject::invokeMethod(item(w, "loop")->parent(), "aboutToShow");
    EXPECT_TRUE(item(w, "loop")->isChecked());

    EXPECT_TRUE(item(w, "playSelection")->isEnabled());
    QTest::keyClick(w, Qt::Key_Space, Qt::ShiftModifier);
    ZQAudioFileDocumentTransportCommandReceiver* r = doc->audioFileDocumentTransportCommandReceiver();
    ASSERT_TRUE(waitUntil([&] { return r->isPlaying(); }, 2000));
    ZQ::AudioFileDocumentOutputSource* source = doc->outputSourceController()->audioFileDocumentOutputSource();
    ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= 2; }, 20000));
    // The play position stays inside the selection, pass after pass.
    const std::uint64_t at = doc->presentPlaybackPosition();
    EXPECT_GE(at, s.min_.v_);
    EXPECT_LE(at, s.max_.v_ + 1);

    // The meters, in the window, while it plays: the left bar lit up to
    // about -9 dBFS (the sine's RMS) and no further than its peak.
    ZQLevelMeter* meter = c->levelMeter();
    ASSERT_NE(meter, nullptr);
    ASSERT_TRUE(meter->isVisible());
    ASSERT_TRUE(waitUntil([&] { return meter->rmsDb(0) > -12.0; }, 3000)) << meter->rmsDb(0);
    EXPECT_NEAR(meter->rmsDb(0), -9.0, 0.5);
    EXPECT_NEAR(meter->peakDb(0), -6.0, 0.5);
    QImage shot = meter->grab().toImage();
    const QRect left = meter->barRect(0);
    EXPECT_TRUE(lit(shot, left, meter->xForDb(-30.0)));
    EXPECT_TRUE(lit(shot, left, meter->xForDb(-10.0)));
    EXPECT_FALSE(lit(shot, left, meter->xForDb(-3.0)));
    // The meters sit clear of the readouts, in the bottom strip.
    EXPECT_GE(meter->x(), 722);
    EXPECT_GE(meter->geometry().top(), w->contentView()->height() - 36);

    // Space stops it: what was heard is the selection, pass after pass,
    // each seam exact (no gap, no fade, no extra frame).
    QTest::keyClick(w, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return !r->isPlaying(); }, 3000));
    ASSERT_TRUE(waitUntil([&] { return !meter->isVisible() || meter->rmsDb(0) == ZQLevelMeter::kFloorDb; }, 3000));
    shot = meter->grab().toImage();
    EXPECT_FALSE(lit(shot, left, meter->xForDb(-30.0))) << "a stopped document's meter at rest";
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(2ull));
    ASSERT_TRUE(stream->waitUntilPlayed(5));
    const PlayedSound heard = readCapture(capture);
    ASSERT_EQ(heard.channels, 2);
    std::size_t i = 0;
    while (i < heard.frames() && heard.at(i, 1) == 0.0f)
        ++i;
    const long length = static_cast<long>(s.max_.v_ - s.min_.v_ + 1);
    for (long pass = 0; pass < 2; ++pass)
        for (long k = 0; k < length; ++k, ++i) {
            ASSERT_LT(i, heard.frames());
            ASSERT_EQ(heard.at(i, 1), static_cast<float>(double(s.min_.v_ + k + 1) / 1048576.0))
                << "pass " << pass << ", frame " << k;
        }
    // L again: Loop off, and kept off.
    QTest::keyClick(w, Qt::Key_L);
    EXPECT_FALSE(ZQ::AudioFileDocumentOutputSource::loopsEverywhere());
    EXPECT_FALSE(QSettings().value(ZQApplicationMenus::kLoopKey).toBool());
}

TEST_F(ListeningTest, AFullScaleSampleLightsTheLampInTheWindowUntilItIsClicked) {
    const int rate = 31021;
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "clip.wav", 1, rate / 2, [](int, long k) { return k == 1000 ? 1.0 : 0.25; }, rate));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 1000, 400);
    ZQLevelMeter* meter = c->levelMeter();
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(meter->channelCount(), 1); // a mono file: one meter
    EXPECT_FALSE(meter->isClipLit(0));
    QTest::keyClick(w, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return meter->isClipLit(0); }, 5000));
    const QRect lamp = meter->lampRect(0);
    ASSERT_TRUE(waitUntil([&] { return !doc->audioFileDocumentTransportCommandReceiver()->isPlaying(); }, 5000));
    // Still lit after the sound has ended: red.
    QCoreApplication::processEvents();
    QRgb p = meter->grab().toImage().pixel(lamp.center());
    EXPECT_GT(qRed(p), 200);
    EXPECT_LT(qGreen(p), 80);
    QTest::mouseClick(meter, Qt::LeftButton, {}, lamp.center());
    EXPECT_FALSE(meter->isClipLit(0));
    EXPECT_FALSE(doc->outputSourceController()->levelMeter()->clipped(0));
    p = meter->grab().toImage().pixel(lamp.center());
    EXPECT_LT(qRed(p), 150);
    // A narrow window has no room beside the readouts: the meter steps aside.
    resizeContent(c, 620, 300);
    EXPECT_FALSE(meter->isVisible());
    resizeContent(c, 1000, 400);
    EXPECT_TRUE(meter->isVisible());
}

TEST_F(ListeningTest, FollowPlaybackPagesBackToTheSelectionStartAtEverySeam) {
    const int rate = 31039;
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    const long frames = 4L * rate;
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "follow.wav", 1, frames, [rate](int c, long k) { return sineAndCount(c, k, rate); }, rate));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 1000, 400);
    ZQWaveformDisplayController::setFollowsPlayback(true);
    // A selection of 1.5 s in a view of about a quarter of a second.
    const std::uint64_t first = rate, last = rate + 3 * rate / 2;
    for (int i = 0; i < c->waveformCount(); ++i)
        c->waveform(i)->setSelection({ZQ::Num::Count(first), ZQ::Num::Count(last)});
    c->setHorizontalZoom(0.0625, true);
    c->scrollToFirstSample(double(first));
    const auto visible = [c] { return c->visibleSampleRange(); };
    ASSERT_TRUE(waitUntil([&] { return visible().max_.v_ - visible().min_.v_ < static_cast<std::uint64_t>(rate / 2); }))
        << visible().max_.v_ - visible().min_.v_;
    ZQApplicationMenus::setLoops(true);
    QTest::keyClick(w, Qt::Key_Space, Qt::ShiftModifier);
    ZQ::AudioFileDocumentOutputSource* source = doc->outputSourceController()->audioFileDocumentOutputSource();
    // Paged forward while the pass goes on...
    ASSERT_TRUE(waitUntil([&] { return visible().min_.v_ > first + rate / 2; }, 5000));
    // ...and back to the selection's start after the seam.
    ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= 1; }, 5000));
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::uint64_t at = doc->presentPlaybackPosition();
            return at < first + rate / 2 && visible().min_.v_ <= at && at <= visible().max_.v_ &&
                   visible().min_.v_ < first + rate / 2;
        },
        5000))
        << visible().min_.v_ << " - " << visible().max_.v_ << " at " << doc->presentPlaybackPosition();
    QTest::keyClick(w, Qt::Key_Space);
}
