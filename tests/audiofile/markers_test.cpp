// Markers and regions: how edits move them, the searches a view and the
// navigation make, reading them from WAV, AIFF and CAF files laid out by
// hand, and writing them back on export so that a round trip keeps them.
#include "CafChunks.h"
#include "Containers.h"
#include "OpenedStore.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/Markers.h"
#include "platform/soundfile/AudioFileWriter.h"
#include "platform/soundfile/Container.h"
#include "support/Fixtures.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <sndfile.h>
#include <sys/wait.h>
#include <tuple>
#include <vector>

namespace ZQ {
// Markers as the failures show them.
void PrintTo(const Marker& m, std::ostream* out) {
    *out << (m.isRegion() ? "region(" : "at(") << m.frame;
    if (m.isRegion()) *out << ", " << m.length;
    *out << ", \"" << m.name << "\")";
}
} // namespace ZQ

using namespace testsupport;
using ZQ::Marker;
using ZQ::MarkerList;
namespace Export = ZQ::AudioFileExport;
namespace audio = platform::audio;

namespace {

Marker at(std::uint64_t frame, std::string name = {}) {
    return {frame, 0, std::move(name)};
}
Marker region(std::uint64_t frame, std::uint64_t length, std::string name = {}) {
    return {frame, length, std::move(name)};
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The markers a file opens with, as a document gets them.
std::vector<Marker> markersOfFile(const std::string& path) {
    auto o = openStore(path);
    EXPECT_TRUE(o->ok) << path << o->messages.out;
    if (!o->ok) return {};
    return ZQ::markersFromInformation(*o->store->information()).items();
}

std::string cueChunk(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& points) {
    std::string b;
    put32le(b, static_cast<std::uint32_t>(points.size()));
    for (auto [id, frame] : points) {
        put32le(b, id);
        put32le(b, frame); // play position
        b += "data";
        put32le(b, 0);
        put32le(b, 0);
        put32le(b, frame); // sample offset
    }
    return riffChunk("cue ", b);
}
std::string labl(std::uint32_t id, const std::string& text) {
    std::string b;
    put32le(b, id);
    return riffChunk("labl", b + text + std::string(1, '\0'));
}
std::string ltxt(std::uint32_t id, std::uint32_t length) {
    std::string b;
    put32le(b, id);
    put32le(b, length);
    b += "rgn ";
    b += std::string(8, '\0');
    return riffChunk("ltxt", b);
}

// An AIFF 'MARK' body: (id, position, the Pascal string's bytes as stored).
std::string markBody(const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::string>>& marks) {
    std::string b;
    put16be(b, static_cast<std::uint32_t>(marks.size()));
    for (auto& [id, position, pstring] : marks) {
        put16be(b, id);
        put32be(b, position);
        b += pstring;
    }
    return b;
}

// Appends a chunk after everything and corrects the FORM size.
void appendFormChunk(std::string& file, const char* id, const std::string& body) {
    file += formChunk(id, body);
    std::string size;
    put32be(size, static_cast<std::uint32_t>(file.size() - 8));
    file.replace(4, 4, size);
}

bool hasChunk(const std::string& path, const char* id) {
    audio::FourCharCode code = 0;
    for (int i = 0; i < 4; ++i)
        code = (code << 8) | static_cast<unsigned char>(id[i]);
    const auto c = audio::readContainerInfo(path);
    return std::find(c.chunkIDs.begin(), c.chunkIDs.end(), code) != c.chunkIDs.end();
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

// Exports the store to `path`; the outcome, or a failure.
Export::Outcome exportTo(ZQ::AudioFileDocumentSampleData* store, const std::string& path, const Format& f,
                         const MarkerList* markers) {
    std::string reason;
    Export::Outcome outcome;
    auto url = fileURL(path);
    bool ok = false;
    capture([&] { ok = Export::write(store, url.get(), f.type, f.code, &reason, nullptr, &outcome, markers); });
    EXPECT_TRUE(ok) << f.name << ": " << reason;
    return outcome;
}

// What a file of `frames` frames keeps of `m` in an AIFF file: regions as
// their starts.
std::vector<Marker> asAiff(std::vector<Marker> m) {
    for (Marker& x : m)
        x.length = 0;
    return m;
}

// An independent model of an edit: every frame is an identity. A marker
// points at one frame and is found again by where that frame went; a region
// is the set of frames it covers, which frames inserted between two of its
// own join.
struct FrameModel {
    std::vector<long> ids;
    long next = 0;
    std::vector<std::set<long>> regions;
    explicit FrameModel(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            ids.push_back(next++);
    }
    std::size_t addRegion(std::size_t from, std::size_t to) {
        regions.emplace_back(ids.begin() + long(from), ids.begin() + long(to));
        return regions.size() - 1;
    }
    void replace(std::size_t at, std::size_t removed, std::size_t inserted) {
        ids.erase(ids.begin() + long(at), ids.begin() + long(at + removed));
        std::vector<long> fresh;
        for (std::size_t i = 0; i < inserted; ++i)
            fresh.push_back(next++);
        for (std::set<long>& r : regions)
            if (auto span = spanOf(r); span && span->first < at && at < span->second)
                r.insert(fresh.begin(), fresh.end());
        ids.insert(ids.begin() + long(at), fresh.begin(), fresh.end());
    }
    std::optional<std::size_t> indexOf(long id) const {
        auto it = std::find(ids.begin(), ids.end(), id);
        if (it == ids.end()) return std::nullopt;
        return std::size_t(it - ids.begin());
    }
    // The frames [first, end) a region's surviving frames lie in.
    std::optional<std::pair<std::size_t, std::size_t>> spanOf(const std::set<long>& r) const {
        std::optional<std::pair<std::size_t, std::size_t>> span;
        for (std::size_t i = 0; i < ids.size(); ++i)
            if (r.count(ids[i])) span = span ? std::make_pair(span->first, i + 1) : std::make_pair(i, i + 1);
        return span;
    }
};

} // namespace

// --- The list and its edits ---------------------------------------------

TEST(MarkerList, SortsStablyAndFindsByBinarySearch) {
    MarkerList list({at(50, "b"), region(10, 5, "r"), at(50, "a"), at(0)});
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list.items()[0], at(0));
    EXPECT_EQ(list.items()[1], region(10, 5, "r"));
    EXPECT_EQ(list.items()[2], at(50, "b")); // equal frames keep their order
    EXPECT_EQ(list.items()[3], at(50, "a"));

    std::vector<Marker> many;
    std::mt19937 random(3);
    for (int i = 0; i < 1000; ++i)
        many.push_back(at(random() % 50000));
    const MarkerList big(many);
    std::vector<std::uint64_t> frames;
    for (const Marker& m : big.items())
        frames.push_back(m.frame);
    ASSERT_TRUE(std::is_sorted(frames.begin(), frames.end()));
    for (std::uint64_t f = 0; f <= 50001; f += 7) {
        const auto plain = std::size_t(std::count_if(frames.begin(), frames.end(), [&](auto x) { return x < f; }));
        ASSERT_EQ(big.lowerBound(f), plain) << f;
    }
    EXPECT_EQ(MarkerList().lowerBound(5), 0u);
}

TEST(MarkerList, DeletionsMoveMarkersAfterAndRemoveThoseInside) {
    const MarkerList original({at(10, "a"), at(100, "b"), at(200, "c"), at(300, "d")});
    MarkerList before = original;
    before.replaceFrames(20, 30, 0); // before b: it and the rest move back
    EXPECT_EQ(before.items(), (std::vector<Marker>{at(10, "a"), at(70, "b"), at(170, "c"), at(270, "d")}));
    MarkerList across = original;
    across.replaceFrames(100, 101, 0); // b and c go, d moves
    EXPECT_EQ(across.items(), (std::vector<Marker>{at(10, "a"), at(199, "d")}));
    MarkerList after = original;
    after.replaceFrames(301, 50, 0);
    EXPECT_EQ(after, original);
    MarkerList edge = original;
    edge.replaceFrames(90, 10, 0); // ends right before b: b survives, moved to the cut
    EXPECT_EQ(edge.items()[1], at(90, "b"));
}

TEST(MarkerList, InsertionsPushAMarkerAtTheirPointAlong) {
    MarkerList list({at(10, "a"), at(100, "b")});
    list.replaceFrames(100, 0, 25); // a paste right at b
    EXPECT_EQ(list.items(), (std::vector<Marker>{at(10, "a"), at(125, "b")}));
    list.replaceFrames(11, 0, 5); // a duplicate after a
    EXPECT_EQ(list.items(), (std::vector<Marker>{at(10, "a"), at(130, "b")}));
    list.replaceFrames(5, 10, 3); // a paste over a replaces it
    EXPECT_EQ(list.items(), (std::vector<Marker>{at(123, "b")}));
}

TEST(MarkerList, RegionsFollowTheirEdges) {
    const Marker r = region(100, 100, "r"); // frames 100 ... 199
    auto edited = [&](std::uint64_t where, std::uint64_t removed, std::uint64_t inserted) {
        MarkerList l({r});
        l.replaceFrames(where, removed, inserted);
        return l.items();
    };
    EXPECT_EQ(edited(50, 80, 0), (std::vector<Marker>{region(50, 70, "r")}));    // its start cut off
    EXPECT_EQ(edited(150, 100, 0), (std::vector<Marker>{region(100, 50, "r")})); // its end cut off
    EXPECT_EQ(edited(120, 30, 0), (std::vector<Marker>{region(100, 70, "r")}));  // cut inside
    EXPECT_EQ(edited(100, 100, 0), std::vector<Marker>{});                       // all of it
    EXPECT_EQ(edited(50, 200, 0), std::vector<Marker>{});                        // and more
    EXPECT_EQ(edited(150, 0, 40), (std::vector<Marker>{region(100, 140, "r")})); // insertion inside lengthens
    EXPECT_EQ(edited(100, 0, 40), (std::vector<Marker>{region(140, 100, "r")})); // at its start: moves
    EXPECT_EQ(edited(200, 0, 40), (std::vector<Marker>{r}));                     // right after it: unchanged
    EXPECT_EQ(edited(10, 0, 40), (std::vector<Marker>{region(140, 100, "r")}));  // before it: moves
    // A paste over its start: the start lands where the new frames begin.
    EXPECT_EQ(edited(90, 20, 5), (std::vector<Marker>{region(90, 95, "r")}));
    // A paste over all of it leaves nothing of it.
    EXPECT_EQ(edited(100, 100, 7), std::vector<Marker>{});
}

TEST(MarkerList, EditsAgreeWithWhereTheirFramesGo) {
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        const std::size_t n = 300;
        std::vector<Marker> items;
        for (int i = 0; i < 12; ++i) {
            const std::uint64_t f = random() % n;
            if (random() % 2)
                items.push_back(at(f, "m" + std::to_string(i)));
            else
                items.push_back(region(f, 1 + random() % std::min<std::uint64_t>(60, n - f), "r" + std::to_string(i)));
        }
        const MarkerList original(items);
        MarkerList list = original;
        FrameModel model(n);
        // What each item points at: a marker its frame, a region its frames.
        std::vector<long> frameOf(original.size());
        std::vector<std::size_t> regionOf(original.size());
        for (std::size_t i = 0; i < original.size(); ++i) {
            const Marker& m = original.items()[i];
            if (m.isRegion())
                regionOf[i] = model.addRegion(m.frame, m.end());
            else
                frameOf[i] = model.ids[m.frame];
        }
        for (int step = 0; step < 5 && !model.ids.empty(); ++step) {
            const std::size_t size = model.ids.size();
            const std::size_t where = random() % (size + 1);
            // Deletions and insertions, as the document makes them.
            if (random() % 2 && where < size) {
                const std::size_t removed = 1 + random() % std::min<std::size_t>(40, size - where);
                model.replace(where, removed, 0);
                list.replaceFrames(where, removed, 0);
            } else {
                const std::size_t inserted = 1 + random() % 30;
                model.replace(where, 0, inserted);
                list.replaceFrames(where, 0, inserted);
            }
        }
        std::vector<Marker> expected;
        for (std::size_t i = 0; i < original.size(); ++i) {
            const Marker& m = original.items()[i];
            if (!m.isRegion()) {
                if (auto f = model.indexOf(frameOf[i])) expected.push_back(at(*f, m.name));
            } else if (auto span = model.spanOf(model.regions[regionOf[i]])) {
                expected.push_back(region(span->first, span->second - span->first, m.name));
            }
        }
        ASSERT_EQ(list.items(), MarkerList(expected).items()) << "round " << round;
    }
}

