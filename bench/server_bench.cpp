// Playback through a real sound server (a private PulseAudio whose 48 kHz
// pipe sink writes every frame it plays, in real time; reached through the
// program's default output, the server's own API), as a user on a desktop
// meets it:
//  1. Idle with a document open and never played: CPU of this process and of
//     the server, and whether the sink could suspend.
//  2. Play to sound and Stop to silence, median and worst of 20, counted in
//     frames of the sink's own timeline (so the test program's thread
//     scheduling is not in the figure), beside the latency the server reports.
//  3. The play line against the sound: the position shown against the last
//     frame the sink played, at moments while playing.
//  4. Under load (three processes spinning and a fourth writing a file in a
//     loop): plays of 3 s at 8, 44.1, 48 and 96 kHz, whether every frame was
//     heard (the sound's length), gaps, and the server's underflows; then
//     `paplay` under the same load for comparison.
//  5. CPU of this process and of the server while stereo and 16-channel
//     documents play.
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

bool writeFile(const std::string& path, int channels, long frames, int rate = testsupport::kServerRate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<float> block(static_cast<std::size_t>(channels) * 4800);
    for (long at = 0; at < frames;) {
        const long n = std::min<long>(4800, frames - at);
        for (long k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c)
                block[static_cast<std::size_t>(k * channels + c)] =
                    static_cast<float>(0.3 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(at + k) / rate) + 0.01);
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

// The sound in a recording (the files are never silent: a sine over an
// offset): its length in seconds, and silent runs of four frames or more
// within it.
struct Heard {
    double seconds = 0;
    int gaps = 0;
};
Heard soundIn(const std::vector<float>& heard) {
    const long frames = static_cast<long>(heard.size() / 2);
    long first = 0, last = frames - 1;
    while (first < frames && std::fabs(heard[2 * first]) < 1e-4f)
        ++first;
    while (last > first && std::fabs(heard[2 * last]) < 1e-4f)
        --last;
    Heard h;
    if (first >= frames) return h;
    h.seconds = static_cast<double>(last - first + 1) / testsupport::kServerRate;
    long run = 0;
    for (long i = first; i <= last; ++i) {
        run = std::fabs(heard[2 * i]) < 1e-4f ? run + 1 : 0;
        if (run == 4) ++h.gaps;
    }
    return h;
}

// Three processes that keep every core busy and a fourth that writes a file
// over and over, until killed.
std::vector<pid_t> startLoad(const std::string& dir) {
    std::vector<pid_t> pids;
    for (int i = 0; i < 4; ++i) {
        const pid_t pid = fork();
        if (pid == 0 && i < 3) {
            volatile unsigned long x = 0;
            for (;;)
                x = x + 1;
        }
        if (pid == 0) {
            std::vector<char> block(1 << 20, 1);
            for (;;) {
                FILE* f = std::fopen((dir + "/load.bin").c_str(), "wb");
                for (int k = 0; f && k < 200; ++k)
                    std::fwrite(block.data(), 1, block.size(), f);
                if (f) {
                    std::fflush(f);
                    fsync(fileno(f));
                    std::fclose(f);
                }
            }
        }
        pids.push_back(pid);
    }
    return pids;
}
void stopLoad(const std::vector<pid_t>& pids) {
    for (pid_t p : pids) {
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
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
    const pid_t serverProcess = serverPid();
    server.pactl("load-module module-suspend-on-idle timeout=1");
    Ref<ZQAudioFileDocument> doc = zqbench::openDocument(stereo);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();

    // 1. Idle, never played.
    spinFor(1.5);
    double c0 = processCpuSeconds(), s0 = otherCpuSeconds(serverProcess);
    waitQuietly(10.0);
    double c1 = processCpuSeconds(), s1 = otherCpuSeconds(serverProcess);
    const std::string sinks = server.pactl("list short sinks");
    std::printf("Idle, a document open and never played: %.2f %% of a core (server %.2f %%), the sink %s\n",
                (c1 - c0) * 10.0, (s1 - s0) * 10.0,
                sinks.find("SUSPENDED") != std::string::npos ? "suspended" : "awake");
    // A suspended pipe sink writes nothing: the recordings below need it awake.
    server.pactl("unload-module module-suspend-on-idle");

    // 2. Play to sound, Stop to silence.
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
        auto* s = ZQ::AudioStream::OutputStream::findOrCreate(48000, ZQ::Num::Count(2ull));
        if (s && s->audioQueue()) latency = s->audioQueue()->deviceLatency() * 1000.0;
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
    }
    std::printf("Play to sound:    median %.1f ms, worst %.1f ms (of %zu)\n", start.median(), start.worst(),
                start.v.size());
    std::printf("Stop to silence:  median %.1f ms, worst %.1f ms\n", stop.median(), stop.worst());
    std::printf("Latency the server reports while playing: %.1f ms\n", latency);

    // 3. The line against the sound.
    {
        const std::string counting = dir + "/count.wav";
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(counting.c_str(), SFM_WRITE, &info);
        std::vector<float> frames(2 * 48000 * 4);
        for (std::size_t k = 0; k < frames.size() / 2; ++k) {
            frames[2 * k] = 0.5f;
            frames[2 * k + 1] = static_cast<float>((k + 1) / 1048576.0);
        }
        sf_writef_float(f, frames.data(), 48000 * 4);
        sf_close(f);
        Ref<ZQAudioFileDocument> d = zqbench::openDocument(counting);
        Stats error;
        for (int i = 0; i < std::max(1, plays / 5); ++i) {
            testsupport::ServerRecording recording(server);
            spinUntil([&] { return recording.framesHeard() > 4800; });
            d->audioFileDocumentTransportController()->perform_GotoStart(nullptr);
            d->audioFileDocumentTransportController()->perform_Play(nullptr);
            spinFor(0.4);
            for (int k = 0; k < 25; ++k) {
                const std::size_t heardThen = recording.catchUp();
                const double shown = static_cast<double>(d->presentPlaybackPosition());
                const std::vector<float> heard = recording.heard();
                if (heardThen >= 2)
                    error.v.push_back(std::fabs(shown - (heard[heardThen - 1] * 1048576.0 - 1.0)) / 48.0);
                spinFor(0.1);
            }
            d->audioFileDocumentTransportController()->perform_Stop(nullptr);
            spinFor(0.3);
        }
        std::printf("Play line against the frame the sink played: median %.1f ms, worst %.1f ms (%zu moments)\n",
                    error.median(), error.worst(), error.v.size());
        d->close();
    }

    // 4. Every rate under load, and paplay beside it.
    {
        const std::vector<pid_t> load = startLoad(dir);
        spinFor(1.0);
        for (const int rate : {8000, 44100, 48000, 96000}) {
            const std::string file = dir + "/load" + std::to_string(rate) + ".wav";
            writeFile(file, 2, rate * 3L, rate);
            Ref<ZQAudioFileDocument> d = zqbench::openDocument(file);
            auto* s = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(2ull));
            const std::uint64_t underrunsBefore = s ? s->underruns() : 0;
            int whole = 0, gaps = 0, withGap = 0;
            double shortest = 1e9;
            for (int i = 0; i < plays; ++i) {
                testsupport::ServerRecording recording(server);
                spinUntil([&] { return recording.framesHeard() > 4800; });
                d->audioFileDocumentTransportController()->perform_GotoStart(nullptr);
                d->audioFileDocumentTransportController()->perform_Play(nullptr);
                spinUntil([&] { return !isPlaying(d.get()); });
                spinFor(0.4);
                recording.stop();
                const Heard h = soundIn(recording.heard());
                gaps += h.gaps;
                withGap += h.gaps > 0;
                whole += std::fabs(h.seconds - 3.0) < 0.002;
                shortest = std::min(shortest, h.seconds);
            }
            s = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(2ull));
            std::printf("Under load, %6d Hz: %d of %d plays of 3 s heard whole (shortest %.4f s), %d with a gap "
                        "(%d gaps), %llu underflows\n",
                        rate, whole, plays, shortest, withGap, gaps,
                        static_cast<unsigned long long>(s ? s->underruns() - underrunsBefore : 0));
            d->close();
            int paWhole = 0, paGaps = 0;
            for (int i = 0; i < plays; ++i) {
                testsupport::ServerRecording recording(server);
                spinUntil([&] { return recording.framesHeard() > 4800; });
                std::system(("PULSE_SERVER=" + server.address() + " paplay '" + file + "'").c_str());
                spinFor(0.3);
                recording.stop();
                const Heard h = soundIn(recording.heard());
                paGaps += h.gaps > 0;
                paWhole += std::fabs(h.seconds - 3.0) < 0.002;
            }
            std::printf("   paplay, same load:  %d of %d heard whole, %d with a gap\n", paWhole, plays, paGaps);
        }
        stopLoad(load);
    }

    // 5. CPU while playing.
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
