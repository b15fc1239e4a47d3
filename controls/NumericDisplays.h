// The window's numeric readouts: a time as "hh:mm:ss.mmm", and a sample index
// or range as "i" or "i/n". Both take their look from
// ZQWaveformDisplayUserInterfaceControlStyles. A readout narrower than its
// text shows it elided with "…" rather than cut, and its tooltip then gives
// the whole text. Main thread, except setRange, which serialises on the
// display's own monitor.
#pragma once

#include "core/values.h"

#include <QLabel>
#include <functional>
#include <mutex>
#include <string>

class ZQWaveformDisplayUserInterfaceControlStyles {
public:
    // Right aligned, bold 13, no background or border, black at 0.85. Null: nothing.
    static void setNumericDisplayAppearance(QLabel* field);
};

// One line of text that is elided, never cut, where it has too little room;
// text() stays the whole text.
class ZQNumericDisplay : public QLabel {
public:
    explicit ZQNumericDisplay(QWidget* parent);
    // Where the "…" goes (Qt::ElideRight unless told).
    void setElideMode(Qt::TextElideMode mode);
    Qt::TextElideMode elideMode() const { return elideMode_; }
    // The text as drawn: text() when it fits, else elided to the room there is.
    QString shownText() const;
    bool isElided() const { return shownText() != text(); }
    // The width this display needs to show `text` whole, with its font and
    // margins (for a readout's frame, with its longest text).
    int widthFor(const QString& text) const;
    // What hovering shows: the own tooltip; when elided, the whole text with
    // the own tooltip under it (unless that already holds the whole text).
    QString effectiveToolTip() const;
    // Room for the "…" alone: a layout may make it as narrow as that.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The rectangle the text is drawn in, after the margin and indent.
    QRect textRect() const;
    // The horizontal room the margins and indent take.
    int chrome() const;

    Qt::TextElideMode elideMode_ = Qt::ElideRight;
};

class ZQHMSDisplay : public ZQNumericDisplay {
public:
    explicit ZQHMSDisplay(QWidget* parent);
    void setHMSValue(const ZQ::HMSTime* time);
    void setPrefix(const std::string& prefix) { prefix_ = prefix; }
    // Null stands for "--:--:--.---"; the text is replaced (and redrawn) only
    // when it differs.
    void updateStringValue(const std::string* text);
    // The control's action, sent with the display on a mouse press.
    void setAction(std::function<void(ZQHMSDisplay*)> action) { action_ = std::move(action); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent*) override {}

private:
    std::string prefix_;
    std::function<void(ZQHMSDisplay*)> action_;
};

class ZQSampleCountDisplay : public ZQNumericDisplay {
public:
    explicit ZQSampleCountDisplay(QWidget* parent);
    // Null: nothing. The same range again (once set): nothing.
    void setRange(const ZQ::Num::SampleRange* range);
    ZQ::Num::SampleRange range() const;
    void setPrefix(const std::string& prefix);
    void setSuffix(const std::string& suffix);
    void setAllowsZeroLengthRange(bool allows);
    // Makes the text from the range instead of "i/n" (a selection's own look).
    void setFormatter(std::function<std::string(const ZQ::Num::SampleRange&)> formatter);
    bool allowsZeroLengthRange() const { return allowsZeroLengthRange_; }

private:
    void refresh();

    mutable std::recursive_mutex monitor_;
    ZQ::Num::SampleRange range_;
    std::string prefix_, suffix_;
    bool allowsZeroLengthRange_ = false;
    std::function<std::string(const ZQ::Num::SampleRange&)> formatter_;
    bool hasBeenInitialized_ = false;
};
