#include "app/ZQApplicationMenus.h"

#include "app/AccessKeys.h"
#include "app/DocumentNames.h"
#include "app/FileOpening.h"
#include "app/RecentFiles.h"
#include "app/ZQApplicationShell.h"
#include "app/ZQAudioFilePropertiesPanel.h"
#include "app/ZQStatisticsPanel.h"
#include "controls/ZQTransportButton.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "platform/audioout/AudioQueue.h"
#include "platform/base/Notifications.h"
#include "playback/AudioFileDocumentOutputSource.h"
#include "playback/OutputStream.h"
#include "window/ViewPreferences.h"
#include "window/ZQTransportBarBox.h"
#include "window/ZQWaveformDisplayController.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QSignalBlocker>
#include <QWindow>
#include <atomic>

using platform::Ref;

namespace {

std::atomic<bool> refreshRequested{false};

Ref<ZQAudioFileDocument> current() {
    return ZQApplicationDispatchCenter::currentAudioDocument();
}

ZQDocumentWindow* windowOf(ZQAudioFileDocument* doc) {
    auto* c = doc ? dynamic_cast<ZQWaveformDisplayController*>(doc->waveformDisplayController()) : nullptr;
    return c ? c->window() : nullptr;
}

ZQTransportBarBox* barOf(ZQAudioFileDocument* doc) {
    ZQAudioFileDocumentTransportController* t = doc ? doc->audioFileDocumentTransportController() : nullptr;
    return t ? dynamic_cast<ZQTransportBarBox*>(t->transportBar()) : nullptr;
}

bool validate(ZQAction action) {
    const ZQMenuItem item{action};
    return ZQApplicationDispatchCenter::shared().validateMenuItem(&item);
}

// Edit items are the document's own (through its display controller).
bool validateForDocument(ZQAction action) {
    const ZQMenuItem item{action};
    Ref<ZQAudioFileDocument> d = current();
    return d && d->validateMenuItem(&item);
}

// An empty document has nothing to play and nowhere to move to.
bool hasSound(ZQAudioFileDocument* d) {
    return d && d->fileHasLoaded() && d->channelCount() > 0 && d->sampleCount(0).v_ > 0;
}

// Whether the document's transport is playing or paused: only then do Stop
// and Pause change anything (the bar offers both at all times).
bool isRunningOrPaused(ZQAudioFileDocument* d) {
    ZQAudioFileDocumentTransportController* t = d ? d->audioFileDocumentTransportController() : nullptr;
    const ZQAudioFileDocumentTransportCommandReceiver* r =
        t ? t->audioFileDocumentTransportCommandReceiverIfBuilt() : nullptr;
    return r && (r->isPlaying() || r->isPaused());
}

bool transportEnabled(TransportButton b) {
    Ref<ZQAudioFileDocument> d = current();
    const bool haltsOrResumes = b == TransportButton::Stop || b == TransportButton::Pause;
    // A pause taken on a document later emptied can still be undone.
    if (haltsOrResumes ? !isRunningOrPaused(d.get()) : !hasSound(d.get())) return false;
    // Otherwise what the button shows (and what a press of it checks).
    ZQTransportBarBox* bar = barOf(d.get());
    ZQTransportButton* w = bar ? bar->widget(b) : nullptr;
    return w && w->isEnabled();
}

void pressTransport(TransportButton b) {
    if (ZQTransportBarBox* bar = barOf(current().get()))
        if (ZQTransportButton* w = bar->widget(b)) w->performClick();
}

// The document of the active window becomes the current document; panels
// and dialogs leave it as it is, the start window has none.
void followActiveWindow() {
    QWidget* active = QApplication::activeWindow();
    if (!active) return;
    if (auto* w = dynamic_cast<ZQDocumentWindow*>(active)) {
        if (ZQWaveformDisplayController* c = w->controller())
            ZQDocumentController::sharedDocumentController().setCurrentDocument(c->document().get());
    } else if (!active->windowFlags().testFlag(Qt::Tool) && !active->parentWidget() &&
               active->property("zqStartWindow").toBool()) {
        ZQDocumentController::sharedDocumentController().setCurrentDocument(nullptr);
    }
}

// Asks for a refresh after each mouse release and wheel turn anywhere.
class InputWatcher final : public QObject {
public:
    explicit InputWatcher(QObject* parent) : QObject(parent) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::Wheel)
            ZQApplicationMenus::shared().scheduleRefresh();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

ZQApplicationMenus& ZQApplicationMenus::shared() {
    static ZQApplicationMenus* menus = new ZQApplicationMenus; // for the whole process
    return *menus;
}

ZQApplicationMenus::ZQApplicationMenus() {
    open_ = [](const QString& file, QWidget* parent) { ZQ::FileOpening::openFile(file, parent); };
    connect(qApp, &QApplication::focusChanged, this, [this] { scheduleRefresh(); });
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { scheduleRefresh(); });
    platform::NotificationCenter::defaultCenter().addObserver(
        this, kCommandStateMayHaveChangedNotification, [this](const platform::Notification&) { scheduleRefresh(); });
    // A drag of the zoom slider or a turn of the wheel can change the zoom by
    // less than the views report: the zoom items look again after each.
    qApp->installEventFilter(new InputWatcher(this));
}

