// How a sample's value maps to the height of a view: linearly, or in dB
// (|value| from -60 dBFS at the centre line to 0 dBFS at the edges, the sign
// kept, so that quiet passages become readable), and the few values a thin
// scale at the view's right names.
#pragma once

#include <string>
#include <vector>

namespace ZQ::AmplitudeScale {

inline constexpr double kFloorDb = -60.0;

// The place of `value` between the centre line (0) and the edges (+1, -1),
// before the amplitude zoom.
double fraction(double value, bool inDb);

struct Mark {
    double fraction; // 0 at the centre line, 1 at the top edge
    std::string label;
};
// The marks of the scale above the centre line for a view `halfHeight`
// pixels from its centre to its edge at amplitude zoom `zoom`: those that
// fall inside the view and keep `spacing` pixels apart, from the edge down.
std::vector<Mark> marks(bool inDb, double zoom, double halfHeight, double spacing);

} // namespace ZQ::AmplitudeScale
