// The command-line tools, run as a user runs them.
#include "support/Commands.h"
#include "support/Fixtures.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <vector>

using namespace testsupport;

namespace {

using Outcome = CommandRun;

Outcome run(const std::string& command) {
    return runCommand(command);
}

bool haveSox() {
    return std::system("command -v sox > /dev/null 2>&1") == 0;
}

// sox's reading of a file as raw little-endian words of the given encoding.
std::string soxRaw(const std::string& path, const char* encoding, int bits, const std::string& to) {
    const std::string cmd = "sox " + quoted(path) + " -t raw -e " + encoding + " -b " + std::to_string(bits) + " -L " +
                            quoted(to) + " 2>&1";
    if (std::system(cmd.c_str()) != 0) return {};
    std::ifstream in(to, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(Tools, ZqinfoDescribesEachAcceptedContainer) {
    TempDir dir;
    struct Case {
        const char* name;
        int format;
        int channels;
        int rate;
        const char* lines;
    } cases[] = {
        {"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 96000,
         "File Format: WAVE\nSample Rate: 96000.000000\nFormat ID: 1819304813 ('lpcm')\nFormat Flags: 12\n"},
        {"a.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 22050,
         "File Format: AIFF\nSample Rate: 22050.000000\nFormat ID: 1819304813 ('lpcm')\nFormat Flags: 14\n"},
        {"a.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 3, 48000,
         "File Format: caff\nSample Rate: 48000.000000\nFormat ID: 1819304813 ('lpcm')\nFormat Flags: 11\n"},
        {"a.sd2", SF_FORMAT_SD2 | SF_FORMAT_PCM_16, 2, 44100,
         "File Format: Sd2f\nSample Rate: 44100.000000\nFormat ID: 1819304813 ('lpcm')\nFormat Flags: 14\n"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, c.channels, c.rate, 12345));
        Outcome r = run(std::string(ZQ_ZQINFO) + " " + quoted(path));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(std::string("\nFile: ") + c.name + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.lines), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Channels per frame: " + std::to_string(c.channels) + "\n"), std::string::npos);
        EXPECT_NE(r.out.find("File Length (samples): 12345\n"), std::string::npos);
    }
}

TEST(Tools, ZqinfoRefusesOtherFilesAndSaysWhy) {
    TempDir dir;
    const std::string good = dir.file("good.wav");
    ASSERT_TRUE(writeFixture(good, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 10));
    struct Case {
        const char* name;
        int format;
        const char* why;
    } cases[] = {
        {"x.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, "is an AIFF-C file, which is not read"},
        {"x.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, "is a NeXT/Sun audio file, which is not read"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeFixture(path, c.format, 1, 8000, 1000));
        Outcome r = run(std::string(ZQ_ZQINFO) + " " + quoted(good) + " " + quoted(path));
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_NE(r.out.find("zqinfo: " + path + ": " + c.why + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("File: good.wav"), std::string::npos); // the good file is still described
        // The reader's own lines only when asked for.
        EXPECT_EQ(r.out.find("Removing unsupported/unrecognized file at path"), std::string::npos) << r.out;
        r = run(std::string(ZQ_ZQINFO) + " --verbose " + quoted(path));
        EXPECT_NE(r.out.find("Removing unsupported/unrecognized file at path: " + path + "\n"), std::string::npos)
            << r.out;
    }
    const std::string missing = dir.file("missing.wav");
    Outcome r = run(std::string(ZQ_ZQINFO) + " " + quoted(missing) + " " + quoted(dir.path()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "zqinfo: " + missing + ": No such file or directory\nzqinfo: " + dir.path() +
                         ": is a folder, not a file\n");
}

TEST(Tools, ZqinfoOnTheDemoSound) {
    Outcome r = run(std::string(ZQ_ZQINFO) + " " + quoted(ZQ_DEMO_SOUND));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("File Format: WAVE\nSample Rate: 44100.000000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Channels per frame: 2\n"), std::string::npos);
}

TEST(Tools, ZqconvertOutputReadsBackExactlyInSox) {
    if (!haveSox()) GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    const std::string source = dir.file("source.wav");
    // Values on the 16-bit grid (exact everywhere), plus full scale and beyond.
    auto value = [](int c, long k) {
        if (k == 0) return c == 0 ? 1.0 : -1.0;
        if (k == 1) return c == 0 ? 1.25 : -1.25;
        return fixtureSample(c, k);
    };
    ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 32000, 2000, value));
    struct Case {
        const char* format;
        const char* name;
        const char* encoding;
        int bits;
    } cases[] = {
        {"wav16", "o16.wav", "signed-integer", 16},   {"wav32", "o32.wav", "signed-integer", 32},
        {"wavfloat", "of.wav", "floating-point", 32}, {"aiff16", "o16.aif", "signed-integer", 16},
        {"aiff32", "o32.aif", "signed-integer", 32},
    };
    for (const Case& c : cases) {
        const std::string out = dir.file(c.name);
        Outcome r =
            run(std::string(ZQ_ZQCONVERT) + " --verbose " + c.format + " " + quoted(source) + " " + quoted(out));
        ASSERT_EQ(r.status, 0) << c.format << r.out;
        const std::string raw = soxRaw(out, c.encoding, c.bits, dir.file("raw"));
        ASSERT_EQ(raw.size(), 2000u * 2 * c.bits / 8) << c.format;
        for (long k = 0; k < 2000; ++k) {
            for (int ch = 0; ch < 2; ++ch) {
                const std::size_t i = static_cast<std::size_t>(k * 2 + ch);
                const double x = value(ch, k);
                if (c.bits == 16 && std::string(c.encoding) == "signed-integer") {
                    std::int16_t v;
                    std::memcpy(&v, raw.data() + i * 2, 2);
                    const double y = x * 32768.0;
                    const std::int16_t want = y > 32767.0 ? 32767 : y < -32768.0 ? -32768 : std::int16_t(y);
                    ASSERT_EQ(v, want) << c.format << " " << k << " " << ch;
                } else if (std::string(c.encoding) == "signed-integer") {
                    std::int32_t v;
                    std::memcpy(&v, raw.data() + i * 4, 4);
                    const double y = x * 2147483648.0;
                    const std::int32_t want = y > 2147483647.0    ? 2147483647
                                              : y < -2147483648.0 ? -2147483647 - 1
                                                                  : std::int32_t(y);
                    ASSERT_EQ(v, want) << c.format << " " << k << " " << ch;
                } else if (std::abs(x) <= 1.0) { // sox clips floats beyond full scale on output
                    float v;
                    std::memcpy(&v, raw.data() + i * 4, 4);
                    ASSERT_EQ(v, static_cast<float>(x)) << c.format << " " << k << " " << ch;
                }
            }
        }
        // Full scale and beyond clip in the integer formats: two lines per clipped frame.
        const std::size_t clips = std::string(c.encoding) == "signed-integer" ? 3 : 0; // 1.0, 1.25 and -1.25
        std::size_t n = 0;
        for (std::size_t at = r.out.find("Clipped audio file\n"); at != std::string::npos;
             at = r.out.find("Clipped audio file\n", at + 1))
            ++n;
        EXPECT_EQ(n, clips) << c.format;
    }
}

TEST(Tools, ZqconvertFailuresExitOneAndKeepTheDestination) {
    TempDir dir;
    const std::string three = dir.file("three.wav"), out = dir.file("out.wav");
    ASSERT_TRUE(writeFixture(three, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 8000, 100));
    std::ofstream(out) << "keep me";
    // A folder in the destination's place.
    const std::string folder = dir.file("folder.wav");
    std::filesystem::create_directory(folder);
    Outcome r = run(std::string(ZQ_ZQCONVERT) + " wav16 " + quoted(three) + " " + quoted(folder));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("is a folder"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    // A disk that fills up (a file-size limit of 2 KB stands in for it): the
    // destination keeps its bytes and no temporary file is left.
    ASSERT_TRUE(writeFixture(three, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 8000, 8000));
    r = run("ulimit -f 2; trap '' XFSZ; " + std::string(ZQ_ZQCONVERT) + " wav16 " + quoted(three) + " " + quoted(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("could not be written"), std::string::npos) << r.out;
    std::ifstream in(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".export-"), std::string::npos) << entry.path();

    // Interrupted (SIGTERM half a second after its handler is in, while it
    // decodes or writes the half hour of stereo): exit 130, the destination
    // as it was, no temporary file. Before the handler is in, SIGTERM ends
    // it as it ends any program, which is not what is tested here.
    const std::string half = dir.file("half-hour.wav");
    ASSERT_TRUE(writeFixture(half, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000, 48000L * 1800));
    const std::string catchesTerm =
        "[ $(( 0x$(sed -n 's/^SigCgt:[[:space:]]*//p' /proc/$p/status 2>/dev/null || echo 0) >> 14 & 1 )) = 1 ]";
    r = run("(" + std::string(ZQ_ZQCONVERT) + " wavfloat " + quoted(half) + " " + quoted(out) +
            " >/dev/null & p=$!; i=0; until " + catchesTerm +
            " || [ $i -ge 6000 ]; do sleep 0.01; i=$((i+1)); done; sleep 0.5; kill -TERM $p; wait $p; echo status $?)");
    EXPECT_NE(r.out.find("status 130"), std::string::npos) << r.out;
    std::ifstream again(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), "keep me");
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".export-"), std::string::npos) << entry.path();

    r = run(std::string(ZQ_ZQCONVERT) + " wav16 " + quoted(dir.file("none.wav")) + " " + quoted(out));
    EXPECT_EQ(r.status, 1);
    r = run(std::string(ZQ_ZQCONVERT) + " mp3 " + quoted(three) + " " + quoted(out));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("names another format than mp3"), std::string::npos) << r.out;
}

