#include "window/ZQWaveform.h"

#include "audiofile/ChannelNames.h"
#include "audiofile/Markers.h"
#include "controls/Colours.h"
#include "waveform/AmplitudeScale.h"
#include "window/TwoCoreRunner.h"
#include "window/ViewPreferences.h"
#include "window/ZQWaveformDisplayController.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

using namespace ZQ;
using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

QColor toColour(const RGBAlphaComponents& c) {
    return QColor::fromRgbF(c.r_, c.g_, c.b_, c.a_);
}
RGBAlphaComponents fromColour(const QColor& c) {
    return {c.redF(), c.greenF(), c.blueF(), c.alphaF()};
}

const QColor& defaultSelectionColour() {
    static const QColor c = calibratedWhite(1.0, 0.12);
    return c;
}
const QColor& playheadColour() {
    static const QColor c = calibratedWhite(1.0, 0.5);
    return c;
}

// Whether a background is light: overlays then darken it (adding light to
// white shows nothing) instead of brightening it.
bool isLight(const RGBAlphaComponents& c) {
    return 0.2126 * c.r_ + 0.7152 * c.g_ + 0.0722 * c.b_ > 0.5;
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

// Where a sample index lies across the view: the fraction of the visible range.
double fractionOf(std::uint64_t index, const IndexRange& visible) {
    const std::uint64_t a = visible.min_.v_, b = visible.max_.v_;
    return b == a ? 0.0 : static_cast<double>(index - a) / static_cast<double>(b - a);
}

// A pixel row from a height measured from the bottom (y upwards), kept just
// outside the view when the value is beyond it.
int rowFor(double fromBottom, int height) {
    const double row = height - std::floor(fromBottom);
    return static_cast<int>(std::clamp(row, -1.0, height + 1.0));
}

} // namespace

// Layers.

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
    const IndexRange& v = waveform_->visibleRange();
    const SampleSelection& s = waveform_->selection();
    const std::uint64_t a = v.min_.v_, b = v.max_.v_, first = s.min_.v_, last = s.max_.v_;
    if (first > b || last < a) return {};
    // In device pixels, so that an empty selection is one of them wide.
    const double W = std::max(static_cast<double>(width()) * devicePixelRatioF(), 1.0);
    const double x0 = (a <= first && first <= b) ? fractionOf(first, v) * W : 0.0;
    const double x1 = (a <= last && last <= b) ? fractionOf(last, v) * W : W;
    const double w = std::max(x1 - x0, 1.0);
    // The band's pixel columns, edges rounded: an empty selection is one column.
    const int left = static_cast<int>(std::lround(x0));
    const int right = std::max(left + 1, static_cast<int>(std::lround(x0 + w)));
    return QRect(left, 0, right - left, int(std::lround(height() * devicePixelRatioF())));
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
    const IndexRange& v = waveform_->visibleRange();
    const std::uint64_t p = waveform_->presentPlaybackPosition();
    if (p < v.min_.v_ || p > v.max_.v_) return -1;
    // In device pixels: the line is one of them wide at any ratio.
    const double c = width() * devicePixelRatioF() * fractionOf(p, v) + 0.0; // the layer's origin is the view's
    return static_cast<int>(std::clamp(c, -1.0, 2147483647.0));
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

// The view.

ZQWaveform::ZQWaveform(QWidget* parent) : QWidget(parent) {}

ZQWaveform::~ZQWaveform() = default;

ZQWaveform* ZQWaveform::initWithFrame(QWidget* parent, const Frame& frame, ZQAudioFileDocument* document,
                                      ZQWaveformDisplayController* controller, std::int32_t channelNumber,
                                      std::uint64_t sampleCount) {
    if (channelNumber >= 16 || !controller || !document) return nullptr;
    auto* w = new ZQWaveform(parent);
    w->channelNumber_ = channelNumber;
    placeChild(w, frame, kMinXMargin | kWidthSizable | kMaxXMargin | kMinYMargin | kHeightSizable | kMaxYMargin);
    w->zoomSettings_.setLimits(sampleCount, frame.height);
    w->zoomSettings_.setWaveformView(w);
    w->isReadyToDraw_ = false;
    w->document_ = Ref<ZQAudioFileDocument>::retain(document);
    w->updateInProgress_ = false;
    w->waveformDisplayController_ = Ref<ZQWaveformDisplayController>::retain(controller);
    w->shouldWaveformViewsAutoNormalize_ = false;
    w->waveformColors_.centerLineColor = RGBAlphaComponents(1, 0, 0, 1);
    // The view paints all of its bounds; nothing behind it needs painting.
    w->setAttribute(Qt::WA_OpaquePaintEvent);
    w->setFocusPolicy(Qt::NoFocus);
    w->setMouseTracking(true); // the pointer changes over the selection's edges
    if (!w->waveformSelectionData_.waveform_) w->waveformSelectionData_.waveform_ = w;
    return w;
}

void ZQWaveform::enableDrawing() {
    {
        Guard g(lock_);
        createOverlays();
        isReadyToDraw_ = true;
    }
    setNeedsDisplay();
}

