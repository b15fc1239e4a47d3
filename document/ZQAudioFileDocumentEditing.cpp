// The document's editing: range operations on the sample store, the undo
// history, and the refresh of everything that depends on the samples.
#include "document/AudioFileDocumentClipboard.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"

#include "audiofile/RangeProcessing.h"
#include "audiofile/SequenceLoudness.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

using platform::Ref;
using ZQ::SampleDataHolder;
using ZQ::Num::SampleRange;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

SampleRange rangeOf(std::uint64_t a, std::uint64_t b) {
    return {ZQ::Num::Count(a), ZQ::Num::Count(b)};
}

// Where a frame goes when `removed` frames at `at` are replaced by `inserted`:
// after the edit it keeps its place in the audio; inside what went it is at
// the edit point.
std::uint64_t movedThroughEdit(std::uint64_t frame, std::uint64_t at, std::uint64_t removed, std::uint64_t inserted) {
    if (frame >= at + removed) return frame - removed + inserted;
    return frame > at ? at : frame;
}

// Undoing or redoing a step: a play position nobody moved since goes back to
// where it was on that side; one moved since follows the frames.
std::uint64_t playPositionFor(std::uint64_t now, std::uint64_t wasAfter, std::uint64_t restore, std::uint64_t at,
                              std::uint64_t removed, std::uint64_t inserted) {
    return now == wasAfter ? restore : movedThroughEdit(now, at, removed, inserted);
}

} // namespace

ZQ::AudioFileDocumentSampleData* ZQAudioFileDocument::createCopyData() {
    Guard g(monitor());
    if (!sampleData_) return nullptr;
    SampleDataHolder holder;
    if (!sampleData_->copyAll(holder) || holder.isEmpty()) return nullptr;
    return holder.detach();
}

ZQ::AudioFileDocumentSampleData* ZQAudioFileDocument::createCopyDataInRange(const SampleRange& range) {
    Guard g(monitor());
    if (!sampleData_) return nullptr;
    SampleDataHolder holder;
    if (!sampleData_->copyRange(range, holder) || holder.isEmpty()) return nullptr;
    return holder.detach();
}

void ZQAudioFileDocument::createCopyDataForChannel(ZQ::Num::Count channel, const SampleRange& range,
                                                   ZQ::SampleBuffer& out) {
    Guard g(monitor());
    if (!sampleData_ || channel.v_ >= ZQ::AudioFileDocumentSampleData::kMaxChannels) return;
    sampleData_->copyChannelRange(out, static_cast<std::int32_t>(channel.v_), range);
}

bool ZQAudioFileDocument::cutRange(const SampleRange& range) {
    return removeRange("Cut", range, true);
}

bool ZQAudioFileDocument::deleteRange(const SampleRange& range) {
    return removeRange("Delete", range, false);
}

bool ZQAudioFileDocument::removeRange(const char* name, const SampleRange& range, bool toClipboard) {
    if (isExporting()) return false; // the samples are being written
    Guard g(monitor());
    if (!sampleData_ || !range.isValid() || range.max_.v_ >= sampleData_->frameCount()) return false;
    const std::uint64_t a = range.min_.v_, b = range.max_.v_;
    const std::uint64_t left = sampleData_->frameCount() - (b - a + 1);
    // The empty selection at the start of what went, within what is left.
    const std::uint64_t at = left == 0 ? 0 : std::min(a, left - 1);
    SampleDataHolder none;
    return applyEdit(name, a, b - a + 1, none, range, rangeOf(at, at), toClipboard);
}

bool ZQAudioFileDocument::duplicateRange(const SampleRange& range) {
    if (isExporting()) return false; // the samples are being written
    Guard g(monitor());
    if (!sampleData_ || !range.isValid()) return false;
    SampleDataHolder copy;
    if (!sampleData_->copyRange(range, copy)) return false;
    const std::uint64_t a = range.min_.v_, b = range.max_.v_;
    return applyEdit("Duplicate", b + 1, 0, copy, range, rangeOf(b + 1, b + 1 + (b - a)), false);
}

