// Opening files from the user interface: the Open dialog and the route a
// chosen file takes (the placeholder route of the document controller).
#pragma once

#include <QStringList>

class QMimeData;
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
// Lets `window` take files dropped on it (from a file manager): each opens as
// a document, as if chosen with Open. A drag of anything but local files is
// refused, so the pointer shows that it cannot be dropped.
void acceptFileDrops(QWidget* window);
// The local files a drag carries; empty when it carries anything else.
QStringList droppedFiles(const QMimeData* data);

} // namespace ZQ::FileOpening
