// Editing as a user meets it: selections made with the mouse, the Edit
// menu's keys and enabling, the clipboard's format check with its log lines,
// the changes mark in the title, what the waveform then shows, and closing
// or quitting with changes (Export..., Discard, Cancel).
#include "app/AppFixture.h"
#include "document/AudioFileDocumentClipboard.h"
#include "document/DocumentPreferences.h"
#include "platform/soundfile/AudioFileWriter.h"
#include "support/Samples.h"

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

using namespace testsupport;
using platform::Ref;

namespace {

// Frame k of channel c, exact in floats and distinct per frame.
double frameValue(int c, long k) {
    return (c ? -1.0 : 1.0) * double(k + 1) / 4096.0;
}

std::vector<double> channel(ZQAudioFileDocument* doc, int c) {
    return testsupport::channelOf(*doc->sampleData(), c);
}

std::vector<double> frames(int c, long from, long to) { // [from, to)
    std::vector<double> v;
    for (long k = from; k < to; ++k)
        v.push_back(frameValue(c, k));
    return v;
}

template <class... Parts> std::vector<double> joined(const Parts&... parts) {
    std::vector<double> v;
    (v.insert(v.end(), parts.begin(), parts.end()), ...);
    return v;
}

class EditingAppTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ZQ::AudioFileDocumentClipboard::sharedClipboard().clearData();
    }
    void TearDown() override {
        // Changed documents would ask before closing.
        for (auto& d : ZQDocumentController::sharedDocumentController().documents())
            if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) doc->close();
        AppTest::TearDown();
        ZQ::AudioFileDocumentClipboard::sharedClipboard().clearData();
    }
    // A key typed in the window; the menus catch up before the next one, as
    // they do between a user's key presses.
    static void type(QWidget* w, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(w, key, modifiers);
        QCoreApplication::processEvents();
    }
    static QMessageBox* changesPrompt(ZQDocumentWindow* w) {
        QMessageBox* box = nullptr;
        EXPECT_TRUE(waitUntil([&] { return (box = w->changesPrompt()) && box->isVisible(); }, 3000));
        return box;
    }
    static void answer(QMessageBox* box, const char* text) {
        for (QAbstractButton* b : box->buttons())
            if (QString(b->text()).remove(u'&') == QString::fromUtf8(text)) {
                QTest::mouseClick(b, Qt::LeftButton);
                return;
            }
        ADD_FAILURE() << "no button " << text;
    }
    // A document with one deletion (frames 0 ... 99 gone).
    Ref<ZQAudioFileDocument> openChanged(const char* name) {
        Ref<ZQAudioFileDocument> doc = open(floatFile(name, 2, 1000, frameValue));
        EXPECT_TRUE(doc->deleteRange({ZQ::Num::Count(0ull), ZQ::Num::Count(99ull)}));
        EXPECT_TRUE(doc->isDocumentEdited());
        return doc;
    }
};

} // namespace

