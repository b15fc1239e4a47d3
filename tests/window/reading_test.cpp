// Reading the waveform: each view names its channel, from the file's
// speaker mask or by number, in the view's label colour, and the name never
// sits over another label; the time ruler's ticks sit at the columns of
// their times and follow the zoom; the dB scale; sixteen channels that keep
// a legible height and scroll.
#include "window/ViewPreferences.h"
#include "window/WindowFixture.h"

#include <QLabel>
#include <QScrollBar>
#include <QWheelEvent>
#include <cmath>

using namespace testsupport;
using platform::Ref;

namespace {

class ReadingTest : public WindowTest {
protected:
    // A WAVE_FORMAT_EXTENSIBLE file whose mask names `map`'s speakers.
    std::string maskedFile(const std::string& name, const std::vector<int>& map) {
        const std::string path = dir.file(name);
        SF_INFO info{};
        info.channels = static_cast<int>(map.size());
        info.samplerate = 48000;
        info.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        std::vector<int> m = map;
        EXPECT_EQ(sf_command(f, SFC_SET_CHANNEL_MAP_INFO, m.data(), static_cast<int>(sizeof(int) * m.size())), SF_TRUE);
        std::vector<short> frames(map.size() * 4800, 1000);
        sf_writef_short(f, frames.data(), 4800);
        sf_close(f);
        return path;
    }
    void TearDown() override {
        ZQ::ViewPreferences::setShowsTimeRuler(true);
        ZQ::ViewPreferences::setAmplitudeInDb(false);
        ZQ::ViewPreferences::setFitsChannels(false);
        WindowTest::TearDown();
    }
    // The column (device pixels, as the play line takes it) of `sample`.
    static int columnOf(ZQWaveform* v, std::uint64_t sample) {
        const ZQ::IndexRange r = v->shownRange();
        const double W = std::round(v->width() * v->devicePixelRatioF());
        return int(std::floor((double(sample) - double(r.min_.v_)) / double(r.max_.v_ - r.min_.v_) * W));
    }
    // The labels and toggles of `v` on screen.
    static std::vector<QRect> shownLabels(ZQWaveform* v) {
        std::vector<QRect> out;
        for (QWidget* l :
             std::initializer_list<QWidget*>{v->vZoomOverlay(), v->firstVisibleOverlay(), v->lastVisibleOverlay(),
                                             v->channelNameOverlay(), v->muteToggle(), v->soloToggle()})
            if (l && l->isVisibleTo(v)) out.push_back(l->geometry());
        return out;
    }
    static QStringList names(ZQWaveformDisplayController* c) {
        QStringList out;
        for (int i = 0; i < c->waveformCount(); ++i) {
            QLabel* l = c->waveform(i)->channelNameOverlay();
            out << (l && l->isVisibleTo(c->waveform(i)) ? l->text() : QStringLiteral("(hidden)"));
        }
        return out;
    }
};

} // namespace

