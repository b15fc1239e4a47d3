#include "audiofile/AudioFileDocumentSampleData.h"

#include "audiofile/AudioFileReader.h"
#include "platform/base/Values.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ZQ {

AudioFileDocumentSampleData::AudioFileDocumentSampleData() {
    information_.make();
}

void AudioFileDocumentSampleData::setSamples(SampleSnapshot samples) {
    std::lock_guard<std::mutex> g(lock_);
    samples_ = std::move(samples);
}

SampleSnapshot AudioFileDocumentSampleData::samples() const {
    if (!isLoaded()) return nullptr;
    std::lock_guard<std::mutex> g(lock_);
    return samples_;
}

void AudioFileDocumentSampleData::clear() {
    if (isReading()) return;
    bufferChannelCount_ = 0;
    if (isLoaded()) {
        isLoaded_.store(false, std::memory_order_release);
        setSamples(nullptr);
    }
}

bool AudioFileDocumentSampleData::read(const platform::URL* url, DecodeControl* control) {
    bool expected = false;
    if (!isReading_.compare_exchange_strong(expected, true)) return false;
    bufferChannelCount_ = 0;
    if (isLoaded()) {
        isLoaded_.store(false, std::memory_order_release);
        setSamples(nullptr);
    }
    if (!url) { // nothing to read: the flag must not stay set, or close would wait forever
        isReading_.store(false, std::memory_order_release);
        return false;
    }
    platform::Ref<platform::URL> held = platform::Ref<platform::URL>::retain(const_cast<platform::URL*>(url));
    std::shared_ptr<SampleBlock> block;
    std::int32_t channels = 0;
    const bool ok = openAudioFileSamples(held.get(), information_, block, channels, control);
    if (ok) {
        bufferChannelCount_ = channels;
        const auto kept = static_cast<unsigned>(std::min(channels, kMaxChannels));
        setSamples(std::make_shared<const SampleSequence>(kept, std::vector<SamplePiece>{{block, 0, block->frames()}}));
    }
    isLoaded_.store(ok, std::memory_order_release);
    isReading_.store(false, std::memory_order_release);
    return ok;
}

bool AudioFileDocumentSampleData::loadChannels(double rate, const std::vector<const double*>& channels,
                                               std::uint64_t frames, std::string* refusal) {
    if (isReading() || channels.empty() || channels.size() > std::size_t(kMaxChannels)) return false;
    const auto n = static_cast<unsigned>(channels.size());
    std::vector<SamplePiece> pieces;
    if (frames > 0) {
        std::shared_ptr<MemorySampleBlock> block = MemorySampleBlock::create(n, frames, refusal);
        if (!block) return false;
        for (unsigned c = 0; c < n; ++c)
            std::memcpy(block->channelData(c), channels[c], frames * sizeof(double));
        block->finish();
        pieces.push_back({block, 0, frames});
    }
    AudioFileInformationData* info = information_.get();
    if (!info) return false;
    platform::audio::AudioStreamBasicDescription& f = info->fileDataFormat.value;
    f.mSampleRate = rate;
    f.mFormatID = platform::audio::kAudioFormatLinearPCM;
    f.mFormatFlags = platform::audio::kAudioFormatFlagIsFloat | platform::audio::kAudioFormatFlagIsPacked;
    f.mBitsPerChannel = 32;
    f.mChannelsPerFrame = n;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = f.mBytesPerPacket = 4 * n;
    info->fileDataFormat.flags = kPropertyPresent | kPropertyRead;
    info->fileLength.value = static_cast<std::int64_t>(frames);
    info->fileLength.flags = kPropertyPresent | kPropertyRead;
    bufferChannelCount_ = static_cast<std::int32_t>(n);
    setSamples(std::make_shared<const SampleSequence>(n, std::move(pieces)));
    isLoaded_.store(true, std::memory_order_release);
    return true;
}

