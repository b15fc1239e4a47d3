#include "DocumentFixture.h"
#include "platform/soundfile/AudioFileWriter.h"
#include "support/Samples.h"
#include "support/Wait.h"

#include <QSettings>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using platform::Ref;

TEST_F(DocumentTest, ImportBeforeTheWindowConcludesFromLoadUI) {
    const std::string path = dir.file("a.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1000));
    Ref<ZQAudioFileDocument> doc = openDocument(path); // the import thread ends, then sends loadUI
    ASSERT_TRUE(doc->fileHasLoaded());
    const std::vector<std::string> expected = {"side.createDisplayController",
                                               "display.buildUI",
                                               "display.audioFileDataHasLoaded",
                                               "side.createTransportBar",
                                               "display.updateNumericAndHMSDisplays",
                                               "side.prepareWindow",
                                               "side.showWindow"};
    auto calls = side.log.calls();
    std::vector<std::string> main(calls.begin(), calls.end());
    main.erase(std::remove(main.begin(), main.end(), "bar.setState"), main.end());
    EXPECT_EQ(main, expected);
    EXPECT_EQ(side.log.count("display.audioFileDataHasLoaded"), 1);
    EXPECT_TRUE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));
    EXPECT_EQ(doc->fileName(), path);
    EXPECT_EQ(doc->sampleCount(1).v_, 1000u);
    EXPECT_EQ(doc->sampleRate(), 44100.0);
    EXPECT_EQ(doc->channelCount(), 2);
    EXPECT_EQ(doc->audioFileInformation()->fileFormat.value, platform::audio::fourcc("WAVE"));
    // The source was connected to the stream of the file's format, not producing.
    EXPECT_EQ(stream.sourceCount(), 1u);
    ASSERT_NE(doc->audioFileDocumentOutputSource(), nullptr);
    EXPECT_FALSE(doc->audioFileDocumentOutputSource()->isProducing());
}

TEST_F(DocumentTest, WindowBeforeTheImportConcludesAtTheImportsEnd) {
    const std::string path = dir.file("b.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 500));
    Ref<ZQAudioFileDocument> doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    opened.push_back(doc);
    doc->setFileURL(fileURL(path).get());
    doc->loadUI(); // on the main thread: builds the display controller, nothing to conclude yet
    EXPECT_EQ(side.log.count("display.buildUI"), 1);
    EXPECT_EQ(side.log.count("display.audioFileDataHasLoaded"), 0);
    EXPECT_FALSE(doc->viewDisplayShouldLoadInAwakeFromNib());
    std::thread import([&] { doc->readFromURL_Offline(fileURL(path).get()); });
    import.join();
    EXPECT_EQ(side.log.count("display.audioFileDataHasLoaded"), 1);
    EXPECT_NE(doc->audioFileDocumentTransportController(), nullptr);
    spinFor(20);
    EXPECT_EQ(side.log.count("display.audioFileDataHasLoaded"), 1); // never twice
}

TEST_F(DocumentTest, DirectReadWithoutAURLFails) {
    Ref<ZQAudioFileDocument> doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    opened.push_back(doc);
    Ref<platform::Error> error;
    EXPECT_FALSE(doc->readFromURL(nullptr, "WAVE audio file", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "bzz");
    EXPECT_EQ(error->code(), 22);
    EXPECT_NE(doc->sampleData(), nullptr);
    EXPECT_FALSE(doc->fileHasLoaded());
}

TEST_F(DocumentTest, AFailedDecodeShowsTheAlertAndOkClosesTheDocument) {
    const std::string path = dir.file("broken.wav");
    { std::ofstream(path) << "RIFF....WAVEnot really"; }
    Ref<ZQAudioFileDocument> doc;
    Captured m = capture([&] {
        doc = openDocument(path);
        waitUntil([&] { return bool(side.dismissAlert); });
    });
    EXPECT_NE(m.err.find("Failed to read audio file: file://" + path), std::string::npos) << m.err;
    EXPECT_EQ(side.log.count("side.alert:The audio file could not be opened.|Ok"), 1);
    EXPECT_EQ(side.alertText, "The file '" + path + "' may be an unreadable format or possibly damaged.");
    EXPECT_EQ(doc->fileOpenError(), "");             // handed to the alert
    EXPECT_EQ(side.log.count("side.showWindow"), 1); // the window is shown behind the sheet
    EXPECT_EQ(doc->audioFileDocumentTransportController(), nullptr);
    ASSERT_TRUE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));
    side.dismissAlert(); // "Ok"
    EXPECT_FALSE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));
    EXPECT_EQ(side.log.count("side.closeWindow"), 1);
    EXPECT_EQ(doc->sampleData(), nullptr);
}

