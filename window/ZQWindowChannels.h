// The channels of one document window: the split view that stacks one view
// per channel and scrolls them when they do not all fit,
// the views in it, and what the window does to all of them at once: draws
// them anew, draws those that need it together on both cores, finds the
// height they share, and tells them the document closes. Main thread (the
// views' traces are drawn on the other core meanwhile).
#pragma once

#include "controls/Frames.h"
#include "controls/ZQSimpleHorzontalSplitView.h"
#include "document/ZQAudioFileDocument.h"
#include "window/ZQWaveform.h"

#include <QPointer>
#include <array>
#include <cstdint>

class ZQWaveformHost;

class ZQWindowChannels {
public:
    static constexpr int kMaxViews = 64; // as many as a document holds
    // Below this height a view stops shrinking and the channels scroll
    // (unless View > Fit Channels is on).
    static constexpr int kMinimumViewHeight = 48;

    // The split view in `parent` at `frame`, growing with it.
    void build(QWidget* parent, const ZQ::Frame& frame);
    // How short the views may get: View > Fit Channels, or the minimum.
    void applyFit();
    // One view per channel of `document`, `channels` of them, for `host`.
    void addViews(ZQAudioFileDocument* document, ZQWaveformHost* host, std::int32_t channels);

    ZQWaveform* view(int channel) const;
    int count() const;
    bool any() const { return !views_[0].isNull(); }
    template <class F> void forEach(F&& f) const {
        for (const QPointer<ZQWaveform>& v : views_)
            if (v) f(v.data());
    }
    // Some view shows a waveform (not only a spectrogram).
    bool showTraces() const;
    // Every view shows every column of its traces, drawn.
    bool showEveryColumn() const;
    void setNeedsDisplay();
    // Those showing a spectrogram draw again (with the tiles finished since).
    void redrawSpectrograms();
    // Those with columns that waited for the summaries draw them.
    void redrawAwaitingSummaries();
    // Draws the traces of every view that needs them, the views shared
    // between the main thread and one helper.
    void drawTogether();
    // The smallest view's height (device pixels).
    int commonHeight() const;
    // Scrolls the views (when they do not all fit) by `pixels`, down for positive.
    void scrollBy(int pixels);
    void resize();

    ZQSimpleHorzontalSplitView* splitView() const { return splitView_; }
    // The views let go of the document; none is reached from here again.
    void documentWillClose();

private:
    QPointer<ZQSimpleHorzontalSplitView> splitView_;
    std::array<QPointer<ZQWaveform>, kMaxViews> views_;
};
