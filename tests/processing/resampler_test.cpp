#include "Signals.h"
#include "processing/Resampler.h"

#include <gtest/gtest.h>

using namespace testsupport;
using ZQ::Resampler;

namespace {

// The whole of `in` through a resampler fed in pieces of `piece` frames.
std::vector<double> resample(const std::vector<double>& in, unsigned channels, double from, double to,
                             std::size_t piece = 10007, Resampler::Quality q = Resampler::Quality::VeryHigh) {
    const std::size_t frames = in.size() / channels;
    std::string error;
    auto r = Resampler::create(from, to, channels, frames, q, &error);
    EXPECT_TRUE(r) << error;
    std::vector<double> out;
    if (!r) return out;
    for (std::size_t at = 0; at < frames; at += piece)
        r->process(in.data() + at * channels, std::min(piece, frames - at), out);
    r->finish(out);
    return out;
}

} // namespace

TEST(Resampler, GivesExactlyTheRoundedLengthWhateverThePieces) {
    for (const std::size_t frames : {std::size_t(1), std::size_t(7), std::size_t(1000), std::size_t(96001)})
        for (const std::size_t piece : {std::size_t(1), std::size_t(333), std::size_t(1 << 16)}) {
            if (piece == 1 && frames > 1000) continue;
            const std::vector<double> in = sine(1000, 0.5, 96000, frames, 2);
            const std::vector<double> out = resample(in, 2, 96000, 44100, piece);
            EXPECT_EQ(out.size() / 2, Resampler::outputFrames(frames, 96000, 44100)) << frames << "/" << piece;
            EXPECT_EQ(out.size() % 2, 0u);
        }
    EXPECT_EQ(Resampler::outputFrames(96001, 96000, 44100), 44100u); // 44100.46 rounds down
    EXPECT_EQ(Resampler::outputFrames(3, 44100, 48000), 3u);         // 3.27
    EXPECT_EQ(Resampler::outputFrames(158760000, 44100, 48000), 172800000u);
}

TEST(Resampler, KeepsTheSignalInPlaceFlatAndClean) {
    const double from = 96000, to = 44100;
    const std::size_t frames = 4 * 96000;
    // No delay: the output is the same tone sampled at the new rate, from
    // the first frame. A frame's shift would leave -17 dB of a 1 kHz tone.
    const std::vector<double> out = resample(sine(1000, 0.5, from, frames), 1, from, to);
    const std::vector<double> ideal = sine(1000, 0.5, to, out.size());
    std::vector<double> difference(out.size());
    for (std::size_t k = 0; k < out.size(); ++k)
        difference[k] = out[k] - ideal[k];
    const std::size_t a = 4410, b = out.size() - 4410; // clear of the ends
    EXPECT_LT(decibels(rms(difference, a, b) / rms(ideal, a, b)), -100.0);
    // THD+N of the tone.
    EXPECT_LT(decibels(residualAfterSineFit(out, a, b, 1000, to) / rms(out, a, b)), -140.0);
    // Flat to 20 kHz within 0.01 dB.
    for (const double f : {100.0, 5000.0, 10000.0, 15000.0, 18000.0, 20000.0}) {
        const std::vector<double> y = resample(sine(f, 0.5, from, frames), 1, from, to);
        const double level = decibels(rms(y, a, b) / (0.5 / std::sqrt(2.0)));
        EXPECT_NEAR(level, 0.0, 0.01) << f << " Hz";
    }
    // A tone above the new band leaves nothing above -140 dBFS.
    const std::vector<double> high = resample(sine(30000, 1.0, from, frames), 1, from, to);
    double peak = 0;
    for (std::size_t k = a; k < b; ++k)
        peak = std::max(peak, std::fabs(high[k]));
    EXPECT_LT(decibels(peak), -140.0);
}

TEST(Resampler, ChannelsStayApartAndQualitiesParse) {
    // Left a tone, right silence: the right stays silent.
    std::vector<double> in(2 * 48000, 0.0);
    for (std::size_t k = 0; k < 48000; ++k)
        in[2 * k] = 0.5 * std::sin(2 * M_PI * 440 * double(k) / 48000);
    const std::vector<double> out = resample(in, 2, 48000, 44100);
    double right = 0;
    for (std::size_t k = 1; k < out.size(); k += 2)
        right = std::max(right, std::fabs(out[k]));
    EXPECT_EQ(right, 0.0);
    Resampler::Quality q{};
    EXPECT_TRUE(Resampler::parseQuality("quick", &q));
    EXPECT_EQ(q, Resampler::Quality::Quick);
    EXPECT_TRUE(Resampler::parseQuality("vhq", &q));
    EXPECT_EQ(q, Resampler::Quality::VeryHigh);
    EXPECT_FALSE(Resampler::parseQuality("best", &q));
    std::string error;
    EXPECT_EQ(Resampler::create(0, 44100, 2, 10, Resampler::Quality::High, &error), nullptr);
    EXPECT_FALSE(error.empty());
}
