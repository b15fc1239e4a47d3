#include "window/ZQTransportBarBox.h"

#include "controls/Colours.h"
#include "controls/Frames.h"
#include "controls/ZQRoundedBox.h"
#include "controls/ZQTransportButton.h"
#include "platform/threads/Threads.h"
#include "window/ZQWaveformDisplayController.h"

#include <QShortcut>

using namespace ZQ;
using platform::Ref;

namespace {

struct ButtonDescription {
    TransportButton button;
    const char* title;
    Qt::Key key;
    const char* name; // what a screen reader says for the title's symbols
};
// In the bar's order; Play and Stop share the space bar (see build()).
constexpr ButtonDescription kButtons[] = {
    {TransportButton::Record, "Record", Qt::Key_R, "Record"},
    {TransportButton::Play, "Play", Qt::Key_Space, "Play"},
    {TransportButton::Pause, "Pause", Qt::Key_Comma, "Pause"},
    {TransportButton::Stop, "Stop", Qt::Key_Space, "Stop"},
    {TransportButton::GotoStart, "| <", Qt::Key_0, "Go to Start"},
    {TransportButton::Back, "<<", Qt::Key_Less, "Back One Second"},
    {TransportButton::Forward, ">>", Qt::Key_Greater, "Forward One Second"},
    {TransportButton::GotoEnd, "> |", Qt::Key_E, "Go to End"},
};

int at(TransportButton b) {
    return static_cast<int>(b);
}

} // namespace

ZQTransportBarBox* ZQTransportBarBox::create(ZQAudioFileDocumentTransportController* controller,
                                             ZQDocumentWindow* window) {
    auto* bar = new ZQTransportBarBox;
    bar->controller_ = Ref<ZQAudioFileDocumentTransportController>::retain(controller);
    if (platform::Thread::isMainThread()) {
        bar->build(window->contentView());
    } else {
        Ref<ZQTransportBarBox> self = Ref<ZQTransportBarBox>::retain(bar);
        QPointer<ZQDocumentWindow> where = window;
        platform::performOnMainThread([self, where] {
            if (where) self->build(where->contentView());
        });
    }
    return bar;
}

void ZQTransportBarBox::build(QWidget* content) {
    box_ = new ZQRoundedBox(content);
    box_->hide();
    placeChild(box_, {13, 8, 52, 22}, kNotSizable);
    box_->setBorderWidth(1.0);
    box_->setCornerRadius(2.0);
    box_->setContentViewMargins(QSizeF(3.0, 0));
    QWidget* inner = box_->contentView();
    Ref<ZQTransportBarBox> self = Ref<ZQTransportBarBox>::retain(this);
    double x = 0;
    for (const ButtonDescription& d : kButtons) {
        auto* b = new ZQTransportButton(QString::fromUtf8(d.title), inner);
        b->setAccessibleName(QString::fromUtf8(d.name));
        b->hide();
        placeChild(b, {x, 0, 54, 22}, kNotSizable);
        x += 54;
        const TransportButton which = d.button;
        b->setAction([self, which](ZQTransportButton*) { self->press(which); });
        buttons_[static_cast<std::size_t>(at(d.button))] = b;
    }
    for (const ButtonDescription& d : kButtons) {
        ZQTransportButton* b = buttons_[static_cast<std::size_t>(at(d.button))];
        b->show();
        b->raise();
        box_->sizeToFit();
    }
    box_->setFillColor(Qt::white);
    box_->setBorderColor(calibratedWhite(0.1, 0.56));
    box_->show();
    box_->raise();

    // The keys, while the window is active. Space plays when stopped and
    // stops when playing (the Play button is disabled while playing).
    QWidget* window = content->window();
    for (const ButtonDescription& d : kButtons) {
        if (d.key == Qt::Key_Space) continue;
        QPointer<ZQTransportButton> b = buttons_[static_cast<std::size_t>(at(d.button))];
        auto* shortcut = new QShortcut(window);
        // "<" and ">" are typed with Shift on most layouts; either way they work.
        QList<QKeySequence> keys{QKeySequence(d.key)};
        if (d.key == Qt::Key_Less || d.key == Qt::Key_Greater) keys.append(QKeySequence(Qt::SHIFT | d.key));
        // And the arrows step by a second, as in most audio tools.
        if (d.button == TransportButton::Back) keys.append(QKeySequence(Qt::Key_Left));
        if (d.button == TransportButton::Forward) keys.append(QKeySequence(Qt::Key_Right));
        shortcut->setKeys(keys);
        QObject::connect(shortcut, &QShortcut::activated, shortcut, [b] {
            if (b) b->performClick();
        });
    }
    QPointer<ZQTransportButton> play = buttons_[static_cast<std::size_t>(at(TransportButton::Play))];
    QPointer<ZQTransportButton> stop = buttons_[static_cast<std::size_t>(at(TransportButton::Stop))];
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), window);
    QObject::connect(space, &QShortcut::activated, space, [play, stop] {
        if (play && play->isEnabled())
            play->performClick();
        else if (stop)
            stop->performClick();
    });
    for (int i = 0; i < kTransportButtonCount; ++i)
        apply(static_cast<TransportButton>(i));
}

void ZQTransportBarBox::press(TransportButton b) {
    ZQAudioFileDocumentTransportController* c = controller_.get();
    if (!c) return;
    switch (b) {
    case TransportButton::Record:
        c->perform_Record(this);
        break;
    case TransportButton::Play:
        c->perform_Play(this);
        break;
    case TransportButton::Pause:
        c->perform_Pause(this);
        break;
    case TransportButton::Stop:
        c->perform_Stop(this);
        break;
    case TransportButton::GotoStart:
        c->perform_GotoStart(this);
        break;
    case TransportButton::Back:
        c->perform_Back(this);
        break;
    case TransportButton::Forward:
        c->perform_Forward(this);
        break;
    case TransportButton::GotoEnd:
        c->perform_GotoEnd(this);
        break;
    }
}

bool ZQTransportBarBox::state(TransportButton b) const {
    std::lock_guard<std::mutex> g(mutex_);
    return on_[static_cast<std::size_t>(at(b))];
}

bool ZQTransportBarBox::isEnabled(TransportButton b) const {
    std::lock_guard<std::mutex> g(mutex_);
    return enabled_[static_cast<std::size_t>(at(b))];
}

void ZQTransportBarBox::setState(TransportButton b, bool on) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        on_[static_cast<std::size_t>(at(b))] = on;
    }
    if (platform::Thread::isMainThread()) apply(b);
}

void ZQTransportBarBox::setEnabled(TransportButton b, bool enabled) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        enabled_[static_cast<std::size_t>(at(b))] = enabled;
    }
    if (platform::Thread::isMainThread()) apply(b);
}

void ZQTransportBarBox::apply(TransportButton b) {
    ZQTransportButton* w = buttons_[static_cast<std::size_t>(at(b))];
    if (!w) return;
    bool on, enabled;
    {
        std::lock_guard<std::mutex> g(mutex_);
        on = on_[static_cast<std::size_t>(at(b))];
        enabled = enabled_[static_cast<std::size_t>(at(b))];
    }
    if (w->state() != on) w->setState(on);
    if (w->isEnabled() != enabled) {
        w->setEnabled(enabled);
        commandStateMayHaveChanged(); // the Transport menu follows the buttons
    }
}

ZQTransportButton* ZQTransportBarBox::widget(TransportButton b) const {
    return buttons_[static_cast<std::size_t>(at(b))];
}
