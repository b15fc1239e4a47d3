#include "waveform/SpectrogramImage.h"

#include "waveform/SpectralSummary.h"

#include <algorithm>
#include <cmath>

namespace ZQ::SpectrogramImage {

namespace {

// Magma's published control points at tenths of its range (as its authors
// list them), joined in straight lines: dark violet-black through red to a
// pale yellow, its lightness rising evenly.
constexpr std::uint32_t kMagma[] = {0x000004, 0x180f3e, 0x451077, 0x721f81, 0x9f2f7f,
                                    0xcd4071, 0xf1605d, 0xfd9567, 0xfec98d, 0xfcfdbf};

std::array<std::uint32_t, 256> interpolated(const std::uint32_t* points, int count) {
    std::array<std::uint32_t, 256> out{};
    for (int i = 0; i < 256; ++i) {
        const double at = i / 255.0 * (count - 1);
        const int a = std::min(count - 2, static_cast<int>(at));
        const double t = at - a;
        auto channel = [&](int shift) {
            const double from = (points[a] >> shift) & 0xff, to = (points[a + 1] >> shift) & 0xff;
            return static_cast<std::uint32_t>(std::lround(from + (to - from) * t)) << shift;
        };
        out[static_cast<std::size_t>(i)] = 0xff000000u | channel(16) | channel(8) | channel(0);
    }
    return out;
}

} // namespace

const std::array<std::uint32_t, 256>& colours(ColourMap map) {
    static const std::array<std::uint32_t, 256> magma = interpolated(kMagma, 10);
    static const std::array<std::uint32_t, 256> grey = [] {
        std::array<std::uint32_t, 256> g{};
        for (std::uint32_t i = 0; i < 256; ++i)
            g[i] = 0xff000000u | i << 16 | i << 8 | i;
        return g;
    }();
    return map == ColourMap::Grey ? grey : magma;
}

namespace {

// The frequency at `up` of the height (0 the bottom edge, 1 the top).
double frequencyUp(double up, const Scale& scale) {
    const double nyquist = scale.rate / 2;
    if (!scale.logarithmic) return up * nyquist;
    const double low = std::min(scale.lowestHz, nyquist / 2);
    return low * std::pow(nyquist / low, up);
}

} // namespace

double frequencyAt(int row, int height, const Scale& scale) {
    return frequencyUp(height > 0 ? 1.0 - (row + 0.5) / height : 0.0, scale);
}

double rowOf(double hz, int height, const Scale& scale) {
    const double nyquist = scale.rate / 2;
    double up;
    if (!scale.logarithmic) {
        up = hz / nyquist;
    } else {
        const double low = std::min(scale.lowestHz, nyquist / 2);
        up = hz <= 0 ? -1.0 : std::log(hz / low) / std::log(nyquist / low);
    }
    return (1.0 - up) * height - 0.5;
}

std::uint8_t indexOf(float db, const Scale& scale) {
    const float range = std::max(1.0f, scale.rangeDb);
    const float t = (db + scale.gainDb + range) / range; // 0 at the floor, 1 at 0 dBFS
    return static_cast<std::uint8_t>(std::clamp(std::lround(t * 255.0f), 0l, 255l));
}

std::vector<std::pair<int, int>> rowBins(unsigned bins, int height, const Scale& scale) {
    std::vector<std::pair<int, int>> rows(static_cast<std::size_t>(std::max(0, height)));
    if (bins < 2) return rows;
    const double binHz = scale.rate / (2.0 * (bins - 1));
    const long lastBin = static_cast<long>(bins) - 1;
    for (int row = 0; row < height; ++row) {
        // The bins between the row's lower and upper edges; the nearest one
        // where the row is narrower than a bin.
        const double lowHz = frequencyUp(1.0 - double(row + 1) / height, scale);
        const double highHz = frequencyUp(1.0 - double(row) / height, scale);
        long first = static_cast<long>(std::ceil(lowHz / binHz));
        long last = static_cast<long>(std::floor(highHz / binHz));
        if (first > last) first = last = std::lround(frequencyAt(row, height, scale) / binHz);
        first = std::clamp(first, 0l, lastBin);
        last = std::clamp(last, first, lastBin);
        rows[static_cast<std::size_t>(row)] = {int(first), int(last)};
    }
    return rows;
}

void column(const float* db, unsigned bins, int height, const Scale& scale, std::uint8_t* out) {
    const std::vector<std::pair<int, int>> rows = rowBins(bins, height, scale);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        float best = db[rows[row].first];
        for (int k = rows[row].first + 1; k <= rows[row].second; ++k)
            best = std::max(best, db[k]);
        out[row] = indexOf(best, scale);
    }
}

std::array<std::uint8_t, 256> levelIndices(const Scale& scale) {
    std::array<std::uint8_t, 256> out{};
    for (int level = 1; level < 256; ++level) // 0 is no energy: the floor
        out[static_cast<std::size_t>(level)] = indexOf(SpectralSummary::dbOf(std::uint8_t(level)), scale);
    return out;
}

void columnFromLevels(const std::uint8_t* levels, const std::vector<std::pair<int, int>>& rows,
                      const std::array<std::uint8_t, 256>& indices, std::uint8_t* out) {
    for (std::size_t row = 0; row < rows.size(); ++row) {
        std::uint8_t best = levels[rows[row].first];
        for (int k = rows[row].first + 1; k <= rows[row].second; ++k)
            best = std::max(best, levels[k]);
        out[row] = indices[best];
    }
}

} // namespace ZQ::SpectrogramImage
