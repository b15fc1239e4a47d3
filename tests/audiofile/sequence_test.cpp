// The store's pieces against a plain copy of the samples: thousands of random
// edits, undos and redos on a file-backed store give every sample the plain
// copy has; reads that start and end near every piece boundary are exact;
// folds across pieces are the plain scan's. And the file under the samples
// changing: truncated, replaced, rewritten, exported onto.
#include "OpenedStore.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/MappedFile.h"
#include "support/Fixtures.h"
#include "support/Samples.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sndfile.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using ZQ::AudioFileDocumentSampleData;
using ZQ::SampleDataHolder;
using Model = std::vector<std::vector<double>>;

namespace {

// Distinct in every channel and frame, exact in 16 bits.
double value(int c, long k) {
    return double(((k * 7919 + c * 104729) % 65521) - 32760) / 32768.0;
}

bool sameValue(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

Model modelOf(const AudioFileDocumentSampleData& s) {
    Model m;
    for (int c = 0; c < s.channelCount(); ++c)
        m.push_back(channelOf(s, c));
    return m;
}

// The model's own edit: frames [at, at + remove) become `insert`'s.
void replace(Model& m, std::uint64_t at, std::uint64_t remove, const Model* insert) {
    for (std::size_t c = 0; c < m.size(); ++c) {
        auto& v = m[c];
        v.erase(v.begin() + std::ptrdiff_t(at), v.begin() + std::ptrdiff_t(at + remove));
        if (insert) v.insert(v.begin() + std::ptrdiff_t(at), (*insert)[c].begin(), (*insert)[c].end());
    }
}

Model slice(const Model& m, std::uint64_t at, std::uint64_t n) {
    Model out;
    for (const auto& v : m)
        out.emplace_back(v.begin() + std::ptrdiff_t(at), v.begin() + std::ptrdiff_t(at + n));
    return out;
}

ZQ::Num::SampleRange range(std::uint64_t a, std::uint64_t b) {
    return {ZQ::Num::Count(a), ZQ::Num::Count(b)};
}

struct Step {
    std::uint64_t at = 0;
    SampleDataHolder removed, inserted;
    Model removedModel, insertedModel;
};

} // namespace

TEST(SampleSequence, ThousandsOfRandomEditsUndosAndRedosMatchAPlainCopy) {
    TempDir dir;
    const std::string path = dir.file("model.wav");
    const long frames = 50000;
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, frames, value));
    auto o = openStore(path);
    ASSERT_TRUE(o->ok);
    AudioFileDocumentSampleData& s = *o->store;
    {
        ZQ::SummaryBuilder builder(*s.samples(), 2, nullptr);
        while (!s.samples()->isSummarised())
            std::this_thread::yield();
    }
    Model model = modelOf(s);
    ASSERT_EQ(model[0].size(), std::size_t(frames));
    std::vector<std::unique_ptr<Step>> undo, redo;
    SampleDataHolder clipboard;
    Model clipboardModel;
    std::mt19937 random(20261208);
    auto pick = [&](std::uint64_t n) { return n == 0 ? 0 : std::uint64_t(random() % n); };
    auto apply = [&](std::uint64_t at, std::uint64_t remove, SampleDataHolder& insert, const Model* insertModel) {
        auto step = std::make_unique<Step>();
        step->at = at;
        ASSERT_TRUE(s.replaceFrames(at, remove, insert.get(), remove ? &step->removed : nullptr));
        step->removedModel = slice(model, at, remove);
        replace(model, at, remove, insertModel);
        if (insertModel) step->insertedModel = *insertModel;
        step->inserted.reset(insert.detach());
        undo.push_back(std::move(step));
        redo.clear();
    };
    for (int round = 0; round < 3000; ++round) {
        const std::uint64_t n = model[0].size();
        const int op = int(random() % 7);
        std::uint64_t a = pick(n), b = n ? std::min(n - 1, a + pick(2000)) : 0;
        if (op == 0 && n > 0) { // cut to the clipboard
            SampleDataHolder copy;
            ASSERT_TRUE(s.copyRange(range(a, b), copy));
            clipboardModel = slice(model, a, b - a + 1);
            clipboard.reset(copy.detach());
            SampleDataHolder none;
            apply(a, b - a + 1, none, nullptr);
        } else if (op == 1 && n > 0) { // delete
            SampleDataHolder none;
            apply(a, b - a + 1, none, nullptr);
        } else if (op == 2 && n > 0) { // duplicate
            SampleDataHolder copy;
            ASSERT_TRUE(s.copyRange(range(a, b), copy));
            const Model dup = slice(model, a, b - a + 1);
            apply(b + 1, 0, copy, &dup);
        } else if (op == 3 && clipboard) { // paste, inserting or replacing
            SampleDataHolder copy;
            ASSERT_TRUE(clipboard->copyAll(copy));
            const std::uint64_t remove = n > 0 && random() % 2 ? b - a + 1 : 0;
            apply(n == 0 ? 0 : a, remove, copy, &clipboardModel);
        } else if (op == 4 && !undo.empty()) {
            std::unique_ptr<Step> step = std::move(undo.back());
            undo.pop_back();
            ASSERT_TRUE(s.replaceFrames(step->at, step->insertedModel.empty() ? 0 : step->insertedModel[0].size(),
                                        step->removed.get(), nullptr) ||
                        (step->removedModel[0].empty() && step->insertedModel.empty()));
            replace(model, step->at, step->insertedModel.empty() ? 0 : step->insertedModel[0].size(),
                    &step->removedModel);
            redo.push_back(std::move(step));
        } else if (op == 5 && !redo.empty()) {
            std::unique_ptr<Step> step = std::move(redo.back());
            redo.pop_back();
            ASSERT_TRUE(s.replaceFrames(step->at, step->removedModel[0].size(), step->inserted.get(), nullptr));
            replace(model, step->at, step->removedModel[0].size(),
                    step->insertedModel.empty() ? nullptr : &step->insertedModel);
            undo.push_back(std::move(step));
        } else if (op == 6 && n > 0) { // reads and folds of what is there now
            const std::uint64_t len = b - a + 1;
            std::vector<double> got(len);
            for (int c = 0; c < 2; ++c) {
                ASSERT_TRUE(s.readChannel(c, a, len, got.data()));
                ASSERT_TRUE(std::equal(got.begin(), got.end(), model[c].begin() + std::ptrdiff_t(a))) << round;
                double lo = 1, hi = -1, slo = 1, shi = -1;
                ASSERT_TRUE(s.samples()->fold(unsigned(c), a, b, lo, hi));
                for (double v : got)
                    slo = std::min(slo, v), shi = std::max(shi, v);
                ASSERT_EQ(lo, slo) << round;
                ASSERT_EQ(hi, shi) << round;
            }
        }
        ASSERT_EQ(s.frameCount(), model[0].size()) << round;
        if (round % 250 == 0) {
            ASSERT_EQ(modelOf(s), model) << round;
        }
    }
    ASSERT_EQ(modelOf(s), model);
    // Only pieces of the file: no edit copied a sample into memory.
    EXPECT_EQ(s.samples()->memoryBytes(), 0u);
    // Undo everything: the file as it was, in one piece again.
    while (!undo.empty()) {
        std::unique_ptr<Step> step = std::move(undo.back());
        undo.pop_back();
        const std::uint64_t inserted = step->insertedModel.empty() ? 0 : step->insertedModel[0].size();
        if (inserted || !step->removedModel[0].empty()) {
            ASSERT_TRUE(s.replaceFrames(step->at, inserted, step->removed.get(), nullptr));
        }
    }
    EXPECT_EQ(s.frameCount(), std::uint64_t(frames));
    EXPECT_EQ(s.samples()->pieces().size(), 1u);
    EXPECT_EQ(channelOf(s, 1), modelOf(*openStore(path)->store)[1]);
}

