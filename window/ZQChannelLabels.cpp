#include "window/ZQChannelLabels.h"

#include "audiofile/ChannelNames.h"
#include "controls/Colours.h"
#include "controls/ZQChannelToggle.h"
#include "window/ViewPreferences.h"
#include "window/ZQWaveform.h"

#include <QSignalBlocker>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace ZQ;

namespace {

// The labels' heights: normal, and on the compact line of a short view.
constexpr int kLabelHeight = 13;
constexpr int kCompactHeight = 11;
constexpr int kToggleSize = 14;

} // namespace

void ZQChannelLabels::build() {
    const int channelNumber = view_.channelNumber();
    ZQAudioFileDocument* document = view_.document();
    auto label = [this](Qt::Alignment alignment) {
        auto* l = new QLabel(&view_);
        l->hide();
        QFont f = l->font();
        f.setPixelSize(9);
        l->setFont(f);
        l->setTextInteractionFlags(Qt::NoTextInteraction);
        l->setAttribute(Qt::WA_TransparentForMouseEvents); // clicks select, wherever they land
        l->setAlignment(alignment | Qt::AlignVCenter);
        l->setContentsMargins(2, 0, 2, 0);
        return l;
    };
    if (!vZoom_) {
        vZoom_ = label(Qt::AlignRight);
        vZoom_->setNum(100);
        vZoom_->show();
    }
    if (!firstVisible_) {
        firstVisible_ = label(Qt::AlignLeft);
        firstVisible_->setNum(0);
        firstVisible_->show();
    }
    if (!lastVisible_) {
        lastVisible_ = label(Qt::AlignRight);
        lastVisible_->setNum(0);
        lastVisible_->show();
    }
    if (!channelName_) {
        channelName_ = label(Qt::AlignLeft);
        const unsigned channels = document ? static_cast<unsigned>(std::max(0, document->channelCount())) : 0;
        const std::vector<std::string> names = ZQ::channelNames(channels, document ? document->speakerMask() : 0);
        const auto index = static_cast<std::size_t>(channelNumber);
        channelName_->setText(index < names.size() ? QString::fromStdString(names[index])
                                                   : QString::number(channelNumber + 1));
        channelName_->setObjectName(QStringLiteral("channelName"));
        channelName_->show();
    }
    applyLook();
    // Mute and Solo for this channel, small, at the left edge. They act on
    // the document the view has when clicked (none once it closed).
    auto toggle = [this, channelNumber](const char* text, const char* name, const QString& tip, const char* on) {
        auto* b = new ZQChannelToggle(QString::fromUtf8(text), QColor(QString::fromUtf8(on)), &view_);
        b->setObjectName(QString::fromUtf8(name) + QString::number(channelNumber + 1));
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        return b;
    };
    const QString channel = QString::number(channelNumber + 1);
    if (!mute_) {
        mute_ = toggle("M", "muteChannel", QStringLiteral("Mute channel %1").arg(channel), "#f0b040");
        QObject::connect(mute_, &QToolButton::toggled, &view_, [view = &view_](bool on) {
            ZQAudioFileDocument* d = view->document();
            if (d && d->isChannelMuted(view->channelNumber()) != on) d->setChannelMuted(view->channelNumber(), on);
        });
        mute_->show();
    }
    if (!solo_) {
        solo_ = toggle("S", "soloChannel", QStringLiteral("Solo channel %1").arg(channel), "#60d070");
        QObject::connect(solo_, &QToolButton::toggled, &view_, [view = &view_](bool on) {
            ZQAudioFileDocument* d = view->document();
            if (d && d->isChannelSoloed(view->channelNumber()) != on) d->setChannelSoloed(view->channelNumber(), on);
        });
        solo_->show();
    }
    syncToggles();
    place();
}

void ZQChannelLabels::applyLook() {
    // Light text on dark backgrounds and dark on light ones, over a faint
    // backing of the background, so that a loud trace never hides them.
    const bool light = view_.hasLightBackground();
    const RGBAlphaComponents& b = view_.waveformColors().backgroundColor;
    for (QLabel* l : {vZoom_.data(), firstVisible_.data(), lastVisible_.data(), channelName_.data()}) {
        if (!l) continue;
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, light ? QColor::fromRgbF(0, 0, 0, 0.65) : calibratedWhite(1.0, 0.5));
        p.setColor(QPalette::Window, QColor::fromRgbF(b.r_, b.g_, b.b_, 0.6));
        l->setPalette(p);
        l->setAutoFillBackground(true);
    }
}

