// Playback through a real sound server: a private PulseAudio whose pipe sink
// writes every frame it plays, reached through the program's default output
// (the server's own API, as on a desktop). Each test runs in a process of
// its own (CTest runs the cases one by one), so each has a server of its own.
#include "document/HeadlessWindowSide.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "platform/audioout/AudioQueue.h"
#include "playback/AudioFileDocumentOutputSource.h"
#include "playback/OutputStream.h"
#include "playback/ZQAudioFileDocumentOutputSourceController.h"
#include "playback/ZQAudioStreamOutputStreamController.h"
#include "support/Fixtures.h"
#include "support/SoundServer.h"
#include "support/Wait.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>

using namespace testsupport;
using platform::Ref;

namespace {

// A sound every sample of which is its own: a 997 Hz sine at -6 dBFS with a
// slow ramp beneath it on the left, the same sine inverted on the right.
double marked(int c, long k) {
    const double s = 0.5 * std::sin(2.0 * M_PI * 997.0 * static_cast<double>(k) / kServerRate);
    const double ramp = static_cast<double>(k % 4096) / 4096.0 * 1e-3;
    return c == 0 ? s + ramp : -s;
}

class Server : public testing::Test {
protected:
    void SetUp() override {
        if (!SoundServer::available()) GTEST_SKIP() << "no PulseAudio on this machine";
        unsetenv("ZQ_AUDIO_OUTPUT"); // the default output, as for a user
        ZQ::AudioStream::setStreamProvider(&ZQ::AudioStream::outputStreamControllerProvider());
        setDocumentWindowSide(&side);
    }
    void TearDown() override {
        ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(false);
        for (auto& d : docs)
            d->close();
        docs.clear();
        spinFor(20);
        setDocumentWindowSide(nullptr);
    }
    Ref<ZQAudioFileDocument> open(const std::string& path) {
        auto doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
        EXPECT_TRUE(doc->readFromURL(fileURL(path).get(), "WAVE audio file", nullptr));
        EXPECT_TRUE(waitUntil([&] { return doc->audioFileDocumentTransportController() != nullptr; }));
        docs.push_back(doc);
        return doc;
    }
    // `frames` of a constant level on the left and the frame number on the
    // right, (k + 1) / 2^20: every frame heard names itself.
    Ref<ZQAudioFileDocument> openCounting(const std::string& name, long frames) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kServerRate, frames,
                                 [](int c, long k) { return c == 0 ? 0.5 : static_cast<double>(k + 1) / 1048576.0; }));
        return open(path);
    }
    static bool playing(ZQAudioFileDocument* doc) {
        return doc->audioFileDocumentTransportCommandReceiver()->isPlaying();
    }
    // The frame of `source` (interleaved stereo) in [from, to) that the
    // first sound of `heard` is, judged by 64 frames that match exactly a
    // fade's length later (a resume fades in); -1 when none does.
    static long firstHeardFrame(const std::vector<float>& heard, const std::vector<float>& source, long from, long to) {
        const long frames = static_cast<long>(heard.size() / 2);
        const auto fade = static_cast<long>(ZQ::AudioFileDocumentOutputSource::fadeFrames(kServerRate));
        long first = 0;
        while (first < frames && heard[2 * first] == 0.0f)
            ++first;
        first += fade;
        if (first + 64 > frames) return -1;
        to = std::min(to + fade, static_cast<long>(source.size() / 2) - 64);
        for (long s = std::max(0L, from + fade); s < to; ++s) {
            bool same = true;
            for (long k = 0; k < 64 && same; ++k)
                same = heard[2 * (first + k)] == source[2 * (s + k)] &&
                       heard[2 * (first + k) + 1] == source[2 * (s + k) + 1];
            if (same) return s - fade;
        }
        return -1;
    }
    // Interleaved float samples of a fixture, as the file holds them.
    static std::vector<float> samples(int frames) {
        std::vector<float> out(2 * static_cast<std::size_t>(frames));
        for (int k = 0; k < frames; ++k)
            for (int c = 0; c < 2; ++c)
                out[2 * k + c] = static_cast<float>(marked(c, k));
        return out;
    }

    SoundServer server;
    ZQHeadlessWindowSide side;
    TempDir dir;
    std::vector<Ref<ZQAudioFileDocument>> docs;
};

} // namespace

