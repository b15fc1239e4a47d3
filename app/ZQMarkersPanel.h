// The Markers panel (Window ▸ Markers): one floating panel for the whole
// application that lists the frontmost document's markers and regions:
// name, position as time and sample, and a region's length. Names are
// edited in place (Enter keeps, Escape cancels), and so is the sample, which
// moves the marker there; a double click on the time or length goes there, Delete removes the chosen row, and choosing
// a row chooses the marker in the window's ruler. Each change is one undo step of the document. The panel follows the
// frontmost document and its markers (a 100 ms check that compares the list, a few markers, never the samples). Close,
// Escape and Ctrl+W hide it. Main thread.
#pragma once

#include "audiofile/Markers.h"
#include "platform/base/Object.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

class ZQAudioFileDocument;

class ZQMarkersPanel final : public QWidget {
public:
    enum Column { Name, Time, Sample, Length, kColumns };

    static void showPanel();
    // The panel, or null before the first showPanel().
    static ZQMarkersPanel* existingPanel();
    static void shutdown();

    QTableWidget* table() const { return table_; }
    QPushButton* deleteButton() const { return deleteButton_; }
    QLabel* documentLabel() const { return documentLabel_; }
    // Follows the frontmost document now (the timer does it every 100 ms).
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ZQMarkersPanel();
    void rebuild();
    bool isEditing() const;
    void nameEdited(QTableWidgetItem* item);
    void deleteRow(int row);

    QPointer<QLabel> documentLabel_;
    QPointer<QTableWidget> table_;
    QPointer<QPushButton> deleteButton_;
    QTimer timer_;
    platform::Ref<ZQAudioFileDocument> shownDocument_;
    ZQ::MarkerList shown_;
    std::ptrdiff_t shownChoice_ = -2;
    bool filling_ = false;
};
