// The window's models without widgets: the one frame <-> column mapping at
// every zoom and device pixel ratio, and the window state's invariants under
// edits (lengths), keyboard selection, zoom and scroll.
#include "waveform/ChannelGeometry.h"
#include "waveform/WindowState.h"

#include <gtest/gtest.h>

#include <random>

using namespace ZQ;

namespace {

SampleSelection sel(std::uint64_t a, std::uint64_t b) {
    return {Num::Count(a), Num::Count(b)};
}

struct Heard : WindowStateObserver {
    int zooms = 0, selections = 0;
    void windowZoomDidChange() override { ++zooms; }
    void windowSelectionDidChange() override { ++selections; }
};

} // namespace

TEST(ChannelGeometry, EveryColumnGivesAFrameDrawnInItAndEveryFrameComesBackToItsColumn) {
    // Zoomed out (many frames a column), near one a column, zoomed in past
    // it; small and past 2^32 first frames; ratios 1, 1.25, 2.
    std::mt19937_64 random(5);
    for (double ratio : {1.0, 1.25, 2.0})
        for (std::uint64_t span : {7ull, 799ull, 800ull, 801ull, 9999ull, 158760000ull, 5000000000ull})
            for (std::uint64_t first : {0ull, 12345ull, 6000000000ull}) {
                const ChannelGeometry g = ChannelGeometry::of(first, first + span, 800, ratio);
                ASSERT_EQ(g.columns, int(std::lround(800 * ratio)));
                for (int k = 0; k < 200; ++k) {
                    const std::int64_t c = std::int64_t(random() % std::uint64_t(g.columns));
                    const std::uint64_t f = g.frameAtColumn(c);
                    if (span >= std::uint64_t(g.columns)) {
                        // A column per frame or fewer: a frame drawn in that column, the first.
                        ASSERT_EQ(g.column(f), c) << span << " " << ratio << " " << c;
                        if (f > g.first) {
                            ASSERT_LT(g.column(f - 1), c);
                        }
                    } else if (g.column(f) != c) {
                        // Zoomed in, no frame starts there: the frame whose span holds the column.
                        ASSERT_LT(g.column(f), c);
                        ASSERT_GT(g.column(f + 1), c);
                    }
                    const std::uint64_t frame = first + random() % span;
                    const std::int64_t col = g.column(frame);
                    ASSERT_TRUE(col >= 0 && col < g.columns);
                    // Back from the frame's column: a frame of that column, at or before it.
                    const std::uint64_t back = g.frameAtColumn(col);
                    ASSERT_EQ(g.column(back), col);
                    ASSERT_LE(back, frame);
                    // A logical point inside the column maps to the same column.
                    ASSERT_EQ(g.columnAt((double(col) + 0.5) / ratio), col);
                }
            }
}

TEST(ChannelGeometry, EdgesSpansAndFramesOutsideTheView) {
    const ChannelGeometry g = ChannelGeometry::of(1000, 2000, 100, 1.0); // 10 frames a column
    EXPECT_EQ(g.column(1000), 0);
    EXPECT_EQ(g.column(1009), 0);
    EXPECT_EQ(g.column(1010), 1);
    EXPECT_EQ(g.column(999), -1);
    EXPECT_EQ(g.column(0), -100);
    EXPECT_EQ(g.column(2000), 100); // the right edge, just past the last column
    EXPECT_FALSE(g.inView(2000));
    EXPECT_EQ(g.frameAt(-5), 1000u);
    EXPECT_EQ(g.frameAt(5000), 2000u);
    // A selection's band: from its first frame's column through its last's,
    // clipped; a single frame is its column; outside, nothing.
    EXPECT_EQ(g.span(1015, 1015).from, 1);
    EXPECT_EQ(g.span(1015, 1015).to, 2);
    EXPECT_EQ(g.span(500, 1500).from, 0);
    EXPECT_EQ(g.span(500, 1500).to, 51);
    EXPECT_EQ(g.span(1990, 5000).to, 100);
    EXPECT_TRUE(g.span(2001, 3000).empty());
    EXPECT_TRUE(g.span(0, 999).empty());
    // An empty range or width maps everything to its first frame.
    const ChannelGeometry none = ChannelGeometry::of(7, 7, 100, 1.0);
    EXPECT_EQ(none.column(9), 0);
    EXPECT_EQ(none.frameAt(50), 7u);
}

TEST(WindowState, TheSelectionAndPlayPositionStayWithinTheFramesThroughEveryLength) {
    Heard heard;
    WindowState state(&heard);
    state.setLength(10000);
    state.setSelection(sel(9000, 9500));
    state.setPlayPosition(9800);
    EXPECT_EQ(heard.selections, 1);
    // An edit shortens the document: both are kept within it.
    state.setLength(9200);
    EXPECT_EQ(state.selection(), sel(9000, 9199));
    EXPECT_EQ(state.playPosition(), 9200u);
    // Emptied: nothing to select, the selection at 0, no gesture selects.
    state.setLength(0);
    EXPECT_TRUE(state.isEmpty());
    EXPECT_EQ(state.selection(), sel(0, 0));
    EXPECT_EQ(state.playPosition(), 0u);
    state.handleSelectionEvent({1, SelectionEventType::LeftMouseDown, false, 50});
    state.extendSelection(10);
    EXPECT_EQ(state.selection(), sel(0, 0));
    // Longer again (an undo): what was set stays, an inverted one is put right.
    state.setLength(10000);
    state.setSelection(sel(400, 300));
    EXPECT_EQ(state.selection(), sel(300, 400));
    state.setSelection(sel(5, 99999));
    EXPECT_EQ(state.selection(), sel(5, 9999));
}

