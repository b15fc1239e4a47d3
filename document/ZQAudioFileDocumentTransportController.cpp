#include "document/ZQAudioFileDocumentTransportController.h"

#include "document/MenuItem.h"
#include "document/ZQAudioFileDocument.h"
#include "platform/threads/Threads.h"

#include <mutex>

using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

std::array<TransportButtonLook, kTransportButtonCount>
transportButtonLooks(const ZQAudioFileDocumentTransportCommandReceiver& r) {
    std::array<TransportButtonLook, kTransportButtonCount> looks;
    auto at = [&looks](TransportButton b) -> TransportButtonLook& { return looks[static_cast<int>(b)]; };
    at(TransportButton::Play) = {r.isPlaying(), r.isPlaying() ? 0 : 1};
    at(TransportButton::Record) = {r.isRecording(), -1};
    at(TransportButton::Pause) = {r.isPaused(), -1};
    at(TransportButton::Stop) = {r.isStopped(), r.isStopped() ? 0 : 1};
    at(TransportButton::GotoStart) = {r.isGotoStart(), -1};
    at(TransportButton::Back) = {r.isGoingBack(), -1};
    at(TransportButton::Forward) = {r.isGoingForward(), -1};
    at(TransportButton::GotoEnd) = {r.isGotoEnd(), -1};
    return looks;
}

ZQAudioFileDocumentTransportController*
ZQAudioFileDocumentTransportController::initWithDocument(ZQAudioFileDocument* document) {
    if (!document) return nullptr;
    auto* c = new ZQAudioFileDocumentTransportController;
    c->document_ = document;
    return c;
}

ZQAudioFileDocumentTransportController::~ZQAudioFileDocumentTransportController() {
    // The receiver may outlive us: it must not keep an observer aimed here.
    if (ZQAudioFileDocumentTransportCommandReceiver* r = audioFileDocumentTransportCommandReceiver_.get())
        r->setInstanceChangeObserver(nullptr);
    changeObserver_.reset();
}

void ZQAudioFileDocumentTransportController::buildUI() {
    if (hasLoaded_.isSet()) return;
    Ref<ZQAudioFileDocument> doc = document();
    if (doc) {
        Ref<ZQAudioFileDocumentTransportCommandReceiver> receiver =
            Ref<ZQAudioFileDocumentTransportCommandReceiver>::adopt(
                ZQAudioFileDocumentTransportCommandReceiver::initWithAudioFileDocument(doc.get()));
        {
            Guard g(monitor());
            audioFileDocumentTransportCommandReceiver_ = receiver.get();
        }
        if (receiver) {
            ZQ::TransportCommand::ChangeObserver* observer =
                ZQ::auto_ptr<ZQ::TransportCommand::TargetChangeObserver>::create(this, true, true, false);
            receiver->setInstanceChangeObserver(nullptr);
            changeObserver_.reset(observer);
            receiver->setInstanceChangeObserver(observer);
            doc->connectToStreamingServer();
        }
    }
    if (transportBar_.isEmpty())
        if (ZQDocumentWindowSide* side = documentWindowSide())
            if (doc && doc->documentWindow())
                transportBar_.set(Ref<ZQTransportBar>::adopt(side->createTransportBar(this)).get());
    if (ZQTransportBar* bar = transportBar_.get()) bar->setEnabled(TransportButton::Record, false); // never enabled
    hasLoaded_.set();
    updateTransportState();
}

Ref<ZQAudioFileDocument> ZQAudioFileDocumentTransportController::document() const {
    Guard g(monitor());
    return document_.getRetained();
}

ZQAudioFileDocumentTransportCommandReceiver*
ZQAudioFileDocumentTransportController::audioFileDocumentTransportCommandReceiver() {
    // Connected outside our monitor: connecting takes the document's monitor,
    // and a stream thread's Stop holds that one while it comes to ours.
    if (Ref<ZQAudioFileDocument> doc = document()) doc->connectToStreamingServer();
    return audioFileDocumentTransportCommandReceiverIfBuilt();
}

ZQAudioFileDocumentTransportCommandReceiver*
ZQAudioFileDocumentTransportController::audioFileDocumentTransportCommandReceiverIfBuilt() const {
    Guard g(monitor());
    return audioFileDocumentTransportCommandReceiver_.get();
}

void ZQAudioFileDocumentTransportController::send(
    void (ZQAudioFileDocumentTransportCommandReceiver::*command)(platform::Object*), platform::Object* sender) {
    Ref<ZQAudioFileDocumentTransportController> keep = Ref<ZQAudioFileDocumentTransportController>::retain(this);
    Ref<ZQAudioFileDocumentTransportCommandReceiver> receiver =
        Ref<ZQAudioFileDocumentTransportCommandReceiver>::retain(audioFileDocumentTransportCommandReceiver());
    if (!receiver) return;
    (receiver.get()->*command)(sender);
    updateTransportState();
}

