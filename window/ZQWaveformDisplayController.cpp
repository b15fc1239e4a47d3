#include "window/ZQWaveformDisplayController.h"

#include "audiofile/Markers.h"
#include "controls/Colours.h"
#include "controls/NumericDisplays.h"
#include "controls/ZQDoubleSlider.h"
#include "controls/ZQRoundedBox.h"
#include "controls/ZQSimpleHorzontalSplitView.h"
#include "controls/ZQWaveformDisplayScroller.h"
#include "document/AudioFileDocumentClipboard.h"
#include "platform/base/Format.h"
#include "platform/threads/Threads.h"
#include "waveform/SpectrogramCache.h"
#include "window/TwoCoreRunner.h"
#include "window/ViewPreferences.h"
#include "window/WaveformColorPreferences.h"
#include "window/ZQWaveform.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

using namespace ZQ;
using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

// A length of time as short as it reads well: "0.021 s", "1:02.500",
// "1:02:03.250".
std::string durationText(double seconds) {
    const auto ms = static_cast<long long>(std::llround(std::max(0.0, seconds) * 1000.0));
    const long long h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60, f = ms % 1000;
    char text[64];
    if (ms < 60000)
        std::snprintf(text, sizeof text, "%lld.%03lld s", s, f);
    else if (h == 0)
        std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", m, s, f);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", h, m, s, f);
    return text;
}

} // namespace

// The window.

ZQDocumentWindow::ZQDocumentWindow(ZQWaveformDisplayController* controller) : controller_(controller) {
    auto* content = new QWidget;
    content->setAutoFillBackground(true);
    QPalette p = content->palette();
    p.setColor(QPalette::Window, calibratedWhite(0.94, 1.0));
    content->setPalette(p);
    content->resize(400, 300); // the content rectangle the frames are laid out in
    setCentralWidget(content);
    resize(400, 300);
}

void ZQDocumentWindow::closeForDocument() {
    closingForDocument_ = true;
    if (isVisible()) close();
}

void ZQDocumentWindow::closeEvent(QCloseEvent* event) {
    if (closingForDocument_) {
        event->accept();
        return;
    }
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (doc && doc->isDocumentEdited()) {
        // Nothing closes before the user has decided about the changes.
        event->ignore();
        QPointer<ZQDocumentWindow> self = this;
        askToExportChanges([self, doc](bool proceed) {
            if (proceed && self && !self->closingForDocument_) {
                self->closingForDocument_ = true;
                doc->close();
            }
        });
        return;
    }
    event->accept();
    closingForDocument_ = true;
    // Closing the window closes the document: playback stops and everything
    // is torn down in order, the window last.
    if (doc) doc->close();
}

void ZQDocumentWindow::askToExportChanges(std::function<void(bool proceed)> then) {
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (!doc || !doc->isDocumentEdited()) {
        then(true);
        return;
    }
    if (QMessageBox* open = changesPrompt_) { // asked already: the new request waits for the same answer
        QObject::connect(open, &QMessageBox::finished, open, [then](int) { then(false); });
        return;
    }
    raise();
    activateWindow();
    const QString name = property("zqUneditedTitle").isValid() ? property("zqUneditedTitle").toString() : windowTitle();
    auto* box = new QMessageBox(this);
    changesPrompt_ = box;
    box->setObjectName(QStringLiteral("exportChangesPrompt"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Unexported Changes"));
    box->setText(QStringLiteral("Do you want to export the changes you made to \u201c%1\u201d?").arg(name));
    box->setInformativeText(QStringLiteral("The changes are in no file yet. If you discard them, they are lost."));
    QPushButton* exportButton = box->addButton(QStringLiteral("Export\u2026"), QMessageBox::AcceptRole);
    QPushButton* discardButton = box->addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    QPushButton* cancelButton = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(exportButton);
    box->setEscapeButton(cancelButton);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, exportButton, discardButton, doc, then](int) {
        QAbstractButton* clicked = box->clickedButton();
        if (clicked == discardButton) {
            then(true);
        } else if (clicked == exportButton) {
            // Closing goes on only once the changes are in a file.
            doc->runConvertPanel(ZQAudioFileDocument::changesExportCode(), ZQAudioFileDocument::kChangesExportType,
                                 [doc, then](bool exported) { then(exported && !doc->isDocumentEdited()); });
        } else {
            then(false);
        }
    });
    box->open();
}

// The controller.