TEST_F(EditingAppTest, TheEditKeysCutCopyPasteDeleteDuplicateUndoAndRedoTheMouseSelection) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("keys.wav", 2, 1000, frameValue));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    ZQWaveform* top = c->waveform(0);

    // Nothing copied yet: Paste is refused, and the check says so in the log.
    Captured checked = capture([&] { refreshMenus(); });
    EXPECT_FALSE(item(w, "paste")->isEnabled());
    EXPECT_NE(checked.err.find("isFormatMatch: No"), std::string::npos);
    for (const char* name : {"cut", "copy", "delete", "duplicate", "undo", "redo"})
        EXPECT_FALSE(item(w, name)->isEnabled()) << name;
    EXPECT_EQ(item(w, "undo")->text(), "Undo");

    dragAcross(top, top->width() / 4, top->width() / 2);
    const ZQ::SampleSelection s = top->selection();
    const long a = long(s.min_.v_), b = long(s.max_.v_);
    ASSERT_GT(b, a);
    EXPECT_EQ(c->waveform(1)->selection(), s); // every channel shares it
    refreshMenus();
    for (const char* name : {"cut", "copy", "delete", "duplicate"})
        EXPECT_TRUE(item(w, name)->isEnabled()) << name;

    // Copy, then Delete: samples a ... b go, both ends included.
    type(w, Qt::Key_C, Qt::ControlModifier);
    type(w, Qt::Key_Delete);
    const std::vector<double> afterDelete = joined(frames(0, 0, a), frames(0, b + 1, 1000));
    ASSERT_EQ(channel(doc.get(), 0), afterDelete);
    EXPECT_EQ(channel(doc.get(), 1), joined(frames(1, 0, a), frames(1, b + 1, 1000)));
    EXPECT_EQ(top->selection(), ZQ::SampleSelection(ZQ::Num::Count(a), ZQ::Num::Count(a)));
    EXPECT_EQ(w->windowTitle(), "*keys.wav");
    const long left = 1000 - (b - a + 1);
    EXPECT_EQ(c->sampleCountDisplay()->text().toStdString(), "0/" + std::to_string(left));
    refreshMenus();
    EXPECT_EQ(item(w, "undo")->text(), "Undo Delete");
    checked = capture([&] { refreshMenus(); });
    EXPECT_TRUE(item(w, "paste")->isEnabled());
    EXPECT_NE(checked.err.find("isFormatMatch: Yes"), std::string::npos);

    // Paste at the empty selection puts them back where they were.
    type(w, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(channel(doc.get(), 0), frames(0, 0, 1000));
    EXPECT_EQ(top->selection(), ZQ::SampleSelection(ZQ::Num::Count(a), ZQ::Num::Count(b)));

    // Duplicate the pasted range: the copy follows it and is selected.
    type(w, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(channel(doc.get(), 1), joined(frames(1, 0, b + 1), frames(1, a, 1000)));
    EXPECT_EQ(top->selection(), ZQ::SampleSelection(ZQ::Num::Count(b + 1), ZQ::Num::Count(2 * b - a + 1)));

    // Cut keeps what it cuts: Select All then Paste gives just those samples.
    type(w, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(channel(doc.get(), 1), frames(1, 0, 1000));
    type(w, Qt::Key_A, Qt::ControlModifier);
    type(w, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(channel(doc.get(), 0), frames(0, a, b + 1));
    EXPECT_EQ(top->selection(), ZQ::SampleSelection(ZQ::Num::Count(0ull), ZQ::Num::Count(b - a)));

    // Undo runs back through all of it, naming each step; Redo forwards.
    const char* steps[] = {"Paste", "Cut", "Duplicate", "Paste", "Delete"};
    for (const char* step : steps) {
        refreshMenus();
        EXPECT_EQ(item(w, "undo")->text().toStdString(), std::string("Undo ") + step);
        type(w, Qt::Key_Z, Qt::ControlModifier);
    }
    EXPECT_EQ(channel(doc.get(), 0), frames(0, 0, 1000));
    EXPECT_EQ(top->selection(), s); // the selection before the first edit
    EXPECT_EQ(w->windowTitle(), "keys.wav");
    refreshMenus();
    EXPECT_FALSE(item(w, "undo")->isEnabled());
    EXPECT_EQ(item(w, "redo")->text(), "Redo Delete");
    type(w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(channel(doc.get(), 0), afterDelete);
    EXPECT_EQ(w->windowTitle(), "*keys.wav");
}

TEST_F(EditingAppTest, PasteIsRefusedForAnotherRateOrChannelCount) {
    Ref<ZQAudioFileDocument> source = open(floatFile("source.wav", 2, 1000, frameValue));
    Ref<ZQAudioFileDocument> mono = open(floatFile("mono.wav", 1, 1000, frameValue));
    Ref<ZQAudioFileDocument> other = open(floatFile("48k.wav", 2, 1000, frameValue, 48000));
    ZQDocumentWindow* w = windowOf(source.get());
    ASSERT_TRUE(activate(w));
    type(w, Qt::Key_A, Qt::ControlModifier);
    type(w, Qt::Key_C, Qt::ControlModifier);
    for (ZQAudioFileDocument* doc : {mono.get(), other.get()}) {
        ZQDocumentWindow* target = windowOf(doc);
        ASSERT_TRUE(activate(target));
        Captured checked = capture([&] { refreshMenus(); });
        EXPECT_FALSE(item(target, "paste")->isEnabled());
        EXPECT_NE(checked.err.find("isFormatMatch: No"), std::string::npos);
        type(target, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(doc->sampleCount(0).v_, 1000u);
        EXPECT_FALSE(doc->isDocumentEdited());
    }
    ASSERT_TRUE(activate(w));
    EXPECT_TRUE(item(w, "paste")->isEnabled());
}

TEST_F(EditingAppTest, TheViewsFollowTheEditedSamplesDownToAnEmptyDocument) {
    // Loud in the first half, silent in the second.
    Ref<ZQAudioFileDocument> doc =
        open(floatFile("loud.wav", 1, 88200, [](int, long k) { return k < 44100 ? (k % 2 ? 0.9 : -0.9) : 0.0; }));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    ZQWaveform* view = c->waveform(0);
    // A row far from the centre line that only the loud half reaches; its
    // colour where the samples are silent is the background's.
    const int row = view->height() / 4;
    const QRgb silent = view->grab().toImage().pixel(view->width() * 3 / 4, row);
    auto loudColumns = [&](QRgb background) {
        const QImage image = view->grab().toImage();
        int columns = 0;
        // The play position's line is at the left edge, the amplitude scale's
        // marks at the right one.
        for (int x = 2; x < image.width() - 48; ++x)
            columns += image.pixel(x, row) != background;
        return columns;
    };
    const int before = loudColumns(silent);
    EXPECT_LT(before, view->width() * 2 / 3);
    EXPECT_GT(before, view->width() / 3);
    EXPECT_EQ(c->hmsDuration()->text(), "00:00:02.000");
    // Delete the loud half: what is left is silence, and the whole width shows it.
    ASSERT_TRUE(doc->deleteRange({ZQ::Num::Count(0ull), ZQ::Num::Count(44099ull)}));
    EXPECT_EQ(loudColumns(silent), 0);
    EXPECT_EQ(c->hmsDuration()->text(), "00:00:01.000");
    // Select All and Delete empties the document; Undo brings it all back.
    type(w, Qt::Key_A, Qt::ControlModifier);
    type(w, Qt::Key_Delete);
    EXPECT_EQ(doc->sampleCount(0).v_, 0u);
    EXPECT_EQ(c->hmsDuration()->text(), "00:00:00.000");
    EXPECT_EQ(loudColumns(view->grab().toImage().pixel(view->width() / 2, row)), 0); // no trace anywhere
    type(w, Qt::Key_Z, Qt::ControlModifier);
    type(w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(doc->sampleCount(0).v_, 88200u);
    EXPECT_EQ(loudColumns(silent), before);
}

TEST_F(EditingAppTest, AnEditDuringPlaybackStopsItFirst) {
    setenv("ZQ_AUDIO_OUTPUT", ("capture:" + dir.file("edit-playing.wav")).c_str(), 1);
    Ref<ZQAudioFileDocument> doc = open(floatFile("long.wav", 2, 44100 * 10, frameValue));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    type(w, Qt::Key_Space);
    ASSERT_TRUE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    ASSERT_TRUE(waitUntil([&] { return doc->presentPlaybackPosition() > 4410; }, 5000));
    type(w, Qt::Key_A, Qt::ControlModifier);
    type(w, Qt::Key_Delete);
    EXPECT_FALSE(doc->audioFileDocumentTransportCommandReceiver()->isPlaying());
    EXPECT_EQ(doc->sampleCount(0).v_, 0u);
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
    type(w, Qt::Key_Space); // nothing to play
    spinFor(100);
    EXPECT_EQ(doc->presentPlaybackPosition(), 0u);
}

TEST_F(EditingAppTest, ClosingAChangedDocumentAsksAndEachAnswerDoesWhatItSays) {
    // Cancel keeps everything.
    Ref<ZQAudioFileDocument> doc = openChanged("cancel.wav");
    QPointer<ZQDocumentWindow> w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    item(w, "close")->trigger();
    QMessageBox* box = changesPrompt(w);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(box->text().contains("cancel.wav")) << box->text().toStdString();
    QStringList texts;
    for (QAbstractButton* b : box->buttons())
        texts << b->text();
    texts.sort();
    // Each with an access key.
    EXPECT_EQ(texts, (QStringList{"&Cancel", "&Discard", "&Save"}));
    answer(box, "Cancel");
    spinFor(100);
    ASSERT_FALSE(w.isNull());
    EXPECT_TRUE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));
    EXPECT_EQ(doc->sampleCount(0).v_, 900u);

    // Discard closes without a file.
    w->close();
    answer(changesPrompt(w), "Discard");
    EXPECT_TRUE(waitUntil([&] { return w.isNull(); }, 3000));
    EXPECT_FALSE(ZQDocumentController::sharedDocumentController().containsDocument(doc.get()));

    // Save writes the changes into the document's own file, then closes.
    Ref<ZQAudioFileDocument> kept = openChanged("saved.wav");
    QPointer<ZQDocumentWindow> k = windowOf(kept.get());
    ASSERT_TRUE(activate(k));
    k->close();
    answer(changesPrompt(k), "Save");
    EXPECT_TRUE(waitUntil([&] { return k.isNull(); }, 3000));
    const std::string out = dir.file("saved.wav");
    SF_INFO info{};
    SNDFILE* f = sf_open(out.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.frames, 900);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT); // its own encoding
    std::vector<float> back(1800);
    EXPECT_EQ(sf_readf_float(f, back.data(), 900), 900);
    sf_close(f);
    EXPECT_EQ(back[0], float(frameValue(0, 100)));
    EXPECT_EQ(back[1799], float(frameValue(1, 999)));

    // A file whose own format is not written again offers Save As; a
    // cancelled dialog keeps the document open with its changes.
    const std::string old = dir.file("old.sd2");
    ASSERT_TRUE(writeFixture(old, SF_FORMAT_SD2 | SF_FORMAT_PCM_16, 1, 8000, 1000));
    Ref<ZQAudioFileDocument> third = open(old);
    ASSERT_TRUE(third->deleteRange({ZQ::Num::Count(0ull), ZQ::Num::Count(9ull)}));
    QPointer<ZQDocumentWindow> t = windowOf(third.get());
    t->close();
    answer(changesPrompt(t), "Save As\u2026");
    QFileDialog* d = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (d = t->findChild<QFileDialog*>("saveAsDialog")) && d->isVisible(); }));
    d->reject();
    spinFor(100);
    EXPECT_FALSE(t.isNull());
    EXPECT_TRUE(third->isDocumentEdited());
}

