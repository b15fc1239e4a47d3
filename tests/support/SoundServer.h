// A private PulseAudio server for one test process, and what its sink
// played, frame by frame from the first.
//
// The server gets a folder of its own and a 48 kHz float stereo pipe sink
// ("zqtest", described as "ZQ Test Speakers", the default sink) that plays
// by the system clock and writes every frame it plays to a FIFO, in real
// time. (A null sink's monitor would lose the start of a stream the sink
// rewinds for: a stream that joins, or comes back after running dry.) This
// process's PULSE_SERVER points at the server, so the program's default
// output reaches it as on a desktop. The server can be killed and started
// again at the same address; `pactl` (run()) adds sinks and moves streams.
#pragma once

#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {

inline constexpr int kServerRate = 48000;

class SoundServer {
public:
    SoundServer() {
        char dir[] = "/tmp/zq-server-XXXXXX";
        if (mkdtemp(dir)) dir_ = dir;
        address_ = "unix:" + dir_ + "/native";
        setenv("PULSE_SERVER", address_.c_str(), 1);
    }
    ~SoundServer() {
        kill();
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Whether a server can be run here at all.
    static bool available() { return std::system("command -v pulseaudio > /dev/null 2>&1") == 0; }

    // Starts the server and waits (up to 10 s) until it answers.
    bool start() {
        if (dir_.empty() || pid_ > 0) return false;
        ::unlink(fifo().c_str());
        if (::mkfifo(fifo().c_str(), 0600) != 0) return false;
        const std::string sink = "module-pipe-sink sink_name=zqtest file=" + fifo() +
                                 " rate=48000 format=float32le channels=2 use_system_clock_for_timing=yes"
                                 " sink_properties=\"device.description='ZQ Test Speakers'\"";
        const std::string socket = "module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native";
        const std::string log = "--log-target=file:" + dir_ + "/server.log";
        std::vector<std::string> args = {
            "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-n", log, "-L", sink, "-L",
            socket};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + dir_, "PULSE_RUNTIME_PATH=" + dir_,
                                        "PULSE_STATE_PATH=" + dir_, "HOME=" + dir_};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("XDG_RUNTIME_DIR=", 0) != 0 && std::string(*e).rfind("HOME=", 0) != 0)
                env.push_back(*e);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
            return false;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            if (answers()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // Kills the server at once (as a crash would) and waits for it to go.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        unlink((dir_ + "/native").c_str());
    }
    const std::string& address() const { return address_; }
    // Adds a null sink that the user sees as `description`.
    void addSink(const std::string& name, const std::string& description) const {
        pactl("load-module module-null-sink sink_name=" + name + " \"sink_properties=\\\"device.description='" +
              description + "'\\\"\"");
    }
    // Where the pipe sink writes what it plays.
    std::string fifo() const { return dir_ + "/played"; }
    // Runs `pactl ARGS` against this server; its standard output.
    std::string pactl(const std::string& args) const {
        std::string out;
        if (FILE* p = ::popen(("PULSE_SERVER=" + address_ + " pactl " + args + " 2>&1").c_str(), "r")) {
            char chunk[4096];
            std::size_t n;
            while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0)
                out.append(chunk, n);
            ::pclose(p);
        }
        return out;
    }

private:
    bool answers() const {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kServerRate, 2};
        int error = 0;
        pa_simple* s = pa_simple_new(address_.c_str(), "zq-tests", PA_STREAM_RECORD, "zqtest.monitor", "probe", &spec,
                                     nullptr, nullptr, &error);
        if (!s) return false;
        pa_simple_free(s);
        return true;
    }

    std::string dir_;
    std::string address_;
    pid_t pid_ = -1;
};

// Records what the pipe sink plays from construction to stop(): every
// frame, in real time (what was written before construction is dropped).
class ServerRecording {
public:
    explicit ServerRecording(const SoundServer& server) {
        fd_ = ::open(server.fifo().c_str(), O_RDONLY | O_NONBLOCK);
        if (fd_ < 0) return;
        char stale[65536];
        while (::read(fd_, stale, sizeof stale) > 0) {
        }
        recorder_ = std::thread([this] {
            while (!stop_.load()) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0) continue;
                if (!drain()) std::this_thread::sleep_for(std::chrono::milliseconds(5)); // no writer (yet)
            }
        });
    }
    ~ServerRecording() { stop(); }

    bool isRecording() const { return fd_ >= 0; }
    // Interleaved stereo frames heard so far.
    std::vector<float> heard() const {
        std::lock_guard<std::mutex> g(lock_);
        return heard_;
    }
    // Takes in at once what the sink has written so far, so that the
    // recording's end is the sink's, not where the recorder thread last woke.
    // Returns how many samples (interleaved) were heard by then.
    std::size_t catchUp() {
        std::size_t heard = 0;
        if (fd_ >= 0) drain(&heard);
        return heard;
    }
    std::size_t framesHeard() const {
        std::lock_guard<std::mutex> g(lock_);
        return heard_.size() / 2;
    }
    void stop() {
        if (stop_.exchange(true)) return;
        if (recorder_.joinable()) recorder_.join();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    // Reads what the FIFO holds; false when no writer has it open. `heard`
    // (when given) gets the samples heard, as of the last read.
    bool drain(std::size_t* heard = nullptr) {
        std::lock_guard<std::mutex> g(lock_);
        for (;;) {
            const ssize_t n = ::read(fd_, chunk_.data() + partial_, chunk_.size() - partial_);
            if (heard) *heard = heard_.size();
            if (n == 0) return false;
            if (n < 0) return true; // EAGAIN: all taken
            const std::size_t have = partial_ + static_cast<std::size_t>(n);
            const std::size_t whole = have / 8 * 8;
            const std::size_t at = heard_.size();
            heard_.resize(at + whole / 4);
            std::memcpy(heard_.data() + at, chunk_.data(), whole);
            partial_ = have - whole;
            std::memmove(chunk_.data(), chunk_.data() + whole, partial_);
        }
    }

    int fd_ = -1;
    std::vector<char> chunk_ = std::vector<char>(65536);
    std::size_t partial_ = 0; // bytes of an unfinished frame
    std::atomic<bool> stop_{false};
    std::thread recorder_;
    mutable std::mutex lock_;
    std::vector<float> heard_;
};

} // namespace testsupport
