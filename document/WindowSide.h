// What the document layer asks of the window side (the waveform display
// controller, the window, alerts, the transport bar), as small interfaces the
// user-interface layer implements. Without an installed window side a
// document imports its samples but builds no window.
//
// Called on the main thread unless noted.
#pragma once

#include "core/values.h"
#include "document/MenuItem.h"
#include "platform/base/Object.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ZQAudioFileDocument;
class ZQAudioFileDocumentTransportController;
struct SaveFormat;

// The window's waveform display (one per document window).
class ZQWaveformDisplayControllerBase : public platform::Object {
public:
    virtual void buildUI() = 0;
    virtual void audioFileDataHasLoaded() = 0;
    virtual void updateNumericAndHMSDisplays() = 0;
    virtual void documentWillClose() = 0;
    virtual bool hasWindow() const = 0;
    virtual void zoomIn() = 0;
    virtual void zoomOut() = 0;
    virtual void zoomAmplitudeIn() = 0;
    virtual void zoomAmplitudeOut() = 0;
    virtual void selectAll(platform::Object* sender) = 0;
    virtual void selectNone(platform::Object* sender) = 0;
    virtual void cut(platform::Object* sender) = 0;
    using platform::Object::copy; // the value copy, beside the Edit command
    virtual void copy(platform::Object* sender) = 0;
    virtual void paste(platform::Object* sender) = 0;
    virtual void delete_(platform::Object* sender) = 0;
    virtual void duplicate(platform::Object* sender) = 0;
    // The samples are about to change (an edit, an undo, a redo): nothing
    // may read them until audioFileSamplesDidChange. Main thread.
    virtual void audioFileSamplesWillChange() {}
    // The samples changed from frame `from` on (an edit, an undo, a redo);
    // `selection` is the selection that goes with the new samples. Main thread.
    virtual void audioFileSamplesDidChange(std::uint64_t from, const ZQ::Num::SampleRange& selection) {
        (void)from, (void)selection;
    }
    // More of the samples are summarised: columns that waited for it can be
    // drawn. Main thread.
    virtual void audioFileSummaryDidGrow() {}
    // Whether the document has changes may have changed (the title's mark).
    virtual void documentEditedStateDidChange() {}
    // A channel was muted, unmuted, soloed or unsoloed.
    virtual void channelAudibilityDidChange() {}
    // The markers were replaced as a whole (edits report through
    // audioFileSamplesDidChange). Main thread.
    virtual void markersDidChange() {}
    // Whether the Edit item's command may run now; none by default.
    virtual bool validateMenuItem(const ZQMenuItem* item) {
        (void)item;
        return false;
    }
    const char* kindName() const override { return "ZQWaveformDisplayController"; }
};

// The eight transport buttons, in the bar's order.
enum class TransportButton { Record, Play, Pause, Stop, GotoStart, Back, Forward, GotoEnd };
inline constexpr int kTransportButtonCount = 8;

// A window's transport bar, built by the window side for a controller.
class ZQTransportBar : public platform::Object {
public:
    virtual bool state(TransportButton button) const = 0;
    virtual void setState(TransportButton button, bool on) = 0;
    virtual bool isEnabled(TransportButton button) const = 0;
    virtual void setEnabled(TransportButton button, bool enabled) = 0;
    // The button as a sender (the stop button for documentWillClose).
    virtual platform::Object* button(TransportButton button) = 0;
};

