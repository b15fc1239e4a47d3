#include "window/ZQAccessibility.h"

#include "audiofile/ChannelNames.h"
#include "audiofile/Markers.h"
#include "controls/NumericDisplays.h"
#include "controls/ZQLevelMeter.h"
#include "core/values.h"
#include "window/ZQTimeRuler.h"
#include "window/ZQWaveform.h"
#include "window/ZQWaveformDisplayController.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QAccessibleWidget>
#include <QPointer>
#include <cmath>
#include <map>
#include <vector>

using platform::Ref;

namespace ZQ::Accessibility {

namespace {

QString timeText(double rate, std::uint64_t frame) {
    return QString::fromStdString(hmsText(HMSTime(sample_rate(rate), Num::Count(frame))));
}

QString dbText(double db) {
    if (!(db > ZQLevelMeter::kFloorDb)) return QStringLiteral("silent");
    return QString::number(db, 'f', 1).replace('-', QChar(0x2212)) + QStringLiteral(" dBFS");
}

// A painted widget: its name and its value, texts worked out when asked.
class PaintedInterface : public QAccessibleWidget {
public:
    PaintedInterface(QWidget* w, QAccessible::Role role) : QAccessibleWidget(w, role) {}
    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return name();
        case QAccessible::Value:
        case QAccessible::Description:
            return value();
        default:
            return QAccessibleWidget::text(t);
        }
    }

protected:
    virtual QString name() const = 0;
    virtual QString value() const = 0;
};

// One whose value is also a number a screen reader reads (read only unless
// the widget says otherwise).
class NumberInterface : public PaintedInterface, public QAccessibleValueInterface {
public:
    using PaintedInterface::PaintedInterface;
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return PaintedInterface::interface_cast(type);
    }
    void setCurrentValue(const QVariant&) override {}
};

// A channel view: its name, its value as text, and the play position in
// seconds as a value a screen reader can also set.
class ViewInterface final : public NumberInterface {
public:
    explicit ViewInterface(QWidget* w) : NumberInterface(w, QAccessible::Chart) {}
    ZQWaveform* view() const { return static_cast<ZQWaveform*>(widget()); }
    QString name() const override { return viewName(view()); }
    QString value() const override { return viewValue(view()); }
    QVariant currentValue() const override {
        ZQAudioFileDocument* d = view()->document();
        return d && d->sampleRate() > 0 ? double(d->presentPlaybackPosition()) / d->sampleRate() : 0.0;
    }
    void setCurrentValue(const QVariant& seconds) override {
        ZQAudioFileDocument* d = view()->document();
        auto* c = d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr;
        if (!c || !(d->sampleRate() > 0) || d->sampleCount(0).v_ == 0) return;
        const double frame = std::max(0.0, std::round(seconds.toDouble() * d->sampleRate()));
        c->locate(std::min<std::uint64_t>(std::uint64_t(frame), d->sampleCount(0).v_ - 1));
    }
    QVariant maximumValue() const override {
        ZQAudioFileDocument* d = view()->document();
        return d && d->sampleRate() > 0 ? double(d->sampleCount(0).v_) / d->sampleRate() : 0.0;
    }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 1.0; }
};

// One marker or region, an item of the ruler.
class MarkerItem final : public QAccessibleInterface {
public:
    MarkerItem(ZQTimeRuler* ruler, std::size_t index) : ruler_(ruler), index_(index) {}
    bool isValid() const override { return ruler_ && document() && index_ < document()->markers().size(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return ruler_ ? ruler_->window()->windowHandle() : nullptr; }
    QVector<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation) const override {
        return {};
    }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(ruler_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        if (t == QAccessible::Name) return markerName(ruler_, index_);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!ruler_) return {};
        // Where its name is drawn, else its line in the ruler.
        for (std::size_t k = 0; k < ruler_->labelledMarkers().size(); ++k)
            if (ruler_->labelledMarkers()[k] == index_) {
                const QRect r = ruler_->drawnMarkerLabels()[k];
                const qreal ratio = ruler_->devicePixelRatioF();
                return QRect(ruler_->mapToGlobal(QPoint(int(r.x() / ratio), 0)),
                             QSize(int(r.width() / ratio) + 1, ZQTimeRuler::kMarkerLaneHeight));
            }
        return {};
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.selectable = true;
        ZQAudioFileDocument* d = document();
        auto* c = d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr;
        s.selected = c && c->markerEditing().chosen() == std::ptrdiff_t(index_);
        s.invisible = rect().isEmpty();
        return s;
    }
    std::size_t index() const { return index_; }

private:
    ZQAudioFileDocument* document() const;
    QPointer<ZQTimeRuler> ruler_;
    std::size_t index_;
};

// The items of each ruler, made when first asked for and kept (registered,
// so that their identities stay) until its markers change.
std::map<const ZQTimeRuler*, std::vector<QAccessible::Id>>& itemsOf() {
    static std::map<const ZQTimeRuler*, std::vector<QAccessible::Id>> items;
    return items;
}

