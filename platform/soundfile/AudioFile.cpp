#include "platform/soundfile/AudioFile.h"

#include "platform/base/Values.h"
#include "platform/soundfile/MpegDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::audio {

namespace {

int sampleBits(int sub) {
    switch (sub) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 32;
    case SF_FORMAT_DOUBLE:
        return 64;
    default:
        return 0;
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
    // FLAC, Vorbis and Opus streams are compressed whatever the sample size
    // libsndfile names for them.
    const bool compressedContainer = major == SF_FORMAT_FLAC || major == SF_FORMAT_OGG;
    const bool linear =
        !compressedContainer &&
        (sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_24 ||
         sub == SF_FORMAT_PCM_32 || sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE);
    if (linear) {
        d.mFormatID = kAudioFormatLinearPCM;
        const bool isFloat = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
        d.mFormatFlags = kAudioFormatFlagIsPacked;
        if (isFloat)
            d.mFormatFlags |= kAudioFormatFlagIsFloat;
        else if (sub != SF_FORMAT_PCM_U8)
            d.mFormatFlags |= kAudioFormatFlagIsSignedInteger;
        if (bigEndian) d.mFormatFlags |= kAudioFormatFlagIsBigEndian;
        d.mBitsPerChannel = static_cast<std::uint32_t>(bits);
        d.mBytesPerFrame = channels * static_cast<std::uint32_t>(bits / 8);
        d.mBytesPerPacket = d.mBytesPerFrame;
        return d;
    }
    // A codec inside the container: its own four-character code.
    switch (sub) {
    case SF_FORMAT_ULAW:
        d.mFormatID = fourcc("ulaw");
        break;
    case SF_FORMAT_ALAW:
        d.mFormatID = fourcc("alaw");
        break;
    case SF_FORMAT_IMA_ADPCM:
        d.mFormatID = major == SF_FORMAT_WAV ? 0x6D730011u : fourcc("ima4");
        break;
    case SF_FORMAT_MS_ADPCM:
        d.mFormatID = 0x6D730002u;
        break;
    case SF_FORMAT_GSM610:
        d.mFormatID = fourcc("agsm");
        break;
    case SF_FORMAT_VORBIS:
        d.mFormatID = fourcc("vorb");
        break;
    case SF_FORMAT_OPUS:
        d.mFormatID = fourcc("opus");
        break;
    case SF_FORMAT_ALAC_16:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_32:
        d.mFormatID = fourcc("alac");
        d.mFramesPerPacket = 4096;
        // The source's own sample size, which a save keeps.
        d.mBitsPerChannel = sub == SF_FORMAT_ALAC_16   ? 16
                            : sub == SF_FORMAT_ALAC_20 ? 20
                            : sub == SF_FORMAT_ALAC_24 ? 24
                                                       : 32;
        return d;
    default:
        if (major == SF_FORMAT_FLAC) {
            d.mFormatID = fourcc("flac");
            d.mBitsPerChannel = static_cast<std::uint32_t>(bits);
            return d;
        }
        d.mFormatID = c.hasCafDescription ? c.cafFormatID : 0;
        break;
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
    {SF_STR_TITLE, "title"},
    {SF_STR_ARTIST, "artist"},
    {SF_STR_ALBUM, "album"},
    {SF_STR_COMMENT, "comments"},
    {SF_STR_COPYRIGHT, "copyright"},
    {SF_STR_DATE, "year"},
    {SF_STR_GENRE, "genre"},
    {SF_STR_TRACKNUMBER, "track number"},
    {SF_STR_SOFTWARE, "encoding application"},
};

// A marker position as the marker list holds it; one that is not a number
// (or not finite) marks nothing.
bool cuePosition(double position, std::uint32_t& out) {
    if (!std::isfinite(position)) return false;
    out = static_cast<std::uint32_t>(std::clamp(position, 0.0, 4294967295.0));
    return true;
}

} // namespace

// A file whose first four bytes read as another magic number.
struct AudioFile::RenamedSource {
    int fd = -1;
    sf_count_t length = 0;
    sf_count_t position = 0;
    char magic[4] = {};
    ~RenamedSource() {
        if (fd >= 0) ::close(fd);
    }
};

namespace {

using Renamed = AudioFile::RenamedSource;
sf_count_t renamedLength(void* user) {
    return static_cast<Renamed*>(user)->length;
}
sf_count_t renamedSeek(sf_count_t offset, int whence, void* user) {
    auto* r = static_cast<Renamed*>(user);
    const sf_count_t base = whence == SEEK_CUR ? r->position : whence == SEEK_END ? r->length : 0;
    if (base + offset < 0) return -1;
    r->position = base + offset;
    return r->position;
}
sf_count_t renamedRead(void* out, sf_count_t count, void* user) {
    auto* r = static_cast<Renamed*>(user);
    if (count <= 0) return 0;
    const ssize_t n = ::pread(r->fd, out, static_cast<std::size_t>(count), r->position);
    if (n <= 0) return 0;
    for (sf_count_t i = r->position; i < 4 && i < r->position + n; ++i)
        static_cast<char*>(out)[i - r->position] = r->magic[i];
    r->position += n;
    return n;
}
sf_count_t renamedWrite(const void*, sf_count_t, void*) {
    return 0;
}
sf_count_t renamedTell(void* user) {
    return static_cast<Renamed*>(user)->position;
}

} // namespace

std::int64_t AudioFile::framesTheDataCanHold() const {
    if (format_.mBytesPerFrame == 0 || container_.dataByteCount < 0) return -1;
    return container_.dataByteCount / format_.mBytesPerFrame;
}

OSStatus AudioFile::open(const std::string& path, AudioFile** out) {
    if (!out) return kParameterError;
    *out = nullptr;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return kAudioFileFileNotFoundError;
    if (!S_ISREG(st.st_mode)) return kAudioFileInvalidFileError;

    ContainerInfo container = readContainerInfo(path);
    if (isKnownForeignContainer(container.type)) {
        auto* f = new AudioFile;
        f->path_ = path;
        f->container_ = std::move(container);
        *out = f;
        return kNoErr;
    }
    const bool decodable = isDecodableContainer(container.type);
    int expected = SF_FORMAT_SD2;
    if (decodable) {
        if (container.hazard != DecoderHazard::none) return kAudioFileInvalidFileError;
        // libsndfile knows a CAF file only by a description right after the header.
        if (container.type == kAudioFileCAFType &&
            (container.chunkIDs.empty() || container.chunkIDs[0] != fourcc("desc")))
            return kAudioFileInvalidFileError;
        if (isMpegAudioContainer(container.type)) return openMpeg(path, std::move(container), st.st_size, out);
        expected = container.type == kAudioFileWAVEType     ? SF_FORMAT_WAV
                   : container.type == kAudioFileAIFFType   ? SF_FORMAT_AIFF
                   : container.type == kAudioFileCAFType    ? SF_FORMAT_CAF
                   : container.type == kAudioFileWave64Type ? SF_FORMAT_W64
                   : container.type == kAudioFileFLACType   ? SF_FORMAT_FLAC
                   : container.type == kAudioFileOggType    ? SF_FORMAT_OGG
                                                            : SF_FORMAT_RF64;
    } else {
        const std::string fork = soundDesignerResourceFork(path);
        if (fork.empty()) return kAudioFileUnsupportedFileTypeError;
        if (!resourceForkHeaderIsSound(fork)) return kAudioFileInvalidFileError;
    }
    const OSStatus refused = decodable ? kAudioFileInvalidFileError : kAudioFileUnsupportedFileTypeError;

    SF_INFO sf{};
    std::unique_ptr<RenamedSource> renamed;
    SNDFILE* s = nullptr;
    if (container.type == kAudioFileBW64Type) {
        renamed = std::make_unique<RenamedSource>();
        renamed->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        renamed->length = st.st_size;
        std::memcpy(renamed->magic, "RF64", 4);
        static SF_VIRTUAL_IO io = {renamedLength, renamedSeek, renamedRead, renamedWrite, renamedTell};
        if (renamed->fd >= 0) s = sf_open_virtual(&io, SFM_READ, &sf, renamed.get());
    } else {
        // By path, not by descriptor: a Sound Designer II file's format lives
        // in a "._name" fork beside it, which libsndfile finds only from the path.
        s = sf_open(path.c_str(), SFM_READ, &sf);
    }
    if (!s) return refused;
    int major = sf.format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_WAVEX) major = SF_FORMAT_WAV;
    if (major != expected || sf.channels <= 0 || sf.samplerate <= 0 || sf.frames < 0) {
        sf_close(s);
        return refused;
    }
    if (major == SF_FORMAT_SD2) {
        container.type = kAudioFileSoundDesigner2Type;
        container.dataOffset = 0;
        container.dataByteCount = st.st_size;
    }
    if (major == SF_FORMAT_FLAC || major == SF_FORMAT_OGG) {
        // Compressed streams: the whole file is what the bit rate counts.
        container.dataOffset = -1;
        container.dataByteCount = st.st_size;
    }

