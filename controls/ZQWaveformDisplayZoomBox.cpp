#include "controls/ZQWaveformDisplayZoomBox.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <cmath>

ZQWaveformDisplayZoomBox::ZQWaveformDisplayZoomBox(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
}

void ZQWaveformDisplayZoomBox::invalidate() {
    horizontalZoomTrackingEnabled_ = false;
    controllerValueH_ = controllerValueV_ = trackingX_ = trackingY_ = kUntracked;
}

void ZQWaveformDisplayZoomBox::zoomWaveform(EventType type, Qt::KeyboardModifiers modifiers, double x, double y) {
    if (!controller_) return;
    switch (type) {
    case EventType::LeftMouseDown:
        trackingX_ = x;
        trackingY_ = y;
        if (modifiers & Qt::AltModifier) {
            controller_->zoomOutEntirely();
        } else {
            controllerValueH_ = controller_->horizontalZoom();
            controllerValueV_ = controller_->verticalZoom();
        }
        break;
    case EventType::LeftMouseUp:
        invalidate();
        break;
    case EventType::LeftMouseDragged: {
        if (!(trackingX_ > kUntracked)) break;
        const double dx = x - trackingX_, dy = y - trackingY_;
        const bool command = modifiers & Qt::ControlModifier;
        if (std::fabs(dx) > static_cast<double>(1e-7f)) {
            controller_->scrollAction(dx >= 0 ? 5 : 4, command);
            trackingX_ = x;
        }
        if (dy >= -128 && dy <= 128 && !horizontalZoomTrackingEnabled_) break; // the dead zone
        horizontalZoomTrackingEnabled_ = true;
        const bool fine = modifiers & Qt::MetaModifier;
        if (command)
            controller_->setVerticalZoom(controllerValueV_ + dy * (fine ? 0.03125 : 0.5) * 0.00125, true);
        else
            controller_->setHorizontalZoom(controllerValueH_ + dy * (fine ? 0.03125 : 1.0) * 0.00125, true);
        break;
    }
    default:
        break;
    }
}

void ZQWaveformDisplayZoomBox::feed(EventType type, QMouseEvent* event) {
    // Screen coordinates with y upwards, as the zoom box measures drags.
    const QPointF global = event->globalPosition();
    const QScreen* screen = QGuiApplication::screenAt(global.toPoint());
    const double height = screen ? screen->geometry().bottom() + 1 : 0;
    zoomWaveform(type, event->modifiers(), global.x(), height - global.y());
}

void ZQWaveformDisplayZoomBox::mousePressEvent(QMouseEvent* event) {
    invalidate();
    if (event->button() == Qt::LeftButton) feed(EventType::LeftMouseDown, event);
    QLineEdit::mousePressEvent(event);
}

void ZQWaveformDisplayZoomBox::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) feed(EventType::LeftMouseDragged, event);
    QLineEdit::mouseMoveEvent(event);
}

void ZQWaveformDisplayZoomBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) feed(EventType::LeftMouseUp, event);
    invalidate();
    QLineEdit::mouseReleaseEvent(event);
}