void forgetItems(const ZQTimeRuler* ruler) {
    auto& all = itemsOf();
    auto found = all.find(ruler);
    if (found == all.end()) return;
    for (QAccessible::Id id : found->second)
        if (id) QAccessible::deleteAccessibleInterface(id);
    all.erase(found);
}

QAccessibleInterface* itemOf(ZQTimeRuler* ruler, std::size_t index, std::size_t count) {
    std::vector<QAccessible::Id>& ids = itemsOf()[ruler];
    if (ids.size() != count) {
        forgetItems(ruler);
        itemsOf()[ruler].assign(count, 0);
        return itemOf(ruler, index, count);
    }
    if (index >= ids.size()) return nullptr;
    if (!ids[index]) ids[index] = QAccessible::registerAccessibleInterface(new MarkerItem(ruler, index));
    return QAccessible::accessibleInterface(ids[index]);
}

ZQAudioFileDocument* documentOf(const ZQTimeRuler* ruler) {
    ZQWaveformDisplayController* c = ruler ? ruler->controller() : nullptr;
    return c ? c->document().get() : nullptr;
}

ZQAudioFileDocument* MarkerItem::document() const {
    return documentOf(ruler_);
}

class RulerInterface final : public PaintedInterface {
public:
    explicit RulerInterface(QWidget* w) : PaintedInterface(w, QAccessible::List) {}
    ZQTimeRuler* ruler() const { return static_cast<ZQTimeRuler*>(widget()); }
    QString name() const override { return QStringLiteral("Time ruler and markers"); }
    QString value() const override { return rulerValue(ruler()); }
    std::size_t markerCount() const {
        ZQAudioFileDocument* d = documentOf(ruler());
        return d ? d->markers().size() : 0;
    }
    int childCount() const override { return int(markerCount()) + PaintedInterface::childCount(); }
    QAccessibleInterface* child(int index) const override {
        const std::size_t n = markerCount();
        if (index < 0) return nullptr;
        if (std::size_t(index) < n) return itemOf(ruler(), std::size_t(index), n);
        return PaintedInterface::child(index - int(n)); // the name editor while it is open
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child && child->role() == QAccessible::ListItem && !child->object())
            return int(static_cast<const MarkerItem*>(child)->index());
        const int i = PaintedInterface::indexOfChild(child);
        return i < 0 ? -1 : i + int(markerCount());
    }
};

class MeterInterface final : public NumberInterface {
public:
    explicit MeterInterface(QWidget* w) : NumberInterface(w, QAccessible::ProgressBar) {}
    ZQLevelMeter* meter() const { return static_cast<ZQLevelMeter*>(widget()); }
    QString name() const override { return QStringLiteral("Output level"); }
    QString value() const override { return meterValue(meter()); }
    // The loudest channel's peak, in dBFS.
    QVariant currentValue() const override {
        double peak = ZQLevelMeter::kFloorDb;
        for (int c = 0; c < meter()->channelCount(); ++c)
            peak = std::max(peak, meter()->peakDb(c));
        return peak;
    }
    QVariant maximumValue() const override { return 0.0; }
    QVariant minimumValue() const override { return ZQLevelMeter::kFloorDb; }
    QVariant minimumStepSize() const override { return 0.1; }
};

// A readout: its name and what it shows, as one name (a label's text is its
// name), and the shown text as its value.
class ReadoutInterface final : public PaintedInterface {
public:
    explicit ReadoutInterface(QWidget* w) : PaintedInterface(w, QAccessible::StaticText) {}
    QString shown() const {
        const QString text = static_cast<const QLabel*>(widget())->text();
        return text.isEmpty() ? QStringLiteral("none") : text;
    }
    QString name() const override {
        return widget()->accessibleName().isEmpty() ? shown()
                                                    : widget()->accessibleName() + QStringLiteral(": ") + shown();
    }
    QString value() const override { return shown(); }
};

// By the object's own type: these widgets do not name their classes to Qt.
QAccessibleInterface* factory(const QString&, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w) return nullptr;
    if (dynamic_cast<ZQWaveform*>(w)) return new ViewInterface(w);
    if (dynamic_cast<ZQTimeRuler*>(w)) return new RulerInterface(w);
    if (dynamic_cast<ZQLevelMeter*>(w)) return new MeterInterface(w);
    if (dynamic_cast<ZQNumericDisplay*>(w)) return new ReadoutInterface(w);
    return nullptr;
}

} // namespace

void install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

QString viewName(const ZQWaveform* view) {
    ZQAudioFileDocument* d = view ? view->document() : nullptr;
    const int channel = view ? view->channelNumber() : 0;
    QString name = QStringLiteral("Channel %1").arg(channel + 1);
    if (d) {
        const auto names = channelNames(unsigned(std::max(0, d->channelCount())), d->speakerMask());
        if (std::size_t(channel) < names.size() && names[std::size_t(channel)] != std::to_string(channel + 1))
            name += QStringLiteral(", ") + QString::fromStdString(names[std::size_t(channel)]);
    }
    return name + QStringLiteral(", waveform");
}

