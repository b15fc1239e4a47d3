#include "app/ZQQtWindowSide.h"

#include "app/AccessKeys.h"
#include "app/DocumentNames.h"
#include "app/FileOpening.h"
#include "app/RecentFiles.h"
#include "app/ZQApplicationMenus.h"
#include "app/ZQApplicationShell.h"
#include "app/ZQAudioFilePropertiesPanel.h"
#include "app/ZQExportProgressWindow.h"
#include "app/ZQImportProgressWindow.h"
#include "audiofile/AudioFileExport.h"
#include "document/DocumentExporter.h"
#include "document/DocumentPreferences.h"
#include "document/ZQDocumentController.h"

#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "platform/threads/Threads.h"
#include "window/ZQTransportBarBox.h"
#include "window/ZQWaveformDisplayController.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <array>
#include <functional>
#include <memory>
#include <vector>

using platform::Ref;

namespace {

ZQWaveformDisplayController* displayOf(ZQAudioFileDocument* document) {
    return document ? dynamic_cast<ZQWaveformDisplayController*>(document->waveformDisplayController()) : nullptr;
}

// How far each new window moves from the last, right and down.
constexpr int kCascadeStep = 22;

QString exportNameFilter(const QString& ext) {
    if (ext == QLatin1String("aif")) return QStringLiteral("AIFF audio file (*.aif *.aiff)");
    if (ext == QLatin1String("flac")) return QStringLiteral("FLAC audio file (*.flac)");
    if (ext == QLatin1String("ogg")) return QStringLiteral("Ogg Vorbis audio file (*.ogg *.oga)");
    if (ext == QLatin1String("opus")) return QStringLiteral("Opus audio file (*.opus)");
    if (ext == QLatin1String("mp3")) return QStringLiteral("MP3 audio file (*.mp3)");
    return QStringLiteral("WAV audio file (*.wav)");
}

// The encoder's setting for an encoded format, as a choice under the file
// name: chosen as the dialog last left it, and remembered when it is
// accepted (the function returned keeps it; none for WAV and AIFF).
std::function<void()> addEncoderSettings(QFileDialog* dialog, const QString& ext) {
    auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
    if (!grid) return {};
    using Settings = platform::audio::EncoderSettings;
    struct Choice {
        QString text;
        std::function<void(Settings&)> apply;
        std::function<bool(const Settings&)> isCurrent;
    };
    std::vector<Choice> choices;
    QString label;
    if (ext == QLatin1String("flac")) {
        label = QStringLiteral("Co&mpression:");
        for (int level = 0; level <= 8; ++level)
            choices.push_back({QStringLiteral("Level %1%2")
                                   .arg(level)
                                   .arg(level == 0   ? QStringLiteral(" (fastest)")
                                        : level == 8 ? QStringLiteral(" (smallest)")
                                                     : QString()),
                               [level](Settings& s) { s.flacLevel = level; },
                               [level](const Settings& s) { return s.flacLevel == level; }});
    } else if (ext == QLatin1String("ogg")) {
        label = QStringLiteral("&Quality:");
        for (int q = 0; q <= 10; ++q)
            // The encoder's nominal rates for stereo at 44.1 kHz.
            choices.push_back({QStringLiteral("%1 (about %2 kbit/s)")
                                   .arg(q)
                                   .arg(std::array{64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 500}[std::size_t(q)]),
                               [q](Settings& s) { s.vorbisQuality = q; },
                               [q](const Settings& s) { return int(s.vorbisQuality + 0.5) == q; }});
    } else if (ext == QLatin1String("opus")) {
        label = QStringLiteral("&Bit rate:");
        for (int kbps : {32, 48, 64, 96, 128, 160, 192, 256})
            choices.push_back({QStringLiteral("%1 kbit/s").arg(kbps), [kbps](Settings& s) { s.opusKbps = kbps; },
                               [kbps](const Settings& s) { return s.opusKbps == kbps; }});
    } else if (ext == QLatin1String("mp3")) {
        label = QStringLiteral("&Bit rate:");
        for (int kbps : {96, 128, 160, 192, 256, 320})
            choices.push_back({QStringLiteral("%1 kbit/s, constant").arg(kbps),
                               [kbps](Settings& s) { s.mp3Kbps = kbps, s.mp3VbrQuality = -1; },
                               [kbps](const Settings& s) { return s.mp3VbrQuality < 0 && s.mp3Kbps == kbps; }});
        for (int q : {0, 2, 4, 6})
            choices.push_back(
                {QStringLiteral("Variable, quality %1%2").arg(q).arg(q == 0 ? QStringLiteral(" (best)") : QString()),
                 [q](Settings& s) { s.mp3VbrQuality = q; }, [q](const Settings& s) { return s.mp3VbrQuality == q; }});
    } else {
        return {};
    }
    // One setting row at a time: Save As puts the chosen format's in place of the last one's.
    for (QWidget* old : dialog->findChildren<QWidget*>(QStringLiteral("encoderSettingRow"), Qt::FindDirectChildrenOnly))
        delete old;
    auto* name = new QLabel(label, dialog);
    name->setObjectName(QStringLiteral("encoderSettingRow"));
    auto* box = new QComboBox(dialog);
    box->setObjectName(QStringLiteral("encoderSetting"));
    name->setBuddy(box);
    const Settings current = ZQ::DocumentPreferences::encoderSettings();
    for (std::size_t i = 0; i < choices.size(); ++i) {
        box->addItem(choices[i].text);
        if (choices[i].isCurrent(current)) box->setCurrentIndex(int(i));
    }
    const int row = grid->rowCount();
    grid->addWidget(name, row, 0);
    grid->addWidget(box, row, 1);
    QObject::connect(name, &QObject::destroyed, box, &QObject::deleteLater); // the row goes as one
    return [box, choices] {
        Settings s = ZQ::DocumentPreferences::encoderSettings();
        const int i = box->currentIndex();
        if (i >= 0 && std::size_t(i) < choices.size()) choices[std::size_t(i)].apply(s);
        ZQ::DocumentPreferences::setEncoderSettings(s);
    };
}

// The conversion's rows under the name: the dither of a requantisation
// (Save As and Export), and for an exported copy its sample rate; chosen as
// they were last left, and remembered when the dialog is accepted.
std::function<void()> addConversionRows(QFileDialog* dialog, bool withRate, double documentRate) {
    auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
    if (!grid) return {};
    const ZQ::AudioFileExport::Conversion current = ZQ::DocumentPreferences::exportConversion();
    auto addRow = [&](const QString& label, const char* name) {
        auto* text = new QLabel(label, dialog);
        auto* box = new QComboBox(dialog);
        box->setObjectName(QString::fromLatin1(name));
        text->setBuddy(box);
        const int row = grid->rowCount();
        grid->addWidget(text, row, 0);
        grid->addWidget(box, row, 1);
        return box;
    };
    QComboBox* rate = nullptr;
    if (withRate) {
        rate = addRow(QStringLiteral("Sample &rate:"), "exportRate");
        rate->addItem(QStringLiteral("The document's (%1 Hz)").arg(documentRate), 0.0);
        for (double r :
             {8000.0, 11025.0, 16000.0, 22050.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0}) {
            if (r == documentRate) continue;
            rate->addItem(QStringLiteral("%1 Hz").arg(r), r);
            if (r == current.rate) rate->setCurrentIndex(rate->count() - 1);
        }
    }
    QComboBox* dither = addRow(QStringLiteral("&Dither:"), "exportDither");
    using D = ZQ::Requantizer::Dither;
    dither->addItem(QStringLiteral("Triangular (TPDF)"), int(D::Triangular));
    dither->addItem(QStringLiteral("Shaped (noise above 6 kHz)"), int(D::Shaped));
    dither->addItem(QStringLiteral("None"), int(D::None));
    dither->setToolTip(QStringLiteral("Applied only where samples are written with fewer bits than they carry"));
    dither->setCurrentIndex(dither->findData(int(current.dither)));
    return [rate, dither] {
        if (rate) ZQ::DocumentPreferences::setExportRate(rate->currentData().toDouble());
        ZQ::DocumentPreferences::setExportDither(D(dither->currentData().toInt()));
    };
}

// The Export dialog. The name chosen takes the format's extension ("x.wav"
// for an AIFF export is written as "x.aif"), and the question whether to
// replace a file is asked of the file that will be written: the dialog's
// own question, for the name as it was given, would name another file. The
// dialog is Qt's own, so that the check comes before it closes.
class ExportDialog final : public QFileDialog {
public:
    ExportDialog(QWidget* parent, const QString& extension)
        : QFileDialog(parent, QStringLiteral("Export")), extension_(extension) {
        setOption(QFileDialog::DontUseNativeDialog);
    }
    // The file to write, once accepted.
    QString chosenFile() const { return chosen_; }
    // The format's extension the name is given (Save As follows the format chosen).
    void setExtension(const QString& extension) { extension_ = extension; }

protected:
    void accept() override {
        const QStringList files = selectedFiles();
        chosen_.clear();
        if (files.size() != 1 || QFileInfo(files.first()).isDir()) {
            QFileDialog::accept(); // a folder opens in the dialog
            return;
        }
        const QString fixed = ZQQtWindowSide::withFormatExtension(files.first(), extension_);
        if (fixed == files.first()) {
            chosen_ = fixed;
            QFileDialog::accept(); // asks before replacing, and stays open on No
            return;
        }
        const QFileInfo target(fixed);
        if (target.isDir()) {
            warn(QStringLiteral("%1 is a folder.\nPlease choose another name.").arg(target.fileName()));
            return;
        }
        if (target.exists() &&
            warn(QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(target.fileName()),
                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
            return; // the dialog stays open for another name
        chosen_ = fixed;
        QDialog::accept();
    }

private:
    // A note or a question on the dialog, its buttons with access keys; the
    // button chosen.
    int warn(const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
             QMessageBox::StandardButton preset = QMessageBox::NoButton) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), text, buttons, this);
        box.setObjectName(QStringLiteral("exportQuestion"));
        if (preset != QMessageBox::NoButton) box.setDefaultButton(preset);
        ZQ::AccessKeys::give(&box);
        return box.exec();
    }

