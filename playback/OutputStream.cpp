#include "playback/OutputStream.h"

#include "platform/base/AudioTypes.h"
#include "playback/ZQASThread.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace ZQ::AudioStream {

namespace audio = platform::audio;

void reportStreamError(std::int32_t status, int line, const char* message) {
    std::printf("error encountered. result: %lli :: Source: %s Line: %i Function: %s\n", static_cast<long long>(status),
                "", line, "");
    std::printf("%s\n", message);
}

namespace {

struct RegistryEntry {
    std::uint64_t key = 0;
    Num::Count channels;
    OutputStream* stream = nullptr;
};

struct Registry {
    std::mutex lock;
    std::vector<RegistryEntry*> entries; // from the tracking allocator
    // Streams whose output failed, closed and kept until termination: a
    // source may still be on its way to one (it then finds it refusing).
    // A lock of its own: a stream is retired by its thread under the
    // thread's monitor, which the registry's lock comes before.
    std::mutex retiredLock;
    std::vector<OutputStream*> retired;
};
Registry& registry() {
    static Registry* r = new Registry; // lives for the whole process
    return *r;
}

constexpr double kMasterVolume = 1.0;

} // namespace

std::uint64_t OutputStream::keyFor(double rate) {
    if (!(rate >= platform::audio::kLowestPlaybackRate && rate <= platform::audio::kHighestPlaybackRate)) return 0;
    return static_cast<std::uint64_t>(rate * 10000.0 + 0.5);
}

OutputStream* OutputStream::findOrCreate(double rate, Num::Count channels) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    const std::uint64_t key = keyFor(rate);
    if (key == 0) {
        std::printf("Invalid sample rate: %f\n", rate);
        return nullptr;
    }
    for (RegistryEntry* e : r.entries)
        if (e->key == key && e->channels == channels) return e->stream;
    platform::Ref<ZQASThread> thread = platform::Ref<ZQASThread>::adopt(ZQASThread::initWithSampleRate(rate, channels));
    OutputStream* stream = auto_ptr<OutputStream>::create(thread.get(), rate, channels);
    if (!stream) return nullptr;
    const double keyedRate = static_cast<double>(key) / 10000.0;
    if (keyedRate >= platform::audio::kLowestPlaybackRate && keyedRate <= platform::audio::kHighestPlaybackRate &&
        (channels.v_ == 1 || channels.v_ == 2)) {
        if (RegistryEntry* e = auto_ptr<RegistryEntry>::create()) {
            e->key = key;
            e->channels = channels;
            e->stream = stream;
            r.entries.push_back(e);
        }
    }
    return stream;
}

void OutputStream::releaseRegistry() {
    Registry& r = registry();
    std::vector<RegistryEntry*> entries;
    {
        std::lock_guard<std::mutex> g(r.lock);
        entries.swap(r.entries);
    }
    for (RegistryEntry* e : entries)
        auto_ptr<RegistryEntry> release(e);
    std::vector<OutputStream*> retired;
    {
        std::lock_guard<std::mutex> g(r.retiredLock);
        retired.swap(r.retired);
    }
    for (OutputStream* s : retired)
        auto_ptr<OutputStream> destroy(s);
}

void OutputStream::retire(OutputStream* stream) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.retiredLock);
    r.retired.push_back(stream);
}

std::size_t OutputStream::registrySize() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    return r.entries.size();
}

OutputStream::OutputStream(ZQASThread* thread, double rate, Num::Count channels)
    : thread_(kOCRetain), bufferData_(channels.v_), rate_(rate), channels_(channels) {
    thread_ = thread;
    if (channels.v_ == 1 || channels.v_ == 2) {
        const auto c = static_cast<std::uint32_t>(channels.v_);
        format_.mSampleRate = rate;
        format_.mFormatID = audio::kAudioFormatLinearPCM;
        format_.mFormatFlags = 17; // float, aligned high
        format_.mBytesPerPacket = 4 * c;
        format_.mFramesPerPacket = 1;
        format_.mBytesPerFrame = 4 * c;
        format_.mChannelsPerFrame = c;
        format_.mBitsPerChannel = 32;
    }
    sources_.reserve(1024);
    mix_.assign(static_cast<std::size_t>(channels.v_) * 4096, 0.0);
    queueState_.audioStreamReadPosition_.resetUnbounded();
    if (thread) thread->setStream(this);
}

