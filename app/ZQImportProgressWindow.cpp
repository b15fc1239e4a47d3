#include "app/ZQImportProgressWindow.h"

#include "document/ZQAudioFileDocument.h"

#include <QApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

ZQImportProgressWindow::ZQImportProgressWindow(ZQAudioFileDocument* document)
    : QWidget(nullptr, Qt::Window), document_(platform::Ref<ZQAudioFileDocument>::retain(document)) {
    setObjectName(QStringLiteral("importProgress"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    // It hides before the document's window shows: the application ends with
    // its documents and start window, never because this one went.
    setAttribute(Qt::WA_QuitOnClose, false);
    const QString file = QFileInfo(QString::fromStdString(document->fileName())).fileName();
    setWindowTitle(QStringLiteral("Opening \u201c%1\u201d").arg(file));
    row_ = ProgressRow::build(this, QStringLiteral("Opening \u201c%1\u201d\u2026").arg(file), QStringLiteral("import"));
    connect(row_.cancel, &QPushButton::clicked, this, [this] {
        document_->cancelImport();
        row_.cancelling();
    });
    // Cancel is also Escape, as in any dialog (a key of its own: the
    // button's is its access key).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, row_.cancel, &QPushButton::animateClick);

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
    return row_.bar->value();
}

void ZQImportProgressWindow::update_() {
    row_.show(document_->importProgress());
}
