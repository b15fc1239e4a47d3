// The properties panel: one floating panel for the whole application that
// shows the frontmost document's file properties as two columns of 20 rows
// (names right-aligned, values left-aligned), keeps the same list as plain
// text, and copies that text to the clipboard. A 0.1-second timer follows
// the frontmost document; the panel's place is remembered between runs.
//
// Each value shows on one line (the lines of a longer text joined by single
// spaces, cut with "…" where the column ends); a value shown other than in
// full has the full text as its tooltip. A document without changes is
// described from its file as it is now, read again whenever the file is
// replaced (an export over it); one with changes from its own record, whose
// length follows the edits. Close, Escape and Ctrl+W hide the panel.
#pragma once

#include "audiofile/AudioFileInformation.h"
#include "document/ZQAudioFileDocument.h"
#include "platform/base/Object.h"

#include <array>
#include <ctime>
#include <sys/types.h>

#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QWidget>
#include <mutex>
#include <string>

class ZQAudioFilePropertiesPanel final : public QWidget {
public:
    static constexpr int kRows = 20;
    static constexpr int kWidth = 460, kHeight = 396;

    ZQAudioFilePropertiesPanel();
    ~ZQAudioFilePropertiesPanel() override;

    void updateForCurrent();
    void updateForDocument(ZQAudioFileDocument* document);
    void updateString(const std::string& text);
    void setName(const std::string& name, const std::string& desc, int row);
    QString nameAt(int row) const;
    // The value as the row shows it (on one line, before any "…").
    QString descAt(int row) const;
    // The full value when the row cannot show it whole, else empty.
    QString toolTipAt(int row) const;
    // Puts the plain text on the clipboard; "fehler" when there is none.
    void perform_CopyDescription();

    const std::string& stringDescription() const { return stringDescription_; }
    QPushButton* copyButton() const { return copyButton_; }
    QPushButton* closeButton() const { return closeButton_; }

protected:
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Which file a path named when it was last read.
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool operator==(const FileStamp& o) const {
            return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
                   modified.tv_nsec == o.modified.tv_nsec;
        }
    };
    // The record of the file at `path` as it is now (read again only when
    // the file is another than last time); null when it cannot be read.
    const ZQ::AudioFileInformationData* fileInformation(const std::string& path);
    // Gives the rows that show less than their value a tooltip with it.
    void updateToolTips();

    std::recursive_mutex sync_;
    std::array<QString, kRows> fullValues_;
    std::string readPath_;
    FileStamp readStamp_;
    bool readDone_ = false;
    ZQ::AudioFileInformation readInformation_;
    platform::Ref<ZQAudioFileDocument> document_;
    std::string stringDescription_;
    QPointer<QSplitter> splitMatrix_;
    QPointer<QListWidget> names_, descriptions_;
    QPointer<QPushButton> copyButton_, closeButton_;
    QTimer timer_;
    bool placed_ = false;
};

class ZQAudioFilePropertiesPanelController {
public:
    // The single panel, made on first use (on the main thread).
    static ZQAudioFilePropertiesPanel* propertiesPanel();
    // Brings the panel to the front and makes it key.
    static void showPanel();
    static void clearPropertyDataString();
    static void updateForDocument(ZQAudioFileDocument* document);
    // Deletes the panel before the application object goes.
    static void shutdown();
};
