// The true peak of a signal, as ITU-R BS.1770-4 (annex 2) estimates it: the
// largest magnitude among the samples and the values between them that an
// oversampling interpolator gives (four times below 96 kHz, twice below
// 192 kHz, none above). The interpolator is a windowed sinc of 16 taps a
// phase (Kaiser, beta 7); the values are read per channel, a block at a
// time, in loops the compiler vectorises.
#pragma once

#include <cstddef>
#include <vector>

namespace ZQ {

class TruePeak {
public:
    TruePeak(unsigned channels, double rate);
    void add(const double* interleaved, std::size_t frames);
    // The largest magnitude so far (a linear amplitude, not dB).
    double peak() const { return peak_; }

    static constexpr int kTaps = 16;

private:
    unsigned channels_;
    int phases_;                               // values between two samples, plus one
    std::vector<std::vector<double>> filters_; // one per value between samples
    std::vector<std::vector<double>> history_; // each channel's last kTaps - 1 samples, then the block
    double peak_ = 0;
};

} // namespace ZQ
