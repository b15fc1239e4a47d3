#include "waveform/WindowState.h"

#include <algorithm>

namespace ZQ {

WindowState::WindowState(WindowStateObserver* observer) : observer_(observer) {
    zoom_.setWaveformView(this);
    selection_.waveform_ = this;
}

WindowState::Batch::Batch(WindowState& state) : s(state) {
    if (s.batch_++ == 0) s.rangeBefore_ = s.shownRange();
}

WindowState::Batch::~Batch() {
    if (--s.batch_ != 0) return;
    // A step too small for the settings to report (deep in a long file)
    // still shows other frames.
    if (s.zoomPending_ || !(s.shownRange() == s.rangeBefore_)) {
        s.zoomPending_ = false;
        if (s.observer_) s.observer_->windowZoomDidChange();
    }
}

void WindowState::setLength(std::uint64_t frames) {
    Batch batch(*this);
    length_ = frames;
    zoom_.setLimits(frames, zoom_.halfPhysicalViewHeightPx.v_ * 2);
    const SampleSelection s = selection_.selection();
    const std::uint64_t last = lastFrame();
    setSelection(SampleSelection(Num::Count(std::min<std::uint64_t>(s.min_.v_, last)),
                                 Num::Count(std::min<std::uint64_t>(s.max_.v_, last))));
    playPosition_ = std::min(playPosition_, frames);
    // The limits may have left every value as it was; the views draw anew anyway.
    zoomSettingsHaveChanged();
}

IndexRange WindowState::shownRange() const {
    const std::uint64_t first = zoom_.firstVisibleSample();
    const std::uint64_t last =
        std::min<std::uint64_t>(first + zoom_.numVisibleSamples(), zoom_.validSampleRange_.max_.v_);
    return IndexRange(Num::Count(first), Num::Count(std::max(first, last)));
}

ChannelGeometry WindowState::geometry(double logicalWidth, double ratio) const {
    // The columns span every visible frame, as the traces' do, also where
    // the last of them is the file's last frame (the range above stops there).
    const std::uint64_t first = zoom_.firstVisibleSample();
    return ChannelGeometry::of(first, first + zoom_.numVisibleSamples(), logicalWidth, ratio, lastFrame());
}

void WindowState::setSelection(const SampleSelection& selection) {
    extending_ = false;
    const std::uint64_t last = lastFrame();
    SampleSelection s = selection.isValid() ? selection : SampleSelection(selection.max_, selection.min_);
    s = SampleSelection(Num::Count(std::min<std::uint64_t>(s.min_.v_, last)),
                        Num::Count(std::min<std::uint64_t>(s.max_.v_, last)));
    selection_.set(s);
}

void WindowState::handleSelectionEvent(const SelectionEvent& event) {
    extending_ = false;
    if (isEmpty()) return;
    SelectionEvent e = event;
    e.index = std::min(e.index, lastFrame());
    selection_.eventHandler.handle(e, selection_);
}

void WindowState::extendSelectionTo(std::uint64_t frame) {
    if (isEmpty()) return;
    if (!extending_) {
        const SampleSelection s = selection_.selection();
        anchor_ = s.min_.v_;
        moving_ = s.max_.v_;
    }
    moving_ = std::min(frame, lastFrame());
    const SampleSelection s(Num::Count(std::min(anchor_, moving_)), Num::Count(std::max(anchor_, moving_)));
    selection_.set(s);
    extending_ = true; // after set: what the observer does meanwhile keeps the edges
}

void WindowState::extendSelection(std::int64_t frames) {
    if (isEmpty()) return;
    const std::uint64_t from = extending_ ? moving_ : selection_.selection().max_.v_;
    std::uint64_t to;
    if (frames < 0)
        to = from > std::uint64_t(-(frames + 1)) ? from - std::uint64_t(-(frames + 1)) - 1 : 0;
    else
        to = from + std::min<std::uint64_t>(std::uint64_t(frames), lastFrame() - std::min(from, lastFrame()));
    extendSelectionTo(to);
}

int WindowState::displayOverride(int channel) const {
    return channel >= 0 && std::size_t(channel) < displayOverrides_.size() ? displayOverrides_[std::size_t(channel)]
                                                                           : -1;
}

void WindowState::setDisplayOverride(int channel, int display) {
    if (channel < 0) return;
    if (displayOverrides_.size() <= std::size_t(channel)) displayOverrides_.resize(std::size_t(channel) + 1, -1);
    displayOverrides_[std::size_t(channel)] = std::clamp(display, -1, 2);
}

void WindowState::zoomSettingsHaveChanged() {
    if (batch_ > 0)
        zoomPending_ = true;
    else if (observer_)
        observer_->windowZoomDidChange();
}

double WindowState::deepestZoom() const {
    const double deepest = zoom_.horizontalZoomRange.min_;
    return deepest > 0 && deepest < 1.0 ? deepest : 1.0;
}

void WindowState::scrollToFirst(double wanted) {
    Batch batch(*this);
    // The scroll value whose first visible frame is nearest `wanted`: the
    // mapping is monotonic, so halving the interval finds it.
    WaveformZoomSettings probe = zoom_;
    probe.setWaveformView(nullptr);
    double lo = 0.0, hi = 1.0;
    for (int step = 0; step < 60; ++step) {
        const double mid = (lo + hi) / 2;
        probe.setHorizontalScroll(mid);
        if (double(probe.firstVisibleSample()) < wanted)
            lo = mid;
        else
            hi = mid;
    }
    zoom_.setHorizontalScroll(std::clamp(wanted <= 0 ? 0.0 : hi, 0.0, 1.0));
}

void WindowState::scrollByColumns(double columns, int width) {
    if (width <= 0) return;
    scrollToFirst(double(zoom_.firstVisibleSample()) + columns * double(zoom_.numVisibleSamples()) / width);
}

void WindowState::zoomAround(double factor, double xFraction) {
    if (!(factor > 0) || isEmpty()) return;
    Batch batch(*this);
    const double anchor = double(zoom_.firstVisibleSample()) + xFraction * double(zoom_.numVisibleSamples());
    zoom_.setHorizontalZoom(zoom_.horizontalZoom.v_ * factor);
    scrollToFirst(std::max(0.0, anchor - xFraction * double(zoom_.numVisibleSamples())));
}

void WindowState::zoomToSelection() {
    const SampleSelection s = selection();
    if (s.max_.v_ <= s.min_.v_) return;
    Batch batch(*this);
    const double n = double(zoom_.validSampleRange_.max_.v_) + 1;
    const double minVisible = double(zoom_.validNumVisibleSamples_.min_.v_);
    const double wanted = double(s.max_.v_ - s.min_.v_) + 1;
    // numVisible = minVisible + floor((n - minVisible) * zoom): the zoom whose
    // visible count is the selection's (a hair more, so that the floor keeps it).
    const double zoom = n > minVisible ? (std::max(wanted, minVisible) - minVisible + 0.5) / (n - minVisible) : 1.0;
    zoom_.setHorizontalZoom(zoom);
    scrollToFirst(double(s.min_.v_));
}

void WindowState::selectionDidChange() {
    if (observer_) observer_->windowSelectionDidChange();
}

} // namespace ZQ
