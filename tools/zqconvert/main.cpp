// zqconvert [OPTIONS] [FORMAT] INPUT OUTPUT, or zqconvert [OPTIONS] -o DIR
// FORMAT INPUT...: opens each INPUT as a document does
// (by its content, whatever its name) and exports it with the document's
// writer, markers, regions and tags included where the format holds them.
// FORMAT is named, or taken from OUTPUT's extension; an OUTPUT without an
// audio extension gets FORMAT's, and one that names another container is
// refused. Exit status 0 on success, 1 on failure (the message says why), 2
// for a wrong command line, 130 when interrupted (SIGINT or SIGTERM; OUTPUT
// is then as it was). With -o, the files are converted on both cores into
// DIR, a line for each and a sum at the end; exit 1 if any failed. With
// --split -o DIR, one INPUT is cut into its regions (or the spans between
// its markers), each its own file in DIR; --labels takes the markers from a
// label file instead of the source.
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/AudioFileInformation.h"
#include "audiofile/LabelFile.h"
#include "audiofile/Markers.h"
#include "audiofile/RegionSplit.h"
#include "audiofile/SequenceLoudness.h"
#include "core/holders.h"
#include "platform/base/Values.h"
#include "tools/common/TerminalProgress.h"
#include "tools/common/ToolText.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

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

constexpr char kUsage[] = "usage: zqconvert [OPTIONS] [FORMAT] INPUT OUTPUT\n"
                          "       zqconvert [OPTIONS] -o DIR FORMAT INPUT...\n"
                          "       zqconvert [OPTIONS] --split -o DIR [FORMAT] INPUT\n";
constexpr char kHelp[] = "Converts an audio file to another format, keeping its markers, regions and\n"
                         "tags where the format holds them.\n"
                         "\n"
                         "FORMAT: wav16, wav32, wavfloat, aiff16, aiff32 (16- or 32-bit integers,\n"
                         "32-bit float), flac16, flac24, ogg (Vorbis), opus, mp3. Without FORMAT it is\n"
                         "taken from OUTPUT's extension (.wav, .aif, .aiff, .flac, .ogg, .oga, .opus,\n"
                         ".mp3), at the source's sample size for WAV, AIFF and FLAC. An OUTPUT without\n"
                         "an audio extension gets FORMAT's; one that names another format is refused.\n"
                         "With -o DIR, every INPUT is converted into DIR under its own name with\n"
                         "FORMAT's extension, two at a time, one line each and a sum at the end.\n"
                         "With --split -o DIR, INPUT is cut into each of its regions or, when it has\n"
                         "none, the spans between its markers (the start to the first, the last to\n"
                         "the end), each written into DIR named from its label (made safe, numbered\n"
                         "where names repeat), as WAV at the source's sample size unless FORMAT says.\n"
                         "\n"
                         "  --labels FILE     the markers and regions of a label file (tab-separated\n"
                         "                    start and end seconds and a name, a line each; CSV for\n"
                         "                    a .csv name) instead of the source's\n"
                         "  --split           cut INPUT into its pieces (with -o DIR)\n"
                         "  --rate HZ         convert to this sample rate (libsoxr, the whole file as\n"
                         "                    one stream: round(frames x HZ / rate) frames, no delay)\n"
                         "  --rate-quality Q  quick, low, medium, high or veryhigh (the default)\n"
                         "  --dither D        when samples are written as integers of fewer bits than\n"
                         "                    they carry: tpdf (the default), shaped (noise moved\n"
                         "                    above 6 kHz) or none; samples already on the grid, as a\n"
                         "                    16-bit file written as 16 bits, are written unchanged\n"
                         "  --normalize L     to an integrated loudness (-23LUFS) under the true-peak\n"
                         "                    ceiling, or to a sample peak (-1dBFS)\n"
                         "  --ceiling P       the true-peak ceiling of --normalize ...LUFS (-1dBTP)\n"
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

