#include "platform/AudioFile.h"

#include "platform/Values.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sndfile.h>
#include <sys/stat.h>

namespace platform::audio {

namespace {

// Enough for any real file; a forged header cannot make the walk run long.
constexpr std::size_t kMaxChunks = 4096;

struct File {
    explicit File(const std::string& path) : f(std::fopen(path.c_str(), "rb")) {}
    ~File() {
        if (f) std::fclose(f);
    }
    bool readAt(std::int64_t pos, void* out, std::size_t n) {
        return f && fseeko(f, pos, SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
    }
    std::FILE* f;
};

std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
std::uint32_t le32(const unsigned char* p) {
    return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
}
std::int64_t be64(const unsigned char* p) {
    return static_cast<std::int64_t>((std::uint64_t(be32(p)) << 32) | be32(p + 4));
}

bool printable(const unsigned char* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7e) return false;
    return true;
}

// RIFF / FORM style: 4-byte identifier, 4-byte size, data padded to even length.
void walkIffChunks(File& file, std::int64_t fileSize, bool bigEndian, ContainerInfo& info) {
    std::int64_t pos = 12;
    unsigned char h[16];
    while (pos + 8 <= fileSize && info.chunkIDs.size() < kMaxChunks && file.readAt(pos, h, 8)) {
        FourCharCode id = be32(h);
        std::int64_t size = bigEndian ? be32(h + 4) : le32(h + 4);
        info.chunkIDs.push_back(id);
        const std::int64_t body = pos + 8;
        if (id == fourcc("data") && info.dataOffset < 0) {
            info.dataOffset = body;
            info.dataByteCount = std::min(size, fileSize - body);
        } else if (id == fourcc("SSND") && info.dataOffset < 0 && size >= 8 && file.readAt(body, h, 8)) {
            std::int64_t offset = be32(h);
            info.dataOffset = std::min(body + 8 + offset, fileSize);
            info.dataByteCount = std::max<std::int64_t>(
                0, std::min(size - 8 - offset, fileSize - info.dataOffset));
        }
        pos = body + size + (size & 1);
    }
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

// Largest chunk body we load into memory for markers, regions and strings.
constexpr std::int64_t kMaxTableChunk = 1 << 22;
constexpr std::uint32_t kMaxTableEntries = 65536;

bool loadBody(File& file, std::int64_t body, std::int64_t size, std::int64_t fileSize,
              std::vector<unsigned char>& out) {
    if (size < 0 || size > kMaxTableChunk || body + size > fileSize) return false;
    out.resize(static_cast<std::size_t>(size));
    return size == 0 || file.readAt(body, out.data(), out.size());
}

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
    std::vector<unsigned char> mark, regn, strg;
    while (pos + 12 <= fileSize && info.chunkIDs.size() < kMaxChunks && file.readAt(pos, h, 12)) {
        FourCharCode id = be32(h);
        std::int64_t size = be64(h + 4);
        info.chunkIDs.push_back(id);
        const std::int64_t body = pos + 12;
        if (id == fourcc("desc") && size >= 32 && file.readAt(body, h, 32)) {
            info.hasCafDescription = true;
            info.cafFormatID = be32(h + 8);
            info.cafFormatFlags = be32(h + 12);
        } else if (id == fourcc("data") && info.dataOffset < 0) {
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
        }
        if (size < 0 || size > fileSize - body) break; // runs to (or past) the end
        pos = body + size;
    }
    parseCafTables(mark, regn, strg, info);
}

int sampleBits(int sub) {
    switch (sub) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: return 8;
    case SF_FORMAT_PCM_16: return 16;
    case SF_FORMAT_PCM_24: return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: return 32;
    case SF_FORMAT_DOUBLE: return 64;
    default: return 0;
    }
}

AudioStreamBasicDescription describe(const SF_INFO& sf, const ContainerInfo& c) {
    AudioStreamBasicDescription d;
    const int major = sf.format & SF_FORMAT_TYPEMASK;
    const int sub = sf.format & SF_FORMAT_SUBMASK;
    const auto channels = static_cast<std::uint32_t>(std::max(sf.channels, 0));
    d.mSampleRate = sf.samplerate;
    d.mChannelsPerFrame = channels;
    d.mFramesPerPacket = 1;

    bool bigEndian = false;
    if (major == SF_FORMAT_AIFF || major == SF_FORMAT_SD2) bigEndian = true;
    if (c.type == fourcc("WAVE") && major == SF_FORMAT_WAV) bigEndian = false;
    if ((sf.format & SF_FORMAT_ENDMASK) == SF_ENDIAN_BIG) bigEndian = true;
    if ((sf.format & SF_FORMAT_ENDMASK) == SF_ENDIAN_LITTLE) bigEndian = false;
    if (major == SF_FORMAT_CAF && c.hasCafDescription) bigEndian = (c.cafFormatFlags & 2) == 0;

    const int bits = sampleBits(sub);
    const bool linear = sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_16 ||
                        sub == SF_FORMAT_PCM_24 || sub == SF_FORMAT_PCM_32 || sub == SF_FORMAT_FLOAT ||
                        sub == SF_FORMAT_DOUBLE;
    if (linear) {
        d.mFormatID = kAudioFormatLinearPCM;
        const bool isFloat = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
        d.mFormatFlags = kAudioFormatFlagIsPacked;
        if (isFloat) d.mFormatFlags |= kAudioFormatFlagIsFloat;
        else if (sub != SF_FORMAT_PCM_U8) d.mFormatFlags |= kAudioFormatFlagIsSignedInteger;
        if (bigEndian) d.mFormatFlags |= kAudioFormatFlagIsBigEndian;
        d.mBitsPerChannel = static_cast<std::uint32_t>(bits);
        d.mBytesPerFrame = channels * static_cast<std::uint32_t>(bits / 8);
        d.mBytesPerPacket = d.mBytesPerFrame;
        return d;
    }
    // A codec inside the container: its own four-character code.
    switch (sub) {
    case SF_FORMAT_ULAW: d.mFormatID = fourcc("ulaw"); break;
    case SF_FORMAT_ALAW: d.mFormatID = fourcc("alaw"); break;
    case SF_FORMAT_IMA_ADPCM:
        d.mFormatID = major == SF_FORMAT_WAV ? 0x6D730011u : fourcc("ima4");
        break;
    case SF_FORMAT_MS_ADPCM: d.mFormatID = 0x6D730002u; break;
    case SF_FORMAT_GSM610: d.mFormatID = fourcc("agsm"); break;
    default: d.mFormatID = c.hasCafDescription ? c.cafFormatID : 0; break;
    }
    if (bits == 8) {
        d.mBitsPerChannel = 8;
        d.mBytesPerFrame = d.mBytesPerPacket = channels;
    }
    return d;
}

template <class T> void appendValue(std::vector<unsigned char>& out, const T& v) {
    auto* p = reinterpret_cast<const unsigned char*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}

struct InfoKey {
    int sfKey;
    const char* name;
};
constexpr InfoKey kInfoKeys[] = {
    {SF_STR_TITLE, "title"},         {SF_STR_ARTIST, "artist"},
    {SF_STR_ALBUM, "album"},         {SF_STR_COMMENT, "comments"},
    {SF_STR_COPYRIGHT, "copyright"}, {SF_STR_DATE, "year"},
    {SF_STR_GENRE, "genre"},         {SF_STR_TRACKNUMBER, "track number"},
    {SF_STR_SOFTWARE, "encoding application"},
};

} // namespace

