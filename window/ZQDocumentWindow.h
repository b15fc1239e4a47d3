// The window of one open document: closing it closes the document, after
// asking (on this window) what to do with changes not yet exported. Main
// thread.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <functional>

class ZQWaveformDisplayController;

class ZQDocumentWindow final : public QMainWindow {
public:
    explicit ZQDocumentWindow(ZQWaveformDisplayController* controller);
    // The content view, where every frame of the window is placed.
    QWidget* contentView() const { return centralWidget(); }
    // Null once the controller is gone (the window is then being deleted).
    ZQWaveformDisplayController* controller() const { return controller_; }
    void detachController() { controller_ = nullptr; }
    // Closes without asking the document (the document is closing).
    void closeForDocument();
    // When the document has changes, asks (on this window) whether to save
    // them first: Save writes the document's file (Save As… where its own
    // format cannot be written), Discard drops them, Cancel keeps
    // everything. `then` runs once, with true when closing may go on (saved
    // or discarded), at once when there is nothing to ask.
    void askToSaveChanges(std::function<void(bool proceed)> then);
    QMessageBox* changesPrompt() const { return changesPrompt_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    ZQWaveformDisplayController* controller_; // the controller owns the window; null once it is gone
    bool closingForDocument_ = false;
    QPointer<QMessageBox> changesPrompt_;
};
