// Document windows with the application's menus, as zqaudio builds them.
#pragma once

#include "app/ZQApplicationMenus.h"
#include "app/ZQApplicationShell.h"
#include "window/WindowFixture.h"

#include <QAction>
#include <QMainWindow>
#include <QTest>

namespace testsupport {

class AppTest : public WindowTest {
protected:
    // The window's own item (every window has its own menu bar).
    static QAction* item(QWidget* window, const char* name) {
        QAction* a = window->findChild<QAction*>(QString::fromUtf8(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    }
    static void refreshMenus() {
        ZQApplicationMenus::shared().refresh();
        QCoreApplication::processEvents();
    }
    // Makes `window` the active one, so that its document is current.
    static bool activate(QWidget* window) {
        window->raise();
        window->activateWindow();
        QApplication::setActiveWindow(window);
        const bool active = QTest::qWaitForWindowActive(window, 3000);
        refreshMenus();
        return active;
    }
    static ZQDocumentWindow* windowOf(ZQAudioFileDocument* doc) {
        ZQWaveformDisplayController* c = display(doc);
        return c ? c->window() : nullptr;
    }
};

} // namespace testsupport
