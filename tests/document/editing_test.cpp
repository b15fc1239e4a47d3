// Editing a document: undo and redo restore samples and selections exactly,
// the history holds only what moved, the clipboard's format check, the
// playback length and position after an edit, the summaries from the edit
// point, and export of the edited samples.
#include "DocumentFixture.h"
#include "document/AudioFileDocumentClipboard.h"
#include "support/Samples.h"
#include "support/Wait.h"

#include <random>

using namespace testsupport;
using platform::Ref;
using ZQ::AudioFileDocumentClipboard;
using ZQ::SampleDataHolder;
using ZQ::Num::Count;
using ZQ::Num::SampleRange;

namespace {

double noise(int c, long k) {
    // Distinct per channel and frame, exact in floats.
    return double(((k * 7919 + c * 104729) % 65521) - 32760) / 32768.0;
}

SampleRange range(std::uint64_t a, std::uint64_t b) {
    return {Count(a), Count(b)};
}

std::vector<std::vector<double>> samplesOf(ZQAudioFileDocument* doc) {
    std::vector<std::vector<double>> out;
    for (int c = 0; c < doc->channelCount(); ++c)
        out.push_back(testsupport::channelOf(*doc->sampleData(), c));
    return out;
}

// Records what the document tells its display about edits.
class EditRecordingDisplay final : public testsupport::QuietDisplay {
public:
    void audioFileSamplesDidChange(std::uint64_t from, const SampleRange& selection) override {
        changes.emplace_back(from, selection);
    }
    std::vector<std::pair<std::uint64_t, SampleRange>> changes;
};

class EditingSide final : public ZQDocumentWindowSide {
public:
    ZQWaveformDisplayControllerBase* createDisplayController(ZQAudioFileDocument*) override {
        display = Ref<EditRecordingDisplay>::adopt(new EditRecordingDisplay);
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
        auto* bar = new RecordingTransportBar(log);
        return bar;
    }
    CallLog log;
    Ref<EditRecordingDisplay> display;
};

class EditingTest : public DocumentTest {
protected:
    void SetUp() override {
        DocumentTest::SetUp();
        setDocumentWindowSide(&editing);
        AudioFileDocumentClipboard::sharedClipboard().clearData();
    }
    void TearDown() override {
        DocumentTest::TearDown();
        AudioFileDocumentClipboard::sharedClipboard().clearData();
    }
    Ref<ZQAudioFileDocument> open(int channels, long frames, int rate = 44100) {
        const std::string path = dir.file("e" + std::to_string(serial_++) + ".wav");
        EXPECT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, rate, frames, noise));
        Ref<ZQAudioFileDocument> doc = openDocument(path);
        EXPECT_TRUE(doc->fileHasLoaded());
        return doc;
    }
    EditingSide editing;
    int serial_ = 0;
};

} // namespace

