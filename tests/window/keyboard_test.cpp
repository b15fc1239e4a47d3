// The window from the keyboard alone, and the faults a new user met: the
// play position after a removed range, an emptied document, channels fitted
// into a small window, the scale on views of one height, solid traces, the
// readouts at the narrowest window, labels and marker lines on the ruler.
#include "WindowFixture.h"
#include "app/ZQApplicationMenus.h"
#include "audiofile/Markers.h"
#include "controls/ZQTransportButton.h"
#include "window/ViewPreferences.h"

#include <QAction>
#include <QLabel>
#include <QScrollBar>
#include <QToolButton>
#include <cmath>

using namespace testsupport;
using platform::Ref;

namespace {

double sine(int, long k) {
    return 0.8 * std::sin(k * 2 * M_PI / 441.0);
}

QAction* item(QWidget* window, const char* name) {
    return window->findChild<QAction*>(QString::fromUtf8(name));
}

void refreshMenus() {
    ZQApplicationMenus::shared().refresh();
    QCoreApplication::processEvents();
}

// Whether two widgets' rectangles (in their common parent) overlap.
bool overlap(const QWidget* a, const QWidget* b) {
    return a && b && a->isVisible() && b->isVisible() && a->geometry().intersects(b->geometry());
}

} // namespace

TEST_F(WindowTest, OpenSelectZoomPlayAndCloseFromTheKeyboardAlone) {
    const std::string capture = dir.file("played.wav");
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + capture).c_str(), 1);
    Ref<ZQAudioFileDocument> doc = open(floatFile("keys.wav", 2, 44100 * 4, sine));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 800, 400);
    ZQDocumentWindow* w = c->window();
    ZQWaveform* first = c->waveform(0);

    // Tab reaches the channels, then goes through the scroller, the zoom and
    // the transport bar, each showing it has the keys.
    c->horizontalScrollScroller()->setFocus(Qt::OtherFocusReason); // the window may have put it on a view
    for (int i = 0; i < 16 && QApplication::focusWidget() != first; ++i)
        QTest::keyClick(w, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), first);
    const QImage focused = first->grab().toImage();
    QTest::keyClick(w, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), c->waveform(1));
    const QImage unfocused = first->grab().toImage();
    int marked = 0; // the focus mark along the top edge, gone with the focus
    for (int x = 0; x < first->width(); ++x)
        marked += focused.pixel(x, 0) != unfocused.pixel(x, 0);
    EXPECT_GT(marked, first->width() / 4);
    QTest::keyClick(w, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), c->horizontalScrollScroller());
    QTest::keyClick(w, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), c->horizontalZoomSlider())
        << QApplication::focusWidget()->metaObject()->className();
    QTest::keyClick(w, Qt::Key_Tab);
    EXPECT_TRUE(dynamic_cast<ZQTransportButton*>(QApplication::focusWidget())) << "the transport bar";
    QTest::keyClick(w, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), c->horizontalZoomSlider());

    // Shift+Right selects a column's frames a press, from the edit point.
    c->windowState().setSelection({ZQ::Num::Count(44100ull), ZQ::Num::Count(44100ull)});
    const std::uint64_t step = std::uint64_t(std::ceil(first->shownGeometry().framesPerColumn()));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(w, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(first->selection().min_.v_, 44100u);
    EXPECT_EQ(first->selection().max_.v_, 44100u + 3 * step);
    EXPECT_EQ(c->waveform(1)->selection(), first->selection()); // one selection for the window
    QTest::keyClick(w, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(first->selection().max_.v_, 44100u + 2 * step);
    QTest::keyClick(w, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(first->selection().min_.v_, 0u);
    EXPECT_EQ(first->selection().max_.v_, 44100u);
    QTest::keyClick(w, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(first->selection().min_.v_, 44100u);
    EXPECT_EQ(first->selection().max_.v_, 44100u * 4 - 1);

    // Ctrl+E shows just the selection.
    refreshMenus();
    QTest::keyClick(w, Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return c->showsEveryColumn() && first->visibleRange().min_.v_ > 40000; }, 3000));
    EXPECT_NEAR(double(first->visibleRange().min_.v_), 44100, 50);
    EXPECT_NEAR(double(first->visibleRange().max_.v_), 44100 * 4 - 1, 50);

    // Space plays and stops; Ctrl+W closes the unchanged document.
    QTest::keyClick(w, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() > 1000; }, 3000));
    QTest::keyClick(w, Qt::Key_Space);
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    QPointer<ZQDocumentWindow> gone = w;
    QTest::keyClick(w, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil([&] { return gone.isNull(); }, 3000));
    EXPECT_FALSE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));
}

