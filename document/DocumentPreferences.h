// The waveform colours' defaults and the archive format of colours in the
// preferences (the keys and texts other programs' settings may hold). Any
// thread; writing the defaults on the main thread.
#pragma once

#include "audiofile/AudioFileExport.h"
#include "platform/soundfile/AudioFileWriter.h"

#include <string>

namespace ZQ::DocumentPreferences {
inline constexpr const char* kBackgroundKey = "ZQPreference_WaveformColor_Background";
inline constexpr const char* kForegroundKey = "ZQPreference_WaveformColor_Foreground";
struct Colour {
    double red = 0, green = 0, blue = 0, alpha = 1;
};
// "ZQColor r g b a" with components clamped to 0 ... 1.
std::string archiveColour(Colour c);
// False for data that is not an archived colour.
bool unarchiveColour(const std::string& data, Colour& out);
// Writes the default waveform colours where the preferences have none; once
// per process.
void writeDefaults();

// The encoders' settings the export dialog last chose (the defaults until
// one did), remembered across runs.
platform::audio::EncoderSettings encoderSettings();
void setEncoderSettings(const platform::audio::EncoderSettings& settings);

// The export dialog's conversion as it was last chosen: the dither of a
// requantisation (TPDF until one is chosen; Save and Save As use it too)
// and the rate of an exported copy (0: the document's own).
AudioFileExport::Conversion exportConversion();
void setExportDither(Requantizer::Dither dither);
void setExportRate(double rate);
} // namespace ZQ::DocumentPreferences
