#include "platform/threads/OperationQueue.h"

#include <algorithm>

namespace platform {

OperationQueue* OperationQueue::create() {
    return new OperationQueue;
}

void OperationQueue::setMaxConcurrentOperationCount(std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    maxConcurrent_ = std::max<std::size_t>(count, 1);
}

void OperationQueue::addOperation(Operation* operation) {
    if (!operation) return;
    operation->retain();
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(operation);
    // A worker for every queued operation no idle worker will take, up to the
    // limit; idle workers are reused.
    if (idleWorkers_ < queued_.size() && workers_.size() < maxConcurrent_) workers_.emplace_back([this] { work(); });
    changed_.notify_all();
}

void OperationQueue::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++idleWorkers_;
        changed_.wait(lock, [this] { return stopping_ || (!queued_.empty() && running_.size() < maxConcurrent_); });
        --idleWorkers_;
        if (stopping_) return;
        Operation* op = queued_.front();
        queued_.pop_front();
        running_.push_back(op);
        lock.unlock();
        if (!op->isCancelled()) op->main();
        lock.lock();
        running_.erase(std::find(running_.begin(), running_.end(), op));
        lock.unlock();
        op->release();
        lock.lock();
        changed_.notify_all();
    }
}

std::size_t OperationQueue::operationCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queued_.size() + running_.size();
}

void OperationQueue::cancelAllOperations() {
    std::deque<Operation*> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Operation* op : running_)
            op->cancel();
        dropped.swap(queued_);
        changed_.notify_all();
    }
    for (Operation* op : dropped) {
        op->cancel();
        op->release();
    }
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queued_.empty() && running_.empty(); });
}

OperationQueue::~OperationQueue() {
    cancelAllOperations();
    waitUntilAllOperationsAreFinished();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    for (std::thread& t : workers_)
        t.join();
}

} // namespace platform
