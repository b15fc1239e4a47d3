#include "window/ZQWaveformDisplayController.h"

#include "audiofile/Markers.h"
#include "controls/Colours.h"
#include "document/AudioFileDocumentClipboard.h"
#include "platform/base/Format.h"
#include "platform/threads/Threads.h"
#include "window/ViewPreferences.h"
#include "window/WaveformColorPreferences.h"

#include <QSettings>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ZQ;
using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

ZQWaveformDisplayController::ZQWaveformDisplayController()
    : state_(this), zoom_(state_, {[this] { return hasViews(); }, [this] { return channels_.showTraces(); }}),
      editing_(state_, {[this] { return hasViews(); },
                        [this] {
                            ZQWaveform* v = waveform(0);
                            return v ? v->shownGeometry().framesPerColumn() : 1.0;
                        },
                        [this](std::uint64_t frame) { locate(frame); }, this}),
      markers_(state_, {[this] { return hasViews(); }, [this](std::uint64_t frame) { locate(frame); },
                        [this] { chosenMarkerDidChange(); }}) {}

ZQWaveformDisplayController* ZQWaveformDisplayController::initWithAudioFileDocument(ZQAudioFileDocument* document) {
    if (!document) return nullptr;
    ZQ::Accessibility::install();
    auto* c = new ZQWaveformDisplayController;
    c->document_ = Ref<ZQAudioFileDocument>::retain(document);
    c->editing_.setDocument(c->document_);
    c->markers_.setDocument(c->document_);
    c->obi_.setObserver(c);
    c->obi_.observe(
        [c](const platform::Notification&) {
            if (platform::Thread::isMainThread()) {
                c->waveformColorPreferencesDidChange();
                return;
            }
            Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(c);
            platform::performOnMainThread([self] { self->waveformColorPreferencesDidChange(); });
        },
        WaveformColorPreferences::waveformColorsDidChangeNotification());
    // The View menu posts on the main thread.
    platform::NotificationCenter::defaultCenter().addObserver(c, ViewPreferences::didChangeNotification(),
                                                              [c](const platform::Notification&) {
                                                                  if (platform::Thread::isMainThread())
                                                                      c->viewPreferencesDidChange();
                                                              });
    // Each finished spectral tile asks the views for a repaint, once per turn
    // of the main loop however many finish meanwhile. The workers touch
    // nothing of this controller: `alive` ends when the document closes.
    std::weak_ptr<bool> alive = c->alive_;
    auto pending = std::make_shared<std::atomic<bool>>(false);
    document->setSpectrogramTileListener([c, alive, pending] {
        if (alive.expired() || pending->exchange(true)) return;
        platform::performOnMainThread([c, alive, pending] {
            pending->store(false);
            if (alive.expired()) return;
            c->channels_.redrawSpectrograms();
        });
    });
    return c;
}

ZQWaveformDisplayController::~ZQWaveformDisplayController() {
    obi_.remove();
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    if (ruler_) ruler_->detach();
    if (window_) {
        window_->detachController(); // the window may outlive us until its deletion
        window_->deleteLater();      // never closed: the window goes with us
    }
}

Ref<ZQAudioFileDocument> ZQWaveformDisplayController::document() const {
    Guard g(monitor());
    return document_;
}

void ZQWaveformDisplayController::buildUI() {
    if (buildUIHasBeenCalled_.isSet()) return;
    Guard g(monitor());
    window_ = new ZQDocumentWindow(this);
    window_->setWindowTitle(QString());
    window_->setMinimumSize(600, 255);
    window_->setMaximumSize(4096, 4096);
    QWidget* content = window_->contentView();
    const Frame c = boundsOf(content);

    // The content box: 4-point margins left and right, a 36-point strip free
    // at the bottom, flush at the top.
    contentBox_ = new ZQRoundedBox(content);
    placeChild(contentBox_, {c.x + 4, c.y + 36, c.width - 8, c.height - 36}, kWidthSizable | kHeightSizable);
    contentBox_->setCornerRadius(3.0);
    contentBox_->setBorderWidth(1.0);
    contentBox_->setContentViewMargins(QSizeF(0, 4));
    contentBox_->setFillColor(calibratedWhite(0.89, 1.0));
    contentBox_->setBorderColor(calibratedWhite(0.0, 0.4));
    QWidget* boxContent = contentBox_->contentView();
    const Frame B = boundsOf(boxContent);

    channels_.build(boxContent, {0, 20, B.width, B.height - 26});
    const Frame S = frameOf(channels_.splitView());

    zoom_.build(boxContent, S, this);
    updateColorsFromPreferences();

    zoomSettingsHaveChanged();

    // The time ruler, over the split view's top.
    ruler_ = new ZQTimeRuler(boxContent, this);
    placeChild(ruler_, {0, S.y + S.height, B.width, 0}, kWidthSizable | kMinYMargin);
    layoutRuler();

    // The readouts and meters, in the window's bottom strip.
    readouts_ = new ZQWindowReadouts(content, document_.get(), &state_);

    hasWindow_.store(true);
    buildUIHasBeenCalled_.set();
}