TEST(MarkerList, ClampDropsWhatLiesPastTheEndAndCutsRegions) {
    MarkerList list({at(10), region(50, 100, "long"), at(99), at(100), region(120, 5)});
    list.clampTo(100);
    EXPECT_EQ(list.items(), (std::vector<Marker>{at(10), region(50, 50, "long"), at(99)}));
    EXPECT_EQ(list.regionsCovering(60), std::vector<std::size_t>{1});
    list.clampTo(0);
    EXPECT_TRUE(list.empty());
}

TEST(MarkerList, NavigationStopsAreMarkersAndRegionEdges) {
    // A long region that starts first and ends last, a short one inside it,
    // and markers.
    const MarkerList list({region(100, 900, "long"), at(300), region(400, 50, "short"), at(700)});
    std::vector<std::uint64_t> forward;
    for (auto f = list.nextStop(0); f; f = list.nextStop(*f))
        forward.push_back(*f);
    EXPECT_EQ(forward, (std::vector<std::uint64_t>{100, 300, 400, 450, 700, 1000}));
    std::vector<std::uint64_t> back;
    for (auto f = list.previousStop(5000); f; f = list.previousStop(*f))
        back.push_back(*f);
    EXPECT_EQ(back, (std::vector<std::uint64_t>{1000, 700, 450, 400, 300, 100}));
    EXPECT_EQ(list.nextStop(1000), std::nullopt);
    EXPECT_EQ(list.previousStop(100), std::nullopt);
    EXPECT_EQ(list.previousStop(0), std::nullopt);
    EXPECT_EQ(list.nextStop(420), 450u);
    EXPECT_EQ(list.previousStop(460), 450u);
    EXPECT_EQ(list.regionsCovering(420), (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(list.regionsCovering(400), std::vector<std::size_t>{0}); // a region starting there does not cover it
    EXPECT_EQ(list.regionsCovering(1000), std::vector<std::size_t>{}); // one past its last frame
    EXPECT_EQ(MarkerList().nextStop(0), std::nullopt);
}

TEST(MarkerList, SearchesAgreeWithAPlainScan) {
    std::mt19937 random(5);
    for (int round = 0; round < 100; ++round) {
        std::vector<Marker> items;
        const int count = 1 + int(random() % 40);
        for (int i = 0; i < count; ++i) {
            const std::uint64_t f = random() % 2000;
            const int kind = int(random() % 4);
            items.push_back(kind == 0 ? at(f) : region(f, kind == 3 ? 1 + random() % 1500 : 1 + random() % 40));
        }
        const MarkerList list(items);
        std::vector<std::uint64_t> stops;
        for (const Marker& m : list.items()) {
            stops.push_back(m.frame);
            if (m.isRegion()) stops.push_back(m.end());
        }
        for (std::uint64_t f = 0; f < 3600; f += 1 + random() % 9) {
            std::optional<std::uint64_t> next, previous;
            for (std::uint64_t s : stops) {
                if (s > f && (!next || s < *next)) next = s;
                if (s < f && (!previous || s > *previous)) previous = s;
            }
            ASSERT_EQ(list.nextStop(f), next) << round << " at " << f;
            ASSERT_EQ(list.previousStop(f), previous) << round << " at " << f;
            std::vector<std::size_t> covering;
            for (std::size_t i = 0; i < list.size(); ++i)
                if (list.items()[i].isRegion() && list.items()[i].frame < f && list.items()[i].end() > f)
                    covering.push_back(i);
            ASSERT_EQ(list.regionsCovering(f), covering) << round << " at " << f;
        }
    }
}

// --- Reading ----------------------------------------------------------------

TEST(MarkerReading, WaveCuePointsTakeTheirLabelsAndRegionLengths) {
    TempDir dir;
    // Labels before and after an 'ltxt', a label of odd length (padded), a
    // point without a label, and a note (not a name).
    std::string note;
    put32le(note, 4);
    const std::string adtl = labl(1, "Intro") + ltxt(2, 300) + labl(2, "Verse") + labl(3, "Od") +
                             riffChunk("note", note + "a comment" + std::string(1, '\0'));
    const std::string cues = cueChunk({{1, 100}, {2, 200}, {3, 700}, {4, 900}});
    const std::vector<Marker> expected{at(100, "Intro"), region(200, 300, "Verse"), at(700, "Od"), at(900)};

    const std::string after = dir.file("after.wav"); // as most writers lay it out
    writeFile(after, builtWav(2, 1000, "", cues + riffList("adtl", adtl)));
    EXPECT_EQ(markersOfFile(after), expected);
    const std::string listFirst = dir.file("first.wav"); // the labels before the points
    writeFile(listFirst, builtWav(1, 1000, riffList("adtl", adtl) + cues));
    EXPECT_EQ(markersOfFile(listFirst), expected);

    // The region shows among the file's regions too.
    auto o = openStore(after);
    ASSERT_TRUE(o->ok);
    EXPECT_EQ(ZQ::regionDescription(o->store->information()->regionList.value.items()),
              "1) Region ID: 2, Name: Verse, Flags: 0, Number Markers: 2");
    EXPECT_EQ(o->messages.out, ""); // nothing missing is reported

    // More points than libsndfile itself returns (2,500), all with names.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> points;
    std::string labels;
    for (std::uint32_t i = 1; i <= 3000; ++i) {
        points.emplace_back(i, i * 3);
        labels += labl(i, "n" + std::to_string(i));
    }
    const std::string many = dir.file("many.wav");
    writeFile(many, builtWav(1, 10000, cueChunk(points) + riffList("adtl", labels)));
    const std::vector<Marker> read = markersOfFile(many);
    ASSERT_EQ(read.size(), 3000u);
    EXPECT_EQ(read[2999], at(9000, "n3000"));
}

TEST(MarkerReading, AiffMarkersAreNamedByTheirPascalStrings) {
    TempDir dir;
    // "A" fills an even length; "Bc" needs its pad byte; a writer that
    // counts a zero byte into the string ("xyz\0").
    const std::string mark = markBody({{1, 30,
                                        std::string("\x01"
                                                    "A",
                                                    2)},
                                       {2, 10,
                                        std::string("\x02"
                                                    "Bc\0",
                                                    4)},
                                       {3, 20,
                                        std::string("\x04"
                                                    "xyz\0",
                                                    5) +
                                            std::string(1, '\0')},
                                       {4, 25, std::string("\0\0", 2)}});
    const std::vector<Marker> expected{at(10, "Bc"), at(20, "xyz"), at(25), at(30, "A")};
    const std::string before = dir.file("before.aif");
    writeFile(before, builtAiff(1, 50, "", formChunk("MARK", mark)));
    EXPECT_EQ(markersOfFile(before), expected);
    const std::string afterSound = dir.file("after.aif");
    std::string bytes = builtAiff(2, 50, "", "");
    appendFormChunk(bytes, "MARK", mark);
    writeFile(afterSound, bytes);
    EXPECT_EQ(markersOfFile(afterSound), expected);
}

TEST(MarkerReading, CafMarkersAndRegionsWithTheirEnds) {
    TempDir dir;
    const std::string path = dir.file("regions.caf");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_CAF | SF_FORMAT_PCM_16, 1, 44100, 5000));
    const std::uint32_t rbeg = audio::fourcc("rbeg"), rend = audio::fourcc("rend");
    CafChunkWriter w;
    w.u32(0);
    w.u32(2);
    w.marker(0, 40, 7);
    w.marker(0, 4000, 8);
    w.appendTo(path, "mark");
    w.u32(0);
    w.u32(3);
    w.u32(1); // a region whose end marker comes first
    w.u32(20);
    w.u32(0);
    w.u32(2);
    w.marker(rend, 1500, 1);
    w.marker(rbeg, 1000, 2);
    w.u32(2); // untyped markers: from the earliest to the latest
    w.u32(21);
    w.u32(0);
    w.u32(3);
    w.marker(0, 300, 3);
    w.marker(0, 100, 4);
    w.marker(0, 200, 5);
    w.u32(3); // one marker: where it starts, without an extent
    w.u32(99);
    w.u32(0);
    w.u32(1);
    w.marker(0, 2500, 6);
    w.appendTo(path, "regn");
    appendCafStrings(path, {{7, "start"}, {8, "end"}, {20, "Chorus"}, {21, "Bridge"}});
    EXPECT_EQ(markersOfFile(path), (std::vector<Marker>{at(40, "start"), region(100, 200, "Bridge"),
                                                        region(1000, 500, "Chorus"), at(2500), at(4000, "end")}));
}

