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

namespace {
constexpr const char* kFlacLevelKey = "ZQExport/FlacLevel";
constexpr const char* kVorbisQualityKey = "ZQExport/VorbisQuality";
constexpr const char* kOpusKbpsKey = "ZQExport/OpusKbps";
constexpr const char* kMp3KbpsKey = "ZQExport/Mp3Kbps";
constexpr const char* kMp3VbrQualityKey = "ZQExport/Mp3VbrQuality";
constexpr const char* kDitherKey = "ZQExport/Dither";
constexpr const char* kRateKey = "ZQExport/Rate";
} // namespace

AudioFileExport::Conversion exportConversion() {
    AudioFileExport::Conversion c;
    const QSettings stored;
    c.dither = Requantizer::Dither::Triangular;
    Requantizer::parse(stored.value(QString::fromLatin1(kDitherKey)).toString().toStdString(), &c.dither);
    bool ok = false;
    const double rate = stored.value(QString::fromLatin1(kRateKey)).toDouble(&ok);
    c.rate = ok && rate >= 1000 && rate <= 768000 ? rate : 0;
    return c;
}

void setExportDither(Requantizer::Dither dither) {
    QSettings().setValue(QString::fromLatin1(kDitherKey), QString::fromLatin1(Requantizer::name(dither)));
}

void setExportRate(double rate) {
    QSettings().setValue(QString::fromLatin1(kRateKey), rate);
}

platform::audio::EncoderSettings encoderSettings() {
    platform::audio::EncoderSettings s;
    const QSettings stored;
    // A value out of range (edited by hand) gives the default.
    auto number = [&](const char* key, double low, double high, double fallback) {
        bool ok = false;
        const double v = stored.value(QString::fromLatin1(key)).toDouble(&ok);
        return ok && v >= low && v <= high ? v : fallback;
    };
    s.flacLevel = int(number(kFlacLevelKey, 0, 8, s.flacLevel));
    s.vorbisQuality = number(kVorbisQualityKey, 0, 10, s.vorbisQuality);
    s.opusKbps = int(number(kOpusKbpsKey, 6, 2048, s.opusKbps));
    s.mp3Kbps = int(number(kMp3KbpsKey, 32, 320, s.mp3Kbps));
    s.mp3VbrQuality = int(number(kMp3VbrQualityKey, -1, 9, s.mp3VbrQuality));
    return s;
}

void setEncoderSettings(const platform::audio::EncoderSettings& s) {
    QSettings stored;
    stored.setValue(QString::fromLatin1(kFlacLevelKey), s.flacLevel);
    stored.setValue(QString::fromLatin1(kVorbisQualityKey), s.vorbisQuality);
    stored.setValue(QString::fromLatin1(kOpusKbpsKey), s.opusKbps);
    stored.setValue(QString::fromLatin1(kMp3KbpsKey), s.mp3Kbps);
    stored.setValue(QString::fromLatin1(kMp3VbrQualityKey), s.mp3VbrQuality);
}

} // namespace ZQ::DocumentPreferences
