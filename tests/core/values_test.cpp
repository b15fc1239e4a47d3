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
    EXPECT_TRUE(sample_rate(384000.0).isSupported());
    EXPECT_FALSE(sample_rate(7999.0).isSupported());
    EXPECT_FALSE(sample_rate(384001.0).isSupported());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Invalid sample rate: 7999.000000\nInvalid sample rate: 384001.000000\n");
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

TEST(HMSText, DigitsAreTruncatedNeverRounded) {
    auto text = [](double rate, unsigned long long index) {
        testing::internal::CaptureStdout();
        std::string t = ZQ::hmsText(ZQ::HMSTime(ZQ::sample_rate(rate), ZQ::Num::Count(index)));
        testing::internal::GetCapturedStdout();
        return t;
    };
    EXPECT_EQ(text(44100, 0), "00:00:00.000");
    EXPECT_EQ(text(44100, 44100 * 2 - 1), "00:00:01.999");
    EXPECT_EQ(text(44100, 441), "00:00:00.010"); // exactly 10 ms stays 10 ms
    EXPECT_EQ(text(48000, 48000ull * 3600), "01:00:00.000");
    EXPECT_EQ(text(48000, 48000ull * (3600 * 12 + 60 * 34 + 56) + 789 * 48), "12:34:56.789");
    EXPECT_EQ(text(8000, 8000ull * 3600 * 100 - 1), "99:59:59.999");
    EXPECT_EQ(text(8000, 8000ull * 3600 * 100), "00:00:00.000"); // 100 hours or more
    EXPECT_EQ(text(4000, 4000), "00:00:00.000");                 // unsupported rate: invalid time
    EXPECT_EQ(ZQ::hmsText(ZQ::HMSTime()), "00:00:00.000");
    // Every millisecond boundary of a minute at common rates.
    for (double rate : {44100.0, 48000.0, 22050.0, 96000.0})
        for (unsigned ms = 0; ms < 60000; ms += 7) {
            const auto index = static_cast<unsigned long long>(rate) * ms / 1000;
            if (index * 1000 % static_cast<unsigned long long>(rate) != 0) continue; // not on a boundary
            char want[16];
            std::snprintf(want, sizeof want, "00:00:%02u.%03u", ms / 1000, ms % 1000);
            ASSERT_EQ(text(rate, index), want) << rate;
        }
}

TEST(SampleCountText, RangesAndSingleIndices) {
    using ZQ::Num::Count;
    using ZQ::Num::SampleRange;
    EXPECT_EQ(ZQ::sampleCountText(SampleRange(Count(5ull), Count(3ull)), "a", "b", true), "--/--");
    EXPECT_EQ(ZQ::sampleCountText(SampleRange(Count(7ull), Count(7ull)), "", "", false), "--/--");
    EXPECT_EQ(ZQ::sampleCountText(SampleRange(Count(7ull), Count(7ull)), "at ", " smp", true), "at 7 smp");
    EXPECT_EQ(ZQ::sampleCountText(SampleRange(Count(0ull), Count(0ull)), "", "", true), "0");
    EXPECT_EQ(ZQ::sampleCountText(SampleRange(Count(0ull), Count(0ull)), "", "", false), "--/--");
    EXPECT_EQ(ZQ::sampleCountText(SampleRange(Count(0ull), Count(44099ull)), "[", "]", false), "[0/44099]");
    EXPECT_EQ(ZQ::sampleCountText(SampleRange(Count(0ull), Count(18446744073709551615ull)), "", "", false),
              "0/18446744073709551615");
}