OutputStream::~OutputStream() {
    if (queueObject_) queueObject_->dispose(true);
}

std::int32_t OutputStream::registerListeners() {
    audio::AudioQueue* q = queueObject_.get();
    if (!q) {
        reportStreamError(1, 301, "Invalid AudioQueueRef");
        return 1;
    }
    std::int32_t result = 0;
    auto add = [&](auto& record, int line) {
        if (record.audioQueueRef_)
            record.audioQueueRef_->removePropertyListener(record.rcv_pid_, &propertyCallback, &record);
        record.audioQueueRef_ = q;
        const std::int32_t r = q->addPropertyListener(record.rcv_pid_, &propertyCallback, &record);
        if (r != 0) {
            reportStreamError(r, line, "Unable to set listener");
            result = r;
        }
    };
    add(listenerState_.isRunning, 305);
    add(listenerState_.deviceSampleRate, 309);
    add(listenerState_.deviceNumberChannels, 313);
    add(listenerState_.currentDevice, 317);
    add(listenerState_.magicCookie, 321);
    propertyCallback(&listenerState_.isRunning, q, listenerState_.isRunning.rcv_pid_);
    propertyCallback(&listenerState_.deviceSampleRate, q, listenerState_.deviceSampleRate.rcv_pid_);
    propertyCallback(&listenerState_.deviceNumberChannels, q, listenerState_.deviceNumberChannels.rcv_pid_);
    propertyCallback(&listenerState_.currentDevice, q, listenerState_.currentDevice.rcv_pid_);
    propertyCallback(&listenerState_.magicCookie, q, listenerState_.magicCookie.rcv_pid_);
    return result;
}

std::int32_t OutputStream::removeListeners() {
    audio::AudioQueue* q = queueObject_.get();
    if (!q) {
        std::printf("Invalid AudioQueueRef\n");
        return 1;
    }
    std::int32_t result = 0;
    auto remove = [&](auto& record) {
        if (!record.audioQueueRef_) return;
        const std::int32_t r =
            record.audioQueueRef_->removePropertyListener(record.rcv_pid_, &propertyCallback, &record);
        if (r != 0) {
            std::printf("Error removing listener for AudioQueue events\n");
            result = r;
        }
        record.audioQueueRef_ = nullptr;
    };
    remove(listenerState_.isRunning);
    remove(listenerState_.deviceSampleRate);
    remove(listenerState_.deviceNumberChannels);
    remove(listenerState_.currentDevice);
    remove(listenerState_.magicCookie);
    return result;
}

void OutputStream::propertyCallback(void* user, audio::AudioQueue* queue, std::uint32_t id) {
    if (id == 0 || !user || !queue) return;
    // Every record starts with its z_ base; the id tells which kind it is.
    auto read = [&](auto* record) {
        if (id != record->rcv_pid_) return;
        std::uint32_t size = sizeof record->o_.value_;
        const std::int32_t r = queue->getProperty(id, &record->o_.value_, &size);
        if (r != 0) reportStreamError(r, 179, "");
    };
    switch (id) {
    case audio::kAudioQueueProperty_IsRunning:
    case audio::kAudioQueueDeviceProperty_NumberChannels:
        read(static_cast<QueueProperty<std::uint32_t>*>(user));
        break;
    case audio::kAudioQueueDeviceProperty_SampleRate:
        read(static_cast<QueueProperty<double>*>(user));
        break;
    case audio::kAudioQueueProperty_CurrentDevice:
    case audio::kAudioQueueProperty_MagicCookie:
        read(static_cast<QueueProperty<const void*>*>(user));
        break;
    default:
        break;
    }
}

