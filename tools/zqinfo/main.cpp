// zqinfo [--verbose] [--loudness] [--labels [--csv]] FILE...: opens each file as a document
// does (the reader into a sample store), by its content whatever its name,
// and prints its properties, with four-character codes shown as text beside
// their numbers. With --loudness, its loudness after them (EBU R 128, on
// both cores); with --labels, only its markers and regions, as a label file.
// A file that cannot be opened is named with the reason in words. Exit
// status 0 when every file opened, 1 otherwise, 2 for a wrong command line.
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileProperties.h"
#include "audiofile/LabelFile.h"
#include "audiofile/Markers.h"
#include "audiofile/SequenceLoudness.h"
#include "core/holders.h"
#include "platform/base/Values.h"
#include "tools/common/TerminalProgress.h"
#include "tools/common/ToolText.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] = "usage: zqinfo [--verbose] [--loudness] [--labels [--csv]] FILE...\n";
constexpr char kHelp[] = "Prints the properties of audio files: container, encoding, rate, channels,\n"
                         "length, markers, regions and tags. WAV (RF64, BW64), Wave64, AIFF, Sound\n"
                         "Designer II, CAF, FLAC, Ogg Vorbis, Opus and MPEG audio files are read, by\n"
                         "their content whatever their names.\n"
                         "\n"
                         "  --loudness  also measure the loudness (ITU-R BS.1770-4, EBU R 128):\n"
                         "              integrated loudness, loudness range, true and sample peak\n"
                         "  --labels    print only the markers and regions, as a label file: a line\n"
                         "              each of start and end in seconds and the name, tab-separated\n"
                         "              (a marker's end is its start)\n"
                         "  --csv       with --labels: as CSV, with a header line\n"
                         "  --verbose   also print the reader's diagnostic lines\n"
                         "  --help      print this text\n"
                         "  --version   print the version\n"
                         "\n"
                         "Exit status: 0 when every file was read, 1 when one could not be, 2 for a\n"
                         "wrong command line.\n";

// "1819304813" -> "1819304813 ('lpcm')" when the four bytes are printable.
std::string withCodeText(const std::string& number) {
    const unsigned long long v = std::stoull(number);
    if (v > 0xFFFFFFFFull) return number;
    char text[5] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v), 0};
    for (int i = 0; i < 4; ++i)
        if (text[i] < 32 || text[i] > 126) return number;
    return number + " ('" + text + "')";
}

// The codes the properties give as numbers, named: the format IDs, and the
// chunk identifiers ("1) 1718449184, 2) ..." on their own line).
std::string namedCodes(const std::string& text) {
    std::string out;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(from, end - from);
        const bool chunks = line.rfind("Chunk Identifiers: ", 0) == 0;
        // Each number that follows the marker ("Format ID: ", or ") " in the chunk list).
        const std::string marker = chunks ? ") " : "Format ID: ";
        std::size_t at = 0;
        for (std::size_t hit = line.find(marker); hit != std::string::npos; hit = line.find(marker, hit + 1)) {
            const std::size_t digits = hit + marker.size();
            std::size_t stop = digits;
            while (stop < line.size() && std::isdigit(static_cast<unsigned char>(line[stop])))
                ++stop;
            if (stop == digits || stop - digits > 10) continue;
            out += line.substr(at, digits - at) + withCodeText(line.substr(digits, stop - digits));
            at = stop;
        }
        out += line.substr(at) + (end < text.size() ? "\n" : "");
        from = end + 1;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    // Line by line, so the reader's standard output and error messages keep their order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool verbose = false, loudness = false, labels = false, csv = false;
    std::vector<const char*> files;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsEnd && a == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (!optionsEnd && a == "--version") {
            std::fputs(zqtools::versionText("zqinfo").c_str(), stdout);
            return 0;
        } else if (!optionsEnd && a == "--verbose") {
            verbose = true;
        } else if (!optionsEnd && a == "--loudness") {
            loudness = true;
        } else if (!optionsEnd && a == "--labels") {
            labels = true;
        } else if (!optionsEnd && a == "--csv") {
            csv = true;
        } else if (!optionsEnd && a == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "zqinfo: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (csv && !labels) {
        std::fprintf(stderr, "zqinfo: --csv goes with --labels\n%s", kUsage);
        return 2;
    }
    if (files.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    int status = 0;
    for (const char* file : files) {
        platform::Ref<platform::URL> url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(file));
        ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
        store.make();
        const std::string path = url->standardizedPath();
        ZQ::DecodeControl control;
        control.byContent = true;
        bool read = false;
        std::string text;
        {
            zqtools::QuietOutput quiet(verbose);
            zqtools::TerminalProgress progress(std::filesystem::path(file).filename().string(), control,
                                               quiet.terminal());
            read = store && store->read(url.get(), &control);
            if (read && !labels) text = ZQ::describeAudioFileProperties(store.get(), path).text;
        }
        if (!read) {
            std::fflush(stdout);
            std::fprintf(stderr, "zqinfo: %s: %s\n", file, zqtools::openFailureText(path, control).c_str());
            status = 1;
            continue;
        }
        if (labels) {
            ZQ::MarkerList markers = ZQ::markersFromInformation(*store->information());
            markers.clampTo(store->frameCount());
            const double rate = store->information()->fileDataFormat.value.mSampleRate;
            std::fputs(ZQ::labelText(markers, rate, csv ? ZQ::LabelFormat::Csv : ZQ::LabelFormat::Tabs).c_str(),
                       stdout);
            continue;
        }
        std::fputs(namedCodes(text).c_str(), stdout);
        if (loudness) {
            const ZQ::SampleSnapshot samples = store->samples();
            const double rate = store->information()->fileDataFormat.value.mSampleRate;
            const ZQ::LoudnessFigures f =
                samples ? ZQ::measureLoudness(*samples, 0, samples->frameCount(), rate, 2) : ZQ::LoudnessFigures{};
            if (!f.valid) {
                std::fprintf(stderr, "zqinfo: %s: the loudness cannot be measured at this rate\n", file);
                status = 1;
                continue;
            }
            std::printf("Integrated Loudness: %s\nLoudness Range: %s\nTrue Peak: %s\nSample Peak: %s\n",
                        ZQ::loudnessText(f.integrated, "LUFS").c_str(), ZQ::loudnessText(f.range, "LU").c_str(),
                        ZQ::loudnessText(f.truePeak, "dBTP").c_str(), ZQ::loudnessText(f.samplePeak, "dBFS").c_str());
        }
    }
    return status;
}
