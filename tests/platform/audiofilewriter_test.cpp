#include "platform/soundfile/AudioFile.h"
#include "platform/soundfile/AudioFileWriter.h"
#include "support/Fixtures.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sndfile.h>

using namespace platform;
using namespace platform::audio;
using testsupport::TempDir;

namespace {
AudioStreamBasicDescription pcm(std::uint32_t channels, std::uint32_t bits, bool isFloat, bool bigEndian) {
    AudioStreamBasicDescription d;
    d.mSampleRate = 44100;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = kAudioFormatFlagIsPacked | (isFloat ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger) |
                     (bigEndian ? kAudioFormatFlagIsBigEndian : 0);
    d.mBitsPerChannel = bits;
    d.mChannelsPerFrame = channels;
    d.mFramesPerPacket = 1;
    d.mBytesPerFrame = d.mBytesPerPacket = channels * bits / 8;
    return d;
}

template <class T> T swapped(T v) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof v);
    for (size_t i = 0; i < sizeof(T) / 2; ++i)
        std::swap(b[i], b[sizeof(T) - 1 - i]);
    std::memcpy(&v, b, sizeof v);
    return v;
}

template <class T>
void writeWords(const std::string& path, FourCharCode type, const AudioStreamBasicDescription& d,
                const std::vector<T>& words) {
    AudioFileWriter* w = nullptr;
    ASSERT_EQ(AudioFileWriter::create(path, type, d, &w), kNoErr);
    Ref<AudioFileWriter> writer = Ref<AudioFileWriter>::adopt(w);
    ASSERT_EQ(writer->write(static_cast<std::uint32_t>(words.size() / d.mChannelsPerFrame), words.data()), kNoErr);
    ASSERT_EQ(writer->close(), kNoErr);
}
} // namespace

TEST(AudioFileWriterService, WavWordsLandLittleEndianAndReadBackExactly) {
    TempDir dir;
    const std::vector<std::int16_t> words = {0, 16384, 32767, -32768, -1, 1}; // 3 stereo frames
    std::string path = dir.file("o.wav");
    writeWords(path, kAudioFileWAVEType, pcm(2, 16, false, false), words);
    SF_INFO info{};
    SNDFILE* s = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.frames, 3);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<std::int16_t> back(6);
    EXPECT_EQ(sf_readf_short(s, back.data(), 3), 3);
    sf_close(s);
    EXPECT_EQ(back, words);
}

TEST(AudioFileWriterService, AiffTakesWordsAlreadySwappedToBigEndian) {
    TempDir dir;
    const std::vector<std::int32_t> values = {0, 2147483647, -2147483647 - 1, 1073741824};
    std::vector<std::int32_t> words;
    for (auto v : values)
        words.push_back(swapped(v));
    std::string path = dir.file("o.aif");
    writeWords(path, kAudioFileAIFFType, pcm(1, 32, false, true), words);
    AudioFile* f = nullptr;
    ASSERT_EQ(AudioFile::open(path, &f), kNoErr);
    Ref<AudioFile> file = Ref<AudioFile>::adopt(f);
    EXPECT_EQ(file->fileType(), kAudioFileAIFFType);
    EXPECT_EQ(file->fileDataFormat().mFormatFlags, 14u);
    SF_INFO info{};
    SNDFILE* s = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<std::int32_t> back(4);
    EXPECT_EQ(sf_readf_int(s, back.data(), 4), 4);
    sf_close(s);
    EXPECT_EQ(back, values);
}

TEST(AudioFileWriterService, FloatWavKeepsValuesBeyondFullScale) {
    TempDir dir;
    const std::vector<float> words = {1.5f, -2.0f, 0.5f, 1.0f};
    std::string path = dir.file("f.wav");
    writeWords(path, kAudioFileWAVEType, pcm(1, 32, true, false), words);
    AudioFile* f = nullptr;
    ASSERT_EQ(AudioFile::open(path, &f), kNoErr);
    Ref<AudioFile> file = Ref<AudioFile>::adopt(f);
    EXPECT_EQ(file->fileDataFormat().mFormatFlags, 9u);
    std::vector<float> back(4);
    std::uint32_t n = 4;
    ASSERT_EQ(file->readFloat(&n, back.data()), kNoErr);
    EXPECT_EQ(back, words);
}

TEST(AudioFileWriterService, RefusesOtherContainersAndFormats) {
    TempDir dir;
    AudioFileWriter* w = nullptr;
    EXPECT_EQ(AudioFileWriter::create(dir.file("x.caf"), kAudioFileCAFType, pcm(1, 16, false, false), &w),
              kAudioFileUnsupportedFileTypeError);
    EXPECT_EQ(AudioFileWriter::create(dir.file("x.wav"), kAudioFileWAVEType, pcm(1, 20, false, false), &w),
              kAudioFileUnsupportedDataFormatError);
    auto noChannels = pcm(1, 16, false, false);
    noChannels.mChannelsPerFrame = 0;
    EXPECT_EQ(AudioFileWriter::create(dir.file("x.wav"), kAudioFileWAVEType, noChannels, &w),
              kAudioFileUnsupportedDataFormatError);
    EXPECT_EQ(
        AudioFileWriter::create(dir.path() + "/no/such/dir/x.wav", kAudioFileWAVEType, pcm(1, 16, false, false), &w),
        kAudioFilePermissionsError);
    EXPECT_EQ(w, nullptr);
}
