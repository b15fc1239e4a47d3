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

// What each channel view shows (a channel may choose for itself).
enum class Display { Waveform = 0, Spectrogram = 1, Both = 2 };
inline constexpr const char* kDisplayKey = "ZQPreference_Display";
Display display(); // Waveform unless chosen
void setDisplay(Display display);

// The spectrogram: frame size (256 to 8192, 1024 unless chosen), colour map
// (0 the dark-to-bright one, 1 grey), a logarithmic frequency scale, the
// range of levels shown (60 to 120 dB, 90 unless chosen) and a gain (-30 to
// +30 dB, 0 unless chosen).
inline constexpr const char* kSpectrogramSizeKey = "ZQPreference_SpectrogramWindowSize";
inline constexpr const char* kSpectrogramColoursKey = "ZQPreference_SpectrogramColours";
inline constexpr const char* kSpectrogramLogKey = "ZQPreference_SpectrogramLogFrequency";
inline constexpr const char* kSpectrogramRangeKey = "ZQPreference_SpectrogramRange";
inline constexpr const char* kSpectrogramGainKey = "ZQPreference_SpectrogramGain";
unsigned spectrogramSize();
void setSpectrogramSize(unsigned size);
int spectrogramColours();
void setSpectrogramColours(int map);
bool spectrogramLogFrequency();
void setSpectrogramLogFrequency(bool log);
int spectrogramRangeDb();
void setSpectrogramRangeDb(int db);
int spectrogramGainDb();
void setSpectrogramGainDb(int db);

// Posted (with no sender) after any of them changed.
const std::string& didChangeNotification();
// Reads the settings again on next use (tests that change them behind our back).
void reload();

} // namespace ZQ::ViewPreferences
