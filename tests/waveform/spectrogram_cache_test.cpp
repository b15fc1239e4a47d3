// The spectrogram's cache with its two workers: tiles come back with the
// levels of the frames in their columns, zoomed out from the pooled summary;
// a scroll makes only the new tiles; an edit drops only the tiles that see
// it; the bound holds; suspend() leaves the samples alone.
#include "waveform/SpectrogramCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

using namespace ZQ;
using Key = SpectrogramCache::Key;

namespace {

// Asks for `tiles` until every one is there (or 20 s have passed).
std::vector<std::shared_ptr<const SpectrogramCache::Tile>> fetch(SpectrogramCache& cache, Key key, std::int64_t first,
                                                                 std::int64_t last) {
    std::vector<std::shared_ptr<const SpectrogramCache::Tile>> out(std::size_t(last - first + 1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        bool all = true;
        for (std::int64_t t = first; t <= last; ++t) {
            key.tile = t;
            auto& slot = out[std::size_t(t - first)];
            if (!slot) slot = cache.tile(key, -std::abs(double(t - (first + last) / 2)));
            all = all && slot;
        }
        if (all || std::chrono::steady_clock::now() > deadline) return out;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int loudest(const std::uint8_t* column, unsigned bins) {
    return int(std::max_element(column, column + bins) - column);
}

} // namespace

TEST(SpectrogramCache, TilesHoldTheirColumnsLevelsAndAScrollMakesOnlyTheNewOnes) {
    const double rate = 44100;
    std::vector<double> s(10 * 44100);
    for (std::size_t i = 0; i < s.size(); ++i) // 1 kHz for 5 s, then 5 kHz
        s[i] = 0.5 * std::sin(2 * std::numbers::pi * (i < s.size() / 2 ? 1000 : 5000) * double(i) / rate);
    std::atomic<int> readies{0};
    SpectrogramCache cache([&] { readies.fetch_add(1); });
    cache.setChannel(0, s.data(), s.size());
    // One second over 1,920 columns: a frame for every column.
    Key key{0, 1024, rate / 1920, 0};
    auto tiles = fetch(cache, key, 0, 29);
    for (const auto& t : tiles)
        ASSERT_TRUE(t);
    EXPECT_EQ(cache.tilesMade(), 30u);
    EXPECT_GE(readies.load(), 30);
    const unsigned bins = 513;
    for (unsigned c = 0; c < SpectrogramCache::kTileColumns; c += 7)
        EXPECT_NEAR(loudest(tiles[10]->column(c), bins), 1000 * 1024 / rate, 1) << c;
    // Scrolled on by a tenth of the view: only three tiles are new.
    fetch(cache, key, 3, 32);
    EXPECT_EQ(cache.tilesMade(), 33u);
    // Later in the file, 5 kHz.
    key.samplesPerColumn = rate / 192; // ten seconds over 1,920 columns... of a tenth
    auto late = fetch(cache, key, 1500 / 64, 1500 / 64);
    ASSERT_TRUE(late[0]);
    EXPECT_NEAR(loudest(late[0]->column(1500 % 64), bins), 5000 * 1024 / rate, 1);
}

TEST(SpectrogramCache, ZoomedOutAClickInAnHourIsLitAndAnEditDropsOnlyWhatFollowsIt) {
    const std::uint64_t hour = 3600ull * 8000;
    std::vector<double> s(hour, 0.0);
    s[2'000'000] = 1.0;
    SpectrogramCache cache({});
    cache.setChannel(0, s.data(), s.size());
    const double spc = double(hour) / 1920;
    Key key{0, 1024, spc, 0};
    auto tiles = fetch(cache, key, 0, 29);
    for (const auto& t : tiles)
        ASSERT_TRUE(t);
    EXPECT_TRUE(cache.hasSummary(0, 1024));
    const auto column = std::uint64_t(2'000'000 / spc);
    const std::uint8_t* lit = tiles[column / 64]->column(unsigned(column % 64));
    const std::uint8_t* dark = tiles[(column + 100) / 64]->column(unsigned((column + 100) % 64));
    for (unsigned k = 0; k < 513; k += 32) {
        EXPECT_GT(SpectralSummary::dbOf(lit[k]), -60.0f) << k;
        EXPECT_EQ(dark[k], 0) << k;
    }
    // Silence from the middle on: the tiles before it stay, the rest go.
    cache.suspend();
    std::fill(s.begin() + hour / 2, s.end(), 0.25);
    cache.invalidateFrom(0, hour / 2);
    cache.resume();
    // The middle is the first column of tile 15; tile 14's last frames reach
    // half a frame into the change, so it goes too.
    EXPECT_EQ(cache.tileCount(), 14u);
    EXPECT_FALSE(cache.hasSummary(0, 1024)); // to be made again from there
    const std::uint64_t before = cache.tilesMade();
    auto again = fetch(cache, key, 0, 29);
    EXPECT_EQ(cache.tilesMade() - before, 16u);
    EXPECT_EQ(again[3], tiles[3]) << "a tile before the edit is the same one";
    EXPECT_EQ(again[29]->column(10)[0] > 0, true) << "the new samples are there";
}

TEST(SpectrogramCache, TheBoundHoldsTheLeastRecentlyUsedGoFirst) {
    std::vector<double> s(44100 * 20, 0.1);
    const std::uint64_t bound = 40 * (64 * 513 + 200);
    SpectrogramCache cache({}, bound);
    cache.setChannel(0, s.data(), s.size());
    Key key{0, 1024, 100, 0};
    fetch(cache, key, 0, 9);
    fetch(cache, key, 10, 109); // a hundred more
    EXPECT_LE(cache.bytes(), bound);
    EXPECT_LE(cache.tileCount(), 40u);
    // The newest are still there, the oldest are gone.
    key.tile = 109;
    EXPECT_TRUE(cache.tile(key, 0));
    key.tile = 0;
    EXPECT_FALSE(cache.tile(key, 0));
}

TEST(SpectrogramCache, ASuspendWhileASummaryIsMadeLeavesItWholeOrNotAtAllAndTheNextRequestFinishesIt) {
    const std::uint64_t count = 20ull * 60 * 8000; // twenty minutes at 8 kHz
    std::vector<double> s(count, 0.0);
    s[count / 3] = 1.0;
    SpectrogramCache cache({});
    cache.setChannel(0, s.data(), s.size());
    // 400 columns: each holds more frames than a block pools, so the
    // summary answers, and it is made first.
    const double spc = double(count) / 400;
    ASSERT_GE(spc, 512.0 * SpectralSummary::kPool);
    Key key{0, 1024, spc, 0};
    EXPECT_FALSE(cache.tile(key, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    cache.suspend();
    // However far the workers got, nothing is half made: either no summary
    // and no tile, or a whole summary.
    const bool whole = cache.hasSummary(0, 1024);
    if (!whole) {
        EXPECT_EQ(cache.tileCount(), 0u);
    }
    cache.resume();
    auto tiles = fetch(cache, key, 0, 6);
    for (const auto& t : tiles)
        ASSERT_TRUE(t);
    EXPECT_TRUE(cache.hasSummary(0, 1024)) << (whole ? "kept" : "made again");
    const auto column = std::uint64_t(double(count / 3) / spc);
    EXPECT_GT(SpectralSummary::dbOf(tiles[column / 64]->column(unsigned(column % 64))[200]), -60.0f);
    EXPECT_EQ(tiles[(column + 20) / 64]->column(unsigned((column + 20) % 64))[200], 0);
}
