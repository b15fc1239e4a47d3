// Exports of every channel count and length: round trips of 1 to 16 channels
// through the five formats, speaker masks, RF64 past the RIFF limit (the
// limit lowered by the test hook), chunk boundaries, cancelling, the
// clipping report, and what an export does to modes, owners and links.
#include "OpenedStore.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/AudioFileInformation.h"
#include "platform/soundfile/Container.h"
#include "support/Fixtures.h"
#include "support/Samples.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sndfile.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace testsupport;
namespace Export = ZQ::AudioFileExport;
namespace audio = platform::audio;

namespace {

// A value a 16-bit source holds exactly and every format keeps exactly:
// distinct per channel and frame.
double value(int channel, long frame) {
    const long v = ((frame * 37 + channel * 4099) % 65536) - 32768;
    return static_cast<double>(v) / 32768.0;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Format {
    const char* name;
    audio::FourCharCode type;
    int code;
};
constexpr Format kFormats[] = {
    {"wav16", audio::kAudioFileWAVEType, Export::kInteger16},
    {"wav32", audio::kAudioFileWAVEType, Export::kInteger32},
    {"wavfloat", audio::kAudioFileWAVEType, Export::kFloat32},
    {"aiff16", audio::kAudioFileAIFFType, Export::kInteger16},
    {"aiff32", audio::kAudioFileAIFFType, Export::kInteger32},
};

// Every sample of the file at `path`, read back with libsndfile as doubles
// (16-bit values scale back exactly), against value(); the count of
// mismatches, or -1 when the file's shape is wrong.
long mismatches(const std::string& path, int channels, long frames, SF_INFO* infoOut = nullptr) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return -1;
    if (infoOut) *infoOut = info;
    if (info.channels != channels || info.frames != frames) {
        sf_close(f);
        return -1;
    }
    std::vector<double> back(static_cast<std::size_t>(frames) * channels);
    sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    const sf_count_t got = sf_readf_double(f, back.data(), frames);
    sf_close(f);
    if (got != frames) return -1;
    long wrong = 0;
    for (long k = 0; k < frames; ++k)
        for (int c = 0; c < channels; ++c)
            wrong += back[std::size_t(k) * channels + c] != value(c, k);
    return wrong;
}

// The speaker mask of a written WAVE file, as our own header walker reads it.
std::uint32_t maskOf(const std::string& path) {
    const audio::ContainerInfo info = audio::readContainerInfo(path);
    if (!info.channelLayout.present) return 0;
    return info.channelLayout.header.mChannelBitmap;
}

std::string source(const TempDir& dir, int channels, long frames) {
    const std::string path = dir.file("src" + std::to_string(channels) + "-" + std::to_string(frames) + ".wav");
    // Float, so that the document holds value() exactly.
    writeFixture(path, (channels > 2 ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | SF_FORMAT_FLOAT, channels, 48000, frames,
                 [](int c, long k) { return value(c, k); });
    return path;
}

bool noTemporaryFiles(const TempDir& dir) {
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
        if (entry.path().filename().string().find(".export-") != std::string::npos) return false;
    return true;
}

} // namespace

TEST(ExportSizes, EveryChannelCountRoundTripsThroughEveryFormat) {
    TempDir dir;
    for (int channels : {1, 2, 3, 6, 8, 16}) {
        const long frames = 700;
        const std::string src = source(dir, channels, frames);
        auto doc = openStore(src);
        ASSERT_TRUE(doc->ok) << channels;
        // The source's own speakers where it names them, else the usual ones.
        const std::uint32_t mask = maskOf(src) ? maskOf(src) : Export::standardChannelMask(channels);
        for (const Format& f : kFormats) {
            const std::string out = dir.file(std::string(f.name) + "-" + std::to_string(channels) +
                                             (f.type == audio::kAudioFileAIFFType ? ".aif" : ".wav"));
            std::string why;
            Export::Outcome outcome;
            capture([&] {
                EXPECT_TRUE(
                    Export::write(doc->store.get(), fileURL(out).get(), f.type, f.code, &why, nullptr, &outcome))
                    << why;
            });
            SF_INFO info{};
            EXPECT_EQ(mismatches(out, channels, frames, &info), 0) << out;
            EXPECT_EQ(info.samplerate, 48000) << out;
            EXPECT_EQ(outcome.clippedSamples, 0u) << out;
            const bool wave = f.type == audio::kAudioFileWAVEType;
            EXPECT_EQ(outcome.container, f.type) << out;
            // More than two channels carry the extensible format and its speakers.
            const bool extensible = wave && channels > 2;
            EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, !wave        ? SF_FORMAT_AIFF
                                                        : extensible ? SF_FORMAT_WAVEX
                                                                     : SF_FORMAT_WAV)
                << out;
            if (extensible) {
                EXPECT_EQ(maskOf(out), mask) << out;
            }
            // Plain float WAV: the 18-byte format chunk strict readers expect,
            // and the chunks after it still line up.
            if (wave && !extensible && f.code == Export::kFloat32) {
                const std::string bytes = readAll(out);
                EXPECT_EQ(bytes.substr(12, 8), std::string("fmt \x12\0\0\0", 8)) << out;
                EXPECT_EQ(bytes.substr(36, 2), std::string("\0\0", 2)) << out;
                const audio::ContainerInfo c = audio::readContainerInfo(out);
                EXPECT_EQ(c.dataByteCount, frames * channels * 4) << out;
                EXPECT_EQ(c.chunkIDs.back(), audio::fourcc("data")) << out;
            }
        }
    }
    EXPECT_TRUE(noTemporaryFiles(dir));
}

