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

namespace ZQ::Application {
// The maker's web page (one constant of the build).
const char* websiteAddress();
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
    void perform_VisitZanquorOnline();
    void perform_showWaveformColorPanel();
    void duplicate(platform::Object* sender);
    // The five export actions, forwarded to the current document.
    void perform_convert(ZQAction action);
    void selectNone(platform::Object*) {}

private:
    ZQApplicationDispatchCenter() = default;
    std::recursive_mutex sync_;
};

// The zoom menu items: sent to the current document when there is one; they
// have no enabling rule of their own.
namespace ZQWaveformZoomMessageReceiver {
platform::Ref<ZQAudioFileDocument> currentDocument();
void zoomIn();
void zoomOut();
void zoomAmplitudeIn();
void zoomAmplitudeOut();
void zoomOutEntirely();
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
    // SIGTERM and SIGINT end the application as Quit does.
    void installSignalHandlers();

    // Hears of each termination step as it ends, then of the notification
    // (as 0) and of the documents closed (as -1).
    void setStepObserver(std::function<void(int step)> observer) { stepObserver_ = std::move(observer); }

private:
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
