// The sample store's editing operations on small known signals: the exact
// samples of every channel after each operation, the refusals that must
// leave the store as it was, and the emptied and refilled store.
#include "audiofile/OpenedStore.h"
#include "support/Samples.h"

#include <gtest/gtest.h>
#include <vector>

using namespace testsupport;
using ZQ::AudioFileDocumentSampleData;
using ZQ::SampleDataHolder;
using ZQ::Num::Count;
using ZQ::Num::SampleRange;

namespace {

// Frame k of channel c: c * 1000 + k, scaled so that floats hold it exactly.
double signal(int c, long k) {
    return double(c * 1000 + k) / 65536.0;
}

SampleRange range(std::uint64_t a, std::uint64_t b) {
    return {Count(a), Count(b)};
}

// Every channel as the frame numbers of the original signal.
std::vector<std::vector<long>> framesOf(const AudioFileDocumentSampleData& s) {
    std::vector<std::vector<long>> out(std::size_t(s.channelCount()));
    for (int c = 0; c < s.channelCount(); ++c) {
        const std::vector<double> p = testsupport::channelOf(s, c);
        for (std::uint64_t k = 0; k < p.size(); ++k)
            out[std::size_t(c)].push_back(long(p[k] * 65536.0) - c * 1000);
    }
    return out;
}

class StoreEditing : public testing::TestWithParam<int> {
protected:
    std::unique_ptr<Opened> open(long frames, int channels, int rate = 44100) {
        const std::string path = dir.file("s" + std::to_string(serial_++) + ".wav");
        EXPECT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, rate, frames, signal));
        auto o = openStore(path);
        EXPECT_TRUE(o->ok);
        return o;
    }
    // Every channel holds exactly `frames` (as frame numbers of the signal).
    static void expectFrames(const AudioFileDocumentSampleData& s, const std::vector<long>& frames) {
        const auto got = framesOf(s);
        for (std::size_t c = 0; c < got.size(); ++c)
            EXPECT_EQ(got[c], frames) << "channel " << c;
        EXPECT_EQ(s.frameCount(), frames.size());
        EXPECT_EQ(s.information()->fileLength.value, std::int64_t(frames.size()));
    }
    TempDir dir;
    int serial_ = 0;
};

} // namespace

