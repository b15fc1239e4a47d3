#include "app/ZQExportProgressWindow.h"

#include "document/ZQAudioFileDocument.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

ZQExportProgressWindow::ZQExportProgressWindow(ZQAudioFileDocument* document, QWidget* window)
    : QDialog(window), document_(platform::Ref<ZQAudioFileDocument>::retain(document)) {
    setObjectName(QStringLiteral("exportProgress"));
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    const QString file = QFileInfo(QString::fromStdString(document->fileName())).fileName();
    setWindowTitle(QStringLiteral("Exporting \u201c%1\u201d").arg(file));
    auto* layout = new QVBoxLayout(this);
    name_ = new QLabel(QStringLiteral("Exporting \u201c%1\u201d\u2026").arg(file), this);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("exportPercent"));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setMinimumWidth(320);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("exportCancel"));
    cancel_->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    row->addWidget(bar_, 1);
    row->addWidget(cancel_);
    layout->addWidget(name_);
    layout->addLayout(row);
    connect(cancel_, &QPushButton::clicked, this, &ZQExportProgressWindow::reject);

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
    return bar_->value();
}

void ZQExportProgressWindow::reject() {
    // The sheet stays until the export has stopped and removed its file.
    if (!cancel_->isEnabled()) return;
    document_->cancelExport();
    cancel_->setEnabled(false);
    name_->setText(name_->text() + QStringLiteral(" Cancelling"));
}

void ZQExportProgressWindow::update_() {
    const double fraction = document_->exportProgress();
    if (fraction < 0) return;
    bar_->setValue(std::max(bar_->value(), static_cast<int>(fraction * 100.0)));
}