TEST_F(Server, AStereoFloatFileIsHeardSampleExactEveryFrameToTheLast) {
    ASSERT_TRUE(server.start());
    const int n = kServerRate / 2 + 123;
    const std::string path = dir.file("exact.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kServerRate, n, marked));
    Ref<ZQAudioFileDocument> doc = open(path);
    ServerRecording recording(server);
    ASSERT_TRUE(recording.isRecording());
    ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800; }));
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !playing(doc.get()); }, 10000));
    EXPECT_EQ(side.alerts(), 0) << side.lastAlert();
    spinFor(400); // what is on its way to the server
    recording.stop();
    const std::vector<float> heard = recording.heard();
    const std::vector<float> expected = samples(n);
    // The first sound heard is the file's second frame (its first is
    // silence), then every frame exactly, without a gap, to the last; then
    // silence.
    long at = 0;
    while (at < static_cast<long>(heard.size() / 2) && heard[2 * at] == 0.0f)
        ++at;
    --at;
    ASSERT_GE(at, 0);
    ASSERT_GE(static_cast<long>(heard.size() / 2), at + n);
    for (long k = 0; k < n; ++k)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(heard[2 * (at + k) + c], expected[2 * k + c]) << "frame " << k << " channel " << c;
    for (std::size_t i = 2 * static_cast<std::size_t>(at + n); i < heard.size(); ++i)
        ASSERT_EQ(heard[i], 0.0f) << "after the end, at " << i / 2;
    // The device went back to rest once nothing played.
    ZQ::AudioStream::OutputStream* stream =
        ZQ::AudioStream::OutputStream::findOrCreate(kServerRate, ZQ::Num::Count(2ull));
    EXPECT_TRUE(waitUntil([&] { return stream->audioQueue() && stream->audioQueue()->isResting(); }, 3000));
}

TEST_F(Server, ALoopedSelectionIsHeardSeamlesslyThroughTheServer) {
    ASSERT_TRUE(server.start());
    const int n = kServerRate / 2;
    const long first = 3000, last = first + kServerRate / 5 - 1, pass = last - first + 1;
    const std::string path = dir.file("loop.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kServerRate, n, marked));
    Ref<ZQAudioFileDocument> doc = open(path);
    ServerRecording recording(server);
    ASSERT_TRUE(recording.isRecording());
    ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800; }));
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(true);
    doc->playSelection(first, last);
    ZQ::AudioFileDocumentOutputSource* source = doc->outputSourceController()->audioFileDocumentOutputSource();
    ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= 4; }, 10000));
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(false);
    spinFor(300); // what is on its way to the server
    doc->audioFileDocumentTransportController()->perform_Stop(nullptr);
    recording.stop();
    EXPECT_EQ(side.alerts(), 0) << side.lastAlert();
    const std::vector<float> heard = recording.heard();
    const std::vector<float> expected = samples(n);
    // The first sound heard is the selection's first frame; then the
    // selection over and over: every frame, the last followed by the first,
    // across at least two seams.
    long at = 0;
    while (at < static_cast<long>(heard.size() / 2) && heard[2 * at] == 0.0f)
        ++at;
    long frame = first;
    ASSERT_GE(static_cast<long>(heard.size() / 2), at + 3 * pass);
    const long frames = 3 * pass;
    int seams = 0;
    for (long k = 0; k < frames; ++k, ++frame) {
        if (frame > last) {
            frame = first;
            ++seams;
        }
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(heard[2 * (at + k) + c], expected[2 * frame + c])
                << "heard frame " << k << " (selection frame " << frame << "), after " << seams << " seams";
    }
    EXPECT_EQ(seams, 2);
}

