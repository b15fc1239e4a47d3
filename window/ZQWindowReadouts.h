// The readouts at the bottom of a document window: the play position as a
// time and as "frame/length", the duration, the selection (its frames and
// how long it lasts), and the level meters. They read the document and the
// window's state; a narrow window gives them less room and they elide, the
// whole text in their tooltips. Main thread.
#pragma once

#include "controls/NumericDisplays.h"
#include "controls/ZQLevelMeter.h"
#include "document/ZQAudioFileDocument.h"
#include "waveform/WindowState.h"

#include <QObject>
#include <QPointer>

class ZQWindowReadouts final : public QObject {
public:
    // Built in `content` (the window's content view), reading `document`.
    ZQWindowReadouts(QWidget* content, ZQAudioFileDocument* document, ZQ::WindowState* state);
    // The time, count and selection readouts from the document; false
    // without a document.
    bool update();
    void updateSelection();
    // The meters read what the document sends to the device.
    void updateLevelMeter();
    void documentWillClose();

    ZQHMSDisplay* hmsCurrent() const { return hmsCurrent_; }
    ZQHMSDisplay* hmsDuration() const { return hmsDuration_; }
    ZQSampleCountDisplay* sampleCountDisplay() const { return sampleCountDisplay_; }
    ZQSampleCountDisplay* currentSelectionDisplay() const { return currentSelectionDisplay_; }
    ZQLevelMeter* levelMeter() const { return levelMeter_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The readouts' widths in the room the window's width leaves them.
    void layout();

    QPointer<QWidget> content_;
    platform::Ref<ZQAudioFileDocument> document_;
    ZQ::WindowState* state_;
    QPointer<ZQHMSDisplay> hmsCurrent_, hmsDuration_;
    QPointer<ZQSampleCountDisplay> sampleCountDisplay_, currentSelectionDisplay_;
    QPointer<ZQLevelMeter> levelMeter_;
};
