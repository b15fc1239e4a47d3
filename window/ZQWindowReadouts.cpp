#include "window/ZQWindowReadouts.h"

#include "controls/Colours.h"
#include "controls/Frames.h"
#include "platform/threads/Threads.h"

#include <QEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace ZQ;

namespace {

// A length of time as short as it reads well: "0.021 s", "1:02.500",
// "1:02:03.250".
std::string durationText(double seconds) {
    const auto ms = static_cast<long long>(std::llround(std::max(0.0, seconds) * 1000.0));
    const long long h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60, f = ms % 1000;
    char text[64];
    if (ms < 60000)
        std::snprintf(text, sizeof text, "%lld.%03lld s", s, f);
    else if (h == 0)
        std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", m, s, f);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", h, m, s, f);
    return text;
}

// Where the readouts sit (from the content's left) and how wide they are at most.
constexpr int kTimeX = 448, kTimeWidth = 80;
constexpr int kCountX = 536, kSelectionX = 558, kReadoutWidth = 160;
constexpr int kMeterX = 722;

} // namespace

ZQWindowReadouts::ZQWindowReadouts(QWidget* content, ZQAudioFileDocument* document, WindowState* state)
    : QObject(content), content_(content), document_(Ref<ZQAudioFileDocument>::retain(document)), state_(state) {
    auto look = [](QLabel* l, Qt::Alignment alignment) {
        QFont f = l->font();
        f.setPixelSize(11);
        f.setBold(false);
        l->setFont(f);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, darkGrayColour());
        l->setPalette(p);
        l->setAlignment(alignment | Qt::AlignVCenter);
        l->raise();
    };
    sampleCountDisplay_ = new ZQSampleCountDisplay(content);
    placeChild(sampleCountDisplay_, {kCountX, 18, kReadoutWidth, 16}, kMaxXMargin | kMaxYMargin);
    look(sampleCountDisplay_, Qt::AlignLeft);
    currentSelectionDisplay_ = new ZQSampleCountDisplay(content);
    // Below the play position, as the duration is below the time: on its row the
    // two readouts would overlap.
    placeChild(currentSelectionDisplay_, {kSelectionX, 6, kReadoutWidth, 16}, kMaxXMargin | kMaxYMargin);
    look(currentSelectionDisplay_, Qt::AlignLeft);
    currentSelectionDisplay_->setAllowsZeroLengthRange(true);
    // The selection: its first and last frames and how long it lasts; a
    // dash when nothing is selected.
    currentSelectionDisplay_->setFormatter([this](const Num::SampleRange& r) {
        if (r.min_.v_ >= r.max_.v_) {
            if (currentSelectionDisplay_) currentSelectionDisplay_->setToolTip(QStringLiteral("Selection: none"));
            return std::string("\u2014");
        }
        const double rate = document_ ? document_->sampleRate() : 0.0;
        std::string text = std::to_string(r.min_.v_) + "\u2013" + std::to_string(r.max_.v_);
        if (rate > 0) text += " (" + durationText(double(r.max_.v_ - r.min_.v_ + 1) / rate) + ")";
        if (currentSelectionDisplay_)
            currentSelectionDisplay_->setToolTip(QStringLiteral("Selection: ") + QString::fromStdString(text));
        return text;
    });
    hmsDuration_ = new ZQHMSDisplay(content);
    placeChild(hmsDuration_, {kTimeX, 6, kTimeWidth, 16}, kMaxXMargin | kMaxYMargin);
    look(hmsDuration_, Qt::AlignRight);
    hmsCurrent_ = new ZQHMSDisplay(content);
    placeChild(hmsCurrent_, {kTimeX, 18, kTimeWidth, 16}, kMaxXMargin | kMaxYMargin);
    look(hmsCurrent_, Qt::AlignRight);
    // What each readout shows, for whoever wonders.
    hmsCurrent_->setToolTip(QStringLiteral("Play position (hours:minutes:seconds.milliseconds)"));
    sampleCountDisplay_->setToolTip(QStringLiteral("Play position / length, in samples"));
    hmsDuration_->setToolTip(QStringLiteral("Duration"));
    // What a screen reader says before each readout's text.
    hmsCurrent_->setAccessibleName(QStringLiteral("Play position"));
    sampleCountDisplay_->setAccessibleName(QStringLiteral("Play position and length in samples"));
    hmsDuration_->setAccessibleName(QStringLiteral("Duration"));
    currentSelectionDisplay_->setAccessibleName(QStringLiteral("Selection in samples"));

    // The level meters, at the bottom right, clear of the readouts.
    levelMeter_ = new ZQLevelMeter(content, kMeterX, 4);
    levelMeter_->setChannelCount(document_ && document_->channelCount() == 1 ? 1 : 2);
    levelMeter_->setClearClip([this] {
        if (!document_) return;
        if (ZQAudioFileDocumentOutputSourceController* source = document_->outputSourceController())
            if (ZQ::LevelMeter* m = source->levelMeter())
                for (unsigned c = 0; c < ZQ::LevelMeter::kMaxChannels; ++c)
                    m->clearClip(c);
    });
    content->installEventFilter(this);
    layout();
}

