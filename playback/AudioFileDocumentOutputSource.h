// The output source of one document: reads the document's channels from the
// play position into a stream's buffer (adding, never overwriting) through
// the channel mix, and follows transport commands. A Stop, a Pause or a jump
// while playing ends the sound with a 5 ms fade from where it was, and a
// resume (or the sound after a jump) begins with one; a play from the start
// and a play to the end are sample-exact.
#pragma once

#include "playback/ChannelMix.h"
#include "playback/OutputSource.h"
#include "playback/TransportCommand.h"

#include <vector>

namespace ZQ {

class PlaybackDocument;

class AudioFileDocumentOutputSource final : public AudioStream::OutputSource {
public:
    // `documentChannels` of the document (1 ... 16); the source asks for a
    // mono stream for a mono document and a stereo one otherwise.
    AudioFileDocumentOutputSource(PlaybackDocument* document, const sample_rate& rate, Num::Count documentChannels);

    // Stream thread, under the stream's lock; takes no lock of its own.
    Num::Count render(double* buffer, Num::Count requested) override;
    Num::Count renderStereo(double* buffer, Num::Count requested) override;
    void channelCountDidChange() override;
    // The document's and the stream's rate (8000 ... 192000 Hz) agree, the
    // document has 1 ... 16 channels, and the stream is mono for a mono
    // document and stereo otherwise.
    bool acceptsFormat() override;
    bool hasFadeTail() const override { return tailLeft_ > 0; }
    std::function<void()> outputFailureNotice(const std::string& reason, bool unavailable) override;

    // Before a command changes the transport flags (any thread), with the play
    // state held still (the source's lock, then the stream's). A Play (or a
    // resume) on a source whose stream went away connects it anew first.
    void applyPendingCommand(const TransportCommand::Logic& logic);
    void transportStateDidChange() {}
    // With the play state held: playing goes on from `frame` (clamped to the
    // document), the old place fading out as the new one fades in, as a jump
    // of the transport does.
    void jumpTo(std::uint64_t frame);

    // With the play state held: which of the document's channels are heard.
    void setAudibleChannels(const std::vector<bool>& audible);
    const ChannelMix& channelMix() const { return mix_; }
    // With the play state held: any fade ends at once (the samples are about
    // to change under it).
    void silenceAtOnce();

    PlaybackDocument* document() const { return document_; }
    unsigned documentChannelCount() const { return documentChannels_; }
    // The length of a fade, in frames at `rate`: 5 ms.
    static std::uint64_t fadeFrames(double rate);

private:
    void apply(const TransportCommand::Logic& logic);
    Num::Count renderInto(double* buffer, Num::Count requested, unsigned outputs);
    // Adds `frames` frames from `from` through the mix, each scaled by
    // gain(k) (k from 0).
    template <class Gain>
    void mixFrames(double* buffer, unsigned outputs, std::uint64_t from, std::uint64_t frames, Gain gain) const;
    void beginFadeOut();
    void beginFadeIn();
    void updateMix();

    PlaybackDocument* document_; // not owned: the document owns the source's controller
    unsigned documentChannels_;
    std::vector<bool> audible_;
    ChannelMix mix_;
    // Fades, in frames. The tail is the sound after a Stop, a Pause or a
    // jump: from tailFrom_, tailLeft_ frames still to go down from tailGain_.
    std::uint64_t fadeLength_;
    std::uint64_t fadeInDone_;
    std::uint64_t tailFrom_ = 0;
    std::uint64_t tailLeft_ = 0;
    double tailGain_ = 1.0;
};

} // namespace ZQ