void ZQWaveform::createOverlays() {
    Guard g(lock_);
    if (vZoomOverlay_ && firstVisibleOverlay_ && lastVisibleOverlay_) return;
    const Frame bounds = boundsOf(this);
    if (!waveformSelectionOverlay_) {
        waveformSelectionOverlay_ = ZQWaveformSelectionOverlay::initWithFrame(bounds, this);
        waveformSelectionOverlay_->show();
        waveformSelectionOverlay_->raise();
    }
    if (!waveformPlayheadPositionView_) {
        waveformPlayheadPositionView_ = ZQWaveformPlayheadPositionView::initWithFrame(bounds, this);
        waveformPlayheadPositionView_->show();
        waveformPlayheadPositionView_->raise();
    }
    auto label = [this](Qt::Alignment alignment) {
        auto* l = new QLabel(this);
        l->hide();
        QFont f = l->font();
        f.setPixelSize(9);
        l->setFont(f);
        l->setTextInteractionFlags(Qt::NoTextInteraction);
        l->setAttribute(Qt::WA_TransparentForMouseEvents); // clicks select, wherever they land
        l->setAlignment(alignment | Qt::AlignVCenter);
        l->setContentsMargins(2, 0, 2, 0);
        return l;
    };
    if (!vZoomOverlay_) {
        vZoomOverlay_ = label(Qt::AlignRight);
        vZoomOverlay_->setNum(100);
        vZoomOverlay_->show();
    }
    if (!firstVisibleOverlay_) {
        firstVisibleOverlay_ = label(Qt::AlignLeft);
        firstVisibleOverlay_->setNum(0);
        firstVisibleOverlay_->show();
    }
    if (!lastVisibleOverlay_) {
        lastVisibleOverlay_ = label(Qt::AlignRight);
        lastVisibleOverlay_->setNum(0);
        lastVisibleOverlay_->show();
    }
    if (!channelNameOverlay_) {
        channelNameOverlay_ = label(Qt::AlignLeft);
        const unsigned channels = document_ ? static_cast<unsigned>(std::max(0, document_->channelCount())) : 0;
        const std::vector<std::string> names = ZQ::channelNames(channels, document_ ? document_->speakerMask() : 0);
        const auto index = static_cast<std::size_t>(channelNumber_);
        channelNameOverlay_->setText(index < names.size() ? QString::fromStdString(names[index])
                                                          : QString::number(channelNumber_ + 1));
        channelNameOverlay_->setObjectName(QStringLiteral("channelName"));
        channelNameOverlay_->show();
    }
    applyLabelLook();
    placeLabels();
    // Mute and Solo for this channel, small, at the left edge just above the
    // first visible sample's number.
    auto toggle = [this](const char* text, const char* name, const QString& tip, const char* on) {
        auto* b = new QToolButton(this);
        b->setText(QString::fromUtf8(text));
        b->setObjectName(QString::fromUtf8(name) + QString::number(channelNumber_ + 1));
        b->setToolTip(tip);
        b->setCheckable(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(true);
        QFont f = b->font();
        f.setPixelSize(9);
        f.setBold(true);
        b->setFont(f);
        b->setStyleSheet(
            QStringLiteral("QToolButton { color: rgba(255,255,255,150); border: 1px solid rgba(255,255,255,70);"
                           " border-radius: 2px; padding: 0px; background: rgba(0,0,0,90); }"
                           " QToolButton:checked { color: black; background: %1; }")
                .arg(QString::fromUtf8(on)));
        return b;
    };
    const QString channel = QString::number(channelNumber_ + 1);
    if (!muteToggle_) {
        muteToggle_ = toggle("M", "muteChannel", QStringLiteral("Mute channel %1").arg(channel), "#f0b040");
        placeChild(muteToggle_, {2, 15, 16, 14}, kNotSizable);
        connect(muteToggle_, &QToolButton::toggled, this, [this](bool on) {
            if (document_ && document_->isChannelMuted(channelNumber_) != on)
                document_->setChannelMuted(channelNumber_, on);
        });
        muteToggle_->show();
    }
    if (!soloToggle_) {
        soloToggle_ = toggle("S", "soloChannel", QStringLiteral("Solo channel %1").arg(channel), "#60d070");
        placeChild(soloToggle_, {20, 15, 16, 14}, kNotSizable);
        connect(soloToggle_, &QToolButton::toggled, this, [this](bool on) {
            if (document_ && document_->isChannelSoloed(channelNumber_) != on)
                document_->setChannelSoloed(channelNumber_, on);
        });
        soloToggle_->show();
    }
    syncChannelToggles();
    placeLabels(); // the toggles too
}

bool ZQWaveform::hasLightBackground() const {
    return isLight(waveformColors_.backgroundColor);
}

void ZQWaveform::applyLabelLook() {
    // Light text on dark backgrounds and dark on light ones, over a faint
    // backing of the background, so that a loud trace never hides them.
    const bool light = hasLightBackground();
    const RGBAlphaComponents& b = waveformColors_.backgroundColor;
    for (QLabel* l :
         {vZoomOverlay_.data(), firstVisibleOverlay_.data(), lastVisibleOverlay_.data(), channelNameOverlay_.data()}) {
        if (!l) continue;
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, light ? QColor::fromRgbF(0, 0, 0, 0.65) : calibratedWhite(1.0, 0.5));
        p.setColor(QPalette::Window, QColor::fromRgbF(b.r_, b.g_, b.b_, 0.6));
        l->setPalette(p);
        l->setAutoFillBackground(true);
    }
}

void ZQWaveform::placeLabels() {
    // Each label as wide as its text, one pixel inside the view's border:
    // the amplitude at the top right, the first and last visible samples at
    // the bottom corners.
    const int W = width(), H = height();
    auto place = [](QLabel* l, int x, int y) {
        if (!l) return;
        const QSize size(l->sizeHint().width(), 13);
        l->setGeometry(x < 0 ? -x - size.width() : x, y < 0 ? -y - size.height() : y, size.width(), size.height());
    };
    place(vZoomOverlay_, -(W - 1), 1);
    place(channelNameOverlay_, 1, 1);
    place(firstVisibleOverlay_, 1, -(H - 1));
    place(lastVisibleOverlay_, -(W - 1), -(H - 1));
    // A view too short for them shows fewer: the amplitude (the same in every
    // view) needs a row of its own above the bottom ones, and a view shorter
    // than a label and a little trace shows none.
    auto show = [](QWidget* l, bool on) {
        if (l && l->isVisibleTo(l->parentWidget()) != on) l->setVisible(on);
    };
    show(vZoomOverlay_, H >= 2 * 13 + 4);
    // The name shares the top row with the amplitude; where the two would
    // meet, the name (which says more) stays.
    const bool nameFits = H >= 2 * 13 + 4;
    show(channelNameOverlay_, nameFits);
    if (nameFits && vZoomOverlay_ && channelNameOverlay_ &&
        channelNameOverlay_->geometry().right() + 4 >= vZoomOverlay_->geometry().left())
        show(vZoomOverlay_, false);
    show(firstVisibleOverlay_, H >= 13 + 6);
    show(lastVisibleOverlay_, H >= 13 + 6);
    // Mute and Solo sit above the bottom row: a view too short for both
    // leaves them out (Transport > Channels has them too).
    show(muteToggle_, H >= 15 + 14 + 2);
    show(soloToggle_, H >= 15 + 14 + 2);
}

void ZQWaveform::syncChannelToggles() {
    if (!document_) return;
    if (muteToggle_) {
        const QSignalBlocker quiet(muteToggle_);
        muteToggle_->setChecked(document_->isChannelMuted(channelNumber_));
    }
    if (soloToggle_) {
        const QSignalBlocker quiet(soloToggle_);
        soloToggle_->setChecked(document_->isChannelSoloed(channelNumber_));
    }
}

