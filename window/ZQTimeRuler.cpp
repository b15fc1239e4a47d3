#include "window/ZQTimeRuler.h"

#include "audiofile/Markers.h"
#include "controls/Colours.h"
#include "window/MarkerRenderer.h"
#include "window/ZQAccessibility.h"
#include "window/ZQWaveform.h"
#include "window/ZQWaveformDisplayController.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string_view>

using namespace ZQ;
using platform::Ref;

namespace {

constexpr int kFontPixels = 10;

const QColor& markerColour() {
    static const QColor c(232, 150, 24);
    return c;
}

// Pixels the pointer goes before a press on a marker becomes a drag.
constexpr double kDragStart = 3;

// The editor of a marker's name: Enter keeps, Escape (or leaving it) cancels.
class NameEditor final : public QLineEdit {
public:
    NameEditor(QWidget* parent, std::function<void(bool)> done) : QLineEdit(parent), done_(std::move(done)) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) return finish(false);
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return finish(true);
        QLineEdit::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        finish(false);
    }

private:
    void finish(bool keep) {
        if (!done_) return;
        auto done = std::move(done_);
        done_ = nullptr;
        done(keep);
    }
    std::function<void(bool)> done_;
};

} // namespace

ZQTimeRuler::ZQTimeRuler(QWidget* parent, ZQWaveformDisplayController* controller)
    : QWidget(parent), controller_(controller) {
    setObjectName(QStringLiteral("timeRuler"));
    setAutoFillBackground(false);
    setToolTip(QStringLiteral("Click to move the play position"));
}

ZQTimeRuler::~ZQTimeRuler() {
    ZQ::Accessibility::rulerWillGo(this);
}

void ZQTimeRuler::detach() {
    controller_ = nullptr;
    update();
}

int ZQTimeRuler::preferredHeight() const {
    return kScaleHeight + (markerLane_ ? kMarkerLaneHeight : 0);
}

void ZQTimeRuler::setShowsMarkerLane(bool shows) {
    if (shows == markerLane_) return;
    markerLane_ = shows;
    update();
}

ZQWaveform* ZQTimeRuler::view(int* left) const {
    ZQWaveform* v = controller_ ? controller_->waveform(0) : nullptr;
    if (v && left) *left = v->mapTo(window(), QPoint(0, 0)).x() - mapTo(window(), QPoint(0, 0)).x();
    return v;
}

