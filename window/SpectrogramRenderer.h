// The spectrogram rows of a channel view: the colour index of each row in
// each column, from the document's spectral tile cache on the zoom's column
// grid, a tile not made yet asked for (the middle of the view first) and its
// columns left at the floor until it comes; and what the pointer is over.
// prepare() on the main thread, render() and paintRow() on any.
#pragma once

#include "waveform/ChannelGeometry.h"
#include "waveform/SpectrogramCache.h"
#include "waveform/SpectrogramImage.h"

#include <QRgb>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class SpectrogramRenderer {
public:
    // What the columns are drawn with: the cache (null: no spectrogram), its
    // scale, frame size and colour map, for the frames of `geometry`.
    void prepare(std::shared_ptr<ZQ::SpectrogramCache> cache, const ZQ::SpectrogramImage::Scale& scale,
                 unsigned frameSize, bool grey, int channel, const ZQ::ChannelGeometry& geometry);
    void clear() { cache_.reset(); }
    bool isShown() const { return bool(cache_); }
    // The indices of `rows` rows in each of the geometry's columns.
    void render(int rows);
    // Row `row` of the spectrogram into a line of `width` pixels.
    void paintRow(QRgb* line, int width, int row) const;
    // Columns last drawn without their levels (still being made).
    int pendingColumns() const { return pending_; }
    const ZQ::SpectrogramImage::Scale& scale() const { return scale_; }
    // "hh:mm:ss.mmm · f Hz · level" at device column `column` and `row` of
    // the spectrogram's `rows`, for the frame `frame`.
    QString readout(std::uint64_t frame, std::int64_t column, int row, int rows) const;

private:
    std::shared_ptr<ZQ::SpectrogramCache> cache_;
    ZQ::SpectrogramImage::Scale scale_;
    unsigned size_ = 1024;
    int channel_ = 0;
    ZQ::ChannelGeometry geometry_;
    std::array<QRgb, 256> colours_{};
    std::vector<std::uint8_t> indices_; // column-major, a column of rows each
    int rows_ = 0;
    int pending_ = 0;
};
