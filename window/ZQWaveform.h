// The view of one channel: its overview (one line per pixel column) over a
// background with a centre line and a soft highlight band, three small
// numeric labels, and two transparent layers above it, the selection band and
// the play-position line, composited with "plus" (the sum of source and
// destination). Left-button gestures select samples.
//
// The traces are drawn into an image that is kept until zoom, scroll, size,
// samples or colours change; every other repaint (the layers on a playback
// tick, the labels) only copies from it. Main thread; the view's own lock
// guards its drawing state as the overview rebuild runs under it.
#pragma once

#include "controls/Frames.h"
#include "document/ZQAudioFileDocument.h"
#include "waveform/SpectrogramCache.h"
#include "waveform/SpectrogramImage.h"
#include "waveform/WaveformOverview.h"
#include "waveform/WaveformSelection.h"
#include "window/ViewPreferences.h"

#include <QColor>
#include <QImage>
#include <QLine>
#include <QPointer>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class QLabel;
class QTimer;
class ZQWaveform;
class ZQWaveformDisplayController;

// The base of the two layers: it belongs to one waveform (fixed when it is
// made) and takes no mouse events, which go to the waveform under it.
class ZQWaveformViewSubview : public QWidget {
public:
    ZQWaveform* waveform() const { return waveform_; }
    void setWaveform(ZQWaveform*) {} // fixed at creation
    // Null and 0 without a waveform.
    const ZQ::IndexRange* visibleRange() const;
    std::uint64_t presentPlaybackPosition() const;
    virtual void documentWillClose();
    virtual void playbackTimerTick() = 0;

protected:
    ZQWaveformViewSubview(ZQWaveform* waveform);
    QPointer<ZQWaveform> waveform_;
    mutable std::recursive_mutex lock_;
};

class ZQWaveformSelectionOverlay final : public ZQWaveformViewSubview {
public:
    // Null without a waveform.
    static ZQWaveformSelectionOverlay* initWithFrame(const ZQ::Frame& frame, ZQWaveform* waveform);
    QColor color() const { return color_; }
    // An invalid colour restores the default (white at 0.12).
    void setColor(const QColor& colour);
    const ZQ::SampleSelection* selection() const;
    // Redraws when the band would look different from the last one drawn.
    void playbackTimerTick() override;
    // The band's columns for the current selection and visible range, in
    // device pixels (the view's own at a ratio of 1), empty when none is drawn.
    QRect bandRect() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    using ZQWaveformViewSubview::ZQWaveformViewSubview;
    // The logical rectangle covering device columns `device`.
    QRect logical(const QRect& device) const;
    QColor color_;
    QRect drawn_;
};

