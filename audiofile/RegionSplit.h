// Cutting a document into pieces: each region, or, when it has none, each
// span between consecutive markers (from the start to the first, and from
// the last to the end, so that the pieces joined are the whole). Each piece
// is named from its label, made safe for a file name and numbered where
// names repeat, and written as its own file on two workers.
#pragma once

#include "audiofile/AudioFileExport.h"
#include "audiofile/Markers.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ZQ {

class AudioFileDocumentSampleData;

struct SplitPiece {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    std::string label;    // as the marker names it (may be empty)
    std::string fileName; // safe, unique among the pieces, with the extension
};

// The pieces of a document of `frames` frames; none when it has no markers.
// An unnamed piece is called `baseName` with its number ("Take 03").
std::vector<SplitPiece> splitPieces(const MarkerList& markers, std::uint64_t frames, const std::string& baseName,
                                    const std::string& extension);

// A label as a file name: no "/", NUL or control characters, nor the
// characters other systems refuse (\ : * ? " < > |); no leading dot or
// surrounding blanks; at most 200 bytes, cut between characters. Empty
// when nothing is left.
std::string safeFileName(std::string_view label);

struct SplitProgress {
    std::atomic<std::uint64_t> framesWritten{0};
    std::atomic<std::uint64_t> totalFrames{0}; // set by the writing, read by whoever shows it
    std::atomic<bool> cancelled{false};
    std::atomic<std::size_t> piecesWritten{0};
    double fraction() const {
        const std::uint64_t total = totalFrames.load();
        return total ? double(framesWritten.load()) / double(total) : 0.0;
    }
};

// Writes every piece of `store` into `folder` in `type`/`code`, two at a
// time. Each file is complete or absent (the export's own rule); a piece
// already written stays after a cancel or a failure. False on the first
// failure (the rest are not started), with why in `reason`, or after a
// cancel (`reason` empty).
bool writePieces(const AudioFileDocumentSampleData& store, const std::vector<SplitPiece>& pieces,
                 const std::string& folder, platform::audio::FourCharCode type, int code,
                 const platform::audio::EncoderSettings* encoder, SplitProgress* progress, std::string* reason,
                 const AudioFileExport::Conversion* conversion = nullptr);

} // namespace ZQ
