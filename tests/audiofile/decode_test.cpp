// A file's samples as the document reads them: every encoding and byte
// order read where it lies gives exactly what a plain libsndfile float read
// gives, and so does every codec decoded into the temporary float file;
// progress rises to the end; a cancel or a refusal leaves nothing behind,
// in memory or on disk.
#include "OpenedStore.h"
#include "audiofile/AudioFileReader.h"
#include "core/allocator.h"
#include "support/Fixtures.h"
#include "support/Samples.h"

#include <atomic>
#include <cstring>
#include <dirent.h>
#include <sndfile.h>
#include <thread>
#include <unistd.h>
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

// Opens the file and compares every kept sample, bit for bit, with the
// plain read: whole channels, and frames read a few at a time from odd
// places. Returns whether the samples were decoded (not read in place).
bool expectIdenticalToPlainRead(const std::string& path, const std::string& what) {
    int channels = 0;
    const std::vector<float> plain = plainFloatRead(path, channels);
    EXPECT_GT(channels, 0) << what;
    if (channels == 0) return false;
    const std::size_t frames = plain.size() / std::size_t(channels);
    ZQ::auto_ptr<AudioFileDocumentSampleData> store;
    store.make();
    DecodeControl control;
    Captured m = capture([&] { EXPECT_TRUE(store->read(fileURL(path).get(), &control)) << what; });
    EXPECT_EQ(m.out + m.err, "") << what;
    const int kept = channels;
    EXPECT_EQ(store->channelCount(), kept) << what;
    auto same = [&](double got, std::size_t k, int c) {
        const double expected = static_cast<double>(plain[k * std::size_t(channels) + std::size_t(c)]);
        if (std::memcmp(&got, &expected, sizeof expected) == 0) return true;
        ADD_FAILURE() << what << ": channel " << c << " frame " << k << " is " << got << ", not " << expected;
        return false;
    };
    for (int c = 0; c < kept && store->isLoaded(); ++c) {
        const std::vector<double> p = channelOf(*store, c);
        EXPECT_EQ(p.size(), frames) << what;
        if (p.size() != frames) return control.decoded;
        for (std::size_t k = 0; k < frames; ++k)
            if (!same(p[k], k, c)) return control.decoded;
    }
    // All channels at once, a few frames at a time from odd places.
    const ZQ::SampleSnapshot samples = store->samples();
    std::vector<std::vector<double>> part(std::size_t(kept), std::vector<double>(7));
    std::vector<double*> outs(std::size_t(kept), nullptr);
    for (int c = 0; c < kept; ++c)
        outs[std::size_t(c)] = part[std::size_t(c)].data();
    for (std::size_t at = 0; samples && at < frames; at += 997) {
        const std::size_t n = std::min<std::size_t>(7, frames - at);
        samples->readFrames(at, n, outs.data());
        for (int c = 0; c < kept; ++c)
            for (std::size_t k = 0; k < n; ++k)
                if (!same(part[std::size_t(c)][k], at + k, c)) return control.decoded;
    }
    EXPECT_EQ(control.fraction(), 1.0) << what;
    return control.decoded;
}

// The open descriptors of this process that name a file in `folder`
// (deleted ones included: a temporary decode file never has a name).
int descriptorsInto(const std::string& folder) {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (dirent* e = readdir(d)) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
        if (len <= 0) continue;
        if (std::string(target, std::size_t(len)).rfind(folder + "/", 0) == 0) ++n;
    }
    closedir(d);
    return n;
}

int entriesIn(const std::string& folder) {
    int n = 0;
    DIR* d = opendir(folder.c_str());
    if (!d) return 0;
    while (dirent* e = readdir(d))
        n += std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0;
    closedir(d);
    return n;
}

// The cache folder of a test of its own, restored afterwards.
struct OwnCache {
    TempDir home;
    std::string old;
    bool had = false;
    OwnCache() {
        if (const char* v = std::getenv("XDG_CACHE_HOME")) had = true, old = v;
        setenv("XDG_CACHE_HOME", home.file("cache").c_str(), 1);
    }
    ~OwnCache() {
        if (had)
            setenv("XDG_CACHE_HOME", old.c_str(), 1);
        else
            unsetenv("XDG_CACHE_HOME");
    }
};

} // namespace

