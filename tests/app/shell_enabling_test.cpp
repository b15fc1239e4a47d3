// Which items a newcomer can use, and that each enabled one does something:
// the zoom items follow the zoom of the current document's views, Zoom to
// Selection shows the selection, the transport items need samples (Stop and
// Pause a transport that plays or is paused), Export and Properties need a
// document; the Transport menu has one item per command; the properties
// panel keeps each value on one line with the whole of it in a tooltip and
// follows its file when an export replaces it.
#include "app/AppFixture.h"
#include "app/ZQAudioFilePropertiesPanel.h"
#include "app/ZQStartWindow.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/AudioFileProperties.h"
#include "controls/ZQTransportButton.h"

#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSignalSpy>
#include <filesystem>
#include <map>

using namespace testsupport;
using platform::Ref;

namespace {

double wave(int c, long k) {
    return (c ? 0.3 : 0.6) * double((k * 7) % 200 - 100) / 100.0;
}

const char* const kZoomItems[] = {"zoomIn",       "zoomOut",         "amplitudeIn",
                                  "amplitudeOut", "zoomOutEntirely", "zoomToSelection"};
const char* const kTransportItems[] = {"play",      "playSelection", "pause",   "stop",
                                       "gotoStart", "back",          "forward", "gotoEnd"};
const char* const kExportItems[] = {"exportWave16", "exportWave32", "exportWaveFloat", "exportAiff16", "exportAiff32"};

class ShellEnablingTest : public AppTest {
protected:
    void TearDown() override {
        // Changed documents would ask before closing.
        for (auto& d : ZQDocumentController::sharedDocumentController().documents())
            if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) doc->close();
        ZQAudioFilePropertiesPanelController::shutdown();
        AppTest::TearDown();
    }
    // A key typed in the window; the menus catch up before the next one, as
    // they do between a user's key presses.
    static void type(QWidget* w, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(w, key, modifiers);
        QCoreApplication::processEvents();
    }
    // Which of `names` are enabled in `window`'s menus, as a readable list.
    static std::string enabled(QWidget* window, std::initializer_list<const char*> names) {
        std::string out;
        for (const char* name : names)
            if (QAction* a = item(window, name); a && a->isEnabled()) out += std::string(out.empty() ? "" : " ") + name;
        return out;
    }
    static std::string enabledZoomItems(QWidget* window) {
        return enabled(window,
                       {"zoomIn", "zoomOut", "amplitudeIn", "amplitudeOut", "zoomOutEntirely", "zoomToSelection"});
    }
    static int rowNamed(ZQAudioFilePropertiesPanel* panel, const char* name) {
        for (int i = 0; i < ZQAudioFilePropertiesPanel::kRows; ++i)
            if (panel->nameAt(i) == QString::fromUtf8(name)) return i;
        ADD_FAILURE() << "no row " << name;
        return 0;
    }
};

} // namespace

TEST_F(ShellEnablingTest, TheStartWindowOffersNoDocumentCommand) {
    auto* start = new ZQStartWindow;
    start->show();
    ASSERT_TRUE(activate(start));
    for (const char* name : kZoomItems)
        EXPECT_FALSE(item(start, name)->isEnabled()) << name;
    for (const char* name : kTransportItems)
        EXPECT_FALSE(item(start, name)->isEnabled()) << name;
    for (const char* name : kExportItems)
        EXPECT_FALSE(item(start, name)->isEnabled()) << name;
    EXPECT_FALSE(item(start, "properties")->isEnabled());
    for (const char* name : {"open", "quit", "about", "waveformColours"})
        EXPECT_TRUE(item(start, name)->isEnabled()) << name;
    // Their keys do nothing either: no empty properties panel.
    QSignalSpy properties(item(start, "properties"), &QAction::triggered);
    QTest::keyClick(start, Qt::Key_I, Qt::ControlModifier);
    QTest::keyClick(start, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(properties.count(), 0);
    const bool panelShown = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "ZQAudioFilePropertiesPanel" && w->isVisible()) return true;
        return false;
    }();
    EXPECT_FALSE(panelShown);
    start->close();
}