    auto* f = new AudioFile;
    f->path_ = path;
    f->sndfile_ = s;
    f->renamed_ = renamed.release();
    f->sfFormat_ = sf.format;
    f->container_ = std::move(container);
    f->format_ = describe(sf, f->container_);
    f->frames_ = sf.frames;

    // The channel layout is read from the file by our own walker: libsndfile's
    // channel map can be shorter than the channel count it reports (a layout
    // chunk for fewer channels), and asking for it then reads past its end.

    // Markers: a CAF file's from our walker; a WAVE or AIFF file's too where
    // it read a cue table, since libsndfile (1.2) gives none past 2,500
    // points, none for RF64, and drops the WAVE labels that follow an 'ltxt'
    // or precede the cue chunk. Otherwise whatever libsndfile reads.
    const ContainerInfo& c = f->container_;
    for (const ContainerMarker& m : c.type == kAudioFileCAFType ? c.cafMarkers : c.cuePoints) {
        std::uint32_t position = 0;
        if (cuePosition(m.framePosition, position))
            f->cues_.push_back({static_cast<std::int32_t>(m.markerID), position, m.name});
    }
    for (const InfoKey& k : kInfoKeys)
        if (const char* text = sf_get_string(s, k.sfKey); text && *text) f->tags_.emplace_back(k.name, text);
    // A broadcast WAVE file's description, where no comment says more.
    SF_BROADCAST_INFO broadcast{};
    if (major == SF_FORMAT_WAV && sf_command(s, SFC_GET_BROADCAST_INFO, &broadcast, sizeof broadcast) == SF_TRUE) {
        const std::string description(broadcast.description,
                                      strnlen(broadcast.description, sizeof broadcast.description));
        const bool hasComment =
            std::any_of(f->tags_.begin(), f->tags_.end(), [](auto& t) { return t.first == "comments"; });
        if (!description.empty() && !hasComment) f->tags_.emplace_back("comments", description);
    }
    std::uint32_t cueCount = 0;
    if (f->cues_.empty() && !c.cueTableRead &&
        sf_command(s, SFC_GET_CUE_COUNT, &cueCount, sizeof cueCount) == SF_TRUE && cueCount > 0)
        f->readLibraryCues(std::min(cueCount, kMaxCuePoints));
    *out = f;
    return kNoErr;
}

