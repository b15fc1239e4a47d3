#include "window/ZQWaveform.h"

#include "audiofile/ChannelNames.h"
#include "audiofile/Markers.h"
#include "controls/Colours.h"
#include "controls/ZQChannelToggle.h"
#include "window/TwoCoreRunner.h"
#include "window/ViewPreferences.h"
#include "window/ZQWaveformHost.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QSignalBlocker>
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

// Whether a background is light: overlays then darken it (adding light to
// white shows nothing) instead of brightening it.
bool isLight(const RGBAlphaComponents& c) {
    return 0.2126 * c.r_ + 0.7152 * c.g_ + 0.0722 * c.b_ > 0.5;
}

const WaveformZoomSettings& noZoom() {
    static const WaveformZoomSettings none;
    return none;
}

// The labels' heights: normal, and on the compact line of a short view.
constexpr int kLabelHeight = 13;
constexpr int kCompactHeight = 11;
constexpr int kToggleSize = 14;

} // namespace

ZQWaveform::ZQWaveform(QWidget* parent) : QWidget(parent), gesture_(this, [this] { return drawnGeometry(); }) {}

ZQWaveform::~ZQWaveform() = default;

ZQWaveform* ZQWaveform::initWithFrame(QWidget* parent, const Frame& frame, ZQAudioFileDocument* document,
                                      ZQWaveformHost* host, std::int32_t channelNumber) {
    if (channelNumber >= 16 || !host || !document) return nullptr;
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
    // Mute and Solo for this channel, small, at the left edge.
    auto toggle = [this](const char* text, const char* name, const QString& tip, const char* on) {
        auto* b = new ZQChannelToggle(QString::fromUtf8(text), QColor(QString::fromUtf8(on)), this);
        b->setObjectName(QString::fromUtf8(name) + QString::number(channelNumber_ + 1));
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        return b;
    };
    const QString channel = QString::number(channelNumber_ + 1);
    if (!muteToggle_) {
        muteToggle_ = toggle("M", "muteChannel", QStringLiteral("Mute channel %1").arg(channel), "#f0b040");
        connect(muteToggle_, &QToolButton::toggled, this, [this](bool on) {
            if (document_ && document_->isChannelMuted(channelNumber_) != on)
                document_->setChannelMuted(channelNumber_, on);
        });
        muteToggle_->show();
    }
    if (!soloToggle_) {
        soloToggle_ = toggle("S", "soloChannel", QStringLiteral("Solo channel %1").arg(channel), "#60d070");
        connect(soloToggle_, &QToolButton::toggled, this, [this](bool on) {
            if (document_ && document_->isChannelSoloed(channelNumber_) != on)
                document_->setChannelSoloed(channelNumber_, on);
        });
        soloToggle_->show();
    }
    syncChannelToggles();
    placeLabels();
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
    // Each label as wide as its text, one pixel inside the view's border.
    // A view tall enough has the name and the amplitude at the top, Mute and
    // Solo above the bottom row, and the first and last visible frames in the
    // bottom corners; a short one (channels fitted into a small window) puts
    // the name and the toggles on one compact line and leaves out what does
    // not fit. Over a spectrogram the frames' numbers sit above it, never on
    // its lowest (often only) content.
    const int W = width(), H = height();
    const bool compact = H < 2 * kLabelHeight + 4;
    const int h = compact ? std::min(kCompactHeight, H) : kLabelHeight;
    auto place = [h](QWidget* l, int x, int y, int w) {
        if (l) l->setGeometry(x, y, w, h);
    };
    auto widthOf = [](QLabel* l) { return l ? l->sizeHint().width() : 0; };
    auto show = [](QWidget* l, bool on) {
        if (l && l->isVisibleTo(l->parentWidget()) != on) l->setVisible(on);
    };
    const qreal ratio = devicePixelRatioF();
    const int traceBottom = int(std::floor(traceRows_ / ratio)); // logical rows of the traces
    const ViewPreferences::Display shown = display();
    // The bottom row: the view's bottom, or just above the spectrogram.
    int bottomRow = H - 1 - h;
    if (shown == ViewPreferences::Display::Both && traceBottom > 2 * h) bottomRow = traceBottom - h;
    const bool spectrogramOnly = shown == ViewPreferences::Display::Spectrogram;

    const int nameWidth = widthOf(channelNameOverlay_);
    const int top = compact ? std::max(0, (H - h) / 2) : 1;
    place(channelNameOverlay_, 1, top, std::min(nameWidth, std::max(0, W - 2)));
    show(channelNameOverlay_, H >= 9);
    // Mute and Solo: after the name on the compact line, else above the
    // bottom row at the left edge.
    int toggleX = 2, toggleY = H - 15 - kToggleSize;
    int toggleSize = kToggleSize;
    if (compact) {
        toggleX = 1 + nameWidth + 3;
        toggleY = top;
        toggleSize = h;
    }
    if (muteToggle_) muteToggle_->setGeometry(toggleX, toggleY, toggleSize + 2, toggleSize);
    if (soloToggle_) soloToggle_->setGeometry(toggleX + toggleSize + 4, toggleY, toggleSize + 2, toggleSize);
    const int togglesRight = toggleX + 2 * toggleSize + 6;
    const bool togglesFit = compact ? H >= 9 && togglesRight < W : H >= 15 + kToggleSize + 2;
    show(muteToggle_, togglesFit);
    show(soloToggle_, togglesFit);

    // The amplitude at the top right, where it does not meet the name (or
    // the toggles) and a spectrogram alone does not make it meaningless.
    const int zoomWidth = widthOf(vZoomOverlay_);
    place(vZoomOverlay_, W - 1 - zoomWidth, 1, zoomWidth);
    const int leftTaken = compact && togglesFit ? togglesRight : 1 + nameWidth;
    show(vZoomOverlay_, !compact && !spectrogramOnly && W - 1 - zoomWidth > leftTaken + 4 && vZoomOverlay_ &&
                            !vZoomOverlay_->text().isEmpty());

    // The first and last visible frames: the bottom row, or the top row over
    // a spectrogram alone (where the amplitude is not shown).
    const int firstWidth = widthOf(firstVisibleOverlay_), lastWidth = widthOf(lastVisibleOverlay_);
    int indexRow = bottomRow, firstX = 1;
    if (spectrogramOnly && !compact) {
        indexRow = 1;
        firstX = 1 + nameWidth + 4;
    }
    place(firstVisibleOverlay_, firstX, indexRow, firstWidth);
    place(lastVisibleOverlay_, W - 1 - lastWidth, indexRow, lastWidth);
    const bool indexesFit = !compact && H >= h + 6 && firstX + firstWidth + 4 < W - 1 - lastWidth;
    show(firstVisibleOverlay_, indexesFit && !(firstVisibleOverlay_ && firstVisibleOverlay_->text().isEmpty()));
    show(lastVisibleOverlay_, indexesFit && !(lastVisibleOverlay_ && lastVisibleOverlay_->text().isEmpty()));
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
    return ChannelGeometry::of(g.first, g.last, width(), ratio);
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

void ZQWaveform::showLabels() {
    auto show = [](QLabel* l, const QString& text) {
        if (l && l->text() != text) l->setText(text);
    };
    const bool empty = !host_ || host_->windowState().isEmpty();
    show(firstVisibleOverlay_, empty ? QString() : QString::number(static_cast<qulonglong>(visibleRange_.min_.v_)));
    show(lastVisibleOverlay_, empty ? QString() : QString::number(static_cast<qulonglong>(visibleRange_.max_.v_)));
    const double v = drawZoom_.representedVerticalZoom.v_;
    if (v <= 20 && v >= -20) show(vZoomOverlay_, empty ? QString() : QString::number(std::int32_t(v * 100)));
    placeLabels();
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
        drawnGeometry_ = ChannelGeometry::of(visibleRange_.min_.v_, visibleRange_.max_.v_, drawSize_.width(), 1.0);
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
        QRect toggles;
        const qreal ratio = devicePixelRatioF();
        for (QToolButton* b : {muteToggle_.data(), soloToggle_.data()})
            if (b && b->isVisibleTo(this)) {
                const QRect r = b->geometry();
                toggles |= QRect(int(r.x() * ratio), int(r.y() * ratio), int(std::ceil(r.width() * ratio)),
                                 int(std::ceil(r.height() * ratio)));
            }
        frequencyMarks_ = spectrogram_.isShown()
                              ? ScaleRenderer::drawFrequency(image_, traceRows_, spectrogram_.scale(), toggles)
                              : std::vector<ScaleMark>();
    }
    if (empty) { // nothing to measure: no scale over the empty view
        scaleMarks_.clear();
        frequencyMarks_.clear();
    }
    showLabels();
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
    placeLabels();
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
    placeLabels();
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
    vZoomOverlay_ = firstVisibleOverlay_ = lastVisibleOverlay_ = channelNameOverlay_ = nullptr;
    host_ = nullptr;
    hostKeep_ = {};
    samples_ = ChannelSamples();
    spectrogram_.clear();
    isReadyToDraw_ = false;
}