TEST_F(ReadingTest, EachViewNamesItsChannelFromTheSpeakerMaskOrByNumber) {
    Ref<ZQAudioFileDocument> surround =
        open(maskedFile("five-one.wav", {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER,
                                         SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT}));
    ZQWaveformDisplayController* c = display(surround.get());
    resizeContent(c, 900, 700);
    EXPECT_EQ(names(c), (QStringList{"L", "R", "C", "LFE", "Ls", "Rs"}));
    Ref<ZQAudioFileDocument> plain = open(floatFile("three.wav", 3, 4800, [](int, long) { return 0.1; }));
    ZQWaveformDisplayController* p = display(plain.get());
    resizeContent(p, 900, 500);
    EXPECT_EQ(names(p), (QStringList{"1", "2", "3"}));
    // At the top left, in the labels' colour, clear of the amplitude label.
    ZQWaveform* v = p->waveform(0);
    QLabel* name = v->channelNameOverlay();
    EXPECT_EQ(name->geometry().topLeft(), QPoint(1, 1));
    EXPECT_EQ(name->palette().color(QPalette::WindowText), v->vZoomOverlay()->palette().color(QPalette::WindowText));
    EXPECT_FALSE(name->geometry().intersects(v->vZoomOverlay()->geometry()));
    // Sixteen views fitted into a window too short for a top row: each name
    // stays, on the views' one compact line.
    ZQ::ViewPreferences::setFitsChannels(true);
    Ref<ZQAudioFileDocument> many = open(floatFile("sixteen.wav", 16, 4800, [](int, long) { return 0.1; }));
    ZQWaveformDisplayController* m = display(many.get());
    resizeContent(m, 900, 300);
    ASSERT_LT(m->waveform(0)->height(), 30);
    EXPECT_EQ(names(m).join(' '), "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
    EXPECT_LE(m->waveform(0)->channelNameOverlay()->geometry().bottom(), m->waveform(0)->height());
    // Tall enough again: every name is back.
    resizeContent(m, 900, 900);
    ASSERT_GE(m->waveform(0)->height(), 30);
    EXPECT_EQ(names(m).join(' '), "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
}

TEST_F(ReadingTest, TheRulerTicksSitAtTheColumnsOfTheirTimesAtEveryZoomAndTheirLabelsNeverTouch) {
    // A minute at 8 kHz: zoomed out, in, and down to single samples.
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "minute.wav", 2, 60 * 8000, [](int, long) { return 0.0; }, 8000));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 900, 400);
    ZQTimeRuler* ruler = c->timeRuler();
    ASSERT_NE(ruler, nullptr);
    ASSERT_TRUE(ruler->isVisible());
    ZQWaveform* v = c->waveform(0);
    // Right above the views, as wide as they are.
    const QPoint rulerBottom = ruler->mapTo(c->window(), QPoint(0, ruler->height()));
    const QPoint viewTop = v->mapTo(c->window(), QPoint(0, 0));
    EXPECT_EQ(rulerBottom.x(), viewTop.x());
    EXPECT_LE(std::abs(rulerBottom.y() - viewTop.y()), 1);
    EXPECT_EQ(ruler->height(), ZQTimeRuler::kScaleHeight);

    for (double zoom : {1.0, 0.1, 0.004, 0.00005}) {
        c->setHorizontalZoom(zoom, true);
        c->scrollToFirstSample(zoom < 1 ? 20 * 8000 : 0);
        const QImage image = ruler->grab().toImage();
        const std::vector<ZQ::TimeRuler::Tick> ticks = ruler->drawnTicks();
        ASSERT_GE(ticks.size(), 3u) << zoom;
        int majors = 0;
        for (const ZQ::TimeRuler::Tick& t : ticks) {
            // The tick's column is its sample's, the play line's column there.
            EXPECT_EQ(int(t.x), columnOf(v, t.sample)) << zoom << " " << t.sample;
            // Drawn there: dark at the bottom, the column beside it not.
            ASSERT_LT(int(t.x), image.width()) << zoom;
            const QRgb tick = image.pixel(int(t.x), image.height() - 2);
            EXPECT_LT(qGray(tick), 140) << zoom << " " << t.x;
            if (t.x + 1 < image.width()) {
                EXPECT_GT(qGray(image.pixel(int(t.x) + 1, image.height() - 2)), qGray(tick) + 40);
            }
            majors += t.major;
        }
        ASSERT_GE(majors, 2) << zoom;
        const std::vector<QRect> labels = ruler->drawnLabels();
        ASSERT_GE(labels.size(), 2u) << zoom;
        for (std::size_t i = 1; i < labels.size(); ++i)
            EXPECT_GT(labels[i].left(), labels[i - 1].right() + 4) << zoom << " labels touch";
    }
    // At the deepest zoom the ruler counts samples.
    EXPECT_EQ(ruler->drawnTicks().front().label.find(':'), std::string::npos);

    // Zoomed out: a labelled tick at 30 s, exactly where the play line is at 30 s.
    c->zoomOutEntirely();
    ruler->grab();
    const auto& ticks = ruler->drawnTicks();
    auto thirty = std::find_if(ticks.begin(), ticks.end(), [](const auto& t) { return t.major && t.sample == 240000; });
    ASSERT_NE(thirty, ticks.end());
    EXPECT_EQ(thirty->label, "30 s");
    doc->locatePlaybackPosition(240000);
    c->playbackTimerTick();
    v->grab();
    EXPECT_EQ(v->playheadView()->column(), int(thirty->x));

    // A click on the ruler puts the play position there.
    QTest::mouseClick(ruler, Qt::LeftButton, {}, QPoint(v->width() / 4, ruler->height() / 2));
    EXPECT_NEAR(double(doc->presentPlaybackPosition()), 60 * 8000 / 4.0, 60 * 8000 / double(v->width()) * 2);

    // Turned off, the views take its place; on again, it is back.
    const int tall = v->height();
    ZQ::ViewPreferences::setShowsTimeRuler(false);
    EXPECT_FALSE(ruler->isVisible());
    EXPECT_EQ(c->splitView()->height(), c->splitView()->height());
    EXPECT_GE(c->waveform(1)->height() + c->waveform(0)->height(), 2 * tall + ZQTimeRuler::kScaleHeight - 2);
    ZQ::ViewPreferences::setShowsTimeRuler(true);
    EXPECT_TRUE(ruler->isVisible());
    EXPECT_EQ(v->height(), tall);
}