    QString extension_;
    QString chosen_;
};

} // namespace

QString ZQQtWindowSide::withFormatExtension(const QString& file, const QString& extension) {
    const QFileInfo info(file);
    const QString suffix = info.suffix().toLower();
    // The format's extension, and the other one its files may have.
    const QString alias = extension == QLatin1String("aif")   ? QStringLiteral("aiff")
                          : extension == QLatin1String("ogg") ? QStringLiteral("oga")
                                                              : extension;
    if (!suffix.isEmpty() && (suffix == extension || suffix == alias)) return file;
    QString stem = file;
    if (stem.endsWith(QLatin1Char('.'))) stem.chop(1);
    if (!suffix.isEmpty() && !ZQDocumentController::typeForExtension(suffix.toStdString()).empty())
        stem.chop(suffix.size() + 1); // another audio type's extension goes
    return stem + QLatin1Char('.') + extension;
}

void ZQQtWindowSide::retitleWindows(ZQAudioFileDocument* leaving) {
    if (!platform::Thread::isMainThread()) {
        // A closing document has let its window go by then.
        platform::performOnMainThread([] { retitleWindows(); });
        return;
    }
    struct Shown {
        ZQWaveformDisplayController* controller;
        QString path;
    };
    std::vector<Shown> shown;
    QStringList paths;
    for (auto& d : ZQDocumentController::sharedDocumentController().documents()) {
        auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get());
        if (!doc || doc == leaving) continue;
        ZQWaveformDisplayController* c = displayOf(doc);
        if (!c || !c->window()) continue;
        const QString path = QString::fromStdString(doc->fileName());
        shown.push_back({c, path});
        paths << path;
    }
    const QStringList names = ZQ::DocumentNames::distinguished(paths);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        ZQDocumentWindow* window = shown[i].controller->window();
        const QString name = shown[i].path.isEmpty() ? QString() : names[qsizetype(i)];
        // The display controller puts the changes mark before the title it
        // keeps in this property.
        if (window->property("zqUneditedTitle").toString() == name && !window->windowTitle().isEmpty()) continue;
        window->setProperty("zqUneditedTitle", name);
        window->setWindowTitle(name);
        shown[i].controller->documentEditedStateDidChange();
    }
}

