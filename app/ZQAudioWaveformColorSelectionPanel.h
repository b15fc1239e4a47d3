// The waveform colour preferences panel: a small floating panel with two
// colour wells, background and foreground. A chosen colour is stored under
// its key first; then the change notification is posted, on which every
// open display reads both colours again and redraws. Close, Escape and
// Ctrl+W hide the panel.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>

#include <QColorDialog>

// A swatch of a colour (alpha shown over a checkerboard); a click opens a
// colour dialog with alpha, and a colour chosen there becomes the well's.
class ZQColorWell final : public QAbstractButton {
public:
    explicit ZQColorWell(QWidget* parent);
    QColor color() const { return color_; }
    void setColor(const QColor& colour);
    // Runs when the user has chosen a colour in the dialog.
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    // The open dialog, if any (for tests).
    QColorDialog* dialog() const { return dialog_; }
    QSize sizeHint() const override { return {52, 28}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void openDialog();
    QColor color_ = Qt::black;
    std::function<void()> action_;
    QPointer<QColorDialog> dialog_;
};

class ZQAudioWaveformColorSelectionPanel final : public QWidget {
public:
    ZQAudioWaveformColorSelectionPanel();
    ZQColorWell* backgroundWell() const { return backgroundWell_; }
    ZQColorWell* foregroundWell() const { return foregroundWell_; }
    QPushButton* closeButton() const { return closeButton_; }
    // The wells' actions: store the well's colour, then post the notification.
    void perform_changeBackgroundColor();
    void perform_changeForegroundColor();
    // The wells show what is stored.
    void showStoredColors();

private:
    QPointer<ZQColorWell> backgroundWell_, foregroundWell_;
    QPointer<QPushButton> closeButton_;
};

class ZQAudioWaveformColorSelectionPanelController {
public:
    // The single controller, made on first use (main thread for the panel).
    static ZQAudioWaveformColorSelectionPanelController& sharedAudioWaveformColorSelectionPanelController();
    // Brings the panel to the front (and makes it key). A panel not on
    // screen opens beside the current window: the active window, else the
    // current document's.
    static void displayAudioWaveformColorSelectionPanel();
    // Where a panel of `size` (its frame) goes beside a window whose frame is
    // `window`, within `screen` (the available area of the window's screen):
    // to its right, top edges level; to its left when the right has no room;
    // otherwise as near the right as the screen allows.
    static QPoint placeBeside(const QRect& window, const QSize& size, const QRect& screen);
    ZQAudioWaveformColorSelectionPanel* colorSelectionPanel() const { return colorSelectionPanel_; }
    // Deletes the panel before the application object goes.
    static void shutdown();

private:
    ZQAudioWaveformColorSelectionPanelController();
    QPointer<ZQAudioWaveformColorSelectionPanel> colorSelectionPanel_;
};

namespace ZQ::WaveformColorPreferences {
// Stores `colour` under `key` (archived, synchronised to disk).
void storeColor(const std::string& key, const QColor& colour);
} // namespace ZQ::WaveformColorPreferences
