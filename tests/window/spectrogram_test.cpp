// The spectrogram in the real window: tones at the heights their
// frequencies give on both scales and at several frame sizes, a chirp that
// rises, a click in an hour that shows zoomed out, silence at the floor
// colour, recolouring without a single new transform, the pointer's
// readout, and an edit that makes only the columns after it again.
#include "waveform/SpectralAnalysis.h"
#include "waveform/SpectrogramImage.h"
#include "window/ViewPreferences.h"
#include "window/WindowFixture.h"

#include <QLabel>
#include <cmath>
#include <numbers>

using namespace testsupport;
using platform::Ref;
namespace VP = ZQ::ViewPreferences;
namespace SI = ZQ::SpectrogramImage;

namespace {

class SpectrogramTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        VP::setDisplay(VP::Display::Spectrogram);
    }
    void TearDown() override {
        VP::setDisplay(VP::Display::Waveform);
        VP::setSpectrogramSize(1024);
        VP::setSpectrogramLogFrequency(false);
        VP::setSpectrogramColours(0);
        VP::setSpectrogramGainDb(0);
        VP::setSpectrogramRangeDb(90);
        WindowTest::TearDown();
    }
    // The view's pixels once every column has its levels.
    static QImage complete(ZQWaveform* v) {
        QImage image;
        waitUntil(
            [&] {
                image = v->grab().toImage();
                return v->pendingColumns() == 0;
            },
            20000);
        EXPECT_EQ(v->pendingColumns(), 0);
        return image;
    }
    static double lightness(QRgb c) { return 0.2126 * qRed(c) + 0.7152 * qGreen(c) + 0.0722 * qBlue(c); }
    // The brightest row of column `x` within the spectrogram's rows, as the
    // middle of the run of equally bright rows.
    static double brightestRow(const QImage& image, int x, int top) {
        double best = -1;
        int from = top, to = top;
        for (int y = top; y < image.height(); ++y) {
            const double l = lightness(image.pixel(x, y));
            if (l > best + 0.01) {
                best = l;
                from = to = y;
            } else if (std::fabs(l - best) <= 0.01 && to == y - 1) {
                to = y;
            }
        }
        return (from + to) / 2.0;
    }
};

double tone(double hz, double rate, long k) {
    return 0.5 * std::sin(2 * std::numbers::pi * hz * double(k) / rate);
}

} // namespace

TEST_F(SpectrogramTest, TonesSitAtTheirFrequenciesHeightsOnBothScalesAtSeveralSizes) {
    Ref<ZQAudioFileDocument> doc =
        open(floatFile("tones.wav", 2, 2 * 44100, [](int c, long k) { return tone(c == 0 ? 1000 : 5000, 44100, k); }));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 900, 700);
    for (unsigned size : {512u, 4096u}) {
        for (bool logarithmic : {false, true}) {
            VP::setSpectrogramSize(size);
            VP::setSpectrogramLogFrequency(logarithmic);
            for (int channel : {0, 1}) {
                ZQWaveform* v = c->waveform(channel);
                EXPECT_EQ(v->traceRows(), 0);
                const QImage image = complete(v);
                const int S = image.height();
                SI::Scale scale = c->spectrogramScale();
                ASSERT_EQ(scale.logarithmic, logarithmic);
                const double hz = channel == 0 ? 1000 : 5000;
                const double expected = SI::rowOf(hz, S, scale);
                // A row or two either way; a wrong frequency is many rows off.
                const double rowHz =
                    std::fabs(SI::frequencyAt(int(expected), S, scale) - SI::frequencyAt(int(expected) + 1, S, scale));
                const double tolerance = std::max(2.0, 44100.0 / size / rowHz + 1);
                for (int x : {image.width() / 4, image.width() / 2, 3 * image.width() / 4})
                    EXPECT_NEAR(brightestRow(image, x, 0), expected, tolerance)
                        << "size " << size << (logarithmic ? " log" : " linear") << " channel " << channel;
            }
        }
    }
    // The frequency axis names round frequencies at their rows.
    ZQWaveform* v = c->waveform(0);
    complete(v);
    ASSERT_FALSE(v->drawnFrequencyMarks().empty());
    for (const ZQWaveform::ScaleMark& m : v->drawnFrequencyMarks()) {
        const double hz = m.label.endsWith('k') ? m.label.chopped(1).toDouble() * 1000 : m.label.toDouble();
        EXPECT_NEAR(m.row, SI::rowOf(hz, v->height(), c->spectrogramScale()), 1.0) << m.label.toStdString();
    }
    // A channel may show its waveform while the window shows spectrograms.
    c->waveform(1)->setDisplayOverride(0);
    complete(c->waveform(1));
    EXPECT_EQ(c->waveform(1)->traceRows(), c->waveform(1)->height());
    VP::setDisplay(VP::Display::Both);
    complete(v);
    EXPECT_EQ(v->traceRows(), v->height() / 2);
}

TEST_F(SpectrogramTest, AChirpRisesFromLeftToRight) {
    const double rate = 22050;
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "chirp.wav", 1, long(4 * rate),
        [rate](int, long k) {
            const double t = k / rate; // 200 Hz to 8 kHz over four seconds
            return 0.5 * std::sin(2 * std::numbers::pi * (200 * t + (7800.0 / 8) * t * t));
        },
        int(rate)));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 900, 400);
    const QImage image = complete(c->waveform(0));
    double last = image.height();
    for (int i = 1; i <= 7; ++i) {
        const double row = brightestRow(image, image.width() * i / 8, 0);
        EXPECT_LT(row, last - 2) << "eighth " << i;
        last = row;
    }
}