ZQWaveformDisplayController* ZQWaveformDisplayController::initWithAudioFileDocument(ZQAudioFileDocument* document) {
    if (!document) return nullptr;
    auto* c = new ZQWaveformDisplayController;
    c->document_ = Ref<ZQAudioFileDocument>::retain(document);
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

template <class F> void ZQWaveformDisplayController::forEachView(F&& f) {
    for (const QPointer<ZQWaveform>& v : waveforms_)
        if (v) f(v.data());
}

ZQWaveform* ZQWaveformDisplayController::waveform(int channel) const {
    return channel >= 0 && channel < kMaxViews ? waveforms_[static_cast<std::size_t>(channel)].data() : nullptr;
}

int ZQWaveformDisplayController::waveformCount() const {
    return static_cast<int>(
        std::count_if(waveforms_.begin(), waveforms_.end(), [](const auto& v) { return !v.isNull(); }));
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

    splitView_ = new ZQSimpleHorzontalSplitView(boxContent);
    placeChild(splitView_, {0, 20, B.width, B.height - 26}, kWidthSizable | kHeightSizable);
    splitView_->setDividerThickness(2);
    splitView_->setDrawsDivider(false);
    splitView_->setMinimumSubviewHeight(ViewPreferences::fitsChannels() ? 0 : kMinimumViewHeight);
    splitView_->update();
    const Frame S = frameOf(splitView_);

    // The small scroller's width, and one point more.
    const double w = 11 + 1;

    verticalZoomSlider_ = new ZQDoubleSlider(Qt::Vertical, boxContent);
    placeChild(verticalZoomSlider_, {S.width, S.y, 0, S.height}, kMinXMargin | kHeightSizable);
    verticalZoomSlider_->setMinValue(0.5);
    verticalZoomSlider_->setMaxValue(16.0);
    verticalZoomSlider_->setDoubleValue(1.0);
    verticalZoomSlider_->setAction([this](ZQDoubleSlider* s) { changeVerticalZoom(s); });
    verticalZoomSlider_->setHidden(true);

    horizontalZoomSlider_ = new ZQDoubleSlider(Qt::Horizontal, boxContent);
    placeChild(horizontalZoomSlider_, {S.x + 16, S.y - w - 15, S.width - 32, 20}, kWidthSizable | kMaxYMargin);
    horizontalZoomSlider_->setMinValue(0.0);
    horizontalZoomSlider_->setMaxValue(1.0);
    horizontalZoomSlider_->setDoubleValue(0.0);
    horizontalZoomSlider_->setAction([this](ZQDoubleSlider* s) { changeHorizontalZoom(s); });

    zoomOutEntirely();
    updateColorsFromPreferences();

    horizontalScrollScroller_ = new ZQWaveformDisplayScroller(boxContent);
    placeChild(horizontalScrollScroller_, {S.x, S.y - w, S.width, w}, kWidthSizable | kMaxYMargin);
    horizontalScrollScroller_->setWaveformDisplayController(this);
    horizontalScrollScroller_->setKnobProportion(1.0);
    horizontalScrollScroller_->setDoubleValue(0.0);
    horizontalScrollScroller_->setAction([this](ZQWaveformDisplayScroller* s) { changeHorizontalScroll(s); });

    zoomSettingsHaveChanged();

    // The time ruler, over the split view's top.
    ruler_ = new ZQTimeRuler(boxContent, this);
    placeChild(ruler_, {0, S.y + S.height, B.width, 0}, kWidthSizable | kMinYMargin);
    layoutRuler();

    // The readouts, in the window's bottom left.
    auto look = [](QLabel* l, Qt::Alignment alignment) {
        QFont f = l->font();
        f.setPixelSize(11);
        f.setBold(false);
        l->setFont(f);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, darkGrayColour());
        l->setPalette(p);
        l->setAlignment(alignment | Qt::AlignVCenter);
        l->raise();
    };
    sampleCountDisplay_ = new ZQSampleCountDisplay(content);
    placeChild(sampleCountDisplay_, {536, 18, 160, 16}, kMaxXMargin | kMaxYMargin);
    look(sampleCountDisplay_, Qt::AlignLeft);
    currentSelectionDisplay_ = new ZQSampleCountDisplay(content);
    // Below the play position, as the duration is below the time: on its row the
    // two readouts would overlap.
    placeChild(currentSelectionDisplay_, {558, 6, 160, 16}, kMaxXMargin | kMaxYMargin);
    look(currentSelectionDisplay_, Qt::AlignLeft);
    currentSelectionDisplay_->setAllowsZeroLengthRange(true);
    // The selection: its first and last samples and how long it lasts; a
    // dash when nothing is selected.
    currentSelectionDisplay_->setFormatter([this](const Num::SampleRange& r) {
        if (r.min_.v_ >= r.max_.v_) {
            if (currentSelectionDisplay_) currentSelectionDisplay_->setToolTip(QStringLiteral("Selection: none"));
            return std::string("\u2014");
        }
        const double rate = document_ ? document_->sampleRate() : 0.0;
        std::string text = std::to_string(r.min_.v_) + "\u2013" + std::to_string(r.max_.v_);
        if (rate > 0) text += " (" + durationText(double(r.max_.v_ - r.min_.v_ + 1) / rate) + ")";
        // The whole text on hovering, where a narrow window cuts the readout.
        if (currentSelectionDisplay_)
            currentSelectionDisplay_->setToolTip(QStringLiteral("Selection: ") + QString::fromStdString(text));
        return text;
    });
    hmsDuration_ = new ZQHMSDisplay(content);
    placeChild(hmsDuration_, {448, 6, 80, 16}, kMaxXMargin | kMaxYMargin);
    look(hmsDuration_, Qt::AlignRight);
    hmsCurrent_ = new ZQHMSDisplay(content);
    placeChild(hmsCurrent_, {448, 18, 80, 16}, kMaxXMargin | kMaxYMargin);
    look(hmsCurrent_, Qt::AlignRight);
    // What each readout shows, for whoever wonders.
    hmsCurrent_->setToolTip(QStringLiteral("Play position (hours:minutes:seconds.milliseconds)"));
    sampleCountDisplay_->setToolTip(QStringLiteral("Play position / length, in samples"));
    hmsDuration_->setToolTip(QStringLiteral("Duration"));

    // The level meters, at the bottom right, clear of the readouts.
    levelMeter_ = new ZQLevelMeter(content, 722, 4);
    levelMeter_->setChannelCount(document_ && document_->channelCount() == 1 ? 1 : 2);
    levelMeter_->setClearClip([this] {
        if (!document_) return;
        if (ZQAudioFileDocumentOutputSourceController* source = document_->outputSourceController())
            if (ZQ::LevelMeter* m = source->levelMeter())
                for (unsigned c = 0; c < ZQ::LevelMeter::kMaxChannels; ++c)
                    m->clearClip(c);
    });

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
    if (!doc || !splitView_) return;
    const std::int32_t n = doc->channelCount();
    if (n <= 0) return;
    const Frame bounds = boundsOf(splitView_);
    const double h = std::floor(bounds.height / n);
    for (std::int32_t i = 0; i < n; ++i) {
        ZQWaveform* view = ZQWaveform::initWithFrame(splitView_, {0, std::ceil(i * h), bounds.width, h}, doc.get(),
                                                     this, i, doc->sampleCount(i).v_);
        if (!view) continue; // channels beyond the sixteenth
        waveforms_[static_cast<std::size_t>(i)] = view;
        splitView_->addSubview(view);
        splitView_->resizeSubviews();
        view->update();
    }
    const bool inDb = ViewPreferences::amplitudeInDb();
    forEachView([inDb](ZQWaveform* v) {
        v->setAmplitudeInDb(inDb);
        v->enableDrawing();
    });
    if (ruler_) ruler_->setShowsMarkerLane(!doc->markers().empty());
    layoutRuler();
    splitView_->setDividerColor(lightGrayColour());
    splitView_->resizeSubviews();
    splitView_->update();
    updateColorsFromPreferences();
    zoomOutEntirely();
}