TEST_F(EditingTest, UndoAndRedoRestoreSamplesAndSelectionsExactlyInAnyChannelCount) {
    for (int channels : {1, 2, 16}) {
        Ref<ZQAudioFileDocument> doc = open(channels, 5000);
        const auto original = samplesOf(doc.get());
        EXPECT_FALSE(doc->isDocumentEdited());
        EXPECT_FALSE(doc->canUndo());

        // A sequence of every kind of edit, with what each should leave.
        std::vector<std::vector<std::vector<double>>> states{original};
        ASSERT_TRUE(doc->deleteRange(range(100, 199)));
        states.push_back(samplesOf(doc.get()));
        EXPECT_EQ(doc->sampleCount(channels - 1).v_, 4900u);
        EXPECT_EQ(states[1][0][100], original[0][200]);
        ASSERT_TRUE(doc->duplicateRange(range(0, 9)));
        states.push_back(samplesOf(doc.get()));
        EXPECT_EQ(states[2][channels - 1][10], original[channels - 1][0]);
        ASSERT_TRUE(doc->cutRange(range(4909, 4909))); // the last sample
        states.push_back(samplesOf(doc.get()));
        SampleDataHolder clip;
        ASSERT_TRUE(AudioFileDocumentClipboard::sharedClipboard().copyData(clip)); // Cut kept it
        EXPECT_EQ(clip->frameCount(), 1u);
        EXPECT_EQ(testsupport::channelOf(*clip, 0)[0], original[0][4999]);
        ASSERT_TRUE(doc->pasteClipboardData(clip, range(0, 0)));
        states.push_back(samplesOf(doc.get()));
        EXPECT_EQ(states[4][0][0], original[0][4999]);
        SampleDataHolder copy(doc->createCopyDataInRange(range(0, 99)));
        ASSERT_FALSE(copy.isEmpty());
        ASSERT_TRUE(doc->pasteClipboardData(copy, range(1000, 4909))); // replaces the tail
        states.push_back(samplesOf(doc.get()));
        EXPECT_EQ(doc->sampleCount(0).v_, 1100u);
        EXPECT_EQ(doc->undoActionName(), "Paste");
        EXPECT_TRUE(doc->isDocumentEdited());

        // The selections the display was given: after each edit, then each
        // undo gives back the one before it.
        auto& changes = editing.display->changes;
        ASSERT_EQ(changes.size(), 5u);
        EXPECT_EQ(changes[0].second, range(100, 100));   // Delete: the empty range at its start
        EXPECT_EQ(changes[1].second, range(10, 19));     // Duplicate: the copy
        EXPECT_EQ(changes[2].second, range(4908, 4908)); // Cut of the last: clamped to the new end
        EXPECT_EQ(changes[3].second, range(0, 0));       // one pasted sample
        EXPECT_EQ(changes[4].second, range(1000, 1099));
        EXPECT_EQ(changes[4].first, 1000u); // the edit point
        const SampleRange before[] = {range(100, 199), range(0, 9), range(4909, 4909), range(0, 0), range(1000, 4909)};
        for (int i = 4; i >= 0; --i) {
            doc->undo(nullptr);
            ASSERT_EQ(samplesOf(doc.get()), states[std::size_t(i)]) << channels << " undo " << i;
            EXPECT_EQ(changes.back().second, before[i]);
        }
        EXPECT_FALSE(doc->canUndo());
        EXPECT_FALSE(doc->isDocumentEdited()); // back where the file was
        EXPECT_EQ(doc->redoActionName(), "Delete");
        for (std::size_t i = 1; i < states.size(); ++i) {
            doc->redo(nullptr);
            ASSERT_EQ(samplesOf(doc.get()), states[i]) << channels << " redo " << i;
        }
        EXPECT_FALSE(doc->canRedo());
        // The history holds only what moved: 100 + 10 + 1 + 1 + (3910 + 100) frames.
        EXPECT_EQ(doc->editHistory().bytes(), std::uint64_t(100 + 10 + 1 + 1 + 3910 + 100) * channels * 8);
        // A new edit after undoing drops what could be redone.
        doc->undo(nullptr);
        ASSERT_TRUE(doc->deleteRange(range(0, 0)));
        EXPECT_FALSE(doc->canRedo());
        EXPECT_EQ(doc->editHistory().stepCount(), 5u);
        doc->close();
        changes.clear();
    }
}

TEST_F(EditingTest, RefusedRangesChangeNothingAndRecordNothing) {
    Ref<ZQAudioFileDocument> doc = open(2, 100);
    const auto original = samplesOf(doc.get());
    SampleDataHolder copy(doc->createCopyDataInRange(range(0, 9)));
    EXPECT_EQ(doc->createCopyDataInRange(range(9, 0)), nullptr);
    EXPECT_FALSE(doc->deleteRange(range(10, 5)));
    EXPECT_FALSE(doc->cutRange(range(10, 5)));
    EXPECT_FALSE(doc->duplicateRange(range(10, 5)));
    EXPECT_FALSE(doc->deleteRange(range(50, 100))); // past the last sample
    EXPECT_FALSE(doc->pasteClipboardData(copy, range(101, 101)));
    EXPECT_FALSE(doc->pasteClipboardData(copy, range(5, 1)));
    EXPECT_FALSE(copy.isEmpty()); // a refused paste keeps the caller's samples
    EXPECT_EQ(samplesOf(doc.get()), original);
    EXPECT_FALSE(doc->canUndo());
    EXPECT_FALSE(doc->isDocumentEdited());
    EXPECT_TRUE(editing.display->changes.empty());
}

