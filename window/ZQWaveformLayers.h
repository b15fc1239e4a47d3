// The two transparent layers over a channel view's traces, composited with
// "plus" (the sum of source and destination; darkening on light
// backgrounds): the selection band and the play-position line. Both read the
// window's state and draw with the view's geometry as last drawn, repainting
// only the columns that change. They take no mouse events, which go to the
// view under them. Main thread.
#pragma once

#include "controls/Frames.h"
#include "waveform/ChannelGeometry.h"
#include "waveform/WaveformOverview.h"
#include "waveform/WaveformSelection.h"

#include <QColor>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <mutex>

class ZQWaveform;

// The base of the two layers: it belongs to one waveform (fixed when it is made).
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
