// A document's markers: loaded with the file (within its frames), moved by
// every edit before the display hears of it, restored exactly by undo and
// redo, and written by both kinds of export.
#include "DocumentFixture.h"
#include "audiofile/Containers.h"
#include "audiofile/OpenedStore.h"
#include "document/AudioFileDocumentClipboard.h"

#include <ostream>
#include <tuple>

namespace ZQ {
// Markers as the failures show them.
void PrintTo(const Marker& m, std::ostream* out) {
    *out << (m.isRegion() ? "region(" : "at(") << m.frame;
    if (m.isRegion()) *out << ", " << m.length;
    *out << ", \"" << m.name << "\")";
}
} // namespace ZQ

using namespace testsupport;
using platform::Ref;
using ZQ::Marker;
using ZQ::MarkerList;
using ZQ::SampleDataHolder;
using ZQ::Num::Count;
using ZQ::Num::SampleRange;

namespace {

Marker at(std::uint64_t frame, std::string name = {}) {
    return {frame, 0, std::move(name)};
}
Marker region(std::uint64_t frame, std::uint64_t length, std::string name = {}) {
    return {frame, length, std::move(name)};
}
SampleRange range(std::uint64_t a, std::uint64_t b) {
    return {Count(a), Count(b)};
}

// A 'cue ' chunk and its 'LIST'/'adtl' labels and lengths: (frame, length, name).
std::string cueChunks(const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::string>>& points) {
    std::string cue, adtl = "adtl";
    put32le(cue, static_cast<std::uint32_t>(points.size()));
    std::uint32_t id = 0;
    for (auto& [frame, length, name] : points) {
        ++id;
        put32le(cue, id);
        put32le(cue, frame);
        cue += "data";
        put32le(cue, 0);
        put32le(cue, 0);
        put32le(cue, frame);
        std::string label;
        put32le(label, id);
        adtl += riffChunk("labl", label + name + std::string(1, '\0'));
        if (length) {
            std::string text;
            put32le(text, id);
            put32le(text, length);
            adtl += riffChunk("ltxt", text + "rgn " + std::string(8, '\0'));
        }
    }
    return riffChunk("cue ", cue) + riffChunk("LIST", adtl);
}

std::vector<Marker> markersOfFile(const std::string& path) {
    auto o = openStore(path);
    EXPECT_TRUE(o->ok) << path;
    return o->ok ? ZQ::markersFromInformation(*o->store->information()).items() : std::vector<Marker>{};
}

// Records the markers the document has each time it tells its display that
// the samples changed.
class MarkerRecordingDisplay final : public testsupport::QuietDisplay {
public:
    explicit MarkerRecordingDisplay(ZQAudioFileDocument* document) : document_(document) {}
    void audioFileSamplesDidChange(std::uint64_t, const SampleRange&) override {
        seen.push_back(document_->markers().items());
    }
    std::vector<std::vector<Marker>> seen;

private:
    ZQAudioFileDocument* document_;
};

class MarkerSide final : public ZQDocumentWindowSide {
public:
    ZQWaveformDisplayControllerBase* createDisplayController(ZQAudioFileDocument* document) override {
        display = Ref<MarkerRecordingDisplay>::adopt(new MarkerRecordingDisplay(document));
        display->retain();
        return display.get();
    }
    bool prepareWindow(ZQAudioFileDocument*, ZQWaveformDisplayControllerBase*) override { return true; }
    void showWindow(ZQAudioFileDocument*, ZQWaveformDisplayControllerBase*) override {}
    void closeWindow(ZQAudioFileDocument*) override {}
    bool runAlertSheet(ZQAudioFileDocument*, const std::string&, const std::string&, const std::string&,
                       std::function<void()>) override {
        return false;
    }
    double displayRefreshRate(ZQAudioFileDocument*) override { return 60; }
    ZQTransportBar* createTransportBar(ZQAudioFileDocumentTransportController*) override {
        return new RecordingTransportBar(log);
    }
    CallLog log;
    Ref<MarkerRecordingDisplay> display;
};

class DocumentMarkers : public DocumentTest {
protected:
    void SetUp() override {
        DocumentTest::SetUp();
        setDocumentWindowSide(&markerSide);
        ZQ::AudioFileDocumentClipboard::sharedClipboard().clearData();
    }
    void TearDown() override {
        DocumentTest::TearDown();
        ZQ::AudioFileDocumentClipboard::sharedClipboard().clearData();
    }
    // 2,000 stereo frames with a marker, a region, another marker, a point
    // past the end and a region that runs past it.
    Ref<ZQAudioFileDocument> openMarked() {
        const std::string path = dir.file("marked.wav");
        writeFile(
            path,
            builtWav(
                2, 2000, "",
                cueChunks(
                    {{100, 0, "a"}, {500, 400, "verse"}, {1500, 0, "b"}, {5000, 0, "gone"}, {1800, 500, "tail"}})));
        Ref<ZQAudioFileDocument> doc = openDocument(path);
        EXPECT_TRUE(doc->fileHasLoaded());
        return doc;
    }
    MarkerSide markerSide;
};

} // namespace

