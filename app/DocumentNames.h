// The names files are shown by in window titles, the Window menu and the
// recent files: the plain file name, unless another of the files shown
// with it has the same name; then each of those is followed by its folder
// ("take.wav — ~/a"), so that two takes of one name can be told apart.
#pragma once

#include <QString>
#include <QStringList>

namespace ZQ::DocumentNames {

// The separator between a name and its folder.
inline constexpr char16_t kSeparator[] = u" \u2014 ";

// A folder as shown to the user: the home folder and what is in it begin
// with "~".
QString folderForDisplay(const QString& folder);
// One name for each of `paths`, in order.
QStringList distinguished(const QStringList& paths);

} // namespace ZQ::DocumentNames
