// A queue of operations run on worker threads, at most a set number at once,
// in the order they were added. Stand-in for the platform's operation queue.
// All members may be called from any thread.
#pragma once

#include "platform/base/Object.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

class Operation : public Object {
public:
    // The work; runs once on a queue thread unless cancelled before it starts.
    virtual void main() = 0;
    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }
    const char* kindName() const override { return "Operation"; }

private:
    std::atomic<bool> cancelled_{false};
};

class OperationQueue final : public Object {
public:
    static OperationQueue* create(); // +1

    void setMaxConcurrentOperationCount(std::size_t count);
    // Retains the operation until it has run (or was cancelled).
    void addOperation(Operation* operation);
    // Operations queued or running.
    std::size_t operationCount() const;
    // Marks every queued and running operation cancelled; queued ones are
    // dropped without running.
    void cancelAllOperations();
    void waitUntilAllOperationsAreFinished();

    const char* kindName() const override { return "OperationQueue"; }

private:
    OperationQueue() = default;
    ~OperationQueue() override;
    void work();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Operation*> queued_;
    std::vector<Operation*> running_;
    std::vector<std::thread> workers_;
    std::size_t idleWorkers_ = 0;
    std::size_t maxConcurrent_ = 1;
    bool stopping_ = false;
};

} // namespace platform
