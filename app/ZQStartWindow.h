// What zqaudio shows when started without a file: a small window with the
// menu bar, an Open button and the files opened lately (a double click or
// Return opens one). It goes away once a document window is shown.
#pragma once

#include <QListWidget>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>

class ZQStartWindow final : public QMainWindow {
public:
    ZQStartWindow();
    // Shows the recent files as they are now.
    void refreshRecentFiles();
    QPushButton* openButton() const { return openButton_; }
    QListWidget* recentList() const { return recent_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPointer<QPushButton> openButton_;
    QPointer<QListWidget> recent_;
};
