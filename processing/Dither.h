// Requantising samples to fewer bits: a sample already on the target grid
// passes unchanged (a 16-bit file written as 16 bits stays bit-exact); any
// other is rounded with dither, so that the error is noise independent of
// the signal instead of distortion that follows it.
//  - Triangular (TPDF): two uniform values of one step each, summed; the
//    error's power is a quarter of a step squared (a sixth from the dither,
//    a twelfth from the rounding), flat across the band.
//  - Shaped: the same dither, with the error fed back through a filter whose
//    zeros lie at 1.4, 2.9, 4.4 and 5.8 kHz (poles at 0.7 of their radius):
//    about 21 dB less noise where hearing is keenest, 1 to 6 kHz, and 8 dB
//    more in all, most of it above 10 kHz.
//  - None: the integer exports' own conversion (toward zero), as before.
// Values past full scale are limited and counted by the caller's flag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZQ {

class Requantizer {
public:
    enum class Dither { None, Triangular, Shaped };
    // `bits` 8 ... 32; `rate` places the shaping filter's zeros.
    Requantizer(unsigned bits, Dither dither, unsigned channels, double rate, std::uint64_t seed = 0x5eed);

    // `x` (full scale ±1) as a signed `bits`-bit integer; `clipped` is set
    // when it was limited.
    std::int32_t quantize(unsigned channel, double x, bool& clipped);

    Dither dither() const { return dither_; }
    // "tpdf", "shaped", "none".
    static bool parse(const std::string& text, Dither* out);
    static const char* name(Dither dither);

private:
    static constexpr int kOrder = 8;
    struct State {
        double e[kOrder] = {}; // the last errors, newest first
        double u[kOrder] = {}; // the last feedback values, newest first
    };
    double uniform();

    unsigned bits_;
    Dither dither_;
    double scale_; // 2^(bits-1)
    double lowest_, highest_;
    std::uint64_t random_;
    // Feedback filter: u[n] = Σ num[k] e[n-k] - Σ den[k] u[n-k], k = 1 ... order.
    double num_[kOrder] = {}, den_[kOrder] = {};
    int order_ = 0;
    std::vector<State> states_;
};

} // namespace ZQ
