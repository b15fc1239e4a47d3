// The controls with real widgets and real events: frames and masks, the split
// view's stacking, the scroller's fine mapping, the zoom box's drags, the
// transport button acting on the press, the readouts' texts.
#include "controls/Frames.h"
#include "controls/NumericDisplays.h"
#include "controls/ZQSimpleHorzontalSplitView.h"
#include "controls/ZQTransportButton.h"
#include "controls/ZQWaveformDisplayScroller.h"
#include "controls/ZQWaveformDisplayZoomBox.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace ZQ;

namespace {

Frame placed(const QWidget* w) {
    const QRect g = w->geometry();
    return {double(g.x()), double(w->parentWidget()->height() - g.y() - g.height()), double(g.width()),
            double(g.height())};
}

} // namespace

TEST(Frames, ChildrenFollowTheirParentAsTheirMasksSay) {
    QWidget parent;
    parent.resize(400, 300);
    struct Case {
        Frame frame;
        unsigned mask;
        Frame at600x400;
    } cases[] = {
        // The content box: width and height follow.
        {{4, 36, 392, 264}, kWidthSizable | kHeightSizable, {4, 36, 592, 364}},
        // The readouts: flexible right and top margins keep them in the bottom left.
        {{336, 18, 60, 16}, kMaxXMargin | kMaxYMargin, {336, 18, 60, 16}},
        // The scroller: width and top margin.
        {{0, 8, 400, 12}, kWidthSizable | kMaxYMargin, {0, 8, 600, 12}},
        // The zoom label: left and bottom margins, so it stays top right.
        {{340, 286, 60, 14}, kMinXMargin | kMinYMargin, {540, 386, 60, 14}},
        // The last-sample label: the left margin, so it stays at the right edge.
        {{340, -1, 60, 14}, kMinXMargin, {540, -1, 60, 14}},
        // Nothing flexible: where it was, from the bottom left.
        {{10, 10, 50, 50}, kNotSizable, {10, 10, 50, 50}},
        // Both margins: the change is shared in proportion (100 : 200).
        {{100, 0, 100, 300}, kMinXMargin | kMaxXMargin | kHeightSizable, {166.6667, 0, 100, 400}},
    };
    std::vector<QWidget*> children;
    for (const Case& c : cases) {
        auto* w = new QWidget(&parent);
        placeChild(w, c.frame, c.mask);
        children.push_back(w);
        EXPECT_EQ(placed(w).y, std::round(c.frame.y)) << c.mask; // converted to Qt's top-left once
        EXPECT_EQ(frameOf(w), c.frame);
    }
    parent.resize(600, 400);
    QCoreApplication::sendPostedEvents();
    parent.show();
    for (std::size_t i = 0; i < children.size(); ++i) {
        const Frame f = frameOf(children[i]);
        EXPECT_NEAR(f.x, cases[i].at600x400.x, 1e-3) << i;
        EXPECT_NEAR(f.y, cases[i].at600x400.y, 1e-3) << i;
        EXPECT_NEAR(f.width, cases[i].at600x400.width, 1e-3) << i;
        EXPECT_NEAR(f.height, cases[i].at600x400.height, 1e-3) << i;
        const Frame g = placed(children[i]);
        EXPECT_NEAR(g.x, std::round(f.x), 1) << i;
        EXPECT_NEAR(g.y, std::round(f.y), 1) << i;
    }
    // And back: nothing drifts.
    parent.resize(400, 300);
    QCoreApplication::sendPostedEvents();
    for (std::size_t i = 0; i < children.size(); ++i)
        EXPECT_NEAR(frameOf(children[i]).x, cases[i].frame.x, 1e-9) << i;
}

