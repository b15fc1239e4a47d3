// The playback engine end to end: documents, the real stream controller,
// stream threads and the capture output, compared frame by frame with what
// the documents hold. Each test uses a rate of its own, so each gets a
// stream (and a capture file) of its own.
#include "document/HeadlessWindowSide.h"
#include "document/Termination.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentAtPath.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "playback/AudioFileDocumentOutputSource.h"
#include "playback/ChannelMix.h"
#include "playback/LevelMeter.h"
#include "playback/OutputStream.h"
#include "playback/ZQASThread.h"
#include "playback/ZQAudioStreamOutputStreamController.h"
#include "support/Fixtures.h"
#include "support/Output.h"
#include "support/PlaybackCapture.h"
#include "support/Wait.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <thread>

using namespace testsupport;
using platform::Ref;

namespace {

// Frame k of channel c: (k + 1) / 2^20, negative on the right. Never zero,
// exact in every format used here, and it names its own frame.
double counting(int c, long k) {
    return (c ? -1.0 : 1.0) * static_cast<double>(k + 1) / 1048576.0;
}
long frameOf(float v) {
    return std::lround(std::fabs(static_cast<double>(v)) * 1048576.0) - 1;
}

class Engine : public testing::Test {
protected:
    void SetUp() override {
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
    // Opens a document with the capture output at `capture`, ready to play.
    Ref<ZQAudioFileDocument> open(const std::string& path, const std::string& capture) {
        setenv("ZQ_AUDIO_OUTPUT", ("capture:" + capture).c_str(), 1);
        auto doc = Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
        EXPECT_TRUE(doc->readFromURL(fileURL(path).get(), "WAVE audio file", nullptr));
        EXPECT_TRUE(waitUntil([&] { return doc->audioFileDocumentTransportController() != nullptr; }));
        docs.push_back(doc);
        return doc;
    }
    static bool playedToTheEnd(ZQAudioFileDocument* doc) {
        return waitUntil([&] { return !doc->audioFileDocumentTransportCommandReceiver()->isPlaying(); }, 20000);
    }
    static std::vector<float> capture(const std::string& path, int& channels) {
        PlayedSound played = readCapture(path);
        channels = played.channels;
        return std::move(played.samples);
    }
    // Silence, then exactly frames 0 ... n-1 of `counting`, then silence only.
    static void expectPlayedExactly(const std::vector<float>& data, int channels, long n) {
        const std::size_t frames = data.size() / channels;
        std::size_t first = 0;
        while (first < frames && data[first * channels] == 0.0f)
            ++first;
        ASSERT_LT(first, frames) << "nothing was played";
        for (std::size_t i = 0; i < first * channels; ++i)
            ASSERT_EQ(data[i], 0.0f);
        ASSERT_GE(frames - first, static_cast<std::size_t>(n));
        for (long k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c)
                ASSERT_EQ(data[(first + k) * channels + c], static_cast<float>(counting(c, k))) << "frame " << k;
        for (std::size_t i = (first + n) * channels; i < data.size(); ++i)
            ASSERT_EQ(data[i], 0.0f) << "after the end";
    }

    ZQHeadlessWindowSide side;
    TempDir dir;
    std::vector<Ref<ZQAudioFileDocument>> docs;
};

} // namespace

TEST_F(Engine, MonoAndStereoFilesPlayEveryFrameExactly) {
    struct Case {
        int channels;
        int rate;
        long frames;
    } cases[] = {{1, 22050, 9000}, {2, 24000, 12345}, {2, 32000, 1}};
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.channels) + "-" + std::to_string(c.frames);
        const std::string path = dir.file("f" + name + ".wav"), out = dir.file("out" + name + ".wav");
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, c.channels, c.rate, c.frames, counting));
        Ref<ZQAudioFileDocument> doc = open(path, out);
        doc->audioFileDocumentTransportController()->perform_Play(nullptr);
        ASSERT_TRUE(playedToTheEnd(doc.get()));
        ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(
            c.rate, ZQ::Num::Count(static_cast<unsigned long long>(c.channels)));
        ASSERT_TRUE(stream->waitUntilPlayed(5));
        EXPECT_EQ(stream->underruns(), 0u);
        int channels = 0;
        std::vector<float> data = capture(out, channels);
        ASSERT_EQ(channels, c.channels);
        expectPlayedExactly(data, channels, c.frames); // every frame, the last one too
    }
}

TEST_F(Engine, TwoDocumentsOnOneStreamSum) {
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav"), out = dir.file("sum.wav");
    const long na = 20000, nb = 15000;
    ASSERT_TRUE(writeFixture(a, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 26000, na, [](int, long) { return 0.25; }));
    ASSERT_TRUE(writeFixture(b, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 26000, nb, [](int, long) { return 0.5; }));
    Ref<ZQAudioFileDocument> da = open(a, out), db = open(b, out);
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(26000, ZQ::Num::Count(2ull));
    EXPECT_EQ(da->audioFileDocumentOutputSource()->stream(), stream); // one shared stream
    EXPECT_EQ(db->audioFileDocumentOutputSource()->stream(), stream);
    da->audioFileDocumentTransportController()->perform_Play(nullptr);
    db->audioFileDocumentTransportController()->perform_Play(nullptr);
    ASSERT_TRUE(playedToTheEnd(da.get()));
    ASSERT_TRUE(playedToTheEnd(db.get()));
    ASSERT_TRUE(stream->waitUntilPlayed(5));
    int channels = 0;
    std::vector<float> data = capture(out, channels);
    long withA = 0, withB = 0, both = 0;
    for (std::size_t k = 0; k < data.size() / 2; ++k) {
        const float v = data[2 * k];
        ASSERT_TRUE(v == 0.0f || v == 0.25f || v == 0.5f || v == 0.75f) << v;
        ASSERT_EQ(data[2 * k + 1], v);
        withA += v == 0.25f || v == 0.75f;
        withB += v == 0.5f || v == 0.75f;
        both += v == 0.75f;
    }
    EXPECT_EQ(withA, na);
    EXPECT_EQ(withB, nb);
    EXPECT_GT(both, 0); // they did overlap, and added up there
}