bool ZQAudioFileDocument::pasteClipboardData(SampleDataHolder& holder, const SampleRange& range) {
    if (isExporting()) return false; // the samples are being written
    Guard g(monitor());
    if (!sampleData_ || !range.isValid()) return false;
    const ZQ::AudioFileDocumentSampleData* clip = holder.get();
    if (!clip || clip->channelCount() != sampleData_->channelCount() || clip->frameCount() == 0) return false;
    const std::uint64_t n = sampleData_->frameCount(), a = range.min_.v_, b = range.max_.v_;
    // One index is the place to insert at; a longer range is replaced.
    const std::uint64_t removeCount = a == b ? 0 : b - a + 1;
    if (a > n || (removeCount > 0 && b >= n)) return false;
    const std::uint64_t added = clip->frameCount();
    SampleDataHolder insert(holder.detach());
    return applyEdit("Paste", a, removeCount, insert, range, rangeOf(a, a + added - 1), false);
}

void ZQAudioFileDocument::stopForEdit() {
    if (Ref<ZQAudioFileDocumentTransportController> t = transport()) t->perform_Stop(nullptr);
    // No fade either: the samples it would read are about to change.
    if (Ref<ZQAudioFileDocumentOutputSourceController> s = sourceController()) s->silenceAtOnce();
    // Nor what the window analyses in the background.
    channelData_.samplesWillChange();
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->audioFileSamplesWillChange();
}

bool ZQAudioFileDocument::processRange(const std::string& name, const ZQ::RangeProcess& process,
                                       const SampleRange& range, std::string* refusal) {
    if (isExporting()) return false; // the samples are being written
    Guard g(monitor());
    if (!sampleData_ || !range.isValid() || range.max_.v_ >= sampleData_->frameCount()) return false;
    const ZQ::SampleSnapshot samples = sampleData_->samples();
    if (!samples) return false;
    const std::uint64_t a = range.min_.v_, n = range.max_.v_ - a + 1;
    std::shared_ptr<ZQ::SampleBlock> block = ZQ::processFrames(*samples, a, n, process, refusal);
    SampleDataHolder processed;
    if (!block || !sampleData_->makeFromBlock(std::move(block), processed)) return false;
    return applyEdit(name.c_str(), a, n, processed, range, range, false, true);
}

bool ZQAudioFileDocument::normaliseRange(const SampleRange& range, bool loudness, double target, double ceiling,
                                         std::string* refusal) {
    double gainDb = 0;
    {
        Guard g(monitor());
        if (!sampleData_ || !range.isValid() || range.max_.v_ >= sampleData_->frameCount()) return false;
        const ZQ::SampleSnapshot samples = sampleData_->samples();
        if (!samples) return false;
        const std::uint64_t a = range.min_.v_, n = range.max_.v_ - a + 1;
        if (loudness) {
            const ZQ::LoudnessFigures f = ZQ::measureLoudness(*samples, a, n, sampleData_->sampleRate(), 2);
            if (!f.valid || !std::isfinite(f.integrated)) {
                if (refusal)
                    *refusal = "The selection is silent, or shorter than the 400 ms loudness is measured over.";
                return false;
            }
            gainDb = target - f.integrated;
            if (std::isfinite(f.truePeak)) gainDb = std::min(gainDb, ceiling - f.truePeak);
        } else {
            const double peak = ZQ::samplePeak(*samples, a, n);
            if (!(peak > 0)) {
                if (refusal) *refusal = "The selection is silent.";
                return false;
            }
            gainDb = target - 20.0 * std::log10(peak);
        }
    }
    ZQ::RangeProcess gain;
    gain.gain = std::pow(10.0, gainDb / 20.0);
    return processRange("Normalise", gain, range, refusal);
}

