// Where the frames of a channel fall across its view: the one mapping from a
// frame to a device-pixel column and back, shared by the traces, the
// spectrogram, the markers, the selection band, the play line, the ruler and
// every click. A value made from the visible range and the view's width; any
// thread.
//
// A frame is drawn in the column where it starts: frame f of the visible
// range [first, last] over W columns is in column floor((f - first) * W /
// (last - first)). A point in a column gives back the first frame drawn in
// that column, or, where none starts in it (zoomed in past a column a
// frame), the frame whose span the column lies in.
#pragma once

#include <cstdint>
#include <limits>

namespace ZQ {

struct ChannelGeometry {
    std::uint64_t first = 0; // the frame at the left edge
    std::uint64_t last = 0;  // the frame at the right edge (just past the last column)
    int columns = 0;         // the view's width in device pixels
    double ratio = 1.0;      // device pixels per logical pixel
    // The last frame there is: zoomed in at the end of a file, the right
    // edge lies past it, and no point gives a frame beyond it.
    std::uint64_t lastFrame = UINT64_MAX;

    // For a view `logicalWidth` wide at device pixel ratio `ratio`.
    static ChannelGeometry of(std::uint64_t first, std::uint64_t last, double logicalWidth, double ratio,
                              std::uint64_t lastFrame = UINT64_MAX);

    std::uint64_t span() const { return last > first ? last - first : 0; }
    double framesPerColumn() const;
    // The column a frame is drawn in (negative before the view, `columns`
    // or more after it).
    std::int64_t column(std::uint64_t frame) const;
    // The same, exactly, as a fractional position: where the frame starts.
    double position(std::uint64_t frame) const;
    bool inView(std::uint64_t frame) const {
        const std::int64_t c = column(frame);
        return c >= 0 && c < columns;
    }
    // The frame under device column `column` (clamped to the view's frames
    // and to the last frame there is).
    std::uint64_t frameAtColumn(std::int64_t column) const;
    // The frame under a point `x` logical pixels from the view's left edge.
    std::uint64_t frameAt(double x) const;
    // The device column under logical `x`.
    std::int64_t columnAt(double x) const;
    // The columns [from, to) a range of frames covers, clipped to the view:
    // from the column of its first frame through the column of its last; an
    // empty result (from == to) when it lies outside.
    struct Span {
        int from = 0, to = 0;
        bool empty() const { return to <= from; }
    };
    Span span(std::uint64_t firstFrame, std::uint64_t lastFrame) const;

    bool operator==(const ChannelGeometry&) const = default;

private:
    std::uint64_t unclampedFrameAtColumn(std::int64_t column) const;
};

} // namespace ZQ
