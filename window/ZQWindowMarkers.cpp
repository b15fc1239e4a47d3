#include "window/ZQWindowMarkers.h"

#include "audiofile/Markers.h"

#include <algorithm>

using namespace ZQ;

bool ZQWindowMarkers::canAddMarker() const {
    return ready() && document_->sampleCount(0).v_ > 0 && !document_->isExporting();
}

bool ZQWindowMarkers::canAddRegion() const {
    return canAddMarker() && state_.selectionLength() != 0;
}

std::ptrdiff_t ZQWindowMarkers::addMarker() {
    if (!canAddMarker()) return -1;
    // Where the user is working: the selection, else where playing is.
    const std::uint64_t at =
        state_.selectionLength() != 0 ? state_.selection().min_.v_ : document_->presentPlaybackPosition();
    const std::ptrdiff_t index = document_->addMarker(std::min<std::uint64_t>(at, document_->sampleCount(0).v_ - 1));
    if (index >= 0) choose(index);
    return index;
}

std::ptrdiff_t ZQWindowMarkers::addRegion() {
    if (!canAddRegion()) return -1;
    const SampleSelection s = state_.selection();
    const std::ptrdiff_t index = document_->addRegion(s.min_.v_, s.max_.v_ - s.min_.v_ + 1);
    if (index >= 0) choose(index);
    return index;
}

void ZQWindowMarkers::choose(std::ptrdiff_t index) {
    if (!document_ || index < 0 || std::size_t(index) >= document_->markers().size()) index = -1;
    if (index == chosen_) return;
    chosen_ = index;
    if (window_.chosenDidChange) window_.chosenDidChange();
}

bool ZQWindowMarkers::deleteChosen() {
    if (!document_ || chosen_ < 0) return false;
    const bool deleted = document_->deleteMarker(std::size_t(chosen_));
    if (deleted) choose(-1);
    return deleted;
}

bool ZQWindowMarkers::rename(std::size_t index, const std::string& name) {
    if (!document_) return false;
    const std::ptrdiff_t now = document_->renameMarker(index, name);
    if (now >= 0) choose(now);
    return now >= 0;
}

bool ZQWindowMarkers::move(std::size_t index, std::uint64_t frame, int edge) {
    if (!document_ || index >= document_->markers().size()) return false;
    const Marker m = document_->markers().items()[index];
    std::uint64_t start = frame, length = m.length;
    if (m.isRegion()) {
        // An edge dragged past the other stops a frame short of it.
        if (edge == 0) {
            start = std::min(frame, m.end() - 1);
            length = m.end() - start;
        } else {
            start = m.frame;
            length = std::max(frame, m.frame + 1) - m.frame;
        }
    }
    const std::ptrdiff_t now = document_->moveMarker(index, start, length);
    if (now >= 0) choose(now);
    return now >= 0;
}

void ZQWindowMarkers::goTo(std::size_t index) {
    if (!ready() || index >= document_->markers().size()) return;
    const std::uint64_t to = document_->markers().items()[index].frame;
    if (window_.locate) window_.locate(to);
    const IndexRange r = state_.shownRange();
    if (to < r.min_.v_ || to > r.max_.v_)
        state_.scrollToFirst(std::max(0.0, double(to) - 0.1 * double(r.max_.v_ - r.min_.v_)));
    choose(std::ptrdiff_t(index));
}

void ZQWindowMarkers::markersDidChange() {
    if (!document_ || chosen_ >= std::ptrdiff_t(document_->markers().size())) choose(-1);
}
