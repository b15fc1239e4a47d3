#include "window/ZQWaveform.h"

#include "audiofile/Markers.h"
#include "window/TwoCoreRunner.h"
#include "window/ViewPreferences.h"
#include "window/ZQWaveformHost.h"
#include "window/ZQWindowChannels.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
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

// Whether a background is light: overlays then darken it (adding light to
// white shows nothing) instead of brightening it.
bool isLight(const RGBAlphaComponents& c) {
    return 0.2126 * c.r_ + 0.7152 * c.g_ + 0.0722 * c.b_ > 0.5;
}

const WaveformZoomSettings& noZoom() {
    static const WaveformZoomSettings none;
    return none;
}

} // namespace

ZQWaveform::ZQWaveform(QWidget* parent)
    : QWidget(parent), labels_(*this), gesture_(this, [this] { return drawnGeometry(); }) {}

ZQWaveform::~ZQWaveform() = default;

ZQWaveform* ZQWaveform::initWithFrame(QWidget* parent, const Frame& frame, ZQAudioFileDocument* document,
                                      ZQWaveformHost* host, std::int32_t channelNumber) {
    if (channelNumber >= ZQWindowChannels::kMaxViews || !host || !document) return nullptr;
    auto* w = new ZQWaveform(parent);
    w->channelNumber_ = channelNumber;
    placeChild(w, frame, kMinXMargin | kWidthSizable | kMaxXMargin | kMinYMargin | kHeightSizable | kMaxYMargin);
    w->document_ = Ref<ZQAudioFileDocument>::retain(document);
    w->host_ = host;
    w->hostKeep_ = Ref<platform::Object>::retain(dynamic_cast<platform::Object*>(host));
    w->gesture_.setHost(host);
    w->waveformColors_.centerLineColor = RGBAlphaComponents(1, 0, 0, 1);
    // The view paints all of its bounds; nothing behind it needs painting.
    w->setAttribute(Qt::WA_OpaquePaintEvent);
    // Tab reaches each channel (Shift+arrows then select in it); a click does not take focus.
    w->setFocusPolicy(Qt::TabFocus);
    w->setAccessibleName(QStringLiteral("Channel %1").arg(channelNumber + 1));
    w->setMouseTracking(true); // the pointer changes over the selection's edges
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
    if (labels_.built()) return;
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
    labels_.build();
}

bool ZQWaveform::hasLightBackground() const {
    return isLight(waveformColors_.backgroundColor);
}

