// The null and capture backends: a thread that takes frames at the real rate
// (the capture one also writes them to a WAV file).
#include "platform/audioout/AudioDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sndfile.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform::audio {

namespace {

class ClockDevice final : public Device {
public:
    ClockDevice(DeviceClient& client, double rate, unsigned channels, SNDFILE* file, std::string name)
        : client_(client), rate_(rate), file_(file), name_(std::move(name)), scratch_(kChunk * channels) {
        thread_ = std::thread([this] { run(); });
    }
    ~ClockDevice() override { close(); }

    bool start() override {
        {
            std::lock_guard<std::mutex> g(lock_);
            resting_ = false;
        }
        wake_.notify_one();
        return true;
    }
    void stop() override {
        std::lock_guard<std::mutex> g(lock_);
        resting_ = true;
    }
    void close() override {
        {
            std::lock_guard<std::mutex> g(lock_);
            if (quit_.exchange(true)) return;
        }
        wake_.notify_one();
        thread_.join();
        if (file_) sf_close(file_);
        file_ = nullptr;
        // A capture that never took a frame leaves no file behind (a WAV
        // without samples would only look like a failed recording).
        if (framesWritten_ == 0 && name_.rfind("capture:", 0) == 0) ::unlink(name_.c_str() + 8);
    }
    bool isAlive(std::string&) const override { return true; }
    void settle() override { std::lock_guard<std::mutex> g(taking_); }
    double sampleRate() const override { return rate_; }
    std::string name() const override { return name_; }

private:
    static constexpr std::uint64_t kChunk = 4096;

    void run() {
        using Clock = std::chrono::steady_clock;
        bool wasPlaying = false;
        Clock::time_point since{};
        std::uint64_t taken = 0;
        while (!quit_.load(std::memory_order_acquire)) {
            {
                // Resting: asleep until started again or closed.
                std::unique_lock<std::mutex> g(lock_);
                if (resting_) {
                    wasPlaying = false;
                    wake_.wait(g, [this] { return !resting_ || quit_.load(); });
                    continue;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const bool playing = client_.isPlaying();
            if (!playing) {
                wasPlaying = false;
                continue;
            }
            if (!wasPlaying) { // the clock starts with the playing
                wasPlaying = true;
                since = Clock::now();
                taken = 0;
            }
            const double elapsed = std::chrono::duration<double>(Clock::now() - since).count();
            const auto due = static_cast<std::uint64_t>(elapsed * rate_);
            while (taken < due && !quit_.load(std::memory_order_relaxed)) {
                const std::uint64_t n = std::min(kChunk, due - taken);
                // Taken and written as one step (see settle).
                std::lock_guard<std::mutex> g(taking_);
                client_.render(scratch_.data(), n);
                if (file_)
                    framesWritten_ +=
                        std::uint64_t(sf_writef_float(file_, scratch_.data(), static_cast<sf_count_t>(n)));
                taken += n;
            }
        }
    }

    DeviceClient& client_;
    double rate_;
    SNDFILE* file_;
    std::uint64_t framesWritten_ = 0; // by the clock thread; read once it has ended
    std::string name_;
    std::vector<float> scratch_;
    std::atomic<bool> quit_{false};
    std::mutex lock_;
    std::mutex taking_; // held while frames are taken and written
    std::condition_variable wake_;
    bool resting_ = false; // under lock_
    std::thread thread_;
};

} // namespace

std::unique_ptr<Device> makeClockDevice(DeviceClient& client, double rate, unsigned channels,
                                        const std::string& capturePath, std::string& error) {
    SNDFILE* file = nullptr;
    if (!capturePath.empty()) {
        SF_INFO info{};
        info.samplerate = static_cast<int>(rate + 0.5);
        info.channels = static_cast<int>(channels);
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        file = sf_open(capturePath.c_str(), SFM_WRITE, &info);
        if (!file) {
            error = sf_strerror(nullptr);
            return nullptr;
        }
        // Readable at any time, not only once closed.
        sf_command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    }
    return std::make_unique<ClockDevice>(client, rate, channels, file, file ? "capture:" + capturePath : "null");
}

} // namespace platform::audio
