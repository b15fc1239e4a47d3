// The desktop's habits: files dropped on a document window or on the start
// window open as documents, other drops are refused; the arrow keys step a
// second, Home and End go to the start and the end.
#include "AppFixture.h"
#include "app/FileOpening.h"
#include "app/ZQApplicationMenus.h"
#include "app/ZQStartWindow.h"
#include "platform/audioout/AudioQueue.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QSettings>
#include <QUrl>
#include <unistd.h>

using namespace testsupport;
using platform::Ref;

namespace {

class DesktopTest : public AppTest {
protected:
    // A drag of `data` onto the middle of `window`, as the window system
    // delivers it; whether the window took it.
    static bool dragOnto(QWidget* window, QMimeData* data) {
        const QPointF at(window->width() / 2.0, window->height() / 2.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QCoreApplication::sendEvent(window, &enter);
        return enter.isAccepted();
    }
    static bool dropOnto(QWidget* window, QMimeData* data) {
        const QPointF at(window->width() / 2.0, window->height() / 2.0);
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        drop.ignore();
        QCoreApplication::sendEvent(window, &drop);
        return drop.isAccepted();
    }
    static QMimeData* filesData(const QStringList& files) {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const QString& f : files)
            urls << QUrl::fromLocalFile(f);
        data->setUrls(urls);
        return data;
    }
    Ref<ZQAudioFileDocument> waitForDocument(const std::string& path) {
        Ref<ZQAudioFileDocument> doc;
        EXPECT_TRUE(
            waitUntil([&] { return (doc = documentFor(path)) && windowOf(doc.get()) && doc->fileHasLoaded(); }, 10000))
            << path;
        return doc;
    }
};

} // namespace

TEST_F(DesktopTest, FilesDroppedOnADocumentWindowOpenAndOtherDropsAreRefused) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("first.wav", 2, 4410, fixtureSample));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_NE(w, nullptr);
    const std::string second = floatFile("second.wav", 1, 2205, fixtureSample);
    const std::string third = floatFile("third.wav", 2, 1000, fixtureSample);

    // Text, and a list with a web address in it, are not files to open.
    std::unique_ptr<QMimeData> text(new QMimeData);
    text->setText(QString::fromStdString(second));
    EXPECT_FALSE(dragOnto(w, text.get()));
    EXPECT_FALSE(dropOnto(w, text.get()));
    std::unique_ptr<QMimeData> mixed(filesData({QString::fromStdString(second)}));
    mixed->setUrls(mixed->urls() << QUrl(QStringLiteral("https://example.org/x.wav")));
    EXPECT_FALSE(dragOnto(w, mixed.get()));
    spinFor(200);
    EXPECT_FALSE(documentFor(second));

    // Two files at once: each gets its own window.
    std::unique_ptr<QMimeData> files(filesData({QString::fromStdString(second), QString::fromStdString(third)}));
    EXPECT_TRUE(dragOnto(w, files.get()));
    EXPECT_TRUE(dropOnto(w, files.get()));
    Ref<ZQAudioFileDocument> b = waitForDocument(second), c = waitForDocument(third);
    ASSERT_TRUE(b && c);
    EXPECT_EQ(b->channelCount(), 1);
    EXPECT_EQ(c->sampleCount(0).v_, 1000u);
    EXPECT_NE(windowOf(b.get()), w);
}

TEST_F(DesktopTest, AFileDroppedOnTheStartWindowOpensAndAFolderGetsItsAlert) {
    ZQStartWindow start;
    start.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&start));
    const std::string file = floatFile("dropped.wav", 2, 3000, fixtureSample);
    std::unique_ptr<QMimeData> data(filesData({QString::fromStdString(file)}));
    EXPECT_TRUE(dragOnto(&start, data.get()));
    EXPECT_TRUE(dropOnto(&start, data.get()));
    Ref<ZQAudioFileDocument> doc = waitForDocument(file);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->sampleCount(1).v_, 3000u);

    // A folder is a local path too: it is taken, and refused with the
    // folder's own alert, as from the Open dialog.
    std::unique_ptr<QMimeData> folder(filesData({QString::fromStdString(dir.path())}));
    EXPECT_TRUE(dragOnto(&start, folder.get()));
    EXPECT_TRUE(dropOnto(&start, folder.get()));
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget* w : QApplication::allWidgets())
            if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible()) alert = m;
        return alert != nullptr;
    }));
    EXPECT_TRUE(alert->informativeText().contains("is a folder")) << alert->informativeText().toStdString();
    alert->accept();
}