// Left: a constant 0.5 (a cut would be a step of 0.5); right: the counting
// frames, which tell where each sound came from.
double levelAndCount(int c, long k) {
    return c == 0 ? 0.5 : counting(0, k);
}

TEST_F(Engine, PauseResumeAndJumpsFadeWithoutClicksAndLoseNoFrame) {
    const int rate = 20000;
    const long n = rate * 3;
    const auto F = static_cast<long>(ZQ::AudioFileDocumentOutputSource::fadeFrames(rate));
    ASSERT_EQ(F, 100); // 5 ms
    const std::string path = dir.file("p.wav"), out = dir.file("pause.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, rate, n, levelAndCount));
    Ref<ZQAudioFileDocument> doc = open(path, out);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    t->perform_Play(nullptr);
    spinFor(250);
    t->perform_Pause(nullptr);
    const std::uint64_t paused = doc->presentPlaybackPosition();
    spinFor(300);
    EXPECT_EQ(doc->presentPlaybackPosition(), paused); // silence, position kept
    t->perform_Pause(nullptr);                         // resumes
    spinFor(150);
    t->perform_Forward(nullptr);
    spinFor(150);
    t->perform_Back(nullptr);
    ASSERT_TRUE(playedToTheEnd(doc.get()));
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(2ull));
    ASSERT_TRUE(stream->waitUntilPlayed(5));
    int channels = 0;
    std::vector<float> data = capture(out, channels);
    ASSERT_EQ(channels, 2);
    const std::size_t frames = data.size() / 2;
    auto level = [&](std::size_t i) { return data[2 * i]; };
    auto count = [&](std::size_t i) { return data[2 * i + 1]; };
    auto whole = [&](std::size_t i, long k) {
        return level(i) == 0.5f && count(i) == static_cast<float>(counting(0, k));
    };

    // No step larger than a fade's on the level channel, from the first
    // sound to the file's own last frame.
    std::size_t lastSounding = frames;
    while (lastSounding > 0 && level(lastSounding - 1) == 0.0f)
        --lastSounding;
    float largestStep = 0;
    for (std::size_t i = 1; i < lastSounding; ++i)
        if (level(i - 1) != 0.0f || level(i) != 0.0f)
            largestStep = std::max(largestStep, std::fabs(level(i) - level(i - 1)));
    EXPECT_GT(largestStep, 0.0f);
    EXPECT_LE(largestStep, 0.01f);

    // Walk what was heard: whole frames in order, a fade down to silence at
    // the pause, a fade up that starts where the sound stopped, and a fade
    // across each jump.
    std::size_t i = 0;
    while (i < frames && level(i) == 0.0f)
        ++i;
    long next = 0; // the frame expected next
    std::vector<long> resumedAt, jumpedBy;
    long longestSilence = 0;
    while (i < frames && next < n) {
        if (whole(i, next)) {
            ++i, ++next;
            continue;
        }
        if (level(i) < 0.499f && i + F < frames && level(i + F - 1) < level(i)) {
            // A fade down over frames next ... next+F-1, then silence.
            for (long k = 0; k < F; ++k) {
                const double g = static_cast<double>(F - 1 - k) / static_cast<double>(F);
                ASSERT_NEAR(level(i + k), 0.5 * g, 1e-6) << "fade-out " << k;
                ASSERT_NEAR(count(i + k), g * counting(0, next + k), 1e-9) << "fade-out " << k;
            }
            i += F;
            long silence = 0;
            while (i < frames && level(i) == 0.0f && count(i) == 0.0f)
                ++i, ++silence;
            longestSilence = std::max(longestSilence, silence);
            if (i >= frames) break;
            // The fade up begins at the very frame where the fade down began.
            resumedAt.push_back(next);
            for (long k = 0; k < F; ++k) {
                const double g = static_cast<double>(k + 1) / static_cast<double>(F);
                ASSERT_NEAR(level(i + k), 0.5 * g, 1e-6) << "fade-in " << k;
                ASSERT_NEAR(count(i + k), g * counting(0, next + k), 1e-9) << "fade-in " << k;
            }
            i += F, next += F;
            continue;
        }
        // A jump: F frames where the old place fades into the new one, then
        // the new place whole.
        ASSERT_LT(i + F, frames) << "at heard frame " << i;
        const long landed = frameOf(count(i + F)) - F;
        ASSERT_TRUE(whole(i + F, landed + F)) << "after the fade of a jump, at heard frame " << i;
        jumpedBy.push_back(landed - next);
        i += F, next = landed + F;
    }
    EXPECT_EQ(next, n); // the last frame was heard, whole
    for (; i < frames; ++i)
        ASSERT_TRUE(level(i) == 0.0f && count(i) == 0.0f) << "after the end, at heard frame " << i;
    // Silence between the fades (the device itself rests while paused, so
    // the capture holds only what the queue played out).
    EXPECT_GT(longestSilence, 0);
    EXPECT_EQ(resumedAt, (std::vector<long>{static_cast<long>(paused)}));
    EXPECT_EQ(jumpedBy, (std::vector<long>{rate, -rate}));
}