// Zoom and scroll.

double ZQWaveformDisplayController::horizontalZoom() {
    ZQWaveform* first = waveform(0);
    return first ? first->horizontalZoom() : backingHorizontalZoom_;
}

double ZQWaveformDisplayController::verticalZoom() {
    ZQWaveform* first = waveform(0);
    return first ? first->verticalZoom() : backingVerticalZoom_;
}

void ZQWaveformDisplayController::setHorizontalZoom(double zoom, bool updateControls) {
    constexpr double kDeepest = static_cast<double>(1e-27f);
    if (zoom > 1.0) zoom = 1.0;
    if (zoom < kDeepest) zoom = kDeepest;
    backingHorizontalZoom_ = zoom;
    forEachView([zoom](ZQWaveform* v) { v->setHorizontalZoom(zoom); });
    // The slider runs from the whole file (0) to the deepest zoom (1).
    if (updateControls && waveform(0) && horizontalZoomSlider_)
        horizontalZoomSlider_->setDoubleValue(sliderValueForZoom(waveform(0)->horizontalZoom()));
}

double ZQWaveformDisplayController::deepestZoom() {
    ZQWaveform* first = waveform(0);
    const double deepest = first ? first->zoomSettings().horizontalZoomRange.min_ : 1.0;
    return deepest > 0 && deepest < 1.0 ? deepest : 1.0;
}

// The slider's travel is logarithmic: equal movements zoom by equal factors,
// from the whole file at 0 to the deepest zoom at 1.
double ZQWaveformDisplayController::sliderValueForZoom(double zoom) {
    const double deepest = deepestZoom();
    if (deepest >= 1.0 || !(zoom > 0)) return 0.0;
    return std::clamp(std::log(zoom) / std::log(deepest), 0.0, 1.0);
}

double ZQWaveformDisplayController::zoomForSliderValue(double value) {
    const double deepest = deepestZoom();
    if (deepest >= 1.0) return 1.0;
    return std::exp(std::clamp(value, 0.0, 1.0) * std::log(deepest));
}

void ZQWaveformDisplayController::setVerticalZoom(double zoom, bool updateControls) {
    zoom = std::clamp(zoom == zoom ? zoom : 1.0, 0.5, 16.0);
    backingVerticalZoom_ = zoom;
    forEachView([zoom](ZQWaveform* v) {
        v->setVerticalZoom(zoom);
        v->setShouldWaveformViewsAutoNormalize(false);
    });
    if (updateControls && verticalZoomSlider_) verticalZoomSlider_->setDoubleValue(backingVerticalZoom_);
}

void ZQWaveformDisplayController::changeHorizontalZoom(ZQDoubleSlider* sender) {
    if (!sender) return;
    // The view's centre stays in place, as with the zoom commands.
    Guard g(monitor());
    const double wanted = zoomForSliderValue(sender->doubleValue());
    const double now = horizontalZoom();
    if (waveform(0) && now > 0 && wanted != now) {
        zoomAround(wanted / now, 0.5);
    }
}

void ZQWaveformDisplayController::changeVerticalZoom(ZQDoubleSlider* sender) {
    if (sender) setVerticalZoom(sender->doubleValue(), false);
}

void ZQWaveformDisplayController::changeHorizontalScroll(ZQWaveformDisplayScroller* sender) {
    if (!sender) return;
    const double value = sender->doubleValue();
    forEachView([value](ZQWaveform* v) { v->setHorizontalScroll(value); });
}

void ZQWaveformDisplayController::zoomIn() {
    zoomKeepingPlace(0.5);
}
void ZQWaveformDisplayController::zoomOut() {
    zoomKeepingPlace(2.0);
}

void ZQWaveformDisplayController::zoomKeepingPlace(double factor) {
    // The play position is read before the monitor: it asks the source,
    // whose locks come first.
    Ref<ZQAudioFileDocument> doc = document();
    const std::uint64_t at = doc ? doc->presentPlaybackPosition() : 0;
    Guard g(monitor());
    ZQWaveform* view = waveform(0);
    if (!view) return;
    const ZQ::WaveformZoomSettings& z = view->zoomSettings();
    const double first = double(z.firstVisibleSample()), shown = double(z.numVisibleSamples());
    // The play position stays where it is on screen when it is in view;
    // otherwise the centre of the view does.
    const bool inView = shown > 0 && double(at) >= first && double(at) < first + shown;
    zoomAround(factor, inView ? (double(at) - first) / shown : 0.5);
}
void ZQWaveformDisplayController::zoomAmplitudeIn() {
    forEachView([](ZQWaveform* v) { v->zoomAmplitudeIn(); });
}
void ZQWaveformDisplayController::zoomAmplitudeOut() {
    forEachView([](ZQWaveform* v) { v->zoomAmplitudeOut(); });
}

