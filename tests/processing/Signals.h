// Test signals and the measurements the processing tests make of them.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace testsupport {

// `frames` frames of `channels` identical channels of a sine.
inline std::vector<double> sine(double frequency, double amplitude, double rate, std::size_t frames,
                                unsigned channels = 1, double phase = 0.0) {
    std::vector<double> out(frames * channels);
    for (std::size_t k = 0; k < frames; ++k)
        for (unsigned c = 0; c < channels; ++c)
            out[k * channels + c] = amplitude * std::sin(2.0 * M_PI * frequency * double(k) / rate + phase);
    return out;
}

inline double decibels(double ratio) {
    return 20.0 * std::log10(ratio);
}

inline double rms(const std::vector<double>& x, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t k = from; k < to; ++k)
        sum += x[k] * x[k];
    return std::sqrt(sum / double(to - from));
}

// Power at `frequency` of x[from, from + n) through a Hann window (Goertzel),
// scaled so that a sine of amplitude A gives A²/4·(window gain) — used only
// in ratios between like measurements.
inline double binPower(const std::vector<double>& x, std::size_t from, std::size_t n, double frequency, double rate) {
    const double w = 2.0 * M_PI * frequency / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(k) / double(n));
        const double s = x[from + k] * hann + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

// The residual's RMS after a least-squares fit of a sine of `frequency`
// (and a constant) to x[from, to): what is not the fundamental (THD+N).
inline double residualAfterSineFit(const std::vector<double>& x, std::size_t from, std::size_t to, double frequency,
                                   double rate) {
    // Normal equations for a·sin + b·cos + c.
    double m[3][4] = {};
    for (std::size_t k = from; k < to; ++k) {
        const double t = 2.0 * M_PI * frequency * double(k) / rate;
        const double v[3] = {std::sin(t), std::cos(t), 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] += v[i] * v[j];
            m[i][3] += v[i] * x[k];
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int r = 0; r < 3; ++r) {
            if (r == i) continue;
            const double f = m[r][i] / m[i][i];
            for (int j = 0; j < 4; ++j)
                m[r][j] -= f * m[i][j];
        }
    const double a = m[0][3] / m[0][0], b = m[1][3] / m[1][1], c = m[2][3] / m[2][2];
    double sum = 0;
    for (std::size_t k = from; k < to; ++k) {
        const double t = 2.0 * M_PI * frequency * double(k) / rate;
        const double r = x[k] - (a * std::sin(t) + b * std::cos(t) + c);
        sum += r * r;
    }
    return std::sqrt(sum / double(to - from));
}

} // namespace testsupport
