// Label files and cutting a document into its pieces: positions that come
// back to the very frame at the usual rates, names in any script, lines of
// other editors' files, and pieces that joined are the source exactly.
#include "audiofile/LabelFile.h"
#include "audiofile/OpenedStore.h"
#include "audiofile/RegionSplit.h"
#include "support/Commands.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace testsupport;
using ZQ::LabelFormat;
using ZQ::Marker;
using ZQ::MarkerList;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(LabelFile, PositionsComeBackToTheFrameAtEveryRateInBothForms) {
    TempDir dir;
    std::mt19937_64 random(7);
    const std::vector<std::string> names = {
        "Intro", "Strophe \u00e9t\u00e9", "\u526f\u6b4c", "\u0627\u0644\u0642\u0633\u0645", "Emoji \U0001F3B5",
        "",      "comma, \"quoted\"",     "tab\there"};
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        std::vector<Marker> items;
        // Frames from the first to ten hours in, each with a name.
        const std::uint64_t reach = std::uint64_t(rate) * 36000;
        for (std::size_t i = 0; i < 400; ++i) {
            const std::uint64_t frame = i == 0 ? 0 : i == 1 ? reach - 1 : random() % reach;
            const std::uint64_t length = i % 3 == 0 ? 1 + random() % (std::uint64_t(rate) * 60) : 0;
            items.push_back({frame, length, names[i % names.size()]});
        }
        const MarkerList markers(items);
        for (const char* file : {"labels.txt", "labels.csv"}) {
            const std::string path = dir.file(file);
            std::string reason;
            ASSERT_TRUE(ZQ::writeLabelFile(path, markers, rate, &reason)) << reason;
            MarkerList back;
            ASSERT_TRUE(ZQ::readLabelFile(path, rate, &back, &reason)) << reason;
            ASSERT_EQ(back.size(), markers.size());
            for (std::size_t i = 0; i < markers.size(); ++i) {
                const Marker& want = markers.items()[i];
                const Marker& got = back.items()[i];
                ASSERT_EQ(got.frame, want.frame) << file << " at " << rate << ", line " << i;
                ASSERT_EQ(got.length, want.length) << file << " at " << rate << ", line " << i;
                // The tab form has no quoting: a tab in a name is a space.
                const std::string name = want.name == "tab\there" && path.ends_with(".txt") ? "tab here" : want.name;
                ASSERT_EQ(got.name, name) << file;
            }
        }
    }
    // The forms as written (eight decimals at 44.1 kHz): a marker's end is its start.
    const MarkerList two({{44100, 0, "a"}, {88200, 22050, "b, c"}});
    EXPECT_EQ(ZQ::labelText(two, 44100, LabelFormat::Tabs),
              "1.00000000\t1.00000000\ta\n2.00000000\t2.50000000\tb, c\n");
    EXPECT_EQ(ZQ::labelText(two, 44100, LabelFormat::Csv),
              "start,end,label\n1.00000000,1.00000000,a\n2.00000000,2.50000000,\"b, c\"\n");
}

