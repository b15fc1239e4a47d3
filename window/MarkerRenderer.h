// The markers and regions over a channel's traces: which columns they take
// (read on the main thread, where the markers change) and how a row of the
// image is tinted and crossed by them; and which marker lies under a point.
// collect() on the main thread, paintRow() on any.
#pragma once

#include "audiofile/Markers.h"
#include "waveform/ChannelGeometry.h"

#include <QRgb>
#include <cstddef>
#include <vector>

class MarkerRenderer {
public:
    // The markers in view of `geometry`, as columns.
    void collect(const ZQ::MarkerList& markers, const ZQ::ChannelGeometry& geometry);
    void clear() { marks_.clear(); }
    // Regions tint their columns; markers are lines over everything.
    void paintRow(QRgb* line, int width) const;
    // The marker whose line is within a few pixels of logical `x`, or -1.
    static std::ptrdiff_t markerAt(const ZQ::MarkerList& markers, const ZQ::ChannelGeometry& geometry, double x);

    struct Columns {
        int from, to; // a region: first and one past last; a marker: its column and the next
        bool region;
    };
    const std::vector<Columns>& columns() const { return marks_; }

private:
    std::vector<Columns> marks_;
};
