#include "OpenedStore.h"
#include "audiofile/AudioFileDocumentSampleData.h"
#include "support/Fixtures.h"
#include "support/Samples.h"

#include <sndfile.h>
#include <thread>

using namespace testsupport;
using ZQ::AudioFileDocumentSampleData;

TEST(SampleStore, StartsEmptyWithAFreshRecord) {
    ZQ::auto_ptr<AudioFileDocumentSampleData> s;
    s.make();
    EXPECT_FALSE(s->isLoaded());
    EXPECT_FALSE(s->isReading());
    EXPECT_EQ(s->bufferChannelCount(), 0);
    ASSERT_NE(s->information(), nullptr);
    EXPECT_EQ(s->channelCount(), 0);
    EXPECT_EQ(s->sampleRate(), 0.0);
    // Not loaded: silent zeros and no samples.
    Captured m = capture([&] {
        for (int c = 0; c < 16; ++c)
            EXPECT_FALSE(s->channel(c).isValid());
        EXPECT_EQ(s->channelSampleCount(0).v_, 0u);
        EXPECT_EQ(s->samples(), nullptr);
        double v = 0;
        EXPECT_FALSE(s->readChannel(0, 0, 1, &v));
    });
    EXPECT_EQ(m.out, "");
}

TEST(SampleStore, ChannelQueriesCheckTheChannelNumber) {
    TempDir dir;
    const std::string path = dir.file("m.aif");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 8000, 64));
    auto o = openStore(path);
    ASSERT_TRUE(o->ok);
    AudioFileDocumentSampleData& s = *o->store;
    Captured m = capture([&] {
        EXPECT_EQ(s.channelSampleCount(1).v_, 0u);
        EXPECT_EQ(s.channelSampleCount(-1).v_, 0u); // taken unsigned: far beyond the count
        EXPECT_FALSE(s.channel(1).isValid());
    });
    EXPECT_EQ(m.out, "Invalid channel requested\nInvalid channel requested\nInvalid channel requested\n");
    EXPECT_EQ(s.channelSampleCount(0).v_, 64u);
    EXPECT_EQ(channelOf(s, 0)[63], fixtureSample(0, 63));
    // Reads stay within the samples.
    double v[2] = {7, 7};
    EXPECT_TRUE(s.readChannel(0, 63, 1, v));
    EXPECT_FALSE(s.readChannel(0, 63, 2, v));
    EXPECT_FALSE(s.readChannel(0, 65, 0, v));
    EXPECT_EQ(v[1], 7.0);

    // A record that reports no channels.
    s.informationHolder()->fileDataFormat.value.mChannelsPerFrame = 0;
    m = capture([&] { EXPECT_FALSE(s.channel(0).isValid()); });
    EXPECT_EQ(m.out, "Invalid channel configuration for request\n");
}

TEST(SampleStore, ClearAndRereadReplaceTheSamples) {
    TempDir dir;
    const std::string a = dir.file("a.wav"), b = dir.file("b.caf");
    ASSERT_TRUE(writeFixture(a, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 300));
    ASSERT_TRUE(writeFixture(b, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 1, 96000, 10, [](int, long k) { return k * 0.125; }));
    ZQ::auto_ptr<AudioFileDocumentSampleData> s;
    s.make();
    ASSERT_TRUE(s->read(fileURL(a).get()));
    EXPECT_EQ(s->bufferChannelCount(), 2);
    s->clear();
    EXPECT_FALSE(s->isLoaded());
    EXPECT_EQ(s->bufferChannelCount(), 0);
    EXPECT_EQ(s->samples(), nullptr);

    ASSERT_TRUE(s->read(fileURL(a).get()));
    ASSERT_TRUE(s->read(fileURL(b).get()));
    EXPECT_EQ(s->channelCount(), 1);
    EXPECT_EQ(s->sampleRate(), 96000.0);
    EXPECT_EQ(s->channelSampleCount(0).v_, 10u);
    EXPECT_EQ(channelOf(*s, 0)[9], 1.125);
    EXPECT_EQ(s->samples()->channelCount(), 1u); // the earlier file's right channel is gone

    // A failed read leaves nothing loaded.
    EXPECT_FALSE(s->read(fileURL(dir.file("none.wav")).get()));
    EXPECT_FALSE(s->isLoaded());
    EXPECT_EQ(s->samples(), nullptr);
}

TEST(SampleStore, ReadWithoutAURLDoesNotLeaveTheStoreBusy) {
    TempDir dir;
    const std::string a = dir.file("a.wav");
    ASSERT_TRUE(writeFixture(a, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 30));
    ZQ::auto_ptr<AudioFileDocumentSampleData> s;
    s.make();
    ASSERT_TRUE(s->read(fileURL(a).get()));
    EXPECT_FALSE(s->read(nullptr));
    EXPECT_FALSE(s->isReading());
    EXPECT_FALSE(s->isLoaded());
    EXPECT_TRUE(s->read(fileURL(a).get())); // still usable
}

TEST(SampleStore, ASecondReadOrAClearIsRefusedWhileReading) {
    TempDir dir;
    const std::string big = dir.file("big.wav"), small = dir.file("small.wav");
    // Decoded (µ-law is not read in place), so that the read takes a while.
    ASSERT_TRUE(writeFixture(big, SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 44100, 3000000));
    ASSERT_TRUE(writeFixture(small, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 10));
    ZQ::auto_ptr<AudioFileDocumentSampleData> s;
    s.make();
    bool first = false;
    std::thread reader([&] { first = s->read(fileURL(big).get()); });
    while (!s->isReading() && !s->isLoaded())
        std::this_thread::yield();
    bool refusedSecond = false, sawReading = false;
    if (s->isReading()) { // the big read is still running
        sawReading = true;
        refusedSecond = !s->read(fileURL(small).get());
        s->clear(); // refused too
    }
    reader.join();
    ASSERT_TRUE(first);
    if (sawReading) {
        EXPECT_TRUE(refusedSecond);
    }
    EXPECT_TRUE(s->isLoaded());
    EXPECT_EQ(s->channelCount(), 2);
    EXPECT_EQ(s->channelSampleCount(1).v_, 3000000u);
}
