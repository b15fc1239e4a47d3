// Level statistics (peak, RMS, DC offset, clipped samples, first peak) of an
// hour of stereo at 48 kHz: 2 x 172,800,000 doubles (2.76 GB), with one and
// with two threads; sixteen channels of ten minutes; and a selection of one
// second in the middle of the hour, as the statistics panel computes it for
// a short selection. Each run's RMS is checked against a long-double scan.
#include "audiofile/ChannelStatistics.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr std::uint64_t kRate = 48000;
constexpr std::uint64_t kHour = 3600 * kRate;

// Floats widened to double, as samples decoded from a file are: a sine with
// noise, the two channels different.
std::unique_ptr<double[]> makeChannel(std::uint64_t n, std::uint32_t seed, double step) {
    std::unique_ptr<double[]> s(new double[n]);
    // The sine by rotation (a sin() per sample would take longer than the
    // statistics), renormalised now and then.
    double c = 1.0, si = 0.0;
    const double cs = std::cos(step), sn = std::sin(step);
    for (std::uint64_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        s[i] = static_cast<float>(0.5 * si + (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.2 + 0.001);
        const double nc = c * cs - si * sn;
        si = si * cs + c * sn;
        c = nc;
        if ((i & 0xffff) == 0) {
            const double r = std::sqrt(c * c + si * si);
            c /= r;
            si /= r;
        }
    }
    return s;
}

struct Hour {
    std::unique_ptr<double[]> left = makeChannel(kHour, 1, 0.0131);
    std::unique_ptr<double[]> right = makeChannel(kHour, 2, 0.0577);
    std::vector<double> referenceRms; // long double scans, per channel
    Hour() {
        for (const double* x : {left.get(), right.get()}) {
            long double squares = 0;
            for (std::uint64_t i = 0; i < kHour; ++i)
                squares += static_cast<long double>(x[i]) * x[i];
            referenceRms.push_back(static_cast<double>(std::sqrt(squares / kHour)));
        }
    }
};

const Hour& hour() {
    static const Hour h;
    return h;
}

void statisticsOfTheHour(benchmark::State& state, int threads) {
    const Hour& h = hour();
    const double* channels[2] = {h.left.get(), h.right.get()};
    std::vector<ZQ::Statistics::ChannelStatistics> out;
    for (auto _ : state) {
        if (!ZQ::Statistics::compute(channels, 0, kHour - 1, out, nullptr, threads)) state.SkipWithError("refused");
        benchmark::DoNotOptimize(out.data());
    }
    // How far RMS is from the long-double scan, in dB (worst channel).
    double worst = 0;
    for (std::size_t c = 0; c < 2 && c < out.size(); ++c)
        worst = std::max(worst, std::fabs(out[c].rmsDbfs() - ZQ::Statistics::toDbfs(h.referenceRms[c])));
    state.counters["rms_error_dB"] = worst;
    state.counters["samples_per_s"] = benchmark::Counter(
        static_cast<double>(2 * kHour) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Statistics_HourStereo48k_TwoThreads(benchmark::State& state) {
    statisticsOfTheHour(state, 2);
}
void BM_Statistics_HourStereo48k_OneThread(benchmark::State& state) {
    statisticsOfTheHour(state, 1);
}

// Sixteen channels of ten minutes (eight windows into each channel of the
// hour, overlapping): 1.33 times the samples of the hour of stereo.
void BM_Statistics_16x10min48k_TwoThreads(benchmark::State& state) {
    const Hour& h = hour();
    constexpr std::uint64_t kTen = 600 * kRate;
    std::vector<const double*> channels;
    for (int c = 0; c < 16; ++c)
        channels.push_back((c % 2 ? h.right.get() : h.left.get()) + (c / 2) * ((kHour - kTen) / 7));
    std::vector<ZQ::Statistics::ChannelStatistics> out;
    for (auto _ : state) {
        if (!ZQ::Statistics::compute(channels, 0, kTen - 1, out)) state.SkipWithError("refused");
        benchmark::DoNotOptimize(out.data());
    }
}

// One second in the middle of the hour: what a selection costs.
void BM_Statistics_OneSecondSelection(benchmark::State& state) {
    const Hour& h = hour();
    const double* channels[2] = {h.left.get(), h.right.get()};
    std::vector<ZQ::Statistics::ChannelStatistics> out;
    for (auto _ : state) {
        if (!ZQ::Statistics::compute(channels, kHour / 2, kHour / 2 + kRate - 1, out)) state.SkipWithError("refused");
        benchmark::DoNotOptimize(out.data());
    }
}

} // namespace

BENCHMARK(BM_Statistics_HourStereo48k_TwoThreads)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Statistics_HourStereo48k_OneThread)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Statistics_16x10min48k_TwoThreads)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Statistics_OneSecondSelection)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_MAIN();