ContainerInfo readContainerInfo(const std::string& path) {
    ContainerInfo info;
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return info;
    const std::int64_t size = st.st_size;
    File file(path);
    unsigned char h[12] = {};
    if (size < 4 || !file.readAt(0, h, size >= 12 ? 12 : 4)) return info;
    auto is = [&](int at, const char* tag) { return std::memcmp(h + at, tag, 4) == 0; };
    if (size >= 12 && is(0, "RIFF") && is(8, "WAVE")) {
        info.type = kAudioFileWAVEType;
        walkIffChunks(file, size, false, info);
    } else if (size >= 12 && is(0, "RIFX") && is(8, "WAVE")) {
        info.type = kAudioFileWAVEType;
        walkIffChunks(file, size, true, info);
    } else if (size >= 12 && is(0, "RF64") && is(8, "WAVE")) {
        info.type = kAudioFileRF64Type;
        walkIffChunks(file, size, false, info);
    } else if (size >= 12 && is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) {
        info.type = is(8, "AIFF") ? kAudioFileAIFFType : kAudioFileAIFCType;
        walkIffChunks(file, size, true, info);
    } else if (size >= 8 && is(0, "caff")) {
        info.type = kAudioFileCAFType;
        walkCafChunks(file, size, info);
    } else if (is(0, "riff")) {
        info.type = kAudioFileWave64Type;
    } else if (is(0, ".snd")) {
        info.type = kAudioFileNextType;
    } else if (is(0, "fLaC")) {
        info.type = kAudioFileFLACType;
    } else if (printable(h)) {
        info.type = be32(h);
    }
    return info;
}