QString viewValue(ZQWaveform* view) {
    ZQAudioFileDocument* d = view ? view->document() : nullptr;
    if (!d || !(d->sampleRate() > 0)) return QStringLiteral("No samples");
    const double rate = d->sampleRate();
    const std::uint64_t at = d->presentPlaybackPosition();
    QString text = QStringLiteral("Position %1, sample %2").arg(timeText(rate, at)).arg(at);
    const SampleSelection s = view->selection();
    if (s.max_.v_ > s.min_.v_)
        text += QStringLiteral("; selection %1 to %2, %3 samples")
                    .arg(timeText(rate, s.min_.v_), timeText(rate, s.max_.v_))
                    .arg(s.max_.v_ - s.min_.v_ + 1);
    else
        text += QStringLiteral("; no selection");
    return text;
}

QString rulerValue(const ZQTimeRuler* ruler) {
    ZQAudioFileDocument* d = documentOf(ruler);
    ZQWaveformDisplayController* c = ruler ? ruler->controller() : nullptr;
    ZQWaveform* v = c ? c->waveform(0) : nullptr;
    if (!d || !v || !(d->sampleRate() > 0)) return {};
    const IndexRange shown = v->shownRange();
    const std::size_t markers = d->markers().size();
    return QStringLiteral("Showing %1 to %2; %3 %4")
        .arg(timeText(d->sampleRate(), shown.min_.v_), timeText(d->sampleRate(), shown.max_.v_))
        .arg(markers)
        .arg(markers == 1 ? QStringLiteral("marker") : QStringLiteral("markers"));
}

QString markerName(const ZQTimeRuler* ruler, std::size_t index) {
    ZQAudioFileDocument* d = documentOf(ruler);
    if (!d || index >= d->markers().size()) return {};
    const Marker& m = d->markers().items()[index];
    const QString name = m.name.empty() ? QStringLiteral("Unnamed") : QString::fromStdString(m.name);
    const double rate = d->sampleRate();
    if (m.isRegion())
        return QStringLiteral("%1, region from %2 to %3").arg(name, timeText(rate, m.frame), timeText(rate, m.end()));
    return QStringLiteral("%1, marker at %2").arg(name, timeText(rate, m.frame));
}

QString meterValue(const ZQLevelMeter* meter) {
    if (!meter) return {};
    QStringList parts;
    const int channels = meter->channelCount();
    for (int c = 0; c < channels; ++c) {
        const QString which = channels == 1 ? QStringLiteral("Peak")
                              : c == 0      ? QStringLiteral("Left peak")
                                            : QStringLiteral("Right peak");
        parts << which + ' ' + dbText(meter->peakDb(c)) +
                     (meter->isClipLit(c) ? QStringLiteral(", clipped") : QStringLiteral(", clip lamp off"));
    }
    return parts.join(QStringLiteral("; "));
}

void rulerWillGo(const ZQTimeRuler* ruler) {
    forgetItems(ruler);
}

void Announcer::positionMayHaveChanged(ZQWaveform* view, std::uint64_t position, bool playing) {
    if (!view || position == lastPosition_ || !QAccessible::isActive()) return;
    const auto now = std::chrono::steady_clock::now();
    // While playing, a second's news at a time: a reader cannot speak faster.
    if (playing && now - lastSent_ < std::chrono::seconds(1)) return;
    lastPosition_ = position;
    lastSent_ = now;
    ZQAudioFileDocument* d = view->document();
    QAccessibleValueChangeEvent event(view, d && d->sampleRate() > 0 ? double(position) / d->sampleRate() : 0.0);
    QAccessible::updateAccessibility(&event);
}

void Announcer::selectionDidChange(ZQWaveform* view) {
    if (!view || !QAccessible::isActive()) return;
    QAccessibleEvent event(view, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
    QAccessibleValueChangeEvent value(view, view->selection().min_.v_);
    QAccessible::updateAccessibility(&value);
}

void Announcer::zoomDidChange(ZQWaveform* view, ZQTimeRuler* ruler) {
    if (!QAccessible::isActive()) return;
    if (ruler) {
        QAccessibleEvent event(ruler, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
    if (view) {
        QAccessibleEvent event(view, QAccessible::VisibleDataChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void Announcer::markersDidChange(ZQTimeRuler* ruler) {
    if (!ruler) return;
    forgetItems(ruler); // the items are made again as they are asked for
    if (!QAccessible::isActive()) return;
    QAccessibleEvent description(ruler, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&description);
}

void Announcer::chosenMarkerDidChange(ZQTimeRuler* ruler, std::ptrdiff_t index) {
    if (!ruler || index < 0 || !QAccessible::isActive()) return;
    QAccessibleInterface* rulerInterface = QAccessible::queryAccessibleInterface(ruler);
    QAccessibleInterface* item = rulerInterface ? rulerInterface->child(int(index)) : nullptr;
    if (!item) return;
    QAccessibleEvent event(item, QAccessible::Selection);
    QAccessible::updateAccessibility(&event);
}

} // namespace ZQ::Accessibility
