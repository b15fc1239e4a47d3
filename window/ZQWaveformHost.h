// What a channel view asks of the window it is in: the window's state, and
// the few things only the window can do. The display controller implements
// it; a view never reaches the controller any other way. Main thread.
#pragma once

#include "waveform/SpectrogramImage.h"
#include "waveform/WindowState.h"

#include <cstddef>
#include <cstdint>

class ZQWaveform;

class ZQWaveformHost {
public:
    virtual ZQ::WindowState& windowState() = 0;
    // The other views that need their traces drawn are drawn now, sharing
    // both cores (a view about to draw asks first).
    virtual void prepareOverviews() = 0;
    // The spectrogram's scale from the View menu's choices and the file's rate.
    virtual ZQ::SpectrogramImage::Scale spectrogramScale() = 0;
    // Scrolls the channels (when they do not all fit) by `pixels`.
    virtual void scrollChannels(int pixels) = 0;
    // A click put the play position at `frame`.
    virtual void locate(std::uint64_t frame) = 0;
    // Selects from the marker `index` up to the next stop.
    virtual void selectFromMarker(std::size_t index) = 0;
    // The height (device pixels) by which every view decides what fits in
    // it, so that views a pixel apart show the same marks.
    virtual int commonViewHeight() = 0;
    // The view drew its traces for a new range or zoom.
    virtual void viewDidDraw(ZQWaveform* view) = 0;

protected:
    ~ZQWaveformHost() = default;
};
