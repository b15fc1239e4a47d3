#include "playback/AudioFileDocumentOutputSource.h"

#include "audiofile/AudioFileDocumentSampleData.h"
#include "playback/PlaybackDocument.h"

#include <algorithm>
#include <cstdio>

namespace ZQ {

AudioFileDocumentOutputSource::AudioFileDocumentOutputSource(PlaybackDocument* document, const sample_rate& rate,
                                                             Num::Count channelCount)
    : OutputSource(rate, channelCount), document_(document) {
    readPosition_.isInfinite_ = false;
    readPosition_.currentReadPosition_ = Num::Count(0ull);
    readPosition_.normalise();
    std::uint64_t longest = 0;
    if (document_)
        for (std::uint64_t c = 0; c < channelCount.v_; ++c)
            longest = std::max<std::uint64_t>(longest, document_->sampleCount(static_cast<std::int32_t>(c)).v_);
    readPosition_.maxSamplesToRead_ = Num::Count(longest);
    // A fresh position over the document: not done unless it is empty.
    readPosition_.isDoneReading_ = false;
    readPosition_.normalise();
}

Num::Count AudioFileDocumentOutputSource::renderChannels(double* buffer, Num::Count requested, std::uint64_t channels) {
    if (!document_) return Num::Count(0ull);
    AudioStream::SourceHost* host = stream_.load();
    if (!host || readPosition_.isDone()) return Num::Count(0ull);
    AudioFileDocumentSampleData* data = document_->sampleData();
    if (!data || channels == 0 || !buffer || requested.v_ == 0) return Num::Count(0ull);
    const std::uint64_t frames = std::min<std::uint64_t>(requested.v_ / channels, readPosition_.remaining());
    const std::uint64_t current = readPosition_.currentReadPosition_.v_;
    for (std::uint64_t c = 0; c < channels; ++c) {
        const double* p = data->channelSamples(static_cast<std::int32_t>(c));
        // A channel shorter than the position reads as silence where it ends.
        const std::uint64_t have = p ? data->channelSampleCount(static_cast<std::int32_t>(c)).v_ : 0;
        for (std::uint64_t k = 0; k < frames && current + k < have; ++k)
            buffer[c + k * channels] += p[current + k];
    }
    readPosition_.advance(frames);
    if (readPosition_.isDone()) {
        isProducing_ = false;
        // The Stop goes through the transport, whose locks come before the
        // stream's: it is sent once the stream has let go of its lock.
        platform::Ref<PlaybackDocument> document = platform::Ref<PlaybackDocument>::retain(document_);
        host->deferUntilUnlocked([document] { document->perform_Stop(nullptr); });
    }
    return Num::Count(channels * frames);
}

Num::Count AudioFileDocumentOutputSource::render(double* buffer, Num::Count requested) {
    return renderChannels(buffer, requested, channelCount_.v_);
}

Num::Count AudioFileDocumentOutputSource::renderStereo(double* buffer, Num::Count requested) {
    return renderChannels(buffer, requested, 2);
}

namespace {

bool validRate(double rate) {
    if (rate < 8000.0 || rate > 192000.0) {
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
    if (channels != 1 && channels != 2) {
        std::printf("Invalid channel count: %llu\n", channels);
        return false;
    }
    return true;
}

} // namespace

bool AudioFileDocumentOutputSource::acceptsFormat() {
    if (!document_) return false;
    const double documentRate = document_->sampleRate();
    const double rate = sampleRate_.s_.v_;
    const bool ratesValid = validRate(documentRate) && validRate(rate);
    const auto documentChannels = static_cast<unsigned long long>(static_cast<std::int64_t>(document_->channelCount()));
    const bool channelsValid = validChannels(documentChannels) && validChannels(channelCount_.v_);
    if (!ratesValid || !channelsValid) return false;
    // Equal on a fixed scale: 2^64 over twice the highest rate, within 3 steps.
    const auto a = static_cast<std::uint64_t>(documentRate * 48038396025285.0);
    const auto b = static_cast<std::uint64_t>(rate * 48038396025285.0);
    const bool sameRate = (a > b ? a - b : b - a) < 3;
    return sameRate && documentChannels == channelCount_.v_;
}

void AudioFileDocumentOutputSource::applyPendingCommand(const TransportCommand::Logic& logic) {
    withPlayState([&] { apply(logic); });
}

void AudioFileDocumentOutputSource::apply(const TransportCommand::Logic& logic) {
    using namespace TransportCommand;
    AudioStream::ReadPosition& p = readPosition_;
    const bool usable = sampleRate_.s_.v_ > 1.0 && sampleRate_.r_.v_ > 0.0;
    const std::uint64_t step = usable ? static_cast<std::uint64_t>(sampleRate_.s_.v_) : 0;
    const std::uint64_t last = p.maxSamplesToRead_.v_ == 0 ? 0 : p.maxSamplesToRead_.v_ - 1;
    switch (logic.pendingCommand_) {
    case 0:
    case 2:
    case kStop:
        isProducing_ = false;
        break;
    case kPlay:
        p.isDoneReading_ = false;
        p.normalise();
        isProducing_ = true;
        break;
    case kPause:
        if (isProducing_ && isFormatAccepted_ && stream_.load() && !p.isDone()) {
            isProducing_ = false;
        } else {
            p.isDoneReading_ = false;
            p.normalise();
            isProducing_ = logic.isPlaying_;
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
            moveTo(p, std::min<std::uint64_t>(p.currentReadPosition_.v_ + step, last));
        else
            p.markDone();
        break;
    case kGotoStart:
        moveTo(p, 0);
        break;
    case kGotoEnd:
        moveTo(p, last);
        break;
    default:
        break; // 1, 4, 11, 12
    }
}

} // namespace ZQ