std::int32_t OutputStream::initialise() {
    const std::int32_t r = initialiseQueue();
    initialiseResult_.store(r);
    // No output to be had: the sources hear why, and the next Play tries anew.
    if (r != 0) deviceDidFail(audio::AudioQueue::lastError(), true);
    return r;
}

void OutputStream::checkDevice() {
    std::string reason;
    {
        sync_guard g(this);
        audio::AudioQueue* q = queueObject_.get();
        if (!q || isClosing_.isSet() || hasFailed_) return;
        if (pendingFailure_.empty() && q->deviceIsAlive(reason)) return;
        if (!pendingFailure_.empty()) reason = pendingFailure_;
    }
    deviceDidFail(reason, false);
}

void OutputStream::deviceDidFail(const std::string& reason, bool unavailable) {
    removeFromRegistry(this); // the next request makes a fresh stream
    std::vector<std::function<void()>> notices;
    {
        sync_guard g(this);
        if (hasFailed_) return;
        hasFailed_ = true;
        if (queueObject_) queueObject_->stop(true);
        // Every source is let go with its position kept; those that were
        // playing say so to their owners once the lock is free.
        for (OutputSource* s : sources_) {
            if (!s) continue;
            if (auto notice = s->outputFailureNotice(reason, unavailable)) notices.push_back(std::move(notice));
            s->detachKeepingPosition(reason);
        }
        sources_.clear();
    }
    for (auto& n : notices)
        n();
    // The thread closes this stream once the current turn of its loop is
    // over; the stream itself is kept until termination (see retire).
    platform::Ref<ZQASThread> thread;
    platform::Ref<platform::RunLoop> loop;
    {
        sync_guard g(this);
        thread = platform::Ref<ZQASThread>::retain(thread_.get());
        loop = runLoop_;
    }
    if (thread && loop) loop->perform([thread] { thread->cancel(); });
}

void OutputStream::removeFromRegistry(OutputStream* stream) {
    Registry& r = registry();
    RegistryEntry* gone = nullptr;
    {
        std::lock_guard<std::mutex> g(r.lock);
        auto it =
            std::find_if(r.entries.begin(), r.entries.end(), [&](RegistryEntry* e) { return e->stream == stream; });
        if (it == r.entries.end()) return;
        gone = *it;
        r.entries.erase(it);
    }
    auto_ptr<RegistryEntry> release(gone);
}