// --- Writing ----------------------------------------------------------------

TEST(MarkerWriting, RoundTripsKeepFramesAndNamesInEveryFormatAndChannelCount) {
    TempDir dir;
    const MarkerList markers({at(0, "Start"), at(17, "Odd"), at(18, "Even"), region(100, 250, "Chœur ♪"), at(400),
                              region(900, 99, ""), at(999, "Last")});
    for (int channels : {1, 2, 6}) {
        const std::string source = dir.file("source" + std::to_string(channels) + ".wav");
        ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, 44100, 1000));
        auto store = openStore(source);
        ASSERT_TRUE(store->ok);
        for (const Format& f : kFormats) {
            const std::string stem = dir.file(std::string(f.name) + "-" + std::to_string(channels));
            const std::string ext = f.type == audio::kAudioFileAIFFType ? ".aif" : ".wav";
            const std::string marked = stem + "-marked" + ext, plain = stem + "-plain" + ext;
            const Export::Outcome outcome = exportTo(store->store.get(), marked, f, &markers);
            exportTo(store->store.get(), plain, f, nullptr);
            EXPECT_EQ(outcome.markersWritten, markers.size());
            EXPECT_EQ(outcome.markersLeftOut, 0u);
            const bool aiff = f.type == audio::kAudioFileAIFFType;
            EXPECT_EQ(markersOfFile(marked), aiff ? asAiff(markers.items()) : markers.items())
                << f.name << " " << channels;
            // The samples and everything before the marker chunks are as without markers.
            const std::string a = readAll(marked), b = readAll(plain);
            ASSERT_GT(a.size(), b.size());
            EXPECT_EQ(a.substr(8, b.size() - 8), b.substr(8)) << f.name << " " << channels;
            // libsndfile reads the points, and their names.
            SF_INFO info{};
            SNDFILE* s = sf_open(marked.c_str(), SFM_READ, &info);
            ASSERT_NE(s, nullptr) << f.name;
            EXPECT_EQ(info.frames, 1000);
            EXPECT_EQ(info.channels, channels);
            SF_CUES cues{};
            ASSERT_EQ(sf_command(s, SFC_GET_CUE, &cues, sizeof cues), SF_TRUE) << f.name;
            ASSERT_EQ(cues.cue_count, markers.size());
            EXPECT_EQ(cues.cue_points[3].sample_offset, 100u);
            EXPECT_STREQ(cues.cue_points[3].name, "Chœur ♪");
            EXPECT_STREQ(cues.cue_points[6].name, "Last");
            sf_close(s);
        }
    }
}