TEST_F(EditingAppTest, SaveWritesTheOwnFileAndSaveAsMakesTheDocumentTheNewOne) {
    Ref<ZQAudioFileDocument> doc = openChanged("own.wav");
    QPointer<ZQDocumentWindow> w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    EXPECT_TRUE(w->windowTitle().startsWith(u'*')) << w->windowTitle().toStdString();
    // Ctrl+S: the file as the document shows it, in its own encoding, and
    // the changes mark goes.
    ASSERT_TRUE(waitUntil([&] { return item(w, "save")->isEnabled(); }, 5000));
    item(w, "save")->trigger();
    EXPECT_TRUE(waitUntil([&] { return !doc->isDocumentEdited() && !doc->isExporting(); }, 3000));
    EXPECT_EQ(w->windowTitle().toStdString(), "own.wav");
    int channels = 0, rate = 0;
    const std::vector<float> own = readFloatFile(dir.file("own.wav"), channels, rate);
    ASSERT_EQ(own.size(), 1800u);
    EXPECT_EQ(own[0], float(frameValue(0, 100)));
    // The record describes the file as written: its length is the new one.
    EXPECT_EQ(doc->audioFileInformation()->fileLengthFrames(), 900);

    // Save As FLAC: the document is that file from now on.
    ASSERT_TRUE(doc->deleteRange({ZQ::Num::Count(0ull), ZQ::Num::Count(99ull)}));
    // The menus catch up with the save's end before the next command.
    ASSERT_TRUE(waitUntil([&] { return item(w, "saveAs")->isEnabled(); }, 5000));
    item(w, "saveAs")->trigger();
    QFileDialog* d = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (d = w->findChild<QFileDialog*>("saveAsDialog")) && d->isVisible(); }, 5000));
    // Its own format is offered first.
    EXPECT_EQ(d->selectedNameFilter().toStdString(), "WAV, 32-bit float (*.wav)");
    EXPECT_EQ(d->findChild<QComboBox*>("encoderSetting"), nullptr); // nothing to set for WAV
    const QString flac = QStringLiteral("FLAC, 24-bit (*.flac)");
    d->selectNameFilter(flac);
    emit d->filterSelected(flac);
    // FLAC's compression level under the name, as it was last chosen; the
    // choice is kept when the dialog is accepted.
    auto* level = d->findChild<QComboBox*>("encoderSetting");
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->count(), 9);
    level->setCurrentIndex(8);
    typeName(d, dir.file("renamed"));
    EXPECT_EQ(save(d).toStdString(), "");
    EXPECT_TRUE(waitUntil([&] { return !doc->isDocumentEdited() && !doc->isExporting(); }, 3000));
    EXPECT_EQ(doc->fileName(), dir.file("renamed.flac"));
    EXPECT_EQ(w->windowTitle().toStdString(), "renamed.flac");
    SaveFormat format;
    ASSERT_TRUE(doc->ownSaveFormat(&format));
    EXPECT_EQ(format.title, "FLAC, 24-bit"); // what Ctrl+S writes now
    EXPECT_EQ(ZQ::DocumentPreferences::encoderSettings().flacLevel, 8);
    const std::vector<float> renamed = readFloatFile(dir.file("renamed.flac"), channels, rate);
    ASSERT_EQ(renamed.size(), 1600u);
    // The old file is as the first save left it.
    EXPECT_EQ(readFloatFile(dir.file("own.wav"), channels, rate), own);
}

