#include "audiofile/AudioFileProperties.h"

#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileInformation.h"
#include "audiofile/Markers.h"
#include "core/values.h"
#include "platform/base/Format.h"
#include "platform/base/Values.h"

namespace ZQ {

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

std::string rowNameText(const std::string& name) {
    return replaceAll(name, "\n", " | ");
}
std::string rowValueText(const std::string& value) {
    return replaceAll(value, "\n", " _ _ _ ");
}

std::string markerListDescription(const MarkerList& markers) {
    if (markers.empty()) return "< No Markers Defined >";
    std::string out;
    unsigned k = 1;
    for (const Marker& m : markers.items()) {
        if (k > 1) out += ", ";
        out += platform::format("%u) ", k++);
        if (!m.name.empty()) out += "\u201C" + m.name + "\u201D ";
        out += m.isRegion() ? platform::format("%llu \u2026 %llu (region)", (unsigned long long)m.frame,
                                               (unsigned long long)(m.end() - 1))
                            : platform::format("at %llu", (unsigned long long)m.frame);
    }
    return out;
}

AudioFileProperties describeAudioFileProperties(const AudioFileInformationData* info, const std::string& path) {
    AudioFileProperties out;
    if (!info) return out;
    using platform::format;
    using ull = unsigned long long;
    const AudioStreamBasicDescription& d = info->fileDataFormat.value;
    platform::Ref<platform::URL> url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    const std::string formatText = info->fileFormat.isPresent() ? formatName(info->fileFormat.value) : "(undefined)";
    const auto frames = static_cast<ull>(info->fileLength.value);
    const std::string hms = hmsText(HMSTime(sample_rate(d.mSampleRate), Num::Count(frames)));

    // name, value, text line
    const std::string formats = formatListDescription(info->formatList.value.items());
    const std::string regions = regionDescription(info->regionList.value.items());
    const std::string markers = markerListDescription(markersFromInformation(*info));
    const std::string chunks = chunkIDDescription(info->chunkIDs.value.items());
    const std::string other = format("%@", static_cast<const platform::Object*>(info->infoDictionary.value));
    const struct {
        const char* name;
        std::string value;
        std::string line;
    } rows[] = {
        {"File", url->lastPathComponent(), format("File: %s", url->lastPathComponent().c_str())},
        {"Full Path", path, format("Full Path: %s", path.c_str())},
        {"File Format", formatText, format("File Format: %s", formatText.c_str())},
        {"Sample Rate", format("%f", d.mSampleRate), format("Sample Rate: %f", d.mSampleRate)},
        {"Format ID", format("%qu", ull(d.mFormatID)), format("Format ID: %qu", ull(d.mFormatID))},
        {"Format Flags", format("%qu", ull(d.mFormatFlags)), format("Format Flags: %qu", ull(d.mFormatFlags))},
        {"Bytes per packet", format("%qu", ull(d.mBytesPerPacket)),
         format("Bytes per packet: %qu", ull(d.mBytesPerPacket))},
        {"Frames per packet", format("%qu", ull(d.mFramesPerPacket)),
         format("Frames per packet: %qu", ull(d.mFramesPerPacket))},
        {"Bytes per frame", format("%qu", ull(d.mBytesPerFrame)),
         format("Bytes per frame: %qu", ull(d.mBytesPerFrame))},
        {"Channels per frame", format("%qu", ull(d.mChannelsPerFrame)),
         format("Channels per frame: %qu", ull(d.mChannelsPerFrame))},
        {"Bits per channel", format("%qu", ull(d.mBitsPerChannel)),
         format("Bits per channel: %qu", ull(d.mBitsPerChannel))},
        {"File Length (samples)", format("%qu", frames), format("File Length (samples): %qu", frames)},
        {"File Length (HMS)", hms, "File Length (HMS): " + hms},
        {"Is Optimized", info->isOptimized.value ? "Yes" : "No",
         std::string("Is Optimized: ") + (info->isOptimized.value ? "Yes" : "No")},
        {"Bit Rate", format("%qu", ull(info->bitRate.value)), format("Bit Rate: %qu", ull(info->bitRate.value))},
        {"Format List Description", formats, "Format List Description: " + formats},
        {"Regions", regions, "Regions: " + regions},
        {"Chunk Identifiers", chunks, "Chunk Identifiers: " + chunks},
        {"Other", other, "Other Info: " + other},
        // Every named marker and region, in the row the panel had left empty.
        {"Markers", markers, "Markers: " + markers},
    };
    out.text = "\n";
    for (const auto& row : rows) {
        out.rows.emplace_back(rowNameText(row.name), rowValueText(row.value));
        out.text += row.line + "\n";
    }
    return out;
}

AudioFileProperties describeAudioFileProperties(const AudioFileDocumentSampleData* store, const std::string& path) {
    return describeAudioFileProperties(store ? store->information() : nullptr, path);
}

} // namespace ZQ
