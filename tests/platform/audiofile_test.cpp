#include "platform/base/Values.h"
#include "platform/soundfile/AudioFile.h"
#include "platform/soundfile/ExtAudioFile.h"
#include "support/Fixtures.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

using namespace platform;
using namespace platform::audio;
using testsupport::fixtureSample;
using testsupport::TempDir;
using testsupport::writeFixture;

namespace {
Ref<AudioFile> openOrFail(const std::string& path, OSStatus* status = nullptr) {
    AudioFile* f = nullptr;
    OSStatus r = AudioFile::open(path, &f);
    if (status) *status = r;
    return Ref<AudioFile>::adopt(f);
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The libsndfile container for a fixture name, by its extension.
int majorFor(const std::string& name) {
    std::string ext = name.substr(name.rfind('.') + 1);
    return ext == "wav" ? SF_FORMAT_WAV : ext == "aif" ? SF_FORMAT_AIFF : SF_FORMAT_CAF;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
} // namespace

TEST(AudioFileService, ReportsTheContainerTypeFromTheHeader) {
    TempDir dir;
    struct Case {
        const char* name;
        int format;
        FourCharCode type;
        bool decoded; // other decoders' containers open without samples
    } cases[] = {
        {"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, kAudioFileWAVEType, true},
        {"a.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, kAudioFileAIFFType, true},
        {"b.aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, kAudioFileAIFCType, false}, // libsndfile says AIFF
        {"a.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, kAudioFileCAFType, true},
        {"a.sd2", SF_FORMAT_SD2 | SF_FORMAT_PCM_16, kAudioFileSoundDesigner2Type, true},
        {"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kAudioFileFLACType, true},
        {"a.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, kAudioFileWave64Type, true},
        {"a.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, kAudioFileRF64Type, true}, // WAVE past 4 GB
        {"a.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, kAudioFileNextType, false},
        {"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, kAudioFileOggType, true},
    };
    for (auto& c : cases) {
        std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, 2, 44100, 1000)) << c.name;
        OSStatus r;
        auto f = openOrFail(path, &r);
        ASSERT_EQ(r, kNoErr) << c.name;
        EXPECT_EQ(f->fileType(), c.type) << c.name;
        EXPECT_EQ(f->hasDecoder(), c.decoded) << c.name;
        EXPECT_EQ(f->lengthFrames(), c.decoded ? 1000 : 0) << c.name;
        std::uint32_t type = 0, size = 4;
        EXPECT_EQ(f->getProperty(file::kFileFormat, &size, &type), kNoErr);
        EXPECT_EQ(type, c.type);
        if (!c.decoded) {
            float sample[2];
            std::uint32_t frames = 1;
            EXPECT_NE(f->readFloat(&frames, sample), kNoErr) << c.name;
            EXPECT_EQ(frames, 0u);
        }
    }
}

TEST(AudioFileService, TellsOtherDecodersStreamsByTheirMagicNumbers) {
    TempDir dir;
    const struct {
        std::string bytes;
        FourCharCode type;
    } cases[] = {
        {std::string("\xFF\xF1\x50\x80", 4) + std::string(40, '\0'), kAudioFileAAC_ADTSType},
        {std::string("\0\0\0\x20"
                     "ftypM4A \0\0\0\0",
                     16) +
             std::string(40, '\0'),
         kAudioFileM4AType},
        {std::string("\0\0\0\x20"
                     "ftypisom\0\0\0\0",
                     16) +
             std::string(40, '\0'),
         kAudioFileMPEG4Type},
        {std::string("\0\0\0\x20"
                     "ftyp3gp4\0\0\0\0",
                     16) +
             std::string(40, '\0'),
         kAudioFile3GPType},
        {"#!AMR\n" + std::string(40, '\0'), kAudioFileAMRType},
        {std::string("\x0B\x77\x12\x34", 4) + std::string(40, '\0'), kAudioFileAC3Type},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string path = dir.file("s" + std::to_string(i++) + ".bin");
        writeBytes(path, c.bytes);
        OSStatus r;
        auto f = openOrFail(path, &r);
        ASSERT_EQ(r, kNoErr) << i;
        EXPECT_EQ(f->fileType(), c.type) << i;
        EXPECT_FALSE(f->hasDecoder());
    }
    // MPEG audio is decoded: a header with no frame after it is no stream.
    for (const std::string& bytes : {std::string("ID3\x04\0\0\0\0\0\x10", 10) + std::string(40, '\0'),
                                     std::string("\xFF\xFB\x90\x64", 4) + std::string(40, '\0'),
                                     std::string("\xFF\xFD\x90\x64", 4) + std::string(40, '\0')}) {
        const std::string path = dir.file("s" + std::to_string(i++) + ".mp3");
        writeBytes(path, bytes);
        EXPECT_TRUE(isMpegAudioContainer(readContainerInfo(path).type));
        OSStatus r;
        EXPECT_FALSE(openOrFail(path, &r));
        EXPECT_EQ(r, kAudioFileInvalidFileError);
    }
}

TEST(AudioFileService, SoundDesignerTwoNeedsItsResourceFork) {
    TempDir dir;
    std::string path = dir.file("a.sd2");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_SD2 | SF_FORMAT_PCM_16, 1, 48000, 10));
    std::filesystem::remove(dir.file("._a.sd2"));
    OSStatus r;
    auto f = openOrFail(path, &r);
    EXPECT_FALSE(f);
    EXPECT_NE(r, kNoErr);
}

TEST(AudioFileService, RefusesWhatIsNotAudio) {
    TempDir dir;
    writeBytes(dir.file("notes.wav"), "hello, this is text and not a sound");
    writeBytes(dir.file("garbage.wav"), std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", 12));
    writeBytes(dir.file("empty.wav"), "");
    OSStatus r;
    EXPECT_FALSE(openOrFail(dir.file("notes.wav"), &r));
    EXPECT_EQ(r, kAudioFileUnsupportedFileTypeError);
    EXPECT_EQ(readContainerInfo(dir.file("notes.wav")).type, fourcc("hell"));
    EXPECT_EQ(readContainerInfo(dir.file("garbage.wav")).type, 0u);
    EXPECT_FALSE(openOrFail(dir.file("empty.wav"), &r));
    EXPECT_FALSE(openOrFail(dir.file("missing.wav"), &r));
    EXPECT_EQ(r, kAudioFileFileNotFoundError);
    EXPECT_FALSE(openOrFail(dir.path(), &r)); // a directory
}

TEST(AudioFileService, DescribesTheFilesOwnEncoding) {
    TempDir dir;
    struct Case {
        const char* name;
        int format;
        int channels;
        std::uint32_t flags, bits, bytesPerFrame;
    } cases[] = {
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 12, 16, 4},
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8, 8, 1},
        {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 12, 24, 6},
        {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, 12, 32, 4},
        {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 9, 32, 8},
        {"s16.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 14, 16, 4},
        {"s24.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 3, 14, 24, 9},
        {"le.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, 2, 12, 16, 4},
        {"be.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, 2, 14, 16, 4},
    };
    for (auto& c : cases) {
        std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, c.channels, 22050, 100)) << c.name;
        auto f = openOrFail(path);
        ASSERT_TRUE(f) << c.name;
        const AudioStreamBasicDescription& d = f->fileDataFormat();
        EXPECT_EQ(d.mSampleRate, 22050.0) << c.name;
        EXPECT_EQ(d.mFormatID, kAudioFormatLinearPCM) << c.name;
        EXPECT_EQ(d.mFormatFlags, c.flags) << c.name;
        EXPECT_EQ(d.mBitsPerChannel, c.bits) << c.name;
        EXPECT_EQ(d.mBytesPerFrame, c.bytesPerFrame) << c.name;
        EXPECT_EQ(d.mBytesPerPacket, c.bytesPerFrame) << c.name;
        EXPECT_EQ(d.mFramesPerPacket, 1u) << c.name;
        EXPECT_EQ(d.mChannelsPerFrame, static_cast<std::uint32_t>(c.channels)) << c.name;
    }
    std::string ulaw = dir.file("u.wav");
    ASSERT_TRUE(writeFixture(ulaw, SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 8000, 100));
    EXPECT_EQ(openOrFail(ulaw)->fileDataFormat().mFormatID, fourcc("ulaw"));
}

TEST(AudioFileService, DecodesToInterleavedFloatExactly) {
    TempDir dir;
    for (const char* name : {"x.wav", "x.aif", "x.caf"}) {
        std::string path = dir.file(name);
        int major = majorFor(name);
        ASSERT_TRUE(writeFixture(path, major | SF_FORMAT_PCM_16, 2, 44100, 5000));
        auto f = openOrFail(path);
        ASSERT_TRUE(f);
        std::vector<float> data(2 * 5001, -9.0f);
        std::uint32_t frames = 5001; // one more than there is
        ASSERT_EQ(f->readFloat(&frames, data.data()), kNoErr);
        ASSERT_EQ(frames, 5000u) << name;
        for (long k = 0; k < 5000; ++k)
            for (int c = 0; c < 2; ++c)
                ASSERT_EQ(data[static_cast<size_t>(2 * k + c)], static_cast<float>(fixtureSample(c, k)))
                    << name << " frame " << k << " channel " << c;
        frames = 10;
        ASSERT_EQ(f->readFloat(&frames, data.data()), kNoErr);
        EXPECT_EQ(frames, 0u); // at the end
    }
}

TEST(AudioFileService, FloatFilesKeepValuesBeyondFullScale) {
    TempDir dir;
    std::string path = dir.file("loud.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 48000, 4, [](int, long k) {
        return std::array<double, 4>{1.5, -2.0, 0.25, 1.0}[k];
    }));
    auto f = openOrFail(path);
    float v[4];
    std::uint32_t n = 4;
    ASSERT_EQ(f->readFloat(&n, v), kNoErr);
    EXPECT_EQ(v[0], 1.5f);
    EXPECT_EQ(v[1], -2.0f);
    EXPECT_EQ(v[2], 0.25f);
    EXPECT_EQ(v[3], 1.0f);
}

TEST(AudioFileService, ChunkListDataOffsetAndByteCountLocateTheSamples) {
    TempDir dir;
    for (const char* name : {"d.wav", "d.aif", "d.caf"}) {
        std::string path = dir.file(name);
        int major = majorFor(name);
        ASSERT_TRUE(writeFixture(path, major | SF_FORMAT_PCM_16, 1, 44100, 300));
        auto f = openOrFail(path);
        ASSERT_TRUE(f);
        std::uint32_t size = 0, writable = 1;
        ASSERT_EQ(f->getPropertyInfo(file::kChunkIDs, &size, &writable), kNoErr);
        EXPECT_EQ(writable, 0u);
        std::vector<FourCharCode> ids(size / 4);
        ASSERT_EQ(f->getProperty(file::kChunkIDs, &size, ids.data()), kNoErr);
        FourCharCode dataChunk = major == SF_FORMAT_AIFF ? fourcc("SSND") : fourcc("data");
        EXPECT_NE(std::find(ids.begin(), ids.end(), dataChunk), ids.end()) << name;
        for (FourCharCode outer : {fourcc("RIFF"), fourcc("FORM"), fourcc("caff")})
            EXPECT_EQ(std::find(ids.begin(), ids.end(), outer), ids.end()) << name;

        std::int64_t offset = 0;
        std::uint64_t bytes = 0;
        size = 8;
        ASSERT_EQ(f->getProperty(file::kDataOffset, &size, &offset), kNoErr);
        size = 8;
        ASSERT_EQ(f->getProperty(file::kAudioDataByteCount, &size, &bytes), kNoErr);
        EXPECT_EQ(bytes, 600u) << name;
        std::string raw = readAll(path);
        ASSERT_LE(static_cast<size_t>(offset) + bytes, raw.size()) << name;
        // The first sample, in the byte order the file format flags give, sits at the offset.
        auto lo = static_cast<unsigned char>(raw[static_cast<size_t>(offset)]);
        auto hi = static_cast<unsigned char>(raw[static_cast<size_t>(offset) + 1]);
        bool bigEndian = f->fileDataFormat().mFormatFlags & kAudioFormatFlagIsBigEndian;
        std::int16_t first =
            bigEndian ? static_cast<std::int16_t>((lo << 8) | hi) : static_cast<std::int16_t>((hi << 8) | lo);
        EXPECT_EQ(first, static_cast<std::int16_t>(fixtureSample(0, 0) * 32768.0)) << name;
    }
}

TEST(AudioFileService, UnansweredPropertiesFailTheExpectedWay) {
    TempDir dir;
    std::string path = dir.file("p.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 10));
    auto f = openOrFail(path);
    std::uint32_t size = 0;
    for (FourCharCode id : {file::kMagicCookieData, file::kDataFormatName, file::kRegionList, file::kPacketTableInfo,
                            file::kReserveDuration})
        EXPECT_EQ(f->getPropertyInfo(id, &size, nullptr), kAudioFileUnsupportedPropertyError);
    EXPECT_EQ(f->getPropertyInfo(file::kChannelLayout, &size, nullptr), kAudioFileInvalidChunkError);
    std::uint32_t writable = 0;
    EXPECT_EQ(f->getPropertyInfo(file::kDeferSizeUpdates, &size, &writable), kNoErr);
    EXPECT_EQ(writable, 1u);
    EXPECT_EQ(f->getPropertyInfo(file::kMarkerList, &size, nullptr), kNoErr);
    EXPECT_EQ(size, 8u); // an empty marker list
}

TEST(AudioFileService, InformationDictionaryHoldsStringsAndDuration) {
    TempDir dir;
    std::string path = dir.file("t.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 12000, fixtureSample, "Tone"));
    auto f = openOrFail(path);
    Object* ref = nullptr;
    std::uint32_t size = sizeof ref;
    ASSERT_EQ(f->getProperty(file::kInfoDictionary, &size, &ref), kNoErr);
    Ref<Dictionary> info = Ref<Dictionary>::adopt(dynamic_cast<Dictionary*>(ref));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->objectForKey("title")->description(), "Tone");
    EXPECT_EQ(info->objectForKey("approximate duration in seconds")->description(), "1.500");
    double seconds = 0;
    size = 8;
    ASSERT_EQ(f->getProperty(file::kEstimatedDuration, &size, &seconds), kNoErr);
    EXPECT_DOUBLE_EQ(seconds, 1.5);
}

TEST(AudioFileService, SurvivesMutatedHeaders) {
    TempDir dir;
    std::mt19937 rng(12345);
    int opened = 0;
    for (const char* name : {"m.wav", "m.aif", "m.caf", "f.aif"}) {
        std::string clean = dir.file(std::string("clean-") + name);
        int major = majorFor(name);
        int sub = name[0] == 'f' ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
        ASSERT_TRUE(writeFixture(clean, major | sub, 2, 44100, 64));
        std::string original = readAll(clean);
        for (int round = 0; round < 150; ++round) {
            std::string bytes = original;
            int edits = 1 + static_cast<int>(rng() % 4);
            for (int e = 0; e < edits; ++e) {
                size_t at = rng() % std::min<size_t>(bytes.size(), 120); // the header region
                bytes[at] = static_cast<char>(rng() & 0xff);
            }
            if (rng() % 5 == 0) bytes.resize(rng() % bytes.size()); // truncation
            std::string path = dir.file(name);
            writeBytes(path, bytes);
            auto f = openOrFail(path);
            (void)readContainerInfo(path);
            if (!f) continue;
            ++opened;
            std::uint32_t size = 0;
            for (FourCharCode id : {file::kChunkIDs, file::kMarkerList, file::kDataOffset, file::kAudioDataByteCount,
                                    file::kBitRate, file::kFormatList}) {
                if (f->getPropertyInfo(id, &size, nullptr) != kNoErr) continue;
                std::vector<unsigned char> buf(size + 8);
                std::uint32_t io = size;
                f->getProperty(id, &io, buf.data());
                EXPECT_LE(io, size);
            }
            std::int64_t frames = std::min<std::int64_t>(f->lengthFrames(), 1 << 16);
            std::uint32_t channels = std::min<std::uint32_t>(f->fileDataFormat().mChannelsPerFrame, 64);
            std::vector<float> data(static_cast<size_t>(frames + 1) * channels);
            auto want = static_cast<std::uint32_t>(frames);
            f->readFloat(&want, data.data());
            EXPECT_LE(static_cast<std::int64_t>(want), frames);
        }
    }
    EXPECT_GT(opened, 0); // some mutations leave a readable file
}

TEST(ExtAudioFileService, DeliversOnlyTheFloatClientFormatAndNeverOverrunsTheBuffer) {
    TempDir dir;
    const std::string path = dir.file("e.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 100));
    auto url = Ref<URL>::adopt(URL::fileURLWithPath(path));
    ExtAudioFile* raw = nullptr;
    ASSERT_EQ(ExtAudioFile::openURL(url.get(), &raw), kNoErr);
    auto ext = Ref<ExtAudioFile>::adopt(raw);

    AudioStreamBasicDescription client = ext->clientDataFormat();
    EXPECT_EQ(client.mFormatFlags, 9u);
    AudioStreamBasicDescription wrong = client;
    wrong.mChannelsPerFrame = 1;
    EXPECT_EQ(ext->setProperty(ext::kClientDataFormat, sizeof wrong, &wrong), kExtAudioFileInvalidDataFormatError);
    wrong = client;
    wrong.mSampleRate = 48000; // no rate conversion
    EXPECT_EQ(ext->setProperty(ext::kClientDataFormat, sizeof wrong, &wrong), kExtAudioFileInvalidDataFormatError);
    EXPECT_EQ(ext->setProperty(ext::kClientDataFormat, sizeof client, &client), kNoErr);
    EXPECT_EQ(ext->setProperty(ext::kFileLengthFrames, 8, &client), kAudioFileUnsupportedPropertyError);

    // Asking for more frames than the buffer holds delivers what fits.
    std::vector<float> block(2 * 30 + 2, -9.0f);
    AudioBufferList list;
    list.mNumberBuffers = 1;
    list.mBuffers[0].mNumberChannels = 2;
    list.mBuffers[0].mDataByteSize = 2 * 30 * 4;
    list.mBuffers[0].mData = block.data();
    std::uint32_t frames = 1000;
    ASSERT_EQ(ext->read(&frames, &list), kNoErr);
    EXPECT_EQ(frames, 30u);
    EXPECT_EQ(list.mBuffers[0].mDataByteSize, 240u);
    EXPECT_EQ(block[59], static_cast<float>(fixtureSample(1, 29)));
    EXPECT_EQ(block[60], -9.0f);
    // The rest, then the end.
    list.mBuffers[0].mDataByteSize = 2 * 30 * 4;
    frames = 1000;
    int reads = 0;
    std::uint32_t total = 30;
    while (ext->read(&frames, &list) == kNoErr && frames > 0 && ++reads < 10) {
        total += frames;
        list.mBuffers[0].mDataByteSize = 2 * 30 * 4;
        frames = 1000;
    }
    EXPECT_EQ(total, 100u);
    EXPECT_EQ(list.mBuffers[0].mDataByteSize, 0u);

    std::int64_t length = 0;
    std::uint32_t size = sizeof length;
    EXPECT_EQ(ext->getProperty(ext::kFileLengthFrames, &size, &length), kNoErr);
    EXPECT_EQ(length, 100);
    const void* file = nullptr;
    size = sizeof file;
    EXPECT_EQ(ext->getProperty(ext::kAudioFile, &size, &file), kNoErr);
    EXPECT_EQ(file, ext->audioFile());
    EXPECT_EQ(ext->getPropertyInfo(ext::kFileChannelLayout, &size, nullptr), -1);
}