class ZQWaveformPlayheadPositionView final : public ZQWaveformViewSubview {
public:
    static ZQWaveformPlayheadPositionView* initWithFrame(const ZQ::Frame& frame, ZQWaveform* waveform);
    void playbackTimerTick() override;
    void waveformHasUpdated() { redraw(); }
    // Moves the line when its column changed (repainting only the old and the
    // new column); nothing when it lands in the column it occupies.
    void redraw();
    // The device-pixel column of the play position (the view's own column at
    // a ratio of 1), or -1 when it is not in view.
    int column() const;
    int pixelInsetOfPreviousDraw() const { return pixelInsetOfPreviousDraw_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    using ZQWaveformViewSubview::ZQWaveformViewSubview;
    // The logical rectangle covering a device column.
    QRect logicalColumn(int deviceColumn) const;
    int pixelInsetOfPreviousDraw_ = -1;
    QColor color_;
};

class ZQWaveform final : public QWidget,
                         public ZQ::ZQWaveformViewSettingsNotificationReceiverProtocol,
                         public ZQWaveformStoreClient,
                         public ZQ::WaveformSelectionOwner {
public:
    // Null unless the channel is below 16 and both the document and the
    // controller are given. Placed at `frame` in `parent`.
    static ZQWaveform* initWithFrame(QWidget* parent, const ZQ::Frame& frame, ZQAudioFileDocument* document,
                                     ZQWaveformDisplayController* controller, std::int32_t channelNumber,
                                     std::uint64_t sampleCount);
    ~ZQWaveform() override;

    void enableDrawing();
    bool isReadyToDraw() const { return isReadyToDraw_; }
    void createOverlays();

    // Colours; an invalid colour falls back to the defaults.
    void setBackgroundColor(const QColor& colour);
    void setForegroundColor(const QColor& colour);
    void setCenterLineColor(const QColor& colour);
    const ZQ::WaveformColors& waveformColors() const { return waveformColors_; }

    std::int32_t channelNumber() const override { return channelNumber_; }
    void setChannelNumber(std::int32_t channel) { channelNumber_ = channel; }
    const ZQ::IndexRange& visibleRange() const { return visibleRange_; }
    // The range the zoom and scroll show now, before the traces are drawn
    // again (what visibleRange() becomes): what the ruler and the markers use.
    ZQ::IndexRange shownRange() const;
    // Heights in dB rather than in proportion (the View menu's choice).
    void setAmplitudeInDb(bool inDb);
    bool amplitudeInDb() const { return zoomSettings_.amplitudeInDb; }
    // The marks of the thin amplitude scale at the right edge as last drawn:
    // their rows (device pixels) and labels (tests).
    struct ScaleMark {
        int row;
        QString label;
    };
    const std::vector<ScaleMark>& drawnScaleMarks() const { return scaleMarks_; }
    const ZQ::SampleSelection& selection();
    void setSelection(const ZQ::SampleSelection& selection);
    std::uint64_t selectionLength();
    void selectionDidChange() override;
    // The sample under a point given in the view's own (top-left) coordinates.
    std::uint64_t convertEventCoordinatesToSampleIndex(const QPointF& point);
    std::uint64_t presentPlaybackPosition();

    // The Edit commands the controller hands on: each edits this view's
    // selection in the document (which then refreshes every view).
    void cut(platform::Object* sender);
    void delete_(platform::Object* sender);
    void duplicate(platform::Object* sender);
    // The channel now has `count` samples: new zoom limits (the zoom is kept
    // where it still fits), and the traces are drawn again.
    void samplesDidChange(std::uint64_t count);

    void playbackTimerTick();
    void redrawPlayhead();
    void visibleIndexValuesChanged();
    void setVerticalZoomDisplayValue(std::int32_t percent);

    // Zoom and scroll.
    double horizontalZoom() const { return zoomSettings_.horizontalZoom.v_; }
    double verticalZoom() const { return zoomSettings_.verticalZoom.v_; }
    double horizontalScroll() const { return zoomSettings_.horizontalScroll.v_; }
    double representedVerticalZoom() const { return zoomSettings_.representedVerticalZoom.v_; }
    void setHorizontalZoom(double zoom) { zoomSettings_.setHorizontalZoom(zoom); }
    void setVerticalZoom(double zoom) { zoomSettings_.setVerticalZoom(zoom); }
    void setHorizontalScroll(double scroll) { zoomSettings_.setHorizontalScroll(scroll); }
    void zoomIn() { zoomSettings_.zoomIn(); }
    void zoomOut() { zoomSettings_.zoomOut(); }
    void zoomAmplitudeIn() { zoomSettings_.zoomAmplitudeIn(); }
    void zoomAmplitudeOut() { zoomSettings_.zoomAmplitudeOut(); }
    void zoomOutEntirely() { zoomSettings_.zoomOutEntirely(); }
    void setShouldWaveformViewsAutoNormalize(bool normalize) { shouldWaveformViewsAutoNormalize_ = normalize; }
    const ZQ::WaveformZoomSettings& zoomSettings() const { return zoomSettings_; }

    // The overview (called back by the document from inside a draw).
    void updateWaveformCache(const ZQ::ChannelSamples& samples) override;
    bool updateCache(std::uint64_t count);
    void waveformCacheIsPrepared();
    void imp_waveformCacheIsPrepared();
    const ZQ::WaveformOverview<ZQ::CGPoint>& waveformOverview() const { return waveformOverview_; }

    void zoomSettingsHaveChanged() override;
    bool waveformViewWantsZoomSettingsChangeNotifications() override { return true; }
    // Asks for the traces to be drawn again on the next repaint.
    void setNeedsDisplay();
    // Redrawing the traces, in three steps so that the middle one may run on
    // another thread for several views at once: the main thread fixes the
    // size, any thread rebuilds the overview and draws the traces image, the
    // main thread shows the results (labels, controller, layers).
    bool needsTraces() const;
    // What the traces are drawn with that lives on the main thread: the
    // markers in view, the spectrogram's settings and cache (main thread,
    // before the rebuild, not under the view's lock).
    void prepareDrawing();
    void prepareToRebuild();
    // The view in device pixels: what the traces and the overview are made for.
    QSize deviceSize() const;
    // With shareCores, the view's own columns and rows are shared between
    // both cores (not when several views are being rebuilt at once).
    void rebuildTraces(bool shareCores);
    void finishRebuild();

    void documentWillClose();
    bool isOpaque() const { return true; }

    ZQWaveformSelectionOverlay* selectionOverlay() const { return waveformSelectionOverlay_; }
    ZQWaveformPlayheadPositionView* playheadView() const { return waveformPlayheadPositionView_; }
    QLabel* vZoomOverlay() const { return vZoomOverlay_; }
    QLabel* firstVisibleOverlay() const { return firstVisibleOverlay_; }
    QLabel* lastVisibleOverlay() const { return lastVisibleOverlay_; }
    // The channel's name at the top left (its speaker, or its number).
    QLabel* channelNameOverlay() const { return channelNameOverlay_; }
    // The channel's Mute and Solo toggles at the view's left edge.
    QToolButton* muteToggle() const { return muteToggle_; }
    QToolButton* soloToggle() const { return soloToggle_; }
    // Shows the document's mute and solo state of this view's channel.
    void syncChannelToggles();
    // What the view shows: the window's choice, or the channel's own
    // (`display` -1 gives the choice back to the window).
    ZQ::ViewPreferences::Display display() const;
    int displayOverride() const { return displayOverride_; }
    void setDisplayOverride(int display);
    // The rows (device pixels) of the traces at the top; the spectrogram has the rest.
    int traceRows() const { return traceRows_; }
    // Columns of the spectrogram last drawn without their levels (still being made).
    int pendingColumns() const { return pendingColumns_; }
    // Trace columns drawn empty because the samples under them are not yet
    // summarised (a file still opening); they are drawn once they are.
    std::uint64_t columnsAwaitingSummary() const { return traceColumnsPending_; }
    // The frequency labels of the spectrogram's axis as last drawn: rows and texts.
    const std::vector<ScaleMark>& drawnFrequencyMarks() const { return frequencyMarks_; }
    QLabel* spectrumReadout() const { return spectrumReadout_; }
    // Whether the background is light (the layers and labels then darken).
    bool hasLightBackground() const;
    // How often the traces were drawn (for tests that check what a repaint costs).
    std::uint64_t traceRenders() const { return traceRenders_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The wheel scrolls the channels; with Ctrl it zooms around the pointer.
    void wheelEvent(QWheelEvent* event) override;
    // On a marker, selects up to the next one; elsewhere as a press.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // The channel's own choice of what it shows.
    void contextMenuEvent(QContextMenuEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ZQWaveform(QWidget* parent);
    void renderTraces();
    void feedSelection(ZQ::SelectionEventType type, QMouseEvent* event);
    void feedSelectionAt(ZQ::SelectionEventType type, std::uint64_t index, bool shift);
    // The selection's edge within a few pixels of `x`: -1 its first sample,
    // 1 its last, 0 none (or an empty selection).
    int selectionEdgeNear(double x);
    // While a drag is past the left or right edge, the view scrolls that way.
    void autoScrollStep();
    void stopAutoScroll();
    void applyLabelLook();
    void placeLabels();
    // Draws the amplitude scale's marks over the traces (main thread).
    void drawAmplitudeScale();
    // The spectrogram's frequency axis at the left of its rows (main thread).
    void drawFrequencyAxis();
    void collectMarks();
    void prepareSpectrogram();
    // The colour index of each of the spectrogram's `S` rows in each of `W`
    // columns, from the cache's tiles (any thread).
    void renderSpectrogram(int W, int S);
    // The pointer's time, frequency and level over the spectrogram, or hidden.
    void updateSpectrumReadout(const QPointF& at);
    // The marker under `x` (logical), within a few pixels, or -1.
    std::ptrdiff_t markerAt(double x) const;

    platform::Ref<ZQAudioFileDocument> document_;
    platform::Ref<ZQWaveformDisplayController> waveformDisplayController_;
    ZQ::WaveformOverview<ZQ::CGPoint> waveformOverview_;
    ZQ::WaveformColors waveformColors_;
    ZQ::WaveformZoomSettings zoomSettings_;
    bool shouldWaveformViewsAutoNormalize_ = false;
    bool updateInProgress_ = false;
    std::int32_t channelNumber_ = 0;
    ZQ::IndexRange visibleRange_;
    ZQ::WaveformSelectionData waveformSelectionData_;
    QPointer<QLabel> vZoomOverlay_, firstVisibleOverlay_, lastVisibleOverlay_, channelNameOverlay_;
    QPointer<QToolButton> muteToggle_, soloToggle_;
    QPointer<ZQWaveformSelectionOverlay> waveformSelectionOverlay_;
    QPointer<ZQWaveformPlayheadPositionView> waveformPlayheadPositionView_;
    bool isReadyToDraw_ = false;

    mutable std::recursive_mutex lock_;
    QImage traces_;
    bool tracesValid_ = false;
    std::vector<QRgb> bgRows_, fgRows_, centreRows_; // the banded colours of each row, reused
    std::vector<std::int32_t> tops_, bottoms_;       // each column's line, in rows
    // The markers and regions in view, as device columns, copied on the main
    // thread before the traces are drawn (a region: first and one past last).
    struct MarkColumns {
        int from, to;
        bool region;
    };
    std::vector<MarkColumns> marks_;
    std::vector<ScaleMark> scaleMarks_, frequencyMarks_;
    // The spectrogram.
    int displayOverride_ = -1;
    int traceRows_ = 0;
    int pendingColumns_ = 0;
    std::uint64_t traceColumnsPending_ = 0;
    std::shared_ptr<ZQ::SpectrogramCache> spectra_;
    ZQ::SpectrogramImage::Scale spectrumScale_;
    unsigned spectrumSize_ = 1024;
    ZQ::IndexRange spectrumRange_;
    std::array<QRgb, 256> spectrumColours_{};
    std::vector<std::uint8_t> spectrumIndices_; // column-major, a column of rows each
    QPointer<QLabel> spectrumReadout_;
    QSize drawSize_;               // the size the traces are drawn for, in device pixels
    bool overviewRebuilt_ = false; // by the last rebuildTraces
    bool shareCores_ = false;
    std::uint64_t traceRenders_ = 0;
    std::int64_t eventNumber_ = 0;
    QPointF pressedAt_;        // where the left button went down: a release there is a click
    bool grabbedEdge_ = false; // the press took hold of an edge of the selection
    std::uint64_t grabbedIndex_ = 0;
    QPointF dragAt_;             // the pointer during a drag
    bool ignoreRelease_ = false; // a double click on a marker selected already
    QTimer* autoScroll_ = nullptr;
};