TEST_F(EditingTest, TheClipboardMatchesOnlyItsOwnRateAndChannelCount) {
    AudioFileDocumentClipboard& clipboard = AudioFileDocumentClipboard::sharedClipboard();
    const ZQ::sample_rate cd(44100.0), dat(48000.0);
    EXPECT_FALSE(clipboard.isFormatMatch(cd, 2)); // nothing was ever copied
    SampleDataHolder none;
    EXPECT_FALSE(clipboard.copyData(none));

    Ref<ZQAudioFileDocument> stereo = open(2, 100);
    SampleDataHolder copy(stereo->createCopyDataInRange(range(0, 9)));
    EXPECT_FALSE(clipboard.setData(copy, 2, ZQ::sample_rate(1.0))); // not a valid rate
    EXPECT_FALSE(clipboard.setData(copy, 65, cd));                  // more than a document holds
    EXPECT_FALSE(copy.isEmpty());
    ASSERT_TRUE(clipboard.setData(copy, 2, cd));
    EXPECT_TRUE(copy.isEmpty()); // moved, not copied
    EXPECT_TRUE(clipboard.isFormatMatch(cd, 2));
    EXPECT_FALSE(clipboard.isFormatMatch(cd, 1));
    EXPECT_FALSE(clipboard.isFormatMatch(dat, 2));
    EXPECT_FALSE(clipboard.isFormatMatch(ZQ::sample_rate(1.0), 2));
    EXPECT_FALSE(clipboard.isFormatMatch(cd, 0));
    SampleDataHolder a, b;
    ASSERT_TRUE(clipboard.copyData(a));
    ASSERT_TRUE(clipboard.copyData(b));
    EXPECT_NE(a.get(), b.get()); // each paste gets its own copy
    EXPECT_EQ(a->frameCount(), 10u);
    // Data outlives the document it came from.
    stereo->close();
    EXPECT_TRUE(clipboard.isFormatMatch(cd, 2));
    clipboard.clearData();
    EXPECT_FALSE(clipboard.isFormatMatch(cd, 2));
}

TEST_F(EditingTest, AnEditStopsPlaybackAndThePlayPositionMovesWithTheFrames) {
    Ref<ZQAudioFileDocument> doc = open(2, 1000);
    ZQAudioFileDocumentTransportController* transport = doc->audioFileDocumentTransportController();
    ASSERT_NE(transport, nullptr);
    transport->perform_Play(nullptr);
    ASSERT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    for (int i = 0; i < 12; ++i)
        stream.pull(64); // 768 frames played
    ASSERT_EQ(doc->presentPlaybackPosition(), 768u);

    ASSERT_TRUE(doc->deleteRange(range(200, 899))); // 300 frames remain
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    EXPECT_FALSE(doc->audioFileDocumentOutputSource()->isProducing());
    EXPECT_EQ(doc->presentPlaybackPosition(), 200u);              // inside what went: the edit point
    EXPECT_TRUE(stream.pull(16) == std::vector<double>(32, 0.0)); // stopped: silence

    // Playing again reads the edited samples to the new end.
    transport->perform_GotoStart(nullptr);
    transport->perform_Play(nullptr);
    std::vector<double> played;
    for (int i = 0; i < 6; ++i) {
        auto b = stream.pull(64);
        played.insert(played.end(), b.begin(), b.end());
    }
    for (long k = 0; k < 300; ++k) {
        const long source = k < 200 ? k : k + 700;
        ASSERT_EQ(played[2 * k], noise(0, source)) << k;
        ASSERT_EQ(played[2 * k + 1], noise(1, source)) << k;
    }
    for (std::size_t i = 2 * 300; i < played.size(); ++i)
        ASSERT_EQ(played[i], 0.0) << i;
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());

    // Undo lengthens it again; the position, moved since, follows its frames.
    doc->locatePlaybackPosition(250);
    doc->undo(nullptr);
    EXPECT_EQ(doc->audioFileDocumentOutputSource()->readPosition().maxSamplesToRead_.v_, 1000u);
    EXPECT_EQ(doc->presentPlaybackPosition(), 950u);
    // Redo from a position nobody moved: it goes to where the edit left it,
    // and Undo puts it back.
    doc->locatePlaybackPosition(768);
    doc->redo(nullptr);
    EXPECT_EQ(doc->presentPlaybackPosition(), 200u);
    doc->undo(nullptr);
    EXPECT_EQ(doc->presentPlaybackPosition(), 768u);
    // Before the edit point it stays; after the range it keeps its audio.
    doc->locatePlaybackPosition(100);
    ASSERT_TRUE(doc->duplicateRange(range(300, 399)));
    EXPECT_EQ(doc->presentPlaybackPosition(), 100u);
    doc->locatePlaybackPosition(500);
    ASSERT_TRUE(doc->cutRange(range(0, 99)));
    EXPECT_EQ(doc->presentPlaybackPosition(), 400u);
}

