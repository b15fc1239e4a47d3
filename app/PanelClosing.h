// The ways out of a floating panel, the same in each: a Close button, Escape
// and the close key (Ctrl+W) close it; Ctrl+Q quits the application as the
// menus' Quit does, since a panel has no menu bar of its own to carry it.
#pragma once

#include <functional>

class QPushButton;
class QWidget;

namespace ZQ::PanelClosing {

// The name of every panel's Close button.
inline constexpr const char* kCloseButtonName = "closeButton";

// Makes `panel`'s Close button ("&Close", for the panel to place) and its
// keys. `escape`, when given, has the first say on Escape (a panel that is
// busy cancels its work first) and returns true when it took the key.
QPushButton* install(QWidget* panel, std::function<bool()> escape = {});

} // namespace ZQ::PanelClosing
