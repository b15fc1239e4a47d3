#include "DocumentFixture.h"
#include "document/ZQAudioFileDocumentAtPath.h"

using namespace testsupport;
using platform::Ref;

namespace {

ZQDocumentController& controller() {
    return ZQDocumentController::sharedDocumentController();
}

int placeholders() {
    int n = 0;
    for (auto& d : controller().documents())
        n += dynamic_cast<ZQAudioFileDocumentAtPath*>(d.get()) != nullptr;
    return n;
}

std::vector<ZQAudioFileDocument*> realDocuments() {
    std::vector<ZQAudioFileDocument*> out;
    for (auto& d : controller().documents())
        if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) out.push_back(doc);
    return out;
}

} // namespace

TEST_F(DocumentTest, ThePlaceholderRouteBuildsTheWindowThenLeaves) {
    const std::string path = dir.file("p.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 2000));
    ASSERT_TRUE(controller().openDocumentWithContentsOfPath(path, nullptr));
    EXPECT_EQ(placeholders(), 1);
    ASSERT_TRUE(waitUntil([] { return placeholders() == 0; }));
    auto docs = realDocuments();
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_TRUE(docs[0]->fileHasLoaded());
    EXPECT_EQ(docs[0]->fileName(), path);
    EXPECT_EQ(side.windowsShown.load(), 1);
    EXPECT_EQ(side.log.count("display.audioFileDataHasLoaded"), 1);
    EXPECT_NE(docs[0]->audioFileDocumentTransportController(), nullptr);
}

TEST_F(DocumentTest, APlaceholderLeavesAfterADecodeFailureToo) {
    const std::string path = dir.file("bad.caf");
    { std::ofstream(path) << "caff but nothing else"; }
    capture([&] {
        ASSERT_TRUE(controller().openDocumentWithContentsOfPath(path, nullptr));
        ASSERT_TRUE(waitUntil([&] { return placeholders() == 0 && bool(side.dismissAlert); }));
    });
    EXPECT_EQ(side.alertText, "The file '" + path + "' may be an unreadable format or possibly damaged.");
    ASSERT_EQ(realDocuments().size(), 1u);
    side.dismissAlert();
    EXPECT_TRUE(realDocuments().empty());
}

TEST_F(DocumentTest, AFileGoneBeforeItIsReadGetsItsAlertAndAWebAddressLeavesItsPlaceholder) {
    // A file that went away between being chosen and being read: the user is told.
    const std::string missing = dir.file("gone.wav");
    Captured m = capture([&] {
        ASSERT_TRUE(controller().openDocumentWithContentsOfPath(missing, nullptr));
        waitUntil([&] { return !side.alertText.empty(); }, 5000);
    });
    EXPECT_NE(m.err.find("Error opening audio file: File does not exist: file://" + missing), std::string::npos)
        << m.err;
    EXPECT_EQ(side.alertText, "The file '" + missing + "' no longer exists.");
    spinFor(100);
    EXPECT_EQ(placeholders(), 0);
    ASSERT_EQ(realDocuments().size(), 1u);
    side.dismissAlert(); // "Ok" closes it
    EXPECT_TRUE(realDocuments().empty());

    // A URL that is not a file URL.
    Ref<ZQAudioFileDocumentAtPath> web = Ref<ZQAudioFileDocumentAtPath>::adopt(ZQAudioFileDocumentAtPath::create());
    controller().addDocument(web.get());
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::create("http://example.com/a.wav"));
    m = capture([&] {
        ASSERT_TRUE(web->readFromURL(url.get(), "WAVE audio file", nullptr));
        spinFor(300);
    });
    EXPECT_NE(m.err.find("Error opening audio file: Local file url required: http://example.com/a.wav"),
              std::string::npos);
    EXPECT_EQ(placeholders(), 1);
    for (auto& d : controller().documents())
        controller().removeDocument(d.get());
}

