// What a waveform view draws: the visible stretch of one channel and its
// amplitude scale (WaveformZoomSettings), and one pair of vertical pixel
// coordinates per pixel column reduced from the channel's samples
// (WaveformOverview). No widgets here: the reduction takes the view's frame
// as a value.
#pragma once

#include "audiofile/SampleSequence.h"
#include "core/object.h"
#include "core/values.h"

#include <cstdint>
#include <vector>

namespace ZQ {

struct CGPoint {
    double x = 0;
    double y = 0;
};
struct CGSize {
    double width = 0;
    double height = 0;
};
struct CGRect {
    CGPoint origin;
    CGSize size;
};

using IndexRange = Num::range<Num::Count>;

// Clamps `value` into `r`; an inverted range prints "range: [%f...%f]" and
// leaves the value as it is.
double clampToRange(const Num::range<double>& r, double value);
Num::Count clampToRange(const IndexRange& r, Num::Count value);

// The receiver of zoom-setting change notifications (the waveform view).
class ZQWaveformViewSettingsNotificationReceiverProtocol {
public:
    virtual bool waveformViewWantsZoomSettingsChangeNotifications() = 0;
    virtual void zoomSettingsHaveChanged() = 0;

protected:
    ~ZQWaveformViewSettingsNotificationReceiverProtocol() = default;
};

struct WaveformZoomSettings {
    IndexRange validSampleRange_{Num::Count(0ull), Num::Count(0ull)};
    IndexRange validNumVisibleSamples_{Num::Count(0ull), Num::Count(0ull)};
    IndexRange validRangeForFirstVisibleSample_{Num::Count(0ull), Num::Count(0ull)};
    Num::Nm<double> halfPhysicalViewHeightPx{0.0};
    Num::Nm<double> horizontalZoom{1.0};
    Num::range<double> horizontalZoomRange{0.0, 0.0};
    Num::Nm<double> verticalZoom{1.0};
    Num::range<double> verticalZoomRange{0.5, 16.0};
    Num::Nm<double> horizontalScroll{0.0};
    Num::range<double> horizontalScrollRange{0.0, 1.0};
    Num::Nm<double> representedVerticalZoom{1.0};
    // Heights in dB (|sample| from -60 dBFS at the centre line to 0 dBFS at
    // the edges) rather than in proportion to the value.
    bool amplitudeInDb = false;
    ZQWaveformViewSettingsNotificationReceiverProtocol* waveformView = nullptr; // not owned
    bool waveformViewWantsZoomSettingsChangeNotifications = false;

    // The view's receiver; its answer to the wants-notifications question is
    // copied once.
    void setWaveformView(ZQWaveformViewSettingsNotificationReceiverProtocol* view);
    // The limits of a channel of `sampleCount` samples in a view `frameHeight`
    // pixels high; the current values are passed through their setters once.
    void setLimits(std::uint64_t sampleCount, double frameHeight);

    void setHorizontalZoom(double zoom);
    void setVerticalZoom(double zoom);
    void setHorizontalScroll(double scroll);
    void zoomIn() { setHorizontalZoom(horizontalZoom.v_ * 0.5); }
    void zoomOut() { setHorizontalZoom(horizontalZoom.v_ * 2.0); }
    void zoomAmplitudeIn() { setVerticalZoom(verticalZoom.v_ * 2.0); }
    void zoomAmplitudeOut() { setVerticalZoom(verticalZoom.v_ * 0.5); }
    void zoomOutEntirely() {
        setHorizontalZoom(1.0);
        setVerticalZoom(1.0);
    }

