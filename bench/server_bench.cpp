// Playback through a real sound server (a private PulseAudio with a 48 kHz
// null sink, reached through PortAudio's default output and recorded from
// the sink's monitor), as a user on a desktop meets it:
//  1. Play to sound and Stop to silence, median and worst of 20, counted in
//     frames of the monitor's own timeline (so the test program's thread
//     scheduling is not in the figure), beside the device's reported latency.
//  2. Gaps in 20 plays of 5 s each while two other processes keep both cores
//     busy, and the underruns the output counted.
//  3. CPU of this process while a document is open and idle (after the
//     device has gone to rest), and while stereo and 16-channel documents
//     play, and of the server meanwhile.
//   server_bench [plays]   (default 20)
#include "bench/HeadlessDocuments.h"
#include "document/HeadlessWindowSide.h"
#include "document/Termination.h"
#include "playback/OutputStream.h"
#include "support/SoundServer.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::Ref;
using zqbench::spinFor;
using zqbench::spinUntil;

namespace {

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor seconds of another process so far (utime + stime).
double otherCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::stoull(f);
        if (i == 15) stime = std::stoull(f);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

pid_t serverPid() {
    FILE* p = popen("pgrep -n -x pulseaudio", "r");
    if (!p) return -1;
    int pid = -1;
    if (std::fscanf(p, "%d", &pid) != 1) pid = -1;
    pclose(p);
    return pid;
}

bool writeFile(const std::string& path, int channels, long frames) {
    SF_INFO info{};
    info.samplerate = testsupport::kServerRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<float> block(static_cast<std::size_t>(channels) * 4800);
    for (long at = 0; at < frames;) {
        const long n = std::min<long>(4800, frames - at);
        for (long k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c)
                block[static_cast<std::size_t>(k * channels + c)] = static_cast<float>(
                    0.3 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(at + k) / 48000.0) + 0.01);
        sf_writef_float(f, block.data(), n);
        at += n;
    }
    return sf_close(f) == 0;
}

