// Level meters for one or two output channels, in the window's bottom
// strip: a bar per channel showing the RMS, a mark at the held peak, a dBFS
// scale from -60 to 0 under them, and a clip lamp per channel at the right
// that stays lit until the meter is clicked. It sits at its parent's
// bottom right and hides where the parent is too narrow to leave it room
// beside the readouts.
#pragma once

#include <QWidget>
#include <array>
#include <functional>

class ZQLevelMeter final : public QWidget {
public:
    static constexpr double kFloorDb = -60.0;
    static constexpr int kHeight = 28, kPreferredWidth = 230, kMinimumWidth = 120;

    // `leftLimit`: the parent's x (from its left) the meter never reaches
    // into; `margin`: its distance from the parent's right and bottom.
    ZQLevelMeter(QWidget* parent, int leftLimit, int margin);

    // 1 or 2 channels; others are clamped.
    void setChannelCount(int channels);
    int channelCount() const { return channels_; }
    // dBFS (below the floor reads as the floor). Repaints only what changed.
    void setLevels(int channel, double peakDb, double rmsDb, bool clipped);
    // Nothing playing: every bar at the floor (the lamps stay as they are).
    void setIdle();
    double peakDb(int channel) const;
    double rmsDb(int channel) const;
    bool isClipLit(int channel) const;
    // Called when a click clears the lamps.
    void setClearClip(std::function<void()> clear) { clearClip_ = std::move(clear); }

    // The x (in the meter) of a level in dBFS, and the bar of a channel.
    double xForDb(double db) const;
    QRect barRect(int channel) const;
    QRect lampRect(int channel) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();
    QRect scaleArea() const;

    int leftLimit_, margin_;
    int channels_ = 2;
    std::array<double, 2> peak_{kFloorDb, kFloorDb}, rms_{kFloorDb, kFloorDb};
    std::array<bool, 2> clip_{false, false};
    std::function<void()> clearClip_;
};
