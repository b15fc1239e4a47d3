// What the document window costs on long files, measured on the real window
// (offscreen, the raster engine) with files opened the way the application
// opens them:
//  - a full repaint of a 1920 x 960 window showing 16 channels of a
//    ten-minute 44.1 kHz file, fully zoomed out and at a one-second zoom;
//  - a playback tick on that window (readouts, selection layer,
//    play-position line; 16 channels do not play, so the position stands),
//    and on a 1920 x 960 window of a ten-minute stereo file while it plays
//    through the silent clock output (the line moves every tick, the level
//    meters follow the sound), and the meters alone;
//  - a full repaint of a single view of a one-hour channel, 1920 wide;
//  - the same hour in a 1920 x 960 window with the time ruler, the dB scale
//    and 1,000 markers and regions: a full repaint, the ruler alone, and a
//    playback tick while it plays.
//  - a zoom step through the real keys (Ctrl+= and Ctrl+-, each until
//    every view is drawn again), in milliseconds of CPU on both cores, on
//    an hour of stereo and on ten minutes of 16 channels;
//  - spectrograms of an hour of stereo in a 1920 x 960 window: from the
//    open to the first complete picture fully zoomed out, a later full
//    redraw, zooming to one second, a scroll by a tenth, a playback tick,
//    and the cache after scrolling through the whole hour at one second.
// Every window shows the time ruler (on by default).
// Each figure is the median of many runs, in milliseconds of main-thread time.
//   window_bench [DIR [spectrogram|zoom]]   (the test files are written to
//   DIR, /tmp by default; "spectrogram" or "zoom" runs that part alone)
#include "app/ZQQtWindowSide.h"
#include "audiofile/Markers.h"
#include "document/Termination.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "waveform/SpectrogramCache.h"
#include "window/ViewPreferences.h"
#include "window/ZQWaveform.h"
#include "window/ZQWaveformDisplayController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using platform::Ref;

