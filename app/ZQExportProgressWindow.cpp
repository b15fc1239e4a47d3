#include "app/ZQExportProgressWindow.h"

#include "document/ZQAudioFileDocument.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

ZQExportProgressWindow::ZQExportProgressWindow(ZQAudioFileDocument* document, QWidget* window)
    : QDialog(window), document_(platform::Ref<ZQAudioFileDocument>::retain(document)) {
    setObjectName(QStringLiteral("exportProgress"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    const QString file = QFileInfo(QString::fromStdString(document->fileName())).fileName();
    setWindowTitle(QStringLiteral("Exporting \u201c%1\u201d").arg(file));
    row_ =
        ProgressRow::build(this, QStringLiteral("Exporting \u201c%1\u201d\u2026").arg(file), QStringLiteral("export"));
    connect(row_.cancel, &QPushButton::clicked, this, &ZQExportProgressWindow::reject);

    auto* timer = new QTimer(this);
    timer->setInterval(kUpdateEveryMs);
    connect(timer, &QTimer::timeout, this, &ZQExportProgressWindow::update_);
    timer->start();
    QTimer::singleShot(kShowAfterMs, this, [this] {
        if (document_->exportProgress() < 0) return; // done meanwhile
        update_();
        show();
        raise();
    });
}

ZQExportProgressWindow::~ZQExportProgressWindow() = default;

int ZQExportProgressWindow::percent() const {
    return row_.bar->value();
}

void ZQExportProgressWindow::reject() {
    // The sheet stays until the export has stopped and removed its file.
    if (!row_.cancel->isEnabled()) return;
    document_->cancelExport();
    row_.cancelling();
}

void ZQExportProgressWindow::update_() {
    row_.show(document_->exportProgress());
}
