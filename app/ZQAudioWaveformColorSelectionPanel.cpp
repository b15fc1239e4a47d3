#include "app/ZQAudioWaveformColorSelectionPanel.h"

#include "app/PanelClosing.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQDocumentController.h"
#include "platform/base/Notifications.h"
#include "window/WaveformColorPreferences.h"
#include "window/ZQWaveformDisplayController.h"

#include <QApplication>
#include <QColorDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <algorithm>
#include <mutex>

namespace ZQ::WaveformColorPreferences {
void storeColor(const std::string& key, const QColor& colour) {
    DocumentPreferences::Colour c;
    c.red = colour.redF();
    c.green = colour.greenF();
    c.blue = colour.blueF();
    c.alpha = colour.alphaF();
    QSettings settings;
    settings.setValue(QString::fromStdString(key), QString::fromStdString(DocumentPreferences::archiveColour(c)));
    settings.sync();
}
} // namespace ZQ::WaveformColorPreferences

using namespace ZQ;

ZQColorWell::ZQColorWell(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractButton::clicked, this, [this] { openDialog(); });
}

void ZQColorWell::setColor(const QColor& colour) {
    if (!colour.isValid() || colour == color_) return;
    color_ = colour;
    update();
}

void ZQColorWell::openDialog() {
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    auto* d = new QColorDialog(color_, this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setOption(QColorDialog::ShowAlphaChannel);
    d->setWindowTitle(accessibleName());
    connect(d, &QColorDialog::colorSelected, this, [this](const QColor& c) {
        if (!c.isValid()) return;
        color_ = c;
        update();
        if (action_) action_();
    });
    dialog_ = d;
    d->open();
}

void ZQColorWell::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect outer = rect().adjusted(0, 0, -1, -1);
    p.setPen(QColor(0, 0, 0, 140));
    p.setBrush(palette().button());
    p.drawRect(outer);
    const QRect swatch = outer.adjusted(4, 4, -3, -3);
    // A checkerboard under the colour shows how transparent it is.
    for (int y = swatch.top(); y <= swatch.bottom(); y += 6)
        for (int x = swatch.left(); x <= swatch.right(); x += 6)
            p.fillRect(QRect(x, y, 6, 6).intersected(swatch),
                       ((x - swatch.left()) / 6 + (y - swatch.top()) / 6) % 2 ? Qt::white : Qt::lightGray);
    p.fillRect(swatch, color_);
    if (hasFocus()) {
        p.setPen(QPen(palette().highlight(), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(outer.adjusted(1, 1, -1, -1));
    }
}

ZQAudioWaveformColorSelectionPanel::ZQAudioWaveformColorSelectionPanel()
    : QWidget(nullptr, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ZQAudioWaveformColorSelectionPanel"));
    setWindowTitle(QStringLiteral("Waveform Colours"));
    // A panel: closing it never ends the application.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 14, 16, 14);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    backgroundWell_ = new ZQColorWell(this);
    backgroundWell_->setObjectName(QStringLiteral("backgroundWell"));
    backgroundWell_->setAccessibleName(QStringLiteral("Waveform Background"));
    foregroundWell_ = new ZQColorWell(this);
    foregroundWell_->setObjectName(QStringLiteral("foregroundWell"));
    foregroundWell_->setAccessibleName(QStringLiteral("Waveform Foreground"));
    grid->addWidget(new QLabel(QStringLiteral("Background:"), this), 0, 0, Qt::AlignRight);
    grid->addWidget(backgroundWell_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Foreground:"), this), 1, 0, Qt::AlignRight);
    grid->addWidget(foregroundWell_, 1, 1);
    closeButton_ = PanelClosing::install(this);
    grid->addWidget(closeButton_, 2, 0, 1, 2, Qt::AlignRight);
    backgroundWell_->setAction([this] { perform_changeBackgroundColor(); });
    foregroundWell_->setAction([this] { perform_changeForegroundColor(); });
    // The wells show the stored values.
    QSettings().sync();
    showStoredColors();
    setFixedSize(sizeHint());
}

void ZQAudioWaveformColorSelectionPanel::showStoredColors() {
    backgroundWell_->setColor(WaveformColorPreferences::backgroundColorFromPreferences());
    foregroundWell_->setColor(WaveformColorPreferences::foregroundColorFromPreferences());
}

void ZQAudioWaveformColorSelectionPanel::perform_changeBackgroundColor() {
    WaveformColorPreferences::storeColor(WaveformColorPreferences::backgroundKey(), backgroundWell_->color());
    platform::NotificationCenter::defaultCenter().post(WaveformColorPreferences::waveformColorsDidChangeNotification());
}

void ZQAudioWaveformColorSelectionPanel::perform_changeForegroundColor() {
    WaveformColorPreferences::storeColor(WaveformColorPreferences::foregroundKey(), foregroundWell_->color());
    platform::NotificationCenter::defaultCenter().post(WaveformColorPreferences::waveformColorsDidChangeNotification());
}

ZQAudioWaveformColorSelectionPanelController::ZQAudioWaveformColorSelectionPanelController() {
    colorSelectionPanel_ = new ZQAudioWaveformColorSelectionPanel;
}

namespace {
// Made once and kept for the process; its panel goes before the application.
ZQAudioWaveformColorSelectionPanelController* sharedController = nullptr;
std::once_flag sharedControllerMade;
} // namespace

ZQAudioWaveformColorSelectionPanelController&
ZQAudioWaveformColorSelectionPanelController::sharedAudioWaveformColorSelectionPanelController() {
    std::call_once(sharedControllerMade, [] { sharedController = new ZQAudioWaveformColorSelectionPanelController; });
    return *sharedController;
}

namespace {
// The gap between the window and the panel.
constexpr int kPanelGap = 8;

// The window the user works in: the active one when it is a window of its
// own (a document's or the start window), else the current document's.
QWidget* currentWindow(const QWidget* panel) {
    QWidget* active = QApplication::activeWindow();
    if (active && active != panel && active->windowType() == Qt::Window && !active->parentWidget()) return active;
    platform::Ref<platform::Object> current = ZQDocumentController::sharedDocumentController().currentDocument();
    auto* doc = dynamic_cast<ZQAudioFileDocument*>(current.get());
    auto* c = doc ? dynamic_cast<ZQWaveformDisplayController*>(doc->waveformDisplayController()) : nullptr;
    ZQDocumentWindow* window = c ? c->window() : nullptr;
    return window && window->isVisible() ? window : nullptr;
}
} // namespace

QPoint ZQAudioWaveformColorSelectionPanelController::placeBeside(const QRect& window, const QSize& size,
                                                                 const QRect& screen) {
    int x = window.right() + 1 + kPanelGap;
    if (x + size.width() > screen.right() + 1) {
        const int left = window.left() - kPanelGap - size.width();
        x = left >= screen.left() ? left : screen.right() + 1 - size.width();
    }
    x = std::max(x, screen.left());
    const int y = std::max(screen.top(), std::min(window.top(), screen.bottom() + 1 - size.height()));
    return {x, y};
}

void ZQAudioWaveformColorSelectionPanelController::displayAudioWaveformColorSelectionPanel() {
    ZQAudioWaveformColorSelectionPanelController& controller = sharedAudioWaveformColorSelectionPanelController();
    // Made again when asked for after shutdown() (an application object that
    // outlives it, as in tests).
    if (!controller.colorSelectionPanel_) controller.colorSelectionPanel_ = new ZQAudioWaveformColorSelectionPanel;
    ZQAudioWaveformColorSelectionPanel* panel = controller.colorSelectionPanel();
    panel->showStoredColors();
    // Where the user is looking; once shown, it stays where the user put it.
    if (!panel->isVisible())
        if (QWidget* window = currentWindow(panel)) {
            const QScreen* screen = window->screen();
            const QRect available = screen ? screen->availableGeometry() : window->frameGeometry();
            // The frame's size once it has been shown; the panel's own before.
            const QSize frame = panel->frameGeometry().size().expandedTo(panel->size());
            panel->move(placeBeside(window->frameGeometry(), frame, available));
        }
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void ZQAudioWaveformColorSelectionPanelController::shutdown() {
    if (sharedController) delete sharedController->colorSelectionPanel_.data();
}
