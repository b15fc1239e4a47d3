// The window of one open audio document and everything in it that belongs to
// the waveform display: the rounded content box, the split view with one
// waveform view per channel, the zoom sliders, the scroller and the four
// numeric readouts. It keeps every channel view on the same zoom, scroll
// position and selection, relays the colour preferences, forwards the
// playback tick, and tears everything down when the document closes.
//
// Widgets are touched on the main thread only: what the document may call
// from its importing thread (data loaded, the readouts) is handed to the main
// thread. The controller's recursive monitor serialises the window building,
// the data-loaded rendezvous, the readouts and the teardown.
#pragma once

#include "controls/Frames.h"
#include "controls/NumericDisplays.h"
#include "controls/ZQDoubleSlider.h"
#include "controls/ZQLevelMeter.h"
#include "controls/ZQRoundedBox.h"
#include "controls/ZQSimpleHorzontalSplitView.h"
#include "controls/ZQWaveformDisplayScroller.h"
#include "controls/ZQWaveformDisplayZoomBox.h"
#include "core/holders.h"
#include "document/WindowSide.h"
#include "document/ZQAudioFileDocument.h"
#include "waveform/WaveformOverview.h"
#include "waveform/WaveformSelection.h"
#include "window/ZQTimeRuler.h"
#include "window/ZQWaveform.h"

#include <QColor>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QLabel;

class ZQWaveformDisplayController;

// The document window: closing it closes the document.
class ZQDocumentWindow final : public QMainWindow {
public:
    explicit ZQDocumentWindow(ZQWaveformDisplayController* controller);
    // The content view, where every frame of the window is placed.
    QWidget* contentView() const { return centralWidget(); }
    // Null once the controller is gone (the window is then being deleted).
    ZQWaveformDisplayController* controller() const { return controller_; }
    void detachController() { controller_ = nullptr; }
    // Closes without asking the document (the document is closing).
    void closeForDocument();
    // When the document has changes, asks (on this window) whether to export
    // them first: Export… runs the export dialog, Discard drops them, Cancel
    // keeps everything. `then` runs once, with true when closing may go on
    // (exported or discarded), at once when there is nothing to ask.
    void askToExportChanges(std::function<void(bool proceed)> then);
    QMessageBox* changesPrompt() const { return changesPrompt_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    ZQWaveformDisplayController* controller_; // the controller owns the window; null once it is gone
    bool closingForDocument_ = false;
    QPointer<QMessageBox> changesPrompt_;
};

class ZQWaveformDisplayController final : public ZQWaveformDisplayControllerBase, public ZQZoomBoxController {
public:
    static constexpr int kMaxViews = 16;

    // Null without a document (+1 otherwise).
    static ZQWaveformDisplayController* initWithAudioFileDocument(ZQAudioFileDocument* document);

    // ZQWaveformDisplayControllerBase.
    void buildUI() override;
    void audioFileDataHasLoaded() override;
    void updateNumericAndHMSDisplays() override;
    void documentWillClose() override;
    // Any thread.
    bool hasWindow() const override { return hasWindow_.load(); }
    void zoomIn() override;
    void zoomOut() override;
    void zoomAmplitudeIn() override;
    void zoomAmplitudeOut() override;
    void selectAll(platform::Object* sender) override;
    void selectNone(platform::Object* sender) override;
    // Cut, Delete and Duplicate go to the first view, which edits its
    // selection; Copy and Paste go through the process-wide clipboard.
    void cut(platform::Object* sender) override;
    using ZQWaveformDisplayControllerBase::copy;
    void copy(platform::Object* sender) override;
    void paste(platform::Object* sender) override;
    void delete_(platform::Object* sender) override;
    void duplicate(platform::Object* sender) override;
    bool validateMenuItem(const ZQMenuItem* item) override;
    void audioFileSamplesDidChange(std::uint64_t from, const ZQ::Num::SampleRange& selection) override;
    // Views with columns that waited for the summaries draw them.
    void audioFileSummaryDidGrow() override;
    // Whether every view shows every column of its traces, drawn (nothing
    // waits for a summary or a redraw).
    bool showsEveryColumn();
    void documentEditedStateDidChange() override;
    void channelAudibilityDidChange() override;

