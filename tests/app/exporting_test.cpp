// Exports as the window runs them: on a thread of their own behind a sheet
// with Cancel, multichannel documents written whole, the clipping note, and
// a document closed in the middle of an export.
#include "AppFixture.h"
#include "app/ZQExportProgressWindow.h"
#include "audiofile/AudioFileExport.h"

#include "document/DocumentPreferences.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sndfile.h>

using namespace testsupport;
using platform::Ref;
namespace Export = ZQ::AudioFileExport;

namespace {

double ramp(int c, long k) {
    return static_cast<double>(((k * 29 + c * 977) % 4096) - 2048) / 4096.0;
}
double loud(int, long k) {
    return k % 10 == 0 ? 1.25 : 0.5; // one sample in ten past full scale
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool temporaryFilesIn(const std::string& dir) {
    for (auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename().string().find(".export-") != std::string::npos) return true;
    return false;
}

struct SlowChunks {
    explicit SlowChunks(int ms) { Export::setChunkPauseForTesting(std::chrono::milliseconds(ms)); }
    ~SlowChunks() { Export::setChunkPauseForTesting(std::chrono::microseconds(0)); }
};

class ExportingTest : public AppTest {};

} // namespace

TEST_F(ExportingTest, ALongExportShowsItsSheetAndCancelKeepsTheDestination) {
    // Twenty chunks of 60 ms: long enough for the sheet to show.
    const long frames = 20 * Export::kChunkFrames;
    Ref<ZQAudioFileDocument> doc = open(floatFile("long.wav", 2, frames, ramp));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    const std::string out = dir.file("keep.wav");
    std::ofstream(out, std::ios::binary) << "an earlier export";
    SlowChunks slow(60);
    bool finished = false, exported = true;
    capture([&] {
        doc->beginExport(dir.path(), out, Export::kInteger16, platform::audio::kAudioFileWAVEType, [&](bool e) {
            finished = true;
            exported = e;
        });
    });
    EXPECT_TRUE(doc->isExporting());
    ZQExportProgressWindow* sheet = side.exportProgressWindow(doc.get());
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(waitUntil([&] { return sheet->isVisible(); }, 5000));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), w);
    EXPECT_TRUE(sheet->windowTitle().contains("long.wav")) << sheet->windowTitle().toStdString();
    // Nothing changes the samples meanwhile: the Edit menu is off.
    refreshMenus();
    EXPECT_FALSE(item(w, "selectAll")->isEnabled());
    EXPECT_FALSE(item(w, "exportWave16")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return sheet->percent() > 0; }, 5000));
    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return finished; }, 10000));
    EXPECT_FALSE(exported);
    EXPECT_FALSE(doc->isExporting());
    EXPECT_EQ(bytesOf(out), "an earlier export");
    EXPECT_FALSE(temporaryFilesIn(dir.path()));
    // A cancel is the user's choice: no alert.
    spinFor(50);
    EXPECT_EQ(w->findChild<QMessageBox*>(), nullptr);
    EXPECT_EQ(side.exportProgressWindow(doc.get()), nullptr);
    refreshMenus();
    EXPECT_TRUE(item(w, "exportWave16")->isEnabled());
    doc->close();
}

TEST_F(ExportingTest, SixChannelsThroughTheWindowAreWrittenWholeWithTheirSpeakers) {
    const long frames = 3000;
    Ref<ZQAudioFileDocument> doc = open(floatFile("six.wav", 6, frames, ramp));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    for (const auto& [code, type, name] :
         {std::tuple{Export::kInteger32, platform::audio::kAudioFileWAVEType, "six-32.wav"},
          std::tuple{Export::kInteger16, platform::audio::kAudioFileAIFFType, "six-16.aif"}}) {
        const std::string out = dir.file(name);
        bool done = false, exported = false;
        capture([&] {
            doc->savePanelDidEnd(true, dir.path(), out, code, type, [&](bool e) {
                done = true;
                exported = e;
            });
        });
        ASSERT_TRUE(waitUntil([&] { return done; }, 10000)) << name;
        EXPECT_TRUE(exported) << name;
        SF_INFO info{};
        SNDFILE* f = sf_open(out.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr) << name;
        EXPECT_EQ(info.channels, 6);
        EXPECT_EQ(info.frames, frames);
        std::vector<double> back(std::size_t(frames) * 6);
        EXPECT_EQ(sf_readf_double(f, back.data(), frames), frames);
        sf_close(f);
        long wrong = 0;
        for (long k = 0; k < frames; ++k)
            for (int c = 0; c < 6; ++c)
                wrong += back[std::size_t(k) * 6 + c] != ramp(c, k);
        EXPECT_EQ(wrong, 0) << name;
        if (type == platform::audio::kAudioFileWAVEType) {
            EXPECT_EQ(info.format, SF_FORMAT_WAVEX | SF_FORMAT_PCM_32);
            int map[6] = {};
            SNDFILE* again = sf_open(out.c_str(), SFM_READ, &info);
            ASSERT_NE(again, nullptr);
            EXPECT_EQ(sf_command(again, SFC_GET_CHANNEL_MAP_INFO, map, sizeof map), SF_TRUE);
            sf_close(again);
            EXPECT_EQ(map[0], SF_CHANNEL_MAP_LEFT);
            EXPECT_EQ(map[3], SF_CHANNEL_MAP_LFE); // 5.1
            EXPECT_EQ(map[5], SF_CHANNEL_MAP_REAR_RIGHT);
        }
    }
    EXPECT_EQ(w->findChild<QMessageBox*>(), nullptr);
    doc->close();
}