TEST_F(ShellEnablingTest, TheZoomItemsAreEnabledOnlyWhileTheyWouldChangeTheViews) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("zoom.wav", 2, 44100 * 4, wave));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    ZQWaveform* view = c->waveform(0);
    // Freshly opened: the whole file at 100 %, nothing selected.
    EXPECT_EQ(enabledZoomItems(w), "zoomIn amplitudeIn amplitudeOut");
    const double whole = view->horizontalZoom();
    QSignalSpy zoomOuts(item(w, "zoomOut"), &QAction::triggered);
    type(w, Qt::Key_Minus, Qt::ControlModifier); // refused, as its item is
    EXPECT_EQ(zoomOuts.count(), 0);
    EXPECT_EQ(view->horizontalZoom(), whole);

    // One step in: back out is possible, in both ways.
    type(w, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_LT(view->horizontalZoom(), whole);
    EXPECT_EQ(enabledZoomItems(w), "zoomIn zoomOut amplitudeIn amplitudeOut zoomOutEntirely");

    // In as far as it goes: sixteen samples across, and Zoom In refuses.
    int steps = 0;
    while (item(w, "zoomIn")->isEnabled() && steps < 64) {
        type(w, Qt::Key_Equal, Qt::ControlModifier);
        ++steps;
    }
    EXPECT_LT(steps, 64);
    EXPECT_EQ(view->horizontalZoom(), view->zoomSettings().horizontalZoomRange.min_);
    EXPECT_LE(view->zoomSettings().numVisibleSamples(), 32u);
    EXPECT_EQ(enabledZoomItems(w), "zoomOut amplitudeIn amplitudeOut zoomOutEntirely");
    const double deepest = view->horizontalZoom();
    QSignalSpy zoomIns(item(w, "zoomIn"), &QAction::triggered);
    type(w, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(zoomIns.count(), 0);
    EXPECT_EQ(view->horizontalZoom(), deepest);
    type(w, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_GT(view->horizontalZoom(), deepest);
    EXPECT_TRUE(item(w, "zoomIn")->isEnabled());

    // Zoom Out Entirely: back to the start.
    type(w, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view->horizontalZoom(), whole);
    EXPECT_EQ(enabledZoomItems(w), "zoomIn amplitudeIn amplitudeOut");

    // The amplitude, up to its limit; Zoom Out Entirely undoes that too.
    steps = 0;
    while (item(w, "amplitudeIn")->isEnabled() && steps < 16) {
        type(w, Qt::Key_Up, Qt::ControlModifier);
        ++steps;
    }
    EXPECT_LT(steps, 16);
    EXPECT_EQ(view->verticalZoom(), 16.0);
    EXPECT_EQ(enabledZoomItems(w), "zoomIn amplitudeOut zoomOutEntirely");
    type(w, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view->verticalZoom(), 1.0);
    steps = 0;
    while (item(w, "amplitudeOut")->isEnabled() && steps < 16) {
        type(w, Qt::Key_Down, Qt::ControlModifier);
        ++steps;
    }
    EXPECT_LT(steps, 16);
    EXPECT_EQ(view->verticalZoom(), 0.5);
    EXPECT_EQ(enabledZoomItems(w), "zoomIn amplitudeIn zoomOutEntirely");
    type(w, Qt::Key_0, Qt::ControlModifier);

    // The zoom slider moves the zoom without a menu: the items follow it too.
    ASSERT_EQ(enabledZoomItems(w), "zoomIn amplitudeIn amplitudeOut");
    c->horizontalZoomSlider()->setDoubleValue(0.5);
    c->changeHorizontalZoom(c->horizontalZoomSlider());
    EXPECT_TRUE(waitUntil([&] { return item(w, "zoomOut")->isEnabled(); }, 2000));
    EXPECT_TRUE(item(w, "zoomOutEntirely")->isEnabled());
    // The items of a window whose document is not the current one ask about
    // the current one: the start window's stay disabled meanwhile.
    auto* start = new ZQStartWindow;
    start->show();
    ASSERT_TRUE(activate(start));
    EXPECT_EQ(enabledZoomItems(start), "");
    start->close();
}

TEST_F(ShellEnablingTest, ZoomToSelectionFitsTheSelectionToTheViews) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("fit.wav", 2, 44100 * 10, wave));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    ZQWaveform* view = c->waveform(0);
    QAction* fit = item(w, "zoomToSelection");
    ASSERT_NE(fit, nullptr);
    EXPECT_EQ(fit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
    // Right after Zoom Out Entirely in the View menu.
    QMenu* viewMenu = qobject_cast<QMenu*>(item(w, "zoomOutEntirely")->parent());
    ASSERT_NE(viewMenu, nullptr);
    const QList<QAction*> items = viewMenu->actions();
    const qsizetype at = items.indexOf(item(w, "zoomOutEntirely"));
    ASSERT_GE(at, 0);
    ASSERT_LT(at + 1, items.size());
    EXPECT_EQ(items[at + 1], fit);

    // Nothing selected: nothing to fit.
    EXPECT_FALSE(fit->isEnabled());
    const double whole = view->horizontalZoom();
    type(w, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(view->horizontalZoom(), whole);

    // A selection in the middle of the file.
    dragAcross(view, view->width() * 2 / 5, view->width() / 2);
    const ZQ::SampleSelection s = view->selection();
    ASSERT_GT(view->selectionLength(), 1000u);
    ASSERT_TRUE(waitUntil([&] { return fit->isEnabled(); }, 2000));
    type(w, Qt::Key_E, Qt::ControlModifier);
    const std::uint64_t wanted = s.max_.v_ - s.min_.v_ + 1;
    // What the views show now covers the selection, and little else.
    EXPECT_TRUE(waitUntil(
        [&] {
            const ZQ::IndexRange& r = view->visibleRange();
            return r.min_.v_ <= s.min_.v_ && r.max_.v_ >= s.max_.v_;
        },
        3000))
        << view->visibleRange().min_.v_ << "..." << view->visibleRange().max_.v_ << " for " << s.min_.v_ << "..."
        << s.max_.v_;
    const ZQ::IndexRange& r = view->visibleRange();
    EXPECT_LE(r.max_.v_ - r.min_.v_ + 1, wanted + wanted / 50 + 2) << r.min_.v_ << "..." << r.max_.v_;
    EXPECT_LE(s.min_.v_ - r.min_.v_, wanted / 50 + 1);
    EXPECT_EQ(c->waveform(1)->visibleRange().min_.v_, r.min_.v_); // every channel alike
    EXPECT_TRUE(item(w, "zoomOut")->isEnabled());
    EXPECT_EQ(view->selection().min_.v_, s.min_.v_); // the selection stays as it was
    EXPECT_EQ(view->selection().max_.v_, s.max_.v_);

    // Select None: nothing to fit again.
    type(w, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(waitUntil([&] { return !fit->isEnabled(); }, 2000));
}

TEST_F(ShellEnablingTest, AnEmptyDocumentHasNothingToPlayYetExportsAsAnEmptyFile) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("emptied.wav", 2, 1000, wave));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    EXPECT_EQ(enabled(w, {"play", "gotoStart", "back", "forward", "gotoEnd"}), "play gotoStart back forward gotoEnd");
    for (const char* name : kExportItems)
        EXPECT_TRUE(item(w, name)->isEnabled()) << name;
    EXPECT_TRUE(item(w, "properties")->isEnabled());

    type(w, Qt::Key_A, Qt::ControlModifier);
    type(w, Qt::Key_Delete);
    ASSERT_EQ(doc->sampleCount(0).v_, 0u);
    refreshMenus();
    for (const char* name : kTransportItems)
        EXPECT_FALSE(item(w, name)->isEnabled()) << name;
    // The export writes such a document as a file of no frames: its items stay.
    for (const char* name : kExportItems)
        EXPECT_TRUE(item(w, name)->isEnabled()) << name;
    const std::string out = dir.file("nothing.wav");
    capture([&] {
        EXPECT_TRUE(doc->exportAudioFileDataTo(dir.path(), out, ZQ::AudioFileExport::kFloat32,
                                               platform::audio::kAudioFileWAVEType));
    });
    SF_INFO info{};
    SNDFILE* f = sf_open(out.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.frames, 0);
    EXPECT_EQ(info.channels, 2);
    sf_close(f);

    // Undo brings the samples, and the transport, back.
    type(w, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(doc->sampleCount(0).v_, 1000u);
    refreshMenus();
    EXPECT_TRUE(item(w, "play")->isEnabled());
    EXPECT_TRUE(item(w, "gotoEnd")->isEnabled());
}

TEST_F(ShellEnablingTest, TheMenusStopAndPauseAreOfferedOnlyWhilePlayingOrPaused) {
    setenv("ZQ_AUDIO_OUTPUT", "null", 1);
    Ref<ZQAudioFileDocument> doc = open(floatFile("running.wav", 1, 44100 * 20, wave));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQAudioFileDocumentTransportCommandReceiver* r = doc->audioFileDocumentTransportCommandReceiver();
    // The menus follow each change by themselves: no refresh is asked for.
    auto offered = [&] { return enabled(w, {"play", "pause", "stop"}); };
    EXPECT_EQ(offered(), "play");
    // The bar keeps its own rule: its Stop and Pause are always there.
    EXPECT_TRUE(bar(doc.get())->widget(TransportButton::Stop)->isEnabled());
    EXPECT_TRUE(bar(doc.get())->widget(TransportButton::Pause)->isEnabled());

    item(w, "play")->trigger();
    ASSERT_TRUE(r->isPlaying());
    EXPECT_TRUE(waitUntil([&] { return offered() == "pause stop"; }, 2000)) << offered();
    item(w, "pause")->trigger(); // paused: Pause resumes, Stop stops
    ASSERT_TRUE(r->isPaused());
    spinFor(50);
    EXPECT_EQ(offered(), "pause stop");
    item(w, "stop")->trigger();
    EXPECT_FALSE(r->isPlaying());
    EXPECT_TRUE(waitUntil([&] { return offered() == "play"; }, 2000)) << offered();

    // A pause taken while stopped (the bar's key) is undone from the menu.
    type(w, Qt::Key_Comma);
    ASSERT_TRUE(r->isPaused());
    EXPECT_TRUE(waitUntil([&] { return offered() == "play pause stop"; }, 2000)) << offered();
    item(w, "stop")->trigger();
    EXPECT_FALSE(r->isPaused());
    EXPECT_TRUE(waitUntil([&] { return offered() == "play"; }, 2000)) << offered();
    unsetenv("ZQ_AUDIO_OUTPUT");
}

TEST_F(ShellEnablingTest, TheTransportMenuHasOneItemPerCommandAndNoKeyIsTakenTwice) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("keys.wav", 1, 44100, wave));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    // Record is never available: only the bar shows it.
    EXPECT_EQ(w->findChild<QAction*>("record"), nullptr);
    QMenu* transport = nullptr;
    for (QAction* m : w->menuBar()->actions())
        if (m->menu() && m->text() == "&Transport") transport = m->menu();
    ASSERT_NE(transport, nullptr);
    std::vector<std::string> titles;
    for (QAction* a : transport->actions())
        if (!a->isSeparator() && !a->menu()) titles.push_back(a->text().section('\t', 0, 0).toStdString());
    EXPECT_EQ(titles,
              (std::vector<std::string>{"Play", "Pause", "Stop", "Go to Start", "Back One Second", "Forward One Second",
                                        "Go to End", "Play &Selection", "Pre&vious Marker", "Ne&xt Marker", "&Loop"}));
    EXPECT_EQ(item(w, "playSelection")->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_Space));
    EXPECT_EQ(item(w, "loop")->shortcut(), QKeySequence(Qt::Key_L));
    EXPECT_TRUE(item(w, "loop")->isCheckable());
    // Each of Start and End shows both of its keys and owns the longer one.
    EXPECT_EQ(item(w, "gotoStart")->text(), "Go to Start\tHome, 0");
    EXPECT_EQ(item(w, "gotoStart")->shortcut(), QKeySequence(Qt::Key_Home));
    EXPECT_EQ(item(w, "gotoEnd")->text(), "Go to End\tEnd, E");
    EXPECT_EQ(item(w, "gotoEnd")->shortcut(), QKeySequence(Qt::Key_End));
    EXPECT_EQ(w->findChild<QAction*>("home"), nullptr);
    EXPECT_EQ(w->findChild<QAction*>("end"), nullptr);

    // No key belongs to two of the window's items, nor to an item and the bar.
    std::map<QString, QString> owner;
    for (QAction* a : w->findChildren<QAction*>())
        for (const QKeySequence& k : a->shortcuts()) {
            const auto [it, added] = owner.emplace(k.toString(), a->objectName());
            EXPECT_TRUE(added) << k.toString().toStdString() << ": " << it->second.toStdString() << " and "
                               << a->objectName().toStdString();
        }
    for (QShortcut* s : w->findChildren<QShortcut*>())
        for (const QKeySequence& k : s->keys())
            EXPECT_EQ(owner.count(k.toString()), 0u) << k.toString().toStdString() << " is the bar's";
    EXPECT_EQ(owner.count(QKeySequence(Qt::CTRL | Qt::Key_E).toString()), 1u);

    // The keys do what the items say, the bar's as well.
    type(w, Qt::Key_End);
    EXPECT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() > 44000; }, 2000));
    const std::uint64_t end = doc->presentPlaybackPosition();
    type(w, Qt::Key_Home);
    EXPECT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() == 0; }, 2000));
    type(w, Qt::Key_E);
    EXPECT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() == end; }, 2000));
    type(w, Qt::Key_0);
    EXPECT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() == 0; }, 2000));
}

