// The strip above the channel views: a time scale that follows their zoom
// and scroll (ticks and labels from ZQ::TimeRuler, drawn per device pixel),
// the selection as a tint, and, when the document has markers, a lane of
// marker names above the scale with each marker's line through it. A click
// puts the play position there, as a click in a view does; a click on a
// marker in the lane goes to it and chooses it (Delete removes it), a drag
// moves it (or a region's edge) to the frame under the pointer, with that
// time shown while dragging; a double click on a name renames it in place
// (Enter keeps, Escape cancels), on a line selects up to the next marker;
// its context menu renames or deletes it. It draws in time proportional to
// its width and the markers in view.
#pragma once

#include "waveform/TimeRuler.h"

#include <QLineEdit>
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
    ~ZQTimeRuler() override;
    ZQWaveformDisplayController* controller() const { return controller_; }
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
    // The marker each drawn name belongs to.
    const std::vector<std::size_t>& labelledMarkers() const { return labelledMarkers_; }
    // While a marker is dragged: the text shown beside it ("" otherwise).
    const QString& dragText() const { return dragText_; }
    // Renames the marker `index` in place: an editor over its name.
    void beginRename(std::size_t index);
    QLineEdit* nameEditor() const { return editor_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The first channel view, which all views follow, and its left edge in
    // this widget's coordinates.
    ZQWaveform* view(int* left = nullptr) const;
    // The marker whose line or name is under `x` (logical, this widget), or -1.
    std::ptrdiff_t markerAt(double x) const;
    // The region whose end line is within a few pixels of `x`, or -1.
    std::ptrdiff_t regionEndAt(double x) const;
    // The frame under `x` (logical, this widget), within the file.
    std::uint64_t frameAt(double x) const;
    void endRename(bool keep);

    ZQWaveformDisplayController* controller_; // not owned; null once detached
    bool markerLane_ = false;
    std::vector<ZQ::TimeRuler::Tick> ticks_;
    std::vector<QRect> labels_, markerLabels_;
    std::vector<std::size_t> labelledMarkers_; // the marker of each name drawn
    // A press on a marker in the lane: which, which edge, and where; a drag
    // once the pointer has gone a few pixels.
    struct Drag {
        std::ptrdiff_t index = -1;
        int edge = 0;
        double pressX = 0;
        bool moving = false;
        std::uint64_t frame = 0;
    } drag_;
    QString dragText_;
    QPointer<QLineEdit> editor_;
    std::size_t editing_ = 0; // the marker the editor renames
};