void ZQWaveform::setBackgroundColor(const QColor& colour) {
    {
        Guard g(lock_);
        waveformColors_.backgroundColor = colour.isValid() ? fromColour(colour) : RGBAlphaComponents(0, 0, 0, 1);
    }
    applyLabelLook();
    setNeedsDisplay();
    // The layers change how they mix with the new background.
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->update();
    if (waveformPlayheadPositionView_) waveformPlayheadPositionView_->update();
}

void ZQWaveform::setForegroundColor(const QColor& colour) {
    {
        Guard g(lock_);
        waveformColors_.foregroundColor = colour.isValid() ? fromColour(colour) : RGBAlphaComponents(1, 1, 1, 1);
    }
    setNeedsDisplay();
}

void ZQWaveform::setCenterLineColor(const QColor& colour) {
    waveformColors_.centerLineColor = colour.isValid() ? fromColour(colour) : RGBAlphaComponents(0.99, 0.2, 0.2, 1.0);
    setNeedsDisplay();
}

const SampleSelection& ZQWaveform::selection() {
    return waveformSelectionData_.selection();
}

void ZQWaveform::setSelection(const SampleSelection& selection) {
    // Not under the view's lock: the change is reported to the controller,
    // which locks itself and then every view (the controller's order).
    waveformSelectionData_.set(selection);
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->playbackTimerTick(); // redraws what changed
}

std::uint64_t ZQWaveform::selectionLength() {
    return waveformSelectionData_.length();
}

void ZQWaveform::cut(platform::Object*) {
    const SampleSelection s = selection(); // a copy: the edit sets the selection
    if (Ref<ZQAudioFileDocument> doc = document_) doc->cutRange(s);
}
void ZQWaveform::delete_(platform::Object*) {
    const SampleSelection s = selection(); // a copy: the edit sets the selection
    if (Ref<ZQAudioFileDocument> doc = document_) doc->deleteRange(s);
}
void ZQWaveform::duplicate(platform::Object*) {
    const SampleSelection s = selection(); // a copy: the edit sets the selection
    if (Ref<ZQAudioFileDocument> doc = document_) doc->duplicateRange(s);
}

void ZQWaveform::samplesDidChange(std::uint64_t count) {
    // setLimits reports through zoomSettingsHaveChanged, which must not run
    // under the view's lock (the controller locks first).
    zoomSettings_.setLimits(count, deviceSize().height());
    Guard g(lock_);
    setNeedsDisplay();
    if (waveformPlayheadPositionView_) waveformPlayheadPositionView_->update();
}

void ZQWaveform::selectionDidChange() {
    if (waveformDisplayController_) waveformDisplayController_->selectionDidChange(this);
}

std::uint64_t ZQWaveform::convertEventCoordinatesToSampleIndex(const QPointF& point) {
    const double x = point.x(), W = width();
    const std::uint64_t a = visibleRange_.min_.v_, b = visibleRange_.max_.v_;
    std::uint64_t index;
    if (W <= 1.0 || x < 0)
        index = a;
    else if (x > W)
        index = b;
    else
        index = a + static_cast<std::uint64_t>((x / W) * static_cast<double>(b - a));
    const std::uint64_t count = document_ ? document_->sampleCount(channelNumber_).v_ : 0;
    return count == 0 ? 0 : std::min(index, count - 1);
}

std::uint64_t ZQWaveform::presentPlaybackPosition() {
    return document_ ? document_->presentPlaybackPosition() : 0;
}

void ZQWaveform::playbackTimerTick() {
    if (!isReadyToDraw_) return;
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->playbackTimerTick();
    if (waveformPlayheadPositionView_) waveformPlayheadPositionView_->playbackTimerTick();
}

void ZQWaveform::redrawPlayhead() {
    if (waveformPlayheadPositionView_) waveformPlayheadPositionView_->waveformHasUpdated();
}

void ZQWaveform::visibleIndexValuesChanged() {
    auto show = [](QLabel* l, std::uint64_t v) {
        if (!l) return;
        const QString text = QString::number(static_cast<qulonglong>(v));
        if (l->text() != text) l->setText(text);
    };
    show(firstVisibleOverlay_, visibleRange_.min_.v_);
    show(lastVisibleOverlay_, visibleRange_.max_.v_);
    placeLabels();
}

void ZQWaveform::setVerticalZoomDisplayValue(std::int32_t percent) {
    if (!vZoomOverlay_) createOverlays();
    if (vZoomOverlay_->text().toInt() != percent || vZoomOverlay_->text().isEmpty()) {
        vZoomOverlay_->setNum(percent);
        placeLabels();
    }
}

void ZQWaveform::updateWaveformCache(const ZQ::ChannelSamples& samples) {
    Guard g(lock_);
    const CGRect frame{{0, 0}, {double(drawSize_.width()), double(traceRows_)}};
    overviewRebuilt_ = ZQ::updateWaveformCache(waveformOverview_, zoomSettings_, samples, bool(document_),
                                               channelNumber_, frame, visibleRange_, updateInProgress_,
                                               shareCores_ ? &shareBetweenCores : nullptr, &traceColumnsPending_);
    // The labels and the controller are told on the main thread (finishRebuild).
}

bool ZQWaveform::updateCache(std::uint64_t count) {
    return ZQ::updateCache(waveformOverview_, count, static_cast<std::uint64_t>(std::max(0, drawSize_.width())) + 1);
}

bool ZQWaveform::needsTraces() const {
    return isReadyToDraw_ && document_ && channelNumber_ >= 0 && (!tracesValid_ || traces_.size() != deviceSize());
}

