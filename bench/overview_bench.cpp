// The overview of an hour-long 44.1 kHz channel (158,760,000 samples) in a
// 1920-pixel view, fully zoomed out and at a one-second zoom: by scanning the
// samples, and from the channel's summary. And building that summary, for one
// channel and for the two channels of a stereo file side by side.
#include "waveform/WaveformOverview.h"
#include "waveform/WaveformSummary.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr std::uint64_t kSamples = 158760000;

const std::vector<double>& hour() {
    static const std::vector<double> samples = [] {
        std::vector<double> s(kSamples);
        std::uint32_t seed = 1;
        for (std::uint64_t i = 0; i < kSamples; ++i) {
            seed = seed * 1664525u + 1013904223u;
            // Floats widened to double, as samples decoded from a file are.
            s[i] = static_cast<float>(0.5 * std::sin(static_cast<double>(i) * 0.01) +
                                      (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.2);
        }
        return s;
    }();
    return samples;
}

const ZQ::WaveformSummary& hourSummary() {
    static const std::unique_ptr<ZQ::WaveformSummary> summary = [] {
        auto s = std::make_unique<ZQ::WaveformSummary>();
        s->build(hour().data(), hour().size());
        return s;
    }();
    return *summary;
}

void rebuild(benchmark::State& state, double zoom, double scroll, const ZQ::WaveformSummary* summary) {
    const std::vector<double>& s = hour();
    ZQ::WaveformZoomSettings z;
    z.setLimits(s.size(), 200);
    z.setHorizontalZoom(zoom);
    z.setHorizontalScroll(scroll);
    ZQ::WaveformOverview<ZQ::CGPoint> overview;
    ZQ::IndexRange visible;
    const ZQ::CGRect frame{{0, 0}, {1920, 200}};
    for (auto _ : state) {
        ZQ::calculateWaveformOverview(overview, z, s.data(), s.size(), frame, visible, summary);
        benchmark::DoNotOptimize(overview.overviewData[800]);
    }
    state.counters["visible_samples"] = static_cast<double>(visible.max_.v_ - visible.min_.v_);
}

void BM_OverviewFullZoomOut_Scan(benchmark::State& state) {
    rebuild(state, 1.0, 0.0, nullptr);
}
void BM_OverviewFullZoomOut_Summary(benchmark::State& state) {
    rebuild(state, 1.0, 0.0, &hourSummary());
}
// One second of 44.1 kHz in view, in the middle of the hour.
void BM_OverviewOneSecond_Scan(benchmark::State& state) {
    rebuild(state, 44100.0 / kSamples, 0.5, nullptr);
}
void BM_OverviewOneSecond_Summary(benchmark::State& state) {
    rebuild(state, 44100.0 / kSamples, 0.5, &hourSummary());
}
// A minute in view: 1378 samples per column, where the summary's levels start to pay.
void BM_OverviewOneMinute_Summary(benchmark::State& state) {
    rebuild(state, 60 * 44100.0 / kSamples, 0.3, &hourSummary());
}

// Sixteen ten-minute channels in 1910-pixel views, as a 16-channel window
// fully zoomed out redraws them: every column's edges are far from the last
// column's, in memory no cache holds.
void BM_Overview16x10min_Summary(benchmark::State& state) {
    constexpr std::uint64_t kTen = 10ull * 60 * 44100;
    static std::vector<std::vector<double>> channels;
    static std::vector<std::unique_ptr<ZQ::WaveformSummary>> summaries;
    if (channels.empty()) {
        for (int c = 0; c < 16; ++c) {
            channels.emplace_back(hour().begin() + c * 1000, hour().begin() + c * 1000 + kTen);
            summaries.push_back(std::make_unique<ZQ::WaveformSummary>());
            summaries.back()->build(channels.back().data(), kTen);
        }
    }
    std::vector<ZQ::WaveformZoomSettings> z(16);
    std::vector<ZQ::WaveformOverview<ZQ::CGPoint>> overviews(16);
    for (auto& s : z)
        s.setLimits(kTen, 54);
    ZQ::IndexRange visible;
    const ZQ::CGRect frame{{0, 0}, {1910, 54}};
    for (auto _ : state)
        for (int c = 0; c < 16; ++c)
            ZQ::calculateWaveformOverview(overviews[c], z[c], channels[c].data(), kTen, frame, visible,
                                          summaries[c].get());
}

void BM_SummaryBuild_OneHourChannel(benchmark::State& state) {
    const std::vector<double>& s = hour();
    for (auto _ : state) {
        ZQ::WaveformSummary summary;
        summary.build(s.data(), s.size());
        benchmark::DoNotOptimize(summary.bytes());
        state.counters["bytes_per_sample"] = static_cast<double>(summary.bytes()) / static_cast<double>(s.size());
    }
}

// Both channels of an hour of stereo, each on a thread of its own.
void BM_SummaryBuild_OneHourStereo(benchmark::State& state) {
    const std::vector<double>& s = hour();
    for (auto _ : state) {
        ZQ::WaveformSummary left, right;
        std::thread t([&] { right.build(s.data(), s.size()); });
        left.build(s.data(), s.size());
        t.join();
        benchmark::DoNotOptimize(left.bytes() + right.bytes());
    }
}

} // namespace

BENCHMARK(BM_OverviewFullZoomOut_Scan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OverviewFullZoomOut_Summary)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OverviewOneSecond_Scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OverviewOneSecond_Summary)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OverviewOneMinute_Summary)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Overview16x10min_Summary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SummaryBuild_OneHourChannel)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SummaryBuild_OneHourStereo)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
