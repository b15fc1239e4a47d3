// The window side in Qt: display controllers with real windows, window
// size and cascading placement, the open-failure alert as a window-modal
// message box, the display's refresh rate, the transport bar.
#pragma once

#include "document/WindowSide.h"

#include <QPoint>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>

class ZQImportProgressWindow;
class ZQExportProgressWindow;

class ZQQtWindowSide final : public ZQDocumentWindowSide {
public:
    ZQWaveformDisplayControllerBase* createDisplayController(ZQAudioFileDocument* document) override;
    bool prepareWindow(ZQAudioFileDocument* document, ZQWaveformDisplayControllerBase* controller) override;
    void showWindow(ZQAudioFileDocument* document, ZQWaveformDisplayControllerBase* controller) override;
    void closeWindow(ZQAudioFileDocument* document) override;
    bool runAlertSheet(ZQAudioFileDocument* document, const std::string& message, const std::string& button,
                       const std::string& informativeText, std::function<void()> dismissed) override;
    double displayRefreshRate(ZQAudioFileDocument* document) override;
    ZQTransportBar* createTransportBar(ZQAudioFileDocumentTransportController* controller) override;
    bool runSaveAsPanel(ZQAudioFileDocument* document, const std::vector<SaveFormat>& formats, int preferred,
                        const std::string& proposedName, SaveAsPanelDone done) override;
    bool runQuestion(ZQAudioFileDocument* document, const std::string& message, const std::string& informativeText,
                     const std::string& accept, std::function<void(bool)> answered) override;
    void documentWasSaved(ZQAudioFileDocument* document) override;
    bool runSavePanel(ZQAudioFileDocument* document, const std::string& extension, const std::string& proposedName,
                      SavePanelDone done) override;
    // Each open gets its progress window (shown once it takes long).
    void importDidBegin(ZQAudioFileDocument* document) override;
    void importDidEnd(ZQAudioFileDocument* document) override;
    void openDidEndWithoutWindow(ZQAudioFileDocument* document) override;
    void exportDidBegin(ZQAudioFileDocument* document) override;
    void exportDidEnd(ZQAudioFileDocument* document) override;
    void exportNote(ZQAudioFileDocument* document, bool saved, std::uint64_t clipped,
                    std::uint64_t markersLeftOut) override;
    ZQExportProgressWindow* exportProgressWindow(ZQAudioFileDocument* document) const;
    // The progress window of a document being opened, or null.
    ZQImportProgressWindow* importProgressWindow(ZQAudioFileDocument* document) const;

    // Runs whenever a document's window has been shown with its samples.
    void setDocumentShown(std::function<void(ZQAudioFileDocument*)> shown) { shown_ = std::move(shown); }

    // Where the next window's top-left corner goes.
    QPoint cascadePoint() const { return cascade_; }

    // Titles every document window anew (DocumentNames: a name two open
    // files share is followed by its folder), leaving out `leaving`; the
    // changes mark stays as it was. Main thread.
    static void retitleWindows(ZQAudioFileDocument* leaving = nullptr);
    // `file` with the extension of the export format `extension` ("wav" or
    // "aif"): a known audio extension is replaced, ".aiff" kept for AIFF,
    // anything else kept with the extension added.
    static QString withFormatExtension(const QString& file, const QString& extension);

private:
    QPoint cascade_{60, 60};
    bool cascadeFromScreen_ = false;
    std::function<void(ZQAudioFileDocument*)> shown_;
    std::map<ZQAudioFileDocument*, QPointer<ZQImportProgressWindow>> imports_;
    std::map<ZQAudioFileDocument*, QPointer<ZQExportProgressWindow>> exports_;
};
