// One overview rebuild of an hour-long 44.1 kHz channel (158,760,000 samples)
// in a 1600-pixel view, fully zoomed out and at a one-second zoom. The
// rebuild runs on every redraw of a waveform view.
#include "waveform/WaveformOverview.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr std::uint64_t kSamples = 158760000;

const std::vector<double>& hour() {
    static const std::vector<double> samples = [] {
        std::vector<double> s(kSamples);
        std::uint32_t seed = 1;
        for (std::uint64_t i = 0; i < kSamples; ++i) {
            seed = seed * 1664525u + 1013904223u;
            s[i] = 0.5 * std::sin(static_cast<double>(i) * 0.01) +
                   (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.2;
        }
        return s;
    }();
    return samples;
}

void rebuild(benchmark::State& state, double zoom, double scroll) {
    const std::vector<double>& s = hour();
    ZQ::WaveformZoomSettings z;
    z.setLimits(s.size(), 200);
    z.setHorizontalZoom(zoom);
    z.setHorizontalScroll(scroll);
    ZQ::WaveformOverview<ZQ::CGPoint> overview;
    ZQ::IndexRange visible;
    const ZQ::CGRect frame{{0, 0}, {1600, 200}};
    for (auto _ : state) {
        ZQ::calculateWaveformOverview(overview, z, s.data(), s.size(), frame, visible);
        benchmark::DoNotOptimize(overview.overviewData[800]);
    }
    state.counters["visible_samples"] = static_cast<double>(visible.max_.v_ - visible.min_.v_);
}

void BM_OverviewFullZoomOut(benchmark::State& state) {
    rebuild(state, 1.0, 0.0);
}
// One second of 44.1 kHz in view, in the middle of the hour.
void BM_OverviewOneSecond(benchmark::State& state) {
    rebuild(state, 44100.0 / kSamples, 0.5);
}

} // namespace

BENCHMARK(BM_OverviewFullZoomOut)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OverviewOneSecond)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
