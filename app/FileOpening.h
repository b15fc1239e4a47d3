// Opening files from the user interface: the Open dialog and the route a
// chosen file takes (the placeholder route of the document controller).
#pragma once

#include <QStringList>

class QMimeData;
class QWidget;
class ZQAudioFileDocument;

namespace ZQ::FileOpening {

// The settings key of the folder a file was last chosen in (Open, Export).
inline constexpr const char* kLastFolderKey = "LastFolder";
// Where the Open and Export dialogs start: the folder of `document` (of the
// current document when null); without one, the folder last chosen in;
// failing that (or once it is gone) the home folder.
QString dialogFolder(ZQAudioFileDocument* document = nullptr);
// Remembers `folder` as the one last chosen in.
void rememberFolder(const QString& folder);
// When `file` is open already, brings its window forward (a file still being
// opened comes forward once it is shown) and returns true.
bool showOpenDocument(const QString& file);

// The Open dialog's filters: the audio types, and all files.
QStringList nameFilters();
// Hands one file to the document system; a file that is missing or of a
// type we do not open gets an alert on `parent` (or its own window). A file
// open already is not opened twice: its window comes forward.
bool openFile(const QString& file, QWidget* parent);
// A window-modal dialog on `parent` for choosing several files, each then
// opened; nothing on Cancel. It starts in dialogFolder().
void runOpenDialog(QWidget* parent);
// Lets `window` take files dropped on it (from a file manager): each opens as
// a document, as if chosen with Open. A drag of anything but local files is
// refused, so the pointer shows that it cannot be dropped.
void acceptFileDrops(QWidget* window);
// The local files a drag carries; empty when it carries anything else.
QStringList droppedFiles(const QMimeData* data);

} // namespace ZQ::FileOpening
