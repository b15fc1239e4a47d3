#include "app/FileOpening.h"

#include "document/ZQDocumentController.h"
#include "platform/base/Values.h"

#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

namespace ZQ::FileOpening {

namespace {
void alert(QWidget* parent, const QString& informative) {
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("The audio file could not be opened."));
    box->setText(QStringLiteral("The audio file could not be opened."));
    box->setInformativeText(informative);
    box->addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}
} // namespace

QStringList nameFilters() {
    return {QStringLiteral("Audio files (*.wav *.wave *.aif *.aiff *.aifc *.sd2 *.caf "
                           "*.WAV *.WAVE *.AIF *.AIFF *.AIFC *.SD2 *.CAF)"),
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
    dialog->setObjectName(QStringLiteral("openDialog"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters(nameFilters());
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::filesSelected, dialog, [parent](const QStringList& files) {
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