ZQWaveformDisplayControllerBase* ZQQtWindowSide::createDisplayController(ZQAudioFileDocument* document) {
    return ZQWaveformDisplayController::initWithAudioFileDocument(document);
}

bool ZQQtWindowSide::prepareWindow(ZQAudioFileDocument*, ZQWaveformDisplayControllerBase* base) {
    auto* controller = dynamic_cast<ZQWaveformDisplayController*>(base);
    ZQDocumentWindow* window = controller ? controller->window() : nullptr;
    if (!window) return false;
    // Half the screen's available area in each direction; 800 x 600 without a screen.
    QSize size(800, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        size = QSize(available.width() / 2, available.height() / 2);
    }
    window->resize(size);
    window->move(0, 0);
    return true;
}

void ZQQtWindowSide::showWindow(ZQAudioFileDocument* document, ZQWaveformDisplayControllerBase* base) {
    auto* controller = dynamic_cast<ZQWaveformDisplayController*>(base);
    ZQDocumentWindow* window = controller ? controller->window() : nullptr;
    if (!window) return;
    window->setWindowFilePath(QString::fromStdString(document->fileName()));
    // Its title, and those of the others: one of them may share its name.
    retitleWindows();
    // Cascade from the top left of the screen, each window down and right of
    // the last; back to the corner once a window would leave the screen.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && !cascadeFromScreen_) {
        cascadeFromScreen_ = true;
        cascade_ = screen->availableGeometry().topLeft();
    }
    if (screen) {
        const QRect available = screen->availableGeometry();
        if (cascade_.x() + window->width() > available.right() || cascade_.y() + window->height() > available.bottom())
            cascade_ = available.topLeft();
    }
    window->move(cascade_);
    cascade_ += QPoint(kCascadeStep, kCascadeStep);
    ZQApplicationMenus::shared().install(window);
    ZQ::FileOpening::acceptFileDrops(window); // files dropped on it open beside it
    window->show();
    window->raise();
    window->activateWindow();
    // A new window is the frontmost: its document is the current one.
    ZQDocumentController::sharedDocumentController().setCurrentDocument(document);
    if (document->fileHasLoaded() && document->fileOpenError().empty()) {
        ZQ::RecentFiles::noteOpened(QString::fromStdString(document->fileName()));
        if (shown_) shown_(document);
    }
}

