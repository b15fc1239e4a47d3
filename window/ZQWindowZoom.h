// The zoom and scroll controls of one document window: the horizontal zoom
// slider (logarithmic, from the whole file to the deepest zoom), the hidden
// vertical one, the scroller under the views, and the zoom commands with
// whether each would change anything now. They act on the window's state
// and follow it (sync()); nothing here keeps a zoom of its own. Main thread.
#pragma once

#include "controls/Frames.h"
#include "controls/ZQDoubleSlider.h"
#include "controls/ZQWaveformDisplayScroller.h"
#include "waveform/WindowState.h"

#include <QPointer>
#include <functional>

class ZQWindowZoom {
public:
    struct Window {
        std::function<bool()> hasViews;    // the channel views are built
        std::function<bool()> showsTraces; // some view shows a waveform (not only a spectrogram)
    };
    ZQWindowZoom(ZQ::WindowState& state, Window window) : state_(state), window_(std::move(window)) {}

    // The controls in `parent`, around the split view's frame `split`;
    // `owner` is what the scroller names as its controller.
    void build(QWidget* parent, const ZQ::Frame& split, void* owner);
    // The controls show the state's zoom and scroll.
    void sync();
    // The vertical slider beside the views, `height` high from `bottom`.
    void placeVerticalSlider(double x, double bottom, double height);

    void setHorizontalZoom(double zoom, bool updateControls);
    void setVerticalZoom(double zoom, bool updateControls);
    void changeHorizontalZoom(ZQDoubleSlider* sender);
    void changeVerticalZoom(ZQDoubleSlider* sender);
    void changeHorizontalScroll(ZQWaveformDisplayScroller* sender);
    // Zooms by `factor`, the play position kept in place when it is in view,
    // else the centre of the view.
    void zoomKeepingPlace(double factor);
    void zoomAmplitudeIn();
    void zoomAmplitudeOut();
    void zoomOutEntirely();
    void scrollAction(unsigned part, bool isVertical);
    bool canZoomIn() const;
    bool canZoomOut() const;
    bool canZoomAmplitudeIn() const;
    bool canZoomAmplitudeOut() const;
    bool canZoomOutEntirely() const;

    ZQDoubleSlider* horizontalSlider() const { return horizontal_; }
    ZQDoubleSlider* verticalSlider() const { return vertical_; }
    ZQWaveformDisplayScroller* scroller() const { return scroller_; }
    void clear();

private:
    bool hasViews() const { return window_.hasViews && window_.hasViews(); }
    // The slider's logarithmic travel.
    double sliderValueForZoom(double zoom) const;
    double zoomForSliderValue(double value) const;

    ZQ::WindowState& state_;
    Window window_;
    QPointer<ZQDoubleSlider> vertical_, horizontal_;
    QPointer<ZQWaveformDisplayScroller> scroller_;
};
