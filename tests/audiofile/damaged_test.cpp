// Damaged and hostile files, grouped by what went wrong with them before:
// each case failed (crashed, hung or invoked undefined behaviour) on the
// reader as it was, and must now open correctly or be refused cleanly.
#include "Containers.h"
#include "OpenedStore.h"
#include "audiofile/AudioFileProperties.h"
#include "fuzz/FuzzInput.h"
#include "platform/soundfile/AudioFile.h"
#include "support/Fixtures.h"
#include "support/Samples.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <sndfile.h>
#include <unistd.h>

using namespace testsupport;
namespace audio = platform::audio;

namespace {

const ZQ::ChannelLayoutBuffer& layoutOf(const Opened& o) {
    return o.store->information()->channelLayout.value;
}

// Every channel holds the samples the builder wrote.
void expectBuiltSamples(const Opened& o, int channels, int frames) {
    ASSERT_TRUE(o.ok) << o.messages.out << o.messages.err;
    ASSERT_EQ(o.store->channelCount(), channels);
    for (int c = 0; c < channels; ++c) {
        ASSERT_EQ(o.store->channelSampleCount(c).v_, static_cast<unsigned long long>(frames));
        const std::vector<double> s = channelOf(*o.store, c);
        for (int k = 0; k < frames; ++k)
            ASSERT_EQ(s[k], builtSample(c, k) / 32768.0) << c << " " << k;
    }
}

// Opens on another thread; a file that makes the open hang fails the test
// (and ends the process, since the stuck thread cannot be stopped).
std::unique_ptr<Opened> openWithinDeadline(const std::string& path) {
    auto pending = std::async(std::launch::async, [path] { return openStore(path); });
    if (pending.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << path << " did not open or fail within 30 s";
        std::fflush(nullptr);
        _exit(1);
    }
    return pending.get();
}

} // namespace

TEST(DamagedFiles, ALayoutChunkForOtherChannelsIsReadFromTheFileAsItStands) {
    TempDir dir;
    constexpr std::uint32_t kStereo = (101u << 16) | 2, kQuadraphonic = (108u << 16) | 4;
    // Four channels described by a stereo layout, after and before 'COMM':
    // the decoder's own channel map would have two entries for four channels.
    const std::string after = dir.file("after.aif"), before = dir.file("before.aif");
    writeFile(after, builtAiff(4, 50, "", formChunk("CHAN", layoutBody(kStereo, 0))));
    writeFile(before, builtAiff(4, 50, formChunk("CHAN", layoutBody(kStereo, 0)), ""));
    for (const std::string& path : {after, before}) {
        auto o = openStore(path);
        expectBuiltSamples(*o, 4, 50);
        const ZQ::ChannelLayoutBuffer& l = layoutOf(*o);
        ASSERT_NE(l.header(), nullptr) << path;
        EXPECT_EQ(l.header()->mChannelLayoutTag, kStereo);
        EXPECT_EQ(l.header()->mNumberChannelDescriptions, 0u);
    }

    // CAF: a quadraphonic tag on two channels, and explicit descriptions,
    // one more than the chunk has room for.
    const std::string quad = dir.file("quad.caf");
    writeFile(quad, builtCaf(2, 30, cafChunk("chan", layoutBody(kQuadraphonic, 0))));
    auto q = openStore(quad);
    expectBuiltSamples(*q, 2, 30);
    ASSERT_NE(layoutOf(*q).header(), nullptr);
    EXPECT_EQ(layoutOf(*q).header()->mChannelLayoutTag, kQuadraphonic);

    const std::uint32_t labels[] = {1, 2, 3};
    std::string described = layoutBody(audio::kAudioChannelLayoutTag_UseChannelDescriptions, 0, labels, 3);
    described.resize(described.size() - 20); // the third description is cut off
    described[11] = 3;                       // while the count still says three
    const std::string desc = dir.file("desc.caf");
    writeFile(desc, builtCaf(3, 30, cafChunk("chan", described)));
    auto d = openStore(desc);
    expectBuiltSamples(*d, 3, 30);
    const ZQ::ChannelLayoutBuffer& dl = layoutOf(*d);
    ASSERT_NE(dl.header(), nullptr);
    ASSERT_EQ(dl.header()->mNumberChannelDescriptions, 2u);
    EXPECT_EQ(dl.items()[0].mChannelLabel, 1u);
    EXPECT_EQ(dl.items()[1].mChannelLabel, 2u);

    // An extensible WAV names its speakers in a bitmap; a plain one has no layout.
    const std::string ext = dir.file("ext.wav"), plain = dir.file("plain.wav");
    {
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = 44100;
        info.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(ext.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        int map[2] = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT};
        sf_command(f, SFC_SET_CHANNEL_MAP_INFO, map, sizeof map);
        short frames[20] = {};
        sf_writef_short(f, frames, 10);
        sf_close(f);
    }
    writeFile(plain, builtWav(2, 10));
    auto e = openStore(ext);
    ASSERT_TRUE(e->ok);
    ASSERT_NE(layoutOf(*e).header(), nullptr);
    EXPECT_EQ(layoutOf(*e).header()->mChannelLayoutTag, audio::kAudioChannelLayoutTag_UseChannelBitmap);
    EXPECT_EQ(layoutOf(*e).header()->mChannelBitmap, 3u); // front left and right
    auto p = openStore(plain);
    expectBuiltSamples(*p, 2, 10);
    EXPECT_FALSE(p->store->information()->channelLayout.isPresent());
}

