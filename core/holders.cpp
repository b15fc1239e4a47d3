#include "core/holders.h"

namespace ZQ {

void ObjCObjectObservationManager::observe(Callback callback, const std::string& name) {
    if (ob_ && !name.empty()) platform::NotificationCenter::defaultCenter().addObserver(ob_, name, std::move(callback));
    if (ob_) remove_ = true;
}

void ObjCObjectObservationManager::remove() {
    if (!remove_) return;
    remove_ = false;
    const void* observer = ob_;
    ob_ = nullptr;
    platform::NotificationCenter::defaultCenter().removeObserver(observer);
}

bool RenewableTimer::start(double seconds, Callback callback, platform::Object* userInfo) {
    if (!t_.isEmpty() || !callback || !(seconds > 0.0)) return false;
    OCPtr<platform::Timer, 0> fresh(platform::Timer::scheduledTimer(seconds, std::move(callback), userInfo), kOCRetain,
                                    true);
    t_.set(fresh.get());
    return true;
}

void RenewableTimer::stop() {
    if (t_.isEmpty()) return;
    t_->invalidate();
    t_.set(nullptr);
}

} // namespace ZQ
