#include "app/ZQQtWindowSide.h"

#include "app/FileOpening.h"
#include "app/RecentFiles.h"
#include "app/ZQApplicationMenus.h"
#include "app/ZQApplicationShell.h"
#include "app/ZQExportProgressWindow.h"
#include "app/ZQImportProgressWindow.h"
#include "audiofile/AudioFileExport.h"
#include "document/ZQDocumentController.h"

#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "window/ZQTransportBarBox.h"
#include "window/ZQWaveformDisplayController.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

using platform::Ref;

namespace {

ZQWaveformDisplayController* displayOf(ZQAudioFileDocument* document) {
    return document ? dynamic_cast<ZQWaveformDisplayController*>(document->waveformDisplayController()) : nullptr;
}

// How far each new window moves from the last, right and down.
constexpr int kCascadeStep = 22;

} // namespace

ZQWaveformDisplayControllerBase* ZQQtWindowSide::createDisplayController(ZQAudioFileDocument* document) {
    return ZQWaveformDisplayController::initWithAudioFileDocument(document);
}

bool ZQQtWindowSide::prepareWindow(ZQAudioFileDocument*, ZQWaveformDisplayControllerBase* base) {
    auto* controller = dynamic_cast<ZQWaveformDisplayController*>(base);
    ZQDocumentWindow* window = controller ? controller->window() : nullptr;
    if (!window) return false;
    // Half the screen's available area in each direction; 800 x 600 without a screen.
    QSize size(800, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        size = QSize(available.width() / 2, available.height() / 2);
    }
    window->resize(size);
    window->move(0, 0);
    return true;
}

void ZQQtWindowSide::showWindow(ZQAudioFileDocument* document, ZQWaveformDisplayControllerBase* base) {
    auto* controller = dynamic_cast<ZQWaveformDisplayController*>(base);
    ZQDocumentWindow* window = controller ? controller->window() : nullptr;
    if (!window) return;
    Ref<platform::URL> url = document->fileURL();
    window->setWindowTitle(url ? QString::fromStdString(url->lastPathComponent()) : QString());
    window->setWindowFilePath(QString::fromStdString(document->fileName()));
    // Cascade from the top left of the screen, each window down and right of
    // the last; back to the corner once a window would leave the screen.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && !cascadeFromScreen_) {
        cascadeFromScreen_ = true;
        cascade_ = screen->availableGeometry().topLeft();
    }
    if (screen) {
        const QRect available = screen->availableGeometry();
        if (cascade_.x() + window->width() > available.right() || cascade_.y() + window->height() > available.bottom())
            cascade_ = available.topLeft();
    }
    window->move(cascade_);
    cascade_ += QPoint(kCascadeStep, kCascadeStep);
    ZQApplicationMenus::shared().install(window);
    ZQ::FileOpening::acceptFileDrops(window); // files dropped on it open beside it
    window->show();
    window->raise();
    window->activateWindow();
    // A new window is the frontmost: its document is the current one.
    ZQDocumentController::sharedDocumentController().setCurrentDocument(document);
    if (document->fileHasLoaded() && document->fileOpenError().empty()) {
        ZQ::RecentFiles::noteOpened(QString::fromStdString(document->fileName()));
        if (shown_) shown_(document);
    }
}

void ZQQtWindowSide::closeWindow(ZQAudioFileDocument* document) {
    if (ZQWaveformDisplayController* c = displayOf(document))
        if (ZQDocumentWindow* w = c->window()) w->closeForDocument();
}

bool ZQQtWindowSide::runAlertSheet(ZQAudioFileDocument* document, const std::string& message, const std::string& button,
                                   const std::string& informativeText, std::function<void()> dismissed) {
    ZQWaveformDisplayController* c = displayOf(document);
    QWidget* parent = c ? c->window() : nullptr;
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QString::fromStdString(message));
    box->setText(QString::fromStdString(message));
    box->setInformativeText(QString::fromStdString(informativeText));
    box->addButton(QString::fromStdString(button), QMessageBox::AcceptRole);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [dismissed](int) {
        if (dismissed) dismissed();
    });
    box->open();
    return true;
}

