// The compressed and other containers people hold, written by the formats'
// own encoders (flac, oggenc, opusenc, lame, sox) and by libsndfile, opened
// as the document opens them: lossless ones sample-exact, lossy ones aligned
// with their source and as long as it, tags read, damaged ones refused
// without harm.
#include "OpenedStore.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/AudioFileInformation.h"
#include "audiofile/AudioFileReader.h"
#include "audiofile/Markers.h"
#include "support/Samples.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
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

// Runs an encoder's command `pattern` with SRC and OUT standing for the files.
bool encode(std::string pattern, const std::string& src, const std::string& out) {
    pattern.replace(pattern.find("OUT"), 3, quoted(out));
    pattern.replace(pattern.find("SRC"), 3, quoted(src));
    return sh(pattern);
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
        ASSERT_TRUE(encode(c.command, src, out)) << c.command;
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
        ASSERT_TRUE(encode(c.command, src, out)) << c.command;
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

TEST(Formats, MpegLayerTwoWithoutAGaplessTagOpensWholeFramesOfIt) {
    // No Layer II encoder writes the encoder's delay and padding, so the
    // stream opens as the whole frames it holds.
    TempDir dir;
    const std::string src = dir.file("src.wav"), mp2 = dir.file("a.mp2");
    ASSERT_TRUE(writeSweep(src, 2, 48000, 1.5));
    ASSERT_TRUE(sh("twolame --quiet -b 256 " + quoted(src) + " " + quoted(mp2)));
    auto o = openStore(mp2);
    ASSERT_TRUE(o->ok) << o->messages.out << o->messages.err;
    EXPECT_EQ(o->store->information()->fileFormat.value, platform::audio::kAudioFileMP2Type);
    EXPECT_EQ(o->store->information()->sampleRate(), 48000.0);
    const auto got = decoded(*o);
    const Source source = readSource(src);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size() % 1152, 0u);
    EXPECT_GE(got[0].size(), source.channels[0].size());
    EXPECT_LT(got[0].size(), source.channels[0].size() + 2 * 1152);
    // The same sound, later by the codec's own delay.
    const int lag = bestLag(source.channels[0], got[0], 1200);
    EXPECT_GT(lag, 0);
    EXPECT_LT(std::fabs(20 * std::log10(rms(got[0]) / rms(source.channels[0]))), 0.5);
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
    ASSERT_TRUE(sh("lame --silent --id3v1-only --tt Old --ta Bob --tn 3 --tc Note " + quoted(src) + " " + quoted(old)));
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
        ASSERT_TRUE(encode(pattern, src, good)) << pattern;
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

namespace {

namespace xp = ZQ::AudioFileExport;

// Exports the opened file to `path`; the reason when refused.
std::string exportTo(const Opened& o, const std::string& path, int code,
                     const platform::audio::EncoderSettings& settings = {}, xp::Outcome* outcome = nullptr) {
    std::string reason;
    xp::Outcome done;
    Captured m = capture([&] {
        if (xp::write(o.store.get(), fileURL(path).get(), xp::containerFor(code, 0), code, &reason, nullptr, &done,
                      nullptr, &settings))
            reason.clear();
        else if (reason.empty())
            reason = "refused without a reason";
    });
    if (outcome) *outcome = done;
    return reason;
}

} // namespace

TEST(Formats, ExportsToEachEncodedFormatKeepSamplesLengthAndTags) {
    TempDir dir;
    // A tagged 16-bit source, and a 24-bit one.
    const std::string wav16 = dir.file("s16.wav"), wav24 = dir.file("s24.wav"), tagged = dir.file("tagged.flac");
    ASSERT_TRUE(writeSweep(wav16, 2, 44100, 1.7, 16));
    ASSERT_TRUE(writeSweep(wav24, 1, 48000, 0.9, 24));
    ASSERT_TRUE(sh("flac -s -f --tag=TITLE='Tide' --tag=ARTIST='Ann' --tag=ALBUM='Sea' --tag=TRACKNUMBER=2 -o " +
                   quoted(tagged) + " " + quoted(wav16)));
    auto source = openStore(tagged);
    ASSERT_TRUE(source->ok);
    const Source samples = readSource(wav16);

    struct Case {
        const char* name;
        int code;
        bool exact;
    } cases[] = {
        {"o.flac", xp::kFlac16, true},
        {"o.ogg", xp::kVorbis, false},
        {"o.mp3", xp::kMp3, false},
    };
    for (const Case& c : cases) {
        const std::string out = dir.file(c.name);
        ASSERT_EQ(exportTo(*source, out, c.code), "") << c.name;
        auto back = openStore(out);
        ASSERT_TRUE(back->ok) << c.name;
        EXPECT_EQ(tag(*back, "title"), "Tide") << c.name;
        EXPECT_EQ(tag(*back, "artist"), "Ann") << c.name;
        EXPECT_EQ(tag(*back, "album"), "Sea") << c.name;
        EXPECT_EQ(tag(*back, "track number"), "2") << c.name;
        const auto got = decoded(*back);
        ASSERT_EQ(got.size(), 2u) << c.name;
        if (c.exact) {
            EXPECT_EQ(got, samples.channels) << c.name;
            continue;
        }
        for (std::size_t ch = 0; ch < 2; ++ch) {
            EXPECT_EQ(got[ch].size(), samples.channels[ch].size()) << c.name;
            EXPECT_EQ(bestLag(samples.channels[ch], got[ch], 1200), 0) << c.name;
            EXPECT_LT(std::fabs(20 * std::log10(rms(got[ch]) / rms(samples.channels[ch]))), 0.5) << c.name;
        }
    }
    // 24 bits, exactly; Opus at 48 kHz, aligned and as long.
    auto wide = openStore(wav24);
    ASSERT_TRUE(wide->ok);
    ASSERT_EQ(exportTo(*wide, dir.file("o24.flac"), xp::kFlac24), "");
    auto wideBack = openStore(dir.file("o24.flac"));
    ASSERT_TRUE(wideBack->ok);
    EXPECT_EQ(decoded(*wideBack), readSource(wav24).channels);
    ASSERT_EQ(exportTo(*wide, dir.file("o.opus"), xp::kOpus), "");
    auto opus = openStore(dir.file("o.opus"));
    ASSERT_TRUE(opus->ok);
    const auto opusSamples = decoded(*opus);
    const auto wideSource = readSource(wav24).channels;
    ASSERT_EQ(opusSamples.size(), 1u);
    EXPECT_EQ(opusSamples[0].size(), wideSource[0].size());
    EXPECT_EQ(bestLag(wideSource[0], opusSamples[0], 1200), 0);
}

TEST(Formats, EncoderSettingsAreHonouredAndImpossibleStreamsRefused) {
    TempDir dir;
    const std::string wav = dir.file("s.wav");
    ASSERT_TRUE(writeSweep(wav, 2, 44100, 4.0));
    auto source = openStore(wav);
    ASSERT_TRUE(source->ok);
    // Constant MP3 bit rates as chosen (the stream's bytes over its length).
    for (int kbps : {96, 128, 320}) {
        platform::audio::EncoderSettings settings;
        settings.mp3Kbps = kbps;
        const std::string out = dir.file("r" + std::to_string(kbps) + ".mp3");
        ASSERT_EQ(exportTo(*source, out, xp::kMp3, settings), "");
        const double measured = double(std::filesystem::file_size(out)) * 8 / 4.0 / 1000;
        EXPECT_NEAR(measured, kbps, kbps * 0.04) << kbps;
    }
    // A higher Vorbis quality and a lower FLAC level give larger files.
    platform::audio::EncoderSettings low, high;
    low.vorbisQuality = 1, high.vorbisQuality = 9;
    low.flacLevel = 8, high.flacLevel = 0;
    ASSERT_EQ(exportTo(*source, dir.file("low.ogg"), xp::kVorbis, low), "");
    ASSERT_EQ(exportTo(*source, dir.file("high.ogg"), xp::kVorbis, high), "");
    EXPECT_GT(std::filesystem::file_size(dir.file("high.ogg")), 2 * std::filesystem::file_size(dir.file("low.ogg")));
    ASSERT_EQ(exportTo(*source, dir.file("small.flac"), xp::kFlac16, low), "");
    ASSERT_EQ(exportTo(*source, dir.file("fast.flac"), xp::kFlac16, high), "");
    EXPECT_LT(std::filesystem::file_size(dir.file("small.flac")), std::filesystem::file_size(dir.file("fast.flac")));

    // What a format cannot hold is refused before anything is written.
    EXPECT_EQ(exportTo(*source, dir.file("x.opus"), xp::kOpus),
              "Opus holds rates of 8, 12, 16, 24 and 48 kHz only, not 44.1 kHz.");
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.opus")));
    const std::string three = dir.file("three.wav");
    ASSERT_TRUE(writeSweep(three, 3, 44100, 0.2));
    auto surround = openStore(three);
    ASSERT_TRUE(surround->ok);
    EXPECT_EQ(exportTo(*surround, dir.file("x.mp3"), xp::kMp3),
              "An MP3 file holds at most 2 channels; this document has 3.");
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.mp3")));

    // FLAC clips and counts as the integer formats do.
    const std::string loud = dir.file("loud.wav");
    ASSERT_TRUE(writeFixture(loud, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000, 100, [](int, long k) {
        return k == 10 ? 1.5 : k == 11 ? -2.0 : 0.25;
    }));
    auto hot = openStore(loud);
    ASSERT_TRUE(hot->ok);
    xp::Outcome outcome;
    ASSERT_EQ(exportTo(*hot, dir.file("loud.flac"), xp::kFlac24, {}, &outcome), "");
    EXPECT_EQ(outcome.clippedSamples, 2u);
    auto clipped = openStore(dir.file("loud.flac"));
    ASSERT_TRUE(clipped->ok);
    const auto got = decoded(*clipped);
    EXPECT_EQ(got[0][10], 8388607.0 / 8388608.0);
    EXPECT_EQ(got[0][11], -1.0);
    EXPECT_EQ(got[0][12], 0.25);
}

TEST(Formats, WavAndAiffExportsKeepTagsBesideMarkersAndSamples) {
    TempDir dir;
    // A source with INFO tags and named cue points, as libsndfile writes them.
    const std::string source = dir.file("tagged.wav");
    {
        SF_INFO info{};
        info.channels = 3;
        info.samplerate = 48000;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(source.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        sf_set_string(f, SF_STR_TITLE, "Morning Take");
        sf_set_string(f, SF_STR_ARTIST, "Bo");
        sf_set_string(f, SF_STR_COMMENT, "room 2");
        SF_CUES cues{};
        cues.cue_count = 2;
        cues.cue_points[0].indx = 1, cues.cue_points[0].sample_offset = 100;
        cues.cue_points[1].indx = 2, cues.cue_points[1].sample_offset = 2500;
        sf_command(f, SFC_SET_CUE, &cues, sizeof cues);
        std::vector<short> frames(3 * 4000);
        for (std::size_t i = 0; i < frames.size(); ++i)
            frames[i] = short((i * 37) % 20000 - 10000);
        sf_writef_short(f, frames.data(), 4000);
        sf_close(f);
    }
    auto o = openStore(source);
    ASSERT_TRUE(o->ok);
    ASSERT_EQ(tag(*o, "title"), "Morning Take");
    const ZQ::MarkerList markers = ZQ::markersFromInformation(*o->store->information());
    ASSERT_EQ(markers.size(), 2u);
    const auto original = decoded(*o);
    for (const auto& [name, code, type] :
         {std::tuple{"o16.wav", xp::kInteger16, platform::audio::kAudioFileWAVEType},
          std::tuple{"of.wav", xp::kFloat32, platform::audio::kAudioFileWAVEType},
          std::tuple{"o24.aif", xp::kInteger24, platform::audio::kAudioFileAIFFType}}) {
        const std::string out = dir.file(name);
        std::string reason;
        xp::Outcome outcome;
        capture([&] {
            EXPECT_TRUE(xp::write(o->store.get(), fileURL(out).get(), type, code, &reason, nullptr, &outcome, &markers))
                << reason;
        });
        EXPECT_EQ(outcome.markersWritten, 2u) << name;
        auto back = openStore(out);
        ASSERT_TRUE(back->ok) << name << back->messages.out;
        EXPECT_EQ(tag(*back, "title"), "Morning Take") << name;
        EXPECT_EQ(tag(*back, "artist"), "Bo") << name;
        EXPECT_EQ(tag(*back, "comments"), "room 2") << name;
        const ZQ::MarkerList again = ZQ::markersFromInformation(*back->store->information());
        ASSERT_EQ(again.size(), 2u) << name;
        EXPECT_EQ(again.items()[0].frame, 100u) << name;
        EXPECT_EQ(again.items()[1].frame, 2500u) << name;
        EXPECT_EQ(decoded(*back), original) << name;
    }
}