TEST_F(Server, EveryRateIsHeardAtItsPitchAndLengthWithoutAGap) {
    ASSERT_TRUE(server.start());
    for (const int rate : {8000, 44100, 96000, 192000, 384000}) {
        SCOPED_TRACE(rate);
        const int n = rate / 2; // half a second of 441 Hz
        const std::string path = dir.file("rate" + std::to_string(rate) + ".wav");
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, rate, n, [rate](int, long k) {
            return 0.5 * std::sin(2.0 * M_PI * 441.0 * static_cast<double>(k) / rate);
        }));
        Ref<ZQAudioFileDocument> doc = open(path);
        ServerRecording recording(server);
        ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800; }));
        doc->audioFileDocumentTransportController()->perform_Play(nullptr);
        ASSERT_TRUE(waitUntil([&] { return !playing(doc.get()); }, 10000));
        spinFor(400);
        recording.stop();
        EXPECT_EQ(side.alerts(), 0) << side.lastAlert();
        const std::vector<float> heard = recording.heard();
        long first = -1, last = -1, crossings = 0, firstCrossing = -1, lastCrossing = -1, gaps = 0, quiet = 0;
        for (long i = 0; i < static_cast<long>(heard.size() / 2); ++i)
            if (std::fabs(heard[2 * i]) > 1e-3f) {
                if (first < 0) first = i;
                last = i;
            }
        ASSERT_GE(first, 0) << "nothing was heard";
        // Rising zero crossings of the sound itself (not the resampler's faint
        // ringing after it); a sine this loud is never near zero for four
        // frames running unless the sound broke off.
        for (long i = first + 1; i < last - 64; ++i) {
            quiet = std::fabs(heard[2 * i]) <= 1e-3f ? quiet + 1 : 0;
            if (quiet == 4) ++gaps;
            if (heard[2 * (i - 1)] < 0.0f && heard[2 * i] >= 0.0f) {
                if (firstCrossing < 0) firstCrossing = i;
                lastCrossing = i;
                ++crossings;
            }
        }
        EXPECT_EQ(gaps, 0);
        ASSERT_GT(crossings, 100);
        // Half a second at the server's rate, and 441 cycles a second: the
        // pitch is right when the cycles per heard second are.
        EXPECT_NEAR(static_cast<double>(last - first + 1) / kServerRate, 0.5, 0.002);
        const double cycleSeconds = static_cast<double>(lastCrossing - firstCrossing) / kServerRate;
        EXPECT_NEAR(static_cast<double>(crossings - 1) / cycleSeconds, 441.0, 0.5);
        doc->close();
        docs.clear();
    }
}

TEST_F(Server, PauseAndResumeContinueAtTheSampleWithoutAStep) {
    ASSERT_TRUE(server.start());
    const int n = kServerRate * 2;
    Ref<ZQAudioFileDocument> doc = openCounting("level.wav", n); // a cut would be a step of 0.5
    ServerRecording recording(server);
    ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800; }));
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    t->perform_Play(nullptr);
    spinFor(300);
    t->perform_Pause(nullptr);
    const std::uint64_t paused = doc->presentPlaybackPosition();
    spinFor(300);
    t->perform_Pause(nullptr); // resumes
    ASSERT_TRUE(waitUntil([&] { return !playing(doc.get()); }, 10000));
    spinFor(400);
    recording.stop();
    const std::vector<float> heard = recording.heard();
    const long frames = static_cast<long>(heard.size() / 2);
    float largestStep = 0;
    long firstSound = -1, lastSound = -1;
    for (long i = 0; i < frames; ++i)
        if (heard[2 * i] != 0.0f) {
            if (firstSound < 0) firstSound = i;
            lastSound = i;
        }
    ASSERT_GE(firstSound, 0);
    for (long i = firstSound + 1; i <= lastSound; ++i)
        largestStep = std::max(largestStep, std::fabs(heard[2 * i] - heard[2 * (i - 1)]));
    EXPECT_LE(largestStep, 0.01f); // fades, no cut
    // After the silence the sound comes back from the frame where the pause
    // was made, fading in.
    long silenceEnd = -1;
    for (long i = firstSound; i <= lastSound; ++i)
        if (heard[2 * i] == 0.0f) {
            while (i <= lastSound && heard[2 * i] == 0.0f)
                ++i;
            silenceEnd = i;
            break;
        }
    ASSERT_GT(silenceEnd, 0) << "no silence while paused";
    const auto F = static_cast<long>(ZQ::AudioFileDocumentOutputSource::fadeFrames(kServerRate));
    const double firstGain = 1.0 / static_cast<double>(F);
    EXPECT_NEAR(heard[2 * silenceEnd], 0.5 * firstGain, 1e-6);
    EXPECT_NEAR(heard[2 * silenceEnd + 1] / firstGain * 1048576.0 - 1.0, static_cast<double>(paused), 0.5);
    // Past the fade every frame is whole again, in order, to the last.
    const long resumedWhole = silenceEnd + F;
    for (long k = 0; resumedWhole + k <= lastSound; ++k) {
        ASSERT_EQ(heard[2 * (resumedWhole + k)], 0.5f) << k;
        ASSERT_EQ(heard[2 * (resumedWhole + k) + 1], static_cast<float>((paused + F + k + 1) / 1048576.0)) << k;
    }
    EXPECT_EQ(static_cast<long>(paused) + F + (lastSound - resumedWhole + 1), n);
}

