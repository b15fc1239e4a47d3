// Draws a channel's traces into the view's image: the overview's column
// lines over the banded background and the centre line, the spectrogram's
// rows below them, and the markers over both. Every column's line reaches
// the centre line, so neighbouring lines always meet. The overview is rebuilt from the channel's samples and a copy of
// the window's zoom. Any thread (one view's renderer on one thread at a time).
#pragma once

#include "waveform/ChannelGeometry.h"
#include "waveform/WaveformOverview.h"
#include "waveform/WaveformSelection.h"

#include <QImage>
#include <QSize>
#include <cstdint>
#include <vector>

class MarkerRenderer;
class SpectrogramRenderer;

class TraceRenderer {
public:
    // Reduces the samples to one point per column of `size` (the traces' rows
    // high), for `zoom` (from `shared` where it answers); writes the frames drawn. False when nothing could
    // be reduced (no samples, a view too narrow).
    bool rebuild(const ZQ::ChannelSamples& samples, ZQ::WaveformZoomSettings& zoom, QSize size, int traceRows,
                 bool shareCores, ZQ::IndexRange& drawn, const ZQ::SharedColumns* shared = nullptr);
    // Columns drawn empty because their samples are not yet summarised.
    std::uint64_t pendingColumns() const { return pending_; }
    const ZQ::WaveformOverview<ZQ::CGPoint>& overview() const { return overview_; }

    // Draws into `image` (device pixels): the traces in the top `traceRows`
    // rows with the centre line at `centre` rows up from their bottom, the
    // spectrogram below, the markers over everything.
    void render(QImage& image, int traceRows, double centre, const ZQ::WaveformColors& colours,
                const SpectrogramRenderer& spectrogram, const MarkerRenderer& markers, bool shareCores);
    // How often the traces were drawn (what a repaint costs, for tests).
    std::uint64_t renders() const { return renders_; }

private:
    ZQ::WaveformOverview<ZQ::CGPoint> overview_;
    bool updating_ = false;
    std::uint64_t pending_ = 0;
    std::uint64_t renders_ = 0;
    std::vector<QRgb> bgRows_, fgRows_, centreRows_; // the banded colours of each row, reused
    std::vector<std::int32_t> tops_, bottoms_;       // each column's line, in rows
};
