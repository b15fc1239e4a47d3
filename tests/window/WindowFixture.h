// Document windows as a user meets them: files opened through the
// application's route (placeholder, open queue, window building), real
// widgets on the offscreen platform, pixels from grab().
#pragma once

#include "app/ZQQtWindowSide.h"
#include "controls/Frames.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "support/Fixtures.h"
#include "support/Output.h"
#include "support/Wait.h"
#include "window/ZQTransportBarBox.h"
#include "window/ZQWaveform.h"
#include "window/ZQWaveformDisplayController.h"

#include <QImage>
#include <QString>
#include <QTest>
#include <gtest/gtest.h>
#include <ostream>
#include <sndfile.h>

// Readable texts in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace testsupport {

class WindowTest : public testing::Test {
protected:
    void SetUp() override { setDocumentWindowSide(&side); }
    void TearDown() override {
        for (auto& d : ZQDocumentController::sharedDocumentController().documents())
            if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) doc->close();
        waitUntil([] { return ZQDocumentController::sharedDocumentController().documents().empty(); }, 10000);
        spinFor(30); // windows are deleted on the next turns of the loop
        setDocumentWindowSide(nullptr);
    }

    static platform::Ref<ZQAudioFileDocument> documentFor(const std::string& path) {
        for (auto& d : ZQDocumentController::sharedDocumentController().documents())
            if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get()))
                if (doc->fileName() == path) return platform::Ref<ZQAudioFileDocument>::retain(doc);
        return {};
    }

    // Opens `path` as the application does and waits for its window, with
    // its views and transport bar (or for its alert, when it cannot open).
    platform::Ref<ZQAudioFileDocument> open(const std::string& path) {
        platform::Ref<platform::Error> error;
        EXPECT_TRUE(ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(path, &error));
        platform::Ref<ZQAudioFileDocument> doc;
        EXPECT_TRUE(waitUntil(
            [&] {
                doc = documentFor(path);
                if (!doc) return false;
                ZQWaveformDisplayController* c = display(doc.get());
                if (c && c->window() && !c->window()->findChildren<QWidget*>().isEmpty() &&
                    !doc->fileOpenError().empty())
                    return true;
                ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
                auto* bar = t ? dynamic_cast<ZQTransportBarBox*>(t->transportBar()) : nullptr;
                return c && c->waveformCount() > 0 && bar && bar->box();
            },
            20000))
            << path;
        // Window shortcuts (Space, the transport keys) reach only the
        // active window, and activation is asynchronous.
        if (ZQWaveformDisplayController* c = display(doc.get())) {
            c->window()->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(c->window(), 5000)) << path;
        }
        return doc;
    }

    static ZQWaveformDisplayController* display(ZQAudioFileDocument* doc) {
        return doc ? dynamic_cast<ZQWaveformDisplayController*>(doc->waveformDisplayController()) : nullptr;
    }
    static ZQTransportBarBox* bar(ZQAudioFileDocument* doc) {
        ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
        return t ? dynamic_cast<ZQTransportBarBox*>(t->transportBar()) : nullptr;
    }

    // Writes a float WAV of `frames` frames of gen(channel, frame).
    std::string floatFile(const std::string& name, int channels, long frames,
                          const std::function<double(int, long)>& gen, int rate = 44100) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, rate, frames, gen));
        return path;
    }

    ZQQtWindowSide side;
    TempDir dir;
};

// Gives the window's content view exactly this size.
inline void resizeContent(ZQWaveformDisplayController* c, int width, int height) {
    ZQDocumentWindow* w = c->window();
    const QSize extra = w->size() - w->contentView()->size();
    w->resize(QSize(width, height) + extra);
    waitUntil([&] { return w->contentView()->size() == QSize(width, height); }, 2000);
}

// Drags across `view` from x0 to x1 (pixels) at half its height, as a user
// selects.
inline void dragAcross(QWidget* view, int x0, int x1) {
    const int y = view->height() / 2;
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(x0, y));
    QTest::mouseMove(view, QPoint((x0 + x1) / 2, y));
    QTest::mouseMove(view, QPoint(x1, y));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(x1, y));
    QCoreApplication::processEvents();
}

inline QRgb pixelAt(const QImage& image, int x, int y) {
    return image.pixel(x, y);
}
inline bool sameColour(QRgb a, int r, int g, int b, int tolerance = 1) {
    return std::abs(qRed(a) - r) <= tolerance && std::abs(qGreen(a) - g) <= tolerance &&
           std::abs(qBlue(a) - b) <= tolerance;
}

} // namespace testsupport