TEST_F(EditingAppTest, SaveAsOffersTheOwnFormatFirstAndSaysWhatAFormatCannotHold) {
    const std::string path = dir.file("marked.caf");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_CAF | SF_FORMAT_ALAC_16, 2, 44100, 4000));
    ASSERT_TRUE(platform::audio::appendMarkerChunks(path, {{10, 0, "a"}, {200, 300, "b"}}, nullptr));
    Ref<ZQAudioFileDocument> doc = open(path);
    QPointer<ZQDocumentWindow> w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ASSERT_TRUE(waitUntil([&] { return item(w, "saveAs")->isEnabled(); }, 5000));
    item(w, "saveAs")->trigger();
    QFileDialog* d = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (d = w->findChild<QFileDialog*>("saveAsDialog")) && d->isVisible(); }, 5000));
    EXPECT_EQ(d->selectedNameFilter().toStdString(), "CAF, Apple Lossless, 16-bit (*.caf)");
    const QString mp3 = QStringLiteral("MP3 (*.mp3)");
    d->selectNameFilter(mp3);
    emit d->filterSelected(mp3);
    typeName(d, dir.file("plain"));
    EXPECT_EQ(save(d).toStdString(), "");
    QMessageBox* note = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (note = w->findChild<QMessageBox*>("exportNote")) && note->isVisible(); }));
    EXPECT_EQ(note->text().toStdString(), "The audio file was saved.");
    EXPECT_EQ(note->informativeText().toStdString(), "2 markers were left out: the file cannot hold them.");
    EXPECT_EQ(doc->fileName(), dir.file("plain.mp3"));
    EXPECT_EQ(doc->markers().size(), 2u); // the document still has them
    note->accept();
}

