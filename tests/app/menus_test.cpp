// The menus as a user meets them: items enabled by the rules of the current
// document (the document of the active window), their keys, Select All and
// Select None, and Quit in the termination order.
#include "app/AppFixture.h"
#include "app/ZQStartWindow.h"
#include "controls/ZQTransportButton.h"
#include "playback/OutputStream.h"
#include "playback/ZQASThread.h"
#include "playback/ZQAudioStreamOutputStreamController.h"
#include "support/Signals.h"

#include <QProcess>
#include <QSignalSpy>
#include <csignal>
#include <fstream>

using namespace testsupport;
using platform::Ref;

namespace {

const char* const kDocumentItems[] = {"duplicate",       "exportWave16", "exportWave32",
                                      "exportWaveFloat", "exportAiff16", "exportAiff32"};

double ramp(int c, long k) {
    return (c ? -1.0 : 1.0) * double(k % 1000) / 1000.0;
}

} // namespace

TEST_F(AppTest, WithoutADocumentOnlyTheApplicationsOwnItemsAreEnabled) {
    auto* start = new ZQStartWindow;
    start->show();
    ASSERT_TRUE(activate(start));
    for (const char* name : kDocumentItems)
        EXPECT_FALSE(item(start, name)->isEnabled()) << name;
    for (const char* name : {"selectAll", "selectNone", "play", "gotoStart", "properties", "zoomIn"})
        EXPECT_FALSE(item(start, name)->isEnabled()) << name;
    // (The web page's item shows only when the build names a page: see dialogs_names_test.)
    for (const char* name : {"waveformColours", "open", "quit", "about"})
        EXPECT_TRUE(item(start, name)->isEnabled()) << name;
    // A disabled item's key does nothing either.
    QSignalSpy duplicates(item(start, "duplicate"), &QAction::triggered);
    QTest::keyClick(start, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(duplicates.count(), 0);
    start->close();
}

TEST_F(AppTest, ItemsAndKeysFollowTheActiveDocumentsSelection) {
    Ref<ZQAudioFileDocument> a = open(floatFile("a.wav", 2, 1000, ramp));
    Ref<ZQAudioFileDocument> b = open(floatFile("b.wav", 1, 5000, ramp));
    ZQDocumentWindow* wa = windowOf(a.get());
    ZQDocumentWindow* wb = windowOf(b.get());
    ASSERT_TRUE(activate(wa));
    EXPECT_EQ(ZQDocumentController::sharedDocumentController().currentDocument().get(), a.get());
    // A new selection is one sample long: nothing to duplicate or clear yet.
    for (const char* name : {"exportWave16", "exportWave32", "exportWaveFloat", "exportAiff16", "exportAiff32"})
        EXPECT_TRUE(item(wa, name)->isEnabled()) << name;
    EXPECT_TRUE(item(wa, "selectAll")->isEnabled());
    EXPECT_FALSE(item(wa, "selectNone")->isEnabled());
    EXPECT_FALSE(item(wa, "duplicate")->isEnabled());
    QSignalSpy none(item(wa, "selectNone"), &QAction::triggered);
    QTest::keyClick(wa, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(none.count(), 0); // refused, as its item is

    // Select All: every channel of this document, none of the other.
    QTest::keyClick(wa, Qt::Key_A, Qt::ControlModifier);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(display(a.get())->waveform(c)->selection().min_.v_, 0u);
        EXPECT_EQ(display(a.get())->waveform(c)->selection().max_.v_, 999u);
    }
    EXPECT_EQ(display(b.get())->waveform(0)->selectionLength(), 0u);
    ASSERT_TRUE(waitUntil([&] { return item(wa, "duplicate")->isEnabled(); }, 2000));
    EXPECT_TRUE(item(wa, "selectNone")->isEnabled());
    EXPECT_TRUE(display(a.get())->currentSelectionDisplay()->text().startsWith(QString("0\u2013999 (")));

    // The other window's items follow its own document.
    ASSERT_TRUE(activate(wb));
    EXPECT_EQ(ZQDocumentController::sharedDocumentController().currentDocument().get(), b.get());
    EXPECT_FALSE(item(wb, "duplicate")->isEnabled());
    EXPECT_FALSE(item(wa, "duplicate")->isEnabled()); // every bar asks about the current document
    QTest::keyClick(wb, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(display(b.get())->waveform(0)->selection().max_.v_, 4999u);

    // Select None keeps the start, with nothing selected.
    ASSERT_TRUE(activate(wa));
    EXPECT_TRUE(item(wa, "selectNone")->isEnabled());
    QTest::keyClick(wa, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(display(a.get())->waveform(c)->selection().min_.v_, 0u);
        EXPECT_EQ(display(a.get())->waveform(c)->selectionLength(), 0u);
    }
    ASSERT_TRUE(waitUntil([&] { return !item(wa, "selectNone")->isEnabled(); }, 2000));
    EXPECT_FALSE(item(wa, "duplicate")->isEnabled());
    // The dispatch centre's own Select None changes nothing.
    QTest::keyClick(wb, Qt::Key_A, Qt::ControlModifier);
    ZQApplicationDispatchCenter::shared().selectNone(nullptr);
    EXPECT_EQ(display(b.get())->waveform(0)->selection().max_.v_, 4999u);
}

TEST_F(AppTest, AClosedDocumentIsNeverHeldAsTheCurrentOne) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("closing.wav", 1, 1000, ramp));
    QPointer<ZQDocumentWindow> w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ASSERT_EQ(ZQDocumentController::sharedDocumentController().currentDocument().get(), doc.get());
    QPointer<ZQTransportButton> play = bar(doc.get())->widget(TransportButton::Play);
    Ref<ZQAudioFileDocumentTransportController> transport =
        Ref<ZQAudioFileDocumentTransportController>::retain(doc->audioFileDocumentTransportController());
    Ref<ZQAudioFileDocumentOutputSourceController> source =
        Ref<ZQAudioFileDocumentOutputSourceController>::retain(doc->outputSourceController());
    doc->close();
    // Its window may still be the active one until it is deleted: the menus
    // look at it meanwhile, and must not make its document current again.
    refreshMenus();
    EXPECT_EQ(ZQDocumentController::sharedDocumentController().currentDocument().get(), nullptr);
    spinFor(50);
    refreshMenus();
    EXPECT_EQ(ZQDocumentController::sharedDocumentController().currentDocument().get(), nullptr);
    EXPECT_EQ(doc->retainCount(), 1u); // ours only: nothing keeps the closed document
    EXPECT_TRUE(w.isNull());
    EXPECT_TRUE(play.isNull());
    EXPECT_EQ(transport->retainCount(), 1u);
    EXPECT_EQ(source->retainCount(), 1u);
}

