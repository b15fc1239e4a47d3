// zqaudio [FILE...]: opens every named file in a document window of its own
// (through the placeholder route and the open queue, as the desktop opens
// documents); without a file, a small start window offers Open and the
// recent files. Quit (the menu, the last window closing, SIGTERM or SIGINT)
// runs the application's termination in order and ends the process; the
// tracking allocator's leak report is on.
//
// ZQ_STARTUP_PROBE=1 (for bench/startup_bench) prints "zqaudio: first window
// shown" once the first document window is on screen, and quits;
// ZQ_STARTUP_PROBE=complete then also waits until every column of its
// waveforms is drawn ("zqaudio: window complete").
#include "app/FileOpening.h"
#include "app/ZQApplicationMenus.h"
#include "app/ZQApplicationShell.h"
#include "app/ZQAudioFilePropertiesPanel.h"
#include "app/ZQAudioWaveformColorSelectionPanel.h"
#include "app/ZQQtWindowSide.h"
#include "app/ZQStartWindow.h"
#include "window/ZQWaveformDisplayController.h"

#include <QApplication>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ZQApplicationDelegate::catchSignals();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("ZQ"));
    QApplication::setApplicationName(QStringLiteral("ZQAudio"));
    QApplication::setApplicationDisplayName(QStringLiteral("ZQ Audio"));
    QApplication::setApplicationVersion(QString::fromUtf8(ZQ::Application::version()));
    ZQApplicationDelegate& delegate = ZQApplicationDelegate::shared();
    delegate.init();
    delegate.installSignalHandlers();
    delegate.setQuitsWhenNothingIsLeft(true);
    ZQApplicationMenus::restoreOutputDevice();
    ZQApplicationMenus::restoreLoop();

    ZQQtWindowSide side;
    setDocumentWindowSide(&side);
    // The start window goes once a document is shown.
    QPointer<ZQStartWindow> start;
    // ZQ_STARTUP_PROBE: the startup benchmark's question, "when is the first
    // window on screen?", answered on standard output once it has been
    // painted; the application then ends.
    const bool probe = qEnvironmentVariableIsSet("ZQ_STARTUP_PROBE");
    side.setDocumentShown([&start, probe, &delegate](ZQAudioFileDocument* document) {
        if (start) start->close();
        if (probe)
            QTimer::singleShot(0, [&delegate, document = platform::Ref<ZQAudioFileDocument>::retain(document)] {
                std::printf("zqaudio: first window shown\n");
                std::fflush(stdout);
                if (qgetenv("ZQ_STARTUP_PROBE") != "complete") return delegate.terminate();
                auto* poll = new QTimer(qApp);
                QObject::connect(poll, &QTimer::timeout, [&delegate, document, poll] {
                    auto* c = dynamic_cast<ZQWaveformDisplayController*>(document->waveformDisplayController());
                    if (!c || !c->showsEveryColumn()) return;
                    poll->stop();
                    std::printf("zqaudio: window complete\n");
                    std::fflush(stdout);
                    delegate.terminate();
                });
                poll->start(2);
            });
    });

    // Documents close with their windows; once the last window is gone the
    // application ends in the delegate's order.
    QApplication::setQuitOnLastWindowClosed(false);
    // Queued: the last window closes inside its document's teardown, which
    // must return before the termination starts.
    QObject::connect(
        &app, &QGuiApplication::lastWindowClosed, &app, [&delegate] { delegate.terminate(); }, Qt::QueuedConnection);

    const QStringList named = app.arguments().mid(1);
    for (const QString& f : named)
        ZQ::FileOpening::openFile(f, nullptr);
    // Without files, the start window. Files named that all failed at once
    // (missing ones) end the program when their alerts are dismissed, as
    // those that fail while opening (damaged ones) do.
    if (named.isEmpty()) {
        start = new ZQStartWindow;
        start->show();
    }

    const int status = app.exec();
    delegate.terminate(); // when the loop ended some other way
    // Closed windows are deleted on a later turn of the loop, which quitting
    // ends: delete them now, so that nothing they hold outlives the process.
    // Work handed to the main thread meanwhile (a window finishing its
    // teardown) still runs, so that it lets go of what it holds.
    for (int turn = 0; turn < 3; ++turn) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete start.data();
    ZQAudioFilePropertiesPanelController::shutdown();
    ZQAudioWaveformColorSelectionPanelController::shutdown();
    setDocumentWindowSide(nullptr);
    return status;
}
