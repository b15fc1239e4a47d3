// The properties and colour panels, export through its dialog, recent files.
#include "app/AppFixture.h"
#include "app/RecentFiles.h"
#include "app/ZQAudioFilePropertiesPanel.h"
#include "app/ZQAudioWaveformColorSelectionPanel.h"
#include "audiofile/AudioFileProperties.h"
#include "platform/base/Notifications.h"
#include "window/WaveformColorPreferences.h"

#include <QClipboard>
#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <vector>

using namespace testsupport;
using platform::Ref;

namespace {

double tone(int c, long k) {
    return (c ? 0.25 : 0.5) * ((k % 200) < 100 ? 1.0 : -1.0) * double(k % 97) / 97.0;
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every sample of a file as libsndfile reads it as integers / floats.
template <class T> std::vector<T> samplesOf(const std::string& path, SF_INFO& info) {
    info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<T> v;
    if (!f) return v;
    v.resize(std::size_t(info.frames * info.channels));
    if constexpr (std::is_same_v<T, int>)
        sf_readf_int(f, v.data(), info.frames);
    else if constexpr (std::is_same_v<T, short>)
        sf_readf_short(f, v.data(), info.frames);
    else
        sf_readf_float(f, v.data(), info.frames);
    sf_close(f);
    return v;
}

class PanelTest : public AppTest {
protected:
    void TearDown() override {
        ZQAudioFilePropertiesPanelController::shutdown();
        ZQAudioWaveformColorSelectionPanelController::shutdown();
        AppTest::TearDown();
    }
    // Starts an export from the window's menu and returns its dialog.
    QFileDialog* startExport(ZQDocumentWindow* w, const char* itemName) {
        item(w, itemName)->trigger();
        QFileDialog* d = nullptr;
        EXPECT_TRUE(waitUntil([&] { return (d = w->findChild<QFileDialog*>("exportDialog")) && d->isVisible(); }));
        return d;
    }
};

} // namespace

TEST_F(PanelTest, ThePropertiesPanelShowsTheFrontmostDocumentAndCopiesItsText) {
    ZQAudioFilePropertiesPanel* panel = ZQAudioFilePropertiesPanelController::propertiesPanel();
    EXPECT_EQ(panel->size(), QSize(460, 396));
    EXPECT_EQ(panel->minimumSize(), panel->maximumSize());
    EXPECT_EQ(panel->windowTitle(), "Audio File Document Properties");
    // Nothing shown yet: Copy says so and leaves the clipboard alone.
    QGuiApplication::clipboard()->setText("before");
    Captured nothing = capture([&] { QTest::mouseClick(panel->copyButton(), Qt::LeftButton); });
    EXPECT_EQ(nothing.out, "fehler");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");

    const std::string pathA = floatFile("first.wav", 2, 4410, tone);
    Ref<ZQAudioFileDocument> a = open(pathA);
    Ref<ZQAudioFileDocument> b = open(floatFile("second.wav", 1, 22050, tone, 22050));
    ZQDocumentWindow* wa = windowOf(a.get());
    ASSERT_TRUE(activate(wa));
    QTest::keyClick(wa, Qt::Key_I, Qt::ControlModifier);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->copyButton()->geometry(), QRect(14, 396 - 5 - 18, 52, 18));
    const ZQ::AudioFileProperties p = ZQ::describeAudioFileProperties(a->audioFileInformation(), pathA);
    ASSERT_EQ(p.rows.size(), 20u);
    for (int i = 0; i < 18; ++i) {
        EXPECT_EQ(panel->nameAt(i).toStdString(), ZQ::rowNameText(p.rows[std::size_t(i)].first)) << i;
        EXPECT_EQ(panel->descAt(i).toStdString(), ZQ::rowValueText(p.rows[std::size_t(i)].second)) << i;
    }
    // The last value has several lines: the row joins them with single spaces.
    EXPECT_EQ(panel->nameAt(18), "Other");
    EXPECT_EQ(panel->descAt(18), "{ approximate duration in seconds = 0.100; }");
    EXPECT_EQ(panel->nameAt(0), "File");
    EXPECT_EQ(panel->descAt(0), "first.wav");
    EXPECT_EQ(panel->descAt(2), "WAVE");
    EXPECT_EQ(panel->descAt(19), "< No Markers Defined >"); // the last row lists the markers
    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), p.text);

    // The timer follows the frontmost document.
    ASSERT_TRUE(activate(windowOf(b.get())));
    EXPECT_TRUE(waitUntil([&] { return panel->descAt(0) == "second.wav"; }, 2000));
    EXPECT_EQ(panel->descAt(3), "22050.000000");
    // Its place is kept for the next run.
    panel->move(123, 77);
    const QPoint kept = panel->pos();
    ZQAudioFilePropertiesPanelController::shutdown();
    EXPECT_EQ(ZQAudioFilePropertiesPanelController::propertiesPanel()->pos(), kept);
}