TEST(ExportSizes, TheSourcesSpeakerLayoutIsKeptWhenItNamesEveryChannel) {
    TempDir dir;
    // A 3-channel source laid out as left, right and LFE.
    const std::string path = dir.file("lfe.wav");
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 3;
        info.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        int map[3] = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_LFE};
        ASSERT_EQ(sf_command(f, SFC_SET_CHANNEL_MAP_INFO, map, sizeof map), SF_TRUE);
        std::vector<short> frames(300, 1000);
        sf_write_short(f, frames.data(), 300);
        sf_close(f);
    }
    ASSERT_EQ(maskOf(path), 0xBu);
    auto doc = openStore(path);
    ASSERT_TRUE(doc->ok);
    const std::string out = dir.file("out.wav");
    capture([&] {
        ASSERT_TRUE(Export::write(doc->store.get(), fileURL(out).get(), audio::kAudioFileWAVEType, Export::kInteger32));
    });
    EXPECT_EQ(maskOf(out), 0xBu);
    // No layout of its own: the usual one for the count, or none.
    EXPECT_EQ(Export::channelMask(nullptr, 6), 0x3Fu);
    EXPECT_EQ(Export::channelMask(nullptr, 8), 0x63Fu);
    EXPECT_EQ(Export::channelMask(nullptr, 3), 0u);
    EXPECT_EQ(Export::channelMask(nullptr, 16), 0u);
}

