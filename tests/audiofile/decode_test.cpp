// The chunked, two-worker decode: every encoding and every boundary decodes
// to exactly the values a plain libsndfile float read gives; progress rises
// to the end; a cancel or a refusal leaves nothing behind.
#include "OpenedStore.h"
#include "audiofile/AudioFileReader.h"
#include "core/allocator.h"
#include "support/Fixtures.h"

#include <atomic>
#include <cstring>
#include <sndfile.h>
#include <thread>
#include <vector>

using namespace testsupport;
using ZQ::AudioFileDocumentSampleData;
using ZQ::DecodeControl;

namespace {

// Values over the whole range, different in every channel and frame.
double noise(int c, long k) {
    std::uint32_t x = std::uint32_t(k) * 2654435761u ^ std::uint32_t(c + 1) * 40503u;
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    return (double(x % 65536) - 32768.0) / 32768.0;
}

// What libsndfile itself decodes: the whole file as interleaved float.
std::vector<float> plainFloatRead(const std::string& path, int& channels) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> all(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    all.resize(static_cast<size_t>(got * info.channels));
    channels = info.channels;
    return all;
}

// Reads the file with `workers` and compares every kept sample, bit for bit,
// with the plain read; returns the workers the decode used.
int expectIdenticalToPlainRead(const std::string& path, int workers, const std::string& what) {
    int channels = 0;
    const std::vector<float> plain = plainFloatRead(path, channels);
    EXPECT_GT(channels, 0) << what;
    if (channels == 0) return 0;
    const std::size_t frames = plain.size() / std::size_t(channels);
    ZQ::auto_ptr<AudioFileDocumentSampleData> store;
    store.make();
    DecodeControl control;
    control.workers = workers;
    Captured m = capture([&] { EXPECT_TRUE(store->read(fileURL(path).get(), &control)) << what; });
    EXPECT_EQ(m.out + m.err, "") << what;
    const int kept = std::min(channels, 16);
    EXPECT_EQ(store->channelCount(), kept) << what;
    for (int c = 0; c < kept && store->isLoaded(); ++c) {
        EXPECT_EQ(store->channelSampleCount(c).v_, frames) << what;
        if (store->channelSampleCount(c).v_ != frames) return control.workersUsed;
        const double* p = store->channelSamples(c);
        for (std::size_t k = 0; k < frames; ++k) {
            const double expected = static_cast<double>(plain[k * std::size_t(channels) + std::size_t(c)]);
            if (std::memcmp(&p[k], &expected, sizeof expected) != 0) {
                ADD_FAILURE() << what << ": channel " << c << " frame " << k << " is " << p[k] << ", not " << expected;
                return control.workersUsed;
            }
        }
    }
    EXPECT_EQ(control.fraction(), 1.0) << what;
    return control.workersUsed;
}

} // namespace

TEST(ChunkedDecode, EveryEncodingDecodesExactlyAsAPlainFloatRead) {
    TempDir dir;
    struct Case {
        const char* name;
        int format;
        bool seekable; // plain PCM or float: two workers
    } cases[] = {
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, true},  {"s8.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, true},
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true}, {"s24.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, true},
        {"s32.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_32, true}, {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, true},
        {"s16.sd2", SF_FORMAT_SD2 | SF_FORMAT_PCM_16, true}, {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, false},
        {"ulaw.caf", SF_FORMAT_CAF | SF_FORMAT_ULAW, false}, {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, false},
    };
    const long frames = 3 * long(ZQ::kDecodeChunkFrames) + 17;
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, 2, 44100, frames, noise)) << c.name;
        EXPECT_EQ(expectIdenticalToPlainRead(path, 1, c.name), 1) << c.name;
        EXPECT_EQ(expectIdenticalToPlainRead(path, 2, c.name), c.seekable ? 2 : 1) << c.name;
    }
}

