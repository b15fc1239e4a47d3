// The statistics panel on real documents opened from float WAV files: the
// figures it shows for the whole file and for a selection, checked against a
// scan of the written samples here; Copy; progress and Cancel while the
// document is busy; an edit and a close while it measures.
#include "app/AppFixture.h"
#include "app/ZQStatisticsPanel.h"

#include <QClipboard>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <cmath>
#include <limits>
#include <mutex>
#include <numbers>
#include <vector>

using namespace testsupport;
using platform::Ref;

namespace {

constexpr int kRate = 48000;
constexpr long kFrames = 48000;

// Channel 0: a 1 kHz sine at half scale (crests exactly on 12, 36, ...);
// channel 1: a sawtooth around +0.05 with three clipped samples; channel 2:
// silence.
double signal(int c, long k) {
    if (c == 0) return 0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * double(k) / kRate);
    if (c == 1) {
        if (k == 30000) return 1.0;
        if (k == 30001) return -1.25;
        if (k == 40000) return 1.25;
        return 0.3 * (double((k * 7919) % 1000) / 1000.0 - 0.5) + 0.05;
    }
    return 0.0;
}

// The samples as the file holds them.
std::vector<double> channel(int c) {
    std::vector<double> x(kFrames);
    for (long k = 0; k < kFrames; ++k)
        x[std::size_t(k)] = static_cast<float>(signal(c, k));
    return x;
}

struct Expected {
    double peakDb = 0, peakValue = 0, rmsDb = 0, dc = 0;
    std::uint64_t clipped = 0, firstPeak = 0;
};

Expected scan(const std::vector<double>& x, std::uint64_t first, std::uint64_t last) {
    Expected e;
    double peak = 0;
    long double sum = 0, squares = 0;
    for (std::uint64_t i = first; i <= last; ++i) {
        peak = std::max(peak, std::fabs(x[i]));
        e.clipped += std::fabs(x[i]) >= 1.0 ? 1 : 0;
        sum += x[i];
        squares += static_cast<long double>(x[i]) * x[i];
    }
    e.firstPeak = first;
    for (std::uint64_t i = first; i <= last; ++i)
        if (std::fabs(x[i]) == peak) {
            e.firstPeak = i;
            e.peakValue = x[i];
            break;
        }
    const long double n = static_cast<long double>(last - first + 1);
    e.peakDb = peak > 0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
    const long double rms = std::sqrt(squares / n);
    e.rmsDb = rms > 0 ? static_cast<double>(20.0L * std::log10(rms)) : -std::numeric_limits<double>::infinity();
    e.dc = static_cast<double>(sum / n);
    return e;
}

// "-6.02 dBFS" (or "-inf dBFS") as a number.
double levelIn(const QString& cell) {
    QString t = cell;
    t.remove(QStringLiteral(" dBFS"));
    if (t == QStringLiteral("-inf")) return -std::numeric_limits<double>::infinity();
    bool ok = false;
    const double v = t.toDouble(&ok);
    EXPECT_TRUE(ok) << cell.toStdString();
    return v;
}

void expectLevel(const QString& cell, double expected, const char* what) {
    const double shown = levelIn(cell);
    if (std::isinf(expected))
        EXPECT_EQ(shown, expected) << what;
    else
        EXPECT_NEAR(shown, expected, 0.0051) << what << ": " << cell.toStdString(); // two decimals
}

void expectValue(const QString& cell, double expected, const char* what) {
    bool ok = false;
    const double shown = cell.toDouble(&ok);
    EXPECT_TRUE(ok) << what << ": " << cell.toStdString();
    EXPECT_NEAR(shown, expected, std::max(5e-7, 1e-3 * std::fabs(expected))) << what << ": " << cell.toStdString();
}

