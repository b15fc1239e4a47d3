#include "core/allocator.h"
#include "core/holders.h"
#include "playback/OutputSource.h"
#include "playback/TransportCommand.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace ZQ::TransportCommand;
using ZQ::AudioStream::ReadPosition;

namespace {

// Records every event with the flags it saw at that moment.
struct Recorder final : ChangeObserver {
    explicit Recorder(const Logic& l, bool will = true, bool did = true, bool del = false)
        : ChangeObserver(will, did, del), logic(l) {}
    void transportStateWillChange() override { events.push_back("will" + std::to_string(logic.pendingCommand_)); }
    void transportStateDidChange() override {
        std::string flags;
        if (logic.isStopping_) flags += " stopping";
        if (logic.isGoingBack_) flags += " back";
        if (logic.isGoingForward_) flags += " forward";
        if (logic.isGotoStart_) flags += " start";
        if (logic.isGotoEnd_) flags += " end";
        if (logic.isGotoPosition_) flags += " position";
        events.push_back("did" + std::to_string(logic.pendingCommand_) + flags);
    }
    void observerAttached() override { events.push_back("attached"); }
    void observerDetached() override { events.push_back("detached"); }
    const Logic& logic;
    std::vector<std::string> events;
};

struct Destroyed final : ChangeObserver {
    explicit Destroyed(bool& flag) : ChangeObserver(true, true, true), flag(flag) {}
    ~Destroyed() override { flag = true; }
    bool& flag;
};

std::pair<bool, bool> state(const Logic& l) {
    return {l.isPlaying_, l.isPaused_};
}

} // namespace

TEST(TransportLogic, StateTable) {
    using S = std::pair<bool, bool>;
    const S stopped{false, false}, playing{true, false}, playingPaused{true, true}, pausedStopped{false, true};
    struct Row {
        std::vector<std::int32_t> before;
        std::int32_t command;
        S after;
    } rows[] = {
        {{}, kPlay, playing},
        {{}, kPause, pausedStopped},
        {{}, kStop, stopped},
        {{}, kGoBack, stopped},
        {{kStop}, kPlay, playing},
        {{kStop}, kPause, pausedStopped},
        {{kPlay}, kPause, playingPaused},
        {{kPlay}, kPlay, playing},
        {{kPlay}, kStop, stopped},
        {{kPlay}, kGotoEnd, playing},
        {{kPlay, kPause}, kPause, playing},
        {{kPlay, kPause}, kPlay, playing},
        {{kPlay, kPause}, kStop, stopped},
        {{kPause}, kPause, stopped},
        {{kPause}, kPlay, playing},
        {{kPause}, kRecord, pausedStopped},
        {{kPlay}, kNoChange, playing},
    };
    for (const Row& r : rows) {
        Logic l;
        for (auto c : r.before)
            l.performCommand(c);
        l.performCommand(r.command);
        EXPECT_EQ(state(l), r.after) << r.command;
        EXPECT_FALSE(l.isIdle_);
    }
    Logic fresh;
    EXPECT_TRUE(fresh.isIdle_);
    EXPECT_EQ(fresh.loopMode_.v_, 0u);
    EXPECT_EQ(fresh.pendingCommand_, 0);
}

TEST(TransportLogic, NotificationPairsAndMomentaryFlags) {
    Logic l;
    Recorder r(l);
    l.setChangeObserver(&r);
    EXPECT_EQ(r.events, std::vector<std::string>{"attached"});
    r.events.clear();

    l.performCommand(kPlay);
    EXPECT_EQ(r.events, (std::vector<std::string>{"will3", "did3"}));
    r.events.clear();

    l.performCommand(kStop); // Stop and the automatic ClearMomentary
    EXPECT_EQ(r.events, (std::vector<std::string>{"will6", "did6 stopping", "will1", "did1"}));
    EXPECT_FALSE(l.isStopping_);
    r.events.clear();

    const std::pair<std::int32_t, const char*> momentary[] = {{kGoBack, " back"},
                                                              {kGoForward, " forward"},
                                                              {kGotoStart, " start"},
                                                              {kGotoEnd, " end"},
                                                              {kGotoPosition, " position"}};
    for (auto [code, flag] : momentary) {
        l.performCommand(code);
        const std::string c = std::to_string(code);
        EXPECT_EQ(r.events, (std::vector<std::string>{"will" + c, "did" + c + flag, "will1", "did1"}));
        r.events.clear();
    }
    EXPECT_FALSE(l.isGoingBack_ || l.isGoingForward_ || l.isGotoStart_ || l.isGotoEnd_ || l.isGotoPosition_);

    l.performCommand(kRecord);
    EXPECT_TRUE(l.isRecording_); // until the next command
    l.performCommand(kNoChange);
    EXPECT_EQ(r.events, (std::vector<std::string>{"will4", "did4", "will12", "did12"}));
    EXPECT_FALSE(l.isRecording_);
    r.events.clear();

    for (std::int32_t bad : {0, 2, 13, -1, 1000}) {
        EXPECT_FALSE(Logic::canPerformCommand(bad));
        l.performCommand(bad);
    }
    EXPECT_TRUE(r.events.empty());
    for (std::int32_t good : {1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})
        EXPECT_TRUE(Logic::canPerformCommand(good));
}

