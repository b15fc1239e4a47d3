#include "app/ZQApplicationShell.h"

#include "app/AccessKeys.h"
#include "app/ZQAudioWaveformColorSelectionPanel.h"
#include "audiofile/AudioFileInformation.h"
#include "core/allocator.h"
#include "document/Termination.h"
#include "document/ZQDocumentController.h"
#include "platform/audioout/AudioQueue.h"
#include "platform/soundfile/AudioFile.h"
#include "platform/threads/Threads.h"
#include "window/ZQWaveformDisplayController.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QUrl>
#include <csignal>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace ZQ::Application {

namespace {
std::optional<std::string> websiteForTesting;
} // namespace

const char* websiteAddress() {
    return websiteForTesting ? websiteForTesting->c_str() : ZQ_WEBSITE;
}

void setWebsiteAddressForTesting(const char* address) {
    websiteForTesting = address ? std::optional<std::string>(address) : std::nullopt;
}

bool hasWebsite() {
    const QUrl url(QString::fromUtf8(websiteAddress()).trimmed(), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return false;
    const QString host = url.host().toLower();
    if (host.isEmpty() || host == QLatin1String("localhost")) return false;
    // The domains kept for examples and tests (RFC 2606) are placeholders.
    for (const char* reserved :
         {"example.com", "example.net", "example.org", "example", "test", "invalid", "localhost"})
        if (host == QLatin1String(reserved) || host.endsWith(QLatin1Char('.') + QLatin1String(reserved))) return false;
    return true;
}

const char* version() {
    return ZQ_VERSION;
}

std::string aboutText() {
    return std::string("ZQ Audio ") + version() + "\n\nQt " + qVersion() + "\n" +
           platform::audio::soundFileLibraryVersion() + "\n" + platform::audio::audioOutputLibraryVersion();
}

} // namespace ZQ::Application

// Dispatch centre.

namespace {

// What the export itself refuses before it writes anything (the document
// "has no samples to export"): a store without its information record, as
// while the file is still opening, a channel count no file can hold, or
// channels that lack frames the record announces. A document of no frames
// exports (as an empty file).
bool isExportable(ZQAudioFileDocument* document) {
    if (!document->fileHasLoaded()) return false;
    const ZQ::AudioFileInformationData* info = document->audioFileInformation();
    if (!info) return false;
    const std::int32_t channels = info->channelCount();
    if (channels < 1 || channels > ZQ::AudioFileDocumentSampleData::kMaxChannels) return false;
    const std::int64_t length = info->fileLengthFrames();
    if (length < 0) return false;
    for (std::int32_t c = 0; c < channels; ++c)
        if (document->sampleCount(c).v_ < static_cast<std::uint64_t>(length)) return false;
    return true;
}

} // namespace

ZQApplicationDispatchCenter& ZQApplicationDispatchCenter::shared() {
    static ZQApplicationDispatchCenter* center = new ZQApplicationDispatchCenter; // for the whole process
    return *center;
}

Ref<ZQAudioFileDocument> ZQApplicationDispatchCenter::currentAudioDocument() {
    Ref<platform::Object> current = ZQDocumentController::sharedDocumentController().currentDocument();
    return Ref<ZQAudioFileDocument>::retain(dynamic_cast<ZQAudioFileDocument*>(current.get()));
}

bool ZQApplicationDispatchCenter::validateMenuItem(const ZQMenuItem* item) {
    if (!item) return false;
    Ref<ZQAudioFileDocument> document;
    {
        Guard g(sync_);
        document = currentAudioDocument();
    }
    if (!item->action) return false;
    switch (*item->action) {
    case ZQAction::ShowWaveformColorPanel:
        return true;
    case ZQAction::VisitOnline:
        return ZQ::Application::hasWebsite(); // no page, no item
    case ZQAction::Duplicate:
        return document && document->validateMenuItem(item);
    case ZQAction::ConvertWave16Integer:
    case ZQAction::ConvertWave32Integer:
    case ZQAction::ConvertWave32Float:
    case ZQAction::ConvertAiff16Integer:
    case ZQAction::ConvertAiff32Integer:
    case ZQAction::ConvertFlac16:
    case ZQAction::ConvertFlac24:
    case ZQAction::ConvertVorbis:
    case ZQAction::ConvertOpus:
    case ZQAction::ConvertMp3:
        return document && isExportable(document.get()) && document->validateMenuItem(item);
    default:
        return false;
    }
}

