#include "controls/ZQRoundedBox.h"

#include "controls/Frames.h"

#include <QPainter>
#include <QPainterPath>

using namespace ZQ;

ZQRoundedBox::ZQRoundedBox(QWidget* parent) : QWidget(parent), content_(new QWidget(this)) {
    placeContent();
}

void ZQRoundedBox::placeContent() {
    const double inX = borderWidth_ + margins_.width(), inY = borderWidth_ + margins_.height();
    placeChild(content_, {inX, inY, std::max(0.0, width() - 2 * inX), std::max(0.0, height() - 2 * inY)},
               kWidthSizable | kHeightSizable);
}

void ZQRoundedBox::setFillColor(const QColor& c) {
    fill_ = c;
    update();
}
void ZQRoundedBox::setBorderColor(const QColor& c) {
    border_ = c;
    update();
}
void ZQRoundedBox::setBorderWidth(double w) {
    borderWidth_ = w;
    placeContent();
    update();
}
void ZQRoundedBox::setCornerRadius(double r) {
    radius_ = r;
    update();
}
void ZQRoundedBox::setContentViewMargins(const QSizeF& margins) {
    margins_ = margins;
    placeContent();
}

void ZQRoundedBox::sizeToFit() {
    double right = 0, top = 0;
    for (QObject* o : content_->children())
        if (auto* w = qobject_cast<QWidget*>(o)) {
            const Frame f = frameOf(w);
            right = std::max(right, f.x + f.width);
            top = std::max(top, f.y + f.height);
        }
    const double inX = borderWidth_ + margins_.width(), inY = borderWidth_ + margins_.height();
    Frame f = frameOf(this);
    f.width = right + 2 * inX;
    f.height = top + 2 * inY;
    // Fitting keeps the children where they are in the content view.
    const Frame inner{inX, inY, right, top};
    setFrame(this, f);
    placeChild(content_, inner, kWidthSizable | kHeightSizable);
}

void ZQRoundedBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const double half = borderWidth_ / 2;
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), radius_, radius_);
    p.fillPath(path, fill_);
    if (borderWidth_ > 0) {
        p.setPen(QPen(border_, borderWidth_));
        p.drawPath(path);
    }
}