namespace {

// A long 16-bit file of a slow sweep with noise, written once and reused.
std::string longFile(const std::string& dir, const char* name, int channels, long frames) {
    const std::string path = dir + "/" + name;
    struct stat st {};
    const long long bytes = 44 + 2LL * channels * frames;
    if (::stat(path.c_str(), &st) == 0 && st.st_size == bytes) return path;
    std::printf("writing %s (%.0f MB)...\n", path.c_str(), bytes / 1e6);
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = 44100;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return "";
    std::vector<short> block(static_cast<std::size_t>(channels) * 65536);
    std::uint32_t seed = 1;
    for (long at = 0; at < frames;) {
        const long n = std::min<long>(65536, frames - at);
        for (long k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const double t = double(at + k);
                const double v = 0.5 * std::sin(t * (0.001 + 0.0001 * c)) * std::sin(t * 1e-6) +
                                 (double(seed >> 8) / 16777216.0 - 0.5) * 0.1;
                block[static_cast<std::size_t>(k * channels + c)] = static_cast<short>(v * 32767);
            }
        sf_writef_short(f, block.data(), n);
        at += n;
    }
    sf_close(f);
    return path;
}

void spin(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
}

Ref<ZQAudioFileDocument> openWindow(const std::string& path) {
    ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(path, nullptr);
    Ref<ZQAudioFileDocument> doc;
    spin([&] {
        for (auto& d : ZQDocumentController::sharedDocumentController().documents())
            if (auto* a = dynamic_cast<ZQAudioFileDocument*>(d.get()))
                // Once the file is summarised: the figures are of a complete window.
                if (a->fileName() == path && a->audioFileDocumentTransportController() && a->samplesAreSummarised()) {
                    doc = Ref<ZQAudioFileDocument>::retain(a);
                    return true;
                }
        return false;
    });
    return doc;
}

ZQWaveformDisplayController* displayOf(ZQAudioFileDocument* doc) {
    return dynamic_cast<ZQWaveformDisplayController*>(doc->waveformDisplayController());
}

// Milliseconds of one tick: the readouts and the layers, then the repaints
// of what changed, as the event loop delivers them.
double ticks(ZQAudioFileDocument* doc, ZQWaveformDisplayController* c, std::uint64_t& traceRenders) {
    auto renders = [&] {
        std::uint64_t n = 0;
        for (int i = 0; i < c->waveformCount(); ++i)
            n += c->waveform(i)->traceRenders();
        return n;
    };
    const std::uint64_t before = renders();
    std::vector<double> ms;
    for (int i = 0; i < 200; ++i) {
        QThread::msleep(25);
        QCoreApplication::processEvents(); // what arrived meanwhile is not the tick's
        QElapsedTimer t;
        t.start();
        doc->updateNumericAndHMSDisplays(nullptr);
        QCoreApplication::processEvents();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    traceRenders = renders() - before;
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds for one full repaint of the window: every view's traces drawn
// anew from its overview, then everything composited.
double fullRepaint(ZQWaveformDisplayController* c, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        c->setWaveformsNeedDisplay(true);
        QElapsedTimer t;
        t.start();
        c->window()->repaint();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return median(ms);
}

void report(const char* what, double ms, double target) {
    std::printf("%-62s %8.3f ms  (target <= %.1f ms)\n", what, ms, target);
}

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Milliseconds of CPU (every thread) for one zoom step through the menus'
// keys, alternately in and out near the whole file, each step until every
// view shows every column again.
void zoomSteps(const std::string& path, const char* what) {
    ZQ::ViewPreferences::setDisplay(ZQ::ViewPreferences::Display::Waveform); // whatever an earlier run left
    Ref<ZQAudioFileDocument> doc = openWindow(path);
    ZQWaveformDisplayController* c = displayOf(doc.get());
    c->window()->resize(1920, 960);
    c->window()->show();
    c->window()->activateWindow();
    spin([&] { return c->window()->contentView()->width() == 1920 && c->showsEveryColumn(); });
    std::vector<double> cpu, wall;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long faultsBefore = usage.ru_minflt;
    const int steps = std::getenv("ZQ_BENCH_ZOOM_STEPS") ? std::atoi(std::getenv("ZQ_BENCH_ZOOM_STEPS")) : 40;
    for (int i = 0; i < std::max(2, steps); ++i) {
        QThread::msleep(5);
        QCoreApplication::processEvents();
        const double before = cpuMs();
        QElapsedTimer t;
        t.start();
        QTest::keyClick(c->window(), i % 2 ? Qt::Key_Minus : Qt::Key_Equal, Qt::ControlModifier);
        QCoreApplication::processEvents();
        while (!c->showsEveryColumn())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        cpu.push_back(cpuMs() - before);
        wall.push_back(t.nsecsElapsed() / 1e6);
    }
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s; views %d x %d, zoom %.3g after the last step, %.0f page faults a step\n", what,
                c->waveform(0)->width(), c->waveform(0)->height(), c->horizontalZoom(),
                static_cast<double>(usage.ru_minflt - faultsBefore) / static_cast<double>(cpu.size()));
    report("  zoom step through the keys, CPU (both cores)", median(cpu), 10);
    report("  the same, wall time", median(wall), 10);
    doc->close();
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    QApplication app(argc, argv);
    QApplication::setOrganizationName("ZQBench");
    QApplication::setApplicationName("WindowBench");
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    ZQQtWindowSide side;
    setDocumentWindowSide(&side);

    const long tenMinutes = 10L * 60 * 44100, oneHour = 60L * 60 * 44100;
    const std::string sixteen = longFile(dir, "zq-bench-16ch-10min.wav", 16, tenMinutes);
    const std::string stereo = longFile(dir, "zq-bench-2ch-10min.wav", 2, tenMinutes);
    const std::string mono = longFile(dir, "zq-bench-1ch-1h.wav", 1, oneHour);
    if (sixteen.empty() || stereo.empty() || mono.empty()) {
        std::fprintf(stderr, "window_bench: cannot write the test files in %s\n", dir.c_str());
        return 1;
    }

    const bool onlySpectra = argc > 2 && std::string(argv[2]) == "spectrogram";
    const bool onlyZoom = argc > 2 && std::string(argv[2]) == "zoom";
    if (!onlySpectra) {
        zoomSteps(longFile(dir, "zq-bench-2ch-1h.wav", 2, oneHour), "2 channels of one hour");
        zoomSteps(sixteen, "16 channels of 10 minutes");
    }
    if (!onlySpectra && !onlyZoom) {
        Ref<ZQAudioFileDocument> doc = openWindow(sixteen);
        ZQWaveformDisplayController* c = displayOf(doc.get());
        c->window()->resize(1920, 960);
        spin([&] { return c->window()->contentView()->width() == 1920; });
        c->window()->repaint();
        std::printf("16 channels of 10 minutes; views %d x %d\n", c->waveform(0)->width(), c->waveform(0)->height());
        report("full repaint, 16 x 10 min, fully zoomed out", fullRepaint(c, 40), 8);
        {
            std::vector<double> ms;
            for (int run = 0; run < 40; ++run) {
                for (int i = 0; i < c->waveformCount(); ++i)
                    c->waveform(i)->update(); // the views again, their traces kept
                QElapsedTimer t;
                t.start();
                c->window()->repaint();
                ms.push_back(t.nsecsElapsed() / 1e6);
            }
            report("  the same with the traces kept (compositing only)", median(ms), 8);
        }
        {
            // Of which the overviews alone (every view's reduction from its summary).
            std::vector<double> ms;
            for (int run = 0; run < 40; ++run) {
                QElapsedTimer t;
                t.start();
                for (int i = 0; i < c->waveformCount(); ++i)
                    doc->updateWaveformStore(c->waveform(i));
                ms.push_back(t.nsecsElapsed() / 1e6);
            }
            report("  the 16 overviews alone, on one core", median(ms), 8);
        }
        {
            // The same reduced as the window reduces views of one width
            // and zoom: every channel's columns at once, then each view's
            // points from them.
            std::vector<double> ms;
            const ZQ::SampleSnapshot samples = doc->sampleData()->samples();
            const QSize size = c->waveform(0)->deviceSize();
            const ZQ::CGRect frame{{0, 0}, {double(size.width()), double(size.height())}};
            std::vector<ZQ::WaveformOverview<ZQ::CGPoint>> overviews(16);
            for (int run = 0; run < 40; ++run) {
                QElapsedTimer t;
                t.start();
                ZQ::SharedColumns shared;
                ZQ::WaveformZoomSettings zoom = c->waveform(0)->zoomSettings();
                zoom.setWaveformView(nullptr);
                ZQ::computeSharedColumns(shared, samples, zoom, std::uint64_t(size.width()), nullptr);
                for (int i = 0; i < c->waveformCount(); ++i) {
                    ZQ::IndexRange drawn;
                    ZQ::calculateWaveformOverview(overviews[std::size_t(i)], zoom, {samples, unsigned(i)}, frame, drawn,
                                                  nullptr, nullptr, &shared);
                }
                ms.push_back(t.nsecsElapsed() / 1e6);
            }
            report("  the 16 overviews together (every channel at once), one core", median(ms), 8);
        }
        c->setHorizontalZoom(44100.0 / tenMinutes, true);
        c->horizontalScrollScroller()->setValue(c->horizontalScrollScroller()->maximum() / 2);
        report("full repaint, 16 x 10 min, one second in view", fullRepaint(c, 40), 8);
        c->zoomOutEntirely();
        c->window()->repaint();

        c->waveform(3)->setSelection({ZQ::Num::Count(1000000ull), ZQ::Num::Count(9000000ull)});
        std::uint64_t renders = 0;
        report("tick, 16 x 10 min (readouts, layers, repaints)", ticks(doc.get(), c, renders), 1);
        std::printf("%-62s %8llu\n", "  traces drawn again during 200 ticks", static_cast<unsigned long long>(renders));
        doc->close();
    }
    if (!onlySpectra && !onlyZoom) {
        Ref<ZQAudioFileDocument> doc = openWindow(stereo);
        ZQWaveformDisplayController* c = displayOf(doc.get());
        c->window()->resize(1920, 960);
        spin([&] { return c->window()->contentView()->width() == 1920; });
        c->window()->repaint();
        c->waveform(0)->setSelection({ZQ::Num::Count(1000000ull), ZQ::Num::Count(9000000ull)});
        doc->audioFileDocumentTransportController()->perform_Play(nullptr);
        spin([&] { return doc->presentPlaybackPosition() > 0; });
        std::uint64_t renders = 0;
        const std::uint64_t from = doc->presentPlaybackPosition();
        report("playback tick, 2 x 10 min playing (line moving)", ticks(doc.get(), c, renders), 1);
        std::printf("%-62s %8llu\n", "  traces drawn again during 200 ticks", static_cast<unsigned long long>(renders));
        std::printf("%-62s %8.2f s\n", "  played meanwhile", double(doc->presentPlaybackPosition() - from) / 44100);
        {
            // The level meters alone: read from the source, drawn anew.
            std::vector<double> ms;
            for (int i = 0; i < 200; ++i) {
                QThread::msleep(5);
                QCoreApplication::processEvents();
                QElapsedTimer t;
                t.start();
                c->updateLevelMeter();
                c->levelMeter()->repaint();
                ms.push_back(t.nsecsElapsed() / 1e6);
            }
            report("  of which the level meters (read and drawn)", median(ms), 1);
        }
        doc->audioFileDocumentTransportController()->perform_Stop(nullptr);
        doc->close();
    }
    if (!onlySpectra && !onlyZoom) {
        Ref<ZQAudioFileDocument> doc = openWindow(mono);
        ZQWaveformDisplayController* c = displayOf(doc.get());
        c->window()->resize(1920 + 10, 400);
        spin([&] { return c->window()->contentView()->width() == 1930; });
        c->window()->repaint();
        ZQWaveform* v = c->waveform(0);
        std::printf("1 channel of one hour; view %d x %d\n", v->width(), v->height());
        std::vector<double> ms;
        for (int i = 0; i < 100; ++i) {
            v->setNeedsDisplay();
            QElapsedTimer t;
            t.start();
            v->repaint();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        report("repaint of one view, 1 h channel, fully zoomed out", median(ms), 1);
        ms.clear();
        for (int i = 0; i < 100; ++i) {
            QElapsedTimer t;
            t.start();
            doc->updateWaveformStore(v);
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        report("  of which the overview", median(ms), 1);

        // The ruler, the dB scale and 1,000 markers (every 3.6 s, one in ten
        // a region of a second), in a window of 1920 x 960.
        std::vector<ZQ::Marker> marks;
        for (int i = 0; i < 1000; ++i)
            marks.push_back({std::uint64_t(i) * 158760, i % 10 == 5 ? 44100u : 0u, "Marker " + std::to_string(i + 1)});
        doc->setMarkers(ZQ::MarkerList(std::move(marks)));
        ZQ::ViewPreferences::setAmplitudeInDb(true);
        c->window()->resize(1920, 960);
        spin([&] { return c->window()->contentView()->width() == 1920; });
        c->window()->repaint();
        std::printf("1 channel of one hour, ruler, dB scale, 1,000 markers; view %d x %d\n", v->width(), v->height());
        report("full repaint, 1 h, ruler + dB + 1,000 markers, zoomed out", fullRepaint(c, 40), 8);
        c->setHorizontalZoom(60.0 * 44100 / oneHour, true); // a minute: some 17 markers in view
        c->scrollToFirstSample(oneHour / 2.0);
        report("full repaint, the same at one minute in view", fullRepaint(c, 40), 8);
        c->zoomOutEntirely();
        c->window()->repaint();
        ms.clear();
        for (int i = 0; i < 100; ++i) {
            QElapsedTimer t;
            t.start();
            c->timeRuler()->repaint();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        report("  of which the ruler with its markers, zoomed out", median(ms), 8);
        doc->audioFileDocumentTransportController()->perform_Play(nullptr);
        spin([&] { return doc->presentPlaybackPosition() > 0; });
        std::uint64_t renders = 0;
        report("playback tick, 1 h, ruler + dB + 1,000 markers, playing", ticks(doc.get(), c, renders), 1);
        std::printf("%-62s %8llu\n", "  traces drawn again during 200 ticks", static_cast<unsigned long long>(renders));
        doc->audioFileDocumentTransportController()->perform_Stop(nullptr);
        ZQ::ViewPreferences::setAmplitudeInDb(false);
        doc->close();
    }
    if (!onlyZoom) {
        // Spectrograms of an hour of stereo, chosen before the file opens.
        const std::string hour = longFile(dir, "zq-bench-2ch-1h.wav", 2, oneHour);
        ZQ::ViewPreferences::setDisplay(ZQ::ViewPreferences::Display::Spectrogram);
        QElapsedTimer sinceOpen;
        sinceOpen.start();
        Ref<ZQAudioFileDocument> doc = openWindow(hour);
        ZQWaveformDisplayController* c = displayOf(doc.get());
        const double opened = sinceOpen.nsecsElapsed() / 1e9;
        c->window()->resize(1920, 960);
        spin([&] { return c->window()->contentView()->width() == 1920; });
        QElapsedTimer t;
        t.start();
        // Complete: both views drawn with every column's levels.
        auto complete = [&] {
            for (int i = 0; i < c->waveformCount(); ++i)
                c->waveform(i)->repaint();
            for (int i = 0; i < c->waveformCount(); ++i)
                if (c->waveform(i)->pendingColumns() != 0) return false;
            return true;
        };
        spin(complete);
        std::printf("2 channels of one hour as spectrograms; views %d x %d\n", c->waveform(0)->width(),
                    c->waveform(0)->height());
        std::printf("%-62s %8.3f s\n", "  opening the file (to its window)", opened);
        report("first complete spectrogram after the file opened, zoomed out", t.nsecsElapsed() / 1e6, 2000);
        report("full repaint, spectrograms zoomed out (cached)", fullRepaint(c, 20), 50);
        auto cache = c->spectrogramCache();
        // One second in view, in the middle of the hour.
        t.restart();
        c->setHorizontalZoom(44100.0 / oneHour, true);
        c->scrollToFirstSample(oneHour / 2.0);
        spin(complete);
        report("zoomed to one second: until complete", t.nsecsElapsed() / 1e6, 100);
        const std::uint64_t made = cache->tilesMade();
        t.restart();
        c->scrollByColumns(c->waveform(0)->width() / 10.0, c->waveform(0)->width());
        spin(complete);
        report("  scrolled by a tenth: until complete", t.nsecsElapsed() / 1e6, 100);
        std::printf("%-62s %8llu of %d\n", "  tiles made for it (both channels)",
                    static_cast<unsigned long long>(cache->tilesMade() - made),
                    2 * (c->waveform(0)->width() + 63) / 64);
        // Ticks zoomed out, as for the waveforms: the line moves, nothing pages.
        c->zoomOutEntirely();
        spin(complete);
        doc->audioFileDocumentTransportController()->perform_Play(nullptr);
        spin([&] { return doc->presentPlaybackPosition() > 0; });
        std::uint64_t renders = 0;
        report("playback tick with spectrograms, zoomed out (line moving)", ticks(doc.get(), c, renders), 1);
        std::printf("%-62s %8llu\n", "  traces drawn again during 200 ticks", static_cast<unsigned long long>(renders));
        doc->audioFileDocumentTransportController()->perform_Stop(nullptr);
        // Through the whole hour a view at a time, at one second.
        c->setHorizontalZoom(44100.0 / oneHour, true);
        c->scrollToFirstSample(0);
        spin(complete);
        t.restart();
        const int views = 3600;
        for (int i = 0; i < views; ++i) {
            c->scrollByColumns(c->waveform(0)->width(), c->waveform(0)->width());
            spin(complete);
        }
        std::printf("%-62s %8.1f s\n", "scrolled through the hour at one second, every view complete",
                    t.nsecsElapsed() / 1e9);
        std::printf("%-62s %8.1f MB  (bound %.0f MB)\n", "  the cache after it", cache->bytes() / 1e6,
                    cache->bound() / 1e6);
        ZQ::ViewPreferences::setDisplay(ZQ::ViewPreferences::Display::Waveform);
        doc->close();
    }
    spin([] { return ZQDocumentController::sharedDocumentController().documents().empty(); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the closed windows
    ZQ::terminateApplication();
    setDocumentWindowSide(nullptr);
    return 0;
}
