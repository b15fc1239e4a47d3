// zqconvert [OPTIONS] [FORMAT] INPUT OUTPUT: opens INPUT as a document does
// (by its content, whatever its name) and exports it with the document's
// writer, markers, regions and tags included where the format holds them.
// FORMAT is named, or taken from OUTPUT's extension; an OUTPUT without an
// audio extension gets FORMAT's, and one that names another container is
// refused. Exit status 0 on success, 1 on failure (the message says why), 2
// for a wrong command line, 130 when interrupted (SIGINT or SIGTERM; OUTPUT
// is then as it was).
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/AudioFileInformation.h"
#include "audiofile/Markers.h"
#include "core/holders.h"
#include "platform/base/Values.h"
#include "tools/common/TerminalProgress.h"
#include "tools/common/ToolText.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

namespace audio = platform::audio;
namespace xp = ZQ::AudioFileExport;

struct Choice {
    const char* name;
    audio::FourCharCode type;
    int code;
    const char* extension;
};
constexpr Choice kChoices[] = {
    {"wav16", audio::kAudioFileWAVEType, xp::kInteger16, "wav"},
    {"wav32", audio::kAudioFileWAVEType, xp::kInteger32, "wav"},
    {"wavfloat", audio::kAudioFileWAVEType, xp::kFloat32, "wav"},
    {"aiff16", audio::kAudioFileAIFFType, xp::kInteger16, "aif"},
    {"aiff32", audio::kAudioFileAIFFType, xp::kInteger32, "aif"},
    {"flac16", audio::kAudioFileFLACType, xp::kFlac16, "flac"},
    {"flac24", audio::kAudioFileFLACType, xp::kFlac24, "flac"},
    {"ogg", audio::kAudioFileOggType, xp::kVorbis, "ogg"},
    {"opus", audio::kAudioFileOggType, xp::kOpus, "opus"},
    {"mp3", audio::kAudioFileMP3Type, xp::kMp3, "mp3"},
};

constexpr char kUsage[] = "usage: zqconvert [OPTIONS] [FORMAT] INPUT OUTPUT\n";
constexpr char kHelp[] = "Converts an audio file to another format, keeping its markers, regions and\n"
                         "tags where the format holds them.\n"
                         "\n"
                         "FORMAT: wav16, wav32, wavfloat, aiff16, aiff32 (16- or 32-bit integers,\n"
                         "32-bit float), flac16, flac24, ogg (Vorbis), opus, mp3. Without FORMAT it is\n"
                         "taken from OUTPUT's extension (.wav, .aif, .aiff, .flac, .ogg, .oga, .opus,\n"
                         ".mp3), at the source's sample size for WAV, AIFF and FLAC. An OUTPUT without\n"
                         "an audio extension gets FORMAT's; one that names another format is refused.\n"
                         "\n"
                         "  --quality Q   ogg: quality 0 ... 10 (5); mp3: variable bit rate of\n"
                         "                quality 0 (best) ... 9; flac: compression level 0 ... 8 (5)\n"
                         "  --bitrate K   opus: kbit/s of the stream (128); mp3: constant kbit/s,\n"
                         "                32 ... 320 (192)\n"
                         "  --verbose     also print the reader's and writer's diagnostic lines\n"
                         "  --help        print this text\n"
                         "  --version     print the version\n"
                         "\n"
                         "Exit status: 0 when converted, 1 when not (the message says why), 2 for a\n"
                         "wrong command line, 130 when interrupted (OUTPUT is then as it was).\n";

