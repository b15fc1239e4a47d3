// The small labels and toggles over one channel view: the channel's name at
// the top left, the amplitude's zoom at the top right, the first and last
// frames drawn in the bottom corners, and the channel's Mute and Solo
// toggles. Their look follows the view's background and their places what
// fits in the view and what it shows; they read all of that from the view
// and keep none of it. Main thread.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QRect>
#include <QToolButton>
#include <cstdint>

class ZQWaveform;

class ZQChannelLabels {
public:
    explicit ZQChannelLabels(ZQWaveform& view) : view_(view) {}

    // The three numeric labels exist (none since the document closed).
    bool built() const { return vZoom_ && firstVisible_ && lastVisible_; }
    // Makes the labels and toggles that are missing, then shows and places them.
    void build();
    // Light text on dark backgrounds and dark on light ones.
    void applyLook();
    // Each as wide as its text, where it fits in the view as it is now.
    void place();
    // The frames drawn, first..last, and the amplitude's zoom (blank when
    // `empty`); placed again for the new widths.
    void showDrawn(bool empty, std::uint64_t first, std::uint64_t last, double verticalZoom);
    // The toggles show the document's mute and solo state of the channel.
    void syncToggles();
    // Where the toggles shown are, in device pixels (the frequency scale
    // keeps clear of them).
    QRect togglesInDevicePixels() const;
    // The labels go with the document; the toggles stay and act on nothing.
    void documentWillClose();

    QLabel* vZoom() const { return vZoom_; }
    QLabel* firstVisible() const { return firstVisible_; }
    QLabel* lastVisible() const { return lastVisible_; }
    QLabel* channelName() const { return channelName_; }
    QToolButton* mute() const { return mute_; }
    QToolButton* solo() const { return solo_; }

private:
    ZQWaveform& view_;
    QPointer<QLabel> vZoom_, firstVisible_, lastVisible_, channelName_;
    QPointer<QToolButton> mute_, solo_;
};
