// Channel names from the file's speaker mask, or numbers.
#include "audiofile/ChannelNames.h"

#include <gtest/gtest.h>

using Names = std::vector<std::string>;

TEST(ChannelNames, TheSpeakersOfKnownLayoutsAndNumbersOtherwise) {
    EXPECT_EQ(ZQ::channelNames(2, 0x3), (Names{"L", "R"}));
    EXPECT_EQ(ZQ::channelNames(6, 0x3F), (Names{"L", "R", "C", "LFE", "Ls", "Rs"}));                // 5.1, back pair
    EXPECT_EQ(ZQ::channelNames(6, 0x60F), (Names{"L", "R", "C", "LFE", "Ls", "Rs"}));               // 5.1, side pair
    EXPECT_EQ(ZQ::channelNames(8, 0x63F), (Names{"L", "R", "C", "LFE", "Lrs", "Rrs", "Ls", "Rs"})); // 7.1
    EXPECT_EQ(ZQ::channelNames(4, 0x33), (Names{"L", "R", "Ls", "Rs"}));                            // quad
    // No mask, or one that does not name every channel: numbers from 1.
    EXPECT_EQ(ZQ::channelNames(3, 0), (Names{"1", "2", "3"}));
    EXPECT_EQ(ZQ::channelNames(3, 0x3), (Names{"1", "2", "3"}));
    EXPECT_EQ(ZQ::channelNames(1, 0x4), (Names{"C"}));
    EXPECT_EQ(ZQ::channelNames(16, 0),
              Names({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"}));
    // Bits past the named speakers (or the "all" bit): numbers.
    EXPECT_EQ(ZQ::channelNames(2, 0x80000001u), (Names{"1", "2"}));
    EXPECT_TRUE(ZQ::channelNames(0, 0).empty());
}
