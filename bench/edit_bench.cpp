// Editing a long document: delete, paste and duplicate of one second in the
// middle, and undoing each, then Select All + Cut, Paste and Undo of the
// whole document, then Process > Gain and Normalise (loudness) of the whole
// document and their undo, on a stereo 44.1 kHz document of an hour (by
// default).
// Each step runs through the document as a menu command does (the store,
// the undo history, the clipboard, the playback length); reports its wall
// time and the most the memory the process owns (RssAnon, sampled every
// millisecond through the step) rose, against the size of one channel as
// doubles (what a step that copied samples would take).
//
//   edit_bench [minutes]     (default 60: 158,760,000 stereo frames)
#include "bench/Memory.h"
#include "document/AudioFileDocumentClipboard.h"
#include "document/ZQAudioFileDocument.h"
#include "platform/base/Values.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sndfile.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using zqbench::statusKB;

void measure(const char* name, const std::function<bool()>& step, double channelMB) {
    const long before = statusKB("RssAnon:");
    std::atomic<bool> done{false};
    std::atomic<long> peak{before};
    std::thread sampler([&] {
        while (!done.load()) {
            peak.store(std::max(peak.load(), statusKB("RssAnon:")));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = step();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    done.store(true);
    sampler.join();
    const long added = std::max(0L, std::max(peak.load(), statusKB("RssAnon:")) - before);
    std::printf("%-22s %s %8.3f ms  owned +%7.1f MB (%.3f of one channel)\n", name, ok ? "ok    " : "FAILED",
                seconds * 1e3, added / 1024.0, added / 1024.0 / channelMB);
}

} // namespace

int main(int argc, char** argv) {
    const long minutes = argc > 1 ? std::atol(argv[1]) : 60;
    const long rate = 44100, frames = minutes * 60 * rate;
    char dir[] = "/tmp/zqeditbench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string path = std::string(dir) + "/long.wav";
    {
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = int(rate);
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!f) return 1;
        std::vector<short> block(2 * 65536);
        for (long at = 0; at < frames; at += 65536) {
            const long n = std::min<long>(65536, frames - at);
            for (long k = 0; k < n; ++k) {
                block[std::size_t(2 * k)] = short(((at + k) * 7) % 30000 - 15000);
                block[std::size_t(2 * k + 1)] = short(((at + k) * 13) % 30000 - 15000);
            }
            sf_writef_short(f, block.data(), n);
        }
        sf_close(f);
    }
    auto doc = platform::Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    auto url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    doc->readFromURL_Offline(url.get());
    // Gone from the folder; the document keeps the file it opened.
    std::remove(path.c_str());
    rmdir(dir);
    if (!doc->fileHasLoaded()) {
        std::printf("could not open the document\n");
        return 1;
    }
    const double channelMB = double(frames) * 8 / (1024.0 * 1024.0);
    std::printf("%ld minutes, 2 channels, %ld frames; one channel as doubles %.1f MB; the process owns %.1f MB\n",
                minutes, frames, channelMB, statusKB("RssAnon:") / 1024.0);
    using ZQ::Num::Count;
    const std::uint64_t mid = std::uint64_t(frames / 2), second = std::uint64_t(rate);
    const ZQ::Num::SampleRange oneSecond{Count(mid), Count(mid + second - 1)};
    const ZQ::Num::SampleRange insertion{Count(mid), Count(mid)};
    ZQ::SampleDataHolder clip(doc->createCopyDataInRange({Count(0ull), Count(second - 1)}));

    measure(
        "delete 1 s", [&] { return doc->deleteRange(oneSecond); }, channelMB);
    measure(
        "undo delete",
        [&] {
            doc->undo(nullptr);
            return doc->sampleCount(0).v_ == std::uint64_t(frames);
        },
        channelMB);
    measure(
        "paste 1 s (insert)", [&] { return doc->pasteClipboardData(clip, insertion); }, channelMB);
    measure(
        "undo paste",
        [&] {
            doc->undo(nullptr);
            return doc->sampleCount(0).v_ == std::uint64_t(frames);
        },
        channelMB);
    measure(
        "redo paste",
        [&] {
            doc->redo(nullptr);
            return doc->sampleCount(0).v_ == std::uint64_t(frames) + second;
        },
        channelMB);
    measure(
        "duplicate 1 s", [&] { return doc->duplicateRange(oneSecond); }, channelMB);
    measure(
        "undo duplicate",
        [&] {
            doc->undo(nullptr);
            return true;
        },
        channelMB);
    // Processing the whole hour: written to a temporary file, not held.
    const ZQ::Num::SampleRange hour{Count(0ull), Count(doc->sampleCount(0).v_ - 1)};
    measure(
        "gain, the hour",
        [&] {
            return doc->processRange("Gain", {ZQ::RangeProcess::Kind::Gain, 0.5}, hour);
        },
        channelMB);
    measure(
        "undo gain",
        [&] {
            doc->undo(nullptr);
            return true;
        },
        channelMB);
    measure(
        "normalise -23 LUFS", [&] { return doc->normaliseRange(hour, true, -23.0, -1.0); }, channelMB);
    measure(
        "undo normalise",
        [&] {
            doc->undo(nullptr);
            return true;
        },
        channelMB);
    // The whole hour: Select All + Cut (to the clipboard), Paste it back, Undo.
    const std::uint64_t all = doc->sampleCount(0).v_;
    ZQ::SampleDataHolder whole;
    measure(
        "select all + cut",
        [&] {
            return doc->cutRange({Count(0ull), Count(all - 1)});
        },
        channelMB);
    measure(
        "paste the hour",
        [&] {
            return ZQ::AudioFileDocumentClipboard::sharedClipboard().copyData(whole) &&
                   doc->pasteClipboardData(whole, {Count(0ull), Count(0ull)});
        },
        channelMB);
    measure(
        "undo paste",
        [&] {
            doc->undo(nullptr);
            return doc->sampleCount(0).v_ == 0;
        },
        channelMB);
    doc->close();
    return 0;
}
