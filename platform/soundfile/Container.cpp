#include "platform/soundfile/Container.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sys/stat.h>

namespace platform::audio {

namespace {

// Chunk identifiers kept for the information record; the walk itself goes on
// to the end of the file (a forged header cannot make it run long: every
// step moves at least eight bytes).
constexpr std::size_t kMaxChunkIDs = 4096;

// Reads through a small window, so that walking many small chunks or list
// entries costs one system call per window, not per step.
struct File {
    explicit File(const std::string& path) : f(std::fopen(path.c_str(), "rb")) {}
    ~File() {
        if (f) std::fclose(f);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool readAt(std::int64_t pos, void* out, std::size_t n) {
        if (!f || pos < 0) return false;
        if (n > window.size()) return fseeko(f, pos, SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
        if (pos < windowAt || pos + std::int64_t(n) > windowAt + std::int64_t(windowSize)) {
            if (fseeko(f, pos, SEEK_SET) != 0) return false;
            windowAt = pos;
            windowSize = std::fread(window.data(), 1, window.size(), f);
            if (std::int64_t(n) > std::int64_t(windowSize)) return false;
        }
        std::memcpy(out, window.data() + (pos - windowAt), n);
        return true;
    }
    std::FILE* f;
    std::vector<unsigned char> window = std::vector<unsigned char>(1 << 16);
    std::int64_t windowAt = -1;
    std::size_t windowSize = 0;
};

std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
std::uint32_t le32(const unsigned char* p) {
    return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
}
std::int64_t le64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return static_cast<std::int64_t>(v);
}

std::int64_t be64(const unsigned char* p) {
    return static_cast<std::int64_t>((std::uint64_t(be32(p)) << 32) | be32(p + 4));
}
float beFloat(const unsigned char* p) {
    const std::uint32_t bits = be32(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

bool printable(const unsigned char* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7e) return false;
    return true;
}

// Largest chunk body we load into memory for layouts, markers, regions and
// strings.
constexpr std::int64_t kMaxTableChunk = 1 << 22;
constexpr std::uint32_t kMaxTableEntries = 65536;

bool loadBody(File& file, std::int64_t body, std::int64_t size, std::int64_t fileSize,
              std::vector<unsigned char>& out) {
    if (size < 0 || size > kMaxTableChunk || body > fileSize || size > fileSize - body) return false;
    out.resize(static_cast<std::size_t>(size));
    return size == 0 || file.readAt(body, out.data(), out.size());
}

// A channel layout stored as Core Audio writes it: tag, bitmap, description
// count, then (label, flags, three coordinates) per description, big-endian.
// Descriptions the body cannot hold are not invented.
void parseLayout(const std::vector<unsigned char>& b, ContainerChannelLayout& out) {
    if (b.size() < 12) return;
    out.present = true;
    out.header.mChannelLayoutTag = be32(b.data());
    out.header.mChannelBitmap = be32(b.data() + 4);
    const std::size_t room = (b.size() - 12) / sizeof(AudioChannelDescription);
    const std::size_t n = std::min<std::size_t>({be32(b.data() + 8), room, kMaxTableEntries});
    out.descriptions.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char* d = b.data() + 12 + i * 20;
        out.descriptions[i].mChannelLabel = be32(d);
        out.descriptions[i].mChannelFlags = be32(d + 4);
        for (int k = 0; k < 3; ++k)
            out.descriptions[i].mCoordinates[k] = beFloat(d + 8 + 4 * k);
    }
    out.header.mNumberChannelDescriptions = static_cast<std::uint32_t>(n);
}

// An extensible WAV format (tag 0xFFFE) names its speakers with a bitmap.
void parseWaveFormat(const std::vector<unsigned char>& b, bool bigEndian, ContainerChannelLayout& out) {
    if (b.size() < 24) return;
    auto u16 = [&](std::size_t at) {
        return bigEndian ? (unsigned(b[at]) << 8 | b[at + 1]) : (unsigned(b[at + 1]) << 8 | b[at]);
    };
    if (u16(0) != 0xFFFE || u16(16) < 22) return;
    const std::uint32_t mask = bigEndian ? be32(b.data() + 20) : le32(b.data() + 20);
    if (mask == 0) return;
    out.present = true;
    out.header.mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelBitmap;
    out.header.mChannelBitmap = mask;
}

constexpr FourCharCode kLIST = fourcc("LIST"), kINFO = fourcc("INFO"), kAdtl = fourcc("adtl"), kExif = fourcc("exif"),
                       kData = fourcc("data");

// Walks a RIFF list body the way a list parser steps through it: the markers
// 'INFO' and 'adtl' are four bytes without a size; 'data' or a zero word ends
// the list; any other word is a subchunk identifier followed by its size. A
// size of 2 GB or more is a hazard (as a signed jump it goes backwards). A
// subchunk that overruns the list ends it. After an 'exif' marker the rest is
// checked at every byte offset, since its own parser moves by its contents.
bool listIsHazardous(File& file, std::int64_t body, std::int64_t length, bool bigEndian) {
    if (length <= 8) return false;
    auto word = [&](const unsigned char* at) { return bigEndian ? be32(at) : le32(at); };
    const std::int64_t end = body + length;
    std::int64_t p = body;
    unsigned char h[8];
    while (p + 4 <= end && file.readAt(p, h, 4)) {
        const FourCharCode marker = be32(h);
        p += 4;
        if (marker == kINFO || marker == kAdtl) continue;
        if (marker == kData || marker == 0) return false;
        if (marker == kExif) {
            std::vector<unsigned char> rest;
            if (!loadBody(file, p, std::min<std::int64_t>(end - p, kMaxTableChunk), end, rest)) return false;
            for (std::size_t at = 0; at + 8 <= rest.size(); ++at)
                if (word(rest.data() + at + 4) >= 0x80000000u) return true;
            return false;
        }
        if (p + 4 > end || !file.readAt(p, h, 4)) return false;
        const std::uint32_t size = word(h);
        p += 4;
        if (size >= 0x80000000u) return true;
        const std::int64_t padded = std::int64_t(size) + (size & 1);
        if (padded > end - p) return false;
        p += padded;
    }
    return false;
}

// The longest marker name kept; the rest of a longer one is not read.
constexpr std::size_t kMaxNameBytes = 4096;

// Text up to its first zero byte, if any.
std::string textUpToZero(const unsigned char* p, std::size_t n) {
    const char* text = reinterpret_cast<const char*>(p);
    return std::string(text, strnlen(text, n));
}

// What a WAVE file says of its cue points, gathered over the walk: the
// points of its 'cue ' chunk, and the labels and lengths that 'LIST'/'adtl'
// subchunks give them by cue identifier (a list may come before or after
// the cue chunk).
struct CueTable {
    struct Point {
        std::uint32_t id;
        std::uint32_t offset;
    };
    bool read = false;
    std::vector<Point> points;
    std::map<std::uint32_t, std::string> labels; // 'labl'
    std::map<std::uint32_t, std::string> texts;  // an 'ltxt''s own text
    std::map<std::uint32_t, std::uint32_t> lengths;
};

// 'cue ': a count, then 24 bytes a point: identifier, play position, chunk
// identifier, chunk start, block start, sample offset. The sample offset is
// the frame (as libsndfile reads it too).
void parseCueChunk(const std::vector<unsigned char>& b, bool bigEndian, CueTable& cues) {
    if (b.size() < 4) return;
    auto word = [&](std::size_t at) { return bigEndian ? be32(b.data() + at) : le32(b.data() + at); };
    const std::size_t n = std::min<std::size_t>({word(0), (b.size() - 4) / 24, kMaxCuePoints});
    cues.read = true;
    cues.points.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = 4 + i * 24;
        cues.points.push_back({word(at), word(at + 20)});
    }
}

// The subchunks of a 'LIST'/'adtl' body: 'labl' (identifier, text), 'ltxt'
// (identifier, sample length, purpose, country, language, dialect, code
// page, text); 'note' and anything else is passed over. A subchunk that
// overruns the list ends it.
void parseAssociatedData(File& file, std::int64_t body, std::int64_t length, bool bigEndian, CueTable& cues) {
    const std::int64_t end = body + length;
    std::int64_t p = body + 4; // past 'adtl'
    unsigned char h[8];
    std::vector<unsigned char> sub;
    for (std::uint32_t steps = 0; p + 8 <= end && steps < 4 * kMaxCuePoints && file.readAt(p, h, 8); ++steps) {
        const FourCharCode id = be32(h);
        const std::int64_t size = bigEndian ? be32(h + 4) : le32(h + 4);
        const std::int64_t at = p + 8;
        if (size > end - at) return;
        p = at + size + (size & 1);
        const bool label = id == fourcc("labl"), text = id == fourcc("ltxt");
        if ((!label && !text) || size < (label ? 4 : 20)) continue;
        sub.resize(static_cast<std::size_t>(std::min<std::int64_t>(size, 20 + kMaxNameBytes)));
        if (!file.readAt(at, sub.data(), sub.size())) return;
        auto word = [&](std::size_t k) { return bigEndian ? be32(sub.data() + k) : le32(sub.data() + k); };
        const std::uint32_t cue = word(0);
        if (label && cues.labels.size() < kMaxCuePoints) {
            cues.labels.emplace(cue, textUpToZero(sub.data() + 4, sub.size() - 4));
        } else if (text && cues.lengths.size() < kMaxCuePoints) {
            cues.lengths.emplace(cue, word(4));
            cues.texts.emplace(cue, textUpToZero(sub.data() + 20, sub.size() - 20));
        }
    }
}

// Cue points become markers named by their labels, or regions where an
// 'ltxt' gives them a length (from the start to one past the last frame).
void finishCueTable(const CueTable& cues, ContainerInfo& info) {
    if (!cues.read) return;
    info.cueTableRead = true;
    for (const CueTable::Point& point : cues.points) {
        std::string name;
        bool named = false;
        if (auto l = cues.labels.find(point.id); l != cues.labels.end()) {
            name = l->second;
            named = true;
        } else if (auto t = cues.texts.find(point.id); t != cues.texts.end() && !t->second.empty()) {
            name = t->second;
            named = true;
        }
        const auto length = cues.lengths.find(point.id);
        if (length == cues.lengths.end() || length->second == 0) {
            ContainerMarker m;
            m.framePosition = point.offset;
            m.markerID = point.id;
            m.name = std::move(name);
            info.cuePoints.push_back(std::move(m));
            continue;
        }
        ContainerRegion r;
        r.regionID = point.id;
        r.name = std::move(name);
        r.hasName = named;
        ContainerMarker start, end;
        start.type = kRegionStartMarkerType;
        start.framePosition = point.offset;
        start.markerID = point.id;
        end.type = kRegionEndMarkerType;
        end.framePosition = double(point.offset) + double(length->second);
        end.markerID = point.id;
        r.markers = {start, end};
        info.regions.push_back(std::move(r));
    }
}

// AIFF 'MARK': a count, then per marker a 16-bit identifier, a 32-bit
// position and a Pascal string padded to an even length. Zero bytes that
// some writers count into the string do not belong to the name.
void parseAiffMarkers(const std::vector<unsigned char>& b, ContainerInfo& info) {
    if (b.size() < 2) return;
    info.cueTableRead = true;
    const std::uint32_t n = std::min<std::uint32_t>((std::uint32_t(b[0]) << 8) | b[1], kMaxCuePoints);
    std::size_t at = 2;
    for (std::uint32_t i = 0; i < n && at + 7 <= b.size(); ++i) {
        ContainerMarker m;
        m.markerID = (std::uint32_t(b[at]) << 8) | b[at + 1];
        m.framePosition = be32(b.data() + at + 2);
        const std::size_t length = b[at + 6];
        if (at + 7 + length > b.size()) break;
        m.name = textUpToZero(b.data() + at + 7, length);
        info.cuePoints.push_back(std::move(m));
        at += 7 + length + ((length + 1) & 1);
    }
}

// RIFF / FORM style: 4-byte identifier, 4-byte size, data padded to even length.
void walkIffChunks(File& file, std::int64_t fileSize, bool bigEndian, ContainerInfo& info) {
    const bool wide = info.type == kAudioFileRF64Type || info.type == kAudioFileBW64Type;
    const bool riff = info.type == kAudioFileWAVEType || wide;
    std::int64_t pos = 12;
    unsigned char h[32];
    std::vector<unsigned char> body;
    bool haveLayout = false;
    std::int64_t wideDataSize = -1; // the data size a 'ds64' chunk gives
    CueTable cues;
    while (pos + 8 <= fileSize && file.readAt(pos, h, 8)) {
        FourCharCode id = be32(h);
        std::int64_t size = bigEndian ? be32(h + 4) : le32(h + 4);
        if (wide && id == fourcc("ds64") && size >= 24 && file.readAt(pos + 8, h + 8, 24)) {
            const std::int64_t dataSize = le64(h + 16);
            // No chunk is longer than the file: a larger claim is cut to it
            // (and the walk's arithmetic stays far from overflowing).
            if (dataSize >= 0) wideDataSize = std::min(dataSize, fileSize);
        }
        // In RF64 a size of 0xFFFFFFFF says "see ds64".
        if (wide && id == kData && size == 0xFFFFFFFFll && wideDataSize >= 0) size = wideDataSize;
        if (info.chunkIDs.size() < kMaxChunkIDs) info.chunkIDs.push_back(id);
        const std::int64_t bodyAt = pos + 8;
        const std::int64_t present = std::min(size, fileSize - bodyAt);
        if (id == kData && info.dataOffset < 0) {
            info.dataOffset = bodyAt;
            info.dataByteCount = present;
        } else if (id == fourcc("SSND") && info.dataOffset < 0 && size >= 8 && file.readAt(bodyAt, h, 8)) {
            std::int64_t offset = be32(h);
            info.dataOffset = std::min(bodyAt + 8 + offset, fileSize);
            info.dataByteCount = std::max<std::int64_t>(0, std::min(size - 8 - offset, fileSize - info.dataOffset));
        } else if (riff && (id == kLIST || id == kINFO)) {
            if (listIsHazardous(file, bodyAt, present, bigEndian)) info.hazard = DecoderHazard::listSubchunkSize;
            if (id == kLIST && present >= 4 && file.readAt(bodyAt, h, 4) && be32(h) == kAdtl)
                parseAssociatedData(file, bodyAt, present, bigEndian, cues);
        } else if (riff && id == fourcc("cue ") && !cues.read && loadBody(file, bodyAt, present, fileSize, body)) {
            parseCueChunk(body, bigEndian, cues);
        } else if (!riff && id == fourcc("MARK") && !info.cueTableRead &&
                   loadBody(file, bodyAt, present, fileSize, body)) {
            parseAiffMarkers(body, info);
        } else if (!haveLayout && riff && id == fourcc("fmt ") && loadBody(file, bodyAt, present, fileSize, body)) {
            parseWaveFormat(body, bigEndian, info.channelLayout);
            haveLayout = true;
        } else if (!haveLayout && !riff && id == fourcc("CHAN") && loadBody(file, bodyAt, present, fileSize, body)) {
            parseLayout(body, info.channelLayout);
            haveLayout = true;
        }
        pos = bodyAt + size + (size & 1);
    }
    finishCueTable(cues, info);
}

// Bounds-checked reads from a chunk body held in memory.
struct Cursor {
    const std::vector<unsigned char>& b;
    std::size_t at = 0;
    bool ok = true;
    std::uint32_t u32() {
        if (at + 4 > b.size()) return ok = false, 0;
        std::uint32_t v = be32(b.data() + at);
        at += 4;
        return v;
    }
    std::int64_t i64() {
        if (at + 8 > b.size()) return ok = false, 0;
        std::int64_t v = be64(b.data() + at);
        at += 8;
        return v;
    }
    double f64() {
        std::int64_t bits = i64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
};

bool readCafMarker(Cursor& c, ContainerMarker& m) {
    m.type = c.u32();
    m.framePosition = c.f64();
    m.markerID = c.u32();
    c.i64(); // SMPTE time
    m.channel = c.u32();
    return c.ok;
}

// 'strg': entry count, (id, offset) entries, then zero-terminated UTF-8 texts.
std::vector<std::pair<std::uint32_t, std::string>> parseCafStrings(const std::vector<unsigned char>& body) {
    std::vector<std::pair<std::uint32_t, std::string>> out;
    Cursor c{body};
    std::uint32_t n = std::min(c.u32(), kMaxTableEntries);
    const std::size_t textStart = 4 + std::size_t(n) * 12;
    for (std::uint32_t i = 0; i < n && c.ok; ++i) {
        std::uint32_t id = c.u32();
        std::int64_t offset = c.i64();
        if (!c.ok || offset < 0 || textStart + std::uint64_t(offset) >= body.size()) continue;
        const char* text = reinterpret_cast<const char*>(body.data() + textStart + offset);
        out.emplace_back(id, std::string(text, strnlen(text, body.size() - textStart - offset)));
    }
    return out;
}

void parseCafTables(const std::vector<unsigned char>& mark, const std::vector<unsigned char>& regn,
                    const std::vector<unsigned char>& strg, ContainerInfo& info) {
    auto strings = parseCafStrings(strg);
    auto nameOf = [&](std::uint32_t id, std::string& name) {
        for (auto& [sid, text] : strings)
            if (sid == id) return name = text, true;
        return false;
    };
    if (!mark.empty()) {
        Cursor c{mark};
        c.u32(); // SMPTE time type
        std::uint32_t n = std::min(c.u32(), kMaxTableEntries);
        for (std::uint32_t i = 0; i < n && c.ok; ++i) {
            ContainerMarker m;
            if (!readCafMarker(c, m)) break;
            nameOf(m.markerID, m.name);
            info.cafMarkers.push_back(std::move(m));
        }
    }
    if (!regn.empty()) {
        Cursor c{regn};
        c.u32();
        std::uint32_t n = std::min(c.u32(), kMaxTableEntries);
        for (std::uint32_t i = 0; i < n && c.ok; ++i) {
            ContainerRegion r;
            r.regionID = c.u32();
            std::uint32_t nameID = c.u32();
            r.flags = c.u32();
            std::uint32_t markers = c.u32();
            if (!c.ok || markers > (regn.size() - c.at) / 28) break;
            for (std::uint32_t k = 0; k < markers; ++k) {
                ContainerMarker m;
                if (!readCafMarker(c, m)) break;
                r.markers.push_back(m);
            }
            if (!c.ok) break;
            r.hasName = nameOf(nameID, r.name);
            info.regions.push_back(std::move(r));
        }
    }
}

// CAF: 4-byte type, 8-byte signed size; a data chunk of size -1 runs to the end.
void walkCafChunks(File& file, std::int64_t fileSize, ContainerInfo& info) {
    std::int64_t pos = 8;
    unsigned char h[32];
    std::vector<unsigned char> mark, regn, strg, chan;
    while (pos + 12 <= fileSize && file.readAt(pos, h, 12)) {
        FourCharCode id = be32(h);
        std::int64_t size = be64(h + 4);
        if (info.chunkIDs.size() < kMaxChunkIDs) info.chunkIDs.push_back(id);
        const std::int64_t body = pos + 12;
        if (id == fourcc("desc") && size >= 32 && file.readAt(body, h, 32)) {
            info.hasCafDescription = true;
            info.cafFormatID = be32(h + 8);
            info.cafFormatFlags = be32(h + 12);
        } else if (id == kData && info.dataOffset < 0) {
            info.dataOffset = std::min(body + 4, fileSize); // after the edit count
            std::int64_t rest = fileSize - info.dataOffset;
            info.dataByteCount = size < 0 ? rest : std::max<std::int64_t>(0, std::min(size - 4, rest));
        } else if (id == fourcc("mark") && mark.empty()) {
            if (!loadBody(file, body, size, fileSize, mark)) mark.clear();
        } else if (id == fourcc("regn") && regn.empty()) {
            if (!loadBody(file, body, size, fileSize, regn)) regn.clear();
        } else if (id == fourcc("kuki") && info.magicCookie.empty()) {
            if (!loadBody(file, body, size, fileSize, info.magicCookie)) info.magicCookie.clear();
        } else if (id == fourcc("strg") && strg.empty()) {
            if (!loadBody(file, body, size, fileSize, strg)) strg.clear();
        } else if (id == fourcc("chan") && chan.empty()) {
            if (loadBody(file, body, size, fileSize, chan)) parseLayout(chan, info.channelLayout);
        }
        if (size < 0 || size > fileSize - body) break; // runs to (or past) the end
        pos = body + size;
    }
    parseCafTables(mark, regn, strg, info);
}

// Sony Wave64: chunks named by 16-byte GUIDs (the first four bytes read as
// the RIFF names they stand for), with 64-bit sizes that count the 24-byte
// header, each starting on an 8-byte boundary.
void walkW64Chunks(File& file, std::int64_t fileSize, ContainerInfo& info) {
    static const unsigned char kDataGuid[16] = {'d',  'a',  't',  'a',  0xf3, 0xac, 0xd3, 0x11,
                                                0x8c, 0xd1, 0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a};
    std::int64_t pos = 40; // past the riff and wave GUIDs and the file size
    unsigned char h[24];
    while (pos + 24 <= fileSize && file.readAt(pos, h, sizeof h)) {
        const std::int64_t size = le64(h + 16);
        if (info.chunkIDs.size() < kMaxChunkIDs) info.chunkIDs.push_back(be32(h));
        const std::int64_t body = pos + 24;
        if (std::memcmp(h, kDataGuid, 16) == 0 && info.dataOffset < 0) {
            info.dataOffset = body;
            info.dataByteCount = std::clamp<std::int64_t>(size - 24, 0, fileSize - body);
        }
        if (size < 24 || size > fileSize - pos) break;
        pos += (size + 7) & ~std::int64_t(7);
    }
}

// Magic numbers of the streams other decoders know, from the first 12 bytes.
FourCharCode foreignType(const unsigned char* h, std::int64_t size) {
    auto is = [&](int at, const char* tag) { return std::memcmp(h + at, tag, 4) == 0; };
    if (is(0, "riff")) return kAudioFileWave64Type;
    if (is(0, ".snd")) return kAudioFileNextType;
    if (is(0, "fLaC")) return kAudioFileFLACType;
    if (is(0, "OggS")) return kAudioFileOggType;
    if (size >= 12 && is(0, "RF64") && is(8, "WAVE")) return kAudioFileRF64Type;
    if (size >= 12 && is(4, "ftyp")) {
        if (is(8, "M4A ") || is(8, "M4B ")) return kAudioFileM4AType;
        if (std::memcmp(h + 8, "3gp", 3) == 0) return kAudioFile3GPType;
        if (std::memcmp(h + 8, "3g2", 3) == 0) return kAudioFile3GP2Type;
        return kAudioFileMPEG4Type;
    }
    if (std::memcmp(h, "#!AMR", 5) == 0) return kAudioFileAMRType;
    if (std::memcmp(h, "ID3", 3) == 0) return kAudioFileMP3Type;
    if (h[0] == 0x0B && h[1] == 0x77) return kAudioFileAC3Type;
    if (h[0] == 0xFF && (h[1] & 0xE0) == 0xE0) {
        // Twelve (ADTS) or eleven (MPEG audio) sync bits, then the layer.
        const unsigned layer = (h[1] >> 1) & 3;
        if ((h[1] & 0xF6) == 0xF0) return kAudioFileAAC_ADTSType;
        if (layer == 1) return kAudioFileMP3Type;
        if (layer == 2) return kAudioFileMP2Type;
        if (layer == 3) return kAudioFileMP1Type;
    }
    return 0;
}

} // namespace

std::string soundDesignerResourceFork(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    struct stat st {};
    for (const std::string& fork : {dir + "._" + name, dir + ".AppleDouble/" + name})
        if (::stat(fork.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return fork;
    return "";
}

bool resourceForkHeaderIsSound(const std::string& forkPath) {
    struct stat st {};
    if (::stat(forkPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= 0x7FFFFFFF) return false;
    File file(forkPath);
    unsigned char h[16];
    if (!file.readAt(0, h, sizeof h)) return false;
    // Data offset, map offset, data length, map length: signed 32-bit words.
    auto word = [&](int i) { return std::int64_t(static_cast<std::int32_t>(be32(h + 4 * i))); };
    std::int64_t base = 0;
    if (word(0) == 0x51607 && word(1) == 0x20000) {
        // An AppleDouble file as macOS writes "._name": the fork starts at 0x52.
        base = 0x52;
        if (!file.readAt(base, h, sizeof h)) return false;
    }
    const std::int64_t dataOffset = word(0), mapOffset = word(1), dataLength = word(2), mapLength = word(3);
    if (dataOffset < 0 || mapOffset < 0 || dataLength < 0 || mapLength < 0) return false;
    return base + dataOffset + dataLength == base + mapOffset &&
           base + mapOffset + mapLength == std::int64_t(st.st_size);
}

bool isDecodableContainer(FourCharCode type) {
    return type == kAudioFileWAVEType || type == kAudioFileRF64Type || type == kAudioFileBW64Type ||
           type == kAudioFileAIFFType || type == kAudioFileCAFType || type == kAudioFileWave64Type ||
           type == kAudioFileFLACType || type == kAudioFileOggType || isMpegAudioContainer(type);
}

bool isMpegAudioContainer(FourCharCode type) {
    return type == kAudioFileMP1Type || type == kAudioFileMP2Type || type == kAudioFileMP3Type;
}

bool isKnownForeignContainer(FourCharCode type) {
    switch (type) {
    case kAudioFileAIFCType:
    case kAudioFileNextType:
    case kAudioFileAAC_ADTSType:
    case kAudioFileMPEG4Type:
    case kAudioFileM4AType:
    case kAudioFile3GPType:
    case kAudioFile3GP2Type:
    case kAudioFileAMRType:
    case kAudioFileAC3Type:
        return true;
    default:
        return false;
    }
}

// A FLAC file's metadata blocks: the chunks of the WAV file it was made
// from, where flac's --keep-foreign-metadata (or our export) kept them in
// APPLICATION blocks of id "riff", give its cue points and their labels.
void walkFlacBlocks(File& file, std::int64_t fileSize, ContainerInfo& info) {
    std::int64_t pos = 4;
    unsigned char h[16];
    std::vector<unsigned char> body;
    CueTable cues;
    for (int steps = 0; steps < 10000 && pos + 4 <= fileSize && file.readAt(pos, h, 4); ++steps) {
        const std::int64_t length = std::int64_t(h[1]) << 16 | std::int64_t(h[2]) << 8 | h[3];
        const bool last = (h[0] & 0x80) != 0;
        const std::int64_t at = pos + 4;
        pos = at + length;
        if ((h[0] & 0x7F) == 2 && length >= 12 && at + 12 <= fileSize && file.readAt(at, h + 4, 12) &&
            std::memcmp(h + 4, "riff", 4) == 0) {
            const FourCharCode id = be32(h + 8);
            const std::int64_t bodyAt = at + 12;
            const std::int64_t size = std::min<std::int64_t>(le32(h + 12), std::min(length - 12, fileSize - bodyAt));
            if (id == fourcc("cue ") && !cues.read && loadBody(file, bodyAt, size, fileSize, body))
                parseCueChunk(body, false, cues);
            else if (id == kLIST && size >= 4 && file.readAt(bodyAt, h, 4) && be32(h) == kAdtl)
                parseAssociatedData(file, bodyAt, size, false, cues);
        }
        if (last) break;
    }
    finishCueTable(cues, info);
}

ContainerInfo readContainerInfo(const std::string& path) {
    ContainerInfo info;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return info;
    const std::int64_t size = st.st_size;
    File file(path);
    unsigned char h[12] = {};
    if (size < 4 || !file.readAt(0, h, static_cast<std::size_t>(std::min<std::int64_t>(size, 12)))) return info;
    auto is = [&](int at, const char* tag) { return std::memcmp(h + at, tag, 4) == 0; };
    if (size >= 12 && is(0, "RIFF") && is(8, "WAVE")) {
        info.type = kAudioFileWAVEType;
        walkIffChunks(file, size, false, info);
    } else if (size >= 12 && is(0, "RIFX") && is(8, "WAVE")) {
        info.type = kAudioFileWAVEType;
        walkIffChunks(file, size, true, info);
    } else if (size >= 12 && (is(0, "RF64") || is(0, "BW64")) && is(8, "WAVE")) {
        info.type = is(0, "RF64") ? kAudioFileRF64Type : kAudioFileBW64Type;
        walkIffChunks(file, size, false, info);
    } else if (size >= 12 && is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) {
        info.type = is(8, "AIFF") ? kAudioFileAIFFType : kAudioFileAIFCType;
        walkIffChunks(file, size, true, info);
    } else if (size >= 40 && is(0, "riff") && h[4] == 0x2e && h[5] == 0x91) {
        info.type = kAudioFileWave64Type;
        walkW64Chunks(file, size, info);
    } else if (size >= 8 && is(0, "caff")) {
        info.type = kAudioFileCAFType;
        walkCafChunks(file, size, info);
    } else if (FourCharCode foreign = foreignType(h, size)) {
        info.type = foreign;
        if (foreign == kAudioFileFLACType) walkFlacBlocks(file, size, info);
    } else if (printable(h)) {
        info.type = be32(h);
    }
    return info;
}

} // namespace platform::audio
