#include "document/DocumentPreferences.h"

#include "platform/base/Format.h"

#include <QSettings>
#include <QString>
#include <algorithm>
#include <mutex>
#include <sstream>

namespace ZQ::DocumentPreferences {

std::string archiveColour(Colour c) {
    auto unit = [](double v) { return std::clamp(v == v ? v : 0.0, 0.0, 1.0); };
    return platform::format("ZQColor %.6f %.6f %.6f %.6f", unit(c.red), unit(c.green), unit(c.blue), unit(c.alpha));
}

bool unarchiveColour(const std::string& data, Colour& out) {
    std::istringstream in(data);
    std::string tag;
    Colour c;
    if (!(in >> tag >> c.red >> c.green >> c.blue >> c.alpha) || tag != "ZQColor") return false;
    std::string rest;
    if (in >> rest) return false;
    for (double v : {c.red, c.green, c.blue, c.alpha})
        if (!(v >= 0.0 && v <= 1.0)) return false;
    out = c;
    return true;
}

void writeDefaults() {
    static std::once_flag once;
    std::call_once(once, [] {
        QSettings defaults;
        bool wrote = false;
        if (!defaults.contains(kBackgroundKey)) {
            defaults.setValue(kBackgroundKey, QString::fromStdString(archiveColour({0, 0, 0, 1})));
            wrote = true;
        }
        if (!defaults.contains(kForegroundKey)) {
            defaults.setValue(kForegroundKey, QString::fromStdString(archiveColour({0.56, 0.66, 0.90, 1.0})));
            wrote = true;
        }
        if (wrote) defaults.sync();
    });
}

} // namespace ZQ::DocumentPreferences
