#include "document/ZQAudioFileDocument.h"

#include "audiofile/AudioFileExport.h"
#include "document/ZQAudioFileDocumentAtPath.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "platform/base/Format.h"
#include "platform/threads/Threads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

std::atomic<ZQDocumentWindowSide*> gWindowSide{nullptr};

} // namespace

void setDocumentWindowSide(ZQDocumentWindowSide* side) {
    gWindowSide.store(side);
}
ZQDocumentWindowSide* documentWindowSide() {
    return gWindowSide.load();
}

ZQAudioFileDocument* ZQAudioFileDocument::init() {
    auto* d = new ZQAudioFileDocument;
    d->initState();
    return d;
}

ZQAudioFileDocument::~ZQAudioFileDocument() {
    timer_.stop();
}

Ref<ZQWaveformDisplayControllerBase> ZQAudioFileDocument::display() const {
    std::lock_guard<std::mutex> g(holders_);
    return waveformDisplayController_.getRetained();
}
Ref<ZQAudioFileDocumentTransportController> ZQAudioFileDocument::transport() const {
    std::lock_guard<std::mutex> g(holders_);
    return audioFileDocumentTransportController_.getRetained();
}
Ref<ZQAudioFileDocumentOutputSourceController> ZQAudioFileDocument::sourceController() const {
    std::lock_guard<std::mutex> g(holders_);
    return audioFileDocumentOutputSourceController_.getRetained();
}

void ZQAudioFileDocument::initState() {
    Guard g(monitor());
    sampleData_.make();
    Ref<ZQAudioFileDocumentOutputSourceController> controller = Ref<ZQAudioFileDocumentOutputSourceController>::adopt(
        ZQAudioFileDocumentOutputSourceController::initWithDocument(this));
    Ref<ZQAudioFileDocumentOutputSourceController> old;
    {
        std::lock_guard<std::mutex> h(holders_);
        old = audioFileDocumentOutputSourceController_.getRetained();
        audioFileDocumentOutputSourceController_ = controller.get();
    }
    if (old) old->deallocState(); // the old one held this document: let it go
    controller->initState();
    fileOpenError_.setText("");
    viewDisplayShouldLoadInAwakeFromNib_ = false;
    markers_ = ZQ::MarkerList();
    if (sampleData_) sampleData_->clear();
    setupDocumentPreferences();
}

bool ZQAudioFileDocument::readFromURL(platform::URL* url, const std::string&, Ref<platform::Error>* error) {
    initState();
    if (!url) {
        if (error) *error = Ref<platform::Error>::adopt(platform::Error::create("bzz", 22));
        return false;
    }
    Ref<platform::URL> standardized =
        Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(url->standardizedPath()));
    setFileURL(standardized.get());
    // The thread keeps the document alive; nothing else sends loadUI on this
    // route, so the thread does once the import has ended.
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    platform::Thread::detachNew([self, standardized] {
        self->readFromURL_Offline(standardized.get());
        self->loadUI();
    });
    return true;
}

double ZQAudioFileDocument::importProgress() const {
    return import_.progress();
}

void ZQAudioFileDocument::cancelImport() {
    import_.cancel();
}

void ZQAudioFileDocument::cancelAllImports() {
    DocumentImport::cancelAll();
}

void ZQAudioFileDocument::readFromURL_Offline(platform::URL* url) {
    import_.run(url);
}

void ZQAudioFileDocument::importFailed(const std::string& why) {
    Guard g(monitor());
    fileOpenError_.setText(why);
    concludeImport();
}

bool ZQAudioFileDocument::samplesAreSummarised() const {
    return sampleWatch_.isSummarised();
}

double ZQAudioFileDocument::summarisedFraction() const {
    return sampleWatch_.summarisedFraction();
}

void ZQAudioFileDocument::checkFileOnDisk() {
    sampleWatch_.checkFileOnDisk();
}

