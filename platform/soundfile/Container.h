// What a file's container header says, read by our own walker without any
// decoder: the container type (AIFC told apart from AIFF, other decoders'
// containers recognised by their magic numbers), the chunk identifiers, where
// the sample data lies, the channel layout, CAF markers, regions and magic
// cookie, and whether the header holds a structure that libsndfile is known
// to mishandle (such a file is never handed to it).
//
// Every read is bounded by the file's real size; a forged size or count can
// make the walk neither run long nor allocate much.
#pragma once

#include "platform/base/AudioTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::audio {

// The marker types of a region's start and end, as CAF region markers have
// them (a WAVE region's edges get them too).
inline constexpr FourCharCode kRegionStartMarkerType = fourcc("rbeg");
inline constexpr FourCharCode kRegionEndMarkerType = fourcc("rend");

// A marker or region as a CAF file stores it (names resolved from its
// string table), or a WAVE cue point (named by its 'labl', a region when an
// 'ltxt' gives it a length) or an AIFF 'MARK' entry.
struct ContainerMarker {
    std::uint32_t type = 0;
    double framePosition = 0; // as stored: may be anything, NaN included
    std::uint32_t markerID = 0;
    std::uint32_t channel = 0;
    std::string name;
};
struct ContainerRegion {
    std::uint32_t regionID = 0;
    std::string name;
    bool hasName = false;
    std::uint32_t flags = 0;
    std::vector<ContainerMarker> markers;
};

// A channel layout as the file stores it: an AIFF 'CHAN' or CAF 'chan'
// chunk, or the speaker mask of an extensible WAV format.
struct ContainerChannelLayout {
    bool present = false;
    AudioChannelLayoutHeader header; // mNumberChannelDescriptions = descriptions.size()
    std::vector<AudioChannelDescription> descriptions;
};

// Why a file must not reach the decoder.
enum class DecoderHazard {
    none,
    // A RIFF 'LIST'/'INFO' chunk whose subchunk declares a size of 2 GB or
    // more: libsndfile's list parser wraps its byte count and loops for ever.
    listSubchunkSize,
};

struct ContainerInfo {
    FourCharCode type = 0;
    std::vector<FourCharCode> chunkIDs; // every chunk inside the container, in order (at most 4096)
    std::int64_t dataOffset = -1;       // first byte of the sample data
    std::int64_t dataByteCount = -1;    // bytes of sample data (clamped to the file)
    std::uint32_t cafFormatFlags = 0;   // the CAF description's flags (1 float, 2 little-endian)
    bool hasCafDescription = false;     // a 'desc' chunk, first, as the format requires
    std::uint32_t cafFormatID = 0;
    ContainerChannelLayout channelLayout;
    std::vector<ContainerMarker> cafMarkers; // a CAF 'mark' chunk
    std::vector<ContainerRegion> regions;    // a CAF 'regn' chunk; WAVE cue points with a length
    std::vector<unsigned char> magicCookie;  // a CAF 'kuki' chunk
    DecoderHazard hazard = DecoderHazard::none;
    // A WAVE 'cue ' chunk's points without a length (at most kMaxCuePoints),
    // or an AIFF 'MARK' chunk's markers; cueTableRead says such a chunk was read.
    std::vector<ContainerMarker> cuePoints;
    bool cueTableRead = false;
};

// The most cue points or markers read from a WAVE or AIFF file.
inline constexpr std::uint32_t kMaxCuePoints = 100000;

// Reads the container header of the file at path. Never fails: an unreadable
// or unknown file gives type 0 and no chunks. For unknown containers the type
// is their first four bytes when those are printable.
ContainerInfo readContainerInfo(const std::string& path);

// A Sound Designer II file keeps its format in a resource fork beside it
// ("._name", or ".AppleDouble/name"), where libsndfile looks for it. Gives the
// fork's path, or "" when there is none.
std::string soundDesignerResourceFork(const std::string& path);
// Whether a resource fork's header is consistent (non-negative offsets and
// lengths that add up to the fork's size); a damaged one is not handed on.
bool resourceForkHeaderIsSound(const std::string& forkPath);

// The containers the reader decodes (WAVE, with RF64 and BW64 for files past
// 4 GB, AIFF, CAF, Wave64, FLAC, Ogg and MPEG audio; Sound Designer II is
// told by its resource fork, not by a header).
bool isDecodableContainer(FourCharCode type);
// MPEG audio streams (Layers I, II and III), decoded by libmpg123.
bool isMpegAudioContainer(FourCharCode type);
// Containers that other decoders know and the reader refuses by type: AIFC,
// NeXT/Sun, ADTS, MPEG-4, 3GPP, AMR, AC-3. Such a file opens as a container without samples, so that the reader
// can say it is unsupported.
bool isKnownForeignContainer(FourCharCode type);

} // namespace platform::audio
