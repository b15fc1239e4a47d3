#include "OpenedStore.h"
#include "audiofile/AudioFileProperties.h"
#include "support/Fixtures.h"

#include <sndfile.h>

using namespace testsupport;

TEST(PropertiesText, RowsAndTextOfAWaveFile) {
    TempDir dir;
    const std::string path = dir.file("tone.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100 * 2 - 1, fixtureSample, "A\nB"));
    auto o = openStore(path);
    ASSERT_TRUE(o->ok);
    ZQ::AudioFileProperties p = ZQ::describeAudioFileProperties(o->store.get(), path);
    ASSERT_EQ(p.rows.size(), 20u);
    const std::pair<std::string, std::string> expected[] = {
        {"File", "tone.wav"},
        {"Full Path", path},
        {"File Format", "WAVE"},
        {"Sample Rate", "44100.000000"},
        {"Format ID", "1819304813"},
        {"Format Flags", "12"},
        {"Bytes per packet", "4"},
        {"Frames per packet", "1"},
        {"Bytes per frame", "4"},
        {"Channels per frame", "2"},
        {"Bits per channel", "16"},
        {"File Length (samples)", "88199"},
        {"File Length (HMS)", "00:00:01.999"}, // truncated, never rounded
        {"Is Optimized", "Yes"},
        {"Bit Rate", "1411200"},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(p.rows[i], expected[i]) << i;
    EXPECT_EQ(p.rows[15].first, "Format List Description");
    EXPECT_EQ(p.rows[16], (std::pair<std::string, std::string>("Regions", "< No Regions Defined >")));
    EXPECT_EQ(p.rows[17].second.rfind("1) 1718449184, ", 0), 0u);
    // The title's line break is shown on one line in the row, kept in the text.
    EXPECT_NE(p.rows[18].second.find("title = A _ _ _ "), std::string::npos) << p.rows[18].second;
    EXPECT_EQ(p.rows[18].second.find('\n'), std::string::npos);

    EXPECT_EQ(p.text.rfind("\nFile: tone.wav\nFull Path: " + path +
                               "\nFile Format: WAVE\nSample Rate: 44100.000000\n"
                               "Format ID: 1819304813\nFormat Flags: 12\n",
                           0),
              0u);
    EXPECT_NE(p.text.find("\nFile Length (HMS): 00:00:01.999\nIs Optimized: Yes\nBit Rate: 1411200\n"
                          "Format List Description: 1) Audio Stream Basic Description: Sample Rate: 44100.000000, "),
              std::string::npos);
    EXPECT_NE(p.text.find("\nRegions: < No Regions Defined >\nChunk Identifiers: 1) "), std::string::npos);
    EXPECT_NE(p.text.find("\nOther Info: {\n"), std::string::npos);
    EXPECT_EQ(p.text.back(), '\n');
}

TEST(PropertiesText, MissingRecordAndUnknownType) {
    ZQ::AudioFileProperties p =
        ZQ::describeAudioFileProperties(static_cast<const ZQ::AudioFileInformationData*>(nullptr), "/x.wav");
    EXPECT_TRUE(p.rows.empty());
    EXPECT_EQ(p.text, "");

    ZQ::AudioFileInformationData info; // nothing read
    Captured m = capture([&] { p = ZQ::describeAudioFileProperties(&info, "/x.wav"); });
    EXPECT_EQ(m.out, "Invalid sample rate: 0.000000\n"); // the length's time has no valid rate
    EXPECT_EQ(p.rows[2].second, "(undefined)");
    EXPECT_EQ(p.rows[12].second, "00:00:00.000");
    EXPECT_EQ(p.rows[15].second, "< Empty >");
    EXPECT_EQ(p.rows[17].second, "< No Chunk IDs Defined >");
    EXPECT_EQ(p.rows[18].second, "(null)");
    info.fileFormat.value = platform::audio::fourcc("RF64"); // a WAVE file past 4 GB, shown as what it is
    info.fileFormat.flags = ZQ::kPropertyPresent | ZQ::kPropertyRead;
    capture([&] { p = ZQ::describeAudioFileProperties(&info, "/x.wav"); });
    EXPECT_EQ(p.rows[2].second, "RF64");
    info.fileFormat.value = platform::audio::fourcc("W64 ");
    capture([&] { p = ZQ::describeAudioFileProperties(&info, "/x.wav"); });
    EXPECT_EQ(p.rows[2].second, "Unknown");
}

TEST(PropertiesText, LineBreaksInRows) {
    EXPECT_EQ(ZQ::rowNameText("a\nb\n"), "a | b | ");
    EXPECT_EQ(ZQ::rowValueText("x\ny"), "x _ _ _ y");
    EXPECT_EQ(ZQ::rowValueText(""), "");
}
