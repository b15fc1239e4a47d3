#include "playback/ZQAudioFileDocumentOutputSourceController.h"

#include <algorithm>

#include <mutex>

using Guard = std::lock_guard<std::recursive_mutex>;

ZQAudioFileDocumentOutputSourceController*
ZQAudioFileDocumentOutputSourceController::initWithDocument(ZQ::PlaybackDocument* document) {
    auto* c = new ZQAudioFileDocumentOutputSourceController;
    c->document_ = document;
    c->initState();
    return c;
}

void ZQAudioFileDocumentOutputSourceController::destroySource() {
    if (ZQ::AudioFileDocumentOutputSource* s = source_.get()) s->disconnect();
    source_.reset(); // unregisters from the tracking allocator and deletes
}

void ZQAudioFileDocumentOutputSourceController::initState() {
    Guard g(monitor());
    source_.reset();
}

void ZQAudioFileDocumentOutputSourceController::connectToStreamingServer() {
    if (hasConnected()) return;
    Guard g(monitor());
    if (document_.isEmpty()) return;
    if (hasConnected_.isSet()) return;
    ZQ::PlaybackDocument* document = document_.get();
    if (!document) return;
    const std::int32_t channels = document->channelCount();
    const ZQ::sample_rate rate(document->sampleRate());
    if (channels < 1 || !(rate.s_.v_ > 400.0) || channels > static_cast<std::int32_t>(ZQ::kMaxMixChannels)) return;
    ZQ::AudioFileDocumentOutputSource* source = ZQ::auto_ptr<ZQ::AudioFileDocumentOutputSource>::create(
        document, rate, ZQ::Num::Count(static_cast<unsigned long long>(channels)));
    if (!source) return;
    if (ZQ::AudioFileDocumentOutputSource* old = source_.get()) old->disconnect();
    source_.reset(source);
    source->withPlayState([&] { source->setAudibleChannels(ZQ::audibleChannels(muted_, soloed_)); });
    source->connect(false);
    hasConnected_.set();
    connected_.store(true, std::memory_order_release);
}

std::uint64_t ZQAudioFileDocumentOutputSourceController::presentPlaybackPosition() const {
    if (document_.isEmpty()) return 0;
    ZQ::AudioFileDocumentOutputSource* s = source_.get();
    return s ? s->withPlayState([s] { return s->heardPosition(); }) : 0;
}

void ZQAudioFileDocumentOutputSourceController::locate(std::uint64_t frame) {
    Guard g(monitor());
    ZQ::AudioFileDocumentOutputSource* s = source_.get();
    if (document_.isEmpty() || !s) return;
    s->withPlayState([&] {
        ZQ::AudioStream::ReadPosition& p = s->readPosition();
        const std::uint64_t last = p.maxSamplesToRead_.v_ == 0 ? 0 : p.maxSamplesToRead_.v_ - 1;
        p.isDoneReading_ = false;
        p.currentReadPosition_ = ZQ::Num::Count(std::min(frame, last));
        p.normalise();
        s->clearPlayRange();
    });
}

void ZQAudioFileDocumentOutputSourceController::setPlayRange(std::uint64_t first, std::uint64_t end,
                                                             std::uint64_t loopFirst, bool returns) {
    Guard g(monitor());
    ZQ::AudioFileDocumentOutputSource* s = source_.get();
    if (document_.isEmpty() || !s) return;
    s->withPlayState([&] { s->setPlayRange(first, end, loopFirst, returns); });
}

const ZQ::LevelMeter* ZQAudioFileDocumentOutputSourceController::levelMeter() const {
    const ZQ::AudioFileDocumentOutputSource* s = source_.get();
    return s ? &s->levelMeter() : nullptr;
}

ZQ::LevelMeter* ZQAudioFileDocumentOutputSourceController::levelMeter() {
    ZQ::AudioFileDocumentOutputSource* s = source_.get();
    return s ? &s->levelMeter() : nullptr;
}

