#include "audiofile/Markers.h"

#include "audiofile/AudioFileInformation.h"
#include "platform/base/Values.h"
#include "platform/soundfile/Container.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ZQ {

namespace {

constexpr std::uint64_t kNoFrame = std::numeric_limits<std::uint64_t>::max();

// Where a marker of the file points, as a frame; nothing for a position
// that is not a number. Positions before the first frame mean the first,
// absurdly large ones stay absurd until the list is clamped to the file.
std::optional<std::uint64_t> frameOf(double position) {
    if (!std::isfinite(position)) return std::nullopt;
    if (position <= 0) return 0;
    return static_cast<std::uint64_t>(std::min(position, 4.0e18));
}

std::string nameOf(const platform::String* name) {
    return name ? name->utf8() : std::string();
}

} // namespace

MarkerList::MarkerList(std::vector<Marker> items) : items_(std::move(items)) {
    std::stable_sort(items_.begin(), items_.end(), [](const Marker& a, const Marker& b) { return a.frame < b.frame; });
    indexRegions();
}

void MarkerList::indexRegions() {
    regions_.clear();
    longestRegion_ = 0;
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].isRegion()) {
            regions_.push_back(i);
            longestRegion_ = std::max(longestRegion_, items_[i].length);
        }
}

std::size_t MarkerList::lowerBound(std::uint64_t frame) const {
    return static_cast<std::size_t>(std::lower_bound(items_.begin(), items_.end(), frame,
                                                     [](const Marker& m, std::uint64_t f) { return m.frame < f; }) -
                                    items_.begin());
}

std::pair<std::size_t, std::size_t> MarkerList::regionsStartingIn(std::uint64_t from, std::uint64_t to) const {
    auto startsBefore = [this](std::size_t i, std::uint64_t f) { return items_[i].frame < f; };
    const auto first = std::lower_bound(regions_.begin(), regions_.end(), from, startsBefore);
    const auto last = std::lower_bound(first, regions_.end(), to, startsBefore);
    return {static_cast<std::size_t>(first - regions_.begin()), static_cast<std::size_t>(last - regions_.begin())};
}

std::vector<std::size_t> MarkerList::regionsCovering(std::uint64_t frame) const {
    std::vector<std::size_t> out;
    if (longestRegion_ == 0 || frame == 0) return out;
    // A region that reaches past `frame` starts less than the longest length before it.
    const std::uint64_t from = frame >= longestRegion_ ? frame - longestRegion_ + 1 : 0;
    const auto [first, last] = regionsStartingIn(from, frame);
    for (std::size_t j = first; j < last; ++j)
        if (items_[regions_[j]].end() > frame) out.push_back(regions_[j]);
    return out;
}

std::optional<std::uint64_t> MarkerList::nextStop(std::uint64_t frame) const {
    if (frame == kNoFrame) return std::nullopt;
    std::uint64_t best = kNoFrame;
    if (const std::size_t i = lowerBound(frame + 1); i < items_.size()) best = items_[i].frame;
    // The end of a region that starts at or before `frame` and ends after it
    // (a region that starts later ends after its own start, a stop already).
    if (longestRegion_ > 0) {
        const std::uint64_t from = frame >= longestRegion_ ? frame - longestRegion_ + 1 : 0;
        const auto [first, last] = regionsStartingIn(from, frame + 1);
        for (std::size_t j = first; j < last; ++j)
            if (const std::uint64_t end = items_[regions_[j]].end(); end > frame) best = std::min(best, end);
    }
    if (best == kNoFrame) return std::nullopt;
    return best;
}

std::optional<std::uint64_t> MarkerList::previousStop(std::uint64_t frame) const {
    const std::size_t i = lowerBound(frame);
    if (i == 0) return std::nullopt; // nothing starts before it, so nothing ends before it either
    const std::uint64_t latestStart = items_[i - 1].frame;
    std::uint64_t best = latestStart;
    // A region end between that start and `frame` belongs to a region that
    // starts at or before it.
    if (longestRegion_ > 0) {
        const std::uint64_t from = latestStart >= longestRegion_ ? latestStart - longestRegion_ + 1 : 0;
        const auto [first, last] = regionsStartingIn(from, latestStart + 1);
        for (std::size_t j = first; j < last; ++j)
            if (const std::uint64_t end = items_[regions_[j]].end(); end < frame) best = std::max(best, end);
    }
    return best;
}

