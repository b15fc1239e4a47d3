#include "core/errors.h"
#include "core/holders.h"
#include "platform/base/Values.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

using namespace ZQ;
using platform::Ref;

namespace {
struct Tracked : z_ {
    explicit Tracked(int* deaths) : deaths_(deaths) {}
    ~Tracked() override { ++*deaths_; }
    int* deaths_;
    double payload[6] = {};
};
} // namespace

TEST(AutoPtr, OwnsAnObjectInTrackedStorageAndDestroysItOnce) {
    int deaths = 0;
    size_t before = registry().liveCount();
    {
        auto_ptr<Tracked> p;
        EXPECT_TRUE(isEmptyQuery(&p));
        p.make(&deaths);
        EXPECT_FALSE(isEmptyQuery(&p));
        EXPECT_EQ(registry().liveCount(), before + 1);
        p.make(&deaths); // replacing destroys the first
        EXPECT_EQ(deaths, 1);
        EXPECT_EQ(registry().liveCount(), before + 1);
    }
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(registry().liveCount(), before);
}

TEST(OCPtrModes, RetainCopyMutableCopyAndTakeOver) {
    Ref<platform::MutableString> source = Ref<platform::MutableString>::adopt(platform::MutableString::create("one"));

    OCPtr<platform::String> retaining(kOCRetain);
    retaining.set(source.get());
    EXPECT_EQ(retaining.get(), source.get());
    EXPECT_EQ(source->retainCount(), 2u);
    retaining.set(source.get()); // same object: no retain, no release
    EXPECT_EQ(source->retainCount(), 2u);

    OCPtr<platform::String> copying(kOCCopy);
    copying.set(source.get());
    source->append(" two");
    EXPECT_EQ(copying->utf8(), "one");
    EXPECT_EQ(dynamic_cast<platform::MutableString*>(copying.get()), nullptr);

    OCPtr<platform::String> mutableCopying(kOCMutableCopy);
    mutableCopying.set(source.get());
    EXPECT_NE(mutableCopying.get(), source.get());
    EXPECT_NE(dynamic_cast<platform::MutableString*>(mutableCopying.get()), nullptr);
    EXPECT_EQ(mutableCopying->utf8(), "one two");

    OCPtr<platform::String> takingOver(kOCTakeOver);
    platform::String* fresh = platform::String::create("mine");
    takingOver.set(fresh);
    EXPECT_EQ(fresh->retainCount(), 1u);

    retaining = nullptr;
    EXPECT_EQ(source->retainCount(), 1u);
    EXPECT_TRUE(retaining.isEmpty());
}

TEST(OCPtrModes, AdoptingAFreshObjectLeavesOneReferenceOwnedByTheHolder) {
    platform::String* s = platform::String::create("x");
    s->retain(); // a witness reference so the count can be read after the holder dies
    {
        OCPtr<platform::String> p(s, kOCRetain, true);
        EXPECT_EQ(s->retainCount(), 2u); // the holder's and the witness's
        auto extra = p.getRetained();
        EXPECT_EQ(s->retainCount(), 3u);
    }
    EXPECT_EQ(s->retainCount(), 1u);
    s->release();
}

TEST(OCPtrModes, AnswerTheEmptinessQuery) {
    OCPtr<platform::URL> p;
    EXPECT_TRUE(isEmptyQuery(&p));
    p.set(Ref<platform::URL>::adopt(platform::URL::fileURLWithPath("/x")).get());
    EXPECT_FALSE(isEmptyQuery(&p));
    EXPECT_EQ(p->retainCount(), 1u);
}

TEST(ObservationManager, RegistersOnceAndRemovesOnce) {
    int observer = 0, calls = 0;
    auto& centre = platform::NotificationCenter::defaultCenter();
    ObjCObjectObservationManager m(&observer);
    m.observe([&](const platform::Notification&) { ++calls; }, "ZQTestObservation");
    EXPECT_TRUE(m.isRegistered());
    centre.post("ZQTestObservation");
    EXPECT_EQ(calls, 1);
    m.remove();
    m.remove();
    EXPECT_FALSE(m.isRegistered());
    EXPECT_EQ(centre.observerCount("ZQTestObservation"), 0u);
    centre.post("ZQTestObservation");
    EXPECT_EQ(calls, 1);

    ObjCObjectObservationManager none(nullptr);
    none.observe([&](const platform::Notification&) { ++calls; }, "ZQTestObservation");
    EXPECT_FALSE(none.isRegistered());
}

TEST(RenewableTimerHolder, StartRefusesWhileRunningAndRestartsAfterStop) {
    RenewableTimer t;
    int first = 0, second = 0;
    EXPECT_FALSE(t.start(0.0, [&](platform::Timer*) { ++first; }));
    EXPECT_FALSE(t.start(0.01, nullptr));
    ASSERT_TRUE(t.start(0.01, [&](platform::Timer*) { ++first; }));
    platform::Timer* running = t.timer();
    EXPECT_FALSE(t.start(0.01, [&](platform::Timer*) { ++second; }));
    EXPECT_EQ(t.timer(), running);
    EXPECT_TRUE(testsupport::waitUntil([&] { return first >= 2; }));
    EXPECT_EQ(second, 0);

    t.stop();
    EXPECT_FALSE(t.isRunning());
    int firstAtStop = first;
    ASSERT_TRUE(t.start(0.01, [&](platform::Timer*) { ++second; }));
    EXPECT_TRUE(testsupport::waitUntil([&] { return second >= 2; }));
    EXPECT_EQ(first, firstAtStop);
}
