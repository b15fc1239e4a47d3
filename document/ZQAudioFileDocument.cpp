#include "document/ZQAudioFileDocument.h"

#include "audiofile/AudioFileExport.h"
#include "audiofile/MappedFile.h"
#include "document/ZQAudioFileDocumentAtPath.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "platform/base/Format.h"
#include "platform/threads/Threads.h"

#include <QSettings>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <sstream>
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

namespace {
// Every running import's control, for termination.
std::mutex gImportsLock;
std::set<std::shared_ptr<ZQ::DecodeControl>>& runningImports() {
    static auto* imports = new std::set<std::shared_ptr<ZQ::DecodeControl>>; // lives for the whole process
    return *imports;
}
} // namespace

double ZQAudioFileDocument::importProgress() const {
    std::lock_guard<std::mutex> h(holders_);
    return import_ ? import_->fraction() : -1.0;
}

void ZQAudioFileDocument::cancelImport() {
    std::lock_guard<std::mutex> h(holders_);
    if (import_) import_->cancel();
}

void ZQAudioFileDocument::cancelAllImports() {
    std::lock_guard<std::mutex> g(gImportsLock);
    for (const auto& control : runningImports())
        control->cancel();
}

void ZQAudioFileDocument::readFromURL_Offline(platform::URL* url) {
    if (!url) return;
    Guard g(monitor());
    ZQ::t_url wrapped = ZQ::t_url::fileURL(url->standardizedPath());
    if (wrapped.isEmpty() || !sampleData_) return;
    Ref<platform::URL> u = wrapped.get();
    auto control = std::make_shared<ZQ::DecodeControl>();
    importCancelled_.store(false);
    {
        std::lock_guard<std::mutex> h(holders_);
        import_ = control;
    }
    {
        std::lock_guard<std::mutex> r(gImportsLock);
        runningImports().insert(control);
    }
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    if (documentWindowSide())
        platform::performOnMainThread([self] {
            if (ZQDocumentWindowSide* side = documentWindowSide()) side->importDidBegin(self.get());
        });
    const bool ok = sampleData_->read(u.get(), control.get());
    {
        std::lock_guard<std::mutex> r(gImportsLock);
        runningImports().erase(control);
    }
    {
        std::lock_guard<std::mutex> h(holders_);
        import_.reset();
    }
    if (documentWindowSide())
        platform::performOnMainThread([self] {
            if (ZQDocumentWindowSide* side = documentWindowSide()) side->importDidEnd(self.get());
        });
    // The summaries are built while the window is made (their workers yield
    // to it), so that the overview completes as soon after as it can.
    if (ok) startSummaries();
    // The file's markers, within its frames (a file may point past its end).
    markers_ = ZQ::MarkerList();
    if (ok && sampleData_->information()) {
        markers_ = ZQ::markersFromInformation(*sampleData_->information());
        markers_.clampTo(sampleData_->frameCount());
    }
    if (!ok && control->cancelled) {
        // The user's choice: no alert, no window; the caller lets the document go.
        importCancelled_.store(true);
        return;
    }
    if (!ok) {
        platform::log("Failed to read audio file: %@", static_cast<const platform::Object*>(u.get()));
        if (!control->refusal.empty())
            fileOpenError_.setText(platform::format("The file '%s' %s.", fileName().c_str(), control->refusal.c_str()));
        else
            fileOpenError_.setText(
                platform::format("The file '%s' may be an unreadable format or possibly damaged.", fileName().c_str()));
    }
    concludeImport();
}

void ZQAudioFileDocument::importFailed(const std::string& why) {
    Guard g(monitor());
    fileOpenError_.setText(why);
    concludeImport();
}

void ZQAudioFileDocument::startSummaries() {
    Guard g(monitor());
    const ZQ::SampleSnapshot samples = sampleData_ ? sampleData_->samples() : nullptr;
    // Workers already at the blocks these samples still need go on.
    if (samples && summaryBuilder_ && summaryBuilder_->covers(*samples)) return;
    summaryBuilder_.reset(); // stops and waits for what ran before
    if (!samples || samples->isSummarised()) return;
    // The workers tell the main thread at most ten times a second, and
    // always once everything is known. They never wait for it.
    summaryBuilder_ = std::make_unique<ZQ::SummaryBuilder>(*samples, 2, [this, samples] {
        const auto now =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
        const bool done = samples->isSummarised();
        if (!done && now - lastSummaryNotice_.load(std::memory_order_relaxed) < 100'000'000) return;
        if (summaryNoticePending_.exchange(true) && !done) return;
        lastSummaryNotice_.store(now, std::memory_order_relaxed);
        Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
        platform::performOnMainThread([self] {
            self->summaryNoticePending_.store(false);
            self->summariesDidGrow();
        });
    });
}