TEST(ExportSizes, PastTheRiffLimitWaveBecomesRf64AndAiffIsRefused) {
    TempDir dir;
    const int channels = 3;
    const long frames = 5000;
    auto doc = openStore(source(dir, channels, frames));
    ASSERT_TRUE(doc->ok);
    const std::uint64_t bytes16 = std::uint64_t(frames) * channels * 2;
    struct Restore {
        ~Restore() { Export::setLargeDataThresholdForTesting(0); }
    } restore;

    // Exactly at the limit: plain WAVE; one byte past it: RF64.
    Export::setLargeDataThresholdForTesting(bytes16);
    const std::string fits = dir.file("fits.wav"), large = dir.file("large.wav");
    Export::Outcome outcome;
    capture([&] {
        ASSERT_TRUE(Export::write(doc->store.get(), fileURL(fits).get(), audio::kAudioFileWAVEType, Export::kInteger16,
                                  nullptr, nullptr, &outcome));
    });
    EXPECT_EQ(outcome.container, audio::kAudioFileWAVEType);
    EXPECT_EQ(audio::readContainerInfo(fits).type, audio::kAudioFileWAVEType);
    Export::setLargeDataThresholdForTesting(bytes16 - 1);
    capture([&] {
        ASSERT_TRUE(Export::write(doc->store.get(), fileURL(large).get(), audio::kAudioFileWAVEType, Export::kInteger16,
                                  nullptr, nullptr, &outcome));
    });
    EXPECT_EQ(outcome.container, audio::kAudioFileRF64Type);
    const audio::ContainerInfo container = audio::readContainerInfo(large);
    EXPECT_EQ(container.type, audio::kAudioFileRF64Type);
    EXPECT_EQ(container.dataByteCount, std::int64_t(bytes16)); // from the ds64 chunk
    {
        // A ds64 that claims nearly 2^63 bytes of data is cut to the file.
        const std::string claims = dir.file("claims.wav");
        std::filesystem::copy_file(large, claims);
        std::fstream f(claims, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(28); // "RF64" size "WAVE" "ds64" size, the RIFF size, then the data size
        const unsigned char huge[8] = {0xc4, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f};
        f.write(reinterpret_cast<const char*>(huge), 8);
        f.close();
        const audio::ContainerInfo c = audio::readContainerInfo(claims);
        EXPECT_EQ(c.type, audio::kAudioFileRF64Type);
        EXPECT_LE(c.dataOffset + c.dataByteCount, std::int64_t(std::filesystem::file_size(claims)));
    }
    // libsndfile reads it back exactly...
    SF_INFO info{};
    EXPECT_EQ(mismatches(large, channels, frames, &info), 0);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
    // ... and so does our own reader, which names the container honestly.
    auto back = openStore(large);
    ASSERT_TRUE(back->ok) << back->messages.out;
    ASSERT_EQ(back->store->channelCount(), channels);
    ASSERT_EQ(back->store->channelSampleCount(2).v_, std::uint64_t(frames));
    long wrong = 0;
    for (int c = 0; c < channels; ++c) {
        const std::vector<double> s = testsupport::channelOf(*back->store, c);
        for (long k = 0; k < frames; ++k)
            wrong += s[std::size_t(k)] != value(c, k);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(back->store->information()->fileFormat.value, audio::kAudioFileRF64Type);
    EXPECT_EQ(ZQ::formatName(back->store->information()->fileFormat.value), "RF64");

    // The same file named BW64 (the broadcast name of the layout) opens too.
    const std::string bw64 = dir.file("large-bw64.wav");
    std::string bytes = readAll(large);
    bytes.replace(0, 4, "BW64");
    std::ofstream(bw64, std::ios::binary) << bytes;
    auto broadcast = openStore(bw64);
    ASSERT_TRUE(broadcast->ok) << broadcast->messages.out;
    EXPECT_EQ(broadcast->store->channelSampleCount(0).v_, std::uint64_t(frames));
    double last = 0;
    ASSERT_TRUE(broadcast->store->readChannel(1, std::uint64_t(frames) - 1, 1, &last));
    EXPECT_EQ(last, value(1, frames - 1));
    EXPECT_EQ(ZQ::formatName(broadcast->store->information()->fileFormat.value), "BW64");

    // AIFF cannot count that far: refused, an existing file untouched.
    const std::string aiff = dir.file("large.aif");
    std::ofstream(aiff, std::ios::binary) << "an earlier file";
    std::string why;
    Captured m = capture([&] {
        EXPECT_FALSE(
            Export::write(doc->store.get(), fileURL(aiff).get(), audio::kAudioFileAIFFType, Export::kInteger16, &why));
    });
    EXPECT_EQ(readAll(aiff), "an earlier file");
    EXPECT_NE(why.find("at most 4 GB"), std::string::npos) << why;
    EXPECT_EQ(m.out.find("Audio data is good"), std::string::npos);
    EXPECT_TRUE(noTemporaryFiles(dir));
}

TEST(ExportSizes, LengthsAroundAChunkAndOfOneFrameAreWrittenWhole) {
    TempDir dir;
    const long chunk = Export::kChunkFrames;
    for (long frames : {1L, chunk - 1, chunk, chunk + 1, 2 * chunk + 3}) {
        for (int channels : {1, 3}) {
            auto doc = openStore(source(dir, channels, frames));
            ASSERT_TRUE(doc->ok);
            for (const Format& f : {kFormats[0], kFormats[2], kFormats[4]}) {
                const std::string out = dir.file("len.out");
                capture([&] {
                    ASSERT_TRUE(Export::write(doc->store.get(), fileURL(out).get(), f.type, f.code)) << frames;
                });
                EXPECT_EQ(mismatches(out, channels, frames), 0) << f.name << " " << frames << " x " << channels;
            }
        }
    }
}

TEST(ExportSizes, ACancelledExportLeavesTheDestinationAndNoTemporaryFile) {
    TempDir dir;
    const long frames = 40 * Export::kChunkFrames;
    auto doc = openStore(source(dir, 2, frames));
    ASSERT_TRUE(doc->ok);
    const std::string out = dir.file("keep.wav");
    std::ofstream(out, std::ios::binary) << "keep";
    Export::Progress progress;
    // Stopped from another thread once it is under way.
    std::thread canceller([&] {
        while (progress.framesWritten.load() == 0)
            std::this_thread::yield();
        progress.cancel();
    });
    Export::Outcome outcome;
    std::string why = "unset";
    Captured m = capture([&] {
        EXPECT_FALSE(Export::write(doc->store.get(), fileURL(out).get(), audio::kAudioFileWAVEType, Export::kFloat32,
                                   &why, &progress, &outcome));
    });
    canceller.join();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(why, "");
    EXPECT_NE(m.out.find("Export cancelled\n"), std::string::npos);
    EXPECT_GT(progress.framesWritten.load(), 0u);
    EXPECT_LT(progress.framesWritten.load(), std::uint64_t(frames));
    EXPECT_EQ(readAll(out), "keep");
    EXPECT_TRUE(noTemporaryFiles(dir));

    // Progress runs from 0 to 1 over an export that is left alone.
    Export::Progress whole;
    capture([&] {
        EXPECT_TRUE(Export::write(doc->store.get(), fileURL(out).get(), audio::kAudioFileWAVEType, Export::kInteger16,
                                  nullptr, &whole));
    });
    EXPECT_EQ(whole.fraction(), 1.0);
    EXPECT_EQ(mismatches(out, 2, frames), 0);
}

TEST(ExportSizes, ClippingIsCountedAndOnlyTheFirstSamplesAreReported) {
    TempDir dir;
    // 150 frames at full scale, then quiet ones: 150 clipped in mono.
    const std::string path = dir.file("loud.wav");
    writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, 400,
                 [](int, long k) { return k < 150 ? 1.0 : 0.25; });
    auto doc = openStore(path);
    ASSERT_TRUE(doc->ok);
    Export::Outcome outcome;
    Captured m = capture([&] {
        EXPECT_TRUE(Export::write(doc->store.get(), fileURL(dir.file("o.wav")).get(), audio::kAudioFileWAVEType,
                                  Export::kInteger16, nullptr, nullptr, &outcome));
    });
    EXPECT_EQ(outcome.clippedSamples, 150u);
    std::size_t lines = 0;
    for (std::size_t at = m.out.find("Clipped audio file\n"); at != std::string::npos;
         at = m.out.find("Clipped audio file\n", at + 1))
        ++lines;
    EXPECT_EQ(lines, Export::kClipLinesShown);
    EXPECT_NE(m.out.find("Clipped audio file: 50 more samples clipped\n"), std::string::npos) << m.out;
    // Float keeps the values: nothing clipped, nothing said.
    m = capture([&] {
        EXPECT_TRUE(Export::write(doc->store.get(), fileURL(dir.file("f.wav")).get(), audio::kAudioFileWAVEType,
                                  Export::kFloat32, nullptr, nullptr, &outcome));
    });
    EXPECT_EQ(outcome.clippedSamples, 0u);
    EXPECT_EQ(m.out.find("Clipped"), std::string::npos);

    EXPECT_EQ(Export::clippedNote(1), "1 sample was clipped to full scale");
    EXPECT_EQ(Export::clippedNote(1234), "1,234 samples were clipped to full scale");
    EXPECT_EQ(Export::clippedNote(1234567), "1,234,567 samples were clipped to full scale");
    EXPECT_EQ(Export::clippedNote(999), "999 samples were clipped to full scale");
}

TEST(ExportSizes, ExportsKeepModesOwnersAndLinks) {
    TempDir dir;
    auto doc = openStore(source(dir, 2, 100));
    ASSERT_TRUE(doc->ok);
    auto exportTo = [&](const std::string& path) {
        bool ok = false;
        capture([&] {
            ok = Export::write(doc->store.get(), fileURL(path).get(), audio::kAudioFileWAVEType, Export::kInteger16);
        });
        return ok;
    };
    auto modeOf = [](const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    };
    // A new file: 0666 less the umask.
    const mode_t mask = ::umask(022);
    const std::string fresh = dir.file("fresh.wav");
    ASSERT_TRUE(exportTo(fresh));
    EXPECT_EQ(modeOf(fresh), 0644u);
    ::umask(027);
    const std::string other = dir.file("other.wav");
    ASSERT_TRUE(exportTo(other));
    EXPECT_EQ(modeOf(other), 0640u);
    ::umask(mask);

    // An overwritten file keeps its mode, and its group.
    const std::string existing = dir.file("existing.wav");
    std::ofstream(existing) << "old";
    ASSERT_EQ(::chmod(existing.c_str(), 0604), 0);
    struct stat before {};
    ::stat(existing.c_str(), &before);
    if (::geteuid() == 0) { // another owner, where we may
        ASSERT_EQ(::chown(existing.c_str(), 1234, 2345), 0);
    }
    ::stat(existing.c_str(), &before);
    ASSERT_TRUE(exportTo(existing));
    struct stat after {};
    ::stat(existing.c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0604u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(mismatches(existing, 2, 100), 0);

    // A symbolic link stays a link; its target gets the samples.
    std::filesystem::create_directory(dir.file("real"));
    const std::string target = dir.file("real/target.wav");
    std::ofstream(target) << "old";
    const std::string link = dir.file("link.wav");
    std::filesystem::create_symlink("real/target.wav", link);
    ASSERT_TRUE(exportTo(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), "real/target.wav");
    EXPECT_EQ(mismatches(target, 2, 100), 0);
    // A dangling link: the file it names is created.
    const std::string dangling = dir.file("dangling.wav");
    std::filesystem::create_symlink("real/new.wav", dangling);
    ASSERT_TRUE(exportTo(dangling));
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_EQ(mismatches(dir.file("real/new.wav"), 2, 100), 0);
    // A loop of links is refused.
    std::filesystem::create_symlink("loop-b.wav", dir.file("loop-a.wav"));
    std::filesystem::create_symlink("loop-a.wav", dir.file("loop-b.wav"));
    EXPECT_FALSE(exportTo(dir.file("loop-a.wav")));
    EXPECT_TRUE(noTemporaryFiles(dir));
}
