#include "core/buffer.h"

#include <cstdint>

#include <gtest/gtest.h>

using namespace ZQ;
using Num::Count;

TEST(SampleBuffer, RefusesZeroCountAndCountAboveCapacity) {
    SampleBuffer b;
    bool unchanged = false;
    EXPECT_FALSE(b.allocate(Count(0ull), Count(0ull), unchanged));
    EXPECT_TRUE(unchanged);
    EXPECT_FALSE(b.allocate(Count(10ull), Count(9ull), unchanged));
    EXPECT_TRUE(unchanged);
    EXPECT_TRUE(b.isEmpty());
    EXPECT_EQ(b.capacity().v_, 0ull);
}

TEST(SampleBuffer, HonoursACapacityAtMostSixtyFourAboveTheCount) {
    SampleBuffer b;
    bool unchanged = true;
    ASSERT_TRUE(b.allocate(Count(1000ull), Count(1064ull), unchanged));
    EXPECT_FALSE(unchanged);
    EXPECT_EQ(b.count().v_, 1000ull);
    EXPECT_EQ(b.capacity().v_, 1064ull);
    ASSERT_TRUE(b.allocate(Count(1000ull), Count(1065ull)));
    EXPECT_EQ(b.capacity().v_, 1000ull);
    ASSERT_TRUE(b.allocate(Count(777ull), Count(0ull)));
    EXPECT_EQ(b.capacity().v_, 777ull);
    EXPECT_EQ(b.elementSize().v_, 8ull);
}

TEST(SampleBuffer, FreshStorageReadsAsZero) {
    SampleBuffer b;
    ASSERT_TRUE(b.allocate(Count(4096ull)));
    for (int i = 0; i < 4096; ++i)
        b.data()[i] = 1.5;
    ASSERT_TRUE(b.allocate(Count(4096ull)));
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(b.data()[i], 0.0) << i;
}

TEST(SampleBuffer, ReallocatingFreesTheOldBlockOnceAndSilently) {
    size_t before = registry().liveCount();
    testing::internal::CaptureStdout();
    {
        SampleBuffer b;
        ASSERT_TRUE(b.allocate(Count(100ull)));
        ASSERT_TRUE(b.allocate(Count(200ull)));
        EXPECT_EQ(registry().liveCount(), before + 1);
        b.release();
        b.release();
        EXPECT_TRUE(b.isEmpty());
        EXPECT_EQ(b.count().v_, 0ull);
        ASSERT_TRUE(b.allocate(Count(5ull)));
    } // destruction releases the last block
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(registry().liveCount(), before);
}

TEST(SampleBuffer, RefusesCountsWhoseByteSizeCannotExist) {
    SampleBuffer b;
    EXPECT_FALSE(b.allocate(Count(2305843009213693951ull)));
    EXPECT_TRUE(b.isEmpty());
}

TEST(SampleBuffer, FloatBuffersFollowTheSameRules) {
    FloatSampleBuffer f;
    ASSERT_TRUE(f.allocate(Count(3ull), Count(60ull)));
    EXPECT_EQ(f.capacity().v_, 60ull);
    EXPECT_EQ(f.elementSize().v_, 4ull);
    EXPECT_EQ(f.data()[2], 0.0f);
}

TEST(SampleBuffer, ResizingKeepsTheSamplesZeroesWhatGrowsAndStaysTracked) {
    const size_t before = registry().liveCount();
    testing::internal::CaptureStdout();
    {
        SampleBuffer b;
        ASSERT_TRUE(b.resize(Count(3ull))); // an empty buffer is allocated
        EXPECT_EQ(b.data()[2], 0.0);
        // Big enough to be mapped pages, which move without copying.
        const std::uint64_t n = 5'000'000;
        ASSERT_TRUE(b.allocate(Count(n)));
        for (std::uint64_t k = 0; k < n; ++k)
            b.data()[k] = double(k);
        ASSERT_TRUE(b.resize(Count(n + 123)));
        EXPECT_EQ(b.count().v_, n + 123);
        EXPECT_EQ(b.capacity().v_, n + 123);
        bool kept = true;
        for (std::uint64_t k = 0; k < n; ++k)
            kept = kept && b.data()[k] == double(k);
        EXPECT_TRUE(kept);
        for (std::uint64_t k = n; k < n + 123; ++k)
            ASSERT_EQ(b.data()[k], 0.0) << k;
        const auto onHugePages = [&] { return reinterpret_cast<std::uintptr_t>(b.data()) % (2u << 20) == 0; };
        EXPECT_TRUE(onHugePages());
        // A small shrink and a regrowth inside the same pages: what grew back is zero, not the old values.
        ASSERT_TRUE(b.resize(Count(n - 10)));
        ASSERT_TRUE(b.resize(Count(n + 5)));
        for (std::uint64_t k = n - 10; k < n + 5; ++k)
            ASSERT_EQ(b.data()[k], 0.0) << k;
        EXPECT_EQ(b.data()[n - 11], double(n - 11));
        // Growing far enough to need more room than the pages after it.
        ASSERT_TRUE(b.resize(Count(3 * n)));
        EXPECT_TRUE(onHugePages());
        EXPECT_EQ(b.data()[n - 11], double(n - 11));
        EXPECT_EQ(b.data()[3 * n - 1], 0.0);
        ASSERT_TRUE(b.resize(Count(10ull)));
        EXPECT_EQ(b.count().v_, 10ull);
        EXPECT_EQ(b.data()[9], 9.0);
        EXPECT_EQ(registry().liveCount(), before + 1); // one block, its record following it
        EXPECT_FALSE(b.resize(Count(0ull)));
        EXPECT_FALSE(b.resize(Count(SampleBuffer::kMaxElements + 1)));
        EXPECT_EQ(b.count().v_, 10ull);
        // A small block outgrowing the small-block heap keeps what it held.
        SampleBuffer small;
        ASSERT_TRUE(small.allocate(Count(1000ull)));
        small.data()[999] = 7.5;
        ASSERT_TRUE(small.resize(Count(n)));
        EXPECT_EQ(small.data()[999], 7.5);
        EXPECT_EQ(small.data()[n - 1], 0.0);
        EXPECT_EQ(registry().liveCount(), before + 2);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(registry().liveCount(), before);
}
