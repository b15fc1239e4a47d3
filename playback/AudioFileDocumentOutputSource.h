// The output source of one document: reads the document's channels from the
// play position into a stream's buffer (adding, never overwriting) and follows
// transport commands.
#pragma once

#include "playback/OutputSource.h"
#include "playback/TransportCommand.h"

namespace ZQ {

class PlaybackDocument;

class AudioFileDocumentOutputSource final : public AudioStream::OutputSource {
public:
    AudioFileDocumentOutputSource(PlaybackDocument* document, const sample_rate& rate, Num::Count channelCount);

    // Stream thread, under the stream's lock; takes no lock of its own.
    Num::Count render(double* buffer, Num::Count requested) override;
    Num::Count renderStereo(double* buffer, Num::Count requested) override;
    // The document's and the stream's rate (8000 ... 192000 Hz) and channel
    // count (1 or 2) are valid and agree.
    bool acceptsFormat() override;

    // Before a command changes the transport flags (any thread), with the play
    // state held still (the source's lock, then the stream's).
    void applyPendingCommand(const TransportCommand::Logic& logic);
    void transportStateDidChange() {}

    PlaybackDocument* document() const { return document_; }

private:
    void apply(const TransportCommand::Logic& logic);
    Num::Count renderChannels(double* buffer, Num::Count requested, std::uint64_t channels);

    PlaybackDocument* document_; // not owned: the document owns the source's controller
};

} // namespace ZQ