TEST_F(DesktopTest, TheArrowKeysStepASecondAndHomeAndEndGoToTheEnds) {
    const long frames = 5 * 8000;
    Ref<ZQAudioFileDocument> doc = open(floatFile("five.wav", 1, frames, fixtureSample, 8000));
    QWidget* window = windowOf(doc.get());
    ASSERT_NE(window, nullptr);
    QTest::keyClick(window, Qt::Key_Right);
    QCoreApplication::processEvents();
    EXPECT_EQ(doc->presentPlaybackPosition(), 8000u);
    QTest::keyClick(window, Qt::Key_Right);
    QCoreApplication::processEvents();
    EXPECT_EQ(doc->presentPlaybackPosition(), 16000u);
    QTest::keyClick(window, Qt::Key_Left);
    QCoreApplication::processEvents();
    EXPECT_EQ(doc->presentPlaybackPosition(), 8000u);
    QTest::keyClick(window, Qt::Key_End);
    QCoreApplication::processEvents();
    // At the end: the last frame, or the count once the stream thread has
    // marked the position done (it may render in between).
    EXPECT_GE(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(frames - 1));
    EXPECT_LE(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(frames));
    QTest::keyClick(window, Qt::Key_Home);
    QCoreApplication::processEvents();
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
    QTest::keyClick(window, Qt::Key_Left); // not before the first frame
    QCoreApplication::processEvents();
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
}

TEST_F(DesktopTest, AnUnreadableFileGetsItsAlertAndNothingElse) {
    // A file that exists and cannot be read: here a name for this process's
    // own memory, whose first bytes refuse to be read (permissions cannot
    // make a file unreadable to root, who runs CI).
    const std::string path = dir.file("unreadable.wav");
    ASSERT_EQ(::symlink("/proc/self/mem", path.c_str()), 0);
    Captured m = capture([&] {
        ASSERT_TRUE(ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(path, nullptr));
    });
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget* w : QApplication::allWidgets())
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) alert = b;
        return alert != nullptr;
    }));
    EXPECT_EQ(alert->text(), "The audio file could not be opened.");
    EXPECT_TRUE(alert->informativeText().contains("unreadable.wav")) << alert->informativeText().toStdString();
    Ref<ZQAudioFileDocument> doc = documentFor(path);
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->fileHasLoaded());
    EXPECT_EQ(display(doc.get())->waveformCount(), 0) << "a window with views for a file that did not open";
    alert->accept();
    EXPECT_TRUE(waitUntil([&] { return !documentFor(path); }));
}

TEST_F(DesktopTest, TheViewMenuTogglesFollowingThePlayPositionForEveryWindow) {
    Ref<ZQAudioFileDocument> a = open(floatFile("a.wav", 1, 1000, fixtureSample));
    Ref<ZQAudioFileDocument> b = open(floatFile("b.wav", 1, 1000, fixtureSample));
    QAction* followA = item(windowOf(a.get()), "followPlayback");
    QAction* followB = item(windowOf(b.get()), "followPlayback");
    ASSERT_TRUE(followA && followB);
    EXPECT_TRUE(followA->isCheckable());
    EXPECT_TRUE(followA->isChecked()); // on by default
    followA->trigger();
    EXPECT_FALSE(ZQWaveformDisplayController::followsPlayback());
    // The other window's item shows the same setting when its menu opens.
    QMenu* viewB = qobject_cast<QMenu*>(followB->parent());
    ASSERT_NE(viewB, nullptr);
    QMetaObject::invokeMethod(viewB, "aboutToShow");
    EXPECT_FALSE(followB->isChecked());
    followB->trigger();
    EXPECT_TRUE(ZQWaveformDisplayController::followsPlayback());
    EXPECT_TRUE(QSettings().value(ZQWaveformDisplayController::kFollowPlaybackKey).toBool());
}

