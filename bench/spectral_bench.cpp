// What spectra cost on this machine:
//  - frames per second of FFTW's transform alone and of a whole frame
//    (window, transform, power per bin) at each size, on one core;
//  - the pooled summary of an hour of stereo at 44.1 kHz (every frame of
//    1024 with a hop of 512), on both cores, and its size;
//  - the levels of 1,920 columns of that hour, fully zoomed out, from it.
//   spectral_bench
#include "waveform/SpectralAnalysis.h"
#include "waveform/SpectralSummary.h"
#include "waveform/SpectrogramImage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<double> noise(1 << 16);
    std::uint32_t seed = 1;
    for (double& v : noise) {
        seed = seed * 1664525u + 1013904223u;
        v = double(seed >> 8) / 16777216.0 - 0.5;
    }
    std::printf("%-8s %18s %18s\n", "size", "FFTW alone (/s)", "whole frame (/s)");
    for (unsigned size = ZQ::Spectral::kMinSize; size <= ZQ::Spectral::kMaxSize; size *= 2) {
        ZQ::Spectral::FrameAnalyzer analyzer(size);
        std::vector<float> power(analyzer.bins());
        analyzer.power(noise.data(), noise.size(), size, power.data());
        const int runs = int(40'000'000 / (size * std::log2(size)));
        auto start = Clock::now();
        for (int i = 0; i < runs; ++i)
            analyzer.transformOnly();
        const double alone = runs / secondsSince(start);
        start = Clock::now();
        for (int i = 0; i < runs; ++i)
            analyzer.power(noise.data(), noise.size(), std::int64_t(size + (i % 64) * 512), power.data());
        const double whole = runs / secondsSince(start);
        std::printf("%-8u %18.0f %18.0f\n", size, alone, whole);
    }

    // An hour of stereo: a slow sweep in noise.
    const std::uint64_t hour = 3600ull * 44100;
    std::vector<std::vector<double>> channels(2, std::vector<double>(hour));
    for (std::size_t c = 0; c < 2; ++c)
        for (std::uint64_t i = 0; i < hour; ++i) {
            seed = seed * 1664525u + 1013904223u;
            channels[c][i] =
                0.3 * std::sin(double(i) * (0.01 + 1e-9 * double(i))) + 0.01 * (double(seed >> 8) / 16777216.0 - 0.5);
        }
    std::vector<ZQ::SpectralSummary> summaries(2);
    auto start = Clock::now();
    for (std::size_t c = 0; c < 2; ++c)
        summaries[c].build(channels[c].data(), hour, 1024);
    const double built = secondsSince(start);
    std::printf("%-62s %8.3f s  (target <= 2 s)\n", "summary of 1 h stereo, 1024 / 512, both cores", built);
    std::printf("%-62s %8.1f MB\n", "  its size, both channels",
                double(summaries[0].bytes() + summaries[1].bytes()) / 1e6);

    // 1,920 columns of 300 rows per channel, fully zoomed out.
    std::vector<double> ms;
    std::vector<float> db(summaries[0].bins());
    std::vector<std::uint8_t> rows(300);
    ZQ::SpectrogramImage::Scale scale;
    for (int run = 0; run < 20; ++run) {
        start = Clock::now();
        for (std::size_t c = 0; c < 2; ++c)
            for (std::uint64_t x = 0; x < 1920; ++x) {
                summaries[c].maxDb(x * hour / 1920, (x + 1) * hour / 1920 - 1, db.data());
                ZQ::SpectrogramImage::column(db.data(), summaries[c].bins(), 300, scale, rows.data());
            }
        ms.push_back(secondsSince(start) * 1e3);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-62s %8.3f ms  (target <= 50 ms)\n", "2 x 1,920 columns of 300 rows, 1 h zoomed out, one core",
                ms[ms.size() / 2]);
    return 0;
}
