#include "document/ExportJob.h"

#include "platform/threads/Threads.h"

namespace ZQ {

ExportJob::~ExportJob() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

bool ExportJob::start(Work work, Done done) {
    auto progress = std::make_shared<AudioFileExport::Progress>();
    {
        std::lock_guard<std::mutex> g(lock_);
        if (progress_) return false; // one at a time
        progress_ = progress;
    }
    join(); // the last one, ended
    thread_ = std::thread([this, work = std::move(work), done = std::move(done), progress] {
        auto reason = std::make_shared<std::string>();
        auto outcome = std::make_shared<AudioFileExport::Outcome>();
        const bool written = work(progress.get(), reason.get(), outcome.get());
        platform::performOnMainThread([this, done, written, reason, outcome] {
            join();
            {
                std::lock_guard<std::mutex> g(lock_);
                progress_.reset();
            }
            if (done) done(written, *reason, *outcome);
        });
    });
    return true;
}

bool ExportJob::isRunning() const {
    std::lock_guard<std::mutex> g(lock_);
    return progress_ != nullptr;
}

double ExportJob::progress() const {
    std::lock_guard<std::mutex> g(lock_);
    return progress_ ? progress_->fraction() : -1.0;
}

void ExportJob::cancel() {
    std::lock_guard<std::mutex> g(lock_);
    if (progress_) progress_->cancel();
}

void ExportJob::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

} // namespace ZQ
