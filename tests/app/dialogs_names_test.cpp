// Dialogs and names as a newcomer meets them: where Open and Export start,
// an export's extension made to fit its format (and never a file replaced
// unasked), the colours panel beside the window, two files of one name told
// apart, a file opened twice coming forward, and the Help menu's web page.
#include "AppFixture.h"
#include "app/FileOpening.h"
#include "app/ZQAudioWaveformColorSelectionPanel.h"
#include "app/ZQStartWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QUrl>
#include <filesystem>
#include <fstream>

using namespace testsupport;
using platform::Ref;

namespace {

double wave(int c, long k) {
    return (c ? -1.0 : 1.0) * double((k * 7) % 200 - 100) / 128.0;
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

class DialogsNamesTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        QSettings().remove(QString::fromUtf8(ZQ::FileOpening::kLastFolderKey));
    }
    void TearDown() override {
        ZQ::Application::setWebsiteAddressForTesting(nullptr);
        ZQApplicationDispatchCenter::shared().setUrlOpener(nullptr);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->property("zqStartWindow").toBool()) w->close();
        ZQAudioWaveformColorSelectionPanelController::shutdown();
        AppTest::TearDown();
        QSettings().remove(QString::fromUtf8(ZQ::FileOpening::kLastFolderKey));
    }
    // A stereo float WAV at dir/<folder>/<name>.
    std::string fileIn(const std::string& folder, const std::string& name) {
        std::filesystem::create_directories(dir.file(folder));
        const std::string path = dir.file(folder + "/" + name);
        EXPECT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 1000, wave));
        return path;
    }
    static QFileDialog* dialogOf(QWidget* window, const char* name) {
        QFileDialog* d = nullptr;
        EXPECT_TRUE(waitUntil([&] { return (d = window->findChild<QFileDialog*>(name)) && d->isVisible(); })) << name;
        return d;
    }
    // The texts a menu of `window` shows once it is about to open.
    static QStringList menuTexts(QWidget* window, const char* menuName) {
        auto* menu = window->findChild<QMenu*>(QString::fromUtf8(menuName));
        EXPECT_NE(menu, nullptr) << menuName;
        if (!menu) return {};
        QMetaObject::invokeMethod(menu, "aboutToShow", Qt::DirectConnection);
        QStringList texts;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) texts << a->text();
        return texts;
    }
    static QAction* recentItem(QWidget* window, const std::string& path) {
        auto* menu = window->findChild<QMenu*>(QStringLiteral("openRecent"));
        if (!menu) return nullptr;
        QMetaObject::invokeMethod(menu, "aboutToShow", Qt::DirectConnection);
        for (QAction* a : menu->actions())
            if (a->data().toString() == q(path)) return a;
        return nullptr;
    }
    static ZQStartWindow* startWindow() {
        auto* start = new ZQStartWindow;
        start->show();
        return start;
    }
    static std::size_t documentCount() { return ZQDocumentController::sharedDocumentController().documents().size(); }
    // Waits for an export to end and reads what it wrote.
    static SF_INFO exported(ZQAudioFileDocument* doc, const std::string& path) {
        SF_INFO info{};
        EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(q(path)) && !doc->isExporting(); }, 10000)) << path;
        refreshMenus(); // the menus come back as the export ends
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        EXPECT_NE(f, nullptr) << path;
        if (f) sf_close(f);
        return info;
    }
};

} // namespace

TEST_F(DialogsNamesTest, OpenAndExportStartInTheDocumentsFolderElseInTheLastFolderChosen) {
    const std::string inOne = fileIn("one", "first.wav");
    const std::string inTwo = fileIn("two", "second.wav");
    Ref<ZQAudioFileDocument> doc = open(inOne);
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    item(w, "open")->trigger();
    QFileDialog* d = dialogOf(w, "openDialog");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->directory().absolutePath(), q(dir.file("one")));
    d->reject();
    item(w, "exportAiff16")->trigger();
    d = dialogOf(w, "exportDialog");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->directory().absolutePath(), q(dir.file("one")));
    d->reject();
    spinFor(50);
    doc->close();
    ASSERT_TRUE(waitUntil([] { return documentCount() == 0; }));

    // No document, nothing chosen yet: the home folder.
    ZQStartWindow* start = startWindow();
    ASSERT_TRUE(activate(start));
    EXPECT_FALSE(ZQDocumentController::sharedDocumentController().currentDocument());
    item(start, "open")->trigger();
    d = dialogOf(start, "openDialog");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->directory().absolutePath(), QDir::homePath());
    // A file chosen there opens, and its folder is remembered.
    typeName(d, inTwo);
    QMetaObject::invokeMethod(d, "accept", Qt::DirectConnection);
    Ref<ZQAudioFileDocument> second;
    ASSERT_TRUE(waitUntil([&] { return (second = documentFor(inTwo)) && windowOf(second.get()); }, 10000));
    EXPECT_EQ(QSettings().value("LastFolder").toString(), q(dir.file("two")));
    second->close();
    ASSERT_TRUE(waitUntil([] { return documentCount() == 0; }));

    // No document: the folder chosen last, also in a later run.
    ASSERT_TRUE(activate(start));
    item(start, "open")->trigger();
    d = dialogOf(start, "openDialog");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->directory().absolutePath(), q(dir.file("two")));
    d->reject();
    spinFor(50);

    // A remembered folder that is gone is no place to start.
    std::filesystem::remove_all(dir.file("two"));
    item(start, "open")->trigger();
    d = dialogOf(start, "openDialog");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->directory().absolutePath(), QDir::homePath());
    d->reject();
}

