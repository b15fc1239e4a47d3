#include "window/ZQWindowChannels.h"

#include "window/TwoCoreRunner.h"
#include "window/ViewPreferences.h"
#include "window/ZQWaveformHost.h"

#include <algorithm>
#include <cmath>
#include <vector>

using namespace ZQ;

void ZQWindowChannels::build(QWidget* parent, const Frame& frame) {
    splitView_ = new ZQSimpleHorzontalSplitView(parent);
    placeChild(splitView_, frame, kWidthSizable | kHeightSizable);
    splitView_->setDividerThickness(2);
    splitView_->setDrawsDivider(false);
    applyFit();
    splitView_->update();
}

void ZQWindowChannels::applyFit() {
    if (splitView_) splitView_->setMinimumSubviewHeight(ViewPreferences::fitsChannels() ? 0 : kMinimumViewHeight);
}

void ZQWindowChannels::addViews(ZQAudioFileDocument* document, ZQWaveformHost* host, std::int32_t channels) {
    if (!splitView_) return;
    const Frame bounds = boundsOf(splitView_);
    const double h = std::floor(bounds.height / channels);
    for (std::int32_t i = 0; i < channels; ++i) {
        ZQWaveform* view =
            ZQWaveform::initWithFrame(splitView_, {0, std::ceil(i * h), bounds.width, h}, document, host, i);
        if (!view) continue; // channels beyond the sixteenth
        views_[static_cast<std::size_t>(i)] = view;
        splitView_->addSubview(view);
        splitView_->resizeSubviews();
        view->update();
    }
}

ZQWaveform* ZQWindowChannels::view(int channel) const {
    return channel >= 0 && channel < kMaxViews ? views_[static_cast<std::size_t>(channel)].data() : nullptr;
}

int ZQWindowChannels::count() const {
    return static_cast<int>(std::count_if(views_.begin(), views_.end(), [](const auto& v) { return !v.isNull(); }));
}

bool ZQWindowChannels::showTraces() const {
    bool traces = false;
    forEach([&traces](ZQWaveform* v) { traces = traces || v->display() != ViewPreferences::Display::Spectrogram; });
    return traces;
}

bool ZQWindowChannels::showEveryColumn() const {
    bool all = true;
    forEach([&all](ZQWaveform* v) { all = all && !v->needsTraces() && v->columnsAwaitingSummary() == 0; });
    return all;
}

void ZQWindowChannels::setNeedsDisplay() {
    forEach([](ZQWaveform* v) { v->setNeedsDisplay(); });
}

void ZQWindowChannels::redrawSpectrograms() {
    forEach([](ZQWaveform* v) {
        if (v->display() != ViewPreferences::Display::Waveform) v->setNeedsDisplay();
    });
}

void ZQWindowChannels::redrawAwaitingSummaries() {
    forEach([](ZQWaveform* v) {
        if (v->columnsAwaitingSummary() > 0) v->setNeedsDisplay();
    });
}

void ZQWindowChannels::drawTogether() {
    std::vector<ZQWaveform*> views;
    forEach([&views](ZQWaveform* v) {
        if (v->needsTraces()) views.push_back(v);
    });
    if (views.size() < 2) return; // one view draws itself
    for (ZQWaveform* v : views)
        v->prepareDrawing();
    // Zoomed out, the columns of all channels are reduced together (their
    // frames are read once, not once a view), shared between the cores.
    ZQ::SharedColumns shared;
    for (ZQWaveform* v : views)
        if (v->computeSharedColumns(shared)) {
            for (ZQWaveform* u : views)
                u->useSharedColumns(&shared);
            break;
        }
    // Each view's reduction reads only its own channel and writes only its
    // own overview and image; half of the views go to the other core.
    auto work = [&views](std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t i = from; i < to; ++i)
            views[i]->rebuildTraces(false);
    };
    runOnBothCores(views.size(), work);
    for (ZQWaveform* v : views) {
        v->useSharedColumns(nullptr);
        v->finishRebuild();
    }
}

int ZQWindowChannels::commonHeight() const {
    int smallest = 0;
    forEach([&smallest](ZQWaveform* v) {
        const int h = v->deviceSize().height();
        smallest = smallest == 0 ? h : std::min(smallest, h);
    });
    return smallest;
}

void ZQWindowChannels::scrollBy(int pixels) {
    if (splitView_ && splitView_->isScrolling()) splitView_->scrollBy(pixels);
}

void ZQWindowChannels::resize() {
    if (splitView_) splitView_->resizeSubviews();
}

void ZQWindowChannels::documentWillClose() {
    for (QPointer<ZQWaveform>& v : views_) {
        if (v) v->documentWillClose();
        v = nullptr;
    }
    splitView_ = nullptr;
}