TEST(MarkerWriting, Rf64FilesKeepTheirMarkers) {
    TempDir dir;
    const std::string source = dir.file("source.wav");
    ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 3000));
    auto store = openStore(source);
    ASSERT_TRUE(store->ok);
    struct Restore {
        ~Restore() { Export::setLargeDataThresholdForTesting(0); }
    } restore;
    Export::setLargeDataThresholdForTesting(1000);
    const MarkerList markers({at(5, "five"), region(1000, 2000, "rest")});
    const std::string path = dir.file("wide.wav");
    const Export::Outcome outcome = exportTo(store->store.get(), path, kFormats[0], &markers);
    EXPECT_EQ(outcome.container, audio::kAudioFileRF64Type);
    EXPECT_EQ(markersOfFile(path), markers.items());
    auto reopened = openStore(path);
    ASSERT_TRUE(reopened->ok);
    EXPECT_EQ(reopened->store->frameCount(), 3000u);
}

TEST(MarkerWriting, WhatAFileCannotHoldIsLeftOutAndCounted) {
    TempDir dir;
    const std::string source = dir.file("source.wav");
    ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 40000));
    auto store = openStore(source);
    ASSERT_TRUE(store->ok);

    // Past the last frame, and a region that runs past it (cut there).
    const MarkerList past({at(10), region(39000, 5000, "tail"), at(40000, "at the end"), at(1u << 20)});
    const std::string wav = dir.file("past.wav");
    Export::Outcome outcome = exportTo(store->store.get(), wav, kFormats[0], &past);
    EXPECT_EQ(outcome.markersWritten, 2u);
    EXPECT_EQ(outcome.markersLeftOut, 2u);
    EXPECT_EQ(markersOfFile(wav), (std::vector<Marker>{at(10), region(39000, 1000, "tail")}));

    // AIFF numbers at most 32,767 markers; its names are at most 255 bytes,
    // cut between characters.
    std::vector<Marker> many;
    std::string longName;
    for (int i = 0; i < 128; ++i)
        longName += "é"; // 256 bytes
    for (int i = 0; i <= 32767; ++i)
        many.push_back(at(std::uint64_t(i), i == 0 ? longName : std::string()));
    const MarkerList manyMarkers(many);
    const std::string aiff = dir.file("many.aif");
    outcome = exportTo(store->store.get(), aiff, kFormats[3], &manyMarkers);
    EXPECT_EQ(outcome.markersWritten, 32767u);
    EXPECT_EQ(outcome.markersLeftOut, 1u);
    const std::vector<Marker> read = markersOfFile(aiff);
    ASSERT_EQ(read.size(), 32767u);
    EXPECT_EQ(read[0].name, longName.substr(0, 254));
    EXPECT_EQ(read.back(), at(32766));
}

