// The desktop's habits: files dropped on a document window or on the start
// window open as documents, other drops are refused; the arrow keys step a
// second, Home and End go to the start and the end.
#include "AppFixture.h"
#include "app/FileOpening.h"
#include "app/ZQStartWindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

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
    EXPECT_EQ(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(frames - 1));
    QTest::keyClick(window, Qt::Key_Home);
    QCoreApplication::processEvents();
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
    QTest::keyClick(window, Qt::Key_Left); // not before the first frame
    QCoreApplication::processEvents();
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
}
