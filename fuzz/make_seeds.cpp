// Writes the fuzzer's seed corpus: small files of every kind the reader
// accepts (each encoding libsndfile can put in WAV, AIFF, CAF and Sound
// Designer II, with strings, cue points, channel layouts, markers, regions
// and a magic cookie; FLAC, Ogg Vorbis, Opus, MPEG Layer III and Wave64)
// and a few kinds it refuses.
//   fuzz_seeds DIR
#include "fuzz/FuzzInput.h"
#include "platform/soundfile/AudioFileWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sndfile.h>
#include <string>
#include <vector>

namespace {

std::string gDir;
int gWritten = 0;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Extra {
    bool strings = false;
    bool cues = false;
    bool channelMap = false;
};

// Writes a short sweep with libsndfile; returns the bytes written or "".
std::string make(const std::string& name, int format, int channels, int frames, const Extra& extra = {},
                 int rate = 22050) {
    const std::string path = gDir + "/tmp-" + name;
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "fuzz_seeds: libsndfile cannot write %s: %s\n", name.c_str(), sf_strerror(nullptr));
        return "";
    }
    if (extra.strings) {
        sf_set_string(f, SF_STR_TITLE, "Seed title");
        sf_set_string(f, SF_STR_ARTIST, "Seed artist");
        sf_set_string(f, SF_STR_COMMENT, "A comment");
    }
    if (extra.channelMap && channels == 2) {
        int map[2] = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT};
        sf_command(f, SFC_SET_CHANNEL_MAP_INFO, map, sizeof map);
    }
    if (extra.cues) {
        SF_CUES cues{};
        cues.cue_count = 2;
        for (int i = 0; i < 2; ++i) {
            cues.cue_points[i].indx = i + 1;
            cues.cue_points[i].position = static_cast<std::uint32_t>(i * frames / 2);
            cues.cue_points[i].sample_offset = static_cast<std::uint32_t>(i * frames / 2);
            std::snprintf(cues.cue_points[i].name, sizeof cues.cue_points[i].name, "cue %d", i);
        }
        sf_command(f, SFC_SET_CUE, &cues, sizeof cues);
    }
    std::vector<double> block(static_cast<std::size_t>(channels) * frames);
    for (int k = 0; k < frames; ++k)
        for (int c = 0; c < channels; ++c)
            block[static_cast<std::size_t>(k) * channels + c] = 0.8 * std::sin(0.05 * k * (c + 1));
    sf_writef_double(f, block.data(), frames);
    sf_close(f);
    std::string bytes = readAll(path);
    std::remove(path.c_str());
    return bytes;
}

void save(const std::string& name, const std::string& bytes) {
    if (bytes.empty()) return;
    std::ofstream(gDir + "/" + name, std::ios::binary) << bytes;
    ++gWritten;
}