void ZQApplicationMenus::scheduleRefresh() {
    if (refreshRequested.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshRequested = false;
            refresh();
        },
        Qt::QueuedConnection);
}

void ZQApplicationMenus::refresh() {
    followActiveWindow();
    std::erase_if(items_, [](const Item& i) { return i.action.isNull(); });
    for (Item& i : items_) {
        const bool on = i.enabled();
        if (i.action->isEnabled() != on) i.action->setEnabled(on);
        if (i.title) {
            const QString t = i.title();
            if (i.action->text() != t) i.action->setText(t);
        }
    }
}

QAction* ZQApplicationMenus::add(QMenu* menu, const char* name, const QString& title, const QKeySequence& keys,
                                 std::function<bool()> enabled, std::function<void()> run) {
    auto* action = new QAction(title, menu);
    action->setObjectName(QString::fromUtf8(name));
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        // Each window has its own bar: its keys act in that window only.
        action->setShortcutContext(Qt::WindowShortcut);
        if (installing_) installing_->addAction(action);
    }
    menu->addAction(action);
    // The rule is asked again at the moment of running: a command never runs
    // where its item would be disabled.
    connect(action, &QAction::triggered, menu, [enabled, run] {
        if (enabled()) run();
    });
    action->setEnabled(enabled());
    items_.push_back({action, std::move(enabled), {}});
    return action;
}

void ZQApplicationMenus::fillChannelsMenu(QMenu* menu) {
    menu->clear();
    Ref<ZQAudioFileDocument> d = current();
    const int count = d ? d->channelCount() : 0;
    if (count <= 0) {
        menu->addAction(QStringLiteral("No Document"))->setEnabled(false);
        return;
    }
    QAction* all = menu->addAction(QStringLiteral("&Hear All Channels"));
    all->setObjectName(QStringLiteral("hearAllChannels"));
    bool anyChanged = false;
    for (int c = 0; c < count; ++c)
        anyChanged = anyChanged || d->isChannelMuted(c) || d->isChannelSoloed(c);
    all->setEnabled(anyChanged);
    connect(all, &QAction::triggered, menu, [d, count] {
        for (int c = 0; c < count; ++c) {
            if (d->isChannelMuted(c)) d->setChannelMuted(c, false);
            if (d->isChannelSoloed(c)) d->setChannelSoloed(c, false);
        }
    });
    menu->addSeparator();
    for (int c = 0; c < count; ++c) {
        QMenu* one = menu->addMenu(QStringLiteral("Channel %1").arg(c + 1));
        QAction* mute = one->addAction(QStringLiteral("&Mute"));
        mute->setObjectName(QStringLiteral("muteChannel%1").arg(c + 1));
        mute->setCheckable(true);
        mute->setChecked(d->isChannelMuted(c));
        connect(mute, &QAction::toggled, menu, [d, c](bool on) { d->setChannelMuted(c, on); });
        QAction* solo = one->addAction(QStringLiteral("&Solo"));
        solo->setObjectName(QStringLiteral("soloChannel%1").arg(c + 1));
        solo->setCheckable(true);
        solo->setChecked(d->isChannelSoloed(c));
        connect(solo, &QAction::toggled, menu, [d, c](bool on) { d->setChannelSoloed(c, on); });
    }
}

