#include "app/RecentFiles.h"

#include <QFileInfo>
#include <QSettings>

namespace ZQ::RecentFiles {

namespace {
const QString kKey = QStringLiteral("RecentFiles");

void store(const QStringList& list) {
    QSettings settings;
    settings.setValue(kKey, list);
    settings.sync();
}
} // namespace

QStringList files() {
    const QStringList stored = QSettings().value(kKey).toStringList();
    QStringList present;
    for (const QString& f : stored)
        if (QFileInfo(f).isFile() && !present.contains(f) && present.size() < kMaximum) present.append(f);
    if (present != stored) store(present);
    return present;
}

void noteOpened(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = QSettings().value(kKey).toStringList();
    list.removeAll(absolute);
    list.prepend(absolute);
    while (list.size() > kMaximum)
        list.removeLast();
    store(list);
}

void clear() {
    store({});
}

} // namespace ZQ::RecentFiles
