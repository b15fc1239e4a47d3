// The application under stress, as one user session: sixteen files opening
// at once (the open queue's limit) and a seventeenth queued behind them that
// goes away before its turn, some opens cancelled while they load, a file
// that shrinks while it is read, two documents playing, then Quit. Run under
// both sanitizer builds in CI; nothing may hang, leak or be left open.
#include "AppFixture.h"
#include "app/ZQImportProgressWindow.h"
#include "audiofile/AudioFileReader.h"
#include "controls/ZQTransportButton.h"
#include "core/allocator.h"
#include "document/ZQAudioFileDocumentAtPath.h"
#include "playback/OutputStream.h"

#include <QPushButton>
#include <chrono>
#include <filesystem>

using namespace testsupport;
using platform::Ref;

TEST_F(AppTest, SixteenOpensCancelsAVanishedAndAShrunkFileTwoPlayingAndQuit) {
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    const std::size_t blocksBefore = ZQ::registry().liveCount();
    // Mu-law, decoded a chunk at a time: with the pause, over a second each.
    const long frames = 300L * ZQ::kDecodeChunkFrames;
    std::vector<std::string> files;
    for (int i = 0; i < 16; ++i) {
        files.push_back(dir.file("f" + std::to_string(i) + ".wav"));
        ASSERT_TRUE(writeFixture(files.back(), SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 44100, frames));
    }
    const std::string vanishing = dir.file("vanishing.wav");
    ASSERT_TRUE(writeFixture(vanishing, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 1000));
    struct Restore {
        ~Restore() { ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(0)); }
    } restore;
    ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(5000)); // a slow disk

    auto& documents = ZQDocumentController::sharedDocumentController();
    for (const std::string& f : files)
        ASSERT_TRUE(documents.openDocumentWithContentsOfPath(f, nullptr));
    // The seventeenth waits for a free place in the queue; it is gone by then.
    ASSERT_TRUE(documents.openDocumentWithContentsOfPath(vanishing, nullptr));
    std::filesystem::remove(vanishing);

    // Once their progress shows: four are cancelled, one shrinks under its reader.
    auto progressOf = [](const std::string& path) -> ZQImportProgressWindow* {
        const QString name = QString::fromStdString(std::filesystem::path(path).filename().string());
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = dynamic_cast<ZQImportProgressWindow*>(w);
                p && p->isVisible() && p->windowTitle().contains("\u201c" + name + "\u201d"))
                return p;
        return nullptr;
    };
    for (int i : {3, 7, 11, 15}) {
        ZQImportProgressWindow* p = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (p = progressOf(files[i])) != nullptr; }, 10000)) << files[i];
        QTest::mouseClick(p->cancelButton(), Qt::LeftButton);
    }
    std::filesystem::resize_file(files[5], 4096);

    // Eleven open, the shrunk one and the vanished one say why; the four are nowhere.
    std::map<std::string, QString> alerts;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (QWidget* w : QApplication::allWidgets())
                if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible())
                    for (const std::string& f : {files[5], vanishing})
                        if (m->informativeText().contains(QString::fromStdString(f))) alerts[f] = m->informativeText();
            int loaded = 0;
            for (int i = 0; i < 16; ++i)
                if (Ref<ZQAudioFileDocument> d = documentFor(files[i]); d && d->fileHasLoaded() && windowOf(d.get()))
                    ++loaded;
            return loaded == 11 && alerts.size() == 2;
        },
        60000))
        << "alerts: " << alerts.size();
    EXPECT_TRUE(alerts[vanishing].contains("no longer exists")) << alerts[vanishing].toStdString();
    EXPECT_TRUE(alerts[files[5]].contains("may be an unreadable format or possibly damaged"))
        << alerts[files[5]].toStdString();
    for (int i : {3, 7, 11, 15})
        EXPECT_FALSE(documentFor(files[i])) << files[i];
    EXPECT_EQ(ZQAudioFileOpenOperation::peakRunningOpens(), 16);

    // Two play at once.
    ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(0));
    Ref<ZQAudioFileDocument> a = documentFor(files[0]), b = documentFor(files[1]);
    ASSERT_TRUE(a && b);
    for (ZQAudioFileDocument* d : {a.get(), b.get()}) {
        ZQTransportButton* play = bar(d)->widget(TransportButton::Play);
        QTest::mousePress(play, Qt::LeftButton);
        QTest::mouseRelease(play, Qt::LeftButton);
    }
    ASSERT_TRUE(
        waitUntil([&] { return a->presentPlaybackPosition() > 4410 && b->presentPlaybackPosition() > 4410; }, 10000));

    // Quit: everything closes in order and gives back what it held.
    Captured out = capture([&] { item(windowOf(a.get()), "quit")->trigger(); });
    EXPECT_NE(out.out.find(".suoqe.\n"), std::string::npos);
    EXPECT_TRUE(documents.documents().empty());
    EXPECT_TRUE(ZQApplicationDelegate::shared().isTerminating());
    a = b = {};
    for (int turn = 0; turn < 3; ++turn) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(waitUntil([&] { return ZQ::registry().liveCount() <= blocksBefore; }, 5000))
        << ZQ::registry().liveCount() << " blocks live against " << blocksBefore << " before";
}
