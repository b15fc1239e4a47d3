#include "controls/ZQLevelMeter.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kLampWidth = 10, kLampGap = 4, kScaleHeight = 10;
constexpr double kMarks[] = {-60, -48, -36, -24, -12, -6, 0};

double clampDb(double db) {
    return std::isnan(db) ? ZQLevelMeter::kFloorDb : std::clamp(db, ZQLevelMeter::kFloorDb, 0.0);
}

// Green up to -18 dBFS, yellow up to -6, red above: the colours peers use.
QColor zoneColour(double db) {
    if (db > -6.0) return QColor(220, 50, 40);
    if (db > -18.0) return QColor(230, 190, 40);
    return QColor(60, 170, 70);
}

} // namespace

ZQLevelMeter::ZQLevelMeter(QWidget* parent, int leftLimit, int margin)
    : QWidget(parent), leftLimit_(leftLimit), margin_(margin) {
    setToolTip(QStringLiteral("Output level (dBFS): bar RMS over 300 ms, mark peak. Click to clear the clip lamps."));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    if (parent) parent->installEventFilter(this);
    place();
}

void ZQLevelMeter::setChannelCount(int channels) {
    const int n = std::clamp(channels, 1, 2);
    if (n == channels_) return;
    channels_ = n;
    update();
}

void ZQLevelMeter::setLevels(int channel, double peakDb, double rmsDb, bool clipped) {
    if (channel < 0 || channel >= 2) return;
    const auto c = static_cast<std::size_t>(channel);
    peakDb = clampDb(peakDb);
    rmsDb = clampDb(rmsDb);
    // A change smaller than a pixel is not worth a repaint.
    const double pixel = 60.0 / std::max(1, barRect(0).width());
    const bool moved = std::fabs(peakDb - peak_[c]) >= pixel || std::fabs(rmsDb - rms_[c]) >= pixel ||
                       ((peakDb == kFloorDb) != (peak_[c] == kFloorDb)) ||
                       ((rmsDb == kFloorDb) != (rms_[c] == kFloorDb));
    const bool lamp = clipped != clip_[c];
    if (!moved && !lamp) return;
    peak_[c] = peakDb;
    rms_[c] = rmsDb;
    clip_[c] = clipped;
    update();
}

void ZQLevelMeter::setIdle() {
    for (int c = 0; c < 2; ++c)
        setLevels(c, kFloorDb, kFloorDb, clip_[static_cast<std::size_t>(c)]);
}

double ZQLevelMeter::peakDb(int channel) const {
    return channel >= 0 && channel < 2 ? peak_[static_cast<std::size_t>(channel)] : kFloorDb;
}
double ZQLevelMeter::rmsDb(int channel) const {
    return channel >= 0 && channel < 2 ? rms_[static_cast<std::size_t>(channel)] : kFloorDb;
}
bool ZQLevelMeter::isClipLit(int channel) const {
    return channel >= 0 && channel < 2 && clip_[static_cast<std::size_t>(channel)];
}

QRect ZQLevelMeter::scaleArea() const {
    return QRect(0, 0, std::max(0, width() - kLampWidth - kLampGap), height() - kScaleHeight);
}

double ZQLevelMeter::xForDb(double db) const {
    const QRect a = scaleArea();
    return a.left() + (clampDb(db) - kFloorDb) / -kFloorDb * a.width();
}

QRect ZQLevelMeter::barRect(int channel) const {
    const QRect a = scaleArea();
    const int gap = 2;
    const int h = channels_ == 1 ? a.height() : (a.height() - gap) / 2;
    return QRect(a.left(), a.top() + channel * (h + gap), a.width(), h);
}

QRect ZQLevelMeter::lampRect(int channel) const {
    const QRect bar = barRect(channel);
    return QRect(width() - kLampWidth, bar.top(), kLampWidth, bar.height());
}

void ZQLevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor trough(40, 40, 40);
    for (int c = 0; c < channels_; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const QRect bar = barRect(c);
        p.fillRect(bar, trough);
        // The RMS as a bar in its zones' colours.
        const double rmsX = xForDb(rms_[i]);
        for (const auto& [from, to] : {std::pair{kFloorDb, -18.0}, std::pair{-18.0, -6.0}, std::pair{-6.0, 0.0}}) {
            const double x0 = xForDb(from), x1 = std::min(xForDb(to), rmsX);
            if (x1 > x0) p.fillRect(QRectF(x0, bar.top(), x1 - x0, bar.height()), zoneColour((from + to) / 2));
        }
        // The held peak as a bright mark.
        if (peak_[i] > kFloorDb) {
            const double x = std::min(xForDb(peak_[i]), double(bar.right()) - 1);
            p.fillRect(QRectF(x, bar.top(), 2, bar.height()), zoneColour(peak_[i]).lighter(140));
        }
        p.fillRect(lampRect(c), clip_[i] ? QColor(255, 30, 30) : QColor(90, 30, 30));
    }
    // The scale: a tick and a number for each mark.
    QFont f = font();
    f.setPixelSize(8);
    p.setFont(f);
    p.setPen(QColor(80, 80, 80));
    const int top = height() - kScaleHeight;
    const QFontMetrics m(f);
    for (double db : kMarks) {
        const double x = xForDb(db);
        p.drawLine(QPointF(x, top), QPointF(x, top + 2));
        const QString label = QString::number(int(db));
        const int w = m.horizontalAdvance(label);
        const double left = std::clamp(x - w / 2.0, 0.0, double(scaleArea().right() - w + 1));
        p.drawText(QPointF(left, height() - 1), label);
    }
}

void ZQLevelMeter::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    clip_ = {false, false};
    if (clearClip_) clearClip_();
    update();
}

bool ZQLevelMeter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize) place();
    return QWidget::eventFilter(watched, event);
}

void ZQLevelMeter::place() {
    const QWidget* p = parentWidget();
    if (!p) return;
    const int right = p->width() - margin_;
    const int left = std::max(leftLimit_, right - kPreferredWidth);
    if (right - left < kMinimumWidth) {
        hide();
        return;
    }
    setGeometry(left, p->height() - margin_ - kHeight, right - left, kHeight);
    show();
    raise();
}