TEST(LabelFile, OtherEditorsLinesAreReadAndWhatIsNotALabelIsNamed) {
    MarkerList m;
    std::string reason;
    // A byte-order mark, CRLF, a frequency line, a comma decimal mark, a
    // line without a label, an end before its start, a blank line.
    const std::string text = "\xEF\xBB\xBF"
                             "0.5\t1.5\tfirst\r\n"
                             "\\\t100.0\t2000.0\r\n"
                             "2,25\t2,25\tsecond\n"
                             "3\t3\n"
                             "\n"
                             "5\t4\tbackwards\n";
    ASSERT_TRUE(ZQ::parseLabels(text, 1000, LabelFormat::Tabs, &m, &reason)) << reason;
    EXPECT_EQ(m.items(),
              (std::vector<Marker>{{500, 1000, "first"}, {2250, 0, "second"}, {3000, 0, ""}, {5000, 0, "backwards"}}));
    // CSV from a spreadsheet: its own header, a quoted line break.
    ASSERT_TRUE(ZQ::parseLabels("Start,End,Name\n1,2,\"two\nlines\"\n3,3,x\n", 10, LabelFormat::Csv, &m, &reason));
    EXPECT_EQ(m.items(), (std::vector<Marker>{{10, 10, "two\nlines"}, {30, 0, "x"}}));

    EXPECT_FALSE(ZQ::parseLabels("1\t2\tok\nnot a label\n", 1000, LabelFormat::Tabs, &m, &reason));
    EXPECT_EQ(reason, "Line 2 is not a label: it needs a start and an end in seconds, then the label.");
    EXPECT_FALSE(ZQ::parseLabels("-1\t2\tnegative\n", 1000, LabelFormat::Tabs, &m, &reason));
    EXPECT_FALSE(ZQ::parseLabels("nan\tnan\tx\n", 1000, LabelFormat::Tabs, &m, &reason));
    EXPECT_FALSE(ZQ::readLabelFile("/nonexistent/labels.txt", 1000, &m, &reason));
    EXPECT_NE(reason.find("No such file or directory"), std::string::npos) << reason;
    // A failed write leaves the old file as it was.
    TempDir dir;
    const std::string path = dir.file("old.txt");
    std::ofstream(path) << "kept\n";
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool wrote = ZQ::writeLabelFile(path, MarkerList({{1, 0, "x"}}), 1000, &reason);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    if (::geteuid() != 0) { // root writes anywhere
        EXPECT_FALSE(wrote);
    }
    if (!wrote) {
        EXPECT_EQ(slurp(path), "kept\n");
    }
}

TEST(RegionSplit, PiecesJoinedAreTheSourceAndNamesAreSafeAndUnique) {
    EXPECT_EQ(ZQ::safeFileName("  ../a/b\\c:d*e?f\"g<h>i|j\x01k.  "), "_a_b_c_d_e_f_g_h_i_j_k");
    EXPECT_EQ(ZQ::safeFileName("..."), "");
    const std::string longName(150, 'x');
    const std::string cut = ZQ::safeFileName(longName + "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
                                                        "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
                                                        "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9");
    EXPECT_EQ(cut.size(), 200u); // whole two-byte characters only

    TempDir dir;
    const std::string source = dir.file("take.wav");
    const long frames = 100000;
    ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 3, 48000, frames));
    auto opened = openStore(source);
    ASSERT_TRUE(opened->ok);
    // Markers: the spans between them, from the start to the end.
    const MarkerList markers({{0, 0, "Verse"}, {30000, 0, "verse"}, {30001, 0, "a/b"}, {70000, 0, ""}});
    auto pieces = ZQ::splitPieces(markers, frames, "take", "wav");
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[0].fileName, "Verse.wav");
    EXPECT_EQ(pieces[1].fileName, "verse (2).wav");
    EXPECT_EQ(pieces[2].fileName, "a_b.wav");
    EXPECT_EQ(pieces[3].fileName, "take 04.wav");
    EXPECT_EQ(pieces[1].count, 1u);
    // A first marker later than the start leaves a first piece without a name.
    auto later = ZQ::splitPieces(MarkerList({{10, 0, "x"}}), frames, "take", "wav");
    ASSERT_EQ(later.size(), 2u);
    EXPECT_EQ(later[0].fileName, "take 01.wav");
    EXPECT_EQ(later[0].count, 10u);

    ZQ::SplitProgress progress;
    std::string reason;
    const std::string out = dir.file("pieces");
    std::filesystem::create_directory(out);
    ASSERT_TRUE(ZQ::writePieces(*opened->store, pieces, out, platform::audio::kAudioFileWAVEType,
                                ZQ::AudioFileExport::kInteger32, nullptr, &progress, &reason))
        << reason;
    EXPECT_EQ(progress.piecesWritten.load(), 4u);
    EXPECT_EQ(progress.framesWritten.load(), std::uint64_t(frames));
    int channels = 0, rate = 0;
    const std::vector<float> whole = readFloatFile(source, channels, rate);
    std::vector<float> joined;
    for (const auto& p : pieces) {
        int c = 0, r = 0;
        const std::vector<float> part = readFloatFile(out + "/" + p.fileName, c, r);
        EXPECT_EQ(c, 3);
        EXPECT_EQ(r, 48000);
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(joined == whole);

    // Regions, where there are any: each its own piece.
    auto regions =
        ZQ::splitPieces(MarkerList({{5, 0, "point"}, {100, 50, "r"}, {90, 20, "r"}}), frames, "take", "flac");
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(regions[0].first, 90u);
    EXPECT_EQ(regions[0].fileName, "r.flac");
    EXPECT_EQ(regions[1].fileName, "r (2).flac");
    EXPECT_TRUE(ZQ::splitPieces(MarkerList(), frames, "take", "wav").empty());

    // A folder that cannot be written: a failure that says so, nothing left.
    EXPECT_FALSE(ZQ::writePieces(*opened->store, pieces, dir.file("missing"), platform::audio::kAudioFileWAVEType,
                                 ZQ::AudioFileExport::kInteger16, nullptr, nullptr, &reason));
    EXPECT_FALSE(reason.empty());
    // Cancelled before it began: nothing written, no reason.
    ZQ::SplitProgress cancelled;
    cancelled.cancelled = true;
    const std::string none = dir.file("none");
    std::filesystem::create_directory(none);
    EXPECT_FALSE(ZQ::writePieces(*opened->store, pieces, none, platform::audio::kAudioFileWAVEType,
                                 ZQ::AudioFileExport::kInteger16, nullptr, &cancelled, &reason));
    EXPECT_TRUE(reason.empty());
    EXPECT_TRUE(std::filesystem::is_empty(none));
}

