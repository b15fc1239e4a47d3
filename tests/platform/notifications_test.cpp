#include "platform/base/Notifications.h"
#include "platform/base/Values.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

TEST(NotificationCentre, DeliversSynchronouslyToObserversOfThatNameOnly) {
    NotificationCenter centre;
    int a = 0, b = 0;
    int keyA = 0, keyB = 0;
    std::thread::id deliveredOn;
    centre.addObserver(&keyA, "one", [&](const Notification& n) {
        ++a;
        deliveredOn = std::this_thread::get_id();
        EXPECT_EQ(n.name, "one");
    });
    centre.addObserver(&keyB, "two", [&](const Notification&) { ++b; });
    std::thread poster([&] { centre.post("one"); });
    poster.join();
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0);
    EXPECT_NE(deliveredOn, std::this_thread::get_id());

    centre.removeObserver(&keyA);
    centre.post("one");
    EXPECT_EQ(a, 1);
    EXPECT_EQ(centre.observerCount("two"), 1u);
}

TEST(NotificationCentre, PassesSenderAndUserInfo) {
    NotificationCenter centre;
    Ref<String> sender = Ref<String>::adopt(String::create("s"));
    Ref<Number> info = Ref<Number>::adopt(Number::createInteger(7));
    Object* gotSender = nullptr;
    Object* gotInfo = nullptr;
    int key = 0;
    centre.addObserver(&key, "n", [&](const Notification& n) {
        gotSender = n.sender;
        gotInfo = n.userInfo;
    });
    centre.post("n", sender.get(), info.get());
    EXPECT_EQ(gotSender, sender.get());
    EXPECT_EQ(gotInfo, info.get());
}

TEST(NotificationCentre, AnObserverMayRemoveItselfDuringDelivery) {
    NotificationCenter centre;
    int key = 0, calls = 0;
    centre.addObserver(&key, "n", [&](const Notification&) {
        ++calls;
        centre.removeObserver(&key);
    });
    centre.post("n");
    centre.post("n");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCentre, RemovalWaitsForADeliveryRunningOnAnotherThread) {
    NotificationCenter centre;
    int key = 0;
    std::atomic<bool> inside{false}, release{false}, finished{false};
    centre.addObserver(&key, "slow", [&](const Notification&) {
        inside = true;
        while (!release)
            std::this_thread::yield();
        finished = true;
    });
    std::thread poster([&] { centre.post("slow"); });
    while (!inside)
        std::this_thread::yield();
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release = true;
    });
    centre.removeObserver(&key);
    EXPECT_TRUE(finished.load()); // the callback was done before removal returned
    poster.join();
    releaser.join();
}

TEST(NotificationCentre, ConcurrentPostsAndRegistrationsAreSafe) {
    NotificationCenter centre;
    std::atomic<int> delivered{0};
    std::vector<std::thread> threads;
    int keys[4] = {};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                centre.addObserver(&keys[t], "x", [&](const Notification&) { ++delivered; });
                centre.post("x");
                centre.removeObserver(&keys[t]);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_GE(delivered.load(), 800); // each post reaches at least its own observer
    EXPECT_EQ(centre.observerCount("x"), 0u);
}