bool ZQAudioFileDocument::applyEdit(const char* name, std::uint64_t at, std::uint64_t removeCount,
                                    SampleDataHolder& insert, const SampleRange& before, const SampleRange& after,
                                    bool toClipboard, bool inPlace) {
    Guard g(monitor());
    if (!sampleData_ || !sampleData_->isLoaded()) return false;
    // The stream reads the samples while producing; once stopped it reads
    // none, and nothing starts it again before this returns (main thread).
    stopForEdit();
    const std::uint64_t playBefore = presentPlaybackPosition();
    SampleDataHolder removed;
    const std::uint64_t inserted = insert.get() ? insert.get()->frameCount() : 0;
    if (!sampleData_->replaceFrames(at, removeCount, insert.get(), removeCount > 0 ? &removed : nullptr)) return false;
    if (toClipboard && removed) {
        // What Cut removes is kept on the clipboard (and, apart, in the history).
        SampleDataHolder copy;
        if (removed->copyAll(copy))
            ZQ::AudioFileDocumentClipboard::sharedClipboard().setData(
                copy, static_cast<std::uint64_t>(copy->channelCount()), ZQ::sample_rate(copy->sampleRate()));
    }
    auto step = std::make_unique<ZQ::AudioFileEditStep>();
    step->name = name;
    step->at = at;
    step->removed.reset(removed.detach());
    step->inserted.reset(insert.detach());
    step->selectionBefore = before;
    step->selectionAfter = after;
    // The markers move with the frames, before the display redraws.
    step->markersBefore = markers_;
    if (!inPlace) markers_.replaceFrames(at, removeCount, inserted);
    step->markersAfter = markers_;
    const std::uint64_t playAfter = inPlace ? playBefore : movedThroughEdit(playBefore, at, removeCount, inserted);
    step->playBefore = playBefore;
    step->playAfter = playAfter;
    history_.record(std::move(step));
    samplesDidChange(at, after, playAfter);
    return true;
}

void ZQAudioFileDocument::undo(platform::Object*) {
    if (isExporting()) return; // the samples are being written
    Guard g(monitor());
    ZQ::AudioFileEditStep* step = history_.undoStep();
    if (!step || !sampleData_) return;
    if (!step->changesSamples()) {
        history_.didUndo();
        markers_ = step->markersBefore;
        return markersWereEdited();
    }
    stopForEdit();
    const std::uint64_t play = playPositionFor(presentPlaybackPosition(), step->playAfter, step->playBefore, step->at,
                                               step->insertedFrames(), step->removedFrames());
    if (!sampleData_->replaceFrames(step->at, step->insertedFrames(), step->removed.get(), nullptr)) return;
    history_.didUndo();
    markers_ = step->markersBefore;
    samplesDidChange(step->at, step->selectionBefore, play);
}

void ZQAudioFileDocument::redo(platform::Object*) {
    if (isExporting()) return; // the samples are being written
    Guard g(monitor());
    ZQ::AudioFileEditStep* step = history_.redoStep();
    if (!step || !sampleData_) return;
    if (!step->changesSamples()) {
        history_.didRedo();
        markers_ = step->markersAfter;
        return markersWereEdited();
    }
    stopForEdit();
    const std::uint64_t play = playPositionFor(presentPlaybackPosition(), step->playBefore, step->playAfter, step->at,
                                               step->removedFrames(), step->insertedFrames());
    if (!sampleData_->replaceFrames(step->at, step->removedFrames(), step->inserted.get(), nullptr)) return;
    history_.didRedo();
    markers_ = step->markersAfter;
    samplesDidChange(step->at, step->selectionAfter, play);
}

bool ZQAudioFileDocument::canUndo() const {
    Guard g(monitor());
    return sampleData_ && history_.canUndo();
}
bool ZQAudioFileDocument::canRedo() const {
    Guard g(monitor());
    return sampleData_ && history_.canRedo();
}
std::string ZQAudioFileDocument::undoActionName() const {
    Guard g(monitor());
    const ZQ::AudioFileEditStep* step = history_.undoStep();
    return step ? step->name : std::string();
}
std::string ZQAudioFileDocument::redoActionName() const {
    Guard g(monitor());
    const ZQ::AudioFileEditStep* step = history_.redoStep();
    return step ? step->name : std::string();
}
const ZQ::MarkerList& ZQAudioFileDocument::markers() const {
    Guard g(monitor());
    return markers_;
}

void ZQAudioFileDocument::setMarkers(ZQ::MarkerList markers) {
    {
        Guard g(monitor());
        if (sampleData_) markers.clampTo(sampleData_->frameCount());
        markers_ = std::move(markers);
    }
    // Outside the monitor: the window reads the markers as it redraws.
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->markersDidChange();
}

