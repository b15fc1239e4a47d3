// Work handed from other threads to one thread, in order, under one lock:
// the shared part of the main-thread hand-over and the playback run loops.
// The owner wakes its thread in its own way and drains the queue there.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace platform {

class WorkQueue {
public:
    // Any thread. False once the queue is closed: the caller then runs the
    // work itself.
    bool push(std::function<void()>& work) {
        std::lock_guard<std::mutex> g(mutex_);
        if (closed_) return false;
        work_.push_back(std::move(work));
        return true;
    }
    // The owner's thread: runs the work in order, including work that
    // arrives meanwhile, until the queue is empty. Runs nothing under the lock.
    void drain() {
        for (;;) {
            std::function<void()> next;
            {
                std::lock_guard<std::mutex> g(mutex_);
                if (work_.empty()) return;
                next = std::move(work_.front());
                work_.pop_front();
            }
            next();
        }
    }
    // Refuses later work; true the first time.
    bool close() {
        std::lock_guard<std::mutex> g(mutex_);
        const bool was = closed_;
        closed_ = true;
        return !was;
    }
    bool isClosed() const {
        std::lock_guard<std::mutex> g(mutex_);
        return closed_;
    }
    bool isEmpty() const {
        std::lock_guard<std::mutex> g(mutex_);
        return work_.empty();
    }

private:
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> work_;
    bool closed_ = false;
};

} // namespace platform
