// A private PulseAudio server for one test process, and what its null sink
// played, recorded from the sink's monitor through the Pulse simple API.
//
// The server gets a folder of its own and a 48 kHz float stereo null sink
// ("zqtest", the default sink); this process's PULSE_SERVER points at it, so
// ALSA's default device (the pulse plugin) and with it PortAudio's default
// output reach it, as on a desktop. The server can be killed and started
// again at the same address.
#pragma once

#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
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
        const std::string sink = "module-null-sink sink_name=zqtest rate=48000 format=float32le channels=2";
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

// Records the null sink's monitor from construction to stop(), and keeps a
// silent stream playing meanwhile so that the sink runs (a monitor of an
// idle sink delivers nothing, and would lose the first frames of a sound).
class ServerRecording {
public:
    explicit ServerRecording(const SoundServer& server) : address_(server.address()) {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kServerRate, 2};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = 480 * 8; // 10 ms
        attr.tlength = 4800 * 8;
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        int error = 0;
        keepAlive_ = pa_simple_new(address_.c_str(), "zq-tests", PA_STREAM_PLAYBACK, "zqtest", "silence", &spec,
                                   nullptr, &attr, &error);
        record_ = pa_simple_new(address_.c_str(), "zq-tests", PA_STREAM_RECORD, "zqtest.monitor", "monitor", &spec,
                                nullptr, &attr, &error);
        if (!keepAlive_ || !record_) return;
        silence_ = std::thread([this] {
            std::vector<float> zeros(480 * 2, 0.0f);
            while (!stop_.load())
                if (pa_simple_write(keepAlive_, zeros.data(), zeros.size() * sizeof(float), nullptr) < 0) break;
        });
        recorder_ = std::thread([this] {
            std::vector<float> chunk(480 * 2);
            while (!stop_.load()) {
                if (pa_simple_read(record_, chunk.data(), chunk.size() * sizeof(float), nullptr) < 0) break;
                std::lock_guard<std::mutex> g(lock_);
                heard_.insert(heard_.end(), chunk.begin(), chunk.end());
            }
        });
    }
    ~ServerRecording() { stop(); }

    bool isRecording() const { return record_ && keepAlive_; }
    // Interleaved stereo frames heard so far.
    std::vector<float> heard() const {
        std::lock_guard<std::mutex> g(lock_);
        return heard_;
    }
    std::size_t framesHeard() const {
        std::lock_guard<std::mutex> g(lock_);
        return heard_.size() / 2;
    }
    void stop() {
        if (stop_.exchange(true)) return;
        // A server that went away ends both loops with an error.
        if (silence_.joinable()) silence_.join();
        if (recorder_.joinable()) recorder_.join();
        if (keepAlive_) pa_simple_free(keepAlive_);
        if (record_) pa_simple_free(record_);
        keepAlive_ = record_ = nullptr;
    }

private:
    std::string address_;
    pa_simple* keepAlive_ = nullptr;
    pa_simple* record_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread silence_, recorder_;
    mutable std::mutex lock_;
    std::vector<float> heard_;
};

} // namespace testsupport