TEST_F(DialogsNamesTest, AnExportTakesItsFormatsExtensionAndAsksBeforeReplacingThatFile) {
    Ref<ZQAudioFileDocument> doc = open(fileIn("src", "take.wav"));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    const std::string out = dir.file("out");
    std::filesystem::create_directories(out);

    // AIFF named ".wav": written as ".aif", and an AIFF it is. A file of the
    // name as typed is not asked about (it is not the one written) and stays.
    const std::string typed = out + "/x.wav";
    { std::ofstream(typed, std::ios::binary) << "a WAV of that name"; }
    item(w, "exportAiff16")->trigger();
    QFileDialog* d = dialogOf(w, "exportDialog");
    ASSERT_NE(d, nullptr);
    typeName(d, typed);
    EXPECT_EQ(save(d), "");
    SF_INFO info = exported(doc.get(), out + "/x.aif");
    EXPECT_EQ(info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.frames, 1000);
    EXPECT_EQ(bytesOf(typed), "a WAV of that name");
    // The export's folder is the one remembered.
    EXPECT_EQ(QSettings().value("LastFolder").toString(), q(out));

    // The corrected name exists: asked first; No writes nothing and leaves
    // the dialog open for another name.
    const std::string earlier = out + "/y.aif";
    { std::ofstream(earlier, std::ios::binary) << "an earlier AIFF, byte for byte"; }
    item(w, "exportAiff32")->trigger();
    d = dialogOf(w, "exportDialog");
    ASSERT_NE(d, nullptr);
    typeName(d, out + "/y.wav");
    const QString asked = save(d);
    EXPECT_TRUE(asked.contains("y.aif already exists")) << asked.toStdString();
    spinFor(100);
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(doc->isExporting());
    d->reject();
    spinFor(100);
    EXPECT_EQ(bytesOf(earlier), "an earlier AIFF, byte for byte");
    EXPECT_FALSE(QFileInfo::exists(q(out + "/y.wav")));

    // Yes replaces it with the export.
    item(w, "exportAiff32")->trigger();
    d = dialogOf(w, "exportDialog");
    ASSERT_NE(d, nullptr);
    typeName(d, out + "/y.wav");
    EXPECT_TRUE(save(d, QMessageBox::Yes).contains("y.aif already exists"));
    ASSERT_TRUE(waitUntil([&] { return bytesOf(earlier).rfind("FORM", 0) == 0 && !doc->isExporting(); }, 10000));
    info = exported(doc.get(), earlier);
    EXPECT_EQ(info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_32);
    EXPECT_EQ(info.frames, 1000);

    // ".aiff" is AIFF's too and stays; WAV named ".aif" becomes ".wav".
    item(w, "exportAiff16")->trigger();
    d = dialogOf(w, "exportDialog");
    ASSERT_NE(d, nullptr);
    typeName(d, out + "/long.aiff");
    EXPECT_EQ(save(d), "");
    EXPECT_EQ(exported(doc.get(), out + "/long.aiff").format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    item(w, "exportWave16")->trigger();
    d = dialogOf(w, "exportDialog");
    ASSERT_NE(d, nullptr);
    typeName(d, out + "/w.aif");
    // Return in the name field, as a user ends typing.
    QTest::keyClick(d->findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Return);
    EXPECT_EQ(exported(doc.get(), out + "/w.wav").format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_FALSE(QFileInfo::exists(q(out + "/w.aif")));
    // A dot in a name is no extension: the format's is added.
    EXPECT_EQ(ZQQtWindowSide::withFormatExtension("/m/take.1", "aif"), "/m/take.1.aif");
}

TEST_F(DialogsNamesTest, TheColoursPanelOpensBesideTheWindowOnItsScreen) {
    Ref<ZQAudioFileDocument> doc = open(fileIn("c", "colours.wav"));
    ZQDocumentWindow* w = windowOf(doc.get());
    const QRect screen = w->screen()->availableGeometry();
    w->move(screen.left(), screen.top() + 90);
    ASSERT_TRUE(activate(w));
    item(w, "waveformColours")->trigger();
    ZQAudioWaveformColorSelectionPanel* panel =
        ZQAudioWaveformColorSelectionPanelController::sharedAudioWaveformColorSelectionPanelController()
            .colorSelectionPanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }));
    QRect window = w->frameGeometry(), placed = panel->frameGeometry();
    ASSERT_GE(screen.width(), window.width() + placed.width() + 16) << "a screen too small for the case";
    // To the right, top edges level, a small gap between.
    EXPECT_GT(placed.left(), window.right());
    EXPECT_LE(placed.left() - window.right(), 16);
    EXPECT_EQ(placed.top(), window.top());
    EXPECT_TRUE(screen.contains(placed)) << placed.x() << "," << placed.y();

    // Against the screen's right edge there is no room: to the left.
    panel->hide();
    w->move(screen.right() + 1 - w->frameGeometry().width(), screen.top() + 40);
    ASSERT_TRUE(activate(w));
    item(w, "waveformColours")->trigger();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }));
    window = w->frameGeometry();
    placed = panel->frameGeometry();
    EXPECT_LT(placed.right(), window.left());
    EXPECT_LE(window.left() - placed.right(), 16);
    EXPECT_EQ(placed.top(), window.top());
    EXPECT_TRUE(screen.contains(placed));

    // Once shown it stays where the user put it.
    panel->move(screen.left() + 5, screen.top() + 5);
    const QPoint kept = panel->pos();
    item(w, "waveformColours")->trigger();
    EXPECT_EQ(panel->pos(), kept);

    // No room on either side: kept on the screen all the same.
    const QPoint p = ZQAudioWaveformColorSelectionPanelController::placeBeside(QRect(0, 500, 800, 300), QSize(200, 150),
                                                                               QRect(0, 0, 800, 600));
    EXPECT_TRUE(QRect(0, 0, 800, 600).contains(QRect(p, QSize(200, 150)))) << p.x() << "," << p.y();
}