QSize ZQWaveform::deviceSize() const {
    // One overview column and one trace pixel per device pixel: sharp on a
    // dense screen, exactly the logical size at a ratio of 1.
    const qreal ratio = devicePixelRatioF();
    return QSize(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
}

void ZQWaveform::prepareToRebuild() {
    drawSize_ = deviceSize();
    overviewRebuilt_ = false;
}

void ZQWaveform::prepareDrawing() {
    collectMarks();
    prepareSpectrogram();
}

void ZQWaveform::collectMarks() {
    // The markers in view, as columns: read on the main thread, where the
    // document's markers change, and not under the view's lock (the document
    // locks before its views); the traces may be drawn elsewhere.
    marks_.clear();
    Ref<ZQAudioFileDocument> doc = document_;
    if (!doc) return;
    const MarkerList& markers = doc->markers();
    if (markers.empty()) return;
    const IndexRange r = shownRange();
    const double a = double(r.min_.v_), b = double(r.max_.v_), W = deviceSize().width();
    auto column = [&](double sample) { return b > a ? std::floor((sample - a) / (b - a) * W) : 0.0; };
    auto add = [&](const Marker& m) {
        const double x = column(double(m.frame));
        if (m.isRegion()) {
            const double from = std::clamp(x, 0.0, W), to = std::clamp(column(double(m.end())), 0.0, W);
            if (to > from) marks_.push_back({int(from), int(to), true});
        }
        if (x >= 0 && x < W) marks_.push_back({int(x), int(x) + 1, false});
    };
    for (std::size_t i : markers.regionsCovering(r.min_.v_))
        add(markers.items()[i]);
    const std::size_t end = markers.lowerBound(r.max_.v_ + 1);
    for (std::size_t i = markers.lowerBound(r.min_.v_); i < end; ++i)
        add(markers.items()[i]);
    // Regions first, so that every marker's line is drawn over any tint.
    std::stable_partition(marks_.begin(), marks_.end(), [](const MarkColumns& m) { return m.region; });
}

IndexRange ZQWaveform::shownRange() const {
    const std::uint64_t first = zoomSettings_.firstVisibleSample();
    const std::uint64_t last =
        std::min<std::uint64_t>(first + zoomSettings_.numVisibleSamples(), zoomSettings_.validSampleRange_.max_.v_);
    return IndexRange(Num::Count(first), Num::Count(std::max(first, last)));
}

void ZQWaveform::setAmplitudeInDb(bool inDb) {
    {
        Guard g(lock_);
        if (zoomSettings_.amplitudeInDb == inDb) return;
        zoomSettings_.amplitudeInDb = inDb;
    }
    setNeedsDisplay();
}

void ZQWaveform::rebuildTraces(bool shareCores) {
    Guard g(lock_);
    if (!document_) return;
    shareCores_ = shareCores;
    document_->updateWaveformStore(this);
    if (updateInProgress_ || !overviewRebuilt_ || !waveformOverview_.overviewData ||
        waveformOverview_.waveformPointsCount == 0)
        return;
    renderTraces();
    shareCores_ = false;
}

void ZQWaveform::finishRebuild() {
    if (!overviewRebuilt_) return;
    overviewRebuilt_ = false;
    drawAmplitudeScale();
    drawFrequencyAxis();
    visibleIndexValuesChanged();
    waveformCacheIsPrepared();
    if (waveformDisplayController_) {
        waveformDisplayController_->updatePercentageDisplays(zoomSettings_.representedVerticalZoom.v_);
        waveformDisplayController_->setVisibleSampleCountFieldValue(visibleRange_.min_.v_, visibleRange_.max_.v_);
    }
    redrawPlayhead();
    // The layers draw over the new traces with the new visible range.
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->update();
}

void ZQWaveform::waveformCacheIsPrepared() {
    // Drawing happens on the main thread, so the controller is told at once.
    imp_waveformCacheIsPrepared();
}

void ZQWaveform::imp_waveformCacheIsPrepared() {
    if (waveformDisplayController_)
        waveformDisplayController_->setVisibleSampleCountFieldValue(visibleRange_.min_.v_, visibleRange_.max_.v_);
}

void ZQWaveform::zoomSettingsHaveChanged() {
    {
        Guard g(lock_);
        if (!isReadyToDraw_) return;
        setNeedsDisplay();
    }
    // The controller locks itself before any view: never called under ours.
    if (waveformDisplayController_) {
        waveformDisplayController_->zoomSettingsHaveChanged();
        waveformDisplayController_->updatePercentageDisplays(zoomSettings_.representedVerticalZoom.v_);
        waveformDisplayController_->setVisibleSampleCountFieldValue(visibleRange_.min_.v_, visibleRange_.max_.v_);
    }
}

void ZQWaveform::setNeedsDisplay() {
    tracesValid_ = false;
    update();
}

namespace {

// A colour with the highlight band over it at each row: the band's gradient
// (white 0.95 at alpha 0 at the bottom and top edges, white at alpha 0.12 in
// the middle, painted over everything) composited "source over".
// The colours of markers and regions over the traces, and `over` laid on
// `under` at `alpha` (of 256).
constexpr QRgb kMarkerLine = 0xffe89618;
constexpr QRgb kRegionTint = 0xffe89618;
QRgb mixed(QRgb under, QRgb over, int alpha) {
    auto channel = [&](int shift) {
        const int u = int(under >> shift) & 0xff, o = int(over >> shift) & 0xff;
        return ((o * alpha + u * (256 - alpha)) >> 8) << shift;
    };
    return 0xff000000u | QRgb(channel(16) | channel(8) | channel(0));
}

void bandedRows(const QColor& base, int height, std::vector<QRgb>& out) {
    out.resize(static_cast<std::size_t>(std::max(0, height)));
    const double a = base.alphaF();
    const double r = base.redF() * a, g = base.greenF() * a, b = base.blueF() * a; // premultiplied
    for (int row = 0; row < height; ++row) {
        const double t = 1.0 - (row + 0.5) / height; // 0 at the bottom edge, 1 at the top
        const double peak = 1.0 - std::fabs(2.0 * t - 1.0);
        const double alpha = 0.12 * peak, white = 0.95 + 0.05 * peak;
        auto mix = [&](double channel) {
            return static_cast<int>(std::lround((white * alpha + channel * (1 - alpha)) * 255));
        };
        // The view is opaque: a translucent colour shows as over black.
        out[static_cast<std::size_t>(row)] = qRgb(mix(r), mix(g), mix(b));
    }
}

} // namespace

void ZQWaveform::renderTraces() {
    ++traceRenders_;
    const int W = drawSize_.width(), H = drawSize_.height();
    // Opaque pixels, in the format the window's backing store has, so that
    // showing them is a plain copy.
    if (traces_.size() != drawSize_) traces_ = QImage(drawSize_, QImage::Format_RGB32);
    traces_.setDevicePixelRatio(devicePixelRatioF());
    if (W <= 0 || H <= 0) return;
    // The traces take the top `T` rows (all of them, half, or none), the
    // spectrogram the rest.
    const int T = std::clamp(traceRows_, 0, H);
    renderSpectrogram(W, H - T);
    // The drawing, in its order: background, the centre line across at half
    // height, one line per column of the overview over them, then the band
    // over everything. Rows take their banded colours from tables, so that
    // each pixel is written once or twice rather than blended four times.
    bandedRows(toColour(waveformColors_.backgroundColor), T, bgRows_);
    bandedRows(toColour(waveformColors_.foregroundColor), T, fgRows_);
    bandedRows(toColour(waveformColors_.centerLineColor), T, centreRows_);
    const double centre = zoomSettings_.halfPhysicalViewHeightPx.v_;
    const int centreRow = static_cast<int>(std::clamp(T - std::floor(centre), 0.0, double(std::max(0, T - 1))));
    // Each column's line covers the rows from one end up to the other, as a
    // stroke with flat ends does: a line of no length (silence) draws
    // nothing. A column whose samples are not numbers stays empty.
    const std::uint64_t n = std::min<std::uint64_t>(waveformOverview_.waveformPointsCount, std::uint64_t(W));
    tops_.assign(static_cast<std::size_t>(W), 0);
    bottoms_.assign(static_cast<std::size_t>(W), 0);
    for (std::uint64_t k = 0; k < n; ++k) {
        const CGPoint& pt = waveformOverview_.overviewData[k];
        if (std::isnan(pt.x) || std::isnan(pt.y)) continue;
        tops_[k] = std::max(0, rowFor(std::max(pt.x, pt.y), T));
        bottoms_[k] = std::min(T, rowFor(std::min(pt.x, pt.y), T));
    }
    // Row by row, each pixel written once: the trace where a column's line
    // covers the row, else the background (or the centre line on its row).
    const std::int32_t* top = tops_.data();
    const std::int32_t* bottom = bottoms_.data();
    auto rows = [&](std::uint64_t from, std::uint64_t to) {
        const int S = H - T;
        for (int row = int(from); row < int(to); ++row) {
            auto* line = reinterpret_cast<QRgb*>(traces_.scanLine(row));
            if (row >= T) {
                // The spectrogram's colours, from its columns.
                const std::uint8_t* index = spectrumIndices_.data() + (row - T);
                for (int k = 0; k < W; ++k)
                    line[k] = spectrumColours_[index[std::size_t(k) * std::size_t(S)]];
            } else {
                const QRgb fg = fgRows_[static_cast<std::size_t>(row)];
                const QRgb bg = row == centreRow ? centreRows_[static_cast<std::size_t>(row)]
                                                 : bgRows_[static_cast<std::size_t>(row)];
                for (int k = 0; k < W; ++k)
                    line[k] = (row >= top[k]) & (row < bottom[k]) ? fg : bg;
            }
            // Regions tint their columns; markers are lines over everything.
            for (const MarkColumns& m : marks_) {
                const int from = std::max(0, m.from), to = std::min(W, m.to);
                for (int k = from; k < to; ++k)
                    line[k] = m.region ? mixed(line[k], kRegionTint, 46) : mixed(line[k], kMarkerLine, 220);
            }
        }
    };
    if (shareCores_)
        runOnBothCores(std::uint64_t(H), rows);
    else
        rows(0, std::uint64_t(H));
    tracesValid_ = true;
}

void ZQWaveform::prepareSpectrogram() {
    const ViewPreferences::Display shown = display();
    const int H = deviceSize().height();
    traceRows_ = shown == ViewPreferences::Display::Waveform      ? H
                 : shown == ViewPreferences::Display::Spectrogram ? 0
                                                                  : H / 2;
    spectra_.reset();
    if (traceRows_ == H || !waveformDisplayController_) return;
    // What the columns are drawn with, read here on the main thread.
    spectra_ = waveformDisplayController_->spectrogramCache();
    spectrumScale_ = waveformDisplayController_->spectrogramScale();
    spectrumSize_ = ViewPreferences::spectrogramSize();
    const auto& colours =
        SpectrogramImage::colours(ViewPreferences::spectrogramColours() == 1 ? SpectrogramImage::ColourMap::Grey
                                                                             : SpectrogramImage::ColourMap::Magma);
    std::copy(colours.begin(), colours.end(), spectrumColours_.begin());
    spectrumRange_ = shownRange();
}

void ZQWaveform::renderSpectrogram(int W, int S) {
    spectrumIndices_.assign(std::size_t(std::max(0, W)) * std::size_t(std::max(0, S)), 0);
    pendingColumns_ = 0;
    if (S <= 0 || W <= 0 || !spectra_) return;
    // Columns on the zoom's grid (see SpectrogramCache), each from its tile;
    // a tile not made yet is asked for, the middle of the view first, and its
    // columns show the floor until it comes.
    const double a = double(spectrumRange_.min_.v_), b = double(spectrumRange_.max_.v_);
    const double spc = b > a ? (b - a) / W : 1.0;
    const auto gridStart = static_cast<std::int64_t>(std::llround(a / spc));
    const std::vector<std::pair<int, int>> rows = SpectrogramImage::rowBins(spectrumSize_ / 2 + 1, S, spectrumScale_);
    const std::array<std::uint8_t, 256> indices = SpectrogramImage::levelIndices(spectrumScale_);
    SpectrogramCache::Key key{channelNumber_, spectrumSize_, spc, -1};
    std::shared_ptr<const SpectrogramCache::Tile> tile;
    for (int x = 0; x < W; ++x) {
        const std::int64_t column = gridStart + x;
        const std::int64_t t = column / SpectrogramCache::kTileColumns;
        if (t != key.tile) {
            key.tile = t;
            const double middle = (double(t) + 0.5) * SpectrogramCache::kTileColumns - double(gridStart);
            tile = spectra_->tile(key, -std::fabs(middle - W / 2.0));
        }
        if (!tile) {
            ++pendingColumns_;
            continue;
        }
        SpectrogramImage::columnFromLevels(tile->column(unsigned(column % SpectrogramCache::kTileColumns)), rows,
                                           indices, spectrumIndices_.data() + std::size_t(x) * std::size_t(S));
    }
}

ViewPreferences::Display ZQWaveform::display() const {
    return displayOverride_ >= 0 ? static_cast<ViewPreferences::Display>(displayOverride_) : ViewPreferences::display();
}

void ZQWaveform::setDisplayOverride(int display) {
    displayOverride_ = std::clamp(display, -1, 2);
    setNeedsDisplay();
}

void ZQWaveform::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!isReadyToDraw_ || updateInProgress_ || channelNumber_ < 0 || !document_) {
        painter.fillRect(event->rect(), toColour(waveformColors_.backgroundColor));
        return;
    }
    if (needsTraces()) {
        // The window's other views that need it are drawn meanwhile, on both
        // cores (each under its own lock, which this view must not hold now).
        if (waveformDisplayController_) waveformDisplayController_->prepareOverviews();
        prepareDrawing();
        {
            Guard g(lock_);
            if (needsTraces()) {
                prepareToRebuild();
                rebuildTraces(true);
            }
        }
        finishRebuild(); // tells the controller, so not under the view's lock
        if (!tracesValid_ || traces_.size() != deviceSize()) {
            painter.fillRect(event->rect(), toColour(waveformColors_.backgroundColor));
            return;
        }
    }
    Guard g(lock_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    // The image is in device pixels: the part under the logical rectangle.
    const qreal ratio = traces_.devicePixelRatio();
    const QRectF r = event->rect();
    painter.drawImage(r, traces_, QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio));
}