TEST_F(DocumentTest, PlaceholderRequestsAreChecked) {
    Ref<ZQAudioFileDocumentAtPath> p = Ref<ZQAudioFileDocumentAtPath>::adopt(ZQAudioFileDocumentAtPath::create());
    Ref<platform::Error> error;
    Captured m = capture([&] { EXPECT_FALSE(p->readFromURL(nullptr, "WAVE audio file", &error)); });
    EXPECT_NE(m.err.find("Invalid URL"), std::string::npos);
    EXPECT_EQ(error->domain(), "ZQInvalidURL");
    EXPECT_EQ(error->code(), -1);
    Ref<platform::URL> url = fileURL(dir.file("x.wav"));
    m = capture([&] { EXPECT_FALSE(p->readFromURL(url.get(), nullptr, &error)); });
    EXPECT_NE(m.err.find("Invalid type specification"), std::string::npos);
    EXPECT_EQ(error->domain(), "ZQInvalidTypeSpecification");
    // A repeated request forgets the old URL first.
    Ref<platform::URL> first = fileURL(dir.file("first.wav"));
    capture([&] {
        EXPECT_TRUE(p->readFromURL(first.get(), "WAVE audio file", nullptr));
        EXPECT_FALSE(p->readFromURL(nullptr, "WAVE audio file", nullptr));
        spinFor(100);
    });
    EXPECT_FALSE(p->audioFileURL());
}

TEST_F(DocumentTest, OnlyTheAudioTypesAreOpened) {
    EXPECT_EQ(ZQDocumentController::typeForExtension("WAV"), "WAVE audio file");
    for (const char* e : {"wav", "wave", "aif", "aiff", "aifc", "sd2", "caf", "w64", "flac", "FLAC", "ogg", "oga",
                          "opus", "mp3", "mp2", "mp1", "mpga"})
        EXPECT_NE(ZQDocumentController::typeForExtension(e), "") << e;
    for (const char* e : {"m4a", "aac", "wma", "mid", ""})
        EXPECT_EQ(ZQDocumentController::typeForExtension(e), "") << e;
    Ref<platform::Error> error;
    EXPECT_FALSE(controller().openDocumentWithContentsOfPath(dir.file("song.m4a"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(),
              "The file 'song.m4a' cannot be opened: only WAV, AIFF, Sound Designer II, CAF, Wave64, FLAC, Ogg "
              "Vorbis, Opus and MPEG audio files (.wav, .wave, .aif, .aiff, .aifc, .sd2, .caf, .w64, .flac, .ogg, "
              ".oga, .opus, .mp3, .mp2, .mp1, .mpga) can be opened.");
    EXPECT_TRUE(controller().documents().empty());
}

TEST_F(DocumentTest, ManyOpensDecodeAtMostSixteenAtOnce) {
    const int files = 24;
    for (int i = 0; i < files; ++i)
        ASSERT_TRUE(writeFixture(dir.file("m" + std::to_string(i) + ".wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100,
                                 400000));
    for (int i = 0; i < files; ++i)
        ASSERT_TRUE(controller().openDocumentWithContentsOfPath(dir.file("m" + std::to_string(i) + ".wav"), nullptr));
    ASSERT_TRUE(waitUntil([&] { return side.windowsShown.load() == files && placeholders() == 0; }, 60000));
    EXPECT_LE(ZQAudioFileOpenOperation::peakRunningOpens(), 16);
    EXPECT_GE(ZQAudioFileOpenOperation::peakRunningOpens(), 2); // they do run side by side
    EXPECT_EQ(realDocuments().size(), static_cast<std::size_t>(files));
    for (ZQAudioFileDocument* d : realDocuments())
        EXPECT_EQ(d->sampleCount(0).v_, 400000u);
}

TEST_F(DocumentTest, AfterTerminationOpensAreDropped) {
    const std::string path = dir.file("late.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 100));
    ASSERT_TRUE(controller().openDocumentWithContentsOfPath(path, nullptr)); // makes the queue
    ASSERT_TRUE(waitUntil([] { return placeholders() == 0; }));
    Captured m = capture([] { ZQAudioFileOpenOperation::applicationWillTerminate(); });
    EXPECT_EQ(m.out, ".suoqe.\n");
    ASSERT_TRUE(controller().openDocumentWithContentsOfPath(path, nullptr));
    spinFor(300);
    EXPECT_EQ(placeholders(), 1); // never served
    EXPECT_EQ(side.windowsShown.load(), 1);
    for (auto& d : controller().documents())
        if (dynamic_cast<ZQAudioFileDocumentAtPath*>(d.get())) controller().removeDocument(d.get());
}