// "hh:mm:ss.mmm" of a sample index, computed here.
QString timeOf(std::uint64_t index) {
    const unsigned long long ms = index * 1000 / kRate;
    return QString::asprintf("%02llu:%02llu:%02llu.%03llu", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

class StatisticsPanelTest : public AppTest {
protected:
    void TearDown() override {
        ZQStatisticsPanel::shutdown();
        AppTest::TearDown();
    }
    Ref<ZQAudioFileDocument> openTone() { return open(floatFile("tone.wav", 3, kFrames, signal, kRate)); }
    static ZQStatisticsPanel* showPanel() {
        ZQStatisticsPanel::showForCurrentDocument();
        ZQStatisticsPanel* panel = ZQStatisticsPanel::existingPanel();
        EXPECT_NE(panel, nullptr);
        return panel;
    }
    // Waits until the panel shows figures for `range`.
    static bool waitForFigures(ZQStatisticsPanel* panel, const QString& range) {
        return waitUntil(
            [&] { return !panel->isComputing() && panel->rangeText() == range && panel->table()->rowCount() > 0; },
            10000);
    }
    // Every cell of every channel against a scan of `samples` over [first, last].
    static void expectFigures(ZQStatisticsPanel* panel, const std::vector<std::vector<double>>& samples,
                              std::uint64_t first, std::uint64_t last) {
        QTableWidget* t = panel->table();
        ASSERT_EQ(t->rowCount(), int(samples.size()));
        for (int c = 0; c < t->rowCount(); ++c) {
            const Expected e = scan(samples[std::size_t(c)], first, last);
            const std::string ch = "channel " + std::to_string(c + 1);
            EXPECT_EQ(t->verticalHeaderItem(c)->text(), QStringLiteral("Channel %1").arg(c + 1));
            const QRegularExpressionMatch peak = QRegularExpression(QStringLiteral("^(\\S+ dBFS) \\((\\S+)\\)$"))
                                                     .match(t->item(c, ZQStatisticsPanel::Peak)->text());
            ASSERT_TRUE(peak.hasMatch()) << ch << ": " << t->item(c, ZQStatisticsPanel::Peak)->text().toStdString();
            expectLevel(peak.captured(1), e.peakDb, (ch + " peak").c_str());
            expectValue(peak.captured(2), e.peakValue, (ch + " peak value").c_str());
            expectLevel(t->item(c, ZQStatisticsPanel::Rms)->text(), e.rmsDb, (ch + " RMS").c_str());
            expectValue(t->item(c, ZQStatisticsPanel::DcOffset)->text(), e.dc, (ch + " DC").c_str());
            EXPECT_EQ(t->item(c, ZQStatisticsPanel::Clipped)->text(), QString::number(e.clipped)) << ch;
            EXPECT_EQ(t->item(c, ZQStatisticsPanel::FirstPeak)->text(),
                      QStringLiteral("%1 (%2)").arg(e.firstPeak).arg(timeOf(e.firstPeak)))
                << ch;
        }
    }
    static std::vector<std::vector<double>> written() { return {channel(0), channel(1), channel(2)}; }
};

} // namespace

TEST_F(StatisticsPanelTest, MeasuresTheWholeFileOfTheFrontDocumentAndCopiesWhatItShows) {
    EXPECT_FALSE(ZQStatisticsPanel::canShow()); // no document yet
    Ref<ZQAudioFileDocument> doc = openTone();
    ASSERT_TRUE(doc);
    EXPECT_TRUE(ZQStatisticsPanel::canShow());
    // Opened as a user opens it: View > Statistics…, Ctrl+Shift+I.
    ZQDocumentWindow* w = windowOf(doc.get());
    ASSERT_TRUE(activate(w));
    EXPECT_EQ(item(w, "statistics")->text(), "&Statistics\u2026");
    EXPECT_TRUE(item(w, "statistics")->isEnabled());
    QTest::keyClick(w, Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
    ZQStatisticsPanel* panel = ZQStatisticsPanel::existingPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->windowTitle(), "Statistics");
    ASSERT_TRUE(waitForFigures(panel, "Whole file (48000 samples, 00:00:01.000)")) << panel->statusText().toStdString();
    EXPECT_EQ(panel->documentText(), "\u201ctone.wav\u201d");
    EXPECT_EQ(panel->statusText(), "");
    expectFigures(panel, written(), 0, kFrames - 1);
    // The figures named outright, so that a wrong scan here cannot hide one.
    QTableWidget* t = panel->table();
    EXPECT_EQ(t->item(0, ZQStatisticsPanel::Peak)->text(), "-6.02 dBFS (+0.500000)");
    EXPECT_EQ(t->item(0, ZQStatisticsPanel::Rms)->text(), "-9.03 dBFS");
    EXPECT_EQ(t->item(0, ZQStatisticsPanel::FirstPeak)->text(), "12 (00:00:00.000)");
    EXPECT_EQ(t->item(1, ZQStatisticsPanel::Peak)->text(), "1.94 dBFS (-1.250000)");
    EXPECT_EQ(t->item(1, ZQStatisticsPanel::Clipped)->text(), "3");
    EXPECT_EQ(t->item(1, ZQStatisticsPanel::FirstPeak)->text(), "30001 (00:00:00.625)");
    EXPECT_EQ(t->item(2, ZQStatisticsPanel::Peak)->text(), "-inf dBFS (0)");
    EXPECT_EQ(t->item(2, ZQStatisticsPanel::Rms)->text(), "-inf dBFS");
    // The loudness of the whole, its sample peak the loudest channel's.
    const QString loudness = panel->loudnessText();
    EXPECT_TRUE(loudness.startsWith("Integrated loudness: ")) << loudness.toStdString();
    EXPECT_TRUE(loudness.endsWith("Sample peak: 1.9 dBFS")) << loudness.toStdString();
    EXPECT_TRUE(loudness.contains(" LUFS   Loudness range: ")) << loudness.toStdString();

    // Copy: the same content as plain text, every cell under its name.
    QGuiApplication::clipboard()->setText("before");
    ASSERT_TRUE(panel->copyButton()->isEnabled());
    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_EQ(copied, panel->plainText());
    EXPECT_TRUE(copied.startsWith("Statistics of \u201ctone.wav\u201d\nWhole file (48000 samples, 00:00:01.000)\n"))
        << copied.toStdString();
    const char* names[] = {"Peak", "RMS", "DC offset", "Clipped samples", "First peak at"};
    for (int c = 0; c < 3; ++c) {
        QString block = QStringLiteral("\nChannel %1\n").arg(c + 1);
        for (int k = 0; k < ZQStatisticsPanel::kColumns; ++k)
            block += QString::fromUtf8(names[k]) + ": " + t->item(c, k)->text() + "\n";
        EXPECT_TRUE(copied.contains(block)) << block.toStdString() << "\nin\n" << copied.toStdString();
    }
    EXPECT_TRUE(copied.endsWith("\nSample peak: 1.9 dBFS\n")) << copied.toStdString();
}

TEST_F(StatisticsPanelTest, ASelectionOfMoreThanOneSampleIsMeasuredInsteadOfTheWholeFile) {
    Ref<ZQAudioFileDocument> doc = openTone();
    ZQStatisticsPanel* panel = showPanel();
    ASSERT_TRUE(waitForFigures(panel, "Whole file (48000 samples, 00:00:01.000)"));
    ZQWaveformDisplayController* c = display(doc.get());
    ASSERT_NE(c, nullptr);

    // The panel follows the selection by itself.
    c->waveform(0)->setSelection(ZQ::SampleSelection(ZQ::Num::Count(29000ull), ZQ::Num::Count(35000ull)));
    ASSERT_TRUE(waitForFigures(panel, "Selection 29000\u201335000 (6001 samples, 00:00:00.125)"))
        << panel->rangeText().toStdString();
    expectFigures(panel, written(), 29000, 35000);
    QTableWidget* t = panel->table();
    EXPECT_EQ(t->item(1, ZQStatisticsPanel::Clipped)->text(), "2"); // 40000 is outside
    EXPECT_EQ(t->item(0, ZQStatisticsPanel::FirstPeak)->text(), "29004 (00:00:00.604)");
    EXPECT_EQ(t->item(2, ZQStatisticsPanel::FirstPeak)->text(), "29000 (00:00:00.604)"); // silence: its first sample
    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(
        "Statistics of \u201ctone.wav\u201d\nSelection 29000\u201335000 (6001 samples, 00:00:00.125)\n"));

    // One sample selected is a place, not a range: the whole file again.
    c->waveform(0)->setSelection(ZQ::SampleSelection(ZQ::Num::Count(500ull), ZQ::Num::Count(500ull)));
    ASSERT_TRUE(waitForFigures(panel, "Whole file (48000 samples, 00:00:01.000)"));
    expectFigures(panel, written(), 0, kFrames - 1);
    // Two samples are a range.
    c->waveform(0)->setSelection(ZQ::SampleSelection(ZQ::Num::Count(30000ull), ZQ::Num::Count(30001ull)));
    ASSERT_TRUE(waitForFigures(panel, "Selection 30000\u201330001 (2 samples, 00:00:00.000)"));
    expectFigures(panel, written(), 30000, 30001);
}

