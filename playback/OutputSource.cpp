#include "playback/OutputSource.h"

#include "playback/ZQAudioStreamOutputStreamController.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace ZQ::AudioStream {

namespace {
// Until someone says otherwise, sources connect through the output stream
// controller.
std::atomic<bool> gProviderSet{false};
std::atomic<StreamProvider*> gProvider{nullptr};
} // namespace

void setStreamProvider(StreamProvider* provider) {
    gProvider.store(provider);
    gProviderSet.store(true);
}
StreamProvider* streamProvider() {
    return gProviderSet.load() ? gProvider.load() : &outputStreamControllerProvider();
}

void ReadPosition::resetUnbounded() {
    maxSamplesToRead_ = Num::Count(0ull);
    currentReadPosition_ = Num::Count(0ull);
    isDoneReading_ = false;
    isInfinite_ = true;
    normalise();
}

void ReadPosition::markDone() {
    isDoneReading_ = true;
    normalise();
}

void ReadPosition::normalise() {
    if (isInfinite_ && currentReadPosition_.v_ >= ~std::uint64_t{0}) {
        isDoneReading_ = true;
        std::printf("Buffer overrun: %llu / %llu\n", currentReadPosition_.v_, static_cast<unsigned long long>(limit()));
    }
    if (!isInfinite_ && maxSamplesToRead_.v_ == 0 && !isDoneReading_) isDoneReading_ = true;
    if (!isDoneReading_ && remaining() == 0) isDoneReading_ = true;
}

std::uint64_t ReadPosition::remaining() {
    if (isDoneReading_ && !isInfinite_) {
        currentReadPosition_ = maxSamplesToRead_;
        isDoneReading_ = true;
        return 0;
    }
    const std::uint64_t lim = limit();
    if (lim <= currentReadPosition_.v_) {
        currentReadPosition_ = Num::Count(lim);
        isDoneReading_ = true;
        return 0;
    }
    return lim - currentReadPosition_.v_;
}

void ReadPosition::advance(std::uint64_t n) {
    normalise();
    const std::uint64_t r = remaining();
    if (n > r) {
        currentReadPosition_ = Num::Count(limit());
        isDoneReading_ = true;
    } else {
        currentReadPosition_.v_ += n;
        if (currentReadPosition_.v_ > limit()) {
            currentReadPosition_ = Num::Count(limit());
            isDoneReading_ = true;
        } else if (remaining() == 0) {
            isDoneReading_ = true;
        }
    }
    normalise();
}

bool& ReadPosition::isDone() {
    normalise();
    if (remaining() == 0) isDoneReading_ = true;
    return isDoneReading_;
}

OutputSource::OutputSource(const sample_rate& rate, Num::Count channelCount)
    : sampleRate_(rate), channelCount_(channelCount) {
    sampleRate_.isForceRefresh_ = false;
    readPosition_.resetUnbounded();
}

OutputSource::~OutputSource() {
    disconnect();
}

void OutputSource::noteRendered(std::uint64_t streamFrame, std::uint64_t from, std::uint64_t to, std::uint64_t frames) {
    // A new stretch of producing starts a new record: what an earlier play
    // carried is not what this one is heard at. So does a jump (a click, a
    // locate): the place jumped to is shown at once, not the sound before it.
    const std::size_t n = checkpoints_.size();
    if (frames == 0 || (checkpointCount_ > 0 && checkpoints_[(checkpointNext_ + n - 1) % n].to != from)) {
        checkpointCount_ = 0;
        if (frames == 0) return;
    }
    checkpoints_[checkpointNext_] = {streamFrame, from, to, frames};
    checkpointNext_ = (checkpointNext_ + 1) % checkpoints_.size();
    checkpointCount_ = std::min(checkpointCount_ + 1, checkpoints_.size());
}

std::uint64_t OutputSource::heardPosition() const {
    const std::uint64_t at = readPosition_.currentReadPosition_.v_;
    SourceHost* s = stream_.load();
    std::uint64_t heard = 0;
    const std::size_t n = checkpoints_.size();
    if (!isProducing_ || checkpointCount_ == 0 || checkpoints_[(checkpointNext_ + n - 1) % n].to != at || !s ||
        !s->streamFramesHeard(heard))
        return at; // not playing, or it jumped since the last render
    // The newest render whose first frame has been heard; before the first
    // one is, where the play began.
    const Checkpoint* found = nullptr;
    for (std::size_t k = 1; k <= checkpointCount_; ++k) {
        const Checkpoint& c = checkpoints_[(checkpointNext_ + n - k) % n];
        found = &c;
        if (c.streamFrame <= heard) break;
    }
    const Checkpoint& c = *found;
    if (heard < c.streamFrame) return c.from;
    const std::uint64_t into = std::min(heard - c.streamFrame, c.frames);
    if (c.to >= c.from) return c.from + std::min(into, c.to - c.from);
    // A loop went back within the render (a buffer is short: the half
    // nearer the frame tells which side of the turn it is on).
    const std::uint64_t back = c.frames - into;
    return into < c.frames / 2 ? c.from + into : (c.to >= back ? c.to - back : 0);
}

Num::Count OutputSource::render(double*, Num::Count requested) {
    return requested;
}
Num::Count OutputSource::renderStereo(double* buffer, Num::Count requested) {
    return OutputSource::render(buffer, requested);
}

bool OutputSource::attach(SourceHost* stream, bool startProducing) {
    isFormatAccepted_ = false;
    if (!stream || stream_.load()) return false;
    sampleRate_.assign(stream->streamSampleRate());
    sampleRateDidChange();
    if (stream->streamChannelCount() != channelCount_) {
        channelCount_ = stream->streamChannelCount();
        channelCountDidChange();
    }
    stream_.store(stream);
    const bool ok = acceptsFormat();
    isFormatAccepted_ = ok;
    isProducing_ = ok && startProducing;
    // A refused source is not among the stream's sources: it must not keep
    // pointing at a stream that may end without telling it.
    if (!ok) stream_.store(nullptr);
    return ok;
}

std::int32_t OutputSource::connect(bool startProducing) {
    sync_guard mine(this);
    StreamProvider* provider = streamProvider();
    std::int32_t r = -1;
    // A stream whose output failed refuses; by then it has left the registry,
    // so asking again finds a fresh one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        SourceHost* stream = provider ? provider->getOutputStream(sampleRate_, channelCount_) : nullptr;
        if (!stream) return -1;
        sync_guard theirs(stream);
        r = stream->addSource(this, startProducing);
        if (r != SourceHost::kStreamHasFailed) break;
    }
    if (r != 0) {
        std::printf("Error adding source: %li\n", static_cast<long>(r));
        return -1;
    }
    return 0;
}

std::int32_t OutputSource::disconnect() {
    sync_guard mine(this);
    SourceHost* stream = stream_.load();
    if (!stream) {
        readPosition_.markDone();
        return 0;
    }
    std::int32_t r;
    {
        sync_guard theirs(stream);
        readPosition_.markDone();
        r = stream->removeSource(this);
    }
    if (r != 0) {
        std::printf("error encountered. result: %lli :: Source: %s Line: %i Function: %s\n", static_cast<long long>(r),
                    "", 78, "");
        std::printf("Unable to remove source\n");
    }
    stream_.store(nullptr);
    return r;
}

} // namespace ZQ::AudioStream
