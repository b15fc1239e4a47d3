#include "waveform/WaveformSelection.h"

#include <algorithm>

namespace ZQ {

namespace {
double unit(double v) {
    return v == v ? std::clamp(v, 0.0, 1.0) : 0.0;
}
} // namespace

void RGBAlphaComponents::set(double r, double g, double b, double a) {
    r_ = unit(r);
    g_ = unit(g);
    b_ = unit(b);
    a_ = unit(a);
}

void WaveformSelectionData::set(const SampleSelection& selection) {
    if (selection == s_) return;
    if (selection.isValid()) s_ = selection;
    if (!s_.isValid()) s_ = SampleSelection(Num::Count(0ull), Num::Count(0ull));
    if (waveform_) waveform_->selectionDidChange();
}

const SampleSelection& WaveformSelectionData::selection() {
    if (!s_.isValid()) s_ = SampleSelection(Num::Count(0ull), Num::Count(0ull));
    return s_;
}

void WaveformSelectionEventHandler::handle(const SelectionEvent& event, WaveformSelectionData& data) {
    sync_guard g(this);
    const Num::Count i(event.index);
    auto track = [&] {
        trackingIndex = i;
        trackingSelection = SampleSelection(std::min(initialIndex, i), std::max(initialIndex, i));
        rev.advance();
        data.set(trackingSelection);
    };
    switch (event.type) {
    case SelectionEventType::LeftMouseDown:
        trackedEvent_ = event.number;
        if (event.hasAnchor) {
            initialIndex = Num::Count(event.anchor);
        } else if (event.shift) {
            const SampleSelection& s = data.selection();
            initialIndex = i < s.min_ ? s.max_ : s.min_;
        } else {
            initialIndex = i;
        }
        track();
        break;
    case SelectionEventType::LeftMouseDragged:
        if (trackedEvent_ != 0) track();
        break;
    case SelectionEventType::LeftMouseUp:
        if (trackedEvent_ != 0) {
            track();
            trackedEvent_ = 0;
            trackingSelection = SampleSelection(Num::Count(0ull), Num::Count(0ull));
            rev.advance();
        }
        break;
    default:
        break;
    }
}

} // namespace ZQ