TEST_F(EditingAppTest, TheProcessMenuWorksOnTheSelectionOrTheWholeDocument) {
    Ref<ZQAudioFileDocument> doc = open(floatFile("process.wav", 2, 1000, frameValue));
    QPointer<ZQDocumentWindow> w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ASSERT_TRUE(waitUntil([&] { return item(w, "invert")->isEnabled(); }, 5000));
    // A selection: only its frames change.
    w->controller()->selectFrames(100, 199);
    item(w, "invert")->trigger();
    std::vector<double> inverted = frames(0, 100, 200);
    for (double& v : inverted)
        v = -v;
    EXPECT_EQ(channel(doc.get(), 0), joined(frames(0, 0, 100), inverted, frames(0, 200, 1000)));
    EXPECT_EQ(doc->undoActionName(), "Invert");
    // Only a point selected: the whole document, through the Gain dialog.
    doc->undo(nullptr);
    w->controller()->selectFrames(500, 500);
    ASSERT_TRUE(waitUntil([&] { return item(w, "gain")->isEnabled(); }, 5000));
    item(w, "gain")->trigger();
    QDialog* dialog = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (dialog = w->findChild<QDialog*>("gainDialog")) && dialog->isVisible(); }));
    auto* gain = dialog->findChild<QDoubleSpinBox*>("gain");
    ASSERT_NE(gain, nullptr);
    gain->setValue(-6.0);
    dialog->accept();
    ASSERT_TRUE(waitUntil([&] { return doc->undoActionName() == "Gain"; }));
    const std::vector<double> left = channel(doc.get(), 0);
    ASSERT_EQ(left.size(), 1000u);
    for (long k = 0; k < 1000; k += 111)
        EXPECT_EQ(left[std::size_t(k)], float(frameValue(0, k) * std::pow(10.0, -6.0 / 20.0))) << k;
    // The choice is kept for the next time.
    ASSERT_TRUE(waitUntil([&] { return item(w, "gain")->isEnabled(); }, 5000));
    item(w, "gain")->trigger();
    ASSERT_TRUE(waitUntil([&] { return (dialog = w->findChild<QDialog*>("gainDialog")) && dialog->isVisible(); }));
    EXPECT_EQ(dialog->findChild<QDoubleSpinBox*>("gain")->value(), -6.0);
    dialog->reject();
    // Fades through their submenus.
    ASSERT_TRUE(waitUntil([&] { return item(w, "fadeOutLinear")->isEnabled(); }, 5000));
    item(w, "fadeOutLinear")->trigger();
    EXPECT_EQ(doc->undoActionName(), "Fade Out");
    EXPECT_EQ(channel(doc.get(), 1).back(), 0.0);
}

