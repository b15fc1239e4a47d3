// zqplay FILE: opens FILE as a document does, presses Play, waits for the
// automatic Stop at the end of the file, lets the output play out, runs the
// application's termination and exits 0. A file that cannot be opened: the
// reader's messages and exit 1. ZQ_AUDIO_OUTPUT chooses the output
// (portaudio, null, capture:PATH).
#include "document/HeadlessWindowSide.h"
#include "document/Termination.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "playback/OutputStream.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

// Turns the main thread's event loop (without spinning the processor: a
// 20 ms timer bounds each wait) until `done` holds.
void spinUntil(const std::function<bool()>& done) {
    QTimer tick;
    tick.start(20);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

int finish(int status) {
    ZQ::terminateApplication();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zqplay FILE\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    ZQHeadlessWindowSide side;
    setDocumentWindowSide(&side);

    using platform::Ref;
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(argv[1]));
    const std::string type = ZQDocumentController::typeForExtension(url->pathExtension());
    if (type.empty()) {
        std::fprintf(stderr, "%s: only WAV, AIFF, Sound Designer II and CAF files can be played\n", argv[1]);
        return finish(1);
    }
    Ref<ZQAudioFileDocument> doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    doc->readFromURL(url.get(), type, nullptr);
    spinUntil([&] { return doc->audioFileDocumentTransportController() != nullptr || side.alerts() > 0; });
    if (side.alerts() > 0) return finish(1);

    // Nothing would ever play (or end) on an output that could not be opened.
    auto* stream = dynamic_cast<ZQ::AudioStream::OutputStream*>(
        doc->audioFileDocumentOutputSource() ? doc->audioFileDocumentOutputSource()->stream() : nullptr);
    if (!stream) {
        std::fprintf(stderr, "%s: no audio output for this file's format\n", argv[1]);
        doc->close();
        return finish(1);
    }
    spinUntil([&] { return stream->initialiseResult() != ZQ::AudioStream::OutputStream::kNotInitialisedYet; });
    if (stream->initialiseResult() != 0) {
        std::fprintf(stderr, "%s: the audio output could not be opened\n", argv[1]);
        doc->close();
        return finish(1);
    }

    ZQAudioFileDocumentTransportController* transport = doc->audioFileDocumentTransportController();
    transport->perform_Play(nullptr); // the path a button press takes
    ZQAudioFileDocumentTransportCommandReceiver* receiver = doc->audioFileDocumentTransportCommandReceiver();
    spinUntil([&] { return !receiver->isPlaying(); });
    // What was rendered last is still on its way to the device.
    ZQ::AudioStream::OutputStream::waitUntilAllPlayed(5.0);
    doc->close();
    return finish(0);
}
