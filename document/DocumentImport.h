// A document's import: reads the file into the document's sample store on
// the calling thread (under the document's monitor for the whole decode),
// tells the window side when it begins and ends, loads the file's markers,
// words a failure for the open alert, and concludes the open. Its progress
// and cancel are asked from any thread, and every running import in the
// process can be cancelled at once (termination).
#pragma once

#include "audiofile/AudioFileReader.h"
#include "platform/base/Values.h"

#include <atomic>
#include <memory>
#include <mutex>

class ZQAudioFileDocument;

class DocumentImport {
public:
    explicit DocumentImport(ZQAudioFileDocument& document) : document_(document) {}
    DocumentImport(const DocumentImport&) = delete;
    DocumentImport& operator=(const DocumentImport&) = delete;

    void run(platform::URL* url);
    // 0 ... 1, or -1 when none is running; never waits for the import.
    double progress() const;
    void cancel();
    bool wasCancelled() const { return cancelled_.load(); }
    static void cancelAll();

private:
    ZQAudioFileDocument& document_;
    mutable std::mutex lock_; // guards control_ alone; never held while calling out
    std::shared_ptr<ZQ::DecodeControl> control_;
    std::atomic<bool> cancelled_{false};
};