struct Stats {
    std::vector<double> v;
    double median() {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
    double worst() { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
};

// Turns the event loop for `seconds` without a timer of its own (spinFor
// wakes every 20 ms, which would be counted as the program's cost).
void waitQuietly(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

bool isPlaying(ZQAudioFileDocument* doc) {
    return doc->audioFileDocumentTransportCommandReceiver()->isPlaying();
}

// Silent runs longer than a millisecond between the first and last sound.
int gapsIn(const std::vector<float>& heard) {
    const long frames = static_cast<long>(heard.size() / 2);
    long first = 0, last = frames - 1;
    while (first < frames && heard[2 * first] == 0.0f)
        ++first;
    while (last > first && heard[2 * last] == 0.0f)
        --last;
    int gaps = 0;
    long run = 0;
    for (long i = first; i <= last; ++i) {
        run = heard[2 * i] == 0.0f ? run + 1 : 0;
        if (run == 48) ++gaps;
    }
    return gaps;
}

// Two processes that keep both cores busy until killed.
std::vector<pid_t> loadBothCores() {
    std::vector<pid_t> pids;
    for (int i = 0; i < 2; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            volatile unsigned long x = 0;
            for (;;)
                x = x + 1;
        }
        pids.push_back(pid);
    }
    return pids;
}

} // namespace

int main(int argc, char** argv) {
    const int plays = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QCoreApplication app(argc, argv);
    ZQHeadlessWindowSide side;
    setDocumentWindowSide(&side);
    unsetenv("ZQ_AUDIO_OUTPUT");
    if (!testsupport::SoundServer::available()) {
        std::printf("server_bench: no PulseAudio on this machine\n");
        return 0;
    }
    testsupport::SoundServer server;
    if (!server.start()) {
        std::fprintf(stderr, "server_bench: the sound server did not start\n");
        return 1;
    }
    char dirTemplate[] = "/tmp/zq-server-bench-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string stereo = dir + "/stereo.wav", sixteen = dir + "/sixteen.wav";
    writeFile(stereo, 2, 48000L * 5);
    writeFile(sixteen, 16, 48000L * 5);
    Ref<ZQAudioFileDocument> doc = zqbench::openDocument(stereo);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();

    // 1. Play to sound, Stop to silence.
    Stats start, stop;
    double latency = 0;
    for (int i = 0; i < plays; ++i) {
        testsupport::ServerRecording recording(server);
        spinUntil([&] { return recording.framesHeard() > 4800; });
        spinFor(0.8); // the device rests again between presses, as after any pause
        const std::size_t pressed = recording.framesHeard();
        t->perform_GotoStart(nullptr);
        t->perform_Play(nullptr);
        spinFor(0.5);
        const std::size_t stopPressed = recording.framesHeard();
        t->perform_Stop(nullptr);
        spinFor(0.5);
        recording.stop();
        const std::vector<float> heard = recording.heard();
        long first = -1, last = -1;
        for (long k = static_cast<long>(pressed); k < static_cast<long>(heard.size() / 2); ++k)
            if (heard[2 * k] != 0.0f) {
                if (first < 0) first = k;
                last = k;
            }
        if (first < 0) {
            std::printf("play %d: nothing heard\n", i);
            continue;
        }
        start.v.push_back(static_cast<double>(first - static_cast<long>(pressed)) / 48.0);
        stop.v.push_back(static_cast<double>(last - static_cast<long>(stopPressed)) / 48.0);
        auto* s = ZQ::AudioStream::OutputStream::findOrCreate(48000, ZQ::Num::Count(2ull));
        if (s && s->audioQueue()) latency = s->audioQueue()->deviceLatency() * 1000.0;
    }
    std::printf("Play to sound:    median %.1f ms, worst %.1f ms (of %zu)\n", start.median(), start.worst(),
                start.v.size());
    std::printf("Stop to silence:  median %.1f ms, worst %.1f ms\n", stop.median(), stop.worst());
    std::printf("Device latency reported: %.1f ms\n", latency);

    // 2. Gaps under load.
    {
        auto* s = ZQ::AudioStream::OutputStream::findOrCreate(48000, ZQ::Num::Count(2ull));
        const std::uint64_t underrunsBefore = s ? s->underruns() : 0;
        const std::vector<pid_t> load = loadBothCores();
        int withGap = 0, gaps = 0;
        for (int i = 0; i < plays; ++i) {
            testsupport::ServerRecording recording(server);
            spinUntil([&] { return recording.framesHeard() > 4800; });
            t->perform_GotoStart(nullptr);
            t->perform_Play(nullptr);
            spinUntil([&] { return !isPlaying(doc.get()); });
            spinFor(0.3);
            recording.stop();
            const int g = gapsIn(recording.heard());
            gaps += g;
            withGap += g > 0;
        }
        for (pid_t p : load) {
            kill(p, SIGKILL);
            waitpid(p, nullptr, 0);
        }
        s = ZQ::AudioStream::OutputStream::findOrCreate(48000, ZQ::Num::Count(2ull));
        std::printf("Under load (2 busy processes): %d of %d plays of 5 s with a gap (%d gaps), %llu underruns\n",
                    withGap, plays, gaps, static_cast<unsigned long long>(s ? s->underruns() - underrunsBefore : 0));
    }

    // 3. CPU idle and playing.
    const pid_t serverProcess = serverPid();
    spinFor(1.5); // the device goes to rest
    double c0 = processCpuSeconds(), s0 = otherCpuSeconds(serverProcess);
    waitQuietly(10.0);
    double c1 = processCpuSeconds(), s1 = otherCpuSeconds(serverProcess);
    std::printf("Idle, a document open: %.2f %% of a core (server %.2f %%)\n", (c1 - c0) * 10.0, (s1 - s0) * 10.0);
    for (const std::string& file : {stereo, sixteen}) {
        Ref<ZQAudioFileDocument> d = file == stereo ? doc : zqbench::openDocument(file);
        d->audioFileDocumentTransportController()->perform_GotoStart(nullptr);
        d->audioFileDocumentTransportController()->perform_Play(nullptr);
        spinFor(0.5);
        c0 = processCpuSeconds(), s0 = otherCpuSeconds(serverProcess);
        waitQuietly(4.0);
        c1 = processCpuSeconds(), s1 = otherCpuSeconds(serverProcess);
        std::printf("Playing %s: %.2f %% of a core (server %.2f %%)\n", file == stereo ? "stereo" : "16 channels",
                    (c1 - c0) * 25.0, (s1 - s0) * 25.0);
        spinUntil([&] { return !isPlaying(d.get()); });
        if (d.get() != doc.get()) d->close();
    }
    doc->close();
    std::system(("rm -rf '" + dir + "'").c_str());
    ZQ::terminateApplication();
    return 0;
}
