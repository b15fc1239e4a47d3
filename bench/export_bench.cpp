// Export speed and memory.
//
// 1. A long stereo 48 kHz document (190 minutes by default: 8.75 GB of
//    samples in memory, a float WAV of 4.38 GB, so RF64) exported as 32-bit
//    float WAV: wall time, and the peak resident memory the export adds over
//    the open document (VmHWM, reset first through /proc/self/clear_refs).
// 2. A ten-minute 16-channel 48 kHz document exported to each of the five
//    formats, and saved as CAF and Wave64 (the source's encoding), against writing the same frames to the same format
//    with libsndfile directly (interleaved doubles, chunk by chunk, libsndfile converting): the ratio of the two wall
//    times, best of three each.
//
//   export_bench [minutes-of-stereo] [minutes-of-16-channels]   (defaults 190 and 10)
//
// Files go to $ZQ_BENCH_DIR (default /tmp) and are removed afterwards.
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileExport.h"
#include "bench/Memory.h"
#include "core/holders.h"
#include "platform/base/Values.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sndfile.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace Export = ZQ::AudioFileExport;
namespace audio = platform::audio;

double secondsOf(const std::function<bool()>& work, bool* ok = nullptr) {
    const auto t0 = Clock::now();
    const bool done = work();
    if (ok) *ok = done;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// A 16-bit WAV source of `frames` frames, quickly made.
bool writeSource(const std::string& path, int channels, long frames) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = 48000;
    info.format = (channels > 2 ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<short> block(std::size_t(channels) * 65536);
    for (long at = 0; at < frames; at += 65536) {
        const long n = std::min<long>(65536, frames - at);
        for (long k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c)
                block[std::size_t(k * channels + c)] = short(((at + k) * (7 + 2 * c)) % 60000 - 30000);
        if (sf_writef_short(f, block.data(), n) != n) {
            sf_close(f);
            return false;
        }
    }
    return sf_close(f) == 0;
}

bool open(ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData>& store, const std::string& path) {
    store.make();
    platform::Ref<platform::URL> url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    return store->read(url.get());
}

bool exportTo(ZQ::AudioFileDocumentSampleData* store, const std::string& path, audio::FourCharCode type, int code,
              Export::Outcome* outcome = nullptr) {
    platform::Ref<platform::URL> url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    std::string why;
    const bool ok = Export::write(store, url.get(), type, code, &why, nullptr, outcome);
    if (!ok) std::fprintf(stderr, "export failed: %s\n", why.c_str());
    return ok;
}

// The same frames written by libsndfile itself from interleaved doubles.
bool libsndfileDirect(ZQ::AudioFileDocumentSampleData* store, const std::string& path, int format) {
    const int channels = store->channelCount();
    const long frames = long(store->channelSampleCount(0).v_);
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = int(store->sampleRate());
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<double> block(std::size_t(channels) * Export::kChunkFrames);
    for (long at = 0; at < frames; at += Export::kChunkFrames) {
        const long n = std::min<long>(Export::kChunkFrames, frames - at);
        std::vector<double> in(static_cast<std::size_t>(n));
        for (int c = 0; c < channels; ++c) {
            store->readChannel(c, std::uint64_t(at), std::uint64_t(n), in.data());
            for (long k = 0; k < n; ++k)
                block[std::size_t(k * channels + c)] = in[std::size_t(k)];
        }
        if (sf_writef_double(f, block.data(), n) != n) {
            sf_close(f);
            return false;
        }
    }
    return sf_close(f) == 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const long longMinutes = argc > 1 ? std::atol(argv[1]) : 190;
    const long wideMinutes = argc > 2 ? std::atol(argv[2]) : 10;
    const char* base = std::getenv("ZQ_BENCH_DIR");
    std::string dir = std::string(base ? base : "/tmp") + "/zqexportbench-XXXXXX";
    if (!mkdtemp(dir.data())) return 1;
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    // The "Clipped audio file" and "Audio data is good" lines are not the point here.
    std::FILE* quiet = std::fopen("/dev/null", "w");

    if (longMinutes > 0) {
        const long frames = longMinutes * 60 * 48000;
        const std::string source = dir + "/long.wav", out = dir + "/long-float.wav";
        if (!writeSource(source, 2, frames)) return 1;
        ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
        if (!open(store, source)) return 1;
        std::filesystem::remove(source);
        const double samplesGB = double(frames) * 2 * 8 / 1e9;
        zqbench::resetPeak();
        const long before = zqbench::statusKB("VmRSS:");
        Export::Outcome outcome;
        bool ok = false;
        std::fflush(stdout);
        const int saved = dup(fileno(stdout));
        dup2(fileno(quiet), fileno(stdout));
        const double seconds = secondsOf(
            [&] { return exportTo(store.get(), out, audio::kAudioFileWAVEType, Export::kFloat32, &outcome); }, &ok);
        std::fflush(stdout);
        dup2(saved, fileno(stdout));
        ::close(saved);
        const long added = zqbench::statusKB("VmHWM:") - before;
        SF_INFO info{};
        SNDFILE* back = sf_open(out.c_str(), SFM_READ, &info);
        if (back) sf_close(back);
        std::printf("%ld min stereo 48 kHz (%.2f GB of samples) to float WAV: %s %.2f s, %.2f GB written as %s, "
                    "read back as %ld frames (%s), peak +%.1f MB over the open document\n",
                    longMinutes, samplesGB, ok ? "ok" : "FAILED", seconds,
                    double(std::filesystem::file_size(out)) / 1e9,
                    outcome.container == audio::kAudioFileRF64Type ? "RF64" : "WAVE", long(info.frames),
                    info.frames == frames ? "every frame" : "WRONG", added / 1024.0);
        std::filesystem::remove(out);
    }

    if (wideMinutes > 0) {
        const long frames = wideMinutes * 60 * 48000;
        const std::string source = dir + "/wide.wav";
        if (!writeSource(source, 16, frames)) return 1;
        ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
        if (!open(store, source)) return 1;
        std::filesystem::remove(source);
        struct Format {
            const char* name;
            audio::FourCharCode type;
            int code;
            int sf;
        } formats[] = {
            {"WAV 16-bit", audio::kAudioFileWAVEType, Export::kInteger16, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16},
            {"WAV 32-bit", audio::kAudioFileWAVEType, Export::kInteger32, SF_FORMAT_WAVEX | SF_FORMAT_PCM_32},
            {"WAV float", audio::kAudioFileWAVEType, Export::kFloat32, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},
            {"AIFF 16-bit", audio::kAudioFileAIFFType, Export::kInteger16, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
            {"AIFF 32-bit", audio::kAudioFileAIFFType, Export::kInteger32, SF_FORMAT_AIFF | SF_FORMAT_PCM_32},
            // What Save writes for kinds only their own format names.
            {"CAF 16-bit", audio::kAudioFileCAFType, Export::kSourceEncoding, SF_FORMAT_CAF | SF_FORMAT_PCM_16},
            {"W64 16-bit", audio::kAudioFileWave64Type, Export::kSourceEncoding, SF_FORMAT_W64 | SF_FORMAT_PCM_16},
        };
        std::printf("%ld min of 16 channels at 48 kHz, best of 3:\n", wideMinutes);
        for (const Format& f : formats) {
            const std::string ours = dir + "/ours", theirs = dir + "/theirs";
            double best = 1e9, direct = 1e9;
            for (int round = 0; round < 3; ++round) {
                std::fflush(stdout);
                const int saved = dup(fileno(stdout));
                dup2(fileno(quiet), fileno(stdout));
                best = std::min(best, secondsOf([&] { return exportTo(store.get(), ours, f.type, f.code); }));
                std::fflush(stdout);
                dup2(saved, fileno(stdout));
                ::close(saved);
                std::filesystem::remove(ours);
                direct = std::min(direct, secondsOf([&] { return libsndfileDirect(store.get(), theirs, f.sf); }));
                std::filesystem::remove(theirs);
            }
            std::printf("  %-12s export %.3f s, libsndfile directly %.3f s: %.2fx\n", f.name, best, direct,
                        best / direct);
        }
    }
    std::fclose(quiet);
    return 0;
}
