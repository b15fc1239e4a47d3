#include "OpenedStore.h"
#include "audiofile/AudioFileExport.h"
#include "platform/soundfile/AudioFile.h"
#include "support/Fixtures.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sndfile.h>
#include <vector>

using namespace testsupport;
namespace Export = ZQ::AudioFileExport;
namespace audio = platform::audio;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
// What the document holds, channel 0 (and 1 mirrored with a sign change).
const std::vector<double> kValues = {0.0, 1.0, -1.0, 0.5, -0.5, kNaN, 1.5, -1.5, 0.25, 1.0 / 32768, -0.999};
// The document keeps what the float source file could hold.
double stored(std::size_t i) {
    return static_cast<double>(static_cast<float>(kValues[i]));
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The sample bytes of a written file, found through its own header.
std::string sampleBytes(const std::string& path) {
    audio::ContainerInfo c = audio::readContainerInfo(path);
    std::string all = readAll(path);
    if (c.dataOffset < 0) return {};
    return all.substr(static_cast<std::size_t>(c.dataOffset), static_cast<std::size_t>(c.dataByteCount));
}

std::unique_ptr<Opened> documentWith(const TempDir& dir, int channels) {
    const std::string path = dir.file("source" + std::to_string(channels) + ".wav");
    writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, 44100, static_cast<long>(kValues.size()),
                 [](int c, long k) { return c == 0 ? kValues[k] : -kValues[k]; });
    return openStore(path);
}

template <class T> T wordAt(const std::string& bytes, std::size_t i, bool bigEndian) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, bytes.data() + i * sizeof(T), sizeof(T));
    if (bigEndian) std::reverse(b, b + sizeof(T));
    T v;
    std::memcpy(&v, b, sizeof v);
    return v;
}

} // namespace

TEST(Export, IntegerConversionsTruncateAndClip) {
    bool clipped = false;
    EXPECT_EQ(Export::toInteger16(1.0, clipped), 32767);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(Export::toInteger16(-1.0, clipped), -32768);
    EXPECT_FALSE(clipped);
    EXPECT_EQ(Export::toInteger16(0.5, clipped), 16384);
    EXPECT_EQ(Export::toInteger16(-0.99999, clipped), -32767); // toward zero
    EXPECT_EQ(Export::toInteger16(kNaN, clipped), -32768);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(Export::toInteger16(-7.0, clipped), -32768);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(Export::toInteger32(1.0, clipped), 2147483647);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(Export::toInteger32(-1.0, clipped), -2147483647 - 1);
    EXPECT_FALSE(clipped);
    EXPECT_EQ(Export::toInteger32(0.5, clipped), 1073741824);
    EXPECT_EQ(Export::toInteger32(kNaN, clipped), -2147483647 - 1);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(Export::toInteger32(std::numeric_limits<double>::infinity(), clipped), 2147483647);
}

