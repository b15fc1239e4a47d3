#include "app/PanelClosing.h"

#include "app/ZQApplicationShell.h"

#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QWidget>

namespace ZQ::PanelClosing {

QPushButton* install(QWidget* panel, std::function<bool()> escape) {
    auto* close = new QPushButton(QStringLiteral("&Close"), panel);
    close->setObjectName(QString::fromUtf8(kCloseButtonName));
    close->setAutoDefault(false); // Return never closes by accident
    QObject::connect(close, &QPushButton::clicked, panel, &QWidget::close);

    auto* onEscape = new QShortcut(QKeySequence(Qt::Key_Escape), panel);
    QObject::connect(onEscape, &QShortcut::activated, panel, [panel, escape] {
        if (!escape || !escape()) panel->close();
    });
    // Ctrl+W as in the document windows, whatever the platform calls Close.
    QList<QKeySequence> closeKeys{QKeySequence(Qt::CTRL | Qt::Key_W)};
    for (const QKeySequence& k : QKeySequence::keyBindings(QKeySequence::Close))
        if (!closeKeys.contains(k)) closeKeys.append(k);
    auto* onClose = new QShortcut(panel);
    onClose->setKeys(closeKeys);
    QObject::connect(onClose, &QShortcut::activated, panel, &QWidget::close);
    // The one road to quitting: changed documents are asked about first.
    auto* onQuit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), panel);
    QObject::connect(onQuit, &QShortcut::activated, panel, [] { ZQApplicationDelegate::shared().requestQuit(); });
    return close;
}

} // namespace ZQ::PanelClosing