TEST_F(Server, AKilledServerStopsTheDocumentWithAnAlertAndPlayIsHeardOnceItIsBack) {
    ASSERT_TRUE(server.start());
    const int n = kServerRate * 10;
    const std::string path = dir.file("long.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kServerRate, n, marked));
    Ref<ZQAudioFileDocument> doc = open(path);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    {
        ServerRecording before(server);
        ASSERT_TRUE(waitUntil([&] { return before.framesHeard() > 4800; }));
        t->perform_Play(nullptr);
        // The server goes only once the file is heard (opening the device
        // may take a while on a busy machine).
        ASSERT_TRUE(
            waitUntil([&] { return firstHeardFrame(before.heard(), samples(n), 0, kServerRate / 20) >= 0; }, 5000));
    }
    ASSERT_TRUE(playing(doc.get()));
    server.kill();
    // Noticed within a second (and the hand-over to the main thread).
    EXPECT_TRUE(waitUntil([&] { return !playing(doc.get()); }, 2000));
    ASSERT_EQ(side.alerts(), 1);
    EXPECT_EQ(side.lastAlert(), "The audio output stopped.\nThe sound server went away.");
    const std::uint64_t stoppedAt = doc->presentPlaybackPosition();
    EXPECT_GT(stoppedAt, 0u); // kept where the sound stopped
    EXPECT_LT(stoppedAt, static_cast<std::uint64_t>(n));

    ASSERT_TRUE(server.start());
    ServerRecording recording(server);
    ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800; }));
    t->perform_Play(nullptr);
    ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800 + kServerRate / 2; }, 5000));
    spinFor(300);
    EXPECT_TRUE(playing(doc.get()));
    // What plays now is the file, from where it stopped.
    const auto from = static_cast<long>(stoppedAt);
    EXPECT_GE(firstHeardFrame(recording.heard(), samples(n), from, from + kServerRate / 10), 0)
        << "the file was not heard from where it stopped after the server came back";
    EXPECT_EQ(side.alerts(), 1);
    t->perform_Stop(nullptr);
}

TEST_F(Server, WithNoServerPlaySaysSoAndWorksOnceAServerRuns) {
    const int n = kServerRate / 4;
    const std::string path = dir.file("short.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kServerRate, n, marked));
    Ref<ZQAudioFileDocument> doc = open(path);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    t->perform_Play(nullptr);
    ASSERT_TRUE(waitUntil([&] { return side.alerts() > 0; }, 5000));
    EXPECT_EQ(side.lastAlert().substr(0, side.lastAlert().find('\n')), "No audio output is available.");
    EXPECT_GT(side.lastAlert().size(), std::string("No audio output is available.\n").size()); // with the reason
    EXPECT_TRUE(waitUntil([&] { return !playing(doc.get()); }, 2000));
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);

    ASSERT_TRUE(server.start());
    ServerRecording recording(server);
    ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800; }));
    t->perform_Play(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !playing(doc.get()); }, 10000));
    spinFor(400);
    recording.stop();
    EXPECT_EQ(side.alerts(), 1);
    EXPECT_GE(firstHeardFrame(recording.heard(), samples(n), 0, kServerRate / 20), 0)
        << "the file was not heard from its start";
}

