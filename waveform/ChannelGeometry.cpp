#include "waveform/ChannelGeometry.h"

#include <algorithm>
#include <cmath>

namespace ZQ {

namespace {

using Wide = unsigned __int128; // frame counts past 2^32 times widths past 2^16 stay exact

} // namespace

ChannelGeometry ChannelGeometry::of(std::uint64_t first, std::uint64_t last, double logicalWidth, double ratio,
                                    std::uint64_t lastFrame) {
    ChannelGeometry g;
    g.first = first;
    g.last = std::max(first, last);
    g.lastFrame = lastFrame;
    g.ratio = ratio > 0 ? ratio : 1.0;
    g.columns = static_cast<int>(std::max(0.0, std::round(logicalWidth * g.ratio)));
    return g;
}

double ChannelGeometry::framesPerColumn() const {
    return columns > 0 ? static_cast<double>(span()) / columns : 0.0;
}

std::int64_t ChannelGeometry::column(std::uint64_t frame) const {
    const std::uint64_t d = span();
    if (d == 0 || columns <= 0) return 0;
    const auto W = static_cast<std::uint64_t>(columns);
    if (frame >= first) {
        const Wide c = Wide(frame - first) * W / d;
        return c > Wide(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(c);
    }
    // Before the view: the floor of a negative quotient.
    const Wide q = (Wide(first - frame) * W + d - 1) / d;
    return q > Wide(INT64_MAX) ? INT64_MIN : -static_cast<std::int64_t>(q);
}

double ChannelGeometry::position(std::uint64_t frame) const {
    const std::uint64_t d = span();
    if (d == 0) return 0.0;
    const double offset = frame >= first ? double(frame - first) : -double(first - frame);
    return offset / double(d) * columns;
}

std::uint64_t ChannelGeometry::frameAtColumn(std::int64_t c) const {
    return std::min(unclampedFrameAtColumn(c), std::max(first, lastFrame));
}

std::uint64_t ChannelGeometry::unclampedFrameAtColumn(std::int64_t c) const {
    const std::uint64_t d = span();
    if (c <= 0 || columns <= 0 || d == 0) return first;
    if (c >= columns) return last;
    const auto W = static_cast<std::uint64_t>(columns);
    const Wide n = Wide(static_cast<std::uint64_t>(c)) * d;
    // The first frame that starts in the column; where none does (zoomed in
    // past a column a frame), the frame whose span the column lies in.
    const auto starting = static_cast<std::uint64_t>((n + W - 1) / W);
    const std::uint64_t offset = column(first + starting) == c ? starting : static_cast<std::uint64_t>(n / W);
    return first + std::min(offset, d);
}

std::int64_t ChannelGeometry::columnAt(double x) const {
    return static_cast<std::int64_t>(std::floor(x * ratio + 1e-9));
}

std::uint64_t ChannelGeometry::frameAt(double x) const {
    return frameAtColumn(columnAt(x));
}

ChannelGeometry::Span ChannelGeometry::span(std::uint64_t firstFrame, std::uint64_t lastFrame) const {
    if (columns <= 0 || lastFrame < firstFrame) return {};
    const std::int64_t a = column(firstFrame), b = column(lastFrame) + 1;
    if (b <= 0 || a >= columns) return {};
    return {static_cast<int>(std::max<std::int64_t>(a, 0)), static_cast<int>(std::min<std::int64_t>(b, columns))};
}

} // namespace ZQ
