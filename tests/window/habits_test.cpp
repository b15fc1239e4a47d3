// The mouse habits of audio tools, through real events on the real window:
// the wheel scrolls, Ctrl with the wheel zooms around the pointer, a click
// puts the play position at the clicked sample, and a playing document's
// views page to keep the play position in sight.
#include "controls/ZQTransportButton.h"
#include "window/WindowFixture.h"

#include <QWheelEvent>

using namespace testsupport;
using platform::Ref;

namespace {

class HabitsTest : public WindowTest {
protected:
    void TearDown() override {
        ZQWaveformDisplayController::setFollowsPlayback(true);
        unsetenv("ZQ_AUDIO_OUTPUT");
        WindowTest::TearDown();
    }
    static void wheel(QWidget* view, QPointF at, QPoint pixels, QPoint angle, Qt::KeyboardModifiers modifiers = {}) {
        QWheelEvent event(at, view->mapToGlobal(at), pixels, angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view, &event);
        QCoreApplication::processEvents();
    }
    static std::uint64_t first(ZQWaveform* v) { return v->visibleRange().min_.v_; }
    static std::uint64_t visible(ZQWaveform* v) { return v->visibleRange().max_.v_ - v->visibleRange().min_.v_ + 1; }
    Ref<ZQAudioFileDocument> tenSeconds() { return open(floatFile("ten.wav", 1, 10 * 8000, fixtureSample, 8000)); }
};

} // namespace

TEST_F(HabitsTest, TheWheelScrollsAndCtrlWithTheWheelZoomsAroundThePointer) {
    Ref<ZQAudioFileDocument> doc = tenSeconds();
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    ASSERT_NE(v, nullptr);
    const QPointF middle(v->width() / 2.0, v->height() / 2.0);

    // Zoomed in about the pointer a quarter of the way across: the sample
    // under it stays under it, notch after notch.
    const QPointF quarter(v->width() / 4.0, v->height() / 2.0);
    for (int notch = 0; notch < 6; ++notch) {
        const std::uint64_t before = v->convertEventCoordinatesToSampleIndex(quarter);
        const std::uint64_t shownBefore = visible(v);
        wheel(v, quarter, {}, {0, 120}, Qt::ControlModifier);
        EXPECT_LT(visible(v), shownBefore) << "notch " << notch;
        const double perColumn = double(visible(v)) / v->width();
        EXPECT_NEAR(double(v->convertEventCoordinatesToSampleIndex(quarter)), double(before), 2 * perColumn + 2)
            << "notch " << notch;
    }
    ASSERT_GT(first(v), 0u);

    // A notch down moves forward a tenth of the view, a notch up comes back.
    const std::uint64_t start = first(v), shown = visible(v);
    wheel(v, middle, {}, {0, -120});
    EXPECT_NEAR(double(first(v)), double(start + shown / 10), shown / 100.0 + 2);
    wheel(v, middle, {}, {0, 120});
    EXPECT_NEAR(double(first(v)), double(start), shown / 100.0 + 2);
    // A trackpad's pixels scroll by as many columns.
    wheel(v, middle, {0, -40}, {0, -120});
    EXPECT_NEAR(double(first(v)), double(start) + 40.0 * shown / v->width(), shown / 100.0 + 2);
    // The scroller follows the views.
    EXPECT_GT(c->horizontalScrollValue(), 0.0);

    // Ctrl and the wheel the other way zooms back out, to the whole file at most.
    for (int notch = 0; notch < 40; ++notch)
        wheel(v, quarter, {}, {0, -120}, Qt::ControlModifier);
    EXPECT_EQ(first(v), 0u);
    EXPECT_EQ(visible(v), 80000u);
}

TEST_F(HabitsTest, AClickPutsThePlayPositionThereAndADragDoesNot) {
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    Ref<ZQAudioFileDocument> doc = tenSeconds();
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    const QPoint at(v->width() * 3 / 5, v->height() / 2);
    const std::uint64_t sample = v->convertEventCoordinatesToSampleIndex(QPointF(at));
    QTest::mouseClick(v, Qt::LeftButton, {}, at);
    EXPECT_EQ(doc->presentPlaybackPosition(), sample);
    EXPECT_EQ(c->sampleCountDisplay()->text(), QString("%1/80000").arg(sample));
    // The selection gesture is unchanged: a click selects the one position.
    EXPECT_EQ(v->selectionLength(), 0u);

    // A drag selects and leaves the play position alone.
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(50, at.y()));
    QTest::mouseMove(v, QPoint(300, at.y()));
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(300, at.y()));
    EXPECT_GT(v->selectionLength(), 0u);
    EXPECT_EQ(doc->presentPlaybackPosition(), sample);

    // Play starts at the clicked sample; a click while playing moves playing there.
    ZQTransportButton* play = bar(doc.get())->widget(TransportButton::Play);
    QTest::mousePress(play, Qt::LeftButton);
    QTest::mouseRelease(play, Qt::LeftButton);
    ASSERT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    EXPECT_GE(doc->presentPlaybackPosition(), sample);
    const std::uint64_t early = v->convertEventCoordinatesToSampleIndex(QPointF(10, at.y()));
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(10, at.y()));
    EXPECT_GE(doc->presentPlaybackPosition(), early);
    EXPECT_LT(doc->presentPlaybackPosition(), early + 8000); // under a second later
    EXPECT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
}

TEST_F(HabitsTest, WhilePlayingTheViewsPageToKeepThePlayPositionInSight) {
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    Ref<ZQAudioFileDocument> doc = tenSeconds();
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 300);
    ZQWaveform* v = c->waveform(0);
    // Half a second in view, the play position near its right edge.
    c->setHorizontalZoom(0.05, true);
    c->zoomSettingsHaveChanged();
    spinFor(50); // the views take their new range when they next draw
    ASSERT_LT(visible(v), 5000u);
    const std::uint64_t start = first(v);
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(v->width() - 20, v->height() / 2));
    ZQTransportButton* play = bar(doc.get())->widget(TransportButton::Play);
    QTest::mousePress(play, Qt::LeftButton);
    QTest::mouseRelease(play, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return first(v) > start; }, 5000)) << "the view did not page";
    const std::uint64_t at = doc->presentPlaybackPosition();
    EXPECT_LE(first(v), at + 800); // the position in sight, within a tick's travel
    EXPECT_LE(at, v->visibleRange().max_.v_ + 800);
    QTest::keyClick(c->window(), Qt::Key_Space);

    // Switched off, the view stays where it is.
    ZQWaveformDisplayController::setFollowsPlayback(false);
    const std::uint64_t fixed = first(v);
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(v->width() - 20, v->height() / 2));
    QTest::mousePress(play, Qt::LeftButton);
    QTest::mouseRelease(play, Qt::LeftButton);
    const std::uint64_t from = doc->presentPlaybackPosition();
    ASSERT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() > from + visible(v); }, 5000));
    EXPECT_EQ(first(v), fixed);
}