void ZQTimeRuler::paintEvent(QPaintEvent*) {
    ticks_.clear();
    labels_.clear();
    markerLabels_.clear();
    labelledMarkers_.clear();
    QPainter p(this);
    p.fillRect(rect(), calibratedWhite(0.89, 1.0)); // the content box's own grey
    int left = 0;
    ZQWaveform* v = view(&left);
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (!v || !doc) return;
    const qreal ratio = devicePixelRatioF();
    // Everything below is in device pixels: one-pixel lines stay one pixel.
    // Columns come from the views' own geometry, so that ticks, marker
    // lines, the selection and clicks fall in the columns the views use.
    p.scale(1 / ratio, 1 / ratio);
    const ChannelGeometry g = v->shownGeometry();
    const double W = g.columns, x0 = std::round(left * ratio);
    const double H = std::round(height() * ratio), scaleTop = std::round((height() - kScaleHeight) * ratio);
    const double a = double(g.first), b = double(g.last);
    const std::uint64_t count = doc->sampleCount(0).v_;
    const double rate = doc->sampleRate();
    if (!(W > 0) || count == 0 || !(rate > 0)) return;
    p.setClipRect(QRectF(x0, 0, W, H));
    const QColor ink = darkGrayColour();
    const QColor ground = calibratedWhite(0.89, 1.0);

    // The selection, as the views show it.
    const SampleSelection s = v->selection();
    if (s.max_.v_ > s.min_.v_) {
        const ChannelGeometry::Span span = g.span(s.min_.v_, s.max_.v_);
        if (!span.empty())
            p.fillRect(QRectF(x0 + span.from, scaleTop, span.to - span.from, H - scaleTop), QColor(60, 110, 200, 60));
    }

    // The scale: ticks from the bottom edge (labelled ones longer), labels
    // just right of their tick.
    QFont font = p.font();
    font.setPixelSize(int(std::lround(kFontPixels * ratio)));
    p.setFont(font);
    const QFontMetricsF metrics(font);
    // The scale measures many candidate labels: each is the sum of its
    // characters' advances (digits, ':', '.', ' ', "s", "ms"), from a table
    // made once per paint rather than by shaping every text.
    std::array<double, 128> advance{};
    for (char ch : std::string_view("0123456789:. msh-"))
        advance[static_cast<unsigned char>(ch)] = metrics.horizontalAdvance(QChar(ch));
    const double widest = metrics.horizontalAdvance(QChar('W'));
    auto widthOf = [&advance, widest](const std::string& text) {
        double w = 0;
        for (char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            w += c < advance.size() && advance[c] > 0 ? advance[c] : widest;
        }
        return w;
    };
    ticks_ = TimeRuler::ticks(a, (b - a) / W, W, rate, count, widthOf, 12 * ratio);
    // Only the columns of the views: a tick at the very end would fall past them.
    std::erase_if(ticks_, [W](const TimeRuler::Tick& t) { return std::floor(t.x + 1e-6) >= W || t.x < 0; });
    struct Label {
        QRectF box;
        QString text;
    };
    std::vector<Label> scaleLabels;
    for (TimeRuler::Tick& t : ticks_) {
        t.x = std::floor(t.x + 1e-6); // the column the frame's line takes
        const double length = std::round((t.major ? 8 : 4) * ratio);
        p.fillRect(QRectF(x0 + t.x, H - length, 1, length), ink);
        if (!t.major || t.label.empty()) continue;
        const QString text = QString::fromStdString(t.label);
        const QRectF box(x0 + t.x + std::round(3 * ratio), scaleTop, metrics.horizontalAdvance(text),
                         H - scaleTop - std::round(6 * ratio));
        if (box.right() > x0 + W) continue; // cut by the edge: left out
        scaleLabels.push_back({box, text});
        labels_.push_back(box.toAlignedRect().translated(-int(x0), 0));
    }
    p.fillRect(QRectF(x0, H - 1, W, 1), QColor(0, 0, 0, 70)); // the edge against the views

    // Markers: a line down through the scale, names in the lane above it,
    // each left out where it would touch the one before.
    const MarkerList& markers = doc->markers();
    std::vector<double> lines; // the marker lines drawn, in device columns
    auto drawScaleLabels = [&] {
        // Over the marker lines: a label a line runs through gets the ruler's
        // own grey behind it, so that it stays legible.
        p.setFont(font);
        p.setPen(ink);
        for (const Label& l : scaleLabels) {
            const QRectF behind = l.box.adjusted(-1, 0, 1, 0);
            if (std::any_of(lines.begin(), lines.end(),
                            [&](double x) { return x >= behind.left() && x < behind.right(); }))
                p.fillRect(behind, ground);
            p.drawText(l.box, Qt::AlignLeft | Qt::AlignVCenter, l.text);
        }
    };
    if (markers.empty()) return drawScaleLabels();
    QFont small = font;
    small.setPixelSize(int(std::lround((kFontPixels - 1) * ratio)));
    const QFontMetricsF smallMetrics(small);
    p.setFont(small);
    double lastRight = -1e9;
    auto draw = [&](std::size_t i) {
        const Marker& m = markers.items()[i];
        const double x = double(g.column(m.frame));
        if (m.isRegion()) {
            const double end = std::min(W, double(g.column(m.end())));
            const double from = std::max(0.0, x);
            p.fillRect(QRectF(x0 + from, 0, std::max(1.0, end - from), H), QColor(232, 150, 24, 40));
        }
        if (x < 0 || x >= W) return;
        const bool chosen = std::ptrdiff_t(i) == controller_->markerEditing().chosen();
        p.fillRect(QRectF(x0 + x - (chosen ? std::round(ratio) : 0), 0, chosen ? std::round(3 * ratio) : 1, H),
                   chosen ? QColor(200, 80, 0) : markerColour());
        lines.push_back(x0 + x);
        // A name that would start too near the last one is not even measured:
        // zoomed out, most of a thousand markers share a few columns.
        if (!markerLane_ || x0 + x + std::round(2 * ratio) < lastRight + 4 * ratio) return;
        const QString name = m.name.empty() ? QString::number(i + 1) : QString::fromStdString(m.name);
        const QRectF box(x0 + x + std::round(2 * ratio), 0, smallMetrics.horizontalAdvance(name),
                         std::round(kMarkerLaneHeight * ratio));
        if (box.left() < lastRight + 4 * ratio || box.right() > x0 + W) return;
        if (chosen) p.fillRect(box.adjusted(-1, 0, 1, 0), QColor(232, 150, 24, 90));
        p.setPen(QColor(150, 90, 0));
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, name);
        lastRight = box.right();
        markerLabels_.push_back(box.toAlignedRect().translated(-int(x0), 0));
        labelledMarkers_.push_back(i);
    };
    for (std::size_t i : markers.regionsCovering(g.first))
        draw(i);
    const std::size_t end = markers.lowerBound(g.last + 1);
    for (std::size_t i = markers.lowerBound(g.first); i < end; ++i)
        draw(i);
    drawScaleLabels();
    if (drag_.moving && !dragText_.isEmpty()) {
        // The time the marker would go to, beside its new line.
        const double x = double(g.column(drag_.frame));
        p.fillRect(QRectF(x0 + x, 0, 1, H), QColor(200, 80, 0));
        p.setFont(small);
        const QRectF box(x0 + x + std::round(3 * ratio), 0, smallMetrics.horizontalAdvance(dragText_) + 4 * ratio,
                         std::round(kMarkerLaneHeight * ratio));
        const QRectF shown = box.right() > x0 + W ? box.translated(-box.width() - 6 * ratio, 0) : box;
        p.fillRect(shown, QColor(255, 250, 225));
        p.setPen(ink);
        p.drawText(shown, Qt::AlignCenter, dragText_);
    }
}