TEST_F(EditingTest, EditsCopyNoSampleAndFoldsAcrossTheirPiecesAreTheScans) {
    Ref<ZQAudioFileDocument> doc = open(2, 200000);
    std::mt19937 random(7);
    for (int i = 0; i < 6; ++i) {
        const std::uint64_t n = doc->sampleCount(0).v_;
        const std::uint64_t a = random() % (n - 2000), b = a + random() % 1500;
        if (i % 2) {
            ASSERT_TRUE(doc->deleteRange(range(a, b)));
        } else {
            ASSERT_TRUE(doc->duplicateRange(range(a, b)));
        }
        // The samples are pieces of the file: nothing is held in memory.
        const ZQ::SampleSnapshot samples = doc->sampleData()->samples();
        ASSERT_NE(samples, nullptr);
        EXPECT_EQ(samples->memoryBytes(), 0u);
        EXPECT_LE(samples->pieces().size(), std::size_t(2 * i + 3));
        ASSERT_TRUE(testsupport::waitUntil([&] { return doc->samplesAreSummarised(); }));
        for (int c = 0; c < 2; ++c) {
            const std::vector<double> p = testsupport::channelOf(*doc->sampleData(), c);
            const std::uint64_t m = p.size();
            ASSERT_EQ(m, doc->sampleCount(c).v_);
            // Folds over ranges on both sides of the edit point agree with a plain scan.
            for (int r = 0; r < 50; ++r) {
                std::uint64_t x = random() % m, y = random() % m;
                if (x > y) std::swap(x, y);
                if (r == 0) x = 0, y = m - 1;
                double lo1 = 2, hi1 = -2, lo2 = 2, hi2 = -2;
                ASSERT_TRUE(samples->fold(unsigned(c), x, y, lo1, hi1));
                for (std::uint64_t k = x; k <= y; ++k)
                    lo2 = std::min(lo2, p[k]), hi2 = std::max(hi2, p[k]);
                ASSERT_EQ(lo1, lo2) << x << " " << y;
                ASSERT_EQ(hi1, hi2) << x << " " << y;
            }
        }
    }
}

TEST_F(EditingTest, AnExportWritesTheEditedSamplesAndMarksTheDocumentUnchanged) {
    Ref<ZQAudioFileDocument> doc = open(2, 3000);
    ASSERT_TRUE(doc->deleteRange(range(0, 999)));
    ASSERT_TRUE(doc->duplicateRange(range(0, 499)));
    ASSERT_TRUE(doc->isDocumentEdited());
    const auto edited = samplesOf(doc.get());
    ASSERT_EQ(edited[0].size(), 2500u);
    std::string reason;
    ASSERT_TRUE(doc->exportAudioFileDataTo(dir.path(), "edited.wav", ZQAudioFileDocument::changesExportCode(),
                                           ZQAudioFileDocument::kChangesExportType, &reason))
        << reason;
    EXPECT_FALSE(doc->isDocumentEdited());
    SF_INFO info{};
    SNDFILE* f = sf_open(dir.file("edited.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(info.frames, 2500);
    ASSERT_EQ(info.channels, 2);
    std::vector<float> back(5000);
    ASSERT_EQ(sf_readf_float(f, back.data(), 2500), 2500);
    sf_close(f);
    std::size_t wrong = 0;
    for (std::size_t k = 0; k < 2500; ++k)
        wrong += back[2 * k] != float(edited[0][k]) || back[2 * k + 1] != float(edited[1][k]);
    EXPECT_EQ(wrong, 0u);
    // Undoing past the export is a change again; redoing back to it is not.
    doc->undo(nullptr);
    EXPECT_TRUE(doc->isDocumentEdited());
    doc->redo(nullptr);
    EXPECT_FALSE(doc->isDocumentEdited());
}
