#include "document/DocumentImport.h"

#include "document/ZQAudioFileDocument.h"
#include "platform/base/Format.h"
#include "platform/threads/Threads.h"

#include <set>

using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {
// Every running import's control, for termination.
std::mutex gImportsLock;
std::set<std::shared_ptr<ZQ::DecodeControl>>& runningImports() {
    static auto* imports = new std::set<std::shared_ptr<ZQ::DecodeControl>>; // lives for the whole process
    return *imports;
}
} // namespace

double DocumentImport::progress() const {
    std::lock_guard<std::mutex> h(lock_);
    return control_ ? control_->fraction() : -1.0;
}

void DocumentImport::cancel() {
    std::lock_guard<std::mutex> h(lock_);
    if (control_) control_->cancel();
}

void DocumentImport::cancelAll() {
    std::lock_guard<std::mutex> g(gImportsLock);
    for (const auto& control : runningImports())
        control->cancel();
}

void DocumentImport::run(platform::URL* url) {
    if (!url) return;
    ZQAudioFileDocument& d = document_;
    Guard g(d.monitor());
    ZQ::t_url wrapped = ZQ::t_url::fileURL(url->standardizedPath());
    if (wrapped.isEmpty() || !d.sampleData_) return;
    Ref<platform::URL> u = wrapped.get();
    auto control = std::make_shared<ZQ::DecodeControl>();
    cancelled_.store(false);
    {
        std::lock_guard<std::mutex> h(lock_);
        control_ = control;
    }
    {
        std::lock_guard<std::mutex> r(gImportsLock);
        runningImports().insert(control);
    }
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&d);
    if (documentWindowSide())
        platform::performOnMainThread([self] {
            if (ZQDocumentWindowSide* side = documentWindowSide()) side->importDidBegin(self.get());
        });
    const bool ok = d.sampleData_->read(u.get(), control.get());
    {
        std::lock_guard<std::mutex> r(gImportsLock);
        runningImports().erase(control);
    }
    {
        std::lock_guard<std::mutex> h(lock_);
        control_.reset();
    }
    if (documentWindowSide())
        platform::performOnMainThread([self] {
            if (ZQDocumentWindowSide* side = documentWindowSide()) side->importDidEnd(self.get());
        });
    // The summaries are built while the window is made (their workers yield
    // to it), so that the overview completes as soon after as it can.
    if (ok) d.sampleWatch_.startSummaries();
    // The file's markers, within its frames (a file may point past its end).
    d.markers_ = ZQ::MarkerList();
    if (ok && d.sampleData_->information()) {
        d.markers_ = ZQ::markersFromInformation(*d.sampleData_->information());
        d.markers_.clampTo(d.sampleData_->frameCount());
    }
    if (!ok && control->cancelled) {
        // The user's choice: no alert, no window; the caller lets the document go.
        cancelled_.store(true);
        return;
    }
    if (!ok) {
        platform::log("Failed to read audio file: %@", static_cast<const platform::Object*>(u.get()));
        const std::string name = d.fileName();
        if (!control->refusal.empty())
            d.fileOpenError_.setText(platform::format("The file '%s' %s.", name.c_str(), control->refusal.c_str()));
        else
            d.fileOpenError_.setText(
                platform::format("The file '%s' may be an unreadable format or possibly damaged.", name.c_str()));
    }
    d.concludeImport();
}
