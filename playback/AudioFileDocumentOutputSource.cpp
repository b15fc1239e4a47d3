#include "playback/AudioFileDocumentOutputSource.h"

#include "audiofile/AudioFileDocumentSampleData.h"
#include "platform/base/AudioTypes.h"
#include "playback/PlaybackDocument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ZQ {

namespace {

std::atomic<bool> gLoops{false};

// A mono document plays on a mono stream, every other one on a stereo stream.
unsigned streamChannelsFor(unsigned long long documentChannels) {
    return documentChannels == 1 ? 1u : 2u;
}

} // namespace

namespace {

bool validRate(double rate) {
    if (rate < platform::audio::kLowestPlaybackRate || rate > platform::audio::kHighestPlaybackRate) {
        std::printf("Invalid sample rate: %f\n", rate);
        return false;
    }
    return true;
}

void moveTo(AudioStream::ReadPosition& p, std::uint64_t position) {
    p.isDoneReading_ = false;
    p.currentReadPosition_ = Num::Count(position);
    p.normalise();
}

bool validChannels(unsigned long long channels) {
    if (channels < 1 || channels > kMaxMixChannels) {
        std::printf("Invalid channel count: %llu\n", channels);
        return false;
    }
    return true;
}

} // namespace

std::uint64_t AudioFileDocumentOutputSource::fadeFrames(double rate) {
    return rate > 0 ? std::max<std::uint64_t>(1, static_cast<std::uint64_t>(rate * 0.005 + 0.5)) : 1;
}

AudioFileDocumentOutputSource::AudioFileDocumentOutputSource(PlaybackDocument* document, const sample_rate& rate,
                                                             Num::Count documentChannels)
    : OutputSource(rate, Num::Count(static_cast<unsigned long long>(streamChannelsFor(documentChannels.v_)))),
      document_(document),
      documentChannels_(static_cast<unsigned>(std::min<unsigned long long>(documentChannels.v_, kMaxMixChannels))),
      audible_(documentChannels_, true), fadeLength_(fadeFrames(rate.s_.v_)), fadeInDone_(fadeLength_),
      meter_(rate.s_.v_) {
    readPosition_.isInfinite_ = false;
    readPosition_.currentReadPosition_ = Num::Count(0ull);
    readPosition_.normalise();
    std::uint64_t longest = 0;
    if (document_)
        for (std::uint64_t c = 0; c < documentChannels.v_; ++c)
            longest = std::max<std::uint64_t>(longest, document_->sampleCount(static_cast<std::int32_t>(c)).v_);
    readPosition_.maxSamplesToRead_ = Num::Count(longest);
    // A fresh position over the document: not done unless it is empty.
    readPosition_.isDoneReading_ = false;
    readPosition_.normalise();
    updateMix();
}

void AudioFileDocumentOutputSource::updateMix() {
    mix_ = makeChannelMix(documentChannels_, static_cast<unsigned>(channelCount_.v_), audible_,
                          document_ ? document_->speakerMask() : 0);
}

void AudioFileDocumentOutputSource::channelCountDidChange() {
    updateMix();
}

void AudioFileDocumentOutputSource::setAudibleChannels(const std::vector<bool>& audible) {
    audible_ = audible;
    audible_.resize(documentChannels_, true);
    updateMix();
}

void AudioFileDocumentOutputSource::silenceAtOnce() {
    tailLeft_ = 0;
    fadeInDone_ = fadeLength_;
    forgetReadAhead(); // the samples are about to change
}

