// Opening long files in the real program, as a user pays for it: zqaudio is
// started on each file (ZQ_STARTUP_PROBE=complete) and timed from the spawn
// to its first window and to a complete window (every column of every
// waveform drawn from the finished summaries); the memory it owns (RssAnon
// of /proc/PID/status, sampled every 5 ms) and its peak resident size
// (VmHWM, the file's own pages included) are read meanwhile. Each file is
// also read once as cat reads it, warm, for the ratio.
//
//   open_bench [runs]   (default 3; the median is reported)
// Files, made in /var/tmp and removed at the end:
//   an hour of stereo 16-bit 44.1 kHz WAV; ten minutes of 16 channels of
//   24-bit 48 kHz WAV; and a day-long stereo 24-bit RF64 of 5,000,000,000
//   frames (30 GB, sparse: its samples are silence and cost no disk).
#include "support/Fixtures.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

long statusKB(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

struct Run {
    double window = -1, complete = -1; // ms
    long rssAnonMB = 0, hwmMB = 0;
};

Run runOnce(const std::string& program, const std::string& file) {
    int out[2];
    Run r;
    if (pipe(out) != 0) return r;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args{const_cast<char*>(program.c_str()), const_cast<char*>(file.c_str()), nullptr};
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ) != 0) return r;
    close(out[1]);
    std::string seen;
    long anon = 0;
    auto since = [&t0] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    };
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 5) > 0) {
            char buffer[256];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0) break;
            seen.append(buffer, std::size_t(n));
            if (r.window < 0 && seen.find("first window shown") != std::string::npos) r.window = since();
            if (seen.find("window complete") != std::string::npos) {
                r.complete = since();
                anon = std::max(anon, statusKB(pid, "RssAnon:"));
                r.hwmMB = statusKB(pid, "VmHWM:") / 1024;
                break;
            }
        }
        anon = std::max(anon, statusKB(pid, "RssAnon:"));
        if (since() > 600000) break;
    }
    r.rssAnonMB = anon / 1024;
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return r;
}

double catSeconds(const std::string& path) {
    std::vector<char> buffer(1 << 20);
    auto once = [&] {
        const int fd = open(path.c_str(), O_RDONLY);
        while (read(fd, buffer.data(), buffer.size()) > 0) {
        }
        close(fd);
    };
    once(); // warm
    const auto t0 = std::chrono::steady_clock::now();
    once();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double sizeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? double(st.st_size) : 0;
}

void report(const char* title, const std::string& program, const std::string& file, int runs, bool sparse) {
    std::vector<Run> all;
    for (int i = 0; i < runs; ++i)
        all.push_back(runOnce(program, file));
    auto median = [&](auto field) {
        std::vector<double> v;
        for (const Run& r : all)
            v.push_back(double(field(r)));
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double window = median([](const Run& r) { return r.window; });
    const double complete = median([](const Run& r) { return r.complete; });
    const double anon = median([](const Run& r) { return r.rssAnonMB; });
    const double hwm = median([](const Run& r) { return r.hwmMB; });
    const double bytes = sizeOf(file);
    std::printf("\n%s (%.2f GB)\n", title, bytes / 1e9);
    std::printf("  first window        %8.0f ms\n", window);
    std::printf("  complete window     %8.0f ms  (summaries at %.2f GB/s)\n", complete,
                complete > window ? bytes / ((complete - window) / 1e3) / 1e9 : 0.0);
    std::printf("  memory owned        %8.0f MB peak RssAnon, VmHWM %.0f MB\n", anon, hwm);
    if (!sparse) {
        const double cat = catSeconds(file);
        std::printf("  cat FILE            %8.0f ms  (the complete window takes %.1fx)\n", cat * 1e3,
                    complete / (cat * 1e3));
    } else {
        std::printf("  (sparse: every page of silence is made by the kernel as it is read)\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const std::string program = ZQAUDIO_PATH;
    setenv("ZQ_STARTUP_PROBE", "complete", 1);
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char dir[] = "/var/tmp/zqopen-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string hour = std::string(dir) + "/hour.wav", sixteen = std::string(dir) + "/sixteen.wav",
                      day = std::string(dir) + "/day.wav";
    auto noise = [](int c, long k) {
        std::uint32_t x = std::uint32_t(k) * 2654435761u ^ std::uint32_t(c + 1) * 40503u;
        x ^= x >> 15;
        return 0.5 * std::sin(double(k) * 0.01) + (double(x % 65536) / 65536.0 - 0.5) * 0.2;
    };
    if (!testsupport::writeFixture(hour, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 3600L * 44100, noise) ||
        !testsupport::writeFixture(sixteen, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 16, 48000, 600L * 48000, noise) ||
        !testsupport::writeSparseRf64(day, 2, 48000, 5000000000ull, std::vector<std::int32_t>(96000, 1000), 24))
        return 1;
    std::printf("zqaudio on long files, median of %d runs (%s)\n", runs,
                getenv("QT_QPA_PLATFORM") ? "offscreen" : "on a display");
    report("an hour of stereo 16-bit", program, hour, runs, false);
    report("ten minutes of 16 channels, 24-bit", program, sixteen, runs, false);
    report("a day of stereo 24-bit RF64, 5,000,000,000 frames", program, day, 1, true);
    unlink(hour.c_str());
    unlink(sixteen.c_str());
    unlink(day.c_str());
    rmdir(dir);
    return 0;
}