void ZQAudioFileDocumentOutputSourceController::jumpTo(std::uint64_t frame) {
    Guard g(monitor());
    ZQ::AudioFileDocumentOutputSource* s = source_.get();
    if (document_.isEmpty() || !s) return;
    s->withPlayState([&] { s->jumpTo(frame); });
}

void ZQAudioFileDocumentOutputSourceController::sampleCountDidChange() {
    Guard g(monitor());
    ZQ::AudioFileDocumentOutputSource* s = source_.get();
    if (document_.isEmpty() || !s) return;
    std::uint64_t longest = 0;
    for (std::uint64_t c = 0; c < s->channelCount().v_; ++c)
        longest = std::max<std::uint64_t>(longest, document_->sampleCount(static_cast<std::int32_t>(c)).v_);
    s->withPlayState([&] {
        ZQ::AudioStream::ReadPosition& p = s->readPosition();
        p.maxSamplesToRead_ = ZQ::Num::Count(longest);
        const std::uint64_t last = longest == 0 ? 0 : longest - 1;
        p.currentReadPosition_ = ZQ::Num::Count(std::min<std::uint64_t>(p.currentReadPosition_.v_, last));
        p.isDoneReading_ = false;
        p.normalise();
    });
}

void ZQAudioFileDocumentOutputSourceController::setChannelMuted(int channel, bool muted) {
    Guard g(monitor());
    if (channel < 0 || channel >= static_cast<int>(ZQ::kMaxMixChannels)) return;
    muted_[static_cast<std::size_t>(channel)] = muted;
    applyAudibleChannels();
}

void ZQAudioFileDocumentOutputSourceController::setChannelSoloed(int channel, bool soloed) {
    Guard g(monitor());
    if (channel < 0 || channel >= static_cast<int>(ZQ::kMaxMixChannels)) return;
    soloed_[static_cast<std::size_t>(channel)] = soloed;
    applyAudibleChannels();
}

bool ZQAudioFileDocumentOutputSourceController::isChannelMuted(int channel) const {
    Guard g(monitor());
    return channel >= 0 && static_cast<std::size_t>(channel) < muted_.size() &&
           muted_[static_cast<std::size_t>(channel)];
}

bool ZQAudioFileDocumentOutputSourceController::isChannelSoloed(int channel) const {
    Guard g(monitor());
    return channel >= 0 && static_cast<std::size_t>(channel) < soloed_.size() &&
           soloed_[static_cast<std::size_t>(channel)];
}

void ZQAudioFileDocumentOutputSourceController::applyAudibleChannels() {
    if (ZQ::AudioFileDocumentOutputSource* s = source_.get()) {
        const std::vector<bool> audible = ZQ::audibleChannels(muted_, soloed_);
        s->withPlayState([&] { s->setAudibleChannels(audible); });
    }
}

void ZQAudioFileDocumentOutputSourceController::silenceAtOnce() {
    Guard g(monitor());
    if (ZQ::AudioFileDocumentOutputSource* s = source_.get()) s->withPlayState([s] { s->silenceAtOnce(); });
}

void ZQAudioFileDocumentOutputSourceController::hmsTime(ZQ::HMSTime* time) {
    if (!time) return;
    Guard g(monitor());
    ZQ::AudioFileDocumentOutputSource* s = source_.get();
    if (!document_.isEmpty() && s && s->acceptsFormat())
        *time = ZQ::HMSTime(s->sampleRate(), ZQ::Num::Count(s->withPlayState([s] { return s->heardPosition(); })));
    else
        *time = ZQ::HMSTime();
}

void ZQAudioFileDocumentOutputSourceController::deallocState() {
    Guard g(monitor());
    destroySource();
    document_ = nullptr;
}

void ZQAudioFileDocumentOutputSourceController::documentWillClose() {
    if (document_.isEmpty()) return;
    Guard g(monitor());
    deallocState();
    document_ = nullptr;
}

ZQAudioFileDocumentOutputSourceController::~ZQAudioFileDocumentOutputSourceController() {
    destroySource();
}
