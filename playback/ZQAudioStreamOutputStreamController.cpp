#include "playback/ZQAudioStreamOutputStreamController.h"

#include "platform/threads/RunLoop.h"
#include "platform/threads/Threads.h"
#include "playback/OutputStream.h"
#include "playback/ZQASThread.h"

#include <atomic>
#include <mutex>

using platform::Ref;

namespace {

// The private controller: a thread with its own run loop and a 1-second
// timer. It serves no request (streams are found on the asking thread); it
// keeps the process's playback machinery alive until termination.
class ZQAudioStreamOutputStreamController_Private final : public platform::Object {
public:
    static ZQAudioStreamOutputStreamController_Private* shared();
    static ZQAudioStreamOutputStreamController_Private* peek() { return instance_.load(); }

    bool shouldTerminate() const { return isTerminating_.load(); }
    bool hasExecutionThread() const {
        std::lock_guard<std::recursive_mutex> g(monitor());
        return bool(executionThread);
    }
    void applicationWillTerminate() {
        Ref<platform::Thread> thread;
        Ref<platform::RunLoop> loop;
        {
            std::lock_guard<std::recursive_mutex> g(monitor());
            isTerminating_.store(true);
            thread = executionThread;
            executionThread = Ref<platform::Thread>();
            loop = runLoop;
        }
        if (loop) loop->stop();
        if (thread) thread->waitUntilFinished();
    }
    const char* kindName() const override { return "ZQAudioStreamOutputStreamController_Private"; }

private:
    ZQAudioStreamOutputStreamController_Private() = default;
    void run() {
        platform::RunLoop* loop = platform::RunLoop::current();
        {
            std::lock_guard<std::recursive_mutex> g(monitor());
            runLoop = Ref<platform::RunLoop>::retain(loop);
            if (!timer) timer = loop->addTimer(1.0, 1.0, [] {});
        }
        loopStarted_.store(true);
        while (!isTerminating_.load())
            loop->runFor(1.0);
        loop->removeTimer(timer);
        loop->close();
    }

    static std::atomic<ZQAudioStreamOutputStreamController_Private*> instance_;
    Ref<platform::Thread> executionThread;
    Ref<platform::RunLoop> runLoop;
    int timer = 0;
    std::atomic<bool> isTerminating_{false};
    std::atomic<bool> loopStarted_{false};
    friend class ::ZQAudioStreamOutputStreamController;
};

std::atomic<ZQAudioStreamOutputStreamController_Private*> ZQAudioStreamOutputStreamController_Private::instance_{
    nullptr};

// Set by the termination, also when no stream was ever asked for.
std::atomic<bool>& applicationHasTerminated() {
    static std::atomic<bool> terminated{false};
    return terminated;
}

std::recursive_mutex& controllerClassMonitor() {
    static std::recursive_mutex m;
    return m;
}

ZQAudioStreamOutputStreamController_Private* ZQAudioStreamOutputStreamController_Private::shared() {
    if (auto* i = instance_.load()) return i;
    std::lock_guard<std::recursive_mutex> g(controllerClassMonitor());
    if (auto* i = instance_.load()) return i;
    auto* i = new ZQAudioStreamOutputStreamController_Private; // kept for the whole process
    i->executionThread = Ref<platform::Thread>::adopt(platform::Thread::create([i] { i->run(); }));
    i->executionThread->setName("ZQAudioStreamOutputStreamController");
    i->executionThread->start();
    instance_.store(i);
    return i;
}

class ControllerProvider final : public ZQ::AudioStream::StreamProvider {
public:
    ZQ::AudioStream::SourceHost* getOutputStream(const ZQ::sample_rate& rate, ZQ::Num::Count channels) override {
        return ZQAudioStreamOutputStreamController::getOutputStream(&rate, &channels);
    }
};

struct ThreadManager {
    std::mutex lock;
    std::vector<std::pair<std::string, Ref<ZQASThread>>> threads;
};
ThreadManager& threadManager() {
    static ThreadManager* m = new ThreadManager; // lives for the whole process
    return *m;
}

} // namespace

ZQ::AudioStream::StreamProvider& ZQ::AudioStream::outputStreamControllerProvider() {
    static ControllerProvider provider;
    return provider;
}

ZQ::AudioStream::OutputStream* ZQAudioStreamOutputStreamController::getOutputStream(const ZQ::sample_rate* rate,
                                                                                    const ZQ::Num::Count* channels) {
    if (!rate || !channels) return nullptr;
    // Once the application terminates no stream is made, not even by a
    // document that finishes opening only then: the registry has been emptied
    // for the last time, so a new stream (or controller) would never be freed.
    if (applicationHasTerminated().load()) return nullptr;
    if (!ZQAudioStreamOutputStreamController_Private::peek()) initializeState();
    auto* instance = ZQAudioStreamOutputStreamController_Private::peek();
    if (!instance || instance->shouldTerminate() || !instance->hasExecutionThread()) return nullptr;
    ZQSRCC request;
    request.sampleRate_ = *rate;
    request.sampleRate_.isForceRefresh_ = false;
    request.channelCount_ = *channels;
    Ref<ZQVoidP> box = Ref<ZQVoidP>::adopt(ZQVoidP::initWith(&request));
    imp_getOutputStream(box.get());
    return request.ostream_;
}

void ZQAudioStreamOutputStreamController::imp_getOutputStream(ZQVoidP* request) {
    if (!request || !request->a_) return;
    std::lock_guard<std::recursive_mutex> g(controllerClassMonitor());
    auto* r = static_cast<ZQSRCC*>(request->a_);
    r->ostream_ = ZQ::AudioStream::OutputStream::findOrCreate(r->sampleRate_.s_.v_, r->channelCount_);
}

void ZQAudioStreamOutputStreamController::initializeState() {
    ZQAudioStreamOutputStreamController_Private::shared();
}

bool ZQAudioStreamOutputStreamController::shouldTerminate() {
    auto* i = ZQAudioStreamOutputStreamController_Private::peek();
    return i && i->shouldTerminate();
}

void ZQAudioStreamOutputStreamController::applicationWillTerminate() {
    applicationHasTerminated().store(true);
    if (auto* i = ZQAudioStreamOutputStreamController_Private::peek()) i->applicationWillTerminate();
}

bool ZQAudioStreamOutputStreamController::hasControllerThread() {
    auto* i = ZQAudioStreamOutputStreamController_Private::peek();
    return i && i->hasExecutionThread();
}

void ZQASThreadManager::registerThread(ZQASThread* thread) {
    if (!thread) return;
    ThreadManager& m = threadManager();
    {
        std::lock_guard<std::mutex> g(m.lock);
        m.threads.emplace_back(thread->identifier(), Ref<ZQASThread>::retain(thread));
    }
    thread->start();
}

void ZQASThreadManager::applicationWillTerminate() {
    std::vector<Ref<ZQASThread>> copy = threads();
    for (auto it = copy.rbegin(); it != copy.rend(); ++it)
        (*it)->applicationWillTerminate();
}

std::vector<Ref<ZQASThread>> ZQASThreadManager::threads() {
    ThreadManager& m = threadManager();
    std::lock_guard<std::mutex> g(m.lock);
    std::vector<Ref<ZQASThread>> out;
    for (auto& [id, t] : m.threads)
        out.push_back(t);
    return out;
}
