// The selection a view's mouse gestures make, without the view: presses,
// drags and releases of one click, shift-presses, and the rules for storing.
#include "waveform/WaveformSelection.h"

#include <gtest/gtest.h>

using namespace ZQ;

namespace {

struct Owner : WaveformSelectionOwner {
    int changes = 0;
    void selectionDidChange() override { ++changes; }
};

SampleSelection sel(unsigned long long a, unsigned long long b) {
    return {Num::Count(a), Num::Count(b)};
}

struct Gestures {
    Owner owner;
    WaveformSelectionData data;
    std::int64_t next = 1;
    Gestures() { data.waveform_ = &owner; }
    void press(std::uint64_t i, bool shift = false) {
        data.eventHandler.handle({++next, SelectionEventType::LeftMouseDown, shift, i}, data);
    }
    void drag(std::uint64_t i) {
        data.eventHandler.handle({next, SelectionEventType::LeftMouseDragged, false, i}, data);
    }
    void release(std::uint64_t i) { data.eventHandler.handle({next, SelectionEventType::LeftMouseUp, false, i}, data); }
};

} // namespace

TEST(WaveformSelection, GesturesSelectFromThePressToThePointer) {
    Gestures g;
    g.press(100);
    g.release(100);
    EXPECT_EQ(g.data.selection(), sel(100, 100));
    EXPECT_EQ(g.data.length(), 0u);
    EXPECT_FALSE(g.data.eventHandler.isTracking());

    g.press(500);
    g.drag(200);
    EXPECT_EQ(g.data.selection(), sel(200, 500));
    g.drag(800);
    EXPECT_EQ(g.data.selection(), sel(500, 800));
    g.release(800);
    const int changes = g.owner.changes;
    g.drag(50); // after the release: no gesture is tracked
    EXPECT_EQ(g.data.selection(), sel(500, 800));
    EXPECT_EQ(g.owner.changes, changes);

    // Shift extends the selection from its far end.
    g.data.set(sel(300, 600));
    g.press(100, true);
    g.release(100);
    EXPECT_EQ(g.data.selection(), sel(100, 600));
    g.data.set(sel(300, 600));
    g.press(400, true);
    g.release(400);
    EXPECT_EQ(g.data.selection(), sel(300, 400));
    // Other events change nothing.
    g.data.eventHandler.handle({99, SelectionEventType::Other, false, 5}, g.data);
    EXPECT_EQ(g.data.selection(), sel(300, 400));
}

TEST(WaveformSelection, StoringTellsTheOwnerOnlyOfChanges) {
    Gestures g;
    g.data.set(sel(10, 20));
    EXPECT_EQ(g.owner.changes, 1);
    g.data.set(sel(10, 20)); // the same: nothing
    EXPECT_EQ(g.owner.changes, 1);
    g.data.set(sel(30, 5)); // inverted: nothing stored, but told
    EXPECT_EQ(g.data.selection(), sel(10, 20));
    EXPECT_EQ(g.owner.changes, 2);
    g.data.s_ = sel(9, 3); // an inverted selection reads as [0, 0]
    EXPECT_EQ(g.data.selection(), sel(0, 0));

    WaveformSelectionEventHandler::rev_ r;
    r.r_ = Num::Count(~0ull);
    r.advance();
    EXPECT_EQ(r.r_.v_, 1u); // past its largest value it goes on at 1
}

TEST(WaveformSelection, ColourComponentsAreClampedIntoUnitRange) {
    RGBAlphaComponents c(1.5, -0.2, 0.5, 2.0);
    EXPECT_EQ(c, RGBAlphaComponents(1.0, 0.0, 0.5, 1.0));
    WaveformColors defaults;
    EXPECT_EQ(defaults.backgroundColor, RGBAlphaComponents(0, 0, 0, 1));
    EXPECT_EQ(defaults.foregroundColor, RGBAlphaComponents(1, 1, 1, 1));
    EXPECT_EQ(defaults.centerLineColor, RGBAlphaComponents(1, 0, 0, 1));
}
