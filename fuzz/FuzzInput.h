// How a fuzz input becomes files on disk, shared by the fuzz harness and the
// regression tests so that both open exactly the same thing.
//
// An input is one file, written as "input.wav" (the reader wants an
// extension; which one does not matter, the container is told by its
// header). An input that starts with "ZQSD2" and a 4-byte little-endian
// length n is a Sound Designer II pair instead: the next n bytes are the data
// fork ("input.sd2") and the rest is its resource fork ("._input.sd2").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace zqfuzz {

inline bool writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = (size == 0 || std::fwrite(data, 1, size, f) == size);
    return std::fclose(f) == 0 && ok;
}

// Writes the input into `dir` and returns the path to open.
inline std::string materialize(const std::string& dir, const std::uint8_t* data, std::size_t size) {
    static const char kTag[] = "ZQSD2";
    const std::string wav = dir + "/input.wav", sd2 = dir + "/input.sd2", fork = dir + "/._input.sd2";
    ::unlink(wav.c_str());
    ::unlink(sd2.c_str());
    ::unlink(fork.c_str());
    if (size >= 9 && std::memcmp(data, kTag, 5) == 0) {
        std::uint32_t n = std::uint32_t(data[5]) | std::uint32_t(data[6]) << 8 | std::uint32_t(data[7]) << 16 |
                          std::uint32_t(data[8]) << 24;
        const std::size_t rest = size - 9;
        if (n > rest) n = static_cast<std::uint32_t>(rest);
        writeBytes(sd2, data + 9, n);
        writeBytes(fork, data + 9 + n, rest - n);
        return sd2;
    }
    writeBytes(wav, data, size);
    return wav;
}

// The framing of a Sound Designer II pair, for writing seeds.
inline std::string frameSoundDesigner(const std::string& dataFork, const std::string& resourceFork) {
    std::string out = "ZQSD2";
    const auto n = static_cast<std::uint32_t>(dataFork.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(n >> (8 * i)));
    return out + dataFork + resourceFork;
}

} // namespace zqfuzz