bool ZQWindowReadouts::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && event->type() == QEvent::Resize) layout();
    return false;
}

void ZQWindowReadouts::layout() {
    if (!content_) return;
    // The frame and selection readouts take what is left up to the window's
    // right edge (or the meters), down to a few characters; they elide past that.
    const int right = std::min(content_->width() - 4, kMeterX);
    const struct {
        ZQSampleCountDisplay* display;
        int x, y;
    } kReadouts[] = {{sampleCountDisplay_, kCountX, 18}, {currentSelectionDisplay_, kSelectionX, 6}};
    for (const auto& r : kReadouts) {
        const int width = std::clamp(right - r.x, 24, kReadoutWidth);
        // Through the frame helper, which places them again on every resize.
        if (r.display && r.display->width() != width)
            setFrame(r.display, {double(r.x), double(r.y), double(width), 16});
    }
}

bool ZQWindowReadouts::update() {
    if (!document_) return false;
    HMSTime now;
    ZQAudioFileDocumentOutputSourceController* source = document_->outputSourceController();
    if (source) source->hmsTime(&now);
    AudioFileDocumentSampleData* data = document_->sampleData();
    const bool hasChannels = data && data->channelCount() >= 1;
    const Num::Count length = hasChannels ? data->channelSampleCount(0) : Num::Count(0ull);
    const HMSTime duration = hasChannels ? HMSTime(sample_rate(data->sampleRate()), length) : HMSTime();
    if (hmsCurrent_) hmsCurrent_->setHMSValue(&now);
    if (hmsDuration_) hmsDuration_->setHMSValue(&duration);
    // Past the last frame (at the end) the position reads as the last one.
    const std::uint64_t at = length.v_ == 0 ? 0 : std::min<std::uint64_t>(now.sample_.v_, length.v_ - 1);
    const Num::SampleRange position = hasChannels && source ? Num::SampleRange(Num::Count(at), length)
                                                            : Num::SampleRange(Num::Count(0ull), Num::Count(0ull));
    if (sampleCountDisplay_) sampleCountDisplay_->setRange(&position);
    updateSelection();
    return true;
}

void ZQWindowReadouts::updateSelection() {
    if (!currentSelectionDisplay_ || !state_) return;
    const SampleSelection s = state_->selection();
    currentSelectionDisplay_->setRange(&s);
}

void ZQWindowReadouts::updateLevelMeter() {
    if (!levelMeter_ || !document_ || !platform::Thread::isMainThread()) return;
    ZQAudioFileDocumentOutputSourceController* source = document_->outputSourceController();
    const ZQ::LevelMeter* m = source ? source->levelMeter() : nullptr;
    if (!m) return levelMeter_->setIdle();
    levelMeter_->setChannelCount(document_->channelCount() == 1 ? 1 : 2);
    for (int c = 0; c < levelMeter_->channelCount(); ++c) {
        const auto i = static_cast<unsigned>(c);
        if (m->isActive())
            levelMeter_->setLevels(c, m->peakDb(i), m->rmsDb(i), m->clipped(i));
        else
            levelMeter_->setLevels(c, ZQLevelMeter::kFloorDb, ZQLevelMeter::kFloorDb, m->clipped(i));
    }
}

void ZQWindowReadouts::documentWillClose() {
    document_ = {};
    state_ = nullptr;
    hmsCurrent_ = hmsDuration_ = nullptr;
    sampleCountDisplay_ = currentSelectionDisplay_ = nullptr;
}
