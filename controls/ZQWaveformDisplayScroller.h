// The horizontal scroller under the waveforms: a value from 0.0 (the start)
// to 1.0 (the end) and a knob proportion (the visible fraction), both doubles,
// mapped onto the scroll bar's integer range finely enough that the smallest
// scroll step still moves it.
#pragma once

#include <QScrollBar>
#include <functional>

class ZQWaveformDisplayScroller : public QScrollBar {
public:
    using Action = std::function<void(ZQWaveformDisplayScroller*)>;
    // Integer steps the whole range is mapped onto.
    static constexpr int kResolution = 1 << 24;

    explicit ZQWaveformDisplayScroller(QWidget* parent);

    double doubleValue() const { return value_; }
    void setDoubleValue(double value);
    double knobProportion() const { return proportion_; }
    void setKnobProportion(double proportion);
    // What a user's move calls (the target's action); empty: nothing.
    void setAction(Action action) { action_ = std::move(action); }
    const Action& action() const { return action_; }
    // The display controller this scroller serves (not owned).
    void setWaveformDisplayController(void* controller) { controller_ = controller; }
    void* waveformDisplayController() const { return controller_; }

private:
    void map();
    void userMoved(int position);

    double value_ = 0.0;
    double proportion_ = 1.0;
    Action action_;
    void* controller_ = nullptr;
    bool mapping_ = false;
};
