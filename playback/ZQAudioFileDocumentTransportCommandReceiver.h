// A document's transport: the flags of the transport logic, the commands that
// change them, and the check after every command that stops playback that
// has run to the end. Commands arrive on the main thread (buttons, menus) and
// on a stream thread (the end-of-file Stop); they run one at a time under the
// receiver's monitor, which the flag readers take too.
#pragma once

#include "core/holders.h"
#include "playback/PlaybackDocument.h"
#include "playback/TransportCommand.h"

#include <cstdint>
#include <mutex>

class ZQAudioFileDocumentTransportCommandReceiver final : public platform::Object {
public:
    using Logic = ZQ::TransportCommand::Logic;

    static ZQAudioFileDocumentTransportCommandReceiver* initWithAudioFileDocument(ZQ::PlaybackDocument* document); // +1
    void setAudioFileDocument(ZQ::PlaybackDocument* document);

    void play(platform::Object* sender);
    void record(platform::Object* sender);
    void pause(platform::Object* sender);
    void stop(platform::Object* sender);
    void goBack(platform::Object* sender);
    void goForward(platform::Object* sender);
    void gotoStart(platform::Object* sender);
    void gotoEnd(platform::Object* sender);
    void performCommand(const std::int32_t* code);
    bool canPerformCommand(const std::int32_t* code) const;
    void gotoPosition(const ZQ::Num::Count* position, platform::Object* sender);
    void setLoopMode(const ZQ::Num::Count* mode);
    ZQ::Num::Count loopMode() const {
        std::lock_guard<std::recursive_mutex> g(monitor());
        return logic_.loopMode_;
    }

    bool isPlaying() const { return flag(&Logic::isPlaying_); }
    bool isRecording() const { return flag(&Logic::isRecording_); }
    bool isPaused() const { return flag(&Logic::isPaused_); }
    bool isGoingBack() const { return flag(&Logic::isGoingBack_); }
    bool isGoingForward() const { return flag(&Logic::isGoingForward_); }
    bool isGotoStart() const { return flag(&Logic::isGotoStart_); }
    bool isGotoPosition() const { return flag(&Logic::isGotoPosition_); }
    bool isGotoEnd() const { return flag(&Logic::isGotoEnd_); }
    bool isStopped() const { return flag(&Logic::isStopping_); }
    // Read-only; read it under the receiver's monitor when other threads may
    // be sending commands.
    const Logic* transportCommandLogic() const { return &logic_; }
    void setInstanceChangeObserver(ZQ::TransportCommand::ChangeObserver* observer);

    // Null without a document.
    ZQ::AudioStream::ReadPosition* audioStreamReadPosition();

    // From the observer chain: the document's source follows the pending
    // command before the flags change.
    void transportStateWillChange();
    void transportStateDidChange();
    void documentWillClose();
    // Stops playback that a command left at the end (the name is the
    // protocol's own).
    void commmandPeformed();

    const char* kindName() const override { return "ZQAudioFileDocumentTransportCommandReceiver"; }

private:
    ZQAudioFileDocumentTransportCommandReceiver() = default;
    void perform(std::int32_t code);
    bool flag(bool Logic::*field) const;

    Logic logic_;
    ZQ::OCPtr<ZQ::PlaybackDocument> audioFileDocument_;
};
