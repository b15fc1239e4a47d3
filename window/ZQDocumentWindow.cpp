#include "window/ZQDocumentWindow.h"

#include "controls/Colours.h"
#include "window/ZQWaveformDisplayController.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QShortcut>

using namespace ZQ;
using platform::Ref;

ZQDocumentWindow::ZQDocumentWindow(ZQWaveformDisplayController* controller) : controller_(controller) {
    auto* content = new QWidget;
    content->setAutoFillBackground(true);
    QPalette p = content->palette();
    p.setColor(QPalette::Window, calibratedWhite(0.94, 1.0));
    content->setPalette(p);
    content->resize(400, 300); // the content rectangle the frames are laid out in
    setCentralWidget(content);
    resize(400, 300);
    // Shift+arrows select from the keyboard, as Shift+click does with the
    // mouse: the moving edge goes by a step that follows the zoom, or to
    // the start or the end.
    const struct {
        QKeySequence keys;
        int steps; // 0: to the start (-) or end (+) below
        bool toEnd;
    } kKeys[] = {{QKeySequence(Qt::SHIFT | Qt::Key_Left), -1, false},
                 {QKeySequence(Qt::SHIFT | Qt::Key_Right), 1, false},
                 {QKeySequence(Qt::SHIFT | Qt::Key_Home), 0, false},
                 {QKeySequence(Qt::SHIFT | Qt::Key_End), 0, true}};
    for (const auto& k : kKeys) {
        auto* shortcut = new QShortcut(k.keys, this);
        shortcut->setObjectName(QStringLiteral("selectionKey"));
        const int steps = k.steps;
        const bool toEnd = k.toEnd;
        connect(shortcut, &QShortcut::activated, this, [this, steps, toEnd] {
            if (!controller_) return;
            if (steps != 0)
                controller_->extendSelection(steps);
            else
                controller_->extendSelectionToEnd(toEnd);
        });
        shortcut->setAutoRepeat(true);
    }
}

void ZQDocumentWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (controller_) controller_->orderFocusChain(); // everything in it is built by now
}

void ZQDocumentWindow::closeForDocument() {
    closingForDocument_ = true;
    if (isVisible()) close();
}

void ZQDocumentWindow::closeEvent(QCloseEvent* event) {
    if (closingForDocument_) {
        event->accept();
        return;
    }
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (doc && doc->isDocumentEdited()) {
        // Nothing closes before the user has decided about the changes.
        event->ignore();
        QPointer<ZQDocumentWindow> self = this;
        askToSaveChanges([self, doc](bool proceed) {
            if (proceed && self && !self->closingForDocument_) {
                self->closingForDocument_ = true;
                doc->close();
            }
        });
        return;
    }
    event->accept();
    closingForDocument_ = true;
    // Closing the window closes the document: playback stops and everything
    // is torn down in order, the window last.
    if (doc) doc->close();
}

void ZQDocumentWindow::askToSaveChanges(std::function<void(bool proceed)> then) {
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (!doc || !doc->isDocumentEdited()) {
        then(true);
        return;
    }
    if (QMessageBox* open = changesPrompt_) { // asked already: the new request waits for the same answer
        QObject::connect(open, &QMessageBox::finished, open, [then](int) { then(false); });
        return;
    }
    raise();
    activateWindow();
    const QString name = property("zqUneditedTitle").isValid() ? property("zqUneditedTitle").toString() : windowTitle();
    auto* box = new QMessageBox(this);
    changesPrompt_ = box;
    box->setObjectName(QStringLiteral("saveChangesPrompt"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Unsaved Changes"));
    box->setText(QStringLiteral("Do you want to save the changes you made to \u201c%1\u201d?").arg(name));
    box->setInformativeText(QStringLiteral("The changes are in no file yet. If you discard them, they are lost."));
    // A file whose own format cannot be written again is saved as another.
    const bool own = doc->ownSaveFormat();
    QPushButton* exportButton =
        box->addButton(own ? QStringLiteral("&Save") : QStringLiteral("&Save As\u2026"), QMessageBox::AcceptRole);
    QPushButton* discardButton = box->addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
    QPushButton* cancelButton = box->addButton(QStringLiteral("&Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(exportButton);
    box->setEscapeButton(cancelButton);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, exportButton, discardButton, doc, then](int) {
        QAbstractButton* clicked = box->clickedButton();
        if (clicked == discardButton) {
            then(true);
        } else if (clicked == exportButton) {
            // Closing goes on only once the changes are in a file.
            doc->save([doc, then](bool saved) { then(saved && !doc->isDocumentEdited()); });
        } else {
            then(false);
        }
    });
    box->open();
}