TEST(DamagedFiles, AListSubchunkOfTwoGigabytesOrMoreIsRefusedAtOnce) {
    TempDir dir;
    const std::string padding(8, 'x');
    const struct {
        const char* name;
        std::string bytes;
    } refused[] = {
        // A size of -8 as a signed jump lands on the subchunk itself.
        {"before.wav", builtWav(1, 20, riffList("INFO", forgedSubchunk("ABCD", 0xFFFFFFF8u, padding)))},
        {"after.wav", builtWav(1, 20, "", riffList("INFO", forgedSubchunk("ABCD", 0xFFFFFFF8u, padding)))},
        {"adtl.wav", builtWav(1, 20, riffList("adtl", forgedSubchunk("zzzz", 0x80000000u, padding)))},
        {"second.wav",
         builtWav(2, 20,
                  riffList("INFO", forgedSubchunk("INAM", 4, "name") + forgedSubchunk("QQQQ", 0xFFFFFFF0u, padding)))},
    };
    for (const auto& r : refused) {
        const std::string path = dir.file(r.name);
        writeFile(path, r.bytes);
        auto o = openWithinDeadline(path);
        EXPECT_FALSE(o->ok) << r.name;
        EXPECT_FALSE(o->store->isLoaded());
        EXPECT_NE(o->messages.out.find("Unable to open file at path: " + path + "\n"), std::string::npos) << r.name;
        EXPECT_NE(o->messages.err.find("returned when attempting to open"), std::string::npos);
    }

    // What a list parser copes with still opens: a subchunk that overruns its
    // list by an ordinary amount, a list whose own size overruns the file,
    // and titles the properties show.
    const std::string overrun = dir.file("overrun.wav"), title = dir.file("title.wav"), longList = dir.file("long.wav");
    writeFile(overrun, builtWav(1, 20, riffList("INFO", forgedSubchunk("ABCD", 5000, padding))));
    std::string list = riffList("INFO", forgedSubchunk("INAM", 6, std::string("Seven\0", 6)));
    writeFile(title, builtWav(2, 20, list));
    std::string tail = "LIST";
    put32le(tail, 100000);
    tail += "INFO" + forgedSubchunk("ICMT", 4, "abcd");
    writeFile(longList, builtWav(1, 20, "", tail));
    for (const std::string& path : {overrun, title, longList}) {
        auto o = openWithinDeadline(path);
        expectBuiltSamples(*o, path == title ? 2 : 1, 20);
    }
    auto t = openStore(title);
    const std::string other = ZQ::describeAudioFileProperties(t->store.get(), title).rows[18].second; // "Other"
    EXPECT_NE(other.find("Seven"), std::string::npos) << other;
}

TEST(DamagedFiles, MarkerPositionsThatAreNotNumbersMarkNothing) {
    TempDir dir;
    const double inf = std::numeric_limits<double>::infinity();
    const double positions[] = {std::nan(""), 10.0, inf, -inf, -5.0, 1e12};
    const std::string path = dir.file("markers.caf");
    writeFile(path, builtCaf(1, 40, cafChunk("mark", cafMarkers(positions, 6))));
    auto o = openStore(path);
    expectBuiltSamples(*o, 1, 40);
    const ZQ::MarkerListBuffer& m = o->store->information()->markerList.value;
    ASSERT_NE(m.header(), nullptr);
    ASSERT_EQ(m.header()->mNumberMarkers, 3u);
    EXPECT_EQ(m.items()[0].mFramePosition, 10.0);
    EXPECT_EQ(m.items()[0].mMarkerID, 2);
    EXPECT_EQ(m.items()[1].mFramePosition, 0.0); // -5 is before the first frame
    EXPECT_EQ(m.items()[1].mMarkerID, 5);
    EXPECT_EQ(m.items()[2].mFramePosition, 4294967295.0); // beyond the largest position a marker holds
    EXPECT_EQ(m.items()[2].mMarkerID, 6);
}