OSStatus AudioFile::open(const std::string& path, AudioFile** out) {
    if (!out) return kParameterError;
    *out = nullptr;
    struct stat st{};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return kAudioFileFileNotFoundError;
    if (!S_ISREG(st.st_mode)) return kAudioFileInvalidFileError;

    SF_INFO sf{};
    // By path, not by descriptor: a Sound Designer II file's format lives in
    // a "._name" fork beside it, which libsndfile finds only from the path.
    SNDFILE* s = sf_open(path.c_str(), SFM_READ, &sf);
    ContainerInfo container = readContainerInfo(path);
    if (!s) {
        switch (container.type) {
        case kAudioFileWAVEType:
        case kAudioFileAIFFType:
        case kAudioFileAIFCType:
        case kAudioFileCAFType: return kAudioFileInvalidFileError;
        default: return kAudioFileUnsupportedFileTypeError;
        }
    }
    if (sf.channels <= 0 || sf.samplerate <= 0 || sf.frames < 0) {
        sf_close(s);
        return kAudioFileInvalidFileError;
    }
    if ((sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_SD2) {
        container.type = kAudioFileSoundDesigner2Type;
        container.dataOffset = 0;
        container.dataByteCount = st.st_size;
    }

    auto* f = new AudioFile;
    f->path_ = path;
    f->sndfile_ = s;
    f->sfFormat_ = sf.format;
    f->container_ = std::move(container);
    f->format_ = describe(sf, f->container_);
    f->frames_ = sf.frames;

    std::vector<int> map(static_cast<std::size_t>(sf.channels));
    if (sf_command(s, SFC_GET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int))) ==
        SF_TRUE)
        f->channelMap_.assign(map.begin(), map.end());
    for (const ContainerMarker& m : f->container_.cafMarkers)
        f->cues_.push_back({static_cast<std::int32_t>(m.markerID),
                            static_cast<std::uint32_t>(std::clamp(m.framePosition, 0.0, 4294967295.0)), m.name});
    std::uint32_t cueCount = 0;
    if (f->cues_.empty() && sf_command(s, SFC_GET_CUE_COUNT, &cueCount, sizeof cueCount) == SF_TRUE && cueCount > 0) {
        auto cues = std::make_unique<SF_CUES>();
        if (sf_command(s, SFC_GET_CUE, cues.get(), sizeof(SF_CUES)) == SF_TRUE) {
            for (std::uint32_t i = 0; i < std::min<std::uint32_t>(cues->cue_count, 100); ++i) {
                const SF_CUE_POINT& c = cues->cue_points[i];
                f->cues_.push_back({c.indx, c.sample_offset, std::string(c.name, strnlen(c.name, sizeof c.name))});
            }
        }
    }
    *out = f;
    return kNoErr;
}

