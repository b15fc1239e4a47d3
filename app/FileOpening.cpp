#include "app/FileOpening.h"

#include "document/ZQDocumentController.h"
#include "platform/base/Values.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

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

} // namespace ZQ::FileOpening
