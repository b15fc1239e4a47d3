// A file's markers as a user meets them: a line in every channel view at the
// marker's column and its name in the ruler, ] and [ stepping the play
// position from one to the next, a double click selecting up to the next
// marker, a deletion taking the markers inside it and moving those after it,
// Undo bringing them back, and an export that keeps them for the next open.
#include "AppFixture.h"
#include "app/ZQMarkersPanel.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/Markers.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <cmath>
#include <filesystem>
#include <fstream>

using namespace testsupport;
using platform::Ref;

namespace {

class MarkersTest : public AppTest {
protected:
    // Whether the view shows a marker's line at device column `x` (the
    // orange of markers, unlike the columns three to the sides).
    static bool markerAt(const QImage& image, int x) {
        auto orange = [&](int column) {
            if (column < 0 || column >= image.width()) return false;
            const QRgb p = image.pixel(column, image.height() / 4);
            return qRed(p) > 180 && qRed(p) > qGreen(p) + 40 && qGreen(p) > qBlue(p) + 40;
        };
        return orange(x) && !orange(x - 3) && !orange(x + 3);
    }
    static int columnOf(ZQWaveform* v, std::uint64_t sample) {
        const ZQ::IndexRange r = v->shownRange();
        const double W = std::round(v->width() * v->devicePixelRatioF());
        return int(std::floor((double(sample) - double(r.min_.v_)) / double(r.max_.v_ - r.min_.v_) * W));
    }
    static std::vector<std::uint64_t> frames(ZQAudioFileDocument* doc) {
        std::vector<std::uint64_t> out;
        for (const ZQ::Marker& m : doc->markers().items())
            out.push_back(m.frame);
        return out;
    }
};

} // namespace

TEST_F(MarkersTest, BracketsStepThroughMarkersADoubleClickSelectsToTheNextAndEditsUndoAndExportKeepThem) {
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "marked.wav", 3, 10 * 8000, [](int c, long k) { return 0.05 * (c + 1) * std::sin(k * 0.01); }, 8000));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 1000, 500);
    doc->setMarkers(ZQ::MarkerList({{16000, 0, "Intro"}, {40000, 0, "Verse"}, {56000, 8000, "Solo"}}));

    // Every view draws each marker's line at its column; the ruler names them.
    for (int i = 0; i < 3; ++i) {
        ZQWaveform* v = c->waveform(i);
        const QImage image = v->grab().toImage();
        for (std::uint64_t at : {16000u, 40000u, 56000u})
            EXPECT_TRUE(markerAt(image, columnOf(v, at))) << "view " << i << " marker at " << at;
        // The region tints its columns: its middle differs from just after it.
        const int middle = columnOf(v, 60000), after = columnOf(v, 66000);
        EXPECT_NE(image.pixel(middle, 2), image.pixel(after, 2)) << i;
    }
    ZQTimeRuler* ruler = c->timeRuler();
    EXPECT_EQ(ruler->height(), ZQTimeRuler::kScaleHeight + ZQTimeRuler::kMarkerLaneHeight);
    ruler->grab();
    EXPECT_EQ(ruler->drawnMarkerLabels().size(), 3u);

    // ] and [ go from stop to stop: markers, and the region's start and end.
    doc->locatePlaybackPosition(0);
    refreshMenus();
    EXPECT_FALSE(item(w, "previousMarker")->isEnabled());
    EXPECT_TRUE(item(w, "nextMarker")->isEnabled());
    std::vector<std::uint64_t> visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(w, Qt::Key_BracketRight);
        visited.push_back(doc->presentPlaybackPosition());
    }
    EXPECT_EQ(visited, (std::vector<std::uint64_t>{16000, 40000, 56000, 64000}));
    refreshMenus();
    EXPECT_FALSE(item(w, "nextMarker")->isEnabled());
    QTest::keyClick(w, Qt::Key_BracketLeft);
    EXPECT_EQ(doc->presentPlaybackPosition(), 56000u);
    EXPECT_EQ(c->waveform(0)->playheadView()->column(), columnOf(c->waveform(0), 56000));

    // A double click on a marker's line selects up to the next one.
    ZQWaveform* middle = c->waveform(1);
    const double ratio = middle->devicePixelRatioF();
    QTest::mouseDClick(middle, Qt::LeftButton, {}, QPoint(int(columnOf(middle, 16000) / ratio), middle->height() / 2));
    EXPECT_EQ(middle->selection().min_.v_, 16000u);
    EXPECT_EQ(middle->selection().max_.v_, 39999u);
    EXPECT_EQ(c->waveform(2)->selection().max_.v_, 39999u) << "every view shares the selection";

    // Deleting 10000..20000 takes Intro and moves the rest back by 10001.
    c->selectFrames(10000, 20000);
    refreshMenus();
    QTest::keyClick(w, Qt::Key_Delete);
    EXPECT_EQ(frames(doc.get()), (std::vector<std::uint64_t>{29999, 45999}));
    EXPECT_EQ(doc->markers().items()[0].name, "Verse");
    ZQWaveform* v = c->waveform(0);
    QImage image = v->grab().toImage();
    EXPECT_TRUE(markerAt(image, columnOf(v, 29999)));
    EXPECT_FALSE(markerAt(image, columnOf(v, 16000)));
    // Undo brings them back where they were, drawn; Redo takes them again.
    refreshMenus();
    QTest::keyClick(w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(frames(doc.get()), (std::vector<std::uint64_t>{16000, 40000, 56000}));
    image = v->grab().toImage();
    EXPECT_TRUE(markerAt(image, columnOf(v, 16000)));
    refreshMenus();
    QTest::keyClick(w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(frames(doc.get()), (std::vector<std::uint64_t>{29999, 45999}));

    // Exported and opened again: the same markers, names and region.
    ASSERT_TRUE(doc->exportAudioFileDataTo(dir.path(), "kept.wav", ZQ::AudioFileExport::kInteger16,
                                           platform::audio::kAudioFileWAVEType));
    Ref<ZQAudioFileDocument> again = open(dir.file("kept.wav"));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->markers(), doc->markers());
    ZQWaveformDisplayController* c2 = display(again.get());
    resizeContent(c2, 1000, 500);
    ZQWaveform* v2 = c2->waveform(2);
    EXPECT_TRUE(markerAt(v2->grab().toImage(), columnOf(v2, 29999)));
}