void ZQApplicationMenus::fillOutputDeviceMenu(QMenu* menu) {
    // Afresh each time the menu opens: the sound server's outputs as it last
    // told them (headsets come and go), or PortAudio's, looked for again
    // while no stream holds that library.
    const std::vector<std::string> known = platform::audio::outputDeviceNames();
    menu->clear();
    auto* group = new QActionGroup(menu);
    const std::string chosen = platform::audio::preferredOutputDevice();
    auto item = [&](const QString& title, const std::string& name) {
        QAction* a = menu->addAction(title);
        a->setCheckable(true);
        a->setChecked(name == chosen);
        a->setActionGroup(group);
        a->setData(QString::fromStdString(name));
        connect(a, &QAction::triggered, menu, [name] { chooseOutputDevice(name); });
        return a;
    };
    item(QStringLiteral("System Default"), "")->setObjectName(QStringLiteral("systemDefaultDevice"));
    menu->addSeparator();
    bool chosenListed = chosen.empty();
    for (const std::string& name : known) {
        item(QString::fromStdString(name), name);
        chosenListed = chosenListed || name == chosen;
    }
    if (!chosenListed)
        item(QString::fromStdString(chosen) + QStringLiteral(" (not available)"), chosen)->setEnabled(false);
}

void ZQApplicationMenus::chooseOutputDevice(const std::string& name) {
    platform::audio::setPreferredOutputDevice(name);
    QSettings().setValue(QString::fromUtf8(kOutputDeviceKey), QString::fromStdString(name));
    ZQ::AudioStream::OutputStream::reopenIdleStreams();
}

void ZQApplicationMenus::restoreOutputDevice() {
    platform::audio::setPreferredOutputDevice(
        QSettings().value(QString::fromUtf8(kOutputDeviceKey)).toString().toStdString());
}

void ZQApplicationMenus::setLoops(bool loops) {
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(loops);
    QSettings().setValue(QString::fromUtf8(kLoopKey), loops);
}

void ZQApplicationMenus::restoreLoop() {
    ZQ::AudioFileDocumentOutputSource::setLoopsEverywhere(
        QSettings().value(QString::fromUtf8(kLoopKey), false).toBool());
}