// Ctrl+C or SIGTERM stops the decode or the export the way Cancel does, so
// that the export's temporary file goes and the destination stays.
ZQ::DecodeControl* gDecode = nullptr;
xp::Progress* gExport = nullptr;
void onSignal(int) {
    if (ZQ::DecodeControl* d = gDecode) d->cancel();
    if (xp::Progress* e = gExport) e->cancel();
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// The container an extension names, or 0 when it names no audio format.
audio::FourCharCode containerOfExtension(const std::string& extension) {
    const std::string e = lower(extension);
    if (e == "wav" || e == "wave") return audio::kAudioFileWAVEType;
    if (e == "aif" || e == "aiff") return audio::kAudioFileAIFFType;
    if (e == "flac") return audio::kAudioFileFLACType;
    if (e == "ogg" || e == "oga" || e == "opus") return audio::kAudioFileOggType;
    if (e == "mp3") return audio::kAudioFileMP3Type;
    if (e == "aifc" || e == "caf" || e == "sd2" || e == "w64" || e == "mp2" || e == "mp1" || e == "m4a" || e == "au")
        return audio::fourcc("othr");
    return 0;
}

// The format an extension names at the source's sample size.
const Choice* choiceForExtension(const std::string& extension, const ZQ::AudioFileInformationData& source) {
    const std::string e = lower(extension);
    const audio::AudioStreamBasicDescription& d = source.fileDataFormat.value;
    const bool isFloat =
        (d.mFormatFlags & audio::kAudioFormatFlagIsFloat) != 0 && d.mFormatID == audio::kAudioFormatLinearPCM;
    const bool wide = isFloat || d.mBitsPerChannel > 16;
    auto named = [](const char* name) {
        for (const Choice& c : kChoices)
            if (std::strcmp(c.name, name) == 0) return &c;
        return static_cast<const Choice*>(nullptr);
    };
    if (e == "wav" || e == "wave") return named(isFloat ? "wavfloat" : wide ? "wav32" : "wav16");
    if (e == "aif" || e == "aiff") return named(wide ? "aiff32" : "aiff16");
    if (e == "flac") return named(wide ? "flac24" : "flac16");
    if (e == "ogg" || e == "oga") return named("ogg");
    if (e == "opus") return named("opus");
    if (e == "mp3") return named("mp3");
    return nullptr;
}

std::string extensionOf(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
}

bool number(const char* text, double low, double high, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (!end || *end || end == text || !(v >= low && v <= high)) return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Line by line, so the reader's standard output and error messages keep their order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool verbose = false;
    const char* quality = nullptr;
    const char* bitrate = nullptr;
    std::vector<const char*> words;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--version") {
            std::fputs(zqtools::versionText("zqconvert").c_str(), stdout);
            return 0;
        } else if (a == "--verbose") {
            verbose = true;
        } else if ((a == "--quality" || a == "--bitrate") && i + 1 < argc) {
            (a == "--quality" ? quality : bitrate) = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "zqconvert: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        } else {
            words.push_back(argv[i]);
        }
    }
    const Choice* choice = nullptr;
    if (words.size() == 3) {
        for (const Choice& c : kChoices)
            if (std::strcmp(words[0], c.name) == 0) choice = &c;
        if (!choice) {
            std::fprintf(stderr,
                         "zqconvert: there is no format \"%s\"; the formats are wav16, wav32, wavfloat, aiff16, "
                         "aiff32, flac16, flac24, ogg, opus and mp3\n",
                         words[0]);
            return 2;
        }
        words.erase(words.begin());
    }
    if (words.size() != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string inputPath = words[0];
    std::string outputPath = words[1];
    const std::string extension = extensionOf(outputPath);
    const audio::FourCharCode named = containerOfExtension(extension);
    if (choice && named && named != choice->type) {
        std::fprintf(stderr, "zqconvert: %s names another format than %s; name it %s.%s, or choose its format\n",
                     outputPath.c_str(), choice->name,
                     outputPath.substr(0, outputPath.size() - extension.size() - 1).c_str(), choice->extension);
        return 2;
    }
    if (choice && !named) outputPath += std::string(".") + choice->extension;
    if (!choice && (!named || named == audio::fourcc("othr"))) {
        std::fprintf(stderr,
                     "zqconvert: name the format, or give %s the extension of one that is written (.wav, .aif, "
                     ".flac, .ogg, .opus, .mp3)\n",
                     outputPath.c_str());
        return 2;
    }
    audio::EncoderSettings settings;
    double v = 0;
    if (quality && !number(quality, 0, 10, v)) {
        std::fprintf(stderr, "zqconvert: --quality takes a number from 0 to 10\n");
        return 2;
    }
    if (quality)
        settings.vorbisQuality = v, settings.mp3VbrQuality = int(std::min(v, 9.0)),
        settings.flacLevel = int(std::min(v, 8.0));
    if (bitrate && !number(bitrate, 6, 2048, v)) {
        std::fprintf(stderr, "zqconvert: --bitrate takes kbit/s, from 6\n");
        return 2;
    }
    if (bitrate) settings.opusKbps = settings.mp3Kbps = int(v), settings.mp3VbrQuality = -1;

    using platform::Ref;
    using platform::URL;
    Ref<URL> input = Ref<URL>::adopt(URL::fileURLWithPath(inputPath));
    Ref<URL> output = Ref<URL>::adopt(URL::fileURLWithPath(outputPath));
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
    store.make();
    ZQ::DecodeControl control;
    control.byContent = true;
    xp::Progress exporting;
    gDecode = &control;
    gExport = &exporting;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    bool read = false;
    {
        zqtools::QuietOutput quiet(verbose);
        zqtools::TerminalProgress progress(std::filesystem::path(inputPath).filename().string(), control,
                                           quiet.terminal());
        read = store && store->read(input.get(), &control);
    }
    if (!read) {
        if (control.cancelled) return 130;
        std::fprintf(stderr, "zqconvert: %s: %s\n", inputPath.c_str(),
                     zqtools::openFailureText(input->standardizedPath(), control).c_str());
        return 1;
    }
    if (!choice) choice = choiceForExtension(extension, *store->information());
    if (!choice) return 2; // not reached: the extension names a format written
    // The source's markers, as a document opening it would have them.
    ZQ::MarkerList markers = ZQ::markersFromInformation(*store->information());
    markers.clampTo(store->frameCount());
    std::string reason;
    xp::Outcome outcome;
    bool written = false;
    {
        zqtools::QuietOutput quiet(verbose);
        zqtools::TerminalProgress progress(
            std::filesystem::path(outputPath).filename().string(), [&exporting] { return exporting.fraction(); },
            quiet.terminal());
        written = xp::write(store.get(), output.get(), choice->type, choice->code, &reason, &exporting, &outcome,
                            &markers, &settings);
    }
    if (!written) {
        if (outcome.cancelled) return 130; // interrupted: the destination is as it was
        std::fprintf(stderr, "zqconvert: %s: %s\n", outputPath.c_str(),
                     reason.empty() ? "the export failed" : reason.c_str());
        return 1;
    }
    if (outcome.clippedSamples > 0)
        std::fprintf(stderr, "zqconvert: %s: %s\n", outputPath.c_str(),
                     xp::clippedNote(outcome.clippedSamples).c_str());
    if (outcome.markersLeftOut > 0)
        std::fprintf(stderr, "zqconvert: %s: %llu markers were left out (the format holds none, or not there)\n",
                     outputPath.c_str(), static_cast<unsigned long long>(outcome.markersLeftOut));
    return 0;
}