TEST_F(MarkersTest, MarkersAreAddedRenamedDraggedAndDeletedInTheWindowEachOneStep) {
    const long frames = 10 * 8000;
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "edit.wav", 2, frames, [](int c, long k) { return 0.001 * (c + 1) * double(k % 700); }, 8000));
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 1000, 500);
    ZQTimeRuler* ruler = c->timeRuler();
    auto items = [&] { return doc->markers().items(); };

    // M at the play position; Shift+M makes the selection a region.
    doc->locatePlaybackPosition(12345);
    refreshMenus();
    EXPECT_FALSE(item(w, "addRegion")->isEnabled()); // nothing selected
    QTest::keyClick(w, Qt::Key_M);
    ASSERT_EQ(items(), (std::vector<ZQ::Marker>{{12345, 0, ""}}));
    EXPECT_EQ(doc->undoActionName(), "Add Marker");
    EXPECT_TRUE(w->windowTitle().startsWith('*'));
    EXPECT_EQ(ruler->height(), ZQTimeRuler::kScaleHeight + ZQTimeRuler::kMarkerLaneHeight);
    c->selectFrames(40000, 49999);
    refreshMenus();
    QTest::keyClick(w, Qt::Key_M, Qt::ShiftModifier);
    ASSERT_EQ(items(), (std::vector<ZQ::Marker>{{12345, 0, ""}, {40000, 10000, ""}}));
    EXPECT_EQ(c->markerEditing().chosen(), 1);

    // A double click on the region's name edits it in place: Enter keeps.
    int left = 0;
    ruler->grab();
    const auto labelOf = [&](std::size_t marker) {
        for (std::size_t k = 0; k < ruler->labelledMarkers().size(); ++k)
            if (ruler->labelledMarkers()[k] == marker) return ruler->drawnMarkerLabels()[k];
        return QRect();
    };
    left = c->waveform(0)->mapTo(w, QPoint(0, 0)).x() - ruler->mapTo(w, QPoint(0, 0)).x();
    const qreal ratio = ruler->devicePixelRatioF();
    QRect label = labelOf(1);
    ASSERT_FALSE(label.isEmpty());
    const QPoint onName(left + int(label.center().x() / ratio), ZQTimeRuler::kMarkerLaneHeight / 2);
    QTest::mouseDClick(ruler, Qt::LeftButton, {}, onName);
    QLineEdit* editor = ruler->nameEditor();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Refrain "));
    editor->insert(QStringLiteral("\u00e9t\u00e9")); // as an input method gives it
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(items()[1].name, "Refrain \u00e9t\u00e9");
    EXPECT_EQ(doc->undoActionName(), "Rename Marker");
    // Escape leaves the name as it was, and no step is made.
    ruler->grab();
    QTest::mouseDClick(ruler, Qt::LeftButton, {}, onName);
    ASSERT_NE(ruler->nameEditor(), nullptr);
    QTest::keyClicks(ruler->nameEditor(), QStringLiteral("gone"));
    QTest::keyClick(ruler->nameEditor(), Qt::Key_Escape);
    EXPECT_EQ(ruler->nameEditor(), nullptr);
    EXPECT_EQ(items()[1].name, "Refrain \u00e9t\u00e9");
    EXPECT_EQ(doc->editHistory().stepCount(), 3u);

    // The marker dragged along the lane lands on the frame under the pointer,
    // the time shown while it moves.
    const ZQ::ChannelGeometry g = c->waveform(0)->shownGeometry();
    const int from = left + int(std::lround(double(g.column(12345)) / ratio));
    const int to = left + 700;
    const std::uint64_t target = g.frameAt(to - left);
    QTest::mousePress(ruler, Qt::LeftButton, {}, QPoint(from, 3));
    for (int x = from; x <= to; x += 25) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 3), ruler->mapToGlobal(QPointF(x, 3)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(ruler, &move);
    }
    QMouseEvent last(QEvent::MouseMove, QPointF(to, 3), ruler->mapToGlobal(QPointF(to, 3)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ruler, &last);
    EXPECT_TRUE(ruler->dragText().endsWith(QString::number(target))) << ruler->dragText().toStdString();
    EXPECT_EQ(items()[0].frame, 12345u) << "nothing moves before the button is let go";
    QTest::mouseRelease(ruler, Qt::LeftButton, {}, QPoint(to, 3));
    ASSERT_GT(target, 50000u);
    EXPECT_EQ(items().back(), (ZQ::Marker{target, 0, ""}));
    EXPECT_EQ(doc->undoActionName(), "Move Marker");
    EXPECT_TRUE(ruler->dragText().isEmpty());

    // Delete takes the chosen marker, not the samples; a new selection
    // makes Delete act on it again.
    ASSERT_EQ(c->markerEditing().chosen(), 1);
    refreshMenus();
    QTest::keyClick(w, Qt::Key_Delete);
    EXPECT_EQ(items(), (std::vector<ZQ::Marker>{{40000, 10000, "Refrain \u00e9t\u00e9"}}));
    EXPECT_EQ(doc->sampleCount(0).v_, std::uint64_t(frames));
    EXPECT_EQ(doc->undoActionName(), "Delete Marker");
    c->markerEditing().choose(0);
    c->selectFrames(100, 199);
    EXPECT_EQ(c->markerEditing().chosen(), -1);

    // Each was one step: undone one by one, and done again.
    const std::vector<std::string> steps = {"Delete Marker", "Move Marker", "Rename Marker", "Add Region",
                                            "Add Marker"};
    for (const std::string& name : steps) {
        EXPECT_EQ(doc->undoActionName(), name);
        doc->undo(nullptr);
    }
    EXPECT_TRUE(items().empty());
    EXPECT_FALSE(w->windowTitle().startsWith('*'));
    for (std::size_t i = 0; i < steps.size(); ++i)
        doc->redo(nullptr);
    EXPECT_EQ(items(), (std::vector<ZQ::Marker>{{40000, 10000, "Refrain \u00e9t\u00e9"}}));
}