void ZQApplicationMenus::install(QMainWindow* window) {
    if (!window || window->property("zqMenusInstalled").toBool()) return;
    window->setProperty("zqMenusInstalled", true);
    installing_ = window;
    QMenuBar* bar = window->menuBar();
    auto always = [] { return true; };
    QPointer<QMainWindow> w = window;

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    add(file, "open", QStringLiteral("&Open\u2026"), QKeySequence(Qt::CTRL | Qt::Key_O), always,
        [w] { ZQ::FileOpening::runOpenDialog(w); });
    QMenu* recent = file->addMenu(QStringLiteral("Open &Recent"));
    recent->setObjectName(QStringLiteral("openRecent"));
    connect(recent, &QMenu::aboutToShow, this, [this, recent, w] { fillRecentMenu(recent, w); });
    fillRecentMenu(recent, window);
    file->addSeparator();
    // Saving asks what exporting asks of the document (loaded, not busy).
    add(
        file, "save", QStringLiteral("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S),
        [] { return validate(ZQAction::ConvertWave16Integer); },
        [] {
            if (Ref<ZQAudioFileDocument> d = current()) d->save();
        });
    add(
        file, "saveAs", QStringLiteral("Save &As\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
        [] { return validate(ZQAction::ConvertWave16Integer); },
        [] {
            if (Ref<ZQAudioFileDocument> d = current()) d->saveAs();
        });
    add(file, "close", QStringLiteral("&Close"), QKeySequence(Qt::CTRL | Qt::Key_W), always, [w] {
        if (w) w->close();
    });
    // A copy in another format; the document stays the file it is.
    QMenu* exportMenu = file->addMenu(QStringLiteral("&Export a Copy"));
    exportMenu->setObjectName(QStringLiteral("exportAs"));
    const struct {
        const char* name;
        const char* title;
        ZQAction action;
    } kFormats[] = {
        {"exportWave16", "WAV, 16-bit integer\u2026", ZQAction::ConvertWave16Integer},
        {"exportWave32", "WAV, 32-bit integer\u2026", ZQAction::ConvertWave32Integer},
        {"exportWaveFloat", "WAV, 32-bit float\u2026", ZQAction::ConvertWave32Float},
        {"exportAiff16", "AIFF, 16-bit integer\u2026", ZQAction::ConvertAiff16Integer},
        {"exportAiff32", "AIFF, 32-bit integer\u2026", ZQAction::ConvertAiff32Integer},
        {"exportFlac16", "FLAC, 16-bit\u2026", ZQAction::ConvertFlac16},
        {"exportFlac24", "FLAC, 24-bit\u2026", ZQAction::ConvertFlac24},
        {"exportVorbis", "Ogg Vorbis\u2026", ZQAction::ConvertVorbis},
        {"exportOpus", "Opus\u2026", ZQAction::ConvertOpus},
        {"exportMp3", "MP3\u2026", ZQAction::ConvertMp3},
    };
    for (const auto& f : kFormats) {
        const ZQAction a = f.action;
        add(
            exportMenu, f.name, QString::fromUtf8(f.title), {}, [a] { return validate(a); },
            [a] { ZQApplicationDispatchCenter::shared().perform_convert(a); });
    }
    installMarkerFileItems(file);
    // The panel shows the current document's file: nothing to show without
    // one that has opened.
    add(
        file, "properties", QStringLiteral("&Properties"), QKeySequence(Qt::CTRL | Qt::Key_I),
        [] {
            Ref<ZQAudioFileDocument> d = current();
            return d && d->fileHasLoaded() && d->audioFileInformation();
        },
        [] { ZQAudioFilePropertiesPanelController::showPanel(); });
    file->addSeparator();
    QAction* quit = add(file, "quit", QStringLiteral("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), always,
                        [] { ZQApplicationDelegate::shared().requestQuit(); });
    quit->setMenuRole(QAction::QuitRole);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    // Undo and Redo name the step they would run ("Undo Delete").
    auto stepTitle = [](const char* verb, bool undo) {
        return [verb, undo] {
            Ref<ZQAudioFileDocument> d = current();
            const std::string name = d ? (undo ? d->undoActionName() : d->redoActionName()) : std::string();
            return name.empty() ? QString::fromUtf8(verb)
                                : QString::fromUtf8(verb) + ' ' + QString::fromStdString(name);
        };
    };
    add(
        edit, "undo", QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z),
        [] { return validateForDocument(ZQAction::Undo); },
        [] {
            if (Ref<ZQAudioFileDocument> d = current()) d->undo(nullptr);
        });
    items_.back().title = stepTitle("Undo", true);
    add(
        edit, "redo", QStringLiteral("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
        [] { return validateForDocument(ZQAction::Redo); },
        [] {
            if (Ref<ZQAudioFileDocument> d = current()) d->redo(nullptr);
        });
    items_.back().title = stepTitle("Redo", false);
    edit->addSeparator();
    const struct {
        const char* name;
        const char* title;
        QKeySequence keys;
        ZQAction action;
        void (ZQAudioFileDocument::*run)(platform::Object*);
    } editing[] = {
        {"cut", "Cu&t", QKeySequence(Qt::CTRL | Qt::Key_X), ZQAction::Cut, &ZQAudioFileDocument::cut},
        {"copy", "&Copy", QKeySequence(Qt::CTRL | Qt::Key_C), ZQAction::Copy, &ZQAudioFileDocument::copy},
        {"paste", "&Paste", QKeySequence(Qt::CTRL | Qt::Key_V), ZQAction::Paste, &ZQAudioFileDocument::paste},
        {"delete", "De&lete", QKeySequence(Qt::Key_Delete), ZQAction::Delete, &ZQAudioFileDocument::delete_},
    };
    for (const auto& e : editing) {
        const ZQAction action = e.action;
        const auto run = e.run;
        add(
            edit, e.name, QString::fromUtf8(e.title), e.keys, [action] { return validateForDocument(action); },
            [run] {
                if (Ref<ZQAudioFileDocument> d = current()) (d.get()->*run)(nullptr);
            });
    }
    // Backspace deletes too, as in most audio editors.
    if (QAction* a = window->findChild<QAction*>(QStringLiteral("delete")))
        a->setShortcuts({QKeySequence(Qt::Key_Delete), QKeySequence(Qt::Key_Backspace)});
    add(
        edit, "duplicate", QStringLiteral("&Duplicate"), QKeySequence(Qt::CTRL | Qt::Key_D),
        [] { return validate(ZQAction::Duplicate); }, [] { ZQApplicationDispatchCenter::shared().duplicate(nullptr); });
    edit->addSeparator();
    installMarkerEditItems(edit);
    edit->addSeparator();
    add(
        edit, "selectAll", QStringLiteral("Select &All"), QKeySequence(Qt::CTRL | Qt::Key_A),
        [] { return validateForDocument(ZQAction::SelectAll); },
        [] {
            if (Ref<ZQAudioFileDocument> d = current()) d->selectAll(nullptr);
        });
    add(
        edit, "selectNone", QStringLiteral("Select &None"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A),
        [] { return validateForDocument(ZQAction::SelectNone); },
        [] {
            if (Ref<ZQAudioFileDocument> d = current()) d->selectNone(nullptr);
        });

    QMenu* process = installProcessMenu(bar);
    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    // Each zoom item is enabled while its command would change the current
    // document's views; after one runs, the others may have changed too
    // (a small step may be too small for the views to report it).
    const struct {
        const char* name;
        const char* title;
        QKeySequence keys;
        void (*run)();
    } kZoom[] = {
        {"zoomIn", "Zoom &In", QKeySequence(Qt::CTRL | Qt::Key_Plus), &ZQWaveformZoomMessageReceiver::zoomIn},
        {"zoomOut", "Zoom &Out", QKeySequence(Qt::CTRL | Qt::Key_Minus), &ZQWaveformZoomMessageReceiver::zoomOut},
        {"amplitudeIn", "&Amplitude In", QKeySequence(Qt::CTRL | Qt::Key_Up),
         &ZQWaveformZoomMessageReceiver::zoomAmplitudeIn},
        {"amplitudeOut", "A&mplitude Out", QKeySequence(Qt::CTRL | Qt::Key_Down),
         &ZQWaveformZoomMessageReceiver::zoomAmplitudeOut},
        {"zoomOutEntirely", "Zoom Out &Entirely", QKeySequence(Qt::CTRL | Qt::Key_0),
         &ZQWaveformZoomMessageReceiver::zoomOutEntirely},
        {"zoomToSelection", "Zoom to &Selection", QKeySequence(Qt::CTRL | Qt::Key_E),
         &ZQWaveformZoomMessageReceiver::zoomToSelection},
    };
    for (const auto& z : kZoom) {
        const char* name = z.name;
        const auto run = z.run;
        add(
            view, name, QString::fromUtf8(z.title), z.keys,
            [name] { return ZQWaveformZoomMessageReceiver::canZoom(name); },
            [this, run] {
                run();
                scheduleRefresh();
            });
    }
    // Ctrl+= is Ctrl++ without Shift on most layouts.
    if (QAction* a = window->findChild<QAction*>(QStringLiteral("zoomIn")))
        a->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    view->addSeparator();
    // While playing, the views page to keep the play position in sight.
    QAction* follow = add(view, "followPlayback", QStringLiteral("&Follow Playback"), {}, always, [] {});
    follow->setCheckable(true);
    follow->setChecked(ZQWaveformDisplayController::followsPlayback());
    connect(follow, &QAction::toggled, follow, [](bool on) { ZQWaveformDisplayController::setFollowsPlayback(on); });
    // Every window has its own item: each shows the one preference.
    connect(view, &QMenu::aboutToShow, follow, [follow] {
        const QSignalBlocker quiet(follow);
        follow->setChecked(ZQWaveformDisplayController::followsPlayback());
    });
    // How every window shows its channels; kept in the settings.
    const struct {
        const char* name;
        const char* title;
        QKeySequence keys;
        bool (*get)();
        void (*set)(bool);
    } kViewChoices[] = {
        {"timeRuler", "Time &Ruler", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R),
         &ZQ::ViewPreferences::showsTimeRuler, &ZQ::ViewPreferences::setShowsTimeRuler},
        {"amplitudeInDb", "Amplitude in &dB", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D),
         &ZQ::ViewPreferences::amplitudeInDb, &ZQ::ViewPreferences::setAmplitudeInDb},
        {"fitChannels", "Fit &Channels", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
         &ZQ::ViewPreferences::fitsChannels, &ZQ::ViewPreferences::setFitsChannels},
    };
    for (const auto& choice : kViewChoices) {
        QAction* a = add(view, choice.name, QString::fromUtf8(choice.title), choice.keys, always, [] {});
        a->setCheckable(true);
        a->setChecked(choice.get());
        const auto set = choice.set;
        const auto get = choice.get;
        connect(a, &QAction::toggled, a, [set](bool on) { set(on); });
        connect(view, &QMenu::aboutToShow, a, [a, get] {
            const QSignalBlocker quiet(a);
            a->setChecked(get());
        });
    }
    view->addSeparator();
    // What the channel views show (a channel's own menu may choose otherwise).
    QMenu* display = view->addMenu(QStringLiteral("&Display"));
    auto* displays = new QActionGroup(display);
    const struct {
        const char* name;
        const char* title;
        Qt::Key key;
        ZQ::ViewPreferences::Display value;
    } kDisplays[] = {
        {"displayWaveform", "&Waveform", Qt::Key_1, ZQ::ViewPreferences::Display::Waveform},
        {"displaySpectrogram", "&Spectrogram", Qt::Key_2, ZQ::ViewPreferences::Display::Spectrogram},
        {"displayBoth", "&Both", Qt::Key_3, ZQ::ViewPreferences::Display::Both},
    };
    for (const auto& d : kDisplays) {
        const auto value = d.value;
        QAction* a = add(display, d.name, QString::fromUtf8(d.title), QKeySequence(Qt::CTRL | d.key), always,
                         [value] { ZQ::ViewPreferences::setDisplay(value); });
        a->setCheckable(true);
        a->setActionGroup(displays);
        connect(view, &QMenu::aboutToShow, a, [a, value] { a->setChecked(ZQ::ViewPreferences::display() == value); });
        a->setChecked(ZQ::ViewPreferences::display() == value);
    }
    // How the spectrogram is made and coloured.
    QMenu* spectrogram = view->addMenu(QStringLiteral("S&pectrogram"));
    auto choices = [this, view, always](QMenu* menu, const char* prefix,
                                        const std::vector<std::pair<QString, int>>& items, int (*get)(),
                                        void (*set)(int)) {
        auto* group = new QActionGroup(menu);
        for (const auto& [title, value] : items) {
            QAction* a = add(menu, (std::string(prefix) + std::to_string(value)).c_str(), title, {}, always,
                             [set, value = value] { set(value); });
            a->setCheckable(true);
            a->setActionGroup(group);
            a->setChecked(get() == value);
            connect(view, &QMenu::aboutToShow, a, [a, get, value = value] { a->setChecked(get() == value); });
        }
    };
    choices(
        spectrogram->addMenu(QStringLiteral("&Window Size")), "spectrogramSize",
        {{"256", 256}, {"512", 512}, {"1024", 1024}, {"2048", 2048}, {"4096", 4096}, {"8192", 8192}},
        [] { return int(ZQ::ViewPreferences::spectrogramSize()); },
        [](int v) { ZQ::ViewPreferences::setSpectrogramSize(unsigned(v)); });
    choices(spectrogram->addMenu(QStringLiteral("&Colours")), "spectrogramColours",
            {{QStringLiteral("&Magma"), 0}, {QStringLiteral("&Grey"), 1}}, &ZQ::ViewPreferences::spectrogramColours,
            &ZQ::ViewPreferences::setSpectrogramColours);
    choices(spectrogram->addMenu(QStringLiteral("&Range")), "spectrogramRange",
            {{"60 dB", 60}, {"72 dB", 72}, {"90 dB", 90}, {"105 dB", 105}, {"120 dB", 120}},
            &ZQ::ViewPreferences::spectrogramRangeDb, &ZQ::ViewPreferences::setSpectrogramRangeDb);
    choices(spectrogram->addMenu(QStringLiteral("&Gain")), "spectrogramGain",
            {{"\u221220 dB", -20}, {"\u221210 dB", -10}, {"0 dB", 0}, {"+10 dB", 10}, {"+20 dB", 20}, {"+30 dB", 30}},
            &ZQ::ViewPreferences::spectrogramGainDb, &ZQ::ViewPreferences::setSpectrogramGainDb);
    QAction* logFrequency =
        add(spectrogram, "spectrogramLogFrequency", QStringLiteral("&Logarithmic Frequency"), {}, always, [] {});
    logFrequency->setCheckable(true);
    logFrequency->setChecked(ZQ::ViewPreferences::spectrogramLogFrequency());
    connect(logFrequency, &QAction::toggled, logFrequency,
            [](bool on) { ZQ::ViewPreferences::setSpectrogramLogFrequency(on); });
    connect(view, &QMenu::aboutToShow, logFrequency, [logFrequency] {
        const QSignalBlocker quiet(logFrequency);
        logFrequency->setChecked(ZQ::ViewPreferences::spectrogramLogFrequency());
    });
    view->addSeparator();
    // Levels of the selection (or the whole file), per channel.
    add(
        view, "statistics", QStringLiteral("&Statistics\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
        [] { return ZQStatisticsPanel::canShow(); }, [] { ZQStatisticsPanel::showForCurrentDocument(); });
    add(
        view, "waveformColours", QStringLiteral("Waveform &Colours\u2026"), {},
        [] { return validate(ZQAction::ShowWaveformColorPanel); },
        [] { ZQApplicationDispatchCenter::shared().perform_showWaveformColorPanel(); });

    // The transport keys belong to the window's transport bar; the items
    // show them (after the tab) and do what its buttons do.
    QMenu* transport = bar->addMenu(QStringLiteral("&Transport"));
    // Record is not offered here: it is never available (the bar shows it).
    // Home and End are the items' own keys; the bar's single keys (0, E)
    // stay the bar's, and the titles show both.
    const struct {
        const char* name;
        const char* title;
        TransportButton button;
        QKeySequence keys;
    } kTransport[] = {
        {"play", "Play\tSpace", TransportButton::Play, {}},
        {"pause", "Pause\t,", TransportButton::Pause, {}},
        {"stop", "Stop\tSpace", TransportButton::Stop, {}},
        {"gotoStart", "Go to Start\tHome, 0", TransportButton::GotoStart, QKeySequence(Qt::Key_Home)},
        {"back", "Back One Second\t<", TransportButton::Back, {}},
        {"forward", "Forward One Second\t>", TransportButton::Forward, {}},
        {"gotoEnd", "Go to End\tEnd, E", TransportButton::GotoEnd, QKeySequence(Qt::Key_End)},
    };
    for (const auto& t : kTransport) {
        const TransportButton b = t.button;
        add(
            transport, t.name, QString::fromUtf8(t.title), t.keys, [b] { return transportEnabled(b); },
            [b] { pressTransport(b); });
    }
    // Play Selection: the selection's frames (or from the selection point
    // to the end); also while playing, where it goes there at once.
    add(
        transport, "playSelection", QStringLiteral("Play &Selection\tShift+Space"),
        QKeySequence(Qt::SHIFT | Qt::Key_Space), [] { return hasSound(current().get()); },
        [] {
            Ref<ZQAudioFileDocument> d = current();
            auto* c = d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr;
            ZQWaveform* view = c ? c->waveform(0) : nullptr;
            if (!view) return;
            const ZQ::SampleSelection s = view->selection();
            d->playSelection(s.min_.v_, s.max_.v_);
        });
    // The markers of the file, one after the other.
    const struct {
        const char* name;
        const char* title;
        Qt::Key key;
        bool next;
    } kMarkerSteps[] = {
        {"previousMarker", "Pre&vious Marker", Qt::Key_BracketLeft, false},
        {"nextMarker", "Ne&xt Marker", Qt::Key_BracketRight, true},
    };
    for (const auto& step : kMarkerSteps) {
        const bool next = step.next;
        add(
            transport, step.name, QString::fromUtf8(step.title), QKeySequence(step.key),
            [next] {
                Ref<ZQAudioFileDocument> d = current();
                auto* c = d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr;
                return c && hasSound(d.get()) && (next ? c->hasMarkerAfter() : c->hasMarkerBefore());
            },
            [next] {
                Ref<ZQAudioFileDocument> d = current();
                if (auto* c = d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr)
                    c->goToMarker(next);
                ZQApplicationMenus::shared().scheduleRefresh();
            });
    }
    // Loop: one setting for every document, read at the end of each pass.
    QAction* loop = add(transport, "loop", QStringLiteral("&Loop"), QKeySequence(Qt::Key_L), always, [] {});
    loop->setCheckable(true);
    loop->setChecked(ZQ::AudioFileDocumentOutputSource::loopsEverywhere());
    connect(loop, &QAction::toggled, loop, [](bool on) { ZQApplicationMenus::setLoops(on); });
    connect(transport, &QMenu::aboutToShow, loop, [loop] {
        const QSignalBlocker quiet(loop);
        loop->setChecked(ZQ::AudioFileDocumentOutputSource::loopsEverywhere());
    });
    transport->addSeparator();
    // Which channels of the current document are heard (as the toggles at
    // the left edge of its views); made afresh each time it opens.
    QMenu* channels = transport->addMenu(QStringLiteral("&Channels"));
    channels->setObjectName(QStringLiteral("channelsMenu"));
    connect(channels, &QMenu::aboutToShow, this, [channels] { fillChannelsMenu(channels); });
    fillChannelsMenu(channels);
    QMenu* devices = transport->addMenu(QStringLiteral("&Output Device"));
    devices->setObjectName(QStringLiteral("outputDeviceMenu"));
    connect(devices, &QMenu::aboutToShow, this, [devices] { fillOutputDeviceMenu(devices); });

    QMenu* windows = bar->addMenu(QStringLiteral("&Window"));
    windows->setObjectName(QStringLiteral("windowMenu"));
    QAction* markersPanel = markersPanelAction(window);
    connect(windows, &QMenu::aboutToShow, this,
            [this, windows, markersPanel] { fillWindowMenu(windows, markersPanel); });
    fillWindowMenu(windows, markersPanel);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    QAction* visit = add(
        help, "visitOnline", QStringLiteral("ZQ Audio on the &Web"), {}, [] { return validate(ZQAction::VisitOnline); },
        [w] { ZQApplicationDispatchCenter::shared().perform_VisitZanquorOnline(w); });
    // Offered only when the build names a real page.
    visit->setVisible(ZQ::Application::hasWebsite());
    QAction* about = add(help, "about", QStringLiteral("&About ZQ Audio"), {}, always, [w] {
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("About ZQ Audio"),
                                    QString::fromStdString(ZQ::Application::aboutText()), QMessageBox::Ok, w);
        box->setObjectName(QStringLiteral("aboutBox"));
        ZQ::AccessKeys::give(box);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setAttribute(Qt::WA_QuitOnClose, false);
        box->setWindowModality(Qt::WindowModal);
        box->open();
    });
    about->setMenuRole(QAction::AboutRole);

    installing_ = nullptr;
    for (QMenu* m : {file, edit, process, view, transport, windows, help, exportMenu})
        connect(m, &QMenu::aboutToShow, this, [this] { refresh(); });
}

void ZQApplicationMenus::fillRecentMenu(QMenu* menu, QWidget* window) {
    menu->clear();
    const QStringList files = ZQ::RecentFiles::files();
    const QStringList names = ZQ::DocumentNames::distinguished(files);
    QPointer<QWidget> w = window;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& f = files[i];
        QAction* a = menu->addAction(QString(names[i]).replace(QLatin1Char('&'), QLatin1String("&&")));
        a->setToolTip(f);
        a->setData(f);
        connect(a, &QAction::triggered, this, [this, f, w] {
            if (open_) open_(f, w);
        });
    }
    if (!files.isEmpty()) menu->addSeparator();
    QAction* clear = menu->addAction(QStringLiteral("Clear Menu"));
    clear->setObjectName(QStringLiteral("clearRecent"));
    clear->setEnabled(!files.isEmpty());
    connect(clear, &QAction::triggered, this, [] { ZQ::RecentFiles::clear(); });
}

void ZQApplicationMenus::fillWindowMenu(QMenu* menu, QAction* markers) {
    menu->clear();
    // The panels first (the window owns their action), then the documents.
    if (markers) {
        menu->addAction(markers);
        menu->addSeparator();
    }
    QWidget* active = QApplication::activeWindow();
    bool any = false;
    for (auto& d : ZQDocumentController::sharedDocumentController().documents()) {
        auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get());
        QPointer<ZQDocumentWindow> w = windowOf(doc);
        if (!w || !w->isVisible()) continue;
        any = true;
        // The window's title: its file's name, told apart from another of
        // the same name by its folder ("&" is no shortcut key here).
        QAction* a = menu->addAction(w->windowTitle().replace(QLatin1Char('&'), QLatin1String("&&")));
        a->setCheckable(true);
        a->setChecked(w == active);
        connect(a, &QAction::triggered, this, [w] {
            if (!w) return;
            if (w->isMinimized()) w->showNormal();
            w->raise();
            w->activateWindow();
        });
    }
    if (!any) menu->addAction(QStringLiteral("No Documents"))->setEnabled(false);
}
