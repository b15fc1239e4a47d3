#include "window/ViewPreferences.h"

#include "platform/base/Notifications.h"

#include <QSettings>
#include <QString>
#include <atomic>
#include <bit>
#include <climits>

namespace ZQ::ViewPreferences {

namespace {

// -1 until read from the settings, then 0 or 1.
struct Cached {
    const char* key;
    bool fallback;
    std::atomic<int> value{-1};

    bool get() {
        int v = value.load();
        if (v < 0) {
            v = QSettings().value(QString::fromUtf8(key), fallback).toBool() ? 1 : 0;
            value.store(v);
        }
        return v == 1;
    }
    void set(bool on) {
        if (get() == on) return;
        value.store(on ? 1 : 0);
        QSettings().setValue(QString::fromUtf8(key), on);
        platform::NotificationCenter::defaultCenter().post(didChangeNotification());
    }
};

// A number kept in the settings, held within [low, high] (a value out of
// range or not a number reads as the fallback).
struct CachedNumber {
    const char* key;
    int fallback, low, high;
    std::atomic<int> value{INT_MIN};

    int get() {
        int v = value.load();
        if (v == INT_MIN) {
            bool ok = false;
            v = QSettings().value(QString::fromUtf8(key), fallback).toInt(&ok);
            if (!ok || v < low || v > high) v = fallback;
            value.store(v);
        }
        return v;
    }
    void set(int v) {
        if (v < low || v > high || get() == v) return;
        value.store(v);
        QSettings().setValue(QString::fromUtf8(key), v);
        platform::NotificationCenter::defaultCenter().post(didChangeNotification());
    }
};

Cached gTimeRuler{kTimeRulerKey, true};
CachedNumber gDisplay{kDisplayKey, 0, 0, 2};
CachedNumber gSize{kSpectrogramSizeKey, 1024, 256, 8192};
CachedNumber gColours{kSpectrogramColoursKey, 0, 0, 1};
Cached gLog{kSpectrogramLogKey, false};
CachedNumber gRange{kSpectrogramRangeKey, 90, 60, 120};
CachedNumber gGain{kSpectrogramGainKey, 0, -30, 30};
Cached gAmplitudeInDb{kAmplitudeInDbKey, false};
Cached gFitChannels{kFitChannelsKey, false};

} // namespace

bool showsTimeRuler() {
    return gTimeRuler.get();
}
void setShowsTimeRuler(bool shows) {
    gTimeRuler.set(shows);
}
bool amplitudeInDb() {
    return gAmplitudeInDb.get();
}
void setAmplitudeInDb(bool inDb) {
    gAmplitudeInDb.set(inDb);
}
bool fitsChannels() {
    return gFitChannels.get();
}
void setFitsChannels(bool fits) {
    gFitChannels.set(fits);
}

Display display() {
    return static_cast<Display>(gDisplay.get());
}
void setDisplay(Display display) {
    gDisplay.set(static_cast<int>(display));
}
unsigned spectrogramSize() {
    const int size = gSize.get();
    return std::has_single_bit(static_cast<unsigned>(size)) ? static_cast<unsigned>(size) : 1024u;
}
void setSpectrogramSize(unsigned size) {
    if (std::has_single_bit(size)) gSize.set(static_cast<int>(size));
}
int spectrogramColours() {
    return gColours.get();
}
void setSpectrogramColours(int map) {
    gColours.set(map);
}
bool spectrogramLogFrequency() {
    return gLog.get();
}
void setSpectrogramLogFrequency(bool log) {
    gLog.set(log);
}
int spectrogramRangeDb() {
    return gRange.get();
}
void setSpectrogramRangeDb(int db) {
    gRange.set(db);
}
int spectrogramGainDb() {
    return gGain.get();
}
void setSpectrogramGainDb(int db) {
    gGain.set(db);
}

const std::string& didChangeNotification() {
    static const std::string name = "ZQ::ViewPreferences::DidChangeNotification";
    return name;
}

void reload() {
    for (Cached* c : {&gTimeRuler, &gAmplitudeInDb, &gFitChannels, &gLog})
        c->value.store(-1);
    for (CachedNumber* c : {&gDisplay, &gSize, &gColours, &gRange, &gGain})
        c->value.store(INT_MIN);
}

} // namespace ZQ::ViewPreferences
