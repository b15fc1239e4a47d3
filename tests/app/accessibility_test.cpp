// The window as assistive technology reads it, through Qt's accessibility
// interfaces in the process: every part that takes the focus has a name and
// a role, the painted parts tell their values, the values change with the
// position and the selection, and the keyboard reaches every command with
// the focus shown. (The events a screen reader hears need a live bridge:
// the test through AT-SPI under Xvfb listens for them.)
#include "AppFixture.h"
#include "app/ZQMarkersPanel.h"
#include "controls/ZQLevelMeter.h"
#include "window/ZQAccessibility.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QMenuBar>
#include <QTableWidget>
#include <cmath>
#include <set>

using namespace testsupport;
using platform::Ref;

namespace {

class AccessibilityTest : public AppTest {
protected:
    // Every interface under `root`, depth first.
    static void walk(QAccessibleInterface* root, std::vector<QAccessibleInterface*>& out, int depth = 0) {
        if (!root || depth > 40) return;
        out.push_back(root);
        for (int i = 0; i < root->childCount(); ++i)
            walk(root->child(i), out, depth + 1);
    }
};

} // namespace

TEST_F(AccessibilityTest, EveryFocusablePartHasANameAndRoleAndThePaintedPartsTellTheirValues) {
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "speech.wav", 2, 8 * 8000, [](int c, long k) { return 0.3 * (c + 1) * std::sin(k * 0.02); }, 8000));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 900, 400);
    doc->setMarkers(ZQ::MarkerList({{8000, 0, "Intro"}, {24000, 16000, "Verse"}}));

    std::vector<QAccessibleInterface*> all;
    walk(QAccessible::queryAccessibleInterface(w), all);
    int focusable = 0;
    for (QAccessibleInterface* i : all) {
        if (!i->state().focusable || i->state().invisible) continue;
        ++focusable;
        const QObject* o = i->object();
        EXPECT_FALSE(i->text(QAccessible::Name).trimmed().isEmpty())
            << "unnamed: " << (o ? o->metaObject()->className() : "?") << " "
            << (o ? o->objectName().toStdString() : std::string()) << " role " << int(i->role());
        EXPECT_NE(i->role(), QAccessible::NoRole);
        EXPECT_NE(i->role(), QAccessible::Client) << (o ? o->objectName().toStdString() : std::string());
    }
    EXPECT_GE(focusable, 2 + 2 + 7); // the views, zoom and scroller, the transport buttons

    // The channel views: name, role, and a value that follows the position
    // and the selection.
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(c->waveform(0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), QAccessible::Chart);
    // Named for the channel's speaker where the file gives them (this one
    // does not: its channels are numbered).
    EXPECT_EQ(view->text(QAccessible::Name), "Channel 1, waveform");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(c->waveform(1))->text(QAccessible::Name), "Channel 2, waveform");
    c->locate(12000);
    EXPECT_EQ(view->text(QAccessible::Value), "Position 00:00:01.500, sample 12000; no selection");
    EXPECT_DOUBLE_EQ(view->valueInterface()->currentValue().toDouble(), 1.5);
    c->selectFrames(16000, 23999);
    EXPECT_EQ(view->text(QAccessible::Value),
              "Position 00:00:01.500, sample 12000; selection 00:00:02.000 to 00:00:02.999, 8000 samples");
    // A screen reader can set the position as a value, in seconds.
    view->valueInterface()->setCurrentValue(4.0);
    EXPECT_EQ(doc->presentPlaybackPosition(), 32000u);

    // The ruler lists the markers as items; an edit tells it.
    QAccessibleInterface* ruler = QAccessible::queryAccessibleInterface(c->timeRuler());
    ASSERT_NE(ruler, nullptr);
    EXPECT_EQ(ruler->role(), QAccessible::List);
    EXPECT_EQ(ruler->text(QAccessible::Name), "Time ruler and markers");
    EXPECT_TRUE(ruler->text(QAccessible::Value).endsWith("2 markers")) << ruler->text(QAccessible::Value).toStdString();
    ASSERT_GE(ruler->childCount(), 2);
    EXPECT_EQ(ruler->child(0)->text(QAccessible::Name), "Intro, marker at 00:00:01.000");
    EXPECT_EQ(ruler->child(1)->text(QAccessible::Name), "Verse, region from 00:00:03.000 to 00:00:05.000");
    EXPECT_EQ(ruler->indexOfChild(ruler->child(1)), 1);
    EXPECT_EQ(ruler->child(1)->parent()->object(), c->timeRuler());
    c->selectNone(nullptr);
    doc->locatePlaybackPosition(100);
    ASSERT_GE(c->markerEditing().addMarker(), 0);
    EXPECT_TRUE(ruler->text(QAccessible::Value).endsWith("3 markers"));
    EXPECT_EQ(ruler->child(0)->text(QAccessible::Name), "Unnamed, marker at 00:00:00.012");
    EXPECT_TRUE(ruler->child(0)->state().selected); // the new one is chosen
    // Zoom changes what the ruler tells.
    const QString shown = ruler->text(QAccessible::Value);
    c->zoomIn();
    EXPECT_NE(ruler->text(QAccessible::Value), shown);

    // The level meter: each channel's peak and clip lamp.
    QAccessibleInterface* meter = QAccessible::queryAccessibleInterface(c->levelMeter());
    EXPECT_EQ(meter->role(), QAccessible::ProgressBar);
    EXPECT_EQ(meter->text(QAccessible::Name), "Output level");
    c->levelMeter()->setLevels(0, -6.02, -9, false);
    c->levelMeter()->setLevels(1, 0.0, -3, true);
    EXPECT_EQ(meter->text(QAccessible::Value), "Left peak \u22126.0 dBFS, clip lamp off; Right peak 0.0 dBFS, clipped");
    EXPECT_DOUBLE_EQ(meter->valueInterface()->currentValue().toDouble(), 0.0);

    // The readouts say what they are before what they show.
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(c->hmsCurrent())
                    ->text(QAccessible::Name)
                    .startsWith("Play position: 00:00:00.012"))
        << QAccessible::queryAccessibleInterface(c->hmsCurrent())->text(QAccessible::Name).toStdString();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(c->hmsDuration())->text(QAccessible::Name),
              "Duration: 00:00:08.000");
    // Transport buttons by what they do; M/S toggles checkable, named for their channel.
    QStringList transport;
    all.clear(); // the marker items made before the edit are gone
    walk(QAccessible::queryAccessibleInterface(w), all);
    for (QAccessibleInterface* i : all)
        // Checkable, they show whether they are on (Qt gives them the check box's role).
        if (i->object() && i->object()->inherits("QPushButton") &&
            (i->role() == QAccessible::Button || i->role() == QAccessible::CheckBox))
            transport << i->text(QAccessible::Name);
    for (const char* name :
         {"Play", "Pause", "Stop", "Go to Start", "Back One Second", "Forward One Second", "Go to End"})
        EXPECT_TRUE(transport.contains(QString::fromUtf8(name)))
            << name << " among " << transport.join(", ").toStdString();
    auto* mute = c->waveform(1)->findChild<QWidget*>(QStringLiteral("muteChannel2"));
    ASSERT_NE(mute, nullptr);
    QAccessibleInterface* toggle = QAccessible::queryAccessibleInterface(mute);
    EXPECT_EQ(toggle->text(QAccessible::Name), "Mute channel 2");
    EXPECT_TRUE(toggle->state().checkable);

    // The Markers panel's table is named, and tells of its rows.
    item(w, "markersPanel")->trigger();
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(ZQMarkersPanel::existingPanel()->table());
    EXPECT_EQ(table->text(QAccessible::Name), "Markers");
    EXPECT_EQ(table->role(), QAccessible::Table);
    ZQMarkersPanel::existingPanel()->hide();
}

