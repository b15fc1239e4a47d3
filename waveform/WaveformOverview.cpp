#include "waveform/WaveformOverview.h"

#include "waveform/AmplitudeScale.h"

#include "core/allocator.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace ZQ {

double clampToRange(const Num::range<double>& r, double value) {
    if (r.min_ > r.max_) {
        std::printf("range: [%f...%f]\n", r.min_, r.max_);
        return value;
    }
    return value < r.min_ ? r.min_ : value > r.max_ ? r.max_ : value;
}

Num::Count clampToRange(const IndexRange& r, Num::Count value) {
    if (r.min_.v_ > r.max_.v_) {
        std::printf("range: [%f...%f]\n", static_cast<double>(r.min_.v_), static_cast<double>(r.max_.v_));
        return value;
    }
    return value.v_ < r.min_.v_ ? r.min_ : value.v_ > r.max_.v_ ? r.max_ : value;
}

namespace {

// A value x 65536 truncated to a signed 32-bit integer (saturating, so a huge
// value cannot overflow the conversion).
std::int32_t notificationStep(double v) {
    const double scaled = std::trunc(v * 65536.0);
    if (!(scaled == scaled)) return 0;
    if (scaled >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (scaled <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(scaled);
}

std::uint64_t floorToCount(double v) {
    return v <= 0 || !(v == v) ? 0 : static_cast<std::uint64_t>(std::floor(v));
}

} // namespace

void WaveformZoomSettings::setWaveformView(ZQWaveformViewSettingsNotificationReceiverProtocol* view) {
    waveformView = view;
    waveformViewWantsZoomSettingsChangeNotifications = view && view->waveformViewWantsZoomSettingsChangeNotifications();
}

void WaveformZoomSettings::store(Num::Nm<double>& field, double value) {
    const double old = field.v_;
    field.v_ = value;
    if (notificationStep(old) != notificationStep(value) && waveformViewWantsZoomSettingsChangeNotifications &&
        waveformView)
        waveformView->zoomSettingsHaveChanged();
}

void WaveformZoomSettings::setHorizontalZoom(double zoom) {
    store(horizontalZoom, clampToRange(horizontalZoomRange, zoom));
}
void WaveformZoomSettings::setVerticalZoom(double zoom) {
    store(verticalZoom, clampToRange(verticalZoomRange, zoom));
}
void WaveformZoomSettings::setHorizontalScroll(double scroll) {
    store(horizontalScroll, clampToRange(Num::range<double>(0.0, 1.0), scroll));
}

void WaveformZoomSettings::setLimits(std::uint64_t sampleCount, double frameHeight) {
    const std::uint64_t lastIndex = sampleCount == 0 ? 0 : sampleCount - 1;
    validSampleRange_ = IndexRange(Num::Count(0ull), Num::Count(lastIndex));
    const std::uint64_t n = lastIndex != 0 ? lastIndex + 1 : 0;
    const std::uint64_t minVisible = n <= 15 ? n : 16;
    validNumVisibleSamples_ = IndexRange(Num::Count(minVisible), Num::Count(lastIndex));
    validRangeForFirstVisibleSample_ =
        IndexRange(Num::Count(0ull), Num::Count(minVisible >= sampleCount ? 0 : sampleCount - minVisible));
    double ratio = static_cast<double>(n) / (minVisible == 0 ? 1e-8 : static_cast<double>(minVisible));
    if (ratio == 0) ratio = 1e-8;
    horizontalZoomRange = Num::range<double>(1.0 / ratio, 1.0);
    setHorizontalZoom(horizontalZoom.v_);
    setVerticalZoom(verticalZoom.v_);
    setHorizontalScroll(horizontalScroll.v_);
    halfPhysicalViewHeightPx = Num::Nm<double>(std::max(0.0, frameHeight * 0.5));
}

std::uint64_t WaveformZoomSettings::numVisibleSamples() const {
    const std::uint64_t n = validSampleRange_.max_.v_ != 0 ? validSampleRange_.max_.v_ + 1 : 0;
    const std::uint64_t minV = validNumVisibleSamples_.min_.v_;
    const double span = n > minV ? static_cast<double>(n - minV) : 0.0;
    const std::uint64_t visible = minV + floorToCount(span * horizontalZoom.v_);
    return std::clamp(visible, minV, std::max(minV, n));
}

std::uint64_t WaveformZoomSettings::firstVisibleSample() const {
    const std::uint64_t last = validSampleRange_.max_.v_;
    const std::uint64_t n = last != 0 ? last + 1 : 0;
    if (last == 0) return 0;
    // The scroll runs from the first sample at the left edge (0) to the last
    // sample at the right edge (1).
    const std::uint64_t visible = numVisibleSamples();
    const std::uint64_t span = n > visible ? n - visible : 0;
    if (span == 0) return 0;
    return clampToRange(validRangeForFirstVisibleSample_,
                        Num::Count(floorToCount(static_cast<double>(span) * horizontalScroll.v_)))
        .v_;
}

template <class Point> WaveformOverview<Point>::~WaveformOverview() {
    allocationSize = waveformPointsCount = numSamplesInAudioStream = 0;
    if (overviewData) freeZeroedArray(overviewData);
    overviewData = nullptr;
}

template <class Point> bool WaveformOverview<Point>::allocate(std::uint64_t size) {
    sync_guard g(this);
    if (overviewData) freeZeroedArray(overviewData);
    overviewData = nullptr;
    allocationSize = waveformPointsCount = 0;
    if (size == 0 || size > std::numeric_limits<std::uint64_t>::max() / sizeof(Point)) return false;
    overviewData = static_cast<Point*>(allocateZeroedArray(size * sizeof(Point)));
    if (!overviewData) return false;
    allocationSize = waveformPointsCount = size;
    return true;
}

template class WaveformOverview<CGPoint>;

bool updateCache(WaveformOverview<CGPoint>& overview, std::uint64_t sampleCount, std::uint64_t points) {
    if (sampleCount == 0) return false;
    if (overview.allocationSize >= kOverviewMinimumCapacity && overview.allocationSize >= points) return true;
    // Views wider than the usual capacity get an array of their own width.
    return overview.allocate(std::max(kOverviewCapacity, points));
}

namespace {

constexpr std::uint64_t kFoldFrom = 64; // samples per column

// Which samples each min/max column of a view covers.
struct ColumnGrid {
    std::uint64_t first, numVisible, maxIndex, lastReadable, widthPx, perColumn;
    double samplesPerPixel;
    ColumnGrid(const WaveformZoomSettings& settings, std::uint64_t count, std::uint64_t widthPx)
        : first(settings.firstVisibleSample()), numVisible(settings.numVisibleSamples()),
          maxIndex(settings.validSampleRange_.max_.v_),
          // Never read past the samples handed in, whatever the limits say.
          lastReadable(std::min(maxIndex, count - 1)), widthPx(widthPx), perColumn(0),
          samplesPerPixel(std::max(0.0, static_cast<double>(numVisible) / static_cast<double>(widthPx))) {
        if (samplesPerPixel > 1.0) perColumn = floorToCount(samplesPerPixel);
    }
    bool folds() const { return samplesPerPixel > 1.0 && perColumn >= kFoldFrom; }
    // Column k's samples [start, end]; false where the column keeps its old point.
    bool column(std::uint64_t k, std::uint64_t& start, std::uint64_t& end) const {
        start = floorToCount(std::floor(static_cast<double>(k) * samplesPerPixel) + static_cast<double>(first));
        if (start >= maxIndex || start > lastReadable) return false;
        end = std::min(start + perColumn - 1, lastReadable);
        return true;
    }
};

} // namespace

bool computeSharedColumns(SharedColumns& shared, const SampleSnapshot& samples, const WaveformZoomSettings& settings,
                          std::uint64_t widthPx, ColumnSplitter split) {
    shared.samples = nullptr;
    if (!samples || samples->frameCount() == 0 || widthPx == 0) return false;
    const ColumnGrid grid(settings, samples->frameCount(), widthPx);
    if (!grid.folds()) return false;
    const unsigned channels = samples->channelCount();
    shared.lo.assign(widthPx * channels, 0.0);
    shared.hi.assign(widthPx * channels, 0.0);
    shared.waiting.assign(widthPx, 0);
    auto columns = [&](std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t k = from; k < to; ++k) {
            std::uint64_t start = 0, end = 0;
            // The samples around the next column's end, which no summary
            // block covers whole, are on their way while this one folds.
            if (k + 1 < to && grid.column(k + 1, start, end)) samples->prefetch(end);
            if (!grid.column(k, start, end)) continue;
            double* lo = shared.lo.data() + k * channels;
            double* hi = shared.hi.data() + k * channels;
            shared.waiting[k] = !samples->columnOfFrames(start, end, lo, hi);
        }
    };
    if (split && grid.perColumn >= 256)
        split(widthPx, &columns,
              [](void* c, std::uint64_t from, std::uint64_t to) { (*static_cast<decltype(columns)*>(c))(from, to); });
    else
        columns(0, widthPx);
    shared.samples = samples;
    shared.first = grid.first;
    shared.numVisible = grid.numVisible;
    shared.maxIndex = grid.maxIndex;
    shared.widthPx = widthPx;
    shared.channels = channels;
    return true;
}

bool calculateWaveformOverview(WaveformOverview<CGPoint>& overview, WaveformZoomSettings& settings,
                               const ChannelSamples& samples, const CGRect& frame, IndexRange& visibleRange,
                               ColumnSplitter split, std::uint64_t* pending, const SharedColumns* shared) {
    if (pending) *pending = 0;
    const std::uint64_t count = samples.count();
    if (!samples.isValid() || count == 0) return false;
    const double W = frame.size.width, H = frame.size.height;
    const std::uint64_t widthPx = floorToCount(W);
    // widthPx points plus the closing point must fit, whatever the counts say.
    if (!overview.overviewData || overview.allocationSize < widthPx + 1 ||
        overview.waveformPointsCount < std::ceil(W)) {
        if (!updateCache(overview, count, widthPx + 1)) return false;
    }
    sync_guard g(overview);
    CGPoint* points = overview.overviewData;
    const std::uint64_t heightPx = floorToCount(H);
    const double scale = static_cast<double>(heightPx) * 0.5 * settings.verticalZoom.v_;
    const ColumnGrid grid(settings, count, widthPx);
    const std::uint64_t numVisible = grid.numVisible, first = grid.first, maxIndex = grid.maxIndex;
    const std::uint64_t lastReadable = grid.lastReadable;
    const double samplesPerPixel = grid.samplesPerPixel;
    const double centre = std::max(0.0, H * 0.5);
    settings.halfPhysicalViewHeightPx = Num::Nm<double>(centre);
    // The height of a value's magnitude, before the scale.
    const bool inDb = settings.amplitudeInDb;
    auto height = [inDb](double magnitude) { return inDb ? AmplitudeScale::fraction(magnitude, true) : magnitude; };
    // The samples in view, read once, where columns are short enough that
    // scanning them costs less than folding each from the summaries.
    std::vector<double> window;
    std::uint64_t windowFirst = 0;
    auto readWindow = [&](std::uint64_t from, std::uint64_t to) { // [from, to], clamped to what can be read
        from = std::min(from, lastReadable);
        to = std::min(to, lastReadable);
        windowFirst = from;
        window.resize(to - from + 1);
        samples.read(from, window.size(), window.data());
    };
    if (samplesPerPixel > 1.0) {
        const std::uint64_t perColumn = grid.perColumn;
        const bool folding = grid.folds();
        if (!folding) readWindow(first, first + numVisible + perColumn);
        if (shared && !(folding && shared->answers(samples, first, numVisible, maxIndex, widthPx))) shared = nullptr;
        std::atomic<std::uint64_t> waiting{0};
        auto columns = [&](std::uint64_t from, std::uint64_t to) {
            for (std::uint64_t k = from; k < to; ++k) {
                std::uint64_t start = 0, end = 0;
                if (!grid.column(k, start, end)) continue; // the column keeps its old point
                double lo = 0, hi = 0;
                if (shared) {
                    if (shared->waiting[k]) {
                        constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
                        points[k] = CGPoint{kNaN, kNaN};
                        waiting.fetch_add(1, std::memory_order_relaxed);
                        continue;
                    }
                    lo = shared->lo[k * shared->channels + samples.channel];
                    hi = shared->hi[k * shared->channels + samples.channel];
                } else if (!folding) {
                    const double s0 = window[start - windowFirst];
                    lo = std::min(s0, 0.0);
                    hi = std::max(s0, 0.0);
                    if (end > start)
                        WaveformSummary::scan(window.data() + (start - windowFirst), 1, end - start + 1, lo, hi);
                } else if (!samples.column(start, end, lo, hi)) {
                    // Not summarised yet: the column stays empty until it is.
                    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
                    points[k] = CGPoint{kNaN, kNaN};
                    waiting.fetch_add(1, std::memory_order_relaxed);
                    continue;
                }
                points[k] = CGPoint{centre - height(std::fabs(lo)) * scale, height(std::fabs(hi)) * scale + centre};
            }
        };
        // Columns are independent of each other; long ones are worth sharing out.
        if (split && perColumn >= 256 && !shared)
            split(widthPx, &columns, [](void* c, std::uint64_t from, std::uint64_t to) {
                (*static_cast<decltype(columns)*>(c))(from, to);
            });
        else
            columns(0, widthPx);
        if (pending) *pending = waiting.load();
    } else {
        readWindow(first >= 2 ? first - 2 : 0, first + numVisible + 3);
        for (std::uint64_t k = 0; k < widthPx; ++k) {
            const double pos = static_cast<double>(k) * samplesPerPixel + static_cast<double>(first);
            std::uint64_t i = floorToCount(pos);
            if (i > maxIndex) {
                std::printf("Error: %llu != %llu\n", static_cast<unsigned long long>(maxIndex),
                            static_cast<unsigned long long>(i));
                i = maxIndex;
            }
            auto at = [&](std::int64_t offset) {
                std::int64_t j = static_cast<std::int64_t>(i) + offset;
                if (j < 0) j = 0;
                if (static_cast<std::uint64_t>(j) > lastReadable) j = static_cast<std::int64_t>(lastReadable);
                const std::uint64_t u = static_cast<std::uint64_t>(j);
                // Within the window read above; anything else is read alone.
                if (u >= windowFirst && u - windowFirst < window.size()) return window[u - windowFirst];
                double v = 0;
                samples.read(u, 1, &v);
                return v;
            };
            const double ym2 = at(-2), ym1 = at(-1), y0 = at(0), y1 = at(1), y2 = at(2), y3 = at(3);
            const double t = std::max(0.0, pos - static_cast<double>(i));
            const double c1 = ym2 / 20.0 - ym1 / 2.0 - y0 / 3.0 + y1 - y2 / 4.0 + y3 / 30.0;
            const double c2 = 2.0 / 3.0 * (ym1 + y1) - 5.0 / 4.0 * y0 - (ym2 + y2) / 24.0;
            const double c3 = 5.0 / 12.0 * y0 - 7.0 / 12.0 * y1 + 7.0 / 24.0 * y2 - (ym2 + ym1 + y3) / 24.0;
            const double c4 = y0 / 4.0 - (ym1 + y1) / 6.0 + (ym2 + y2) / 24.0;
            const double c5 = (y3 - ym2) / 120.0 + (ym1 - y2) / 24.0 + (y1 - y0) / 12.0;
            const double v = y0 + t * (c1 + t * (c2 + t * (c3 + t * (c4 + t * c5))));
            points[k] = CGPoint{height(std::max(v, 0.0)) * scale + centre, centre - height(-std::min(v, 0.0)) * scale};
        }
    }
    overview.waveformPointsCount = widthPx;
    points[widthPx] = CGPoint{static_cast<double>(widthPx), widthPx > 0 ? points[widthPx - 1].y : 0.0};
    settings.representedVerticalZoom = settings.verticalZoom;
    visibleRange = IndexRange(Num::Count(first), Num::Count(std::min(first + numVisible, maxIndex)));
    return true;
}

bool updateWaveformCache(WaveformOverview<CGPoint>& overview, WaveformZoomSettings& settings,
                         const ChannelSamples& samples, bool hasDocument, std::int32_t channelNumber,
                         const CGRect& frame, IndexRange& visibleRange, bool& updateInProgress, ColumnSplitter split,
                         std::uint64_t* pending, const SharedColumns* shared) {
    if (!samples.isValid() || samples.count() == 0) return false;
    if (!hasDocument) {
        std::printf("skipping imp");
        return false;
    }
    if (channelNumber < 0 || frame.size.width < 10.0) return false;
    struct InProgress {
        bool& flag;
        explicit InProgress(bool& f) : flag(f) { flag = true; }
        ~InProgress() { flag = false; }
    } inProgress(updateInProgress);
    return calculateWaveformOverview(overview, settings, samples, frame, visibleRange, split, pending, shared);
}

} // namespace ZQ
