#include "document/ZQAudioFileDocumentAtPath.h"

#include "core/allocator.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQDocumentController.h"
#include "platform/base/FileManager.h"
#include "platform/base/Format.h"
#include "platform/threads/Threads.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

using platform::Ref;

ZQAudioFileDocumentAtPath* ZQAudioFileDocumentAtPath::create() {
    return new ZQAudioFileDocumentAtPath;
}

bool ZQAudioFileDocumentAtPath::readFromURL(platform::URL* url, const char* type, Ref<platform::Error>* error) {
    if (!audioFileURL_.isEmpty()) audioFileURL_.set(nullptr);
    auto invalidURL = [&] {
        platform::log("Invalid URL");
        if (error) *error = Ref<platform::Error>::adopt(platform::Error::create("ZQInvalidURL", -1));
        return false;
    };
    if (!url) return invalidURL();
    if (!type) {
        platform::log("Invalid type specification");
        if (error) *error = Ref<platform::Error>::adopt(platform::Error::create("ZQInvalidTypeSpecification", -1));
        return false;
    }
    if (url->isFileURL())
        audioFileURL_ = ZQ::t_url::fileURL(url->standardizedPath());
    else
        audioFileURL_.set(url);
    if (audioFileURL_.isEmpty()) return invalidURL();
    Ref<ZQAudioFileDocumentAtPath> self = Ref<ZQAudioFileDocumentAtPath>::retain(this);
    platform::Thread::detachNew([self] { ZQAudioFileDocument::openAudioFileAtURL(self.get()); });
    return true;
}

void ZQAudioFileDocumentAtPath::doRemove() {
    ZQDocumentController::sharedDocumentController().removeDocument(this);
}

namespace {

// The shared open queue: made on the first open, never again once
// termination has begun.
struct OpenQueue {
    std::mutex lock;
    ZQ::OCPtr<platform::OperationQueue> queue;
    bool terminating = false;
};
OpenQueue& openQueue() {
    static OpenQueue* q = new OpenQueue; // lives for the whole process
    return *q;
}
std::recursive_mutex& classMonitor() {
    static std::recursive_mutex m;
    return m;
}
std::atomic<int> gRunning{0};
std::atomic<int> gPeak{0};

} // namespace

int ZQAudioFileOpenOperation::runningOpens() {
    return gRunning.load();
}
int ZQAudioFileOpenOperation::peakRunningOpens() {
    return gPeak.load();
}

ZQAudioFileOpenOperation* ZQAudioFileOpenOperation::initWithAudioFileDocument(ZQAudioFileDocumentAtPath* placeholder) {
    auto* op = new ZQAudioFileOpenOperation;
    op->audioFileDocumentAtPath_ = placeholder;
    return op;
}

void ZQAudioFileOpenOperation::openAudioFileDocumentAtPath(ZQAudioFileDocumentAtPath* placeholder) {
    if (!placeholder) return;
    Ref<ZQAudioFileOpenOperation> op = Ref<ZQAudioFileOpenOperation>::adopt(initWithAudioFileDocument(placeholder));
    if (!op) return;
    ZQ::addWatch(24, false);
    ZQ::setReportOnExit(true);
    Ref<platform::OperationQueue> queue;
    {
        OpenQueue& q = openQueue();
        std::lock_guard<std::mutex> g(q.lock);
        if (q.queue.isEmpty() && !q.terminating) {
            Ref<platform::OperationQueue> fresh =
                Ref<platform::OperationQueue>::adopt(platform::OperationQueue::create());
            fresh->setMaxConcurrentOperationCount(kMaxConcurrentOpens);
            q.queue = fresh.get();
        }
        queue = q.queue.getRetained();
    }
    if (queue) queue->addOperation(op.get()); // without a queue the open is dropped
}

void ZQAudioFileOpenOperation::applicationWillTerminate() {
    std::lock_guard<std::recursive_mutex> m(classMonitor());
    OpenQueue& q = openQueue();
    Ref<platform::OperationQueue> queue;
    {
        std::lock_guard<std::mutex> g(q.lock);
        q.terminating = true;
        queue = q.queue.getRetained();
        q.queue = nullptr;
    }
    // Drained outside the queue lock: an open that is just being queued must
    // not wait for us while we wait for it.
    if (queue) {
        if (queue->operationCount() > 0) queue->cancelAllOperations();
        ZQAudioFileDocument::cancelAllImports(); // running decodes stop within a chunk
        queue->waitUntilAllOperationsAreFinished();
    }
    std::printf(".suoqe.\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(1));
}

void ZQAudioFileOpenOperation::main() {
    Ref<ZQAudioFileDocumentAtPath> placeholder = audioFileDocumentAtPath_.getRetained();
    if (placeholder && audioFileDocument_.isEmpty()) openAudioFileAtURL(placeholder.get());
}

Ref<ZQAudioFileDocument> ZQAudioFileOpenOperation::document() const {
    return audioFileDocument_.getRetained();
}

void ZQAudioFileOpenOperation::openAudioFileAtURL(ZQAudioFileDocumentAtPath* placeholder) {
    ZQ::t_url url;
    url.set(placeholder->audioFileURL().get());
    if (url.isEmpty()) return;
    Ref<ZQAudioFileDocument> document = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    audioFileDocument_ = document.get();
    Ref<platform::URL> u = url.get();
    const platform::Object* shown = u.get();
    // A document that will never be read lets go of its parts, which hold it
    // in turn; otherwise it would outlive everything that refers to it.
    auto abandon = [&] {
        if (document) document->deallocState();
    };
    if (!u->isFileURL()) {
        platform::log("Error opening audio file: Local file url required: %@", shown);
        return abandon();
    }
    Ref<platform::FileManager> files = Ref<platform::FileManager>::adopt(platform::FileManager::create());
    if (!files->fileExistsAtPath(u->path())) {
        platform::log("Error opening audio file: File does not exist: %@", shown);
        // Gone between being chosen and being read: the user asked for it, so
        // the user is told, on the document's window as any failed open.
        if (!document) return;
        document->setFileURL(u.get());
        document->importFailed(platform::format("The file '%s' no longer exists.", document->fileName().c_str()));
        platform::performOnMainThread([document] { document->loadUI(); });
        Ref<ZQAudioFileDocumentAtPath> gone = Ref<ZQAudioFileDocumentAtPath>::retain(placeholder);
        platform::performOnMainThread([gone] { gone->doRemove(); });
        return;
    }
    if (!document) {
        platform::log("An error was encountered while creating the document for %@", shown);
        return;
    }
    const int running = ++gRunning;
    for (int peak = gPeak.load(); running > peak && !gPeak.compare_exchange_weak(peak, running);) {
    }
    document->setFileURL(u.get());
    document->readFromURL_Offline(u.get());
    --gRunning;
    Ref<ZQAudioFileDocumentAtPath> held = Ref<ZQAudioFileDocumentAtPath>::retain(placeholder);
    platform::performOnMainThread([document] { document->loadUI(); });
    platform::performOnMainThread([held] { held->doRemove(); });
}
