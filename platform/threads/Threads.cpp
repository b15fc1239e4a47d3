#include "platform/threads/Threads.h"

#include "platform/threads/MainThreadQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <pthread.h>

namespace platform {

namespace {
// Static initialisation runs on the main thread.
const std::thread::id mainThreadId = std::this_thread::get_id();

thread_local Thread* currentThreadObject = nullptr;
} // namespace

Thread* Thread::create(Body body) {
    return new Thread(std::move(body));
}

void Thread::detachNew(Body body) {
    Thread* t = create(std::move(body));
    t->start();
    t->release();
}

Thread* Thread::current() {
    if (!currentThreadObject && isMainThread()) return main();
    if (!currentThreadObject) {
        // An adopted thread: its object lives as long as the thread does.
        static thread_local Ref<Thread> adopted = Ref<Thread>::adopt(new Thread(nullptr));
        adopted->id_ = std::this_thread::get_id();
        adopted->state_ = State::running;
        currentThreadObject = adopted.get();
    }
    return currentThreadObject;
}

Thread* Thread::main() {
    static Thread* mainObject = [] {
        auto* t = new Thread(nullptr); // lives for the whole process
        t->id_ = mainThreadId;
        t->state_ = State::running;
        t->name_ = "main";
        return t;
    }();
    return mainObject;
}

bool Thread::isMainThread() {
    return std::this_thread::get_id() == mainThreadId;
}

void Thread::start() {
    State expected = State::created;
    if (!state_.compare_exchange_strong(expected, State::running)) return;
    if (!body_) {
        state_ = State::finished;
        return;
    }
    retain(); // the running thread's reference
    std::thread worker([this, body = std::move(body_)] {
        currentThreadObject = this;
        {
            std::lock_guard l(mutex_);
            if (!name_.empty()) pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
        }
        body();
        currentThreadObject = nullptr;
        {
            std::lock_guard l(mutex_);
            state_ = State::finished;
        }
        finished_.notify_all();
        release();
    });
    id_ = worker.get_id();
    worker.detach();
}

void Thread::setName(const std::string& name) {
    std::lock_guard l(mutex_);
    name_ = name;
}

std::string Thread::name() const {
    std::lock_guard l(mutex_);
    return name_;
}

void Thread::waitUntilFinished() {
    if (currentThreadObject == this) return;
    std::unique_lock l(mutex_);
    finished_.wait(l, [&] { return state_.load() != State::running; });
}

Timer::Timer(double seconds, Callback callback, Object* userInfo)
    : seconds_(seconds), callback_(std::move(callback)), userInfo_(Ref<Object>::retain(userInfo)) {}

Timer* Timer::scheduledTimer(double seconds, Callback callback, Object* userInfo) {
    auto* t = new Timer(seconds, std::move(callback), userInfo);
    t->retain(); // the event loop's reference
    t->timer_ = new QTimer;
    t->timer_->setTimerType(Qt::PreciseTimer);
    t->timer_->setInterval(static_cast<int>(seconds * 1000.0 + 0.5));
    QObject::connect(t->timer_, &QTimer::timeout, [t] {
        if (t->valid_.load()) t->callback_(t);
    });
    t->timer_->start();
    return t;
}

void Timer::invalidate() {
    if (!valid_.exchange(false)) return;
    QTimer* qt = timer_;
    if (qt->thread() == QThread::currentThread()) {
        qt->stop();
        qt->deleteLater();
        release();
    } else {
        // The QTimer belongs to its own thread; stop it there.
        QMetaObject::invokeMethod(
            qt,
            [qt, this] {
                qt->stop();
                qt->deleteLater();
                release();
            },
            Qt::QueuedConnection);
    }
}

namespace {
std::atomic<MainThreadQueue*> gMainThreadQueue{nullptr};
}

// Made on the main thread as the application object is built, so no other
// thread ever creates or moves it.
static void createMainThreadQueue() {
    if (!gMainThreadQueue.load()) gMainThreadQueue.store(new MainThreadQueue); // lives for the whole process
}
Q_COREAPP_STARTUP_FUNCTION(createMainThreadQueue)

MainThreadQueue* MainThreadQueue::instance() {
    return gMainThreadQueue.load();
}

void MainThreadQueue::post(std::function<void()> work) {
    work_.push(work); // never closed: the queue lives as long as the process
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void MainThreadQueue::drain() {
    work_.drain();
}

void performOnMainThread(std::function<void()> work) {
    MainThreadQueue* queue = MainThreadQueue::instance();
    if (!queue) {
        std::fprintf(stderr, "performOnMainThread: no application object; work dropped\n");
        return;
    }
    queue->post(std::move(work));
}

} // namespace platform