void ZQChannelLabels::place() {
    // Each label as wide as its text, one pixel inside the view's border.
    // A view tall enough has the name and the amplitude at the top, Mute and
    // Solo above the bottom row, and the first and last visible frames in the
    // bottom corners; a short one (channels fitted into a small window) puts
    // the name and the toggles on one compact line and leaves out what does
    // not fit. Over a spectrogram the frames' numbers sit above it, never on
    // its lowest (often only) content.
    const int W = view_.width(), H = view_.height();
    const bool compact = H < 2 * kLabelHeight + 4;
    const int h = compact ? std::min(kCompactHeight, H) : kLabelHeight;
    auto place = [h](QWidget* l, int x, int y, int w) {
        if (l) l->setGeometry(x, y, w, h);
    };
    auto widthOf = [](QLabel* l) { return l ? l->sizeHint().width() : 0; };
    auto show = [](QWidget* l, bool on) {
        if (l && l->isVisibleTo(l->parentWidget()) != on) l->setVisible(on);
    };
    const qreal ratio = view_.devicePixelRatioF();
    const int traceBottom = int(std::floor(view_.traceRows() / ratio)); // logical rows of the traces
    const ViewPreferences::Display shown = view_.display();
    // The bottom row: the view's bottom, or just above the spectrogram.
    int bottomRow = H - 1 - h;
    if (shown == ViewPreferences::Display::Both && traceBottom > 2 * h) bottomRow = traceBottom - h;
    const bool spectrogramOnly = shown == ViewPreferences::Display::Spectrogram;

    const int nameWidth = widthOf(channelName_);
    const int top = compact ? std::max(0, (H - h) / 2) : 1;
    place(channelName_, 1, top, std::min(nameWidth, std::max(0, W - 2)));
    show(channelName_, H >= 9);
    // Mute and Solo: after the name on the compact line, else above the
    // bottom row at the left edge.
    int toggleX = 2, toggleY = H - 15 - kToggleSize;
    int toggleSize = kToggleSize;
    if (compact) {
        toggleX = 1 + nameWidth + 3;
        toggleY = top;
        toggleSize = h;
    }
    if (mute_) mute_->setGeometry(toggleX, toggleY, toggleSize + 2, toggleSize);
    if (solo_) solo_->setGeometry(toggleX + toggleSize + 4, toggleY, toggleSize + 2, toggleSize);
    const int togglesRight = toggleX + 2 * toggleSize + 6;
    const bool togglesFit = compact ? H >= 9 && togglesRight < W : H >= 15 + kToggleSize + 2;
    show(mute_, togglesFit);
    show(solo_, togglesFit);

    // The amplitude at the top right, where it does not meet the name (or
    // the toggles) and a spectrogram alone does not make it meaningless.
    const int zoomWidth = widthOf(vZoom_);
    place(vZoom_, W - 1 - zoomWidth, 1, zoomWidth);
    const int leftTaken = compact && togglesFit ? togglesRight : 1 + nameWidth;
    show(vZoom_,
         !compact && !spectrogramOnly && W - 1 - zoomWidth > leftTaken + 4 && vZoom_ && !vZoom_->text().isEmpty());

    // The first and last visible frames: the bottom row, or the top row over
    // a spectrogram alone (where the amplitude is not shown).
    const int firstWidth = widthOf(firstVisible_), lastWidth = widthOf(lastVisible_);
    int indexRow = bottomRow, firstX = 1;
    if (spectrogramOnly && !compact) {
        indexRow = 1;
        firstX = 1 + nameWidth + 4;
    }
    place(firstVisible_, firstX, indexRow, firstWidth);
    place(lastVisible_, W - 1 - lastWidth, indexRow, lastWidth);
    const bool indexesFit = !compact && H >= h + 6 && firstX + firstWidth + 4 < W - 1 - lastWidth;
    show(firstVisible_, indexesFit && !(firstVisible_ && firstVisible_->text().isEmpty()));
    show(lastVisible_, indexesFit && !(lastVisible_ && lastVisible_->text().isEmpty()));
}

void ZQChannelLabels::showDrawn(bool empty, std::uint64_t first, std::uint64_t last, double verticalZoom) {
    auto show = [](QLabel* l, const QString& text) {
        if (l && l->text() != text) l->setText(text);
    };
    show(firstVisible_, empty ? QString() : QString::number(static_cast<qulonglong>(first)));
    show(lastVisible_, empty ? QString() : QString::number(static_cast<qulonglong>(last)));
    const double v = verticalZoom;
    if (v <= 20 && v >= -20) show(vZoom_, empty ? QString() : QString::number(std::int32_t(v * 100)));
    place();
}

void ZQChannelLabels::syncToggles() {
    ZQAudioFileDocument* document = view_.document();
    if (!document) return;
    const int channelNumber = view_.channelNumber();
    if (mute_) {
        const QSignalBlocker quiet(mute_);
        mute_->setChecked(document->isChannelMuted(channelNumber));
    }
    if (solo_) {
        const QSignalBlocker quiet(solo_);
        solo_->setChecked(document->isChannelSoloed(channelNumber));
    }
}

QRect ZQChannelLabels::togglesInDevicePixels() const {
    QRect toggles;
    const qreal ratio = view_.devicePixelRatioF();
    for (QToolButton* b : {mute_.data(), solo_.data()})
        if (b && b->isVisibleTo(&view_)) {
            const QRect r = b->geometry();
            toggles |= QRect(int(r.x() * ratio), int(r.y() * ratio), int(std::ceil(r.width() * ratio)),
                             int(std::ceil(r.height() * ratio)));
        }
    return toggles;
}

void ZQChannelLabels::documentWillClose() {
    vZoom_ = firstVisible_ = lastVisible_ = channelName_ = nullptr;
}
