// Label files: a document's markers and regions as text, in the form other
// editors read and write. One line each, tab-separated: start seconds, end
// seconds, label; a marker is a line whose end equals its start. The CSV
// form has a header line ("start,end,label") and quotes labels as CSV does.
// Seconds are written with enough decimals that reading them back at the
// file's rate gives every frame exactly as it was.
#pragma once

#include "audiofile/Markers.h"

#include <string>
#include <string_view>

namespace ZQ {

enum class LabelFormat { Tabs, Csv };

// CSV for a name ending in ".csv" (any case); the tab-separated form otherwise.
LabelFormat labelFormatFor(std::string_view path);

std::string labelText(const MarkerList& markers, double rate, LabelFormat format);
// False, with the line at fault in `reason`, when a line is not a label.
// Blank lines, the tab form's frequency lines (starting with "\") and a CSV
// header are passed over; an end before its start is taken as the start.
bool parseLabels(std::string_view text, double rate, LabelFormat format, MarkerList* out, std::string* reason);

// A whole file. Writing replaces `path` only with a complete new file.
bool readLabelFile(const std::string& path, double rate, MarkerList* out, std::string* reason);
bool writeLabelFile(const std::string& path, const MarkerList& markers, double rate, std::string* reason);

} // namespace ZQ
