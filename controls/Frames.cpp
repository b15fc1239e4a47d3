#include "controls/Frames.h"

#include <QEvent>
#include <QHash>
#include <QWidget>
#include <cmath>

namespace ZQ {

namespace {

// One per parent with placed children: their frames, and the parent size
// they were laid out for.
class FrameKeeper final : public QObject {
public:
    explicit FrameKeeper(QWidget* parent) : QObject(parent), parent_(parent), size_(parent->size()) {
        parent->installEventFilter(this);
    }

    // A frame is always worked out from the one it was placed with, for the
    // parent size then: the layout at a size never depends on the sizes the
    // parent went through (a frame squeezed to nothing on the way grows back).
    struct Entry {
        Frame frame;
        unsigned mask = 0;
        Frame placed;
        QSize placedFor;
    };

    static FrameKeeper* of(QWidget* parent, bool create) {
        if (!parent) return nullptr;
        for (QObject* o : parent->children())
            if (auto* k = dynamic_cast<FrameKeeper*>(o)) return k;
        return create ? new FrameKeeper(parent) : nullptr;
    }

    void place(QWidget* child, const Frame& frame, unsigned mask) {
        if (!entries_.contains(child))
            connect(child, &QObject::destroyed, this, [this, child] { entries_.remove(child); });
        catchUp();
        entries_[child] = {frame, mask, frame, size_};
        apply(child, frame);
    }

    // Catches up first: a hidden parent's resizes arrive as events only when
    // it is shown.
    const Entry* find(const QWidget* child) {
        catchUp();
        auto it = entries_.constFind(const_cast<QWidget*>(child));
        return it == entries_.constEnd() ? nullptr : &it.value();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent_ && event->type() == QEvent::Resize) catchUp();
        return false;
    }

private:
    // Brings every frame from the size they were laid out for to the
    // parent's size now.
    void catchUp() {
        const QSize now = parent_->size();
        if (now == size_) return;
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            it->frame = autoresized(it->placed, it->mask, it->placedFor.width(), it->placedFor.height(), now.width(),
                                    now.height());
        size_ = now;
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            apply(it.key(), it->frame);
    }

    void apply(QWidget* child, const Frame& f) const {
        // Edges are rounded, not sizes, so that neighbours never gap or overlap.
        const double h = parent_->height();
        const int left = static_cast<int>(std::lround(f.x));
        const int right = static_cast<int>(std::lround(f.x + f.width));
        const int top = static_cast<int>(std::lround(h - (f.y + f.height)));
        const int bottom = static_cast<int>(std::lround(h - f.y));
        child->setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
    }

    QWidget* parent_;
    QSize size_;
    QHash<QWidget*, Entry> entries_;
};

// One dimension: leading margin, size, trailing margin; `flex` says which of
// the three follow the parent.
void share(double& lead, double& size, double& trail, bool fl, bool fs, bool ft, double delta) {
    const double parts = (fl ? lead : 0) + (fs ? size : 0) + (ft ? trail : 0);
    const int count = int(fl) + int(fs) + int(ft);
    if (count == 0) {
        trail += delta; // nothing follows: the frame stays where it is
        return;
    }
    auto portion = [&](bool flexible, double value) {
        if (!flexible) return 0.0;
        return parts > 0 ? delta * value / parts : delta / count;
    };
    const double dl = portion(fl, lead), ds = portion(fs, size), dt = portion(ft, trail);
    lead += dl;
    size += ds;
    trail += dt;
}

} // namespace

Frame autoresized(const Frame& f, unsigned mask, double fromWidth, double fromHeight, double toWidth, double toHeight) {
    double left = f.x, width = f.width, right = fromWidth - f.x - f.width;
    double bottom = f.y, height = f.height, top = fromHeight - f.y - f.height;
    share(left, width, right, mask & kMinXMargin, mask & kWidthSizable, mask & kMaxXMargin, toWidth - fromWidth);
    share(bottom, height, top, mask & kMinYMargin, mask & kHeightSizable, mask & kMaxYMargin, toHeight - fromHeight);
    return {left, bottom, std::max(0.0, width), std::max(0.0, height)};
}

void placeChild(QWidget* child, const Frame& frame, unsigned mask) {
    if (FrameKeeper* k = FrameKeeper::of(child->parentWidget(), true)) k->place(child, frame, mask);
}

void setFrame(QWidget* child, const Frame& frame) {
    placeChild(child, frame, autoresizingMaskOf(child));
}

Frame frameOf(const QWidget* child) {
    if (FrameKeeper* k = FrameKeeper::of(child->parentWidget(), false))
        if (const auto* e = k->find(child)) return e->frame;
    const QRect g = child->geometry();
    const double h = child->parentWidget() ? child->parentWidget()->height() : 0;
    return {double(g.x()), h - g.y() - g.height(), double(g.width()), double(g.height())};
}

unsigned autoresizingMaskOf(const QWidget* child) {
    if (FrameKeeper* k = FrameKeeper::of(child->parentWidget(), false))
        if (const auto* e = k->find(child)) return e->mask;
    return 0;
}

Frame boundsOf(const QWidget* parent) {
    return {0, 0, double(parent->width()), double(parent->height())};
}

} // namespace ZQ
