// Editing a long document: delete, paste and duplicate of one second in the
// middle, and undoing each, on a stereo 44.1 kHz document of an hour (by
// default). Each step runs through the document as a menu command does (the
// store, the undo history, the summaries from the edit point, the playback
// length); reports its wall time and the peak resident memory it added
// (VmHWM, reset before every step through /proc/self/clear_refs), against
// the size of one channel.
//
//   edit_bench [minutes]     (default 60: 158,760,000 stereo frames)
#include "bench/Memory.h"
#include "document/ZQAudioFileDocument.h"
#include "platform/base/Values.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sndfile.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using zqbench::resetPeak;
using zqbench::statusKB;

void measure(const char* name, const std::function<bool()>& step, double channelMB) {
    resetPeak();
    const long before = statusKB("VmRSS:");
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = step();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long added = statusKB("VmHWM:") - before;
    std::printf("%-22s %s %7.3f s   peak +%7.1f MB (%.2f of one channel)\n", name, ok ? "ok    " : "FAILED", seconds,
                added / 1024.0, added / 1024.0 / channelMB);
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
    std::remove(path.c_str());
    rmdir(dir);
    if (!doc->fileHasLoaded()) {
        std::printf("could not open the document\n");
        return 1;
    }
    const double channelMB = double(frames) * 8 / (1024.0 * 1024.0);
    std::printf("%ld minutes, 2 channels, %ld frames; one channel %.1f MB, resident %.1f MB\n", minutes, frames,
                channelMB, statusKB("VmRSS:") / 1024.0);
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
    doc->close();
    return 0;
}
