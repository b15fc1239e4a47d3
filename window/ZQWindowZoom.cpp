#include "window/ZQWindowZoom.h"

#include <algorithm>
#include <cmath>

using namespace ZQ;

void ZQWindowZoom::build(QWidget* parent, const Frame& S, void* owner) {
    // The small scroller's width, and one point more.
    const double w = 11 + 1;

    vertical_ = new ZQDoubleSlider(Qt::Vertical, parent);
    placeChild(vertical_, {S.width, S.y, 0, S.height}, kMinXMargin | kHeightSizable);
    vertical_->setMinValue(0.5);
    vertical_->setMaxValue(16.0);
    vertical_->setDoubleValue(1.0);
    vertical_->setAction([this](ZQDoubleSlider* s) { changeVerticalZoom(s); });
    vertical_->setAccessibleName(QStringLiteral("Amplitude zoom"));
    vertical_->setHidden(true);

    horizontal_ = new ZQDoubleSlider(Qt::Horizontal, parent);
    placeChild(horizontal_, {S.x + 16, S.y - w - 15, S.width - 32, 20}, kWidthSizable | kMaxYMargin);
    horizontal_->setMinValue(0.0);
    horizontal_->setMaxValue(1.0);
    horizontal_->setDoubleValue(0.0);
    horizontal_->setAction([this](ZQDoubleSlider* s) { changeHorizontalZoom(s); });
    horizontal_->setAccessibleName(QStringLiteral("Zoom"));
    horizontal_->setFocusPolicy(Qt::TabFocus);

    zoomOutEntirely();

    scroller_ = new ZQWaveformDisplayScroller(parent);
    placeChild(scroller_, {S.x, S.y - w, S.width, w}, kWidthSizable | kMaxYMargin);
    scroller_->setWaveformDisplayController(owner);
    scroller_->setKnobProportion(1.0);
    scroller_->setDoubleValue(0.0);
    scroller_->setAction([this](ZQWaveformDisplayScroller* s) { changeHorizontalScroll(s); });
    scroller_->setAccessibleName(QStringLiteral("Position in the file"));
    scroller_->setFocusPolicy(Qt::TabFocus);
}

void ZQWindowZoom::placeVerticalSlider(double x, double bottom, double height) {
    if (vertical_) setFrame(vertical_, {x, bottom, 0, height});
}

void ZQWindowZoom::sync() {
    const WaveformZoomSettings& z = state_.zoom();
    if (horizontal_) horizontal_->setDoubleValue(sliderValueForZoom(z.horizontalZoom.v_));
    if (vertical_) vertical_->setDoubleValue(z.verticalZoom.v_);
    if (ZQWaveformDisplayScroller* s = scroller_) {
        // Without its action while it is set, so that setting it scrolls nothing.
        ZQWaveformDisplayScroller::Action action = s->action();
        s->setAction({});
        s->setDoubleValue(z.horizontalScroll.v_);
        s->setKnobProportion(z.horizontalZoom.v_);
        s->setAction(action);
    }
}

void ZQWindowZoom::setHorizontalZoom(double zoom, bool updateControls) {
    constexpr double kDeepest = static_cast<double>(1e-27f);
    state_.zoom().setHorizontalZoom(std::clamp(zoom, kDeepest, 1.0));
    // The slider runs from the whole file (0) to the deepest zoom (1).
    if (updateControls && horizontal_) horizontal_->setDoubleValue(sliderValueForZoom(state_.zoom().horizontalZoom.v_));
}

// The slider's travel is logarithmic: equal movements zoom by equal factors,
// from the whole file at 0 to the deepest zoom at 1.
double ZQWindowZoom::sliderValueForZoom(double zoom) const {
    const double deepest = state_.deepestZoom();
    if (deepest >= 1.0 || !(zoom > 0)) return 0.0;
    return std::clamp(std::log(zoom) / std::log(deepest), 0.0, 1.0);
}

double ZQWindowZoom::zoomForSliderValue(double value) const {
    const double deepest = state_.deepestZoom();
    if (deepest >= 1.0) return 1.0;
    return std::exp(std::clamp(value, 0.0, 1.0) * std::log(deepest));
}