TEST_F(Server, ZqplayListsTheServersOutputsPlaysTheChosenChannelsOnOneAndRefusesAnUnknownOne) {
    ASSERT_TRUE(server.start());
    server.addSink("zqother", "ZQ Test Headset");
    const int n = kServerRate / 2;
    const std::string path = dir.file("four.wav"), log = dir.file("log.txt");
    // Channel c holds (c + 1) / 8.
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 4, kServerRate, n,
                             [](int c, long) { return (c + 1) / 8.0; }));
    const auto run = [&](const std::string& arguments) {
        const std::string command = "env -u ZQ_AUDIO_OUTPUT " ZQ_ZQPLAY " " + arguments + " > '" + log + "' 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream in(log);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                              std::string{std::istreambuf_iterator<char>(in), {}});
    };
    // The outputs as the desktop names them.
    EXPECT_EQ(run("--list-devices"), std::make_pair(0, std::string("ZQ Test Speakers\nZQ Test Headset\n")));
    const auto [refused, why] = run("--device 'No Such Speakers' '" + path + "'");
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(why, "zqplay: there is no output device \"No Such Speakers\"; the devices are:\n  ZQ Test Speakers\n"
                   "  ZQ Test Headset\n");

    // Channels 2 and 4, left and right, unchanged, every frame, on the
    // chosen output although it is not the default.
    server.pactl("set-default-sink zqother");
    ServerRecording recording(server);
    ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800; }));
    EXPECT_EQ(run("--channels 2,4 --device 'ZQ Test Speakers' '" + path + "'").first, 0);
    spinFor(300);
    recording.stop();
    const std::vector<float> heard = recording.heard();
    long sounding = 0, other = 0;
    for (std::size_t k = 0; k < heard.size() / 2; ++k) {
        if (heard[2 * k] == 0.0f && heard[2 * k + 1] == 0.0f) continue;
        if (heard[2 * k] == 0.25f && heard[2 * k + 1] == 0.5f)
            ++sounding;
        else
            ++other;
    }
    EXPECT_EQ(sounding, n);
    EXPECT_EQ(other, 0);
}

TEST_F(Server, TheMixerShowsTheFileByNameAndTheStreamRestsCorkedUntilPlayAndAfterIt) {
    ASSERT_TRUE(server.start());
    const std::string path = dir.file("song.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kServerRate, kServerRate / 2, marked));
    Ref<ZQAudioFileDocument> doc = open(path);
    spinFor(300);
    // Opened, never played: no stream that keeps the sink awake.
    const std::string before = server.pactl("list sink-inputs");
    EXPECT_EQ(before.find("Corked: no"), std::string::npos) << before;
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    std::string during;
    ASSERT_TRUE(waitUntil(
        [&] {
            during = server.pactl("list sink-inputs");
            return during.find("Corked: no") != std::string::npos;
        },
        3000));
    for (const char* property : {"application.name = \"ZQ Audio\"", "media.name = \"song.wav\"",
                                 "media.role = \"music\"", "application.icon_name = \"zqaudio\""})
        EXPECT_NE(during.find(property), std::string::npos) << property << " in\n" << during;
    ASSERT_TRUE(waitUntil([&] { return !playing(doc.get()); }, 5000));
    // Once it has played out, the stream rests corked again.
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string after = server.pactl("list sink-inputs");
            return after.find("Corked: yes") != std::string::npos && after.find("Corked: no") == std::string::npos;
        },
        3000));
}