TEST_F(AccessibilityTest, TheKeyboardReachesEveryPartAndCommandWithTheFocusShown) {
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "keys.wav", 3, 4 * 8000, [](int, long k) { return 0.1 * std::sin(k * 0.05); }, 8000));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 900, 400);

    // Every menu and every item has an access key or a shortcut.
    for (QAction* top : w->menuBar()->actions()) {
        EXPECT_TRUE(top->text().contains('&')) << top->text().toStdString();
        QMenu* menu = top->menu();
        if (!menu) continue;
        emit menu->aboutToShow();
        for (QAction* a : menu->actions()) {
            if (a->isSeparator() || !a->isVisible() || a->text().isEmpty()) continue;
            if (top->text() == QStringLiteral("&Window") && a->isCheckable()) continue; // the windows, by their titles
            // An access key, a shortcut, or the key of the window's own bar after the tab.
            EXPECT_TRUE(a->text().contains('&') || !a->shortcut().isEmpty() || a->menu() || a->text().contains('\t'))
                << top->text().toStdString() << " > " << a->text().toStdString();
        }
    }

    // Tab goes through each view, the scroller, the zoom and the transport
    // buttons; each shows that it has the focus.
    std::set<QWidget*> reached;
    c->waveform(0)->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 30; ++i) {
        QWidget* f = QApplication::focusWidget();
        if (f) reached.insert(f);
        QTest::keyClick(f ? f : w, Qt::Key_Tab);
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(reached.count(c->waveform(i))) << "view " << i;
    EXPECT_TRUE(reached.count(c->horizontalScrollScroller()));
    EXPECT_TRUE(reached.count(c->horizontalZoomSlider()));
    int buttons = 0;
    for (QWidget* f : reached)
        buttons += f->inherits("QPushButton") ? 1 : 0;
    EXPECT_GE(buttons, 7);
    for (QWidget* f : reached)
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(f)->text(QAccessible::Name).isEmpty())
            << f->metaObject()->className();
    // The focus is drawn: the view with the keyboard's focus differs from itself without.
    ZQWaveform* v = c->waveform(1);
    v->setFocus(Qt::TabFocusReason);
    const QImage focused = v->grab().toImage();
    c->waveform(2)->setFocus(Qt::TabFocusReason);
    EXPECT_NE(focused, v->grab().toImage());
}
