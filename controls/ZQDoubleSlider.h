// A slider with a double value over a fine integer range (2^20 steps), so
// that every change the zoom settings notice (1/65536) can be shown and made.
#pragma once

#include <QSlider>
#include <functional>

class ZQDoubleSlider : public QSlider {
public:
    using Action = std::function<void(ZQDoubleSlider*)>;
    static constexpr int kSteps = 1 << 20;

    ZQDoubleSlider(Qt::Orientation orientation, QWidget* parent);

    void setMinValue(double v);
    void setMaxValue(double v);
    double minValue() const { return min_; }
    double maxValue() const { return max_; }
    double doubleValue() const { return value_; }
    void setDoubleValue(double v);
    // Called on every move by the user (the slider is continuous).
    void setAction(Action action) { action_ = std::move(action); }

private:
    void map();
    double min_ = 0.0, max_ = 1.0, value_ = 0.0;
    Action action_;
    bool mapping_ = false;
};