void ZQWaveform::setBackgroundColor(const QColor& colour) {
    {
        Guard g(lock_);
        waveformColors_.backgroundColor = colour.isValid() ? fromColour(colour) : RGBAlphaComponents(0, 0, 0, 1);
    }
    labels_.applyLook();
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

const WaveformZoomSettings& ZQWaveform::zoomSettings() const {
    return host_ ? host_->windowState().zoom() : noZoom();
}

const SampleSelection& ZQWaveform::selection() {
    static SampleSelection none;
    return host_ ? host_->windowState().selection() : none;
}

void ZQWaveform::setSelection(const SampleSelection& selection) {
    if (host_) host_->windowState().setSelection(selection);
}

std::uint64_t ZQWaveform::selectionLength() {
    return host_ ? host_->windowState().selectionLength() : 0;
}

ChannelGeometry ZQWaveform::drawnGeometry() const {
    ChannelGeometry g = drawnGeometry_;
    // The width as it is now: a resize draws anew, and clicks meanwhile land
    // where the columns will be.
    const qreal ratio = devicePixelRatioF();
    return ChannelGeometry::of(g.first, g.last, width(), ratio, g.lastFrame);
}

IndexRange ZQWaveform::shownRange() const {
    return host_ ? host_->windowState().shownRange() : IndexRange();
}

ChannelGeometry ZQWaveform::shownGeometry() const {
    return host_ ? host_->windowState().geometry(width(), devicePixelRatioF()) : ChannelGeometry();
}

std::uint64_t ZQWaveform::convertEventCoordinatesToSampleIndex(const QPointF& point) {
    return drawnGeometry().frameAt(point.x());
}

std::uint64_t ZQWaveform::presentPlaybackPosition() {
    return host_ ? host_->windowState().playPosition() : 0;
}

void ZQWaveform::playbackTimerTick() {
    if (!isReadyToDraw_) return;
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->playbackTimerTick();
    if (waveformPlayheadPositionView_) waveformPlayheadPositionView_->playbackTimerTick();
}

void ZQWaveform::redrawPlayhead() {
    if (waveformPlayheadPositionView_) waveformPlayheadPositionView_->waveformHasUpdated();
}

void ZQWaveform::updateWaveformCache(const ChannelSamples& samples) {
    Guard g(lock_);
    if (drawSize_.isEmpty()) {
        drawSize_ = deviceSize();
        drawZoom_ = zoomSettings();
        drawZoom_.setWaveformView(nullptr);
    }
    overviewRebuilt_ =
        traces_.rebuild(samples, drawZoom_, drawSize_, traceRows_, shareCores_, visibleRange_, sharedColumns_);
}

bool ZQWaveform::computeSharedColumns(SharedColumns& shared) {
    Guard g(lock_);
    if (!document_ || traceRows_ <= 0 || drawSize_.isEmpty() || !samples_.isValid()) return false;
    return ZQ::computeSharedColumns(shared, samples_.samples, drawZoom_, static_cast<std::uint64_t>(drawSize_.width()),
                                    &shareBetweenCores);
}

void ZQWaveform::useSharedColumns(const SharedColumns* shared) {
    Guard g(lock_);
    sharedColumns_ = shared;
}

bool ZQWaveform::needsTraces() const {
    return isReadyToDraw_ && document_ && channelNumber_ >= 0 && (!imageValid_ || image_.size() != deviceSize());
}

QSize ZQWaveform::deviceSize() const {
    // One overview column and one trace pixel per device pixel: sharp on a
    // dense screen, exactly the logical size at a ratio of 1.
    const qreal ratio = devicePixelRatioF();
    return QSize(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
}

void ZQWaveform::prepareDrawing() {
    // Read here, on the main thread, where the markers, the samples and the
    // View menu's choices change, and not under the view's lock (the document
    // locks before its views).
    const QSize size = deviceSize();
    const ViewPreferences::Display shown = display();
    const int H = size.height();
    const int rows = shown == ViewPreferences::Display::Waveform      ? H
                     : shown == ViewPreferences::Display::Spectrogram ? 0
                                                                      : H / 2;
    const ChannelGeometry geometry = shownGeometry();
    Ref<ZQAudioFileDocument> doc = document_;
    ChannelSamples samples;
    if (doc)
        if (AudioFileDocumentSampleData* data = doc->sampleData(); data && data->isLoaded())
            samples = data->channel(channelNumber_);
    std::shared_ptr<SpectrogramCache> cache = rows < H && doc ? doc->spectrogramCache() : nullptr;
    SpectrogramImage::Scale scale = host_ ? host_->spectrogramScale() : SpectrogramImage::Scale();
    const int common = host_ ? host_->commonViewHeight() : H;
    // The markers' columns, read before the view's lock: the document locks
    // before its views.
    MarkerRenderer marks;
    if (doc) marks.collect(doc->markers(), geometry);
    Guard g(lock_);
    drawSize_ = size;
    drawRatio_ = devicePixelRatioF();
    traceRows_ = rows;
    shownHeight_ = rows == H ? common : common / 2;
    drawZoom_ = zoomSettings();
    drawZoom_.setWaveformView(nullptr); // a copy: the drawing tells nobody
    samples_ = samples;
    overviewRebuilt_ = false;
    markers_ = std::move(marks);
    if (cache)
        spectrogram_.prepare(std::move(cache), scale, ViewPreferences::spectrogramSize(),
                             ViewPreferences::spectrogramColours() == 1, channelNumber_, geometry);
    else
        spectrogram_.clear();
}

void ZQWaveform::rebuildTraces(bool shareCores) {
    Guard g(lock_);
    if (!document_) return;
    shareCores_ = shareCores;
    const bool empty = !samples_.isValid() || samples_.count() == 0;
    if (!empty) updateWaveformCache(samples_);
    if (image_.size() != drawSize_) image_ = QImage(drawSize_, QImage::Format_RGB32);
    image_.setDevicePixelRatio(drawRatio_);
    if (empty) {
        // Nothing to reduce: the background alone, and nothing in view.
        image_.fill(toColour(waveformColors_.backgroundColor).rgb());
        visibleRange_ = IndexRange();
        overviewRebuilt_ = true;
    } else if (overviewRebuilt_) {
        spectrogram_.render(drawSize_.height() - std::clamp(traceRows_, 0, drawSize_.height()));
        traces_.render(image_, traceRows_, drawZoom_.halfPhysicalViewHeightPx.v_, waveformColors_, spectrogram_,
                       markers_, shareCores_);
    }
    if (overviewRebuilt_) {
        // Every frame the traces spread over the columns, up to the frame
        // just past them; the labels' range stops at the file's last frame.
        const std::uint64_t first = visibleRange_.min_.v_;
        drawnGeometry_ = ChannelGeometry::of(first, first + drawZoom_.numVisibleSamples(), drawSize_.width(), 1.0,
                                             drawZoom_.validSampleRange_.max_.v_);
        imageValid_ = true;
    }
    shareCores_ = false;
}

void ZQWaveform::finishRebuild() {
    if (!overviewRebuilt_) return;
    overviewRebuilt_ = false;
    const bool empty = !host_ || host_->windowState().isEmpty();
    if (!empty) {
        Guard g(lock_);
        const bool light = hasLightBackground();
        scaleMarks_ = ScaleRenderer::drawAmplitude(image_, traceRows_, shownHeight_, drawZoom_.amplitudeInDb,
                                                   drawZoom_.verticalZoom.v_, waveformColors_.backgroundColor, light);
        // Clear of the toggles at the left, in device pixels.
        const QRect toggles = labels_.togglesInDevicePixels();
        frequencyMarks_ = spectrogram_.isShown()
                              ? ScaleRenderer::drawFrequency(image_, traceRows_, spectrogram_.scale(), toggles)
                              : std::vector<ScaleMark>();
    }
    if (empty) { // nothing to measure: no scale over the empty view
        scaleMarks_.clear();
        frequencyMarks_.clear();
    }
    // The labels of the visible range and the amplitude, from what was drawn
    // (blank for an empty document).
    labels_.showDrawn(empty, visibleRange_.min_.v_, visibleRange_.max_.v_, drawZoom_.representedVerticalZoom.v_);
    if (host_) host_->viewDidDraw(this);
    redrawPlayhead();
    // The layers draw over the new traces with the new visible range.
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->update();
}

void ZQWaveform::setNeedsDisplay() {
    imageValid_ = false;
    update();
}

ViewPreferences::Display ZQWaveform::display() const {
    const int own = displayOverride();
    return own >= 0 ? static_cast<ViewPreferences::Display>(own) : ViewPreferences::display();
}

int ZQWaveform::displayOverride() const {
    return host_ ? host_->windowState().displayOverride(channelNumber_) : -1;
}

void ZQWaveform::setDisplayOverride(int display) {
    if (host_) host_->windowState().setDisplayOverride(channelNumber_, display);
    setNeedsDisplay();
    labels_.place();
}

void ZQWaveform::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!isReadyToDraw_ || channelNumber_ < 0 || !document_) {
        painter.fillRect(event->rect(), toColour(waveformColors_.backgroundColor));
        return;
    }
    if (needsTraces()) {
        // The window's other views that need it are drawn meanwhile, on both
        // cores (each under its own lock, which this view must not hold now).
        if (host_) host_->prepareOverviews();
        if (needsTraces()) {
            prepareDrawing();
            rebuildTraces(true);
            finishRebuild(); // tells the host, so not under the view's lock
        }
        if (!imageValid_ || image_.size() != deviceSize()) {
            painter.fillRect(event->rect(), toColour(waveformColors_.backgroundColor));
            return;
        }
    }
    Guard g(lock_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    // The image is in device pixels: the part under the logical rectangle.
    const qreal ratio = image_.devicePixelRatio();
    const QRectF r = event->rect();
    painter.drawImage(r, image_, QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio));
    if (keyboardFocus_ && hasFocus()) {
        // Where the keyboard is: a thin frame inside the view's border.
        QPen pen(hasLightBackground() ? QColor(0, 0, 0, 140) : QColor(255, 255, 255, 160));
        pen.setWidth(1);
        pen.setStyle(Qt::DotLine);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(pen);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void ZQWaveform::resizeEvent(QResizeEvent*) {
    imageValid_ = false;
    labels_.place();
}

void ZQWaveform::mousePressEvent(QMouseEvent* event) {
    gesture_.press(event);
}

void ZQWaveform::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) updateSpectrumReadout(event->position());
    gesture_.move(event);
}