void ZQWindowZoom::setVerticalZoom(double zoom, bool updateControls) {
    state_.zoom().setVerticalZoom(std::clamp(zoom == zoom ? zoom : 1.0, 0.5, 16.0));
    if (updateControls && vertical_) vertical_->setDoubleValue(state_.zoom().verticalZoom.v_);
}

void ZQWindowZoom::changeHorizontalZoom(ZQDoubleSlider* sender) {
    if (!sender) return;
    // The view's centre stays in place, as with the zoom commands.
    const double wanted = zoomForSliderValue(sender->doubleValue());
    const double now = state_.zoom().horizontalZoom.v_;
    if (hasViews() && now > 0 && wanted != now) state_.zoomAround(wanted / now, 0.5);
}

void ZQWindowZoom::changeVerticalZoom(ZQDoubleSlider* sender) {
    if (sender) setVerticalZoom(sender->doubleValue(), false);
}

void ZQWindowZoom::changeHorizontalScroll(ZQWaveformDisplayScroller* sender) {
    if (sender) state_.zoom().setHorizontalScroll(sender->doubleValue());
}

void ZQWindowZoom::zoomKeepingPlace(double factor) {
    if (!hasViews()) return;
    const WaveformZoomSettings& z = state_.zoom();
    const double first = double(z.firstVisibleSample()), shown = double(z.numVisibleSamples());
    // The play position stays where it is on screen when it is in view;
    // otherwise the centre of the view does.
    const double at = double(state_.playPosition());
    const bool inView = shown > 0 && at >= first && at < first + shown;
    state_.zoomAround(factor, inView ? (at - first) / shown : 0.5);
}

void ZQWindowZoom::zoomAmplitudeIn() {
    if (hasViews()) state_.zoom().zoomAmplitudeIn();
}
void ZQWindowZoom::zoomAmplitudeOut() {
    if (hasViews()) state_.zoom().zoomAmplitudeOut();
}

void ZQWindowZoom::zoomOutEntirely() {
    setHorizontalZoom(horizontal_ ? horizontal_->maxValue() : 1.0, true);
    setVerticalZoom(vertical_ ? vertical_->minValue() : 0.5, true);
    state_.zoom().zoomOutEntirely();
}

void ZQWindowZoom::scrollAction(unsigned part, bool isVertical) {
    if (isVertical || !scroller_) return;
    double value = scroller_->doubleValue();
    if (part == 4) value -= 0.02;
    if (part == 5) value += 0.02;
    state_.zoom().setHorizontalScroll(std::clamp(value, 0.0, 1.0));
}

bool ZQWindowZoom::canZoomIn() const {
    const WaveformZoomSettings& z = state_.zoom();
    return hasViews() && !state_.isEmpty() && z.horizontalZoom.v_ > z.horizontalZoomRange.min_ * (1 + 1e-9);
}

bool ZQWindowZoom::canZoomOut() const {
    return hasViews() && state_.zoom().horizontalZoom.v_ < 1.0;
}

// The amplitude zoom changes the traces only: a window showing spectrograms
// alone has nothing it would change.
bool ZQWindowZoom::canZoomAmplitudeIn() const {
    const WaveformZoomSettings& z = state_.zoom();
    return window_.showsTraces && window_.showsTraces() && !state_.isEmpty() &&
           z.verticalZoom.v_ < z.verticalZoomRange.max_;
}

bool ZQWindowZoom::canZoomAmplitudeOut() const {
    const WaveformZoomSettings& z = state_.zoom();
    return window_.showsTraces && window_.showsTraces() && !state_.isEmpty() &&
           z.verticalZoom.v_ > z.verticalZoomRange.min_;
}

bool ZQWindowZoom::canZoomOutEntirely() const {
    const WaveformZoomSettings& z = state_.zoom();
    return hasViews() && (z.horizontalZoom.v_ < 1.0 || z.verticalZoom.v_ != 1.0);
}

void ZQWindowZoom::clear() {
    vertical_ = horizontal_ = nullptr;
    scroller_ = nullptr;
}
