// Spectra against known signals: a sine at a bin's own frequency reads its
// level in dBFS at that bin and falls off away from it; silence reads the
// floor; one full-scale sample in an hour of silence stands out in the
// pooled summary at any zoom; a rebuild after an edit transforms only the
// frames that can see the change.
#include "waveform/SpectralAnalysis.h"
#include "waveform/SpectralSummary.h"
#include "waveform/SpectrogramImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using namespace ZQ;

namespace {

std::vector<double> sine(std::uint64_t count, double cyclesPerSample, double amplitude) {
    std::vector<double> out(count);
    for (std::uint64_t i = 0; i < count; ++i)
        out[i] = amplitude * std::sin(2 * std::numbers::pi * cyclesPerSample * double(i));
    return out;
}

int loudestBin(const std::vector<float>& power) {
    return int(std::max_element(power.begin(), power.end()) - power.begin());
}

} // namespace

TEST(Spectral, ASineAtABinReadsItsLevelThereAtEverySizeAndSilenceReadsNothing) {
    for (unsigned size : {256u, 512u, 1024u, 2048u, 4096u, 8192u}) {
        Spectral::FrameAnalyzer analyzer(size);
        ASSERT_EQ(analyzer.bins(), size / 2 + 1);
        const unsigned bin = size / 16;
        for (double amplitude : {1.0, 0.1}) {
            const std::vector<double> s = sine(size * 4, double(bin) / size, amplitude);
            std::vector<float> power(analyzer.bins());
            analyzer.power(s.data(), s.size(), size * 2, power.data());
            EXPECT_EQ(loudestBin(power), int(bin)) << size;
            EXPECT_NEAR(Spectral::powerDb(power[bin]), 20 * std::log10(amplitude), 0.05) << size;
            // Hann's side lobes: far bins are more than 90 dB down.
            EXPECT_LT(Spectral::powerDb(power[bin * 3]), 20 * std::log10(amplitude) - 90) << size;
        }
    }
    // Silence, and a frame wholly outside the channel.
    Spectral::FrameAnalyzer analyzer(1024);
    const std::vector<double> quiet(4096, 0.0);
    std::vector<float> power(analyzer.bins(), 1.0f);
    analyzer.power(quiet.data(), quiet.size(), 2048, power.data());
    for (float p : power)
        EXPECT_EQ(Spectral::powerDb(p), Spectral::kSilenceDb);
    const std::vector<double> loud = sine(4096, 0.1, 1.0);
    analyzer.power(loud.data(), loud.size(), 100000, power.data());
    EXPECT_EQ(Spectral::powerDb(power[102]), Spectral::kSilenceDb);
    // A size not offered falls back to the default.
    EXPECT_EQ(Spectral::FrameAnalyzer(1000).size(), Spectral::kDefaultSize);
    EXPECT_FALSE(Spectral::isValidSize(16384));
}

TEST(Spectral, AFrameAtTheEdgesCountsWhatLiesBeyondAsSilenceAndNotANumberIsPassedOver) {
    Spectral::FrameAnalyzer analyzer(512);
    std::vector<double> s = sine(2000, 32.0 / 512, 0.5);
    s[700] = std::nan("");
    std::vector<float> power(analyzer.bins());
    // Half of the frame before the first sample: the sine at half its energy.
    analyzer.power(s.data(), s.size(), 0, power.data());
    EXPECT_EQ(loudestBin(power), 32);
    EXPECT_LT(Spectral::powerDb(power[32]), 20 * std::log10(0.5) - 3);
    analyzer.power(s.data(), s.size(), 700, power.data());
    for (float p : power)
        EXPECT_TRUE(std::isfinite(p));
}

TEST(SpectralSummary, AClickInAnHourOfSilenceStandsOutInTheColumnThatHoldsIt) {
    const std::uint64_t hour = 3600ull * 8000; // an hour at 8 kHz
    std::vector<double> s(hour, 0.0);
    const std::uint64_t click = 1234567;
    s[click] = 1.0;
    SpectralSummary summary;
    const std::uint64_t before = Spectral::transformCount();
    ASSERT_TRUE(summary.build(s.data(), s.size(), 1024));
    // Every frame once: centres every 512 samples.
    EXPECT_EQ(Spectral::transformCount() - before, (hour - 1) / 512 + 1);
    EXPECT_EQ(summary.bins(), 513u);
    // Pooled: a byte a bin for every 16 frames, a sixteenth of the samples' count.
    EXPECT_EQ(summary.blockCount(), ((hour - 1) / 512 + 1 + 15) / 16);
    EXPECT_EQ(summary.bytes(), summary.blockCount() * 513);
    // Fully zoomed out on 1920 columns: the column holding the click is lit
    // across the spectrum; the others are at the floor.
    const std::uint64_t perColumn = hour / 1920;
    std::vector<float> db(summary.bins());
    const std::uint64_t column = click / perColumn;
    summary.maxDb(column * perColumn, (column + 1) * perColumn - 1, db.data());
    for (unsigned k = 0; k < summary.bins(); k += 64)
        EXPECT_GT(db[k], -60.0f) << k;
    summary.maxDb((column + 5) * perColumn, (column + 6) * perColumn - 1, db.data());
    for (unsigned k = 0; k < summary.bins(); k += 64)
        EXPECT_EQ(db[k], Spectral::kSilenceDb) << k;
    // As narrow as a single sample, the column still finds the click's frames.
    summary.maxDb(click, click, db.data());
    EXPECT_GT(db[100], -60.0f);
}