void ZQWaveform::mouseReleaseEvent(QMouseEvent* event) {
    gesture_.release(event);
}

void ZQWaveform::mouseDoubleClickEvent(QMouseEvent* event) {
    const std::ptrdiff_t marker =
        document_ ? MarkerRenderer::markerAt(document_->markers(), shownGeometry(), event->position().x()) : -1;
    if (!gesture_.doubleClick(event, marker)) gesture_.press(event);
}

void ZQWaveform::wheelEvent(QWheelEvent* event) {
    if (!host_ || width() <= 0) return;
    WindowState& state = host_->windowState();
    // Trackpads report pixels; wheels report notches of 120.
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    const double xFraction = std::clamp(event->position().x() / double(width()), 0.0, 1.0);
    if (event->modifiers() & Qt::ShiftModifier) {
        // With Shift the channels scroll (when there are more than fit).
        const int steps = !pixels.isNull() ? (pixels.y() != 0 ? pixels.y() : pixels.x())
                                           : (angle.y() != 0 ? angle.y() : angle.x()) * 40 / 120;
        if (steps != 0) host_->scrollChannels(-steps);
    } else if (event->modifiers() & Qt::ControlModifier) {
        const double notches = !pixels.isNull() ? pixels.y() / 50.0 : angle.y() / 120.0;
        if (notches != 0) state.zoomAround(std::pow(0.8, notches), xFraction);
    } else {
        // Either axis scrolls along the file: down and right go forward.
        const double px = !pixels.isNull() ? -(pixels.x() != 0 ? pixels.x() : pixels.y())
                                           : -(angle.x() != 0 ? angle.x() : angle.y()) / 120.0 * (width() / 10.0);
        if (px != 0) state.scrollByColumns(px, width());
    }
    event->accept();
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
    const int own = displayOverride();
    for (const auto& c : kChoices) {
        QAction* a = shows->addAction(QString::fromUtf8(c.title));
        a->setCheckable(true);
        a->setChecked(own == c.value);
        const int value = c.value;
        connect(a, &QAction::triggered, this, [this, value] { setDisplayOverride(value); });
    }
    menu.exec(event->globalPos());
}

