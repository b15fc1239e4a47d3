// The menu bar of every window of the application (document windows and the
// start window): File, Edit, View, Transport, Window, Help. Commands go
// through the dispatch centre, the zoom receiver and the current document;
// each item is enabled by the same rule that its command checks before it
// runs, evaluated when a menu is about to show and again whenever the active
// window, a selection, the transport state or the open documents change, so
// a shortcut never runs a command that its item would refuse.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <vector>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;

class ZQApplicationMenus final : public QObject {
public:
    static ZQApplicationMenus& shared();

    // Gives `window` its menu bar (once).
    void install(QMainWindow* window);
    // Re-evaluates every item of every window now.
    void refresh();
    // Asks for a refresh on the main thread's next turn (any thread; many
    // requests make one refresh).
    void scheduleRefresh();

    // What Open Recent and the start window offer; runs on opening a file.
    void setOpenHandler(std::function<void(const QString& file, QWidget* parent)> open) { open_ = std::move(open); }

private:
    ZQApplicationMenus();
    struct Item {
        QPointer<QAction> action;
        std::function<bool()> enabled;
        std::function<QString()> title; // for items whose title follows the state (Undo, Redo)
    };
    QAction* add(QMenu* menu, const char* name, const QString& title, const QKeySequence& keys,
                 std::function<bool()> enabled, std::function<void()> run);
    // Process: the commands that change the samples (ZQProcessMenu.cpp).
    QMenu* installProcessMenu(QMenuBar* bar);
    // The marker commands (ZQMarkerCommands.cpp): File's label and region
    // items, Edit's Add Marker and Add Region, and the Window menu's Markers.
    void installMarkerFileItems(QMenu* file);
    void installMarkerEditItems(QMenu* edit);
    static QAction* markersPanelAction(QWidget* window);
    void fillRecentMenu(QMenu* menu, QWidget* window);
    void fillWindowMenu(QMenu* menu, QAction* markers);
    // The current document's channels, each with Mute and Solo.
    static void fillChannelsMenu(QMenu* menu);
    // "System Default" and the sound library's output devices.
    static void fillOutputDeviceMenu(QMenu* menu);

public:
    // The settings key of the chosen output device ("" for the default).
    static constexpr const char* kOutputDeviceKey = "AudioOutputDevice";
    // Chooses the device new outputs open, keeps it in the settings, and
    // lets idle outputs reopen on it.
    static void chooseOutputDevice(const std::string& name);
    // At start: the device chosen last time.
    static void restoreOutputDevice();
    // The settings key of Loop, and Loop for every document (kept).
    static constexpr const char* kLoopKey = "ZQPreference_Loop";
    static void setLoops(bool loops);
    // At start: Loop as it was left.
    static void restoreLoop();

private:
    void refresh(QMenu* menu);

    std::vector<Item> items_;
    QMainWindow* installing_ = nullptr; // the window whose bar is being built
    bool refreshPending_ = false;
    std::function<void(const QString&, QWidget*)> open_;
};
