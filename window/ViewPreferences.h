// How every document window shows its channels, chosen in the View menu and
// kept in the settings: the time ruler, the amplitude in dB, and whether all
// channels fit the window at once (otherwise views keep a legible height and
// the channels scroll). Main thread; a change is posted so that every open
// window follows it at once.
#pragma once

#include <string>

namespace ZQ::ViewPreferences {

inline constexpr const char* kTimeRulerKey = "ZQPreference_TimeRuler";
inline constexpr const char* kAmplitudeInDbKey = "ZQPreference_AmplitudeInDb";
inline constexpr const char* kFitChannelsKey = "ZQPreference_FitChannels";

bool showsTimeRuler(); // on unless turned off
void setShowsTimeRuler(bool shows);
bool amplitudeInDb(); // off unless turned on
void setAmplitudeInDb(bool inDb);
bool fitsChannels(); // off unless turned on
void setFitsChannels(bool fits);

// Posted (with no sender) after any of them changed.
const std::string& didChangeNotification();
// Reads the settings again on next use (tests that change them behind our back).
void reload();

} // namespace ZQ::ViewPreferences
