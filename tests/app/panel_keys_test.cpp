// The keys a newcomer reaches for: each floating panel's Close button,
// Escape, Ctrl+W and its access key close it, and Ctrl+Q quits as the menus'
// Quit does; the buttons of the dialogs have access keys of their own.
#include "app/AccessKeys.h"
#include "app/AppFixture.h"
#include "app/FileOpening.h"
#include "app/PanelClosing.h"
#include "app/ZQAudioFilePropertiesPanel.h"
#include "app/ZQAudioWaveformColorSelectionPanel.h"
#include "app/ZQMarkersPanel.h"
#include "app/ZQStartWindow.h"
#include "app/ZQStatisticsPanel.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <fstream>
#include <set>

using namespace testsupport;
using platform::Ref;

namespace {

double ramp(int c, long k) {
    return (c ? -0.5 : 0.5) * double(k % 100) / 100.0;
}

QPushButton* closeButtonOf(QWidget* panel) {
    return panel->findChild<QPushButton*>(QString::fromUtf8(ZQ::PanelClosing::kCloseButtonName));
}

// The character after the access key's "&", or null.
QChar accessKey(const QString& text) {
    const QKeySequence k = QKeySequence::mnemonic(text);
    return k.isEmpty() ? QChar() : QChar(k[0].key()).toUpper();
}

class PanelKeysTest : public AppTest {
protected:
    void TearDown() override {
        for (auto& d : ZQDocumentController::sharedDocumentController().documents())
            if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) doc->close();
        ZQAudioFilePropertiesPanelController::shutdown();
        ZQStatisticsPanel::shutdown();
        ZQAudioWaveformColorSelectionPanelController::shutdown();
        AppTest::TearDown();
    }

    // Each panel as its menu item shows it.
    struct Panel {
        const char* name;
        std::function<QWidget*()> show;
    };
    static std::vector<Panel> panels() {
        return {
            {"properties",
             [] {
                 ZQAudioFilePropertiesPanelController::showPanel();
                 return ZQAudioFilePropertiesPanelController::propertiesPanel();
             }},
            {"statistics",
             [] {
                 ZQStatisticsPanel::showForCurrentDocument();
                 return ZQStatisticsPanel::existingPanel();
             }},
            {"colours",
             [] {
                 ZQApplicationDispatchCenter::shared().perform_showWaveformColorPanel();
                 return ZQAudioWaveformColorSelectionPanelController::sharedAudioWaveformColorSelectionPanelController()
                     .colorSelectionPanel();
             }},
            {"markers",
             [] {
                 ZQMarkersPanel::showPanel();
                 return static_cast<QWidget*>(ZQMarkersPanel::existingPanel());
             }},
        };
    }
    static QWidget* shown(const Panel& p) {
        QWidget* panel = p.show();
        EXPECT_TRUE(panel && activate(panel)) << p.name;
        return panel;
    }
    // Every button of the dialog's boxes has an access key of its own, and
    // its text reads as it would without one.
    static void expectAccessKeys(QWidget* dialog, const QStringList& texts) {
        ASSERT_NE(dialog, nullptr);
        QStringList seen;
        std::set<QChar> keys;
        for (QDialogButtonBox* box : dialog->findChildren<QDialogButtonBox*>())
            for (QAbstractButton* b : box->buttons()) {
                const QChar key = accessKey(b->text());
                EXPECT_FALSE(key.isNull()) << b->text().toStdString();
                EXPECT_TRUE(keys.insert(key).second) << b->text().toStdString() << " shares its key";
                seen << QString(b->text()).remove(u'&');
            }
        seen.sort();
        EXPECT_EQ(seen, texts);
    }
};

} // namespace