void ZQAudioFileDocumentTransportController::perform_Play(platform::Object* s) {
    send(&ZQAudioFileDocumentTransportCommandReceiver::play, s);
}
void ZQAudioFileDocumentTransportController::perform_Record(platform::Object* s) {
    send(&ZQAudioFileDocumentTransportCommandReceiver::record, s);
}
void ZQAudioFileDocumentTransportController::perform_Pause(platform::Object* s) {
    send(&ZQAudioFileDocumentTransportCommandReceiver::pause, s);
}
void ZQAudioFileDocumentTransportController::perform_Stop(platform::Object* s) {
    send(&ZQAudioFileDocumentTransportCommandReceiver::stop, s);
}
void ZQAudioFileDocumentTransportController::perform_GotoStart(platform::Object* s) {
    send(&ZQAudioFileDocumentTransportCommandReceiver::gotoStart, s);
}
void ZQAudioFileDocumentTransportController::perform_Back(platform::Object* s) {
    send(&ZQAudioFileDocumentTransportCommandReceiver::goBack, s);
}
void ZQAudioFileDocumentTransportController::perform_Forward(platform::Object* s) {
    send(&ZQAudioFileDocumentTransportCommandReceiver::goForward, s);
}
void ZQAudioFileDocumentTransportController::perform_GotoEnd(platform::Object* s) {
    send(&ZQAudioFileDocumentTransportCommandReceiver::gotoEnd, s);
}

// The document hears of a change outside our monitor: on the main thread it
// handles it at once, and a document whose source no stream took tries to
// connect again under its own monitor, which comes before ours.
void ZQAudioFileDocumentTransportController::transportStateWillChange() {
    Ref<ZQAudioFileDocument> doc;
    {
        Guard g(monitor());
        if (ZQAudioFileDocumentTransportCommandReceiver* r = audioFileDocumentTransportCommandReceiver_.get())
            r->transportStateWillChange();
        doc = document_.getRetained();
    }
    if (doc) doc->transportStateWillChange();
}

void ZQAudioFileDocumentTransportController::transportStateDidChange() {
    Ref<ZQAudioFileDocument> doc;
    {
        Guard g(monitor());
        if (ZQAudioFileDocumentTransportCommandReceiver* r = audioFileDocumentTransportCommandReceiver_.get())
            r->transportStateDidChange();
        doc = document_.getRetained();
    }
    if (doc) doc->transportStateDidChange();
    updateTransportState();
}

void ZQAudioFileDocumentTransportController::updateTransportState() {
    if (!platform::Thread::isMainThread()) {
        Ref<ZQAudioFileDocumentTransportController> self = Ref<ZQAudioFileDocumentTransportController>::retain(this);
        platform::performOnMainThread([self] { self->updateTransportState(); });
        return;
    }
    Ref<ZQAudioFileDocumentTransportCommandReceiver> receiver;
    Ref<ZQTransportBar> bar;
    {
        Guard g(monitor());
        if (!hasLoaded_.isSet()) return;
        receiver = audioFileDocumentTransportCommandReceiver_.getRetained();
        bar = transportBar_.getRetained();
    }
    if (!receiver || !bar) return;
    // The flags are read outside our monitor (the receiver's monitor comes
    // first in the transport chain); the bar is only touched here, on the
    // main thread.
    const auto looks = transportButtonLooks(*receiver);
    bool pauseChanged = false;
    for (int i = 0; i < kTransportButtonCount; ++i) {
        const auto b = static_cast<TransportButton>(i);
        if (bar->state(b) != looks[i].on) {
            bar->setState(b, looks[i].on);
            pauseChanged = pauseChanged || b == TransportButton::Pause;
        }
        if (looks[i].enabled >= 0 && bar->isEnabled(b) != (looks[i].enabled == 1))
            bar->setEnabled(b, looks[i].enabled == 1);
    }
    // The menus' Stop and Pause follow the pause too, which no button's
    // enabling shows.
    if (pauseChanged) commandStateMayHaveChanged();
}

void ZQAudioFileDocumentTransportController::documentWillClose() {
    Ref<ZQAudioFileDocument> doc = document();
    if (!doc) return;
    platform::Object* stopButton = nullptr;
    {
        Guard g(monitor());
        if (ZQTransportBar* bar = transportBar_.get()) stopButton = bar->button(TransportButton::Stop);
    }
    // The Stop is sent outside our monitor: the change it causes comes back
    // here through the receiver, whose monitor a stream thread may hold.
    perform_Stop(stopButton);
    Guard g(monitor());
    document_ = nullptr;
    transportBar_ = nullptr; // the bar holds us while its window lives
}