AudioFile::~AudioFile() {
    if (sndfile_) sf_close(static_cast<SNDFILE*>(sndfile_));
}

OSStatus AudioFile::fixedProperty(FourCharCode id, std::vector<unsigned char>& out) const {
    using namespace file;
    const double rate = format_.mSampleRate;
    const std::int64_t bytes = std::max<std::int64_t>(container_.dataByteCount, 0);
    switch (id) {
    case kFileFormat: appendValue(out, container_.type); return kNoErr;
    case kDataFormat: appendValue(out, format_); return kNoErr;
    case kFormatList: {
        AudioFormatListItem item;
        item.mASBD = format_;
        item.mChannelLayoutTag = (std::uint32_t(100) << 16) | format_.mChannelsPerFrame; // unknown layout
        appendValue(out, item);
        return kNoErr;
    }
    case kMagicCookieData:
        if (container_.magicCookie.empty()) return kAudioFileUnsupportedPropertyError;
        out.insert(out.end(), container_.magicCookie.begin(), container_.magicCookie.end());
        return kNoErr;
    case kIsOptimized: appendValue(out, std::uint32_t(1)); return kNoErr;
    case kAudioDataByteCount: appendValue(out, std::uint64_t(bytes)); return kNoErr;
    case kAudioDataPacketCount: appendValue(out, std::uint64_t(frames_)); return kNoErr;
    case kMaximumPacketSize:
    case kPacketSizeUpperBound: appendValue(out, format_.mBytesPerPacket); return kNoErr;
    case kDataOffset:
        if (container_.dataOffset < 0) return kAudioFileUnsupportedPropertyError;
        appendValue(out, container_.dataOffset);
        return kNoErr;
    case kChannelLayout: {
        if (channelMap_.empty()) return kAudioFileInvalidChunkError;
        AudioChannelLayoutHeader h;
        h.mNumberChannelDescriptions = static_cast<std::uint32_t>(channelMap_.size());
        appendValue(out, h);
        for (std::int32_t label : channelMap_) {
            AudioChannelDescription d;
            d.mChannelLabel = static_cast<std::uint32_t>(label);
            appendValue(out, d);
        }
        return kNoErr;
    }
    case kDeferSizeUpdates: appendValue(out, std::uint32_t(0)); return kNoErr;
    case kMarkerList: {
        AudioFileMarkerListHeader h;
        h.mNumberMarkers = static_cast<std::uint32_t>(cues_.size());
        appendValue(out, h);
        for (const Cue& c : cues_) {
            AudioFileMarker m;
            m.mFramePosition = c.position;
            m.mMarkerID = c.id;
            appendValue(out, m); // names are attached by getProperty
        }
        return kNoErr;
    }
    case kRegionList: {
        if (container_.regions.empty()) return kAudioFileUnsupportedPropertyError;
        for (const ContainerRegion& r : container_.regions) {
            AudioFileRegion region;
            region.mRegionID = r.regionID;
            region.mFlags = r.flags;
            region.mNumberMarkers = static_cast<std::uint32_t>(r.markers.size());
            if (!r.markers.empty()) {
                region.mMarkers[0].mFramePosition = r.markers[0].framePosition;
                region.mMarkers[0].mMarkerID = static_cast<std::int32_t>(r.markers[0].markerID);
                region.mMarkers[0].mType = r.markers[0].type;
                region.mMarkers[0].mChannel = static_cast<std::uint16_t>(r.markers[0].channel);
            }
            appendValue(out, region); // names are attached by getProperty
        }
        return kNoErr;
    }
    case kChunkIDs:
        for (FourCharCode c : container_.chunkIDs) appendValue(out, c);
        return kNoErr;
    case kInfoDictionary: appendValue(out, static_cast<void*>(nullptr)); return kNoErr;
    case kEstimatedDuration:
        appendValue(out, rate > 0 ? static_cast<double>(frames_) / rate : 0.0);
        return kNoErr;
    case kBitRate: {
        double seconds = rate > 0 ? static_cast<double>(frames_) / rate : 0.0;
        double bps = seconds > 0 ? static_cast<double>(bytes) * 8.0 / seconds
                                 : rate * format_.mBytesPerFrame * 8.0;
        appendValue(out, static_cast<std::uint32_t>(std::min(bps, 4294967295.0)));
        return kNoErr;
    }
    default: return kAudioFileUnsupportedPropertyError;
    }
}

