// A client at one rate as a device at another rate sees it: the client's
// frames go through libsoxr's high-quality resampler (the one file that
// includes it), so that pitch and duration stay right on a device that
// refuses the file's rate.
#include "platform/audioout/AudioDevice.h"

#include <algorithm>
#include <cstring>
#include <soxr.h>
#include <vector>

namespace platform::audio {

namespace {

constexpr std::size_t kChunkFrames = 1024;

class RateConverter final : public ConvertingClient {
public:
    RateConverter(DeviceClient& source, unsigned channels)
        : source_(source), channels_(channels), scratch_(kChunkFrames * channels) {}
    ~RateConverter() override {
        if (soxr_) soxr_delete(soxr_);
    }

    bool open(double from, double to, std::string& error) {
        soxr_error_t e = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_ = soxr_create(from, to, channels_, &e, &io, &quality, nullptr);
        if (!soxr_ || e) {
            error = std::string("the sample-rate converter cannot start: ") + soxr_strerror(e);
            return false;
        }
        e = soxr_set_input_fn(soxr_, &RateConverter::input, this, kChunkFrames);
        if (e) {
            error = std::string("the sample-rate converter cannot start: ") + soxr_strerror(e);
            return false;
        }
        return true;
    }

    // The device's thread: as many converted frames as it asks for.
    void render(float* out, std::uint64_t frames) override {
        std::uint64_t done = 0;
        while (done < frames) {
            const std::size_t n = soxr_output(soxr_, out + done * channels_, static_cast<std::size_t>(frames - done));
            if (n == 0) break;
            done += n;
        }
        if (done < frames) std::memset(out + done * channels_, 0, (frames - done) * channels_ * sizeof(float));
        // The converter holds the last frames for the length of its filter:
        // once the source stops, the device takes that much more.
        if (source_.isPlaying()) {
            tail_ = -1;
        } else if (tail_ < 0) {
            tail_ = static_cast<std::int64_t>(soxr_delay(soxr_)) + static_cast<std::int64_t>(kChunkFrames);
        } else {
            tail_ = std::max<std::int64_t>(0, tail_ - static_cast<std::int64_t>(frames));
        }
    }
    bool isPlaying() const override { return source_.isPlaying() || tail_ != 0; }

private:
    static std::size_t input(void* state, soxr_in_t* data, std::size_t requested) {
        auto* self = static_cast<RateConverter*>(state);
        const std::size_t n = std::clamp<std::size_t>(requested, 1, kChunkFrames);
        self->source_.render(self->scratch_.data(), n);
        *data = self->scratch_.data();
        return n;
    }

    DeviceClient& source_;
    unsigned channels_;
    std::vector<float> scratch_;
    soxr_t soxr_ = nullptr;
    // Frames still to come after the source stopped (-1 while it plays);
    // the device's thread only.
    std::int64_t tail_ = 0;
};

} // namespace

std::unique_ptr<ConvertingClient> makeRateConverter(DeviceClient& source, double from, double to, unsigned channels,
                                                    std::string& error) {
    auto c = std::make_unique<RateConverter>(source, channels);
    if (!c->open(from, to, error)) return nullptr;
    return c;
}

} // namespace platform::audio
