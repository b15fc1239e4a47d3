// The body the progress windows share (a long open, a long export): a line
// naming the work, a bar of whole percents that never goes back, and Cancel.
#pragma once

#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

struct ProgressRow {
    QLabel* name = nullptr;
    QProgressBar* bar = nullptr;
    QPushButton* cancel = nullptr;

    // Lays the row out in `owner`; the widgets are named `prefix` + "FileName",
    // "Percent" and "Cancel" ("importPercent").
    static ProgressRow build(QWidget* owner, const QString& text, const QString& prefix);
    // Shows `fraction` (0 ... 1; negative: nothing running), never lower than
    // it showed before, whatever the order of the workers' reports.
    void show(double fraction) const;
    // Cancel was pressed: it is off, and the line says so until the work stops.
    void cancelling() const;
};