TEST_F(DesktopTest, TheChannelsMenuMutesAndSolosTheCurrentDocumentsChannelsWithItsToggles) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("six.wav", 6, 1000, fixtureSample));
    QMainWindow* w = windowOf(doc.get());
    auto* channels = w->findChild<QMenu*>("channelsMenu");
    ASSERT_NE(channels, nullptr);
    emit channels->aboutToShow();
    QAction* hearAll = w->findChild<QAction*>("hearAllChannels");
    ASSERT_NE(hearAll, nullptr);
    EXPECT_FALSE(hearAll->isEnabled()); // every channel is heard already
    QAction* solo5 = w->findChild<QAction*>("soloChannel5");
    QAction* mute2 = w->findChild<QAction*>("muteChannel2");
    ASSERT_TRUE(solo5 && mute2);
    solo5->trigger();
    mute2->trigger();
    EXPECT_TRUE(doc->isChannelSoloed(4));
    EXPECT_TRUE(doc->isChannelMuted(1));
    // The toggles on the views show the same.
    ZQWaveformDisplayController* c = display(doc.get());
    EXPECT_TRUE(c->waveform(4)->soloToggle()->isChecked());
    EXPECT_TRUE(c->waveform(1)->muteToggle()->isChecked());
    EXPECT_FALSE(c->waveform(0)->soloToggle()->isChecked());
    // Made afresh, the menu shows the state; Hear All Channels clears it.
    emit channels->aboutToShow();
    EXPECT_TRUE(w->findChild<QAction*>("soloChannel5")->isChecked());
    hearAll = w->findChild<QAction*>("hearAllChannels");
    ASSERT_TRUE(hearAll->isEnabled());
    hearAll->trigger();
    for (int ch = 0; ch < 6; ++ch) {
        EXPECT_FALSE(doc->isChannelSoloed(ch) || doc->isChannelMuted(ch)) << ch;
        EXPECT_FALSE(c->waveform(ch)->soloToggle()->isChecked() || c->waveform(ch)->muteToggle()->isChecked()) << ch;
    }
}

TEST_F(DesktopTest, TheOutputDeviceMenuOffersTheDefaultAndKeepsTheChoice) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("one.wav", 1, 1000, fixtureSample));
    QMainWindow* w = windowOf(doc.get());
    auto* devices = w->findChild<QMenu*>("outputDeviceMenu");
    ASSERT_NE(devices, nullptr);
    emit devices->aboutToShow();
    QAction* systemDefault = w->findChild<QAction*>("systemDefaultDevice");
    ASSERT_NE(systemDefault, nullptr);
    EXPECT_EQ(systemDefault->text(), "System Default");
    EXPECT_TRUE(systemDefault->isChecked());
    // A remembered device that is not there is shown, checked and disabled.
    ZQApplicationMenus::chooseOutputDevice("Speakers That Are Not Here");
    EXPECT_EQ(QSettings().value(ZQApplicationMenus::kOutputDeviceKey).toString(), "Speakers That Are Not Here");
    emit devices->aboutToShow();
    QAction* missing = nullptr;
    for (QAction* a : devices->actions())
        if (a->text() == "Speakers That Are Not Here (not available)") missing = a;
    ASSERT_NE(missing, nullptr);
    EXPECT_TRUE(missing->isChecked());
    EXPECT_FALSE(missing->isEnabled());
    EXPECT_FALSE(w->findChild<QAction*>("systemDefaultDevice")->isChecked());
    // Back to the default, from the menu.
    w->findChild<QAction*>("systemDefaultDevice")->trigger();
    EXPECT_EQ(QSettings().value(ZQApplicationMenus::kOutputDeviceKey).toString(), "");
    EXPECT_EQ(platform::audio::preferredOutputDevice(), "");
}