TEST_F(AppTest, ZoomAndTransportItemsActOnTheCurrentDocument) {
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + dir.file("played.wav")).c_str(), 1);
    Ref<ZQAudioFileDocument> doc = open(floatFile("z.wav", 1, 44100 * 4, ramp));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    auto visible = [c] { return c->visibleSampleRange().max_.v_ - c->visibleSampleRange().min_.v_; };
    const double zoom = c->horizontalZoom();
    const std::uint64_t all = visible();
    QTest::keyClick(w, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_NE(c->horizontalZoom(), zoom);
    EXPECT_TRUE(waitUntil([&] { return visible() < all; }, 2000)) << visible();
    QTest::keyClick(w, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(c->horizontalZoom(), zoom);
    EXPECT_TRUE(waitUntil([&] { return visible() == all; }, 2000)) << visible();

    EXPECT_TRUE(item(w, "play")->isEnabled());
    item(w, "play")->trigger();
    ZQAudioFileDocumentTransportCommandReceiver* r = doc->audioFileDocumentTransportCommandReceiver();
    ASSERT_TRUE(waitUntil([&] { return r->isPlaying(); }, 2000));
    // Play is disabled while playing, in the bar and in the menu.
    ASSERT_TRUE(waitUntil([&] { return !item(w, "play")->isEnabled(); }, 2000));
    QTest::keyClick(w, Qt::Key_End);
    EXPECT_TRUE(waitUntil([&] { return !r->isPlaying(); }, 3000));
    EXPECT_TRUE(waitUntil([&] { return item(w, "play")->isEnabled(); }, 2000));
    QTest::keyClick(w, Qt::Key_Home);
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
}

TEST_F(AppTest, QuitWhileOneFileOpensAndAnotherPlaysEndsInOrder) {
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + dir.file("played.wav")).c_str(), 1);
    Ref<ZQAudioFileDocument> playing = open(floatFile("playing.wav", 2, 44100 * 10, ramp));
    ZQDocumentWindow* w = windowOf(playing.get());
    ASSERT_TRUE(activate(w));
    QTest::keyClick(w, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return playing->presentPlaybackPosition() > 4410; }, 5000));
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(44100, ZQ::Num::Count(2ull));
    Ref<ZQASThread> thread = Ref<ZQASThread>::retain(stream->streamThread());
    const std::string opening = floatFile("opening.wav", 2, 44100 * 120, ramp);
    ASSERT_TRUE(ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(opening, nullptr));

    std::vector<int> steps;
    std::size_t registryAtStep2 = 0, registryAtStep3 = 99;
    bool controllerEndedAtStep3 = true, controllerEndedAtStep4 = false;
    ZQApplicationDelegate::shared().setStepObserver([&](int s) {
        steps.push_back(s);
        if (s == 2) registryAtStep2 = ZQ::AudioStream::OutputStream::registrySize();
        if (s == 3) {
            registryAtStep3 = ZQ::AudioStream::OutputStream::registrySize();
            controllerEndedAtStep3 = ZQAudioStreamOutputStreamController::shouldTerminate();
        }
        if (s == 4) controllerEndedAtStep4 = ZQAudioStreamOutputStreamController::shouldTerminate();
    });
    Captured out = capture([&] { item(w, "quit")->trigger(); });
    ZQApplicationDelegate::shared().setStepObserver(nullptr);
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 3, 4, 0, -1}));
    // The registry still held the playing stream when the threads were told.
    EXPECT_GE(registryAtStep2, 1u);
    EXPECT_EQ(registryAtStep3, 0u);
    EXPECT_FALSE(controllerEndedAtStep3);
    EXPECT_TRUE(controllerEndedAtStep4);
    EXPECT_NE(out.out.find(".suoqe.\n"), std::string::npos);
    EXPECT_TRUE(ZQAudioStreamOutputStreamController::shouldTerminate());
    thread->waitUntilFinished();
    EXPECT_TRUE(thread->isFinished());
    // Every document is closed, the one that was opening too.
    EXPECT_TRUE(ZQDocumentController::sharedDocumentController().documents().empty());
    EXPECT_FALSE(playing->fileHasLoaded());
    EXPECT_TRUE(ZQApplicationDelegate::shared().isTerminating());
}