std::int32_t OutputStream::initialiseQueue() {
    sync_guard g(this);
    if (isInitialized_.isSet()) return 0;
    runLoop_ = platform::Ref<platform::RunLoop>::retain(platform::RunLoop::current());
    runLoopSource_ = std::make_shared<platform::RunLoopSource>([this] { wakeUp(); });

    audio::AudioQueue* q = nullptr;
    std::int32_t r = audio::AudioQueue::newOutput(format_, &fillCallback, this, runLoop_.get(), &q);
    if (r != 0) {
        reportStreamError(r, 499, "Unable to create output");
        return r;
    }
    queueObject_ = platform::Ref<audio::AudioQueue>::adopt(q);
    queueState_.audioQueue_ = q;

    struct {
        audio::AudioChannelLayoutHeader header;
        unsigned char padding[20];
    } layout{};
    layout.header.mChannelLayoutTag = channels_.v_ == 1 ? (100u << 16) | 1 : (101u << 16) | 2;
    r = q->setProperty(audio::kAudioQueueProperty_ChannelLayout, &layout, sizeof layout);
    if (r != 0) reportStreamError(r, 511, "Unable to set channel layout");

    // Buffers of about 10 ms: the ring ahead of the device is topped up in
    // small steps, so it stays nearly full without running far ahead.
    const auto tenth = static_cast<std::uint64_t>(format_.mSampleRate / 100.0);
    const std::uint64_t bufferFrames = std::clamp<std::uint64_t>((tenth + 31) / 32 * 32, 64, 4096);
    const std::uint64_t bytes = bufferFrames * 4 * channels_.v_;
    bufferData_.audioSampleAllocationCount_ = Num::Count(bytes);
    for (auto& b : bufferData_.buffers_) {
        r = q->allocateBuffer(static_cast<std::uint32_t>(bytes), &b);
        if (r != 0) {
            reportStreamError(r, 102, "Unable to allocate AudioQueueBuffer");
            reportStreamError(r, 515, "Unable to allocate audioQueue buffer");
            return r;
        }
    }
    std::fill(mix_.begin(), mix_.end(), 0.0);

    r = q->setParameter(audio::kAudioQueueParam_Volume, static_cast<float>(std::clamp(kMasterVolume, 0.0, 1.0)));
    if (r != 0) reportStreamError(r, 521, "Unable to set volume");

    if (registerListeners() != 0) reportStreamError(-1, 525, "Unable to register for AudioQueue callbacks");

    wakeTimer_ = runLoop_->addTimer(0.001, 0.1, [this] { wakeUp(); });
    isInitialized_.set();
    runLoop_->addSource(runLoopSource_);
    return 0;
}

void OutputStream::wakeUp() {
    if (!isStarted_.isSet()) start();
    {
        sync_guard g(this);
        if (!thread_.isEmpty()) queueState_.audioStreamReadPosition_.isDone();
    }
    showMediaName();
    resumeProducing();
    runDeferred();
    restWhenIdle();
    checkDevice();
}

void OutputStream::showMediaName() {
    std::string name;
    audio::AudioQueue* q;
    {
        sync_guard g(this);
        q = queueObject_.get();
        if (!q || pendingMediaName_.empty()) return;
        name.swap(pendingMediaName_);
    }
    q->setMediaName(name);
}

bool OutputStream::streamFramesHeard(std::uint64_t& frames) const {
    audio::AudioQueue* q = queueObject_.get();
    if (!q) return false;
    frames = q->framesHeard();
    return true;
}

bool OutputStream::anySourceProducing() const {
    for (OutputSource* s : sources_)
        if (s && s->isFormatAccepted() && s->stream() && (s->isProducing() || s->hasFadeTail())) return true;
    return false;
}

void OutputStream::resumeProducing() {
    std::vector<audio::AudioQueueBuffer*> buffers;
    audio::AudioQueue* q;
    {
        sync_guard g(this);
        q = queueObject_.get();
        if (!q || !isStarted_.isSet() || isClosing_.isSet() || parked_.empty() || !anySourceProducing()) return;
        buffers.swap(parked_);
    }
    // Each buffer is filled from the sources now (a buffer nobody fills is
    // parked again), then the queue moves them into its ring before the
    // device starts: the first frames are there at once.
    for (audio::AudioQueueBuffer* b : buffers)
        fill(q, b);
    sync_guard g(this);
    if (parked_.size() < bufferData_.buffers_.size() && !q->isRunning()) {
        underrunsAtStart_ = q->underruns();
        // The start fills buffers under this lock: a source's end-of-file
        // Stop waits for wakeUp to run it once the lock is free.
        starting_ = true;
        const std::int32_t r = q->start();
        starting_ = false;
        if (r != 0) {
            reportStreamError(r, 761, "Unable to start queue");
            pendingFailure_ = "the audio device cannot start";
        }
    }
}

void OutputStream::restWhenIdle() {
    sync_guard g(this);
    audio::AudioQueue* q = queueObject_.get();
    if (!q || q->isRunning() || q->isResting()) {
        idleSince_ = -1;
        return;
    }
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    if (idleSince_ < 0) idleSince_ = now;
    if (now - idleSince_ >= kRestAfterSeconds) q->rest();
}

