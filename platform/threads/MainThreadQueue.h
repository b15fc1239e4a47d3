// The queue behind performOnMainThread (private to the platform library).
// Work is kept in our own locked queue and the main thread is only woken by
// a queued call of drain() by name, so every hand-over is ordered by a lock
// the thread checker can see (Qt's own locking is invisible to it).
#pragma once

#include "platform/threads/WorkQueue.h"

#include <QObject>
#include <functional>

namespace platform {

class MainThreadQueue final : public QObject {
    Q_OBJECT
public:
    // The queue of the application's main thread; null without an application.
    static MainThreadQueue* instance();
    void post(std::function<void()> work);
    Q_INVOKABLE void drain();

    MainThreadQueue() = default;

private:
    WorkQueue work_;
};

} // namespace platform
