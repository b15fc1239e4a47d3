#include "app/DocumentNames.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace ZQ::DocumentNames {

QString folderForDisplay(const QString& folder) {
    const QString clean = QDir::cleanPath(folder);
    const QString home = QDir::cleanPath(QDir::homePath());
    if (home.isEmpty() || home == QLatin1String("/")) return clean;
    if (clean == home) return QStringLiteral("~");
    if (clean.startsWith(home + QLatin1Char('/'))) return QStringLiteral("~") + clean.mid(home.size());
    return clean;
}

QStringList distinguished(const QStringList& paths) {
    QHash<QString, int> uses;
    for (const QString& p : paths)
        ++uses[QFileInfo(p).fileName()];
    QStringList names;
    names.reserve(paths.size());
    for (const QString& p : paths) {
        const QFileInfo info(p);
        const QString name = info.fileName();
        names << (uses.value(name) > 1 ? name + QString::fromUtf16(kSeparator) + folderForDisplay(info.absolutePath())
                                       : name);
    }
    return names;
}

} // namespace ZQ::DocumentNames
