// The transport of one document window: owns the document's command
// receiver, observes every transport change (routing it to the receiver, the
// document and the button bar), and turns button presses into commands. The
// bar itself is built by the window side; without one the controller still
// runs the transport.
#pragma once

#include "core/holders.h"
#include "document/WindowSide.h"
#include "playback/TransportCommand.h"
#include "playback/ZQAudioFileDocumentTransportCommandReceiver.h"

#include <array>

class ZQAudioFileDocument;

// What each button shows for a transport state: on/off, and whether it is
// enabled (-1: left as it is).
struct TransportButtonLook {
    bool on = false;
    int enabled = -1;
};
std::array<TransportButtonLook, kTransportButtonCount>
transportButtonLooks(const ZQAudioFileDocumentTransportCommandReceiver& receiver);

class ZQAudioFileDocumentTransportController final : public platform::Object,
                                                     public ZQ::TransportCommand::ChangeTarget {
public:
    // Null for a null document (+1 otherwise).
    static ZQAudioFileDocumentTransportController* initWithDocument(ZQAudioFileDocument* document);

    // Main thread; once.
    void buildUI();
    bool hasLoaded() const { return hasLoaded_.isSet(); }
    platform::Ref<ZQAudioFileDocument> document() const;
    // Connects the document's source (once), then the receiver or null.
    ZQAudioFileDocumentTransportCommandReceiver* audioFileDocumentTransportCommandReceiver();
    // The receiver without connecting anything (for teardown).
    ZQAudioFileDocumentTransportCommandReceiver* audioFileDocumentTransportCommandReceiverIfBuilt() const;

    void perform_Play(platform::Object* sender);
    void perform_Record(platform::Object* sender);
    void perform_Pause(platform::Object* sender);
    void perform_Stop(platform::Object* sender);
    void perform_GotoStart(platform::Object* sender);
    void perform_Back(platform::Object* sender);
    void perform_Forward(platform::Object* sender);
    void perform_GotoEnd(platform::Object* sender);

    void transportStateWillChange() override;
    void transportStateDidChange() override;
    // Any thread; the bar is brought in line on the main thread.
    void updateTransportState();
    void documentWillClose();
    ZQTransportBar* transportBar() const { return transportBar_.get(); }

    const char* kindName() const override { return "ZQAudioFileDocumentTransportController"; }

private:
    ZQAudioFileDocumentTransportController() = default;
    ~ZQAudioFileDocumentTransportController() override;
    void send(void (ZQAudioFileDocumentTransportCommandReceiver::*command)(platform::Object*),
              platform::Object* sender);

    ZQ::OCPtr<ZQAudioFileDocumentTransportCommandReceiver> audioFileDocumentTransportCommandReceiver_;
    ZQ::OCPtr<ZQAudioFileDocument> document_;
    ZQ::OCPtr<ZQTransportBar> transportBar_;
    ZQ::once hasLoaded_;
    ZQ::auto_ptr<ZQ::TransportCommand::ChangeObserver> changeObserver_;
};