const double* const* AudioFileDocumentOutputSource::framesAt(std::uint64_t from, std::uint64_t frames, bool tail,
                                                             std::uint64_t& available) {
    available = 0;
    AudioFileDocumentSampleData* data = document_->sampleData();
    if (!data || frames == 0) return nullptr;
    // Within what was read ahead, and a second or more beyond it still there.
    const std::uint64_t rate = std::max<std::uint64_t>(8000, static_cast<std::uint64_t>(sampleRate_.s_.v_));
    const bool held = from >= aheadFirst_ && from + frames <= aheadFirst_ + aheadFrames_;
    if (held && (tail || aheadFirst_ + aheadFrames_ >= std::min(aheadEnd_, from + frames + rate))) {
        for (unsigned c = 0; c < documentChannels_; ++c)
            aheadAt_[c] = ahead_[c].data() ? ahead_[c].data() + (from - aheadFirst_) : nullptr;
        available = frames;
        return aheadAt_.data();
    }
    const SampleSnapshot samples = data->samples();
    if (!samples || from >= samples->frameCount()) return nullptr;
    const unsigned channels = std::min(documentChannels_, samples->channelCount());
    // A fade tail away from the play position is read on its own, so that
    // the read-ahead stays where the play position is.
    std::array<SampleBuffer, kMaxMixChannels>& to = tail ? tailSamples_ : ahead_;
    const std::uint64_t want = tail ? frames : std::max(frames, 2 * rate); // two seconds: read again once one is left
    const std::uint64_t n = std::min(want, samples->frameCount() - from);
    aheadAt_.fill(nullptr);
    for (unsigned c = 0; c < channels; ++c) {
        // Grown when a longer stretch is needed, and kept for the next.
        if (to[c].count().v_ < n && !to[c].resize(Num::Count(n))) return nullptr;
        aheadAt_[c] = to[c].data();
    }
    samples->readFrames(from, n, aheadAt_.data());
    if (!tail) {
        aheadFirst_ = from;
        aheadFrames_ = n;
        aheadEnd_ = samples->frameCount();
        // The disk fetches what comes next while this plays.
        samples->willNeed(from + n, 2 * rate);
    }
    available = std::min(frames, n);
    return aheadAt_.data();
}

void AudioFileDocumentOutputSource::forgetReadAhead() {
    aheadFirst_ = aheadFrames_ = 0;
}

template <class Gain>
void AudioFileDocumentOutputSource::mixFrames(double* buffer, unsigned outputs, std::uint64_t from,
                                              std::uint64_t frames, Gain gain, MeterSums* sums, bool tail) {
    if (frames == 0) return;
    std::uint64_t have = 0;
    const double* const* read = framesAt(from, frames, tail, have);
    if (!read) return;
    const unsigned inputs = std::min(documentChannels_, mix_.inputs);
    const unsigned outs = std::min({outputs, mix_.outputs, 2u});
    // Per output, the channels it hears (in order) with their gains, and
    // how many of the frames each still has: past the document's end the
    // frames read as silence.
    const double* source[2][kMaxMixChannels];
    double weight[2][kMaxMixChannels];
    std::uint64_t has[2][kMaxMixChannels];
    unsigned heard[2] = {0, 0};
    std::uint64_t whole = frames; // frames in which every heard channel has a sample
    for (unsigned c = 0; c < inputs; ++c) {
        const std::uint64_t n = read[c] ? have : 0;
        for (unsigned o = 0; o < outs; ++o) {
            const double g = mix_.gain[o][c];
            if (g == 0.0 || n == 0) continue;
            source[o][heard[o]] = read[c];
            weight[o][heard[o]] = g;
            has[o][heard[o]] = n;
            ++heard[o];
            whole = std::min(whole, n);
        }
    }
    // Frame by frame: each output's sum goes into the mix once, and is
    // metered in the same pass.
    auto frame = [&](std::uint64_t k, bool checked) {
        for (unsigned o = 0; o < outs; ++o) {
            double v = 0;
            for (unsigned i = 0; i < heard[o]; ++i)
                if (!checked || k < has[o][i]) v += weight[o][i] * source[o][i][k];
            v *= gain(k);
            buffer[o + k * outputs] += v;
            if (sums) {
                sums->squares[o] += v * v;
                sums->peaks[o] = std::max(sums->peaks[o], std::fabs(v));
            }
        }
    };
    for (std::uint64_t k = 0; k < whole; ++k)
        frame(k, false);
    for (std::uint64_t k = whole; k < frames; ++k)
        frame(k, true);
}