void ZQWaveform::resizeEvent(QResizeEvent*) {
    tracesValid_ = false;
    placeLabels();
    // The centre line follows the height at once (the overview recomputes it too).
    zoomSettings_.halfPhysicalViewHeightPx = Num::Nm<double>(std::max(0.0, deviceSize().height() * 0.5));
}

void ZQWaveform::feedSelection(SelectionEventType type, QMouseEvent* event) {
    // A grabbed edge stays exactly where it was until the pointer really moves.
    const bool still = grabbedEdge_ && (event->position() - pressedAt_).manhattanLength() < 3.0;
    feedSelectionAt(type, still ? grabbedIndex_ : convertEventCoordinatesToSampleIndex(event->position()),
                    event->modifiers() & Qt::ShiftModifier);
}

void ZQWaveform::feedSelectionAt(SelectionEventType type, std::uint64_t index, bool shift) {
    SelectionEvent e;
    e.number = eventNumber_;
    e.type = type;
    e.shift = shift;
    e.index = index;
    if (type == SelectionEventType::LeftMouseDown && !shift && grabbedEdge_) {
        // Dragging an edge moves that edge: the other one is the anchor.
        const SampleSelection& s = selection();
        e.hasAnchor = true;
        e.anchor = selectionEdgeNear(pressedAt_.x()) < 0 ? s.max_.v_ : s.min_.v_;
    }
    if (waveformSelectionData_.waveform_) waveformSelectionData_.eventHandler.handle(e, waveformSelectionData_);
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->playbackTimerTick();
}