    ZQDocumentWindow* window() const { return window_; }
    platform::Ref<ZQAudioFileDocument> document() const;
    QColor backgroundColor() const { return backgroundColor_; }
    QColor foregroundColor() const { return foregroundColor_; }

    // Zoom and scroll (ZQZoomBoxController too).
    double horizontalZoom() override;
    double verticalZoom() override;
    void setHorizontalZoom(double zoom, bool updateControls) override;
    void setVerticalZoom(double zoom, bool updateControls) override;
    void changeHorizontalZoom(ZQDoubleSlider* sender);
    void changeVerticalZoom(ZQDoubleSlider* sender);
    void changeHorizontalScroll(ZQWaveformDisplayScroller* sender);
    void zoomOutEntirely() override;
    // Fits the selection to the width of the views (the deepest zoom at most).
    void zoomToSelection();
    // Whether each zoom command would change anything now (the menus enable
    // only what can run).
    bool canZoomIn();
    bool canZoomOut();
    bool canZoomAmplitudeIn();
    bool canZoomAmplitudeOut();
    bool canZoomOutEntirely();
    bool canZoomToSelection();
    void scrollAction(unsigned part, bool isVertical) override;
    void zoomSettingsHaveChanged();
    void updatePercentageDisplays(double verticalZoom);
    void setVisibleSampleCountFieldValue(std::uint64_t first, std::uint64_t last);
    ZQ::IndexRange visibleSampleRange() const { return backingVisibleRange_; }

    // Selection.
    void selectionDidChange(ZQWaveform* sender);
    void udpateCurrentSelectionDisplay(ZQSampleCountDisplay* display);

    void playbackTimerTick();

    // The wheel: zooms by `factor` (below 1 zooms in) keeping the sample at
    // `xFraction` of the width where it is; scrolls by `columns` of a view
    // `width` wide (negative goes back).
    void zoomAround(double factor, double xFraction);
    void scrollByColumns(double columns, int width);
    // Whether the view pages to keep the play position visible while playing
    // (the View menu's toggle; on by default, kept in the preferences).
    static bool followsPlayback();
    static void setFollowsPlayback(bool follow);
    static constexpr const char* kFollowPlaybackKey = "ZQPreference_FollowPlayback";

    // Colours.
    void updateColorsFromPreferences();
    void waveformColorPreferencesDidChange();
    // An invalid colour means opaque black (background) or white (foreground).
    void setBackgroundColor(const QColor& colour);
    void setForegroundColor(const QColor& colour);
    void changeBackgroundColor(const QColor& colour);
    void changeForegroundColor(const QColor& colour);

    void setWaveformsNeedDisplay(bool needsDisplay);
    // Rebuilds the overviews and traces of every view that needs them, the
    // views shared between the main thread and one helper. Main thread.
    void prepareOverviews();
    void waveformFrameWillChange();
    void resizeWaveforms();

    double horizontalZoomValueFromSlider() const;
    double verticalZoomValueFromSlider() const;
    double horizontalScrollValue() const;
    // Scrolls every view so that its first visible sample is `first` (as near
    // as the scroll's steps allow).
    void scrollToFirstSample(double first);
    // Pages the views when playing has taken the play position out of them.
    void followPlayPosition();
    std::atomic<bool> followCheckPending_{false};

    // The parts, for the window side and tests.
    ZQWaveform* waveform(int channel) const;
    int waveformCount() const;
    ZQSimpleHorzontalSplitView* splitView() const { return splitView_; }
    ZQRoundedBox* contentBox() const { return contentBox_; }
    ZQDoubleSlider* horizontalZoomSlider() const { return horizontalZoomSlider_; }
    ZQDoubleSlider* verticalZoomSlider() const { return verticalZoomSlider_; }
    ZQWaveformDisplayScroller* horizontalScrollScroller() const { return horizontalScrollScroller_; }
    ZQHMSDisplay* hmsCurrent() const { return hmsCurrent_; }
    ZQHMSDisplay* hmsDuration() const { return hmsDuration_; }
    ZQSampleCountDisplay* sampleCountDisplay() const { return sampleCountDisplay_; }
    ZQSampleCountDisplay* currentSelectionDisplay() const { return currentSelectionDisplay_; }
    ZQLevelMeter* levelMeter() const { return levelMeter_; }
    ZQTimeRuler* timeRuler() const { return ruler_; }

