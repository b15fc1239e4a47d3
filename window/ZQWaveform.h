// The view of one channel: its traces (and spectrogram) drawn into an image
// by the renderers, three small numeric labels and the channel's name and
// Mute/Solo toggles over it, and the two layers above it, the selection band
// and the play-position line. It reads the window's state (zoom, scroll,
// selection, play position) through its host and keeps no copy of it; every
// frame <-> column question goes through the one geometry. Mouse gestures go
// to the selection gesture.
//
// The image is kept until zoom, scroll, size, samples or colours change;
// every other repaint (the layers on a playback tick, the labels) only
// copies from it. Main thread; the view's own lock guards its drawing state
// while the traces are drawn on another core.
#pragma once

#include "controls/Frames.h"
#include "document/ZQAudioFileDocument.h"
#include "waveform/ChannelGeometry.h"
#include "waveform/WaveformOverview.h"
#include "waveform/WaveformSelection.h"
#include "window/MarkerRenderer.h"
#include "window/ScaleRenderer.h"
#include "window/SelectionGesture.h"
#include "window/SpectrogramRenderer.h"
#include "window/TraceRenderer.h"
#include "window/ViewPreferences.h"
#include "window/ZQChannelLabels.h"
#include "window/ZQWaveformLayers.h"

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <mutex>
#include <vector>

class QLabel;
class ZQWaveformHost;

class ZQWaveform final : public QWidget, public ZQWaveformStoreClient {
public:
    // Null unless the channel is below 16 and both the document and the
    // host are given. Placed at `frame` in `parent`.
    static ZQWaveform* initWithFrame(QWidget* parent, const ZQ::Frame& frame, ZQAudioFileDocument* document,
                                     ZQWaveformHost* host, std::int32_t channelNumber);
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
    // The document shown (null once it closed).
    ZQAudioFileDocument* document() const { return document_.get(); }
    // The frames drawn now, and the geometry they were drawn with (what the
    // layers and clicks use); the range the zoom and scroll show now, before
    // the traces are drawn again.
    const ZQ::IndexRange& visibleRange() const { return visibleRange_; }
    ZQ::ChannelGeometry drawnGeometry() const;
    ZQ::IndexRange shownRange() const;
    ZQ::ChannelGeometry shownGeometry() const;
    bool amplitudeInDb() const { return zoomSettings().amplitudeInDb; }
    using ScaleMark = ScaleRenderer::Mark;
    // The marks of the thin amplitude scale at the right edge as last drawn:
    // their rows (device pixels) and labels (tests).
    const std::vector<ScaleMark>& drawnScaleMarks() const { return scaleMarks_; }
    // The window's selection (every view shows the same).
    const ZQ::SampleSelection& selection();
    void setSelection(const ZQ::SampleSelection& selection);
    std::uint64_t selectionLength();
    // The frame under a point given in the view's own (top-left) coordinates.
    std::uint64_t convertEventCoordinatesToSampleIndex(const QPointF& point);
    // The play position as the window read it on its last tick.
    std::uint64_t presentPlaybackPosition();

    // The layers follow the window's selection and play position.
    void playbackTimerTick();
    void redrawPlayhead();

    // The window's zoom and scroll.
    const ZQ::WaveformZoomSettings& zoomSettings() const;
    double horizontalZoom() const { return zoomSettings().horizontalZoom.v_; }
    double verticalZoom() const { return zoomSettings().verticalZoom.v_; }
    double horizontalScroll() const { return zoomSettings().horizontalScroll.v_; }

    // The overview from the channel's samples (the document's store entry).
    void updateWaveformCache(const ZQ::ChannelSamples& samples) override;
    const ZQ::WaveformOverview<ZQ::CGPoint>& waveformOverview() const { return traces_.overview(); }

    // Asks for the traces to be drawn again on the next repaint.
    void setNeedsDisplay();
    // Redrawing the traces, in three steps so that the middle one may run on
    // another thread for several views at once: the main thread reads what
    // the drawing needs (size, zoom, samples, markers, spectrogram), any
    // thread rebuilds the overview and draws the image, the main thread shows
    // the results (scales, labels, layers).
    bool needsTraces() const;
    void prepareDrawing();
    // The view in device pixels: what the traces and the overview are made for.
    QSize deviceSize() const;
    // With shareCores, the view's own columns and rows are shared between
    // both cores (not when several views are being rebuilt at once).
    void rebuildTraces(bool shareCores);
    void finishRebuild();
    // Several views of one width and zoom: the first computes every
    // channel's columns at once (false where there is nothing to share) and
    // the others take theirs from there until they are told null again.
    bool computeSharedColumns(ZQ::SharedColumns& shared);
    void useSharedColumns(const ZQ::SharedColumns* shared);