TEST_F(DocumentMarkers, AFileOpensWithItsMarkersWithinItsFrames) {
    Ref<ZQAudioFileDocument> doc = openMarked();
    EXPECT_EQ(doc->markers().items(),
              (std::vector<Marker>{at(100, "a"), region(500, 400, "verse"), at(1500, "b"), region(1800, 200, "tail")}));
    // A file without markers opens with none.
    const std::string plain = dir.file("plain.wav");
    ASSERT_TRUE(writeFixture(plain, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 100));
    EXPECT_TRUE(openDocument(plain)->markers().empty());
}

TEST_F(DocumentMarkers, EditsMoveThemBeforeTheDisplayHearsAndUndoAndRedoRestoreThem) {
    Ref<ZQAudioFileDocument> doc = openMarked();
    std::vector<std::vector<Marker>> states{doc->markers().items()};
    auto& seen = markerSide.display->seen;

    ASSERT_TRUE(doc->deleteRange(range(50, 149))); // takes marker a; the rest move back
    states.push_back({region(400, 400, "verse"), at(1400, "b"), region(1700, 200, "tail")});
    ASSERT_TRUE(doc->duplicateRange(range(600, 699))); // inside the region: it grows
    states.push_back({region(400, 500, "verse"), at(1500, "b"), region(1800, 200, "tail")});
    ASSERT_TRUE(doc->cutRange(range(1500, 1500))); // marker b's frame
    states.push_back({region(400, 500, "verse"), region(1799, 200, "tail")});
    SampleDataHolder clip;
    ASSERT_TRUE(ZQ::AudioFileDocumentClipboard::sharedClipboard().copyData(clip));
    ASSERT_TRUE(doc->pasteClipboardData(clip, range(400, 400))); // at the region's start: it moves
    states.push_back({region(401, 500, "verse"), region(1800, 200, "tail")});
    ASSERT_TRUE(doc->deleteRange(range(0, 600))); // the region's start: what is left begins at 0
    states.push_back({region(0, 300, "verse"), region(1199, 200, "tail")});
    ASSERT_TRUE(doc->deleteRange(range(0, 299))); // all of the region
    states.push_back({region(899, 200, "tail")});
    // What the display saw on hearing of each edit.
    ASSERT_EQ(seen.size(), states.size() - 1);
    for (std::size_t i = 1; i < states.size(); ++i)
        ASSERT_EQ(seen[i - 1], states[i]) << "edit " << i;
    EXPECT_EQ(doc->markers().items(), states.back());

    for (std::size_t i = states.size() - 1; i > 0; --i) {
        doc->undo(nullptr);
        ASSERT_EQ(doc->markers().items(), states[i - 1]) << "undo " << i;
        EXPECT_EQ(seen.back(), states[i - 1]); // the display saw them already restored
    }
    EXPECT_FALSE(doc->canUndo());
    for (std::size_t i = 1; i < states.size(); ++i) {
        doc->redo(nullptr);
        ASSERT_EQ(doc->markers().items(), states[i]) << "redo " << i;
        EXPECT_EQ(seen.back(), states[i]);
    }
}

TEST_F(DocumentMarkers, SettingThemIsNeitherAStepNorAChange) {
    Ref<ZQAudioFileDocument> doc = openMarked();
    const std::uint64_t changes = doc->changeCount();
    doc->setMarkers(MarkerList({at(1999, "last"), at(2000, "past"), region(10, 5000, "all")}));
    EXPECT_EQ(doc->markers().items(), (std::vector<Marker>{region(10, 1990, "all"), at(1999, "last")}));
    EXPECT_FALSE(doc->canUndo());
    EXPECT_FALSE(doc->isDocumentEdited());
    EXPECT_EQ(doc->changeCount(), changes);
    // An edit afterwards moves the markers set, and undo brings them back.
    ASSERT_TRUE(doc->deleteRange(range(0, 9)));
    EXPECT_EQ(doc->markers().items(), (std::vector<Marker>{region(0, 1990, "all"), at(1989, "last")}));
    doc->undo(nullptr);
    EXPECT_EQ(doc->markers().items(), (std::vector<Marker>{region(10, 1990, "all"), at(1999, "last")}));
}

