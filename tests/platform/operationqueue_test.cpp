#include "platform/threads/OperationQueue.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

namespace {

struct Counting final : Operation {
    Counting(std::atomic<int>& running, std::atomic<int>& peak, std::atomic<int>& done)
        : running(running), peak(peak), done(done) {}
    void main() override {
        const int now = ++running;
        for (int p = peak.load(); now > p && !peak.compare_exchange_weak(p, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        --running;
        ++done;
    }
    std::atomic<int>& running;
    std::atomic<int>& peak;
    std::atomic<int>& done;
};

} // namespace

TEST(OperationQueue, RunsUpToTheLimitAtOnceAndAllOfThem) {
    std::atomic<int> running{0}, peak{0}, done{0};
    Ref<OperationQueue> q = Ref<OperationQueue>::adopt(OperationQueue::create());
    q->setMaxConcurrentOperationCount(16);
    for (int i = 0; i < 40; ++i) {
        Ref<Counting> op = Ref<Counting>::adopt(new Counting(running, peak, done));
        q->addOperation(op.get());
    }
    q->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done.load(), 40);
    EXPECT_EQ(peak.load(), 16);
    EXPECT_EQ(q->operationCount(), 0u);
}

TEST(OperationQueue, CancellingDropsTheQueuedOnes) {
    std::atomic<int> running{0}, peak{0}, done{0};
    Ref<OperationQueue> q = Ref<OperationQueue>::adopt(OperationQueue::create());
    q->setMaxConcurrentOperationCount(2);
    for (int i = 0; i < 20; ++i) {
        Ref<Counting> op = Ref<Counting>::adopt(new Counting(running, peak, done));
        q->addOperation(op.get());
    }
    while (running.load() == 0)
        std::this_thread::yield();
    q->cancelAllOperations();
    q->waitUntilAllOperationsAreFinished();
    EXPECT_LE(done.load(), 4); // the running ones finish; the queued ones never start
    EXPECT_LE(peak.load(), 2);
}