TEST_F(ShellEnablingTest, ThePropertiesPanelShowsEachValueOnOneLineWithTheWholeOfItInATooltip) {
    // A folder with a long name: the full path does not fit its row.
    const std::string folder = dir.file(std::string(60, 'f') + "-a-folder-with-a-name-longer-than-the-panel");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/tagged.wav";
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 4410, wave, "A Title"));
    Ref<ZQAudioFileDocument> doc = open(path);
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ASSERT_TRUE(item(w, "properties")->isEnabled());
    QTest::keyClick(w, Qt::Key_I, Qt::ControlModifier);
    ZQAudioFilePropertiesPanel* panel = ZQAudioFilePropertiesPanelController::propertiesPanel();
    ASSERT_TRUE(panel->isVisible());

    const ZQ::AudioFileProperties p = ZQ::describeAudioFileProperties(doc->audioFileInformation(), path);
    ASSERT_EQ(p.rows.size(), 20u);
    // "Other" is a text of several lines: one line here, the lines in the tooltip.
    const int other = rowNamed(panel, "Other");
    const std::size_t from = p.text.find("Other Info: ") + 12;
    const std::string otherText = p.text.substr(from, p.text.find("\nMarkers: ") + 1 - from);
    ASSERT_NE(otherText.find('\n'), otherText.size() - 1) << "one line only: " << otherText;
    const QString full = QString::fromStdString(otherText).chopped(1); // less the text's last line break
    EXPECT_EQ(panel->toolTipAt(other), full);
    const QString shown = panel->descAt(other);
    EXPECT_FALSE(shown.contains('\n'));
    EXPECT_FALSE(shown.contains("_ _ _"));
    EXPECT_FALSE(shown.contains("  ")) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("{ ")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(" }")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("A Title")) << shown.toStdString();
    EXPECT_EQ(shown, full.simplified());

    // A value too long for its column keeps its text, shown cut, whole in the tooltip.
    const int fullPath = rowNamed(panel, "Full Path");
    EXPECT_EQ(panel->descAt(fullPath).toStdString(), path);
    EXPECT_EQ(panel->toolTipAt(fullPath).toStdString(), path);
    // One that fits needs none.
    EXPECT_EQ(panel->descAt(rowNamed(panel, "File")), "tagged.wav");
    EXPECT_EQ(panel->toolTipAt(rowNamed(panel, "File")), "");
    EXPECT_EQ(panel->toolTipAt(rowNamed(panel, "Sample Rate")), "");

    // Copy puts the same text as ever on the clipboard.
    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), p.text);
}

