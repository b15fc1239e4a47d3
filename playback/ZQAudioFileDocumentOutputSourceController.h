// Owns the output source of one document, connects it to a stream on first
// demand, and answers the interface's questions about the play position.
#pragma once

#include "core/holders.h"
#include "core/object.h"
#include "playback/AudioFileDocumentOutputSource.h"
#include "playback/PlaybackDocument.h"

#include <cstdint>

class ZQAudioFileDocumentOutputSourceController final : public platform::Object {
public:
    static ZQAudioFileDocumentOutputSourceController* initWithDocument(ZQ::PlaybackDocument* document); // +1
    void initState();
    // Creates the source and connects it, once (until initState/deallocState).
    void connectToStreamingServer();
    // Read without a lock.
    ZQ::AudioFileDocumentOutputSource* audioFileDocumentOutputSource() const { return source_.get(); }
    std::uint64_t presentPlaybackPosition() const;
    void hmsTime(ZQ::HMSTime* time);
    void transportStateWillChange() {}
    void transportStateDidChange() {}
    void deallocState();
    void documentWillClose();
    bool hasConnected() const { return hasConnected_.isSet(); }

    const char* kindName() const override { return "ZQAudioFileDocumentOutputSourceController"; }

private:
    ZQAudioFileDocumentOutputSourceController() = default;
    ~ZQAudioFileDocumentOutputSourceController() override;
    void destroySource();

    ZQ::OCPtr<ZQ::PlaybackDocument> document_;
    ZQ::auto_ptr<ZQ::AudioFileDocumentOutputSource> source_;
    ZQ::once hasConnected_;
};
