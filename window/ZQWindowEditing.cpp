#include "window/ZQWindowEditing.h"

#include "audiofile/Markers.h"
#include "document/AudioFileDocumentClipboard.h"
#include "platform/base/Format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace ZQ;
using platform::Ref;

void ZQWindowEditing::extendSelection(int steps) {
    if (!hasViews()) return;
    // A step follows the zoom: a column's frames, at least one.
    const double perColumn = window_.framesPerColumn ? window_.framesPerColumn() : 1.0;
    const auto step = std::max<std::int64_t>(1, std::int64_t(std::ceil(perColumn)));
    state_.extendSelection(std::int64_t(steps) * step);
    // The moving edge stays in view.
    const IndexRange shown = state_.shownRange();
    const std::uint64_t edge = state_.movingEdge();
    if (edge < shown.min_.v_ || edge > shown.max_.v_)
        state_.scrollToFirst(std::max(0.0, double(edge) - 0.5 * double(shown.max_.v_ - shown.min_.v_)));
}

void ZQWindowEditing::extendSelectionToEnd(bool end) {
    if (!hasViews() || state_.isEmpty()) return;
    state_.extendSelectionTo(end ? state_.length() - 1 : 0);
}

bool ZQWindowEditing::validate(ZQAction action) {
    switch (action) {
    case ZQAction::SelectAll:
        return hasViews() && !state_.isEmpty();
    case ZQAction::SelectNone:
    case ZQAction::Cut:
    case ZQAction::Copy:
    case ZQAction::Delete:
    case ZQAction::Duplicate:
        return hasViews() && state_.selectionLength() != 0;
    case ZQAction::Paste: {
        if (!hasViews() || !document_) return false;
        const sample_rate rate(document_->sampleRate());
        const std::int32_t channels = document_->channelCount();
        if (!rate.isValid() || channels <= 0) return false;
        const bool match =
            AudioFileDocumentClipboard::sharedClipboard().isFormatMatch(rate, static_cast<std::uint64_t>(channels));
        platform::log("isFormatMatch: %s", match ? "Yes" : "No");
        return match;
    }
    default:
        return false;
    }
}

void ZQWindowEditing::copy() {
    Ref<ZQAudioFileDocument> doc = document_;
    if (!doc) return;
    const std::int32_t channels = doc->channelCount();
    const sample_rate rate(doc->sampleRate());
    if (!rate.isValid() || channels <= 0 || !hasViews()) return;
    const SampleSelection range = state_.selection();
    if (range.min_ > range.max_) return;
    SampleDataHolder copy(doc->createCopyDataInRange(range));
    if (copy.isEmpty()) return;
    if (!AudioFileDocumentClipboard::sharedClipboard().setData(copy, static_cast<std::uint64_t>(channels), rate)) {
        std::printf("Failed to copy selection\n");
        std::fflush(stdout);
    }
    commandStateMayHaveChanged(); // Paste may have become possible
}

void ZQWindowEditing::paste() {
    Ref<ZQAudioFileDocument> doc;
    SampleDataHolder holder;
    SampleSelection range;
    {
        if (!document_ || !hasViews()) return;
        const sample_rate rate(document_->sampleRate());
        const std::int32_t channels = document_->channelCount();
        if (!rate.isValid() || channels <= 0) return;
        AudioFileDocumentClipboard& clipboard = AudioFileDocumentClipboard::sharedClipboard();
        if (!clipboard.isFormatMatch(rate, static_cast<std::uint64_t>(channels))) return;
        if (!clipboard.copyData(holder)) return;
        doc = document_;
        range = state_.selection(); // a copy: the paste sets the selection
    }
    if (!doc->pasteClipboardData(holder, range)) platform::log("Error::%@::%s", window_.owner, "paste:");
}

void ZQWindowEditing::cut() {
    const SampleSelection s = state_.selection(); // a copy: the edit sets the selection
    if (Ref<ZQAudioFileDocument> doc = document_; doc && hasViews()) doc->cutRange(s);
}
void ZQWindowEditing::remove() {
    const SampleSelection s = state_.selection();
    if (Ref<ZQAudioFileDocument> doc = document_; doc && hasViews()) doc->deleteRange(s);
}
void ZQWindowEditing::duplicate() {
    const SampleSelection s = state_.selection();
    if (Ref<ZQAudioFileDocument> doc = document_; doc && hasViews()) doc->duplicateRange(s);
}

void ZQWindowEditing::selectAll() {
    if (!hasViews() || state_.isEmpty()) return;
    state_.setSelection(SampleSelection(Num::Count(0ull), Num::Count(state_.length() - 1)));
}

void ZQWindowEditing::selectNone() {
    if (!hasViews()) return;
    const SampleSelection s = state_.selection();
    state_.setSelection(SampleSelection(s.min_, s.min_));
}

void ZQWindowEditing::selectFrames(std::uint64_t first, std::uint64_t last) {
    if (!hasViews() || state_.isEmpty()) return;
    last = std::min(last, state_.length() - 1);
    state_.setSelection(SampleSelection(Num::Count(std::min(first, last)), Num::Count(last)));
}

void ZQWindowEditing::selectFromMarker(std::size_t index) {
    Ref<ZQAudioFileDocument> doc = document_;
    if (!doc) return;
    const MarkerList& markers = doc->markers();
    if (index >= markers.size()) return;
    const Marker& m = markers.items()[index];
    const std::uint64_t n = doc->sampleCount(0).v_;
    if (n == 0) return;
    std::uint64_t end = n; // one past the last frame selected
    if (m.isRegion())
        end = m.end();
    else if (const std::optional<std::uint64_t> next = markers.nextStop(m.frame))
        end = *next;
    selectFrames(m.frame, end > m.frame ? end - 1 : m.frame);
}

bool ZQWindowEditing::goToMarker(bool next) {
    Ref<ZQAudioFileDocument> doc = document_;
    if (!doc || !hasViews()) return false;
    const std::uint64_t at = doc->presentPlaybackPosition();
    const MarkerList& markers = doc->markers();
    const std::optional<std::uint64_t> to = next ? markers.nextStop(at) : markers.previousStop(at);
    if (!to || *to >= doc->sampleCount(0).v_) return false;
    if (window_.locate) window_.locate(*to);
    // Brought into view when the marker lies outside it.
    const IndexRange r = state_.shownRange();
    if (*to < r.min_.v_ || *to > r.max_.v_)
        state_.scrollToFirst(std::max(0.0, double(*to) - 0.1 * double(r.max_.v_ - r.min_.v_)));
    return true;
}

bool ZQWindowEditing::hasMarkerBefore() {
    Ref<ZQAudioFileDocument> doc = document_;
    // Before the views exist the file is still being read, markers and all.
    return doc && hasViews() && doc->markers().previousStop(doc->presentPlaybackPosition()).has_value();
}

bool ZQWindowEditing::hasMarkerAfter() {
    Ref<ZQAudioFileDocument> doc = document_;
    if (!doc || !hasViews()) return false;
    const std::optional<std::uint64_t> next = doc->markers().nextStop(doc->presentPlaybackPosition());
    return next && *next < doc->sampleCount(0).v_;
}