TEST_F(DialogsNamesTest, TwoFilesOfOneNameAreToldApartByTheirFolders) {
    const std::string pathA = fileIn("a", "take.wav");
    const std::string pathB = fileIn("b", "take.wav");
    Ref<ZQAudioFileDocument> a = open(pathA);
    ZQDocumentWindow* wa = windowOf(a.get());
    EXPECT_EQ(wa->windowTitle(), "take.wav"); // alone, its plain name

    // A change marks the title; the mark outlives the renaming below.
    ZQWaveformDisplayController* c = display(a.get());
    c->waveform(0)->setSelection(ZQ::SampleSelection(ZQ::Num::Count(10ull), ZQ::Num::Count(19ull)));
    a->delete_(nullptr);
    ASSERT_TRUE(a->isDocumentEdited());
    EXPECT_EQ(wa->windowTitle(), "*take.wav");

    Ref<ZQAudioFileDocument> b = open(pathB);
    ZQDocumentWindow* wb = windowOf(b.get());
    const QString titleA = wa->windowTitle(), titleB = wb->windowTitle();
    EXPECT_TRUE(titleA.startsWith("*take.wav \u2014 ")) << titleA.toStdString();
    EXPECT_TRUE(titleA.endsWith("/a")) << titleA.toStdString();
    EXPECT_TRUE(titleB.startsWith("take.wav \u2014 ")) << titleB.toStdString();
    EXPECT_TRUE(titleB.endsWith("/b")) << titleB.toStdString();
    EXPECT_EQ(titleA.mid(1, titleA.size() - 2), titleB.left(titleB.size() - 1)); // the same folder but its last step

    // The Window menu lists them by those titles.
    const QStringList windows = menuTexts(wb, "windowMenu");
    EXPECT_TRUE(windows.contains(titleA)) << windows.join(" | ").toStdString();
    EXPECT_TRUE(windows.contains(titleB)) << windows.join(" | ").toStdString();
    // Open Recent tells them apart too (without the changes mark).
    const QStringList recent = menuTexts(wb, "openRecent");
    EXPECT_TRUE(recent.contains(titleA.mid(1))) << recent.join(" | ").toStdString();
    EXPECT_TRUE(recent.contains(titleB)) << recent.join(" | ").toStdString();

    // Undoing the change takes the mark away from the longer name.
    a->undo(nullptr);
    ASSERT_FALSE(a->isDocumentEdited());
    EXPECT_EQ(wa->windowTitle(), titleA.mid(1));
    a->delete_(nullptr); // and an edit puts it back
    EXPECT_EQ(wa->windowTitle(), titleA);
    a->undo(nullptr);

    // With the other one closed, the name is its own again.
    b->close();
    ASSERT_TRUE(waitUntil([&] { return wa->windowTitle() == "take.wav"; }, 3000)) << wa->windowTitle().toStdString();
    EXPECT_EQ(menuTexts(wa, "windowMenu"), (QStringList{"&Markers", "take.wav"})); // the panel, then the windows
}