TEST_F(PanelTest, AChosenColourIsStoredFirstThenEveryWindowRedrawsWithIt) {
    // Silence: the views show only the background and the centre line.
    auto silence = [](int, long) { return 0.0; };
    Ref<ZQAudioFileDocument> a = open(floatFile("quiet-a.wav", 1, 44100, silence));
    Ref<ZQAudioFileDocument> b = open(floatFile("quiet-b.wav", 2, 44100, silence));
    ZQDocumentWindow* wa = windowOf(a.get());
    ASSERT_TRUE(activate(wa));
    item(wa, "waveformColours")->trigger();
    ZQAudioWaveformColorSelectionPanel* panel =
        ZQAudioWaveformColorSelectionPanelController::sharedAudioWaveformColorSelectionPanelController()
            .colorSelectionPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    item(wa, "waveformColours")->trigger();
    EXPECT_EQ(ZQAudioWaveformColorSelectionPanelController::sharedAudioWaveformColorSelectionPanelController()
                  .colorSelectionPanel(),
              panel);                                                          // the same panel, twice
    EXPECT_EQ(panel->backgroundWell()->color(), QColor::fromRgbF(0, 0, 0, 1)); // the stored defaults
    EXPECT_EQ(panel->foregroundWell()->color().rgb(), QColor::fromRgbF(0.56, 0.66, 0.9, 1).rgb());

    // What an observer of the notification reads is already the new colour.
    QColor seenAtNotification;
    int notifications = 0;
    int tag = 0;
    platform::NotificationCenter::defaultCenter().addObserver(
        &tag, ZQ::WaveformColorPreferences::waveformColorsDidChangeNotification(), [&](const platform::Notification&) {
            ++notifications;
            seenAtNotification = ZQ::WaveformColorPreferences::backgroundColorFromPreferences();
        });
    // The faint band is added over the background: the chosen colour plus a little.
    auto near = [](QRgb p) {
        return qRed(p) >= 40 && qRed(p) <= 64 && qGreen(p) >= 90 && qGreen(p) <= 114 && qBlue(p) >= 200 &&
               qBlue(p) <= 224;
    };
    auto background = [](ZQAudioFileDocument* d, int channel) {
        ZQWaveform* v = display(d)->waveform(channel);
        const QImage image = v->grab().toImage();
        return image.pixel(image.width() / 3, image.height() / 4);
    };
    const QRgb before = background(a.get(), 0);
    EXPECT_LT(qBlue(before), 40) << std::hex << before; // black, with the band
    QTest::mouseClick(panel->backgroundWell(), Qt::LeftButton);
    QColorDialog* dialog = panel->backgroundWell()->dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->testOption(QColorDialog::ShowAlphaChannel));
    const QColor chosen(40, 90, 200, 255);
    dialog->setCurrentColor(chosen);
    dialog->accept();
    platform::NotificationCenter::defaultCenter().removeObserver(&tag);
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(seenAtNotification.rgb(), chosen.rgb());

    // Every open window redraws with it, every channel.
    EXPECT_TRUE(waitUntil([&] { return near(background(a.get(), 0)); }, 2000)) << std::hex << background(a.get(), 0);
    EXPECT_TRUE(near(background(b.get(), 0)));
    EXPECT_TRUE(near(background(b.get(), 1)));
    // A window opened later starts with it, and a new settings object reads it.
    Ref<ZQAudioFileDocument> c = open(floatFile("quiet-c.wav", 1, 44100, silence));
    EXPECT_TRUE(waitUntil([&] { return near(background(c.get(), 0)); }, 2000));
    QSettings fresh;
    fresh.sync();
    ZQ::DocumentPreferences::Colour stored;
    ASSERT_TRUE(ZQ::DocumentPreferences::unarchiveColour(
        fresh.value(QString::fromStdString(ZQ::WaveformColorPreferences::backgroundKey())).toString().toStdString(),
        stored));
    EXPECT_NEAR(stored.red, 40 / 255.0, 1e-6);
    EXPECT_NEAR(stored.blue, 200 / 255.0, 1e-6);
}

