// What the benchmark programs share to run documents without windows: a
// Qt Core loop turned for a while or until something holds, test files, and
// documents opened through the document's own route.
#pragma once

#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "platform/base/Values.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <functional>
#include <sndfile.h>
#include <string>
#include <vector>

namespace zqbench {

inline void spinFor(double seconds) {
    QTimer tick;
    tick.start(20);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

inline void spinUntil(const std::function<bool()>& done) {
    QTimer tick;
    tick.start(20);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// A 16-bit WAV of `channels` channels of a soft sine.
inline bool writeFile(const std::string& path, int channels, int rate, long frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<short> block(static_cast<std::size_t>(channels) * 48000);
    for (long at = 0; at < frames;) {
        const long n = std::min<long>(48000, frames - at);
        for (long k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c)
                block[static_cast<std::size_t>(channels * k + c)] =
                    static_cast<short>(8000 * std::sin((at + k) * 0.05));
        sf_writef_short(f, block.data(), n);
        at += n;
    }
    return sf_close(f) == 0;
}

// A stereo 16-bit WAV of a soft sine.
inline bool writeStereoFile(const std::string& path, int rate, long frames) {
    return writeFile(path, 2, rate, frames);
}

// Opens `path` as the direct route does and waits until it can play.
inline platform::Ref<ZQAudioFileDocument> openDocument(const std::string& path) {
    auto url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    auto doc = platform::Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    doc->readFromURL(url.get(), "WAVE audio file", nullptr);
    spinUntil([&] { return doc->audioFileDocumentTransportController() != nullptr; });
    return doc;
}

} // namespace zqbench