void ZQQtWindowSide::closeWindow(ZQAudioFileDocument* document) {
    if (ZQWaveformDisplayController* c = displayOf(document))
        if (ZQDocumentWindow* w = c->window()) w->closeForDocument();
    // A file that shared its name with this one has it to itself again.
    retitleWindows(document);
}

bool ZQQtWindowSide::runAlertSheet(ZQAudioFileDocument* document, const std::string& message, const std::string& button,
                                   const std::string& informativeText, std::function<void()> dismissed) {
    ZQWaveformDisplayController* c = displayOf(document);
    QWidget* parent = c ? c->window() : nullptr;
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false); // what ends the program follows the documents
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QString::fromStdString(message));
    box->setText(QString::fromStdString(message));
    box->setInformativeText(QString::fromStdString(informativeText));
    box->addButton(QString::fromStdString(button), QMessageBox::AcceptRole);
    ZQ::AccessKeys::give(box);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [dismissed](int) {
        if (dismissed) dismissed();
    });
    box->open();
    return true;
}

void ZQQtWindowSide::importDidBegin(ZQAudioFileDocument* document) {
    importDidEnd(document); // one window per open
    imports_[document] = new ZQImportProgressWindow(document);
}

void ZQQtWindowSide::importDidEnd(ZQAudioFileDocument* document) {
    auto it = imports_.find(document);
    if (it == imports_.end()) return;
    if (it->second) {
        it->second->hide();
        it->second->deleteLater();
    }
    imports_.erase(it);
}

void ZQQtWindowSide::openDidEndWithoutWindow(ZQAudioFileDocument*) {
    ZQApplicationDelegate::shared().quitIfNothingIsLeft();
}

void ZQQtWindowSide::exportDidBegin(ZQAudioFileDocument* document) {
    exportDidEnd(document); // one sheet per export
    ZQWaveformDisplayController* c = displayOf(document);
    exports_[document] = new ZQExportProgressWindow(document, c ? c->window() : nullptr);
}

void ZQQtWindowSide::exportDidEnd(ZQAudioFileDocument* document) {
    auto it = exports_.find(document);
    if (it == exports_.end()) return;
    if (it->second) {
        it->second->hide();
        it->second->deleteLater();
    }
    exports_.erase(it);
}

