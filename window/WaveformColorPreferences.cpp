#include "window/WaveformColorPreferences.h"

#include "document/ZQAudioFileDocument.h"

#include <QSettings>

namespace ZQ::WaveformColorPreferences {

const std::string& foregroundKey() {
    static const std::string key = DocumentPreferences::kForegroundKey;
    return key;
}

const std::string& backgroundKey() {
    static const std::string key = DocumentPreferences::kBackgroundKey;
    return key;
}

const std::string& waveformColorsDidChangeNotification() {
    static const std::string name = "ZQ::WaveformColorPreferences::WaveformColorsDidChangeNotification";
    return name;
}

namespace {
QColor stored(const std::string& key) {
    const QVariant value = QSettings().value(QString::fromStdString(key));
    DocumentPreferences::Colour c;
    if (!value.isValid() || !DocumentPreferences::unarchiveColour(value.toString().toStdString(), c)) return {};
    return QColor::fromRgbF(c.red, c.green, c.blue, c.alpha);
}
} // namespace

QColor foregroundColorFromPreferences() {
    return stored(foregroundKey());
}
QColor backgroundColorFromPreferences() {
    return stored(backgroundKey());
}

} // namespace ZQ::WaveformColorPreferences
