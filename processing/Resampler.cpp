#include "processing/Resampler.h"

#include <algorithm>
#include <cmath>
#include <soxr.h>

namespace ZQ {

std::uint64_t Resampler::outputFrames(std::uint64_t frames, double from, double to) {
    // In long double: an hour at 192 kHz has 6.9e8 frames; the ratio's
    // rounding must not move the last one.
    return static_cast<std::uint64_t>(std::llround(static_cast<long double>(frames) * to / from));
}

bool Resampler::parseQuality(const std::string& text, Quality* out) {
    const struct {
        const char* name;
        Quality q;
    } names[] = {{"quick", Quality::Quick}, {"low", Quality::Low},           {"medium", Quality::Medium},
                 {"high", Quality::High},   {"veryhigh", Quality::VeryHigh}, {"vhq", Quality::VeryHigh}};
    for (const auto& n : names)
        if (text == n.name) {
            if (out) *out = n.q;
            return true;
        }
    return false;
}

std::unique_ptr<Resampler> Resampler::create(double from, double to, unsigned channels, std::uint64_t frames,
                                             Quality quality, std::string* error) {
    if (!(from > 0) || !(to > 0) || channels == 0) {
        if (error) *error = "the rates and the channel count must be positive";
        return nullptr;
    }
    const unsigned long recipe = quality == Quality::Quick    ? SOXR_QQ
                                 : quality == Quality::Low    ? SOXR_LQ
                                 : quality == Quality::Medium ? SOXR_MQ
                                 : quality == Quality::High   ? SOXR_HQ
                                                              : SOXR_VHQ;
    std::unique_ptr<Resampler> r(new Resampler(channels, to / from, outputFrames(frames, from, to)));
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t q = soxr_quality_spec(recipe | SOXR_LINEAR_PHASE, 0);
    // One thread: the converter's callers already use the other core.
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t e = nullptr;
    r->soxr_ = soxr_create(from, to, channels, &e, &io, &q, &runtime);
    if (!r->soxr_ || e) {
        if (error) *error = std::string("the sample-rate converter cannot start: ") + (e ? soxr_strerror(e) : "");
        return nullptr;
    }
    return r;
}

Resampler::~Resampler() {
    if (soxr_) soxr_delete(static_cast<soxr_t>(soxr_));
}

void Resampler::keep(std::vector<double>& out, std::size_t from) {
    // What lies past the promised length is the filter's tail: dropped.
    const std::uint64_t made = (out.size() - from) / channels_;
    const std::uint64_t room = total_ - std::min(total_, given_);
    const std::uint64_t kept = std::min(made, room);
    out.resize(from + kept * channels_);
    given_ += kept;
}

void Resampler::run(const double* in, std::size_t frames, std::vector<double>& out) {
    const std::size_t start = out.size();
    std::size_t consumed = 0;
    for (;;) {
        const std::size_t room = static_cast<std::size_t>(static_cast<double>(frames - consumed) * ratio_) + 1024;
        const std::size_t at = out.size();
        out.resize(at + room * channels_);
        std::size_t used = 0, made = 0;
        soxr_process(static_cast<soxr_t>(soxr_), in ? in + consumed * channels_ : nullptr, in ? frames - consumed : 0,
                     &used, out.data() + at, room, &made);
        out.resize(at + made * channels_);
        consumed += used;
        if ((in == nullptr || consumed >= frames) && made < room) break;
    }
    keep(out, start);
}

void Resampler::process(const double* interleaved, std::size_t frames, std::vector<double>& out) {
    if (frames > 0) run(interleaved, frames, out);
}

void Resampler::finish(std::vector<double>& out) {
    run(nullptr, 0, out);
    if (given_ < total_) {
        out.resize(out.size() + (total_ - given_) * channels_, 0.0);
        given_ = total_;
    }
}

} // namespace ZQ
