// The scales drawn over a channel's image: the thin amplitude scale at the
// right edge of the traces, and the spectrogram's frequency axis at the left
// of its rows. Each returns the marks it drew (rows in device pixels, and
// labels) for the view to report. Main thread (it draws with QPainter).
#pragma once

#include "waveform/SpectrogramImage.h"
#include "waveform/WaveformSelection.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <vector>

namespace ScaleRenderer {

struct Mark {
    int row;
    QString label;
};

// The amplitude scale over the top `traceRows` rows, when `shownHeight`
// (the height every view of the window is judged by, in device pixels)
// leaves room for a few marks clear of the corner labels.
std::vector<Mark> drawAmplitude(QImage& image, int traceRows, int shownHeight, bool inDb, double verticalZoom,
                                const ZQ::RGBAlphaComponents& background, bool light);

// The frequency axis over the rows below `traceRows`; labels move right of
// `keepClear` (device pixels) where their row would meet it.
std::vector<Mark> drawFrequency(QImage& image, int traceRows, const ZQ::SpectrogramImage::Scale& scale,
                                const QRect& keepClear);

} // namespace ScaleRenderer
