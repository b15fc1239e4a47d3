// A transport button: acts on the mouse press (not the release), and shows
// on or off as the transport state says, never by being clicked.
#pragma once

#include <QPushButton>
#include <functional>

class ZQTransportButton : public QPushButton {
public:
    ZQTransportButton(const QString& title, QWidget* parent);
    void setAction(std::function<void(ZQTransportButton*)> action) { action_ = std::move(action); }
    bool state() const { return isChecked(); }
    void setState(bool on) { setChecked(on); }
    // Runs the action as a press would (when enabled).
    void performClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void nextCheckState() override {} // the state follows the transport only
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The focus mark shows only where the keyboard took the focus.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::function<void(ZQTransportButton*)> action_;
    bool keyboardFocus_ = false;
};
