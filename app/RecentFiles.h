// The files that opened lately, newest first, kept in the settings; at most
// ten, and only files that still exist.
#pragma once

#include <QStringList>

namespace ZQ::RecentFiles {

inline constexpr int kMaximum = 10;

// The stored list without the files that are gone (which are dropped from
// the store too).
QStringList files();
// Puts `path` (made absolute) first.
void noteOpened(const QString& path);
void clear();

} // namespace ZQ::RecentFiles