// What is asked of every file converted.
struct Options {
    Options() { conversion.dither = ZQ::Requantizer::Dither::Triangular; }
    const Choice* choice = nullptr;
    bool verbose = false;
    audio::EncoderSettings settings;
    xp::Conversion conversion;
    // Normalisation: to an integrated loudness (LUFS) under a true-peak
    // ceiling, or to a sample peak (dBFS).
    bool toLoudness = false, toPeak = false;
    double target = 0, ceiling = -1.0;
    std::string labels; // a label file whose markers replace the source's
    bool split = false;
};

// One file's conversion, its line for the terminal in `line`.
struct Job {
    std::string input, output, line;
    // What deserves a word besides: clipping, markers left out, the gain.
    std::vector<std::string> notes;
    bool converted = false, interrupted = false;
    ZQ::DecodeControl control;
    xp::Progress exporting;
};

// The decodes and exports running, for a signal to cancel; and that one
// came, so that no further file is started.
std::atomic<Job*> gJobs[2] = {};
std::atomic<bool> gInterrupted{false};
ZQ::SplitProgress gSplit;

void onSignal(int) {
    gInterrupted.store(true);
    gSplit.cancelled.store(true);
    for (auto& slot : gJobs)
        if (Job* j = slot.load()) {
            j->control.cancel();
            j->exporting.cancel();
        }
}

// Parses "-23LUFS", "-23 LUFS", "-1dBFS", "-1dBTP" (case as written).
bool level(const std::string& text, double& value, std::string& unit) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (!end || end == text.c_str() || !(value >= -200 && value <= 20)) return false;
    unit = end;
    while (!unit.empty() && unit.front() == ' ')
        unit.erase(unit.begin());
    return true;
}

std::string decibelText(double db) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", db);
    return text;
}

// What a file converts to: its samples, the format, the markers written
// and what is done to the samples on the way.
struct Prepared {
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
    const Choice* choice = nullptr;
    ZQ::MarkerList markers;
    xp::Conversion conversion;
    std::string note; // the gain of a normalisation
};

// Opens job.input and works out what `options` ask of it; false, with
// job.line saying why, when it cannot be converted.
bool prepare(Job& job, const Options& options, bool showProgress, int terminal, Prepared& out) {
    using platform::Ref;
    using platform::URL;
    Ref<URL> input = Ref<URL>::adopt(URL::fileURLWithPath(job.input));
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData>& store = out.store;
    store.make();
    job.control.byContent = true;
    bool read = false;
    {
        std::unique_ptr<zqtools::TerminalProgress> progress;
        if (showProgress)
            progress = std::make_unique<zqtools::TerminalProgress>(std::filesystem::path(job.input).filename().string(),
                                                                   job.control, terminal);
        read = store && store->read(input.get(), &job.control);
    }
    if (!read) {
        job.interrupted = job.control.cancelled;
        job.line = job.input + ": " +
                   (job.interrupted ? std::string("interrupted")
                                    : zqtools::openFailureText(input->standardizedPath(), job.control));
        return false;
    }
    const std::string extension = options.split ? "wav" : extensionOf(job.output);
    const Choice* choice = options.choice ? options.choice : choiceForExtension(extension, *store->information());
    if (!choice) {
        job.line = job.output + ": no format is written with that extension";
        return false;
    }
    out.choice = choice;
    const double rate = store->information()->fileDataFormat.value.mSampleRate;
    ZQ::MarkerList markers = ZQ::markersFromInformation(*store->information());
    if (!options.labels.empty()) {
        std::string reason;
        if (!ZQ::readLabelFile(options.labels, rate, &markers, &reason)) {
            job.line = options.labels + ": " + reason;
            return false;
        }
    }
    markers.clampTo(store->frameCount());
    out.markers = std::move(markers);
    xp::Conversion& conversion = out.conversion;
    conversion = options.conversion;
    std::string& note = out.note;
    if (options.toLoudness || options.toPeak) {
        const ZQ::SampleSnapshot samples = store->samples();
        const ZQ::LoudnessFigures f =
            samples ? ZQ::measureLoudness(*samples, 0, samples->frameCount(), rate, 1) : ZQ::LoudnessFigures{};
        const double measured = options.toLoudness ? f.integrated : f.samplePeak;
        if (!f.valid || !std::isfinite(measured)) {
            job.line = job.input + ": silent, or too short to measure: not normalised";
            return false;
        }
        double gain = options.target - measured;
        if (options.toLoudness && std::isfinite(f.truePeak) && f.truePeak + gain > options.ceiling) {
            gain = options.ceiling - f.truePeak;
            note = " (held to the " + ZQ::loudnessText(options.ceiling, "dBTP") + " ceiling)";
        }
        conversion.gain = std::pow(10.0, gain / 20.0);
        note = ", gain " + decibelText(gain) + note;
    }
    return true;
}

