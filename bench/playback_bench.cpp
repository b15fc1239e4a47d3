// The playback engine's cost and robustness, with the null output (real-time
// clock, no device):
//  1. CPU time of the stream thread per second of 48 kHz stereo audio with
//     1, 4 and 16 playing sources on one stream (from the thread's own
//     scheduler statistics, nanoseconds), each metered; then 16 sources
//     looping a 0.1 s selection (a seam every 4800 frames), and one
//     16-channel document.
//  2. Underruns over a 60-second playback while two busy threads load both
//     cores.
//   playback_bench [seconds-for-2]   (default 60)
#include "bench/HeadlessDocuments.h"
#include "document/HeadlessWindowSide.h"
#include "document/Termination.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "platform/base/Values.h"
#include "playback/AudioFileDocumentOutputSource.h"
#include "playback/OutputStream.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <sndfile.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using zqbench::spinFor;

// Nanoseconds on the processor so far of the first thread named like `prefix`.
long long threadCpuNs(const std::string& prefix) {
    DIR* d = opendir("/proc/self/task");
    if (!d) return -1;
    long long ns = -1;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind(prefix, 0) != 0) continue;
        std::ifstream sched(base + "/schedstat");
        sched >> ns;
        break;
    }
    closedir(d);
    return ns;
}

} // namespace

int main(int argc, char** argv) {
    const double loadedSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    QCoreApplication app(argc, argv);
    ZQHeadlessWindowSide side;
    setDocumentWindowSide(&side);
    char dir[] = "/tmp/zqplaybench-XXXXXX";
    if (!mkdtemp(dir)) return 1;

    // 1. Cost per second of audio.
    const std::string file = std::string(dir) + "/s.wav";
    if (!zqbench::writeStereoFile(file, 48000, 48000L * 30)) return 1;
    std::vector<platform::Ref<ZQAudioFileDocument>> docs;
    for (int i = 0; i < 16; ++i)
        docs.push_back(zqbench::openDocument(file));
    spinFor(0.5); // the stream is running (silence)
    const double window = 4.0;
    std::printf("stream thread CPU per second of 48 kHz stereo audio (null output, %.0f s each):\n", window);
    for (int playing : {0, 1, 4, 16}) {
        for (int i = 0; i < playing; ++i) {
            docs[i]->audioFileDocumentTransportController()->perform_GotoStart(nullptr);
            docs[i]->audioFileDocumentTransportController()->perform_Play(nullptr);
        }
        spinFor(0.2);
        const long long before = threadCpuNs("ZQASThread:4800");
        spinFor(window);
        const long long after = threadCpuNs("ZQASThread:4800");
        for (int i = 0; i < playing; ++i)
            docs[i]->audioFileDocumentTransportController()->perform_Stop(nullptr);
        std::printf("  %2d source%s  %8.1f us per second of audio (%.3f %% of one core)\n", playing,
                    playing == 1 ? " " : "s", (after - before) / window / 1000.0, (after - before) / window / 1e7);
    }
    // Sixteen sources looping a short selection: the seam costs nothing.
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(true);
    for (auto& d : docs)
        d->playSelection(48000, 48000 + 4799);
    spinFor(0.2);
    {
        const long long before = threadCpuNs("ZQASThread:4800");
        spinFor(window);
        const long long after = threadCpuNs("ZQASThread:4800");
        std::printf("  16 sources looping 0.1 s  %8.1f us per second of audio (%.3f %% of one core)\n",
                    (after - before) / window / 1000.0, (after - before) / window / 1e7);
    }
    for (auto& d : docs)
        d->audioFileDocumentTransportController()->perform_Stop(nullptr);
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(false);
    for (auto& d : docs)
        d->close();
    docs.clear();
    // One document of 16 channels, mixed down to stereo and metered.
    const std::string wide = std::string(dir) + "/w.wav";
    if (!zqbench::writeFile(wide, 16, 48000, 48000L * 30)) return 1;
    {
        platform::Ref<ZQAudioFileDocument> d = zqbench::openDocument(wide);
        spinFor(0.3);
        d->audioFileDocumentTransportController()->perform_Play(nullptr);
        spinFor(0.2);
        const long long before = threadCpuNs("ZQASThread:4800");
        spinFor(window);
        const long long after = threadCpuNs("ZQASThread:4800");
        std::printf("  one 16-channel document  %8.1f us per second of audio (%.3f %% of one core)\n",
                    (after - before) / window / 1000.0, (after - before) / window / 1e7);
        d->close();
    }
    unlink(wide.c_str());

    // 2. Underruns with both cores busy.
    const std::string longFile = std::string(dir) + "/long.wav";
    if (!zqbench::writeStereoFile(longFile, 44100, static_cast<long>(44100 * (loadedSeconds + 1)))) return 1;
    platform::Ref<ZQAudioFileDocument> doc = zqbench::openDocument(longFile);
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    for (int i = 0; i < 2; ++i)
        load.emplace_back([&] {
            volatile double x = 1;
            while (!stop.load(std::memory_order_relaxed))
                x = x * 1.0000001 + 1e-9;
        });
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(44100, ZQ::Num::Count(2ull));
    spinFor(0.3);
    const std::uint64_t underrunsBefore = stream ? stream->underruns() : 0;
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    spinFor(loadedSeconds);
    const std::uint64_t underruns = stream ? stream->underruns() - underrunsBefore : 0;
    stop = true;
    for (auto& t : load)
        t.join();
    std::printf("underruns over %.0f s of 44.1 kHz stereo playback with both cores busy: %llu\n", loadedSeconds,
                static_cast<unsigned long long>(underruns));
    doc->close();
    ZQ::terminateApplication();
    unlink(file.c_str());
    unlink(longFile.c_str());
    rmdir(dir);
    return 0;
}