TEST_F(PanelTest, ExportThroughTheDialogWritesEveryFormatSampleExact) {
    // 16-bit sources: every format holds their values exactly.
    const std::string mono = dir.file("mono-src.wav"), stereo = dir.file("stereo-src.wav");
    ASSERT_TRUE(writeFixture(mono, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 3000, tone));
    ASSERT_TRUE(writeFixture(stereo, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 3000, tone));
    SF_INFO info;
    for (const std::string& source : {mono, stereo}) {
        const std::vector<short> expected = samplesOf<short>(source, info);
        const int channels = info.channels;
        Ref<ZQAudioFileDocument> doc = open(source);
        ZQDocumentWindow* w = windowOf(doc.get());
        ASSERT_TRUE(activate(w));
        const struct {
            const char* item;
            const char* name;
            int format;
        } kFormats[] = {
            {"exportWave16", "w16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
            {"exportWave32", "w32", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
            {"exportWaveFloat", "wf", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
            {"exportAiff16", "a16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
            {"exportAiff32", "a32", SF_FORMAT_AIFF | SF_FORMAT_PCM_32},
        };
        for (const auto& f : kFormats) {
            QFileDialog* d = startExport(w, f.item);
            ASSERT_NE(d, nullptr) << f.item;
            EXPECT_EQ(d->windowModality(), Qt::WindowModal);
            const bool aiff = (f.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF;
            // The document's name with the format's extension is proposed.
            const std::string stem = source == mono ? "mono-src" : "stereo-src";
            EXPECT_EQ(QFileInfo(d->selectedFiles().value(0)).fileName().toStdString(), stem + (aiff ? ".aif" : ".wav"));
            const std::string out = dir.file(std::string(f.name) + "-" + std::to_string(channels));
            typeName(d, out);
            EXPECT_EQ(save(d).toStdString(), "");
            const std::string written = out + (aiff ? ".aif" : ".wav"); // the extension is added
            ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(QString::fromStdString(written)); })) << written;
            ASSERT_TRUE(waitUntil([&] { return !doc->isExporting(); })) << written;
            refreshMenus(); // the menus come back as the export ends
            SF_INFO got;
            std::size_t wrong = 0;
            if ((f.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
                const std::vector<float> asFloats = samplesOf<float>(written, got);
                ASSERT_EQ(asFloats.size(), expected.size()) << written;
                for (std::size_t i = 0; i < expected.size(); ++i)
                    wrong += asFloats[i] != float(expected[i] / 32768.0);
            } else {
                // Integers read back scaled to 32 bits: a 16-bit value v as v * 65536.
                const std::vector<int> asInts = samplesOf<int>(written, got);
                ASSERT_EQ(asInts.size(), expected.size()) << written;
                for (std::size_t i = 0; i < expected.size(); ++i)
                    wrong += asInts[i] != int(expected[i]) * 65536;
            }
            EXPECT_EQ(wrong, 0u) << written;
            EXPECT_EQ(got.format, f.format) << written;
            EXPECT_EQ(got.channels, channels);
            EXPECT_EQ(got.samplerate, 44100);
        }
        // Choosing an existing file asks first; declining writes nothing.
        const std::string earlier = dir.file("w16-" + std::to_string(channels) + ".wav");
        const std::string earlierBytes = bytesOf(earlier);
        QFileDialog* d = startExport(w, "exportWave32");
        ASSERT_NE(d, nullptr);
        typeName(d, earlier);
        const QString asked = save(d);
        EXPECT_TRUE(asked.contains("already exists")) << asked.toStdString();
        d->reject();
        spinFor(50);
        EXPECT_EQ(bytesOf(earlier), earlierBytes);
        // Cancel writes nothing.
        d = startExport(w, "exportWave16");
        ASSERT_NE(d, nullptr);
        d->selectFile(QString::fromStdString(dir.file("cancelled.wav")));
        d->reject();
        spinFor(50);
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dir.file("cancelled.wav"))));
        doc->close();
    }
}