void ZQAudioFileDocument::summariesDidGrow() {
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->audioFileSummaryDidGrow();
}

bool ZQAudioFileDocument::samplesAreSummarised() const {
    const ZQ::SampleSnapshot samples = sampleData_ ? sampleData_->samples() : nullptr;
    return !samples || samples->isSummarised();
}

double ZQAudioFileDocument::summarisedFraction() const {
    const ZQ::SampleSnapshot samples = sampleData_ ? sampleData_->samples() : nullptr;
    return samples ? samples->summarisedFraction() : 1.0;
}

void ZQAudioFileDocument::checkFileOnDisk() {
    if (toldOfDiskChange_ || !sampleData_ || !sampleData_->changedOnDisk()) return;
    toldOfDiskChange_ = true;
    // Once: the samples read past the file's new end are silence from now
    // on, and whatever the window shows stays editable and exportable.
    const ZQ::SampleSnapshot samples = sampleData_->samples();
    bool lost = false;
    if (samples)
        for (const ZQ::SamplePiece& p : samples->pieces())
            if (auto* f = dynamic_cast<const ZQ::FileSampleBlock*>(p.block.get()); f && f->file().lostPages())
                lost = true;
    std::string name = fileName();
    if (const auto slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
    const std::string text =
        lost ? "Part of it can no longer be read; it plays and exports as silence. Your edits are kept and can "
               "still be exported."
             : "What the window shows may no longer match the file. Your edits are kept and can still be exported.";
    platform::log("The file %s changed on disk", name.c_str());
    if (ZQDocumentWindowSide* side = documentWindowSide())
        side->runAlertSheet(this, "The file \u201c" + name + "\u201d changed on disk.", "Ok", text, nullptr);
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
    // A file truncated or rewritten under the document is noticed within
    // two seconds, whether or not anything reads it.
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    diskCheck_.start(2.0, [self](platform::Timer*) { self->checkFileOnDisk(); });
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
    if (platform::Thread::isMainThread()) exportJob_.join();
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
        diskCheck_.stop();
    }
    summaryBuilder_.reset();
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

// Export.

namespace {
struct ConvertFormat {
    ZQAction action;
    int code;
    platform::audio::FourCharCode type;
};
constexpr ConvertFormat kConvertFormats[] = {
    {ZQAction::ConvertWave16Integer, ZQ::AudioFileExport::kInteger16, platform::audio::kAudioFileWAVEType},
    {ZQAction::ConvertWave32Integer, ZQ::AudioFileExport::kInteger32, platform::audio::kAudioFileWAVEType},
    {ZQAction::ConvertWave32Float, ZQ::AudioFileExport::kFloat32, platform::audio::kAudioFileWAVEType},
    {ZQAction::ConvertAiff16Integer, ZQ::AudioFileExport::kInteger16, platform::audio::kAudioFileAIFFType},
    {ZQAction::ConvertAiff32Integer, ZQ::AudioFileExport::kInteger32, platform::audio::kAudioFileAIFFType},
};

// The last path component of `path`.
std::string lastComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}
} // namespace

std::string ZQAudioFileDocument::mediaName() const {
    return lastComponent(fileURL_.path());
}

