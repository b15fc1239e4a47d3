// Owns the output source of one document, connects it to a stream on first
// demand, and answers the interface's questions about the play position.
#pragma once

#include "core/holders.h"
#include "core/object.h"
#include "playback/AudioFileDocumentOutputSource.h"
#include "playback/PlaybackDocument.h"

#include <atomic>
#include <cstdint>
#include <vector>

class ZQAudioFileDocumentOutputSourceController final : public platform::Object {
public:
    static ZQAudioFileDocumentOutputSourceController* initWithDocument(ZQ::PlaybackDocument* document); // +1
    void initState();
    // Creates the source and connects it, once (until initState/deallocState).
    void connectToStreamingServer();
    // Read without a lock.
    ZQ::AudioFileDocumentOutputSource* audioFileDocumentOutputSource() const { return source_.get(); }
    // While playing, the frame being heard (the output's own timing);
    // otherwise where the sound stopped. Read with the play state held still
    // (the stream thread moves it under the stream's lock).
    std::uint64_t presentPlaybackPosition() const;
    // Puts the play position at `frame` (at most the last frame), as the
    // transport's steps do; where Play starts next.
    void locate(std::uint64_t frame);
    // While playing: playing goes on from `frame`, crossfaded.
    void jumpTo(std::uint64_t frame);
    // The next Play (or, while playing, playing from now on) covers frames
    // `first` to `end` (one past the last), repeating from `loopFirst` with
    // Loop on; `returns`: the position goes back to `first` once it has
    // played. See AudioFileDocumentOutputSource::setPlayRange.
    void setPlayRange(std::uint64_t first, std::uint64_t end, std::uint64_t loopFirst, bool returns);
    // The level of what the document sends to the device; null before the
    // source exists. Valid until the document closes (main thread).
    const ZQ::LevelMeter* levelMeter() const;
    ZQ::LevelMeter* levelMeter();
    void hmsTime(ZQ::HMSTime* time);
    // The document's length changed: the source reads to the new end, and a
    // position past it moves to its last frame.
    void sampleCountDidChange();
    // Which channels are heard: the soloed ones if any, otherwise the
    // unmuted ones (kept for the document's life, whatever its stream).
    void setChannelMuted(int channel, bool muted);
    void setChannelSoloed(int channel, bool soloed);
    bool isChannelMuted(int channel) const;
    bool isChannelSoloed(int channel) const;
    // Any fade in progress ends at once (the samples are about to change).
    void silenceAtOnce();
    void transportStateWillChange() {}
    void transportStateDidChange() {}
    void deallocState();
    void documentWillClose();
    // Safe to ask from any thread without a lock.
    bool hasConnected() const { return connected_.load(std::memory_order_acquire); }

    const char* kindName() const override { return "ZQAudioFileDocumentOutputSourceController"; }

private:
    ZQAudioFileDocumentOutputSourceController() = default;
    ~ZQAudioFileDocumentOutputSourceController() override;
    void destroySource();

    ZQ::OCPtr<ZQ::PlaybackDocument> document_;
    ZQ::auto_ptr<ZQ::AudioFileDocumentOutputSource> source_;
    ZQ::once hasConnected_;
    // Under the monitor, one entry for every channel a document may have.
    std::vector<bool> muted_ = std::vector<bool>(ZQ::kMaxMixChannels, false);
    std::vector<bool> soloed_ = std::vector<bool>(ZQ::kMaxMixChannels, false);
    void applyAudibleChannels();
    // hasConnected_ as other threads may read it: a connected source is
    // never connected again, so callers skip every lock once this is set.
    std::atomic<bool> connected_{false};
};