TEST_F(DocumentMarkers, BothExportsWriteTheEditedMarkers) {
    Ref<ZQAudioFileDocument> doc = openMarked();
    ASSERT_TRUE(doc->deleteRange(range(50, 149)));
    const std::vector<Marker> edited = doc->markers().items();
    ASSERT_EQ(edited.size(), 3u);

    std::string reason;
    ASSERT_TRUE(doc->exportAudioFileDataTo(dir.path(), "edited.wav", ZQAudioFileDocument::changesExportCode(),
                                           ZQAudioFileDocument::kChangesExportType, &reason))
        << reason;
    EXPECT_EQ(markersOfFile(dir.file("edited.wav")), edited);

    // On its own thread, to AIFF (regions as their starts).
    bool finished = false, written = false;
    doc->beginExport(dir.path(), "edited.aif", ZQ::AudioFileExport::kInteger16, platform::audio::kAudioFileAIFFType,
                     [&](bool ok) {
                         finished = true;
                         written = ok;
                     });
    ASSERT_TRUE(waitUntil([&] { return finished; }));
    ASSERT_TRUE(written);
    EXPECT_EQ(markersOfFile(dir.file("edited.aif")),
              (std::vector<Marker>{at(400, "verse"), at(1400, "b"), at(1700, "tail")}));
}

TEST_F(DocumentMarkers, AddingNamingMovingAndDeletingAreEachOneStepThatLeavesTheSamplesAlone) {
    Ref<ZQAudioFileDocument> doc = openMarked();
    const std::uint64_t changes = doc->changeCount();
    std::vector<std::vector<Marker>> states{doc->markers().items()};
    std::vector<std::string> names;
    auto step = [&](bool done, const char* name) {
        ASSERT_TRUE(done) << name;
        states.push_back(doc->markers().items());
        names.push_back(name);
        EXPECT_EQ(doc->undoActionName(), name);
    };
    step(doc->addMarker(700, "new") == 2, "Add Marker"); // after the region starting at 500
    step(doc->addRegion(1000, 250, "\u526f\u6b4c") == 3, "Add Region");
    step(doc->renameMarker(2, "renamed") == 2, "Rename Marker");
    step(doc->moveMarker(2, 1999, 0) == 5, "Move Marker");  // to the last frame, after "tail"
    step(doc->moveMarker(2, 10, 5000) == 0, "Move Region"); // its length clamped to the end
    step(doc->deleteMarker(1), "Delete Marker");
    EXPECT_EQ(doc->markers().items(),
              (std::vector<Marker>{region(10, 1990, "\u526f\u6b4c"), region(500, 400, "verse"), at(1500, "b"),
                                   region(1800, 200, "tail"), at(1999, "renamed")}));
    // Refused, and nothing recorded: past the end, an empty region, no change.
    EXPECT_EQ(doc->addMarker(2000), -1);
    EXPECT_EQ(doc->addRegion(1990, 0), -1);
    EXPECT_EQ(doc->addRegion(1990, 11), -1);
    EXPECT_EQ(doc->renameMarker(4, "renamed"), -1);
    EXPECT_EQ(doc->moveMarker(9, 0, 0), -1);
    EXPECT_FALSE(doc->deleteMarker(9));
    EXPECT_EQ(doc->editHistory().stepCount(), names.size());
    // Marker edits are changes to save, but not to the samples.
    EXPECT_TRUE(doc->isDocumentEdited());
    EXPECT_EQ(doc->changeCount(), changes);
    EXPECT_TRUE(markerSide.display->seen.empty()); // no sample change was announced

    // Undone and redone one by one, among the samples' own steps.
    ASSERT_TRUE(doc->deleteRange(range(0, 99)));
    doc->undo(nullptr);
    for (std::size_t i = names.size(); i > 0; --i) {
        EXPECT_EQ(doc->undoActionName(), names[i - 1]);
        doc->undo(nullptr);
        ASSERT_EQ(doc->markers().items(), states[i - 1]) << names[i - 1];
    }
    EXPECT_FALSE(doc->isDocumentEdited());
    for (std::size_t i = 1; i < states.size(); ++i) {
        doc->redo(nullptr);
        ASSERT_EQ(doc->markers().items(), states[i]) << names[i - 1];
    }
    EXPECT_EQ(doc->changeCount(), changes + 2);

    // Saved, and read back from the file: WAV keeps all; AIFF the starts.
    std::string reason;
    SaveFormat wav;
    ASSERT_TRUE(doc->ownSaveFormat(&wav));
    ASSERT_TRUE(doc->saveTo(dir.file("saved.wav"), wav, &reason)) << reason;
    EXPECT_EQ(markersOfFile(dir.file("saved.wav")), states.back());
    EXPECT_FALSE(doc->isDocumentEdited());
    ASSERT_TRUE(doc->exportAudioFileDataTo(dir.path(), "saved.aif", ZQ::AudioFileExport::kInteger16,
                                           platform::audio::kAudioFileAIFFType, &reason))
        << reason;
    std::vector<Marker> starts;
    for (Marker m : states.back())
        starts.push_back(at(m.frame, m.name));
    EXPECT_EQ(markersOfFile(dir.file("saved.aif")), starts);
}
