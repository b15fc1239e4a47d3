// The undo and redo history of one document. A step keeps only the frames
// it removed and the frames it inserted at one position (never a snapshot of
// the document), with the selections before and after it, so undoing and
// redoing are the same replacement run one way or the other. The markers,
// few, are kept whole on both sides of a step: an edit can remove them, and
// undoing must bring them back as they were.
#pragma once

#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/Markers.h"
#include "core/values.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ZQ {

struct AudioFileEditStep {
    std::string name;     // "Delete", "Cut", "Paste", "Duplicate"
    std::uint64_t at = 0; // where the frames were replaced
    SampleDataHolder removed;
    SampleDataHolder inserted;
    Num::SampleRange selectionBefore;
    Num::SampleRange selectionAfter;
    MarkerList markersBefore;
    MarkerList markersAfter;
    // The play position on either side: what a removed range held moves to
    // the edit point, and undoing puts it back where it was.
    std::uint64_t playBefore = 0;
    std::uint64_t playAfter = 0;

    // A step of marker edits only: no frames, and nothing stops playback.
    bool changesSamples() const { return removed || inserted; }
    std::uint64_t removedFrames() const { return removed ? removed->frameCount() : 0; }
    std::uint64_t insertedFrames() const { return inserted ? inserted->frameCount() : 0; }
};

class AudioFileEditHistory {
public:
    // Older steps are dropped beyond this many.
    static constexpr std::size_t kMaxSteps = 100;

    // A new step after the current one; the steps that could be redone go.
    void record(std::unique_ptr<AudioFileEditStep> step);
    bool canUndo() const { return position_ > 0; }
    bool canRedo() const { return position_ < steps_.size(); }
    // The step Undo (Redo) would run; null when there is none.
    AudioFileEditStep* undoStep() const { return canUndo() ? steps_[position_ - 1].get() : nullptr; }
    AudioFileEditStep* redoStep() const { return canRedo() ? steps_[position_].get() : nullptr; }
    // Moves past the step once it has been undone (redone).
    void didUndo() { position_ -= canUndo() ? 1 : 0; }
    void didRedo() { position_ += canRedo() ? 1 : 0; }

    // Whether the samples differ from the last point marked clean (the file
    // as opened, or the last export).
    bool hasChanges() const { return !cleanReachable_ || clean_ != position_; }
    void markClean() {
        clean_ = position_;
        cleanReachable_ = true;
    }
    void clear();
    std::size_t stepCount() const { return steps_.size(); }
    // The samples the history holds, in bytes.
    std::uint64_t bytes() const;

private:
    std::vector<std::unique_ptr<AudioFileEditStep>> steps_;
    std::size_t position_ = 0; // steps before it are done
    std::size_t clean_ = 0;
    bool cleanReachable_ = true;
};

} // namespace ZQ
