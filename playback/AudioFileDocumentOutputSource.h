// The output source of one document: reads the document's channels from the
// play position into a stream's buffer (adding, never overwriting) through
// the channel mix, and follows transport commands. A Stop, a Pause or a jump
// while playing ends the sound with a 5 ms fade from where it was, and a
// resume (or the sound after a jump) begins with one; a play from the start
// and a play to the end are sample-exact.
//
// A play covers a range of frames: the whole file for Play, the selection
// for Play Selection (which then returns to the selection's first frame).
// With Loop on, the frame after the range's last is its first, within the
// same render: no gap, no fade, no extra frame. The source meters what it
// sends to the device.
#pragma once

#include "core/buffer.h"
#include "playback/ChannelMix.h"
#include "playback/LevelMeter.h"
#include "playback/OutputSource.h"
#include "playback/TransportCommand.h"

#include <array>
#include <atomic>
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
    // The document's and the stream's rate (8000 ... 384000 Hz) agree, the
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
    // With the play state held: the next play covers frames from `first` to
    // `end` (one past its last), starting exactly at `first` without a fade,
    // and repeats from `loopFirst` with Loop on; `returns` puts the play
    // position back at `first` once the range has played. While playing,
    // playing goes on there at once, crossfaded as a jump is.
    void setPlayRange(std::uint64_t first, std::uint64_t end, std::uint64_t loopFirst, bool returns);
    // With the play state held: the next Play covers the whole file.
    void clearPlayRange() { playWholeFile(); }
    // With the play state held: where the current (or next) play began,
    // and one past the last frame it plays.
    std::uint64_t playRangeFirst() const { return startFrame_; }
    std::uint64_t playRangeEnd() const;
    // How many times a loop has gone back to its first frame since the
    // source was made (any thread).
    std::uint64_t loopPasses() const { return passes_.load(std::memory_order_relaxed); }
    // Loop, for every source of the process (any thread); a source reads it
    // at the end of each pass, so turning it off lets the pass finish.
    static void setLoopsEverywhere(bool loops);
    static bool loopsEverywhere();
    // The level of what the source sends (read from any thread).
    LevelMeter& levelMeter() { return meter_; }
    const LevelMeter& levelMeter() const { return meter_; }

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
    // What a mix adds up for the meters: per output, the sum of squares and
    // the largest magnitude of what it added.
    struct MeterSums {
        double squares[2] = {0, 0};
        double peaks[2] = {0, 0};
    };
    // Adds `frames` frames from `from` through the mix, each scaled by
    // gain(k) (k from 0), frame by frame; with `sums`, what it adds is
    // metered in the same pass.
    template <class Gain>
    void mixFrames(double* buffer, unsigned outputs, std::uint64_t from, std::uint64_t frames, Gain gain,
                   MeterSums* sums, bool tail = false);
    // Each channel's frames [from, from + frames) as read ahead on this
    // (the stream's) thread: from what was read before when it holds them
    // and at least a second beyond, else read anew, two seconds at a time.
    // A fade tail's frames are read on their own. Null when there are none;
    // `available` tells how many of the frames are there (fewer at the end).
    const double* const* framesAt(std::uint64_t from, std::uint64_t frames, bool tail, std::uint64_t& available);
    void forgetReadAhead();
    // Adds at most `wanted` frames into `out`; how many it rendered. With
    // `sums`, what it adds is metered (only while no fade tail sounds: the
    // tail adds to the same frames).
    std::uint64_t renderBlock(double* out, std::uint64_t wanted, unsigned outputs, AudioStream::SourceHost* host,
                              MeterSums* sums);
    void finishPass(AudioStream::SourceHost* host);
    void playWholeFile();
    void beginFadeOut();
    void beginFadeIn();
    void updateMix();

    static constexpr std::uint64_t kBlockFrames = 1024;
    static constexpr std::uint64_t kWholeFile = ~std::uint64_t{0};

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
    // The range this play covers (under the play state): where it began,
    // the first frame a loop goes back to, one past the last frame, whether
    // the position returns to startFrame_ at the end, and whether the next
    // Play starts exactly at the position (a range was just set).
    std::uint64_t startFrame_ = 0;
    std::uint64_t loopFirst_ = 0;
    std::uint64_t rangeEnd_ = kWholeFile;
    bool returns_ = false;
    bool armed_ = false;
    std::atomic<std::uint64_t> passes_{0};
    LevelMeter meter_;
    // While a fade tail sounds, the source's own sound for one block,
    // metered before it is added to the stream's mix.
    std::array<double, kBlockFrames * 2> scratch_{};
    // The read-ahead (stream thread, under the play state): each channel's
    // frames [aheadFirst_, aheadFirst_ + aheadFrames_) of a document of
    // aheadEnd_ frames; a fade tail's own frames; the pointers handed out.
    std::array<SampleBuffer, kMaxMixChannels> ahead_, tailSamples_; // from the tracking allocator
    std::uint64_t aheadFirst_ = 0, aheadFrames_ = 0, aheadEnd_ = 0;
    std::array<double*, kMaxMixChannels> aheadAt_{};
};

} // namespace ZQ