void ZQQtWindowSide::importDidBegin(ZQAudioFileDocument* document) {
    importDidEnd(document); // one window per open
    imports_[document] = new ZQImportProgressWindow(document);
}

void ZQQtWindowSide::importDidEnd(ZQAudioFileDocument* document) {
    auto it = imports_.find(document);
    if (it == imports_.end()) return;
    if (it->second) {
        it->second->hide();
        it->second->deleteLater();
    }
    imports_.erase(it);
}

void ZQQtWindowSide::openDidEndWithoutWindow(ZQAudioFileDocument*) {
    ZQApplicationDelegate::shared().quitIfNothingIsLeft();
}

void ZQQtWindowSide::exportDidBegin(ZQAudioFileDocument* document) {
    exportDidEnd(document); // one sheet per export
    ZQWaveformDisplayController* c = displayOf(document);
    exports_[document] = new ZQExportProgressWindow(document, c ? c->window() : nullptr);
}

void ZQQtWindowSide::exportDidEnd(ZQAudioFileDocument* document) {
    auto it = exports_.find(document);
    if (it == exports_.end()) return;
    if (it->second) {
        it->second->hide();
        it->second->deleteLater();
    }
    exports_.erase(it);
}

ZQExportProgressWindow* ZQQtWindowSide::exportProgressWindow(ZQAudioFileDocument* document) const {
    auto it = exports_.find(document);
    return it == exports_.end() ? nullptr : it->second.data();
}

void ZQQtWindowSide::exportClippedSamples(ZQAudioFileDocument* document, std::uint64_t count) {
    ZQWaveformDisplayController* c = displayOf(document);
    QWidget* parent = c ? c->window() : nullptr;
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("clippedNote"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(QStringLiteral("Export"));
    box->setText(QStringLiteral("The audio file was exported."));
    box->setInformativeText(QString::fromStdString(ZQ::AudioFileExport::clippedNote(count)));
    box->addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

ZQImportProgressWindow* ZQQtWindowSide::importProgressWindow(ZQAudioFileDocument* document) const {
    auto it = imports_.find(document);
    return it == imports_.end() ? nullptr : it->second.data();
}

double ZQQtWindowSide::displayRefreshRate(ZQAudioFileDocument* document) {
    const ZQWaveformDisplayController* c = displayOf(document);
    const QScreen* screen = c && c->window() ? c->window()->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->refreshRate() : 0.0;
}

ZQTransportBar* ZQQtWindowSide::createTransportBar(ZQAudioFileDocumentTransportController* controller) {
    Ref<ZQAudioFileDocument> doc = controller ? controller->document() : Ref<ZQAudioFileDocument>();
    ZQWaveformDisplayController* c = displayOf(doc.get());
    ZQDocumentWindow* window = c ? c->window() : nullptr;
    if (!window) return nullptr;
    return ZQTransportBarBox::create(controller, window);
}

bool ZQQtWindowSide::runSavePanel(ZQAudioFileDocument* document, const std::string& extension,
                                  const std::string& proposedName, SavePanelDone done) {
    ZQWaveformDisplayController* c = displayOf(document);
    QWidget* parent = c ? c->window() : nullptr;
    auto* dialog = new QFileDialog(parent, QStringLiteral("Export"));
    dialog->setObjectName(QStringLiteral("exportDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    const QString ext = QString::fromStdString(extension);
    dialog->setNameFilter(ext == QLatin1String("aif") ? QStringLiteral("AIFF audio file (*.aif *.aiff)")
                                                      : QStringLiteral("WAV audio file (*.wav)"));
    // The chosen name gets the format's extension.
    dialog->setDefaultSuffix(ext);
    dialog->selectFile(QString::fromStdString(proposedName) + QLatin1Char('.') + ext);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
        const QStringList chosen = dialog->selectedFiles();
        if (result != QDialog::Accepted || chosen.isEmpty()) {
            done(false, std::string(), std::string());
            return;
        }
        const QFileInfo file(chosen.first());
        done(true, file.absolutePath().toStdString(), file.absoluteFilePath().toStdString());
    });
    dialog->open();
    return true;
}
