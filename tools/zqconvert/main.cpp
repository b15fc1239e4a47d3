// zqconvert FORMAT INPUT OUTPUT: opens INPUT as a document does and exports
// it with the document's writer, markers and regions included. FORMAT:
// wav16, wav32, wavfloat, aiff16, aiff32. Exit status 0 on success, 1 on failure (the messages say why), 130
// when interrupted (SIGINT or SIGTERM; OUTPUT is then as it was).
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/Markers.h"
#include "core/holders.h"
#include "platform/base/Values.h"
#include "tools/common/TerminalProgress.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

struct Choice {
    const char* name;
    platform::audio::FourCharCode type;
    int code;
};
constexpr Choice kChoices[] = {
    {"wav16", platform::audio::kAudioFileWAVEType, ZQ::AudioFileExport::kInteger16},
    {"wav32", platform::audio::kAudioFileWAVEType, ZQ::AudioFileExport::kInteger32},
    {"wavfloat", platform::audio::kAudioFileWAVEType, ZQ::AudioFileExport::kFloat32},
    {"aiff16", platform::audio::kAudioFileAIFFType, ZQ::AudioFileExport::kInteger16},
    {"aiff32", platform::audio::kAudioFileAIFFType, ZQ::AudioFileExport::kInteger32},
};

// Ctrl+C or SIGTERM stops the decode or the export the way Cancel does, so
// that the export's temporary file goes and the destination stays.
ZQ::DecodeControl* gDecode = nullptr;
ZQ::AudioFileExport::Progress* gExport = nullptr;
void onSignal(int) {
    if (ZQ::DecodeControl* d = gDecode) d->cancel();
    if (ZQ::AudioFileExport::Progress* e = gExport) e->cancel();
}

} // namespace

int main(int argc, char** argv) {
    // Line by line, so the reader's standard output and error messages keep their order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const Choice* choice = nullptr;
    for (const Choice& c : kChoices)
        if (argc == 4 && std::strcmp(argv[1], c.name) == 0) choice = &c;
    if (!choice) {
        std::fprintf(stderr, "usage: zqconvert wav16|wav32|wavfloat|aiff16|aiff32 INPUT OUTPUT\n");
        return 2;
    }
    using platform::Ref;
    using platform::URL;
    Ref<URL> input = Ref<URL>::adopt(URL::fileURLWithPath(argv[2]));
    Ref<URL> output = Ref<URL>::adopt(URL::fileURLWithPath(argv[3]));
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
    store.make();
    ZQ::DecodeControl control;
    ZQ::AudioFileExport::Progress exporting;
    gDecode = &control;
    gExport = &exporting;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    bool read = false;
    {
        zqtools::TerminalProgress progress(std::filesystem::path(argv[2]).filename().string(), control);
        read = store && store->read(input.get(), &control);
    }
    if (!read) {
        std::fflush(stdout);
        if (control.cancelled) return 130;
        std::fprintf(stderr, "\n%s: cannot be opened\n", argv[2]);
        return 1;
    }
    // The source's markers, as a document opening it would have them.
    ZQ::MarkerList markers = ZQ::markersFromInformation(*store->information());
    markers.clampTo(store->frameCount());
    std::string reason;
    ZQ::AudioFileExport::Outcome outcome;
    bool written = false;
    {
        zqtools::TerminalProgress progress(std::filesystem::path(argv[3]).filename().string(),
                                           [&exporting] { return exporting.fraction(); });
        written = ZQ::AudioFileExport::write(store.get(), output.get(), choice->type, choice->code, &reason, &exporting,
                                             &outcome, &markers);
    }
    if (!written) {
        std::fflush(stdout);
        if (outcome.cancelled) return 130; // interrupted: the destination is as it was
        std::fprintf(stderr, "%s: export failed%s%s\n", argv[3], reason.empty() ? "" : ": ", reason.c_str());
        return 1;
    }
    if (outcome.clippedSamples > 0) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", argv[3], ZQ::AudioFileExport::clippedNote(outcome.clippedSamples).c_str());
    }
    return 0;
}
