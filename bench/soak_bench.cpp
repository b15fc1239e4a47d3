// A long session: one document plays through the null output (a real-time
// clock) for ten minutes while other documents open and close every few
// seconds. Reports, minute by minute and at the end, the stream's underruns
// (expected 0) and the resident memory against the level after the first
// open-and-close cycle (expected no growth).
//
//   soak_bench [minutes] [seconds-per-cycle]   (default 10 and 3)
#include "bench/HeadlessDocuments.h"
#include "bench/Memory.h"
#include "document/HeadlessWindowSide.h"
#include "document/Termination.h"
#include "playback/OutputStream.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const double cycle = argc > 2 ? std::atof(argv[2]) : 3.0;
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    QCoreApplication app(argc, argv);
    ZQHeadlessWindowSide side;
    setDocumentWindowSide(&side);
    char dir[] = "/tmp/zqsoak-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string played = std::string(dir) + "/played.wav";
    const std::string others[] = {std::string(dir) + "/a.wav", std::string(dir) + "/b.wav"};
    if (!zqbench::writeStereoFile(played, 44100, static_cast<long>(44100 * (minutes * 60 + 5))) ||
        !zqbench::writeStereoFile(others[0], 44100, 44100L * 120) ||
        !zqbench::writeStereoFile(others[1], 48000, 48000L * 60))
        return 1;

    platform::Ref<ZQAudioFileDocument> playing = zqbench::openDocument(played);
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(44100, ZQ::Num::Count(2ull));
    zqbench::spinFor(0.3);
    const std::uint64_t underrunsAtStart = stream ? stream->underruns() : 0;
    playing->audioFileDocumentTransportController()->perform_Play(nullptr);

    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    platform::Ref<ZQAudioFileDocument> open;
    long cycles = 0, peakGrowthKB = 0;
    long baselineKB[2] = {-1, -1}; // with each of the two files open, after its first time
    double nextReport = 60;
    while (elapsed() < minutes * 60) {
        // Close the last one, open the next: the memory goes and comes back.
        if (open) open->close();
        open = zqbench::openDocument(others[cycles % 2]);
        ++cycles;
        zqbench::spinFor(cycle);
        const long rss = zqbench::statusKB("VmRSS:");
        long& baseline = baselineKB[(cycles - 1) % 2];
        if (cycles <= 2) baseline = rss; // the first cycle of each file sets its level
        const long growth = rss - baseline;
        peakGrowthKB = std::max(peakGrowthKB, growth);
        if (elapsed() >= nextReport) {
            nextReport += 60;
            std::printf("%5.0f s: %ld cycles, underruns %llu, resident %.1f MB (%+.1f MB since the first cycles)\n",
                        elapsed(), cycles, static_cast<unsigned long long>(stream->underruns() - underrunsAtStart),
                        rss / 1024.0, growth / 1024.0);
            std::fflush(stdout);
        }
    }
    if (open) open->close();
    const long endKB = zqbench::statusKB("VmRSS:");
    const std::uint64_t underruns = stream ? stream->underruns() - underrunsAtStart : 0;
    const bool stillPlaying = playing->presentPlaybackPosition() > 0;
    playing->close();
    std::printf("soak: %.0f s, %ld open-and-close cycles while playing%s\n", elapsed(), cycles,
                stillPlaying ? "" : " (PLAYBACK STOPPED)");
    std::printf("underruns: %llu (expected 0)\n", static_cast<unsigned long long>(underruns));
    std::printf("resident memory with each file open after its first cycle: %.1f and %.1f MB; largest growth since: "
                "%+.1f MB (expected none); at the end, all closed: %.1f MB\n",
                baselineKB[0] / 1024.0, baselineKB[1] / 1024.0, peakGrowthKB / 1024.0, endKB / 1024.0);
    ZQ::terminateApplication();
    for (const std::string& f : {played, others[0], others[1]})
        unlink(f.c_str());
    rmdir(dir);
    return 0;
}