void MarkerList::replaceFrames(std::uint64_t at, std::uint64_t removed, std::uint64_t inserted) {
    if (removed == 0 && inserted == 0) return;
    const std::uint64_t removedEnd = at + removed;
    auto moved = [&](std::uint64_t x) { return x - removed + inserted; };
    // A start (or a marker) at the edit point is pushed along by an insertion;
    // an end there is not, so an insertion right after a region leaves it be.
    auto mapStart = [&](std::uint64_t x) { return x < at ? x : x < removedEnd ? at : moved(x); };
    auto mapEnd = [&](std::uint64_t x) { return x <= at ? x : x <= removedEnd ? at : moved(x); };
    std::vector<Marker> kept;
    kept.reserve(items_.size());
    for (Marker& m : items_) {
        if (!m.isRegion()) {
            if (m.frame >= at && m.frame < removedEnd) continue;
            m.frame = mapStart(m.frame);
        } else {
            const std::uint64_t start = mapStart(m.frame), end = mapEnd(m.end());
            if (end <= start) continue;
            m.frame = start;
            m.length = end - start;
        }
        kept.push_back(std::move(m));
    }
    // Both mappings keep the order: no sort needed.
    items_ = std::move(kept);
    indexRegions();
}

void MarkerList::clampTo(std::uint64_t frameCount) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(lowerBound(frameCount)), items_.end());
    for (Marker& m : items_)
        if (m.isRegion() && m.end() > frameCount) m.length = frameCount - m.frame;
    indexRegions();
}

std::size_t MarkerList::insert(Marker marker) {
    const auto at = std::upper_bound(items_.begin(), items_.end(), marker.frame,
                                     [](std::uint64_t f, const Marker& m) { return f < m.frame; });
    const auto index = static_cast<std::size_t>(at - items_.begin());
    items_.insert(at, std::move(marker));
    indexRegions();
    return index;
}

void MarkerList::erase(std::size_t index) {
    if (index >= items_.size()) return;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    indexRegions();
}

std::size_t MarkerList::replace(std::size_t index, Marker marker) {
    if (index >= items_.size()) return insert(std::move(marker));
    if (items_[index].frame == marker.frame) {
        items_[index] = std::move(marker);
        indexRegions();
        return index;
    }
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    return insert(std::move(marker));
}

MarkerList markersFromInformation(const AudioFileInformationData& info) {
    std::vector<Marker> items;
    if (info.markerList.isPresent()) {
        const MarkerListBuffer& buffer = info.markerList.value;
        const std::size_t n =
            buffer.header() ? std::min<std::size_t>(buffer.header()->mNumberMarkers, buffer.capacity()) : 0;
        for (std::size_t i = 0; i < n; ++i) {
            const AudioFileMarker& m = buffer.items()[i];
            if (const auto frame = frameOf(m.mFramePosition)) items.push_back({*frame, 0, nameOf(m.mName)});
        }
    }
    if (info.regionList.isPresent()) {
        // Each region's markers follow those of the one before it; without
        // that list only the first, carried in the region itself, is known.
        const std::vector<AudioFileMarker>& all = info.regionMarkers.value.items();
        const bool haveAll = info.regionMarkers.isPresent();
        std::size_t next = 0;
        for (const AudioFileRegion& r : info.regionList.value.items()) {
            std::vector<const AudioFileMarker*> own;
            if (haveAll) {
                const std::size_t count = std::min<std::size_t>(r.mNumberMarkers, all.size() - next);
                for (std::size_t k = 0; k < count; ++k)
                    own.push_back(&all[next + k]);
                next += count;
            } else if (r.mNumberMarkers > 0) {
                own.push_back(&r.mMarkers[0]);
            }
            // The start: a region-start marker, else the earliest; the end: a
            // region-end marker, else the latest.
            std::optional<std::uint64_t> start, end, earliest, latest;
            for (const AudioFileMarker* m : own) {
                const auto frame = frameOf(m->mFramePosition);
                if (!frame) continue;
                if (m->mType == platform::audio::kRegionStartMarkerType && !start) start = frame;
                if (m->mType == platform::audio::kRegionEndMarkerType && !end) end = frame;
                earliest = earliest ? std::min(*earliest, *frame) : *frame;
                latest = latest ? std::max(*latest, *frame) : *frame;
            }
            if (!start) start = earliest;
            if (!end) end = latest;
            if (!start) continue; // no position at all
            // Without an extent it still marks where it starts.
            const std::uint64_t length = end && *end > *start ? *end - *start : 0;
            items.push_back({*start, length, nameOf(r.mName)});
        }
    }
    return MarkerList(std::move(items));
}

} // namespace ZQ
