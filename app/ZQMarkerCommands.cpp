// The marker commands of the menus: Edit ▸ Add Marker (M) and Add Region
// (Shift+M); File ▸ Import Labels…, Export Labels… and Export Regions…;
// Window ▸ Markers. Each change of the markers is one undo step.
#include "app/AccessKeys.h"
#include "app/ZQApplicationMenus.h"
#include "app/ZQApplicationShell.h"
#include "app/ZQMarkersPanel.h"
#include "audiofile/LabelFile.h"
#include "audiofile/RegionSplit.h"
#include "document/DocumentPreferences.h"
#include "window/ZQWaveformDisplayController.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

using platform::Ref;
namespace audio = platform::audio;
namespace xp = ZQ::AudioFileExport;

namespace {

Ref<ZQAudioFileDocument> current() {
    return ZQApplicationDispatchCenter::currentAudioDocument();
}

ZQWaveformDisplayController* controllerOf(ZQAudioFileDocument* d) {
    return d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr;
}

ZQWindowMarkers* markersOf(ZQAudioFileDocument* d) {
    ZQWaveformDisplayController* c = controllerOf(d);
    return c ? &c->markerEditing() : nullptr;
}

QWidget* windowOf(ZQAudioFileDocument* d) {
    ZQWaveformDisplayController* c = controllerOf(d);
    return c ? c->window() : nullptr;
}

bool hasSamples(ZQAudioFileDocument* d) {
    return d && d->fileHasLoaded() && d->channelCount() > 0 && d->sampleCount(0).v_ > 0 && controllerOf(d) &&
           controllerOf(d)->waveform(0);
}

QString baseName(ZQAudioFileDocument* d) {
    return QFileInfo(QString::fromStdString(d->fileName())).completeBaseName();
}

void warn(QWidget* parent, const char* name, const QString& text, const QString& why) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Markers"), text, QMessageBox::Ok, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setInformativeText(why);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

QFileDialog* labelDialog(QWidget* parent, bool save, const QString& title) {
    auto* dialog = new QFileDialog(parent, title);
    dialog->setObjectName(save ? QStringLiteral("exportLabelsDialog") : QStringLiteral("importLabelsDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setNameFilters({QStringLiteral("Label files (*.txt *.csv)"), QStringLiteral("All files (*)")});
    dialog->setWindowModality(Qt::WindowModal);
    return dialog;
}

void importLabels() {
    Ref<ZQAudioFileDocument> d = current();
    if (!hasSamples(d.get())) return;
    QFileDialog* dialog = labelDialog(windowOf(d.get()), false, QStringLiteral("Import Labels"));
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [d](const QString& file) {
        ZQ::MarkerList read;
        std::string why;
        if (!ZQ::readLabelFile(file.toStdString(), d->sampleRate(), &read, &why)) {
            warn(windowOf(d.get()), "importLabelsFailure",
                 QStringLiteral("The labels of \u201c%1\u201d could not be read.").arg(QFileInfo(file).fileName()),
                 QString::fromStdString(why));
            return;
        }
        // Added to the markers there are, as one step.
        std::vector<ZQ::Marker> all = d->markers().items();
        all.insert(all.end(), read.items().begin(), read.items().end());
        d->editMarkers("Import Labels", ZQ::MarkerList(std::move(all)));
    });
    dialog->open();
}

void exportLabels() {
    Ref<ZQAudioFileDocument> d = current();
    if (!hasSamples(d.get())) return;
    QFileDialog* dialog = labelDialog(windowOf(d.get()), true, QStringLiteral("Export Labels"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->selectFile(baseName(d.get()) + QStringLiteral(".txt"));
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [d](const QString& file) {
        std::string why;
        if (!ZQ::writeLabelFile(file.toStdString(), d->markers(), d->sampleRate(), &why))
            warn(windowOf(d.get()), "exportLabelsFailure",
                 QStringLiteral("The labels could not be written to \u201c%1\u201d.").arg(QFileInfo(file).fileName()),
                 QString::fromStdString(why));
    });
    dialog->open();
}

struct RegionFormat {
    const char* title;
    audio::FourCharCode type;
    int code;
    const char* extension;
};
const RegionFormat kRegionFormats[] = {
    {"WAV, 16-bit integer", audio::kAudioFileWAVEType, xp::kInteger16, "wav"},
    {"WAV, 32-bit integer", audio::kAudioFileWAVEType, xp::kInteger32, "wav"},
    {"WAV, 32-bit float", audio::kAudioFileWAVEType, xp::kFloat32, "wav"},
    {"AIFF, 16-bit integer", audio::kAudioFileAIFFType, xp::kInteger16, "aif"},
    {"AIFF, 32-bit integer", audio::kAudioFileAIFFType, xp::kInteger32, "aif"},
    {"FLAC, 16-bit", audio::kAudioFileFLACType, xp::kFlac16, "flac"},
    {"FLAC, 24-bit", audio::kAudioFileFLACType, xp::kFlac24, "flac"},
    {"Ogg Vorbis", audio::kAudioFileOggType, xp::kVorbis, "ogg"},
    {"Opus", audio::kAudioFileOggType, xp::kOpus, "opus"},
    {"MP3", audio::kAudioFileMP3Type, xp::kMp3, "mp3"},
};

// The pieces' writing on two workers of its own; it lives as long as its
// progress window, and ends (cancelled) with it.
class RegionsJob final : public QObject {
public:
    // Takes `store`, a copy of the document's samples.
    RegionsJob(QObject* parent, ZQ::AudioFileDocumentSampleData* store, std::vector<ZQ::SplitPiece> pieces,
               QString folder, RegionFormat format)
        : QObject(parent), pieces_(std::move(pieces)) {
        store_.reset(store);
        conversion_ = ZQ::DocumentPreferences::exportConversion();
        conversion_.rate = 0; // the pieces, joined, are the document
        encoder_ = ZQ::DocumentPreferences::encoderSettings();
        thread_ = std::thread([this, folder = folder.toStdString(), format] {
            ok_ = ZQ::writePieces(*store_, pieces_, folder, format.type, format.code, &encoder_, &progress_, &reason_,
                                  &conversion_);
            done_.store(true);
        });
    }
    ~RegionsJob() override {
        progress_.cancelled.store(true);
        if (thread_.joinable()) thread_.join();
    }
    bool done() const { return done_.load(); }
    void cancel() { progress_.cancelled.store(true); }
    double fraction() const { return progress_.fraction(); }
    bool ok() const { return ok_; }
    bool cancelled() const { return progress_.cancelled.load(); }
    const std::string& reason() const { return reason_; }

private:
    ZQ::SampleDataHolder store_;
    std::vector<ZQ::SplitPiece> pieces_;
    xp::Conversion conversion_;
    audio::EncoderSettings encoder_;
    ZQ::SplitProgress progress_;
    std::string reason_;
    bool ok_ = false;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

void writeRegions(Ref<ZQAudioFileDocument> d, const QString& folder, const RegionFormat& format) {
    QWidget* window = windowOf(d.get());
    std::vector<ZQ::SplitPiece> pieces =
        ZQ::splitPieces(d->markers(), d->sampleCount(0).v_, baseName(d.get()).toStdString(), format.extension);
    ZQ::SampleDataHolder store(d->createCopyData());
    if (pieces.empty() || store.isEmpty()) return;
    ZQ::AudioFileDocumentSampleData* samples = store.detach();
    auto* progress = new QProgressDialog(QStringLiteral("Exporting %1 pieces\u2026").arg(pieces.size()),
                                         QStringLiteral("&Cancel"), 0, 1000, window);
    progress->setObjectName(QStringLiteral("exportRegionsProgress"));
    progress->setWindowTitle(QStringLiteral("Export Regions"));
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setAttribute(Qt::WA_QuitOnClose, false);
    progress->setWindowModality(Qt::WindowModal);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(300);
    auto* job = new RegionsJob(progress, samples, std::move(pieces), folder, format);
    QObject::connect(progress, &QProgressDialog::canceled, job, [job] { job->cancel(); });
    auto* timer = new QTimer(progress);
    QPointer<QWidget> owner = window;
    QObject::connect(timer, &QTimer::timeout, progress, [progress, job, timer, owner] {
        progress->setValue(int(job->fraction() * 1000));
        if (!job->done()) return;
        timer->stop();
        const bool failed = !job->ok() && !job->cancelled();
        const QString why = QString::fromStdString(job->reason());
        progress->close();
        if (failed) warn(owner, "exportRegionsFailure", QStringLiteral("The regions could not all be exported."), why);
    });
    timer->start(50);
    progress->show();
}

void runExportRegions() {
    Ref<ZQAudioFileDocument> d = current();
    if (!hasSamples(d.get()) || d->markers().empty()) return;
    QWidget* window = windowOf(d.get());
    auto* dialog = new QDialog(window);
    dialog->setObjectName(QStringLiteral("exportRegionsDialog"));
    dialog->setWindowTitle(QStringLiteral("Export Regions"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    dialog->setWindowModality(Qt::WindowModal);
    auto* form = new QFormLayout(dialog);
    auto* folder = new QLineEdit(dialog);
    folder->setObjectName(QStringLiteral("exportRegionsFolder"));
    QSettings settings;
    folder->setText(settings
                        .value(QStringLiteral("ZQExport/RegionsFolder"),
                               QFileInfo(QString::fromStdString(d->fileName())).absolutePath())
                        .toString());
    auto* choose = new QPushButton(QStringLiteral("C&hoose\u2026"), dialog);
    choose->setObjectName(QStringLiteral("chooseRegionsFolder"));
    auto* row = new QHBoxLayout;
    row->addWidget(folder, 1);
    row->addWidget(choose);
    auto* folderLabel = new QLabel(QStringLiteral("&Folder:"), dialog);
    folderLabel->setBuddy(folder);
    form->addRow(folderLabel, row);
    auto* format = new QComboBox(dialog);
    format->setObjectName(QStringLiteral("exportRegionsFormat"));
    for (const RegionFormat& f : kRegionFormats)
        format->addItem(QString::fromUtf8(f.title));
    format->setCurrentIndex(std::clamp(settings.value(QStringLiteral("ZQExport/RegionsFormat"), 0).toInt(), 0,
                                       int(std::size(kRegionFormats)) - 1));
    auto* formatLabel = new QLabel(QStringLiteral("F&ormat:"), dialog);
    formatLabel->setBuddy(format);
    form->addRow(formatLabel, format);
    auto* summary = new QLabel(dialog);
    summary->setObjectName(QStringLiteral("exportRegionsSummary"));
    summary->setWordWrap(true);
    form->addRow(summary);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Export"));
    form->addRow(buttons);
    // What will be written, named as the files will be.
    auto describe = [d, format, summary] {
        const RegionFormat& f = kRegionFormats[std::max(0, format->currentIndex())];
        const auto pieces =
            ZQ::splitPieces(d->markers(), d->sampleCount(0).v_, baseName(d.get()).toStdString(), f.extension);
        bool regions = false;
        for (const ZQ::Marker& m : d->markers().items())
            regions = regions || m.isRegion();
        QStringList names;
        for (std::size_t i = 0; i < pieces.size() && i < 5; ++i)
            names << QString::fromStdString(pieces[i].fileName);
        if (pieces.size() > 5) names << QStringLiteral("\u2026");
        summary->setText(QStringLiteral("%1 %2: %3")
                             .arg(pieces.size())
                             .arg(regions ? QStringLiteral("regions") : QStringLiteral("pieces between the markers"))
                             .arg(names.join(QStringLiteral(", "))));
    };
    describe();
    QObject::connect(format, &QComboBox::currentIndexChanged, dialog, describe);
    QObject::connect(choose, &QPushButton::clicked, dialog, [dialog, folder] {
        auto* picker = new QFileDialog(dialog, QStringLiteral("Choose a Folder"), folder->text());
        picker->setObjectName(QStringLiteral("regionsFolderDialog"));
        picker->setAttribute(Qt::WA_DeleteOnClose);
        picker->setFileMode(QFileDialog::Directory);
        picker->setOption(QFileDialog::ShowDirsOnly);
        picker->setWindowModality(Qt::WindowModal);
        QObject::connect(picker, &QFileDialog::fileSelected, folder, &QLineEdit::setText);
        picker->open();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [d, dialog, folder, format, window] {
        const QString where = folder->text();
        if (!QFileInfo(where).isDir()) {
            warn(dialog, "exportRegionsFailure", QStringLiteral("There is no folder \u201c%1\u201d.").arg(where),
                 QStringLiteral("Choose a folder the pieces can be written to."));
            return;
        }
        const RegionFormat f = kRegionFormats[std::max(0, format->currentIndex())];
        QSettings s;
        s.setValue(QStringLiteral("ZQExport/RegionsFolder"), where);
        s.setValue(QStringLiteral("ZQExport/RegionsFormat"), format->currentIndex());
        const auto pieces =
            ZQ::splitPieces(d->markers(), d->sampleCount(0).v_, baseName(d.get()).toStdString(), f.extension);
        QStringList existing;
        for (const ZQ::SplitPiece& p : pieces)
            if (QFileInfo::exists(QDir(where).filePath(QString::fromStdString(p.fileName))))
                existing << QString::fromStdString(p.fileName);
        dialog->accept();
        if (existing.isEmpty()) return writeRegions(d, where, f);
        // Files of the same names are replaced only when the user says so.
        auto* ask = new QMessageBox(
            QMessageBox::Question, QStringLiteral("Export Regions"),
            existing.size() == 1 ? QStringLiteral("\u201c%1\u201d already exists. Replace it?").arg(existing[0])
                                 : QStringLiteral("%1 of the files already exist. Replace them?").arg(existing.size()),
            QMessageBox::Cancel, window);
        ask->setObjectName(QStringLiteral("exportRegionsReplace"));
        ask->setInformativeText(existing.join(QStringLiteral(", ")));
        QPushButton* replace = ask->addButton(QStringLiteral("&Replace"), QMessageBox::AcceptRole);
        ask->setAttribute(Qt::WA_DeleteOnClose);
        ask->setWindowModality(Qt::WindowModal);
        QObject::connect(ask, &QMessageBox::buttonClicked, ask, [d, where, f, replace](QAbstractButton* b) {
            if (b == replace) writeRegions(d, where, f);
        });
        ask->open();
    });
    ZQ::AccessKeys::give(dialog);
    dialog->open();
}

} // namespace

void ZQApplicationMenus::installMarkerFileItems(QMenu* file) {
    add(
        file, "exportRegions", QStringLiteral("Export &Regions\u2026"), {},
        [] {
            Ref<ZQAudioFileDocument> d = current();
            return hasSamples(d.get()) && !d->markers().empty();
        },
        [] { runExportRegions(); });
    add(
        file, "importLabels", QStringLiteral("&Import Labels\u2026"), {}, [] { return hasSamples(current().get()); },
        [] { importLabels(); });
    add(
        file, "exportLabels", QStringLiteral("Export &Labels\u2026"), {},
        [] {
            Ref<ZQAudioFileDocument> d = current();
            return hasSamples(d.get()) && !d->markers().empty();
        },
        [] { exportLabels(); });
}

void ZQApplicationMenus::installMarkerEditItems(QMenu* edit) {
    add(
        edit, "addMarker", QStringLiteral("Add &Marker"), QKeySequence(Qt::Key_M),
        [] {
            ZQWindowMarkers* m = markersOf(current().get());
            return m && m->canAddMarker();
        },
        [] {
            if (ZQWindowMarkers* m = markersOf(current().get())) m->addMarker();
        });
    add(
        edit, "addRegion", QStringLiteral("Add Re&gion"), QKeySequence(Qt::SHIFT | Qt::Key_M),
        [] {
            ZQWindowMarkers* m = markersOf(current().get());
            return m && m->canAddRegion();
        },
        [] {
            if (ZQWindowMarkers* m = markersOf(current().get())) m->addRegion();
        });
}

QAction* ZQApplicationMenus::markersPanelAction(QWidget* window) {
    auto* a = new QAction(QStringLiteral("&Markers"), window);
    a->setObjectName(QStringLiteral("markersPanel"));
    a->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_M));
    connect(a, &QAction::triggered, a, [] { ZQMarkersPanel::showPanel(); });
    return a;
}