TEST_F(ReadingTest, OnTheDbScaleAMinus20DbSineFillsTwoThirdsOfTheHalfHeight) {
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "quiet.wav", 1, 8000, [](int, long k) { return 0.1 * std::sin(2 * M_PI * 200 * k / 8000.0); }, 8000));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 700, 400);
    ZQWaveform* v = c->waveform(0);
    // The top of the trace in the middle third of the view, in rows.
    // Silence at the top edge before any zoom: the background's colour.
    const QRgb background = v->grab().toImage().pixel(v->width() / 2, 2);
    auto topRow = [&] {
        const QImage image = v->grab().toImage();
        int top = image.height();
        for (int x = image.width() / 3; x < 2 * image.width() / 3; ++x)
            for (int y = 0; y < image.height() / 2; ++y)
                if (qGray(image.pixel(x, y)) > qGray(background) + 60) {
                    top = std::min(top, y);
                    break;
                }
        return top;
    };
    auto expected = [&](double fraction) {
        const double H = v->height(), half = H / 2 * v->verticalZoom();
        return H - std::floor(H / 2 + fraction * half);
    };
    EXPECT_NEAR(topRow(), expected(0.1), 2);
    ASSERT_FALSE(v->drawnScaleMarks().empty());
    EXPECT_EQ(v->drawnScaleMarks().front().label, QStringLiteral("0.5")) << "the linear scale";

    ZQ::ViewPreferences::setAmplitudeInDb(true);
    EXPECT_TRUE(v->amplitudeInDb());
    EXPECT_NEAR(topRow(), expected(2.0 / 3.0), 2);
    // The scale names dB, a mark at each row the traces give its value.
    QStringList labels;
    for (const ZQWaveform::ScaleMark& m : v->drawnScaleMarks())
        labels << m.label;
    EXPECT_TRUE(labels.contains("-12")) << labels.join(' ').toStdString();
    EXPECT_TRUE(labels.contains("-24")) << labels.join(' ').toStdString();
    for (const ZQWaveform::ScaleMark& m : v->drawnScaleMarks())
        if (m.label == "-24" && m.row < v->height() / 2) {
            EXPECT_NEAR(m.row, expected(36.0 / 60.0), 1);
        }
    // The amplitude zoom still works: twice the zoom, twice the height from the centre.
    const int before = v->height() / 2 - topRow();
    c->zoomAmplitudeIn();
    const int after = v->height() / 2 - topRow();
    EXPECT_NEAR(after, std::min(2 * before, v->height() / 2), 3);
}

TEST_F(ReadingTest, SixteenChannelsKeepALegibleHeightScrollWithShiftAndTheWheelAndFitOnRequest) {
    Ref<ZQAudioFileDocument> doc = open(
        floatFile("sixteen.wav", 16, 8000, [](int ch, long k) { return (ch + 1) / 20.0 * ((k / 40) % 2 ? 1 : -1); }));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 900, 500);
    ZQSimpleHorzontalSplitView* split = c->splitView();
    ASSERT_TRUE(split->isScrolling());
    QScrollBar* scroller = split->verticalScroller();
    EXPECT_TRUE(scroller->isVisible());
    for (int i = 0; i < 16; ++i) {
        ZQWaveform* v = c->waveform(i);
        EXPECT_EQ(v->height(), ZQWaveformDisplayController::kMinimumViewHeight) << i;
        // Beside the scroller, not under it; every label clear of the others.
        EXPECT_LE(v->geometry().right(), scroller->geometry().left()) << i;
        const std::vector<QRect> labels = shownLabels(v);
        EXPECT_TRUE(v->channelNameOverlay()->isVisibleTo(v)) << i;
        for (std::size_t a = 0; a < labels.size(); ++a)
            for (std::size_t b = a + 1; b < labels.size(); ++b)
                EXPECT_FALSE(labels[a].intersects(labels[b])) << i << ": labels " << a << " and " << b;
    }
    // The ruler stays as wide as the views.
    EXPECT_EQ(c->timeRuler()->drawnTicks().empty(), c->timeRuler()->drawnTicks().empty());
    // Shift and the wheel scroll the channels down; the scroller follows.
    ZQWaveform* first = c->waveform(0);
    const int top = first->y();
    const QPointF at(100, 20);
    QWheelEvent down(at, first->mapToGlobal(at), {}, {0, -240}, Qt::NoButton, Qt::ShiftModifier, Qt::NoScrollPhase,
                     false);
    QCoreApplication::sendEvent(first, &down);
    EXPECT_EQ(first->y(), top - 80);
    EXPECT_EQ(scroller->value(), 80);
    // Without Shift the wheel still moves along the file, not the channels.
    QWheelEvent along(at, first->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(first, &along);
    EXPECT_EQ(first->y(), top - 80);
    // The scroller reaches the last channel, whole.
    scroller->setValue(scroller->maximum());
    EXPECT_EQ(c->waveform(15)->geometry().bottom(), split->height() - 1);

    // Fit Channels: all at once again, no scroller.
    ZQ::ViewPreferences::setFitsChannels(true);
    EXPECT_FALSE(split->isScrolling());
    EXPECT_FALSE(scroller->isVisible());
    EXPECT_EQ(c->waveform(0)->y(), 0);
    EXPECT_LT(c->waveform(0)->height(), ZQWaveformDisplayController::kMinimumViewHeight);
    EXPECT_EQ(c->waveform(15)->geometry().bottom(), split->height() - 1);
    for (int i = 0; i < 16; ++i) {
        const std::vector<QRect> labels = shownLabels(c->waveform(i));
        for (std::size_t a = 0; a < labels.size(); ++a)
            for (std::size_t b = a + 1; b < labels.size(); ++b)
                EXPECT_FALSE(labels[a].intersects(labels[b])) << i;
    }
    // A window tall enough needs no scrolling either way.
    ZQ::ViewPreferences::setFitsChannels(false);
    resizeContent(c, 900, 1000);
    EXPECT_FALSE(split->isScrolling());
}
