#include "OpenedStore.h"
#include "audiofile/AudioFileReader.h"
#include "support/Fixtures.h"
#include "support/Samples.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sndfile.h>
#include <unistd.h>

using namespace testsupport;
using ZQ::AudioFileDocumentSampleData;

namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every sample of every channel equals what the fixture wrote, to `tolerance`.
void expectFixtureSamples(const AudioFileDocumentSampleData& s, int channels, long frames, double tolerance,
                          const char* what) {
    ASSERT_EQ(s.channelCount(), channels) << what;
    for (int c = 0; c < channels; ++c) {
        ASSERT_EQ(s.channelSampleCount(c).v_, static_cast<unsigned long long>(frames)) << what;
        const std::vector<double> p = channelOf(s, c);
        ASSERT_EQ(p.size(), std::size_t(frames));
        for (long k = 0; k < frames; ++k)
            ASSERT_NEAR(p[k], fixtureSample(c, k), tolerance) << what << " channel " << c << " frame " << k;
    }
}

} // namespace

TEST(Reader, ReadsEveryAcceptedContainerAndEncoding) {
    TempDir dir;
    struct Case {
        const char* name;
        int format;
        double tolerance; // 8-bit cannot hold the fixture's values exactly
    } cases[] = {
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1.0 / 128}, {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0},
        {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0},        {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 0},
        {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0},         {"s16.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 0},
        {"s24.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 0},      {"s32.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 0},
        {"s16.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 0},        {"f32.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 0},
        {"s16.sd2", SF_FORMAT_SD2 | SF_FORMAT_PCM_16, 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, 2, 22050, 3001)) << c.name;
        auto o = openStore(path);
        ASSERT_TRUE(o->ok) << c.name << "\n" << o->messages.out << o->messages.err;
        EXPECT_EQ(o->messages.out + o->messages.err, "") << c.name;
        EXPECT_EQ(o->store->sampleRate(), 22050.0);
        EXPECT_EQ(o->store->bufferChannelCount(), 2);
        expectFixtureSamples(*o->store, 2, 3001, c.tolerance, c.name);
    }
}

TEST(Reader, MonoAndManyChannelsDeinterleaveInOrder) {
    TempDir dir;
    for (int channels : {1, 3, 16}) {
        const std::string path = dir.file("c" + std::to_string(channels) + ".wav");
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, channels, 8000, 777));
        auto o = openStore(path);
        ASSERT_TRUE(o->ok) << channels;
        expectFixtureSamples(*o->store, channels, 777, 0, "channels");
        // Nothing past the file's channels.
        capture([&] { EXPECT_EQ(o->store->channel(channels == 16 ? 15 : channels).isValid(), channels == 16); });
    }
}

TEST(Reader, EveryChannelUpToSixtyFourIsKeptAndMoreAreRefusedSayingSo) {
    TempDir dir;
    const std::string path = dir.file("c17.caf");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_CAF | SF_FORMAT_PCM_16, 17, 48000, 100));

    // The reader itself: every channel of the file, in one block.
    ZQ::AudioFileInformation info;
    info.make();
    std::shared_ptr<ZQ::SampleBlock> block;
    std::int32_t channels = 0;
    auto url = fileURL(path);
    ASSERT_TRUE(ZQ::openAudioFileSamples(url.get(), info, block, channels));
    EXPECT_EQ(channels, 17);
    ASSERT_EQ(block->channels(), 17u);
    ASSERT_EQ(block->frames(), 100u);
    for (unsigned c = 0; c < 17; ++c) {
        double v = 0;
        block->read(c, 99, 1, &v);
        EXPECT_EQ(v, double(static_cast<float>(fixtureSample(int(c), 99))));
    }

    // The store keeps all of them, and never hands out one past the last.
    auto o = openStore(path);
    ASSERT_TRUE(o->ok);
    expectFixtureSamples(*o->store, 17, 100, 0, "17 channels");
    EXPECT_EQ(o->store->channelCount(), 17);
    auto m = capture([&] { EXPECT_FALSE(o->store->channel(17).isValid()); });
    EXPECT_EQ(m.out, "Invalid channel requested\n");

    // Sixty-four open; sixty-five are refused, and the refusal says why.
    const std::string most = dir.file("c64.wav"), over = dir.file("c65.wav");
    ASSERT_TRUE(writeFixture(most, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 64, 48000, 50));
    ASSERT_TRUE(writeFixture(over, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 65, 48000, 50));
    auto all = openStore(most);
    ASSERT_TRUE(all->ok);
    expectFixtureSamples(*all->store, 64, 50, 0, "64 channels");
    ZQ::AudioFileDocumentSampleData refused;
    ZQ::DecodeControl control;
    m = capture([&] { EXPECT_FALSE(refused.read(fileURL(over).get(), &control)); });
    EXPECT_EQ(control.refusal, "has 65 channels; at most 64 can be opened");
    EXPECT_NE(m.err.find("The file has 65 channels; at most 64 can be opened\n"), std::string::npos) << m.err;
    EXPECT_FALSE(refused.isLoaded());
}

TEST(Reader, RefusedContainersSayWhyOnTheRightStream) {
    TempDir dir;
    struct Case {
        const char* name;
        int format;
    } cases[] = {
        {"a.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT}, // AIFC on disk
        {"a.au", SF_FORMAT_AU | SF_FORMAT_PCM_16},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, 1, 44100, 2000)) << c.name;
        auto o = openStore(path);
        EXPECT_FALSE(o->ok) << c.name;
        EXPECT_FALSE(o->store->isLoaded());
        EXPECT_EQ(o->messages.out, "Removing unsupported/unrecognized file at path: " + path + "\n") << c.name;
        EXPECT_NE(o->messages.err.find("Error -1 returned when attempting to open: file://" + path), std::string::npos)
            << c.name << o->messages.err;
    }
}

