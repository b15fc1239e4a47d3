// Appends hand-made chunks (markers, regions, strings, magic cookie) to a CAF
// file that libsndfile wrote, as other programs store them.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

class CafChunkWriter {
public:
    void u32(std::uint32_t v) {
        for (int i = 3; i >= 0; --i)
            body_.push_back(static_cast<char>(v >> (8 * i)));
    }
    void i64(std::int64_t v) {
        for (int i = 7; i >= 0; --i)
            body_.push_back(static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * i)));
    }
    void f64(double v) {
        std::int64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        i64(bits);
    }
    void bytes(const std::string& b) { body_ += b; }
    // A CAF marker: type, position, id, SMPTE time, channel.
    void marker(std::uint32_t type, double position, std::uint32_t id) {
        u32(type);
        f64(position);
        u32(id);
        i64(0);
        u32(0);
    }
    // Ends the chunk `type` and appends it to the file.
    void appendTo(const std::string& path, const char* type) {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(type, 4);
        std::string size;
        for (int i = 7; i >= 0; --i)
            size.push_back(static_cast<char>(std::uint64_t(body_.size()) >> (8 * i)));
        out << size << body_;
        body_.clear();
    }

private:
    std::string body_;
};

// A 'strg' chunk with the given (id, text) entries.
inline void appendCafStrings(const std::string& path, const std::vector<std::pair<std::uint32_t, std::string>>& s) {
    CafChunkWriter w;
    w.u32(static_cast<std::uint32_t>(s.size()));
    std::int64_t offset = 0;
    for (auto& [id, text] : s) {
        w.u32(id);
        w.i64(offset);
        offset += static_cast<std::int64_t>(text.size()) + 1;
    }
    for (auto& [id, text] : s)
        w.bytes(text + std::string(1, '\0'));
    w.appendTo(path, "strg");
}

} // namespace testsupport