TEST(Tools, HelpVersionExtensionsAndContentWhateverTheName) {
    TempDir dir;
    for (const char* tool : {ZQ_ZQINFO, ZQ_ZQCONVERT}) {
        Outcome r = run(std::string(tool) + " --help");
        EXPECT_EQ(r.status, 0) << tool;
        EXPECT_EQ(r.out.rfind("usage: ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("Exit status"), std::string::npos) << r.out;
        r = run(std::string(tool) + " --version");
        EXPECT_EQ(r.status, 0) << tool;
        EXPECT_NE(r.out.find("(ZQ Audio) "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("libsndfile"), std::string::npos) << r.out;
        EXPECT_EQ(run(std::string(tool) + " --no-such-option x").status, 2) << tool;
    }
    const std::string source = dir.file("source.wav");
    ASSERT_TRUE(writeFixture(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 8000, 4000));
    // No extension: the format's is added; the result is read as any file is.
    std::filesystem::create_directory(dir.file("out"));
    Outcome r = run(std::string(ZQ_ZQCONVERT) + " wav16 " + quoted(source) + " " + quoted(dir.file("out/name")));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, ""); // the library's lines only with --verbose
    ASSERT_TRUE(std::filesystem::exists(dir.file("out/name.wav")));
    r = run(std::string(ZQ_ZQINFO) + " " + quoted(dir.file("out/name.wav")));
    EXPECT_EQ(r.status, 0) << r.out;
    // The codes named beside their numbers.
    EXPECT_NE(r.out.find("Format ID: 1819304813 ('lpcm')"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" ('fmt '), "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" ('data')"), std::string::npos) << r.out;
    // A container the name contradicts: refused, nothing written.
    r = run(std::string(ZQ_ZQCONVERT) + " aiff16 " + quoted(source) + " " + quoted(dir.file("a.wav")));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("name it " + dir.file("a") + ".aif"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.wav")));
    // No format: the extension's, at the source's sample size.
    r = run(std::string(ZQ_ZQCONVERT) + " " + quoted(source) + " " + quoted(dir.file("b.flac")));
    ASSERT_EQ(r.status, 0) << r.out;
    int channels = 0, rate = 0;
    EXPECT_EQ(readFloatFile(dir.file("b.flac"), channels, rate), readFloatFile(source, channels, rate));
    for (const char* name : {"noformat", "other.caf"}) {
        r = run(std::string(ZQ_ZQCONVERT) + " " + quoted(source) + " " + quoted(dir.file(name)));
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_NE(r.out.find("name the format"), std::string::npos) << r.out;
    }
    // A file without an extension is read by its content.
    std::filesystem::copy_file(dir.file("b.flac"), dir.file("plain"));
    r = run(std::string(ZQ_ZQINFO) + " " + quoted(dir.file("plain")));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("File Format: flac\n"), std::string::npos) << r.out;
    r = run(std::string(ZQ_ZQCONVERT) + " " + quoted(dir.file("plain")) + " " + quoted(dir.file("back.wav")));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFloatFile(dir.file("back.wav"), channels, rate), readFloatFile(source, channels, rate));
    // A refusal by the format says why in words.
    const std::string cd = dir.file("cd.wav");
    ASSERT_TRUE(writeFixture(cd, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 4000));
    r = run(std::string(ZQ_ZQCONVERT) + " " + quoted(cd) + " " + quoted(dir.file("x.opus")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Opus holds rates of 8, 12, 16, 24 and 48 kHz only, not 44.1 kHz"), std::string::npos)
        << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.opus")));
}