void ZQWaveformDisplayController::zoomOutEntirely() {
    setHorizontalZoom(horizontalZoomSlider_ ? horizontalZoomSlider_->maxValue() : 1.0, true);
    setVerticalZoom(verticalZoomSlider_ ? verticalZoomSlider_->minValue() : 0.5, true);
    forEachView([](ZQWaveform* v) { v->zoomOutEntirely(); });
}

bool ZQWaveformDisplayController::canZoomIn() {
    Guard g(monitor());
    ZQWaveform* first = waveform(0);
    return first && first->horizontalZoom() > first->zoomSettings().horizontalZoomRange.min_ * (1 + 1e-9);
}

bool ZQWaveformDisplayController::canZoomOut() {
    Guard g(monitor());
    ZQWaveform* first = waveform(0);
    return first && first->horizontalZoom() < 1.0;
}

bool ZQWaveformDisplayController::canZoomAmplitudeIn() {
    Guard g(monitor());
    ZQWaveform* first = waveform(0);
    return first && first->verticalZoom() < first->zoomSettings().verticalZoomRange.max_;
}

bool ZQWaveformDisplayController::canZoomAmplitudeOut() {
    Guard g(monitor());
    ZQWaveform* first = waveform(0);
    return first && first->verticalZoom() > first->zoomSettings().verticalZoomRange.min_;
}

bool ZQWaveformDisplayController::canZoomOutEntirely() {
    Guard g(monitor());
    ZQWaveform* first = waveform(0);
    return first && (first->horizontalZoom() < 1.0 || first->verticalZoom() != 1.0);
}

bool ZQWaveformDisplayController::canZoomToSelection() {
    Guard g(monitor());
    ZQWaveform* first = waveform(0);
    return first && first->selectionLength() != 0;
}

void ZQWaveformDisplayController::zoomToSelection() {
    Guard g(monitor());
    ZQWaveform* view = waveform(0);
    if (!view || view->selectionLength() == 0) return;
    const SampleSelection s = view->selection();
    const ZQ::WaveformZoomSettings& z = view->zoomSettings();
    const double n = double(z.validSampleRange_.max_.v_) + 1;
    const double minVisible = double(z.validNumVisibleSamples_.min_.v_);
    const double wanted = double(s.max_.v_ - s.min_.v_) + 1;
    // numVisible = minVisible + floor((n - minVisible) * zoom): the zoom whose
    // visible count is the selection's (a hair more, so that the floor keeps it).
    const double zoom = n > minVisible ? (std::max(wanted, minVisible) - minVisible + 0.5) / (n - minVisible) : 1.0;
    setHorizontalZoom(zoom, true);
    scrollToFirstSample(double(s.min_.v_));
}

void ZQWaveformDisplayController::zoomSettingsHaveChanged() {
    ZQWaveform* first = waveform(0);
    if (!first) return;
    backingHorizontalZoom_ = first->horizontalZoom();
    setHorizontalZoom(backingHorizontalZoom_, true);
    backingVerticalZoom_ = first->verticalZoom();
    setVerticalZoom(backingVerticalZoom_, true);
    if (ZQWaveformDisplayScroller* s = horizontalScrollScroller_) {
        // Without its action while it is set, so that setting it scrolls nothing.
        ZQWaveformDisplayScroller::Action action = s->action();
        s->setAction({});
        s->setDoubleValue(first->horizontalScroll());
        s->setKnobProportion(backingHorizontalZoom_);
        s->setAction(action);
    }
    if (ruler_) ruler_->update();
    commandStateMayHaveChanged();
}

void ZQWaveformDisplayController::scrollAction(unsigned part, bool isVertical) {
    if (isVertical || !horizontalScrollScroller_) return;
    double value = horizontalScrollScroller_->doubleValue();
    if (part == 4) value -= 0.02;
    if (part == 5) value += 0.02;
    horizontalScrollScroller_->setDoubleValue(std::clamp(value, 0.0, 1.0));
    changeHorizontalScroll(horizontalScrollScroller_);
    zoomSettingsHaveChanged();
}

void ZQWaveformDisplayController::updatePercentageDisplays(double v) {
    if (!(v <= 20 && v >= -20)) return;
    const auto p = static_cast<std::int32_t>(v * 100);
    if (p < -2000 || p > 2000) return;
    forEachView([p](ZQWaveform* view) { view->setVerticalZoomDisplayValue(p); });
}

void ZQWaveformDisplayController::setVisibleSampleCountFieldValue(std::uint64_t first, std::uint64_t last) {
    backingVisibleRange_ = IndexRange(Num::Count(first), Num::Count(last));
}

double ZQWaveformDisplayController::horizontalZoomValueFromSlider() const {
    return horizontalZoomSlider_ ? horizontalZoomSlider_->doubleValue() : 1.0;
}
double ZQWaveformDisplayController::verticalZoomValueFromSlider() const {
    return verticalZoomSlider_ ? verticalZoomSlider_->doubleValue() : 1.0;
}
double ZQWaveformDisplayController::horizontalScrollValue() const {
    return horizontalScrollScroller_ ? horizontalScrollScroller_->doubleValue() : 0.0;
}

// Selection.

void ZQWaveformDisplayController::selectionDidChange(ZQWaveform* sender) {
    Guard g(monitor());
    if (!sender) return;
    const SampleSelection s = sender->selection();
    forEachView([&s](ZQWaveform* v) { v->setSelection(s); });
    if (ruler_) ruler_->update();
    if (document_) udpateCurrentSelectionDisplay(currentSelectionDisplay_);
    commandStateMayHaveChanged();
}