TEST_F(Engine, EveryChannelCountPlaysThroughAStereoStreamAsItsAudibleChannelsMix) {
    struct Case {
        int channels;
        std::vector<int> soloed, muted;
        bool exact; // one or two audible channels pass unchanged
    } cases[] = {
        {3, {}, {}, false},
        {6, {}, {}, false},
        {6, {3}, {}, true},
        {16, {}, {}, false},
        {16, {0, 15}, {}, true},
        {4, {}, {0, 1}, true},
        {8, {}, {0, 1, 2, 3, 4}, false},
        // As many as a document holds (the upper half muted: its values pass full scale).
        {64, {0, 31}, {}, true},
        {64,
         {},
         {32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47,
          48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63},
         false},
    };
    int rate = 11000;
    for (const Case& c : cases) {
        ++rate; // a stream of its own for each case
        const long n = 3000;
        const std::string name = std::to_string(c.channels) + "-" + std::to_string(rate);
        const std::string path = dir.file("m" + name + ".wav"), out = dir.file("mix" + name + ".wav");
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, c.channels, rate, n,
                                 [](int ch, long) { return (ch + 1) / 32.0; }));
        Ref<ZQAudioFileDocument> doc = open(path, out);
        for (int ch : c.soloed)
            doc->setChannelSoloed(ch, true);
        for (int ch : c.muted)
            doc->setChannelMuted(ch, true);
        doc->audioFileDocumentTransportController()->perform_Play(nullptr);
        ASSERT_TRUE(playedToTheEnd(doc.get())) << c.channels;
        ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(2ull));
        ASSERT_TRUE(stream->waitUntilPlayed(5));
        int channels = 0;
        std::vector<float> data = capture(out, channels);
        ASSERT_EQ(channels, 2) << c.channels;
        // What each side should carry, summed as the source sums.
        std::vector<bool> muted(c.channels), soloed(c.channels);
        for (int ch : c.muted)
            muted[ch] = true;
        for (int ch : c.soloed)
            soloed[ch] = true;
        const ZQ::ChannelMix mix =
            ZQ::makeChannelMix(c.channels, 2, ZQ::audibleChannels(muted, soloed), doc->speakerMask());
        double expected[2] = {0, 0};
        for (int ch = 0; ch < c.channels; ++ch)
            for (int o = 0; o < 2; ++o)
                if (mix.gain[o][ch] != 0.0) expected[o] += mix.gain[o][ch] * 1.0 * ((ch + 1) / 32.0);
        if (c.exact) {
            // Unchanged: one channel on both sides, or two on left and right.
            const int first = c.soloed.empty() ? 2 : c.soloed[0];
            EXPECT_EQ(expected[0], (first + 1) / 32.0);
            EXPECT_EQ(expected[1],
                      c.soloed.size() == 2 ? (c.soloed[1] + 1) / 32.0 : (c.soloed.empty() ? 4 : first + 1) / 32.0);
        }
        EXPECT_LE(std::max(expected[0], expected[1]), 1.0);
        long sounding = 0;
        for (std::size_t k = 0; k < data.size() / 2; ++k) {
            if (data[2 * k] == 0.0f && data[2 * k + 1] == 0.0f) continue;
            ++sounding;
            ASSERT_EQ(data[2 * k], static_cast<float>(expected[0])) << c.channels << " channels, frame " << k;
            ASSERT_EQ(data[2 * k + 1], static_cast<float>(expected[1])) << c.channels << " channels, frame " << k;
        }
        EXPECT_EQ(sounding, n) << c.channels << " channels: every frame, once";
    }
}

TEST_F(Engine, ADeviceThatRefusesTheRateGetsItConvertedAtThePitchAndLength) {
    // A 44.1 kHz file on an output that plays 48 kHz only.
    const int rate = 44100, n = rate; // one second of 441 Hz
    const std::string path = dir.file("cd.wav"), out = dir.file("converted.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, rate, n, [](int, long k) {
        return 0.5 * std::sin(2.0 * M_PI * 441.0 * static_cast<double>(k) / 44100.0);
    }));
    Ref<ZQAudioFileDocument> doc = open(path, out + "@48000");
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    ASSERT_TRUE(playedToTheEnd(doc.get()));
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(2ull));
    ASSERT_TRUE(stream->waitUntilPlayed(5));
    double deviceRate = 0;
    std::uint32_t size = sizeof deviceRate;
    ASSERT_EQ(
        stream->audioQueue()->getProperty(platform::audio::kAudioQueueDeviceProperty_SampleRate, &deviceRate, &size),
        0);
    EXPECT_EQ(deviceRate, 48000.0);
    spinFor(200); // the converter's last few milliseconds
    PlayedSound played = readCapture(out);
    ASSERT_EQ(played.rate, 48000);
    long first = -1, last = -1, crossings = 0, firstCrossing = -1, lastCrossing = -1;
    for (long i = 0; i < static_cast<long>(played.frames()); ++i)
        if (std::fabs(played.at(i, 0)) > 1e-3f) {
            if (first < 0) first = i;
            last = i;
        }
    ASSERT_GE(first, 0) << "nothing was played";
    for (long i = first + 1; i < last - 64; ++i)
        if (played.at(i - 1, 0) < 0.0f && played.at(i, 0) >= 0.0f) {
            if (firstCrossing < 0) firstCrossing = i;
            lastCrossing = i;
            ++crossings;
        }
    // One second at 48 kHz (within the converter's few milliseconds of
    // filter), and 441 cycles a second in it.
    EXPECT_NEAR(static_cast<double>(last - first + 1), 48000.0, 48.0 * 3);
    const double seconds = static_cast<double>(lastCrossing - firstCrossing) / 48000.0;
    EXPECT_NEAR(static_cast<double>(crossings - 1) / seconds, 441.0, 0.2);
    // At its level: the peaks stay at 0.5.
    double peak = 0;
    for (long i = first + 480; i < last - 480; ++i)
        peak = std::max(peak, std::fabs(static_cast<double>(played.at(i, 0))));
    EXPECT_NEAR(peak, 0.5, 0.005);
}

