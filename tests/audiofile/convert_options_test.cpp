// zqconvert's processing options and batches, run as a user runs them.
#include "platform/soundfile/AudioFileWriter.h"
#include "processing/Loudness.h"
#include "support/Commands.h"
#include "support/Fixtures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

using namespace testsupport;

namespace {

using ToolRun = CommandRun;

ToolRun zqconvert(const std::string& arguments) {
    return runCommand(std::string(ZQ_ZQCONVERT) + " " + arguments);
}

std::string q(const std::string& s) {
    return quoted(s);
}

// A file's samples as libsndfile reads them (doubles, interleaved).
std::vector<double> samplesOf(const std::string& path, SF_INFO& info) {
    info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<double> all(f ? std::size_t(info.frames * info.channels) : 0);
    if (f) sf_readf_double(f, all.data(), info.frames), sf_close(f);
    return all;
}

ZQ::LoudnessFigures loudnessOf(const std::string& path) {
    SF_INFO info;
    const std::vector<double> x = samplesOf(path, info);
    auto meter = ZQ::LoudnessMeter::create(unsigned(info.channels), info.samplerate);
    if (!meter) return {};
    meter->add(x.data(), std::size_t(info.frames));
    return meter->figures();
}

} // namespace

TEST(Convert, ANewRateGivesTheExactLengthInPlaceWithTheMarkersMoved) {
    TempDir dir;
    const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
    const long frames = 96000 * 3 + 17;
    ASSERT_TRUE(writeFixture(in, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 96000, frames,
                             [](int, long k) { return 0.5 * std::sin(2 * M_PI * 1000 * double(k) / 96000); }));
    ASSERT_TRUE(platform::audio::appendMarkerChunks(in, {{48000, 0, "half"}, {96000, 9600, "one"}}, nullptr));
    const ToolRun r = zqconvert("--rate 44100 wav32 " + q(in) + " " + q(out));
    ASSERT_EQ(r.status, 0) << r.out;
    SF_INFO info;
    const std::vector<double> y = samplesOf(out, info);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.frames, std::llround(frames * 44100.0 / 96000.0));
    // The first frame where the first was: the tone as sampled at 44.1 kHz.
    double worst = 0;
    for (long k = 4410; k < info.frames - 4410; ++k)
        worst = std::max(worst, std::fabs(y[2 * k] - 0.5 * std::sin(2 * M_PI * 1000 * double(k) / 44100)));
    EXPECT_LT(worst, 1e-5);
    SF_INFO unused;
    SNDFILE* f = sf_open(out.c_str(), SFM_READ, &unused);
    ASSERT_NE(f, nullptr);
    SF_CUES cues{};
    ASSERT_EQ(sf_command(f, SFC_GET_CUE, &cues, sizeof cues), SF_TRUE);
    sf_close(f);
    ASSERT_EQ(cues.cue_count, 2u);
    EXPECT_EQ(cues.cue_points[0].sample_offset, 22050u);
    EXPECT_EQ(cues.cue_points[1].sample_offset, 44100u);
    // A rate the format cannot hold is refused before anything is written.
    const ToolRun opus = zqconvert("--rate 44100 opus " + q(in) + " " + q(dir.file("x.opus")));
    EXPECT_EQ(opus.status, 1);
    EXPECT_NE(opus.out.find("Opus holds rates"), std::string::npos) << opus.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.opus")));
    EXPECT_EQ(zqconvert("--rate 12 wav16 " + q(in) + " " + q(out)).status, 2);
}