TEST(MarkerWriting, FilesWithoutMarkersAreWrittenAsBefore) {
    TempDir dir;
    for (int channels : {1, 2, 6}) {
        const std::string source = dir.file("source" + std::to_string(channels) + ".wav");
        ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_PCM_24, channels, 48000, 777));
        auto store = openStore(source);
        ASSERT_TRUE(store->ok);
        const MarkerList none;
        for (const Format& f : kFormats) {
            const std::string ext = f.type == audio::kAudioFileAIFFType ? ".aif" : ".wav";
            const std::string without = dir.file(std::string(f.name) + "-without" + ext),
                              empty = dir.file(std::string(f.name) + "-empty" + ext);
            const Export::Outcome outcome = exportTo(store->store.get(), without, f, nullptr);
            exportTo(store->store.get(), empty, f, &none);
            EXPECT_EQ(outcome.markersWritten, 0u);
            EXPECT_EQ(readAll(without), readAll(empty)) << f.name;
            for (const char* id : {"cue ", "LIST", "MARK"})
                EXPECT_FALSE(hasChunk(without, id)) << f.name << " " << id;
            // The sample data is the file's last chunk.
            const auto c = audio::readContainerInfo(without);
            EXPECT_EQ(c.dataOffset + c.dataByteCount, std::int64_t(readAll(without).size())) << f.name;
        }
    }
}