TEST_F(PanelKeysTest, EachPanelClosesByItsButtonItsAccessKeyEscapeAndTheCloseKey) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("panels.wav", 2, 4410, ramp));
    ASSERT_TRUE(activate(windowOf(doc.get())));
    const std::vector<std::pair<const char*, std::function<void(QWidget*)>>> ways = {
        {"the button", [](QWidget* p) { QTest::mouseClick(closeButtonOf(p), Qt::LeftButton); }},
        {"Alt+C", [](QWidget* p) { QTest::keyClick(p, Qt::Key_C, Qt::AltModifier); }},
        {"Escape", [](QWidget* p) { QTest::keyClick(p, Qt::Key_Escape); }},
        {"Ctrl+W", [](QWidget* p) { QTest::keyClick(p, Qt::Key_W, Qt::ControlModifier); }},
    };
    for (const Panel& p : panels()) {
        QWidget* panel = shown(p);
        ASSERT_NE(panel, nullptr) << p.name;
        QPushButton* close = closeButtonOf(panel);
        ASSERT_NE(close, nullptr) << p.name;
        EXPECT_EQ(close->text(), "&Close") << p.name;
        EXPECT_TRUE(close->isVisible()) << p.name;
        // Inside the panel, clear of its other buttons.
        EXPECT_TRUE(panel->rect().contains(close->geometry())) << p.name;
        std::set<QChar> keys;
        for (QPushButton* b : panel->findChildren<QPushButton*>()) {
            if (!b->isVisible()) continue;
            EXPECT_TRUE(keys.insert(accessKey(b->text())).second) << p.name << ": " << b->text().toStdString();
        }
        for (const auto& [way, act] : ways) {
            panel = shown(p);
            ASSERT_TRUE(panel->isVisible()) << p.name << ", " << way;
            act(panel);
            EXPECT_TRUE(waitUntil([&] { return !panel->isVisible(); }, 2000)) << p.name << " stays after " << way;
        }
    }
    // A panel closed is only hidden: the document and its window stay.
    EXPECT_TRUE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));
    EXPECT_TRUE(windowOf(doc.get())->isVisible());
}

TEST_F(PanelKeysTest, EscapeInTheStatisticsPanelCancelsAMeasurementBeforeItCloses) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("busy.wav", 2, 48000, ramp));
    ASSERT_TRUE(activate(windowOf(doc.get())));
    ZQStatisticsPanel* panel = nullptr;
    {
        // The document busy: the measurement waits, with its progress shown.
        std::unique_lock<std::recursive_mutex> busy(doc->monitor());
        ZQStatisticsPanel::showForCurrentDocument();
        panel = ZQStatisticsPanel::existingPanel();
        ASSERT_TRUE(activate(panel));
        ASSERT_TRUE(waitUntil([&] { return panel->progressBox()->isVisible(); }, 3000));
        QTest::keyClick(panel, Qt::Key_Escape);
        ASSERT_TRUE(waitUntil([&] { return !panel->isComputing(); }, 3000));
        EXPECT_EQ(panel->statusText(), "Cancelled.");
        EXPECT_TRUE(panel->isVisible());
    }
    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return !panel->isVisible(); }, 2000));
}

TEST_F(PanelKeysTest, CtrlQInAPanelQuitsAsTheMenusQuitDoes) {
    // A changed document: Quit asks about it first, and Cancel keeps all.
    Ref<ZQAudioFileDocument> doc = open(floatFile("changed.wav", 2, 1000, ramp));
    ASSERT_TRUE(doc->deleteRange({ZQ::Num::Count(0ull), ZQ::Num::Count(99ull)}));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    for (const Panel& p : panels()) {
        QWidget* panel = shown(p);
        ASSERT_NE(panel, nullptr) << p.name;
        QTest::keyClick(panel, Qt::Key_Q, Qt::ControlModifier);
        QMessageBox* asked = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (asked = w->changesPrompt()) && asked->isVisible(); }, 3000)) << p.name;
        QAbstractButton* cancel = nullptr;
        for (QAbstractButton* b : asked->buttons())
            if (QString(b->text()).remove(u'&') == "Cancel") cancel = b;
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
        EXPECT_TRUE(waitUntil([&] { return !w->changesPrompt() || !w->changesPrompt()->isVisible(); }, 2000));
        EXPECT_FALSE(ZQApplicationDelegate::shared().isTerminating()) << p.name;
        EXPECT_TRUE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get())) << p.name;
        // Quitting is not closing: the panel stays until the application goes.
        EXPECT_TRUE(panel->isVisible()) << p.name;
    }
}