TEST_F(ExportingTest, ClippedSamplesGetANoteAndTheConsoleAHundredLines) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("loud.wav", 1, 20000, loud));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    const std::string out = dir.file("clipped.wav");
    bool done = false;
    Captured console = capture([&] {
        doc->savePanelDidEnd(true, dir.path(), out, Export::kInteger16, platform::audio::kAudioFileWAVEType,
                             [&](bool) { done = true; });
        ASSERT_TRUE(waitUntil([&] { return done; }, 10000));
    });
    QMessageBox* note = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (note = w->findChild<QMessageBox*>("exportNote")) && note->isVisible(); }));
    EXPECT_EQ(note->informativeText(), "2,000 samples were clipped to full scale.");
    EXPECT_EQ(note->windowModality(), Qt::WindowModal);
    std::size_t lines = 0;
    for (std::size_t at = console.out.find("Clipped audio file\n"); at != std::string::npos;
         at = console.out.find("Clipped audio file\n", at + 1))
        ++lines;
    EXPECT_EQ(lines, 100u);
    EXPECT_NE(console.out.find("Clipped audio file: 1900 more samples clipped\n"), std::string::npos);
    note->accept();
    doc->close();
}

TEST_F(ExportingTest, ClosingTheDocumentStopsItsExport) {
    const long frames = 30 * Export::kChunkFrames;
    Ref<ZQAudioFileDocument> doc = open(floatFile("closing.wav", 1, frames, ramp));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    const std::string out = dir.file("never.wav");
    SlowChunks slow(50);
    bool finished = false, exported = true;
    capture([&] {
        doc->beginExport(dir.path(), out, Export::kFloat32, platform::audio::kAudioFileWAVEType, [&](bool e) {
            finished = true;
            exported = e;
        });
    });
    ASSERT_TRUE(waitUntil([&] { return doc->exportProgress() > 0; }, 5000));
    capture([&] { doc->close(); }); // as the window's close, Quit or a signal end it
    ASSERT_TRUE(waitUntil([&] { return finished; }, 10000));
    EXPECT_FALSE(exported);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(temporaryFilesIn(dir.path()));
}

TEST_F(ExportingTest, TheExportDialogConvertsTheRateAndDithersAsChosenAndRemembers) {
    // 48 kHz floats between 16-bit steps.
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "between.wav", 1, 48000,
        [](int, long k) { return 0.25 * std::sin(2 * M_PI * 1000 * double(k) / 48000) + 0.3 / 32768.0; }, 48000));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    auto exportAs = [&](const std::string& path, double rate, int dither) {
        // The menus catch up with the last export's end first.
        EXPECT_TRUE(waitUntil([&] { return item(w, "exportWave16")->isEnabled(); }, 5000));
        item(w, "exportWave16")->trigger();
        QFileDialog* d = nullptr;
        EXPECT_TRUE(waitUntil([&] { return (d = w->findChild<QFileDialog*>("exportDialog")) && d->isVisible(); }));
        if (!d) return;
        auto* rates = d->findChild<QComboBox*>("exportRate");
        auto* dithers = d->findChild<QComboBox*>("exportDither");
        ASSERT_TRUE(rates && dithers);
        EXPECT_EQ(rates->itemText(0), "The document's (48000 Hz)");
        rates->setCurrentIndex(rates->findData(rate));
        dithers->setCurrentIndex(dithers->findData(dither));
        typeName(d, path);
        EXPECT_EQ(save(d).toStdString(), "");
        EXPECT_TRUE(waitUntil([&] { return !doc->isExporting() && std::filesystem::exists(path); }, 5000));
    };
    using D = ZQ::Requantizer::Dither;
    // 44.1 kHz, undithered: the exact length, each sample toward zero.
    exportAs(dir.file("plain.wav"), 44100.0, int(D::None));
    int channels = 0, rate = 0;
    std::vector<float> plain = readFloatFile(dir.file("plain.wav"), channels, rate);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(plain.size(), 44100u);
    // The document's rate, TPDF: not the truncated samples, within a step.
    exportAs(dir.file("dithered.wav"), 0.0, int(D::Triangular));
    const std::vector<float> dithered = readFloatFile(dir.file("dithered.wav"), channels, rate);
    EXPECT_EQ(rate, 48000);
    ASSERT_EQ(dithered.size(), 48000u);
    long differing = 0;
    for (long k = 0; k < 48000; ++k) {
        const double x = 0.25 * std::sin(2 * M_PI * 1000 * double(k) / 48000) + 0.3 / 32768.0;
        EXPECT_LE(std::fabs(dithered[std::size_t(k)] - x), 1.5 / 32768.0) << k;
        differing += dithered[std::size_t(k)] != float(std::trunc(x * 32768.0) / 32768.0) ? 1 : 0;
    }
    EXPECT_GT(differing, 10000);
    // The choices are kept.
    const ZQ::AudioFileExport::Conversion kept = ZQ::DocumentPreferences::exportConversion();
    EXPECT_EQ(kept.dither, D::Triangular);
    EXPECT_EQ(kept.rate, 0.0);
}