// Opens job.input and writes job.output as `options` ask.
void convert(Job& job, const Options& options, bool showProgress, int terminal) {
    using platform::Ref;
    using platform::URL;
    Prepared prepared;
    if (!prepare(job, options, showProgress, terminal, prepared)) return;
    Ref<URL> output = Ref<URL>::adopt(URL::fileURLWithPath(job.output));
    auto& store = prepared.store;
    const Choice* choice = prepared.choice;
    const ZQ::MarkerList& markers = prepared.markers;
    const xp::Conversion& conversion = prepared.conversion;
    const std::string& note = prepared.note;
    std::string reason;
    xp::Outcome outcome;
    bool written = false;
    {
        std::unique_ptr<zqtools::TerminalProgress> progress;
        if (showProgress)
            progress = std::make_unique<zqtools::TerminalProgress>(
                std::filesystem::path(job.output).filename().string(), [&job] { return job.exporting.fraction(); },
                terminal);
        written = xp::write(store.get(), output.get(), choice->type, choice->code, &reason, &job.exporting, &outcome,
                            &markers, &options.settings, &conversion);
    }
    if (!written) {
        job.interrupted = outcome.cancelled;
        job.line = job.output + ": " +
                   (outcome.cancelled ? std::string("interrupted")
                    : reason.empty()  ? "the export failed"
                                      : reason);
        return;
    }
    job.converted = true;
    job.line = job.input + " -> " + job.output + note;
    if (!note.empty()) job.notes.push_back("normalised" + note);
    if (outcome.clippedSamples > 0) job.notes.push_back(xp::clippedNote(outcome.clippedSamples));
    if (outcome.markersLeftOut > 0)
        job.notes.push_back(std::to_string(outcome.markersLeftOut) +
                            " markers were left out (the format holds none, or not there)");
    for (std::size_t i = note.empty() ? 0 : 1; i < job.notes.size(); ++i)
        job.line += "; " + job.notes[i];
}

