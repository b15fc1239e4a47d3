// The waveform colours as user preferences: two archived colours under their
// keys, and the notification that tells every display to read them again.
// Main thread.
#pragma once

#include <QColor>
#include <string>

namespace ZQ::WaveformColorPreferences {

const std::string& foregroundKey();
const std::string& backgroundKey();
// "ZQ::WaveformColorPreferences::WaveformColorsDidChangeNotification"
const std::string& waveformColorsDidChangeNotification();

// The stored colour; invalid when nothing (or nothing readable) is stored.
QColor foregroundColorFromPreferences();
QColor backgroundColorFromPreferences();

} // namespace ZQ::WaveformColorPreferences
