#include "controls/ZQSimpleHorzontalSplitView.h"

#include "controls/Colours.h"
#include "controls/Frames.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

using namespace ZQ;

ZQSimpleHorzontalSplitView::ZQSimpleHorzontalSplitView(QWidget* parent)
    : QWidget(parent), dividerColor_(darkGrayColour()) {
    scroller_ = new QScrollBar(Qt::Vertical, this);
    scroller_->setObjectName(QStringLiteral("channelScroller"));
    scroller_->setFocusPolicy(Qt::NoFocus);
    scroller_->hide();
    connect(scroller_, &QScrollBar::valueChanged, this, [this](int value) { setScrollOffset(value); });
}

void ZQSimpleHorzontalSplitView::setMinimumSubviewHeight(int height) {
    height = std::max(0, height);
    if (height == minimumSubviewHeight_) return;
    minimumSubviewHeight_ = height;
    resizeSubviews();
}

void ZQSimpleHorzontalSplitView::setScrollOffset(int offset) {
    if (offset == offset_) return;
    offset_ = offset; // kept in range by the layout
    resizeSubviews();
}

void ZQSimpleHorzontalSplitView::setDividerThickness(std::uint8_t thickness) {
    const std::uint8_t t = std::min<std::uint8_t>(thickness, 8);
    if (t == dividerThickness_) return;
    dividerThickness_ = t;
    resizeSubviews();
    update();
}

void ZQSimpleHorzontalSplitView::setDrawsDivider(bool draws) {
    if (draws == drawsDivider_) return;
    drawsDivider_ = draws;
    setAttribute(Qt::WA_OpaquePaintEvent, isOpaque());
    resizeSubviews();
    update();
}

void ZQSimpleHorzontalSplitView::setDividerColor(const QColor& colour) {
    dividerColor_ = colour.isValid() ? colour : darkGrayColour();
    setAttribute(Qt::WA_OpaquePaintEvent, isOpaque());
    resizeSubviews();
    update();
}

void ZQSimpleHorzontalSplitView::addSubview(QWidget* view) {
    view->setParent(this);
    subviews_.push_back(view);
    view->show();
}

std::vector<QWidget*> ZQSimpleHorzontalSplitView::subviews() const {
    std::vector<QWidget*> alive;
    for (const QPointer<QWidget>& v : subviews_)
        if (v) alive.push_back(v);
    return alive;
}

bool ZQSimpleHorzontalSplitView::isOpaque() const {
    return drawsDivider_ && dividerColor_.isValid() && dividerColor_.alphaF() >= 0.99999999999999;
}

void ZQSimpleHorzontalSplitView::resizeSubviews() {
    const Frame f = frameOf(this);
    subviews_.erase(
        std::remove_if(subviews_.begin(), subviews_.end(), [](const QPointer<QWidget>& v) { return v.isNull(); }),
        subviews_.end());
    const std::size_t n = subviews_.size();
    if (n == 0) {
        hide();
        return;
    }
    const double t = n == 1 ? 0.0 : dividerThickness_;
    const double total = static_cast<double>(static_cast<std::uint32_t>((n - 1) * t));
    double each = (f.height - total) / static_cast<double>(n);
    // Too short to read: the subviews keep the minimum and scroll instead.
    scrolling_ = minimumSubviewHeight_ > 0 && each < minimumSubviewHeight_;
    double width = f.width;
    if (scrolling_) {
        each = minimumSubviewHeight_;
        const int content = static_cast<int>(std::ceil(each * static_cast<double>(n) + total));
        const int room = static_cast<int>(std::floor(f.height));
        offset_ = std::clamp(offset_, 0, std::max(0, content - room));
        width = std::max(0.0, f.width - kScrollerWidth);
        const QSignalBlocker quiet(scroller_);
        scroller_->setRange(0, std::max(0, content - room));
        scroller_->setPageStep(std::max(1, room));
        scroller_->setSingleStep(std::max(1, static_cast<int>(each / 2)));
        scroller_->setValue(offset_);
        scroller_->setGeometry(static_cast<int>(width), 0, kScrollerWidth, room);
        scroller_->show();
        scroller_->raise();
    } else {
        offset_ = 0;
        scroller_->hide();
    }
    // From the top down (frames count from the bottom), less the scroll.
    double top = -offset_;
    for (QWidget* v : subviews_) {
        setFrame(v, {f.x, f.height - top - each, width, each});
        v->update();
        top += each + t;
    }
    show();
    update();
}

void ZQSimpleHorzontalSplitView::resizeEvent(QResizeEvent*) {
    resizeSubviews();
}

void ZQSimpleHorzontalSplitView::paintEvent(QPaintEvent* event) {
    if (!drawsDivider_ || !dividerColor_.isValid()) return; // the gaps show what lies behind
    QPainter(this).fillRect(event->rect(), dividerColor_);
}