ZQExportProgressWindow* ZQQtWindowSide::exportProgressWindow(ZQAudioFileDocument* document) const {
    auto it = exports_.find(document);
    return it == exports_.end() ? nullptr : it->second.data();
}

void ZQQtWindowSide::exportNote(ZQAudioFileDocument* document, bool saved, std::uint64_t clipped,
                                std::uint64_t markersLeftOut) {
    ZQWaveformDisplayController* c = displayOf(document);
    QWidget* parent = c ? c->window() : nullptr;
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("exportNote"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false); // what ends the program follows the documents
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(saved ? QStringLiteral("Save") : QStringLiteral("Export"));
    box->setText(saved ? QStringLiteral("The audio file was saved.") : QStringLiteral("The audio file was exported."));
    QStringList notes;
    if (clipped > 0) notes << QString::fromStdString(ZQ::AudioFileExport::clippedNote(clipped)) + QLatin1Char('.');
    if (markersLeftOut > 0)
        notes << QString::fromStdString(ZQ::AudioFileExport::markersLeftOutNote(markersLeftOut)) + QLatin1Char('.');
    box->setInformativeText(notes.join(QLatin1Char('\n')));
    box->addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    ZQ::AccessKeys::give(box);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

ZQImportProgressWindow* ZQQtWindowSide::importProgressWindow(ZQAudioFileDocument* document) const {
    auto it = imports_.find(document);
    return it == imports_.end() ? nullptr : it->second.data();
}

double ZQQtWindowSide::displayRefreshRate(ZQAudioFileDocument* document) {
    const ZQWaveformDisplayController* c = displayOf(document);
    const QScreen* screen = c && c->window() ? c->window()->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->refreshRate() : 0.0;
}

ZQTransportBar* ZQQtWindowSide::createTransportBar(ZQAudioFileDocumentTransportController* controller) {
    Ref<ZQAudioFileDocument> doc = controller ? controller->document() : Ref<ZQAudioFileDocument>();
    ZQWaveformDisplayController* c = displayOf(doc.get());
    ZQDocumentWindow* window = c ? c->window() : nullptr;
    if (!window) return nullptr;
    return ZQTransportBarBox::create(controller, window);
}

bool ZQQtWindowSide::runQuestion(ZQAudioFileDocument* document, const std::string& message,
                                 const std::string& informativeText, const std::string& accept,
                                 std::function<void(bool)> answered) {
    ZQWaveformDisplayController* c = displayOf(document);
    QWidget* parent = c ? c->window() : nullptr;
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("question"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setIcon(QMessageBox::Question);
    box->setWindowTitle(QString::fromStdString(message));
    box->setText(QString::fromStdString(message));
    box->setInformativeText(QString::fromStdString(informativeText));
    QPushButton* yes = box->addButton(QString::fromStdString(accept), QMessageBox::AcceptRole);
    QPushButton* no = box->addButton(QStringLiteral("&Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(yes);
    box->setEscapeButton(no);
    ZQ::AccessKeys::give(box);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, yes, answered](int) {
        if (answered) answered(box->clickedButton() == yes);
    });
    box->open();
    return true;
}

void ZQQtWindowSide::documentWasSaved(ZQAudioFileDocument* document) {
    retitleWindows();
    if (document) ZQ::RecentFiles::noteOpened(QString::fromStdString(document->fileName()));
    ZQAudioFilePropertiesPanelController::propertiesPanel()->updateForCurrent();
}

bool ZQQtWindowSide::runSaveAsPanel(ZQAudioFileDocument* document, const std::vector<SaveFormat>& formats,
                                    int preferred, const std::string& proposedName, SaveAsPanelDone done) {
    if (formats.empty()) return false;
    ZQWaveformDisplayController* c = displayOf(document);
    QWidget* parent = c ? c->window() : nullptr;
    preferred = std::clamp(preferred, 0, int(formats.size()) - 1);
    auto extensionOf = [formats](int i) { return QString::fromStdString(formats[std::size_t(i)].extension); };
    QStringList filters;
    for (const SaveFormat& f : formats)
        filters
            << QStringLiteral("%1 (*.%2)").arg(QString::fromStdString(f.title), QString::fromStdString(f.extension));
    auto* dialog = new ExportDialog(parent, extensionOf(preferred));
    dialog->setObjectName(QStringLiteral("saveAsDialog"));
    dialog->setWindowTitle(QStringLiteral("Save As"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("&Cancel"));
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters[preferred]);
    dialog->setDefaultSuffix(extensionOf(preferred));
    dialog->setDirectory(ZQ::FileOpening::dialogFolder(document));
    dialog->selectFile(QString::fromStdString(proposedName) + QLatin1Char('.') + extensionOf(preferred));
    // The dither, and the encoder's setting of the format chosen, kept when
    // the dialog is accepted.
    std::function<void()> keepConversion = addConversionRows(dialog, false, 0);
    auto keepSettings = std::make_shared<std::function<void()>>(addEncoderSettings(dialog, extensionOf(preferred)));
    // The name and the setting follow the format chosen.
    QObject::connect(
        dialog, &QFileDialog::filterSelected, dialog, [dialog, filters, extensionOf, keepSettings](const QString& f) {
            const int i = int(filters.indexOf(f));
            if (i < 0) return;
            *keepSettings = addEncoderSettings(dialog, extensionOf(i));
            if (!*keepSettings)
                for (QWidget* old :
                     dialog->findChildren<QWidget*>(QStringLiteral("encoderSettingRow"), Qt::FindDirectChildrenOnly))
                    delete old;
            dialog->setExtension(extensionOf(i));
            dialog->setDefaultSuffix(extensionOf(i));
            const QStringList chosen = dialog->selectedFiles();
            if (chosen.size() == 1 && !QFileInfo(chosen.first()).isDir())
                dialog->selectFile(
                    QFileInfo(ZQQtWindowSide::withFormatExtension(chosen.first(), extensionOf(i))).fileName());
        });
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, done, filters, keepSettings, keepConversion](int result) {
                         const QString chosen = dialog->chosenFile();
                         const int format = int(filters.indexOf(dialog->selectedNameFilter()));
                         if (result != QDialog::Accepted || chosen.isEmpty() || format < 0) {
                             done(false, std::string(), std::string(), -1);
                             return;
                         }
                         if (*keepSettings) (*keepSettings)(); // before the save reads them
                         if (keepConversion) keepConversion();
                         const QFileInfo file(chosen);
                         ZQ::FileOpening::rememberFolder(file.absolutePath());
                         done(true, file.absolutePath().toStdString(), file.absoluteFilePath().toStdString(), format);
                     });
    dialog->open();
    return true;
}

