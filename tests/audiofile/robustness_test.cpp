// Mutated and cut files: the reader must refuse them cleanly or read them
// consistently; never crash, hang or read out of bounds (the sanitizer
// builds run this too).
#include "CafChunks.h"
#include "OpenedStore.h"
#include "audiofile/AudioFileProperties.h"
#include "support/Fixtures.h"
#include "support/Samples.h"

#include <fstream>
#include <random>
#include <sndfile.h>

using namespace testsupport;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void check(const std::string& path, const char* what, int round) {
    auto o = openStore(path);
    if (!o->ok) {
        EXPECT_FALSE(o->store->isLoaded());
        EXPECT_EQ(o->store->samples(), nullptr);
        return;
    }
    const ZQ::AudioFileDocumentSampleData& s = *o->store;
    const std::int32_t channels = s.channelCount();
    ASSERT_GE(channels, 1) << what << " " << round;
    ASSERT_LE(channels, 64);
    const auto frames = static_cast<unsigned long long>(s.information()->fileLengthFrames());
    for (int c = 0; c < channels; ++c) {
        ASSERT_EQ(s.channelSampleCount(c).v_, frames) << what << " " << round;
        ASSERT_EQ(testsupport::channelOf(s, c).size(), frames); // every sample can be read
    }
    // The properties text of whatever was read can be built.
    capture([&] { EXPECT_EQ(ZQ::describeAudioFileProperties(&s, path).rows.size(), 20u); });
}

} // namespace

TEST(Robustness, MutatedHeadersAreRefusedOrReadConsistently) {
    TempDir dir;
    struct Base {
        const char* name;
        int format;
        int channels;
    } bases[] = {
        {"b.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},
        {"b.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1},
        {"b.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 3},
        {"t.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 1},
    };
    std::mt19937 random(20261206);
    for (const Base& b : bases) {
        const std::string original = dir.file(b.name);
        ASSERT_TRUE(writeFixture(original, b.format, b.channels, 44100, 300));
        if (std::string(b.name) == "t.caf") { // with markers, regions, strings and a cookie to damage
            CafChunkWriter w;
            w.u32(0);
            w.u32(1);
            w.marker(0, 3, 1);
            w.appendTo(original, "mark");
            w.u32(0);
            w.u32(1);
            w.u32(1);
            w.u32(1);
            w.u32(0);
            w.u32(1);
            w.marker(0, 5, 1);
            w.appendTo(original, "regn");
            appendCafStrings(original, {{1, "one"}});
            w.bytes("cookie!!cookie!!");
            w.appendTo(original, "kuki");
        }
        const std::string bytes = readAll(original);
        const std::string mutated = dir.file(std::string("m_") + b.name);
        for (int round = 0; round < 300; ++round) {
            std::string m = bytes;
            const int kind = round % 3;
            if (kind == 0) { // a few bytes changed in the header
                for (int n = 1 + random() % 4; n > 0; --n)
                    m[random() % std::min<std::size_t>(m.size(), 96)] = static_cast<char>(random());
            } else if (kind == 1) { // anywhere, chunk tables included
                for (int n = 1 + random() % 6; n > 0; --n)
                    m[random() % m.size()] = static_cast<char>(random());
            } else { // cut short, sometimes with a forged size word
                m.resize(random() % m.size());
                if (m.size() > 8 && random() % 2) {
                    const std::size_t at = 4 + random() % (m.size() - 8);
                    for (int i = 0; i < 4; ++i)
                        m[at + i] = static_cast<char>(0xff);
                }
            }
            std::ofstream(mutated, std::ios::binary | std::ios::trunc) << m;
            check(mutated, b.name, round);
            if (HasFatalFailure()) return;
        }
    }
}