TEST(Reader, ExtensionsAreCheckedWhateverTheContent) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* log;
    } cases[] = {
        {"noextension", "Unidentified file extension for path: "},
        {"dot.", "Unrecognized file extension for path: "},
        {"long.ninechars", "Unrecognized file extension for path: "},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 100));
        auto o = openStore(path);
        EXPECT_FALSE(o->ok) << c.name;
        EXPECT_NE(o->messages.err.find(c.log + path), std::string::npos) << o->messages.err;
        EXPECT_EQ(o->messages.out, "Removing unsupported/unrecognized file at path: " + path + "\n");
    }
    // Eight characters are still an extension; the text itself is not compared.
    const std::string eight = dir.file("ok.abcdefgh");
    ASSERT_TRUE(writeFixture(eight, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 100));
    EXPECT_TRUE(openStore(eight)->ok);
}

TEST(Reader, MissingDamagedAndEmptyFilesAreRefusedCleanly) {
    TempDir dir;
    ZQ::auto_ptr<AudioFileDocumentSampleData> store;
    store.make();

    auto m = capture([&] { EXPECT_FALSE(store->read(fileURL(dir.file("absent.wav")).get())); });
    EXPECT_EQ(m.err, "Invalid file at path");

    ZQ::AudioFileInformation info;
    info.make();
    std::shared_ptr<ZQ::SampleBlock> block;
    std::int32_t channels = -5;
    m = capture([&] { EXPECT_FALSE(ZQ::openAudioFileSamples(nullptr, info, block, channels)); });
    EXPECT_EQ(m.err, "Invalid URL");
    EXPECT_EQ(channels, -5);

    const std::string text = dir.file("notes.wav");
    writeBytes(text, "These are not samples, only words in a file named like one.\n");
    auto o = openStore(text);
    EXPECT_FALSE(o->ok);
    EXPECT_EQ(o->messages.out, "Unable to open file at path: " + text + "\n");

    const std::string garbage = dir.file("garbage.aif");
    writeBytes(garbage, std::string("FORM\x00\x00\x00\x10"
                                    "AIFFCOMM\xff\xff\xff\xff",
                                    20));
    o = openStore(garbage);
    EXPECT_FALSE(o->ok);

    const std::string empty = dir.file("empty.wav");
    writeBytes(empty, "");
    EXPECT_FALSE(openStore(empty)->ok);

    // Zero frames: refused (-1) after the reading step gives up.
    const std::string zero = dir.file("zero.wav");
    ASSERT_TRUE(writeFixture(zero, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 0));
    o = openStore(zero);
    EXPECT_FALSE(o->ok);
    EXPECT_NE(o->messages.err.find("Failed to read sample data for file\n"), std::string::npos);
    EXPECT_NE(o->messages.err.find("Error -1 returned when attempting to open: "), std::string::npos);

    // A directory named like a sound file.
    std::filesystem::create_directory(dir.file("folder.wav"));
    EXPECT_FALSE(openStore(dir.file("folder.wav"))->ok);
}

TEST(Reader, TruncatedFileReadsWhatIsThere) {
    TempDir dir;
    const std::string whole = dir.file("whole.wav");
    ASSERT_TRUE(writeFixture(whole, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1000));
    std::ifstream in(whole, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    const std::string cut = dir.file("cut.wav");
    writeBytes(cut, bytes.substr(0, bytes.size() - 401 * 4)); // loses 401 frames
    auto o = openStore(cut);
    ASSERT_TRUE(o->ok);
    expectFixtureSamples(*o->store, 2, 599, 0, "truncated");
}

TEST(Reader, SoundDesignerTwoWithoutItsForkIsRefused) {
    TempDir dir;
    const std::string path = dir.file("lost.sd2");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_SD2 | SF_FORMAT_PCM_16, 1, 44100, 100));
    std::filesystem::remove(dir.file("._lost.sd2"));
    auto o = openStore(path);
    EXPECT_FALSE(o->ok);
    EXPECT_EQ(o->messages.out, "Unable to open file at path: " + path + "\n");
}

TEST(Reader, FilesOfMoreThanTwoToTheThirtyTwoFramesOpenAndReadTheirLastFrames) {
    TempDir dir;
    const std::string path = dir.file("huge.caf");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_CAF | SF_FORMAT_PCM_S8, 1, 8000, 16));
    // Make the data chunk (edit count + one byte per frame) claim 2^32 + 10
    // frames, and the file (sparse, so it costs no disk) that long, with its
    // last ten frames written.
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    const std::uint64_t frames = 4294967296ull + 10;
    for (int i = 0; i < 8; ++i)
        bytes[data + 4 + i] = static_cast<char>((frames + 4) >> (56 - 8 * i));
    writeBytes(path, bytes);
    const std::uint64_t first = data + 12 + 4;
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(first + frames)), 0);
    {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(static_cast<std::streamoff>(first + frames - 10));
        const char tail[10] = {1, 2, 3, 4, 5, -1, -2, -3, -4, -128};
        f.write(tail, 10);
    }

    auto o = openStore(path);
    ASSERT_TRUE(o->ok) << o->messages.out << o->messages.err;
    EXPECT_EQ(o->store->frameCount(), frames);
    double last[10];
    ASSERT_TRUE(o->store->readChannel(0, frames - 10, 10, last));
    const double want[10] = {1, 2, 3, 4, 5, -1, -2, -3, -4, -128};
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(last[k], want[k] / 128.0) << k;
    double middle = 1;
    ASSERT_TRUE(o->store->readChannel(0, 3000000000ull, 1, &middle));
    EXPECT_EQ(middle, 0.0);
}