void ZQWaveform::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // The mark shows where the keyboard took the focus, not where a window
    // that opened or came to the front put it.
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason ||
                     event->reason() == Qt::ShortcutFocusReason;
    update();
}

void ZQWaveform::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    keyboardFocus_ = false;
    update();
}

void ZQWaveform::leaveEvent(QEvent*) {
    if (spectrumReadout_) spectrumReadout_->hide();
}

void ZQWaveform::updateSpectrumReadout(const QPointF& at) {
    const qreal ratio = devicePixelRatioF();
    const int T = traceRows_, H = deviceSize().height();
    const double y = at.y() * ratio;
    if (!document_ || !spectrogram_.isShown() || T >= H || y < T || y >= H || width() <= 0) {
        if (spectrumReadout_) spectrumReadout_->hide();
        return;
    }
    const ChannelGeometry g = drawnGeometry();
    const QString text = spectrogram_.readout(g.frameAt(at.x()), g.columnAt(at.x()), int(y) - T, H - T);
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

void ZQWaveform::documentWillClose() {
    Ref<ZQAudioFileDocument> keep = document_;
    gesture_.stop();
    gesture_.setHost(nullptr);
    Guard g(lock_);
    document_ = {};
    if (waveformSelectionOverlay_) waveformSelectionOverlay_->documentWillClose();
    if (waveformPlayheadPositionView_) waveformPlayheadPositionView_->documentWillClose();
    waveformSelectionOverlay_ = nullptr;
    waveformPlayheadPositionView_ = nullptr;
    labels_.documentWillClose();
    host_ = nullptr;
    hostKeep_ = {};
    samples_ = ChannelSamples();
    spectrogram_.clear();
    isReadyToDraw_ = false;
}