TEST(Export, EveryFormatWritesTheConvertedWordsInTheContainersByteOrder) {
    TempDir dir;
    auto mono = documentWith(dir, 1);
    ASSERT_TRUE(mono->ok);
    struct Case {
        const char* name;
        audio::FourCharCode type;
        int code;
    } cases[] = {
        {"w16.wav", audio::kAudioFileWAVEType, Export::kInteger16},
        {"w32.wav", audio::kAudioFileWAVEType, Export::kInteger32},
        {"wf.wav", audio::kAudioFileWAVEType, Export::kFloat32},
        {"a16.aif", audio::kAudioFileAIFFType, Export::kInteger16},
        {"a32.aif", audio::kAudioFileAIFFType, Export::kInteger32},
    };
    for (const Case& c : cases) {
        const std::string out = dir.file(c.name);
        bool ok = false;
        Captured m = capture([&] { ok = Export::write(mono->store.get(), fileURL(out).get(), c.type, c.code); });
        ASSERT_TRUE(ok) << c.name << m.out;
        const bool big = c.type == audio::kAudioFileAIFFType;
        const std::string bytes = sampleBytes(out);
        EXPECT_EQ(audio::readContainerInfo(out).type, c.type) << c.name; // AIFF stays AIFF, not AIFC
        bool clipped = false;
        std::size_t clips = 0;
        for (std::size_t i = 0; i < kValues.size(); ++i) {
            if (c.code == Export::kInteger16) {
                ASSERT_EQ(bytes.size(), kValues.size() * 2);
                EXPECT_EQ(wordAt<std::int16_t>(bytes, i, big), Export::toInteger16(stored(i), clipped)) << i;
            } else if (c.code == Export::kInteger32) {
                ASSERT_EQ(bytes.size(), kValues.size() * 4);
                EXPECT_EQ(wordAt<std::int32_t>(bytes, i, big), Export::toInteger32(stored(i), clipped)) << i;
            } else {
                const float f = wordAt<float>(bytes, i, big);
                if (std::isnan(kValues[i]))
                    EXPECT_TRUE(std::isnan(f));
                else
                    EXPECT_EQ(f, static_cast<float>(kValues[i])) << i; // 1.5 stays 1.5
            }
            clips += clipped;
        }
        // 1.0, NaN, 1.5 and -1.5 are clipped in the integer formats; floats never.
        EXPECT_EQ(countOf(m.out, "Clipped audio file\n"), c.code == Export::kFloat32 ? 0u : 4u) << c.name;
        EXPECT_EQ(clips, c.code == Export::kFloat32 ? 0u : 4u);
        EXPECT_NE(m.out.find("Audio data is good: imp_continues...\n"
                             "Copy properties to destination: Temporarily disabled\n"),
                  std::string::npos);

        // libsndfile agrees on the header: rate, channels, length, encoding.
        SF_INFO info{};
        SNDFILE* f = sf_open(out.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr) << c.name;
        EXPECT_EQ(info.samplerate, 44100);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.frames, static_cast<sf_count_t>(kValues.size()));
        const int sub = info.format & SF_FORMAT_SUBMASK;
        EXPECT_EQ(sub, c.code == Export::kInteger16   ? SF_FORMAT_PCM_16
                       : c.code == Export::kInteger32 ? SF_FORMAT_PCM_32
                                                      : SF_FORMAT_FLOAT);
        sf_close(f);
        // And our own reader opens it as a document.
        EXPECT_TRUE(openStore(out)->ok) << c.name;
    }
}

TEST(Export, StereoInterleavesLeftThenRight) {
    TempDir dir;
    auto stereo = documentWith(dir, 2);
    ASSERT_TRUE(stereo->ok);
    const std::string out = dir.file("s.wav");
    capture([&] {
        ASSERT_TRUE(
            Export::write(stereo->store.get(), fileURL(out).get(), audio::kAudioFileWAVEType, Export::kInteger16));
    });
    const std::string bytes = sampleBytes(out);
    ASSERT_EQ(bytes.size(), kValues.size() * 4);
    bool clipped;
    for (std::size_t k = 0; k < kValues.size(); ++k) {
        EXPECT_EQ(wordAt<std::int16_t>(bytes, 2 * k, false), Export::toInteger16(stored(k), clipped));
        EXPECT_EQ(wordAt<std::int16_t>(bytes, 2 * k + 1, false), Export::toInteger16(-stored(k), clipped));
    }
}