TEST(SampleSource, EveryEncodingAndByteOrderReadsExactlyAsAPlainFloatRead) {
    TempDir dir;
    struct Case {
        const char* name;
        int format;
        bool decoded; // a codec, decoded into the temporary file
    } cases[] = {
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, false},
        {"s8.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, false},
        {"s8.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_S8, false},
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, false},
        {"s16.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, false},
        {"s16le.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, false},
        {"s24.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, false},
        {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, false},
        {"s24x.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, false},
        {"s32.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_32, false},
        {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, false},
        {"s32.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, false},
        {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, false},
        {"f32.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, false},
        {"f32le.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE, false},
        {"f64.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, false},
        {"f64.caf", SF_FORMAT_CAF | SF_FORMAT_DOUBLE, false},
        {"s16rf64.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, false},
        {"s16.sd2", SF_FORMAT_SD2 | SF_FORMAT_PCM_16, false},
        {"s24.sd2", SF_FORMAT_SD2 | SF_FORMAT_PCM_24, false},
        {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, true},
        {"alaw.caf", SF_FORMAT_CAF | SF_FORMAT_ALAW, true},
        {"ulaw.caf", SF_FORMAT_CAF | SF_FORMAT_ULAW, true},
        {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, true},
        {"ms.wav", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, true},
    };
    OwnCache cache;
    const long frames = 3 * long(ZQ::kDecodeChunkFrames) + 17;
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, 2, 44100, frames, noise)) << c.name;
        EXPECT_EQ(expectIdenticalToPlainRead(path, c.name), c.decoded) << c.name;
    }
    EXPECT_EQ(entriesIn(ZQ::decodeCacheFolder()), 0) << "a decoded file was left with a name";
}

TEST(SampleSource, LengthsAroundTheChunksReadExactly) {
    TempDir dir;
    OwnCache cache;
    const long k = ZQ::kDecodeChunkFrames;
    for (long frames : {1L, 2L, 3L, 31L, 32L, 33L, k - 1, k, k + 1, 2 * k + 1}) {
        for (int channels : {1, 3}) {
            for (int format : {SF_FORMAT_PCM_24, SF_FORMAT_ULAW}) {
                const std::string what = std::to_string(frames) + " frames, " + std::to_string(channels) + " channels" +
                                         (format == SF_FORMAT_ULAW ? ", decoded" : "");
                const std::string path = dir.file("n" + std::to_string(frames) + "c" + std::to_string(channels) +
                                                  (format == SF_FORMAT_ULAW ? "u" : "") + ".wav");
                ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | format, channels, 48000, frames, noise));
                EXPECT_EQ(expectIdenticalToPlainRead(path, what), format == SF_FORMAT_ULAW) << what;
            }
        }
    }
}

TEST(SampleSource, ManyChannelsDecodeInSmallerChunksAndAreAllKept) {
    EXPECT_EQ(ZQ::decodeChunkFrames(2), ZQ::kDecodeChunkFrames);
    EXPECT_LE(ZQ::decodeChunkFrames(300) * 300u * 4u, 1u << 20); // a chunk stays within a megabyte
    EXPECT_LT(ZQ::decodeChunkFrames(64), ZQ::kDecodeChunkFrames);
    TempDir dir;
    OwnCache cache;
    for (int format : {SF_FORMAT_PCM_16, SF_FORMAT_ULAW}) {
        const std::string wide = dir.file(format == SF_FORMAT_ULAW ? "wideu.wav" : "wide.wav");
        ASSERT_TRUE(writeFixture(wide, SF_FORMAT_WAV | format, 64, 44100, 2 * ZQ::decodeChunkFrames(64) + 5, noise));
        EXPECT_EQ(expectIdenticalToPlainRead(wide, "64 channels"), format == SF_FORMAT_ULAW);
    }
}

TEST(SampleSource, ADecodesProgressRisesMonotonicallyToTheEndAndAPlainFileIsThereAtOnce) {
    TempDir dir;
    OwnCache cache;
    const std::string path = dir.file("long.wav"), plain = dir.file("plain.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 44100, 60 * 44100, noise));
    ASSERT_TRUE(writeFixture(plain, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 60 * 44100, noise));
    ZQ::auto_ptr<AudioFileDocumentSampleData> store;
    store.make();
    DecodeControl control;
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
        ASSERT_GE(seen[i], seen[i - 1]) << "sample " << i;
    EXPECT_GE(seen.front(), 0.0);
    EXPECT_EQ(seen.back(), 1.0);
    EXPECT_EQ(control.framesDone.load(), control.framesTotal.load());
    EXPECT_TRUE(control.decoded);

    DecodeControl direct;
    EXPECT_TRUE(store->read(fileURL(plain).get(), &direct));
    EXPECT_FALSE(direct.decoded);
    EXPECT_EQ(direct.fraction(), 1.0);
}

TEST(SampleSource, ACancelledDecodeLeavesNothingInMemoryOrOnDiskAndTheStoreReadsAgain) {
    TempDir dir;
    OwnCache cache;
    const std::string path = dir.file("long.wav"), next = dir.file("next.wav");
    const long frames = 5 * 60 * 44100;
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 44100, frames, noise));
    ASSERT_TRUE(writeFixture(next, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1000));
    const std::string folder = ZQ::decodeCacheFolder();
    ZQ::auto_ptr<AudioFileDocumentSampleData> store;
    store.make();
    const std::size_t before = ZQ::registry().liveCount();
    const int descriptors = descriptorsInto(folder);
    DecodeControl control;
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
    EXPECT_EQ(store->samples(), nullptr);
    EXPECT_EQ(ZQ::registry().liveCount(), before) << "the decode's blocks were not all given back";
    EXPECT_EQ(descriptorsInto(folder), descriptors) << "the temporary file is still open";
    EXPECT_EQ(entriesIn(folder), 0);

    ASSERT_TRUE(store->read(fileURL(next).get()));
    EXPECT_EQ(store->channelSampleCount(1).v_, 1000u);
}

TEST(SampleSource, TheTemporaryFileLivesExactlyAsLongAsTheSamplesAndHasNoName) {
    TempDir dir;
    OwnCache cache;
    const std::string path = dir.file("coded.caf");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_CAF | SF_FORMAT_ULAW, 2, 44100, 100000, noise));
    const std::string folder = ZQ::decodeCacheFolder();
    EXPECT_EQ(folder, cache.home.file("cache") + "/ZQAudio");
    const int before = descriptorsInto(folder);
    ZQ::SampleDataHolder copy;
    {
        ZQ::auto_ptr<AudioFileDocumentSampleData> store;
        store.make();
        ASSERT_TRUE(store->read(fileURL(path).get()));
        EXPECT_EQ(descriptorsInto(folder), before + 1);
        EXPECT_EQ(entriesIn(folder), 0); // nothing a crash could leave behind
        // A copy (a clipboard, an undo step) keeps the decoded samples.
        ASSERT_TRUE(store->copyRange({ZQ::Num::Count(10ull), ZQ::Num::Count(19ull)}, copy));
    }
    EXPECT_EQ(descriptorsInto(folder), before + 1);
    EXPECT_EQ(channelOf(*copy, 1).size(), 10u);
    copy.reset();
    EXPECT_EQ(descriptorsInto(folder), before);
}

TEST(SampleSource, OnlyWhatMustBeDecodedOrHeldInMemoryIsRefusedForWantOfRoom) {
    TempDir dir;
    OwnCache cache;
    const std::string big = dir.file("big.wav"), coded = dir.file("coded.wav");
    ASSERT_TRUE(writeFixture(big, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1 << 20));
    ASSERT_TRUE(writeFixture(coded, SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 44100, 1 << 20));
    struct Restore {
        ~Restore() {
            ZQ::setAvailableMemoryForTesting(0);
            ZQ::setAvailableDiskForTesting(0);
        }
    } restore;
    // Read in place, a file needs neither memory nor disk of its size.
    ZQ::setAvailableMemoryForTesting(3'000'000);
    ZQ::setAvailableDiskForTesting(3'000'000);
    ZQ::auto_ptr<AudioFileDocumentSampleData> store;
    store.make();
    EXPECT_TRUE(store->read(fileURL(big).get()));

    // Decoded, it needs room for its floats: 2^20 frames of two channels, 8.4 MB.
    store.reset();
    store.make();
    const std::size_t before = ZQ::registry().liveCount();
    DecodeControl control;
    bool ok = true;
    Captured m = capture([&] { ok = store->read(fileURL(coded).get(), &control); });
    EXPECT_FALSE(ok);
    EXPECT_FALSE(control.cancelled);
    const std::string want = "needs 8 MB of disk space in " + ZQ::decodeCacheFolder() + "; 3 MB are available";
    EXPECT_EQ(control.refusal, want);
    EXPECT_NE(m.err.find("The file " + want + "\n"), std::string::npos) << m.err;
    EXPECT_EQ(control.framesDone.load(), 0u);
    EXPECT_EQ(ZQ::registry().liveCount(), before);
    ZQ::setAvailableDiskForTesting(std::uint64_t(1 << 20) * 2 * 4);
    EXPECT_TRUE(store->read(fileURL(coded).get()));

    // Samples that must be held in memory are refused with the memory's figures.
    std::vector<double> second(1 << 20, 0.25);
    std::string refusal;
    ZQ::auto_ptr<AudioFileDocumentSampleData> held;
    held.make();
    EXPECT_FALSE(held->loadChannels(44100, {second.data(), second.data()}, second.size(), &refusal));
    EXPECT_EQ(refusal, "needs 17 MB of memory; 3 MB are available");
    ZQ::setAvailableMemoryForTesting(0);
    EXPECT_TRUE(held->loadChannels(44100, {second.data(), second.data()}, second.size(), &refusal));
    EXPECT_EQ(channelOf(*held, 1)[12345], 0.25);
    EXPECT_EQ(ZQ::memorySizeText(9'300'000'000ull), "9.3 GB");
    EXPECT_GT(ZQ::availableMemoryBytes(), std::uint64_t(1 << 20) * 2 * 8); // this machine's own figure
}
