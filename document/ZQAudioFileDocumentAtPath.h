// The placeholder document of the open route: remembers the file's URL and
// hands the real work to an operation on the shared open queue, which creates
// the real document, decodes the file on a queue thread, has the window built
// on the main thread and then drops the placeholder.
#pragma once

#include "core/holders.h"
#include "core/wrappers.h"
#include "platform/base/Values.h"
#include "platform/threads/OperationQueue.h"

#include <string>

class ZQAudioFileDocument;

class ZQAudioFileDocumentAtPath final : public platform::Object {
public:
    static ZQAudioFileDocumentAtPath* create(); // +1

    // Remembers the standardized URL and starts the open; false with an
    // error without a URL ("ZQInvalidURL", -1) or without a type
    // ("ZQInvalidTypeSpecification", -1).
    bool readFromURL(platform::URL* url, const char* type, platform::Ref<platform::Error>* error);
    platform::Ref<platform::URL> audioFileURL() const { return audioFileURL_.get(); }
    // Leaves the list of open documents.
    void doRemove();

    const char* kindName() const override { return "ZQAudioFileDocumentAtPath"; }

private:
    ZQAudioFileDocumentAtPath() = default;
    ZQ::t_url audioFileURL_;
};

class ZQAudioFileOpenOperation final : public platform::Operation {
public:
    // Queues the placeholder's open; dropped once termination has begun.
    static void openAudioFileDocumentAtPath(ZQAudioFileDocumentAtPath* placeholder);
    // Stops taking opens, cancels the queued ones and the decodes running,
    // waits for the running ones and lets the queue go (".suoqe." on
    // standard output).
    static void applicationWillTerminate();
    // The queue's limit of decodes at once.
    static constexpr std::size_t kMaxConcurrentOpens = 16;
    // Opens running now, and the most that ever ran at once (diagnostics).
    static int runningOpens();
    static int peakRunningOpens();

    static ZQAudioFileOpenOperation* initWithAudioFileDocument(ZQAudioFileDocumentAtPath* placeholder); // +1
    void main() override;
    // Creates, reads and hands over the document.
    void openAudioFileAtURL(ZQAudioFileDocumentAtPath* placeholder);
    platform::Ref<ZQAudioFileDocument> document() const;

    const char* kindName() const override { return "ZQAudioFileOpenOperation"; }

private:
    ZQAudioFileOpenOperation() = default;
    ZQ::OCPtr<ZQAudioFileDocumentAtPath> audioFileDocumentAtPath_;
    ZQ::OCPtr<ZQAudioFileDocument> audioFileDocument_;
};