int ZQWaveform::selectionEdgeNear(double x) {
    constexpr double kGrab = 3.0; // pixels either side of an edge
    const SampleSelection& s = selection();
    const std::uint64_t a = visibleRange_.min_.v_, b = visibleRange_.max_.v_;
    if (s.max_.v_ <= s.min_.v_ || b <= a || width() <= 1) return 0;
    auto xOf = [&](std::uint64_t i) {
        return i < a || i > b ? -1e9 : static_cast<double>(i - a) / static_cast<double>(b - a) * width();
    };
    const double first = std::fabs(x - xOf(s.min_.v_)), last = std::fabs(x - xOf(s.max_.v_));
    if (first > kGrab && last > kGrab) return 0;
    return first <= last ? -1 : 1;
}

void ZQWaveform::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    ++eventNumber_; // one gesture per press
    pressedAt_ = dragAt_ = event->position();
    const int edge = event->modifiers() & Qt::ShiftModifier ? 0 : selectionEdgeNear(pressedAt_.x());
    grabbedEdge_ = edge != 0;
    if (grabbedEdge_) { // the edge stays where it is until the pointer moves
        grabbedIndex_ = edge < 0 ? selection().min_.v_ : selection().max_.v_;
        feedSelectionAt(SelectionEventType::LeftMouseDown, grabbedIndex_, false);
    } else
        feedSelection(SelectionEventType::LeftMouseDown, event);
}

void ZQWaveform::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        updateSpectrumReadout(event->position());
        // Over an edge of the selection the pointer says that it can be dragged.
        if (selectionEdgeNear(event->position().x()) != 0)
            setCursor(Qt::SizeHorCursor);
        else
            unsetCursor();
        return;
    }
    dragAt_ = event->position();
    feedSelection(SelectionEventType::LeftMouseDragged, event);
    const bool outside = dragAt_.x() < 0 || dragAt_.x() > width();
    if (outside && !autoScroll_) {
        autoScroll_ = new QTimer(this);
        autoScroll_->setInterval(30);
        connect(autoScroll_, &QTimer::timeout, this, [this] { autoScrollStep(); });
        autoScroll_->start();
    } else if (!outside) {
        stopAutoScroll();
    }
}

void ZQWaveform::stopAutoScroll() {
    if (!autoScroll_) return;
    autoScroll_->stop();
    autoScroll_->deleteLater();
    autoScroll_ = nullptr;
}

void ZQWaveform::autoScrollStep() {
    Ref<ZQWaveformDisplayController> controller = waveformDisplayController_;
    if (!autoScroll_) return;
    if (!controller || width() <= 0 || !(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        stopAutoScroll();
        return;
    }
    // Faster the further the pointer is past the edge.
    const double beyond = dragAt_.x() < 0 ? dragAt_.x() : dragAt_.x() - width();
    if (beyond == 0) return;
    const double columns = std::clamp(beyond / 2.0, -40.0, 40.0);
    controller->scrollByColumns(columns < 0 ? std::min(columns, -1.0) : std::max(columns, 1.0), width());
    // The selection follows to the sample now at that edge (the drawn range
    // catches up on the next repaint).
    const std::uint64_t first = zoomSettings_.firstVisibleSample();
    const std::uint64_t shown = zoomSettings_.numVisibleSamples();
    const std::uint64_t count = document_ ? document_->sampleCount(channelNumber_).v_ : 0;
    if (count == 0) return;
    const std::uint64_t index = beyond < 0 ? first : std::min(first + (shown == 0 ? 0 : shown - 1), count - 1);
    feedSelectionAt(SelectionEventType::LeftMouseDragged, index, false);
}

void ZQWaveform::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (ignoreRelease_) {
        ignoreRelease_ = false;
        grabbedEdge_ = false;
        return;
    }
    stopAutoScroll();
    feedSelection(SelectionEventType::LeftMouseUp, event);
    // A click (no drag, no Shift, not on an edge of the selection) also puts
    // the play position there: Play starts at the clicked sample, and playing
    // goes on from there.
    const bool click = (event->position() - pressedAt_).manhattanLength() < 3.0 &&
                       !(event->modifiers() & Qt::ShiftModifier) && !grabbedEdge_;
    grabbedEdge_ = false;
    if (!click) return;
    const std::uint64_t sample = convertEventCoordinatesToSampleIndex(event->position());
    Ref<ZQAudioFileDocument> document;
    Ref<ZQWaveformDisplayController> controller;
    {
        Guard g(lock_);
        document = document_;
        controller = waveformDisplayController_;
    }
    if (!document) return;
    document->locatePlaybackPosition(sample);
    if (controller) controller->playbackTimerTick(); // the line moves at once
}