TEST_F(StatisticsPanelTest, AMeasurementThatTakesLongShowsItsProgressAndCancelStopsIt) {
    Ref<ZQAudioFileDocument> doc = openTone();
    {
        // The document busy (as during a long export that holds it): the
        // measurement cannot read, and the panel must stay responsive.
        std::unique_lock<std::recursive_mutex> busy(doc->monitor());
        ZQStatisticsPanel* panel = showPanel();
        EXPECT_TRUE(panel->isComputing());
        EXPECT_TRUE(panel->statusText().startsWith("Computing\u2026 Whole file")) << panel->statusText().toStdString();
        EXPECT_FALSE(panel->copyButton()->isEnabled());
        ASSERT_TRUE(waitUntil([&] { return panel->progressBox()->isVisible(); }, 3000));
        EXPECT_EQ(panel->percent(), 0);
        EXPECT_TRUE(panel->cancelButton()->isEnabled());
        QTest::mouseClick(panel->cancelButton(), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return !panel->isComputing(); }, 3000)); // without the monitor being let go
        EXPECT_EQ(panel->statusText(), "Cancelled.");
        EXPECT_FALSE(panel->progressBox()->isVisible());
        EXPECT_EQ(panel->table()->rowCount(), 0);
        EXPECT_FALSE(panel->copyButton()->isEnabled());
        EXPECT_TRUE(panel->plainText().isEmpty());
    }
    // Not measured again by itself ...
    ZQStatisticsPanel* panel = ZQStatisticsPanel::existingPanel();
    spinFor(300);
    EXPECT_FALSE(panel->isComputing());
    EXPECT_EQ(panel->statusText(), "Cancelled.");
    // ... but when asked again.
    ZQStatisticsPanel::showForCurrentDocument();
    ASSERT_TRUE(waitForFigures(panel, "Whole file (48000 samples, 00:00:01.000)"));
    expectFigures(panel, written(), 0, kFrames - 1);
}