TEST_F(Server, TheSoundFollowsTheDefaultOutputAndTheMixersMoveAndSaysSoWhenItsOutputIsRemoved) {
    ASSERT_TRUE(server.start());
    // The outputs offered follow the server's as they come.
    EXPECT_EQ(platform::audio::outputDeviceNames(), std::vector<std::string>{"ZQ Test Speakers"});
    server.addSink("zqother", "ZQ Test Headset");
    EXPECT_TRUE(waitUntil([] {
        return platform::audio::outputDeviceNames() == std::vector<std::string>{"ZQ Test Speakers", "ZQ Test Headset"};
    }));
    server.pactl("set-default-sink zqtest");
    const std::string path = dir.file("long.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kServerRate, kServerRate * 20, marked));
    Ref<ZQAudioFileDocument> doc = open(path);
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    ZQ::AudioStream::OutputStream* stream =
        ZQ::AudioStream::OutputStream::findOrCreate(kServerRate, ZQ::Num::Count(2ull));
    const auto device = [&] { return stream->audioQueue() ? stream->audioQueue()->deviceDescription() : ""; };
    ASSERT_TRUE(waitUntil([&] { return device() == "ZQ Test Speakers"; }, 3000)) << device();
    // The user picks another default output: the sound goes there.
    server.pactl("set-default-sink zqother");
    EXPECT_TRUE(waitUntil([&] { return device() == "ZQ Test Headset"; }, 3000)) << device();
    // The desktop's mixer moves it back: followed, not fought.
    std::string inputs = server.pactl("list short sink-inputs");
    const std::string index = inputs.substr(0, inputs.find('\t'));
    server.pactl("move-sink-input " + index + " zqtest");
    EXPECT_TRUE(waitUntil([&] { return device() == "ZQ Test Speakers"; }, 3000)) << device();
    spinFor(300);
    EXPECT_TRUE(playing(doc.get()));
    EXPECT_EQ(side.alerts(), 0) << side.lastAlert();
    // Its output removed with no other to go to, the sound stops and says why.
    server.pactl("unload-module module-null-sink");
    server.pactl("unload-module module-pipe-sink");
    EXPECT_TRUE(waitUntil([&] { return !playing(doc.get()); }, 3000));
    ASSERT_EQ(side.alerts(), 1);
    EXPECT_EQ(side.lastAlert(), "The audio output stopped.\nThe output \u201CZQ Test Speakers\u201D was removed.");
}

TEST_F(Server, ThePlayPositionIsTheFrameBeingHeard) {
    ASSERT_TRUE(server.start());
    const int n = kServerRate * 4;
    Ref<ZQAudioFileDocument> doc = openCounting("count.wav", n);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    ZQ::AudioStream::OutputStream* stream =
        ZQ::AudioStream::OutputStream::findOrCreate(kServerRate, ZQ::Num::Count(2ull));
    ServerRecording recording(server);
    ASSERT_TRUE(waitUntil([&] { return recording.framesHeard() > 4800; }));
    // The first play on a new stream, and one after the stream has rested.
    std::vector<double> errors;
    for (int play = 0; play < 2; ++play) {
        t->perform_GotoStart(nullptr);
        t->perform_Play(nullptr);
        spinFor(500);
        // At moments while it plays: the position shown (the line's) against
        // the last frame the sink played.
        for (int k = 0; k < 10; ++k) {
            // The line read right after the sink's writes are taken in, and
            // the recording copied only then.
            const std::size_t heardThen = recording.catchUp();
            const double shown = static_cast<double>(doc->presentPlaybackPosition());
            // The time readout tells the same frame, within the moment
            // between the two reads and a step of the server's timing (its
            // latency is estimated anew as updates come; under the
            // sanitizers, a step of up to ~20 ms was seen).
            ZQ::HMSTime readout;
            doc->outputSourceController()->hmsTime(&readout);
            EXPECT_NEAR(static_cast<double>(readout.sample_.v_), shown, kServerRate / 40.0);
            const std::vector<float> heard = recording.heard();
            ASSERT_GE(heardThen, 2u);
            const double playedLast = heard[heardThen - 1] * 1048576.0 - 1.0;
            errors.push_back(std::fabs(shown - playedLast) / kServerRate);
            spinFor(100);
        }
        t->perform_Stop(nullptr);
        ASSERT_TRUE(waitUntil([&] { return stream->audioQueue() && stream->audioQueue()->isResting(); }, 3000));
    }
    // The sink writes in blocks and the two reads are moments apart: the
    // typical moment tells whether the line is the sound, the worst bounds
    // a busy machine's stray moment. A line a buffer ahead is ~0.1 s off;
    // the bounds leave room for the sanitizers' slower threads (the
    // benchmark gives the figure on a plain build).
    std::sort(errors.begin(), errors.end());
    EXPECT_LE(errors[errors.size() / 2], 0.015) << "seconds between the line and the sound, median";
    EXPECT_LE(errors.back(), 0.050) << "seconds between the line and the sound, worst";
}

TEST_F(Server, WithoutAServerZqplayPlaysThroughPortAudio) {
    // No server answers, and ALSA's default device is its null one.
    const std::string home = dir.file("home"), path = dir.file("short.wav"), log = dir.file("log.txt");
    ASSERT_EQ(std::system(("mkdir -p '" + home + "'").c_str()), 0);
    std::ofstream(home + "/.asoundrc") << "pcm.!default { type null }\n";
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kServerRate, kServerRate / 4, marked));
    const std::string environment =
        "env -u ZQ_AUDIO_OUTPUT HOME='" + home + "' PULSE_SERVER=unix:" + home + "/no-server " ZQ_ZQPLAY " ";
    EXPECT_EQ(std::system((environment + "--list-devices > '" + log + "' 2>&1").c_str()), 0);
    std::ifstream in(log);
    const std::string devices{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(devices.find("default\n"), std::string::npos) << devices;
    EXPECT_EQ(std::system((environment + "'" + path + "' > '" + log + "' 2>&1").c_str()), 0);
}
