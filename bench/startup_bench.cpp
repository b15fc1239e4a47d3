// From starting zqaudio on the demo sound to its window on screen: runs the
// program (with ZQ_STARTUP_PROBE, which makes it say when its first window
// is shown and quit) several times and reports each run's time from the
// spawn to that line, with the median and the longest.
//
//   startup_bench [ZQAUDIO DEMO] [runs]   (default: the build's own, 7 runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    const std::string program = argc > 2 ? argv[1] : ZQAUDIO_PATH;
    const std::string demo = argc > 2 ? argv[2] : ZQ_DEMO_SOUND;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 7;
    setenv("ZQ_STARTUP_PROBE", "1", 1);
    if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        int out[2];
        if (pipe(out) != 0) return 1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
        std::vector<char*> args{const_cast<char*>(program.c_str()), const_cast<char*>(demo.c_str()), nullptr};
        const auto t0 = std::chrono::steady_clock::now();
        pid_t pid = 0;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ) != 0) return 1;
        close(out[1]);
        std::string seen;
        char buffer[256];
        double at = -1;
        for (ssize_t n; at < 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;) {
            seen.append(buffer, std::size_t(n));
            if (seen.find("zqaudio: first window shown") != std::string::npos)
                at = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        }
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        posix_spawn_file_actions_destroy(&actions);
        if (at < 0) {
            std::printf("run %d: no window was reported\n", run + 1);
            return 1;
        }
        std::printf("run %d: %.0f ms\n", run + 1, at);
        times.push_back(at);
    }
    std::sort(times.begin(), times.end());
    std::printf("first window of the demo sound: median %.0f ms, longest %.0f ms (%s)\n", times[times.size() / 2],
                times.back(), getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "display");
    return 0;
}
