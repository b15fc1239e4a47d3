// Places child widgets the way the window was designed: a frame with its
// origin at the parent's bottom left and y upwards, plus an autoresizing mask
// that says which margins and sizes follow the parent when it resizes. The
// frame is converted to Qt's top-left coordinates here and nowhere else, and
// kept up to date on every resize of the parent.
#pragma once

class QWidget;

namespace ZQ {

// A rectangle with its origin at the bottom left, y upwards.
struct Frame {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Frame&) const = default;
};

enum AutoresizingMask : unsigned {
    kNotSizable = 0,
    kMinXMargin = 1, // the left margin follows the parent
    kWidthSizable = 2,
    kMaxXMargin = 4, // the right margin follows the parent
    kMinYMargin = 8, // the bottom margin follows the parent
    kHeightSizable = 16,
    kMaxYMargin = 32, // the top margin follows the parent
};

// Places `child` (a child of its parent already) at `frame` in its parent's
// bounds and keeps it placed by `mask` whenever the parent resizes.
void placeChild(QWidget* child, const Frame& frame, unsigned mask);
// Moves a placed child (or places it with its current mask, 0 at first).
void setFrame(QWidget* child, const Frame& frame);
// The child's frame as last placed or resized (from its geometry when it was
// never placed).
Frame frameOf(const QWidget* child);
unsigned autoresizingMaskOf(const QWidget* child);
// The parent's bounds as a frame: (0, 0, width, height).
Frame boundsOf(const QWidget* parent);

// How a frame follows a parent that changes from `from` to `to` (width and
// height); the rules of the mask, with a change shared among several
// flexible parts in proportion to their sizes.
Frame autoresized(const Frame& frame, unsigned mask, double fromWidth, double fromHeight, double toWidth,
                  double toHeight);

} // namespace ZQ