TEST(Export, FailuresNeverTouchAnExistingFile) {
    TempDir dir;
    const std::string keep = dir.file("keep.wav");
    const std::string precious = "an earlier export the user wants to keep";
    auto reset = [&] { std::ofstream(keep, std::ios::binary) << precious; };

    // AIFF past what its header can count (the threshold lowered for the
    // test): refused before anything is created.
    const std::string three = dir.file("three.wav");
    ASSERT_TRUE(writeFixture(three, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 8000, 20));
    auto doc3 = openStore(three);
    ASSERT_TRUE(doc3->ok);
    reset();
    Export::setLargeDataThresholdForTesting(3 * 20 * 2 - 1);
    std::string why;
    Captured m = capture([&] {
        EXPECT_FALSE(
            Export::write(doc3->store.get(), fileURL(keep).get(), audio::kAudioFileAIFFType, Export::kInteger16, &why));
    });
    EXPECT_EQ(m.out, "Export refused: an AIFF file holds at most 4 GB of samples\n");
    EXPECT_NE(why.find("Export it as WAV"), std::string::npos) << why;
    EXPECT_EQ(readAll(keep), precious);
    const std::string fresh = dir.file("fresh.aif");
    capture(
        [&] { Export::write(doc3->store.get(), fileURL(fresh).get(), audio::kAudioFileAIFFType, Export::kInteger16); });
    EXPECT_FALSE(std::filesystem::exists(fresh));
    // One byte more room, and it fits.
    Export::setLargeDataThresholdForTesting(3 * 20 * 2);
    capture([&] {
        EXPECT_TRUE(
            Export::write(doc3->store.get(), fileURL(fresh).get(), audio::kAudioFileAIFFType, Export::kInteger16));
    });
    Export::setLargeDataThresholdForTesting(0);
    EXPECT_EQ(audio::readContainerInfo(fresh).type, audio::kAudioFileAIFFType);

    auto mono = documentWith(dir, 1);
    ASSERT_TRUE(mono->ok);
    // An unknown sample format.
    m = capture(
        [&] { EXPECT_FALSE(Export::write(mono->store.get(), fileURL(keep).get(), audio::kAudioFileWAVEType, 105)); });
    EXPECT_EQ(m.out, "Unrecognized Format\n");
    EXPECT_EQ(readAll(keep), precious);
    // A container the writer cannot make.
    m = capture([&] {
        EXPECT_FALSE(
            Export::write(mono->store.get(), fileURL(keep).get(), audio::kAudioFileCAFType, Export::kInteger16));
    });
    EXPECT_EQ(m.out, "Error creating audio file:1954115647 | ?pyt\n");
    EXPECT_EQ(readAll(keep), precious);
    // A folder that does not exist.
    m = capture([&] {
        EXPECT_FALSE(Export::write(mono->store.get(), fileURL(dir.file("no/such/dir/x.wav")).get(),
                                   audio::kAudioFileWAVEType, Export::kInteger16));
    });
    EXPECT_EQ(m.out.rfind("Error creating audio file:", 0), 0u);
    // A destination that is a folder: refused before anything is written.
    std::filesystem::create_directory(dir.file("folder.wav"));
    std::filesystem::path inside = dir.file("folder.wav/inner");
    std::ofstream(inside) << "x";
    m = capture([&] {
        EXPECT_FALSE(Export::write(mono->store.get(), fileURL(dir.file("folder.wav")).get(), audio::kAudioFileWAVEType,
                                   Export::kInteger16, &why));
    });
    EXPECT_NE(why.find("is a folder"), std::string::npos) << why;
    EXPECT_TRUE(std::filesystem::exists(inside));

    // An empty store: nothing to write, no file.
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> empty;
    empty.make();
    m = capture([&] {
        EXPECT_FALSE(Export::write(empty.get(), fileURL(keep).get(), audio::kAudioFileWAVEType, Export::kFloat32));
    });
    EXPECT_EQ(readAll(keep), precious);

    // No temporary files are left behind by any of this.
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".export-"), std::string::npos) << entry.path();

    // Success replaces the old file.
    capture([&] {
        ASSERT_TRUE(
            Export::write(mono->store.get(), fileURL(keep).get(), audio::kAudioFileWAVEType, Export::kInteger16));
    });
    EXPECT_EQ(audio::readContainerInfo(keep).type, audio::kAudioFileWAVEType);
}