TEST_F(WindowTest, DeleteMovesThePlayPositionAndAnEmptiedDocumentShowsNothingToRun) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("short.wav", 1, 48000, sine));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 700, 300);
    ZQDocumentWindow* w = c->window();
    doc->locatePlaybackPosition(30000);
    c->selectFrames(20000, 39999);
    refreshMenus();
    QTest::keyClick(w, Qt::Key_Delete);
    EXPECT_EQ(doc->sampleCount(0).v_, 28000u);
    EXPECT_EQ(doc->presentPlaybackPosition(), 20000u); // the edit point, not other audio
    ASSERT_TRUE(waitUntil([&] { return c->waveform(0)->playheadView()->column() >= 0; }, 2000));
    EXPECT_EQ(c->waveform(0)->playheadView()->column(), c->waveform(0)->drawnGeometry().column(20000));
    doc->undo(nullptr);
    EXPECT_EQ(doc->presentPlaybackPosition(), 30000u);

    // Select All, Delete: nothing left to show, play, zoom or select.
    refreshMenus();
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    refreshMenus();
    QTest::keyClick(w, Qt::Key_Delete);
    ASSERT_EQ(doc->sampleCount(0).v_, 0u);
    ASSERT_TRUE(waitUntil([&] { return !c->waveform(0)->needsTraces(); }, 2000));
    ZQWaveform* v = c->waveform(0);
    v->repaint();
    EXPECT_FALSE(v->firstVisibleOverlay()->isVisible());
    EXPECT_FALSE(v->lastVisibleOverlay()->isVisible());
    EXPECT_FALSE(v->vZoomOverlay()->isVisible());
    EXPECT_TRUE(v->drawnScaleMarks().empty());
    refreshMenus();
    for (const char* name : {"play", "pause", "stop", "zoomIn", "amplitudeIn", "selectAll", "cut"})
        EXPECT_FALSE(item(w, name) && item(w, name)->isEnabled()) << name;
    // Undo brings it all back.
    doc->undo(nullptr);
    refreshMenus();
    EXPECT_TRUE(item(w, "play")->isEnabled());
    EXPECT_TRUE(waitUntil([&] { return v->lastVisibleOverlay()->text() == QString::number(47999); }, 2000));
}

TEST_F(WindowTest, FittedChannelsKeepNamesAndTogglesAndEveryViewShowsTheSameScale) {
    ZQ::ViewPreferences::setFitsChannels(true);
    struct Restore {
        ~Restore() { ZQ::ViewPreferences::setFitsChannels(false); }
    } restore;
    Ref<ZQAudioFileDocument> sixteen = open(floatFile("sixteen.wav", 16, 20000, sine));
    ZQWaveformDisplayController* c = display(sixteen.get());
    resizeContent(c, 700, 300); // each view some 15 pixels high
    spinFor(50);
    for (int i = 0; i < 16; ++i) {
        ZQWaveform* v = c->waveform(i);
        ASSERT_LT(v->height(), 2 * 13 + 4) << "a compact view";
        EXPECT_TRUE(v->channelNameOverlay()->isVisible()) << i;
        EXPECT_TRUE(v->muteToggle()->isVisible()) << i;
        EXPECT_TRUE(v->soloToggle()->isVisible()) << i;
        EXPECT_FALSE(overlap(v->channelNameOverlay(), v->muteToggle())) << i;
        EXPECT_FALSE(overlap(v->muteToggle(), v->soloToggle())) << i;
        EXPECT_LE(v->soloToggle()->geometry().bottom(), v->height()) << i;
    }
    sixteen->close();

    // Six channels share the height a pixel or so apart: all show the scale, or none.
    Ref<ZQAudioFileDocument> six = open(floatFile("six.wav", 6, 20000, sine));
    ZQWaveformDisplayController* s = display(six.get());
    for (int height : {400, 420, 437, 460}) {
        resizeContent(s, 700, height);
        ASSERT_TRUE(waitUntil([&] { return s->showsEveryColumn(); }, 2000));
        for (int i = 0; i < 6; ++i)
            s->waveform(i)->repaint();
        const bool shown = !s->waveform(0)->drawnScaleMarks().empty();
        for (int i = 1; i < 6; ++i)
            EXPECT_EQ(!s->waveform(i)->drawnScaleMarks().empty(), shown) << height << " view " << i;
    }
}