// Cuts job.input into its pieces in `directory`, a line for each piece
// written; the exit status.
int split(Job& job, const Options& options, const std::string& directory, int terminal, int output) {
    Prepared prepared;
    if (!prepare(job, options, true, terminal, prepared)) {
        if (job.interrupted) return 130;
        dprintf(terminal, "zqconvert: %s\n", job.line.c_str());
        return 1;
    }
    const ZQ::AudioFileDocumentSampleData& store = *prepared.store;
    const std::vector<ZQ::SplitPiece> pieces =
        ZQ::splitPieces(prepared.markers, store.frameCount(), std::filesystem::path(job.input).stem().string(),
                        prepared.choice->extension);
    if (pieces.empty()) {
        dprintf(terminal, "zqconvert: %s has no markers or regions to split it at\n", job.input.c_str());
        return 1;
    }
    std::string reason;
    bool written = false;
    {
        zqtools::TerminalProgress progress(
            std::to_string(pieces.size()) + " pieces", [] { return gSplit.fraction(); }, terminal);
        written = ZQ::writePieces(store, pieces, directory, prepared.choice->type, prepared.choice->code,
                                  &options.settings, &gSplit, &reason, &prepared.conversion);
    }
    if (gSplit.cancelled.load()) return 130; // the pieces written so far are whole
    if (!written) {
        dprintf(terminal, "zqconvert: %s\n", reason.c_str());
        return 1;
    }
    for (const ZQ::SplitPiece& p : pieces)
        dprintf(output, "%s\n", (std::filesystem::path(directory) / p.fileName).string().c_str());
    dprintf(output, "%zu pieces of %s written\n", pieces.size(), job.input.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Line by line, so the reader's standard output and error messages keep their order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    const char* quality = nullptr;
    const char* bitrate = nullptr;
    const char* directory = nullptr;
    std::vector<const char*> words;
    auto usageError = [](const std::string& text) {
        std::fprintf(stderr, "zqconvert: %s\n", text.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--version") {
            std::fputs(zqtools::versionText("zqconvert").c_str(), stdout);
            return 0;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else if ((a == "--quality" || a == "--bitrate") && hasValue) {
            (a == "--quality" ? quality : bitrate) = argv[++i];
        } else if (a == "--labels" && hasValue) {
            options.labels = argv[++i];
        } else if (a == "--split") {
            options.split = true;
        } else if (a == "-o" && hasValue) {
            directory = argv[++i];
        } else if (a == "--rate" && hasValue) {
            if (!number(argv[++i], 1000, 768000, options.conversion.rate))
                return usageError("--rate takes a rate in Hz, from 1000 to 768000");
        } else if (a == "--rate-quality" && hasValue) {
            if (!ZQ::Resampler::parseQuality(argv[++i], &options.conversion.quality))
                return usageError("--rate-quality takes quick, low, medium, high or veryhigh");
        } else if (a == "--dither" && hasValue) {
            if (!ZQ::Requantizer::parse(argv[++i], &options.conversion.dither))
                return usageError("--dither takes tpdf, shaped or none");
        } else if (a == "--normalize" && hasValue) {
            std::string unit;
            if (!level(argv[++i], options.target, unit) || (unit != "LUFS" && unit != "dBFS"))
                return usageError("--normalize takes a loudness such as -23LUFS or a peak such as -1dBFS");
            (unit == "LUFS" ? options.toLoudness : options.toPeak) = true;
        } else if (a == "--ceiling" && hasValue) {
            std::string unit;
            if (!level(argv[++i], options.ceiling, unit) || (unit != "dBTP" && !unit.empty()))
                return usageError("--ceiling takes a true peak such as -1dBTP");
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "zqconvert: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        } else {
            words.push_back(argv[i]);
        }
    }
    if (!words.empty()) {
        for (const Choice& c : kChoices)
            if (std::strcmp(words[0], c.name) == 0) options.choice = &c;
        if (!options.choice && (words.size() == 3 || (directory && words.size() >= 2 && !std::strchr(words[0], '.') &&
                                                      !std::filesystem::exists(words[0])))) {
            std::fprintf(stderr,
                         "zqconvert: there is no format \"%s\"; the formats are wav16, wav32, wavfloat, aiff16, "
                         "aiff32, flac16, flac24, ogg, opus and mp3\n",
                         words[0]);
            return 2;
        }
        if (options.choice) words.erase(words.begin());
    }
    if (quality) {
        double v = 0;
        if (!number(quality, 0, 10, v)) return usageError("--quality takes a number from 0 to 10");
        options.settings.vorbisQuality = v, options.settings.mp3VbrQuality = int(std::min(v, 9.0)),
        options.settings.flacLevel = int(std::min(v, 8.0));
    }
    if (bitrate) {
        double v = 0;
        if (!number(bitrate, 6, 2048, v)) return usageError("--bitrate takes kbit/s, from 6");
        options.settings.opusKbps = options.settings.mp3Kbps = int(v), options.settings.mp3VbrQuality = -1;
    }

    std::vector<std::unique_ptr<Job>> jobs;
    if (options.split) {
        if (!directory) return usageError("--split writes its pieces into a folder: name it with -o DIR");
        if (words.size() != 1) return usageError("--split cuts one file at a time");
        std::error_code error;
        if (!std::filesystem::is_directory(directory, error))
            return usageError(std::string(directory) + " is not a folder");
        auto job = std::make_unique<Job>();
        job->input = words[0];
        jobs.push_back(std::move(job));
    } else if (directory) {
        // Many inputs into a folder, each keeping its name with the format's extension.
        if (words.empty()) return usageError("name the files to convert into " + std::string(directory));
        if (!options.choice) return usageError("name the format to convert the files into " + std::string(directory));
        std::error_code error;
        if (!std::filesystem::is_directory(directory, error))
            return usageError(std::string(directory) + " is not a folder");
        std::set<std::string> outputs;
        for (const char* w : words) {
            auto job = std::make_unique<Job>();
            job->input = w;
            job->output = (std::filesystem::path(directory) /
                           (std::filesystem::path(w).stem().string() + "." + options.choice->extension))
                              .string();
            if (!outputs.insert(job->output).second)
                return usageError("two of the files would both become " + job->output + "; convert them apart");
            jobs.push_back(std::move(job));
        }
    } else {
        if (words.size() != 2) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        std::string outputPath = words[1];
        const std::string extension = extensionOf(outputPath);
        const audio::FourCharCode named = containerOfExtension(extension);
        const Choice* choice = options.choice;
        if (choice && named && named != choice->type)
            return usageError(outputPath + " names another format than " + choice->name + "; name it " +
                              outputPath.substr(0, outputPath.size() - extension.size() - 1) + "." + choice->extension +
                              ", or choose its format");
        if (choice && !named) outputPath += std::string(".") + choice->extension;
        if (!choice && (!named || named == audio::fourcc("othr")))
            return usageError("name the format, or give " + outputPath +
                              " the extension of one that is written (.wav, .aif, .flac, .ogg, .opus, .mp3)");
        auto job = std::make_unique<Job>();
        job->input = words[0];
        job->output = outputPath;
        jobs.push_back(std::move(job));
    }

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    zqtools::QuietOutput quiet(options.verbose);
    if (options.split) {
        gJobs[0].store(jobs[0].get());
        const int status = split(*jobs[0], options, directory, quiet.terminal(), quiet.output());
        gJobs[0].store(nullptr);
        return status;
    }
    const bool single = !directory;
    if (single) {
        gJobs[0].store(jobs[0].get());
        convert(*jobs[0], options, true, quiet.terminal());
        gJobs[0].store(nullptr);
        Job& job = *jobs[0];
        if (job.interrupted) return 130; // the destination is as it was
        if (!job.converted) {
            dprintf(quiet.terminal(), "zqconvert: %s\n", job.line.c_str());
            return 1;
        }
        for (const std::string& n : job.notes)
            dprintf(quiet.terminal(), "zqconvert: %s: %s\n", job.output.c_str(), n.c_str());
        return 0;
    }
    // Files on both cores, a line for each as it ends, then the sum.
    std::atomic<std::size_t> next{0};
    std::mutex printing;
    std::atomic<bool> stopped{false};
    auto worker = [&](int slot) {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= jobs.size() || stopped.load() || gInterrupted.load()) return;
            gJobs[slot].store(jobs[i].get());
            convert(*jobs[i], options, false, quiet.terminal());
            gJobs[slot].store(nullptr);
            if (jobs[i]->interrupted) stopped.store(true);
            std::lock_guard<std::mutex> lock(printing);
            dprintf(jobs[i]->converted ? quiet.output() : quiet.terminal(), "%s%s\n",
                    jobs[i]->converted ? "" : "zqconvert: ", jobs[i]->line.c_str());
        }
    };
    std::thread helper(worker, 1);
    worker(0);
    helper.join();
    std::size_t converted = 0;
    for (const auto& j : jobs)
        converted += j->converted ? 1 : 0;
    const std::size_t failed = jobs.size() - converted;
    dprintf(quiet.output(), "%zu of %zu converted%s\n", converted, jobs.size(),
            failed ? (", " + std::to_string(failed) + " not").c_str() : "");
    if (stopped.load() || gInterrupted.load()) return 130;
    return failed ? 1 : 0;
}
