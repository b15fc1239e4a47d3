#include "window/TwoCoreRunner.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace ZQ {

namespace {

class Helper {
public:
    Helper() : thread_([this] { run(); }) { thread_.detach(); } // lives as long as the process

    void start(void* context, void (*part)(void*, std::uint64_t, std::uint64_t), std::uint64_t begin,
               std::uint64_t end) {
        std::lock_guard<std::mutex> g(mutex_);
        context_ = context;
        part_ = part;
        begin_ = begin;
        end_ = end;
        pending_ = true;
        wake_.notify_one();
    }
    void wait() {
        std::unique_lock<std::mutex> g(mutex_);
        done_.wait(g, [this] { return !pending_; });
    }

private:
    void run() {
        for (;;) {
            std::unique_lock<std::mutex> g(mutex_);
            wake_.wait(g, [this] { return pending_; });
            void* context = context_;
            auto* part = part_;
            const std::uint64_t begin = begin_, end = end_;
            g.unlock();
            part(context, begin, end);
            g.lock();
            pending_ = false;
            done_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    void* context_ = nullptr;
    void (*part_)(void*, std::uint64_t, std::uint64_t) = nullptr;
    std::uint64_t begin_ = 0, end_ = 0;
    bool pending_ = false;
    std::thread thread_;
};

} // namespace

void shareBetweenCores(std::uint64_t n, void* context, void (*part)(void*, std::uint64_t, std::uint64_t)) {
    if (n < 2 || std::thread::hardware_concurrency() < 2) {
        part(context, 0, n);
        return;
    }
    static Helper* helper = new Helper; // never destroyed: its thread may still be waiting at exit
    const std::uint64_t half = n / 2;
    helper->start(context, part, half, n);
    part(context, 0, half);
    helper->wait();
}

} // namespace ZQ
