// The converter's processing, measured on one core.
//
//   processing_bench [minutes]   (default 10)
//     1. 96 -> 44.1 kHz at very high quality, stereo: the speed (times real
//        time); the quality: a 30 kHz tone's leftover peak, the passband's
//        deviation at 20 Hz ... 20 kHz, a 1 kHz tone's THD+N.
//     2. Loudness of stereo at 48 kHz (integrated, range, true and sample
//        peak): times real time on one thread and on two.
//     3. Requantising to 16 bits with TPDF and shaped dither: the error's
//        level, the shaped error from 1 to 6 kHz against TPDF's, ns a sample.
//   processing_bench --raw IRATE ORATE CHANNELS < in.f64 > out.f64
//     Interleaved doubles from standard input resampled to standard output,
//     as libsoxr's example 3-options-input-fn does, to time the two alike
//     (bench/resample_against_soxr.sh).
#include "audiofile/SampleSequence.h"
#include "audiofile/SequenceLoudness.h"
#include "processing/Dither.h"
#include "processing/Resampler.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::vector<double> tone(double f, double amplitude, double rate, std::size_t frames, unsigned channels) {
    std::vector<double> x(frames * channels);
    for (std::size_t k = 0; k < frames; ++k)
        for (unsigned c = 0; c < channels; ++c)
            x[k * channels + c] = amplitude * std::sin(2 * M_PI * f * double(k) / rate);
    return x;
}

std::vector<double> resample(const std::vector<double>& in, unsigned channels, double from, double to) {
    const std::size_t frames = in.size() / channels;
    auto r = ZQ::Resampler::create(from, to, channels, frames, ZQ::Resampler::Quality::VeryHigh, nullptr);
    std::vector<double> out;
    out.reserve(std::size_t(double(in.size()) * to / from) + 64);
    for (std::size_t at = 0; at < frames; at += 65536)
        r->process(in.data() + at * channels, std::min<std::size_t>(65536, frames - at), out);
    r->finish(out);
    return out;
}

double rmsOf(const std::vector<double>& x, std::size_t a, std::size_t b) {
    double s = 0;
    for (std::size_t k = a; k < b; ++k)
        s += x[k] * x[k];
    return std::sqrt(s / double(b - a));
}

// What is left of x[a, b) after the best sine of `f` (and a constant).
double thdPlusNoise(const std::vector<double>& x, std::size_t a, std::size_t b, double f, double rate) {
    double m[3][4] = {};
    for (std::size_t k = a; k < b; ++k) {
        const double t = 2 * M_PI * f * double(k) / rate, v[3] = {std::sin(t), std::cos(t), 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] += v[i] * v[j];
            m[i][3] += v[i] * x[k];
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int r = 0; r < 3; ++r)
            if (r != i) {
                const double q = m[r][i] / m[i][i];
                for (int j = 0; j < 4; ++j)
                    m[r][j] -= q * m[i][j];
            }
    double s = 0;
    for (std::size_t k = a; k < b; ++k) {
        const double t = 2 * M_PI * f * double(k) / rate;
        const double r = x[k] - (m[0][3] / m[0][0] * std::sin(t) + m[1][3] / m[1][1] * std::cos(t) + m[2][3] / m[2][2]);
        s += r * r;
    }
    return 20 * std::log10(std::sqrt(s / double(b - a)) / rmsOf(x, a, b));
}