TEST_F(Engine, AnIdleDeviceRestsAndTheNextPlayIsHeardWhole) {
    const std::string path = dir.file("again.wav"), out = dir.file("again-out.wav");
    const long n = 4000;
    const int rate = 16000;
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate, n, counting));
    Ref<ZQAudioFileDocument> doc = open(path, out);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    t->perform_Play(nullptr);
    ASSERT_TRUE(playedToTheEnd(doc.get()));
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(1ull));
    // Half a second after the sound the device rests.
    ASSERT_TRUE(waitUntil([&] { return stream->audioQueue()->isResting(); }, 3000));
    EXPECT_FALSE(stream->audioQueue()->isRunning());
    t->perform_GotoStart(nullptr);
    t->perform_Play(nullptr);
    ASSERT_TRUE(playedToTheEnd(doc.get()));
    ASSERT_TRUE(stream->waitUntilPlayed(5));
    EXPECT_EQ(stream->underruns(), 0u);
    // Both plays, whole, one after the other.
    int channels = 0;
    std::vector<float> data = capture(out, channels);
    std::vector<float> sounding;
    for (float v : data)
        if (v != 0.0f) sounding.push_back(v);
    ASSERT_EQ(static_cast<long>(sounding.size()), 2 * n);
    for (long k = 0; k < 2 * n; ++k)
        ASSERT_EQ(sounding[k], static_cast<float>(counting(0, k % n))) << k;
}

// Frame k of channel c: (c + 1)(k + 1) / 2^24, negative on odd channels;
// exact in float, and every frame of every channel differs.
double tagged(int c, long k) {
    return (c % 2 ? -1.0 : 1.0) * static_cast<double>((c + 1) * (k + 1)) / 16777216.0;
}

// What frames first ... last of a `channels`-channel document of `tagged`
// sound like on its stream, summed as the source sums them, one after the
// other `passes` times.
std::vector<float> heard(ZQAudioFileDocument* doc, int channels, long first, long last, int passes) {
    const unsigned outputs = channels == 1 ? 1 : 2;
    const ZQ::ChannelMix mix = ZQ::makeChannelMix(static_cast<unsigned>(channels), outputs,
                                                  std::vector<bool>(channels, true), doc->speakerMask());
    std::vector<float> one;
    for (long k = first; k <= last; ++k)
        for (unsigned o = 0; o < outputs; ++o) {
            double v = 0;
            for (int c = 0; c < channels; ++c)
                if (mix.gain[o][c] != 0.0) v += mix.gain[o][c] * 1.0 * tagged(c, k);
            one.push_back(static_cast<float>(v));
        }
    std::vector<float> all;
    for (int p = 0; p < passes; ++p)
        all.insert(all.end(), one.begin(), one.end());
    return all;
}

// How many samples of `expected` the capture holds, in order, from its first
// sound on (stops at the first that differs).
std::size_t matchingFromFirstSound(const std::vector<float>& data, const std::vector<float>& expected) {
    std::size_t first = 0;
    while (first < data.size() && data[first] == 0.0f)
        ++first;
    std::size_t n = 0;
    while (n < expected.size() && first + n < data.size() && data[first + n] == expected[n])
        ++n;
    return n;
}

// Nothing but silence in the capture after its first sound plus `n` samples.
bool silentAfter(const std::vector<float>& data, std::size_t n) {
    std::size_t first = 0;
    while (first < data.size() && data[first] == 0.0f)
        ++first;
    for (std::size_t i = first + n; i < data.size(); ++i)
        if (data[i] != 0.0f) return false;
    return true;
}

TEST_F(Engine, AFileOfMoreThanTwoToTheThirtyTwoFramesPlaysItsLastFramesExactlyAtOnce) {
    // Four billion frames and more of stereo (16 GB, sparse: no disk), its
    // last tenth of a second counting; read from the file, never held.
    const std::uint64_t frames = (std::uint64_t(1) << 32) + 4410;
    std::vector<std::int32_t> tail;
    for (int k = 0; k < 4410; ++k)
        tail.push_back(k + 1), tail.push_back(-(k + 1));
    const std::string path = dir.file("day.wav"), out = dir.file("day-out.wav");
    ASSERT_TRUE(writeSparseRf64(path, 2, 41000, frames, tail)); // a rate no other test's stream has
    Ref<ZQAudioFileDocument> doc = open(path, out);
    ASSERT_EQ(doc->sampleCount(0).v_, frames);
    const auto t0 = std::chrono::steady_clock::now();
    doc->playSelection(frames - 4410, frames - 1);
    ASSERT_TRUE(playedToTheEnd(doc.get()));
    // Heard at once: the summary still being built far behind is no matter.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 5.0);
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(41000, ZQ::Num::Count(2ull));
    ASSERT_TRUE(stream->waitUntilPlayed(5));
    int channels = 0;
    const std::vector<float> data = capture(out, channels);
    ASSERT_EQ(channels, 2);
    const std::size_t played = data.size() / 2;
    std::size_t first = 0;
    while (first < played && data[first * 2] == 0.0f)
        ++first;
    ASSERT_GE(played - first, 4410u) << "the last frames were not all heard";
    for (std::size_t k = 0; k < 4410; ++k) {
        ASSERT_EQ(data[(first + k) * 2], float(k + 1) / 32768.0f) << k;
        ASSERT_EQ(data[(first + k) * 2 + 1], -float(k + 1) / 32768.0f) << k;
    }
    EXPECT_EQ(doc->presentPlaybackPosition(), frames - 4410); // back at the selection's start
}

