// Keeps what a document knows of its samples current: builds the summaries
// of their blocks on two workers and tells the display as columns become
// known (at most ten times a second, and once at the end); notices the file
// changing on disk (checked every two seconds while the window is open) and
// tells the user once. The document owns one. Summaries from any thread
// under the document's monitor; the disk check on the main thread.
#pragma once

#include "audiofile/SampleSequence.h"
#include "core/holders.h"

#include <atomic>
#include <cstdint>
#include <memory>

class ZQAudioFileDocument;

class DocumentSampleWatch {
public:
    explicit DocumentSampleWatch(ZQAudioFileDocument& document) : document_(document) {}
    DocumentSampleWatch(const DocumentSampleWatch&) = delete;
    DocumentSampleWatch& operator=(const DocumentSampleWatch&) = delete;

    // Starts summarising what the samples' blocks lack; stops what ran
    // before unless it already covers them.
    void startSummaries();
    // Stops the workers and waits for them.
    void stopSummaries() { builder_.reset(); }
    // Whether the summaries are complete; the fraction of frames they cover.
    // Any thread.
    bool isSummarised() const;
    double summarisedFraction() const;

    void startDiskCheck();
    void stopDiskCheck() { diskCheck_.stop(); }
    void checkFileOnDisk();

private:
    ZQAudioFileDocument& document_;
    std::unique_ptr<ZQ::SummaryBuilder> builder_; // under the document's monitor
    std::atomic<std::int64_t> lastNotice_{0};     // steady-clock nanoseconds
    std::atomic<bool> noticePending_{false};
    ZQ::RenewableTimer diskCheck_; // main thread only
    bool toldOfDiskChange_ = false;
};