TEST(SampleSequence, ReadsStartingAndEndingNearEveryPieceBoundaryAreExact) {
    TempDir dir;
    const std::string path = dir.file("pieces.aif");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 3, 48000, 4000, value));
    auto o = openStore(path);
    ASSERT_TRUE(o->ok);
    AudioFileDocumentSampleData& s = *o->store;
    // Pieces of the file, of memory and of the file again, some one frame long.
    SampleDataHolder memory;
    memory.make();
    std::vector<std::vector<double>> ramp(3, std::vector<double>(37));
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 37; ++k)
            ramp[c][std::size_t(k)] = (c + 1) * 0.001 * k;
    ASSERT_TRUE(memory->loadChannels(48000, {ramp[0].data(), ramp[1].data(), ramp[2].data()}, 37));
    Model model = modelOf(s);
    auto edit = [&](std::uint64_t at, std::uint64_t remove, const SampleDataHolder* insert) {
        ASSERT_TRUE(s.replaceFrames(at, remove, insert ? insert->get() : nullptr, nullptr));
        const Model m = insert ? modelOf(*insert->get()) : Model();
        replace(model, at, remove, insert ? &m : nullptr);
    };
    edit(1000, 1, nullptr);
    edit(2000, 0, &memory);
    edit(5, 0, &memory);
    SampleDataHolder one;
    ASSERT_TRUE(s.copyRange(range(3000, 3000), one));
    edit(17, 0, &one);
    edit(18, 0, &one);
    const ZQ::SampleSnapshot samples = s.samples();
    ASSERT_GE(samples->pieces().size(), 8u);
    const std::uint64_t n = samples->frameCount();
    std::vector<std::uint64_t> boundaries{0, n};
    std::uint64_t at = 0;
    for (const ZQ::SamplePiece& p : samples->pieces())
        boundaries.push_back(at += p.length);
    std::vector<double> got(16), c0(16), c1(16), c2(16);
    double* outs[16] = {c0.data(), nullptr, c2.data()};
    for (std::uint64_t b : boundaries)
        for (std::uint64_t first = b >= 4 ? b - 4 : 0; first <= std::min(n - 1, b + 4); ++first)
            for (std::uint64_t len = 1; len <= 9 && first + len <= n; ++len) {
                for (unsigned c = 0; c < 3; ++c) {
                    samples->read(c, first, len, got.data());
                    for (std::uint64_t k = 0; k < len; ++k)
                        ASSERT_EQ(got[k], model[c][first + k]) << c << " " << first << " " << len;
                }
                c1.assign(16, 7.0);
                samples->readFrames(first, len, outs);
                for (std::uint64_t k = 0; k < len; ++k) {
                    ASSERT_EQ(c0[k], model[0][first + k]);
                    ASSERT_EQ(c2[k], model[2][first + k]);
                }
                EXPECT_EQ(c1[0], 7.0); // a channel not asked for is left alone
            }
}