TEST_F(EditingAppTest, QuitAsksForEveryChangedDocumentAndCancelKeepsAllOpen) {
    Ref<ZQAudioFileDocument> a = openChanged("quit-a.wav");
    Ref<ZQAudioFileDocument> unchanged = open(floatFile("quit-b.wav", 1, 100, frameValue));
    Ref<ZQAudioFileDocument> c = openChanged("quit-c.wav");
    ZQDocumentWindow* wa = windowOf(a.get());
    ASSERT_TRUE(activate(wa));
    item(wa, "quit")->trigger();
    answer(changesPrompt(wa), "Discard");
    // The next changed document asks; Cancel ends the Quit with all three open.
    answer(changesPrompt(windowOf(c.get())), "Cancel");
    spinFor(100);
    EXPECT_FALSE(ZQApplicationDelegate::shared().isTerminating());
    EXPECT_EQ(ZQDocumentController::sharedDocumentController().documents().size(), 3u);
    EXPECT_TRUE(a->isDocumentEdited()); // Discard means nothing until the Quit goes ahead

    // Asked again and answered Discard twice, the application ends.
    item(wa, "quit")->trigger();
    answer(changesPrompt(wa), "Discard");
    answer(changesPrompt(windowOf(c.get())), "Discard");
    EXPECT_TRUE(waitUntil([] { return ZQApplicationDelegate::shared().isTerminating(); }, 3000));
    EXPECT_TRUE(ZQDocumentController::sharedDocumentController().documents().empty());
}