TEST(AccessKeys, AButtonWithoutOneTakesTheFirstLetterNoOtherHas) {
    QString taken;
    EXPECT_EQ(ZQ::AccessKeys::withAccessKey("E&xport\u2026", taken), "E&xport\u2026");
    EXPECT_EQ(ZQ::AccessKeys::withAccessKey("Cancel", taken), "&Cancel");
    EXPECT_EQ(ZQ::AccessKeys::withAccessKey("Close", taken), "C&lose");
    EXPECT_EQ(ZQ::AccessKeys::withAccessKey("Clear", taken), "Cl&ear");
    EXPECT_EQ(ZQ::AccessKeys::withAccessKey("Save && Close", taken), "&Save && Close");
    EXPECT_EQ(ZQ::AccessKeys::withAccessKey("CX", taken), "CX"); // nothing free: left as it is
    EXPECT_EQ(taken, "XCLES");
}

TEST_F(PanelKeysTest, TheDialogsButtonsHaveAccessKeys) {
    auto* start = new ZQStartWindow;
    start->show();
    ASSERT_TRUE(activate(start));
    EXPECT_EQ(start->findChild<QPushButton*>("openButton")->text(), "&Open\u2026");

    // About: its key closes it.
    item(start, "about")->trigger();
    QMessageBox* about = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (about = start->findChild<QMessageBox*>("aboutBox")) && about->isVisible(); }));
    expectAccessKeys(about, {"OK"});
    ASSERT_TRUE(activate(about));
    QPointer<QMessageBox> gone = about;
    QTest::keyClick(about, Qt::Key_O, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return gone.isNull(); }, 2000));

    // A file that is not there.
    ZQ::FileOpening::openFile(QString::fromStdString(dir.file("missing.wav")), start);
    QMessageBox* missing = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (missing = start->findChild<QMessageBox*>()) && missing->isVisible(); }));
    expectAccessKeys(missing, {"Ok"});
    missing->accept();
    ASSERT_TRUE(waitUntil([&] { return !start->findChild<QMessageBox*>(); }));

    // The open dialog.
    item(start, "open")->trigger();
    QFileDialog* opening = nullptr;
    ASSERT_TRUE(
        waitUntil([&] { return (opening = start->findChild<QFileDialog*>("openDialog")) && opening->isVisible(); }));
    expectAccessKeys(opening, {"Cancel", "Open"});
    opening->reject();
    start->close();

    // A file that cannot be read: the sheet on its window.
    const std::string damaged = dir.file("damaged.wav");
    { std::ofstream(damaged, std::ios::binary) << "RIFF\x10\0\0\0WAVEfmt not a sound file"; }
    QMessageBox* sheet = nullptr;
    capture([&] {
        ASSERT_TRUE(ZQDocumentController::sharedDocumentController().openDocumentWithContentsOfPath(damaged, nullptr));
        ASSERT_TRUE(waitUntil(
            [&] {
                const Ref<ZQAudioFileDocument> bad = documentFor(damaged);
                ZQDocumentWindow* w = windowOf(bad.get());
                return w && (sheet = w->findChild<QMessageBox*>()) && sheet->isVisible();
            },
            10000));
    });
    expectAccessKeys(sheet, {"Ok"});
    if (sheet) sheet->accept();

    // The export dialog.
    Ref<ZQAudioFileDocument> doc = open(floatFile("keys.wav", 1, 1000, ramp));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    item(w, "exportWave16")->trigger();
    QFileDialog* exporting = nullptr;
    ASSERT_TRUE(
        waitUntil([&] { return (exporting = w->findChild<QFileDialog*>("exportDialog")) && exporting->isVisible(); }));
    expectAccessKeys(exporting, {"Cancel", "Save"});
    exporting->reject();
}
