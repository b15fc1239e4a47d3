// Opening long files into a document's sample store, with one and with two
// workers, against two plain libsndfile references measured in the same run:
//   float-whole    sf_readf_float of the whole file into one interleaved block
//   double-chunked sf_readf_double in 64k-frame chunks, split straight into
//                  per-channel double buffers (the store's own layout: the floor)
// Reports the best wall time of three runs and the peak resident memory each
// one added (VmHWM, reset before every run through /proc/self/clear_refs).
//
// on a stereo 16-bit WAV and a 16-channel 24-bit WAV of the same length.
//
//   reader_bench [minutes]     (default 10: 26,460,000 frames each)
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileReader.h"
#include "bench/Memory.h"
#include "core/holders.h"
#include "platform/base/Values.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sndfile.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using zqbench::resetPeak;
using zqbench::statusKB;

struct Result {
    double seconds = 1e9;
    long peakMB = 0;
};

Result measure(const std::function<void()>& step) {
    Result r;
    for (int i = 0; i < 3; ++i) {
        const bool peakReset = resetPeak();
        const long before = statusKB("VmRSS:");
        const auto t0 = std::chrono::steady_clock::now();
        step();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const long peak = statusKB("VmHWM:");
        r.seconds = std::min(r.seconds, s);
        if (peakReset) r.peakMB = std::max(r.peakMB, (peak - before) / 1024);
    }
    return r;
}

bool writeTestFile(const std::string& path, long frames, int channels, int format) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<int> block(static_cast<size_t>(channels) * 65536);
    unsigned seed = 1;
    for (long at = 0; at < frames;) {
        const long n = std::min<long>(65536, frames - at);
        for (long k = 0; k < channels * n; ++k)
            block[k] = static_cast<int>((seed = seed * 1103515245 + 12345) & 0xffffff00u);
        sf_writef_int(f, block.data(), n);
        at += n;
    }
    return sf_close(f) == 0;
}

void benchmarkFile(const std::string& path, const char* title, long frames, int channels) {
    const double samples = double(channels) * static_cast<double>(frames);
    std::printf("\n%s: %ld frames x %d channels\n", title, frames, channels);

    Result floatWhole = measure([&] {
        SF_INFO info{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        std::unique_ptr<float[]> block(new float[static_cast<size_t>(info.frames * info.channels)]);
        if (sf_readf_float(f, block.get(), info.frames) != info.frames) std::abort();
        sf_close(f);
    });
    Result doubleChunked = measure([&] {
        SF_INFO info{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        std::vector<std::vector<double>> channels(static_cast<size_t>(info.channels));
        for (auto& c : channels)
            c.resize(static_cast<size_t>(info.frames)); // one at a time: no template copy
        std::vector<double> chunk(static_cast<size_t>(65536 * info.channels));
        for (sf_count_t at = 0; at < info.frames;) {
            const sf_count_t n = sf_readf_double(f, chunk.data(), 65536);
            if (n <= 0) std::abort();
            for (sf_count_t k = 0; k < n; ++k)
                for (int c = 0; c < info.channels; ++c)
                    channels[c][at + k] = chunk[k * info.channels + c];
            at += n;
        }
        sf_close(f);
    });
    auto store = [&](int workers) {
        return measure([&] {
            ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> s;
            s.make();
            ZQ::DecodeControl control;
            control.workers = workers;
            auto url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
            if (!s->read(url.get(), &control) ||
                s->channelSampleCount(0).v_ != static_cast<unsigned long long>(frames) ||
                control.workersUsed != workers)
                std::abort();
        });
    };
    Result one = store(1), two = store(2);

    // Eight documents of this file at once, against the same eight one after
    // another on one worker each: on two cores the first should take half.
    auto eight = [&](bool together) {
        return measure([&] {
            std::vector<std::thread> threads;
            auto open = [&](int workers) {
                ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> s;
                s.make();
                ZQ::DecodeControl control;
                control.workers = workers;
                auto url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
                if (!s->read(url.get(), &control)) std::abort();
            };
            for (int i = 0; i < 8; ++i) {
                if (together)
                    threads.emplace_back(open, 0);
                else
                    open(1);
            }
            for (std::thread& t : threads)
                t.join();
        });
    };
    const bool eightFit = samples * 8 * 8 * 1.2 < double(ZQ::availableMemoryBytes());
    Result inTurn, together;
    if (eightFit) {
        inTurn = eight(false);
        together = eight(true);
    }

    // How long a cancel takes to stop a decode a quarter of the way through.
    double cancelMs = 0;
    for (int workers : {1, 2}) {
        ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> s;
        s.make();
        ZQ::DecodeControl control;
        control.workers = workers;
        auto url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
        std::thread reader([&] { s->read(url.get(), &control); });
        while (control.framesDone.load() < std::uint64_t(frames) / 4)
            std::this_thread::yield();
        const auto t0 = std::chrono::steady_clock::now();
        control.cancel();
        reader.join();
        cancelMs = std::max(cancelMs,
                            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        if (!control.cancelled) std::abort();
    }

    const double floorMB = samples * 8 / (1024 * 1024);
    auto row = [&](const char* name, const Result& r) {
        std::printf("%-32s %7.3f s  %5.2fx ref  %6ld MB peak  %5.2f bytes/sample  %4.2fx the floor\n", name, r.seconds,
                    r.seconds / doubleChunked.seconds, r.peakMB, r.peakMB * 1024.0 * 1024.0 / samples,
                    r.peakMB / floorMB);
    };
    std::printf("floor (the double store alone): %.0f MB, 8 bytes/sample\n", floorMB);
    row("sf_readf_float, whole file", floatWhole);
    row("sf_readf_double, chunked split", doubleChunked);
    row("sample store, one worker", one);
    row("sample store, two workers", two);
    if (eightFit) {
        std::printf("%-32s %7.3f s\n", "eight stores, one after another", inTurn.seconds);
        std::printf("%-32s %7.3f s  %5.2fx one after another\n", "eight stores at once", together.seconds,
                    together.seconds / inTurn.seconds);
    } else {
        std::printf("eight stores at once: skipped, eight copies would not fit in memory\n");
    }
    std::printf("%-32s %7.1f ms (longest of one and two workers)\n", "cancel to stop", cancelMs);
}

} // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const long frames = static_cast<long>(minutes * 60 * 44100);
    char dir[] = "/tmp/zqbench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string stereo = std::string(dir) + "/stereo16.wav", many = std::string(dir) + "/multi24.wav";
    if (!writeTestFile(stereo, frames, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16) ||
        !writeTestFile(many, frames, 16, SF_FORMAT_WAV | SF_FORMAT_PCM_24))
        return 1;
    std::printf("%.1f minutes at 44.1 kHz; best of three runs each\n", minutes);
    benchmarkFile(stereo, "stereo 16-bit WAV", frames, 2);
    unlink(stereo.c_str());
    benchmarkFile(many, "16-channel 24-bit WAV", frames, 16);
    unlink(many.c_str());
    rmdir(dir);
    return 0;
}
