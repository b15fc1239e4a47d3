#include "window/SelectionGesture.h"

#include "window/ZQWaveformHost.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>

using namespace ZQ;

SelectionGesture::SelectionGesture(QWidget* view, std::function<ChannelGeometry()> geometry)
    : view_(view), geometry_(std::move(geometry)) {}

SelectionGesture::~SelectionGesture() {
    stop();
}

void SelectionGesture::stop() {
    if (!autoScroll_) return;
    autoScroll_->stop();
    autoScroll_->deleteLater();
    autoScroll_ = nullptr;
}

int SelectionGesture::edgeNear(double x) const {
    constexpr double kGrab = 3.0; // pixels either side of an edge
    if (!host_) return 0;
    const SampleSelection& s = host_->windowState().selection();
    const ChannelGeometry g = geometry_();
    if (s.max_.v_ <= s.min_.v_ || g.span() == 0 || g.columns <= 1) return 0;
    auto xOf = [&](std::uint64_t i) { return i < g.first || i > g.last ? -1e9 : g.position(i) / g.ratio; };
    const double first = std::fabs(x - xOf(s.min_.v_)), last = std::fabs(x - xOf(s.max_.v_));
    if (first > kGrab && last > kGrab) return 0;
    return first <= last ? -1 : 1;
}

void SelectionGesture::feed(SelectionEventType type, std::uint64_t frame, bool shift) {
    if (!host_) return;
    WindowState& state = host_->windowState();
    SelectionEvent e;
    e.number = eventNumber_;
    e.type = type;
    e.shift = shift;
    e.index = frame;
    if (type == SelectionEventType::LeftMouseDown && !shift && grabbedEdge_) {
        // Dragging an edge moves that edge: the other one is the anchor.
        const SampleSelection& s = state.selection();
        e.hasAnchor = true;
        e.anchor = edgeNear(pressedAt_.x()) < 0 ? s.max_.v_ : s.min_.v_;
    }
    state.handleSelectionEvent(e);
}

void SelectionGesture::feed(SelectionEventType type, QMouseEvent* event) {
    // A grabbed edge stays exactly where it was until the pointer really moves.
    const bool still = grabbedEdge_ && (event->position() - pressedAt_).manhattanLength() < 3.0;
    feed(type, still ? grabbedIndex_ : geometry_().frameAt(event->position().x()),
         event->modifiers() & Qt::ShiftModifier);
}

void SelectionGesture::press(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !host_) return;
    ++eventNumber_; // one gesture per press
    pressedAt_ = dragAt_ = event->position();
    const int edge = event->modifiers() & Qt::ShiftModifier ? 0 : edgeNear(pressedAt_.x());
    grabbedEdge_ = edge != 0;
    if (grabbedEdge_) { // the edge stays where it is until the pointer moves
        const SampleSelection& s = host_->windowState().selection();
        grabbedIndex_ = edge < 0 ? s.min_.v_ : s.max_.v_;
        feed(SelectionEventType::LeftMouseDown, grabbedIndex_, false);
    } else {
        feed(SelectionEventType::LeftMouseDown, event);
    }
}

void SelectionGesture::move(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        // Over an edge of the selection the pointer says that it can be dragged.
        if (edgeNear(event->position().x()) != 0)
            view_->setCursor(Qt::SizeHorCursor);
        else
            view_->unsetCursor();
        return;
    }
    dragAt_ = event->position();
    feed(SelectionEventType::LeftMouseDragged, event);
    const bool outside = dragAt_.x() < 0 || dragAt_.x() > view_->width();
    if (outside && !autoScroll_) {
        autoScroll_ = new QTimer(view_);
        autoScroll_->setInterval(30);
        QObject::connect(autoScroll_, &QTimer::timeout, view_, [this] { autoScrollStep(); });
        autoScroll_->start();
    } else if (!outside) {
        stop();
    }
}

void SelectionGesture::autoScrollStep() {
    const int width = view_->width();
    if (!autoScroll_) return;
    if (!host_ || width <= 0 || !(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        stop();
        return;
    }
    // Faster the further the pointer is past the edge.
    const double beyond = dragAt_.x() < 0 ? dragAt_.x() : dragAt_.x() - width;
    if (beyond == 0) return;
    const double columns = std::clamp(beyond / 2.0, -40.0, 40.0);
    WindowState& state = host_->windowState();
    state.scrollByColumns(columns < 0 ? std::min(columns, -1.0) : std::max(columns, 1.0), width);
    // The selection follows to the frame now at that edge.
    if (state.isEmpty()) return;
    const std::uint64_t first = state.zoom().firstVisibleSample(), shown = state.zoom().numVisibleSamples();
    const std::uint64_t frame = beyond < 0 ? first : std::min(first + (shown == 0 ? 0 : shown - 1), state.length() - 1);
    feed(SelectionEventType::LeftMouseDragged, frame, false);
}

void SelectionGesture::release(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (ignoreRelease_) {
        ignoreRelease_ = false;
        grabbedEdge_ = false;
        return;
    }
    stop();
    feed(SelectionEventType::LeftMouseUp, event);
    // A click (no drag, no Shift, not on an edge of the selection) also puts
    // the play position there: Play starts at the clicked frame, and playing
    // goes on from there.
    const bool click = (event->position() - pressedAt_).manhattanLength() < 3.0 &&
                       !(event->modifiers() & Qt::ShiftModifier) && !grabbedEdge_;
    grabbedEdge_ = false;
    if (click && host_ && !host_->windowState().isEmpty()) host_->locate(geometry_().frameAt(event->position().x()));
}

bool SelectionGesture::doubleClick(QMouseEvent* event, std::ptrdiff_t marker) {
    if (event->button() != Qt::LeftButton || marker < 0 || !host_) return false;
    stop();
    ignoreRelease_ = true; // the release of this click changes nothing
    host_->selectFromMarker(static_cast<std::size_t>(marker));
    return true;
}