void ZQAudioFileDocument::concludeImport() {
    std::unique_lock<std::recursive_mutex> g(monitor());
    if (!sampleData_) return; // closed meanwhile: nothing to present
    Ref<ZQWaveformDisplayControllerBase> displayController = display();
    if (!displayController) {
        viewDisplayShouldLoadInAwakeFromNib_ = true;
        return;
    }
    if (!fileOpenError_.isEmpty() && !fileOpenError_.utf8().empty()) {
        g.unlock();
        Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
        platform::performOnMainThread([self] { self->displayFileOpenError(); });
        return;
    }
    displayController->audioFileDataHasLoaded();
    connectToStreamingServer();
    Ref<ZQAudioFileDocumentTransportController> transportController =
        Ref<ZQAudioFileDocumentTransportController>::adopt(
            ZQAudioFileDocumentTransportController::initWithDocument(this));
    {
        std::lock_guard<std::mutex> h(holders_);
        audioFileDocumentTransportController_ = transportController.get();
    }
    if (transportController) transportController->buildUI();
    updateNumericAndHMSDisplays(nullptr);
}

void ZQAudioFileDocument::loadUI() {
    if (!platform::Thread::isMainThread()) {
        Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
        platform::performOnMainThread([self] { self->loadUI(); });
        return;
    }
    ZQDocumentWindowSide* side = documentWindowSide();
    Ref<ZQWaveformDisplayControllerBase> controller;
    {
        Guard g(monitor());
        // A document closed before its window was built gets none (its parts
        // would hold it for ever); so does one whose import was cancelled.
        if (importWasCancelled()) {
            deallocState();
            if (side) side->openDidEndWithoutWindow(this);
        }
        if (!sampleData_) return;
        if (side) {
            controller = Ref<ZQWaveformDisplayControllerBase>::adopt(side->createDisplayController(this));
            std::lock_guard<std::mutex> h(holders_);
            waveformDisplayController_ = controller.get();
        }
        if (controller) {
            controller->buildUI();
            if (viewDisplayShouldLoadInAwakeFromNib_) {
                viewDisplayShouldLoadInAwakeFromNib_ = false;
                concludeImport();
            }
        }
    }
    if (!controller || !side->prepareWindow(this, controller.get())) return;
    ZQDocumentController::sharedDocumentController().addDocument(this);
    side->showWindow(this, controller.get());
    sampleWatch_.startDiskCheck();
}

void ZQAudioFileDocument::displayFileOpenError() {
    Guard g(monitor());
    if (fileOpenError_.isEmpty() || fileOpenError_.utf8().empty()) return;
    const std::string text = fileOpenError_.utf8();
    ZQDocumentWindowSide* side = documentWindowSide();
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    // Dismissing the alert closes the document.
    if (side && side->runAlertSheet(this, "The audio file could not be opened.", "Ok", text, [self] {
            self->close();
            if (ZQDocumentWindowSide* s = documentWindowSide()) s->openDidEndWithoutWindow(self.get());
        })) {
        fileOpenError_.setText("");
        return;
    }
    Ref<platform::String> shown = Ref<platform::String>::adopt(platform::String::create(text));
    platform::log("Unable to display error: %@", static_cast<const platform::Object*>(shown.get()));
    fileOpenError_.setText("");
}

