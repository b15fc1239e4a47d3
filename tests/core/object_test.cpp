#include "core/object.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace ZQ;

TEST(ObjectLock, ReentersOnOneThreadAndBlocksOthersUntilEveryUnlock) {
    z_ o;
    o.lock();
    o.lock(); // recursive: no deadlock
    EXPECT_EQ(o.objectLock().holders(), 2);

    std::atomic<bool> acquired{false};
    std::thread other([&] {
        o.lock();
        acquired = true;
        o.unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(acquired.load());
    o.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(acquired.load()); // still held once
    o.unlock();
    other.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_EQ(o.objectLock().holders(), 0);
}

TEST(ObjectLock, CountsWaitersAsWellAsHolders) {
    z_ o;
    o.lock();
    std::thread waiter([&] { sync_guard g(&o); });
    while (o.objectLock().holders() < 2)
        std::this_thread::yield();
    EXPECT_EQ(o.objectLock().holders(), 2);
    o.unlock();
    waiter.join();
    EXPECT_EQ(o.objectLock().holders(), 0);
}

TEST(ObjectLock, DestroyingAFreeLockPrintsNothing) {
    testing::internal::CaptureStdout();
    {
        loc_r l;
        l.lock();
        l.unlock();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(ObjectLock, DestroyingALockHeldElsewhereWaitsAndSaysSo) {
    auto* l = new loc_r;
    std::atomic<bool> holding{false};
    std::thread holder([&] {
        l->lock();
        holding = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        l->unlock();
    });
    while (!holding)
        std::this_thread::yield();
    testing::internal::CaptureStdout();
    delete l; // returns only once the holder let go
    std::string out = testing::internal::GetCapturedStdout();
    holder.join();
    EXPECT_EQ(out.rfind("sync error... (0)\n", 0), 0u) << out;
}

TEST(ObjectLock, ADestroyedMutexReportsSuccess) {
    rlo_ m;
    m.destroy();
    EXPECT_TRUE(m.destroyed());
    EXPECT_EQ(m.lock(), 0);
    EXPECT_EQ(m.unlock(), 0);
}

TEST(ObjectRoot, AnswersOnlyTheNoOperationCode) {
    z_ o;
    QueryResult r;
    EXPECT_TRUE(o.handles(kQueryNoOperation));
    EXPECT_FALSE(o.handles(kQueryIsEmpty));
    EXPECT_TRUE(o.handle(kQueryNoOperation, r));
    EXPECT_FALSE(o.handle(kQueryIsEmpty, r));
    EXPECT_EQ(o.self(), &o);
}

TEST(Once, SetsOnlyOnce) {
    once latch;
    EXPECT_FALSE(latch.isSet());
    EXPECT_TRUE(latch.set());
    EXPECT_FALSE(latch.set());
    EXPECT_TRUE(latch.isSet());
}
