// The time ruler's ticks and labels at every zoom: labels trimmed to what
// the step needs, ticks at the columns of their times, labels that never
// touch, ticks that stay put while the view scrolls.
#include "waveform/TimeRuler.h"

#include <cmath>
#include <gtest/gtest.h>

namespace TR = ZQ::TimeRuler;

namespace {

// A font of 7-pixel characters.
double sevenPixels(const std::string& s) {
    return 7.0 * static_cast<double>(s.size());
}

} // namespace

TEST(TimeRuler, LabelsSayWhatTheStepNeedsAndNoMore) {
    EXPECT_EQ(TR::timeLabel(3750, 30), "1:02:30");
    EXPECT_EQ(TR::timeLabel(150, 1), "2:30");
    EXPECT_EQ(TR::timeLabel(45, 5), "45 s");
    EXPECT_EQ(TR::timeLabel(0, 60), "0:00");
    EXPECT_EQ(TR::timeLabel(2.25, 0.25), "2.250 s");
    EXPECT_EQ(TR::timeLabel(2.25, 0.05), "2.250 s");
    EXPECT_EQ(TR::timeLabel(75.5, 0.5), "1:15.500");
    EXPECT_EQ(TR::timeLabel(3600.1, 0.1), "1:00:00.100");
    EXPECT_EQ(TR::timeLabel(0.0125, 0.0005), "12.5 ms");
    EXPECT_EQ(TR::timeLabel(0.00002, 0.00001), "0.02 ms");
    EXPECT_EQ(TR::timeLabel(1.0125, 0.0005), "1.0125 s");
    // A time that is not quite on the step (a float sum) prints as the step's.
    EXPECT_EQ(TR::timeLabel(0.30000000000000004, 0.1), "0.300 s");
}

TEST(TimeRuler, TicksStandAtTheColumnsOfTheirTimesAndLabelsNeverTouch) {
    const double rate = 48000, width = 1000;
    const std::uint64_t hour = 3600 * 48000;
    // From the whole hour down to a few samples per pixel and below.
    for (double spp = double(hour) / width; spp > 0.01; spp /= 3.7) {
        const double first = spp > 1 ? double(hour) / 3 : 1000.25;
        const std::vector<TR::Tick> ticks = TR::ticks(first, spp, width, rate, hour, sevenPixels, 12);
        ASSERT_FALSE(ticks.empty()) << spp;
        EXPECT_LE(ticks.size(), static_cast<std::size_t>(width / 6 + 2)) << spp;
        const TR::Tick* previous = nullptr;
        int majors = 0;
        for (const TR::Tick& t : ticks) {
            // The tick's column is its sample's (within a rounding of the
            // sample to a whole one).
            EXPECT_GE(t.x, -1e-6) << spp;
            EXPECT_LE(t.x, width + 1e-6) << spp;
            EXPECT_NEAR(t.x, (double(t.sample) - first) / spp, 0.5 / spp + 1e-6) << spp;
            if (!t.major) continue;
            ++majors;
            EXPECT_FALSE(t.label.empty());
            if (previous) {
                const double room = (sevenPixels(previous->label) + sevenPixels(t.label)) / 2 + 12;
                EXPECT_GE(t.x - previous->x, room - 1e-6) << spp << ": " << previous->label << " / " << t.label;
            }
            previous = &t;
        }
        EXPECT_GE(majors, 1) << spp;
    }
}

TEST(TimeRuler, KnownTimesAtKnownZooms) {
    // An hour in 1000 pixels: ten-minute steps, each at its column.
    const double rate = 48000, spp = 3600.0 * 48000 / 1000;
    std::vector<TR::Tick> ticks = TR::ticks(0, spp, 1000, rate, 3600 * 48000, sevenPixels, 12);
    std::vector<std::string> labels;
    for (const TR::Tick& t : ticks)
        if (t.major) {
            labels.push_back(t.label);
            EXPECT_NEAR(t.x, double(t.sample) / spp, 1e-9);
        }
    ASSERT_GE(labels.size(), 2u);
    EXPECT_EQ(labels[0], "0:00");
    EXPECT_EQ(labels[1], "5:00");
    // A second across 1000 pixels of a 44.1 kHz file, 2 s in: 50 ms steps.
    ticks = TR::ticks(2 * 44100, 44.1, 1000, 44100, 10 * 44100, sevenPixels, 12);
    labels.clear();
    for (const TR::Tick& t : ticks)
        if (t.major) labels.push_back(t.label);
    ASSERT_GE(labels.size(), 3u);
    EXPECT_EQ(labels[0], "2.000 s");
    EXPECT_EQ(labels[1], "2.100 s");
    // Ten samples a pixel wide each: the ruler counts samples.
    ticks = TR::ticks(1000, 0.1, 1000, 48000, 48000, sevenPixels, 12);
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.front().sample, 1000u);
    EXPECT_EQ(ticks.front().x, 0.0);
    EXPECT_EQ(ticks.front().label, "1000");
    for (const TR::Tick& t : ticks) {
        if (t.major) {
            EXPECT_EQ(t.label, std::to_string(t.sample));
        }
    }
}

TEST(TimeRuler, ScrollingMovesTheTicksWithTheSamples) {
    const double rate = 44100, spp = 300;
    const std::vector<TR::Tick> a = TR::ticks(100000, spp, 800, rate, 44100 * 60, sevenPixels, 12);
    const std::vector<TR::Tick> b = TR::ticks(100000 + 37 * spp, spp, 800, rate, 44100 * 60, sevenPixels, 12);
    // Every tick of the second view that the first one shows too is the same
    // tick, 37 pixels further left.
    int shared = 0;
    for (const TR::Tick& t : b)
        for (const TR::Tick& u : a)
            if (u.sample == t.sample) {
                ++shared;
                EXPECT_NEAR(u.x - 37, t.x, 1e-6);
                EXPECT_EQ(u.label, t.label);
            }
    EXPECT_GT(shared, 5);
}

TEST(TimeRuler, NothingToShowGivesNoTicks) {
    EXPECT_TRUE(TR::ticks(0, 10, 0, 48000, 1000, sevenPixels).empty());
    EXPECT_TRUE(TR::ticks(0, 10, 500, 0, 1000, sevenPixels).empty());
    EXPECT_TRUE(TR::ticks(0, 10, 500, 48000, 0, sevenPixels).empty());
    // One frame: its tick at the start.
    const std::vector<TR::Tick> one = TR::ticks(0, 0.01, 500, 48000, 1, sevenPixels);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].label, "0");
}