Num::Count AudioFileDocumentOutputSource::renderInto(double* buffer, Num::Count requested, unsigned outputs) {
    if (!document_) return Num::Count(0ull);
    AudioStream::SourceHost* host = stream_.load();
    if (!host || outputs == 0 || outputs > 2 || !buffer || requested.v_ == 0 || !document_->sampleData())
        return Num::Count(0ull);
    const std::uint64_t wanted = requested.v_ / outputs;
    std::uint64_t done = 0;
    while (done < wanted) {
        double* to = buffer + done * outputs;
        std::uint64_t block = 0, n = 0;
        if (tailLeft_ == 0) {
            // The usual case: mixed straight into the stream's buffer and
            // metered on the way, a meter step at a time.
            MeterSums sums;
            block = std::min(wanted - done, meter_.framesToStepEnd());
            n = renderBlock(to, block, outputs, host, &sums);
            meter_.add(sums.squares, sums.peaks, outputs, n);
        } else {
            // A fade tail sounds over the new sound: the two are summed on
            // their own first, so that the meters read what goes out.
            block = std::min(wanted - done, kBlockFrames);
            std::fill_n(scratch_.data(), block * outputs, 0.0);
            n = renderBlock(scratch_.data(), block, outputs, host, nullptr);
            meter_.measure(scratch_.data(), outputs, n, to);
        }
        done += n;
        if (n < block) break; // nothing more to come in this render
    }
    return Num::Count(outputs * done);
}

std::uint64_t AudioFileDocumentOutputSource::playRangeEnd() const {
    return std::min<std::uint64_t>(rangeEnd_, readPosition_.maxSamplesToRead_.v_);
}

