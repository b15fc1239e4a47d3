#include "controls/ZQWaveformDisplayScroller.h"

#include <algorithm>
#include <cmath>

ZQWaveformDisplayScroller::ZQWaveformDisplayScroller(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::NoFocus);
    map();
    connect(this, &QScrollBar::valueChanged, this, [this](int v) {
        if (!mapping_) userMoved(v);
    });
}

void ZQWaveformDisplayScroller::setDoubleValue(double value) {
    value_ = std::clamp(value == value ? value : 0.0, 0.0, 1.0);
    map();
}

void ZQWaveformDisplayScroller::setKnobProportion(double proportion) {
    proportion_ = std::clamp(proportion == proportion ? proportion : 1.0, 0.0, 1.0);
    map();
}

void ZQWaveformDisplayScroller::map() {
    mapping_ = true;
    const int page = std::max(1, static_cast<int>(std::lround(proportion_ * kResolution)));
    const int range = std::max(0, kResolution - page);
    setRange(0, range);
    setPageStep(page);
    // A line step of 2 % of the range, as the scroller's own step.
    setSingleStep(std::max(1, static_cast<int>(std::lround(0.02 * range))));
    setValue(static_cast<int>(std::lround(value_ * range)));
    mapping_ = false;
}

void ZQWaveformDisplayScroller::userMoved(int position) {
    value_ = maximum() > 0 ? static_cast<double>(position) / maximum() : 0.0;
    if (action_) action_(this);
}
