// The transport state of one document as a record of flags, the commands that
// change it, and the observer told before and after every change. Knows
// nothing of documents or sound.
//
// The logic has no lock of its own: its owner (the command receiver)
// serialises the commands it passes on.
#pragma once

#include "core/object.h"
#include "core/values.h"

#include <cstdint>

namespace ZQ::TransportCommand {

enum Code : std::int32_t {
    kClearMomentary = 1,
    kPlay = 3,
    kRecord = 4,
    kPause = 5,
    kStop = 6,
    kGoBack = 7,
    kGoForward = 8,
    kGotoStart = 9,
    kGotoEnd = 10,
    kGotoPosition = 11,
    kNoChange = 12,
};

enum ChangeObserverEvent : std::int32_t {
    kWillChange = 0,
    kDidChange = 1,
    kAttached = 2,
    kDetached = 3,
};

class ChangeObserver : public z_ {
public:
    ChangeObserver(bool wantsWillChange, bool wantsDidChange, bool deleteWhenDetached)
        : wantsWillChange_(wantsWillChange), wantsDidChange_(wantsDidChange), deleteWhenDetached_(deleteWhenDetached) {}

    // A plain observer hears the first event of each kind only.
    virtual void transportStateWillChange() { wantsWillChange_ = false; }
    virtual void transportStateDidChange() { wantsDidChange_ = false; }
    virtual void observerAttached() {}
    virtual void observerDetached() {}

    bool wantsWillChange_;
    bool wantsDidChange_;
    const bool deleteWhenDetached_;
};

// What a TargetChangeObserver forwards to (the transport controller).
class ChangeTarget {
public:
    virtual void transportStateWillChange() = 0;
    virtual void transportStateDidChange() = 0;

protected:
    ~ChangeTarget() = default;
};

class TargetChangeObserver final : public ChangeObserver {
public:
    TargetChangeObserver(ChangeTarget* target, bool wantsWillChange, bool wantsDidChange, bool deleteWhenDetached)
        : ChangeObserver(wantsWillChange, wantsDidChange, deleteWhenDetached), target(target) {}
    void transportStateWillChange() override {
        if (target) target->transportStateWillChange();
    }
    void transportStateDidChange() override {
        if (target) target->transportStateDidChange();
    }

    ChangeTarget* target; // not owned
};

// Delivers one event; a detached observer that asked for it is then
// destroyed (its storage came from the tracking allocator).
void notify(ChangeObserver* observer, std::int32_t event);

struct Logic {
    bool isIdle_ = true;
    bool isStopping_ = false;
    bool isPlaying_ = false;
    bool isRecording_ = false;
    bool isPaused_ = false;
    bool isGoingBack_ = false;
    bool isGoingForward_ = false;
    bool isGotoStart_ = false;
    bool isGotoPosition_ = false;
    bool isGotoEnd_ = false;
    Num::Count loopMode_{0ull};
    ChangeObserver* ob_ = nullptr;
    std::int32_t pendingCommand_ = 0;

    // Every valid code in every state: 1 and 3 ... 12.
    static bool canPerformCommand(std::int32_t code) {
        return code == kClearMomentary || (code >= kPlay && code <= kNoChange);
    }
    void performCommand(std::int32_t code);
    void setChangeObserver(ChangeObserver* observer);

    bool isIdle() const { return isIdle_; }
    bool isStopping() const { return isStopping_; }
    bool isPlaying() const { return isPlaying_; }
    bool isRecording() const { return isRecording_; }
    bool isPaused() const { return isPaused_; }
    bool isGoingBack() const { return isGoingBack_; }
    bool isGoingForward() const { return isGoingForward_; }
    bool isGotoStart() const { return isGotoStart_; }
    bool isGotoPosition() const { return isGotoPosition_; }
    bool isGotoEnd() const { return isGotoEnd_; }
    Num::Count loopMode() const { return loopMode_; }
    std::int32_t pendingCommand() const { return pendingCommand_; }
};

} // namespace ZQ::TransportCommand
