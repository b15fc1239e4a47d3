// The compressed and other containers people hold, written by the formats'
// own encoders (flac, oggenc, opusenc, lame, sox) and by libsndfile, opened
// as the document opens them: lossless ones sample-exact, lossy ones aligned
// with their source and as long as it, tags read, damaged ones refused
// without harm.
#include "OpenedStore.h"
#include "audiofile/AudioFileInformation.h"
#include "audiofile/AudioFileReader.h"
#include "support/Samples.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <vector>

using namespace testsupport;

namespace {

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

bool sh(const std::string& command) {
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

// A source the lossy codecs keep well and whose alignment is unambiguous: a
// sweep, a different one in each channel.
bool writeSweep(const std::string& path, int channels, int rate, double seconds, int bits = 16) {
    std::string effects = " synth " + std::to_string(seconds);
    for (int c = 0; c < channels; ++c)
        effects += " sine " + std::to_string(150 + 40 * c) + "-" + std::to_string(5000 + 300 * c);
    return sh("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b " + std::to_string(bits) +
              " " + quoted(path) + effects + " gain -6");
}

struct Source {
    std::vector<std::vector<double>> channels;
    int rate = 0;
};

Source readSource(const std::string& path) {
    int channels = 0, rate = 0;
    const std::vector<float> all = readFloatFile(path, channels, rate);
    Source s;
    s.rate = rate;
    s.channels.assign(std::size_t(channels), {});
    for (std::size_t k = 0; channels > 0 && k < all.size() / std::size_t(channels); ++k)
        for (int c = 0; c < channels; ++c)
            s.channels[std::size_t(c)].push_back(all[k * std::size_t(channels) + std::size_t(c)]);
    return s;
}

std::vector<std::vector<double>> decoded(const Opened& o) {
    std::vector<std::vector<double>> out;
    for (int c = 0; o.ok && c < o.store->channelCount(); ++c)
        out.push_back(channelOf(*o.store, c));
    return out;
}

// The lag (decoded against source) where the two agree best, searched
// around the middle of the file.
int bestLag(const std::vector<double>& source, const std::vector<double>& got, int range) {
    const std::size_t window = 8192;
    const std::size_t from = source.size() / 2;
    double best = -1e300;
    int lag = 0;
    for (int l = -range; l <= range; ++l) {
        double sum = 0;
        for (std::size_t k = from; k < from + window; ++k) {
            const long j = long(k) + l;
            if (j >= 0 && std::size_t(j) < got.size()) sum += source[k] * got[std::size_t(j)];
        }
        if (sum > best) best = sum, lag = l;
    }
    return lag;
}

double rms(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v)
        sum += x * x;
    return v.empty() ? 0 : std::sqrt(sum / double(v.size()));
}

std::string tag(const Opened& o, const char* key) {
    const ZQ::AudioFileInformationData* info = o.store->information();
    if (!info || !info->infoDictionary.value) return "";
    const platform::Object* v = info->infoDictionary.value->objectForKey(key);
    return v ? v->description() : "";
}

} // namespace

