// One export of a document at a time, on a thread of its own: its progress,
// its cancel, and the hand-over of its outcome to the main thread. The
// document says what to write and what to do afterwards; this keeps the
// thread. start(), join() and the completion on the main thread; progress
// and cancel from any thread.
#pragma once

#include "audiofile/AudioFileExport.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ZQ {

class ExportJob {
public:
    using Work = std::function<bool(AudioFileExport::Progress*, std::string* reason, AudioFileExport::Outcome*)>;
    using Done = std::function<void(bool written, const std::string& reason, const AudioFileExport::Outcome&)>;

    ExportJob() = default;
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;
    // The thread has ended, or is ending: its owner may even be let go on it.
    ~ExportJob();

    // Runs `work` on a thread of its own, then `done` on the main thread
    // (after the job counts as ended). False, and nothing runs, while
    // another is running. `done` must hold the job's owner alive (the hand-
    // over to the main thread reaches the job through it).
    bool start(Work work, Done done);
    bool isRunning() const;
    // 0 ... 1, or -1 when none is running.
    double progress() const;
    // Asks the running export to stop (the destination stays as it was).
    void cancel();
    // Waits for the thread of the last export, ended or ending.
    void join();

private:
    mutable std::mutex lock_;
    std::shared_ptr<AudioFileExport::Progress> progress_; // while running
    std::thread thread_;
};

} // namespace ZQ