TEST(TransportLogic, ObserversAttachDetachAndHearWhatTheyAskFor) {
    Logic l;
    Recorder a(l), b(l);
    l.setChangeObserver(&a);
    l.setChangeObserver(&a); // the same observer: nothing
    EXPECT_EQ(a.events, std::vector<std::string>{"attached"});
    l.setChangeObserver(&b);
    EXPECT_EQ(a.events, (std::vector<std::string>{"attached", "detached"}));
    EXPECT_EQ(b.events, std::vector<std::string>{"attached"});
    l.setChangeObserver(nullptr);
    EXPECT_EQ(b.events, (std::vector<std::string>{"attached", "detached"}));

    // Without will-change wishes, no will-change events.
    Recorder didOnly(l, false, true);
    l.setChangeObserver(&didOnly);
    l.performCommand(kPlay);
    EXPECT_EQ(didOnly.events, (std::vector<std::string>{"attached", "did3"}));

    // A plain observer hears only the first event of each kind.
    struct Plain final : ChangeObserver {
        Plain() : ChangeObserver(true, true, false) {}
    } plain;
    l.setChangeObserver(&plain);
    l.performCommand(kStop);
    EXPECT_FALSE(plain.wantsWillChange_);
    EXPECT_FALSE(plain.wantsDidChange_);

    // One that asked to be deleted when detached is destroyed then.
    bool destroyed = false;
    auto* owned = ZQ::auto_ptr<Destroyed>::create(destroyed);
    l.setChangeObserver(owned);
    EXPECT_FALSE(destroyed);
    l.setChangeObserver(nullptr);
    EXPECT_TRUE(destroyed);
}

TEST(ReadPosition, BoundedPositionDeliversAllButTheLastFrame) {
    ReadPosition p;
    p.resetUnbounded();
    p.isInfinite_ = false;
    p.maxSamplesToRead_ = ZQ::Num::Count(10ull);
    p.isDoneReading_ = false;
    p.normalise();
    EXPECT_EQ(p.remaining(), 10u); // frames 0 ... 9
    p.advance(4);
    EXPECT_EQ(p.currentReadPosition_.v_, 4u);
    EXPECT_EQ(p.remaining(), 6u);
    EXPECT_FALSE(p.isDone());
    p.advance(5);
    EXPECT_EQ(p.remaining(), 1u); // the last frame is still to come
    EXPECT_FALSE(p.isDone());
    p.advance(1);
    EXPECT_EQ(p.currentReadPosition_.v_, 10u); // N: where reading ends
    EXPECT_TRUE(p.isDone());
    // Done and bounded: the position reads as the end.
    EXPECT_EQ(p.remaining(), 0u);
    EXPECT_EQ(p.currentReadPosition_.v_, 10u);

    // Asking for more than remains jumps to the end.
    ReadPosition q;
    q.maxSamplesToRead_ = ZQ::Num::Count(100ull);
    q.normalise();
    q.advance(1000);
    EXPECT_TRUE(q.isDoneReading_);
    EXPECT_EQ(q.currentReadPosition_.v_, 100u);

    // Nothing to read: done at once.
    ReadPosition empty;
    empty.normalise();
    EXPECT_TRUE(empty.isDone());

    // Unbounded positions go on.
    ReadPosition endless;
    endless.resetUnbounded();
    endless.advance(1ull << 40);
    EXPECT_FALSE(endless.isDone());
    EXPECT_EQ(endless.currentReadPosition_.v_, 1ull << 40);
}
