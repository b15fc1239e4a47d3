// The mouse in a channel view: a press, drag and release select frames in
// the window's state; a press on an edge of the selection grabs that edge;
// a drag past the left or right edge scrolls that way and the selection
// follows; a plain click also puts the play position there; a double click
// on a marker selects up to the next stop. Main thread.
#pragma once

#include "waveform/ChannelGeometry.h"
#include "waveform/WaveformSelection.h"

#include <QPointF>
#include <cstdint>
#include <functional>

class QMouseEvent;
class QTimer;
class QWidget;
class ZQWaveformHost;

class SelectionGesture {
public:
    // `geometry` gives the view's frame <-> column mapping as drawn.
    SelectionGesture(QWidget* view, std::function<ZQ::ChannelGeometry()> geometry);
    ~SelectionGesture();
    SelectionGesture(const SelectionGesture&) = delete;
    SelectionGesture& operator=(const SelectionGesture&) = delete;

    void setHost(ZQWaveformHost* host) { host_ = host; }
    void press(QMouseEvent* event);
    // A move with or without the button (the pointer's shape over an edge).
    void move(QMouseEvent* event);
    void release(QMouseEvent* event);
    // True when the double click was on a marker (and selected from it).
    bool doubleClick(QMouseEvent* event, std::ptrdiff_t marker);
    void stop();

    // The selection's edge within a few pixels of logical `x`: -1 its first
    // frame, 1 its last, 0 none (or an empty selection).
    int edgeNear(double x) const;

private:
    void feed(ZQ::SelectionEventType type, std::uint64_t frame, bool shift);
    void feed(ZQ::SelectionEventType type, QMouseEvent* event);
    void autoScrollStep();

    QWidget* view_;
    std::function<ZQ::ChannelGeometry()> geometry_;
    ZQWaveformHost* host_ = nullptr;
    std::int64_t eventNumber_ = 0;
    QPointF pressedAt_;        // where the left button went down: a release there is a click
    bool grabbedEdge_ = false; // the press took hold of an edge of the selection
    std::uint64_t grabbedIndex_ = 0;
    QPointF dragAt_;             // the pointer during a drag
    bool ignoreRelease_ = false; // a double click on a marker selected already
    QTimer* autoScroll_ = nullptr;
};