TEST(MarkerWriting, AppendingRefusesFilesItCannotExtendAndLeavesThemAlone) {
    TempDir dir;
    const std::vector<audio::FileMarker> one{{5, 0, "x"}};
    std::string why;

    const std::string text = dir.file("text.wav");
    writeFile(text, "this is not a sound file at all");
    EXPECT_FALSE(audio::appendMarkerChunks(text, one, &why));
    EXPECT_EQ(why, "the file is not a WAV, AIFF, CAF or FLAC file");
    EXPECT_EQ(readAll(text), "this is not a sound file at all");
    // A FLAC stream whose metadata breaks off: refused, untouched.
    const std::string cut = dir.file("cut.flac");
    const std::string flacBytes = std::string("fLaC\x00\x00\x00\x22", 8) + std::string(20, '\0');
    writeFile(cut, flacBytes);
    EXPECT_FALSE(audio::appendMarkerChunks(cut, one, &why));
    EXPECT_EQ(why, "the file's metadata is not complete");
    EXPECT_EQ(readAll(cut), flacBytes);

    // A header whose size is not the file's: the end is not where it says.
    const std::string trailing = dir.file("trailing.wav");
    const std::string bytes = builtWav(1, 10) + "junk";
    writeFile(trailing, bytes);
    EXPECT_FALSE(audio::appendMarkerChunks(trailing, one, &why));
    EXPECT_EQ(why, "the file's header does not give its size");
    EXPECT_EQ(readAll(trailing), bytes);

    const std::string aiff = dir.file("a.aif");
    writeFile(aiff, builtAiff(1, 10, "", ""));
    const std::string aiffBytes = readAll(aiff);
    EXPECT_FALSE(audio::appendMarkerChunks(aiff, std::vector<audio::FileMarker>(32768), &why));
    EXPECT_EQ(why, "an AIFF file holds at most 32,767 markers");
    EXPECT_EQ(readAll(aiff), aiffBytes);
    EXPECT_TRUE(audio::appendMarkerChunks(aiff, {}, &why)); // nothing to add
    EXPECT_EQ(readAll(aiff), aiffBytes);

    // A CAF data chunk of unknown size runs to the end: nothing may follow it.
    const std::string open = dir.file("open.caf");
    ASSERT_TRUE(writeFixture(open, SF_FORMAT_CAF | SF_FORMAT_PCM_16, 1, 8000, 10));
    std::string cafBytes = readAll(open);
    const std::size_t data = cafBytes.find("data");
    ASSERT_NE(data, std::string::npos);
    cafBytes.replace(data + 4, 8, std::string(8, '\xff'));
    writeFile(open, cafBytes);
    EXPECT_FALSE(audio::appendMarkerChunks(open, one, &why));
    EXPECT_EQ(why, "the file's last chunk runs to its end");
    EXPECT_EQ(readAll(open), cafBytes);

    const std::string missing = dir.file("missing.wav");
    EXPECT_FALSE(audio::appendMarkerChunks(missing, one, &why));
    EXPECT_FALSE(why.empty());
}

