#include "window/ZQWaveformLayers.h"

#include "controls/Colours.h"
#include "window/ZQWaveform.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

using namespace ZQ;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

const QColor& defaultSelectionColour() {
    static const QColor c = calibratedWhite(1.0, 0.12);
    return c;
}
const QColor& playheadColour() {
    static const QColor c = calibratedWhite(1.0, 0.5);
    return c;
}

// Paints a layer's rectangle: "plus" on dark backgrounds, as the layers are
// described; on light ones the same strength darkens by multiplying.
void paintOverlay(QPainter& p, const QRectF& r, const QColor& colour, bool light) {
    if (!light) {
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        p.fillRect(r, colour);
        return;
    }
    const double keep = 1.0 - std::min(0.85, 1.5 * colour.alphaF());
    p.setCompositionMode(QPainter::CompositionMode_Multiply);
    p.fillRect(r, QColor::fromRgbF(keep, keep, keep, 1.0));
}

} // namespace

ZQWaveformViewSubview::ZQWaveformViewSubview(ZQWaveform* waveform) : QWidget(waveform), waveform_(waveform) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

const IndexRange* ZQWaveformViewSubview::visibleRange() const {
    Guard g(lock_);
    return waveform_ ? &waveform_->visibleRange() : nullptr;
}

std::uint64_t ZQWaveformViewSubview::presentPlaybackPosition() const {
    Guard g(lock_);
    return waveform_ ? waveform_->presentPlaybackPosition() : 0;
}

void ZQWaveformViewSubview::documentWillClose() {
    Guard g(lock_);
    waveform_ = nullptr;
}

ZQWaveformSelectionOverlay* ZQWaveformSelectionOverlay::initWithFrame(const Frame& frame, ZQWaveform* waveform) {
    if (!waveform) return nullptr;
    auto* o = new ZQWaveformSelectionOverlay(waveform);
    o->color_ = defaultSelectionColour();
    placeChild(o, frame, kWidthSizable | kHeightSizable);
    return o;
}

void ZQWaveformSelectionOverlay::setColor(const QColor& colour) {
    color_ = colour.isValid() ? colour : defaultSelectionColour();
    update();
}

const SampleSelection* ZQWaveformSelectionOverlay::selection() const {
    Guard g(lock_);
    return waveform_ ? &waveform_->selection() : nullptr;
}

QRect ZQWaveformSelectionOverlay::bandRect() const {
    Guard g(lock_);
    if (!color_.isValid()) return {};
    if (!waveform_) return rect();
    const ChannelGeometry geometry = waveform_->drawnGeometry();
    const SampleSelection& s = waveform_->selection();
    // From the column of its first frame through the column of its last (an
    // empty selection is the one column of its frame), as the play line and
    // the ruler place them.
    const ChannelGeometry::Span span = geometry.span(s.min_.v_, s.max_.v_);
    if (span.empty()) return {};
    return QRect(span.from, 0, span.to - span.from, int(std::lround(height() * devicePixelRatioF())));
}

QRect ZQWaveformSelectionOverlay::logical(const QRect& device) const {
    if (device.isEmpty()) return {};
    const qreal ratio = devicePixelRatioF();
    const int left = static_cast<int>(std::floor(device.left() / ratio));
    const int right = static_cast<int>(std::ceil((device.right() + 1) / ratio));
    return QRect(left, 0, right - left, height());
}

void ZQWaveformSelectionOverlay::playbackTimerTick() {
    const QRect now = bandRect();
    if (now == drawn_) return; // the band looks as it did: nothing to redraw
    update(logical(drawn_).united(logical(now)));
}

void ZQWaveformSelectionOverlay::paintEvent(QPaintEvent*) {
    drawn_ = bandRect();
    if (drawn_.isEmpty()) return;
    QPainter p(this);
    const qreal ratio = devicePixelRatioF();
    paintOverlay(p, QRectF(drawn_.left() / ratio, 0, drawn_.width() / ratio, height()), color_,
                 waveform_ && waveform_->hasLightBackground());
}

ZQWaveformPlayheadPositionView* ZQWaveformPlayheadPositionView::initWithFrame(const Frame& frame,
                                                                              ZQWaveform* waveform) {
    if (!waveform) return nullptr;
    auto* v = new ZQWaveformPlayheadPositionView(waveform);
    v->color_ = playheadColour();
    placeChild(v, frame, kWidthSizable | kHeightSizable);
    return v;
}

int ZQWaveformPlayheadPositionView::column() const {
    Guard g(lock_);
    if (!color_.isValid() || !waveform_) return -1;
    const ChannelGeometry geometry = waveform_->drawnGeometry();
    const std::uint64_t p = waveform_->presentPlaybackPosition();
    if (p < geometry.first || p > geometry.last) return -1;
    // In device pixels: the line is one of them wide at any ratio.
    return static_cast<int>(std::min<std::int64_t>(geometry.column(p), 2147483647));
}

QRect ZQWaveformPlayheadPositionView::logicalColumn(int deviceColumn) const {
    const qreal ratio = devicePixelRatioF();
    const int left = static_cast<int>(std::floor(deviceColumn / ratio));
    return QRect(left, 0, static_cast<int>(std::ceil((deviceColumn + 1) / ratio)) - left, height());
}

void ZQWaveformPlayheadPositionView::playbackTimerTick() {
    redraw();
}

void ZQWaveformPlayheadPositionView::redraw() {
    const int c = column();
    if (c == pixelInsetOfPreviousDraw_) return; // the line is where it was
    if (pixelInsetOfPreviousDraw_ >= 0) update(logicalColumn(pixelInsetOfPreviousDraw_));
    if (c >= 0) update(logicalColumn(c));
    pixelInsetOfPreviousDraw_ = c;
}

void ZQWaveformPlayheadPositionView::paintEvent(QPaintEvent*) {
    const int c = column();
    pixelInsetOfPreviousDraw_ = c;
    if (c < 0) return;
    QPainter p(this);
    const qreal ratio = devicePixelRatioF();
    paintOverlay(p, QRectF(c / ratio, 0, 1 / ratio, height()), color_, waveform_ && waveform_->hasLightBackground());
}
