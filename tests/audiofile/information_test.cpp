#include "CafChunks.h"
#include "OpenedStore.h"
#include "audiofile/AudioFileInformation.h"
#include "platform/base/Values.h"
#include "platform/soundfile/AudioFile.h"
#include "platform/soundfile/ExtAudioFile.h"
#include "support/Fixtures.h"

#include <sndfile.h>

using namespace testsupport;
using namespace ZQ;
namespace audio = platform::audio;
using audio::fourcc;

namespace {

// Reads the record of a file through an open extended audio file, as the
// reader does after decoding.
struct Record {
    AudioFileInformationData info;
    Captured messages;
    bool ok = false;
};

std::unique_ptr<Record> recordOf(const std::string& path) {
    auto r = std::make_unique<Record>();
    audio::ExtAudioFile* ext = nullptr;
    auto url = fileURL(path);
    if (audio::ExtAudioFile::openURL(url.get(), &ext) != audio::kNoErr) return r;
    r->messages = capture([&] { r->ok = r->info.read(ext); });
    platform::releaseObject(ext);
    return r;
}

std::string stringValue(platform::Dictionary* d, const char* key) {
    auto k = platform::Ref<platform::String>::adopt(platform::String::create(key));
    auto* s = d ? dynamic_cast<platform::String*>(d->objectForKey(k.get())) : nullptr;
    return s ? s->utf8() : "(none)";
}

} // namespace

