// The strip above the channel views: a time scale that follows their zoom
// and scroll (ticks and labels from ZQ::TimeRuler, drawn per device pixel),
// the selection as a tint, and, when the document has markers, a lane of
// marker names above the scale with each marker's line through it. A click
// puts the play position there, as a click in a view does; a click on a
// marker's name goes to the marker, a double click selects up to the next
// one. It draws in time proportional to its width and the markers in view.
#pragma once

#include "waveform/TimeRuler.h"

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <vector>

class ZQWaveform;
class ZQWaveformDisplayController;

class ZQTimeRuler final : public QWidget {
public:
    static constexpr int kScaleHeight = 20;      // the time scale
    static constexpr int kMarkerLaneHeight = 14; // the marker names above it

    ZQTimeRuler(QWidget* parent, ZQWaveformDisplayController* controller);
    // The controller is going: nothing is drawn from it any more.
    void detach();
    // The height it needs now: the scale, and the lane when there are markers.
    int preferredHeight() const;
    bool showsMarkerLane() const { return markerLane_; }
    void setShowsMarkerLane(bool shows);

    // What the last paint drew, in device pixels from the views' left edge
    // (tests look at these beside the pixels).
    const std::vector<ZQ::TimeRuler::Tick>& drawnTicks() const { return ticks_; }
    const std::vector<QRect>& drawnLabels() const { return labels_; }
    const std::vector<QRect>& drawnMarkerLabels() const { return markerLabels_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The first channel view, which all views follow, and its left edge in
    // this widget's coordinates.
    ZQWaveform* view(int* left = nullptr) const;
    // The marker whose line or name is under `x` (logical, this widget), or -1.
    std::ptrdiff_t markerAt(double x) const;

    ZQWaveformDisplayController* controller_; // not owned; null once detached
    bool markerLane_ = false;
    std::vector<ZQ::TimeRuler::Tick> ticks_;
    std::vector<QRect> labels_, markerLabels_;
    std::vector<std::size_t> labelledMarkers_; // the marker of each name drawn
};
