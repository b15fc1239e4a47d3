#include "app/ZQStartWindow.h"

#include "app/DocumentNames.h"
#include "app/FileOpening.h"
#include "app/RecentFiles.h"
#include "app/ZQApplicationMenus.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ZQStartWindow::ZQStartWindow() {
    setObjectName(QStringLiteral("ZQStartWindow"));
    setProperty("zqStartWindow", true);
    setWindowTitle(QStringLiteral("ZQ Audio"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(18, 16, 18, 16);
    auto* heading = new QLabel(QStringLiteral("Open a WAV, AIFF, Sound Designer II or CAF file."), content);
    layout->addWidget(heading);
    openButton_ = new QPushButton(QStringLiteral("&Open\u2026"), content);
    openButton_->setObjectName(QStringLiteral("openButton"));
    openButton_->setDefault(true);
    layout->addWidget(openButton_, 0, Qt::AlignLeft);
    layout->addWidget(new QLabel(QStringLiteral("Recent files:"), content));
    recent_ = new QListWidget(content);
    recent_->setObjectName(QStringLiteral("recentFiles"));
    layout->addWidget(recent_, 1);
    setCentralWidget(content);
    resize(460, 320);

    connect(openButton_, &QPushButton::clicked, this, [this] { ZQ::FileOpening::runOpenDialog(this); });
    connect(recent_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        if (item) ZQ::FileOpening::openFile(item->data(Qt::UserRole).toString(), this);
    });
    ZQApplicationMenus::shared().install(this);
    ZQ::FileOpening::acceptFileDrops(this);
    refreshRecentFiles();
}

void ZQStartWindow::refreshRecentFiles() {
    recent_->clear();
    const QStringList files = ZQ::RecentFiles::files();
    const QStringList names = ZQ::DocumentNames::distinguished(files); // as Open Recent shows them
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& f = files[i];
        auto* item = new QListWidgetItem(names[i], recent_);
        item->setToolTip(f);
        item->setData(Qt::UserRole, f);
    }
    if (recent_->count() > 0) recent_->setCurrentRow(0);
}

void ZQStartWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    refreshRecentFiles();
}