void be32(std::string& s, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
void be64(std::string& s, std::uint64_t v) {
    for (int i = 7; i >= 0; --i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
void cafChunk(std::string& file, const char* type, const std::string& body) {
    file.append(type, 4);
    be64(file, body.size());
    file += body;
}
void cafMarker(std::string& s, std::uint32_t type, double position, std::uint32_t id) {
    be32(s, type);
    std::uint64_t bits;
    std::memcpy(&bits, &position, sizeof bits);
    be64(s, bits);
    be32(s, id);
    be64(s, 0); // SMPTE time
    be32(s, 0); // channel
}

// A CAF file with markers, a region with a name, strings and a cookie, as
// other programs store them.
std::string cafWithTables() {
    std::string file = make("tables.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 1, 64);
    if (file.empty()) return file;
    std::string mark;
    be32(mark, 0);
    be32(mark, 2);
    cafMarker(mark, 0, 3.0, 1);
    cafMarker(mark, 0, 40.0, 2);
    cafChunk(file, "mark", mark);
    std::string regn;
    be32(regn, 0);
    be32(regn, 1);
    be32(regn, 7); // region id
    be32(regn, 3); // name id
    be32(regn, 0); // flags
    be32(regn, 2); // markers
    cafMarker(regn, 0, 5.0, 4);
    cafMarker(regn, 0, 20.0, 5);
    cafChunk(file, "regn", regn);
    std::string strg;
    const char* texts[] = {"first", "second", "a region"};
    be32(strg, 3);
    std::uint64_t offset = 0;
    for (std::uint32_t i = 0; i < 3; ++i) {
        be32(strg, i + 1);
        be64(strg, offset);
        offset += std::strlen(texts[i]) + 1;
    }
    for (const char* t : texts)
        strg.append(t, std::strlen(t) + 1);
    cafChunk(file, "strg", strg);
    cafChunk(file, "kuki", std::string("0123456789abcdef"));
    return file;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    gDir = argv[1];
    const int N = 96;
    struct Kind {
        const char* name;
        int format;
        int channels;
        Extra extra;
    } kinds[] = {
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, {}},
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, {true, true, false}},
        {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 3, {}},
        {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, {}},
        {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, {}},
        {"f64.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, {}},
        {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, {}},
        {"alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, 2, {}},
        {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, {}},
        {"msadpcm.wav", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, {}},
        {"gsm.wav", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, {}},
        {"ext.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 2, {false, false, true}},
        {"ext6.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 6, {}},
        {"rifx.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, 1, {}},
        {"s17.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 17, {}},
        {"s8.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 1, {}},
        {"s16.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, {true, true, true}},
        {"s24.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1, {}},
        {"s32.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 2, {}},
        {"s16.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 2, {true, false, true}},
        {"s24.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24, 1, {}},
        {"f32.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 3, {}},
        {"f64le.caf", SF_FORMAT_CAF | SF_FORMAT_DOUBLE | SF_ENDIAN_LITTLE, 1, {}},
        {"ulaw.caf", SF_FORMAT_CAF | SF_FORMAT_ULAW, 1, {}},
        {"alac16.caf", SF_FORMAT_CAF | SF_FORMAT_ALAC_16, 2, {}},
        {"alac24.caf", SF_FORMAT_CAF | SF_FORMAT_ALAC_24, 1, {}},
        {"s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, {true, false, false}},
        {"s24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, {}},
        {"vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, {true, false, false}},
        {"l3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, {true, false, false}},
        {"s16.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 1, {}},
        // Refused kinds: the reader must say so and stop.
        {"f32.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 1, {}},
        {"s16.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 1, {}},
        {"s16.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 1, {}},
    };
    for (const Kind& k : kinds)
        save(k.name, make(k.name, k.format, k.channels, N, k.extra));
    save("tables.caf", cafWithTables());
    // A FLAC stream with markers in the WAV chunks its APPLICATION blocks keep.
    {
        const std::string bytes = make("marked.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, N);
        const std::string path = gDir + "/tmp-marked.flac";
        std::ofstream(path, std::ios::binary) << bytes;
        if (platform::audio::appendMarkerChunks(path, {{10, 0, "one"}, {20, 10, "two"}}, nullptr))
            save("marked.flac", readAll(path));
        std::remove(path.c_str());
    }
    // Opus runs at 48 kHz (or an even fraction of it) only.
    save("opus.opus", make("opus.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 2, N, {true, false, false}, 48000));

    // Sound Designer II: libsndfile writes the resource fork beside the file.
    for (int format : {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_S8}) {
        const std::string name = "x" + std::to_string(format) + ".sd2";
        const std::string path = gDir + "/tmp-" + name, fork = gDir + "/._tmp-" + name;
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = 44100;
        info.format = SF_FORMAT_SD2 | format;
        if (SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info)) {
            std::vector<short> block(2 * N, 1000);
            sf_writef_short(f, block.data(), N);
            sf_close(f);
            save(name, zqfuzz::frameSoundDesigner(readAll(path), readAll(fork)));
        }
        std::remove(path.c_str());
        std::remove(fork.c_str());
    }
    save("text.txt", "plain text, not a sound at all");
    std::printf("fuzz_seeds: %d seeds in %s\n", gWritten, gDir.c_str());
    return 0;
}