    // Below this height a view stops shrinking and the channels scroll
    // (unless View > Fit Channels is on).
    static constexpr int kMinimumViewHeight = 48;
    // The View menu's choices changed: the ruler, the dB scale, the fit.
    void viewPreferencesDidChange();
    // Scrolls the channels (when they do not all fit) by `pixels`, down for positive.
    void scrollChannels(int pixels);
    // The document's markers changed: the views and the ruler draw them again.
    void markersDidChange() override;
    // Selects from the marker (or region) `index` up to the next marker,
    // the whole of a region, or to the end of the file.
    void selectFromMarker(std::size_t index);
    // Selects frames first..last in every view (and shows it).
    void selectFrames(std::uint64_t first, std::uint64_t last);
    // The spectrogram's cache for this document's channels, made on first
    // use (main thread); null without a document.
    std::shared_ptr<ZQ::SpectrogramCache> spectrogramCache();
    // The spectrogram's scale from the View menu's choices and the file's rate.
    ZQ::SpectrogramImage::Scale spectrogramScale();
    void audioFileSamplesWillChange() override;
    // Moves the play position to the previous (next) marker or region edge;
    // false when there is none that way.
    bool goToMarker(bool next);
    bool hasMarkerBefore();
    bool hasMarkerAfter();
    // The meters read what the document sends to the device (main thread).
    void updateLevelMeter();

    const char* kindName() const override { return "ZQWaveformDisplayController"; }

private:
    ZQWaveformDisplayController() = default;
    ~ZQWaveformDisplayController() override;
    void imp_audioFileDataHasLoaded();
    void imp_updateNumericAndHMSDisplays();
    // The time, count and selection readouts (under the monitor); false
    // without a document.
    bool updateReadouts();
    template <class F> void forEachView(F&& f);
    // Zooms by `factor`, the play position kept in place when it is in view,
    // else the centre of the view.
    void zoomKeepingPlace(double factor);
    // Places the ruler (when shown) above the split view, which takes the rest.
    void layoutRuler();
    // The ruler shows the lane of marker names while there are markers.
    void syncMarkerLane();
    // The slider's logarithmic travel.
    double deepestZoom();
    double sliderValueForZoom(double zoom);
    double zoomForSliderValue(double value);

    // backingData
    double backingHorizontalZoom_ = 1.0;
    double backingVerticalZoom_ = 1.0;
    ZQ::IndexRange backingVisibleRange_;
    ZQ::ObjCObjectObservationManager obi_;
    // audioFileDocumentViews_
    QPointer<ZQHMSDisplay> hmsCurrent_, hmsDuration_;
    QPointer<ZQSampleCountDisplay> sampleCountDisplay_, currentSelectionDisplay_;
    QPointer<ZQLevelMeter> levelMeter_;
    QPointer<ZQTimeRuler> ruler_;
    // The spectrogram's cache: made on the main thread, stopped from any
    // (a closing document may be torn down elsewhere).
    std::mutex spectraLock_;
    std::shared_ptr<ZQ::SpectrogramCache> spectra_;
    bool spectraSuspended_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // replaced when the cache stops
    // Stops the cache's workers for good (the document is closing).
    void stopSpectra();
    // Hands the channels' samples to the cache and lets it go on (main thread).
    void resumeSpectra();
    QPointer<ZQDoubleSlider> verticalZoomSlider_, horizontalZoomSlider_;
    QPointer<ZQWaveformDisplayScroller> horizontalScrollScroller_;
    QPointer<ZQRoundedBox> contentBox_;
    QPointer<ZQSimpleHorzontalSplitView> splitView_;
    QPointer<ZQDocumentWindow> window_;
    std::array<QPointer<ZQWaveform>, kMaxViews> waveforms_;
    platform::Ref<ZQAudioFileDocument> document_;
    QColor backgroundColor_, foregroundColor_;
    ZQ::once buildUIHasBeenCalled_;
    QPointer<ZQWaveformDisplayZoomBox> zoomBox_; // stays empty in the window built here
    std::atomic<bool> hasWindow_{false};
};
