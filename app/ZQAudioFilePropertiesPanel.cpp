#include "app/ZQAudioFilePropertiesPanel.h"

#include "app/PanelClosing.h"
#include "audiofile/AudioFileProperties.h"
#include "controls/Frames.h"
#include "document/ZQDocumentController.h"
#include "platform/base/Values.h"
#include "platform/soundfile/ExtAudioFile.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStyle>
#include <cstdio>
#include <sys/stat.h>

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

// The lines of a value as the properties list gives them (each line break
// written as " _ _ _ ").
QString fullValue(const std::string& desc) {
    static const QString kLineBreak = QString::fromStdString(ZQ::rowValueText("\n"));
    return QString::fromStdString(desc).replace(kLineBreak, QStringLiteral("\n"));
}

// A value on one line: each line break, with the indentation around it,
// becomes one space.
QString oneLine(const QString& full) {
    if (!full.contains(u'\n')) return full;
    static const QRegularExpression kBreak(QStringLiteral("\\s*\n\\s*"));
    return QString(full).replace(kBreak, QStringLiteral(" ")).trimmed();
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
    // Whether a value is cut depends on its column's width.
    descriptions_->viewport()->installEventFilter(this);

    copyButton_ = new QPushButton(QStringLiteral("Co&py"), this);
    copyButton_->setObjectName(QStringLiteral("copyButton"));
    QFont font = copyButton_->font();
    font.setPixelSize(11);
    copyButton_->setFont(font);
    copyButton_->setFocusPolicy(Qt::NoFocus);
    ZQ::placeChild(copyButton_, {14, 5, 52, 18}, ZQ::kNotSizable);
    connect(copyButton_, &QPushButton::clicked, this, [this] { perform_CopyDescription(); });
    // Close mirrors Copy at the other end of the bottom border.
    closeButton_ = ZQ::PanelClosing::install(this);
    closeButton_->setFont(font);
    closeButton_->setFocusPolicy(Qt::NoFocus);
    ZQ::placeChild(closeButton_, {kWidth - 14 - 52, 5, 52, 18}, ZQ::kNotSizable);

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

void ZQAudioFilePropertiesPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateForCurrent();
    updateToolTips();
}

bool ZQAudioFilePropertiesPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && descriptions_ && watched == descriptions_->viewport()) updateToolTips();
    return QWidget::eventFilter(watched, event);
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
    // Changes not yet exported: the document's own record (its length
    // follows the edits). Otherwise the file as it is now, which an export
    // over it may have replaced since it was opened; but only when it holds
    // what the window shows (an export elsewhere leaves the file as it was,
    // and the document's record describes the samples in the window).
    const std::string path = document_->fileName();
    const ZQ::AudioFileInformationData* information = document_->audioFileInformation();
    if (!document_->isDocumentEdited())
        if (const ZQ::AudioFileInformationData* onDisk = fileInformation(path))
            if (onDisk->fileLengthFrames() >= 0 && document_->channelCount() == onDisk->channelCount() &&
                static_cast<std::uint64_t>(onDisk->fileLengthFrames()) == document_->sampleCount(0).v_)
                information = onDisk;
    const ZQ::AudioFileProperties p = ZQ::describeAudioFileProperties(information, path);
    for (std::size_t i = 0; i < p.rows.size() && i < std::size_t(kRows); ++i)
        setName(p.rows[i].first, p.rows[i].second, static_cast<int>(i));
    updateString(p.text);
}

const ZQ::AudioFileInformationData* ZQAudioFilePropertiesPanel::fileInformation(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        readDone_ = false;
        readInformation_.reset();
        return nullptr;
    }
    FileStamp stamp;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim;
    if (readDone_ && path == readPath_ && stamp == readStamp_) return readInformation_.get();
    readDone_ = true;
    readPath_ = path;
    readStamp_ = stamp;
    readInformation_.reset();
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    platform::audio::ExtAudioFile* file = nullptr;
    if (!url || platform::audio::ExtAudioFile::openURL(url.get(), &file) != platform::audio::kNoErr || !file)
        return nullptr;
    Ref<platform::audio::ExtAudioFile> held = Ref<platform::audio::ExtAudioFile>::adopt(file);
    if (!readInformation_.make() || !readInformation_->read(held.get())) readInformation_.reset();
    return readInformation_.get();
}

void ZQAudioFilePropertiesPanel::updateString(const std::string& text) {
    stringDescription_ = text;
}

void ZQAudioFilePropertiesPanel::setName(const std::string& name, const std::string& desc, int row) {
    if (row < 0 || row >= kRows) return;
    const QString n = QString::fromStdString(ZQ::rowNameText(name));
    const QString full = fullValue(ZQ::rowValueText(desc));
    // Unchanged rows are left alone: the timer runs ten times a second.
    if (names_->item(row)->text() != n) names_->item(row)->setText(n);
    if (fullValues_[std::size_t(row)] != full) {
        fullValues_[std::size_t(row)] = full;
        descriptions_->item(row)->setText(oneLine(full));
        updateToolTips();
    }
}

void ZQAudioFilePropertiesPanel::updateToolTips() {
    if (!descriptions_) return;
    // The room the list's items give their text (the style's margin each side).
    const int margin = descriptions_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, descriptions_) + 1;
    const int room = descriptions_->viewport()->width() - 2 * margin;
    const QFontMetrics metrics(descriptions_->font());
    for (int row = 0; row < kRows; ++row) {
        QListWidgetItem* item = descriptions_->item(row);
        const QString& full = fullValues_[std::size_t(row)];
        const bool cut = item->text() != full || metrics.horizontalAdvance(item->text()) > room;
        const QString tip = cut ? full : QString();
        if (item->toolTip() != tip) item->setToolTip(tip);
    }
}

QString ZQAudioFilePropertiesPanel::nameAt(int row) const {
    return row >= 0 && row < kRows ? names_->item(row)->text() : QString();
}

QString ZQAudioFilePropertiesPanel::descAt(int row) const {
    return row >= 0 && row < kRows ? descriptions_->item(row)->text() : QString();
}

QString ZQAudioFilePropertiesPanel::toolTipAt(int row) const {
    return row >= 0 && row < kRows ? descriptions_->item(row)->toolTip() : QString();
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