std::ptrdiff_t ZQTimeRuler::markerAt(double x) const {
    int left = 0;
    ZQWaveform* v = view(&left);
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (!v || !doc) return -1;
    const double device = (x - left) * devicePixelRatioF();
    // A name drawn under the pointer first, then a line within a few pixels.
    for (std::size_t k = 0; k < markerLabels_.size(); ++k)
        if (device >= markerLabels_[k].left() && device <= markerLabels_[k].right())
            return static_cast<std::ptrdiff_t>(labelledMarkers_[k]);
    return MarkerRenderer::markerAt(doc->markers(), v->shownGeometry(), x - left);
}

std::ptrdiff_t ZQTimeRuler::regionEndAt(double x) const {
    int left = 0;
    ZQWaveform* v = view(&left);
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (!v || !doc) return -1;
    const ChannelGeometry g = v->shownGeometry();
    const double device = (x - left) * devicePixelRatioF();
    const MarkerList& markers = doc->markers();
    std::ptrdiff_t best = -1;
    double nearest = 4 * devicePixelRatioF();
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const Marker& m = markers.items()[i];
        if (!m.isRegion()) continue;
        const double d = std::fabs(double(g.column(m.end())) - device);
        if (d <= nearest) {
            nearest = d;
            best = std::ptrdiff_t(i);
        }
    }
    return best;
}

std::uint64_t ZQTimeRuler::frameAt(double x) const {
    int left = 0;
    ZQWaveform* v = view(&left);
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (!v || !doc || doc->sampleCount(0).v_ == 0) return 0;
    return std::min<std::uint64_t>(v->shownGeometry().frameAt(x - left), doc->sampleCount(0).v_ - 1);
}

void ZQTimeRuler::mousePressEvent(QMouseEvent* event) {
    drag_ = {};
    if (event->button() != Qt::LeftButton || !controller_) return;
    int left = 0;
    ZQWaveform* v = view(&left);
    Ref<ZQAudioFileDocument> doc = controller_->document();
    if (!v || !doc) return;
    const bool inLane = markerLane_ && event->position().y() < kMarkerLaneHeight;
    std::ptrdiff_t marker = inLane ? markerAt(event->position().x()) : -1;
    int edge = 0;
    // A region's end line is a handle of its own where no start is nearer.
    if (inLane && marker < 0) {
        marker = regionEndAt(event->position().x());
        edge = marker >= 0 ? 1 : 0;
    }
    if (doc->sampleCount(0).v_ == 0) return;
    if (marker < 0) {
        controller_->locate(v->shownGeometry().frameAt(event->position().x() - left)); // the line moves at once
        controller_->markerEditing().choose(-1);
        return;
    }
    const Marker& m = doc->markers().items()[std::size_t(marker)];
    controller_->locate(edge ? m.end() - 1 : m.frame);
    controller_->markerEditing().choose(marker);
    drag_.index = marker;
    drag_.edge = edge;
    drag_.pressX = event->position().x();
}

