#include "window/SpectrogramRenderer.h"

#include "waveform/SpectralSummary.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

using namespace ZQ;

namespace {

// The grid the cache's columns lie on: column j holds frames around j * spc.
double samplesPerColumn(const ChannelGeometry& g) {
    return g.columns > 0 && g.span() > 0 ? double(g.span()) / g.columns : 1.0;
}

} // namespace

void SpectrogramRenderer::prepare(std::shared_ptr<SpectrogramCache> cache, const SpectrogramImage::Scale& scale,
                                  unsigned frameSize, bool grey, int channel, const ChannelGeometry& geometry) {
    cache_ = std::move(cache);
    scale_ = scale;
    size_ = frameSize;
    channel_ = channel;
    geometry_ = geometry;
    const auto& colours =
        SpectrogramImage::colours(grey ? SpectrogramImage::ColourMap::Grey : SpectrogramImage::ColourMap::Magma);
    std::copy(colours.begin(), colours.end(), colours_.begin());
}

void SpectrogramRenderer::render(int S) {
    const int W = geometry_.columns;
    rows_ = std::max(0, S);
    indices_.assign(std::size_t(std::max(0, W)) * std::size_t(rows_), 0);
    pending_ = 0;
    if (S <= 0 || W <= 0 || !cache_) return;
    const double spc = samplesPerColumn(geometry_);
    const auto gridStart = static_cast<std::int64_t>(std::llround(double(geometry_.first) / spc));
    const std::vector<std::pair<int, int>> rows = SpectrogramImage::rowBins(size_ / 2 + 1, S, scale_);
    const std::array<std::uint8_t, 256> levels = SpectrogramImage::levelIndices(scale_);
    SpectrogramCache::Key key{channel_, size_, spc, -1};
    std::shared_ptr<const SpectrogramCache::Tile> tile;
    for (int x = 0; x < W; ++x) {
        const std::int64_t column = gridStart + x;
        const std::int64_t t = column / SpectrogramCache::kTileColumns;
        if (t != key.tile) {
            key.tile = t;
            const double middle = (double(t) + 0.5) * SpectrogramCache::kTileColumns - double(gridStart);
            tile = cache_->tile(key, -std::fabs(middle - W / 2.0));
        }
        if (!tile) {
            ++pending_;
            continue;
        }
        SpectrogramImage::columnFromLevels(tile->column(unsigned(column % SpectrogramCache::kTileColumns)), rows,
                                           levels, indices_.data() + std::size_t(x) * std::size_t(S));
    }
}

void SpectrogramRenderer::paintRow(QRgb* line, int width, int row) const {
    if (row < 0 || row >= rows_) return;
    const std::uint8_t* index = indices_.data() + row;
    const int W = std::min(width, geometry_.columns);
    for (int k = 0; k < W; ++k)
        line[k] = colours_[index[std::size_t(k) * std::size_t(rows_)]];
    for (int k = W; k < width; ++k)
        line[k] = colours_[0];
}

QString SpectrogramRenderer::readout(std::uint64_t frame, std::int64_t x, int row, int rows) const {
    const double rate = scale_.rate;
    const double hz = SpectrogramImage::frequencyAt(row, rows, scale_);
    // The level of the nearest bin in the column under the pointer, once made.
    const double spc = samplesPerColumn(geometry_);
    const std::int64_t column = std::llround(double(geometry_.first) / spc) + x;
    QString level = QStringLiteral("\u2014");
    if (cache_) {
        SpectrogramCache::Key key{channel_, size_, spc, column / SpectrogramCache::kTileColumns};
        if (std::shared_ptr<const SpectrogramCache::Tile> tile = cache_->tile(key, 1e9)) {
            const unsigned bin = std::min<unsigned>(tile->bins - 1, unsigned(std::lround(hz / (rate / size_))));
            const std::uint8_t l = tile->column(unsigned(column % SpectrogramCache::kTileColumns))[bin];
            level = l == 0 ? QStringLiteral("\u2212\u221e dB")
                           : QString::number(double(SpectralSummary::dbOf(l)) + scale_.gainDb, 'f', 1)
                                     .replace('-', QChar(0x2212)) +
                                 QStringLiteral(" dB");
        }
    }
    const auto ms = static_cast<long long>(std::llround(double(frame) / rate * 1000.0));
    const QString time = QStringLiteral("%1:%2:%3.%4")
                             .arg(ms / 3600000, 2, 10, QChar('0'))
                             .arg(ms / 60000 % 60, 2, 10, QChar('0'))
                             .arg(ms / 1000 % 60, 2, 10, QChar('0'))
                             .arg(ms % 1000, 3, 10, QChar('0'));
    return time + QStringLiteral(" \u00b7 ") + QLocale(QLocale::English).toString(qlonglong(std::llround(hz))) +
           QStringLiteral(" Hz \u00b7 ") + level;
}
