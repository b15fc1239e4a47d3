#include "audiofile/RegionSplit.h"

#include "audiofile/AudioFileDocumentSampleData.h"
#include "platform/base/Values.h"

#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace ZQ {

std::string safeFileName(std::string_view label) {
    std::string out;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const auto c = static_cast<unsigned char>(label[i]);
        const bool refused =
            c < 0x20 || c == 0x7F || std::string_view("/\\:*?\"<>|").find(char(c)) != std::string_view::npos;
        out += refused ? '_' : char(c);
    }
    while (!out.empty() && (out.front() == ' ' || out.front() == '.'))
        out.erase(out.begin());
    while (!out.empty() && (out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    if (out.size() > 200) {
        std::size_t cut = 200;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) // inside a UTF-8 character
            --cut;
        out.resize(cut);
    }
    return out;
}

std::vector<SplitPiece> splitPieces(const MarkerList& markers, std::uint64_t frames, const std::string& baseName,
                                    const std::string& extension) {
    std::vector<SplitPiece> pieces;
    bool regions = false;
    for (const Marker& m : markers.items())
        regions = regions || m.isRegion();
    if (regions) {
        for (const Marker& m : markers.items())
            if (m.isRegion() && m.frame < frames)
                pieces.push_back({m.frame, std::min(m.length, frames - m.frame), m.name, {}});
    } else if (!markers.empty()) {
        std::uint64_t from = 0;
        std::string label;
        for (const Marker& m : markers.items()) {
            if (m.frame >= frames) break;
            if (m.frame > from) pieces.push_back({from, m.frame - from, label, {}});
            if (m.frame > from || pieces.empty()) from = m.frame;
            label = m.name;
        }
        if (frames > from) pieces.push_back({from, frames - from, label, {}});
    }
    // Names: the label's, else the document's with the piece's number; a
    // name met again gets " (2)", " (3)" ...
    const std::string base = safeFileName(baseName).empty() ? std::string("Piece") : safeFileName(baseName);
    const int digits = pieces.size() >= 100 ? int(std::to_string(pieces.size()).size()) : 2;
    // Compared without case: a folder on a memory stick may not tell them apart.
    auto folded = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    std::set<std::string> used;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::string name = safeFileName(pieces[i].label);
        if (name.empty()) {
            char number[24];
            std::snprintf(number, sizeof number, "%0*zu", digits, i + 1);
            name = base + " " + number;
        }
        std::string unique = name;
        for (int n = 2; used.count(folded(unique)); ++n)
            unique = name + " (" + std::to_string(n) + ")";
        used.insert(folded(unique));
        pieces[i].fileName = unique + (extension.empty() ? "" : "." + extension);
    }
    return pieces;
}

bool writePieces(const AudioFileDocumentSampleData& store, const std::vector<SplitPiece>& pieces,
                 const std::string& folder, platform::audio::FourCharCode type, int code,
                 const platform::audio::EncoderSettings* encoder, SplitProgress* progress, std::string* reason,
                 const AudioFileExport::Conversion* conversion) {
    SplitProgress own;
    SplitProgress& p = progress ? *progress : own;
    std::uint64_t total = 0;
    for (const SplitPiece& piece : pieces)
        total += piece.count;
    p.totalFrames.store(total);
    std::mutex lock;
    std::string failure;
    bool failed = false;
    std::size_t next = 0;
    auto worker = [&] {
        for (;;) {
            std::size_t index;
            AudioFileExport::Progress exporting;
            {
                std::lock_guard<std::mutex> g(lock);
                if (failed || p.cancelled.load() || next >= pieces.size()) return;
                index = next++;
            }
            const SplitPiece& piece = pieces[index];
            SampleDataHolder part;
            const Num::SampleRange range{Num::Count(piece.first), Num::Count(piece.first + piece.count - 1)};
            std::string why;
            bool written = false;
            if (piece.count > 0 && store.copyRange(range, part) && part) {
                const std::string path = (std::filesystem::path(folder) / piece.fileName).string();
                platform::Ref<platform::URL> url =
                    platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
                std::uint64_t counted = 0;
                // The progress of the whole follows each chunk of each piece.
                std::mutex waiting;
                std::condition_variable wake;
                bool done = false;
                std::thread watch([&] {
                    std::unique_lock<std::mutex> w(waiting);
                    while (!wake.wait_for(w, std::chrono::milliseconds(20), [&] { return done; })) {
                        const std::uint64_t now = exporting.framesWritten.load();
                        p.framesWritten.fetch_add(now - counted);
                        counted = now;
                        if (p.cancelled.load()) exporting.cancel();
                    }
                });
                written = AudioFileExport::write(part.get(), url.get(), type, code, &why, &exporting, nullptr, nullptr,
                                                 encoder, conversion);
                {
                    std::lock_guard<std::mutex> w(waiting);
                    done = true;
                }
                wake.notify_one();
                watch.join();
                p.framesWritten.fetch_add(piece.count - counted);
            } else {
                why = "The samples of \u201c" + piece.fileName + "\u201d could not be read.";
            }
            std::lock_guard<std::mutex> g(lock);
            if (written) {
                p.piecesWritten.fetch_add(1);
            } else if (!p.cancelled.load() && !exporting.cancelled.load()) {
                if (!failed) failure = why.empty() ? "\u201c" + piece.fileName + "\u201d could not be written." : why;
                failed = true;
            }
        }
    };
    std::thread second(worker);
    worker();
    second.join();
    if (reason) *reason = failed ? failure : std::string();
    return !failed && !p.cancelled.load();
}

} // namespace ZQ
