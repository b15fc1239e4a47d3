#include "controls/ZQTransportButton.h"

#include "controls/Colours.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

using namespace ZQ;

ZQTransportButton::ZQTransportButton(const QString& title, QWidget* parent) : QPushButton(title, parent) {
    setCheckable(true);
    // Tab reaches it (Return presses it); a click does not take the focus
    // from where the keys were.
    setFocusPolicy(Qt::TabFocus);
    setAutoDefault(false);
    QFont f = font();
    f.setPixelSize(13);
    setFont(f);
}

void ZQTransportButton::performClick() {
    if (isEnabled() && action_) action_(this);
}

void ZQTransportButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QPushButton::mousePressEvent(event);
    event->accept();
    performClick(); // at once: the press is the click
}

void ZQTransportButton::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void ZQTransportButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString title = option.text;
    option.text.clear();
    p.drawControl(QStyle::CE_PushButton, option);
    // The title with a soft bluish glow around it, raised by 3 pixels.
    const QRect r = rect().adjusted(0, 0, 0, -3);
    QColor glow = calibratedRGB(0.7, 0.7, 1.0, 0.4);
    glow.setAlphaF(0.4 / 3);
    p.setPen(glow);
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (dx || dy) p.drawText(r.translated(dx, dy), Qt::AlignCenter, title);
    QColor text = calibratedWhite(0.1, 1.0);
    if (!isEnabled()) text.setAlphaF(0.35);
    p.setPen(text);
    p.drawText(r, Qt::AlignCenter, title);
    if (hasFocus() && keyboardFocus_) { // where the keyboard took the focus
        QPen pen(calibratedWhite(0.15, 0.8));
        pen.setStyle(Qt::DotLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(2, 2, -3, -3));
    }
}

void ZQTransportButton::focusInEvent(QFocusEvent* event) {
    QPushButton::focusInEvent(event);
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
}

void ZQTransportButton::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    keyboardFocus_ = false;
}

void ZQTransportButton::keyPressEvent(QKeyEvent* event) {
    // Space belongs to the window (play and stop); Return and Enter press
    // the button in focus, as a press of the mouse does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        performClick();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}