TEST(RegionSplit, TheToolsPrintReplaceAndCutByLabels) {
    TempDir dir;
    const std::string source = dir.file("session.wav");
    const long frames = 96000 * 3;
    ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 96000, frames));
    // Frames that no millisecond grid holds, and a region.
    const MarkerList markers({{1, 0, "Erste"}, {96001, 0, "\u7b2c\u4e8c"}, {150007, 40013, "Chorus"}});
    const std::string labels = dir.file("marks.txt");
    ASSERT_TRUE(ZQ::writeLabelFile(labels, markers, 96000, nullptr));

    const std::string marked = dir.file("marked.wav");
    CommandRun r = runCommand(std::string(ZQ_ZQCONVERT) + " --labels " + quoted(labels) + " " + quoted(source) + " " +
                              quoted(marked));
    ASSERT_EQ(r.status, 0) << r.out;
    r = runCommand(std::string(ZQ_ZQINFO) + " --labels " + quoted(marked));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, ZQ::labelText(markers, 96000, LabelFormat::Tabs));
    r = runCommand(std::string(ZQ_ZQINFO) + " --labels --csv " + quoted(marked));
    EXPECT_EQ(r.out, ZQ::labelText(markers, 96000, LabelFormat::Csv));
    // A label file that is not one: the line named, nothing written.
    std::ofstream(dir.file("bad.txt")) << "1\t2\tfine\nnonsense\n";
    r = runCommand(std::string(ZQ_ZQCONVERT) + " --labels " + quoted(dir.file("bad.txt")) + " " + quoted(source) + " " +
                   quoted(dir.file("never.wav")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Line 2 is not a label"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.wav")));

    // Split by the region (there is one): a single piece, its frames exact.
    const std::string out = dir.file("out");
    std::filesystem::create_directory(out);
    r = runCommand(std::string(ZQ_ZQCONVERT) + " --split -o " + quoted(out) + " flac16 " + quoted(marked));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("1 pieces of"), std::string::npos) << r.out;
    int channels = 0, rate = 0;
    const std::vector<float> whole = readFloatFile(source, channels, rate);
    const std::vector<float> chorus = readFloatFile(out + "/Chorus.flac", channels, rate);
    ASSERT_EQ(chorus.size(), 40013u * 2);
    EXPECT_TRUE(std::equal(chorus.begin(), chorus.end(), whole.begin() + 150007 * 2));
    // Without markers: said, exit 1; without -o: a wrong command line.
    r = runCommand(std::string(ZQ_ZQCONVERT) + " --split -o " + quoted(out) + " " + quoted(source));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("has no markers or regions"), std::string::npos) << r.out;
    EXPECT_EQ(runCommand(std::string(ZQ_ZQCONVERT) + " --split " + quoted(source)).status, 2);
}
