// A text field that turns mouse drags into zoom and scroll commands for a
// display controller: sideways movement scrolls a step per event, a vertical
// drag beyond a 128-point dead zone zooms by the total distance from the
// press. Alt-click zooms out entirely. Modifiers as a Linux desktop spells
// them: Ctrl where the original used Command, Meta for Control.
#pragma once

#include <QLineEdit>

// What the zoom box drives.
class ZQZoomBoxController {
public:
    virtual double horizontalZoom() = 0;
    virtual double verticalZoom() = 0;
    virtual void zoomOutEntirely() = 0;
    virtual void scrollAction(unsigned part, bool isVertical) = 0;
    virtual void setHorizontalZoom(double zoom, bool updateControls) = 0;
    virtual void setVerticalZoom(double zoom, bool updateControls) = 0;

protected:
    ~ZQZoomBoxController() = default;
};

class ZQWaveformDisplayZoomBox : public QLineEdit {
public:
    // The value of the tracked doubles while no drag is tracked.
    static constexpr double kUntracked = static_cast<double>(-99999.296875f);

    explicit ZQWaveformDisplayZoomBox(QWidget* parent);
    void setController(ZQZoomBoxController* controller) { controller_ = controller; }
    void invalidate();

    enum class EventType { LeftMouseDown = 1, LeftMouseUp = 2, LeftMouseDragged = 6, Other = 0 };
    // One event with the mouse at (x, y) in screen coordinates, y upwards.
    void zoomWaveform(EventType type, Qt::KeyboardModifiers modifiers, double x, double y);

    double trackingX() const { return trackingX_; }
    double trackingY() const { return trackingY_; }
    bool horizontalZoomTrackingEnabled() const { return horizontalZoomTrackingEnabled_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void feed(EventType type, QMouseEvent* event);

    ZQZoomBoxController* controller_ = nullptr; // not owned
    double trackingX_ = kUntracked, trackingY_ = kUntracked;
    double controllerValueH_ = kUntracked, controllerValueV_ = kUntracked;
    bool horizontalZoomTrackingEnabled_ = false;
};
