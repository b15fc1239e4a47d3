// Sound files built byte by byte, for headers that no writer produces:
// layout chunks that disagree with the channel count, list chunks with forged
// sizes, markers at impossible positions.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

namespace testsupport {

inline void put16be(std::string& s, std::uint32_t v) {
    s.push_back(static_cast<char>(v >> 8));
    s.push_back(static_cast<char>(v));
}
inline void put32be(std::string& s, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
inline void put64be(std::string& s, std::uint64_t v) {
    for (int i = 7; i >= 0; --i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
inline void put16le(std::string& s, std::uint32_t v) {
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}
inline void put32le(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
inline void putF64be(std::string& s, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    put64be(s, bits);
}

// A chunk of a RIFF (little-endian sizes) or FORM (big-endian) file, padded.
inline std::string iffChunk(const char* id, const std::string& body, bool bigEndian) {
    std::string c(id, 4);
    if (bigEndian)
        put32be(c, static_cast<std::uint32_t>(body.size()));
    else
        put32le(c, static_cast<std::uint32_t>(body.size()));
    c += body;
    if (body.size() & 1) c.push_back('\0');
    return c;
}
inline std::string riffChunk(const char* id, const std::string& body) {
    return iffChunk(id, body, false);
}
inline std::string formChunk(const char* id, const std::string& body) {
    return iffChunk(id, body, true);
}

// 16-bit samples k * 100 - 3000 + 7 * c, distinct per channel and frame.
inline std::int16_t builtSample(int c, int k) {
    return static_cast<std::int16_t>(k * 100 - 3000 + 7 * c);
}

// A 16-bit PCM WAV file at 44100 Hz; `extra` chunks go between 'fmt ' and
// 'data', `tail` after the data.
inline std::string builtWav(int channels, int frames, const std::string& extra = "", const std::string& tail = "") {
    std::string fmt;
    put16le(fmt, 1);
    put16le(fmt, static_cast<std::uint32_t>(channels));
    put32le(fmt, 44100);
    put32le(fmt, 44100u * 2 * channels);
    put16le(fmt, static_cast<std::uint32_t>(2 * channels));
    put16le(fmt, 16);
    std::string data;
    for (int k = 0; k < frames; ++k)
        for (int c = 0; c < channels; ++c)
            put16le(data, static_cast<std::uint16_t>(builtSample(c, k)));
    std::string body = "WAVE" + riffChunk("fmt ", fmt) + extra + riffChunk("data", data) + tail;
    std::string file = "RIFF";
    put32le(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

// A 'LIST' chunk of type `type` holding the given subchunk bytes as they are.
inline std::string riffList(const char* type, const std::string& subchunks) {
    return riffChunk("LIST", std::string(type, 4) + subchunks);
}

// A subchunk with an identifier and a size field that need not match its body.
inline std::string forgedSubchunk(const char* id, std::uint32_t size, const std::string& body) {
    std::string c(id, 4);
    put32le(c, size);
    return c + body;
}

// A channel layout as AIFF 'CHAN' and CAF 'chan' chunks store it.
inline std::string layoutBody(std::uint32_t tag, std::uint32_t bitmap, const std::uint32_t* labels = nullptr,
                              int count = 0) {
    std::string b;
    put32be(b, tag);
    put32be(b, bitmap);
    put32be(b, static_cast<std::uint32_t>(count));
    for (int i = 0; i < count; ++i) {
        put32be(b, labels[i]);
        put32be(b, 0); // flags
        for (int k = 0; k < 3; ++k)
            put32be(b, 0); // coordinates
    }
    return b;
}

// A 16-bit AIFF file at 44100 Hz; `beforeComm` and `afterComm` chunks go
// around the 'COMM' chunk.
inline std::string builtAiff(int channels, int frames, const std::string& beforeComm, const std::string& afterComm) {
    std::string comm;
    put16be(comm, static_cast<std::uint32_t>(channels));
    put32be(comm, static_cast<std::uint32_t>(frames));
    put16be(comm, 16);
    comm += std::string("\x40\x0E\xAC\x44\0\0\0\0\0\0", 10); // 44100 as an 80-bit extended number
    std::string ssnd;
    put32be(ssnd, 0);
    put32be(ssnd, 0);
    for (int k = 0; k < frames; ++k)
        for (int c = 0; c < channels; ++c)
            put16be(ssnd, static_cast<std::uint16_t>(builtSample(c, k)));
    std::string body = "AIFF" + beforeComm + formChunk("COMM", comm) + afterComm + formChunk("SSND", ssnd);
    std::string file = "FORM";
    put32be(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

inline std::string cafChunk(const char* type, const std::string& body) {
    std::string c(type, 4);
    put64be(c, body.size());
    return c + body;
}

// A big-endian 16-bit CAF file at 44100 Hz with `extra` chunks before the data.
inline std::string builtCaf(int channels, int frames, const std::string& extra) {
    std::string desc;
    putF64be(desc, 44100.0);
    desc += "lpcm";
    put32be(desc, 0); // big-endian signed integers
    put32be(desc, static_cast<std::uint32_t>(2 * channels));
    put32be(desc, 1);
    put32be(desc, static_cast<std::uint32_t>(channels));
    put32be(desc, 16);
    std::string data;
    put32be(data, 0); // edit count
    for (int k = 0; k < frames; ++k)
        for (int c = 0; c < channels; ++c)
            put16be(data, static_cast<std::uint16_t>(builtSample(c, k)));
    std::string file = "caff";
    put16be(file, 1);
    put16be(file, 0);
    return file + cafChunk("desc", desc) + extra + cafChunk("data", data);
}

// A CAF 'mark' chunk body with markers at the given positions (ids 1, 2, ...).
inline std::string cafMarkers(const double* positions, int count) {
    std::string b;
    put32be(b, 0);
    put32be(b, static_cast<std::uint32_t>(count));
    for (int i = 0; i < count; ++i) {
        put32be(b, 0);
        putF64be(b, positions[i]);
        put32be(b, static_cast<std::uint32_t>(i + 1));
        put64be(b, 0);
        put32be(b, 0);
    }
    return b;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace testsupport