// Codec files have no fixed size per frame, so their length is not taken on
// trust: the decode grows its block as frames arrive, and must still deliver
// exactly what the decoder gives.
TEST(DamagedFiles, CodecFilesDecodeIntoAGrowingBlockExactly) {
    TempDir dir;
    const struct {
        const char* name;
        int format;
        int channels;
        long frames;
    } cases[] = {
        {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 300001},
        {"ms.wav", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 70000},
        {"gsm.wav", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 65536},
        {"alac.caf", SF_FORMAT_CAF | SF_FORMAT_ALAC_16, 2, 140000},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, c.channels, 44100, c.frames)) << c.name;
        int channels = 0, rate = 0;
        const std::vector<float> expected = readFloatFile(path, channels, rate);
        auto o = openStore(path);
        ASSERT_TRUE(o->ok) << c.name << o->messages.err;
        const auto frames = expected.size() / static_cast<std::size_t>(channels);
        ASSERT_GT(frames, 65536u) << c.name; // past the first block
        for (int ch = 0; ch < channels; ++ch) {
            ASSERT_EQ(o->store->channelSampleCount(ch).v_, frames) << c.name;
            const std::vector<double> s = channelOf(*o->store, ch);
            for (std::size_t k = 0; k < frames; ++k)
                ASSERT_EQ(s[k], static_cast<double>(expected[k * channels + ch])) << c.name << " " << ch << " " << k;
        }
    }
}

// What the fuzzer found and keeps: each input is refused cleanly or read
// consistently, and its properties can be described.
TEST(DamagedFiles, TheFuzzersFindsAreRefusedOrReadConsistently) {
    TempDir dir;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZQ_FUZZ_REGRESSION_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        const std::string path =
            zqfuzz::materialize(dir.path(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        auto o = openWithinDeadline(path);
        ++count;
        if (!o->ok) {
            EXPECT_FALSE(o->store->isLoaded()) << entry.path();
            continue;
        }
        const auto frames = static_cast<unsigned long long>(o->store->information()->fileLengthFrames());
        ASSERT_GE(o->store->channelCount(), 1) << entry.path();
        for (int c = 0; c < o->store->channelCount(); ++c)
            EXPECT_EQ(o->store->channelSampleCount(c).v_, frames) << entry.path();
        capture([&] { EXPECT_EQ(ZQ::describeAudioFileProperties(o->store.get(), path).rows.size(), 20u); });
    }
    EXPECT_GT(count, 0);
}

// A Sound Designer II file's format lives in its resource fork; a fork whose
// header does not add up never reaches the decoder (its own check of the
// header overflows on negative words), while macOS's AppleDouble wrapping of
// a sound fork still opens.
TEST(DamagedFiles, ResourceForksAreCheckedBeforeTheDecoderSeesThem) {
    TempDir dir;
    const std::string path = dir.file("a.sd2"), fork = dir.file("._a.sd2");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_SD2 | SF_FORMAT_PCM_16, 2, 44100, 500));
    std::ifstream in(fork, std::ios::binary);
    const std::string original{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(original.size(), 16u);

    auto plain = openStore(path);
    ASSERT_TRUE(plain->ok);
    // AppleDouble: magic, version, then the fork itself at 0x52.
    std::string wrapped;
    put32be(wrapped, 0x00051607);
    put32be(wrapped, 0x00020000);
    wrapped.resize(0x52, '\0');
    writeFile(fork, wrapped + original);
    auto apple = openStore(path);
    ASSERT_TRUE(apple->ok) << apple->messages.out;
    ASSERT_EQ(apple->store->channelSampleCount(1).v_, 500u);
    for (int c = 0; c < 2; ++c)
        ASSERT_EQ(channelOf(*apple->store, c), channelOf(*plain->store, c));

    for (int word = 0; word < 4; ++word) {
        std::string damaged = original;
        damaged[4 * word] = '\xA0'; // a negative offset or length
        writeFile(fork, damaged);
        auto o = openStore(path);
        EXPECT_FALSE(o->ok) << word;
        EXPECT_NE(o->messages.out.find("Unable to open file at path"), std::string::npos);
    }
    std::string grown = original + std::string(10, '\0'); // the lengths no longer add up to the fork
    writeFile(fork, grown);
    EXPECT_FALSE(openStore(path)->ok);
}
