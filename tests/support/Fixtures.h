// Audio fixtures written by the tests themselves with libsndfile.
#pragma once

#include "platform/base/Values.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sndfile.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace testsupport {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/zqtest-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline platform::Ref<platform::URL> fileURL(const std::string& path) {
    return platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
}

// Sample value of channel c at frame k: exact in 16-bit, distinct per channel.
inline double fixtureSample(int c, long k) {
    long v = ((k * 37 + c * 1000) % 2001) - 1000; // -1000 ... 1000
    return static_cast<double>(v * 16) / 32768.0;
}

// Writes `frames` frames of fixtureSample (or `gen`) with the given format;
// returns false when libsndfile refuses.
inline bool writeFixture(const std::string& path, int format, int channels, int rate, long frames,
                         const std::function<double(int, long)>& gen = fixtureSample, const char* title = nullptr) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    if (title) sf_set_string(f, SF_STR_TITLE, title);
    std::vector<double> block(static_cast<size_t>(channels) * 4096);
    for (long at = 0; at < frames;) {
        long n = std::min<long>(4096, frames - at);
        for (long k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c)
                block[static_cast<size_t>(k * channels + c)] = gen(c, at + k);
        if (sf_writef_double(f, block.data(), n) != n) {
            sf_close(f);
            return false;
        }
        at += n;
    }
    return sf_close(f) == 0;
}

// All samples of a sound file as interleaved floats (empty when unreadable);
// its channel count and rate go to the outputs.
inline std::vector<float> readFloatFile(const std::string& path, int& channels, int& rate) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> data(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, data.data(), info.frames);
    sf_close(f);
    channels = info.channels;
    rate = info.samplerate;
    return data;
}

// An RF64 file of `frames` frames of 16- or 24-bit samples that costs no
// disk: its header, a hole of silence, and `tail` (interleaved) as its last
// frames. False when the file cannot be made.
inline bool writeSparseRf64(const std::string& path, int channels, int rate, std::uint64_t frames,
                            const std::vector<std::int32_t>& tail, int bits = 16) {
    std::string h;
    auto u16 = [&h](std::uint32_t v) { h += char(v & 0xff), h += char((v >> 8) & 0xff); };
    auto u32 = [&](std::uint32_t v) { u16(v & 0xffff), u16(v >> 16); };
    auto u64 = [&](std::uint64_t v) { u32(std::uint32_t(v)), u32(std::uint32_t(v >> 32)); };
    const std::uint32_t bytes = std::uint32_t(bits / 8);
    const std::uint64_t dataBytes = frames * std::uint64_t(channels) * bytes;
    const std::uint64_t headerBytes = 12 + 36 + 24 + 8;
    h += "RF64";
    u32(0xffffffffu);
    h += "WAVE";
    h += "ds64";
    u32(28);
    u64(headerBytes - 8 + dataBytes); // the RIFF size
    u64(dataBytes);
    u64(frames);
    u32(0); // no table
    h += "fmt ";
    u32(16);
    u16(1); // PCM
    u16(std::uint32_t(channels));
    u32(std::uint32_t(rate));
    u32(std::uint32_t(rate) * std::uint32_t(channels) * bytes);
    u16(std::uint32_t(channels) * bytes);
    u16(std::uint32_t(bits));
    h += "data";
    u32(0xffffffffu);
    std::string words;
    for (std::int32_t v : tail)
        for (std::uint32_t b = 0; b < bytes; ++b)
            words += char((std::uint32_t(v) >> (8 * b)) & 0xff);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    ok = ok && fseeko(f, off_t(headerBytes + dataBytes - words.size()), SEEK_SET) == 0 &&
         std::fwrite(words.data(), 1, words.size(), f) == words.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace testsupport
