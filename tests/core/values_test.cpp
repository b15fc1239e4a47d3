#include "core/values.h"

#include <gtest/gtest.h>

using namespace ZQ;

TEST(NumericValues, NumbersOccupySixteenAlignedBytes) {
    struct Record {
        char tag;
        Num::Count n;
    };
    EXPECT_EQ(sizeof(Num::Nm<double>), 16u);
    EXPECT_EQ(alignof(Num::Count), 16u);
    EXPECT_EQ(offsetof(Record, n), 16u);
    EXPECT_EQ(kMaxDoubleElements.v_, 2305843009213693951ull);
    EXPECT_EQ(kAllOnes.v_, 18446744073709551615ull);
    EXPECT_LT(Num::Count(3ull), Num::Count(4ull));
    EXPECT_EQ((Num::Count(3ull) + Num::Count(4ull)).v_, 7ull);
}

TEST(NumericValues, RangesAreValidWhenOrdered) {
    EXPECT_TRUE(Num::SampleRange(Num::Count(5ull), Num::Count(5ull)).isValid());
    EXPECT_FALSE(Num::SampleRange(Num::Count(6ull), Num::Count(5ull)).isValid());
    EXPECT_TRUE(Num::range<double>(-1.0, 1.0).isValid());
}

TEST(SampleRate, DefaultIsInvalidAndUnsupported) {
    sample_rate r;
    EXPECT_FALSE(r.isValid());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(r.isSupported());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid sample rate: -1.000000\n");
    EXPECT_FALSE(r == r); // invalid rates never compare equal
}

TEST(SampleRate, DerivesPeriodAndNyquist) {
    sample_rate r(44100.0);
    EXPECT_TRUE(r.isValid());
    EXPECT_DOUBLE_EQ(r.r_.v_, 1.0 / 44100.0);
    EXPECT_DOUBLE_EQ(r.n_.v_, 22050.0);
    sample_rate zero(0.0);
    EXPECT_EQ(zero.r_.v_, 0.0);
    EXPECT_FALSE(zero.isValid());
}

TEST(SampleRate, SupportedRangeIsInclusiveAndRejectionsAreReported) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(sample_rate(8000.0).isSupported());
    EXPECT_TRUE(sample_rate(192000.0).isSupported());
    EXPECT_FALSE(sample_rate(7999.0).isSupported());
    EXPECT_FALSE(sample_rate(192001.0).isSupported());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Invalid sample rate: 7999.000000\nInvalid sample rate: 192001.000000\n");
}

TEST(SampleRate, AssignSkipsSameIntegerPartUnlessForced) {
    sample_rate r(44100.2);
    sample_rate same(44100.7);
    EXPECT_FALSE(r.assign(same));
    EXPECT_DOUBLE_EQ(r.rate(), 44100.2);
    same.isForceRefresh_ = true;
    EXPECT_TRUE(r.assign(same));
    EXPECT_DOUBLE_EQ(r.rate(), 44100.7);
    EXPECT_FALSE(r.isForceRefresh_); // never copied
    EXPECT_TRUE(r.assign(sample_rate(48000.0)));
    EXPECT_DOUBLE_EQ(r.r_.v_, 1.0 / 48000.0);
    EXPECT_DOUBLE_EQ(r.n_.v_, 24000.0);
}

TEST(SampleRate, EqualityResolvesTenNanohertz) {
    EXPECT_TRUE(sample_rate(44100.0) == sample_rate(44100.000000001));
    EXPECT_FALSE(sample_rate(44100.0) == sample_rate(44100.00000002));
    EXPECT_FALSE(sample_rate(44100.0) == sample_rate(48000.0));
    EXPECT_TRUE(sample_rate(1e300) == sample_rate(1e300)); // no overflow on absurd rates
}

TEST(HMSTimeValue, FlagFollowsTheRate) {
    HMSTime t(sample_rate(48000.0), Num::Count(96000ull));
    EXPECT_TRUE(t.isSupported_);
    EXPECT_EQ(t.sample_.v_, 96000ull);
    testing::internal::CaptureStdout();
    HMSTime slow(sample_rate(4000.0), Num::Count(1ull));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(slow.isSupported_);
}
