#include "app/FileOpening.h"

#include "app/AccessKeys.h"
#include "app/RecentFiles.h"
#include "app/ZQApplicationShell.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentAtPath.h"
#include "document/ZQDocumentController.h"
#include "platform/base/Values.h"
#include "window/ZQWaveformDisplayController.h"

#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QUrl>

namespace ZQ::FileOpening {

namespace {
void alert(QWidget* parent, const QString& informative) {
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Dismissed, it ends the program only when nothing else is open or
    // opening (another file may still be decoding behind its progress window).
    box->setAttribute(Qt::WA_QuitOnClose, false);
    QObject::connect(box, &QMessageBox::finished, box,
                     [](int) { ZQApplicationDelegate::shared().quitIfNothingIsLeft(); });
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("The audio file could not be opened."));
    box->setText(QStringLiteral("The audio file could not be opened."));
    box->setInformativeText(informative);
    box->addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    ZQ::AccessKeys::give(box);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

// One file under two names (a link, "..") is still one file.
QString sameFileKey(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}
} // namespace

QString dialogFolder(ZQAudioFileDocument* document) {
    platform::Ref<ZQAudioFileDocument> current;
    if (!document) {
        current = platform::Ref<ZQAudioFileDocument>::retain(dynamic_cast<ZQAudioFileDocument*>(
            ZQDocumentController::sharedDocumentController().currentDocument().get()));
        document = current.get();
    }
    if (document && !document->fileName().empty()) {
        const QFileInfo folder(QFileInfo(QString::fromStdString(document->fileName())).absolutePath());
        if (folder.isDir()) return folder.absoluteFilePath();
    }
    const QFileInfo last(QSettings().value(QString::fromUtf8(kLastFolderKey)).toString());
    if (!last.filePath().isEmpty() && last.isDir()) return last.absoluteFilePath();
    return QDir::homePath();
}

void rememberFolder(const QString& folder) {
    if (folder.isEmpty()) return;
    QSettings settings;
    settings.setValue(QString::fromUtf8(kLastFolderKey), QFileInfo(folder).absoluteFilePath());
    settings.sync();
}

bool showOpenDocument(const QString& file) {
    const QString key = sameFileKey(file);
    for (auto& d : ZQDocumentController::sharedDocumentController().documents()) {
        if (auto* placeholder = dynamic_cast<ZQAudioFileDocumentAtPath*>(d.get())) {
            // Still being read: its window comes forward when it is shown.
            platform::Ref<platform::URL> url = placeholder->audioFileURL();
            if (url && sameFileKey(QString::fromStdString(url->path())) == key) return true;
            continue;
        }
        auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get());
        if (!doc || sameFileKey(QString::fromStdString(doc->fileName())) != key) continue;
        auto* c = dynamic_cast<ZQWaveformDisplayController*>(doc->waveformDisplayController());
        ZQDocumentWindow* window = c ? c->window() : nullptr;
        if (!window) continue; // on its way out
        if (window->isMinimized()) window->showNormal();
        window->show();
        window->raise();
        window->activateWindow();
        ZQDocumentController::sharedDocumentController().setCurrentDocument(doc);
        RecentFiles::noteOpened(QString::fromStdString(doc->fileName()));
        return true;
    }
    return false;
}

QStringList nameFilters() {
    return {QStringLiteral("Audio files (*.wav *.wave *.aif *.aiff *.aifc *.sd2 *.caf *.w64 *.flac *.ogg *.oga "
                           "*.opus *.mp3 *.mp2 *.mp1 *.mpga *.WAV *.WAVE *.AIF *.AIFF *.AIFC *.SD2 *.CAF *.W64 "
                           "*.FLAC *.OGG *.OGA *.OPUS *.MP3 *.MP2 *.MP1 *.MPGA)"),
            QStringLiteral("All files (*)")};
}

bool openFile(const QString& file, QWidget* parent) {
    const QFileInfo info(file);
    if (!info.exists()) {
        alert(parent, QStringLiteral("The file \u201c%1\u201d does not exist.").arg(file));
        return false;
    }
    if (info.isDir()) {
        alert(parent, QStringLiteral("\u201c%1\u201d is a folder, not an audio file.").arg(file));
        return false;
    }
    if (showOpenDocument(info.absoluteFilePath())) return true;
    platform::Ref<platform::Error> error;
    if (!ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(
            info.absoluteFilePath().toStdString(), &error)) {
        alert(parent, error ? QString::fromStdString(error->localizedDescription()) : file);
        return false;
    }
    return true;
}

void runOpenDialog(QWidget* parent) {
    auto* dialog = new QFileDialog(parent, QStringLiteral("Open Audio Files"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    dialog->setObjectName(QStringLiteral("openDialog"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters(nameFilters());
    // Open has its access key already (set after the modes, which reset it).
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("&Cancel"));
    dialog->setDirectory(dialogFolder());
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::filesSelected, dialog, [parent](const QStringList& files) {
        if (!files.isEmpty()) rememberFolder(QFileInfo(files.first()).absolutePath());
        for (const QString& f : files)
            openFile(f, parent);
    });
    dialog->open();
}

namespace {

// Watches one window for drags; it lives as the window's child.
class DropFilter final : public QObject {
public:
    static constexpr const char* kName = "zqFileDrops";
    explicit DropFilter(QWidget* window) : QObject(window), window_(window) { setObjectName(QString::fromUtf8(kName)); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_) return false;
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (droppedFiles(drag->mimeData()).isEmpty()) {
                drag->ignore();
            } else {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList files = droppedFiles(drop->mimeData());
            if (files.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            for (const QString& f : files)
                openFile(f, window_);
            return true;
        }
        default:
            return false;
        }
    }

private:
    QWidget* window_;
};

} // namespace

QStringList droppedFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) return {}; // a web address among them: not ours to take
        files << url.toLocalFile();
    }
    return files;
}

void acceptFileDrops(QWidget* window) {
    // Once per window (a plain QObject: found by its name).
    if (!window || window->findChild<QObject*>(QString::fromUtf8(DropFilter::kName), Qt::FindDirectChildrenOnly))
        return;
    window->setAcceptDrops(true);
    window->installEventFilter(new DropFilter(window));
}

} // namespace ZQ::FileOpening
