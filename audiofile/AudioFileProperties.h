// The properties of an opened file as 19 (name, value) rows and as the plain
// text the properties panel copies: "\n" first, then one "Name: value" line
// per row. Shared by the panel and the zqinfo tool.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ZQ {

class AudioFileInformationData;
class AudioFileDocumentSampleData;
class MarkerList;

struct AudioFileProperties {
    std::vector<std::pair<std::string, std::string>> rows; // names and values, rows 0 ... 19
    std::string text;                                      // empty without an information record
};

// The named markers and regions: "1) “Intro” at 100, 2) 4410 … 8819
// (region)", or "< No Markers Defined >".
std::string markerListDescription(const MarkerList& markers);

// `path` is the document's file. Without a record: no rows and an empty text.
AudioFileProperties describeAudioFileProperties(const AudioFileInformationData* information, const std::string& path);
AudioFileProperties describeAudioFileProperties(const AudioFileDocumentSampleData* store, const std::string& path);

// How a row shows a text on one line: each "\n" in a name becomes " | ",
// each in a value " _ _ _ ".
std::string rowNameText(const std::string& name);
std::string rowValueText(const std::string& value);

} // namespace ZQ