TEST_P(StoreEditing, EachOperationGivesTheExactSamplesInEveryChannel) {
    const int channels = GetParam();
    auto o = open(10, channels);
    AudioFileDocumentSampleData& s = *o->store;

    // Copies are separate stores of the same format.
    SampleDataHolder copy;
    ASSERT_TRUE(s.copyRange(range(2, 4), copy));
    EXPECT_EQ(copy->channelCount(), channels);
    EXPECT_EQ(copy->sampleRate(), 44100.0);
    expectFrames(*copy, {2, 3, 4});
    SampleDataHolder all;
    ASSERT_TRUE(s.copyAll(all));
    expectFrames(*all, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    ZQ::SampleBuffer one;
    s.copyChannelRange(one, channels - 1, range(8, 9));
    ASSERT_EQ(one.count().v_, 2u);
    EXPECT_EQ(one.data()[0], signal(channels - 1, 8));

    // Delete and cut remove both ends of the range; cut hands back what went.
    ASSERT_TRUE(s.deleteRange(range(2, 4)));
    expectFrames(s, {0, 1, 5, 6, 7, 8, 9});
    SampleDataHolder removed;
    ASSERT_TRUE(s.cutRange(range(0, 0), removed)); // the first sample alone
    expectFrames(*removed, {0});
    expectFrames(s, {1, 5, 6, 7, 8, 9});
    ASSERT_TRUE(s.cutRange(range(5, 5), removed)); // the last sample alone
    expectFrames(*removed, {9});
    expectFrames(s, {1, 5, 6, 7, 8});

    // Duplicate puts the copy right after the range.
    ASSERT_TRUE(s.duplicateRange(range(1, 2)));
    expectFrames(s, {1, 5, 6, 5, 6, 7, 8});
    ASSERT_TRUE(s.duplicateRange(range(6, 6))); // at the end
    expectFrames(s, {1, 5, 6, 5, 6, 7, 8, 8});

    // Paste: one index inserts before it (the frame count appends), a longer
    // range is replaced.
    ASSERT_TRUE(s.pasteRange(copy, range(0, 0)));
    expectFrames(s, {2, 3, 4, 1, 5, 6, 5, 6, 7, 8, 8});
    ASSERT_TRUE(s.pasteRange(copy, range(11, 11)));
    expectFrames(s, {2, 3, 4, 1, 5, 6, 5, 6, 7, 8, 8, 2, 3, 4});
    ASSERT_TRUE(s.pasteRange(copy, range(3, 10)));
    expectFrames(s, {2, 3, 4, 2, 3, 4, 2, 3, 4});
    EXPECT_EQ(copy->frameCount(), 3u); // pasting leaves the clipboard's copy as it was
}

TEST_P(StoreEditing, RefusedOperationsChangeNothing) {
    const int channels = GetParam();
    auto o = open(6, channels);
    AudioFileDocumentSampleData& s = *o->store;
    auto other = open(4, channels == 1 ? 2 : 1); // another channel count
    SampleDataHolder foreign, copy, removed;
    ASSERT_TRUE(other->store->copyAll(foreign));
    ASSERT_TRUE(s.copyRange(range(0, 1), copy));
    const std::vector<long> before{0, 1, 2, 3, 4, 5};

    EXPECT_FALSE(s.deleteRange(range(3, 2))); // min_ > max_
    EXPECT_FALSE(s.cutRange(range(4, 1), removed));
    EXPECT_TRUE(removed.isEmpty());
    EXPECT_FALSE(s.duplicateRange(range(5, 0)));
    EXPECT_FALSE(s.copyRange(range(2, 1), removed));
    EXPECT_FALSE(s.pasteRange(copy, range(3, 1)));
    EXPECT_FALSE(s.deleteRange(range(4, 6))); // past the end
    EXPECT_FALSE(s.duplicateRange(range(6, 6)));
    EXPECT_FALSE(s.pasteRange(copy, range(7, 7)));
    EXPECT_FALSE(s.pasteRange(copy, range(2, 6)));
    EXPECT_FALSE(s.pasteRange(foreign, range(0, 0))); // another channel count
    EXPECT_FALSE(s.pasteRange(SampleDataHolder(), range(0, 0)));
    ZQ::SampleBuffer untouched;
    s.copyChannelRange(untouched, channels, range(0, 1)); // no such channel
    s.copyChannelRange(untouched, 0, range(1, 0));
    EXPECT_TRUE(untouched.isEmpty());
    expectFrames(s, before);
}

TEST_P(StoreEditing, AStoreEmptiedByAnEditTakesAPasteAtItsStart) {
    const int channels = GetParam();
    auto o = open(5, channels);
    AudioFileDocumentSampleData& s = *o->store;
    SampleDataHolder whole;
    ASSERT_TRUE(s.cutRange(range(0, 4), whole));
    EXPECT_EQ(s.frameCount(), 0u);
    EXPECT_TRUE(s.isLoaded());
    for (int c = 0; c < channels; ++c)
        EXPECT_TRUE(testsupport::channelOf(s, c).empty());
    EXPECT_FALSE(s.deleteRange(range(0, 0))); // nothing left to delete
    ASSERT_TRUE(s.pasteRange(whole, range(0, 0)));
    expectFrames(s, {0, 1, 2, 3, 4});
}

INSTANTIATE_TEST_SUITE_P(Channels, StoreEditing, testing::Values(1, 2, 16),
                         [](const testing::TestParamInfo<int>& i) { return std::to_string(i.param) + "ch"; });
