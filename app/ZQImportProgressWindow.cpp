#include "app/ZQImportProgressWindow.h"

#include "document/ZQAudioFileDocument.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

ZQImportProgressWindow::ZQImportProgressWindow(ZQAudioFileDocument* document)
    : QWidget(nullptr, Qt::Window), document_(platform::Ref<ZQAudioFileDocument>::retain(document)) {
    setObjectName(QStringLiteral("importProgress"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    const QString file = QFileInfo(QString::fromStdString(document->fileName())).fileName();
    setWindowTitle(QStringLiteral("Opening \u201c%1\u201d").arg(file));
    auto* layout = new QVBoxLayout(this);
    name_ = new QLabel(QStringLiteral("Opening \u201c%1\u201d\u2026").arg(file), this);
    name_->setObjectName(QStringLiteral("importFileName"));
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("importPercent"));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setFormat(QStringLiteral("%p%"));
    bar_->setMinimumWidth(320);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("importCancel"));
    auto* row = new QHBoxLayout;
    row->addWidget(bar_, 1);
    row->addWidget(cancel_);
    layout->addWidget(name_);
    layout->addLayout(row);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        document_->cancelImport();
        cancel_->setEnabled(false);
        name_->setText(name_->text() + QStringLiteral(" Cancelling"));
    });
    // Cancel is also Escape, as in any dialog.
    cancel_->setShortcut(QKeySequence(Qt::Key_Escape));

    timer_ = new QTimer(this);
    timer_->setInterval(kUpdateEveryMs);
    connect(timer_, &QTimer::timeout, this, &ZQImportProgressWindow::update_);
    timer_->start();
    QTimer::singleShot(kShowAfterMs, this, [this] {
        if (document_->importProgress() < 0) return; // done meanwhile
        update_();
        // In the middle of the screen, each further open a step down and right.
        int others = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            others += w != this && w->isVisible() && dynamic_cast<ZQImportProgressWindow*>(w) ? 1 : 0;
        adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center() + QPoint(28, 28) * others);
        show();
        raise();
    });
}

ZQImportProgressWindow::~ZQImportProgressWindow() = default;

int ZQImportProgressWindow::percent() const {
    return bar_->value();
}

void ZQImportProgressWindow::update_() {
    const double fraction = document_->importProgress();
    if (fraction < 0) return;
    // Never backwards, whatever the order of the workers' reports.
    bar_->setValue(std::max(bar_->value(), static_cast<int>(fraction * 100.0)));
}