void OutputStream::sourceDidStartProducing(const std::string& mediaName) {
    // Under the stream lock (the source's command holds it): only a wake-up.
    if (!mediaName.empty()) pendingMediaName_ = mediaName;
    if (isInitialized_.isSet() && runLoop_ && runLoopSource_) {
        runLoopSource_->signal();
        runLoop_->wakeUp();
    }
}

void OutputStream::deferUntilUnlocked(std::function<void()> work) {
    sync_guard g(this);
    deferred_.push_back(std::move(work));
}

void OutputStream::runDeferred() {
    std::vector<std::function<void()>> work;
    {
        sync_guard g(this);
        work.swap(deferred_);
    }
    for (auto& w : work)
        w();
}

std::int32_t OutputStream::start() {
    sync_guard g(this);
    if (isStarted_.isSet()) return -1;
    if (!hasSources_) return 0;
    if (!isInitialized_.isSet()) {
        std::printf("Stream has not been initialized: %p\n", static_cast<void*>(this));
        return -1;
    }
    if (!runLoop_ || !runLoop_->isCurrent()) {
        std::printf("In wrong run loop");
        return 0;
    }
    for (audio::AudioQueueBuffer* b : bufferData_.buffers_) {
        if (!b) {
            reportStreamError(-1, 754, "Error writing initial data to audioQueue buffers");
            return -1;
        }
        fill(queueObject_.get(), b);
    }
    queueState_.audioStreamReadPosition_.resetUnbounded();
    isStarted_.set();
    // With nothing to play yet the queue waits for the first Play.
    if (parked_.size() == bufferData_.buffers_.size()) return 0;
    starting_ = true;
    underrunsAtStart_ = queueObject_->underruns();
    const std::int32_t r = queueObject_->start();
    starting_ = false;
    if (r != 0) {
        reportStreamError(r, 761, "Unable to start queue");
        pendingFailure_ = "the audio device cannot start";
        return r;
    }
    return 0;
}

void OutputStream::fillCallback(void* user, audio::AudioQueue* queue, audio::AudioQueueBuffer* buffer) {
    if (!user || !queue || !buffer) return;
    auto* stream = static_cast<OutputStream*>(user);
    stream->fill(queue, buffer);
    // A source's end-of-file Stop, now that the lock is free (while priming,
    // start still holds it: its caller runs them afterwards).
    bool starting;
    {
        sync_guard g(stream);
        starting = stream->starting_;
    }
    if (!starting) stream->runDeferred();
}