TEST(MarkerWriting, ZqconvertCarriesTheSourcesMarkers) {
    TempDir dir;
    const std::string source = dir.file("source.wav");
    writeFile(source, builtWav(2, 1000, "",
                               cueChunk({{1, 10}, {2, 500}, {3, 2000}}) +
                                   riffList("adtl", labl(1, "one") + labl(2, "two") + ltxt(2, 100))));
    for (const char* format : {"wav16", "aiff16"}) {
        const std::string out = dir.file(std::string("out-") + format + (format[0] == 'a' ? ".aif" : ".wav"));
        const std::string command =
            std::string(ZQ_ZQCONVERT) + " " + format + " '" + source + "' '" + out + "' > /dev/null 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << format;
        // The point past the source's end is not carried.
        const bool aiff = format[0] == 'a';
        EXPECT_EQ(markersOfFile(out),
                  (std::vector<Marker>{at(10, "one"), aiff ? at(500, "two") : region(500, 100, "two")}))
            << format;
    }
}

TEST(MarkerWriting, FlacKeepsThemAsFlacsOwnForeignMetadataDoesBothWays) {
    TempDir dir;
    const MarkerList markers(
        {at(0, "Start"), at(17, "\u526f\u6b4c"), region(100, 250, "Ch\u0153ur"), at(400), at(999, "Last")});
    auto pcm = [](const std::string& path) {
        int channels = 0, rate = 0;
        return readFloatFile(path, channels, rate);
    };
    const bool haveFlac = std::system("flac --version > /dev/null 2>&1") == 0;
    for (int channels : {1, 2, 6}) {
        for (const Format f : {Format{"flac16", audio::kAudioFileFLACType, Export::kFlac16},
                               Format{"flac24", audio::kAudioFileFLACType, Export::kFlac24}}) {
            const std::string source = dir.file("source.wav");
            ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, channels, 48000, 1000));
            auto store = openStore(source);
            ASSERT_TRUE(store->ok);
            const std::string name = std::string(f.name) + "-" + std::to_string(channels);
            const std::string marked = dir.file(name + ".flac");
            const Export::Outcome outcome = exportTo(store->store.get(), marked, f, &markers);
            EXPECT_EQ(outcome.markersWritten, markers.size()) << name;
            EXPECT_EQ(outcome.markersLeftOut, 0u) << name;
            EXPECT_EQ(markersOfFile(marked), markers.items()) << name;
            EXPECT_EQ(pcm(marked), pcm(source)) << name; // the frames moved intact
            if (!haveFlac) continue;
            // flac's own decoder gives back the WAV file with its cue points.
            const std::string decoded = dir.file(name + "-decoded.wav");
            const std::string command =
                "flac -s -f -d --keep-foreign-metadata -o '" + decoded + "' '" + marked + "' > /dev/null 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0) << name;
            EXPECT_EQ(markersOfFile(decoded), markers.items()) << name;
            EXPECT_EQ(pcm(decoded), pcm(source)) << name;
        }
    }
    // A stream longer than a RIFF header counts keeps none, and says so.
    {
        struct Restore {
            ~Restore() { Export::setLargeDataThresholdForTesting(0); }
        } restore;
        Export::setLargeDataThresholdForTesting(1000);
        auto store = openStore(dir.file("source.wav"));
        const std::string path = dir.file("long.flac");
        const Export::Outcome outcome =
            exportTo(store->store.get(), path, Format{"flac16", audio::kAudioFileFLACType, Export::kFlac16}, &markers);
        EXPECT_EQ(outcome.markersWritten, 0u);
        EXPECT_EQ(outcome.markersLeftOut, markers.size());
        EXPECT_TRUE(markersOfFile(path).empty());
    }
    if (!haveFlac) GTEST_SKIP() << "flac is not installed: only our own reading was checked";
    // And a FLAC file flac made from a WAV file with markers: they are read.
    const std::string wav = dir.file("cued.wav");
    auto store = openStore(dir.file("source.wav"));
    exportTo(store->store.get(), wav, kFormats[0], &markers);
    const std::string encoded = dir.file("by-flac.flac");
    ASSERT_EQ(
        std::system(("flac -s -f --keep-foreign-metadata -o '" + encoded + "' '" + wav + "' > /dev/null 2>&1").c_str()),
        0);
    EXPECT_EQ(markersOfFile(encoded), markers.items());
}
