#include "controls/NumericDisplays.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <algorithm>

void ZQWaveformDisplayUserInterfaceControlStyles::setNumericDisplayAppearance(QLabel* field) {
    if (!field) return;
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont font = field->font();
    font.setPixelSize(13);
    font.setBold(true);
    field->setFont(font);
    field->setAutoFillBackground(false);
    field->setFrameShape(QFrame::NoFrame);
    QPalette p = field->palette();
    p.setColor(QPalette::WindowText, QColor::fromRgbF(0.0, 0.0, 0.0, 0.85));
    field->setPalette(p);
}

namespace {
// An empty string, the look, then the first text; not editable or selectable,
// one line.
void initialise(QLabel* field, const char* text) {
    field->setText(QString());
    ZQWaveformDisplayUserInterfaceControlStyles::setNumericDisplayAppearance(field);
    field->setText(text);
    field->setTextFormat(Qt::PlainText);
    field->setTextInteractionFlags(Qt::NoTextInteraction);
    field->setWordWrap(false);
}
} // namespace

ZQNumericDisplay::ZQNumericDisplay(QWidget* parent) : QLabel(parent) {}

void ZQNumericDisplay::setElideMode(Qt::TextElideMode mode) {
    if (mode == elideMode_) return;
    elideMode_ = mode;
    update();
}

QRect ZQNumericDisplay::textRect() const {
    // As QLabel lays out a line of plain text.
    QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    int inset = indent();
    if (inset < 0 && frameWidth() > 0) inset = fontMetrics().horizontalAdvance(u'x') / 2 - margin();
    if (inset > 0) {
        const Qt::Alignment a = QStyle::visualAlignment(layoutDirection(), alignment());
        if (a & Qt::AlignLeft) r.setLeft(r.left() + inset);
        if (a & Qt::AlignRight) r.setRight(r.right() - inset);
    }
    return r;
}

int ZQNumericDisplay::chrome() const {
    return width() - textRect().width();
}

QString ZQNumericDisplay::shownText() const {
    const QString whole = text();
    return fontMetrics().elidedText(whole, elideMode_, std::max(0, textRect().width()));
}

int ZQNumericDisplay::widthFor(const QString& text) const {
    return fontMetrics().horizontalAdvance(text) + chrome();
}

QString ZQNumericDisplay::effectiveToolTip() const {
    const QString own = toolTip();
    if (!isElided() || own.contains(text())) return own;
    return own.isEmpty() ? text() : text() + u'\n' + own;
}

QSize ZQNumericDisplay::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("\u2026")) + chrome(), QLabel::minimumSizeHint().height()};
}

void ZQNumericDisplay::paintEvent(QPaintEvent* event) {
    const QString shown = shownText();
    if (shown == text()) return QLabel::paintEvent(event);
    QPainter painter(this);
    drawFrame(&painter);
    const int flags = int(QStyle::visualAlignment(layoutDirection(), alignment())) | Qt::TextForceLeftToRight;
    style()->drawItemText(&painter, textRect(), flags, palette(), isEnabled(), shown, foregroundRole());
}

bool ZQNumericDisplay::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip || !isElided()) return QLabel::event(event);
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), effectiveToolTip(), this);
    return true;
}

ZQHMSDisplay::ZQHMSDisplay(QWidget* parent) : ZQNumericDisplay(parent) {
    initialise(this, "--:--:--.---");
}

void ZQHMSDisplay::setHMSValue(const ZQ::HMSTime* time) {
    const ZQ::HMSTime zero;
    const std::string text = prefix_ + ZQ::hmsText(time ? *time : zero);
    updateStringValue(&text);
}

void ZQHMSDisplay::updateStringValue(const std::string* text) {
    const QString s = QString::fromStdString(text ? *text : std::string("--:--:--.---"));
    if (s != this->text()) setText(s); // an unchanged text needs no redraw
}

void ZQHMSDisplay::mousePressEvent(QMouseEvent*) {
    if (action_) action_(this);
}

ZQSampleCountDisplay::ZQSampleCountDisplay(QWidget* parent) : ZQNumericDisplay(parent) {
    initialise(this, "--/--");
}

void ZQSampleCountDisplay::setRange(const ZQ::Num::SampleRange* range) {
    if (!range) return;
    std::lock_guard<std::recursive_mutex> g(monitor_);
    if (*range == range_ && hasBeenInitialized_) return;
    range_ = *range;
    refresh();
    hasBeenInitialized_ = true;
}

ZQ::Num::SampleRange ZQSampleCountDisplay::range() const {
    std::lock_guard<std::recursive_mutex> g(monitor_);
    return range_;
}

void ZQSampleCountDisplay::setPrefix(const std::string& prefix) {
    std::lock_guard<std::recursive_mutex> g(monitor_);
    prefix_ = prefix;
    refresh();
}

void ZQSampleCountDisplay::setSuffix(const std::string& suffix) {
    std::lock_guard<std::recursive_mutex> g(monitor_);
    suffix_ = suffix;
    refresh();
}

void ZQSampleCountDisplay::setAllowsZeroLengthRange(bool allows) {
    std::lock_guard<std::recursive_mutex> g(monitor_);
    allowsZeroLengthRange_ = allows;
}

void ZQSampleCountDisplay::setFormatter(std::function<std::string(const ZQ::Num::SampleRange&)> formatter) {
    std::lock_guard<std::recursive_mutex> g(monitor_);
    formatter_ = std::move(formatter);
    refresh();
}

void ZQSampleCountDisplay::refresh() {
    const QString text = QString::fromStdString(
        formatter_ ? formatter_(range_) : ZQ::sampleCountText(range_, prefix_, suffix_, allowsZeroLengthRange_));
    if (text != this->text()) setText(text);
}
