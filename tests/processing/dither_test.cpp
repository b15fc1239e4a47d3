#include "Signals.h"
#include "processing/Dither.h"

#include <gtest/gtest.h>

using namespace testsupport;
using ZQ::Requantizer;
using Dither = Requantizer::Dither;

namespace {

constexpr double kRate = 44100;
constexpr double kStep16 = 1.0 / 32768.0;

// x requantised to 16 bits, back as full-scale values.
std::vector<double> requantised(const std::vector<double>& x, Dither d) {
    Requantizer q(16, d, 1, kRate);
    std::vector<double> y(x.size());
    for (std::size_t k = 0; k < x.size(); ++k) {
        bool clipped = false;
        y[k] = q.quantize(0, x[k], clipped) * kStep16;
    }
    return y;
}

std::vector<double> errorOf(const std::vector<double>& x, Dither d) {
    std::vector<double> y = requantised(x, d);
    for (std::size_t k = 0; k < y.size(); ++k)
        y[k] -= x[k];
    return y;
}

// The mean Hann-windowed power at `frequencies`, over consecutive segments.
double meanPower(const std::vector<double>& x, const std::vector<double>& frequencies, std::size_t segment = 16384) {
    double sum = 0;
    int n = 0;
    for (std::size_t from = 0; from + segment <= x.size(); from += segment)
        for (double f : frequencies) {
            sum += binPower(x, from, segment, f, kRate);
            ++n;
        }
    return sum / n;
}

} // namespace

TEST(Dither, SamplesOnTheGridPassUnchangedAndFullScaleIsLimitedAsBefore) {
    for (const Dither d : {Dither::None, Dither::Triangular, Dither::Shaped}) {
        Requantizer q(16, d, 2, kRate);
        for (int v = -32768; v <= 32767; v += 7) {
            bool clipped = true;
            EXPECT_EQ(q.quantize(v & 1, v * kStep16, clipped), v) << Requantizer::name(d);
            EXPECT_FALSE(clipped);
        }
        Requantizer wide(24, d, 1, kRate);
        bool clipped = false;
        EXPECT_EQ(wide.quantize(0, 1234567.0 / 8388608.0, clipped), 1234567);
        EXPECT_EQ(q.quantize(0, 1.5, clipped), 32767);
        EXPECT_TRUE(clipped);
        EXPECT_EQ(q.quantize(0, -1.5, clipped), -32768);
        EXPECT_TRUE(clipped);
        EXPECT_EQ(q.quantize(0, std::nan(""), clipped), -32768);
        EXPECT_TRUE(clipped);
    }
    // Undithered, a value between steps goes toward zero, as the exports did.
    Requantizer plain(16, Dither::None, 1, kRate);
    bool clipped = false;
    EXPECT_EQ(plain.quantize(0, 10.7 * kStep16, clipped), 10);
    EXPECT_EQ(plain.quantize(0, -10.7 * kStep16, clipped), -10);
    Dither d{};
    EXPECT_TRUE(Requantizer::parse("shaped", &d));
    EXPECT_EQ(d, Dither::Shaped);
    EXPECT_FALSE(Requantizer::parse("rpdf", &d));
}

TEST(Dither, ALowSineKeepsNoHarmonicsAndTheNoiseIsAtItsTheoreticalLevel) {
    // -90 dBFS at 1 kHz: about one step of 16 bits.
    const std::vector<double> x = sine(1000, std::pow(10.0, -90.0 / 20.0), kRate, 40 * 16384);
    auto harmonicsOverNoise = [&](Dither d) {
        const std::vector<double> y = requantised(x, d);
        double worst = 0;
        for (int h = 2; h <= 7; ++h) {
            const double f = 1000.0 * h;
            const double harmonic = meanPower(y, {f});
            const double floor = meanPower(y, {f - 310, f - 170, f + 170, f + 310});
            worst = std::max(worst, harmonic / floor);
        }
        return worst;
    };
    // Each harmonic's bin is within the spread of the noise's (2 = 3 dB over
    // 40 averaged segments); without dither they stand far out.
    EXPECT_LT(harmonicsOverNoise(Dither::Triangular), 2.0);
    EXPECT_GT(harmonicsOverNoise(Dither::None), 100.0);

    // TPDF of one step: error power a sixth of a step squared from the
    // dither and a twelfth from the rounding, a quarter in all: RMS half a
    // step, 2^-16 of full scale, -96.33 dBFS.
    const std::vector<double> e = errorOf(x, Dither::Triangular);
    EXPECT_NEAR(decibels(rms(e, 0, e.size())), decibels(kStep16 / 2), 0.2);
}

TEST(Dither, ShapedNoiseIsFifteenDecibelsQuieterFromOneToSixKilohertz) {
    // A low sine with a little noise of its own, far from the grid.
    std::vector<double> x = sine(440, 0.01, kRate, 30 * 16384);
    std::vector<double> band;
    for (double f = 1000; f <= 6000; f += 100)
        band.push_back(f);
    const double tpdf = meanPower(errorOf(x, Dither::Triangular), band);
    const double shaped = meanPower(errorOf(x, Dither::Shaped), band);
    EXPECT_LT(10 * std::log10(shaped / tpdf), -15.0);
    // What the shaping moves goes higher: more noise at 16 kHz.
    EXPECT_GT(meanPower(errorOf(x, Dither::Shaped), {16000}), meanPower(errorOf(x, Dither::Triangular), {16000}));
}
