#include "controls/ZQChannelToggle.h"

#include <QPainter>

ZQChannelToggle::ZQChannelToggle(const QString& letter, const QColor& on, QWidget* parent)
    : QToolButton(parent), on_(on) {
    setText(letter);
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    QFont f = font();
    f.setPixelSize(9);
    f.setBold(true);
    setFont(f);
}

void ZQChannelToggle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool on = isChecked(), pointed = underMouse() && isEnabled();
    // The border brightens under the pointer and while pressed.
    p.setPen(QColor(255, 255, 255, isDown() ? 200 : pointed ? 140 : 70));
    p.setBrush(on ? on_ : QColor(0, 0, 0, 90));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    p.setPen(on ? QColor(Qt::black) : QColor(255, 255, 255, isEnabled() ? 150 : 80));
    p.drawText(rect(), Qt::AlignCenter, text());
}

void ZQChannelToggle::enterEvent(QEnterEvent* event) {
    QToolButton::enterEvent(event);
    update();
}

void ZQChannelToggle::leaveEvent(QEvent* event) {
    QToolButton::leaveEvent(event);
    update();
}
