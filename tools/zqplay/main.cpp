// zqplay [--verbose] [--channels LIST] [--device NAME] FILE: opens FILE as a document does, presses Play,
// waits for the automatic Stop at the end of the file, lets the output play
// out, runs the application's termination and exits 0. A file that cannot be
// opened, or an output that cannot be opened or stops: the message and exit
// 1. --channels 1,3 plays only those channels (counted from 1), mixed as the
// application's Solo would; --device plays on the named output device (one
// of those --list-devices prints, as the Output Device menu names them; an
// unknown name is an error, with the list). ZQ_AUDIO_OUTPUT chooses the
// output (pulse, portaudio, null, capture:PATH; by default the sound server
// when one answers, else portaudio). The library's diagnostic lines (the
// termination's ".suoqe.") are printed with --verbose only.
#include "document/HeadlessWindowSide.h"
#include "document/Termination.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "platform/audioout/AudioQueue.h"
#include "playback/OutputStream.h"
#include "tools/common/ToolText.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

// Turns the main thread's event loop (without spinning the processor: a
// 20 ms timer bounds each wait) until `done` holds.
void spinUntil(const std::function<bool()>& done) {
    QTimer tick;
    tick.start(20);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool gVerbose = false;

int finish(int status) {
    zqtools::QuietOutput quiet(gVerbose, false);
    ZQ::terminateApplication();
    return status;
}

constexpr char kUsage[] = "usage: zqplay [--verbose] [--channels LIST] [--device NAME] FILE | --list-devices\n";
constexpr char kHelp[] = "Plays an audio file (WAV, AIFF, Sound Designer II, CAF, Wave64, FLAC, Ogg\n"
                         "Vorbis, Opus or MPEG audio) to its end on the desktop's sound server.\n"
                         "\n"
                         "  --channels LIST   play only these channels, counted from 1 (1,3), mixed as\n"
                         "                    the application's Solo mixes them\n"
                         "  --device NAME     play on this output (one --list-devices prints)\n"
                         "  --list-devices    print the outputs, one a line\n"
                         "  --verbose         also print the library's diagnostic lines\n"
                         "  --help            print this text\n"
                         "  --version         print the version\n"
                         "\n"
                         "ZQ_AUDIO_OUTPUT chooses the output: pulse, portaudio, null or capture:PATH.\n"
                         "Exit status: 0 when played to the end, 1 when the file or the output failed,\n"
                         "2 for a wrong command line.\n";

// "1,3" -> {0, 2}; empty on anything else.
std::vector<int> parseChannels(const std::string& text) {
    std::vector<int> out;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos || item.size() > 3) return {};
        const int channel = std::stoi(item);
        if (channel < 1) return {};
        out.push_back(channel - 1);
        at = comma + 1;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 2 && std::string(argv[1]) == "--list-devices") {
        for (const std::string& name : platform::audio::outputDeviceNames())
            std::printf("%s\n", name.c_str());
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == "--version") {
            std::fputs(zqtools::versionText("zqplay").c_str(), stdout);
            return 0;
        }
    }
    std::vector<int> channels;
    int at = 1;
    if (at < argc && std::string(argv[at]) == "--verbose") gVerbose = true, ++at;
    for (; at + 1 < argc; at += 2) {
        const std::string option = argv[at];
        if (option == "--channels") {
            channels = parseChannels(argv[at + 1]);
            if (channels.empty()) {
                std::fprintf(stderr, "zqplay: --channels takes channel numbers from 1, separated by commas (1,3)\n");
                return 2;
            }
        } else if (option == "--device") {
            const std::vector<std::string> names = platform::audio::outputDeviceNames();
            if (std::find(names.begin(), names.end(), argv[at + 1]) == names.end()) {
                std::fprintf(stderr, "zqplay: there is no output device \"%s\"; the devices are:\n", argv[at + 1]);
                for (const std::string& name : names)
                    std::fprintf(stderr, "  %s\n", name.c_str());
                return 1;
            }
            platform::audio::setPreferredOutputDevice(argv[at + 1]);
        } else {
            break;
        }
    }
    if (at != argc - 1 || (argv[at][0] == '-' && argv[at][1] != 0)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const char* file = argv[at];
    QCoreApplication app(argc, argv);
    ZQHeadlessWindowSide side;
    setDocumentWindowSide(&side);

    using platform::Ref;
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(file));
    const std::string type = ZQDocumentController::typeForExtension(url->pathExtension());
    if (type.empty()) {
        std::fprintf(stderr,
                     "%s: only WAV, AIFF, Sound Designer II, CAF, Wave64, FLAC, Ogg Vorbis, Opus and MPEG audio "
                     "files can be played\n",
                     file);
        return finish(1);
    }
    Ref<ZQAudioFileDocument> doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    doc->readFromURL(url.get(), type, nullptr);
    spinUntil([&] { return doc->audioFileDocumentTransportController() != nullptr || side.alerts() > 0; });
    if (side.alerts() > 0) return finish(1);

    if (!doc->audioFileDocumentOutputSource()) {
        std::fprintf(stderr, "%s: no audio output for this file's format\n", file);
        doc->close();
        return finish(1);
    }
    if (!channels.empty()) {
        for (int c : channels)
            if (c >= doc->channelCount()) {
                std::fprintf(stderr, "%s: has %d channels; there is no channel %d\n", file, doc->channelCount(), c + 1);
                doc->close();
                return finish(2);
            }
        for (int c : channels)
            doc->setChannelSoloed(c, true);
    }

    ZQAudioFileDocumentTransportController* transport = doc->audioFileDocumentTransportController();
    transport->perform_Play(nullptr); // the path a button press takes
    ZQAudioFileDocumentTransportCommandReceiver* receiver = doc->audioFileDocumentTransportCommandReceiver();
    // An output that cannot be opened, or that stops, stops the transport and
    // says why (on standard error, through the headless window side).
    spinUntil([&] { return !receiver->isPlaying() || side.alerts() > 0; });
    spinUntil([&] { return !receiver->isPlaying(); });
    if (side.alerts() > 0) {
        doc->close();
        return finish(1);
    }
    // What was rendered last is still on its way to the device.
    ZQ::AudioStream::OutputStream::waitUntilAllPlayed(5.0);
    doc->close();
    return finish(0);
}
