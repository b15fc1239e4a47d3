#include "controls/ZQDoubleSlider.h"

#include <algorithm>
#include <cmath>

ZQDoubleSlider::ZQDoubleSlider(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {
    setFocusPolicy(Qt::NoFocus);
    setRange(0, kSteps);
    setTracking(true);
    connect(this, &QSlider::valueChanged, this, [this](int v) {
        if (mapping_) return;
        value_ = min_ + (max_ - min_) * static_cast<double>(v) / kSteps;
        if (action_) action_(this);
    });
}

void ZQDoubleSlider::setMinValue(double v) {
    min_ = v;
    map();
}
void ZQDoubleSlider::setMaxValue(double v) {
    max_ = v;
    map();
}
void ZQDoubleSlider::setDoubleValue(double v) {
    value_ = std::clamp(v == v ? v : min_, std::min(min_, max_), std::max(min_, max_));
    map();
}

void ZQDoubleSlider::map() {
    mapping_ = true;
    const double span = max_ - min_;
    setValue(span != 0 ? static_cast<int>(std::lround((value_ - min_) / span * kSteps)) : 0);
    mapping_ = false;
}
