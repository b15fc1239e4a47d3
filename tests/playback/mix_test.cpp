#include "playback/ChannelMix.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using ZQ::ChannelMix;
using ZQ::makeChannelMix;

namespace {

constexpr double h = 0.70710678118654752440;

double side(const ChannelMix& m, int o) {
    double sum = 0;
    for (unsigned c = 0; c < m.inputs; ++c)
        sum += m.gain[o][c];
    return sum;
}

} // namespace

TEST(ChannelMix, SoloedChannelsWinOverMutedOnes) {
    EXPECT_EQ(ZQ::audibleChannels({false, true, false}, {}), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(ZQ::audibleChannels({false, true, false}, {false, true, false}), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(ZQ::audibleChannels({true, true}, {}), (std::vector<bool>{false, false}));
}

TEST(ChannelMix, OneOrTwoAudibleChannelsPassAtUnity) {
    // Mono on a mono stream, and stereo as it is.
    ChannelMix mono = makeChannelMix(1, 1, {true}, 0);
    EXPECT_EQ(mono.gain[0][0], 1.0);
    ChannelMix stereo = makeChannelMix(2, 2, {true, true}, 0);
    EXPECT_EQ(stereo.gain[0][0], 1.0);
    EXPECT_EQ(stereo.gain[1][1], 1.0);
    EXPECT_EQ(stereo.gain[0][1] + stereo.gain[1][0], 0.0);
    // One of six: both sides, unity; two of six: left and right, in order.
    ChannelMix one = makeChannelMix(6, 2, {false, false, false, true, false, false}, 0x3F);
    EXPECT_EQ(one.gain[0][3], 1.0);
    EXPECT_EQ(one.gain[1][3], 1.0);
    EXPECT_EQ(side(one, 0), 1.0);
    ChannelMix two = makeChannelMix(6, 2, {false, true, false, false, true, false}, 0x3F);
    EXPECT_EQ(two.gain[0][1], 1.0);
    EXPECT_EQ(two.gain[1][4], 1.0);
    EXPECT_EQ(side(two, 0) + side(two, 1), 2.0);
    EXPECT_TRUE(makeChannelMix(4, 2, {false, false, false, false}, 0).isSilent());
}

TEST(ChannelMix, KnownLayoutsUseTheStandardDownmixWithoutTheLfe) {
    // 5.1 (FL FR FC LFE BL BR): L = FL + h FC + h BL, scaled to full scale.
    ChannelMix m = makeChannelMix(6, 2, std::vector<bool>(6, true), 0x3F);
    const double scale = 1.0 / (1.0 + 2.0 * h);
    EXPECT_NEAR(m.gain[0][0], scale, 1e-12);
    EXPECT_EQ(m.gain[1][0], 0.0);
    EXPECT_NEAR(m.gain[0][2], h * scale, 1e-12);
    EXPECT_NEAR(m.gain[1][2], h * scale, 1e-12);
    EXPECT_EQ(m.gain[0][3] + m.gain[1][3], 0.0); // no LFE
    EXPECT_NEAR(m.gain[0][4], h * scale, 1e-12);
    EXPECT_NEAR(m.gain[1][5], h * scale, 1e-12);
    EXPECT_NEAR(side(m, 0), 1.0, 1e-12);
    // Quad and 7.1.
    ChannelMix quad = makeChannelMix(4, 2, std::vector<bool>(4, true), 0x33);
    EXPECT_NEAR(quad.gain[0][0], 1.0 / (1.0 + h), 1e-12);
    EXPECT_NEAR(quad.gain[0][2], h / (1.0 + h), 1e-12);
    ChannelMix seven = makeChannelMix(8, 2, std::vector<bool>(8, true), 0x63F);
    EXPECT_NEAR(seven.gain[0][6], h / (1.0 + 3.0 * h), 1e-12); // side left
    EXPECT_EQ(seven.gain[1][6], 0.0);
    // A mask that is no known layout spreads instead.
    ChannelMix odd = makeChannelMix(3, 2, std::vector<bool>(3, true), 0x7);
    EXPECT_NEAR(odd.gain[0][1], odd.gain[1][1], 1e-12);
}

TEST(ChannelMix, OtherCountsSpreadEvenlyAtConstantPowerAndNeverPastFullScale) {
    for (unsigned n = 3; n <= 16; ++n) {
        ChannelMix m = makeChannelMix(n, 2, std::vector<bool>(n, true), 0);
        // First hard left, last hard right, each at the same power.
        EXPECT_EQ(m.gain[1][0], 0.0) << n;
        EXPECT_EQ(m.gain[0][n - 1], 0.0) << n;
        const double power = m.gain[0][0] * m.gain[0][0];
        for (unsigned c = 0; c < n; ++c) {
            EXPECT_NEAR(m.gain[0][c] * m.gain[0][c] + m.gain[1][c] * m.gain[1][c], power, 1e-12) << n << " " << c;
            if (c > 0) {
                EXPECT_LE(m.gain[0][c], m.gain[0][c - 1] + 1e-15) << "left to right, " << n;
            }
        }
        // Full scale on every channel is full scale on the louder side.
        EXPECT_NEAR(std::max(side(m, 0), side(m, 1)), 1.0, 1e-12) << n;
        EXPECT_LE(side(m, 0), 1.0 + 1e-12);
        EXPECT_LE(side(m, 1), 1.0 + 1e-12);
    }
}