TEST(SpectralSummary, ARebuildAfterAnEditTransformsOnlyTheFramesThatSeeTheChange) {
    const std::uint64_t count = 400000;
    std::vector<double> s = sine(count, 1000.0 / 44100, 0.5);
    SpectralSummary one, two;
    ASSERT_TRUE(one.build(s.data(), s.size(), 2048, nullptr, 1));
    ASSERT_TRUE(two.build(s.data(), s.size(), 2048, nullptr, 2));
    std::vector<float> a(one.bins()), b(two.bins());
    for (std::uint64_t at : {0ull, 100000ull, 399999ull}) {
        one.maxDb(at, at + 20000, a.data());
        two.maxDb(at, at + 20000, b.data());
        EXPECT_EQ(a, b) << "one or two threads, the same summary";
    }
    // Silence from 300000 on: only the frames from there (less half a frame) again.
    std::fill(s.begin() + 300000, s.end(), 0.0);
    const std::uint64_t before = Spectral::transformCount();
    ASSERT_TRUE(one.rebuildFrom(s.data(), s.size(), 300000));
    const std::uint64_t redone = Spectral::transformCount() - before;
    EXPECT_LE(redone, (count - 300000) / 1024 + 2 * SpectralSummary::kPool + 2);
    EXPECT_GE(redone, (count - 300000) / 1024);
    one.maxDb(0, 200000, a.data());
    EXPECT_NEAR(a[loudestBin(std::vector<float>(a))], -6.0f - 1.5f, 1.6f); // the sine, before the edit
    one.maxDb(320000, 399999, a.data());
    EXPECT_EQ(a[46], Spectral::kSilenceDb);
    // The same as a summary built afresh.
    SpectralSummary fresh;
    ASSERT_TRUE(fresh.build(s.data(), s.size(), 2048));
    std::vector<float> c(fresh.bins());
    for (std::uint64_t at = 0; at < count; at += 37000) {
        one.maxDb(at, at + 5000, a.data());
        fresh.maxDb(at, at + 5000, c.data());
        EXPECT_EQ(a, c) << at;
    }
    // Cancelled, it leaves nothing half made.
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(fresh.build(s.data(), s.size(), 1024, &cancel));
    EXPECT_TRUE(fresh.isEmpty());
}

TEST(SpectrogramImage, TheMapsRiseInLightnessAndTheBrightestRowOfASineIsAtItsFrequencyOnEitherScale) {
    using namespace SpectrogramImage;
    auto lightness = [](std::uint32_t c) {
        return 0.2126 * ((c >> 16) & 0xff) + 0.7152 * ((c >> 8) & 0xff) + 0.0722 * (c & 0xff);
    };
    for (ColourMap map : {ColourMap::Magma, ColourMap::Grey}) {
        const auto& table = colours(map);
        EXPECT_LT(lightness(table.front()), 10) << "dark at the floor";
        EXPECT_GT(lightness(table.back()), 200) << "bright at the top";
        for (std::size_t i = 1; i < table.size(); ++i)
            EXPECT_GE(lightness(table[i]) + 1.0, lightness(table[i - 1])) << i;
        for (std::uint32_t c : table)
            EXPECT_EQ(c >> 24, 0xffu);
    }
    // Levels to colours: the floor and 0 dBFS, through the gain.
    Scale scale;
    EXPECT_EQ(indexOf(-90.0f, scale), 0);
    EXPECT_EQ(indexOf(0.0f, scale), 255);
    EXPECT_EQ(indexOf(-200.0f, scale), 0);
    scale.gainDb = 10;
    EXPECT_EQ(indexOf(-10.0f, scale), 255);

    for (bool logarithmic : {false, true}) {
        for (unsigned size : {512u, 2048u, 8192u}) {
            Scale s;
            s.logarithmic = logarithmic;
            for (double hz : {1000.0, 5000.0}) {
                Spectral::FrameAnalyzer analyzer(size);
                const std::vector<double> tone = sine(size * 3, hz / s.rate, 0.5);
                std::vector<float> power(analyzer.bins()), db(analyzer.bins());
                analyzer.power(tone.data(), tone.size(), size, power.data());
                for (std::size_t k = 0; k < db.size(); ++k)
                    db[k] = Spectral::powerDb(power[k]);
                const int height = 300;
                std::vector<std::uint8_t> rows(height);
                column(db.data(), analyzer.bins(), height, s, rows.data());
                // The brightest rows (several where a bin is taller than a row):
                // their middle is the tone's frequency, to within a bin or two rows.
                const std::uint8_t top = *std::max_element(rows.begin(), rows.end());
                const int from = int(std::find(rows.begin(), rows.end(), top) - rows.begin());
                int to = from;
                while (to + 1 < height && rows[std::size_t(to + 1)] == top)
                    ++to;
                const double binHz = s.rate / size;
                const double middle = (from + to) / 2.0;
                const int at = int(std::lround(middle));
                const double rowHz = std::fabs(frequencyAt(at, height, s) - frequencyAt(at + 1, height, s));
                if (to - from <= 4) {
                    EXPECT_NEAR(middle, rowOf(hz, height, s), std::max(2.0, (to - from) / 2.0 + 1));
                }
                EXPECT_NEAR(frequencyAt(at, height, s), hz, std::max(binHz, rowHz))
                    << logarithmic << " " << size << " " << hz;
                EXPECT_NEAR(frequencyAt(int(std::lround(rowOf(hz, height, s))), height, s), hz, hz * 0.03);
            }
        }
    }
}