bool ZQQtWindowSide::runSavePanel(ZQAudioFileDocument* document, const std::string& extension,
                                  const std::string& proposedName, SavePanelDone done) {
    ZQWaveformDisplayController* c = displayOf(document);
    QWidget* parent = c ? c->window() : nullptr;
    const QString ext = QString::fromStdString(extension);
    auto* dialog = new ExportDialog(parent, ext);
    dialog->setObjectName(QStringLiteral("exportDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // Save has its access key already; the mode set above resets Cancel's text.
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("&Cancel"));
    dialog->setNameFilter(exportNameFilter(ext));
    std::function<void()> keepSettings = addEncoderSettings(dialog, ext);
    std::function<void()> keepConversion = addConversionRows(dialog, true, document ? document->sampleRate() : 0);
    // A name without an extension gets the format's (one with another
    // extension is corrected as the dialog accepts it).
    dialog->setDefaultSuffix(ext);
    dialog->setDirectory(ZQ::FileOpening::dialogFolder(document));
    dialog->selectFile(QString::fromStdString(proposedName) + QLatin1Char('.') + ext);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done, keepSettings, keepConversion](int result) {
        const QString chosen = dialog->chosenFile();
        if (result != QDialog::Accepted || chosen.isEmpty()) {
            done(false, std::string(), std::string());
            return;
        }
        if (keepSettings) keepSettings(); // before the export reads them
        if (keepConversion) keepConversion();
        const QFileInfo file(chosen);
        ZQ::FileOpening::rememberFolder(file.absolutePath());
        done(true, file.absolutePath().toStdString(), file.absoluteFilePath().toStdString());
    });
    dialog->open();
    return true;
}