TEST_F(Engine, PlaySelectionHearsExactlyTheSelectedFramesAndReturnsToTheirStart) {
    int rate = 9100;
    for (int channels : {1, 2, 3, 6, 16}) {
        for (bool point : {false, true}) {
            ++rate;
            const long n = 8000, first = point ? 6000 : 1234, last = point ? n - 1 : 5678;
            const std::string name = std::to_string(channels) + "-" + std::to_string(rate);
            const std::string path = dir.file("s" + name + ".wav"), out = dir.file("sel" + name + ".wav");
            ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, rate, n, tagged));
            Ref<ZQAudioFileDocument> doc = open(path, out);
            // A selection point plays from there to the end; a selection
            // exactly its frames.
            doc->playSelection(static_cast<std::uint64_t>(first), point ? first : last);
            ASSERT_TRUE(playedToTheEnd(doc.get())) << name;
            ZQ::AudioStream::OutputStream* stream =
                ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(channels == 1 ? 1ull : 2ull));
            ASSERT_TRUE(stream->waitUntilPlayed(5));
            int got = 0;
            const std::vector<float> data = capture(out, got);
            const std::vector<float> expected = heard(doc.get(), channels, first, last, 1);
            EXPECT_EQ(matchingFromFirstSound(data, expected), expected.size()) << name;
            EXPECT_TRUE(silentAfter(data, expected.size())) << name << ": not one frame more";
            // A selection leaves the position where it began; the end of the
            // file leaves it at the end.
            EXPECT_EQ(doc->presentPlaybackPosition(), point ? static_cast<std::uint64_t>(n) : first) << name;
        }
    }
}

TEST_F(Engine, LoopRepeatsTheSelectionSampleExactAtEverySeamAndLoopOffEndsThePass) {
    int rate = 9200;
    for (int channels : {1, 2, 6, 16}) {
        for (bool turnOff : {false, true}) {
            ++rate;
            const long n = 6000, first = 1000, last = 2999; // a quarter second or so a pass
            const std::string name = std::to_string(channels) + "-" + std::to_string(rate);
            const std::string path = dir.file("l" + name + ".wav"), out = dir.file("loop" + name + ".wav");
            ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, rate, n, tagged));
            Ref<ZQAudioFileDocument> doc = open(path, out);
            ZQ::AudioFileDocumentOutputSource* source =
                doc->outputSourceController() ? doc->outputSourceController()->audioFileDocumentOutputSource()
                                              : nullptr;
            ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(true);
            doc->playSelection(first, last);
            source = doc->outputSourceController()->audioFileDocumentOutputSource();
            ASSERT_NE(source, nullptr);
            ZQ::AudioStream::OutputStream* stream =
                ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(channels == 1 ? 1ull : 2ull));
            const long pass = last - first + 1;
            const std::size_t width = channels == 1 ? 1 : 2;
            if (!turnOff) {
                // Three seams, then Stop: three whole passes back to back.
                ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= 3; }, 20000)) << name;
                EXPECT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
                doc->audioFileDocumentTransportController()->perform_Stop(nullptr);
                ASSERT_TRUE(stream->waitUntilPlayed(5));
                int got = 0;
                const std::vector<float> data = capture(out, got);
                const std::vector<float> expected = heard(doc.get(), channels, first, last, 3);
                EXPECT_EQ(matchingFromFirstSound(data, expected), expected.size()) << name;
                // After them, only the fourth pass's start and the Stop's fade.
                const long fade = static_cast<long>(ZQ::AudioFileDocumentOutputSource::fadeFrames(rate));
                const std::size_t played = 3 * pass * width;
                std::size_t after = 0;
                while (!silentAfter(data, played + after))
                    ++after;
                EXPECT_LE(after, static_cast<std::size_t>(pass * width)) << name;
                EXPECT_GE(after, static_cast<std::size_t>(fade * static_cast<long>(width))) << name;
            } else {
                // Loop off during a later pass: that pass ends whole, and the
                // sound ends with it, back at the selection's start.
                ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= 1; }, 20000)) << name;
                ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(false);
                ASSERT_TRUE(playedToTheEnd(doc.get())) << name;
                ASSERT_TRUE(stream->waitUntilPlayed(5));
                const auto passes = static_cast<int>(source->loopPasses()) + 1;
                EXPECT_GE(passes, 2);
                int got = 0;
                const std::vector<float> data = capture(out, got);
                const std::vector<float> expected = heard(doc.get(), channels, first, last, passes);
                EXPECT_EQ(matchingFromFirstSound(data, expected), expected.size()) << name;
                EXPECT_TRUE(silentAfter(data, expected.size())) << name;
                EXPECT_EQ(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(first)) << name;
            }
        }
    }
}

