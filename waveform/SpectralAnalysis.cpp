#include "waveform/SpectralAnalysis.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <fftw3.h>
#include <mutex>
#include <numbers>

namespace ZQ::Spectral {

namespace {

std::atomic<std::uint64_t> gTransforms{0};

// One plan per size for the whole process, made the first time the size is
// asked for, with buffers of FFTW's own alignment (every analyser's buffers
// come from fftwf_malloc too, so the plan may run on them).
struct Plans {
    std::mutex lock;
    std::array<fftwf_plan, 6> plans{};

    fftwf_plan get(unsigned size) {
        const auto index = static_cast<std::size_t>(std::countr_zero(size) - std::countr_zero(kMinSize));
        std::lock_guard<std::mutex> g(lock);
        if (!plans[index]) {
            float* in = fftwf_alloc_real(size);
            fftwf_complex* out = fftwf_alloc_complex(size / 2 + 1);
            // Measured once: a few milliseconds per size, a faster transform for
            // the millions of frames of an hour.
            plans[index] = fftwf_plan_dft_r2c_1d(static_cast<int>(size), in, out, FFTW_MEASURE);
            fftwf_free(in);
            fftwf_free(out);
        }
        return plans[index];
    }
};

Plans& plans() {
    static Plans* p = new Plans; // for the process: analysers may run until its end
    return *p;
}

} // namespace

bool isValidSize(unsigned size) {
    return size >= kMinSize && size <= kMaxSize && std::has_single_bit(size);
}

std::uint64_t transformCount() {
    return gTransforms.load(std::memory_order_relaxed);
}

FrameAnalyzer::FrameAnalyzer(unsigned size) : size_(isValidSize(size) ? size : kDefaultSize) {
    in_ = fftwf_alloc_real(size_);
    out_ = fftwf_alloc_complex(size_ / 2 + 1);
    plan_ = plans().get(size_);
    // Periodic Hann: the frames overlap by half and sum to a constant.
    window_.resize(size_);
    double sum = 0;
    for (unsigned i = 0; i < size_; ++i) {
        window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / size_));
        sum += window_[i];
    }
    // A sine of amplitude A puts A * sum / 2 in its bin.
    scale_ = 1.0 / ((sum / 2) * (sum / 2));
}

FrameAnalyzer::~FrameAnalyzer() {
    fftwf_free(in_);
    fftwf_free(out_);
}

void FrameAnalyzer::power(const double* held, std::int64_t heldFirst, std::uint64_t heldCount, std::int64_t centre,
                          float* out) {
    const std::int64_t first = centre - static_cast<std::int64_t>(size_ / 2);
    const auto end = heldFirst + static_cast<std::int64_t>(heldCount);
    // The part of the frame inside what is held; silence around it.
    const std::int64_t from = std::clamp<std::int64_t>(heldFirst - first, 0, size_);
    const std::int64_t to = std::clamp<std::int64_t>(end - first, from, size_);
    std::fill(in_, in_ + from, 0.0f);
    for (std::int64_t i = from; i < to; ++i) {
        const double v = held[first + i - heldFirst];
        in_[i] = std::isfinite(v) ? static_cast<float>(v) * window_[static_cast<std::size_t>(i)] : 0.0f;
    }
    std::fill(in_ + to, in_ + size_, 0.0f);
    auto* spectrum = static_cast<fftwf_complex*>(out_);
    fftwf_execute_dft_r2c(static_cast<fftwf_plan>(const_cast<void*>(plan_)), in_, spectrum);
    gTransforms.fetch_add(1, std::memory_order_relaxed);
    const auto scale = static_cast<float>(scale_);
    for (unsigned k = 0; k <= size_ / 2; ++k)
        out[k] = (spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1]) * scale;
}

void FrameAnalyzer::transformOnly() {
    fftwf_execute_dft_r2c(static_cast<fftwf_plan>(const_cast<void*>(plan_)), in_, static_cast<fftwf_complex*>(out_));
}

} // namespace ZQ::Spectral