void ZQAudioFileDocument::performConvert(ZQAction action) {
    for (const ConvertFormat& f : kConvertFormats) {
        if (f.action != action) continue;
        if (!platform::Thread::isMainThread()) {
            Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
            platform::performOnMainThread([self, action] { self->performConvert(action); });
            return;
        }
        runConvertPanel(f.code, f.type);
        return;
    }
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

void ZQAudioFileDocument::runConvertPanel(int code, platform::audio::FourCharCode type,
                                          std::function<void(bool exported)> finished) {
    ZQDocumentWindowSide* side = documentWindowSide();
    const std::string extension = type == platform::audio::kAudioFileAIFFType ? "aif" : "wav";
    // The document's name without its folder and extension.
    std::string proposed;
    if (Ref<platform::URL> url = fileURL()) {
        proposed = url->lastPathComponent();
        bool hasExtension = false;
        const std::string ext = url->pathExtension(&hasExtension);
        if (hasExtension) proposed.resize(proposed.size() - ext.size() - 1);
    }
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    auto done = [self, code, type, finished](bool accepted, const std::string& directory, const std::string& file) {
        self->savePanelDidEnd(accepted, directory, file, code, type, finished);
    };
    if (!side || !side->runSavePanel(this, extension, proposed, done)) {
        std::printf("Error creating save panel\n");
        if (finished) finished(false);
    }
}

int ZQAudioFileDocument::changesExportCode() {
    return ZQ::AudioFileExport::kFloat32;
}

void ZQAudioFileDocument::savePanelDidEnd(bool accepted, const std::string& directory, const std::string& file,
                                          int code, platform::audio::FourCharCode type,
                                          const std::function<void(bool)>& finished) {
    if (!accepted) {
        if (finished) finished(false);
        return;
    }
    beginExport(directory, file, code, type, finished);
}

void ZQAudioFileDocument::stopForExport() {
    Guard g(monitor());
    if (Ref<ZQAudioFileDocumentTransportController> t = transport()) t->perform_Stop(nullptr);
}

bool ZQAudioFileDocument::exportAudioFileDataTo(const std::string& directory, const std::string& name, int code,
                                                platform::audio::FourCharCode type, std::string* reason,
                                                ZQ::AudioFileExport::Outcome* outcome) {
    stopForExport();
    if (!writeExport(directory, name, code, type, markers_, reason, nullptr, outcome, true)) return false;
    exportDidWriteFile();
    return true;
}

bool ZQAudioFileDocument::writeExport(const std::string& directory, const std::string& name, int code,
                                      platform::audio::FourCharCode type, const ZQ::MarkerList& markers,
                                      std::string* reason, ZQ::AudioFileExport::Progress* progress,
                                      ZQ::AudioFileExport::Outcome* outcome, bool holdMonitor) {
    if (directory.empty() || name.empty()) {
        std::printf("Export: Invalid argument\n");
        if (reason) *reason = "No file was chosen.";
        return false;
    }
    std::unique_lock<std::recursive_mutex> g(monitor(), std::defer_lock);
    if (holdMonitor) g.lock();
    const std::string component = lastComponent(name);
    if (component.empty() || component == "/") return false;
    const std::string path = directory.back() == '/' ? directory + component : directory + "/" + component;
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    if (!url || url->path().empty()) return false;
    bool known = false;
    for (const ConvertFormat& f : kConvertFormats)
        known = known || (f.code == code && f.type == type);
    if (!known) return false;
    if (ZQ::AudioFileExport::write(sampleData_.get(), url.get(), type, code, reason, progress, outcome, &markers))
        return true;
    if (!(outcome && outcome->cancelled)) std::printf("Write failed\n");
    return false;
}

void ZQAudioFileDocument::exportDidWriteFile() {
    {
        Guard g(monitor());
        // The changes are kept in a file now: closing need not ask about them.
        history_.markClean();
    }
    changeCount_.fetch_add(1);
    if (Ref<ZQWaveformDisplayControllerBase> c = display()) c->documentEditedStateDidChange();
    commandStateMayHaveChanged();
}

bool ZQAudioFileDocument::isExporting() const {
    return exportJob_.isRunning();
}

double ZQAudioFileDocument::exportProgress() const {
    return exportJob_.progress();
}

void ZQAudioFileDocument::cancelExport() {
    exportJob_.cancel();
}

void ZQAudioFileDocument::cancelAllExports() {
    for (auto& d : ZQDocumentController::sharedDocumentController().documents())
        if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) {
            doc->cancelExport();
            doc->exportJob_.join();
        }
}

void ZQAudioFileDocument::beginExport(const std::string& directory, const std::string& name, int code,
                                      platform::audio::FourCharCode type, std::function<void(bool)> finished) {
    // The job writes its own copy of the markers (the samples stay still
    // while it runs; the markers are the main thread's).
    ZQ::MarkerList markers;
    {
        Guard g(monitor());
        markers = markers_;
    }
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(this);
    auto work = [self, directory, name, code, type,
                 markers = std::move(markers)](ZQ::AudioFileExport::Progress* progress, std::string* reason,
                                               ZQ::AudioFileExport::Outcome* outcome) {
        return self->writeExport(directory, name, code, type, markers, reason, progress, outcome, false);
    };
    auto done = [self, finished](bool written, const std::string& reason, const ZQ::AudioFileExport::Outcome& outcome) {
        ZQDocumentWindowSide* side = documentWindowSide();
        if (side) side->exportDidEnd(self.get());
        commandStateMayHaveChanged();
        const bool open = !self->closing_.load();
        if (written) self->exportDidWriteFile();
        if (open && side && !written && !outcome.cancelled && !reason.empty())
            side->runAlertSheet(self.get(), "The audio file could not be exported.", "Ok", reason, nullptr);
        if (open && side && written && outcome.clippedSamples > 0)
            side->exportClippedSamples(self.get(), outcome.clippedSamples);
        if (finished) finished(written);
    };
    // One at a time (exports start on the main thread only); none once closing.
    if (closing_.load() || exportJob_.isRunning()) {
        if (finished) finished(false);
        return;
    }
    stopForExport();
    if (!exportJob_.start(std::move(work), std::move(done))) {
        if (finished) finished(false);
        return;
    }
    commandStateMayHaveChanged();
    if (ZQDocumentWindowSide* side = documentWindowSide()) side->exportDidBegin(this);
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
