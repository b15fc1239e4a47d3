// A document window's transport bar: a small rounded box at the bottom left
// with eight buttons (Record, Play, Pause, Stop, | <, <<, >>, > |) that act on
// the press, and the window's keys for them. The transport controller may
// create it on any thread; its widgets are built, and touched, on the main
// thread only, showing the states and enabling set meanwhile.
#pragma once

#include "document/WindowSide.h"
#include "document/ZQAudioFileDocumentTransportController.h"

#include <QPointer>
#include <array>
#include <mutex>

class QWidget;
class ZQDocumentWindow;
class ZQRoundedBox;
class ZQTransportButton;

class ZQTransportBarBox final : public ZQTransportBar {
public:
    // +1. The bar is built into the window's content view.
    static ZQTransportBarBox* create(ZQAudioFileDocumentTransportController* controller, ZQDocumentWindow* window);

    bool state(TransportButton button) const override;
    void setState(TransportButton button, bool on) override;
    bool isEnabled(TransportButton button) const override;
    void setEnabled(TransportButton button, bool enabled) override;
    // The bar stands for its buttons as the sender of their actions.
    platform::Object* button(TransportButton) override { return this; }

    // Main thread; null until built.
    ZQTransportButton* widget(TransportButton button) const;
    ZQRoundedBox* box() const { return box_; }

    const char* kindName() const override { return "ZQTransportBarBox"; }

private:
    ZQTransportBarBox() = default;
    void build(QWidget* content);
    void press(TransportButton button);
    void apply(TransportButton button);

    platform::Ref<ZQAudioFileDocumentTransportController> controller_;
    mutable std::mutex mutex_; // the looks below
    std::array<bool, kTransportButtonCount> on_{};
    std::array<bool, kTransportButtonCount> enabled_{true, true, true, true, true, true, true, true};
    QPointer<ZQRoundedBox> box_;
    std::array<QPointer<ZQTransportButton>, kTransportButtonCount> buttons_;
};