TEST(ChunkedDecode, LengthsAroundTheChunkAndTheSplitPointDecodeExactly) {
    TempDir dir;
    const long k = ZQ::kDecodeChunkFrames;
    // The two workers split at frames / 2: 2k and 4k put the split on a chunk
    // boundary, the neighbours one frame either side of it.
    for (long frames : {1L, 2L, 3L, k - 1, k, k + 1, 2 * k - 1, 2 * k, 2 * k + 1, 4 * k - 1, 4 * k, 4 * k + 1}) {
        for (int channels : {1, 3}) {
            const std::string what = std::to_string(frames) + " frames, " + std::to_string(channels) + " channels";
            const std::string path = dir.file("n" + std::to_string(frames) + "c" + std::to_string(channels) + ".wav");
            ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, channels, 48000, frames, noise));
            EXPECT_EQ(expectIdenticalToPlainRead(path, 1, what), 1);
            EXPECT_EQ(expectIdenticalToPlainRead(path, 2, what), frames >= 2 ? 2 : 1);
        }
    }
}

TEST(ChunkedDecode, ManyChannelsDecodeInSmallerChunksAndLongFilesUseBothCores) {
    EXPECT_EQ(ZQ::decodeChunkFrames(2), ZQ::kDecodeChunkFrames);
    EXPECT_LE(ZQ::decodeChunkFrames(300) * 300u * 4u, 1u << 20); // a chunk stays within a megabyte
    TempDir dir;
    const std::string wide = dir.file("wide.wav");
    ASSERT_TRUE(
        writeFixture(wide, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 300, 44100, 2 * ZQ::decodeChunkFrames(300) + 5, noise));
    EXPECT_EQ(expectIdenticalToPlainRead(wide, 2, "300 channels"), 2);

    // The reader's own choice: one worker below the threshold, two from it on.
    const auto threshold = static_cast<long>(ZQ::kTwoWorkerMinFrames);
    const std::string shorter = dir.file("shorter.wav"), longer = dir.file("longer.wav");
    ASSERT_TRUE(writeFixture(shorter, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, threshold - 1, noise));
    ASSERT_TRUE(writeFixture(longer, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, threshold, noise));
    EXPECT_EQ(expectIdenticalToPlainRead(shorter, 0, "below the threshold"), 1);
    EXPECT_EQ(expectIdenticalToPlainRead(longer, 0, "at the threshold"), 2);
}

TEST(ChunkedDecode, ProgressRisesMonotonicallyToTheEnd) {
    TempDir dir;
    const std::string path = dir.file("long.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 60 * 44100, noise));
    for (int workers : {1, 2}) {
        ZQ::auto_ptr<AudioFileDocumentSampleData> store;
        store.make();
        DecodeControl control;
        control.workers = workers;
        std::atomic<bool> done{false};
        std::vector<double> seen;
        std::thread watcher([&] {
            while (!done.load())
                seen.push_back(control.fraction());
        });
        EXPECT_TRUE(store->read(fileURL(path).get(), &control));
        done.store(true);
        watcher.join();
        seen.push_back(control.fraction());
        ASSERT_GE(seen.size(), 2u);
        for (std::size_t i = 1; i < seen.size(); ++i)
            ASSERT_GE(seen[i], seen[i - 1]) << "workers " << workers << ", sample " << i;
        EXPECT_GE(seen.front(), 0.0);
        EXPECT_EQ(seen.back(), 1.0);
        EXPECT_EQ(control.framesDone.load(), control.framesTotal.load());
    }
}

TEST(ChunkedDecode, ACancelMidDecodeFreesEverythingQuietlyAndTheStoreReadsAgain) {
    TempDir dir;
    const std::string path = dir.file("long.wav"), next = dir.file("next.wav");
    const long frames = 5 * 60 * 44100;
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, frames, noise));
    ASSERT_TRUE(writeFixture(next, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1000));
    for (int workers : {1, 2}) {
        ZQ::auto_ptr<AudioFileDocumentSampleData> store;
        store.make();
        const std::size_t before = ZQ::registry().liveCount();
        DecodeControl control;
        control.workers = workers;
        std::thread canceller([&] {
            while (control.framesDone.load() == 0) // under way, not yet done
                std::this_thread::yield();
            control.cancel();
        });
        bool ok = true;
        Captured m = capture([&] { ok = store->read(fileURL(path).get(), &control); });
        canceller.join();
        EXPECT_FALSE(ok);
        EXPECT_TRUE(control.cancelled);
        EXPECT_LT(control.framesDone.load(), std::uint64_t(frames)) << "the decode ran to the end";
        EXPECT_EQ(m.out + m.err, "") << "a cancel is no failure";
        EXPECT_FALSE(store->isLoaded());
        EXPECT_TRUE(store->channel(0).isEmpty());
        EXPECT_TRUE(store->channel(1).isEmpty());
        EXPECT_EQ(ZQ::registry().liveCount(), before) << "the decode's blocks were not all given back";

        ASSERT_TRUE(store->read(fileURL(next).get()));
        EXPECT_EQ(store->channelSampleCount(1).v_, 1000u);
    }
}

