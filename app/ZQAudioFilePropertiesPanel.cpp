#include "app/ZQAudioFilePropertiesPanel.h"

#include "audiofile/AudioFileProperties.h"
#include "controls/Frames.h"
#include "document/ZQDocumentController.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <cstdio>

using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

const QString kPositionKey = QStringLiteral("ZQAudioFilePropertiesPanel/position");
constexpr int kBottomBorder = 28;

QListWidget* makeColumn(QWidget* parent, Qt::Alignment alignment, double opacity, Qt::TextElideMode elide,
                        const char* name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromUtf8(name));
    list->setFrameShape(QFrame::NoFrame);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setWordWrap(false);
    list->setTextElideMode(elide);
    list->setUniformItemSizes(true);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont font = list->font();
    font.setPixelSize(12);
    list->setFont(font);
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    list->setPalette(palette);
    const QColor text = QColor::fromRgbF(0, 0, 0, opacity);
    for (int i = 0; i < ZQAudioFilePropertiesPanel::kRows; ++i) {
        auto* item = new QListWidgetItem(list);
        item->setTextAlignment(alignment | Qt::AlignVCenter);
        item->setForeground(text);
        item->setFlags(Qt::ItemIsEnabled);
        item->setSizeHint(QSize(0, 18));
    }
    return list;
}

} // namespace

ZQAudioFilePropertiesPanel::ZQAudioFilePropertiesPanel()
    : QWidget(nullptr, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ZQAudioFilePropertiesPanel"));
    setWindowTitle(QStringLiteral("Audio File Document Properties"));
    setAttribute(Qt::WA_QuitOnClose, false); // a panel never keeps the application
    setFixedSize(kWidth, kHeight);

    splitMatrix_ = new QSplitter(Qt::Horizontal, this);
    splitMatrix_->setHandleWidth(1);
    splitMatrix_->setChildrenCollapsible(false);
    names_ = makeColumn(splitMatrix_, Qt::AlignRight, 0.6, Qt::ElideLeft, "names");
    descriptions_ = makeColumn(splitMatrix_, Qt::AlignLeft, 0.8, Qt::ElideRight, "descriptions");
    splitMatrix_->addWidget(names_);
    splitMatrix_->addWidget(descriptions_);
    splitMatrix_->setSizes({150, kWidth - 151});
    splitMatrix_->setGeometry(0, 0, kWidth, kHeight - kBottomBorder);

    copyButton_ = new QPushButton(QStringLiteral("Copy"), this);
    copyButton_->setObjectName(QStringLiteral("copyButton"));
    QFont font = copyButton_->font();
    font.setPixelSize(11);
    copyButton_->setFont(font);
    copyButton_->setFocusPolicy(Qt::NoFocus);
    ZQ::placeChild(copyButton_, {14, 5, 52, 18}, ZQ::kNotSizable);
    connect(copyButton_, &QPushButton::clicked, this, [this] { perform_CopyDescription(); });

    // Where it was last time; else 40 points in from the screen's bottom left.
    const QVariant stored = QSettings().value(kPositionKey);
    if (stored.canConvert<QPoint>() && stored.isValid()) {
        move(stored.toPoint());
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.left() + 40, available.bottom() + 1 - 40 - kHeight);
    }
    placed_ = true;

    updateString(std::string());
    updateForCurrent();
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, [this] { updateForCurrent(); });
    timer_.start();
}

ZQAudioFilePropertiesPanel::~ZQAudioFilePropertiesPanel() {
    timer_.stop();
}

void ZQAudioFilePropertiesPanel::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (placed_) QSettings().setValue(kPositionKey, pos());
}

void ZQAudioFilePropertiesPanel::updateForCurrent() {
    Guard g(sync_);
    Ref<platform::Object> current = ZQDocumentController::sharedDocumentController().currentDocument();
    if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(current.get())) updateForDocument(doc);
}

void ZQAudioFilePropertiesPanel::updateForDocument(ZQAudioFileDocument* document) {
    Guard g(sync_);
    document_ = Ref<ZQAudioFileDocument>::retain(document);
    if (!document_ || !document_->fileHasLoaded() || !document_->audioFileInformation()) {
        updateString(std::string());
        return;
    }
    const ZQ::AudioFileProperties p =
        ZQ::describeAudioFileProperties(document_->audioFileInformation(), document_->fileName());
    for (std::size_t i = 0; i < p.rows.size() && i < std::size_t(kRows); ++i)
        setName(p.rows[i].first, p.rows[i].second, static_cast<int>(i));
    updateString(p.text);
}

void ZQAudioFilePropertiesPanel::updateString(const std::string& text) {
    stringDescription_ = text;
}

void ZQAudioFilePropertiesPanel::setName(const std::string& name, const std::string& desc, int row) {
    if (row < 0 || row >= kRows) return;
    const QString n = QString::fromStdString(ZQ::rowNameText(name));
    const QString d = QString::fromStdString(ZQ::rowValueText(desc));
    // Unchanged rows are left alone: the timer runs ten times a second.
    if (names_->item(row)->text() != n) names_->item(row)->setText(n);
    if (descriptions_->item(row)->text() != d) {
        descriptions_->item(row)->setText(d);
        descriptions_->item(row)->setToolTip(d);
    }
}

QString ZQAudioFilePropertiesPanel::nameAt(int row) const {
    return row >= 0 && row < kRows ? names_->item(row)->text() : QString();
}

QString ZQAudioFilePropertiesPanel::descAt(int row) const {
    return row >= 0 && row < kRows ? descriptions_->item(row)->text() : QString();
}

void ZQAudioFilePropertiesPanel::perform_CopyDescription() {
    if (stringDescription_.empty()) {
        std::printf("fehler");
        std::fflush(stdout);
        return;
    }
    QGuiApplication::clipboard()->setText(QString::fromStdString(stringDescription_), QClipboard::Clipboard);
}

namespace {
ZQAudioFilePropertiesPanel* sharedPanel = nullptr;
}

ZQAudioFilePropertiesPanel* ZQAudioFilePropertiesPanelController::propertiesPanel() {
    if (!sharedPanel) sharedPanel = new ZQAudioFilePropertiesPanel;
    return sharedPanel;
}

void ZQAudioFilePropertiesPanelController::showPanel() {
    ZQAudioFilePropertiesPanel* panel = propertiesPanel();
    panel->updateForCurrent();
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void ZQAudioFilePropertiesPanelController::clearPropertyDataString() {
    propertiesPanel()->updateString(std::string());
}

void ZQAudioFilePropertiesPanelController::updateForDocument(ZQAudioFileDocument* document) {
    if (document)
        propertiesPanel()->updateForDocument(document);
    else
        clearPropertyDataString();
}

void ZQAudioFilePropertiesPanelController::shutdown() {
    delete sharedPanel;
    sharedPanel = nullptr;
}
