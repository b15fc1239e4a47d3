#include "window/ViewPreferences.h"

#include "platform/base/Notifications.h"

#include <QSettings>
#include <QString>
#include <atomic>

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

Cached gTimeRuler{kTimeRulerKey, true};
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

const std::string& didChangeNotification() {
    static const std::string name = "ZQ::ViewPreferences::DidChangeNotification";
    return name;
}

void reload() {
    for (Cached* c : {&gTimeRuler, &gAmplitudeInDb, &gFitChannels})
        c->value.store(-1);
}

} // namespace ZQ::ViewPreferences