TEST_F(Engine, TheShortestRangesPlayAndLoopExactly) {
    // A file of one frame: Play Selection from its only frame plays it.
    {
        const int rate = 9301;
        const std::string path = dir.file("one.wav"), out = dir.file("one-out.wav");
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, rate, 1, tagged));
        Ref<ZQAudioFileDocument> doc = open(path, out);
        doc->playSelection(0, 0);
        ASSERT_TRUE(playedToTheEnd(doc.get()));
        ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(2ull));
        ASSERT_TRUE(stream->waitUntilPlayed(5));
        int got = 0;
        const std::vector<float> data = capture(out, got);
        const std::vector<float> expected = heard(doc.get(), 2, 0, 0, 1);
        EXPECT_EQ(matchingFromFirstSound(data, expected), expected.size());
        EXPECT_TRUE(silentAfter(data, expected.size()));
    }
    // A selection of two frames, looped: every other frame is a seam.
    {
        const int rate = 9302;
        const std::string path = dir.file("two.wav"), out = dir.file("two-out.wav");
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate, 100, tagged));
        Ref<ZQAudioFileDocument> doc = open(path, out);
        ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(true);
        doc->playSelection(50, 51);
        ZQ::AudioFileDocumentOutputSource* source = doc->outputSourceController()->audioFileDocumentOutputSource();
        ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= 1000; }, 20000));
        doc->audioFileDocumentTransportController()->perform_Stop(nullptr);
        ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(1ull));
        ASSERT_TRUE(stream->waitUntilPlayed(5));
        int got = 0;
        const std::vector<float> data = capture(out, got);
        const std::vector<float> expected = heard(doc.get(), 1, 50, 51, 1000);
        EXPECT_EQ(matchingFromFirstSound(data, expected), expected.size());
    }
}

TEST_F(Engine, PlaySelectionWhilePlayingGoesThereAndAPauseInALoopKeepsLooping) {
    const int rate = 9401;
    const long n = 4 * rate, first = 2 * rate, last = first + rate / 4 - 1;
    const std::string path = dir.file("moving.wav"), out = dir.file("moving-out.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate, n, tagged));
    Ref<ZQAudioFileDocument> doc = open(path, out);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    t->perform_Play(nullptr);
    ASSERT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() > static_cast<std::uint64_t>(rate / 10); }));
    // While the file plays: Play Selection goes to the selection at once,
    // and with Loop on it stays there.
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(true);
    doc->playSelection(first, last);
    ZQ::AudioFileDocumentOutputSource* source = doc->outputSourceController()->audioFileDocumentOutputSource();
    ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= 2; }, 10000));
    auto inside = [&] {
        const std::uint64_t at = doc->presentPlaybackPosition();
        return at >= static_cast<std::uint64_t>(first) && at <= static_cast<std::uint64_t>(last + 1);
    };
    EXPECT_TRUE(inside()) << doc->presentPlaybackPosition();
    // A pause and a resume inside the loop: it goes on looping.
    t->perform_Pause(nullptr);
    const std::uint64_t passes = source->loopPasses();
    spinFor(300);
    EXPECT_EQ(source->loopPasses(), passes);
    EXPECT_TRUE(inside()) << doc->presentPlaybackPosition();
    t->perform_Pause(nullptr);
    ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= passes + 2; }, 10000));
    EXPECT_TRUE(inside()) << doc->presentPlaybackPosition();
    // Loop off: the pass ends and the position is back at the selection's start.
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(false);
    ASSERT_TRUE(playedToTheEnd(doc.get()));
    EXPECT_EQ(doc->presentPlaybackPosition(), static_cast<std::uint64_t>(first));
}

