// A file's markers as a user meets them: a line in every channel view at the
// marker's column and its name in the ruler, ] and [ stepping the play
// position from one to the next, a double click selecting up to the next
// marker, a deletion taking the markers inside it and moving those after it,
// Undo bringing them back, and an export that keeps them for the next open.
#include "AppFixture.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/Markers.h"

#include <cmath>

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
