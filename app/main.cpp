// zqaudio [FILE...]: opens every named file in a document window of its own
// (through the placeholder route and the open queue, as the desktop opens
// documents); without a file, a dialog asks for some (cancel quits). When the
// last window has closed, the application's termination runs in order and
// the process ends; the tracking allocator's leak report is on.
#include "app/ZQQtWindowSide.h"
#include "core/allocator.h"
#include "document/Termination.h"
#include "document/ZQDocumentController.h"
#include "platform/base/Values.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>

namespace {

QStringList chooseFiles() {
    return QFileDialog::getOpenFileNames(
        nullptr, QStringLiteral("Open Audio Files"), QString(),
        QStringLiteral("Audio files (*.wav *.wave *.aif *.aiff *.aifc *.sd2 *.caf "
                       "*.WAV *.WAVE *.AIF *.AIFF *.AIFC *.SD2 *.CAF);;All files (*)"));
}

// Hands one file to the document system; says why when it cannot.
bool open(const QString& file) {
    const QFileInfo info(file);
    if (!info.exists()) {
        QMessageBox::warning(nullptr, QStringLiteral("The audio file could not be opened."),
                             QStringLiteral("The file '%1' does not exist.").arg(file));
        return false;
    }
    platform::Ref<platform::Error> error;
    if (!ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(
            info.absoluteFilePath().toStdString(), &error)) {
        QMessageBox::warning(nullptr, QStringLiteral("The audio file could not be opened."),
                             error ? QString::fromStdString(error->localizedDescription()) : file);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("ZQ"));
    QApplication::setApplicationName(QStringLiteral("ZQAudio"));
    QApplication::setApplicationDisplayName(QStringLiteral("ZQ Audio"));
    // The application's delegate switches the leak report on.
    ZQ::setReportOnExit(true);

    ZQQtWindowSide side;
    setDocumentWindowSide(&side);

    QStringList files = app.arguments().mid(1);
    if (files.isEmpty()) files = chooseFiles();
    int opening = 0;
    for (const QString& f : files)
        opening += open(f) ? 1 : 0;
    if (opening == 0) {
        ZQ::terminateApplication();
        setDocumentWindowSide(nullptr);
        return files.isEmpty() ? 0 : 1;
    }

    // Documents close with their windows; once the last is gone the
    // application ends in the delegate's order.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, [] {
        ZQ::terminateApplication();
        QCoreApplication::quit();
    });
    const int status = app.exec();
    // Closed windows are deleted on a later turn of the loop, which quitting
    // ends: delete them now, so that nothing they hold outlives the process.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    setDocumentWindowSide(nullptr);
    return status;
}