TEST(SplitView, StacksSubviewsFromTheTopWithFixedGaps) {
    QWidget parent;
    parent.resize(300, 220);
    auto* split = new ZQSimpleHorzontalSplitView(&parent);
    placeChild(split, {0, 20, 300, 200}, kWidthSizable | kHeightSizable);
    split->setDividerThickness(20);
    EXPECT_EQ(split->dividerThickness(), 8);
    split->setDividerThickness(2);
    split->resizeSubviews();
    EXPECT_TRUE(split->isHidden()); // nothing to stack
    auto* a = new QWidget;
    auto* b = new QWidget;
    split->addSubview(a);
    split->addSubview(b);
    split->resizeSubviews();
    EXPECT_FALSE(split->isHidden());
    EXPECT_EQ(frameOf(a), (Frame{0, 101, 300, 99}));
    EXPECT_EQ(frameOf(b), (Frame{0, 0, 300, 99}));
    EXPECT_EQ(a->geometry(), QRect(0, 0, 300, 99));
    EXPECT_EQ(b->geometry(), QRect(0, 101, 300, 99));
    // Three in 100 with gaps of 2: 32 each, unrounded.
    auto* c = new QWidget;
    split->addSubview(c);
    parent.resize(300, 120);
    QCoreApplication::sendPostedEvents();
    split->resizeSubviews();
    EXPECT_EQ(frameOf(a).height, 32.0);
    EXPECT_EQ(frameOf(c).y, 0.0);
    // A divider colour that is opaque makes the drawn split view opaque.
    split->setDrawsDivider(true);
    EXPECT_TRUE(split->isOpaque());
    split->setDividerColor(QColor(10, 10, 10, 100));
    EXPECT_FALSE(split->isOpaque());
}

TEST(Scroller, MapsItsValueFinelyAndCallsItsActionOnlyForTheUser) {
    ZQWaveformDisplayScroller s(nullptr);
    int calls = 0;
    s.setAction([&](ZQWaveformDisplayScroller*) { ++calls; });
    s.setKnobProportion(1e-5); // an hour of audio zoomed to a few samples
    s.setDoubleValue(0.5);
    EXPECT_EQ(calls, 0);
    EXPECT_DOUBLE_EQ(s.doubleValue(), 0.5);
    const int middle = s.value();
    s.setValue(middle + 1); // the smallest step a user can make
    EXPECT_EQ(calls, 1);
    EXPECT_GT(s.doubleValue(), 0.5);
    EXPECT_LT(s.doubleValue(), 0.5 + 1e-6);
    s.setKnobProportion(1.0);
    EXPECT_EQ(s.maximum(), 0); // nothing to scroll
    EXPECT_EQ(calls, 1);
}

namespace {
struct ZoomTarget final : ZQZoomBoxController {
    double h = 0.5, v = 1.0;
    int zoomedOut = 0;
    std::vector<unsigned> scrolls;
    double horizontalZoom() override { return h; }
    double verticalZoom() override { return v; }
    void zoomOutEntirely() override { ++zoomedOut; }
    void scrollAction(unsigned part, bool) override { scrolls.push_back(part); }
    void setHorizontalZoom(double zoom, bool) override { h = zoom; }
    void setVerticalZoom(double zoom, bool) override { v = zoom; }
};
} // namespace