void OutputStream::fill(audio::AudioQueue* queue, audio::AudioQueueBuffer* buffer) {
    sync_guard g(this);
    std::fill(mix_.begin(), mix_.end(), 0.0);
    ReadPosition& played = queueState_.audioStreamReadPosition_;
    const std::uint64_t n = played.remaining();
    if (n == 0 || isClosing_.isSet()) {
        stop(false);
        return;
    }
    const std::uint64_t capacity = buffer->mAudioDataBytesCapacity / 4;
    const std::uint64_t count = std::min<std::uint64_t>({n, capacity, mix_.size(), 16777216 / 4});
    std::uint64_t written = 0;
    const std::uint64_t frames = count / channels_.v_;
    for (OutputSource* s : sources_) {
        if (!s) continue;
        if (!s->isFormatAccepted()) s->setProducing(false);
        if (s->isProducing() && (!s->stream() || s->readPosition().isDone())) s->setProducing(false);
        const bool producing = s->isProducing() && s->stream() && !s->readPosition().isDone();
        const std::uint64_t from = s->readPosition().currentReadPosition_.v_;
        if (producing || (s->stream() && s->hasFadeTail()))
            written = std::max<std::uint64_t>(written, s->render(mix_.data(), Num::Count(count)).v_);
        // Which of the stream's frames carry which of the source's, for the
        // position that is heard.
        s->noteRendered(enqueuedFrames_, from, s->readPosition().currentReadPosition_.v_, producing ? frames : 0);
        s->readPosition().isDone();
    }
    if (written == 0 && !anySourceProducing()) {
        // Nothing plays: the buffer waits for the next Play instead of
        // carrying silence, so that the ring ahead of the device holds no
        // silence that a Play would have to wait behind. Once every buffer
        // waits, the queue plays out what it has and stops (not counted as
        // running dry), and the device rests a little later.
        parked_.push_back(buffer);
        if (parked_.size() == bufferData_.buffers_.size()) {
            queue->stop(false);
            // Once per play, not on every tick: how often the device ran short.
            const std::uint64_t shortfalls = queue->underruns() - underrunsAtStart_;
            if (shortfalls > 0)
                std::fprintf(stderr, "Audio output: the device ran short of sound %llu time%s while playing\n",
                             static_cast<unsigned long long>(shortfalls), shortfalls == 1 ? "" : "s");
            underrunsAtStart_ = queue->underruns();
        }
        return;
    }
    // What plays is `count` samples: the mix first and silence after it.
    auto* out = static_cast<float*>(buffer->mAudioData);
    for (std::uint64_t k = 0; k < written; ++k)
        out[k] = static_cast<float>(mix_[k]);
    std::fill(out + written, out + count, 0.0f);
    std::fill(mix_.begin(), mix_.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(written, mix_.size())),
              0.0);
    buffer->mAudioDataByteSize = static_cast<std::uint32_t>(4 * count);
    const std::int32_t r = queue->enqueueBuffer(buffer);
    if (r != 0) {
        reportStreamError(r, 243, "Unable to add audio buffer to queue");
        return;
    }
    enqueuedFrames_ += frames;
    played.advance(written);
}

std::int32_t OutputStream::addSource(OutputSource* source, bool startProducing) {
    sync_guard g(this);
    if (!source) return -1;
    if (hasFailed_) return kStreamHasFailed;
    if (!source->attach(this, startProducing)) {
        std::printf("Error setting self as output stream\n");
        return -1;
    }
    sources_.push_back(source);
    signal(true);
    if (isInitialized_.isSet() && runLoop_ && runLoop_->isWaiting()) {
        runLoopSource_->signal();
        runLoop_->wakeUp();
    }
    return 0;
}

std::int32_t OutputStream::removeSource(OutputSource* source) {
    sync_guard g(this);
    if (!source) return -1;
    if (source->stream() != this) {
        std::printf("Error setting self as output stream\n");
        return -1;
    }
    auto it = std::find(sources_.begin(), sources_.end(), source);
    if (it == sources_.end()) {
        std::printf("Error locating output source\n");
        return -1;
    }
    *it = nullptr;
    source->detachFromStream();
    return 0;
}

void OutputStream::removeAllSources() {
    sync_guard g(this);
    if (thread_.isEmpty()) return;
    // Each source is let go here, under the stream lock alone: taking a
    // source's lock under the stream's would invert the connect order.
    while (!sources_.empty()) {
        OutputSource* last = sources_.back();
        sources_.pop_back();
        if (last) last->detachFromStream();
    }
}

void OutputStream::signal(bool hasSources) {
    sync_guard g(this);
    hasSources_ = hasSources;
    if (hasSources && hasSignalled_.set())
        if (ZQASThread* t = thread_.get()) t->signalHasBeenAdded();
}

void OutputStream::stop(bool immediate) {
    sync_guard g(this);
    audio::AudioQueue* q = queueObject_.get();
    if (!q) return;
    std::int32_t r = q->flush();
    if (r != 0) {
        reportStreamError(r, 953, "Unable to flush the AudioQueue's remaining frames");
        return;
    }
    r = q->stop(immediate);
    signal(false);
    if (r != 0) {
        reportStreamError(r, 965, "Unable to stop audio playback");
        return;
    }
    queueState_.audioStreamReadPosition_.markDone();
    if (immediate && removeListeners() != 0) reportStreamError(-1, 975, "Unable to register for AudioQueue callbacks");
}

