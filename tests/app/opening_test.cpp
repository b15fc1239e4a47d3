// Opening as a user meets it: a long open (a codec decoded on a slow disk)
// shows its own progress window with a rising percentage and a Cancel that
// opens nothing; a short one shows none; a file of plain samples opens
// whatever the memory; one whose decoded samples the disk cannot hold says
// why.
#include "AppFixture.h"
#include "app/ZQImportProgressWindow.h"
#include "audiofile/AudioFileReader.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <map>

using namespace testsupport;
using platform::Ref;

namespace {

class OpeningTest : public AppTest {
protected:
    void TearDown() override {
        ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(0));
        ZQ::setAvailableMemoryForTesting(0);
        ZQ::setAvailableDiskForTesting(0);
        AppTest::TearDown();
    }
    static std::vector<ZQImportProgressWindow*> visibleProgressWindows() {
        std::vector<ZQImportProgressWindow*> shown;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = dynamic_cast<ZQImportProgressWindow*>(w); p && p->isVisible()) shown.push_back(p);
        return shown;
    }
    static ZQImportProgressWindow* progressFor(const std::string& name) {
        for (ZQImportProgressWindow* p : visibleProgressWindows())
            if (p->windowTitle().contains(QString::fromStdString(name))) return p;
        return nullptr;
    }
    static bool anyAlert() {
        for (QWidget* w : QApplication::allWidgets())
            if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible()) return true;
        return false;
    }
    std::string longFile(const std::string& name) {
        // Mu-law, decoded a chunk at a time: 800 chunks, with the pause below
        // over two seconds.
        const long frames = 800L * ZQ::kDecodeChunkFrames;
        const std::string path = dir.file(name);
        EXPECT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 44100, frames));
        return path;
    }
};

} // namespace

TEST_F(OpeningTest, LongOpensEachShowTheirProgressAndCancelOpensNothing) {
    const std::string first = longFile("first.wav"), second = longFile("second.wav");
    ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(3000)); // a slow disk
    auto& documents = ZQDocumentController::sharedDocumentController();
    ASSERT_TRUE(documents.openDocumentWithContentsOfPath(first, nullptr));
    ASSERT_TRUE(documents.openDocumentWithContentsOfPath(second, nullptr));

    // Nothing for the first half second, then one window per file.
    spinFor(ZQImportProgressWindow::kShowAfterMs / 2);
    EXPECT_TRUE(visibleProgressWindows().empty());
    ASSERT_TRUE(waitUntil([&] { return visibleProgressWindows().size() == 2; }, 5000));
    ZQImportProgressWindow* a = progressFor("first.wav");
    ZQImportProgressWindow* b = progressFor("second.wav");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(a, b);
    auto* label = a->findChild<QLabel*>("importFileName");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().contains("first.wav"));

    // The percentage moves, never backwards.
    QPointer<ZQImportProgressWindow> watched = a;
    std::vector<int> seen;
    ASSERT_TRUE(waitUntil(
        [&] {
            if (!watched) return true;
            seen.push_back(watched->percent());
            return seen.back() >= 20;
        },
        5000));
    ASSERT_TRUE(watched) << "the first file finished before it could be cancelled";
    for (std::size_t i = 1; i < seen.size(); ++i)
        ASSERT_GE(seen[i], seen[i - 1]);
    EXPECT_LT(seen.back(), 100);

    QTest::mouseClick(a->cancelButton(), Qt::LeftButton);
    // The second goes on and opens; the first goes away without a trace.
    Ref<ZQAudioFileDocument> opened;
    ASSERT_TRUE(waitUntil(
        [&] { return (opened = documentFor(second)) && windowOf(opened.get()) && opened->fileHasLoaded(); }, 10000));
    EXPECT_EQ(opened->sampleCount(0).v_, 800u * ZQ::kDecodeChunkFrames);
    ASSERT_TRUE(waitUntil([&] { return visibleProgressWindows().empty(); }, 5000));
    spinFor(200);
    EXPECT_FALSE(documentFor(first)) << "a cancelled open left a document";
    EXPECT_FALSE(anyAlert()) << "a cancel is no failure";
    EXPECT_EQ(documents.documents().size(), 1u);

    // The queue still opens, and the cancelled file opens in full.
    ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(0));
    Ref<ZQAudioFileDocument> again = open(first);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->fileOpenError().empty());
    EXPECT_EQ(again->sampleCount(1).v_, 800u * ZQ::kDecodeChunkFrames);
}

TEST_F(OpeningTest, AShortOpenShowsNoProgress) {
    bool everShown = false;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] { everShown = everShown || !visibleProgressWindows().empty(); });
    probe.start();
    Ref<ZQAudioFileDocument> doc = open(floatFile("short.wav", 2, 44100, fixtureSample));
    ASSERT_TRUE(doc);
    spinFor(ZQImportProgressWindow::kShowAfterMs + 100);
    EXPECT_FALSE(everShown);
}

TEST_F(OpeningTest, PlainSamplesOpenWhateverTheMemoryAndDecodedOnesNeedTheDiskOrGetTheAlertWithTheReason) {
    const std::string plain = dir.file("plain.wav"), path = dir.file("large.wav");
    ASSERT_TRUE(writeFixture(plain, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1 << 20));
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 44100, 1 << 20));
    ZQ::setAvailableMemoryForTesting(3'000'000);
    ZQ::setAvailableDiskForTesting(3'000'000);
    Ref<ZQAudioFileDocument> opened = open(plain);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->sampleCount(1).v_, std::uint64_t(1) << 20);
    ASSERT_TRUE(ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(path, nullptr));
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget* w : QApplication::allWidgets())
            if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible()) alert = m;
        return alert != nullptr;
    }));
    EXPECT_EQ(alert->text(), "The audio file could not be opened.");
    EXPECT_EQ(alert->informativeText().toStdString(), "The file '" + path + "' needs 8 MB of disk space in " +
                                                          ZQ::decodeCacheFolder() + "; 3 MB are available.");
    // On the file's own window, which goes with the alert.
    Ref<ZQAudioFileDocument> doc = documentFor(path);
    ASSERT_TRUE(doc);
    EXPECT_EQ(alert->parentWidget(), windowOf(doc.get()));
    alert->accept();
    EXPECT_TRUE(waitUntil([&] { return !documentFor(path); }));
}
