// A channel's small Mute or Solo toggle over its waveform: a letter in a
// rounded box, translucent dark when off and in its own colour when on.
// Drawn by hand rather than through a style sheet: a window of many
// channels repaints dozens of them on every zoom step. Main thread.
#pragma once

#include <QColor>
#include <QToolButton>

class ZQChannelToggle : public QToolButton {
public:
    ZQChannelToggle(const QString& letter, const QColor& on, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QColor on_;
};