namespace {
struct AppRun {
    int exitCode = -1;
    bool crashed = true;
    std::string out;
};
// zqaudio on `file`, ended with SIGTERM `ms` milliseconds after it can
// answer the signal.
AppRun runAndTerminate(const std::string& file, int ms, const std::string& prefs) {
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ZQ_AUDIO_OUTPUT", "null");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(prefs));
    // Under ThreadSanitizer, the program gets what the test binaries have:
    // Qt's and GLib's own (uninstrumented) libraries are not ours to judge.
    const std::string suppressions = prefs + "/tsan.supp";
    {
        std::ofstream(suppressions) << "called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n"
                                       "called_from_lib:libQt6Widgets.so.6\ncalled_from_lib:libglib-2.0.so.0\n";
    }
    env.insert("TSAN_OPTIONS", QString::fromStdString("suppressions=" + suppressions));
    app.setProcessEnvironment(env);
    app.start(QString::fromUtf8(ZQAUDIO_PATH), {QString::fromStdString(file)});
    AppRun run;
    if (!app.waitForStarted(5000)) return run;
    const auto pid = static_cast<pid_t>(app.processId());
    if (!testsupport::waitUntilCatching(pid, SIGTERM)) {
        app.kill();
        app.waitForFinished();
        return run;
    }
    QTest::qWait(ms);
    ::kill(pid, SIGTERM);
    if (!app.waitForFinished(60000)) { // sanitizer builds decode slowly
        app.kill();
        return run;
    }
    run.crashed = app.exitStatus() != QProcess::NormalExit;
    run.exitCode = app.exitCode();
    run.out = app.readAllStandardOutput().toStdString();
    return run;
}
} // namespace

TEST(Zqaudio, EndsOnSigtermWithAnEmptyLeakReport) {
    TempDir dir;
    const std::string shortFile = dir.file("short.wav"), longFile = dir.file("long.wav");
    ASSERT_TRUE(writeFixture(shortFile, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100L * 2, ramp));
    ASSERT_TRUE(writeFixture(longFile, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100L * 600, ramp));
    // A document on screen: the termination runs, the leak report is empty.
    const AppRun shown = runAndTerminate(shortFile, 2500, dir.path());
    EXPECT_FALSE(shown.crashed);
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_NE(shown.out.find(".suoqe."), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.find("aref_^^lqdeq"), std::string::npos) << shown.out; // nothing left registered
    EXPECT_EQ(shown.out.find("lqct^"), std::string::npos) << shown.out;
    // While a long file is decoding: it finishes opening during the
    // termination, and still nothing is left behind.
    const AppRun opening = runAndTerminate(longFile, 300, dir.path());
    EXPECT_FALSE(opening.crashed);
    EXPECT_EQ(opening.exitCode, 0);
    EXPECT_NE(opening.out.find(".suoqe."), std::string::npos) << opening.out;
    EXPECT_EQ(opening.out.find("aref_^^lqdeq"), std::string::npos) << opening.out;
}