TEST(InformationRecord, WaveFileFillsTheSlotsItCanAndStaysSilentOnTheRest) {
    TempDir dir;
    const std::string path = dir.file("a.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 48000, 4800, fixtureSample, "Title"));
    auto r = recordOf(path);
    ASSERT_TRUE(r->ok);
    EXPECT_EQ(r->messages.out, ""); // 'mgic', 'fnam', 'rgls', 'pnfo', 'rsrv', 'cmap', 'fclo' and 'cclo' fail silently
    const AudioFileInformationData& i = r->info;

    EXPECT_EQ(i.fileDataFormat.flags, kPropertyPresent | kPropertyRead);
    EXPECT_EQ(i.fileDataFormat.value.mSampleRate, 48000.0);
    EXPECT_EQ(i.fileDataFormat.value.mFormatID, fourcc("lpcm"));
    EXPECT_EQ(i.fileDataFormat.value.mFormatFlags, 12u);
    EXPECT_EQ(i.fileDataFormat.value.mBitsPerChannel, 24u);
    EXPECT_EQ(i.fileDataFormat.value.mBytesPerFrame, 6u);
    EXPECT_EQ(i.channelCount(), 2);
    // The client format is the decoded one, and settable.
    EXPECT_EQ(i.clientDataFormat.flags, kPropertyPresent | kPropertyRead | kPropertyWritable);
    EXPECT_EQ(i.clientDataFormat.value.mFormatFlags, 9u);
    EXPECT_EQ(i.clientDataFormat.value.mBitsPerChannel, 32u);
    EXPECT_EQ(i.fileLengthFrames(), 4800);
    EXPECT_TRUE(i.audioFile.isPresent());
    EXPECT_FALSE(i.fileChannelLayout.isPresent());

    EXPECT_EQ(i.fileFormat.value, fourcc("WAVE"));
    EXPECT_EQ(i.dataFormat.value.mBitsPerChannel, 24u);
    ASSERT_EQ(i.formatList.value.count(), 1u);
    EXPECT_EQ(i.formatList.value.items()[0].mASBD.mChannelsPerFrame, 2u);
    EXPECT_EQ(i.audioDataByteCount.value, 4800u * 6);
    EXPECT_EQ(i.audioDataPacketCount.value, 4800u);
    EXPECT_TRUE(i.dataOffset.isPresent());
    EXPECT_FALSE(i.magicCookie.isPresent());
    EXPECT_FALSE(i.regionList.isPresent());
    EXPECT_FALSE(i.channelLayout.isPresent());
    EXPECT_EQ(i.deferSizeUpdates.flags, kPropertyPresent | kPropertyRead | kPropertyWritable);
    EXPECT_TRUE(i.markerList.isPresent());
    EXPECT_EQ(i.markerList.value.header()->mNumberMarkers, 0u);
    ASSERT_GE(i.chunkIDs.value.count(), 2u);
    EXPECT_EQ(i.chunkIDs.value.items().front(), fourcc("fmt "));
    EXPECT_EQ(i.chunkIDs.value.items().back(), fourcc("data"));
    EXPECT_EQ(stringValue(i.infoDictionary.value, "title"), "Title");
    EXPECT_EQ(stringValue(i.infoDictionary.value, "approximate duration in seconds"), "0.100");
    EXPECT_DOUBLE_EQ(i.estimatedDuration.value, 0.1);
    EXPECT_EQ(i.bitRate.value, 48000u * 48);
}

TEST(InformationRecord, NullHandleReadsNothing) {
    AudioFileInformationData i;
    EXPECT_FALSE(i.read(nullptr));
    EXPECT_FALSE(i.fileDataFormat.isPresent());
}

TEST(InformationRecord, CafMarkersRegionsAndCookieAreRead) {
    TempDir dir;
    const std::string path = dir.file("tagged.caf");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_CAF | SF_FORMAT_PCM_16, 1, 44100, 1000));
    CafChunkWriter w;
    w.u32(0); // SMPTE time type
    w.u32(2);
    w.marker(0, 10, 7);
    w.marker(0, 500, 8);
    w.appendTo(path, "mark");
    w.u32(0);
    w.u32(2);
    w.u32(1);  // region 1 ...
    w.u32(20); // ... named by string 20
    w.u32(3);  // flags
    w.u32(2);  // two markers
    w.marker(0, 100, 1);
    w.marker(0, 200, 2);
    w.u32(2); // region 2, without a name
    w.u32(99);
    w.u32(0);
    w.u32(0);
    w.appendTo(path, "regn");
    appendCafStrings(path, {{7, "start"}, {8, "middle"}, {20, "Verse"}});
    w.bytes(std::string(16, 'k'));
    w.appendTo(path, "kuki");

    auto r = recordOf(path);
    ASSERT_TRUE(r->ok);
    const AudioFileInformationData& i = r->info;
    ASSERT_EQ(i.regionList.value.count(), 2u);
    EXPECT_EQ(regionDescription(i.regionList.value.items()),
              "1) Region ID: 1, Name: Verse, Flags: 3, Number Markers: 2, "
              "2) Region ID: 2, Name: < Undefined >, Flags: 0, Number Markers: 0");
    ASSERT_TRUE(i.markerList.isPresent());
    ASSERT_EQ(i.markerList.value.header()->mNumberMarkers, 2u);
    EXPECT_EQ(i.markerList.value.items()[1].mFramePosition, 500.0);
    EXPECT_EQ(i.markerList.value.items()[1].mName->utf8(), "middle");
    // A 16-byte cookie does not fit the 8-byte slot: the overwrite lines, and a truncated value.
    EXPECT_EQ(r->messages.out, "Overwrite in property request (AudioFileID): 1835493731\nmgic\n");
    EXPECT_TRUE(i.magicCookie.isPresent());
    EXPECT_EQ(i.magicCookie.value, 0x6b6b6b6b6b6b6b6bull);
    const auto& ids = i.chunkIDs.value.items();
    EXPECT_EQ(ids[ids.size() - 4], fourcc("mark"));
    EXPECT_EQ(ids.back(), fourcc("kuki"));

    // The samples are still read in full.
    auto o = openStore(path);
    ASSERT_TRUE(o->ok);
    EXPECT_EQ(o->store->channelSampleCount(0).v_, 1000u);
}

TEST(InformationRecord, VariableBuffersTakeOnlyWholeItems) {
    ChannelLayoutBuffer b;
    Captured m = capture([&] { EXPECT_EQ(b.prepare(32), Prepared::kReady); });
    EXPECT_EQ(m.out, "");
    EXPECT_EQ(b.capacity(), 1u);
    EXPECT_EQ(b.size(), 32u);
    m = capture([&] { EXPECT_EQ(b.prepare(31), Prepared::kMisfit); });
    EXPECT_EQ(m.out, "");
    EXPECT_EQ(b.data(), nullptr);
    m = capture([&] { EXPECT_EQ(b.prepare(8), Prepared::kTooSmall); });
    EXPECT_EQ(m.out, "totalSizeOfObjectInBytes(8) < baseObjectSize(12)\n");
    EXPECT_EQ(b.prepare(0), Prepared::kEmpty);
    EXPECT_EQ(b.prepare(12), Prepared::kReady);
    EXPECT_EQ(b.capacity(), 0u);

    MarkerListBuffer markers;
    EXPECT_EQ(markers.prepare(8 + 2 * 40), Prepared::kReady);
    EXPECT_EQ(markers.capacity(), 2u);
    m = capture([&] { EXPECT_EQ(markers.prepare(4), Prepared::kTooSmall); });
    EXPECT_EQ(m.out, "totalSizeOfObjectInBytes(4) < baseObjectSize(8)\n");

    PropertyList<AudioFormatListItem> list;
    list.resize(3);
    EXPECT_EQ(list.count(), 3u);
    list.resize(1);
    EXPECT_EQ(list.count(), 1u);
}

