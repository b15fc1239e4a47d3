#include "platform/threads/RunLoop.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace platform {

RunLoop* RunLoop::current() {
    // Made by and for the calling thread; released when the thread ends.
    static thread_local Ref<RunLoop> loop = Ref<RunLoop>::adopt(new RunLoop);
    return loop.get();
}

RunLoop::RunLoop() : eventFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), owner_(std::this_thread::get_id()) {}

RunLoop::~RunLoop() {
    if (eventFd_ >= 0) ::close(eventFd_);
}

bool RunLoop::isCurrent() const {
    return std::this_thread::get_id() == owner_;
}

void RunLoop::wakeUp() {
    const std::uint64_t one = 1;
    // A full counter still wakes the reader; nothing else can fail here.
    [[maybe_unused]] ssize_t n = ::write(eventFd_, &one, sizeof one);
}

void RunLoop::stop() {
    stopRequested_.store(true, std::memory_order_release);
    wakeUp();
}

void RunLoop::perform(std::function<void()> work) {
    if (!work_.push(work)) {
        work(); // a closed loop: run it here
        return;
    }
    wakeUp();
}

void RunLoop::close() {
    if (work_.close()) work_.drain();
}

void RunLoop::performAndWait(const std::function<void()>& work) {
    if (isCurrent() || work_.isClosed()) {
        work();
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    perform([&] {
        work();
        std::lock_guard<std::mutex> g(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return done; });
}

int RunLoop::addTimer(double firstDelaySeconds, double periodSeconds, std::function<void()> fire) {
    const auto toDuration = [](double s) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::max(s, 0.0)));
    };
    timers_.push_back(
        {nextTimer_, Clock::now() + toDuration(firstDelaySeconds), toDuration(periodSeconds), std::move(fire)});
    return nextTimer_++;
}

void RunLoop::removeTimer(int id) {
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [id](const TimerEntry& t) { return t.id == id; }),
                  timers_.end());
}

void RunLoop::addSource(const std::shared_ptr<RunLoopSource>& source) {
    if (source && std::find(sources_.begin(), sources_.end(), source) == sources_.end()) sources_.push_back(source);
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSource>& source) {
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

void RunLoop::fireTimers() {
    const auto now = Clock::now();
    // Copy the due ones first: a timer may add or remove timers.
    std::vector<int> due;
    for (const TimerEntry& t : timers_)
        if (t.next <= now) due.push_back(t.id);
    for (int id : due) {
        auto it = std::find_if(timers_.begin(), timers_.end(), [id](const TimerEntry& t) { return t.id == id; });
        if (it == timers_.end()) continue;
        it->next = it->period.count() > 0 ? std::max(it->next + it->period, now) : Clock::time_point::max();
        std::function<void()> fire = it->fire;
        fire();
    }
}

void RunLoop::runSources() {
    auto sources = sources_;
    for (auto& s : sources)
        if (s->takeSignal()) s->perform();
}

double RunLoop::secondsToNextTimer() const {
    auto next = Clock::time_point::max();
    for (const TimerEntry& t : timers_)
        next = std::min(next, t.next);
    if (next == Clock::time_point::max()) return 1e9;
    return std::chrono::duration<double>(next - Clock::now()).count();
}

RunLoop::Result RunLoop::runFor(double seconds) {
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        if (stopRequested_.exchange(false, std::memory_order_acq_rel)) return Result::Stopped;
        work_.drain();
        runSources();
        fireTimers();
        if (stopRequested_.exchange(false, std::memory_order_acq_rel)) return Result::Stopped;
        const double left = std::chrono::duration<double>(end - Clock::now()).count();
        if (left <= 0) return Result::TimedOut;
        const double wait = std::min(left, std::max(0.0, secondsToNextTimer()));
        pollfd p{eventFd_, POLLIN, 0};
        waiting_.store(true, std::memory_order_release);
        if (!work_.isEmpty()) {
            waiting_.store(false, std::memory_order_release);
            continue;
        }
        ::poll(&p, 1, static_cast<int>(wait * 1000.0 + 0.999));
        waiting_.store(false, std::memory_order_release);
        std::uint64_t count;
        while (::read(eventFd_, &count, sizeof count) > 0) {
        }
    }
}

} // namespace platform
