// A whole stream from one sample rate to another through libsoxr, in
// doubles: fed in pieces of any size, it gives out exactly
// round(frames × to / from) frames for the `frames` it was promised, the
// first aligned with the first input frame (libsoxr takes out its filter's
// delay; the tail it lets out at the end is cut or padded to that length).
// One stream, not blocks stitched: the filter runs across every piece.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ZQ {

class Resampler {
public:
    // libsoxr's recipes: quick (cubic), low, medium, high (20 bits) and very
    // high (28 bits, the default), each linear phase.
    enum class Quality { Quick, Low, Medium, High, VeryHigh };
    // Null, with `error`, when libsoxr refuses the rates.
    static std::unique_ptr<Resampler> create(double from, double to, unsigned channels, std::uint64_t frames,
                                             Quality quality, std::string* error);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // The output length for `frames` input frames: round(frames × to / from).
    static std::uint64_t outputFrames(std::uint64_t frames, double from, double to);
    std::uint64_t outputFrames() const { return total_; }

    // Appends the output of `frames` interleaved input frames to `out`
    // (never past the promised length).
    void process(const double* interleaved, std::size_t frames, std::vector<double>& out);
    // The input has ended: appends the rest, up to the promised length
    // (padded with silence if libsoxr gave fewer).
    void finish(std::vector<double>& out);

    // Parses "quick", "low", "medium", "high", "veryhigh" (or "vhq").
    static bool parseQuality(const std::string& text, Quality* out);

private:
    Resampler(unsigned channels, double ratio, std::uint64_t total)
        : channels_(channels), ratio_(ratio), total_(total) {}
    void run(const double* in, std::size_t frames, std::vector<double>& out);
    void keep(std::vector<double>& out, std::size_t from);

    void* soxr_ = nullptr;
    unsigned channels_;
    double ratio_;
    std::uint64_t total_;
    std::uint64_t given_ = 0; // frames handed out so far
};

} // namespace ZQ