bool ZQWaveformDisplayController::validateMenuItem(const ZQMenuItem* item) {
    Guard g(monitor());
    if (!item || !item->action) return false;
    ZQWaveform* first = waveform(0);
    switch (*item->action) {
    case ZQAction::SelectAll:
        return first != nullptr;
    case ZQAction::SelectNone:
    case ZQAction::Cut:
    case ZQAction::Copy:
    case ZQAction::Delete:
    case ZQAction::Duplicate:
        return first && first->selectionLength() != 0;
    case ZQAction::Paste: {
        if (!first || !document_) return false;
        const sample_rate rate(document_->sampleRate());
        const std::int32_t channels = document_->channelCount();
        if (!rate.isValid() || channels <= 0) return false;
        const bool match =
            AudioFileDocumentClipboard::sharedClipboard().isFormatMatch(rate, static_cast<std::uint64_t>(channels));
        platform::log("isFormatMatch: %s", match ? "Yes" : "No");
        return match;
    }
    default:
        return false;
    }
}

void ZQWaveformDisplayController::copy(platform::Object*) {
    Ref<ZQAudioFileDocument> doc = document();
    if (!doc) return;
    Guard d(doc->monitor());
    Guard g(monitor());
    const std::int32_t channels = doc->channelCount();
    const sample_rate rate(doc->sampleRate());
    ZQWaveform* first = waveform(0);
    if (!rate.isValid() || channels <= 0 || !first) return;
    const SampleSelection range = first->selection();
    if (range.min_ > range.max_) return;
    SampleDataHolder copy(doc->createCopyDataInRange(range));
    if (copy.isEmpty()) return;
    if (!AudioFileDocumentClipboard::sharedClipboard().setData(copy, static_cast<std::uint64_t>(channels), rate)) {
        std::printf("Failed to copy selection\n");
        std::fflush(stdout);
    }
    commandStateMayHaveChanged(); // Paste may have become possible
}

void ZQWaveformDisplayController::paste(platform::Object*) {
    Ref<ZQAudioFileDocument> doc;
    SampleDataHolder holder;
    SampleSelection range;
    {
        Guard g(monitor());
        ZQWaveform* first = waveform(0);
        if (!document_ || !first) return;
        const sample_rate rate(document_->sampleRate());
        const std::int32_t channels = document_->channelCount();
        if (!rate.isValid() || channels <= 0) return;
        AudioFileDocumentClipboard& clipboard = AudioFileDocumentClipboard::sharedClipboard();
        if (!clipboard.isFormatMatch(rate, static_cast<std::uint64_t>(channels))) return;
        if (!clipboard.copyData(holder)) return;
        doc = document_;
        range = first->selection(); // a copy: the paste sets the selection
    }
    // The edit stops the transport, whose monitor comes before this
    // controller's: the paste itself runs without it.
    if (!doc->pasteClipboardData(holder, range))
        platform::log("Error::%@::%s", static_cast<const platform::Object*>(this), "paste:");
}

void ZQWaveformDisplayController::cut(platform::Object* sender) {
    if (ZQWaveform* first = waveform(0)) first->cut(sender);
}
void ZQWaveformDisplayController::delete_(platform::Object* sender) {
    if (ZQWaveform* first = waveform(0)) first->delete_(sender);
}
void ZQWaveformDisplayController::duplicate(platform::Object* sender) {
    if (ZQWaveform* first = waveform(0)) first->duplicate(sender);
}

void ZQWaveformDisplayController::audioFileSamplesDidChange(std::uint64_t from, const Num::SampleRange& selection) {
    Guard g(monitor());
    if (!document_) return;
    // The spectrogram's columns from the edit point on are made again.
    if (std::shared_ptr<SpectrogramCache> cache = [this] {
            std::lock_guard<std::mutex> l(spectraLock_);
            return spectra_;
        }()) {
        for (int c = 0; c < document_->channelCount() && c < kMaxViews; ++c)
            cache->invalidateFrom(c, from);
        resumeSpectra();
    }
    forEachView([this](ZQWaveform* v) { v->samplesDidChange(document_->sampleCount(v->channelNumber()).v_); });
    const std::uint64_t n = document_->sampleCount(0).v_;
    const std::uint64_t last = n == 0 ? 0 : n - 1;
    const SampleSelection s(Num::Count(std::min<std::uint64_t>(selection.min_.v_, last)),
                            Num::Count(std::min<std::uint64_t>(selection.max_.v_, last)));
    forEachView([&s](ZQWaveform* v) { v->setSelection(s); });
    zoomSettingsHaveChanged(); // the scroller's knob follows the new length
    syncMarkerLane();          // the edit may have taken the last marker, or undone that
    imp_updateNumericAndHMSDisplays();
    documentEditedStateDidChange();
}

void ZQWaveformDisplayController::audioFileSummaryDidGrow() {
    forEachView([](ZQWaveform* v) {
        if (v->columnsAwaitingSummary() > 0) v->setNeedsDisplay();
    });
}

bool ZQWaveformDisplayController::showsEveryColumn() {
    bool all = true;
    forEachView([&all](ZQWaveform* v) { all = all && !v->needsTraces() && v->columnsAwaitingSummary() == 0; });
    return all && document_ && document_->samplesAreSummarised();
}

void ZQWaveformDisplayController::channelAudibilityDidChange() {
    for (auto& w : waveforms_)
        if (w) w->syncChannelToggles();
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

void ZQWaveformDisplayController::udpateCurrentSelectionDisplay(ZQSampleCountDisplay* display) {
    Guard g(monitor());
    ZQWaveform* first = waveform(0);
    if (!display || !first) return;
    const SampleSelection s = first->selection();
    display->setRange(&s);
}

void ZQWaveformDisplayController::selectAll(platform::Object*) {
    Guard g(monitor());
    ZQWaveform* first = waveform(0);
    if (!first || !document_) return;
    const std::uint64_t n = document_->sampleCount(0).v_;
    const SampleSelection all(Num::Count(0ull), Num::Count(n == 0 ? 0 : n - 1));
    forEachView([&all](ZQWaveform* v) { v->setSelection(all); });
}

void ZQWaveformDisplayController::selectNone(platform::Object*) {
    Guard g(monitor());
    if (!waveform(0) || !document_) return;
    forEachView([](ZQWaveform* v) {
        const SampleSelection s = v->selection(); // an inverted one reads as [0, 0]
        v->setSelection(SampleSelection(s.min_, s.min_));
    });
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
        if (!updateReadouts()) return;
    }
    playbackTimerTick(); // after the monitor: the tick may ask the transport
}