TEST(InformationRecord, ErrorLinesAndTheirSilentExceptions) {
    const auto pty = static_cast<OSStatus>(fourcc("pty?"));
    const auto chk = static_cast<OSStatus>(fourcc("chk?"));
    auto line = [](FourCharCode p, OSStatus r) { return capture([&] { reportPropertyError(p, r); }).out; };
    EXPECT_EQ(line(fourcc("acnv"), pty), " -==== Error accessing property: acnv : 1886681407 (pty?)\n");
    EXPECT_EQ(line(fourcc("ffmt"), 0), "");
    EXPECT_EQ(line(fourcc("fclo"), -1), "");
    EXPECT_EQ(line(fourcc("cclo"), -1), "");
    EXPECT_NE(line(fourcc("fclo"), pty), "");
    EXPECT_EQ(line(fourcc("mgic"), pty), "");
    EXPECT_EQ(line(fourcc("mgic"), chk), "");
    EXPECT_NE(line(fourcc("mgic"), -50), "");
    EXPECT_EQ(line(fourcc("cmap"), chk), "");
    EXPECT_NE(line(fourcc("cmap"), pty), "");
    for (const char* p : {"fnam", "rgls", "pnfo", "rsrv"}) {
        const FourCharCode code = (FourCharCode(std::uint8_t(p[0])) << 24) | (FourCharCode(std::uint8_t(p[1])) << 16) |
                                  (FourCharCode(std::uint8_t(p[2])) << 8) | std::uint8_t(p[3]);
        EXPECT_EQ(line(code, pty), "") << p;
        EXPECT_NE(line(code, chk), "") << p;
    }
}

TEST(InformationRecord, FormatNamesAndDescriptions) {
    EXPECT_EQ(formatName(fourcc("WAVE")), "WAVE");
    EXPECT_EQ(formatName(fourcc("ac-3")), "ac-3");
    EXPECT_EQ(formatName(fourcc("Sd2f")), "Sd2f");
    EXPECT_EQ(formatName(fourcc("W64f")), "W64f");
    EXPECT_EQ(formatName(fourcc("flac")), "flac");
    EXPECT_EQ(formatName(fourcc("OggS")), "OggS");
    EXPECT_EQ(formatName(fourcc("ogg ")), "Unknown");
    EXPECT_EQ(formatName(0), "Unknown");

    EXPECT_EQ(formatListDescription({}), "< Empty >");
    AudioFormatListItem a, b;
    a.mASBD.mSampleRate = 44100;
    a.mASBD.mFormatID = fourcc("lpcm");
    a.mASBD.mChannelsPerFrame = 2;
    a.mChannelLayoutTag = 6619138;
    b.mASBD.mSampleRate = 8000;
    const std::string two = formatListDescription({a, b});
    EXPECT_EQ(two.rfind("1) Audio Stream Basic Description: Sample Rate: 44100.000000, Format ID: 1819304813, Format "
                        "Flags: 0, Bytes Per Packet: 0, Frames Per Packet: 0, Bytes Per Frame: 0, Channels Per Frame: "
                        "2, Bits Per Channel: 0, Reserved: 0, Audio Channel Layout Tag: 6619138, 2) ",
                        0),
              0u);
    EXPECT_EQ(countOf(two, ") Audio Stream"), 2u);
    EXPECT_NE(two.substr(two.size() - 2), ", ");

    EXPECT_EQ(chunkIDDescription({}), "< No Chunk IDs Defined >");
    EXPECT_EQ(chunkIDDescription({fourcc("fmt "), 7}), "1) 1718449184, 2) 7");
    EXPECT_EQ(regionDescription({}), "< No Regions Defined >");
}

TEST(InformationRecord, CopyingPropertiesIsDisabled) {
    AudioFileInformationData i;
    bool result = true;
    EXPECT_EQ(capture([&] { result = i.copyPropertiesTo(nullptr); }).out,
              "Copy properties to destination: Temporarily disabled\n");
    EXPECT_FALSE(result);
}
