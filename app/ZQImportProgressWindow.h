// The small window of a long open: the file's name, how far its decode has
// got, and Cancel. One per file being opened; it appears only when the open
// takes longer than half a second, and goes when the import ends.
#pragma once

#include "app/ProgressRow.h"
#include "platform/base/Object.h"

#include <QWidget>

class QPushButton;
class QTimer;
class ZQAudioFileDocument;

class ZQImportProgressWindow final : public QWidget {
public:
    // How long an open runs before its window shows, and how often it updates.
    static constexpr int kShowAfterMs = 500;
    static constexpr int kUpdateEveryMs = 50;

    explicit ZQImportProgressWindow(ZQAudioFileDocument* document);
    ~ZQImportProgressWindow() override;

    // The percentage shown (0 ... 100).
    int percent() const;
    QPushButton* cancelButton() const { return row_.cancel; }

private:
    void update_();

    platform::Ref<ZQAudioFileDocument> document_;
    ProgressRow row_;
    QTimer* timer_ = nullptr;
};
