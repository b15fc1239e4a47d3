// Writes a document's samples as a new WAV or AIFF file: 16- or 32-bit
// signed integers (clipped, one "Clipped audio file" line per clipped sample)
// or 32-bit float (unchanged). Mono and stereo only.
//
// The file is written beside the destination under a temporary name and
// renamed over it only once everything succeeded, so a failed export never
// destroys or truncates an existing file. Messages go to standard output.
#pragma once

#include "platform/base/AudioTypes.h"

#include <cstdint>
#include <string>

namespace platform {
class URL;
}

namespace ZQ {

class AudioFileDocumentSampleData;

namespace AudioFileExport {

// Sample-format codes.
inline constexpr int kInteger16 = 102;
inline constexpr int kInteger32 = 104;
inline constexpr int kFloat32 = 201;

// False when nothing was written; `reason`, when given, then says why in
// words for the user.
bool write(AudioFileDocumentSampleData* store, const platform::URL* url, platform::audio::FourCharCode type, int code,
           std::string* reason = nullptr);

// The conversions, one sample at a time (`clipped` set when the value was
// limited).
std::int16_t toInteger16(double x, bool& clipped);
std::int32_t toInteger32(double x, bool& clipped);

} // namespace AudioFileExport
} // namespace ZQ
