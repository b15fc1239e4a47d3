#include "window/MarkerRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace ZQ;

namespace {

// The colours of markers and regions over the traces, and `over` laid on
// `under` at `alpha` (of 256).
constexpr QRgb kMarkerLine = 0xffe89618;
constexpr QRgb kRegionTint = 0xffe89618;
QRgb mixed(QRgb under, QRgb over, int alpha) {
    auto channel = [&](int shift) {
        const int u = int(under >> shift) & 0xff, o = int(over >> shift) & 0xff;
        return ((o * alpha + u * (256 - alpha)) >> 8) << shift;
    };
    return 0xff000000u | QRgb(channel(16) | channel(8) | channel(0));
}

} // namespace

void MarkerRenderer::collect(const MarkerList& markers, const ChannelGeometry& g) {
    marks_.clear();
    if (markers.empty() || g.columns <= 0) return;
    auto add = [&](const Marker& m) {
        if (m.isRegion()) { // its columns up to the one its end starts
            const auto clamp = [&](std::int64_t c) { return int(std::clamp<std::int64_t>(c, 0, g.columns)); };
            const int from = clamp(g.column(m.frame)), to = clamp(g.column(m.end()));
            if (to > from) marks_.push_back({from, to, true});
        }
        const std::int64_t x = g.column(m.frame);
        if (x >= 0 && x < g.columns) marks_.push_back({int(x), int(x) + 1, false});
    };
    for (std::size_t i : markers.regionsCovering(g.first))
        add(markers.items()[i]);
    const std::size_t end = markers.lowerBound(g.last + 1);
    for (std::size_t i = markers.lowerBound(g.first); i < end; ++i)
        add(markers.items()[i]);
    // Regions first, so that every marker's line is drawn over any tint.
    std::stable_partition(marks_.begin(), marks_.end(), [](const Columns& m) { return m.region; });
}

void MarkerRenderer::paintRow(QRgb* line, int width) const {
    for (const Columns& m : marks_) {
        const int from = std::max(0, m.from), to = std::min(width, m.to);
        for (int k = from; k < to; ++k)
            line[k] = m.region ? mixed(line[k], kRegionTint, 46) : mixed(line[k], kMarkerLine, 220);
    }
}

std::ptrdiff_t MarkerRenderer::markerAt(const MarkerList& markers, const ChannelGeometry& g, double x) {
    const std::int64_t device = g.columnAt(x);
    std::ptrdiff_t best = -1;
    std::int64_t nearest = std::int64_t(std::lround(4 * g.ratio));
    const std::size_t end = markers.lowerBound(g.last + 1);
    for (std::size_t i = markers.lowerBound(g.first); i < end; ++i) {
        const std::int64_t d = std::llabs(g.column(markers.items()[i].frame) - device);
        if (d <= nearest) {
            nearest = d;
            best = static_cast<std::ptrdiff_t>(i);
        }
    }
    return best;
}
