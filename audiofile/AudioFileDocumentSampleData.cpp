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

void AudioFileDocumentSampleData::releaseChannels() {
    for (SampleBuffer& c : channels_)
        c.release();
}

void AudioFileDocumentSampleData::clear() {
    if (isReading()) return;
    bufferChannelCount_ = 0;
    if (isLoaded()) {
        isLoaded_.store(false, std::memory_order_release);
        releaseChannels();
    }
}

bool AudioFileDocumentSampleData::read(const platform::URL* url, DecodeControl* control) {
    bool expected = false;
    if (!isReading_.compare_exchange_strong(expected, true)) return false;
    bufferChannelCount_ = 0;
    if (isLoaded()) {
        isLoaded_.store(false, std::memory_order_release);
        releaseChannels();
    }
    if (!url) { // nothing to read: the flag must not stay set, or close would wait forever
        isReading_.store(false, std::memory_order_release);
        return false;
    }
    platform::Ref<platform::URL> held = platform::Ref<platform::URL>::retain(const_cast<platform::URL*>(url));
    // Straight into the channels: nothing of the file's size besides them.
    const bool ok =
        readAudioFileSamples(held.get(), information_, channels_, kMaxChannels, bufferChannelCount_, control);
    isLoaded_.store(ok, std::memory_order_release);
    isReading_.store(false, std::memory_order_release);
    return ok;
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
    return channels_[channel].count();
}

const double* AudioFileDocumentSampleData::channelSamples(std::int32_t channel) const {
    if (!isLoaded()) return nullptr;
    if (channelCount() <= 0) {
        std::printf("Invalid channel configuration for request\n");
        return nullptr;
    }
    if (!checkChannel(channel)) return nullptr;
    return channels_[channel].data();
}

double* AudioFileDocumentSampleData::channelSamples(std::int32_t channel) {
    return const_cast<double*>(static_cast<const AudioFileDocumentSampleData*>(this)->channelSamples(channel));
}

// Editing.

std::uint64_t AudioFileDocumentSampleData::frameCount() const {
    if (!isLoaded() || channelCount() <= 0) return 0;
    return channels_[0].count().v_;
}

bool AudioFileDocumentSampleData::rangeIsValid(const Num::SampleRange& range) const {
    return range.isValid() && range.max_.v_ < frameCount();
}

AudioFileDocumentSampleData* AudioFileDocumentSampleData::makeSibling(std::int32_t channels,
                                                                      std::uint64_t frames) const {
    AudioFileDocumentSampleData* copy = SampleDataHolder::create();
    if (!copy) return nullptr;
    SampleDataHolder held(copy);
    AudioFileInformationData* to = copy->information_.get();
    const AudioFileInformationData* from = information_.get();
    if (!to || !from) return nullptr;
    // The format, not the file's other properties: a copy is no file.
    to->fileDataFormat = from->fileDataFormat;
    to->fileDataFormat.value.mChannelsPerFrame = static_cast<std::uint32_t>(channels);
    to->clientDataFormat = from->clientDataFormat;
    to->fileFormat = from->fileFormat;
    to->dataFormat = from->dataFormat;
    to->fileLength.value = static_cast<std::int64_t>(frames);
    to->fileLength.flags = kPropertyPresent | kPropertyRead;
    if (frames > 0)
        for (std::int32_t c = 0; c < channels; ++c)
            if (!copy->channels_[c].allocate(Num::Count(frames))) return nullptr;
    copy->bufferChannelCount_ = channels;
    copy->isLoaded_.store(true, std::memory_order_release);
    return held.detach();
}

bool AudioFileDocumentSampleData::copyAll(SampleDataHolder& into) const {
    if (!isLoaded()) return false;
    const std::uint64_t n = frameCount();
    AudioFileDocumentSampleData* copy = makeSibling(channelCount(), n);
    if (!copy) return false;
    for (std::int32_t c = 0; c < channelCount() && n > 0; ++c)
        std::memcpy(copy->channels_[c].data(), channels_[c].data(), n * sizeof(double));
    into.reset(copy);
    return true;
}

bool AudioFileDocumentSampleData::copyRange(const Num::SampleRange& range, SampleDataHolder& into) const {
    if (!rangeIsValid(range)) return false;
    const std::uint64_t a = range.min_.v_, n = range.max_.v_ - a + 1;
    AudioFileDocumentSampleData* copy = makeSibling(channelCount(), n);
    if (!copy) return false;
    for (std::int32_t c = 0; c < channelCount(); ++c)
        std::memcpy(copy->channels_[c].data(), channels_[c].data() + a, n * sizeof(double));
    into.reset(copy);
    return true;
}

void AudioFileDocumentSampleData::copyChannelRange(SampleBuffer& out, std::int32_t channel,
                                                   const Num::SampleRange& range) const {
    if (!rangeIsValid(range) || !checkChannel(channel)) return;
    const std::uint64_t a = range.min_.v_, n = range.max_.v_ - a + 1;
    if (!out.allocate(Num::Count(n))) return;
    std::memcpy(out.data(), channels_[channel].data() + a, n * sizeof(double));
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
    const std::uint64_t n = frameCount();
    if (channels <= 0 || at > n || removeCount > n - at) return false;
    if (insert && (!insert->isLoaded() || insert->channelCount() != channels)) return false;
    const std::uint64_t added = insert ? insert->frameCount() : 0;
    if (removeCount == 0 && added == 0) return false;
    if (added > SampleBuffer::kMaxElements - (n - removeCount)) return false;
    const std::uint64_t m = n - removeCount + added, tail = n - at - removeCount;

    // What goes, kept first: nothing has changed yet if memory runs short.
    if (removed) {
        AudioFileDocumentSampleData* out = makeSibling(channels, removeCount);
        if (!out) return false;
        for (std::int32_t c = 0; c < channels && removeCount > 0; ++c)
            std::memcpy(out->channels_[c].data(), channels_[c].data() + at, removeCount * sizeof(double));
        removed->reset(out);
    }
    // Growing is the only step that can fail: every channel grows before any
    // is rewritten, and a failure shrinks back the ones already grown.
    if (m > n) {
        for (std::int32_t c = 0; c < channels; ++c) {
            if (channels_[c].resize(Num::Count(m))) continue;
            for (std::int32_t k = 0; k < c; ++k) {
                if (n > 0)
                    channels_[k].resize(Num::Count(n));
                else
                    channels_[k].release();
            }
            if (removed) removed->reset();
            return false;
        }
    }
    for (std::int32_t c = 0; c < channels; ++c) {
        double* p = channels_[c].data();
        if (tail > 0 && added != removeCount) std::memmove(p + at + added, p + at + removeCount, tail * sizeof(double));
        if (added > 0) std::memcpy(p + at, insert->channels_[c].data(), added * sizeof(double));
        if (m < n) {
            if (m == 0)
                channels_[c].release();
            else
                channels_[c].resize(Num::Count(m)); // shrinking in place: cannot fail for want of memory
        }
    }
    if (AudioFileInformationData* info = information_.get()) info->fileLength.value = static_cast<std::int64_t>(m);
    return true;
}

} // namespace ZQ
