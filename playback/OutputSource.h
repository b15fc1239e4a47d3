// What an output stream asks for samples, and the play position it reads
// from. The stream calls render on its own thread under its lock; commands
// move the position under the source's lock.
#pragma once

#include "core/object.h"
#include "core/values.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace ZQ::AudioStream {

class OutputSource;

// A play position over a bounded (or unbounded) run of frames. A bounded
// position over N frames delivers frames current ... N-1; N is where reading
// ends.
struct ReadPosition {
    Num::Count maxSamplesToRead_{0ull};
    Num::Count currentReadPosition_{0ull};
    bool isDoneReading_ = false;
    bool isInfinite_ = false;

    std::uint64_t limit() const { return isInfinite_ ? ~std::uint64_t{0} : maxSamplesToRead_.v_; }
    void resetUnbounded();
    void normalise();
    std::uint64_t remaining();
    void advance(std::uint64_t n);
    // Normalises and marks done when nothing remains.
    bool& isDone();
    void markDone();
};

// What a source attaches to: an output stream (built over the audio output).
// Its lock is the stream's lock.
class SourceHost : public z_ {
public:
    // addSource's answer from a stream whose output has failed.
    static constexpr std::int32_t kStreamHasFailed = -2;
    virtual sample_rate streamSampleRate() const = 0;
    virtual Num::Count streamChannelCount() const = 0;
    // Attaches the source (calling its attach); 0 on success.
    virtual std::int32_t addSource(OutputSource* source, bool startProducing) = 0;
    // Detaches the source (calling its detachFromStream); 0 on success.
    virtual std::int32_t removeSource(OutputSource* source) = 0;
    // Called during a render: `work` runs on the rendering thread once the
    // stream's lock has been let go (what a source must not do under it).
    virtual void deferUntilUnlocked(std::function<void()> work) = 0;
    // Under the stream's lock: a source has begun to produce (Play, a
    // resume); the stream wakes to take its first frames at once, and shows
    // `mediaName` (when there is one) as what it plays.
    virtual void sourceDidStartProducing(const std::string& mediaName = {}) { (void)mediaName; }
    // Under the stream's lock: how many of the stream's frames have been
    // heard (false when the output cannot tell).
    virtual bool streamFramesHeard(std::uint64_t&) const { return false; }
};

// Finds (or makes) the stream for a rate and channel count.
class StreamProvider {
public:
    virtual SourceHost* getOutputStream(const sample_rate& rate, Num::Count channels) = 0;

protected:
    ~StreamProvider() = default;
};

// The process-wide provider the sources connect through: the output stream
// controller unless another one (or none: connect then fails silently) is set.
void setStreamProvider(StreamProvider* provider);
StreamProvider* streamProvider();

class OutputSource : public z_ {
public:
    OutputSource(const sample_rate& rate, Num::Count channelCount);
    ~OutputSource() override;

    // Adds up to `requested` interleaved samples into `buffer`; returns how
    // many were added.
    virtual Num::Count render(double* buffer, Num::Count requested);
    virtual Num::Count renderStereo(double* buffer, Num::Count requested);
    virtual void sampleRateDidChange() {}
    virtual void channelCountDidChange() {}
    virtual bool acceptsFormat() { return true; }
    // Still sounding after it stopped producing (a short fade that ends a
    // Stop, a Pause or a jump): the stream keeps asking it to render.
    virtual bool hasFadeTail() const { return false; }
    // Under the stream's lock, as the stream's output fails (or could not be
    // opened: `unavailable`) and lets the source go with its position kept:
    // what to tell the source's owner once the lock is free (empty: nothing).
    virtual std::function<void()> outputFailureNotice(const std::string&, bool) { return {}; }

    // Called by the stream's add operation, under the stream's lock.
    bool attach(SourceHost* stream, bool startProducing);
    // 0, or -1 when no stream could take the source.
    std::int32_t connect(bool startProducing);
    std::int32_t disconnect();

    // Called by the stream when it lets go of the source (under its lock):
    // the position is done and the source detached.
    void detachFromStream() {
        readPosition_.markDone();
        stream_.store(nullptr);
    }
    void detached() { stream_.store(nullptr); }
    // Called by a failing stream (under its lock): detached, not producing,
    // the position kept for the next Play, and why (for a Play that finds
    // no stream to play on).
    void detachKeepingPosition(const std::string& reason) {
        isProducing_ = false;
        lastFailure_ = reason;
        stream_.store(nullptr);
    }

    // Runs `f` with the play state held still: under the source's lock and,
    // while attached, the stream's (the stream renders under its own lock
    // only). Lock order: source, then stream, as connect.
    template <class F> auto withPlayState(F&& f) {
        sync_guard mine(this);
        SourceHost* s = stream_.load();
        if (s) {
            sync_guard theirs(s);
            return f();
        }
        return f();
    }

    SourceHost* stream() const { return stream_.load(); }
    ReadPosition& readPosition() { return readPosition_; }
    const sample_rate& sampleRate() const { return sampleRate_; }
    Num::Count channelCount() const { return channelCount_; }
    bool isProducing() const { return isProducing_; }
    // The stream silences a source that cannot (or can no longer) produce.
    void setProducing(bool producing) { isProducing_ = producing; }
    bool isFormatAccepted() const { return isFormatAccepted_; }

    // Under the stream's lock, after each render: the stream's frames from
    // `streamFrame` on, `frames` of them, carried this source's positions
    // `from` up to `to` (while it produced; otherwise `frames` is 0).
    void noteRendered(std::uint64_t streamFrame, std::uint64_t from, std::uint64_t to, std::uint64_t frames);
    // With the play state held: while producing, the position whose sound
    // is being heard (behind the read position by what the output still
    // holds); otherwise the read position.
    std::uint64_t heardPosition() const;

protected:
    // The play state (position, producing) belongs to the stream's lock while
    // the source is attached: the stream renders holding only that one.
    std::atomic<SourceHost*> stream_{nullptr};
    ReadPosition readPosition_;
    sample_rate sampleRate_;
    Num::Count channelCount_;
    bool isProducing_ = false;
    bool isFormatAccepted_ = false;
    std::string lastFailure_; // under the source's lock once detached

private:
    // What the last renders carried, newest last (under the stream's lock).
    struct Checkpoint {
        std::uint64_t streamFrame, from, to, frames;
    };
    std::array<Checkpoint, 128> checkpoints_{};
    std::size_t checkpointCount_ = 0;
    std::size_t checkpointNext_ = 0;
};

} // namespace ZQ::AudioStream