TEST(SampleSequence, AFileTruncatedUnderTheSamplesReadsAsSilenceAndSaysSo) {
    TempDir dir;
    const std::string path = dir.file("shrinks.wav");
    const long frames = 400000; // well past a page
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, frames, value));
    auto o = openStore(path);
    ASSERT_TRUE(o->ok);
    AudioFileDocumentSampleData& s = *o->store;
    EXPECT_FALSE(s.changedOnDisk());
    ASSERT_EQ(truncate(path.c_str(), 100000), 0); // about 25,000 frames left
    EXPECT_TRUE(s.changedOnDisk());
    // Every read past the new end gives silence, never a crash; what is
    // still there reads as before.
    std::vector<double> got(static_cast<std::size_t>(frames));
    ASSERT_TRUE(s.readChannel(1, 0, std::uint64_t(frames), got.data()));
    EXPECT_EQ(got[100], value(1, 100));
    EXPECT_EQ(got[std::size_t(frames) - 1], 0.0);
    EXPECT_EQ(got[300000], 0.0);
    const auto* block = dynamic_cast<const ZQ::FileSampleBlock*>(s.samples()->pieces()[0].block.get());
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(block->file().lostPages());
    // The summary still builds (from what reads now), and the samples can be exported.
    {
        ZQ::SummaryBuilder builder(*s.samples(), 2, nullptr);
        while (!s.samples()->isSummarised())
            std::this_thread::yield();
    }
    const std::string out = dir.file("saved.wav");
    auto url = fileURL(out);
    std::string why;
    capture([&] {
        EXPECT_TRUE(ZQ::AudioFileExport::write(&s, url.get(), platform::audio::kAudioFileWAVEType,
                                               ZQ::AudioFileExport::kInteger16, &why))
            << why;
    });
    auto back = openStore(out);
    ASSERT_TRUE(back->ok);
    EXPECT_EQ(channelOf(*back->store, 1), got);
}

