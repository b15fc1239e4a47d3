#include "processing/TruePeak.h"

#include <algorithm>
#include <cmath>

namespace ZQ {

namespace {

double besselI0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

} // namespace

TruePeak::TruePeak(unsigned channels, double rate)
    : channels_(channels), phases_(rate < 96000    ? 4
                                   : rate < 192000 ? 2
                                                   : 1),
      history_(channels) {
    // Phase p of `phases_` interpolates the value p/phases_ of a sample after
    // x[n - kTaps/2] from x[n - j], j = 0 ... kTaps-1.
    constexpr double kBeta = 7.0, kHalf = kTaps / 2.0;
    for (int p = 1; p < phases_; ++p) {
        std::vector<double> h(kTaps);
        double sum = 0;
        for (int j = 0; j < kTaps; ++j) {
            const double t = double(j) - kHalf + double(p) / phases_; // the tap's distance in samples
            const double sinc = t == 0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t);
            const double r = t / kHalf;
            const double window = std::fabs(r) < 1 ? besselI0(kBeta * std::sqrt(1 - r * r)) / besselI0(kBeta) : 0.0;
            h[std::size_t(j)] = sinc * window;
            sum += h[std::size_t(j)];
        }
        for (double& v : h)
            v /= sum; // unity gain at DC
        filters_.push_back(std::move(h));
    }
    for (auto& h : history_)
        h.assign(kTaps - 1, 0.0);
}

void TruePeak::add(const double* interleaved, std::size_t frames) {
    if (frames == 0) return;
    double peak = peak_;
    for (unsigned c = 0; c < channels_; ++c) {
        // The channel's block after its history: x[k + kTaps - 1] is sample k.
        std::vector<double>& x = history_[c];
        x.resize(kTaps - 1 + frames);
        for (std::size_t k = 0; k < frames; ++k) {
            const double v = interleaved[k * channels_ + c];
            x[kTaps - 1 + k] = v;
            peak = std::max(peak, std::fabs(v));
        }
        for (const std::vector<double>& h : filters_) {
            // y[k] = Σ_j h[j] x[k + kTaps - 1 - j]: the value between two
            // samples half the filter back from sample k.
            double high = 0, low = 0;
            const double* in = x.data();
            for (std::size_t k = 0; k < frames; ++k) {
                double y = 0;
                for (int j = 0; j < kTaps; ++j)
                    y += h[std::size_t(j)] * in[k + kTaps - 1 - std::size_t(j)];
                high = std::max(high, y);
                low = std::min(low, y);
            }
            peak = std::max(peak, std::max(high, -low));
        }
        std::copy(x.end() - (kTaps - 1), x.end(), x.begin());
        x.resize(kTaps - 1);
    }
    peak_ = peak;
}

} // namespace ZQ
