#include "document/DocumentSampleWatch.h"

#include "audiofile/MappedFile.h"
#include "document/ZQAudioFileDocument.h"
#include "platform/base/Format.h"
#include "platform/threads/Threads.h"

#include <chrono>
#include <mutex>

using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

void DocumentSampleWatch::startSummaries() {
    Guard g(document_.monitor());
    const ZQ::SampleSnapshot samples = document_.sampleData_ ? document_.sampleData_->samples() : nullptr;
    // Workers already at the blocks these samples still need go on.
    if (samples && builder_ && builder_->covers(*samples)) return;
    builder_.reset(); // stops and waits for what ran before
    if (!samples || samples->isSummarised()) return;
    // The workers tell the main thread at most ten times a second, and
    // always once everything is known. They never wait for it.
    builder_ = std::make_unique<ZQ::SummaryBuilder>(*samples, 2, [this, samples] {
        const auto now =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
        const bool done = samples->isSummarised();
        if (!done && now - lastNotice_.load(std::memory_order_relaxed) < 100'000'000) return;
        if (noticePending_.exchange(true) && !done) return;
        lastNotice_.store(now, std::memory_order_relaxed);
        Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&document_);
        platform::performOnMainThread([self] {
            self->sampleWatch_.noticePending_.store(false);
            if (Ref<ZQWaveformDisplayControllerBase> c = self->display()) c->audioFileSummaryDidGrow();
        });
    });
}

bool DocumentSampleWatch::isSummarised() const {
    const ZQ::SampleSnapshot samples = document_.sampleData_ ? document_.sampleData_->samples() : nullptr;
    return !samples || samples->isSummarised();
}

double DocumentSampleWatch::summarisedFraction() const {
    const ZQ::SampleSnapshot samples = document_.sampleData_ ? document_.sampleData_->samples() : nullptr;
    return samples ? samples->summarisedFraction() : 1.0;
}

void DocumentSampleWatch::startDiskCheck() {
    // A file truncated or rewritten under the document is noticed within
    // two seconds, whether or not anything reads it.
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&document_);
    diskCheck_.start(2.0, [self](platform::Timer*) { self->checkFileOnDisk(); });
}

void DocumentSampleWatch::checkFileOnDisk() {
    auto& data = document_.sampleData_;
    if (toldOfDiskChange_ || !data || !data->changedOnDisk()) return;
    toldOfDiskChange_ = true;
    // Once: the samples read past the file's new end are silence from now
    // on, and whatever the window shows stays editable and exportable.
    const ZQ::SampleSnapshot samples = data->samples();
    bool lost = false;
    if (samples)
        for (const ZQ::SamplePiece& p : samples->pieces())
            if (auto* f = dynamic_cast<const ZQ::FileSampleBlock*>(p.block.get()); f && f->file().lostPages())
                lost = true;
    std::string name = document_.fileName();
    if (const auto slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
    const std::string text =
        lost ? "Part of it can no longer be read; it plays and exports as silence. Your edits are kept and can "
               "still be exported."
             : "What the window shows may no longer match the file. Your edits are kept and can still be exported.";
    platform::log("The file %s changed on disk", name.c_str());
    if (ZQDocumentWindowSide* side = documentWindowSide())
        side->runAlertSheet(&document_, "The file \u201c" + name + "\u201d changed on disk.", "Ok", text, nullptr);
}