bool ZQWaveformDisplayController::updateReadouts() {
    if (!document_) return false;
    HMSTime now;
    ZQAudioFileDocumentOutputSourceController* source = document_->outputSourceController();
    if (source) source->hmsTime(&now);
    if (hmsCurrent_) hmsCurrent_->setHMSValue(&now);
    AudioFileDocumentSampleData* data = document_->sampleData();
    const bool hasChannels = data && data->channelCount() >= 1;
    const Num::Count length = hasChannels ? data->channelSampleCount(0) : Num::Count(0ull);
    const HMSTime duration = hasChannels ? HMSTime(sample_rate(data->sampleRate()), length) : HMSTime();
    if (hmsDuration_) hmsDuration_->setHMSValue(&duration);
    // Past the last sample (at the end) the position reads as the last one.
    const std::uint64_t at = length.v_ == 0 ? 0 : std::min<std::uint64_t>(now.sample_.v_, length.v_ - 1);
    const Num::SampleRange position = hasChannels && source ? Num::SampleRange(Num::Count(at), length)
                                                            : Num::SampleRange(Num::Count(0ull), Num::Count(0ull));
    if (sampleCountDisplay_) sampleCountDisplay_->setRange(&position);
    udpateCurrentSelectionDisplay(currentSelectionDisplay_);
    return true;
}

void ZQWaveformDisplayController::updateLevelMeter() {
    if (!levelMeter_ || !document_ || !platform::Thread::isMainThread()) return;
    ZQAudioFileDocumentOutputSourceController* source = document_->outputSourceController();
    const ZQ::LevelMeter* m = source ? source->levelMeter() : nullptr;
    if (!m) return levelMeter_->setIdle();
    levelMeter_->setChannelCount(document_->channelCount() == 1 ? 1 : 2);
    for (int c = 0; c < levelMeter_->channelCount(); ++c) {
        const auto i = static_cast<unsigned>(c);
        if (m->isActive())
            levelMeter_->setLevels(c, m->peakDb(i), m->rmsDb(i), m->clipped(i));
        else
            levelMeter_->setLevels(c, ZQLevelMeter::kFloorDb, ZQLevelMeter::kFloorDb, m->clipped(i));
    }
}

void ZQWaveformDisplayController::playbackTimerTick() {
    if (!document_) return;
    updateLevelMeter();
    // Following is checked on a later turn of the loop: this tick can come
    // with this controller's monitor held (after an edit, say), and the check
    // asks the transport, whose monitor comes first in the lock order.
    if (followsPlayback() && !followCheckPending_.exchange(true)) {
        Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(this);
        platform::performOnMainThread([self] { self->followPlayPosition(); });
    }
    Guard g(monitor());
    forEachView([](ZQWaveform* v) { v->playbackTimerTick(); });
}

void ZQWaveformDisplayController::followPlayPosition() {
    followCheckPending_.store(false);
    Ref<ZQAudioFileDocument> document = document_;
    if (!document) return;
    ZQAudioFileDocumentTransportCommandReceiver* receiver = document->audioFileDocumentTransportCommandReceiver();
    if (!receiver || !receiver->isPlaying()) return;
    const std::uint64_t at = document->presentPlaybackPosition();
    Guard g(monitor());
    // A play position that left the view pages it, the position then at the
    // left edge (once per page, not on every tick).
    ZQWaveform* first = waveform(0);
    if (!first) return;
    const ZQ::IndexRange& visible = first->visibleRange();
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

void ZQWaveformDisplayController::scrollToFirstSample(double wanted) {
    ZQWaveform* view = waveform(0);
    if (!view || !horizontalScrollScroller_) return;
    // The scroll value whose first visible sample is nearest `wanted`: the
    // mapping is monotonic, so halving the interval finds it.
    ZQ::WaveformZoomSettings probe = view->zoomSettings();
    probe.setWaveformView(nullptr);
    double lo = 0.0, hi = 1.0;
    for (int step = 0; step < 60; ++step) {
        const double mid = (lo + hi) / 2;
        probe.setHorizontalScroll(mid);
        if (double(probe.firstVisibleSample()) < wanted)
            lo = mid;
        else
            hi = mid;
    }
    const double value = wanted <= 0 ? 0.0 : hi;
    horizontalScrollScroller_->setDoubleValue(std::clamp(value, 0.0, 1.0));
    changeHorizontalScroll(horizontalScrollScroller_);
    zoomSettingsHaveChanged();
}

void ZQWaveformDisplayController::zoomAround(double factor, double xFraction) {
    Guard g(monitor());
    ZQWaveform* view = waveform(0);
    if (!view || !(factor > 0)) return;
    const ZQ::WaveformZoomSettings& z = view->zoomSettings();
    const double anchor = double(z.firstVisibleSample()) + xFraction * double(z.numVisibleSamples());
    setHorizontalZoom(horizontalZoom() * factor, true);
    scrollToFirstSample(std::max(0.0, anchor - xFraction * double(view->zoomSettings().numVisibleSamples())));
}

void ZQWaveformDisplayController::scrollByColumns(double columns, int width) {
    Guard g(monitor());
    ZQWaveform* view = waveform(0);
    if (!view || width <= 0) return;
    const ZQ::WaveformZoomSettings& z = view->zoomSettings();
    scrollToFirstSample(double(z.firstVisibleSample()) + columns * double(z.numVisibleSamples()) / width);
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
    forEachView([&c](ZQWaveform* v) { v->setBackgroundColor(c); });
}

void ZQWaveformDisplayController::setForegroundColor(const QColor& colour) {
    foregroundColor_ = colour.isValid() ? colour : QColor::fromRgbF(1, 1, 1, 1);
    const QColor c = foregroundColor_;
    forEachView([&c](ZQWaveform* v) { v->setForegroundColor(c); });
}

void ZQWaveformDisplayController::changeBackgroundColor(const QColor& colour) {
    if (colour.isValid()) setBackgroundColor(colour);
}
void ZQWaveformDisplayController::changeForegroundColor(const QColor& colour) {
    if (colour.isValid()) setForegroundColor(colour);
}

// Layout.

void ZQWaveformDisplayController::setWaveformsNeedDisplay(bool needsDisplay) {
    if (needsDisplay) forEachView([](ZQWaveform* v) { v->setNeedsDisplay(); });
}

void ZQWaveformDisplayController::prepareOverviews() {
    std::vector<ZQWaveform*> views;
    forEachView([&views](ZQWaveform* v) {
        if (v->needsTraces()) views.push_back(v);
    });
    if (views.size() < 2) return; // one view draws itself
    for (ZQWaveform* v : views) {
        v->prepareDrawing();
        v->prepareToRebuild();
    }
    // Each view's reduction reads only its own channel and writes only its
    // own overview and image; half of the views go to the other core.
    auto work = [&views](std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t i = from; i < to; ++i)
            views[i]->rebuildTraces(false);
    };
    runOnBothCores(views.size(), work);
    for (ZQWaveform* v : views)
        v->finishRebuild();
}