TEST(Formats, LosslessFilesOpenSampleExact) {
    TempDir dir;
    struct Case {
        std::string name, command; // the command reads src.wav
        int channels, bits;
        bool inPlace; // read where the samples lie
    } cases[] = {
        {"mono16.flac", "flac -s -f -o OUT SRC", 1, 16, false},
        {"six24.flac", "flac -s -f -o OUT SRC", 6, 24, false},
        {"stereo16.w64", "sox SRC OUT", 2, 16, true},
        {"three24.w64", "sox SRC OUT", 3, 24, true},
    };
    for (const Case& c : cases) {
        const std::string src = dir.file("src-" + c.name + ".wav"), out = dir.file(c.name);
        ASSERT_TRUE(writeSweep(src, c.channels, 44100, 1.5, c.bits)) << c.name;
        std::string command = c.command;
        command.replace(command.find("OUT"), 3, quoted(out));
        command.replace(command.find("SRC"), 3, quoted(src));
        ASSERT_TRUE(sh(command)) << command;
        auto o = openStore(out);
        ASSERT_TRUE(o->ok) << c.name << o->messages.out << o->messages.err;
        const Source source = readSource(src);
        EXPECT_EQ(decoded(*o), source.channels) << c.name;
        ZQ::AudioFileDocumentSampleData again;
        ZQ::DecodeControl control;
        ASSERT_TRUE(again.read(fileURL(out).get(), &control));
        EXPECT_EQ(control.decoded, !c.inPlace) << c.name;
        EXPECT_EQ(o->store->information()->channelCount(), c.channels);
    }
    // Apple Lossless in CAF, as libsndfile writes it.
    for (int format : {SF_FORMAT_ALAC_16, SF_FORMAT_ALAC_24}) {
        const std::string path = dir.file("a" + std::to_string(format) + ".caf");
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_CAF | format, 2, 48000, 30000));
        auto o = openStore(path);
        ASSERT_TRUE(o->ok) << o->messages.out << o->messages.err;
        int channels = 0, rate = 0;
        const std::vector<float> plain = readFloatFile(path, channels, rate);
        const auto got = decoded(*o);
        ASSERT_EQ(got.size(), 2u);
        ASSERT_EQ(got[0].size(), 30000u);
        for (std::size_t k = 0; k < 30000; ++k)
            ASSERT_EQ(got[1][k], double(plain[2 * k + 1])) << k;
    }
}

TEST(Formats, LossyStreamsAreAlignedWithTheirSourceAndAsLong) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* command;
        int rate, channels;
    } cases[] = {
        {"a.ogg", "oggenc -Q -q 6 -o OUT SRC", 44100, 2},
        {"m.ogg", "oggenc -Q -o OUT SRC", 22050, 1},
        {"a.opus", "opusenc --quiet --bitrate 160 SRC OUT", 48000, 2},
        {"a.mp3", "lame --silent -b 256 SRC OUT", 44100, 2},
        {"v.mp3", "lame --silent -V 2 SRC OUT", 48000, 1},
        {"low.mp3", "lame --silent -b 64 SRC OUT", 22050, 1}, // MPEG-2 Layer III
    };
    for (const auto& c : cases) {
        const std::string src = dir.file(std::string("src-") + c.name + ".wav"), out = dir.file(c.name);
        ASSERT_TRUE(writeSweep(src, c.channels, c.rate, 2.345)) << c.name;
        std::string command = c.command;
        command.replace(command.find("OUT"), 3, quoted(out));
        command.replace(command.find("SRC"), 3, quoted(src));
        ASSERT_TRUE(sh(command)) << command;
        auto o = openStore(out);
        ASSERT_TRUE(o->ok) << c.name << o->messages.out << o->messages.err;
        const Source source = readSource(src);
        const auto got = decoded(*o);
        ASSERT_EQ(got.size(), source.channels.size()) << c.name;
        EXPECT_EQ(o->store->information()->sampleRate(), double(c.rate)) << c.name;
        for (std::size_t ch = 0; ch < got.size(); ++ch) {
            EXPECT_EQ(got[ch].size(), source.channels[ch].size()) << c.name; // the delay and padding removed
            EXPECT_EQ(bestLag(source.channels[ch], got[ch], 1200), 0) << c.name << " channel " << ch;
            const double db = 20 * std::log10(rms(got[ch]) / rms(source.channels[ch]));
            EXPECT_LT(std::fabs(db), 0.5) << c.name << " channel " << ch;
        }
    }
}

