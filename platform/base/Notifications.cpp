#include "platform/base/Notifications.h"

#include <algorithm>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may unregister from static destructors.
    static auto* centre = new NotificationCenter;
    return *centre;
}

void NotificationCenter::addObserver(const void* observer, const std::string& name, Callback callback) {
    if (!observer || name.empty() || !callback) return;
    auto reg = std::make_shared<Registration>();
    reg->observer = observer;
    reg->name = name;
    reg->callback = std::move(callback);
    std::lock_guard l(mutex_);
    registrations_.push_back(std::move(reg));
}

void NotificationCenter::deactivate(const std::vector<std::shared_ptr<Registration>>& regs) {
    for (auto& reg : regs) {
        std::lock_guard wait(reg->delivering);
        reg->active = false;
    }
}

void NotificationCenter::removeObserver(const void* observer) {
    std::vector<std::shared_ptr<Registration>> gone;
    {
        std::lock_guard l(mutex_);
        auto keep = std::stable_partition(registrations_.begin(), registrations_.end(),
                                          [&](auto& r) { return r->observer != observer; });
        gone.assign(keep, registrations_.end());
        registrations_.erase(keep, registrations_.end());
    }
    deactivate(gone);
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name) {
    std::vector<std::shared_ptr<Registration>> gone;
    {
        std::lock_guard l(mutex_);
        auto keep = std::stable_partition(registrations_.begin(), registrations_.end(),
                                          [&](auto& r) { return r->observer != observer || r->name != name; });
        gone.assign(keep, registrations_.end());
        registrations_.erase(keep, registrations_.end());
    }
    deactivate(gone);
}

void NotificationCenter::post(const std::string& name, Object* sender, Object* userInfo) {
    std::vector<std::shared_ptr<Registration>> targets;
    {
        std::lock_guard l(mutex_);
        for (auto& r : registrations_)
            if (r->name == name) targets.push_back(r);
    }
    Notification n{name, sender, userInfo};
    for (auto& reg : targets) {
        std::lock_guard delivering(reg->delivering);
        if (reg->active) reg->callback(n);
    }
}

std::size_t NotificationCenter::observerCount(const std::string& name) const {
    std::lock_guard l(mutex_);
    return static_cast<std::size_t>(
        std::count_if(registrations_.begin(), registrations_.end(), [&](auto& r) { return r->name == name; }));
}

} // namespace platform