void ZQWaveform::wheelEvent(QWheelEvent* event) {
    Ref<ZQWaveformDisplayController> controller;
    {
        Guard g(lock_);
        controller = waveformDisplayController_;
    }
    if (!controller || width() <= 0) return;
    // Trackpads report pixels; wheels report notches of 120.
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    const double xFraction = std::clamp(event->position().x() / double(width()), 0.0, 1.0);
    if (event->modifiers() & Qt::ShiftModifier) {
        // With Shift the channels scroll (when there are more than fit).
        const int steps = !pixels.isNull() ? (pixels.y() != 0 ? pixels.y() : pixels.x())
                                           : (angle.y() != 0 ? angle.y() : angle.x()) * 40 / 120;
        if (steps != 0) controller->scrollChannels(-steps);
    } else if (event->modifiers() & Qt::ControlModifier) {
        const double notches = !pixels.isNull() ? pixels.y() / 50.0 : angle.y() / 120.0;
        if (notches != 0) controller->zoomAround(std::pow(0.8, notches), xFraction);
    } else {
        // Either axis scrolls along the file: down and right go forward.
        const double px = !pixels.isNull() ? -(pixels.x() != 0 ? pixels.x() : pixels.y())
                                           : -(angle.x() != 0 ? angle.x() : angle.y()) / 120.0 * (width() / 10.0);
        if (px != 0) controller->scrollByColumns(px, width());
    }
    event->accept();
}

void ZQWaveform::drawAmplitudeScale() {
    Guard g(lock_);
    scaleMarks_.clear();
    if (!tracesValid_ || traces_.isNull()) return;
    const qreal ratio = traces_.devicePixelRatio();
    // The traces' rows only (the spectrogram has an axis of its own).
    const int H = std::min(traceRows_, traces_.height()), W = traces_.width();
    // Clear of the labels in the right corners, and only where a few marks fit.
    const double clear = (13 + 8) * ratio;
    if (H < 2 * clear + 20 * ratio) return;
    const double half = std::floor(double(H)) * 0.5;
    const std::vector<AmplitudeScale::Mark> marks =
        AmplitudeScale::marks(zoomSettings_.amplitudeInDb, zoomSettings_.verticalZoom.v_, half, 18 * ratio);
    QPainter p(&traces_);
    p.scale(1 / ratio, 1 / ratio); // device pixels
    QFont font = p.font();
    font.setPixelSize(int(std::lround(9 * ratio)));
    p.setFont(font);
    const bool light = hasLightBackground();
    const QColor ink = light ? QColor::fromRgbF(0, 0, 0, 0.55) : calibratedWhite(1.0, 0.45);
    p.setPen(ink);
    const double tick = std::round(4 * ratio);
    const QFontMetricsF metrics(font);
    const RGBAlphaComponents& b = waveformColors_.backgroundColor;
    const QColor backing = QColor::fromRgbF(b.r_, b.g_, b.b_, 0.6); // as the other labels have
    auto mark = [&](int row, const QString& label) {
        if (row < clear || row > H - clear) return;
        p.fillRect(QRectF(W - tick, row, tick, 1), ink);
        const double w = metrics.horizontalAdvance(label) + 4 * ratio;
        const QRectF box(W - tick - w, row - 6 * ratio, w, 12 * ratio);
        p.fillRect(box, backing);
        p.drawText(box, Qt::AlignCenter, label);
        scaleMarks_.push_back({row, label});
    };
    const double centre = std::max(0.0, H * 0.5);
    for (const AmplitudeScale::Mark& m : marks) {
        const QString label = QString::fromStdString(m.label);
        // The rows the traces give a value at this height, above and below;
        // a pair so near the centre line that their labels would meet is
        // left out (the centre's own label says enough there).
        const int above = rowFor(centre + m.fraction * half, H);
        const int below = rowFor(centre - m.fraction * half, H);
        if (below != above && below - above < 18 * ratio) continue;
        mark(above, label);
        if (below != above)
            mark(below,
                 zoomSettings_.amplitudeInDb || label == QStringLiteral("0") ? label : QStringLiteral("-") + label);
    }
}

void ZQWaveform::drawFrequencyAxis() {
    Guard g(lock_);
    frequencyMarks_.clear();
    if (!tracesValid_ || traces_.isNull() || traceRows_ >= traces_.height()) return;
    const qreal ratio = traces_.devicePixelRatio();
    const int T = traceRows_, S = traces_.height() - traceRows_;
    if (S < 24 * ratio) return; // too short for a label between the corners
    // A few round frequencies, from the bottom up, each label 16 pixels or
    // more from the last, clear of the corner labels.
    static constexpr double kLinear[] = {1000, 2000, 5000, 10000, 20000, 50000};
    static constexpr double kLog[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000};
    const double nyquist = spectrumScale_.rate / 2;
    std::vector<double> candidates;
    if (spectrumScale_.logarithmic) {
        candidates.assign(std::begin(kLog), std::end(kLog));
    } else {
        // The smallest round step that leaves six labels at most.
        double step = kLinear[0];
        for (double s : kLinear)
            if (nyquist / s <= 6) {
                step = s;
                break;
            }
        for (double f = step; f < nyquist; f += step)
            candidates.push_back(f);
    }
    QPainter p(&traces_);
    p.scale(1 / ratio, 1 / ratio);
    QFont font = p.font();
    font.setPixelSize(int(std::lround(9 * ratio)));
    p.setFont(font);
    const QFontMetricsF metrics(font);
    const QColor ink = calibratedWhite(1.0, 0.7);
    const QColor backing = QColor::fromRgbF(0, 0, 0, 0.45);
    double lastRow = 1e9;
    const double clear = (13 + 4) * ratio;
    for (double f : candidates) {
        if (f >= nyquist || (spectrumScale_.logarithmic && f < spectrumScale_.lowestHz)) continue;
        const double within = SpectrogramImage::rowOf(f, S, spectrumScale_);
        const int row = T + int(std::lround(within));
        if (within < 0 || within > S - 1 || row > traces_.height() - clear || row < T + 6 * ratio) continue;
        if (lastRow - row < 16 * ratio) continue;
        const QString label =
            f >= 1000 ? QString::number(f / 1000.0, 'g', 3) + QStringLiteral("k") : QString::number(int(f));
        p.fillRect(QRectF(0, row, std::round(4 * ratio), 1), ink);
        const double w = metrics.horizontalAdvance(label) + 4 * ratio;
        const QRectF box(std::round(5 * ratio), row - 6 * ratio, w, 12 * ratio);
        p.fillRect(box, backing);
        p.setPen(ink);
        p.drawText(box, Qt::AlignCenter, label);
        frequencyMarks_.push_back({row, label});
        lastRow = row;
    }
}

