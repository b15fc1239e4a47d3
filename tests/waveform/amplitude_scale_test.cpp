// The dB and linear mappings of sample values to a view's height, and the
// marks of the thin scale beside it.
#include "waveform/AmplitudeScale.h"

#include <cmath>
#include <gtest/gtest.h>

namespace AS = ZQ::AmplitudeScale;

TEST(AmplitudeScale, DecibelsRunFromTheFloorAtTheCentreToFullScaleAtTheEdges) {
    EXPECT_EQ(AS::fraction(0.5, false), 0.5);
    EXPECT_EQ(AS::fraction(-0.25, false), -0.25);
    EXPECT_DOUBLE_EQ(AS::fraction(1.0, true), 1.0);
    EXPECT_DOUBLE_EQ(AS::fraction(-1.0, true), -1.0);
    // -20 dBFS fills two thirds of the half height, on either side.
    EXPECT_NEAR(AS::fraction(0.1, true), 2.0 / 3.0, 1e-12);
    EXPECT_NEAR(AS::fraction(-0.1, true), -2.0 / 3.0, 1e-12);
    EXPECT_NEAR(AS::fraction(std::pow(10.0, -30.0 / 20), true), 0.5, 1e-12);
    // At and below the floor: the centre line; silence and NaN too.
    EXPECT_EQ(AS::fraction(0.001, true), 0.0);
    EXPECT_EQ(AS::fraction(1e-9, true), 0.0);
    EXPECT_EQ(AS::fraction(0.0, true), 0.0);
    EXPECT_EQ(AS::fraction(std::nan(""), true), 0.0);
    // Past full scale: the edge.
    EXPECT_EQ(AS::fraction(1.5, true), 1.0);
}

TEST(AmplitudeScale, MarksFitTheViewAndKeepApart) {
    // A tall view in dB: 0, -6, -12, -24, -48 and the floor at the centre.
    std::vector<AS::Mark> m = AS::marks(true, 1.0, 200, 12);
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0].label, "0");
    EXPECT_DOUBLE_EQ(m[0].fraction, 1.0);
    EXPECT_EQ(m[1].label, "-6");
    EXPECT_NEAR(m[1].fraction, 0.9, 1e-6);
    EXPECT_EQ(m[4].label, "-48");
    EXPECT_NEAR(m[4].fraction, 0.2, 1e-6);
    // A short one: only marks at least 12 px apart.
    m = AS::marks(true, 1.0, 30, 12);
    for (std::size_t i = 1; i < m.size(); ++i)
        EXPECT_GE((m[i - 1].fraction - m[i].fraction) * 30, 12 - 1e-9) << m[i].label;
    EXPECT_EQ(m.front().label, "0");
    // Zoomed in twice: full scale is past the edge; the linear scale starts
    // at 0.5.
    m = AS::marks(false, 2.0, 200, 12);
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m[0].label, "0.5");
    EXPECT_DOUBLE_EQ(m[0].fraction, 1.0);
    // No view, no marks.
    EXPECT_TRUE(AS::marks(true, 1.0, 0, 12).empty());
}
