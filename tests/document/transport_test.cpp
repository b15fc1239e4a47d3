#include "DocumentFixture.h"

#include <thread>

using namespace testsupport;
using platform::Ref;

namespace {

double ramp(int c, long k) {
    return (c == 0 ? 1.0 : -1.0) * static_cast<double>(k) / 65536.0;
}

} // namespace

TEST_F(DocumentTest, PlaybackDeliversFramesZeroToNMinusTwoThenStops) {
    const std::string path = dir.file("ramp.wav");
    const long N = 1000;
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, N, ramp));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    ZQAudioFileDocumentTransportController* transport = doc->audioFileDocumentTransportController();
    ASSERT_NE(transport, nullptr);
    EXPECT_TRUE(stream.pull(64) == std::vector<double>(128, 0.0)); // not producing before Play

    transport->perform_Play(nullptr);
    ZQAudioFileDocumentTransportCommandReceiver* receiver = doc->audioFileDocumentTransportCommandReceiver();
    ASSERT_TRUE(receiver->isPlaying());
    std::vector<double> played;
    for (int i = 0; i < 20; ++i) {
        auto b = stream.pull(64);
        played.insert(played.end(), b.begin(), b.end());
    }
    // Frames 0 ... N-1 in order, then only silence.
    for (long k = 0; k < N; ++k) {
        ASSERT_EQ(played[2 * k], ramp(0, k)) << k;
        ASSERT_EQ(played[2 * k + 1], ramp(1, k)) << k;
    }
    for (std::size_t i = 2 * N; i < played.size(); ++i)
        ASSERT_EQ(played[i], 0.0) << i;
    // The end stopped the transport through the document.
    EXPECT_FALSE(receiver->isPlaying());
    EXPECT_FALSE(doc->audioFileDocumentOutputSource()->isProducing());
    EXPECT_EQ(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(N));

    // Play at the end: the after-command check stops at once.
    transport->perform_Play(nullptr);
    EXPECT_FALSE(receiver->isPlaying());
    // GotoStart makes it playable again.
    transport->perform_GotoStart(nullptr);
    transport->perform_Play(nullptr);
    EXPECT_TRUE(receiver->isPlaying());
    EXPECT_EQ(stream.pull(1)[0], 0.0);
    EXPECT_EQ(stream.pull(1)[0], ramp(0, 1));
}

TEST_F(DocumentTest, PositionsAfterBackForwardStartAndEnd) {
    const std::string path = dir.file("long.wav");
    const long N = 44100 * 3 + 500;
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, N));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    t->perform_Play(nullptr);
    stream.pull(1000);
    EXPECT_EQ(doc->presentPlaybackPosition(), 1000u);
    t->perform_Back(nullptr); // within the first second: to 0
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
    t->perform_Forward(nullptr);
    EXPECT_EQ(doc->presentPlaybackPosition(), 44100u);
    t->perform_Forward(nullptr);
    t->perform_Forward(nullptr);
    EXPECT_EQ(doc->presentPlaybackPosition(), 44100u * 3);
    t->perform_Forward(nullptr); // within the last second: to the end, which ends playback
    EXPECT_EQ(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(N));
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    t->perform_Back(nullptr); // from the end, one second back
    EXPECT_EQ(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(N) - 44100);
    t->perform_GotoEnd(nullptr);
    EXPECT_EQ(doc->audioStreamReadPosition()->remaining(), 0u);
    t->perform_GotoStart(nullptr);
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
    // During playback GoBack and GoForward move by one second.
    t->perform_Play(nullptr);
    stream.pull(2 * 44100);
    t->perform_Back(nullptr);
    EXPECT_EQ(doc->presentPlaybackPosition(), 44100u);
    // The jump fades from the old place to the new one; past the fade the
    // new place plays exactly.
    const auto F = static_cast<long>(ZQ::AudioFileDocumentOutputSource::fadeFrames(44100));
    auto b = stream.pull(F + 4);
    for (long k = F; k < F + 4; ++k)
        EXPECT_EQ(b[2 * k], fixtureSample(0, 44100 + k)) << k;
    t->perform_Forward(nullptr);
    EXPECT_EQ(doc->presentPlaybackPosition(), 44100u + F + 4 + 44100u);
    EXPECT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
}