TEST(SampleSequence, AFileReplacedOrExportedOntoKeepsServingTheSamplesItHadAndARewriteIsNoticed) {
    TempDir dir;
    const std::string path = dir.file("kept.wav"), other = dir.file("other.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 5000, value));
    ASSERT_TRUE(writeFixture(other, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 5000,
                             [](int, long k) { return -value(0, k); }));
    auto o = openStore(path);
    ASSERT_TRUE(o->ok);
    const std::vector<double> before = channelOf(*o->store, 0);
    // Renamed over: the store keeps the file it opened.
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    EXPECT_EQ(channelOf(*o->store, 0), before);
    EXPECT_FALSE(o->store->changedOnDisk());
    // An export onto its own path (a new file renamed over it) likewise, and
    // the file written holds the samples.
    SampleDataHolder reversed;
    ASSERT_TRUE(o->store->cutRange(range(0, 99), reversed));
    ASSERT_TRUE(o->store->pasteRange(reversed, range(4900, 4900)));
    const std::vector<double> edited = channelOf(*o->store, 0);
    auto url = fileURL(path);
    std::string why;
    capture([&] {
        EXPECT_TRUE(ZQ::AudioFileExport::write(o->store.get(), url.get(), platform::audio::kAudioFileWAVEType,
                                               ZQ::AudioFileExport::kInteger16, &why))
            << why;
    });
    EXPECT_EQ(channelOf(*o->store, 0), edited);
    EXPECT_EQ(channelOf(*openStore(path)->store, 0), edited);
    EXPECT_FALSE(o->store->changedOnDisk());
    // Rewritten in place (the same inode): noticed.
    auto again = openStore(path);
    ASSERT_TRUE(again->ok);
    {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(100);
        f.write("\x7f\x7f\x7f\x7f", 4);
    }
    EXPECT_TRUE(again->store->changedOnDisk());
}

TEST(SampleSequence, FileSummariesOfEveryLayoutFoldExactlyAsTheScan) {
    TempDir dir;
    // Noise with full-scale words, NaNs in the floats, and each channel its own.
    auto wild = [](int c, long k) {
        std::uint32_t x = std::uint32_t(k) * 2654435761u ^ std::uint32_t(c + 7) * 40503u;
        x ^= x >> 13;
        x *= 0x5bd1e995u;
        x ^= x >> 15;
        if (x % 5000 == 0) return std::numeric_limits<double>::quiet_NaN();
        if (x % 7001 == 0) return c % 2 ? 1.0 : -1.0;
        return (double(x % 65536) - 32768.0) / 32768.0 * (0.2 + 0.1 * (c % 5));
    };
    struct Case {
        const char* name;
        int format;
    } cases[] = {
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16}, {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},  {"s16.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32}, {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
    };
    std::mt19937 random(5);
    for (const Case& k : cases)
        for (int channels : {1, 2, 3, 4, 5, 6, 8, 16}) {
            const std::string what = std::string(k.name) + " x" + std::to_string(channels);
            const std::string path = dir.file(std::to_string(channels) + k.name);
            const long frames = 150000 + long(random() % 1000);
            ASSERT_TRUE(writeFixture(path, k.format, channels, 44100, frames, wild)) << what;
            auto o = openStore(path);
            ASSERT_TRUE(o->ok) << what;
            const ZQ::SampleSnapshot samples = o->store->samples();
            Model m = modelOf(*o->store);
            // A column of every channel at once: lo and hi start from the
            // first sample and 0, as the overview's do (a NaN first sample
            // stays), then fold the rest.
            auto columnsAgree = [&](const ZQ::SampleSequence& seq, const Model& model, std::size_t a, std::size_t b) {
                std::vector<double> lo(channels), hi(channels);
                if (!seq.columnOfFrames(a, b, lo.data(), hi.data())) return false;
                for (int c = 0; c < channels; ++c) {
                    const auto& s = model[std::size_t(c)];
                    double slo = std::min(s[a], 0.0), shi = std::max(s[a], 0.0);
                    for (std::size_t i = a + 1; i <= b; ++i)
                        slo = std::min(slo, s[i]), shi = std::max(shi, s[i]);
                    EXPECT_TRUE(sameValue(lo[std::size_t(c)], slo) && sameValue(hi[std::size_t(c)], shi))
                        << what << " channel " << c << " [" << a << ", " << b << "]";
                }
                return true;
            };
            // Not yet summarised: a short column is scanned, a long one waits.
            EXPECT_TRUE(columnsAgree(*samples, m, 1000, 1000 + ZQ::SampleBlock::kScanLimit - 1)) << what;
            std::vector<double> lo(channels), hi(channels);
            EXPECT_FALSE(samples->columnOfFrames(0, m[0].size() - 1, lo.data(), hi.data())) << what;
            while (samples->pieces()[0].block->summariseNextChunk()) {
            }
            ASSERT_TRUE(samples->isSummarised());
            // Columns of every length and place, on the file and across the
            // seam of a cut.
            const std::uint64_t at = 40000 + random() % 1000, removed = 1000 + random() % 50000;
            const ZQ::SampleSequence cut = samples->replaced(at, removed, nullptr);
            Model cutModel = m;
            replace(cutModel, at, removed, nullptr);
            for (int round = 0; round < 40; ++round) {
                const bool seam = round % 2;
                const Model& model = seam ? cutModel : m;
                const std::size_t n = model[0].size();
                std::size_t a = seam ? at - random() % 3000 : random() % n;
                std::size_t b = a + random() % (round < 20 ? 600 : 60000);
                b = std::min(b, n - 1);
                ASSERT_TRUE(columnsAgree(seam ? cut : *samples, model, a, b)) << what;
            }
            const int kept = channels;
            for (int c = 0; c < kept; ++c) {
                const std::vector<double> s = channelOf(*o->store, c);
                for (int round = 0; round < 60; ++round) {
                    std::size_t a = random() % s.size(), b = random() % s.size();
                    if (a > b) std::swap(a, b);
                    if (round == 0) a = 0, b = s.size() - 1;
                    double lo = 0.5, hi = 0.5, slo = 0.5, shi = 0.5;
                    for (std::size_t i = a; i <= b; ++i)
                        slo = std::min(slo, s[i]), shi = std::max(shi, s[i]);
                    ASSERT_TRUE(samples->fold(unsigned(c), a, b, lo, hi)) << what;
                    ASSERT_EQ(lo, slo) << what << " channel " << c << " [" << a << ", " << b << "]";
                    ASSERT_EQ(hi, shi) << what << " channel " << c << " [" << a << ", " << b << "]";
                }
            }
        }
}