TEST_F(SpectrogramTest, AClickInAnHourShowsZoomedOutSilenceIsTheFloorAndRecolouringTransformsNothing) {
    const long hour = 3600L * 2000;
    Ref<ZQAudioFileDocument> doc = open(floatFile(
        "click.wav", 1, hour, [](int, long k) { return k == 2'880'000 ? 1.0 : 0.0; }, 2000));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 900, 400);
    ZQWaveform* v = c->waveform(0);
    const QImage image = complete(v);
    const QRgb floor = SI::colours(SI::ColourMap::Magma).front();
    const int x = int(std::floor(2'880'000.0 / double(hour - 1) * image.width()));
    int lit = 0;
    for (int y = 20; y < image.height() - 20; ++y)
        lit += lightness(image.pixel(x, y)) > lightness(floor) + 30 ||
               lightness(image.pixel(std::min(x + 1, image.width() - 1), y)) > lightness(floor) + 30;
    EXPECT_GT(lit, (image.height() - 40) * 9 / 10) << "the click's column is lit top to bottom";
    for (int y = 20; y < image.height() - 20; y += 7)
        EXPECT_EQ(image.pixel(x + 40, y) & 0xffffff, floor & 0xffffff) << y;

    // Grey, another range and a gain: the same levels recoloured, no transform.
    const std::uint64_t transforms = ZQ::Spectral::transformCount();
    VP::setSpectrogramColours(1);
    VP::setSpectrogramRangeDb(60);
    VP::setSpectrogramGainDb(10);
    const QImage grey = complete(v);
    EXPECT_EQ(ZQ::Spectral::transformCount(), transforms);
    const QRgb p = grey.pixel(x, grey.height() / 2);
    EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << std::hex << p;
    EXPECT_GT(lightness(p), 60);
}

TEST_F(SpectrogramTest, ThePointerReadsTimeFrequencyAndLevelAndAnEditRemakesOnlyWhatFollowsIt) {
    Ref<ZQAudioFileDocument> doc =
        open(floatFile("steady.wav", 1, 8 * 44100, [](int, long k) { return tone(1000, 44100, k); }));
    ZQWaveformDisplayController* c = display(doc.get());
    resizeContent(c, 900, 500);
    ZQWaveform* v = c->waveform(0);
    const QImage before = complete(v);
    // At two seconds, at the row of 1 kHz.
    const int x = int(std::lround(2.0 * 44100 / double(8 * 44100 - 1) * v->width()));
    const int y = int(std::lround(SI::rowOf(1000, v->height(), c->spectrogramScale())));
    QTest::mouseMove(v, QPoint(x, y));
    QLabel* readout = v->spectrumReadout();
    ASSERT_NE(readout, nullptr);
    EXPECT_TRUE(readout->isVisible());
    const QStringList parts = readout->text().split(QStringLiteral(" \u00b7 "));
    ASSERT_EQ(parts.size(), 3) << readout->text().toStdString();
    EXPECT_TRUE(parts[0].startsWith(QStringLiteral("00:00:02.0")) || parts[0].startsWith(QStringLiteral("00:00:01.9")))
        << parts[0].toStdString();
    const double hz = QString(parts[1]).remove(',').remove(QStringLiteral(" Hz")).toDouble();
    EXPECT_NEAR(hz, 1000, 44100.0 / v->height());
    const double db = QString(parts[2]).replace(QChar(0x2212), '-').remove(QStringLiteral(" dB")).toDouble();
    EXPECT_NEAR(db, -6.0, 2.0) << parts[2].toStdString();
    // Over the waveform (Both, top half), no readout.
    VP::setDisplay(VP::Display::Both);
    complete(v);
    QTest::mouseMove(v, QPoint(x, 5));
    EXPECT_FALSE(readout->isVisible());
    VP::setDisplay(VP::Display::Spectrogram);
    complete(v);
    // The pointer leaves: so does the readout.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(v, &leave);
    EXPECT_FALSE(readout->isVisible());

    // The first second pasted over the seventh (the length, and so the zoom,
    // stays): the columns before six seconds are the same pixels, and only
    // the tiles from there on are made again.
    auto cache = c->spectrogramCache();
    const std::uint64_t made = cache->tilesMade();
    const std::size_t tiles = cache->tileCount();
    ZQ::SampleDataHolder second(doc->createCopyDataInRange({ZQ::Num::Count(0ull), ZQ::Num::Count(44099ull)}));
    ASSERT_TRUE(doc->pasteClipboardData(second, {ZQ::Num::Count(6ull * 44100), ZQ::Num::Count(7ull * 44100 - 1)}));
    ASSERT_EQ(doc->sampleCount(0).v_, 8ull * 44100);
    const QImage after = complete(v);
    const int edit = int(6.0 * 44100 / double(8 * 44100 - 1) * v->width());
    for (int col = 3; col < edit - 2; col += 3) // the selection point was at column 0
        for (int row = 0; row < after.height(); row += 5)
            ASSERT_EQ(after.pixel(col, row), before.pixel(col, row)) << col << ", " << row;
    const std::uint64_t again = cache->tilesMade() - made;
    const std::uint64_t following = (std::uint64_t(v->width()) - std::uint64_t(edit)) / 64 + 2;
    EXPECT_GT(again, 0u);
    EXPECT_LE(again, following) << "of " << tiles << " tiles";
}