TEST(Convert, DitherOnlyWhereSamplesLoseBits) {
    TempDir dir;
    // 16 bits written as 16 bits: the same words, dither or not.
    const std::string s16 = dir.file("s16.wav"), same = dir.file("same.wav");
    ASSERT_TRUE(writeFixture(s16, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 50000));
    for (const char* d : {"tpdf", "shaped"}) {
        ASSERT_EQ(zqconvert(std::string("--dither ") + d + " wav16 " + q(s16) + " " + q(same)).status, 0);
        SF_INFO a, b;
        EXPECT_EQ(samplesOf(same, b), samplesOf(s16, a)) << d;
    }
    // Float to 16 bits: TPDF by default, the error about half a step;
    // undithered, the exports' own conversion (toward zero).
    const std::string f32 = dir.file("f32.wav"), dithered = dir.file("d.wav"), plain = dir.file("p.wav");
    ASSERT_TRUE(writeFixture(f32, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, 200000,
                             [](int, long k) { return 0.3 * std::sin(double(k) * 0.0123); }));
    ASSERT_EQ(zqconvert("wav16 " + q(f32) + " " + q(dithered)).status, 0);
    ASSERT_EQ(zqconvert("--dither none wav16 " + q(f32) + " " + q(plain)).status, 0);
    SF_INFO info;
    const std::vector<double> x = samplesOf(f32, info), d = samplesOf(dithered, info), p = samplesOf(plain, info);
    ASSERT_EQ(d.size(), x.size());
    double power = 0;
    long truncated = 0;
    for (std::size_t k = 0; k < x.size(); ++k) {
        power += (d[k] - x[k]) * (d[k] - x[k]);
        truncated += p[k] == std::trunc(x[k] * 32768.0) / 32768.0 ? 1 : 0;
    }
    EXPECT_NEAR(10 * std::log10(power / double(x.size())), 20 * std::log10(0.5 / 32768.0), 0.2);
    EXPECT_EQ(truncated, long(x.size()));
    EXPECT_EQ(zqconvert("--dither rpdf wav16 " + q(f32) + " " + q(plain)).status, 2);
}

TEST(Convert, NormalisingMeetsItsTargetUnderTheCeiling) {
    TempDir dir;
    const std::string in = dir.file("in.wav"), out = dir.file("out.flac");
    // A quiet tone with a sudden loud click-like burst: its loudness is
    // low, its peak high.
    ASSERT_TRUE(writeFixture(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 48000 * 12, [](int, long k) {
        const double t = double(k) / 48000;
        return 0.05 * std::sin(2 * M_PI * 440 * t) + (t > 6 && t < 6.01 ? 0.5 : 0.0);
    }));
    ToolRun r = zqconvert("--normalize -23LUFS flac24 " + q(in) + " " + q(out));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("normalised, gain"), std::string::npos) << r.out;
    EXPECT_NEAR(loudnessOf(out).integrated, -23.0, 0.1);
    // Louder than the ceiling allows: held to it instead.
    r = zqconvert("--normalize -10LUFS --ceiling -1dBTP flac24 " + q(in) + " " + q(out));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ceiling"), std::string::npos) << r.out;
    const ZQ::LoudnessFigures held = loudnessOf(out);
    EXPECT_LT(held.truePeak, -0.9);
    EXPECT_LT(held.integrated, -10.5);
    // To a sample peak.
    r = zqconvert("--normalize -3dBFS wavfloat " + q(in) + " " + q(dir.file("peak.wav")));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(loudnessOf(dir.file("peak.wav")).samplePeak, -3.0, 0.001);
    EXPECT_EQ(zqconvert("--normalize loud wav16 " + q(in) + " " + q(out)).status, 2);
}

TEST(Convert, ABatchGoesOnPastADamagedFileAndSaysWhichFailed) {
    TempDir dir;
    const std::string folder = dir.file("out");
    std::filesystem::create_directory(folder);
    std::vector<std::string> inputs;
    for (const char* name : {"a.wav", "b.aif", "c.wav", "d.wav"}) {
        inputs.push_back(dir.file(name));
        if (std::string(name) == "c.wav") {
            FILE* f = std::fopen(inputs.back().c_str(), "w");
            std::fputs("RIFF....WAVEfmt damaged", f);
            std::fclose(f);
        } else {
            ASSERT_TRUE(writeFixture(
                inputs.back(), (name[2] == 'a' ? SF_FORMAT_AIFF : SF_FORMAT_WAV) | SF_FORMAT_PCM_16, 2, 44100, 44100));
        }
    }
    std::string names;
    for (const std::string& i : inputs)
        names += " " + q(i);
    const ToolRun r = zqconvert("-o " + q(folder) + " flac16" + names);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("c.wav: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 of 4 converted, 1 not"), std::string::npos) << r.out;
    std::vector<std::string> written;
    for (auto& e : std::filesystem::directory_iterator(folder))
        written.push_back(e.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"a.flac", "b.flac", "d.flac"}));
    SF_INFO a, b;
    EXPECT_EQ(samplesOf(folder + "/b.flac", b), samplesOf(inputs[1], a));
    // Two inputs of one name would overwrite each other: refused first.
    EXPECT_EQ(zqconvert("-o " + q(folder) + " flac16 " + q(inputs[0]) + " " + q(inputs[0])).status, 2);
    EXPECT_EQ(zqconvert("-o " + q(folder) + names).status, 2); // no format named
}