std::uint64_t AudioFileDocumentOutputSource::renderBlock(double* out, std::uint64_t wanted, unsigned outputs,
                                                         AudioStream::SourceHost* host, MeterSums* sums) {
    const auto F = static_cast<double>(fadeLength_);
    std::uint64_t frames = 0;
    if (isProducing_ && !readPosition_.isDone()) {
        while (frames < wanted) {
            const std::uint64_t current = readPosition_.currentReadPosition_.v_;
            const std::uint64_t end = playRangeEnd();
            const std::uint64_t n = current < end ? std::min(wanted - frames, end - current) : 0;
            double* at = out + frames * outputs;
            if (fadeInDone_ >= fadeLength_) {
                mixFrames(
                    at, outputs, current, n, [](std::uint64_t) { return 1.0; }, sums);
            } else {
                const std::uint64_t faded = fadeInDone_;
                mixFrames(
                    at, outputs, current, n,
                    [&](std::uint64_t k) { return std::min(1.0, static_cast<double>(faded + k + 1) / F); }, sums);
                fadeInDone_ = std::min(fadeLength_, faded + n);
            }
            readPosition_.advance(n);
            frames += n;
            if (current + n < end) break; // the block is full
            // The range has played. Looping, its first frame follows its last
            // directly, in this same block.
            if (gLoops.load(std::memory_order_relaxed) && loopFirst_ < end) {
                moveTo(readPosition_, loopFirst_);
                passes_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            finishPass(host);
            break;
        }
    }
    if (tailLeft_ > 0) {
        // The sound that was playing, going down to silence over the fade.
        const std::uint64_t end = readPosition_.maxSamplesToRead_.v_;
        const std::uint64_t n = tailFrom_ >= end ? 0 : std::min({wanted, tailLeft_, end - tailFrom_});
        const std::uint64_t left = tailLeft_;
        const double from = tailGain_;
        mixFrames(
            out, outputs, tailFrom_, n, [&](std::uint64_t k) { return from * static_cast<double>(left - 1 - k) / F; },
            sums, true);
        tailFrom_ += n;
        tailLeft_ = n == 0 ? 0 : tailLeft_ - n;
        frames = std::max(frames, n);
    }
    return frames;
}

void AudioFileDocumentOutputSource::finishPass(AudioStream::SourceHost* host) {
    isProducing_ = false;
    meter_.setActive(false);
    // A selection that has played leaves the position where it began; the
    // whole file leaves it at the end.
    if (returns_) moveTo(readPosition_, startFrame_);
    // The Stop goes through the transport, whose locks come before the
    // stream's: it is sent once the stream has let go of its lock.
    platform::Ref<PlaybackDocument> document = platform::Ref<PlaybackDocument>::retain(document_);
    host->deferUntilUnlocked([document] { document->perform_Stop(nullptr); });
}

void AudioFileDocumentOutputSource::setLoopsEverywhere(bool loops) {
    gLoops.store(loops, std::memory_order_relaxed);
}

bool AudioFileDocumentOutputSource::loopsEverywhere() {
    return gLoops.load(std::memory_order_relaxed);
}

Num::Count AudioFileDocumentOutputSource::render(double* buffer, Num::Count requested) {
    return renderInto(buffer, requested, static_cast<unsigned>(channelCount_.v_));
}

Num::Count AudioFileDocumentOutputSource::renderStereo(double* buffer, Num::Count requested) {
    return renderInto(buffer, requested, 2);
}

void AudioFileDocumentOutputSource::beginFadeOut() {
    // Only sound that is on its way to the device needs a fade.
    if (!isProducing_ || !isFormatAccepted_ || !stream_.load() || readPosition_.isDone()) return;
    tailFrom_ = readPosition_.currentReadPosition_.v_;
    tailLeft_ = fadeLength_;
    // From where a fade-in had got to, so the level never jumps up.
    tailGain_ = std::min(1.0, static_cast<double>(fadeInDone_) / static_cast<double>(fadeLength_));
}

void AudioFileDocumentOutputSource::beginFadeIn() {
    // From the very start the file's own first sample is what plays.
    fadeInDone_ = readPosition_.currentReadPosition_.v_ == 0 ? fadeLength_ : 0;
}

std::function<void()> AudioFileDocumentOutputSource::outputFailureNotice(const std::string& reason, bool unavailable) {
    tailLeft_ = 0;
    meter_.setActive(false);
    // Only a document that was playing (or was asked to) hears about it.
    if (!isProducing_ || !document_) return {};
    platform::Ref<PlaybackDocument> document = platform::Ref<PlaybackDocument>::retain(document_);
    return [document, reason, unavailable] { document->audioOutputDidFail(reason, unavailable); };
}

bool AudioFileDocumentOutputSource::acceptsFormat() {
    if (!document_) return false;
    const double documentRate = document_->sampleRate();
    const double rate = sampleRate_.s_.v_;
    const bool ratesValid = validRate(documentRate) && validRate(rate);
    const auto documentChannels = static_cast<unsigned long long>(static_cast<std::int64_t>(document_->channelCount()));
    const bool channelsValid =
        validChannels(documentChannels) && channelCount_.v_ == streamChannelsFor(documentChannels);
    if (!ratesValid || !channelsValid) return false;
    // Equal on a fixed scale: 2^64 over twice the highest rate, within 3 steps.
    const auto a = static_cast<std::uint64_t>(documentRate * 48038396025285.0);
    const auto b = static_cast<std::uint64_t>(rate * 48038396025285.0);
    const bool sameRate = (a > b ? a - b : b - a) < 3;
    return sameRate && documentChannels == documentChannels_;
}

void AudioFileDocumentOutputSource::applyPendingCommand(const TransportCommand::Logic& logic) {
    using namespace TransportCommand;
    // The stream may have gone (its output failed or could not be opened):
    // a Play, or a Pause that resumes, looks for one again.
    if (!stream_.load()) {
        const bool resumes = logic.pendingCommand_ == kPause && logic.isPlaying_; // not producing: it resumes
        if (logic.pendingCommand_ == kPlay || resumes) connect(false);
    }
    // A Play that found no stream (its output failed before the source was
    // playing on it) is told why, as a failing stream tells a playing one.
    bool orphaned = false;
    std::string why;
    withPlayState([&] {
        apply(logic);
        orphaned = isProducing_ && !stream_.load();
        if (orphaned) {
            isProducing_ = false;
            meter_.setActive(false);
            why = lastFailure_;
        }
    });
    if (orphaned && document_)
        document_->audioOutputDidFail(why.empty() ? "no audio output could be opened" : why, true);
}

void AudioFileDocumentOutputSource::playWholeFile() {
    startFrame_ = loopFirst_ = 0;
    rangeEnd_ = kWholeFile;
    returns_ = armed_ = false;
}

void AudioFileDocumentOutputSource::setPlayRange(std::uint64_t first, std::uint64_t end, std::uint64_t loopFirst,
                                                 bool returns) {
    AudioStream::ReadPosition& p = readPosition_;
    const std::uint64_t n = p.maxSamplesToRead_.v_;
    if (n == 0) return;
    first = std::min(first, n - 1);
    const bool wasProducing = isProducing_ && isFormatAccepted_ && stream_.load() && !p.isDone();
    if (wasProducing) beginFadeOut();
    startFrame_ = first;
    rangeEnd_ = std::clamp(end, first + 1, n);
    loopFirst_ = std::min(loopFirst, first);
    returns_ = returns;
    moveTo(p, first);
    // Playing already: the old place fades out as the range fades in, as a
    // jump does. Otherwise the next Play starts exactly here.
    if (wasProducing)
        fadeInDone_ = 0;
    else
        armed_ = true;
}

void AudioFileDocumentOutputSource::jumpTo(std::uint64_t frame) {
    AudioStream::ReadPosition& p = readPosition_;
    const bool wasProducing = isProducing_ && isFormatAccepted_ && stream_.load() && !p.isDone();
    // A jump leaves a range that was playing: from there on, the file plays.
    playWholeFile();
    if (wasProducing) beginFadeOut();
    const std::uint64_t n = p.maxSamplesToRead_.v_;
    moveTo(p, n == 0 ? 0 : std::min(frame, n - 1));
    if (wasProducing) fadeInDone_ = 0;
}

void AudioFileDocumentOutputSource::apply(const TransportCommand::Logic& logic) {
    using namespace TransportCommand;
    AudioStream::ReadPosition& p = readPosition_;
    const bool usable = sampleRate_.s_.v_ > 1.0 && sampleRate_.r_.v_ > 0.0;
    const std::uint64_t step = usable ? static_cast<std::uint64_t>(sampleRate_.s_.v_) : 0;
    // After the last frame: every frame plays, so the end is one past it.
    const std::uint64_t end = p.maxSamplesToRead_.v_;
    const bool wasProducing = isProducing_ && isFormatAccepted_ && stream_.load() && !p.isDone();
    // A jump while playing: the old place fades out as the new one fades in.
    const bool jumps = logic.pendingCommand_ >= kGoBack && logic.pendingCommand_ <= kGotoEnd;
    if (jumps && wasProducing) beginFadeOut();
    // A jump leaves a range that was playing: from there on, the file plays.
    if (jumps) playWholeFile();
    switch (logic.pendingCommand_) {
    case 0:
    case 2:
    case kStop:
        beginFadeOut();
        isProducing_ = false;
        meter_.setActive(false);
        playWholeFile();
        break;
    case kPlay:
        p.isDoneReading_ = false;
        p.normalise();
        if (!wasProducing) {
            // A range just set starts exactly at its first frame; any other
            // Play covers the whole file.
            if (armed_)
                fadeInDone_ = fadeLength_;
            else {
                playWholeFile();
                beginFadeIn();
            }
            armed_ = false;
            meter_.restart();
        }
        isProducing_ = true;
        break;
    case kPause:
        if (wasProducing) {
            beginFadeOut();
            isProducing_ = false;
            meter_.setActive(false);
        } else {
            p.isDoneReading_ = false;
            p.normalise();
            isProducing_ = logic.isPlaying_;
            if (isProducing_) {
                beginFadeIn();
                meter_.restart();
            }
        }
        break;
    // A position that reached the end is done; normalising it before the done
    // flag is cleared would put it back at the end, so the flag goes first.
    case kGoBack:
        if (usable) {
            moveTo(p, p.currentReadPosition_.v_ <= step ? 0 : p.currentReadPosition_.v_ - step);
        } else {
            p.currentReadPosition_ = Num::Count(0ull);
            p.markDone();
        }
        break;
    case kGoForward:
        if (usable)
            moveTo(p, std::min<std::uint64_t>(p.currentReadPosition_.v_ + step, end));
        else
            p.markDone();
        break;
    case kGotoStart:
        moveTo(p, 0);
        break;
    case kGotoEnd:
        moveTo(p, end);
        break;
    default:
        break; // 1, 4, 11, 12
    }
    if (jumps && wasProducing) fadeInDone_ = 0;
    if (isProducing_ && !wasProducing)
        if (AudioStream::SourceHost* host = stream_.load()) host->sourceDidStartProducing(document_->mediaName());
}

} // namespace ZQ
