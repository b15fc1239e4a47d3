// The numeric readouts in a narrow window: the text elided where it has too
// little room (never cut), drawn as a label of the elided text would draw
// it, the whole text in the tooltip, and the width that shows it whole.
#include "controls/NumericDisplays.h"

#include <QCoreApplication>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QToolTip>
#include <gtest/gtest.h>

namespace {

// Readable texts in failure messages.
std::string str(const QString& s) {
    return s.toStdString();
}

// The look the document window gives its readouts: 11-pixel regular text.
template <class Display> void windowLook(Display& d, Qt::Alignment alignment) {
    QFont f = d.font();
    f.setPixelSize(11);
    f.setBold(false);
    d.setFont(f);
    d.setAlignment(alignment | Qt::AlignVCenter);
}

// What a plain label of the same look, size and `text` draws.
QImage labelDrawing(const QLabel& like, const QString& text) {
    QLabel label;
    label.setTextFormat(Qt::PlainText);
    label.setFont(like.font());
    label.setPalette(like.palette());
    label.setAlignment(like.alignment());
    label.setText(text);
    label.resize(like.size());
    return label.grab().toImage();
}

} // namespace

TEST(NumericDisplays, ANarrowSampleCountElidesItsTextAndTheTooltipGivesAllOfIt) {
    ZQSampleCountDisplay count(nullptr);
    windowLook(count, Qt::AlignLeft);
    const ZQ::Num::SampleRange position(ZQ::Num::Count(149557ull), ZQ::Num::Count(4800000ull));
    count.setRange(&position);
    count.setToolTip("Play position / length, in samples");
    ASSERT_EQ(count.text(), "149557/4800000");

    // Just wide enough: the whole text, as a label draws it, and the own tooltip.
    const int whole = count.widthFor(count.text());
    count.resize(whole, 16);
    EXPECT_FALSE(count.isElided()) << str(count.shownText());
    EXPECT_EQ(count.effectiveToolTip(), "Play position / length, in samples");
    EXPECT_EQ(count.grab().toImage(), labelDrawing(count, count.text()));
    count.resize(whole - 1, 16);
    EXPECT_TRUE(count.isElided());

    // Narrow: elided at the end, drawn so, and the text itself stays whole.
    count.resize(64, 16);
    const QString shown = count.shownText();
    EXPECT_TRUE(shown.startsWith("1495") && shown.endsWith(u'\u2026')) << str(shown);
    EXPECT_LE(count.fontMetrics().horizontalAdvance(shown), 64);
    EXPECT_EQ(count.text(), "149557/4800000");
    EXPECT_EQ(count.grab().toImage(), labelDrawing(count, shown));
    // Hovering shows the whole text with what the readout is.
    EXPECT_EQ(count.effectiveToolTip(), "149557/4800000\nPlay position / length, in samples");
    QHelpEvent hover(QEvent::ToolTip, QPoint(4, 4), count.mapToGlobal(QPoint(4, 4)));
    QCoreApplication::sendEvent(&count, &hover);
    EXPECT_EQ(QToolTip::text(), count.effectiveToolTip());
    QToolTip::hideText();
    // A layout may make it as narrow as the "…".
    EXPECT_LT(count.minimumSizeHint().width(), count.fontMetrics().horizontalAdvance("149557"));
}

TEST(NumericDisplays, ATimeElidesWhereToldAndATooltipWithTheWholeTextStaysAsItIs) {
    ZQHMSDisplay time(nullptr);
    windowLook(time, Qt::AlignRight);
    time.setPrefix("Position ");
    const ZQ::HMSTime almostTwo(ZQ::sample_rate(44100), ZQ::Num::Count(2 * 44100 - 1));
    time.setHMSValue(&almostTwo);
    time.setElideMode(Qt::ElideLeft); // the seconds matter most
    time.setToolTip("At " + time.text());
    time.resize(time.widthFor("00:00:01.999"), 16);
    const QString shown = time.shownText();
    EXPECT_TRUE(shown.startsWith(u'\u2026') && shown.endsWith("01.999")) << str(shown);
    EXPECT_EQ(time.grab().toImage(), labelDrawing(time, shown));
    EXPECT_EQ(time.effectiveToolTip(), "At Position 00:00:01.999");
    // Wide again: drawn whole.
    time.resize(time.widthFor(time.text()), 16);
    EXPECT_EQ(time.shownText(), "Position 00:00:01.999");
    EXPECT_EQ(time.grab().toImage(), labelDrawing(time, time.text()));
}