TEST_F(DocumentTest, PauseSilencesWithoutMovingAndTwoSourcesSum) {
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    ASSERT_TRUE(writeFixture(a, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 5000, ramp));
    ASSERT_TRUE(writeFixture(b, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 5000,
                             [](int c, long k) { return c * 0.5 + k * 1e-6; }));
    Ref<ZQAudioFileDocument> da = openDocument(a), db = openDocument(b);
    EXPECT_EQ(stream.sourceCount(), 2u);
    da->audioFileDocumentTransportController()->perform_Play(nullptr);
    db->audioFileDocumentTransportController()->perform_Play(nullptr);
    auto mixed = stream.pull(100);
    for (long k = 0; k < 100; ++k) {
        EXPECT_DOUBLE_EQ(mixed[2 * k], ramp(0, k) + static_cast<double>(static_cast<float>(k * 1e-6)));
        EXPECT_DOUBLE_EQ(mixed[2 * k + 1], ramp(1, k) + static_cast<double>(static_cast<float>(0.5 + k * 1e-6)));
    }
    // Pause a: only b is heard, and a stays where it was.
    da->audioFileDocumentTransportController()->perform_Pause(nullptr);
    EXPECT_TRUE(da->audioFileDocumentTransportCommandReceiver()->isPaused());
    auto onlyB = stream.pull(10);
    EXPECT_DOUBLE_EQ(onlyB[0], static_cast<double>(static_cast<float>(100 * 1e-6)));
    EXPECT_EQ(da->presentPlaybackPosition(), 100u);
    // Pause again: a resumes where it stopped.
    da->audioFileDocumentTransportController()->perform_Pause(nullptr);
    auto both = stream.pull(1);
    EXPECT_DOUBLE_EQ(both[0], ramp(0, 100) + static_cast<double>(static_cast<float>(110 * 1e-6)));
}

TEST_F(DocumentTest, TransportBarFollowsTheStateAndUpdatesOnTheMainThread) {
    const std::string path = dir.file("t.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    ASSERT_TRUE(t->hasLoaded());
    RecordingTransportBar* bar = side.bar;
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isEnabled(TransportButton::Record));
    EXPECT_TRUE(bar->isEnabled(TransportButton::Play));
    t->perform_Play(nullptr);
    EXPECT_TRUE(bar->state(TransportButton::Play));
    EXPECT_FALSE(bar->isEnabled(TransportButton::Play));
    EXPECT_TRUE(bar->isEnabled(TransportButton::Stop));
    EXPECT_FALSE(bar->state(TransportButton::Stop)); // momentary: off once the command is done
    t->perform_Pause(nullptr);
    EXPECT_TRUE(bar->state(TransportButton::Pause));

    // A Stop from another thread (as at the end of a file) reaches the bar on the main thread.
    std::thread([&] { t->perform_Stop(nullptr); }).join();
    EXPECT_TRUE(waitUntil([&] { return !bar->state(TransportButton::Play); }));
    EXPECT_TRUE(bar->isEnabled(TransportButton::Play));
    EXPECT_FALSE(bar->state(TransportButton::Pause));
}