void ZQAudioFileDocument::close() {
    if (closing_.exchange(true)) return;
    Ref<ZQAudioFileDocument> keep = Ref<ZQAudioFileDocument>::retain(this);
    cancelExport(); // a running export stops and lets the monitor go
    if (platform::Thread::isMainThread()) exporter_.join();
    {
        Guard g(monitor());
        while (sampleData_ && sampleData_->isReading()) {
            std::printf("Closing document during import...\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        deallocState();
    }
    if (ZQDocumentWindowSide* side = documentWindowSide()) side->closeWindow(this);
    ZQDocumentController::sharedDocumentController().removeDocument(this);
}

void ZQAudioFileDocument::deallocState() {
    Guard g(monitor());
    Ref<ZQAudioFileDocumentTransportController> transportController = transport();
    Ref<ZQWaveformDisplayControllerBase> displayController = display();
    Ref<ZQAudioFileDocumentOutputSourceController> source = sourceController();
    if (transportController)
        if (ZQAudioFileDocumentTransportCommandReceiver* receiver =
                transportController->audioFileDocumentTransportCommandReceiverIfBuilt())
            receiver->documentWillClose();
    channelData_.close(); // the background analysis stops before the samples go
    if (displayController) displayController->documentWillClose();
    if (transportController) transportController->documentWillClose();
    if (source) source->documentWillClose();
    {
        std::lock_guard<std::mutex> h(holders_);
        waveformDisplayController_ = nullptr;
        audioFileDocumentOutputSourceController_ = nullptr;
        audioFileDocumentTransportController_ = nullptr;
    }
    if (platform::Thread::isMainThread()) {
        timer_.stop();
        sampleWatch_.stopDiskCheck();
    }
    sampleWatch_.stopSummaries();
    history_.clear();
    markers_ = ZQ::MarkerList();
    sampleData_.reset();
}

platform::Object* ZQAudioFileDocument::dataOfType(const std::string& type, Ref<platform::Error>* error) {
    // The open document is left as it is (no fresh state): nothing is lost.
    std::printf("-[%s %s] :: %s: %s\n", kindName(), "dataOfType:error:", "Document Type", type.c_str());
    if (error) *error = Ref<platform::Error>::adopt(platform::Error::create("NSOSStatusErrorDomain", -4));
    return nullptr;
}

void ZQAudioFileDocument::openAudioFileAtURL(ZQAudioFileDocumentAtPath* placeholder) {
    Ref<ZQAudioFileDocumentAtPath> held = Ref<ZQAudioFileDocumentAtPath>::retain(placeholder);
    if (!held) return;
    ZQAudioFileOpenOperation::openAudioFileDocumentAtPath(held.get());
}

void ZQAudioFileDocument::setFileURL(platform::URL* url) {
    fileURL_.set(url);
}
Ref<platform::URL> ZQAudioFileDocument::fileURL() const {
    return fileURL_.get();
}
std::string ZQAudioFileDocument::fileName() const {
    return fileURL_.path();
}
std::string ZQAudioFileDocument::fileOpenError() const {
    return fileOpenError_.utf8();
}

ZQ::AudioFileDocumentSampleData* ZQAudioFileDocument::sampleData() {
    return sampleData_.get();
}
bool ZQAudioFileDocument::fileHasLoaded() {
    return sampleData_ && sampleData_->isLoaded();
}
ZQ::Num::Count ZQAudioFileDocument::sampleCount(std::int32_t channel) {
    return sampleData_ ? sampleData_->channelSampleCount(channel) : ZQ::Num::Count(0ull);
}
double ZQAudioFileDocument::sampleRate() {
    return sampleData_ ? sampleData_->sampleRate() : 0.0;
}
std::int32_t ZQAudioFileDocument::channelCount() {
    return sampleData_ ? sampleData_->channelCount() : 0;
}
const ZQ::AudioFileInformationData* ZQAudioFileDocument::audioFileInformation() {
    return sampleData_ ? sampleData_->information() : nullptr;
}

void ZQAudioFileDocument::updateWaveformStore(ZQWaveformStoreClient* view) {
    if (!view || !sampleData_ || !sampleData_->isLoaded()) return;
    const std::int32_t c = view->channelNumber();
    if (!(c < channelCount())) return;
    if (c < 0)
        std::printf("-[%s %s] :: %s: %d\n", kindName(), "updateWaveformStore:", "Skipping invalid channel numbered", c);
    const ZQ::ChannelSamples samples = sampleData_->channel(c);
    if (samples.isValid() && samples.count() > 0) view->updateWaveformCache(samples);
}

void ZQAudioFileDocument::imp_updateWaveformStore(ZQWaveformStoreClient* view) {
    if (!view || !sampleData_ || !sampleData_->isLoaded()) return;
    const ZQ::ChannelSamples samples = sampleData_->channel(view->channelNumber());
    if (samples.isValid() && samples.count() > 0) view->updateWaveformCache(samples);
}

ZQWaveformDisplayControllerBase* ZQAudioFileDocument::waveformDisplayController() const {
    return display().get();
}
bool ZQAudioFileDocument::documentWindow() const {
    Ref<ZQWaveformDisplayControllerBase> c = display();
    return c && c->hasWindow();
}

#define ZQ_FORWARD(method)                                                                                             \
    void ZQAudioFileDocument::method() {                                                                               \
        if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->method();                                           \
    }
ZQ_FORWARD(zoomIn)
ZQ_FORWARD(zoomOut)
ZQ_FORWARD(zoomAmplitudeIn)
ZQ_FORWARD(zoomAmplitudeOut)
#undef ZQ_FORWARD

#define ZQ_FORWARD_LOCKED(method)                                                                                      \
    void ZQAudioFileDocument::method(platform::Object* sender) {                                                       \
        if (isExporting()) return; /* the samples are being written */                                                 \
        Guard g(monitor());                                                                                            \
        if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->method(sender);                                     \
    }
ZQ_FORWARD_LOCKED(selectAll)
ZQ_FORWARD_LOCKED(selectNone)
ZQ_FORWARD_LOCKED(cut)
ZQ_FORWARD_LOCKED(copy)
ZQ_FORWARD_LOCKED(paste)
ZQ_FORWARD_LOCKED(delete_)
ZQ_FORWARD_LOCKED(duplicate)
#undef ZQ_FORWARD_LOCKED

void ZQAudioFileDocument::updateNumericAndHMSDisplays(platform::Object*) {
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->updateNumericAndHMSDisplays();
}

ZQAudioFileDocumentTransportController* ZQAudioFileDocument::audioFileDocumentTransportController() const {
    return transport().get();
}

ZQAudioFileDocumentTransportCommandReceiver* ZQAudioFileDocument::audioFileDocumentTransportCommandReceiver() {
    Ref<ZQAudioFileDocumentTransportController> t = transport();
    return t ? t->audioFileDocumentTransportCommandReceiver() : nullptr;
}

void ZQAudioFileDocument::setChannelMuted(int channel, bool muted) {
    if (Ref<ZQAudioFileDocumentOutputSourceController> s = sourceController()) s->setChannelMuted(channel, muted);
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->channelAudibilityDidChange();
}

void ZQAudioFileDocument::setChannelSoloed(int channel, bool soloed) {
    if (Ref<ZQAudioFileDocumentOutputSourceController> s = sourceController()) s->setChannelSoloed(channel, soloed);
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->channelAudibilityDidChange();
}

bool ZQAudioFileDocument::isChannelMuted(int channel) const {
    Ref<ZQAudioFileDocumentOutputSourceController> s = sourceController();
    return s && s->isChannelMuted(channel);
}

bool ZQAudioFileDocument::isChannelSoloed(int channel) const {
    Ref<ZQAudioFileDocumentOutputSourceController> s = sourceController();
    return s && s->isChannelSoloed(channel);
}

std::uint32_t ZQAudioFileDocument::speakerMask() {
    return ZQ::AudioFileExport::ownChannelMask(audioFileInformation(), channelCount());
}

void ZQAudioFileDocument::audioOutputDidFail(const std::string& reason, bool unavailable) {
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    platform::performOnMainThread([self, reason, unavailable] {
        if (self->closing_.load()) return;
        // The transport's own Stop: the buttons and readouts follow, and the
        // position stays where the sound stopped.
        self->perform_Stop(nullptr);
        std::string text = reason.empty() ? std::string("The audio device reported no reason") : reason;
        if (text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
        if (text.back() != '.') text += '.';
        if (ZQDocumentWindowSide* side = documentWindowSide())
            side->runAlertSheet(self.get(), unavailable ? "No audio output is available." : "The audio output stopped.",
                                "Ok", text, nullptr);
    });
}

void ZQAudioFileDocument::perform_Stop(platform::Object* sender) {
    // No monitor: this arrives from stream threads while they render.
    if (Ref<ZQAudioFileDocumentTransportController> t = transport()) t->perform_Stop(sender);
}

bool ZQAudioFileDocument::validateMenuItem(const ZQMenuItem* item) {
    if (!item) return false;
    if (isExporting()) return false; // nothing changes the samples, or starts a second export, meanwhile
    if (item->action && isConvertAction(*item->action)) return true;
    if (item->action == ZQAction::Undo) return canUndo();
    if (item->action == ZQAction::Redo) return canRedo();
    Ref<ZQWaveformDisplayControllerBase> c = display();
    return c ? c->validateMenuItem(item) : false;
}

// Export, by the exporter.

std::string ZQAudioFileDocument::mediaName() const {
    return DocumentExporter::lastComponent(fileURL_.path());
}

void ZQAudioFileDocument::performConvert(ZQAction action) {
    exporter_.performConvert(action);
}
void ZQAudioFileDocument::perform_convert_Aiff_16_Integer(platform::Object*) {
    performConvert(ZQAction::ConvertAiff16Integer);
}
void ZQAudioFileDocument::perform_convert_Aiff_32_Integer(platform::Object*) {
    performConvert(ZQAction::ConvertAiff32Integer);
}
void ZQAudioFileDocument::perform_convert_Wave_16_Integer(platform::Object*) {
    performConvert(ZQAction::ConvertWave16Integer);
}
void ZQAudioFileDocument::perform_convert_Wave_32_Integer(platform::Object*) {
    performConvert(ZQAction::ConvertWave32Integer);
}
void ZQAudioFileDocument::perform_convert_Wave_32_Float(platform::Object*) {
    performConvert(ZQAction::ConvertWave32Float);
}

void ZQAudioFileDocument::save(std::function<void(bool)> finished) {
    exporter_.save(std::move(finished));
}

void ZQAudioFileDocument::saveAs(std::function<void(bool)> finished) {
    exporter_.saveAs(std::move(finished));
}

bool ZQAudioFileDocument::saveTo(const std::string& path, const SaveFormat& format, std::string* reason) {
    return exporter_.saveTo(path, format, reason);
}

bool ZQAudioFileDocument::ownSaveFormat(SaveFormat* format, bool* lossy) const {
    return exporter_.ownFormat(format, lossy);
}

void ZQAudioFileDocument::runConvertPanel(int code, platform::audio::FourCharCode type,
                                          std::function<void(bool exported)> finished) {
    exporter_.runConvertPanel(code, type, std::move(finished));
}

int ZQAudioFileDocument::changesExportCode() {
    return ZQ::AudioFileExport::kFloat32;
}

void ZQAudioFileDocument::savePanelDidEnd(bool accepted, const std::string& directory, const std::string& file,
                                          int code, platform::audio::FourCharCode type,
                                          const std::function<void(bool)>& finished) {
    exporter_.savePanelDidEnd(accepted, directory, file, code, type, finished);
}

bool ZQAudioFileDocument::exportAudioFileDataTo(const std::string& directory, const std::string& name, int code,
                                                platform::audio::FourCharCode type, std::string* reason,
                                                ZQ::AudioFileExport::Outcome* outcome) {
    return exporter_.exportTo(directory, name, code, type, reason, outcome);
}

void ZQAudioFileDocument::beginExport(const std::string& directory, const std::string& name, int code,
                                      platform::audio::FourCharCode type, std::function<void(bool)> finished) {
    exporter_.begin(directory, name, code, type, std::move(finished));
}

bool ZQAudioFileDocument::isExporting() const {
    return exporter_.isRunning();
}

double ZQAudioFileDocument::exportProgress() const {
    return exporter_.progress();
}

void ZQAudioFileDocument::cancelExport() {
    exporter_.cancel();
}

void ZQAudioFileDocument::cancelAllExports() {
    for (auto& d : ZQDocumentController::sharedDocumentController().documents())
        if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) {
            doc->cancelExport();
            doc->exporter_.join();
        }
}

ZQ::AudioStream::OutputSource* ZQAudioFileDocument::audioFileDocumentOutputSource() {
    Ref<ZQAudioFileDocumentOutputSourceController> c = sourceController();
    return c ? c->audioFileDocumentOutputSource() : nullptr;
}

std::uint64_t ZQAudioFileDocument::presentPlaybackPosition() {
    Ref<ZQAudioFileDocumentOutputSourceController> c = sourceController();
    return c ? c->presentPlaybackPosition() : 0;
}

void ZQAudioFileDocument::locatePlaybackPosition(std::uint64_t frame) {
    Ref<ZQAudioFileDocumentTransportController> t = transport();
    ZQAudioFileDocumentTransportCommandReceiver* receiver =
        t ? t->audioFileDocumentTransportCommandReceiverIfBuilt() : nullptr;
    const bool playing = receiver && receiver->isPlaying();
    if (!playing) connectToStreamingServer();
    Ref<ZQAudioFileDocumentOutputSourceController> c = sourceController();
    if (!c) return;
    // While playing, playing goes on from there (crossfaded, as a jump of
    // the transport is).
    if (playing)
        c->jumpTo(frame);
    else
        c->locate(frame);
    updateNumericAndHMSDisplays(nullptr);
}

void ZQAudioFileDocument::playSelection(std::uint64_t first, std::uint64_t last) {
    connectToStreamingServer();
    Ref<ZQAudioFileDocumentOutputSourceController> c = sourceController();
    Ref<ZQAudioFileDocumentTransportController> t = transport();
    if (!c || !t) return;
    if (last > first)
        c->setPlayRange(first, last + 1, first, true);
    else
        c->setPlayRange(first, ~std::uint64_t{0}, 0, false);
    t->perform_Play(nullptr);
    updateNumericAndHMSDisplays(nullptr);
}

void ZQAudioFileDocument::connectToStreamingServer() {
    Ref<ZQAudioFileDocumentOutputSourceController> c = sourceController();
    if (!c || c->hasConnected()) return; // the usual case, asked by every transport command
    Guard g(monitor());
    c->connectToStreamingServer();
}

ZQ::AudioStream::ReadPosition* ZQAudioFileDocument::audioStreamReadPosition() {
    Ref<ZQAudioFileDocumentOutputSourceController> c = sourceController();
    ZQ::AudioFileDocumentOutputSource* s = c ? c->audioFileDocumentOutputSource() : nullptr;
    return s ? &s->readPosition() : nullptr;
}

ZQAudioFileDocumentOutputSourceController* ZQAudioFileDocument::outputSourceController() const {
    return sourceController().get();
}

void ZQAudioFileDocument::transportStateWillChange() {
    if (platform::Thread::isMainThread()) return imp_transportStateWillChange();
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    platform::performOnMainThread([self] { self->imp_transportStateWillChange(); });
}

void ZQAudioFileDocument::transportStateDidChange() {
    if (platform::Thread::isMainThread()) return imp_transportStateDidChange();
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    platform::performOnMainThread([self] { self->imp_transportStateDidChange(); });
}

void ZQAudioFileDocument::imp_transportStateWillChange() {
    updateNumericAndHMSDisplays(nullptr);
}

namespace {

double refreshRateFor(double displayRate) {
    // Between 25 and 40 refreshes a second; 25 when the display says nothing.
    return displayRate > 25.0 ? std::min(displayRate, 40.0) : 25.0;
}

} // namespace

double ZQAudioFileDocument::refreshTimerInterval() const {
    ZQDocumentWindowSide* side = documentWindowSide();
    return 1.0 / refreshRateFor(side ? side->displayRefreshRate(const_cast<ZQAudioFileDocument*>(this)) : 0.0);
}

void ZQAudioFileDocument::imp_transportStateDidChange() {
    updateNumericAndHMSDisplays(nullptr);
    // The receiver as it is, without the connection attempt the other getter
    // makes: that takes this document's monitor, and this arrives from the
    // transport chain, whose monitors come after it (a source no stream
    // took is never connected, so every change would try again).
    Ref<ZQAudioFileDocumentTransportController> t = transport();
    ZQAudioFileDocumentTransportCommandReceiver* receiver =
        t ? t->audioFileDocumentTransportCommandReceiverIfBuilt() : nullptr;
    if (!receiver) return;
    if (!receiver->isPlaying()) {
        timer_.stop();
        return;
    }
    if (timer_.isRunning()) return;
    // The timer holds the document, as a timer holds its target, until it is
    // invalidated (at the latest when playback stops or the document closes).
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    timer_.start(refreshTimerInterval(), [self](platform::Timer*) { self->updateNumericAndHMSDisplays(nullptr); });
}

void ZQAudioFileDocument::setupDocumentPreferences() {
    ZQ::DocumentPreferences::writeDefaults();
}
