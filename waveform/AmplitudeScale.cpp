#include "waveform/AmplitudeScale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ZQ::AmplitudeScale {

double fraction(double value, bool inDb) {
    if (std::isnan(value)) return 0.0;
    if (!inDb) return value;
    const double magnitude = std::fabs(value);
    if (!(magnitude > 0)) return 0.0;
    const double db = 20.0 * std::log10(magnitude);
    const double f = std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
    return value < 0 ? -f : f;
}

std::vector<Mark> marks(bool inDb, double zoom, double halfHeight, double spacing) {
    std::vector<Mark> out;
    if (!(zoom > 0) || !(halfHeight > 0)) return out;
    struct Candidate {
        double value;
        const char* label;
    };
    static constexpr Candidate kDb[] = {
        {1.0, "0"}, {0.501187234, "-6"}, {0.251188643, "-12"}, {0.063095734, "-24"}, {0.003981072, "-48"}};
    static constexpr Candidate kLinear[] = {
        {1.0, "1.0"}, {0.5, "0.5"}, {0.25, "0.25"}, {0.125, "0.125"}, {0.0625, "0.0625"}};
    const auto& candidates = inDb ? kDb : kLinear;
    double lastY = -1e9;
    for (const Candidate& c : candidates) {
        const double f = fraction(c.value, inDb) * zoom;
        if (f > 1.0 + 1e-9) continue; // above the view's edge at this zoom
        const double y = f * halfHeight;
        if (!out.empty() && lastY - y < spacing) continue;
        out.push_back({f, c.label});
        lastY = y;
    }
    // The centre line names zero (or the floor) when there is room.
    if (out.empty() || lastY >= spacing) out.push_back({0.0, inDb ? "-\u221e" : "0"});
    return out;
}

} // namespace ZQ::AmplitudeScale