bool ZQAudioFileDocument::editMarkers(const std::string& name, ZQ::MarkerList markers) {
    if (isExporting()) return false; // the export reads the markers as they are
    Guard g(monitor());
    if (!sampleData_ || !sampleData_->isLoaded()) return false;
    markers.clampTo(sampleData_->frameCount());
    if (markers == markers_) return false;
    auto step = std::make_unique<ZQ::AudioFileEditStep>();
    step->name = name;
    step->markersBefore = markers_;
    step->markersAfter = markers;
    step->playBefore = step->playAfter = presentPlaybackPosition();
    markers_ = std::move(markers);
    history_.record(std::move(step));
    markersWereEdited();
    return true;
}

void ZQAudioFileDocument::markersWereEdited() {
    // Playback goes on: the markers are not what it reads.
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->markersDidChange();
    commandStateMayHaveChanged();
}

std::ptrdiff_t ZQAudioFileDocument::addMarker(std::uint64_t frame, std::string name) {
    Guard g(monitor());
    if (!sampleData_ || frame >= sampleData_->frameCount()) return -1;
    ZQ::MarkerList after = markers_;
    const std::size_t index = after.insert({frame, 0, std::move(name)});
    return editMarkers("Add Marker", std::move(after)) ? std::ptrdiff_t(index) : -1;
}

std::ptrdiff_t ZQAudioFileDocument::addRegion(std::uint64_t frame, std::uint64_t length, std::string name) {
    Guard g(monitor());
    if (!sampleData_ || length == 0 || frame >= sampleData_->frameCount() || length > sampleData_->frameCount() - frame)
        return -1;
    ZQ::MarkerList after = markers_;
    const std::size_t index = after.insert({frame, length, std::move(name)});
    return editMarkers("Add Region", std::move(after)) ? std::ptrdiff_t(index) : -1;
}

std::ptrdiff_t ZQAudioFileDocument::renameMarker(std::size_t index, std::string name) {
    Guard g(monitor());
    if (index >= markers_.size()) return -1;
    ZQ::Marker m = markers_.items()[index];
    m.name = std::move(name);
    ZQ::MarkerList after = markers_;
    const std::size_t now = after.replace(index, std::move(m));
    return editMarkers("Rename Marker", std::move(after)) ? std::ptrdiff_t(now) : -1;
}

std::ptrdiff_t ZQAudioFileDocument::moveMarker(std::size_t index, std::uint64_t frame, std::uint64_t length) {
    Guard g(monitor());
    if (!sampleData_ || index >= markers_.size() || frame >= sampleData_->frameCount()) return -1;
    ZQ::Marker m = markers_.items()[index];
    // A region keeps at least one frame; a marker stays a marker.
    if (m.isRegion())
        length = std::clamp<std::uint64_t>(length, 1, sampleData_->frameCount() - frame);
    else
        length = 0;
    const bool isRegion = m.isRegion();
    m.frame = frame;
    m.length = length;
    ZQ::MarkerList after = markers_;
    const std::size_t now = after.replace(index, std::move(m));
    return editMarkers(isRegion ? "Move Region" : "Move Marker", std::move(after)) ? std::ptrdiff_t(now) : -1;
}

bool ZQAudioFileDocument::deleteMarker(std::size_t index) {
    Guard g(monitor());
    if (index >= markers_.size()) return false;
    const bool isRegion = markers_.items()[index].isRegion();
    ZQ::MarkerList after = markers_;
    after.erase(index);
    return editMarkers(isRegion ? "Delete Region" : "Delete Marker", std::move(after));
}

bool ZQAudioFileDocument::isDocumentEdited() const {
    Guard g(monitor());
    return history_.hasChanges();
}

void ZQAudioFileDocument::samplesDidChange(std::uint64_t from, const SampleRange& selection, std::uint64_t playAt) {
    // The blocks keep their summaries; pieces of blocks not yet summarised
    // (pasted from a document still opening) are summarised here too.
    sampleWatch_.startSummaries();
    if (Ref<ZQAudioFileDocumentOutputSourceController> s = sourceController()) {
        s->sampleCountDidChange();
        s->locate(playAt); // clamped to what is left
    }
    changeCount_.fetch_add(1);
    channelData_.samplesDidChange(sampleData_.get(), from);
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->audioFileSamplesDidChange(from, selection);
    commandStateMayHaveChanged();
}