void ZQTimeRuler::mouseMoveEvent(QMouseEvent* event) {
    if (drag_.index < 0 || !controller_ || !(event->buttons() & Qt::LeftButton)) return;
    if (!drag_.moving && std::fabs(event->position().x() - drag_.pressX) < kDragStart) return;
    Ref<ZQAudioFileDocument> doc = controller_->document();
    if (!doc) return;
    drag_.moving = true;
    drag_.frame = frameAt(event->position().x());
    const double rate = doc->sampleRate();
    dragText_ = QString::fromStdString(hmsText(HMSTime(sample_rate(rate), Num::Count(drag_.frame)))) +
                QStringLiteral(" · ") + QString::number(drag_.frame);
    update();
}

void ZQTimeRuler::mouseReleaseEvent(QMouseEvent* event) {
    const Drag drag = drag_;
    drag_ = {};
    dragText_.clear();
    if (!drag.moving || !controller_ || event->button() != Qt::LeftButton) return update();
    // One step, from where the press found it to where the pointer let go.
    controller_->markerEditing().move(std::size_t(drag.index), drag.frame, drag.edge);
    update();
}

void ZQTimeRuler::contextMenuEvent(QContextMenuEvent* event) {
    if (!controller_ || !markerLane_) return;
    std::ptrdiff_t marker = markerAt(event->pos().x());
    if (marker < 0) marker = regionEndAt(event->pos().x());
    Ref<ZQAudioFileDocument> doc = controller_->document();
    if (marker < 0 || !doc) return;
    controller_->markerEditing().choose(marker);
    const bool region = doc->markers().items()[std::size_t(marker)].isRegion();
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("markerContextMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<ZQTimeRuler> self = this;
    const auto index = std::size_t(marker);
    menu->addAction(region ? QStringLiteral("&Rename Region") : QStringLiteral("&Rename Marker"), this,
                    [self, index] {
                        if (self) self->beginRename(index);
                    })
        ->setObjectName(QStringLiteral("renameMarker"));
    menu->addAction(region ? QStringLiteral("&Delete Region") : QStringLiteral("&Delete Marker"), this,
                    [self, index] {
                        if (!self || !self->controller_) return;
                        self->controller_->markerEditing().choose(std::ptrdiff_t(index));
                        self->controller_->markerEditing().deleteChosen();
                    })
        ->setObjectName(QStringLiteral("deleteMarker"));
    menu->popup(event->globalPos());
}

void ZQTimeRuler::beginRename(std::size_t index) {
    Ref<ZQAudioFileDocument> doc = controller_ ? controller_->document() : Ref<ZQAudioFileDocument>();
    if (!doc || index >= doc->markers().size()) return;
    if (editor_) endRename(false);
    int left = 0;
    ZQWaveform* v = view(&left);
    if (!v) return;
    const double x = double(v->shownGeometry().column(doc->markers().items()[index].frame)) / devicePixelRatioF();
    QPointer<ZQTimeRuler> self = this;
    auto* editor = new NameEditor(this, [self](bool keep) {
        if (self) self->endRename(keep);
    });
    editor->setObjectName(QStringLiteral("markerNameEditor"));
    editor->setAccessibleName(QStringLiteral("Marker name"));
    editor->setText(QString::fromStdString(doc->markers().items()[index].name));
    editor->selectAll();
    editor->setFrame(false);
    const int width = std::clamp(editor->fontMetrics().horizontalAdvance(editor->text()) + 40, 120, 320);
    editor->setGeometry(std::clamp(int(left + x + 2), 0, std::max(0, this->width() - width)), 0, width,
                        kMarkerLaneHeight + 2);
    editor_ = editor;
    editing_ = index;
    controller_->markerEditing().choose(std::ptrdiff_t(index));
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
}

void ZQTimeRuler::endRename(bool keep) {
    QPointer<QLineEdit> editor = editor_;
    editor_ = nullptr;
    if (!editor) return;
    const std::string name = editor->text().toStdString();
    editor->hide();
    editor->deleteLater();
    if (keep && controller_) controller_->markerEditing().rename(editing_, name);
}

void ZQTimeRuler::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !controller_) return;
    // On a name in the lane: rename it; on a line: select to the next marker.
    if (markerLane_ && event->position().y() < kMarkerLaneHeight) {
        int left = 0;
        view(&left);
        const double device = (event->position().x() - left) * devicePixelRatioF();
        for (std::size_t k = 0; k < markerLabels_.size(); ++k)
            if (device >= markerLabels_[k].left() && device <= markerLabels_[k].right()) {
                drag_ = {};
                return beginRename(labelledMarkers_[k]);
            }
    }
    const std::ptrdiff_t marker = markerAt(event->position().x());
    if (marker >= 0)
        controller_->selectFromMarker(static_cast<std::size_t>(marker));
    else
        mousePressEvent(event);
}