OSStatus AudioFile::getPropertyInfo(FourCharCode id, std::uint32_t* size, std::uint32_t* writable) const {
    std::vector<unsigned char> bytes;
    OSStatus r = fixedProperty(id, bytes);
    if (r != kNoErr) return r;
    if (size) *size = static_cast<std::uint32_t>(bytes.size());
    if (writable) *writable = id == file::kDeferSizeUpdates ? 1 : 0;
    return kNoErr;
}

OSStatus AudioFile::getProperty(FourCharCode id, std::uint32_t* ioSize, void* data) const {
    if (!ioSize || !data) return kParameterError;
    std::vector<unsigned char> bytes;
    OSStatus r = fixedProperty(id, bytes);
    if (r != kNoErr) return r;
    if (id == file::kInfoDictionary) {
        if (*ioSize < sizeof(void*)) return kAudioFileBadPropertySizeError;
        auto* d = MutableDictionary::create();
        auto* s = static_cast<SNDFILE*>(sndfile_);
        for (const InfoKey& k : kInfoKeys) {
            if (const char* text = sf_get_string(s, k.sfKey); text && *text) {
                Ref<String> v = Ref<String>::adopt(String::create(text));
                d->setObject(v.get(), k.name);
            }
        }
        double seconds = format_.mSampleRate > 0 ? static_cast<double>(frames_) / format_.mSampleRate : 0;
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", seconds);
        Ref<String> duration = Ref<String>::adopt(String::create(text));
        d->setObject(duration.get(), "approximate duration in seconds");
        Object* ref = d;
        std::memcpy(data, &ref, sizeof ref);
        *ioSize = sizeof ref;
        return kNoErr;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(*ioSize, bytes.size()));
    std::memcpy(data, bytes.data(), n);
    *ioSize = n;
    if (id == file::kMarkerList) {
        // Attach each marker's name (+1 for the caller) where it fits whole.
        auto* base = static_cast<unsigned char*>(data);
        for (std::size_t i = 0; i < cues_.size(); ++i) {
            std::size_t at = sizeof(AudioFileMarkerListHeader) + i * sizeof(AudioFileMarker);
            if (at + sizeof(AudioFileMarker) > n) break;
            String* name = String::create(cues_[i].name);
            std::memcpy(base + at + offsetof(AudioFileMarker, mName), &name, sizeof name);
        }
    }
    if (id == file::kRegionList) {
        auto* base = static_cast<unsigned char*>(data);
        for (std::size_t i = 0; i < container_.regions.size(); ++i) {
            std::size_t at = i * sizeof(AudioFileRegion);
            if (at + sizeof(AudioFileRegion) > n) break;
            if (!container_.regions[i].hasName) continue;
            String* name = String::create(container_.regions[i].name);
            std::memcpy(base + at + offsetof(AudioFileRegion, mName), &name, sizeof name);
        }
    }
    return kNoErr;
}

OSStatus AudioFile::readFloat(std::uint32_t* ioFrames, float* interleaved) {
    if (!ioFrames || (!interleaved && *ioFrames)) return kParameterError;
    sf_count_t got = sf_readf_float(static_cast<SNDFILE*>(sndfile_), interleaved, *ioFrames);
    if (got < 0) {
        *ioFrames = 0;
        return kAudioFileInvalidFileError;
    }
    *ioFrames = static_cast<std::uint32_t>(got);
    return kNoErr;
}

OSStatus AudioFile::seek(std::int64_t frame) {
    return sf_seek(static_cast<SNDFILE*>(sndfile_), frame, SEEK_SET) < 0 ? kParameterError : kNoErr;
}

} // namespace platform::audio
