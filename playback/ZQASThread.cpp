#include "playback/ZQASThread.h"

#include "platform/base/Format.h"
#include "playback/OutputStream.h"

#include <mutex>

using Guard = std::lock_guard<std::recursive_mutex>;
using platform::Ref;

std::string ZQASThread::initIdentifierString(double rate, ZQ::Num::Count channelCount) {
    return platform::format("ZQASThread:%qu|%qu",
                            static_cast<unsigned long long>(ZQ::AudioStream::OutputStream::keyFor(rate)),
                            channelCount.v_);
}

ZQASThread* ZQASThread::initWithSampleRate(double rate, ZQ::Num::Count channelCount) {
    auto* t = new ZQASThread;
    t->identifier_.setText(initIdentifierString(rate, channelCount));
    // The body holds the object while it runs (see start and main).
    t->thread_ = Ref<platform::Thread>::adopt(platform::Thread::create([t] { t->main(); }));
    t->thread_->setName(t->identifier_.utf8());
    t->obmgr_.observe([t](const platform::Notification&) { t->applicationWillTerminate(); },
                      kApplicationWillTerminateNotification);
    return t;
}

ZQASThread::~ZQASThread() {
    // A stream holds its thread, so none is left by the time the thread goes.
    obmgr_.remove();
}

void ZQASThread::setStream(ZQ::AudioStream::OutputStream* stream) {
    Guard g(monitor());
    outStream_ = stream;
}

ZQ::AudioStream::OutputStream* ZQASThread::stream() const {
    Guard g(monitor());
    return outStream_;
}

std::string ZQASThread::identifier() const {
    return identifier_.utf8();
}

bool ZQASThread::isCurrentThread() const {
    return platform::Thread::current() == thread_.get();
}

// Both without the monitor: the stream signals under its own lock, and the
// thread holds its monitor while it closes the stream.
void ZQASThread::start() {
    if (startHasBeenCalled_.exchange(true)) return;
    retain(); // the running body's reference, released as it ends
    thread_->start();
}

void ZQASThread::signalHasBeenAdded() {
    start();
}

platform::RunLoop* ZQASThread::loop() const {
    std::unique_lock<std::mutex> g(loopMutex_);
    loopReady_.wait(g, [this] { return runLoop_ || finished_.load(); });
    return runLoop_.get();
}

void ZQASThread::main() {
    {
        std::lock_guard<std::mutex> g(loopMutex_);
        runLoop_ = Ref<platform::RunLoop>::retain(platform::RunLoop::current());
    }
    loopReady_.notify_all();
    platform::RunLoop* loop = runLoop_.get();
    ZQ::AudioStream::OutputStream* stream = this->stream();
    // The stream is set up without our monitor (it takes its own lock, which
    // others hold while they signal us).
    if (stream && !stream->isInitialized()) stream->initialise();
    bool run = true;
    {
        Guard g(monitor());
        if (!hasInitialized_.isSet()) {
            hasInitialized_.set();
            timer_ = loop->addTimer(0.1, 0.1, [this] { updateAudio(); });
        }
        if (!outStream_) run = false;
    }
    if (run) {
        while (!isCancelled())
            loop->runFor(0.25);
        Guard g(monitor());
        if (outStream_) performExit();
    }
    loop->removeTimer(timer_);
    loop->close(); // later requests run on their callers
    {
        std::lock_guard<std::mutex> g(loopMutex_);
        finished_.store(true);
    }
    loopReady_.notify_all();
    release(); // the body's reference
}

void ZQASThread::updateAudio() {
    if (isCancelled() && stream()) {
        performExit();
        return;
    }
    // Nothing else to keep up: the stream's own timer and source do the work.
}

void ZQASThread::cancel() {
    Ref<ZQASThread> keep = Ref<ZQASThread>::retain(this); // closing the stream may drop the last other reference
    cancelled_.store(true, std::memory_order_release);
    if (isCurrentThread()) {
        if (runLoop_) runLoop_->stop();
        performExit();
        return;
    }
    if (!startHasBeenCalled_.load() || finished_.load()) { // not running: nothing to wait for
        closeThread();
        return;
    }
    Ref<ZQASThread> self = Ref<ZQASThread>::retain(this);
    if (platform::RunLoop* l = loop())
        l->performAndWait([self] { self->cancel(); });
    else
        closeThread(); // already finished
}

void ZQASThread::performExit() {
    Ref<ZQASThread> keep = Ref<ZQASThread>::retain(this);
    if (isCurrentThread() || !startHasBeenCalled_.load() || finished_.load()) {
        Guard g(monitor());
        closeThread();
        return;
    }
    Ref<ZQASThread> self = Ref<ZQASThread>::retain(this);
    if (platform::RunLoop* l = loop())
        l->performAndWait([self] { self->performExit(); });
    else
        closeThread();
}

void ZQASThread::closeThread() {
    // The stream holds this thread: destroying it may drop the last reference.
    Ref<ZQASThread> keep = Ref<ZQASThread>::retain(this);
    Guard g(monitor());
    ZQ::AudioStream::OutputStream* stream = outStream_;
    if (!stream) return;
    stream->close(this); // stops and disposes only on this thread
    outStream_ = nullptr;
    if (stream->hasFailed()) {
        ZQ::AudioStream::OutputStream::retire(stream); // a source may still be on its way to it
        return;
    }
    ZQ::auto_ptr<ZQ::AudioStream::OutputStream> destroy(stream); // unregisters and deletes
}

void ZQASThread::readHasCompleted() {
    if (isCancelled()) {
        Guard g(monitor());
        performExit();
    }
}

void ZQASThread::applicationWillTerminate() {
    cancel();
}

bool ZQASThread::shouldTerminate() const {
    Guard g(monitor());
    return outStream_ == nullptr;
}

void ZQASThread::waitUntilFinished() {
    if (!startHasBeenCalled_.load() || isCurrentThread()) return;
    thread_->waitUntilFinished();
}
