// What assistive technology (a screen reader, through Qt's bridge to AT-SPI)
// learns of the painted parts of a document window: each channel view
// ("Channel 1, L, waveform", its value the play position and the
// selection), the ruler with its markers as items, the level meter (each
// channel's peak and clip lamp) and the readouts (their name and what they
// show). The standard controls (the zoom sliders, the scroller, the
// transport and M/S buttons) have Qt's own interfaces and are given names
// where they are built.
//
// The announcer of a window sends the events a screen reader speaks: the
// play position (at once when moved, at most once a second while playing),
// the selection, the zoom and the markers.
#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <cstdint>

class ZQLevelMeter;
class ZQTimeRuler;
class ZQWaveform;

namespace ZQ::Accessibility {

// Gives the painted widgets their interfaces (once per process).
void install();

// The texts the interfaces give.
QString viewName(const ZQWaveform* view);
QString viewValue(ZQWaveform* view);
QString rulerValue(const ZQTimeRuler* ruler);
QString markerName(const ZQTimeRuler* ruler, std::size_t index);
QString meterValue(const ZQLevelMeter* meter);
// A ruler is going: the items made for its markers go too.
void rulerWillGo(const ZQTimeRuler* ruler);

class Announcer {
public:
    // `views` gives the first channel view (which every view follows), `ruler` the ruler.
    void positionMayHaveChanged(ZQWaveform* view, std::uint64_t position, bool playing);
    void selectionDidChange(ZQWaveform* view);
    void zoomDidChange(ZQWaveform* view, ZQTimeRuler* ruler);
    void markersDidChange(ZQTimeRuler* ruler);
    void chosenMarkerDidChange(ZQTimeRuler* ruler, std::ptrdiff_t index);

private:
    std::uint64_t lastPosition_ = UINT64_MAX;
    std::chrono::steady_clock::time_point lastSent_{};
};

} // namespace ZQ::Accessibility