TEST_F(DocumentTest, RefreshTimerRunsWhilePlayingAtTheDisplaysRate) {
    const std::string path = dir.file("r.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    EXPECT_FALSE(doc->refreshTimerIsRunning());
    EXPECT_DOUBLE_EQ(doc->refreshTimerInterval(), 1.0 / 25); // no rate reported
    side.refreshRate = 60;
    EXPECT_DOUBLE_EQ(doc->refreshTimerInterval(), 1.0 / 40);
    side.refreshRate = 30;
    EXPECT_DOUBLE_EQ(doc->refreshTimerInterval(), 1.0 / 30);
    side.refreshRate = 25;
    EXPECT_DOUBLE_EQ(doc->refreshTimerInterval(), 1.0 / 25);

    side.refreshRate = 60;
    t->perform_Play(nullptr);
    ASSERT_TRUE(doc->refreshTimerIsRunning());
    side.log.clear();
    spinFor(300);
    const int ticks = side.log.count("display.updateNumericAndHMSDisplays");
    EXPECT_GE(ticks, 2); // it runs (its rate is checked above, not timed here)
    EXPECT_LE(ticks, 20);
    t->perform_Stop(nullptr);
    EXPECT_FALSE(doc->refreshTimerIsRunning());
}

TEST_F(DocumentTest, PlayTimeBeforeAndAfterTheSourceExists) {
    Ref<ZQAudioFileDocument> empty = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
    opened.push_back(empty);
    ZQ::HMSTime time(ZQ::sample_rate(44100), ZQ::Num::Count(5ull));
    empty->outputSourceController()->hmsTime(&time);
    EXPECT_EQ(time.rate_.s_.v_, -1.0);
    EXPECT_FALSE(time.isSupported_);
    EXPECT_EQ(ZQ::hmsText(time), "00:00:00.000");

    const std::string path = dir.file("h.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 88200));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    doc->audioFileDocumentTransportController()->perform_Forward(nullptr);
    doc->outputSourceController()->hmsTime(&time);
    EXPECT_TRUE(time.isSupported_);
    EXPECT_EQ(ZQ::hmsText(time), "00:00:01.000");
}

TEST_F(DocumentTest, WithoutAStreamPlaybackIsSilentButTheTransportWorks) {
    ZQ::AudioStream::setStreamProvider(nullptr);
    const std::string path = dir.file("s.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1000));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    ASSERT_NE(doc->audioFileDocumentOutputSource(), nullptr);
    EXPECT_EQ(doc->audioFileDocumentOutputSource()->stream(), nullptr);
    t->perform_Play(nullptr);
    EXPECT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    t->perform_Stop(nullptr);
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
}

TEST_F(DocumentTest, FormatsTheStreamCannotTakeAreNotAccepted) {
    TestStream mono(22050, 1);
    ZQ::AudioStream::setStreamProvider(&mono);
    const std::string path = dir.file("three.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 22050, 100));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    EXPECT_EQ(doc->audioFileDocumentOutputSource()->stream(), nullptr); // no stream of 3 channels
    // A mono file at that rate is taken and accepted.
    const std::string m = dir.file("mono.wav");
    ASSERT_TRUE(writeFixture(m, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, 100));
    Ref<ZQAudioFileDocument> md = openDocument(m);
    ASSERT_NE(md->audioFileDocumentOutputSource()->stream(), nullptr);
    EXPECT_TRUE(md->audioFileDocumentOutputSource()->isFormatAccepted());
    md->audioFileDocumentTransportController()->perform_Play(nullptr);
    EXPECT_EQ(mono.pull(3)[2], fixtureSample(0, 2));
    for (auto& d : opened)
        d->close();
    opened.clear();
    ZQ::AudioStream::setStreamProvider(&stream);
}

TEST_F(DocumentTest, ASourceItsStreamRefusedKeepsNoHoldOnThatStream) {
    // A stream of three channels exists, but the source does not take its
    // format: the source must not point at a stream that never listed it
    // (the stream may end without telling it, and a later close would then
    // reach a stream that is gone).
    auto three = std::make_unique<TestStream>(22050, 3);
    ZQ::AudioStream::setStreamProvider(three.get());
    const std::string path = dir.file("three.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 22050, 100));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    EXPECT_GE(three->requests, 1);
    EXPECT_EQ(doc->audioFileDocumentOutputSource()->stream(), nullptr);
    EXPECT_FALSE(doc->audioFileDocumentOutputSource()->isFormatAccepted());
    three.reset();                               // the stream ends
    ZQ::AudioStream::setStreamProvider(nullptr); // and none is left to ask
    capture([&] {
        doc->audioFileDocumentTransportController()->perform_Play(nullptr);
        doc->close(); // and the document closes after it, safely
    });
    opened.clear();
    ZQ::AudioStream::setStreamProvider(&stream);
}

TEST_F(DocumentTest, ClosingADocumentStopsItsPlayback) {
    const std::string path = dir.file("c.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    Ref<ZQAudioFileDocumentTransportCommandReceiver> receiver =
        Ref<ZQAudioFileDocumentTransportCommandReceiver>::retain(doc->audioFileDocumentTransportCommandReceiver());
    doc->close();
    EXPECT_FALSE(receiver->isPlaying());
    EXPECT_EQ(receiver->audioStreamReadPosition(), nullptr);
    EXPECT_FALSE(doc->refreshTimerIsRunning());
    EXPECT_EQ(stream.sourceCount(), 0u);
    EXPECT_EQ(stream.pull(4), std::vector<double>(8, 0.0));
}

TEST(TransportButtons, LooksFollowTheReceiversFlags) {
    Ref<ZQAudioFileDocumentTransportCommandReceiver> r = Ref<ZQAudioFileDocumentTransportCommandReceiver>::adopt(
        ZQAudioFileDocumentTransportCommandReceiver::initWithAudioFileDocument(nullptr));
    auto looks = transportButtonLooks(*r);
    EXPECT_FALSE(looks[int(TransportButton::Play)].on);
    EXPECT_EQ(looks[int(TransportButton::Play)].enabled, 1);
    EXPECT_EQ(looks[int(TransportButton::Stop)].enabled, 1);
    EXPECT_EQ(looks[int(TransportButton::Pause)].enabled, -1);
    r->play(nullptr);
    looks = transportButtonLooks(*r);
    EXPECT_TRUE(looks[int(TransportButton::Play)].on);
    EXPECT_EQ(looks[int(TransportButton::Play)].enabled, 0);
    r->pause(nullptr);
    EXPECT_TRUE(transportButtonLooks(*r)[int(TransportButton::Pause)].on);
}
