// The window's numeric readouts: a time as "hh:mm:ss.mmm", and a sample index
// or range as "i" or "i/n". Both take their look from
// ZQWaveformDisplayUserInterfaceControlStyles. Main thread, except setRange,
// which serialises on the display's own monitor.
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

class ZQHMSDisplay : public QLabel {
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

class ZQSampleCountDisplay : public QLabel {
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
