// What one document window shows, kept once for all of its channel views:
// the zoom and scroll, the selection (and the mouse tracking that makes it),
// the play position as read once per tick, and each channel's own choice of
// display. Views read it and never keep copies of their own; whoever changes
// it (the views' gestures, the display controller, the keyboard) changes it
// here, and the observer hears of it once per change. Main thread.
#pragma once

#include "waveform/ChannelGeometry.h"
#include "waveform/WaveformOverview.h"
#include "waveform/WaveformSelection.h"

#include <cstdint>
#include <vector>

namespace ZQ {

class WindowStateObserver {
public:
    virtual void windowZoomDidChange() = 0;
    virtual void windowSelectionDidChange() = 0;

protected:
    ~WindowStateObserver() = default;
};

class WindowState final : private ZQWaveformViewSettingsNotificationReceiverProtocol, private WaveformSelectionOwner {
public:
    explicit WindowState(WindowStateObserver* observer = nullptr);
    WindowState(const WindowState&) = delete;
    WindowState& operator=(const WindowState&) = delete;

    // The channels now have `frames` frames: new zoom limits (the zoom kept
    // where it still fits); the selection and the play position are kept
    // within them.
    void setLength(std::uint64_t frames);
    std::uint64_t length() const { return length_; }
    bool isEmpty() const { return length_ == 0; }

    // Zoom and scroll: changes through the settings' setters are heard by
    // the observer.
    const WaveformZoomSettings& zoom() const { return zoom_; }
    WaveformZoomSettings& zoom() { return zoom_; }
    // The frames the zoom and scroll show now.
    IndexRange shownRange() const;
    // The frame <-> column mapping of a view `logicalWidth` wide.
    ChannelGeometry geometry(double logicalWidth, double ratio) const;
    // Scrolls so that the first frame shown is `frame` (as near as the
    // scroll's steps allow).
    void scrollToFirst(double frame);
    // Scrolls by `columns` of a view `width` columns wide (negative goes back).
    void scrollByColumns(double columns, int width);
    // Zooms by `factor` (below 1 zooms in), the frame at `xFraction` of the
    // width kept where it is.
    void zoomAround(double factor, double xFraction);
    // Fits the selection to the width (the deepest zoom at most).
    void zoomToSelection();
    // The deepest horizontal zoom this length allows (1 when none is deeper).
    double deepestZoom() const;

    // The selection: never inverted, never past the last frame.
    const SampleSelection& selection() { return selection_.selection(); }
    std::uint64_t selectionLength() { return selection_.length(); }
    void setSelection(const SampleSelection& selection);
    // One mouse event of a selection gesture.
    void handleSelectionEvent(const SelectionEvent& event);
    bool isTracking() const { return selection_.eventHandler.isTracking(); }
    // The keyboard's Shift+arrows: moves the selection's moving edge by
    // `frames` (negative goes back), or to `frame`, the other edge held.
    void extendSelection(std::int64_t frames);
    void extendSelectionTo(std::uint64_t frame);
    // The edge those keys move: the last frame unless they moved the first.
    std::uint64_t movingEdge() { return extending_ ? moving_ : selection().max_.v_; }

    // The play position as last read (once per tick, for every view).
    std::uint64_t playPosition() const { return playPosition_; }
    void setPlayPosition(std::uint64_t frame) { playPosition_ = frame; }

    // A channel's own display choice, -1 (the window's) by default.
    int displayOverride(int channel) const;
    void setDisplayOverride(int channel, int display);

private:
    bool waveformViewWantsZoomSettingsChangeNotifications() override { return true; }
    void zoomSettingsHaveChanged() override;
    void selectionDidChange() override;
    std::uint64_t lastFrame() const { return length_ == 0 ? 0 : length_ - 1; }

    // Compound changes are heard once, when the outermost one ends.
    struct Batch {
        WindowState& s;
        explicit Batch(WindowState& state);
        ~Batch();
    };
    WindowStateObserver* observer_;
    int batch_ = 0;
    bool zoomPending_ = false;
    IndexRange rangeBefore_; // when the outermost change began
    WaveformZoomSettings zoom_;
    WaveformSelectionData selection_;
    std::uint64_t length_ = 0;
    std::uint64_t playPosition_ = 0;
    // The edge Shift+arrows move, and the one they hold; reset by any other
    // change of the selection.
    std::uint64_t anchor_ = 0, moving_ = 0;
    bool extending_ = false;
    std::vector<int> displayOverrides_;
};

} // namespace ZQ
