// Frames from one rate to another through libsoxr's high-quality resampler
// (the one file that includes it), so that pitch and duration stay right on
// a device that refuses the file's rate. It runs on the queue's thread as
// the ring is filled: the device's callback only copies.
#include "platform/audioout/AudioDevice.h"

#include <soxr.h>

namespace platform::audio {

namespace {

class SoxrConverter final : public RateConverter {
public:
    SoxrConverter(double from, double to, unsigned channels) : ratio_(to / from), channels_(channels) {}
    ~SoxrConverter() override {
        if (soxr_) soxr_delete(soxr_);
    }

    bool open(double from, double to, std::string& error) {
        soxr_error_t e = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_ = soxr_create(from, to, channels_, &e, &io, &quality, nullptr);
        if (!soxr_ || e) {
            error = std::string("the sample-rate converter cannot start: ") + (e ? soxr_strerror(e) : "");
            return false;
        }
        return true;
    }

    void convert(const float* in, std::uint64_t frames, std::vector<float>& out) override { run(in, frames, out); }
    void finish(std::vector<float>& out) override {
        run(nullptr, 0, out); // no input: the end, whose tail comes out
        soxr_clear(soxr_);
    }

private:
    void run(const float* in, std::uint64_t frames, std::vector<float>& out) {
        std::size_t consumed = 0;
        for (;;) {
            const std::size_t room = static_cast<std::size_t>(static_cast<double>(frames - consumed) * ratio_) + 256;
            const std::size_t at = out.size();
            out.resize(at + room * channels_);
            std::size_t used = 0, made = 0;
            soxr_process(soxr_, in ? in + consumed * channels_ : nullptr, in ? frames - consumed : 0, &used,
                         out.data() + at, room, &made);
            out.resize(at + made * channels_);
            consumed += used;
            // Done once the input is in and the output did not fill its room.
            if ((in == nullptr || consumed >= frames) && made < room) return;
        }
    }

    double ratio_;
    unsigned channels_;
    soxr_t soxr_ = nullptr;
};

} // namespace

std::unique_ptr<RateConverter> makeRateConverter(double from, double to, unsigned channels, std::string& error) {
    auto c = std::make_unique<SoxrConverter>(from, to, channels);
    if (!c->open(from, to, error)) return nullptr;
    return c;
}

} // namespace platform::audio