TEST_F(MarkersTest, ThePanelListsEditsAndDeletesAndRegionsAreExportedAsPiecesThatJoinToTheSource) {
    const long frames = 6 * 8000;
    const std::string source = floatFile(
        "song.wav", 2, frames, [](int c, long k) { return 0.0001 * (c + 1) * double(k % 5000); }, 8000);
    Ref<ZQAudioFileDocument> doc = open(source);
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    ZQWaveformDisplayController* c = display(doc.get());
    doc->setMarkers(ZQ::MarkerList({{0, 0, "Intro"}, {8000, 0, "Verse"}, {24001, 0, "Verse"}, {40000, 0, "a:b"}}));

    item(w, "markersPanel")->trigger();
    ZQMarkersPanel* panel = ZQMarkersPanel::existingPanel();
    ASSERT_NE(panel, nullptr);
    QTableWidget* table = panel->table();
    ASSERT_EQ(table->rowCount(), 4);
    EXPECT_EQ(table->item(2, ZQMarkersPanel::Time)->text(), "00:00:03.000");
    EXPECT_EQ(table->item(2, ZQMarkersPanel::Sample)->text(), "24001");
    // A name edited in the table is a rename of the document's marker.
    table->item(3, ZQMarkersPanel::Name)->setText(QStringLiteral("Outro"));
    EXPECT_EQ(doc->markers().items()[3].name, "Outro");
    EXPECT_EQ(doc->undoActionName(), "Rename Marker");
    // A sample typed in moves the marker there (the keyboard's drag); an
    // entry that is not a number changes nothing.
    table->item(3, ZQMarkersPanel::Sample)->setText(QStringLiteral("40010"));
    EXPECT_EQ(doc->markers().items()[3], (ZQ::Marker{40010, 0, "Outro"}));
    EXPECT_EQ(doc->undoActionName(), "Move Marker");
    table->item(3, ZQMarkersPanel::Sample)->setText(QStringLiteral("soon"));
    EXPECT_EQ(doc->markers().items()[3].frame, 40010u);
    EXPECT_EQ(table->item(3, ZQMarkersPanel::Sample)->text(), "40010");
    // A double click on the time goes there; choosing a row chooses the marker.
    emit table->cellDoubleClicked(1, ZQMarkersPanel::Time);
    EXPECT_EQ(doc->presentPlaybackPosition(), 8000u);
    EXPECT_EQ(c->markerEditing().chosen(), 1);
    // It follows the document: a marker added in the window appears.
    c->markerEditing().choose(-1);
    doc->locatePlaybackPosition(47999);
    c->markerEditing().addMarker();
    panel->refresh();
    ASSERT_EQ(table->rowCount(), 5);
    EXPECT_EQ(table->currentRow(), 4);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Delete);
    EXPECT_EQ(doc->markers().size(), 4u);
    panel->refresh();
    EXPECT_EQ(table->rowCount(), 4);

    // Export Regions: a piece for each span, named from its label.
    const std::string out = dir.file("pieces");
    std::filesystem::create_directory(out);
    std::ofstream(out + "/Verse.wav") << "an older file";
    refreshMenus();
    ASSERT_TRUE(item(w, "exportRegions")->isEnabled());
    item(w, "exportRegions")->trigger();
    auto* dialog = w->findChild<QDialog*>(QStringLiteral("exportRegionsDialog"));
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QLineEdit*>(QStringLiteral("exportRegionsFolder"))->setText(QString::fromStdString(out));
    dialog->findChild<QComboBox*>(QStringLiteral("exportRegionsFormat"))->setCurrentIndex(2); // 32-bit float
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("exportRegionsSummary"))
                    ->text()
                    .contains(QStringLiteral("Intro.wav, Verse.wav, Verse (2).wav, Outro.wav")));
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    // The older file is replaced only once the user says so.
    auto* ask = w->findChild<QMessageBox*>(QStringLiteral("exportRegionsReplace"));
    ASSERT_NE(ask, nullptr);
    EXPECT_TRUE(ask->text().contains(QStringLiteral("Verse.wav")));
    for (QAbstractButton* b : ask->buttons())
        if (b->text() == QStringLiteral("&Replace")) b->click();
    ASSERT_TRUE(waitUntil(
        [&] { return w->findChild<QProgressDialog*>(QStringLiteral("exportRegionsProgress")) == nullptr; }, 10000));
    int channels = 0, rate = 0;
    const std::vector<float> whole = readFloatFile(source, channels, rate);
    std::vector<float> joined;
    for (const char* name : {"Intro.wav", "Verse.wav", "Verse (2).wav", "Outro.wav"}) {
        const std::vector<float> part = readFloatFile(out + "/" + name, channels, rate);
        EXPECT_FALSE(part.empty()) << name;
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(joined == whole);
    panel->hide();
}
