#include "window/ScaleRenderer.h"

#include "controls/Colours.h"
#include "waveform/AmplitudeScale.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <iterator>

using namespace ZQ;

namespace ScaleRenderer {

namespace {

int rowFor(double fromBottom, int height) {
    const double row = height - std::floor(fromBottom);
    return static_cast<int>(std::clamp(row, -1.0, height + 1.0));
}

QFont smallFont(QPainter& p, double ratio) {
    QFont font = p.font();
    font.setPixelSize(int(std::lround(9 * ratio)));
    return font;
}

} // namespace

std::vector<Mark> drawAmplitude(QImage& image, int traceRows, int shownHeight, bool inDb, double verticalZoom,
                                const RGBAlphaComponents& b, bool light) {
    std::vector<Mark> out;
    if (image.isNull()) return out;
    const qreal ratio = image.devicePixelRatio();
    // The traces' rows only (the spectrogram has an axis of its own).
    const int H = std::min(traceRows, image.height()), W = image.width();
    // Clear of the labels in the right corners, and only where a few marks
    // fit: judged by the window's common height, so that views a pixel apart
    // in height all show the scale or none do.
    const double clear = (13 + 8) * ratio;
    if (std::min(H, shownHeight) < 2 * clear + 20 * ratio) return out;
    const double half = std::floor(double(H)) * 0.5;
    const std::vector<AmplitudeScale::Mark> marks = AmplitudeScale::marks(inDb, verticalZoom, half, 18 * ratio);
    QPainter p(&image);
    p.scale(1 / ratio, 1 / ratio); // device pixels
    const QFont font = smallFont(p, ratio);
    p.setFont(font);
    const QColor ink = light ? QColor::fromRgbF(0, 0, 0, 0.55) : calibratedWhite(1.0, 0.45);
    p.setPen(ink);
    const double tick = std::round(4 * ratio);
    const QFontMetricsF metrics(font);
    const QColor backing = QColor::fromRgbF(b.r_, b.g_, b.b_, 0.6); // as the other labels have
    auto mark = [&](int row, const QString& label) {
        if (row < clear || row > H - clear) return;
        p.fillRect(QRectF(W - tick, row, tick, 1), ink);
        const double w = metrics.horizontalAdvance(label) + 4 * ratio;
        const QRectF box(W - tick - w, row - 6 * ratio, w, 12 * ratio);
        p.fillRect(box, backing);
        p.drawText(box, Qt::AlignCenter, label);
        out.push_back({row, label});
    };
    const double centre = std::max(0.0, H * 0.5);
    for (const AmplitudeScale::Mark& m : marks) {
        const QString label = QString::fromStdString(m.label);
        // The rows the traces give a value at this height, above and below;
        // a pair so near the centre line that their labels would meet is
        // left out (the centre's own label says enough there).
        const int above = rowFor(centre + m.fraction * half, H);
        const int below = rowFor(centre - m.fraction * half, H);
        if (below != above && below - above < 18 * ratio) continue;
        mark(above, label);
        if (below != above) mark(below, inDb || label == QStringLiteral("0") ? label : QStringLiteral("-") + label);
    }
    return out;
}

std::vector<Mark> drawFrequency(QImage& image, int traceRows, const SpectrogramImage::Scale& scale,
                                const QRect& keepClear) {
    std::vector<Mark> out;
    if (image.isNull() || traceRows >= image.height()) return out;
    const qreal ratio = image.devicePixelRatio();
    const int T = traceRows, S = image.height() - traceRows;
    if (S < 24 * ratio) return out; // too short for a label between the corners
    // A few round frequencies, from the bottom up, each label 16 pixels or
    // more from the last, clear of the corner labels.
    static constexpr double kLinear[] = {1000, 2000, 5000, 10000, 20000, 50000};
    static constexpr double kLog[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000};
    const double nyquist = scale.rate / 2;
    std::vector<double> candidates;
    if (scale.logarithmic) {
        candidates.assign(std::begin(kLog), std::end(kLog));
    } else {
        // The smallest round step that leaves six labels at most.
        double step = kLinear[0];
        for (double s : kLinear)
            if (nyquist / s <= 6) {
                step = s;
                break;
            }
        for (double f = step; f < nyquist; f += step)
            candidates.push_back(f);
    }
    QPainter p(&image);
    p.scale(1 / ratio, 1 / ratio);
    const QFont font = smallFont(p, ratio);
    p.setFont(font);
    const QFontMetricsF metrics(font);
    const QColor ink = calibratedWhite(1.0, 0.7);
    const QColor backing = QColor::fromRgbF(0, 0, 0, 0.45);
    double lastRow = 1e9;
    const double clear = (13 + 4) * ratio;
    for (double f : candidates) {
        if (f >= nyquist || (scale.logarithmic && f < scale.lowestHz)) continue;
        const double within = SpectrogramImage::rowOf(f, S, scale);
        const int row = T + int(std::lround(within));
        if (within < 0 || within > S - 1 || row > image.height() - clear || row < T + 6 * ratio) continue;
        if (lastRow - row < 16 * ratio) continue;
        const QString label =
            f >= 1000 ? QString::number(f / 1000.0, 'g', 3) + QStringLiteral("k") : QString::number(int(f));
        const double w = metrics.horizontalAdvance(label) + 4 * ratio;
        QRectF box(std::round(5 * ratio), row - 6 * ratio, w, 12 * ratio);
        // Beside the channel's toggles rather than under them.
        if (!keepClear.isEmpty() && box.toAlignedRect().intersects(keepClear))
            box.moveLeft(keepClear.right() + std::round(3 * ratio));
        p.fillRect(QRectF(0, row, std::round(4 * ratio), 1), ink);
        p.fillRect(box, backing);
        p.setPen(ink);
        p.drawText(box, Qt::AlignCenter, label);
        out.push_back({row, label});
        lastRow = row;
    }
    return out;
}

} // namespace ScaleRenderer