TEST_F(DialogsNamesTest, OpeningAnOpenFileAgainBringsItsWindowForward) {
    const std::string pathA = fileIn("r", "again.wav");
    Ref<ZQAudioFileDocument> a = open(pathA);
    Ref<ZQAudioFileDocument> b = open(fileIn("r", "other.wav"));
    ZQDocumentWindow* wa = windowOf(a.get());
    ZQDocumentWindow* wb = windowOf(b.get());
    auto& documents = ZQDocumentController::sharedDocumentController();
    auto cameForward = [&] {
        return waitUntil([&] { return QApplication::activeWindow() == wa; }, 3000) &&
               documents.currentDocument().get() == a.get();
    };

    // From Open Recent.
    ASSERT_TRUE(activate(wb));
    QAction* again = recentItem(wb, pathA);
    ASSERT_NE(again, nullptr);
    again->trigger();
    EXPECT_TRUE(cameForward());
    spinFor(300);
    EXPECT_EQ(documentCount(), 2u);

    // From the Open dialog.
    ASSERT_TRUE(activate(wb));
    item(wb, "open")->trigger();
    QFileDialog* d = dialogOf(wb, "openDialog");
    ASSERT_NE(d, nullptr);
    typeName(d, pathA);
    QMetaObject::invokeMethod(d, "accept", Qt::DirectConnection);
    EXPECT_TRUE(cameForward());
    spinFor(300);
    EXPECT_EQ(documentCount(), 2u);

    // By another name of the same file (as from the command line).
    const std::string link = dir.file("link.wav");
    std::filesystem::create_symlink(pathA, link);
    ASSERT_TRUE(activate(wb));
    EXPECT_TRUE(ZQ::FileOpening::openFile(q(link), nullptr));
    EXPECT_TRUE(cameForward());
    spinFor(300);
    EXPECT_EQ(documentCount(), 2u);
    EXPECT_FALSE(documentFor(link));

    // Named twice at once, while the first is still being read: one window.
    const std::string twice = fileIn("r", "twice.wav");
    EXPECT_TRUE(ZQ::FileOpening::openFile(q(twice), nullptr));
    EXPECT_TRUE(ZQ::FileOpening::openFile(q(twice), nullptr));
    Ref<ZQAudioFileDocument> t;
    ASSERT_TRUE(waitUntil([&] { return (t = documentFor(twice)) && windowOf(t.get()); }, 10000));
    spinFor(300);
    int windows = 0;
    for (auto& doc : documents.documents())
        if (auto* audio = dynamic_cast<ZQAudioFileDocument*>(doc.get())) windows += audio->fileName() == twice;
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(documentCount(), 3u);
}

TEST_F(DialogsNamesTest, TheWebPageIsOfferedOnlyWithAnAddressAndAFailureToOpenItIsTold) {
    for (const char* none : {"", "https://zqaudio.example.org/", "http://www.example.com/zq", "not an address"}) {
        ZQ::Application::setWebsiteAddressForTesting(none);
        ZQStartWindow* start = startWindow();
        EXPECT_FALSE(item(start, "visitOnline")->isVisible()) << none;
        EXPECT_TRUE(item(start, "about")->isVisible());
        start->close();
    }

    const char* address = "https://zq-audio.net/help";
    ZQ::Application::setWebsiteAddressForTesting(address);
    QList<QUrl> asked;
    bool browserOpens = false;
    ZQApplicationDispatchCenter::shared().setUrlOpener([&](const QUrl& url) {
        asked << url;
        return browserOpens;
    });
    ZQStartWindow* start = startWindow();
    ASSERT_TRUE(activate(start));
    QAction* visit = item(start, "visitOnline");
    ASSERT_TRUE(visit->isVisible());

    // Without a browser: the user is told, with the address.
    visit->trigger();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], QUrl(address));
    QMessageBox* told = nullptr;
    ASSERT_TRUE(
        waitUntil([&] { return (told = start->findChild<QMessageBox*>("webPageAlert")) && told->isVisible(); }));
    EXPECT_TRUE(told->informativeText().contains(address)) << told->informativeText().toStdString();
    EXPECT_EQ(told->windowModality(), Qt::WindowModal);
    told->accept();
    ASSERT_TRUE(waitUntil([&] { return !start->findChild<QMessageBox*>("webPageAlert"); }));

    // With one: nothing to tell.
    browserOpens = true;
    visit->trigger();
    EXPECT_EQ(asked.size(), 2);
    spinFor(100);
    EXPECT_EQ(start->findChild<QMessageBox*>("webPageAlert"), nullptr);
}