    // Samples in view for a channel whose last index is validSampleRange_.max_.
    std::uint64_t numVisibleSamples() const;
    std::uint64_t firstVisibleSample() const;

private:
    void store(Num::Nm<double>& field, double value);
};

template <class Point> class WaveformOverview : public z_ {
public:
    WaveformOverview() = default;
    WaveformOverview(const WaveformOverview&) = delete;
    WaveformOverview& operator=(const WaveformOverview&) = delete;
    ~WaveformOverview() override;

    // Replaces the array by one of `size` points; false (and no array) when
    // size is 0 or the allocator gives nothing.
    bool allocate(std::uint64_t size);

    Point* overviewData = nullptr;
    std::uint64_t allocationSize = 0;
    std::uint64_t waveformPointsCount = 0;
    std::uint64_t numSamplesInAudioStream = 0;
};

extern template class WaveformOverview<CGPoint>;

// The array's first capacity; it is reallocated only below 125 points, or
// grown when a view is wider than the array holds.
inline constexpr std::uint64_t kOverviewCapacity = 2000;
inline constexpr std::uint64_t kOverviewMinimumCapacity = 125;

// Makes sure the array holds `points` points; false for a count of 0 or when
// allocation fails.
bool updateCache(WaveformOverview<CGPoint>& overview, std::uint64_t sampleCount, std::uint64_t points);

// Runs part(context, begin, end) over the columns [0, count) in whatever
// pieces it likes (on other threads, too), returning when all are done.
using ColumnSplitter = void (*)(std::uint64_t count, void* context,
                                void (*part)(void* context, std::uint64_t begin, std::uint64_t end));

// Every channel's min/max columns at once, for views of one width and zoom
// over the same samples: the few samples at a column's ends that no summary
// block covers are read once for all channels instead of once a view.
struct SharedColumns {
    SampleSnapshot samples;
    std::uint64_t first = 0, numVisible = 0, maxIndex = 0, widthPx = 0;
    unsigned channels = 0;
    // Column k of channel c at [k * channels + c].
    std::vector<double> lo, hi;
    // Column k's samples are not yet summarised (it waits for them).
    std::vector<std::uint8_t> waiting;
    bool answers(const ChannelSamples& s, std::uint64_t first, std::uint64_t numVisible, std::uint64_t maxIndex,
                 std::uint64_t widthPx) const {
        return s.samples && s.samples == samples && first == this->first && numVisible == this->numVisible &&
               maxIndex == this->maxIndex && widthPx == this->widthPx && s.channel < channels;
    }
};

// Fills `shared` for views `widthPx` columns wide at `settings` over
// `samples`; false (nothing to share) where columns are too short to be
// folded from the summaries.
bool computeSharedColumns(SharedColumns& shared, const SampleSnapshot& samples, const WaveformZoomSettings& settings,
                          std::uint64_t widthPx, ColumnSplitter split);

// The reduction: one point per pixel column of a view of `frame`'s size, from
// the channel's samples. Min/max of each column's samples when a column
// covers more than one sample, otherwise a 6-point Lagrange interpolation.
// Writes the visible sample range; false when the array could not be
// prepared.
//
// Long min/max columns are folded from the channel's summaries (time in
// proportion to the columns, not the samples); the points are the same, bit
// for bit, as scanning the samples gives. A column the summaries cannot yet
// answer (a file still being summarised) gets NaN points, which draw
// nothing, and is counted in `pending`. With a splitter, long min/max
// columns are shared out; with `shared` columns that answer this view, they
// are taken from there.
bool calculateWaveformOverview(WaveformOverview<CGPoint>& overview, WaveformZoomSettings& settings,
                               const ChannelSamples& samples, const CGRect& frame, IndexRange& visibleRange,
                               ColumnSplitter split = nullptr, std::uint64_t* pending = nullptr,
                               const SharedColumns* shared = nullptr);

// The view's entry to the reduction (updateWaveformCache:count:): nothing
// without samples; "skipping imp" without a document; nothing for a
// negative channel or a frame narrower than 10 pixels. Otherwise sets
// `updateInProgress`, runs the reduction and clears it again (also when the
// reduction gives up). The caller holds the view's lock. True when rebuilt.
bool updateWaveformCache(WaveformOverview<CGPoint>& overview, WaveformZoomSettings& settings,
                         const ChannelSamples& samples, bool hasDocument, std::int32_t channelNumber,
                         const CGRect& frame, IndexRange& visibleRange, bool& updateInProgress,
                         ColumnSplitter split = nullptr, std::uint64_t* pending = nullptr,
                         const SharedColumns* shared = nullptr);

} // namespace ZQ
