#include "controls/ZQSimpleHorzontalSplitView.h"

#include "controls/Colours.h"
#include "controls/Frames.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

using namespace ZQ;

ZQSimpleHorzontalSplitView::ZQSimpleHorzontalSplitView(QWidget* parent)
    : QWidget(parent), dividerColor_(darkGrayColour()) {}

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
    if (n == 1) {
        setFrame(subviews_[0], {f.x, 0, f.width, f.height});
        subviews_[0]->update();
    } else {
        const double t = dividerThickness_;
        const double total = static_cast<double>(static_cast<std::uint32_t>((n - 1) * t));
        const double each = (f.height - total) / static_cast<double>(n);
        double y = f.height;
        for (QWidget* v : subviews_) {
            y -= each;
            setFrame(v, {f.x, y, f.width, each});
            v->update();
            y -= t;
        }
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