TEST(ChunkedDecode, AFileThatCannotFitIsRefusedBeforeAnythingIsAllocated) {
    TempDir dir;
    const std::string path = dir.file("big.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1 << 20));
    struct Restore {
        ~Restore() { ZQ::setAvailableMemoryForTesting(0); }
    } restore;
    ZQ::setAvailableMemoryForTesting(3'000'000);
    ZQ::auto_ptr<AudioFileDocumentSampleData> store;
    store.make();
    const std::size_t before = ZQ::registry().liveCount();
    DecodeControl control;
    bool ok = true;
    Captured m = capture([&] { ok = store->read(fileURL(path).get(), &control); });
    EXPECT_FALSE(ok);
    EXPECT_FALSE(control.cancelled);
    // 2^20 frames of two channels of doubles: 16.8 MB.
    EXPECT_EQ(control.refusal, "needs 17 MB of memory; 3 MB are available");
    EXPECT_NE(m.err.find("The file needs 17 MB of memory; 3 MB are available\n"), std::string::npos) << m.err;
    EXPECT_EQ(control.framesDone.load(), 0u);
    EXPECT_EQ(ZQ::registry().liveCount(), before);

    // Enough for exactly this file: it opens.
    ZQ::setAvailableMemoryForTesting(std::uint64_t(1 << 20) * 2 * 8);
    EXPECT_TRUE(store->read(fileURL(path).get()));
    EXPECT_EQ(ZQ::memorySizeText(9'300'000'000ull), "9.3 GB");
    ZQ::setAvailableMemoryForTesting(0);
    EXPECT_GT(ZQ::availableMemoryBytes(), std::uint64_t(1 << 20) * 2 * 8); // this machine's own figure
}

TEST(ChunkedDecode, OpensCheckedTogetherAreNotPromisedTheSameMemory) {
    TempDir dir;
    const long frames = 200L * ZQ::kDecodeChunkFrames;
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    ASSERT_TRUE(writeFixture(a, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, frames));
    ASSERT_TRUE(writeFixture(b, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, frames));
    const std::uint64_t oneFile = std::uint64_t(frames) * sizeof(double);
    struct Restore {
        ~Restore() {
            ZQ::setAvailableMemoryForTesting(0);
            ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(0));
        }
    } restore;
    ZQ::setAvailableMemoryForTesting(oneFile * 3 / 2); // room for one and a half
    ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(5000));

    ZQ::auto_ptr<AudioFileDocumentSampleData> first, second;
    first.make();
    second.make();
    DecodeControl firstControl, secondControl;
    firstControl.workers = 1;
    bool firstOk = false;
    std::thread reader([&] { firstOk = first->read(fileURL(a).get(), &firstControl); });
    while (firstControl.framesDone.load() == 0)
        std::this_thread::yield();
    // The first has written little of its promise: the second does not fit beside it.
    EXPECT_LT(firstControl.fraction(), 0.25);
    Captured m = capture([&] { EXPECT_FALSE(second->read(fileURL(b).get(), &secondControl)); });
    EXPECT_EQ(secondControl.refusal.rfind("needs 13 MB of memory; ", 0), 0u) << secondControl.refusal;
    ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(0));
    reader.join();
    EXPECT_TRUE(firstOk);
    // Once the first is done its promise is kept (written), not held twice.
    second.reset();
    second.make();
    ZQ::setAvailableMemoryForTesting(oneFile * 3 / 2);
    EXPECT_TRUE(second->read(fileURL(b).get()));
}
