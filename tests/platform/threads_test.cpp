#include "platform/threads/Threads.h"
#include "support/Wait.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace platform;

TEST(PlatformThread, RunsItsBodyOnceOnAnotherThread) {
    std::atomic<int> runs{0};
    std::atomic<bool> wasMain{true};
    Thread* seen = nullptr;
    Ref<Thread> t = Ref<Thread>::adopt(Thread::create([&] {
        ++runs;
        wasMain = Thread::isMainThread();
        seen = Thread::current();
    }));
    t->setName("worker");
    EXPECT_FALSE(t->isExecuting());
    t->start();
    t->start();
    t->waitUntilFinished();
    EXPECT_TRUE(t->isFinished());
    EXPECT_EQ(runs.load(), 1);
    EXPECT_FALSE(wasMain.load());
    EXPECT_EQ(seen, t.get());
    EXPECT_EQ(t->name(), "worker");
}

TEST(PlatformThread, MainThreadIsKnown) {
    EXPECT_TRUE(Thread::isMainThread());
    EXPECT_EQ(Thread::current(), Thread::main());
}

TEST(PlatformThread, ADetachedThreadKeepsItsObjectAliveUntilItEnds) {
    std::atomic<bool> done{false};
    Thread::detachNew([&] { done = true; });
    EXPECT_TRUE(testsupport::waitUntil([&] { return done.load(); }));
}

TEST(PlatformTimer, RepeatsOnTheSchedulingThreadUntilInvalidated) {
    int fired = 0;
    Ref<Timer> t = Ref<Timer>::adopt(Timer::scheduledTimer(0.01, [&](Timer* timer) {
        EXPECT_TRUE(Thread::isMainThread());
        EXPECT_TRUE(timer->isValid());
        ++fired;
    }));
    EXPECT_EQ(t->retainCount(), 2u); // the caller's and the event loop's
    EXPECT_TRUE(testsupport::waitUntil([&] { return fired >= 3; }));
    t->invalidate();
    int atStop = fired;
    testsupport::spinFor(50);
    EXPECT_EQ(fired, atStop);
    EXPECT_FALSE(t->isValid());
    EXPECT_EQ(t->retainCount(), 1u);
}