TEST_F(DocumentTest, AnAlertThatCannotBeShownIsLogged) {
    side.alertsWork = false;
    const std::string path = dir.file("broken.aif");
    { std::ofstream(path) << "FORM"; }
    Ref<ZQAudioFileDocument> doc;
    Captured m = capture([&] {
        doc = openDocument(path);
        waitUntil([&] { return side.log.count("side.alert:The audio file could not be opened.|Ok") > 0; });
        spinFor(10);
    });
    EXPECT_NE(m.err.find("Unable to display error: The file '" + path + "' may be an unreadable format"),
              std::string::npos);
    EXPECT_EQ(doc->fileOpenError(), "");
    EXPECT_TRUE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get())); // window stays
}

TEST_F(DocumentTest, CloseDuringImportWaitsThenTearsDownInOrder) {
    const std::string path = dir.file("long.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 4000000));
    Ref<ZQAudioFileDocument> doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    doc->setFileURL(fileURL(path).get());
    doc->loadUI();
    std::atomic<bool> importDone{false};
    std::thread import([&] {
        doc->readFromURL_Offline(fileURL(path).get());
        importDone = true;
    });
    while (!(doc->sampleData() && doc->sampleData()->isReading()) && !importDone)
        std::this_thread::yield();
    doc->close(); // waits for the import
    import.join();
    EXPECT_EQ(doc->sampleData(), nullptr);
    EXPECT_EQ(doc->waveformDisplayController(), nullptr);
    EXPECT_EQ(doc->audioFileDocumentTransportController(), nullptr);
    EXPECT_EQ(doc->outputSourceController(), nullptr);
    // The import concluded (with the window side) before the teardown ran.
    const int loaded = side.log.indexOf("display.audioFileDataHasLoaded");
    const int closing = side.log.indexOf("display.documentWillClose");
    ASSERT_GE(loaded, 0);
    EXPECT_GT(closing, loaded);
    EXPECT_EQ(stream.sourceCount(), 0u); // the source left the stream
}

TEST_F(DocumentTest, SavingInItsOwnFormatIsRefusedWithoutTouchingTheDocument) {
    const std::string path = dir.file("c.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 100));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    Ref<platform::Error> error;
    platform::Object* data = nullptr;
    Captured m = capture([&] { data = doc->dataOfType("WAVE audio file", &error); });
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(m.out, "-[ZQAudioFileDocument dataOfType:error:] :: Document Type: WAVE audio file\n");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "NSOSStatusErrorDomain");
    EXPECT_EQ(error->code(), -4);
    EXPECT_TRUE(doc->fileHasLoaded());
}

TEST_F(DocumentTest, SaveWritesEachWritableKindBackAsItWasWithItsMarkersAndSaysWhichCannotBe) {
    // Every sample as libsndfile reads it, as integers, the format and the title.
    std::string title;
    auto words = [&title](const std::string& path, int& format) {
        SF_INFO info{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        std::vector<int> all(std::size_t(f ? info.frames * info.channels : 0));
        const char* text = f ? sf_get_string(f, SF_STR_TITLE) : nullptr;
        title = text ? text : "";
        if (f) sf_readf_int(f, all.data(), info.frames), sf_close(f);
        format = info.format;
        return all;
    };
    namespace a = platform::audio;
    // A point, a region and a nameless point, as each container stores them.
    const std::vector<a::FileMarker> marks = {{100, 0, "one"}, {500, 700, "two \u00e9"}, {2000, 0, ""}};
    const struct {
        const char* name;
        int format;
        const char* title; // what Save writes
    } cases[] = {
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "WAV, 16-bit integer"},
        {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, "WAV, 24-bit integer"},
        {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, "WAV, 32-bit integer"},
        {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, "WAV, 32-bit float"},
        {"s16.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "AIFF, 16-bit integer"},
        {"s24.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, "AIFF, 24-bit integer"},
        {"s32.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, "AIFF, 32-bit integer"},
        {"s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "FLAC, 16-bit"},
        {"s24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "FLAC, 24-bit"},
        // Those only their own format names.
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, "WAV, 8-bit integer"},
        {"f64.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, "WAV, 64-bit float"},
        {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, "WAV, \u03bc-law"},
        {"alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, "WAV, A-law"},
        {"s8.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, "AIFF, 8-bit integer"},
        {"s16.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, "CAF, 16-bit integer"},
        {"le24.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE, "CAF, 24-bit integer"},
        {"f32.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, "CAF, 32-bit float"},
        {"alaw.caf", SF_FORMAT_CAF | SF_FORMAT_ALAW, "CAF, A-law"},
        {"alac16.caf", SF_FORMAT_CAF | SF_FORMAT_ALAC_16, "CAF, Apple Lossless, 16-bit"},
        {"alac24.caf", SF_FORMAT_CAF | SF_FORMAT_ALAC_24, "CAF, Apple Lossless, 24-bit"},
        {"s24.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_24, "Wave64, 24-bit integer"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, 2, 44100, 3000, fixtureSample, "A title \u00e9")) << c.name;
        const int major = c.format & SF_FORMAT_TYPEMASK;
        const bool w64 = major == SF_FORMAT_W64;
        std::string why;
        if (!w64) {
            ASSERT_TRUE(a::appendMarkerChunks(path, marks, &why)) << c.name << ": " << why;
        }
        int before = 0, after = 0;
        const std::vector<int> original = words(path, before);
        const std::string originalTitle = title;
        EXPECT_EQ(originalTitle.empty(), w64) << c.name; // Wave64 holds no texts
        Ref<ZQAudioFileDocument> doc = openDocument(path);
        const ZQ::MarkerList markers = doc->markers();
        // AIFF keeps a region's start only; FLAC keeps them as flac keeps a
        // WAV file's chunks; Wave64 keeps none here.
        EXPECT_EQ(markers.size(), w64 ? 0u : 3u) << c.name;
        SaveFormat own;
        bool lossy = true;
        ASSERT_TRUE(doc->ownSaveFormat(&own, &lossy)) << c.name;
        EXPECT_EQ(own.title, c.title);
        EXPECT_FALSE(lossy) << c.name;
        std::string reason;
        ASSERT_TRUE(doc->saveTo(path, own, &reason)) << c.name << ": " << reason;
        EXPECT_EQ(words(path, after), original) << c.name;
        EXPECT_EQ(after, before) << c.name;
        EXPECT_EQ(title, originalTitle) << c.name; // where the kind holds one, the title stays
        EXPECT_FALSE(doc->isDocumentEdited());
        Ref<ZQAudioFileDocument> again = openDocument(path);
        EXPECT_EQ(again->markers(), markers) << c.name;
    }
    // Encodings that lose a little each time: the same format, asked first,
    // and close to what they were.
    const struct {
        const char* name;
        int format;
        int rate;
        const char* title;
    } lossy[] = {
        {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 44100, "WAV, IMA ADPCM"},
        {"ms.wav", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 44100, "WAV, Microsoft ADPCM"},
        {"gsm.wav", SF_FORMAT_WAV | SF_FORMAT_GSM610, 8000, "WAV, GSM 6.10"},
    };
    for (const auto& l : lossy) {
        const std::string path = dir.file(l.name);
        const int channels = (l.format & SF_FORMAT_SUBMASK) == SF_FORMAT_GSM610 ? 1 : 2;
        auto tone = [](int, long k) { return 0.5 * std::sin(k * 0.05); };
        ASSERT_TRUE(writeFixture(path, l.format, channels, l.rate, 8000, tone)) << l.name;
        int before = 0, after = 0;
        const std::vector<int> original = words(path, before);
        Ref<ZQAudioFileDocument> doc = openDocument(path);
        SaveFormat own;
        bool reencodes = false;
        ASSERT_TRUE(doc->ownSaveFormat(&own, &reencodes)) << l.name;
        EXPECT_EQ(own.title, l.title);
        EXPECT_TRUE(reencodes) << l.name;
        ASSERT_TRUE(doc->saveTo(path, own, nullptr)) << l.name;
        const std::vector<int> saved = words(path, after);
        EXPECT_EQ(after, before) << l.name;
        ASSERT_EQ(saved.size(), original.size()) << l.name;
        double error = 0, level = 0;
        for (std::size_t i = 0; i < saved.size(); ++i) {
            error += std::pow(double(saved[i]) - original[i], 2);
            level += std::pow(double(original[i]), 2);
        }
        EXPECT_LT(error, level * 0.01) << l.name; // within 20 dB of the signal at worst
    }
    // What is not written again: Sound Designer II (a second file holds its
    // format), MPEG Layer II (no encoder); Layer III is, with loss.
    const std::string mp2 = dir.file("a.mp2"), sd2 = dir.file("a.sd2"), mp3 = dir.file("a.mp3");
    ASSERT_TRUE(writeFixture(sd2, SF_FORMAT_SD2 | SF_FORMAT_PCM_16, 1, 44100, 5000));
    const std::string source = dir.file("for-mp2.wav");
    ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 5000));
    ASSERT_EQ(std::system(("twolame --quiet '" + source + "' '" + mp2 + "'").c_str()), 0);
    ASSERT_TRUE(writeFixture(mp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 44100, 5000));
    for (const std::string& path : {sd2, mp2, mp3}) {
        Ref<ZQAudioFileDocument> doc = openDocument(path);
        SaveFormat own;
        bool reencodes = false;
        const bool isMp3 = path == mp3;
        EXPECT_EQ(doc->ownSaveFormat(&own, &reencodes), isMp3) << path;
        EXPECT_EQ(reencodes, isMp3) << path;
        if (isMp3) {
            EXPECT_EQ(own.title, "MP3");
        }
    }
}

TEST_F(DocumentTest, WaveformStoreHandsOutOnlyValidChannels) {
    const std::string path = dir.file("d.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 8000, 300));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    struct View final : ZQWaveformStoreClient {
        std::int32_t channel = 0;
        ZQ::ChannelSamples samples;
        std::int32_t channelNumber() const override { return channel; }
        void updateWaveformCache(const ZQ::ChannelSamples& s) override { samples = s; }
    } view;
    view.channel = 1;
    doc->updateWaveformStore(&view);
    ASSERT_TRUE(view.samples.isValid());
    EXPECT_EQ(view.samples.count(), 300u);
    EXPECT_EQ(view.samples.channel, 1u);
    double last = 0;
    view.samples.read(299, 1, &last);
    EXPECT_EQ(last, fixtureSample(1, 299));
    // The open summarises every channel of the file for the overview.
    ASSERT_TRUE(testsupport::waitUntil([&] { return doc->samplesAreSummarised(); }));
    EXPECT_EQ(doc->summarisedFraction(), 1.0);
    EXPECT_EQ(view.samples.samples->pieces().at(0).block->summary(1).sampleCount(), 300u);
    view = View{};
    view.channel = 2;
    EXPECT_EQ(capture([&] { doc->updateWaveformStore(&view); }).out, "");
    EXPECT_FALSE(view.samples.isValid());
    view.channel = -1;
    EXPECT_EQ(capture([&] { doc->updateWaveformStore(&view); }).out,
              "-[ZQAudioFileDocument updateWaveformStore:] :: Skipping invalid channel numbered: -1\n"
              "Invalid channel requested\n");
    EXPECT_FALSE(view.samples.isValid());
    doc->updateWaveformStore(nullptr);
}

TEST_F(DocumentTest, ForwardingReachesTheDisplayController) {
    const std::string path = dir.file("e.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 100));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    side.log.clear();
    doc->zoomIn();
    doc->zoomAmplitudeOut();
    doc->selectAll(nullptr);
    doc->delete_(nullptr);
    doc->duplicate(nullptr);
    EXPECT_EQ(side.log.calls(), (std::vector<std::string>{"display.zoomIn", "display.zoomAmplitudeOut",
                                                          "display.selectAll", "display.delete", "display.duplicate"}));
    EXPECT_TRUE(doc->documentWindow());
}

TEST_F(DocumentTest, DefaultColoursAreWrittenOnceAndOnlyWhenMissing) {
    using namespace ZQ::DocumentPreferences;
    {
        QSettings s;
        s.setValue(kForegroundKey, QString::fromStdString(archiveColour({1, 0, 0, 1})));
    }
    Ref<ZQAudioFileDocument> doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    opened.push_back(doc);
    QSettings s;
    Colour background, foreground;
    ASSERT_TRUE(unarchiveColour(s.value(kBackgroundKey).toString().toStdString(), background));
    EXPECT_EQ(background.red, 0.0);
    EXPECT_EQ(background.alpha, 1.0);
    ASSERT_TRUE(unarchiveColour(s.value(kForegroundKey).toString().toStdString(), foreground));
    EXPECT_EQ(foreground.red, 1.0); // the user's colour stays
    // Once per process: a removed value is not written again by a new document.
    s.remove(kBackgroundKey);
    Ref<ZQAudioFileDocument> second = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    opened.push_back(second);
    EXPECT_FALSE(QSettings().contains(kBackgroundKey));

    Colour c;
    EXPECT_TRUE(unarchiveColour(archiveColour({0.56, 0.66, 0.9, 1.0}), c));
    EXPECT_DOUBLE_EQ(c.green, 0.66);
    EXPECT_TRUE(unarchiveColour(archiveColour({2, -1, 0.5, 7}), c)); // clamped when archived
    EXPECT_EQ(c.red, 1.0);
    EXPECT_EQ(c.green, 0.0);
    EXPECT_FALSE(unarchiveColour("garbage", c));
    EXPECT_FALSE(unarchiveColour("ZQColor 1 1 1", c));
    EXPECT_FALSE(unarchiveColour("ZQColor 1 1 1 5", c));
}

TEST_F(DocumentTest, ADocumentClosedBeforeItsWindowGetsNone) {
    const std::string path = dir.file("late.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 100));
    Ref<ZQAudioFileDocument> doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    doc->readFromURL_Offline(fileURL(path).get()); // imported, no window yet
    EXPECT_TRUE(doc->viewDisplayShouldLoadInAwakeFromNib());
    doc->close();
    doc->loadUI(); // arrives late, as from the import thread
    EXPECT_EQ(side.log.count("side.createDisplayController"), 0);
    EXPECT_EQ(doc->audioFileDocumentTransportController(), nullptr);
    EXPECT_EQ(doc->waveformDisplayController(), nullptr);
}

TEST_F(DocumentTest, AFileTruncatedWhileOpenIsToldOnceAndTheDocumentStaysEditableAndExportable) {
    const std::string path = dir.file("going.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 300000));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    ASSERT_TRUE(doc->fileHasLoaded());
    const std::string notice = "side.alert:The file \u201cgoing.wav\u201d changed on disk.|Ok";
    ASSERT_EQ(truncate(path.c_str(), 44 + 4 * 1000), 0); // a thousand frames left
    // Noticed within a couple of seconds, whatever reads the samples.
    ASSERT_TRUE(waitUntil([&] { return side.log.count(notice) == 1; }, 6000));
    doc->checkFileOnDisk();
    spinFor(2200);
    EXPECT_EQ(side.log.count(notice), 1) << "told more than once";
    // The part still there reads as it did; the rest is silence, never a crash.
    ASSERT_TRUE(doc->deleteRange({ZQ::Num::Count(0ull), ZQ::Num::Count(9ull)}));
    const std::vector<double> left = testsupport::channelOf(*doc->sampleData(), 0);
    ASSERT_EQ(left.size(), 299990u);
    EXPECT_EQ(left[0], fixtureSample(0, 10));
    EXPECT_EQ(left[299989], 0.0);
    std::string reason;
    ASSERT_TRUE(doc->exportAudioFileDataTo(dir.path(), "rescued.wav", ZQAudioFileDocument::changesExportCode(),
                                           ZQAudioFileDocument::kChangesExportType, &reason))
        << reason;
    int channels = 0, rate = 0;
    const std::vector<float> back = readFloatFile(dir.file("rescued.wav"), channels, rate);
    ASSERT_EQ(back.size(), 2u * 299990u);
    EXPECT_EQ(back[0], float(fixtureSample(0, 10)));
    EXPECT_EQ(back[2 * 989 + 1], float(fixtureSample(1, 999)));
    EXPECT_EQ(back.back(), 0.0f);
}
