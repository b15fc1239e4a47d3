// Document windows with the application's menus, as zqaudio builds them.
#pragma once

#include "app/ZQApplicationMenus.h"
#include "app/ZQApplicationShell.h"
#include "window/WindowFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

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
    // Types a path into the dialog's name field, as a user would.
    static void typeName(QFileDialog* d, const std::string& path) {
        // The dialog selects its proposed name once it has read the folder.
        spinFor(300);
        auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText(QString::fromStdString(path));
    }
    // Presses Save; a question the dialog asks (replace a file?) is answered
    // with `answer` (No unless told) and returned.
    static QString save(QFileDialog* d, QMessageBox::StandardButton answer = QMessageBox::No) {
        QString asked;
        QTimer guard;
        guard.setInterval(100);
        QObject::connect(&guard, &QTimer::timeout, [&asked, answer] {
            if (auto* m = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = m->text();
                if (QAbstractButton* button = m->button(answer))
                    button->click();
                else
                    m->reject();
            }
        });
        guard.start();
        QMetaObject::invokeMethod(d, "accept", Qt::DirectConnection); // as the Save button does
        return asked;
    }
    static ZQDocumentWindow* windowOf(ZQAudioFileDocument* doc) {
        ZQWaveformDisplayController* c = display(doc);
        return c ? c->window() : nullptr;
    }
};

} // namespace testsupport
