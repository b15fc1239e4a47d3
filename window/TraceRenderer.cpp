#include "window/TraceRenderer.h"

#include "window/MarkerRenderer.h"
#include "window/SpectrogramRenderer.h"
#include "window/TwoCoreRunner.h"

#include <QColor>
#include <algorithm>
#include <cmath>

using namespace ZQ;

namespace {

// A pixel row from a height measured from the bottom (y upwards), kept just
// outside the view when the value is beyond it.
int rowFor(double fromBottom, int height) {
    const double row = height - std::floor(fromBottom);
    return static_cast<int>(std::clamp(row, -1.0, height + 1.0));
}

// A colour with the highlight band over it at each row: the band's gradient
// (white 0.95 at alpha 0 at the bottom and top edges, white at alpha 0.12 in
// the middle, painted over everything) composited "source over".
void bandedRows(const RGBAlphaComponents& components, int height, std::vector<QRgb>& out) {
    out.resize(static_cast<std::size_t>(std::max(0, height)));
    const QColor base = QColor::fromRgbF(components.r_, components.g_, components.b_, components.a_);
    const double a = base.alphaF();
    const double r = base.redF() * a, g = base.greenF() * a, b = base.blueF() * a; // premultiplied
    for (int row = 0; row < height; ++row) {
        const double t = 1.0 - (row + 0.5) / height; // 0 at the bottom edge, 1 at the top
        const double peak = 1.0 - std::fabs(2.0 * t - 1.0);
        const double alpha = 0.12 * peak, white = 0.95 + 0.05 * peak;
        auto mix = [&](double channel) {
            return static_cast<int>(std::lround((white * alpha + channel * (1 - alpha)) * 255));
        };
        // The view is opaque: a translucent colour shows as over black.
        out[static_cast<std::size_t>(row)] = qRgb(mix(r), mix(g), mix(b));
    }
}

} // namespace

bool TraceRenderer::rebuild(const ChannelSamples& samples, WaveformZoomSettings& zoom, QSize size, int traceRows,
                            bool shareCores, IndexRange& drawn, const SharedColumns* shared) {
    const CGRect frame{{0, 0}, {double(size.width()), double(traceRows)}};
    return updateWaveformCache(overview_, zoom, samples, true, 0, frame, drawn, updating_,
                               shareCores ? &shareBetweenCores : nullptr, &pending_, shared);
}

void TraceRenderer::render(QImage& image, int traceRows, double centre, const WaveformColors& colours,
                           const SpectrogramRenderer& spectrogram, const MarkerRenderer& markers, bool shareCores) {
    ++renders_;
    const int W = image.width(), H = image.height();
    if (W <= 0 || H <= 0) return;
    // The traces take the top `T` rows (all of them, half, or none), the
    // spectrogram the rest.
    const int T = std::clamp(traceRows, 0, H);
    // The drawing, in its order: background, the centre line across at half
    // height, one line per column of the overview over them, then the band
    // over everything. Rows take their banded colours from tables, so that
    // each pixel is written once or twice rather than blended four times.
    bandedRows(colours.backgroundColor, T, bgRows_);
    bandedRows(colours.foregroundColor, T, fgRows_);
    bandedRows(colours.centerLineColor, T, centreRows_);
    const int centreRow = static_cast<int>(std::clamp(T - std::floor(centre), 0.0, double(std::max(0, T - 1))));
    // Each column's line covers the rows from one end up to the other, as a
    // stroke with flat ends does: a line of no length (silence) draws
    // nothing. A column whose samples are not numbers stays empty.
    const std::uint64_t n = std::min<std::uint64_t>(overview_.waveformPointsCount, std::uint64_t(W));
    tops_.assign(static_cast<std::size_t>(W), 0);
    bottoms_.assign(static_cast<std::size_t>(W), 0);
    for (std::uint64_t k = 0; k < n && overview_.overviewData; ++k) {
        const CGPoint& pt = overview_.overviewData[k];
        if (std::isnan(pt.x) || std::isnan(pt.y)) continue;
        tops_[k] = std::max(0, rowFor(std::max(pt.x, pt.y), T));
        bottoms_[k] = std::min(T, rowFor(std::min(pt.x, pt.y), T));
    }
    // Row by row, each pixel written once: the trace where a column's line
    // covers the row, else the background (or the centre line on its row).
    const std::int32_t* top = tops_.data();
    const std::int32_t* bottom = bottoms_.data();
    auto rows = [&](std::uint64_t from, std::uint64_t to) {
        for (int row = int(from); row < int(to); ++row) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
            if (row >= T) {
                spectrogram.paintRow(line, W, row - T);
            } else {
                const QRgb fg = fgRows_[static_cast<std::size_t>(row)];
                const QRgb bg = row == centreRow ? centreRows_[static_cast<std::size_t>(row)]
                                                 : bgRows_[static_cast<std::size_t>(row)];
                for (int k = 0; k < W; ++k)
                    line[k] = (row >= top[k]) & (row < bottom[k]) ? fg : bg;
            }
            markers.paintRow(line, W);
        }
    };
    if (shareCores)
        runOnBothCores(std::uint64_t(H), rows);
    else
        rows(0, std::uint64_t(H));
}