OSStatus AudioFile::openMpeg(const std::string& path, ContainerInfo container, std::int64_t fileSize, AudioFile** out) {
    std::string why;
    std::unique_ptr<MpegDecoder> mpeg = MpegDecoder::open(path, &why);
    if (!mpeg) return kAudioFileInvalidFileError;
    container.dataOffset = -1;
    container.dataByteCount = fileSize;
    // The layer the frames carry, whatever the first bytes suggested (an
    // ID3 tag says nothing of it).
    container.type = mpeg->layer() == 1   ? kAudioFileMP1Type
                     : mpeg->layer() == 2 ? kAudioFileMP2Type
                                          : kAudioFileMP3Type;
    auto* f = new AudioFile;
    f->path_ = path;
    f->container_ = std::move(container);
    AudioStreamBasicDescription& d = f->format_;
    d.mSampleRate = static_cast<double>(mpeg->rate());
    d.mFormatID = mpeg->layer() == 1 ? fourcc(".mp1") : mpeg->layer() == 2 ? fourcc(".mp2") : fourcc(".mp3");
    d.mChannelsPerFrame = static_cast<std::uint32_t>(mpeg->channels());
    d.mFramesPerPacket = mpeg->layer() == 1 ? 384 : 1152;
    f->frames_ = mpeg->frames();
    f->tags_ = mpeg->tags();
    f->mpeg_ = mpeg.release();
    *out = f;
    return kNoErr;
}

void AudioFile::readLibraryCues(std::uint32_t count) {
    // The layout of SF_CUES_VAR(count): the count, then the points; libsndfile
    // fills as many as the given size holds.
    const std::size_t bytes = offsetof(SF_CUES, cue_points) + std::size_t(count) * sizeof(SF_CUE_POINT);
    std::vector<unsigned char> block;
    try {
        block.resize(bytes);
    } catch (const std::bad_alloc&) {
        return; // no markers rather than no file
    }
    auto* cues = reinterpret_cast<SF_CUES*>(block.data());
    if (sf_command(static_cast<SNDFILE*>(sndfile_), SFC_GET_CUE, cues, static_cast<int>(bytes)) != SF_TRUE) return;
    const std::uint32_t n = std::min(cues->cue_count, count);
    // The points run past the 100 the declared array has: reach them through
    // a plain pointer into the block, not by indexing that array.
    const auto* points = reinterpret_cast<const SF_CUE_POINT*>(block.data() + offsetof(SF_CUES, cue_points));
    cues_.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        const SF_CUE_POINT& c = points[i];
        cues_.push_back({c.indx, c.sample_offset, std::string(c.name, strnlen(c.name, sizeof c.name))});
    }
}