void OutputStream::close(ZQASThread* thread) {
    sync_guard g(this);
    if (isClosing_.isSet() || thread_.get() != thread || !thread || !thread->isCurrentThread()) return;
    isClosing_.set();
    stop(true);
    removeAllSources();
    if (audio::AudioQueue* q = queueObject_.get()) {
        const std::int32_t r = q->dispose(true);
        if (r != 0) reportStreamError(r, 927, "Unable to stop audio playback");
    }
    if (runLoop_) {
        if (wakeTimer_) runLoop_->removeTimer(wakeTimer_);
        if (runLoopSource_) runLoop_->removeSource(runLoopSource_);
    }
    thread_ = nullptr;
    if (runLoop_ && runLoop_->isCurrent()) {
        platform::Ref<platform::RunLoop> loop = runLoop_;
        runLoop_ = platform::Ref<platform::RunLoop>();
        loop->stop();
    }
}

std::uint64_t OutputStream::samplesPlayed() const {
    sync_guard g(this);
    return queueState_.audioStreamReadPosition_.currentReadPosition_.v_;
}

std::uint64_t OutputStream::underruns() const {
    sync_guard g(this);
    return queueObject_ ? queueObject_->underruns() : 0;
}

bool OutputStream::waitUntilPlayed(double timeoutSeconds) const {
    platform::Ref<audio::AudioQueue> q;
    std::uint64_t mark = 0;
    {
        sync_guard g(this);
        if (!isStarted_.isSet() || !queueObject_) return false;
        q = queueObject_;
        // What is in the ring now, and the buffers that may still wait to go in.
        const std::uint64_t bufferFrames = bufferData_.audioSampleAllocationCount_.v_ / (4 * channels_.v_);
        mark = q->framesWritten() + bufferData_.numAudioQueueBuffers_.v_ * bufferFrames;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    // Frames taken out of the ring (the device's count also has the silence
    // it played while the ring was empty).
    while (q->framesRead() < mark) {
        // A queue that stopped after playing out what it had is done too
        // (its buffers wait for the next Play instead of carrying silence).
        if (!q->isRunning()) {
            q->settleDevice();
            return q->framesRead() >= q->framesWritten();
        }
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    q->settleDevice();
    return true;
}

bool OutputStream::waitUntilAllPlayed(double timeoutSeconds) {
    std::vector<OutputStream*> streams;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        for (RegistryEntry* e : r.entries)
            streams.push_back(e->stream);
    }
    bool all = true;
    for (OutputStream* s : streams)
        if (s->isStarted() && !s->waitUntilPlayed(timeoutSeconds)) all = false;
    return all;
}

bool OutputStream::anyPlaying() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    for (RegistryEntry* e : r.entries) {
        sync_guard g(e->stream); // the queue is made on the stream's thread
        if (audio::AudioQueue* q = e->stream->audioQueue())
            if (q->isRunning()) return true;
    }
    return false;
}

void OutputStream::reopenIdleStreams() {
    std::vector<OutputStream*> idle;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        for (RegistryEntry* e : r.entries) {
            sync_guard g(e->stream);
            audio::AudioQueue* q = e->stream->audioQueue();
            if (!q || !q->isRunning()) idle.push_back(e->stream);
        }
    }
    for (OutputStream* s : idle) {
        platform::Ref<platform::RunLoop> loop;
        {
            sync_guard g(s);
            loop = s->runLoop_;
        }
        // Nothing plays on it: no source is told anything.
        if (loop) loop->perform([s] { s->deviceDidFail("another output device was chosen", false); });
    }
}

std::size_t OutputStream::sourceSlots() const {
    sync_guard g(this);
    return sources_.size();
}

} // namespace ZQ::AudioStream
