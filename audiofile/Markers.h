// A document's markers (a position) and regions (a start and a length), kept
// sorted by frame so that a view finds what it draws, and navigation the
// nearest stop, by binary search. Edits move them the way they move the
// frames they point at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ZQ {

class AudioFileInformationData;

struct Marker {
    std::uint64_t frame = 0;  // where it is
    std::uint64_t length = 0; // 0: a marker; otherwise a region of this many frames
    std::string name;         // may be empty
    bool isRegion() const { return length > 0; }
    std::uint64_t end() const { return frame + length; } // one past a region's last frame
    bool operator==(const Marker&) const = default;
};

// Sorted by frame (stable for equal frames). Main thread.
class MarkerList {
public:
    MarkerList() = default;
    explicit MarkerList(std::vector<Marker> items); // sorts

    const std::vector<Marker>& items() const { return items_; }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    bool operator==(const MarkerList& other) const { return items_ == other.items_; }

    // Index of the first item whose frame >= `frame` (binary search): what a view
    // of frames [a, b] draws is items [lowerBound(a), lowerBound(b + 1)), plus the
    // regions that began before `a` and reach into the view (see regionsCovering).
    std::size_t lowerBound(std::uint64_t frame) const;
    // The regions (indices into items()) that start before `frame` and end
    // after it, in order. Only regions that start within the longest region's
    // length before `frame` are looked at.
    std::vector<std::size_t> regionsCovering(std::uint64_t frame) const;
    // Navigation stops: every marker's frame, every region's start and end.
    // The nearest stop strictly before / strictly after `frame`, if any.
    std::optional<std::uint64_t> previousStop(std::uint64_t frame) const;
    std::optional<std::uint64_t> nextStop(std::uint64_t frame) const;

    // The frames [at, at + removed) were replaced by `inserted` new frames (a
    // delete/cut: inserted 0; a paste at a point / duplicate: removed 0).
    // A marker inside the removed range goes; one at or after at + removed moves by
    // inserted - removed (an insertion at a marker's own frame pushes it along).
    // A region's edges map the same way (an edge inside the removed range lands at
    // `at`); a region that becomes empty goes; an insertion strictly inside a region
    // lengthens it.
    void replaceFrames(std::uint64_t at, std::uint64_t removed, std::uint64_t inserted);
    // Drops everything at or past `frameCount` (regions are cut to it).
    void clampTo(std::uint64_t frameCount);

    // One item in, out or changed; the list stays sorted. `insert` and
    // `replace` return where the item now is: after the items of the same
    // frame, as a marker added last is found last.
    std::size_t insert(Marker marker);
    void erase(std::size_t index);
    std::size_t replace(std::size_t index, Marker marker);

private:
    void indexRegions();
    // The range of regions_ whose start lies in [from, to).
    std::pair<std::size_t, std::size_t> regionsStartingIn(std::uint64_t from, std::uint64_t to) const;

    std::vector<Marker> items_;
    // Indices of the regions in items_, ascending (so by start too), and the
    // longest region's length: what bounds every search for the regions
    // around a frame.
    std::vector<std::size_t> regions_;
    std::uint64_t longestRegion_ = 0;
};

// From a file's information record: its marker list ('mkls': WAV cue points,
// AIFF and CAF markers) and its regions ('rgls', with every region's markers
// in 'rgmk': CAF regions, WAV cue points that an 'ltxt' gives a length).
// A region's extent runs from its region-start marker (else its earliest)
// to its region-end marker (else its latest); one without an extent is kept
// as a marker where it starts. Positions that are not numbers mark nothing.
// Not clamped to the file's frames: the caller does that.
MarkerList markersFromInformation(const AudioFileInformationData& info);

} // namespace ZQ