TEST(ZoomBox, DragsZoomBeyondTheDeadZoneAndScrollSideways) {
    ZoomTarget target;
    ZQWaveformDisplayZoomBox box(nullptr);
    box.setController(&target);
    using T = ZQWaveformDisplayZoomBox::EventType;
    // 100 points up: inside the dead zone, nothing.
    box.zoomWaveform(T::LeftMouseDown, {}, 50, 500);
    box.zoomWaveform(T::LeftMouseDragged, {}, 50, 600);
    EXPECT_DOUBLE_EQ(target.h, 0.5);
    // 200 points up: the press value + 200 x 0.00125.
    box.zoomWaveform(T::LeftMouseDragged, {}, 50, 700);
    EXPECT_DOUBLE_EQ(target.h, 0.75);
    // Once past it, the whole distance counts, also back inside it.
    box.zoomWaveform(T::LeftMouseDragged, {}, 50, 550);
    EXPECT_DOUBLE_EQ(target.h, 0.5625);
    // With the fine modifier: 1/32 of that.
    box.zoomWaveform(T::LeftMouseDragged, Qt::MetaModifier, 50, 700);
    EXPECT_DOUBLE_EQ(target.h, 0.5 + 200 * 0.03125 * 0.00125);
    // Sideways: one scroll step per event, in its direction, whatever its size.
    box.zoomWaveform(T::LeftMouseDragged, {}, 51, 500);
    box.zoomWaveform(T::LeftMouseDragged, {}, 300, 500);
    box.zoomWaveform(T::LeftMouseDragged, {}, 299, 500);
    EXPECT_EQ(target.scrolls, (std::vector<unsigned>{5, 5, 4}));
    box.zoomWaveform(T::LeftMouseUp, {}, 299, 500);
    // After the release nothing is tracked.
    box.zoomWaveform(T::LeftMouseDragged, {}, 10, 900);
    EXPECT_EQ(target.scrolls.size(), 3u);
    EXPECT_EQ(box.trackingX(), ZQWaveformDisplayZoomBox::kUntracked);
    // Alt-press zooms out entirely; with real mouse events too.
    QTest::mousePress(&box, Qt::LeftButton, Qt::AltModifier, QPoint(5, 5));
    EXPECT_EQ(target.zoomedOut, 1);
    QTest::mouseRelease(&box, Qt::LeftButton, Qt::AltModifier, QPoint(5, 5));
}

TEST(TransportButton, ActsOnThePressAndShowsOnlyTheStateItIsGiven) {
    QWidget parent;
    auto* b = new ZQTransportButton("Play", &parent);
    int actions = 0;
    b->setAction([&](ZQTransportButton*) { ++actions; });
    parent.show();
    QTest::mousePress(b, Qt::LeftButton);
    EXPECT_EQ(actions, 1); // before the release
    QTest::mouseRelease(b, Qt::LeftButton);
    EXPECT_EQ(actions, 1);
    EXPECT_FALSE(b->state()); // a click does not switch it on
    b->setState(true);
    QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_TRUE(b->state());
    b->setEnabled(false);
    QTest::mousePress(b, Qt::LeftButton);
    EXPECT_EQ(actions, 2);
}

TEST(NumericDisplays, ShowTimesAndSampleCountsByTheirRules) {
    ZQHMSDisplay time(nullptr);
    EXPECT_EQ(time.text(), "--:--:--.---");
    ZQ::HMSTime invalid;
    time.setHMSValue(&invalid);
    EXPECT_EQ(time.text(), "00:00:00.000");
    time.setPrefix("T ");
    const ZQ::HMSTime almostTwo(ZQ::sample_rate(44100), ZQ::Num::Count(2 * 44100 - 1));
    time.setHMSValue(&almostTwo);
    EXPECT_EQ(time.text(), "T 00:00:01.999");
    EXPECT_EQ(time.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_TRUE(time.font().bold());

    ZQSampleCountDisplay count(nullptr);
    EXPECT_EQ(count.text(), "--/--");
    const ZQ::Num::SampleRange one(ZQ::Num::Count(7ull), ZQ::Num::Count(7ull));
    count.setRange(&one);
    EXPECT_EQ(count.text(), "--/--");
    count.setAllowsZeroLengthRange(true);
    count.setPrefix("[");
    count.setSuffix("]");
    EXPECT_EQ(count.text(), "[7]");
    const ZQ::Num::SampleRange span(ZQ::Num::Count(3ull), ZQ::Num::Count(90ull));
    count.setRange(&span);
    EXPECT_EQ(count.text(), "[3/90]");
    const ZQ::Num::SampleRange inverted(ZQ::Num::Count(9ull), ZQ::Num::Count(2ull));
    count.setRange(&inverted);
    EXPECT_EQ(count.text(), "--/--");
}