    void documentWillClose();
    bool isOpaque() const { return true; }

    ZQWaveformSelectionOverlay* selectionOverlay() const { return waveformSelectionOverlay_; }
    ZQWaveformPlayheadPositionView* playheadView() const { return waveformPlayheadPositionView_; }
    QLabel* vZoomOverlay() const { return labels_.vZoom(); }
    QLabel* firstVisibleOverlay() const { return labels_.firstVisible(); }
    QLabel* lastVisibleOverlay() const { return labels_.lastVisible(); }
    // The channel's name at the top left (its speaker, or its number).
    QLabel* channelNameOverlay() const { return labels_.channelName(); }
    // The channel's Mute and Solo toggles at the view's left edge.
    QToolButton* muteToggle() const { return labels_.mute(); }
    QToolButton* soloToggle() const { return labels_.solo(); }
    // Shows the document's mute and solo state of this view's channel.
    void syncChannelToggles() { labels_.syncToggles(); }
    // What the view shows: the window's choice, or the channel's own
    // (`display` -1 gives the choice back to the window).
    ZQ::ViewPreferences::Display display() const;
    int displayOverride() const;
    void setDisplayOverride(int display);
    // The rows (device pixels) of the traces at the top; the spectrogram has the rest.
    int traceRows() const { return traceRows_; }
    // Columns of the spectrogram last drawn without their levels (still being made).
    int pendingColumns() const { return spectrogram_.pendingColumns(); }
    // Trace columns drawn empty because the samples under them are not yet
    // summarised (a file still opening); they are drawn once they are.
    std::uint64_t columnsAwaitingSummary() const { return traces_.pendingColumns(); }
    // The frequency labels of the spectrogram's axis as last drawn: rows and texts.
    const std::vector<ScaleMark>& drawnFrequencyMarks() const { return frequencyMarks_; }
    QLabel* spectrumReadout() const { return spectrumReadout_; }
    // Whether the background is light (the layers and labels then darken).
    bool hasLightBackground() const;
    // How often the traces were drawn (for tests that check what a repaint costs).
    std::uint64_t traceRenders() const { return traces_.renders(); }

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
    // The focus mark comes and goes.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    ZQWaveform(QWidget* parent);
    // The pointer's time, frequency and level over the spectrogram, or hidden.
    void updateSpectrumReadout(const QPointF& at);

    platform::Ref<ZQAudioFileDocument> document_;
    ZQWaveformHost* host_ = nullptr;
    platform::Ref<platform::Object> hostKeep_; // the host lives as long as its views
    ZQ::WaveformColors waveformColors_;
    std::int32_t channelNumber_ = 0;
    ZQChannelLabels labels_;
    QPointer<ZQWaveformSelectionOverlay> waveformSelectionOverlay_;
    QPointer<ZQWaveformPlayheadPositionView> waveformPlayheadPositionView_;
    QPointer<QLabel> spectrumReadout_;
    bool isReadyToDraw_ = false;
    bool keyboardFocus_ = false; // the focus came from Tab: the mark shows

    mutable std::recursive_mutex lock_;
    // What the drawing reads, fixed on the main thread before it starts.
    QImage image_;
    bool imageValid_ = false;
    QSize drawSize_;
    qreal drawRatio_ = 1.0;
    ZQ::WaveformZoomSettings drawZoom_;
    ZQ::ChannelSamples samples_;
    int traceRows_ = 0;
    int shownHeight_ = 0;
    bool shareCores_ = false;
    const ZQ::SharedColumns* sharedColumns_ = nullptr;
    bool overviewRebuilt_ = false; // by the last rebuildTraces
    // What was drawn.
    ZQ::IndexRange visibleRange_;
    ZQ::ChannelGeometry drawnGeometry_;
    TraceRenderer traces_;
    SpectrogramRenderer spectrogram_;
    MarkerRenderer markers_;
    std::vector<ScaleMark> scaleMarks_, frequencyMarks_;
    SelectionGesture gesture_;
};
