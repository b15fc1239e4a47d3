// The sheet of a long export: the file's name, how much has been written,
// and Cancel. Window-modal on the document's window, so that nothing in it
// changes the samples while they are written; it appears only when the
// export takes longer than a moment, and goes when the export ends.
#pragma once

#include "app/ProgressRow.h"
#include "platform/base/Object.h"

#include <QDialog>

class QPushButton;
class ZQAudioFileDocument;

class ZQExportProgressWindow final : public QDialog {
public:
    static constexpr int kShowAfterMs = 300;
    static constexpr int kUpdateEveryMs = 50;

    ZQExportProgressWindow(ZQAudioFileDocument* document, QWidget* window);
    ~ZQExportProgressWindow() override;

    int percent() const;
    QPushButton* cancelButton() const { return row_.cancel; }

protected:
    // Escape and the window's close button cancel the export, as Cancel does.
    void reject() override;

private:
    void update_();

    platform::Ref<ZQAudioFileDocument> document_;
    ProgressRow row_;
};