TEST_F(PanelTest, AFailedExportKeepsTheDestinationAndSaysWhy) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("three.wav", 3, 1000, tone));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    const std::string existing = dir.file("keep.aif");
    { std::ofstream(existing, std::ios::binary) << "an earlier export, byte for byte"; }
    const std::string before = bytesOf(existing);
    // An AIFF export too large for the format (made small by the threshold).
    ZQ::AudioFileExport::setLargeDataThresholdForTesting(1000);
    Captured out =
        capture([&] { doc->savePanelDidEnd(true, dir.path(), existing, 102, platform::audio::kAudioFileAIFFType); });
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (alert = w->findChild<QMessageBox*>()) && alert->isVisible(); }));
    ZQ::AudioFileExport::setLargeDataThresholdForTesting(0);
    EXPECT_EQ(bytesOf(existing), before);
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert->text(), "The audio file could not be exported.");
    EXPECT_TRUE(alert->informativeText().contains("Export it as WAV")) << alert->informativeText().toStdString();
    alert->accept();
    spinFor(30);

    // A folder that cannot be written: the alert says so, nothing appears.
    Ref<ZQAudioFileDocument> ok = open(floatFile("two.wav", 2, 1000, tone));
    ZQDocumentWindow* w2 = windowOf(ok.get());
    capture([&] {
        ok->savePanelDidEnd(true, "/proc/no-such-folder", "/proc/no-such-folder/x.wav", 102,
                            platform::audio::kAudioFileWAVEType);
    });
    ASSERT_TRUE(waitUntil([&] { return (alert = w2->findChild<QMessageBox*>()) && alert->isVisible(); }));
    EXPECT_TRUE(alert->informativeText().startsWith("The folder \u201c/proc/no-such-folder\u201d cannot be written to"))
        << alert->informativeText().toStdString();
    EXPECT_FALSE(QFileInfo::exists("/proc/no-such-folder/x.wav"));
    // An existing folder in the destination's place stays a folder.
    const std::string folder = dir.file("folder.wav");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(ok->exportAudioFileDataTo(dir.path(), folder, 102, platform::audio::kAudioFileWAVEType));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(folder)).isDir());
}

TEST_F(PanelTest, RecentFilesKeepTheLastTenThatStillExist) {
    ZQ::RecentFiles::clear();
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        files.push_back(dir.file("r" + std::to_string(i) + ".wav"));
        { std::ofstream(files.back()) << "x"; }
        ZQ::RecentFiles::noteOpened(QString::fromStdString(files.back()));
    }
    QStringList list = ZQ::RecentFiles::files();
    ASSERT_EQ(list.size(), 10);
    EXPECT_EQ(list.first().toStdString(), files[11]); // newest first
    EXPECT_EQ(list.last().toStdString(), files[2]);
    // Opened again: first once, not twice.
    ZQ::RecentFiles::noteOpened(QString::fromStdString(files[5]));
    list = ZQ::RecentFiles::files();
    EXPECT_EQ(list.first().toStdString(), files[5]);
    EXPECT_EQ(list.count(QString::fromStdString(files[5])), 1);
    // A file that is gone is dropped, from the store too.
    std::remove(files[11].c_str());
    list = ZQ::RecentFiles::files();
    EXPECT_FALSE(list.contains(QString::fromStdString(files[11])));
    EXPECT_FALSE(QSettings().value("RecentFiles").toStringList().contains(QString::fromStdString(files[11])));

    // A file that opened is offered first in Open Recent.
    ZQ::RecentFiles::clear();
    const std::string opened = floatFile("opened.wav", 1, 1000, tone);
    Ref<ZQAudioFileDocument> doc = open(opened);
    ZQDocumentWindow* w = windowOf(doc.get());
    auto* recent = w->findChild<QMenu*>("openRecent");
    ASSERT_NE(recent, nullptr);
    emit recent->aboutToShow();
    ASSERT_FALSE(recent->actions().isEmpty());
    EXPECT_EQ(recent->actions().first()->data().toString().toStdString(), opened);
    // Clear empties it.
    item(w, "clearRecent")->trigger();
    EXPECT_TRUE(ZQ::RecentFiles::files().isEmpty());
}