TEST_F(ShellEnablingTest, ThePropertiesPanelFollowsAnExportOverTheDocumentsOwnFile) {
    const std::string path = floatFile("replaced.wav", 2, 1000, wave); // 32-bit float
    Ref<ZQAudioFileDocument> doc = open(path);
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    item(w, "properties")->trigger();
    ZQAudioFilePropertiesPanel* panel = ZQAudioFilePropertiesPanelController::propertiesPanel();
    ASSERT_TRUE(panel->isVisible());
    const int bits = rowNamed(panel, "Bits per channel");
    const int length = rowNamed(panel, "File Length (samples)");
    EXPECT_EQ(panel->descAt(bits), "32");
    EXPECT_EQ(panel->descAt(length), "1000");

    // An edit: the length follows the document, the file is not replaced yet.
    ASSERT_TRUE(doc->deleteRange({ZQ::Num::Count(0ull), ZQ::Num::Count(99ull)}));
    EXPECT_TRUE(waitUntil([&] { return panel->descAt(length) == "900"; }, 2000));
    EXPECT_EQ(panel->descAt(bits), "32");

    // Exported over its own file as 16-bit integers, on the export's thread
    // as the dialog runs it: the panel shows the file as it is now.
    bool finished = false, exported = false;
    capture([&] {
        doc->beginExport(dir.path(), path, ZQ::AudioFileExport::kInteger16, platform::audio::kAudioFileWAVEType,
                         [&](bool e) {
                             finished = true;
                             exported = e;
                         });
        ASSERT_TRUE(waitUntil([&] { return finished; }, 10000));
    });
    ASSERT_TRUE(exported);
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    sf_close(f);
    ASSERT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_TRUE(waitUntil([&] { return panel->descAt(bits) == "16"; }, 2000));
    EXPECT_EQ(panel->descAt(length), "900");
    EXPECT_EQ(panel->descAt(rowNamed(panel, "Bytes per frame")), "4");
    EXPECT_NE(panel->stringDescription().find("Bits per channel: 16\n"), std::string::npos);
    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    EXPECT_NE(QGuiApplication::clipboard()->text().toStdString().find("Bits per channel: 16\n"), std::string::npos);

    // Replaced again while the panel is hidden: shown again, it has the new file.
    panel->hide();
    capture([&] {
        EXPECT_TRUE(doc->exportAudioFileDataTo(dir.path(), path, ZQ::AudioFileExport::kInteger32,
                                               platform::audio::kAudioFileWAVEType));
    });
    item(w, "properties")->trigger();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->descAt(bits), "32");
    EXPECT_EQ(panel->descAt(rowNamed(panel, "Bytes per frame")), "8");
}