double AudioFileDocumentSampleData::sampleRate() const {
    return information_.get() ? information_->sampleRate() : 0.0;
}

std::int32_t AudioFileDocumentSampleData::channelCount() const {
    if (!information_.get()) return 0;
    return std::min<std::int32_t>(information_->channelCount(), kMaxChannels);
}

bool AudioFileDocumentSampleData::checkChannel(std::int32_t channel) const {
    if (static_cast<std::uint32_t>(channel) >= static_cast<std::uint32_t>(channelCount())) {
        std::printf("Invalid channel requested\n");
        return false;
    }
    return true;
}

Num::Count AudioFileDocumentSampleData::channelSampleCount(std::int32_t channel) const {
    if (!isLoaded() || !checkChannel(channel)) return Num::Count(0ull);
    return Num::Count(frameCount());
}

ChannelSamples AudioFileDocumentSampleData::channel(std::int32_t channel) const {
    if (!isLoaded()) return {};
    if (channelCount() <= 0) {
        std::printf("Invalid channel configuration for request\n");
        return {};
    }
    if (!checkChannel(channel)) return {};
    return {samples(), static_cast<unsigned>(channel)};
}

bool AudioFileDocumentSampleData::readChannel(std::int32_t channel, std::uint64_t first, std::uint64_t count,
                                              double* out) const {
    const ChannelSamples c = this->channel(channel);
    if (!c.isValid() || first > c.count() || count > c.count() - first) return false;
    c.read(first, count, out);
    return true;
}

bool AudioFileDocumentSampleData::changedOnDisk() const {
    const SampleSnapshot s = samples();
    return s && s->changedOnDisk();
}

// Editing.

std::uint64_t AudioFileDocumentSampleData::frameCount() const {
    if (!isLoaded() || channelCount() <= 0) return 0;
    const SampleSnapshot s = samples();
    return s ? s->frameCount() : 0;
}

bool AudioFileDocumentSampleData::rangeIsValid(const Num::SampleRange& range) const {
    return range.isValid() && range.max_.v_ < frameCount();
}

AudioFileDocumentSampleData* AudioFileDocumentSampleData::makeSibling(SampleSequence sequence) const {
    AudioFileDocumentSampleData* copy = SampleDataHolder::create();
    if (!copy) return nullptr;
    SampleDataHolder held(copy);
    AudioFileInformationData* to = copy->information_.get();
    const AudioFileInformationData* from = information_.get();
    if (!to || !from) return nullptr;
    const std::uint64_t frames = sequence.frameCount();
    // The format, not the file's other properties: a copy is no file.
    to->fileDataFormat = from->fileDataFormat;
    to->fileDataFormat.value.mChannelsPerFrame = sequence.channelCount();
    to->clientDataFormat = from->clientDataFormat;
    to->fileFormat = from->fileFormat;
    to->dataFormat = from->dataFormat;
    to->fileLength.value = static_cast<std::int64_t>(frames);
    to->fileLength.flags = kPropertyPresent | kPropertyRead;
    copy->bufferChannelCount_ = static_cast<std::int32_t>(sequence.channelCount());
    copy->setSamples(std::make_shared<const SampleSequence>(std::move(sequence)));
    copy->isLoaded_.store(true, std::memory_order_release);
    return held.detach();
}

bool AudioFileDocumentSampleData::copyAll(SampleDataHolder& into) const {
    const SampleSnapshot s = samples();
    if (!s) return false;
    AudioFileDocumentSampleData* copy = makeSibling(*s);
    if (!copy) return false;
    into.reset(copy);
    return true;
}

bool AudioFileDocumentSampleData::makeFromBlock(std::shared_ptr<SampleBlock> block, SampleDataHolder& into) const {
    if (!block || int(block->channels()) != channelCount()) return false;
    const std::uint64_t frames = block->frames();
    const unsigned channels = block->channels();
    AudioFileDocumentSampleData* made = makeSibling(SampleSequence(channels, {{std::move(block), 0, frames}}));
    if (!made) return false;
    into.reset(made);
    return true;
}

