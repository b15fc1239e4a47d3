// The application shell: the dispatch centre that routes the application's
// menu commands to the current document (the document of the active
// window) and decides which of them are enabled, the receiver of the zoom
// commands, and the delegate that ends the application in order.
#pragma once

#include "document/MenuItem.h"
#include "document/ZQAudioFileDocument.h"

#include <QObject>
#include <functional>
#include <mutex>
#include <string>

class QUrl;
class QWidget;

namespace ZQ::Application {
// The maker's web page (one constant of the build, ZQ_WEBSITE).
const char* websiteAddress();
// Whether that is a real address: not empty, http or https, and not a
// placeholder (a reserved example or test domain). The Help menu offers
// the page only then.
bool hasWebsite();
// Tests stand in for the build's constant (null: the constant again).
void setWebsiteAddressForTesting(const char* address);
const char* version();
// The About text: our version and the versions of Qt, libsndfile and
// PortAudio in use.
std::string aboutText();
} // namespace ZQ::Application

class ZQApplicationDispatchCenter {
public:
    static ZQApplicationDispatchCenter& shared();
    // The current document when it is an audio document, else null.
    static platform::Ref<ZQAudioFileDocument> currentAudioDocument();

    bool validateMenuItem(const ZQMenuItem* item);
    // Opens the web page in the browser; when that fails, says so (with the
    // address, to be opened by hand) on `parent`. Nothing without an address.
    void perform_VisitZanquorOnline(QWidget* parent = nullptr);
    // What hands an address to the browser (QDesktopServices by default);
    // true once it has been handed over.
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { urlOpener_ = std::move(opener); }
    void perform_showWaveformColorPanel();
    void duplicate(platform::Object* sender);
    // The five export actions, forwarded to the current document.
    void perform_convert(ZQAction action);
    void selectNone(platform::Object*) {}

private:
    ZQApplicationDispatchCenter() = default;
    std::recursive_mutex sync_;
    std::function<bool(const QUrl&)> urlOpener_;
};

// The zoom menu items: sent to the current document when there is one, and
// enabled by canZoom.
namespace ZQWaveformZoomMessageReceiver {
platform::Ref<ZQAudioFileDocument> currentDocument();
void zoomIn();
void zoomOut();
void zoomAmplitudeIn();
void zoomAmplitudeOut();
void zoomOutEntirely();
void zoomToSelection();
// Whether the named command would change the current document's views
// ("zoomIn", "zoomOut", "amplitudeIn", "amplitudeOut", "zoomOutEntirely",
// "zoomToSelection"); false without a document window.
bool canZoom(const char* command);
} // namespace ZQWaveformZoomMessageReceiver

class ZQApplicationDelegate {
public:
    static ZQApplicationDelegate& shared();

    // Switches the allocator's leak report on.
    void init();
    // The termination steps, in order, under the delegate's monitor: pending
    // opens stop, every stream thread is told, the stream registry is
    // emptied, the stream controller ends. Always "now".
    bool applicationShouldTerminate();
    // Quitting, from any command (menu, last window, SIGTERM): the steps
    // above, the will-terminate notification, then every document closes and
    // the event loop ends. Main thread; a second call does nothing.
    void terminate();
    // Quit as the user asks for it (the menu, Ctrl+Q): each document with
    // changes first asks whether to export them; then terminate(), unless
    // one of them was cancelled. Main thread.
    void requestQuit();
    bool isTerminating() const { return terminating_; }
    // Ends the application, on a later turn of the loop, when no document
    // is open or opening and no window is on screen (the only open was
    // cancelled or failed). Main thread.
    void quitIfNothingIsLeft();
    // Whether the above may end the application: the program's own main
    // turns it on (a test process that hosts windows does not).
    void setQuitsWhenNothingIsLeft(bool on) { quitsWhenNothingIsLeft_ = on; }
    // SIGTERM and SIGINT end the application as Quit does. catchSignals
    // (before the QApplication exists, as early as possible) keeps a signal
    // from ending the process unasked while it starts; installSignalHandlers
    // (once it exists) acts on it.
    static void catchSignals();
    void installSignalHandlers();

    // Hears of each termination step as it ends, then of the notification
    // (as 0) and of the documents closed (as -1).
    void setStepObserver(std::function<void(int step)> observer) { stepObserver_ = std::move(observer); }

private:
    bool signalNotifierInstalled_ = false;
    ZQApplicationDelegate() = default;
    // Every open document's single teardown (main thread).
    void closeAllDocuments();
    void step(int n) {
        if (stepObserver_) stepObserver_(n);
    }
    std::recursive_mutex sync_;
    bool terminating_ = false;
    bool quitsWhenNothingIsLeft_ = false;
    std::function<void(int)> stepObserver_;
};