TEST(WindowState, ShiftArrowsMoveOneEdgeAndHoldTheOther) {
    WindowState state;
    state.setLength(1000);
    state.setSelection(sel(500, 500)); // a click: the edit point
    state.extendSelection(10);
    EXPECT_EQ(state.selection(), sel(500, 510));
    state.extendSelection(-30); // back past the held edge: the selection turns
    EXPECT_EQ(state.selection(), sel(480, 500));
    EXPECT_EQ(state.movingEdge(), 480u);
    state.extendSelectionTo(0);
    EXPECT_EQ(state.selection(), sel(0, 500));
    state.extendSelection(-5); // nothing before the start
    EXPECT_EQ(state.selection(), sel(0, 500));
    state.extendSelectionTo(5000);
    EXPECT_EQ(state.selection(), sel(500, 999));
    // Another selection resets which edge moves: its last.
    state.setSelection(sel(100, 200));
    state.extendSelection(1);
    EXPECT_EQ(state.selection(), sel(100, 201));
}

TEST(WindowState, ZoomAndScrollAreHeardOncePerStepAndKeepTheirAnchor) {
    Heard heard;
    WindowState state(&heard);
    state.setLength(44100 * 60);
    state.zoom().zoomOutEntirely();
    heard.zooms = 0;
    // Around the middle of the view: the frame there stays there.
    const double middle = double(state.zoom().firstVisibleSample()) + 0.5 * state.zoom().numVisibleSamples();
    state.zoomAround(0.25, 0.5);
    EXPECT_EQ(heard.zooms, 1);
    const double after = double(state.zoom().firstVisibleSample()) + 0.5 * state.zoom().numVisibleSamples();
    EXPECT_NEAR(after, middle, state.zoom().numVisibleSamples() * 0.01);
    // Zoom to the selection: it fills the view, from its first frame.
    state.setSelection(sel(441000, 485099));
    heard.zooms = 0;
    state.zoomToSelection();
    EXPECT_EQ(heard.zooms, 1);
    EXPECT_NEAR(double(state.shownRange().min_.v_), 441000, 50);
    EXPECT_NEAR(double(state.zoom().numVisibleSamples()), 44100, 2);
    // Scrolling by a view's width moves by what it shows.
    const std::uint64_t first = state.shownRange().min_.v_;
    state.scrollByColumns(800, 800);
    EXPECT_NEAR(double(state.shownRange().min_.v_), double(first + state.zoom().numVisibleSamples()), 50);
    // Deep in a long file a step is too small for the settings to report:
    // it is heard all the same, as the frames shown change.
    state.setLength(8000000);
    state.setSelection(sel(4000000, 4000015));
    state.zoomToSelection();
    const IndexRange deep = state.shownRange();
    heard.zooms = 0;
    state.scrollByColumns(200, 1000); // three frames or so
    EXPECT_FALSE(state.shownRange() == deep);
    EXPECT_EQ(heard.zooms, 1);
    // Each channel keeps its own display choice.
    state.setDisplayOverride(3, 1);
    EXPECT_EQ(state.displayOverride(3), 1);
    EXPECT_EQ(state.displayOverride(2), -1);
}

TEST(WindowState, ZoomedInAtTheEndTheColumnsSpanEveryFrameShownAndTheLastIsInView) {
    // A few dozen frames over 800 columns, scrolled to the end: the traces
    // give each frame 800 / n columns, the last frame among them.
    WindowState state;
    state.setLength(1000);
    state.zoom().setHorizontalZoom(state.deepestZoom());
    state.zoom().setHorizontalScroll(1.0);
    const std::uint64_t n = state.zoom().numVisibleSamples(), first = state.zoom().firstVisibleSample();
    ASSERT_LT(n, 40u);
    ASSERT_EQ(first + n, 1000u);
    const ChannelGeometry g = state.geometry(800, 1.0);
    EXPECT_DOUBLE_EQ(g.framesPerColumn(), double(n) / 800.0);
    EXPECT_TRUE(g.inView(999));
    EXPECT_EQ(g.column(999), std::int64_t((n - 1) * 800 / n));
    EXPECT_EQ(g.frameAt(799.5), 999u);
    // Past the right edge, and at twice the ratio: never a frame past the last.
    EXPECT_EQ(g.frameAt(5000), 999u);
    EXPECT_EQ(state.geometry(800, 2.0).frameAt(799.9), 999u);
    // The range the labels show still ends at the last frame.
    EXPECT_EQ(state.shownRange().max_.v_, 999u);
}
