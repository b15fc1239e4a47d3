// Short-time spectra of one channel: a Hann-windowed frame of `size` samples
// (256 to 8192, powers of two) transformed by FFTW in single precision, its
// power per bin from 0 Hz to Nyquist, normalised so that a full-scale sine
// reads 0 dBFS at its bin. Plans are made once per size for the process
// (FFTW's planner is not thread-safe, so under a lock); each analyser owns
// aligned buffers, so any number of threads analyse at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace ZQ::Spectral {

inline constexpr unsigned kMinSize = 256;
inline constexpr unsigned kMaxSize = 8192;
inline constexpr unsigned kDefaultSize = 1024;
// The level that stands for no energy at all.
inline constexpr float kSilenceDb = -200.0f;

// Whether `size` is one of the sizes offered (a power of two in range).
bool isValidSize(unsigned size);

// Every frame transformed since the process started (tests count them, to
// see what a redraw recomputes).
std::uint64_t transformCount();

class FrameAnalyzer {
public:
    explicit FrameAnalyzer(unsigned size);
    ~FrameAnalyzer();
    FrameAnalyzer(const FrameAnalyzer&) = delete;
    FrameAnalyzer& operator=(const FrameAnalyzer&) = delete;

    unsigned size() const { return size_; }
    unsigned bins() const { return size_ / 2 + 1; }
    // The power of each bin (size / 2 + 1 of them, a fraction of full scale
    // squared) of the frame centred on sample `centre` of `samples` (`count`
    // of them); the samples beyond either end count as silence.
    void power(const double* samples, std::uint64_t count, std::int64_t centre, float* out) {
        power(samples, 0, count, centre, out);
    }
    // The same where only samples [heldFirst, heldFirst + heldCount) of the
    // channel are at hand (held[0] is sample heldFirst): the frame's samples
    // outside them count as silence, so the caller holds every sample of the
    // channel that the frame covers.
    void power(const double* held, std::int64_t heldFirst, std::uint64_t heldCount, std::int64_t centre, float* out);
    // FFTW's transform alone, again on the last frame (benchmarks compare
    // the library's own speed with a whole frame's).
    void transformOnly();

private:
    unsigned size_;
    float* in_ = nullptr;
    void* out_ = nullptr; // fftwf_complex[size / 2 + 1]
    const void* plan_ = nullptr;
    std::vector<float> window_;
    double scale_ = 1; // 1 / (sum of the window / 2)^2
};

// A power as dBFS (kSilenceDb for none).
inline float powerDb(float power);

} // namespace ZQ::Spectral

#include <cmath>

inline float ZQ::Spectral::powerDb(float power) {
    return power > 1e-20f ? 10.0f * std::log10(power) : kSilenceDb;
}
