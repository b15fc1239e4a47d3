#include "processing/Dither.h"

#include <algorithm>
#include <cmath>

namespace ZQ {

namespace {
constexpr double kShapingZeros[] = {1400.0, 2900.0, 4400.0, 5800.0}; // Hz
constexpr double kShapingPoleRadius = 0.7;
} // namespace

Requantizer::Requantizer(unsigned bits, Dither dither, unsigned channels, double rate, std::uint64_t seed)
    : bits_(std::clamp(bits, 8u, 32u)), dither_(dither), scale_(std::ldexp(1.0, int(bits_) - 1)), lowest_(-scale_),
      highest_(scale_ - 1), random_(seed ? seed : 1), states_(channels) {
    if (dither_ != Dither::Shaped) return;
    // A(z) = Π (1 - 2 cos θ z^-1 + z^-2) over the zeros the rate can hold;
    // B(z) = A(z / r). The error reaches the output as A/B.
    double a[kOrder + 1] = {1.0};
    int n = 0;
    for (double f : kShapingZeros) {
        if (f >= 0.45 * rate) continue;
        const double c = -2.0 * std::cos(2.0 * M_PI * f / rate);
        double next[kOrder + 1] = {};
        for (int k = 0; k <= n; ++k) {
            next[k] += a[k];
            next[k + 1] += c * a[k];
            next[k + 2] += a[k];
        }
        n += 2;
        std::copy(next, next + kOrder + 1, a);
    }
    order_ = n;
    for (int k = 1; k <= n; ++k) {
        const double b = a[k] * std::pow(kShapingPoleRadius, k);
        num_[k - 1] = a[k] - b;
        den_[k - 1] = b;
    }
}

double Requantizer::uniform() {
    // xorshift64*: fast, and far longer a period than any file.
    random_ ^= random_ >> 12;
    random_ ^= random_ << 25;
    random_ ^= random_ >> 27;
    return static_cast<double>((random_ * 0x2545F4914F6CDD1DULL) >> 11) * 0x1.0p-53;
}

std::int32_t Requantizer::quantize(unsigned channel, double x, bool& clipped) {
    const double v = x * scale_;
    clipped = false;
    // Limited as the integer exports limit (NaN to the lowest value).
    auto limit = [&](double y) {
        if (!(y >= lowest_ && y <= highest_)) {
            clipped = true;
            y = y > highest_ ? highest_ : lowest_;
        }
        return static_cast<std::int32_t>(y);
    };
    // Undithered, the exports' own rule: toward zero.
    if (dither_ == Dither::None) return limit(std::trunc(v));
    State& s = states_[channel];
    if (v == std::nearbyint(v)) {
        // On the grid already: unchanged, and nothing to feed back.
        if (order_) {
            std::copy_backward(s.e, s.e + order_ - 1, s.e + order_);
            std::copy_backward(s.u, s.u + order_ - 1, s.u + order_);
            s.e[0] = s.u[0] = 0.0;
        }
        return limit(v);
    }
    double u = 0.0;
    for (int k = 0; k < order_; ++k)
        u += num_[k] * s.e[k] - den_[k] * s.u[k];
    const double w = v + u;
    const double y = std::nearbyint(w + uniform() - uniform());
    if (order_) {
        std::copy_backward(s.e, s.e + order_ - 1, s.e + order_);
        std::copy_backward(s.u, s.u + order_ - 1, s.u + order_);
        s.e[0] = y - w;
        s.u[0] = u;
    }
    return limit(y);
}

bool Requantizer::parse(const std::string& text, Dither* out) {
    Dither d;
    if (text == "tpdf")
        d = Dither::Triangular;
    else if (text == "shaped")
        d = Dither::Shaped;
    else if (text == "none")
        d = Dither::None;
    else
        return false;
    if (out) *out = d;
    return true;
}

const char* Requantizer::name(Dither dither) {
    return dither == Dither::Triangular ? "tpdf" : dither == Dither::Shaped ? "shaped" : "none";
}

} // namespace ZQ
