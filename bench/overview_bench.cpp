// The overview of an hour-long 44.1 kHz channel (158,760,000 samples) in a
// 1920-pixel view, fully zoomed out and at a one-second zoom: by scanning the
// samples (in memory, with no summary), and from the summary of the file
// they are read from. And building that summary from a 16-bit WAV file, for
// one channel on one and on two workers.
#include "audiofile/AudioFileDocumentSampleData.h"
#include "core/holders.h"
#include "platform/base/Values.h"
#include "waveform/WaveformOverview.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <memory>
#include <sndfile.h>
#include <thread>
#include <unistd.h>
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

// The hour as a 16-bit WAV file, written once per run.
const std::string& hourFile() {
    static const std::string path = [] {
        std::string p = "/var/tmp/zq-overview-bench-" + std::to_string(getpid()) + ".wav";
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
        sf_writef_double(f, hour().data(), sf_count_t(hour().size()));
        sf_close(f);
        std::atexit([] { unlink(hourFile().c_str()); });
        return p;
    }();
    return path;
}

ZQ::SampleSnapshot openHour(bool summarise, unsigned workers = 2) {
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
    store.make();
    auto url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(hourFile()));
    if (!store->read(url.get())) std::abort();
    ZQ::SampleSnapshot samples = store->samples();
    if (summarise) {
        ZQ::SummaryBuilder builder(*samples, workers, nullptr);
        while (!samples->isSummarised())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return samples;
}

// The file's channel with its summary complete.
const ZQ::ChannelSamples& summarisedHour() {
    static const ZQ::ChannelSamples channel{openHour(true), 0};
    return channel;
}

// The samples in memory with no summary: every column is scanned.
const ZQ::ChannelSamples& scannedHour() {
    static const ZQ::ChannelSamples channel = [] {
        auto block = ZQ::MemorySampleBlock::create(1, kSamples);
        std::memcpy(block->channelData(0), hour().data(), kSamples * sizeof(double));
        return ZQ::ChannelSamples{
            std::make_shared<const ZQ::SampleSequence>(1, std::vector<ZQ::SamplePiece>{{block, 0, kSamples}}), 0};
    }();
    return channel;
}

void rebuild(benchmark::State& state, double zoom, double scroll, const ZQ::ChannelSamples& samples) {
    ZQ::WaveformZoomSettings z;
    z.setLimits(kSamples, 200);
    z.setHorizontalZoom(zoom);
    z.setHorizontalScroll(scroll);
    ZQ::WaveformOverview<ZQ::CGPoint> overview;
    ZQ::IndexRange visible;
    const ZQ::CGRect frame{{0, 0}, {1920, 200}};
    for (auto _ : state) {
        ZQ::calculateWaveformOverview(overview, z, samples, frame, visible);
        benchmark::DoNotOptimize(overview.overviewData[800]);
    }
    state.counters["visible_samples"] = static_cast<double>(visible.max_.v_ - visible.min_.v_);
}

void BM_OverviewFullZoomOut_Scan(benchmark::State& state) {
    rebuild(state, 1.0, 0.0, scannedHour());
}
void BM_OverviewFullZoomOut_Summary(benchmark::State& state) {
    rebuild(state, 1.0, 0.0, summarisedHour());
}
// One second of 44.1 kHz in view, in the middle of the hour.
void BM_OverviewOneSecond_Scan(benchmark::State& state) {
    rebuild(state, 44100.0 / kSamples, 0.5, scannedHour());
}
void BM_OverviewOneSecond_Summary(benchmark::State& state) {
    rebuild(state, 44100.0 / kSamples, 0.5, summarisedHour());
}
// A minute in view: 1378 samples per column, where the summary's levels start to pay.
void BM_OverviewOneMinute_Summary(benchmark::State& state) {
    rebuild(state, 60 * 44100.0 / kSamples, 0.3, summarisedHour());
}

// Sixteen ten-minute channels of the file in 1910-pixel views, as a
// 16-channel window fully zoomed out redraws them.
void BM_Overview16x10min_Summary(benchmark::State& state) {
    constexpr std::uint64_t kTen = 10ull * 60 * 44100;
    std::vector<ZQ::ChannelSamples> channels;
    for (int c = 0; c < 16; ++c) // sixteen stretches of the hour, as sixteen channels would lie
        channels.push_back({std::make_shared<const ZQ::SampleSequence>(
                                1, summarisedHour().samples->slice(std::uint64_t(c) * 400000, kTen)),
                            0});
    std::vector<ZQ::WaveformZoomSettings> z(16);
    std::vector<ZQ::WaveformOverview<ZQ::CGPoint>> overviews(16);
    for (auto& s : z)
        s.setLimits(kTen, 54);
    ZQ::IndexRange visible;
    const ZQ::CGRect frame{{0, 0}, {1910, 54}};
    for (auto _ : state)
        for (int c = 0; c < 16; ++c)
            ZQ::calculateWaveformOverview(overviews[c], z[c], channels[c], frame, visible);
}

// Opening the hour and summarising it from the file, on one and on two workers.
void BM_SummaryBuild_OneHourChannel(benchmark::State& state) {
    hourFile();
    for (auto _ : state) {
        const ZQ::SampleSnapshot s = openHour(true, unsigned(state.range(0)));
        const ZQ::WaveformSummary& summary = s->pieces()[0].block->summary(0);
        state.counters["bytes_per_sample"] = static_cast<double>(summary.bytes()) / double(kSamples);
    }
}

} // namespace

BENCHMARK(BM_OverviewFullZoomOut_Scan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OverviewFullZoomOut_Summary)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OverviewOneSecond_Scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OverviewOneSecond_Summary)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OverviewOneMinute_Summary)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Overview16x10min_Summary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SummaryBuild_OneHourChannel)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
