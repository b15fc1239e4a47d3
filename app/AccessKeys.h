// Access keys (Alt and a letter, underlined while Alt is held) for the
// buttons of the dialogs built in code: a button without one is given the
// first letter of its text that no other button of its box has taken, so
// its text reads as before.
#pragma once

#include <QString>

class QWidget;

namespace ZQ::AccessKeys {

// Gives each button of `dialog`'s button boxes that has no access key one.
// Call it once the buttons are in.
void give(QWidget* dialog);

// `text` with an access key on its first letter or digit that `taken` (upper
// case) does not hold; unchanged when it has one already or nothing is free.
// The key's character is added to `taken`.
QString withAccessKey(const QString& text, QString& taken);

} // namespace ZQ::AccessKeys