TEST_F(Engine, PlayWithLoopAndNoSelectionHearsTheWholeFileTwice) {
    const int rate = 16001;
    const long n = 2 * rate;
    const std::string path = dir.file("w.wav"), out = dir.file("whole.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, rate, n, tagged));
    Ref<ZQAudioFileDocument> doc = open(path, out);
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(true);
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    ZQ::AudioFileDocumentOutputSource* source = doc->outputSourceController()->audioFileDocumentOutputSource();
    ASSERT_TRUE(waitUntil([&] { return source->loopPasses() >= 1; }, 20000));
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(false);
    ASSERT_TRUE(playedToTheEnd(doc.get()));
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(rate, ZQ::Num::Count(2ull));
    ASSERT_TRUE(stream->waitUntilPlayed(5));
    EXPECT_EQ(source->loopPasses(), 1u);
    int got = 0;
    const std::vector<float> data = capture(out, got);
    const std::vector<float> expected = heard(doc.get(), 2, 0, n - 1, 2);
    EXPECT_EQ(matchingFromFirstSound(data, expected), expected.size());
    EXPECT_TRUE(silentAfter(data, expected.size()));
}

TEST_F(Engine, TheMetersReadWhatTheDocumentSendsAfterMuteAndLightTheLampAtFullScale) {
    const int rate = 23001;
    // A -6 dBFS sine on the left, a -20 dBFS one on the right.
    const double left = std::pow(10.0, -6.0 / 20.0), right = 0.1;
    const std::string path = dir.file("sine.wav"), out = dir.file("sine-out.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, rate, 30L * rate, [&](int c, long k) {
        return (c ? right : left) * std::sin(2 * 3.14159265358979323846 * 1000.0 * double(k) / rate);
    }));
    Ref<ZQAudioFileDocument> doc = open(path, out);
    ZQAudioFileDocumentTransportController* t = doc->audioFileDocumentTransportController();
    t->perform_Play(nullptr);
    const ZQ::LevelMeter* meter = doc->outputSourceController()->levelMeter();
    ASSERT_NE(meter, nullptr);
    ASSERT_TRUE(waitUntil([&] { return meter->framesMeasured() >= static_cast<std::uint64_t>(rate); }, 20000));
    EXPECT_TRUE(meter->isActive());
    EXPECT_NEAR(meter->peakDb(0), -6.0, 0.1);
    EXPECT_NEAR(meter->rmsDb(0), -9.0, 0.1);
    EXPECT_NEAR(meter->peakDb(1), -20.0, 0.1);
    EXPECT_NEAR(meter->rmsDb(1), -23.0, 0.1);
    EXPECT_FALSE(meter->clipped(0));
    t->perform_Stop(nullptr);
    EXPECT_FALSE(meter->isActive());
    // The left muted: the right alone goes to both sides, and both meters
    // read it.
    doc->setChannelMuted(0, true);
    t->perform_Play(nullptr);
    ASSERT_TRUE(waitUntil([&] { return meter->framesMeasured() >= static_cast<std::uint64_t>(rate); }, 20000));
    for (unsigned c = 0; c < 2; ++c) {
        EXPECT_NEAR(meter->peakDb(c), -20.0, 0.1) << c;
        EXPECT_NEAR(meter->rmsDb(c), -23.0, 0.1) << c;
    }
    t->perform_Stop(nullptr);

    // One full-scale sample in a quiet file lights the left lamp only.
    const std::string loud = dir.file("loud.wav"), loudOut = dir.file("loud-out.wav");
    ASSERT_TRUE(writeFixture(loud, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 23002, 4000,
                             [](int c, long k) { return c == 0 && k == 2000 ? -1.0 : 0.01; }));
    Ref<ZQAudioFileDocument> other = open(loud, loudOut);
    other->audioFileDocumentTransportController()->perform_Play(nullptr);
    ASSERT_TRUE(playedToTheEnd(other.get()));
    const ZQ::LevelMeter* otherMeter = other->outputSourceController()->levelMeter();
    EXPECT_TRUE(otherMeter->clipped(0));
    EXPECT_FALSE(otherMeter->clipped(1));
    EXPECT_FALSE(otherMeter->isActive());
}

TEST_F(Engine, StreamsAreSharedByRateKeyAndChannelCount) {
    using ZQ::AudioStream::OutputStream;
    OutputStream* a = ZQAudioStreamOutputStreamController::getOutputStream(
        std::make_unique<ZQ::sample_rate>(30000.0).get(), std::make_unique<ZQ::Num::Count>(2ull).get());
    ZQ::sample_rate same(30000.00004), apart(30000.0001);
    ZQ::Num::Count two(2ull), one(1ull);
    EXPECT_EQ(ZQAudioStreamOutputStreamController::getOutputStream(&same, &two), a);
    EXPECT_NE(ZQAudioStreamOutputStreamController::getOutputStream(&apart, &two), a);
    EXPECT_NE(ZQAudioStreamOutputStreamController::getOutputStream(&same, &one), a);
    EXPECT_TRUE(ZQAudioStreamOutputStreamController::hasControllerThread());
    EXPECT_EQ(ZQASThread::initIdentifierString(30000.0, two), "ZQASThread:300000000|2");
    EXPECT_EQ(ZQASThread::initIdentifierString(7999.0, two), "ZQASThread:0|2");
    ZQ::sample_rate tooLow(7999.0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ZQAudioStreamOutputStreamController::getOutputStream(&tooLow, &two), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid sample rate: 7999.000000\n");
}

TEST_F(Engine, CancellingAStreamThreadClosesItsStreamBeforeReturning) {
    // A stream of its own rate, started by a source, then cancelled from here.
    const std::string path = dir.file("c.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 11025, 50000, counting));
    Ref<ZQAudioFileDocument> doc = open(path, dir.file("cancel.wav"));
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(11025, ZQ::Num::Count(1ull));
    ASSERT_TRUE(waitUntil([&] { return stream->isStarted(); }));
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    ZQASThread* thread = stream->streamThread();
    ASSERT_NE(thread, nullptr);
    Ref<ZQASThread> held = Ref<ZQASThread>::retain(thread);
    EXPECT_FALSE(held->shouldTerminate());
    held->cancel(); // waits for the thread to close its stream
    EXPECT_TRUE(held->shouldTerminate());
    EXPECT_EQ(doc->audioFileDocumentOutputSource()->stream(), nullptr); // its source was let go
    held->performExit();                                                // again: nothing left to do
    held->waitUntilFinished();
    EXPECT_TRUE(held->isFinished());
    // The document still stops cleanly.
    doc->audioFileDocumentTransportController()->perform_Stop(nullptr);
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
}

TEST_F(Engine, ANeverStartedThreadIsNotWaitedFor) {
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(12345, ZQ::Num::Count(2ull));
    ASSERT_NE(stream, nullptr);
    Ref<ZQASThread> thread = Ref<ZQASThread>::retain(stream->streamThread());
    EXPECT_FALSE(thread->hasStarted());
    thread->applicationWillTerminate(); // would hang if it waited for the thread
    EXPECT_TRUE(thread->shouldTerminate());
}

TEST_F(Engine, ZqplayPlaysAFileSampleExactlyThroughTheCaptureOutput) {
    const std::string path = dir.file("tool.wav"), out = dir.file("tool-out.wav");
    const long n = 30000;
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, n, counting));
    const std::string command = "ZQ_AUDIO_OUTPUT=capture:'" + out + "' " ZQ_ZQPLAY " '" + path + "' > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int channels = 0;
    std::vector<float> data = capture(out, channels);
    ASSERT_EQ(channels, 2);
    expectPlayedExactly(data, channels, n);
}