void ZQWaveformDisplayController::audioFileDataHasLoaded() {
    if (platform::Thread::isMainThread()) return imp_audioFileDataHasLoaded();
    Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(this);
    platform::performOnMainThread([self] { self->imp_audioFileDataHasLoaded(); });
}

void ZQWaveformDisplayController::imp_audioFileDataHasLoaded() {
    Ref<ZQAudioFileDocument> doc = document();
    ZQSimpleHorzontalSplitView* split = channels_.splitView();
    if (!doc || !split) return;
    const std::int32_t n = doc->channelCount();
    if (n <= 0) return;
    state_.setLength(doc->sampleCount(0).v_);
    channels_.addViews(doc.get(), this, n);
    state_.zoom().amplitudeInDb = ViewPreferences::amplitudeInDb();
    channels_.forEach([](ZQWaveform* v) { v->enableDrawing(); });
    orderFocusChain();
    if (ruler_) ruler_->setShowsMarkerLane(!doc->markers().empty());
    layoutRuler();
    split->setDividerColor(lightGrayColour());
    split->resizeSubviews();
    split->update();
    updateColorsFromPreferences();
    zoomOutEntirely();
}

void ZQWaveformDisplayController::orderFocusChain() {
    if (!window_) return;
    // The channels in order, the scroller, the zoom, then the transport
    // buttons from left to right.
    std::vector<QWidget*> chain;
    channels_.forEach([&chain](ZQWaveform* v) { chain.push_back(v); });
    chain.push_back(zoom_.scroller());
    chain.push_back(zoom_.horizontalSlider());
    std::vector<QWidget*> buttons;
    for (QWidget* w : window_->findChildren<QWidget*>())
        if (w->focusPolicy() & Qt::TabFocus && w->inherits("QPushButton") && w->isVisibleTo(window_))
            buttons.push_back(w);
    std::sort(buttons.begin(), buttons.end(), [this](QWidget* a, QWidget* b) {
        return a->mapTo(window_, QPoint()).x() < b->mapTo(window_, QPoint()).x();
    });
    chain.insert(chain.end(), buttons.begin(), buttons.end());
    std::erase(chain, nullptr);
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

// Zoom and scroll.

void ZQWaveformDisplayController::windowZoomDidChange() {
    setWaveformsNeedDisplay(true);
    zoomSettingsHaveChanged();
    announcer_.zoomDidChange(waveform(0), ruler_);
}

double ZQWaveformDisplayController::horizontalZoom() {
    return state_.zoom().horizontalZoom.v_;
}
double ZQWaveformDisplayController::verticalZoom() {
    return state_.zoom().verticalZoom.v_;
}
void ZQWaveformDisplayController::setHorizontalZoom(double zoom, bool updateControls) {
    zoom_.setHorizontalZoom(zoom, updateControls);
}
void ZQWaveformDisplayController::setVerticalZoom(double zoom, bool updateControls) {
    zoom_.setVerticalZoom(zoom, updateControls);
}
void ZQWaveformDisplayController::changeHorizontalZoom(ZQDoubleSlider* sender) {
    zoom_.changeHorizontalZoom(sender);
}
void ZQWaveformDisplayController::changeVerticalZoom(ZQDoubleSlider* sender) {
    zoom_.changeVerticalZoom(sender);
}
void ZQWaveformDisplayController::changeHorizontalScroll(ZQWaveformDisplayScroller* sender) {
    zoom_.changeHorizontalScroll(sender);
}
void ZQWaveformDisplayController::zoomIn() {
    zoom_.zoomKeepingPlace(0.5);
}
void ZQWaveformDisplayController::zoomOut() {
    zoom_.zoomKeepingPlace(2.0);
}
void ZQWaveformDisplayController::zoomAmplitudeIn() {
    zoom_.zoomAmplitudeIn();
}
void ZQWaveformDisplayController::zoomAmplitudeOut() {
    zoom_.zoomAmplitudeOut();
}
void ZQWaveformDisplayController::zoomOutEntirely() {
    zoom_.zoomOutEntirely();
}
bool ZQWaveformDisplayController::canZoomIn() {
    return zoom_.canZoomIn();
}
bool ZQWaveformDisplayController::canZoomOut() {
    return zoom_.canZoomOut();
}
bool ZQWaveformDisplayController::canZoomAmplitudeIn() {
    return zoom_.canZoomAmplitudeIn();
}
bool ZQWaveformDisplayController::canZoomAmplitudeOut() {
    return zoom_.canZoomAmplitudeOut();
}
bool ZQWaveformDisplayController::canZoomOutEntirely() {
    return zoom_.canZoomOutEntirely();
}

bool ZQWaveformDisplayController::canZoomToSelection() {
    return hasViews() && state_.selectionLength() != 0;
}

void ZQWaveformDisplayController::zoomToSelection() {
    if (!hasViews()) return;
    state_.zoomToSelection();
}

void ZQWaveformDisplayController::zoomSettingsHaveChanged() {
    zoom_.sync();
    if (ruler_) ruler_->update();
    commandStateMayHaveChanged();
}

void ZQWaveformDisplayController::scrollAction(unsigned part, bool isVertical) {
    zoom_.scrollAction(part, isVertical);
}

double ZQWaveformDisplayController::horizontalScrollValue() const {
    return zoom_.scroller() ? zoom_.scroller()->doubleValue() : 0.0;
}

void ZQWaveformDisplayController::scrollToFirstSample(double first) {
    if (hasViews()) state_.scrollToFirst(first);
}

void ZQWaveformDisplayController::zoomAround(double factor, double xFraction) {
    if (hasViews()) state_.zoomAround(factor, xFraction);
}

void ZQWaveformDisplayController::scrollByColumns(double columns, int width) {
    if (hasViews()) state_.scrollByColumns(columns, width);
}

// Selection.

void ZQWaveformDisplayController::windowSelectionDidChange() {
    channels_.forEach([](ZQWaveform* v) {
        if (ZQWaveformSelectionOverlay* o = v->selectionOverlay()) o->playbackTimerTick(); // redraws what changed
    });
    // A new selection is what Delete acts on now, not a marker chosen before.
    markers_.choose(-1);
    channels_.forEach([this](ZQWaveform* v) { announcer_.selectionDidChange(v); });
    if (ruler_) ruler_->update();
    if (readouts_) readouts_->updateSelection();
    commandStateMayHaveChanged();
}

// Selection and editing: the commands live in the window's editing.

void ZQWaveformDisplayController::extendSelection(int steps) {
    editing_.extendSelection(steps);
}
void ZQWaveformDisplayController::extendSelectionToEnd(bool end) {
    editing_.extendSelectionToEnd(end);
}
bool ZQWaveformDisplayController::validateMenuItem(const ZQMenuItem* item) {
    Guard g(monitor());
    if (item && item->action && *item->action == ZQAction::Delete && markers_.chosen() >= 0) return true;
    return item && item->action && editing_.validate(*item->action);
}
void ZQWaveformDisplayController::copy(platform::Object*) {
    Ref<ZQAudioFileDocument> doc = document();
    if (!doc) return;
    Guard d(doc->monitor());
    Guard g(monitor());
    editing_.copy();
}
void ZQWaveformDisplayController::paste(platform::Object*) {
    editing_.paste(); // the edit stops the transport, whose monitor comes before this controller's
}
void ZQWaveformDisplayController::cut(platform::Object*) {
    editing_.cut();
}
void ZQWaveformDisplayController::delete_(platform::Object*) {
    // A marker chosen in the lane or the panel goes, not the samples.
    if (markers_.chosen() >= 0) {
        markers_.deleteChosen();
        return;
    }
    editing_.remove();
}
void ZQWaveformDisplayController::duplicate(platform::Object*) {
    editing_.duplicate();
}
void ZQWaveformDisplayController::selectAll(platform::Object*) {
    Guard g(monitor());
    editing_.selectAll();
}
void ZQWaveformDisplayController::selectNone(platform::Object*) {
    Guard g(monitor());
    editing_.selectNone();
}
void ZQWaveformDisplayController::selectFrames(std::uint64_t first, std::uint64_t last) {
    Guard g(monitor());
    editing_.selectFrames(first, last);
}
void ZQWaveformDisplayController::selectFromMarker(std::size_t index) {
    editing_.selectFromMarker(index);
}
bool ZQWaveformDisplayController::goToMarker(bool next) {
    return editing_.goToMarker(next);
}
bool ZQWaveformDisplayController::hasMarkerBefore() {
    return editing_.hasMarkerBefore();
}
bool ZQWaveformDisplayController::hasMarkerAfter() {
    return editing_.hasMarkerAfter();
}

void ZQWaveformDisplayController::audioFileSamplesDidChange(std::uint64_t, const Num::SampleRange& selection) {
    Guard g(monitor());
    if (!document_) return;
    // The new length (the zoom kept where it still fits) and the selection
    // that goes with the new samples, within them; the views draw anew.
    state_.setLength(document_->sampleCount(0).v_);
    state_.setSelection(selection);
    state_.setPlayPosition(document_->presentPlaybackPosition());
    setWaveformsNeedDisplay(true);
    syncMarkerLane(); // the edit may have taken the last marker, or undone that
    imp_updateNumericAndHMSDisplays();
    documentEditedStateDidChange();
}

void ZQWaveformDisplayController::audioFileSummaryDidGrow() {
    channels_.redrawAwaitingSummaries();
}

bool ZQWaveformDisplayController::showsEveryColumn() {
    return channels_.showEveryColumn() && document_ && document_->samplesAreSummarised();
}

void ZQWaveformDisplayController::channelAudibilityDidChange() {
    channels_.forEach([](ZQWaveform* v) { v->syncChannelToggles(); });
}

void ZQWaveformDisplayController::documentEditedStateDidChange() {
    if (!window_ || !document_) return;
    // A document with changes has "*" before its name, as editors on this
    // desktop mark theirs; the title as shown once the window opened is kept.
    QVariant base = window_->property("zqUneditedTitle");
    if (!base.isValid()) {
        base = window_->windowTitle();
        window_->setProperty("zqUneditedTitle", base);
    }
    const QString title = document_->isDocumentEdited() ? QStringLiteral("*") + base.toString() : base.toString();
    if (window_->windowTitle() != title) window_->setWindowTitle(title);
}

// Readouts and ticks.

void ZQWaveformDisplayController::updateNumericAndHMSDisplays() {
    if (platform::Thread::isMainThread()) return imp_updateNumericAndHMSDisplays();
    Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(this);
    platform::performOnMainThread([self] { self->imp_updateNumericAndHMSDisplays(); });
}

void ZQWaveformDisplayController::imp_updateNumericAndHMSDisplays() {
    {
        Guard g(monitor());
        if (!document_ || !readouts_ || !readouts_->update()) return;
    }
    playbackTimerTick(); // after the monitor: the tick asks the source
}

void ZQWaveformDisplayController::updateLevelMeter() {
    if (readouts_) readouts_->updateLevelMeter();
}

void ZQWaveformDisplayController::playbackTimerTick() {
    Ref<ZQAudioFileDocument> doc = document_;
    if (!doc) return;
    updateLevelMeter();
    // The play position, read once for every view.
    state_.setPlayPosition(doc->presentPlaybackPosition());
    // Ticks come while playing: a screen reader hears of them a second apart.
    announcer_.positionMayHaveChanged(waveform(0), state_.playPosition(), true);
    // Following is checked on a later turn of the loop: this tick can come
    // with this controller's monitor held (after an edit, say), and the check
    // asks the transport, whose monitor comes first in the lock order.
    if (followsPlayback() && !followCheckPending_.exchange(true)) {
        Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(this);
        platform::performOnMainThread([self] { self->followPlayPosition(); });
    }
    channels_.forEach([](ZQWaveform* v) { v->playbackTimerTick(); });
}

void ZQWaveformDisplayController::locate(std::uint64_t frame) {
    if (Ref<ZQAudioFileDocument> doc = document()) doc->locatePlaybackPosition(frame);
    playbackTimerTick(); // the line moves at once
    announcer_.positionMayHaveChanged(waveform(0), state_.playPosition(), false);
}

void ZQWaveformDisplayController::followPlayPosition() {
    followCheckPending_.store(false);
    Ref<ZQAudioFileDocument> document = document_;
    if (!document || !hasViews()) return;
    ZQAudioFileDocumentTransportCommandReceiver* receiver = document->audioFileDocumentTransportCommandReceiver();
    if (!receiver || !receiver->isPlaying()) return;
    // A play position that left the view pages it, the position then at the
    // left edge (once per page, not on every tick).
    const std::uint64_t at = state_.playPosition();
    const IndexRange& visible = waveform(0)->visibleRange();
    if (at < visible.min_.v_ || at > visible.max_.v_) scrollToFirstSample(double(at));
}

namespace {
std::atomic<int> gFollowPlayback{-1}; // -1: not read from the preferences yet
} // namespace

bool ZQWaveformDisplayController::followsPlayback() {
    int follow = gFollowPlayback.load();
    if (follow < 0) {
        follow = QSettings().value(QString::fromUtf8(kFollowPlaybackKey), true).toBool() ? 1 : 0;
        gFollowPlayback.store(follow);
    }
    return follow == 1;
}

void ZQWaveformDisplayController::setFollowsPlayback(bool follow) {
    gFollowPlayback.store(follow ? 1 : 0);
    QSettings().setValue(QString::fromUtf8(kFollowPlaybackKey), follow);
}

// Colours.

void ZQWaveformDisplayController::updateColorsFromPreferences() {
    Guard g(monitor());
    setForegroundColor(WaveformColorPreferences::foregroundColorFromPreferences());
    setBackgroundColor(WaveformColorPreferences::backgroundColorFromPreferences());
}

void ZQWaveformDisplayController::waveformColorPreferencesDidChange() {
    updateColorsFromPreferences();
}

void ZQWaveformDisplayController::setBackgroundColor(const QColor& colour) {
    backgroundColor_ = colour.isValid() ? colour : QColor::fromRgbF(0, 0, 0, 1);
    const QColor c = backgroundColor_;
    channels_.forEach([&c](ZQWaveform* v) { v->setBackgroundColor(c); });
}

void ZQWaveformDisplayController::setForegroundColor(const QColor& colour) {
    foregroundColor_ = colour.isValid() ? colour : QColor::fromRgbF(1, 1, 1, 1);
    const QColor c = foregroundColor_;
    channels_.forEach([&c](ZQWaveform* v) { v->setForegroundColor(c); });
}

void ZQWaveformDisplayController::changeBackgroundColor(const QColor& colour) {
    if (colour.isValid()) setBackgroundColor(colour);
}
void ZQWaveformDisplayController::changeForegroundColor(const QColor& colour) {
    if (colour.isValid()) setForegroundColor(colour);
}

// Layout and drawing.

void ZQWaveformDisplayController::setWaveformsNeedDisplay(bool needsDisplay) {
    if (needsDisplay) channels_.setNeedsDisplay();
}

void ZQWaveformDisplayController::viewDidDraw(ZQWaveform* view) {
    if (view == waveform(0)) backingVisibleRange_ = view->visibleRange();
}

void ZQWaveformDisplayController::resizeWaveforms() {
    Guard g(monitor());
    channels_.resize();
}

void ZQWaveformDisplayController::layoutRuler() {
    ZQSimpleHorzontalSplitView* split = channels_.splitView();
    if (!split || !contentBox_) return;
    const Frame B = boundsOf(contentBox_->contentView());
    // The split view's place without a ruler: 20 points up from the bottom,
    // 6 below the top.
    const double bottom = 20, full = std::max(0.0, B.height - 26);
    const bool shown = ruler_ && ViewPreferences::showsTimeRuler();
    const double rulerHeight = shown ? std::min<double>(ruler_->preferredHeight(), full) : 0;
    setFrame(split, {0, bottom, B.width, full - rulerHeight});
    if (ruler_) {
        ruler_->setVisible(shown);
        setFrame(ruler_, {0, bottom + full - rulerHeight, B.width, rulerHeight});
        ruler_->update();
    }
    zoom_.placeVerticalSlider(B.width, bottom, full - rulerHeight);
    split->resizeSubviews();
}

void ZQWaveformDisplayController::viewPreferencesDidChange() {
    if (!channels_.splitView()) return;
    channels_.applyFit();
    // The dB scale; what the views show, and how the spectrogram looks: drawn
    // again (from the cache's levels; only a new frame size transforms anew).
    state_.zoom().amplitudeInDb = ViewPreferences::amplitudeInDb();
    setWaveformsNeedDisplay(true);
    layoutRuler();
    commandStateMayHaveChanged();
}

// Markers and the spectrogram.

void ZQWaveformDisplayController::markersDidChange() {
    if (!platform::Thread::isMainThread()) { // widgets live on the main thread
        Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(this);
        platform::performOnMainThread([self] { self->markersDidChange(); });
        return;
    }
    if (!document()) return;
    markers_.markersDidChange();
    announcer_.markersDidChange(ruler_);
    setWaveformsNeedDisplay(true);
    syncMarkerLane();
    documentEditedStateDidChange(); // marker edits are changes to save
    commandStateMayHaveChanged();
}

void ZQWaveformDisplayController::chosenMarkerDidChange() {
    if (ruler_) ruler_->update();
    announcer_.chosenMarkerDidChange(ruler_, markers_.chosen());
    commandStateMayHaveChanged(); // Delete acts on the chosen marker
}

void ZQWaveformDisplayController::syncMarkerLane() {
    if (!ruler_ || !document_) return;
    const bool lane = !document_->markers().empty();
    if (lane != ruler_->showsMarkerLane()) {
        ruler_->setShowsMarkerLane(lane);
        layoutRuler();
    }
    ruler_->update();
}

std::shared_ptr<SpectrogramCache> ZQWaveformDisplayController::spectrogramCache() {
    Ref<ZQAudioFileDocument> doc = document();
    return doc ? doc->spectrogramCache() : nullptr;
}

SpectrogramImage::Scale ZQWaveformDisplayController::spectrogramScale() {
    SpectrogramImage::Scale scale;
    const double rate = document_ ? document_->sampleRate() : 0.0;
    scale.rate = rate > 0 ? rate : 44100.0;
    scale.logarithmic = ViewPreferences::spectrogramLogFrequency();
    scale.rangeDb = float(ViewPreferences::spectrogramRangeDb());
    scale.gainDb = float(ViewPreferences::spectrogramGainDb());
    return scale;
}

// Closing.

void ZQWaveformDisplayController::documentWillClose() {
    if (!platform::Thread::isMainThread()) { // widgets live on the main thread
        Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(this);
        platform::performOnMainThread([self] { self->documentWillClose(); });
        return;
    }
    Ref<ZQAudioFileDocument> keep = document();
    if (!keep) return;
    alive_ = std::make_shared<bool>(true); // tiles finishing now repaint nothing
    keep->setSpectrogramTileListener({});
    Guard g(monitor());
    document_ = {};
    editing_.setDocument({});
    markers_.setDocument({});
    hasWindow_.store(false);
    QPointer<ZQDocumentWindow> window = window_;
    window_ = nullptr;
    if (window) window->detachController(); // the window outlives us until it is deleted
    channels_.documentWillClose();          // the split view too
    if (readouts_) readouts_->documentWillClose();
    readouts_ = nullptr;
    zoom_.clear();
    contentBox_ = nullptr;
    if (ruler_) ruler_->detach();
    ruler_ = nullptr;
    backgroundColor_ = foregroundColor_ = QColor();
    // The window goes last, with every widget in it.
    if (window) {
        window->closeForDocument();
        window->deleteLater();
    }
}
