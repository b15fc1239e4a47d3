// Opening files from the user interface: the Open dialog and the route a
// chosen file takes (the placeholder route of the document controller).
#pragma once

#include <QStringList>

class QWidget;

namespace ZQ::FileOpening {

// The Open dialog's filters: the audio types, and all files.
QStringList nameFilters();
// Hands one file to the document system; a file that is missing or of a
// type we do not open gets an alert on `parent` (or its own window).
bool openFile(const QString& file, QWidget* parent);
// A window-modal dialog on `parent` for choosing several files, each then
// opened; nothing on Cancel.
void runOpenDialog(QWidget* parent);

} // namespace ZQ::FileOpening
