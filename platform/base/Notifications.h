// A process-wide notification centre: observers register a callback for a
// name; post() delivers synchronously, on the posting thread, to every
// observer registered for that name at the time of the post.
//
// Safe to use from any thread. removeObserver() waits for a delivery to that
// observer that is running on another thread, so after it returns the callback
// is not running and will not run again (a callback may remove itself).
#pragma once

#include "platform/base/Object.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

struct Notification {
    std::string name;
    Object* sender = nullptr;   // not retained: valid during delivery
    Object* userInfo = nullptr; // likewise
};

class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // `observer` identifies the registration for removal; it is not retained.
    // An empty name or a null observer registers nothing.
    void addObserver(const void* observer, const std::string& name, Callback callback);
    // Removes every registration of the observer (any name).
    void removeObserver(const void* observer);
    void removeObserver(const void* observer, const std::string& name);
    void post(const std::string& name, Object* sender = nullptr, Object* userInfo = nullptr);
    std::size_t observerCount(const std::string& name) const;

private:
    struct Registration {
        const void* observer;
        std::string name;
        Callback callback;
        std::recursive_mutex delivering;
        bool active = true;
    };
    void deactivate(const std::vector<std::shared_ptr<Registration>>& regs);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Registration>> registrations_;
};

} // namespace platform