TEST(Formats, TagsAreReadFromEachKind) {
    TempDir dir;
    const std::string src = dir.file("src.wav");
    ASSERT_TRUE(writeSweep(src, 2, 44100, 0.5));
    const std::string flac = dir.file("t.flac"), ogg = dir.file("t.ogg"), mp3 = dir.file("t.mp3");
    ASSERT_TRUE(sh("flac -s -f --tag=TITLE='Née à Paris' --tag=ARTIST=Ann --tag=ALBUM=First --tag=DATE=1999 "
                   "--tag=GENRE=Jazz --tag=TRACKNUMBER=7 --tag=COMMENT=Live -o " +
                   quoted(flac) + " " + quoted(src)));
    ASSERT_TRUE(sh("oggenc -Q -t 'Née à Paris' -a Ann -l First -d 1999 -G Jazz -N 7 -c COMMENT=Live -o " + quoted(ogg) +
                   " " + quoted(src)));
    ASSERT_TRUE(sh("lame --silent --id3v2-only --tt 'Née à Paris' --ta Ann --tl First --ty 1999 --tg Jazz --tn 7 "
                   "--tc Live " +
                   quoted(src) + " " + quoted(mp3)));
    for (const std::string& path : {flac, ogg, mp3}) {
        auto o = openStore(path);
        ASSERT_TRUE(o->ok) << path;
        EXPECT_EQ(tag(*o, "title"), "Née à Paris") << path;
        EXPECT_EQ(tag(*o, "artist"), "Ann") << path;
        EXPECT_EQ(tag(*o, "album"), "First") << path;
        EXPECT_EQ(tag(*o, "year"), "1999") << path;
        EXPECT_EQ(tag(*o, "genre"), "Jazz") << path;
        EXPECT_EQ(tag(*o, "track number"), "7") << path;
        EXPECT_EQ(tag(*o, "comments"), "Live") << path;
    }
    // ID3v1 alone, fixed-width fields and the track in the comment's last byte.
    const std::string old = dir.file("v1.mp3");
    ASSERT_TRUE(
        sh("lame --silent --id3v1-only --tt Old --ta Bob --tn 3 --tc Note " + quoted(src) + " " + quoted(old)));
    auto o = openStore(old);
    ASSERT_TRUE(o->ok);
    EXPECT_EQ(tag(*o, "title"), "Old");
    EXPECT_EQ(tag(*o, "artist"), "Bob");
    EXPECT_EQ(tag(*o, "track number"), "3");
    EXPECT_EQ(tag(*o, "comments"), "Note");
}

TEST(Formats, DamagedCompressedFilesAreRefusedOrReadNeverACrash) {
    TempDir dir;
    const std::string src = dir.file("src.wav");
    ASSERT_TRUE(writeSweep(src, 2, 44100, 1.0));
    const std::vector<std::pair<std::string, std::string>> encoders = {
        {"d.flac", "flac -s -f -o OUT SRC"},
        {"d.ogg", "oggenc -Q -o OUT SRC"},
        {"d.opus", "opusenc --quiet SRC OUT"},
        {"d.mp3", "lame --silent SRC OUT"},
    };
    for (const auto& [name, pattern] : encoders) {
        const std::string good = dir.file(name);
        std::string command = pattern;
        command.replace(command.find("OUT"), 3, quoted(good));
        command.replace(command.find("SRC"), 3, quoted(src));
        ASSERT_TRUE(sh(command)) << command;
        std::ifstream in(good, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        ASSERT_GT(bytes.size(), 1000u);
        std::vector<std::string> damaged;
        for (std::size_t keep : {std::size_t(4), std::size_t(40), std::size_t(200), bytes.size() / 2, bytes.size() - 7})
            damaged.push_back(bytes.substr(0, keep));
        std::uint32_t x = 12345;
        for (int variant = 0; variant < 6; ++variant) {
            std::string flipped = bytes;
            for (int i = 0; i < 4 + variant * 6; ++i) {
                x = x * 1664525u + 1013904223u;
                flipped[x % flipped.size()] ^= char(1 << (x >> 29));
            }
            damaged.push_back(flipped);
        }
        int opened = 0;
        for (std::size_t i = 0; i < damaged.size(); ++i) {
            const std::string path = dir.file(std::to_string(i) + name);
            std::ofstream(path, std::ios::binary) << damaged[i];
            auto o = openStore(path);
            if (!o->ok) {
                // Refused with a message, and nothing kept.
                EXPECT_FALSE(o->store->isLoaded()) << path;
                EXPECT_NE(o->messages.out + o->messages.err, "") << path;
                continue;
            }
            ++opened;
            const auto got = decoded(*o);
            for (const auto& channel : got)
                for (double v : channel)
                    ASSERT_TRUE(std::isfinite(v)) << path;
        }
        // The first few bytes hold no stream at all.
        EXPECT_LT(opened, int(damaged.size())) << name;
    }
}