bool AudioFileDocumentSampleData::copyRange(const Num::SampleRange& range, SampleDataHolder& into) const {
    const SampleSnapshot s = samples();
    if (!s || !range.isValid() || range.max_.v_ >= s->frameCount()) return false;
    const std::uint64_t a = range.min_.v_, n = range.max_.v_ - a + 1;
    AudioFileDocumentSampleData* copy = makeSibling(SampleSequence(s->channelCount(), s->slice(a, n)));
    if (!copy) return false;
    into.reset(copy);
    return true;
}

void AudioFileDocumentSampleData::copyChannelRange(SampleBuffer& out, std::int32_t channel,
                                                   const Num::SampleRange& range) const {
    if (!rangeIsValid(range) || !checkChannel(channel)) return;
    const std::uint64_t a = range.min_.v_, n = range.max_.v_ - a + 1;
    if (!out.allocate(Num::Count(n))) return;
    readChannel(channel, a, n, out.data());
}

bool AudioFileDocumentSampleData::cutRange(const Num::SampleRange& range, SampleDataHolder& removed) {
    if (!rangeIsValid(range)) return false;
    return replaceFrames(range.min_.v_, range.max_.v_ - range.min_.v_ + 1, nullptr, &removed);
}

bool AudioFileDocumentSampleData::deleteRange(const Num::SampleRange& range) {
    if (!rangeIsValid(range)) return false;
    return replaceFrames(range.min_.v_, range.max_.v_ - range.min_.v_ + 1, nullptr, nullptr);
}

bool AudioFileDocumentSampleData::duplicateRange(const Num::SampleRange& range) {
    SampleDataHolder copy;
    if (!copyRange(range, copy)) return false;
    return replaceFrames(range.max_.v_ + 1, 0, copy.get(), nullptr);
}

bool AudioFileDocumentSampleData::pasteRange(const SampleDataHolder& data, const Num::SampleRange& range) {
    const AudioFileDocumentSampleData* clip = data.get();
    if (!clip || !clip->isLoaded() || clip->channelCount() != channelCount() || !range.isValid()) return false;
    const std::uint64_t n = frameCount();
    if (range.min_ == range.max_) {
        if (range.min_.v_ > n) return false;
        return replaceFrames(range.min_.v_, 0, clip, nullptr);
    }
    if (!rangeIsValid(range)) return false;
    return replaceFrames(range.min_.v_, range.max_.v_ - range.min_.v_ + 1, clip, nullptr);
}

bool AudioFileDocumentSampleData::replaceFrames(std::uint64_t at, std::uint64_t removeCount,
                                                const AudioFileDocumentSampleData* insert, SampleDataHolder* removed) {
    if (!isLoaded() || isReading()) return false;
    const std::int32_t channels = channelCount();
    const SampleSnapshot now = samples();
    if (!now) return false;
    const std::uint64_t n = now->frameCount();
    if (channels <= 0 || at > n || removeCount > n - at) return false;
    if (insert && (!insert->isLoaded() || insert->channelCount() != channels)) return false;
    const SampleSnapshot added = insert ? insert->samples() : nullptr;
    if (insert && !added) return false;
    const std::uint64_t addedFrames = added ? added->frameCount() : 0;
    if (removeCount == 0 && addedFrames == 0) return false;
    if (removed) {
        AudioFileDocumentSampleData* out =
            makeSibling(SampleSequence(now->channelCount(), now->slice(at, removeCount)));
        if (!out) return false;
        removed->reset(out);
    }
    auto next = std::make_shared<const SampleSequence>(now->replaced(at, removeCount, added.get()));
    if (AudioFileInformationData* info = information_.get())
        info->fileLength.value = static_cast<std::int64_t>(next->frameCount());
    setSamples(std::move(next));
    return true;
}

} // namespace ZQ