class ZQDocumentWindowSide {
public:
    // A document's import began or ended (the second always follows the
    // first); a long one may show its progress (importProgress) and offer
    // to cancel it. Nothing by default.
    virtual void importDidBegin(ZQAudioFileDocument* document) { (void)document; }
    virtual void importDidEnd(ZQAudioFileDocument* document) { (void)document; }
    // An open ended without a window (cancelled, or its failure dismissed):
    // the application may have nothing left to show. Main thread.
    virtual void openDidEndWithoutWindow(ZQAudioFileDocument* document) { (void)document; }
    // An export on its thread began or ended (main thread); a long one may
    // show its progress (exportProgress) and offer to cancel it.
    virtual void exportDidBegin(ZQAudioFileDocument* document) { (void)document; }
    virtual void exportDidEnd(ZQAudioFileDocument* document) { (void)document; }
    // A written export or save clipped `clipped` samples to full scale, or
    // left out markers its format cannot hold: a short note.
    virtual void exportNote(ZQAudioFileDocument* document, bool saved, std::uint64_t clipped,
                            std::uint64_t markersLeftOut) {
        (void)document;
        (void)saved;
        (void)clipped;
        (void)markersLeftOut;
    }
    // The display controller of a new window (initWithAudioFileDocument:);
    // +1, or null.
    virtual ZQWaveformDisplayControllerBase* createDisplayController(ZQAudioFileDocument* document) = 0;
    // Sizes the controller's window (half the screen's visible frame, 800 x 600
    // without a screen) and sets it on the document; false without a window.
    virtual bool prepareWindow(ZQAudioFileDocument* document, ZQWaveformDisplayControllerBase* controller) = 0;
    // Window controller, title, cascading placement, showing.
    virtual void showWindow(ZQAudioFileDocument* document, ZQWaveformDisplayControllerBase* controller) = 0;
    // Closes the document's window, if any.
    virtual void closeWindow(ZQAudioFileDocument* document) = 0;
    // Runs an alert as a sheet on the document's window; `dismissed` runs when
    // the user dismisses it. False when no alert could be shown.
    virtual bool runAlertSheet(ZQAudioFileDocument* document, const std::string& message, const std::string& button,
                               const std::string& informativeText, std::function<void()> dismissed) = 0;
    // The refresh rate of the display the document's window is on (the main
    // display without a window); 0 when it reports none.
    virtual double displayRefreshRate(ZQAudioFileDocument* document) = 0;
    // The transport bar for a controller whose document has a window (+1), or
    // null.
    virtual ZQTransportBar* createTransportBar(ZQAudioFileDocumentTransportController* controller) = 0;
    // Shows a save dialog on the document's window proposing `proposedName`
    // with `extension`; `done` runs once, with the chosen folder and file
    // path, or with accepted false when cancelled. False (and `done` never
    // runs) when no dialog can be shown, as without windows.
    using SavePanelDone = std::function<void(bool accepted, const std::string& directory, const std::string& file)>;
    virtual bool runSavePanel(ZQAudioFileDocument* document, const std::string& extension,
                              const std::string& proposedName, SavePanelDone done) {
        (void)document, (void)extension, (void)proposedName, (void)done;
        return false;
    }

    // The Save As dialog: `formats` offered (the one at `preferred` chosen
    // first); `done` runs once with the folder, the file and the format's
    // index, or accepted false. False (and `done` never runs) when no dialog
    // can be shown.
    using SaveAsPanelDone =
        std::function<void(bool accepted, const std::string& directory, const std::string& file, int format)>;
    virtual bool runSaveAsPanel(ZQAudioFileDocument* document, const std::vector<SaveFormat>& formats, int preferred,
                                const std::string& proposedName, SaveAsPanelDone done) {
        (void)document, (void)formats, (void)preferred, (void)proposedName, (void)done;
        return false;
    }
    // A question on the document's window: `accept` (the default) or
    // Cancel; `answered(true)` for accept. False (and `answered` never runs)
    // when nothing can be asked, as without windows.
    virtual bool runQuestion(ZQAudioFileDocument* document, const std::string& message,
                             const std::string& informativeText, const std::string& accept,
                             std::function<void(bool)> answered) {
        (void)document, (void)message, (void)informativeText, (void)accept, (void)answered;
        return false;
    }
    // The document is another file now, or the same file written anew: its
    // title, the recent files and its properties follow.
    virtual void documentWasSaved(ZQAudioFileDocument* document) { (void)document; }

protected:
    ~ZQDocumentWindowSide() = default;
};

// The process's window side; none until the application installs one.
void setDocumentWindowSide(ZQDocumentWindowSide* side);
ZQDocumentWindowSide* documentWindowSide();
