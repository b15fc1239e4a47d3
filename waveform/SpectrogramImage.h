// From spectra to pixels, without Qt: the colour maps (a perceptually
// uniform dark-to-bright one, from its published control points, and a grey
// ramp), and one pixel column of a spectrogram from the levels of its bins:
// each row takes the greatest level among the bins it covers (the nearest bin
// where a row is narrower than one), on a linear scale from 0 Hz at the
// bottom to Nyquist at the top or a logarithmic one from 20 Hz, through the
// gain and the shown range to a colour.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace ZQ::SpectrogramImage {

enum class ColourMap { Magma, Grey };
// 256 opaque 0xAARRGGBB colours, darkest first.
const std::array<std::uint32_t, 256>& colours(ColourMap map);

struct Scale {
    double rate = 44100; // samples per second: Nyquist is half of it
    bool logarithmic = false;
    double lowestHz = 20; // the bottom of the logarithmic scale
    float gainDb = 0;     // added to every level
    float rangeDb = 90;   // from the top (0 dBFS) down to the floor colour
};

// The frequency at the middle of row `row` of `height` (row 0 at the top).
double frequencyAt(int row, int height, const Scale& scale);
// The row (0 at the top) where `hz` is drawn.
double rowOf(double hz, int height, const Scale& scale);

// The colour index (0 the floor, 255 the top) of a level in dBFS.
std::uint8_t indexOf(float db, const Scale& scale);

// The first and last bin each row takes, top row first, for `bins` bins of
// a frame of `(bins - 1) * 2` samples over `height` rows.
std::vector<std::pair<int, int>> rowBins(unsigned bins, int height, const Scale& scale);

// One column, top row first: `height` colour indices from `bins` levels (dBFS).
void column(const float* db, unsigned bins, int height, const Scale& scale, std::uint8_t* out);

// The same from a spectral summary's bytes (see SpectralSummary::levelOf),
// with the rows' bins and the colour index of every byte worked out once
// for many columns.
std::array<std::uint8_t, 256> levelIndices(const Scale& scale);
void columnFromLevels(const std::uint8_t* levels, const std::vector<std::pair<int, int>>& rows,
                      const std::array<std::uint8_t, 256>& indices, std::uint8_t* out);

} // namespace ZQ::SpectrogramImage
