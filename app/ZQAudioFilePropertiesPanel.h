// The properties panel: one floating panel for the whole application that
// shows the frontmost document's file properties as two columns of 20 rows
// (names right-aligned, values left-aligned), keeps the same list as plain
// text, and copies that text to the clipboard. A 0.1-second timer follows
// the frontmost document; the panel's place is remembered between runs.
#pragma once

#include "document/ZQAudioFileDocument.h"
#include "platform/base/Object.h"

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
    QString descAt(int row) const;
    // Puts the plain text on the clipboard; "fehler" when there is none.
    void perform_CopyDescription();

    const std::string& stringDescription() const { return stringDescription_; }
    QPushButton* copyButton() const { return copyButton_; }

protected:
    void moveEvent(QMoveEvent* event) override;

private:
    std::recursive_mutex sync_;
    platform::Ref<ZQAudioFileDocument> document_;
    std::string stringDescription_;
    QPointer<QSplitter> splitMatrix_;
    QPointer<QListWidget> names_, descriptions_;
    QPointer<QPushButton> copyButton_;
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
