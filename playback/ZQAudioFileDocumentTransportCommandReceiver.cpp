#include "playback/ZQAudioFileDocumentTransportCommandReceiver.h"

#include "playback/AudioFileDocumentOutputSource.h"

#include <mutex>

using namespace ZQ::TransportCommand;

ZQAudioFileDocumentTransportCommandReceiver*
ZQAudioFileDocumentTransportCommandReceiver::initWithAudioFileDocument(ZQ::PlaybackDocument* document) {
    auto* r = new ZQAudioFileDocumentTransportCommandReceiver;
    r->audioFileDocument_ = document;
    return r;
}

void ZQAudioFileDocumentTransportCommandReceiver::setAudioFileDocument(ZQ::PlaybackDocument* document) {
    std::lock_guard<std::recursive_mutex> g(monitor());
    audioFileDocument_ = document;
}

// Commands come from the main thread and from stream threads: one at a time.
void ZQAudioFileDocumentTransportCommandReceiver::perform(std::int32_t code) {
    std::lock_guard<std::recursive_mutex> g(monitor());
    logic_.performCommand(code);
    commmandPeformed();
}

void ZQAudioFileDocumentTransportCommandReceiver::play(platform::Object*) {
    perform(kPlay);
}
void ZQAudioFileDocumentTransportCommandReceiver::record(platform::Object*) {
    perform(kRecord);
}
void ZQAudioFileDocumentTransportCommandReceiver::pause(platform::Object*) {
    perform(kPause);
}
void ZQAudioFileDocumentTransportCommandReceiver::stop(platform::Object*) {
    perform(kStop);
}
void ZQAudioFileDocumentTransportCommandReceiver::goBack(platform::Object*) {
    perform(kGoBack);
}
void ZQAudioFileDocumentTransportCommandReceiver::goForward(platform::Object*) {
    perform(kGoForward);
}
void ZQAudioFileDocumentTransportCommandReceiver::gotoStart(platform::Object*) {
    perform(kGotoStart);
}
void ZQAudioFileDocumentTransportCommandReceiver::gotoEnd(platform::Object*) {
    perform(kGotoEnd);
}

void ZQAudioFileDocumentTransportCommandReceiver::performCommand(const std::int32_t* code) {
    std::lock_guard<std::recursive_mutex> g(monitor());
    if (code) logic_.performCommand(*code);
    commmandPeformed();
}

bool ZQAudioFileDocumentTransportCommandReceiver::canPerformCommand(const std::int32_t* code) const {
    return code && Logic::canPerformCommand(*code);
}

bool ZQAudioFileDocumentTransportCommandReceiver::flag(bool Logic::*field) const {
    std::lock_guard<std::recursive_mutex> g(monitor());
    return logic_.*field;
}

void ZQAudioFileDocumentTransportCommandReceiver::gotoPosition(const ZQ::Num::Count*, platform::Object*) {
    commmandPeformed();
}

void ZQAudioFileDocumentTransportCommandReceiver::setLoopMode(const ZQ::Num::Count*) {
    commmandPeformed();
}

void ZQAudioFileDocumentTransportCommandReceiver::setInstanceChangeObserver(ChangeObserver* observer) {
    std::lock_guard<std::recursive_mutex> g(monitor());
    logic_.setChangeObserver(observer);
}

ZQ::AudioStream::ReadPosition* ZQAudioFileDocumentTransportCommandReceiver::audioStreamReadPosition() {
    platform::Ref<ZQ::PlaybackDocument> document;
    {
        std::lock_guard<std::recursive_mutex> g(monitor());
        document = audioFileDocument_.getRetained();
    }
    return document ? document->audioStreamReadPosition() : nullptr;
}

void ZQAudioFileDocumentTransportCommandReceiver::transportStateWillChange() {
    std::lock_guard<std::recursive_mutex> g(monitor());
    if (ZQ::PlaybackDocument* document = audioFileDocument_.get())
        if (auto* source = dynamic_cast<ZQ::AudioFileDocumentOutputSource*>(document->audioFileDocumentOutputSource()))
            source->applyPendingCommand(logic_);
}

void ZQAudioFileDocumentTransportCommandReceiver::transportStateDidChange() {
    std::lock_guard<std::recursive_mutex> g(monitor());
    if (ZQ::PlaybackDocument* document = audioFileDocument_.get())
        if (auto* source = dynamic_cast<ZQ::AudioFileDocumentOutputSource*>(document->audioFileDocumentOutputSource()))
            source->transportStateDidChange();
}

void ZQAudioFileDocumentTransportCommandReceiver::documentWillClose() {
    std::lock_guard<std::recursive_mutex> g(monitor());
    audioFileDocument_ = nullptr;
}

void ZQAudioFileDocumentTransportCommandReceiver::commmandPeformed() {
    std::lock_guard<std::recursive_mutex> g(monitor());
    ZQ::AudioStream::ReadPosition* p = audioStreamReadPosition();
    if (!p || !isPlaying() || isStopped()) return;
    // The position is the stream's while it plays: asked with the play state held.
    platform::Ref<ZQ::PlaybackDocument> document;
    { document = audioFileDocument_.getRetained(); }
    ZQ::AudioStream::OutputSource* source = document ? document->audioFileDocumentOutputSource() : nullptr;
    const bool done = source ? source->withPlayState([p] { return p->isDone(); }) : p->isDone();
    if (done) stop(nullptr);
}