void ZQWaveformDisplayController::waveformFrameWillChange() {
    if (splitView_) splitView_->resizeSubviews();
}

void ZQWaveformDisplayController::resizeWaveforms() {
    Guard g(monitor());
    if (splitView_) splitView_->resizeSubviews();
}

// The ruler, the fit of the channels, markers.

void ZQWaveformDisplayController::layoutRuler() {
    if (!splitView_ || !contentBox_) return;
    const Frame B = boundsOf(contentBox_->contentView());
    // The split view's place without a ruler: 20 points up from the bottom,
    // 6 below the top.
    const double bottom = 20, full = std::max(0.0, B.height - 26);
    const bool shown = ruler_ && ViewPreferences::showsTimeRuler();
    const double rulerHeight = shown ? std::min<double>(ruler_->preferredHeight(), full) : 0;
    setFrame(splitView_, {0, bottom, B.width, full - rulerHeight});
    if (ruler_) {
        ruler_->setVisible(shown);
        setFrame(ruler_, {0, bottom + full - rulerHeight, B.width, rulerHeight});
        ruler_->update();
    }
    if (verticalZoomSlider_) setFrame(verticalZoomSlider_, {B.width, bottom, 0, full - rulerHeight});
    splitView_->resizeSubviews();
}

void ZQWaveformDisplayController::viewPreferencesDidChange() {
    if (!splitView_) return;
    splitView_->setMinimumSubviewHeight(ViewPreferences::fitsChannels() ? 0 : kMinimumViewHeight);
    const bool inDb = ViewPreferences::amplitudeInDb();
    forEachView([inDb](ZQWaveform* v) { v->setAmplitudeInDb(inDb); });
    // What the views show, and how the spectrogram looks: drawn again (from
    // the cache's levels; only a new frame size transforms anew).
    setWaveformsNeedDisplay(true);
    layoutRuler();
}

void ZQWaveformDisplayController::scrollChannels(int pixels) {
    if (splitView_ && splitView_->isScrolling()) splitView_->scrollBy(pixels);
}