void ZQApplicationDispatchCenter::perform_VisitZanquorOnline(QWidget* parent) {
    if (!ZQ::Application::hasWebsite()) return;
    const QString address = QString::fromUtf8(ZQ::Application::websiteAddress()).trimmed();
    const bool opened = urlOpener_ ? urlOpener_(QUrl(address)) : QDesktopServices::openUrl(QUrl(address));
    if (opened) return;
    // Without a browser (or a desktop that knows one) nothing would happen:
    // the user is told, and given the address to open elsewhere.
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("webPageAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("ZQ Audio on the Web"));
    box->setText(QStringLiteral("The web page could not be opened."));
    box->setInformativeText(
        QStringLiteral("No web browser opened %1. You can open the address in a browser yourself.").arg(address));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    ZQ::AccessKeys::give(box);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

void ZQApplicationDispatchCenter::perform_showWaveformColorPanel() {
    Guard g(sync_);
    ZQAudioWaveformColorSelectionPanelController::displayAudioWaveformColorSelectionPanel();
}

void ZQApplicationDispatchCenter::duplicate(platform::Object* sender) {
    Guard g(sync_);
    if (Ref<ZQAudioFileDocument> d = currentAudioDocument()) d->duplicate(sender);
}

void ZQApplicationDispatchCenter::perform_convert(ZQAction action) {
    Guard g(sync_);
    if (Ref<ZQAudioFileDocument> d = currentAudioDocument()) d->performConvert(action);
}

// Zoom receiver.

namespace ZQWaveformZoomMessageReceiver {

Ref<ZQAudioFileDocument> currentDocument() {
    return ZQApplicationDispatchCenter::currentAudioDocument();
}

void zoomIn() {
    if (Ref<ZQAudioFileDocument> d = currentDocument()) d->zoomIn();
}
void zoomOut() {
    if (Ref<ZQAudioFileDocument> d = currentDocument()) d->zoomOut();
}
void zoomAmplitudeIn() {
    if (Ref<ZQAudioFileDocument> d = currentDocument()) d->zoomAmplitudeIn();
}
void zoomAmplitudeOut() {
    if (Ref<ZQAudioFileDocument> d = currentDocument()) d->zoomAmplitudeOut();
}
void zoomOutEntirely() {
    if (Ref<ZQAudioFileDocument> d = currentDocument())
        if (auto* c = dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController())) c->zoomOutEntirely();
}
void zoomToSelection() {
    if (Ref<ZQAudioFileDocument> d = currentDocument())
        if (auto* c = dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController())) c->zoomToSelection();
}

bool canZoom(const char* command) {
    Ref<ZQAudioFileDocument> d = currentDocument();
    auto* c = d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr;
    if (!c || !command) return false;
    const std::string name = command;
    if (name == "zoomIn") return c->canZoomIn();
    if (name == "zoomOut") return c->canZoomOut();
    if (name == "amplitudeIn") return c->canZoomAmplitudeIn();
    if (name == "amplitudeOut") return c->canZoomAmplitudeOut();
    if (name == "zoomOutEntirely") return c->canZoomOutEntirely();
    if (name == "zoomToSelection") return c->canZoomToSelection();
    return false;
}

} // namespace ZQWaveformZoomMessageReceiver

// Delegate.

ZQApplicationDelegate& ZQApplicationDelegate::shared() {
    static ZQApplicationDelegate* delegate = new ZQApplicationDelegate; // for the whole process
    return *delegate;
}

void ZQApplicationDelegate::init() {
    ZQ::setReportOnExit(true);
}

bool ZQApplicationDelegate::applicationShouldTerminate() {
    Guard g(sync_);
    return ZQ::applicationShouldTerminate([this](ZQ::TerminationStep s) {
        step(static_cast<int>(s));
        // Once no open can start any more, every document is torn down while
        // the streams its source may be attached to still run.
        if (s == ZQ::TerminationStep::OpensStopped) closeAllDocuments();
    });
}

void ZQApplicationDelegate::closeAllDocuments() {
    if (!platform::Thread::isMainThread()) return;
    ZQAudioFileDocument::cancelAllExports();
    // What finished opening meanwhile reaches the main thread first, so
    // that it is closed with the rest.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    for (auto& d : ZQDocumentController::sharedDocumentController().documents())
        if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) doc->close();
}

void ZQApplicationDelegate::quitIfNothingIsLeft() {
    if (!quitsWhenNothingIsLeft_ || isTerminating()) return;
    // A later turn of the loop, through the same queue that brings finished
    // opens to the main thread: an open that left the list before this was
    // asked has handed its window over ahead of it.
    platform::performOnMainThread([] {
        ZQApplicationDelegate& delegate = ZQApplicationDelegate::shared();
        if (delegate.isTerminating() || !ZQDocumentController::sharedDocumentController().documents().empty()) return;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) return;
        delegate.terminate();
    });
}

void ZQApplicationDelegate::requestQuit() {
    if (isTerminating()) return;
    // Every document with changes is asked about, one window at a time; a
    // Cancel anywhere keeps everything open (what was exported stays so).
    auto windows = std::make_shared<std::vector<QPointer<ZQDocumentWindow>>>();
    for (auto& d : ZQDocumentController::sharedDocumentController().documents())
        if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get()); doc && doc->isDocumentEdited())
            if (auto* c = dynamic_cast<ZQWaveformDisplayController*>(doc->waveformDisplayController()))
                if (c->window()) windows->push_back(c->window());
    auto next = std::make_shared<std::function<void(std::size_t)>>();
    *next = [windows, next](std::size_t i) {
        while (i < windows->size() && !(*windows)[i])
            ++i;
        if (i >= windows->size()) {
            ZQApplicationDelegate::shared().terminate();
            *next = nullptr; // the last step lets go of the chain
            return;
        }
        (*windows)[i]->askToSaveChanges([next, i](bool proceed) {
            if (!*next) return;
            if (proceed)
                (*next)(i + 1);
            else
                *next = nullptr;
        });
    };
    (*next)(0);
}

void ZQApplicationDelegate::terminate() {
    {
        Guard g(sync_);
        if (terminating_) return;
        terminating_ = true;
    }
    applicationShouldTerminate();
    ZQ::postApplicationWillTerminate();
    step(0);
    closeAllDocuments(); // anything that arrived after the first pass
    for (auto& d : ZQDocumentController::sharedDocumentController().documents())
        ZQDocumentController::sharedDocumentController().removeDocument(d.get());
    step(-1);
    QCoreApplication::quit();
}

namespace {
int signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}
} // namespace

void ZQApplicationDelegate::catchSignals() {
    // The handler only writes a byte; the main thread reads it and quits. A
    // signal that comes while the application is still starting waits in
    // the pipe until the event loop can take it.
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

void ZQApplicationDelegate::installSignalHandlers() {
    catchSignals();
    if (signalPipe[0] < 0 || signalNotifierInstalled_) return;
    signalNotifierInstalled_ = true;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
        notifier->setEnabled(false);
        ZQApplicationDelegate::shared().terminate();
    });
}