TEST_F(StatisticsPanelTest, AnEditOrACloseWhileMeasuringIsFollowed) {
    Ref<ZQAudioFileDocument> doc = openTone();
    ZQStatisticsPanel* panel = nullptr;
    {
        std::unique_lock<std::recursive_mutex> busy(doc->monitor());
        panel = showPanel();
        ASSERT_TRUE(panel->isComputing());
        // Frames 29000 ... 40999 go (and the three clipped samples with them)
        // before the measurement reads anything.
        ASSERT_TRUE(doc->deleteRange(ZQ::Num::SampleRange(ZQ::Num::Count(29000ull), ZQ::Num::Count(40999ull))));
    }
    ASSERT_TRUE(waitForFigures(panel, "Whole file (36000 samples, 00:00:00.750)")) << panel->rangeText().toStdString();
    std::vector<std::vector<double>> edited = written();
    for (auto& x : edited)
        x.erase(x.begin() + 29000, x.begin() + 41000);
    expectFigures(panel, edited, 0, 35999);
    EXPECT_EQ(panel->table()->item(1, ZQStatisticsPanel::Clipped)->text(), "0");

    // Closed while a measurement waits: nothing is read, nothing is shown.
    {
        std::unique_lock<std::recursive_mutex> busy(doc->monitor());
        display(doc.get())->waveform(0)->setSelection(
            ZQ::SampleSelection(ZQ::Num::Count(100ull), ZQ::Num::Count(200ull)));
        ASSERT_TRUE(waitUntil([&] { return panel->isComputing(); }, 3000));
        doc->close();
    }
    ASSERT_TRUE(waitUntil([&] { return !panel->isComputing() && panel->statusText() == "No document."; }, 5000))
        << panel->statusText().toStdString();
    EXPECT_EQ(panel->table()->rowCount(), 0);
    EXPECT_TRUE(panel->rangeText().isEmpty());
    EXPECT_FALSE(panel->copyButton()->isEnabled());
    EXPECT_FALSE(ZQStatisticsPanel::canShow());
}