void ZQWaveform::contextMenuEvent(QContextMenuEvent* event) {
    // What this channel shows: the window's choice, or its own.
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("channelMenu"));
    QMenu* shows = menu.addMenu(QStringLiteral("&Display"));
    const struct {
        int value;
        const char* title;
    } kChoices[] = {{-1, "As the &Window"}, {0, "&Waveform"}, {1, "&Spectrogram"}, {2, "&Both"}};
    for (const auto& c : kChoices) {
        QAction* a = shows->addAction(QString::fromUtf8(c.title));
        a->setCheckable(true);
        a->setChecked(displayOverride_ == c.value);
        const int value = c.value;
        connect(a, &QAction::triggered, this, [this, value] { setDisplayOverride(value); });
    }
    menu.exec(event->globalPos());
}

void ZQWaveform::leaveEvent(QEvent*) {
    if (spectrumReadout_) spectrumReadout_->hide();
}

void ZQWaveform::updateSpectrumReadout(const QPointF& at) {
    const qreal ratio = devicePixelRatioF();
    const int T = traceRows_, H = deviceSize().height();
    const double y = at.y() * ratio;
    Ref<ZQAudioFileDocument> doc = document_;
    if (!doc || !spectra_ || T >= H || y < T || y >= H || width() <= 0) {
        if (spectrumReadout_) spectrumReadout_->hide();
        return;
    }
    const double rate = spectrumScale_.rate;
    const std::uint64_t sample = convertEventCoordinatesToSampleIndex(at);
    const int S = H - T;
    const double hz = SpectrogramImage::frequencyAt(int(y) - T, S, spectrumScale_);
    // The level of the nearest bin in the column under the pointer, once made.
    const double a = double(spectrumRange_.min_.v_), b = double(spectrumRange_.max_.v_);
    const double W = deviceSize().width(), spc = b > a ? (b - a) / W : 1.0;
    const std::int64_t column = std::llround(a / spc) + std::int64_t(at.x() * ratio);
    SpectrogramCache::Key key{channelNumber_, spectrumSize_, spc, column / SpectrogramCache::kTileColumns};
    QString level = QStringLiteral("\u2014");
    if (std::shared_ptr<const SpectrogramCache::Tile> tile = spectra_->tile(key, 1e9)) {
        const unsigned bin = std::min<unsigned>(tile->bins - 1, unsigned(std::lround(hz / (rate / spectrumSize_))));
        const std::uint8_t l = tile->column(unsigned(column % SpectrogramCache::kTileColumns))[bin];
        level = l == 0 ? QStringLiteral("\u2212\u221e dB")
                       : QString::number(double(SpectralSummary::dbOf(l)) + spectrumScale_.gainDb, 'f', 1)
                                 .replace('-', QChar(0x2212)) +
                             QStringLiteral(" dB");
    }
    const auto ms = static_cast<long long>(std::llround(double(sample) / rate * 1000.0));
    const QString time = QStringLiteral("%1:%2:%3.%4")
                             .arg(ms / 3600000, 2, 10, QChar('0'))
                             .arg(ms / 60000 % 60, 2, 10, QChar('0'))
                             .arg(ms / 1000 % 60, 2, 10, QChar('0'))
                             .arg(ms % 1000, 3, 10, QChar('0'));
    const QString text = time + QStringLiteral(" \u00b7 ") +
                         QLocale(QLocale::English).toString(qlonglong(std::llround(hz))) +
                         QStringLiteral(" Hz \u00b7 ") + level;
    if (!spectrumReadout_) {
        spectrumReadout_ = new QLabel(this);
        spectrumReadout_->setObjectName(QStringLiteral("spectrumReadout"));
        spectrumReadout_->setAttribute(Qt::WA_TransparentForMouseEvents);
        QFont f = spectrumReadout_->font();
        f.setPixelSize(10);
        spectrumReadout_->setFont(f);
        spectrumReadout_->setStyleSheet(QStringLiteral(
            "QLabel { color: white; background: rgba(0,0,0,170); padding: 1px 3px; border-radius: 2px; }"));
    }
    spectrumReadout_->setText(text);
    spectrumReadout_->adjustSize();
    // Beside the pointer, kept inside the view.
    QPoint place = at.toPoint() + QPoint(12, 12);
    place.setX(std::min(place.x(), width() - spectrumReadout_->width() - 2));
    place.setY(std::min(place.y(), height() - spectrumReadout_->height() - 2));
    if (place.x() < 0) place.setX(0);
    spectrumReadout_->move(place);
    spectrumReadout_->show();
    spectrumReadout_->raise();
}

std::ptrdiff_t ZQWaveform::markerAt(double x) const {
    if (!document_) return -1;
    const MarkerList& markers = document_->markers();
    const IndexRange r = shownRange();
    const double a = double(r.min_.v_), b = double(r.max_.v_);
    const qreal ratio = devicePixelRatioF();
    const double W = std::round(width() * ratio), device = x * ratio;
    std::ptrdiff_t best = -1;
    double nearest = 4 * ratio;
    const std::size_t end = markers.lowerBound(r.max_.v_ + 1);
    for (std::size_t i = markers.lowerBound(r.min_.v_); i < end; ++i) {
        const double column = b > a ? std::floor((double(markers.items()[i].frame) - a) / (b - a) * W) : 0.0;
        if (std::fabs(column - device) <= nearest) {
            nearest = std::fabs(column - device);
            best = static_cast<std::ptrdiff_t>(i);
        }
    }
    return best;
}

void ZQWaveform::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const std::ptrdiff_t marker = markerAt(event->position().x());
        Ref<ZQWaveformDisplayController> controller = waveformDisplayController_;
        if (marker >= 0 && controller) {
            stopAutoScroll();
            ignoreRelease_ = true; // the release of this click changes nothing
            controller->selectFromMarker(static_cast<std::size_t>(marker));
            return;
        }
    }
    mousePressEvent(event);
}

void ZQWaveform::documentWillClose() {
    Ref<ZQAudioFileDocument> keep = document_;
    Guard g(lock_);
    document_ = {};
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->documentWillClose();
    if (waveformPlayheadPositionView_) waveformPlayheadPositionView_->documentWillClose();
    waveformSelectionOverlay_ = nullptr;
    waveformPlayheadPositionView_ = nullptr;
    vZoomOverlay_ = firstVisibleOverlay_ = lastVisibleOverlay_ = channelNameOverlay_ = nullptr;
    waveformDisplayController_ = {};
    isReadyToDraw_ = false;
}