AudioFile::~AudioFile() {
    if (sndfile_) sf_close(static_cast<SNDFILE*>(sndfile_));
    delete mpeg_;
    delete renamed_;
}

OSStatus AudioFile::fixedProperty(FourCharCode id, std::vector<unsigned char>& out) const {
    using namespace file;
    const double rate = format_.mSampleRate;
    const std::int64_t bytes = std::max<std::int64_t>(container_.dataByteCount, 0);
    switch (id) {
    case kFileFormat:
        appendValue(out, container_.type);
        return kNoErr;
    case kDataFormat:
        appendValue(out, format_);
        return kNoErr;
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
    case kIsOptimized:
        appendValue(out, std::uint32_t(1));
        return kNoErr;
    case kAudioDataByteCount:
        appendValue(out, std::uint64_t(bytes));
        return kNoErr;
    case kAudioDataPacketCount:
        appendValue(out, std::uint64_t(frames_));
        return kNoErr;
    case kMaximumPacketSize:
    case kPacketSizeUpperBound:
        appendValue(out, format_.mBytesPerPacket);
        return kNoErr;
    case kDataOffset:
        if (container_.dataOffset < 0) return kAudioFileUnsupportedPropertyError;
        appendValue(out, container_.dataOffset);
        return kNoErr;
    case kChannelLayout: {
        const ContainerChannelLayout& layout = container_.channelLayout;
        if (!layout.present) return kAudioFileInvalidChunkError;
        appendValue(out, layout.header);
        for (const AudioChannelDescription& d : layout.descriptions)
            appendValue(out, d);
        return kNoErr;
    }
    case kDeferSizeUpdates:
        appendValue(out, std::uint32_t(0));
        return kNoErr;
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
    case kRegionMarkers:
        if (container_.regions.empty()) return kAudioFileUnsupportedPropertyError;
        for (const ContainerRegion& r : container_.regions)
            for (const ContainerMarker& c : r.markers) {
                AudioFileMarker m;
                m.mFramePosition = c.framePosition;
                m.mMarkerID = static_cast<std::int32_t>(c.markerID);
                m.mType = c.type;
                m.mChannel = static_cast<std::uint16_t>(c.channel);
                appendValue(out, m);
            }
        return kNoErr;
    case kChunkIDs:
        for (FourCharCode c : container_.chunkIDs)
            appendValue(out, c);
        return kNoErr;
    case kInfoDictionary:
        appendValue(out, static_cast<void*>(nullptr));
        return kNoErr;
    case kEstimatedDuration:
        appendValue(out, rate > 0 ? static_cast<double>(frames_) / rate : 0.0);
        return kNoErr;
    case kBitRate: {
        double seconds = rate > 0 ? static_cast<double>(frames_) / rate : 0.0;
        double bps = seconds > 0 ? static_cast<double>(bytes) * 8.0 / seconds : rate * format_.mBytesPerFrame * 8.0;
        appendValue(out, static_cast<std::uint32_t>(std::min(bps, 4294967295.0)));
        return kNoErr;
    }
    default:
        return kAudioFileUnsupportedPropertyError;
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
        for (const auto& [key, text] : tags_) {
            Ref<String> v = Ref<String>::adopt(String::create(text));
            d->setObject(v.get(), key.c_str());
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
    if (mpeg_) {
        const std::int64_t got = mpeg_->read(interleaved, *ioFrames);
        *ioFrames = got < 0 ? 0 : static_cast<std::uint32_t>(got);
        return got < 0 ? kAudioFileInvalidFileError : kNoErr;
    }
    if (!sndfile_) {
        *ioFrames = 0;
        return kAudioFileUnsupportedDataFormatError;
    }
    sf_count_t got = sf_readf_float(static_cast<SNDFILE*>(sndfile_), interleaved, *ioFrames);
    if (got < 0) {
        *ioFrames = 0;
        return kAudioFileInvalidFileError;
    }
    *ioFrames = static_cast<std::uint32_t>(got);
    return kNoErr;
}

OSStatus AudioFile::seek(std::int64_t frame) {
    if (mpeg_) return mpeg_->seek(frame) ? kNoErr : kParameterError;
    if (!sndfile_) return kAudioFileUnsupportedDataFormatError;
    return sf_seek(static_cast<SNDFILE*>(sndfile_), frame, SEEK_SET) < 0 ? kParameterError : kNoErr;
}

} // namespace platform::audio

namespace platform::audio {

const char* soundFileLibraryVersion() {
    return sf_version_string();
}

} // namespace platform::audio