int raw(double from, double to, unsigned channels) {
    // The length is not known ahead on a pipe: promised as unbounded.
    auto feed =
        ZQ::Resampler::create(from, to, channels, ~std::uint64_t(0) / 4, ZQ::Resampler::Quality::VeryHigh, nullptr);
    if (!feed) return 1;
    std::vector<double> in(std::size_t(65536) * channels), out;
    for (;;) {
        const std::size_t n = std::fread(in.data(), sizeof(double) * channels, 65536, stdin);
        if (n == 0) break;
        out.clear();
        feed->process(in.data(), n, out);
        std::fwrite(out.data(), sizeof(double), out.size(), stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--raw") == 0)
        return raw(std::atof(argv[2]), std::atof(argv[3]), unsigned(std::atoi(argv[4])));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10;

    // 1. Sample-rate conversion.
    {
        const double from = 96000, to = 44100;
        const auto frames = static_cast<std::size_t>(minutes * 60 * from);
        const std::vector<double> in = tone(1000, 0.5, from, frames, 2);
        // The output is let go chunk by chunk, as an export writes it: fresh
        // memory for all of it would cost more than the conversion.
        auto r = ZQ::Resampler::create(from, to, 2, frames, ZQ::Resampler::Quality::VeryHigh, nullptr);
        std::vector<double> out;
        std::uint64_t made = 0;
        const auto t0 = Clock::now();
        for (std::size_t at = 0; at < frames; at += 65536) {
            out.clear();
            r->process(in.data() + at * 2, std::min<std::size_t>(65536, frames - at), out);
            made += out.size() / 2;
        }
        out.clear();
        r->finish(out);
        made += out.size() / 2;
        const double seconds = since(t0);
        if (made != ZQ::Resampler::outputFrames(frames, from, to)) std::printf("WRONG LENGTH\n");
        std::printf("96 -> 44.1 kHz, very high quality, %.0f min stereo: %.2f s, %.0fx real time on one core\n",
                    minutes, seconds, minutes * 60 / seconds);
        const std::size_t n = 8 * 96000;
        const std::size_t a = 4410, b = std::size_t(8 * to) - 4410;
        const std::vector<double> high = resample(tone(30000, 1.0, from, n, 1), 1, from, to);
        double peak = 0;
        for (std::size_t k = a; k < b; ++k)
            peak = std::max(peak, std::fabs(high[k]));
        std::printf("  30 kHz at 0 dBFS leaves a peak of %.1f dBFS\n", 20 * std::log10(peak));
        double lo = 0, hi = 0;
        for (double f = 20; f <= 20000; f *= 1.25) {
            const std::vector<double> y = resample(tone(f, 0.5, from, n, 1), 1, from, to);
            const double level = 20 * std::log10(rmsOf(y, a, b) / (0.5 / std::sqrt(2.0)));
            lo = std::min(lo, level);
            hi = std::max(hi, level);
        }
        const std::vector<double> at20k = resample(tone(20000, 0.5, from, n, 1), 1, from, to);
        const double level20k = 20 * std::log10(rmsOf(at20k, a, b) / (0.5 / std::sqrt(2.0)));
        std::printf("  passband 20 Hz ... 20 kHz: %+.4f ... %+.4f dB (20 kHz: %+.4f dB)\n", std::min(lo, level20k),
                    std::max(hi, level20k), level20k);
        const std::vector<double> k1 = resample(tone(1000, 0.5, from, n, 1), 1, from, to);
        std::printf("  1 kHz THD+N: %.1f dB\n", thdPlusNoise(k1, a, b, 1000, to));
    }

    // 2. Loudness.
    {
        const double rate = 48000;
        const auto frames = static_cast<std::uint64_t>(minutes * 60 * rate);
        auto block = ZQ::MemorySampleBlock::create(2, frames);
        for (unsigned c = 0; c < 2; ++c)
            for (std::uint64_t k = 0; k < frames; ++k)
                block->channelData(c)[k] = 0.3 * std::sin(2 * M_PI * (440 + 100 * c) * double(k) / rate) *
                                           (0.5 + 0.5 * std::sin(2 * M_PI * double(k) / (7 * rate)));
        block->finish();
        const ZQ::SampleSequence s(2, {{block, 0, frames}});
        for (unsigned threads : {1u, 2u}) {
            const auto t0 = Clock::now();
            const ZQ::LoudnessFigures f = ZQ::measureLoudness(s, 0, frames, rate, threads);
            const double seconds = since(t0);
            std::printf("Loudness of %.0f min stereo 48 kHz on %u thread%s: %.2f s, %.0fx real time (%.1f LUFS, "
                        "%.1f LU, %.1f dBTP)\n",
                        minutes, threads, threads == 1 ? "" : "s", seconds, minutes * 60 / seconds, f.integrated,
                        f.range, f.truePeak);
        }
    }

    // 3. Dither: the error's level, and the shaped error against TPDF's
    // from 1 to 6 kHz (Hann-windowed bins every 100 Hz, 30 blocks of 16384).
    {
        const std::size_t block = 16384, blocks = 30;
        const std::vector<double> x = tone(440, 0.01, 44100, block * blocks, 1);
        auto errorOf = [&x](ZQ::Requantizer::Dither d) {
            ZQ::Requantizer q(16, d, 1, 44100);
            std::vector<double> e(x.size());
            for (std::size_t k = 0; k < x.size(); ++k) {
                bool clipped = false;
                e[k] = q.quantize(0, x[k], clipped) / 32768.0 - x[k];
            }
            return e;
        };
        auto bandPower = [&](const std::vector<double>& e) {
            double sum = 0;
            for (std::size_t b = 0; b < blocks; ++b)
                for (double f = 1000; f <= 6000; f += 100) {
                    const double w = 2 * M_PI * f / 44100, c = 2 * std::cos(w);
                    double s1 = 0, s2 = 0;
                    for (std::size_t k = 0; k < block; ++k) {
                        const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * double(k) / double(block));
                        const double s0 = e[b * block + k] * hann + c * s1 - s2;
                        s2 = s1;
                        s1 = s0;
                    }
                    sum += s1 * s1 + s2 * s2 - c * s1 * s2;
                }
            return sum;
        };
        const std::vector<double> tpdf = errorOf(ZQ::Requantizer::Dither::Triangular);
        const std::vector<double> shaped = errorOf(ZQ::Requantizer::Dither::Shaped);
        std::printf("TPDF error at 16 bits: %.2f dBFS RMS (theory -96.33); shaped: %.2f dBFS RMS, %.1f dB under TPDF "
                    "from 1 to 6 kHz\n",
                    20 * std::log10(rmsOf(tpdf, 0, tpdf.size())), 20 * std::log10(rmsOf(shaped, 0, shaped.size())),
                    10 * std::log10(bandPower(tpdf) / bandPower(shaped)));
    }
    {
        const std::size_t n = 20000000;
        const std::vector<double> x = tone(997, 0.3, 44100, n, 1);
        for (auto d : {ZQ::Requantizer::Dither::Triangular, ZQ::Requantizer::Dither::Shaped}) {
            ZQ::Requantizer q(16, d, 1, 44100);
            long long sum = 0;
            const auto t0 = Clock::now();
            for (std::size_t k = 0; k < n; ++k) {
                bool clipped = false;
                sum += q.quantize(0, x[k], clipped);
            }
            const double seconds = since(t0);
            std::printf("Requantising to 16 bits, %s: %.1f ns a sample (checksum %lld)\n", ZQ::Requantizer::name(d),
                        seconds / double(n) * 1e9, sum % 1000);
        }
    }
    return 0;
}
