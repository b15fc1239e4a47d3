#include "playback/TransportCommand.h"

#include "core/holders.h"

namespace ZQ::TransportCommand {

void notify(ChangeObserver* observer, std::int32_t event) {
    if (!observer) return;
    switch (event) {
    case kWillChange:
        if (observer->wantsWillChange_) observer->transportStateWillChange();
        break;
    case kDidChange:
        if (observer->wantsDidChange_) observer->transportStateDidChange();
        break;
    case kAttached:
        observer->observerAttached();
        break;
    case kDetached:
        observer->observerDetached();
        if (observer->deleteWhenDetached_) {
            auto_ptr<ChangeObserver> last(observer); // unregisters and destroys it
        }
        break;
    default:
        break;
    }
}

void Logic::performCommand(std::int32_t code) {
    if (!canPerformCommand(code)) return;
    pendingCommand_ = code;
    notify(ob_, kWillChange);
    isIdle_ = isStopping_ = isRecording_ = false;
    isGoingBack_ = isGoingForward_ = isGotoStart_ = isGotoPosition_ = isGotoEnd_ = false;
    switch (code) {
    case kPlay:
        isStopping_ = false;
        isPlaying_ = true;
        isPaused_ = false;
        break;
    case kRecord:
        isRecording_ = true;
        break;
    case kPause:
        isPaused_ = !isPaused_;
        break;
    case kStop:
        isStopping_ = true;
        isPlaying_ = false;
        isPaused_ = false;
        break;
    case kGoBack:
        isGoingBack_ = true;
        break;
    case kGoForward:
        isGoingForward_ = true;
        break;
    case kGotoStart:
        isGotoStart_ = true;
        break;
    case kGotoEnd:
        isGotoEnd_ = true;
        break;
    case kGotoPosition:
        isGotoPosition_ = true;
        break;
    default:
        break; // ClearMomentary, NoChange
    }
    notify(ob_, kDidChange);
    pendingCommand_ = 0;
    if (code >= kStop && code <= kGotoPosition) performCommand(kClearMomentary);
}

void Logic::setChangeObserver(ChangeObserver* observer) {
    if (observer == ob_) return;
    ChangeObserver* old = ob_;
    notify(old, kDetached);
    notify(observer, kAttached);
    ob_ = observer;
}

} // namespace ZQ::TransportCommand