TEST_F(WindowTest, ASteadyToneIsASolidBandAtSixteenFramesAColumn) {
    // 16.3 frames a column, under two cycles each: every column reaches both
    // rails, none is left out, and each meets its neighbours.
    const long frames = 16300;
    Ref<ZQAudioFileDocument> doc =
        open(floatFile("band.wav", 1, frames, [](int, long k) { return 0.9 * std::sin(k * 2 * M_PI / 8.82); }));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 1008, 300);
    ZQWaveform* v = c->waveform(0);
    ASSERT_TRUE(waitUntil([&] { return c->showsEveryColumn(); }, 2000));
    const QImage image = v->grab().toImage();
    const QRgb trace = image.pixel(image.width() / 2, image.height() / 2 - 20);
    // Every column has one unbroken run of trace pixels, touching the next column's.
    int prevTop = -1, prevBottom = -1;
    for (int x = 60; x < image.width() - 60; ++x) {
        int top = -1, bottom = -1;
        for (int y = 0; y < image.height(); ++y)
            if (image.pixel(x, y) == trace) {
                if (top < 0) top = y;
                bottom = y;
            }
        ASSERT_GE(top, 0) << x;
        if (prevTop >= 0) {
            EXPECT_TRUE(top <= prevBottom + 1 && bottom >= prevTop - 1) << "a gap at column " << x;
        }
        prevTop = top;
        prevBottom = bottom;
    }
}

TEST_F(WindowTest, TheReadoutsFitTheNarrowestWindowAndRulerLabelsStayOverMarkerLines) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("narrow.wav", 2, 480000, sine));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 600, 300);
    doc->locatePlaybackPosition(149557);
    c->selectFrames(100000, 300000);
    doc->updateNumericAndHMSDisplays(nullptr);
    spinFor(30);
    const int right = c->window()->contentView()->width();
    for (ZQNumericDisplay* d : {static_cast<ZQNumericDisplay*>(c->sampleCountDisplay()),
                                static_cast<ZQNumericDisplay*>(c->currentSelectionDisplay())}) {
        EXPECT_LE(d->geometry().right(), right) << d->text().toStdString();
        // Whole, or elided with the whole text on hovering: never cut.
        if (d->isElided()) {
            EXPECT_TRUE(d->effectiveToolTip().contains(d->text()));
        }
    }

    // A marker under the ruler's first label: the label is drawn over its line.
    ZQTimeRuler* ruler = c->timeRuler();
    ruler->repaint();
    ASSERT_FALSE(ruler->drawnLabels().empty());
    const ZQ::ChannelGeometry g = c->waveform(0)->shownGeometry();
    const std::uint64_t under = g.frameAtColumn(ruler->drawnLabels().front().center().x());
    doc->setMarkers(ZQ::MarkerList({{under, 0, "m"}}));
    spinFor(30);
    ruler->repaint();
    const QImage image = ruler->grab().toImage();
    const int left = c->waveform(0)->mapTo(c->window(), QPoint(0, 0)).x() - ruler->mapTo(c->window(), QPoint(0, 0)).x();
    const int column = int(g.column(under));
    const int x = left + column;
    // The label as drawn now (the marker lane has moved the scale down).
    QRect label;
    for (const QRect& r : ruler->drawnLabels())
        if (r.left() <= column && column <= r.right()) label = r;
    ASSERT_FALSE(label.isEmpty());
    int orange = 0;
    for (int y = label.top() + 2; y < label.bottom() - 1; ++y)
        orange += qRed(image.pixel(x, y)) > 200 && qBlue(image.pixel(x, y)) < 80;
    EXPECT_EQ(orange, 0) << "the marker line runs through the label";
}
