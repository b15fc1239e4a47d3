// The waveform display of one document window: the rounded content box, the
// split view with one channel view per channel, the zoom sliders, the
// scroller, the time ruler and the readouts. It owns the window's state (zoom
// and scroll, selection, play position) and keeps the controls in step with
// it; it is the views' host, relays the colour preferences and the View
// menu's choices, reads the play position once per tick, and tears
// everything down when the document closes.
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
#include "controls/ZQWaveformDisplayScroller.h"
#include "controls/ZQWaveformDisplayZoomBox.h"
#include "core/holders.h"
#include "document/WindowSide.h"
#include "document/ZQAudioFileDocument.h"
#include "waveform/WindowState.h"
#include "window/ZQAccessibility.h"
#include "window/ZQDocumentWindow.h"
#include "window/ZQTimeRuler.h"
#include "window/ZQWaveform.h"
#include "window/ZQWaveformHost.h"
#include "window/ZQWindowChannels.h"
#include "window/ZQWindowEditing.h"
#include "window/ZQWindowMarkers.h"
#include "window/ZQWindowReadouts.h"
#include "window/ZQWindowZoom.h"

#include <QColor>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <memory>

class ZQWaveformDisplayController final : public ZQWaveformDisplayControllerBase,
                                          public ZQZoomBoxController,
                                          public ZQWaveformHost,
                                          private ZQ::WindowStateObserver {
public:
    static constexpr int kMaxViews = ZQWindowChannels::kMaxViews;

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
    // The Edit commands act on the window's selection.
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
    // The document's markers changed: the views and the ruler draw them again.
    void markersDidChange() override;

    // ZQWaveformHost.
    ZQ::WindowState& windowState() override { return state_; }
    // Rebuilds the overviews and traces of every view that needs them, the
    // views shared between the main thread and one helper.
    void prepareOverviews() override { channels_.drawTogether(); }
    ZQ::SpectrogramImage::Scale spectrogramScale() override;
    // Scrolls the channels (when they do not all fit) by `pixels`, down for positive.
    void scrollChannels(int pixels) override { channels_.scrollBy(pixels); }
    void locate(std::uint64_t frame) override;
    // Selects from the marker (or region) `index` up to the next marker,
    // the whole of a region, or to the end of the file.
    void selectFromMarker(std::size_t index) override;
    int commonViewHeight() override { return channels_.commonHeight(); }
    void viewDidDraw(ZQWaveform* view) override;

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
    // The controls, the ruler and the menus follow the window's zoom.
    void zoomSettingsHaveChanged();
    ZQ::IndexRange visibleSampleRange() const { return backingVisibleRange_; }
    double horizontalScrollValue() const;
    // Scrolls so that the first visible frame is `first` (as near as the
    // scroll's steps allow).
    void scrollToFirstSample(double first);
    // The wheel: zooms by `factor` (below 1 zooms in) keeping the frame at
    // `xFraction` of the width where it is; scrolls by `columns` of a view
    // `width` wide (negative goes back).
    void zoomAround(double factor, double xFraction);
    void scrollByColumns(double columns, int width);

    // The keyboard: Shift+Left/Right move the selection's moving edge by a
    // step that follows the zoom (`steps` of them, negative goes back);
    // Shift+Home/End take it to the start or the end.
    void extendSelection(int steps);
    void extendSelectionToEnd(bool end);

    void playbackTimerTick();
    // Whether the view pages to keep the play position visible while playing
    // (the View menu's toggle; on by default, kept in the preferences).
    static bool followsPlayback();
    static void setFollowsPlayback(bool follow);
    static constexpr const char* kFollowPlaybackKey = "ZQPreference_FollowPlayback";
    // Pages the views when playing has taken the play position out of them.
    void followPlayPosition();
    std::atomic<bool> followCheckPending_{false};

    // Colours.
    void updateColorsFromPreferences();
    void waveformColorPreferencesDidChange();
    // An invalid colour means opaque black (background) or white (foreground).
    void setBackgroundColor(const QColor& colour);
    void setForegroundColor(const QColor& colour);
    void changeBackgroundColor(const QColor& colour);
    void changeForegroundColor(const QColor& colour);

    void setWaveformsNeedDisplay(bool needsDisplay);
    void resizeWaveforms();
    // Tab goes through the channels, the scroller, the zoom and the
    // transport buttons, in that order (once they are all built).
    void orderFocusChain();

    // The parts, for the window side and tests.
    ZQWaveform* waveform(int channel) const { return channels_.view(channel); }
    int waveformCount() const { return channels_.count(); }
    ZQSimpleHorzontalSplitView* splitView() const { return channels_.splitView(); }
    ZQRoundedBox* contentBox() const { return contentBox_; }
    ZQDoubleSlider* horizontalZoomSlider() const { return zoom_.horizontalSlider(); }
    ZQDoubleSlider* verticalZoomSlider() const { return zoom_.verticalSlider(); }
    ZQWaveformDisplayScroller* horizontalScrollScroller() const { return zoom_.scroller(); }
    ZQHMSDisplay* hmsCurrent() const { return readouts_ ? readouts_->hmsCurrent() : nullptr; }
    ZQHMSDisplay* hmsDuration() const { return readouts_ ? readouts_->hmsDuration() : nullptr; }
    ZQSampleCountDisplay* sampleCountDisplay() const { return readouts_ ? readouts_->sampleCountDisplay() : nullptr; }
    ZQSampleCountDisplay* currentSelectionDisplay() const {
        return readouts_ ? readouts_->currentSelectionDisplay() : nullptr;
    }
    ZQLevelMeter* levelMeter() const { return readouts_ ? readouts_->levelMeter() : nullptr; }
    ZQTimeRuler* timeRuler() const { return ruler_; }
    void updateLevelMeter();

    // Below this height a view stops shrinking and the channels scroll
    // (unless View > Fit Channels is on).
    static constexpr int kMinimumViewHeight = ZQWindowChannels::kMinimumViewHeight;
    // The View menu's choices changed: the ruler, the dB scale, the fit.
    void viewPreferencesDidChange();
    // Selects frames first..last in every view (and shows it).
    void selectFrames(std::uint64_t first, std::uint64_t last);
    // The spectrogram's tile cache (the document's).
    std::shared_ptr<ZQ::SpectrogramCache> spectrogramCache();
    // Moves the play position to the previous (next) marker or region edge;
    // false when there is none that way.
    bool goToMarker(bool next);
    bool hasMarkerBefore();
    bool hasMarkerAfter();

    // Add Marker, Add Region, and the chosen marker.
    ZQWindowMarkers& markerEditing() { return markers_; }

    const char* kindName() const override { return "ZQWaveformDisplayController"; }

private:
    ZQWaveformDisplayController();
    ~ZQWaveformDisplayController() override;
    void imp_audioFileDataHasLoaded();
    void imp_updateNumericAndHMSDisplays();
    // WindowStateObserver.
    void windowZoomDidChange() override;
    void windowSelectionDidChange() override;
    bool hasViews() const { return channels_.any(); }
    // Places the ruler (when shown) above the split view, which takes the rest.
    void layoutRuler();
    // The ruler shows the lane of marker names while there are markers.
    void syncMarkerLane();
    void chosenMarkerDidChange();

    ZQ::WindowState state_;
    ZQWindowZoom zoom_;
    ZQWindowEditing editing_;
    ZQWindowMarkers markers_;
    ZQ::Accessibility::Announcer announcer_;
    ZQ::IndexRange backingVisibleRange_;
    ZQ::ObjCObjectObservationManager obi_;
    QPointer<ZQTimeRuler> ruler_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // for the spectral tiles' repaints
    QPointer<ZQRoundedBox> contentBox_;
    ZQWindowChannels channels_; // the split view and the views in it
    QPointer<ZQDocumentWindow> window_;
    QPointer<ZQWindowReadouts> readouts_;
    platform::Ref<ZQAudioFileDocument> document_;
    QColor backgroundColor_, foregroundColor_;
    ZQ::once buildUIHasBeenCalled_;
    std::atomic<bool> hasWindow_{false};
};