void ZQWaveformDisplayController::markersDidChange() {
    if (!platform::Thread::isMainThread()) { // widgets live on the main thread
        Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(this);
        platform::performOnMainThread([self] { self->markersDidChange(); });
        return;
    }
    Ref<ZQAudioFileDocument> doc = document();
    if (!doc) return;
    setWaveformsNeedDisplay(true);
    syncMarkerLane();
    commandStateMayHaveChanged();
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

void ZQWaveformDisplayController::selectFrames(std::uint64_t first, std::uint64_t last) {
    Guard g(monitor());
    if (!document_ || !waveform(0)) return;
    const std::uint64_t n = document_->sampleCount(0).v_;
    if (n == 0) return;
    last = std::min(last, n - 1);
    first = std::min(first, last);
    const SampleSelection s{Num::Count(first), Num::Count(last)};
    forEachView([&s](ZQWaveform* v) { v->setSelection(s); });
    if (ruler_) ruler_->update();
    udpateCurrentSelectionDisplay(currentSelectionDisplay_);
    commandStateMayHaveChanged();
}

void ZQWaveformDisplayController::selectFromMarker(std::size_t index) {
    Ref<ZQAudioFileDocument> doc = document();
    if (!doc) return;
    const MarkerList& markers = doc->markers();
    if (index >= markers.size()) return;
    const Marker& m = markers.items()[index];
    const std::uint64_t n = doc->sampleCount(0).v_;
    if (n == 0) return;
    std::uint64_t end = n; // one past the last frame selected
    if (m.isRegion())
        end = m.end();
    else if (const std::optional<std::uint64_t> next = markers.nextStop(m.frame))
        end = *next;
    selectFrames(m.frame, end > m.frame ? end - 1 : m.frame);
}

bool ZQWaveformDisplayController::goToMarker(bool next) {
    Ref<ZQAudioFileDocument> doc = document();
    if (!doc || !waveform(0)) return false;
    const std::uint64_t at = doc->presentPlaybackPosition();
    const MarkerList& markers = doc->markers();
    const std::optional<std::uint64_t> to = next ? markers.nextStop(at) : markers.previousStop(at);
    const std::uint64_t n = doc->sampleCount(0).v_;
    if (!to || *to >= n) return false;
    doc->locatePlaybackPosition(*to);
    playbackTimerTick(); // the line moves at once
    // Brought into view when the marker lies outside it.
    if (ZQWaveform* v = waveform(0)) {
        const IndexRange r = v->shownRange();
        if (*to < r.min_.v_ || *to > r.max_.v_) {
            Guard g(monitor());
            scrollToFirstSample(std::max(0.0, double(*to) - 0.1 * double(r.max_.v_ - r.min_.v_)));
        }
    }
    return true;
}

bool ZQWaveformDisplayController::hasMarkerBefore() {
    Ref<ZQAudioFileDocument> doc = document();
    // Before the views exist the file is still being read, markers and all.
    return doc && waveform(0) && doc->markers().previousStop(doc->presentPlaybackPosition()).has_value();
}

bool ZQWaveformDisplayController::hasMarkerAfter() {
    Ref<ZQAudioFileDocument> doc = document();
    if (!doc || !waveform(0)) return false;
    const std::optional<std::uint64_t> next = doc->markers().nextStop(doc->presentPlaybackPosition());
    return next && *next < doc->sampleCount(0).v_;
}

// The spectrogram.

std::shared_ptr<SpectrogramCache> ZQWaveformDisplayController::spectrogramCache() {
    if (!document_) return nullptr;
    std::shared_ptr<SpectrogramCache> cache;
    {
        std::lock_guard<std::mutex> g(spectraLock_);
        if (!spectra_) {
            // Each finished tile asks the views for a repaint, once per turn of
            // the main loop however many tiles finish meanwhile.
            // The workers touch nothing of this controller: `alive` ends when
            // it stops them, and the views are reached on the main thread.
            std::weak_ptr<bool> alive = alive_;
            auto pending = std::make_shared<std::atomic<bool>>(false);
            spectra_ = std::make_shared<SpectrogramCache>([this, alive, pending] {
                if (alive.expired() || pending->exchange(true)) return;
                platform::performOnMainThread([this, alive, pending] {
                    pending->store(false);
                    if (alive.expired()) return;
                    forEachView([](ZQWaveform* v) {
                        if (v->display() != ViewPreferences::Display::Waveform) v->setNeedsDisplay();
                    });
                });
            });
            spectraSuspended_ = true; // the samples are handed in below
        }
        cache = spectra_;
    }
    if (spectraSuspended_) resumeSpectra();
    return cache;
}

void ZQWaveformDisplayController::resumeSpectra() {
    std::shared_ptr<SpectrogramCache> cache;
    {
        std::lock_guard<std::mutex> g(spectraLock_);
        cache = spectra_;
        spectraSuspended_ = false;
    }
    if (!cache || !document_) return;
    AudioFileDocumentSampleData* data = document_->sampleData();
    for (int c = 0; data && c < data->channelCount() && c < kMaxViews; ++c) {
        // The samples as they are now, held by the reader until the next edit.
        const ChannelSamples samples = data->channel(c);
        if (!samples.isValid()) continue;
        cache->setChannel(
            c, [samples](std::uint64_t first, std::uint64_t n, double* out) { samples.read(first, n, out); },
            samples.count());
    }
    cache->resume();
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

void ZQWaveformDisplayController::audioFileSamplesWillChange() {
    std::shared_ptr<SpectrogramCache> cache;
    {
        std::lock_guard<std::mutex> g(spectraLock_);
        cache = spectra_;
        if (cache) spectraSuspended_ = true;
    }
    if (cache) cache->suspend(); // nothing reads the samples until they are handed in again
}

// Closing.

void ZQWaveformDisplayController::stopSpectra() {
    std::shared_ptr<SpectrogramCache> cache;
    {
        std::lock_guard<std::mutex> g(spectraLock_);
        cache = std::move(spectra_);
        alive_ = std::make_shared<bool>(true); // what finishes now repaints nothing
    }
    cache.reset(); // the workers stop here (the views may hold it a moment longer, idle)
}

void ZQWaveformDisplayController::documentWillClose() {
    // The samples go once this returns: the workers that read them stop first.
    if (std::shared_ptr<SpectrogramCache> cache = [this] {
            std::lock_guard<std::mutex> g(spectraLock_);
            return spectra_;
        }())
        cache->suspend();
    if (!platform::Thread::isMainThread()) { // widgets live on the main thread
        Ref<ZQWaveformDisplayController> self = Ref<ZQWaveformDisplayController>::retain(this);
        platform::performOnMainThread([self] { self->documentWillClose(); });
        return;
    }
    Ref<ZQAudioFileDocument> keep = document();
    if (!keep) return;
    stopSpectra();
    Guard g(monitor());
    document_ = {};
    hasWindow_.store(false);
    QPointer<ZQDocumentWindow> window = window_;
    window_ = nullptr;
    if (window) window->detachController(); // the window outlives us until it is deleted
    for (QPointer<ZQWaveform>& v : waveforms_) {
        if (v) v->documentWillClose();
        v = nullptr;
    }
    verticalZoomSlider_ = horizontalZoomSlider_ = nullptr;
    horizontalScrollScroller_ = nullptr;
    contentBox_ = nullptr;
    splitView_ = nullptr;
    if (ruler_) ruler_->detach();
    ruler_ = nullptr;
    zoomBox_ = nullptr;
    hmsCurrent_ = hmsDuration_ = nullptr;
    sampleCountDisplay_ = currentSelectionDisplay_ = nullptr;
    backgroundColor_ = foregroundColor_ = QColor();
    // The window goes last, with every widget in it.
    if (window) {
        window->closeForDocument();
        window->deleteLater();
    }
}
