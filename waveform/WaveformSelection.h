// What a waveform view keeps besides its overview: its drawing colours, and
// its selection of samples with the mouse tracking that makes it. No widgets:
// the view turns its mouse events into SelectionEvents.
#pragma once

#include "core/object.h"
#include "core/values.h"

#include <cstdint>

namespace ZQ {

// A colour as four components, each clamped into 0 ... 1 when set.
struct RGBAlphaComponents {
    double r_ = 0, g_ = 0, b_ = 0, a_ = 1;
    RGBAlphaComponents() = default;
    RGBAlphaComponents(double r, double g, double b, double a) { set(r, g, b, a); }
    void set(double r, double g, double b, double a);
    bool operator==(const RGBAlphaComponents&) const = default;
};

struct WaveformColors {
    RGBAlphaComponents backgroundColor{0, 0, 0, 1};
    RGBAlphaComponents foregroundColor{1, 1, 1, 1};
    RGBAlphaComponents centerLineColor{1, 0, 0, 1};
};

using SampleSelection = Num::range<Num::Count>;

// The receiver of selection changes (the view).
class WaveformSelectionOwner {
public:
    virtual void selectionDidChange() = 0;

protected:
    ~WaveformSelectionOwner() = default;
};

enum class SelectionEventType { LeftMouseDown = 1, LeftMouseUp = 2, LeftMouseDragged = 6, Other = 0 };

// One mouse event as the selection sees it: the press, drags and release of
// one click share a number; `index` is the sample under the pointer.
struct SelectionEvent {
    std::int64_t number = 0;
    SelectionEventType type = SelectionEventType::Other;
    bool shift = false;
    std::uint64_t index = 0;
    // A press that grabs an edge of the selection: the other edge stays put.
    bool hasAnchor = false;
    std::uint64_t anchor = 0;
};

struct WaveformSelectionData;

class WaveformSelectionEventHandler : public z_ {
public:
    // Revision counter: one step per change of the tracking state; after its
    // largest value it goes on at 1, never 0.
    struct rev_ {
        Num::Count r_{0ull};
        void advance() { r_.v_ = r_.v_ == ~0ull ? 1 : r_.v_ + 1; }
    };

    // Under the handler's lock, for the whole event.
    void handle(const SelectionEvent& event, WaveformSelectionData& data);
    bool isTracking() const { return trackedEvent_ != 0; }

    std::int64_t trackedEvent_ = 0;
    rev_ rev;
    Num::Count initialIndex{0ull};
    Num::Count trackingIndex{0ull};
    SampleSelection trackingSelection{Num::Count(0ull), Num::Count(0ull)};
};

struct WaveformSelectionData {
    SampleSelection s_{Num::Count(0ull), Num::Count(0ull)};
    WaveformSelectionOwner* waveform_ = nullptr; // not owned
    WaveformSelectionEventHandler eventHandler;

    // Nothing when equal to the current selection; otherwise stores it when
    // it is not inverted, resets an inverted stored selection to [0, 0], and
    // tells the owner.
    void set(const SampleSelection& selection);
    // The selection, an inverted one reset to [0, 0] first.
    const SampleSelection& selection();
    std::uint64_t length() { return selection().max_.v_ - selection().min_.v_; }
};

} // namespace ZQ