TEST_F(Engine, ZqplayPlaysThroughTheClockOrSaysWhyNoOutputCouldBeOpened) {
    const std::string path = dir.file("quiet.wav"), log = dir.file("log.txt");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 8000)); // one second
    auto read = [&] {
        std::ifstream in(log);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    };
    // The null output takes the second in real time, with nothing to hear it.
    const auto start = std::chrono::steady_clock::now();
    std::string command = "ZQ_AUDIO_OUTPUT=null " ZQ_ZQPLAY " '" + path + "' > '" + log + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 1.0);
    EXPECT_EQ(read(), ""); // the termination's line only with --verbose
    command = "ZQ_AUDIO_OUTPUT=null " ZQ_ZQPLAY " --verbose '" + path + "' > '" + log + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read(), ".suoqe.\n");

    // The default output where no sound server answers: the reason, exit 1,
    // at once rather than a silent wait. (A machine with a sound card of its
    // own plays the second instead.)
    command = "env -u ZQ_AUDIO_OUTPUT PULSE_SERVER=unix:" + dir.file("no-server") + " " ZQ_ZQPLAY " '" + path +
              "' > '" + log + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string text = read();
    if (status != 0) {
        EXPECT_EQ(WEXITSTATUS(status), 1) << text;
        // The alert's title, then the reason on a line of its own.
        const std::size_t title = text.find("No audio output is available.\n");
        ASSERT_NE(title, std::string::npos) << text;
        const std::size_t reasonEnd = text.find('\n', title + 30);
        EXPECT_GT(reasonEnd, title + 31) << text;
    } else {
        EXPECT_EQ(text, "");
    }

    ASSERT_NE(std::system((std::string(ZQ_ZQPLAY) + " /nonexistent.wav > /dev/null 2>&1").c_str()), 0);
    // Help is help, not a file; a channel the file lacks leaves no capture behind.
    command = std::string(ZQ_ZQPLAY) + " --help > '" + log + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read().rfind("usage: zqplay", 0), 0u) << read();
    const std::string capture = dir.file("never.wav");
    command =
        "ZQ_AUDIO_OUTPUT=capture:'" + capture + "' " ZQ_ZQPLAY " --channels 2 '" + path + "' > '" + log + "' 2>&1";
    const int refused = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(refused), 2);
    EXPECT_NE(read().find("has 1 channels; there is no channel 2"), std::string::npos) << read();
    EXPECT_FALSE(std::ifstream(capture).good());
    // An output that cannot be opened ends the tool with a failure, not a wait.
    const std::string unwritable = "ZQ_AUDIO_OUTPUT=capture:" + dir.file("no/such/folder/x.wav") + " " ZQ_ZQPLAY " '" +
                                   path + "' > /dev/null 2>&1";
    EXPECT_NE(std::system(unwritable.c_str()), 0);
}

// Last: termination is once per process.
TEST_F(Engine, TerminationWhileOneFileOpensAndAnotherPlays) {
    const std::string playing = dir.file("playing.wav"), opening = dir.file("opening.wav");
    ASSERT_TRUE(writeFixture(playing, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 44100 * 5, counting));
    ASSERT_TRUE(writeFixture(opening, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100 * 60));
    Ref<ZQAudioFileDocument> doc = open(playing, dir.file("term.wav"));
    doc->audioFileDocumentTransportController()->perform_Play(nullptr);
    ZQ::AudioStream::OutputStream* stream = ZQ::AudioStream::OutputStream::findOrCreate(44100, ZQ::Num::Count(2ull));
    Ref<ZQASThread> thread = Ref<ZQASThread>::retain(stream->streamThread());
    ASSERT_TRUE(ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(opening, nullptr));
    testing::internal::CaptureStdout();
    ZQ::terminateApplication();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(".suoqe.\n"), std::string::npos);
    EXPECT_EQ(ZQ::AudioStream::OutputStream::registrySize(), 0u);
    EXPECT_TRUE(ZQAudioStreamOutputStreamController::shouldTerminate());
    EXPECT_FALSE(ZQAudioStreamOutputStreamController::hasControllerThread());
    EXPECT_TRUE(thread->shouldTerminate()); // the notification closed its stream
    thread->waitUntilFinished();
    EXPECT_TRUE(thread->isFinished());
    EXPECT_EQ(doc->audioFileDocumentOutputSource()->stream(), nullptr);
    // No stream is handed out any more; the transport still answers.
    ZQ::sample_rate rate(44100);
    ZQ::Num::Count two(2ull);
    EXPECT_EQ(ZQAudioStreamOutputStreamController::getOutputStream(&rate, &two), nullptr);
    doc->audioFileDocumentTransportController()->perform_Stop(nullptr);
    // The open that ended during termination hands its document to the main
    // thread; it is closed like any other, so its workers are joined.
    spinFor(50);
    for (auto& d : ZQDocumentController::sharedDocumentController().documents())
        if (auto* opened = dynamic_cast<ZQAudioFileDocument*>(d.get()))
            opened->close();
        else
            ZQDocumentController::sharedDocumentController().removeDocument(d.get());
    spinFor(20);
}
