// Process: commands that change the samples of the selection, or of the
// whole document when nothing is selected; each one undo step.
#include "app/AccessKeys.h"
#include "app/ZQApplicationMenus.h"
#include "app/ZQApplicationShell.h"
#include "window/ZQWaveform.h"
#include "window/ZQWaveformDisplayController.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>

#include <cmath>
#include <functional>

using platform::Ref;
using Kind = ZQ::RangeProcess::Kind;
using Curve = ZQ::RangeProcess::Curve;

namespace {

Ref<ZQAudioFileDocument> current() {
    return ZQApplicationDispatchCenter::currentAudioDocument();
}

ZQWaveformDisplayController* controllerOf(ZQAudioFileDocument* d) {
    return d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr;
}

bool canProcess() {
    Ref<ZQAudioFileDocument> d = current();
    return d && d->fileHasLoaded() && d->channelCount() > 0 && d->sampleCount(0).v_ > 0 && !d->isExporting() &&
           controllerOf(d.get()) && controllerOf(d.get())->waveform(0);
}

// The selection, or the whole document when only a point is selected.
ZQ::Num::SampleRange targetOf(ZQAudioFileDocument* d) {
    const ZQ::SampleSelection s = controllerOf(d)->waveform(0)->selection();
    if (s.min_.v_ < s.max_.v_) return s;
    return {ZQ::Num::Count(0ull), ZQ::Num::Count(d->sampleCount(0).v_ - 1)};
}

void reportFailure(ZQAudioFileDocument* d, const std::string& why) {
    ZQWaveformDisplayController* c = controllerOf(d);
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Process"),
                                QStringLiteral("The samples could not be processed."), QMessageBox::Ok,
                                c ? c->window() : nullptr);
    box->setObjectName(QStringLiteral("processFailure"));
    box->setInformativeText(QString::fromStdString(why));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void run(const std::string& name, const ZQ::RangeProcess& process) {
    Ref<ZQAudioFileDocument> d = current();
    if (!d || !canProcess()) return;
    std::string why;
    if (!d->processRange(name, process, targetOf(d.get()), &why) && !why.empty()) reportFailure(d.get(), why);
}

QDoubleSpinBox* decibels(QWidget* parent, const char* name, double low, double high, double value,
                         const QString& suffix) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(low, high);
    box->setDecimals(1);
    box->setSingleStep(0.5);
    box->setSuffix(suffix);
    box->setValue(value);
    return box;
}

// A small modal dialog of labelled fields; `accepted` runs on OK.
QDialog* fieldsDialog(const char* name, const QString& title, ZQAudioFileDocument* d) {
    ZQWaveformDisplayController* c = controllerOf(d);
    auto* dialog = new QDialog(c ? c->window() : nullptr);
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setWindowTitle(title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    dialog->setWindowModality(Qt::WindowModal);
    new QFormLayout(dialog);
    return dialog;
}

void finish(QDialog* dialog, std::function<void()> accepted) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    static_cast<QFormLayout*>(dialog->layout())->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(dialog, &QDialog::accepted, dialog, std::move(accepted));
    ZQ::AccessKeys::give(dialog);
    dialog->open();
}

void askGain() {
    Ref<ZQAudioFileDocument> d = current();
    if (!d || !canProcess()) return;
    QSettings settings;
    QDialog* dialog = fieldsDialog("gainDialog", QStringLiteral("Gain"), d.get());
    QDoubleSpinBox* gain =
        decibels(dialog, "gain", -96.0, 48.0, settings.value(QStringLiteral("ZQProcess/gainDb"), -6.0).toDouble(),
                 QStringLiteral(" dB"));
    static_cast<QFormLayout*>(dialog->layout())->addRow(QStringLiteral("&Gain:"), gain);
    finish(dialog, [gain] {
        const double db = gain->value();
        QSettings().setValue(QStringLiteral("ZQProcess/gainDb"), db);
        run("Gain", {Kind::Gain, std::pow(10.0, db / 20.0)});
    });
}

void askNormalise() {
    Ref<ZQAudioFileDocument> d = current();
    if (!d || !canProcess()) return;
    QSettings settings;
    QDialog* dialog = fieldsDialog("normaliseDialog", QStringLiteral("Normalise"), d.get());
    auto* form = static_cast<QFormLayout*>(dialog->layout());
    auto* mode = new QComboBox(dialog);
    mode->setObjectName(QStringLiteral("normaliseTo"));
    mode->addItems({QStringLiteral("Peak level"), QStringLiteral("Loudness (EBU R 128)")});
    const bool loudness = settings.value(QStringLiteral("ZQProcess/normaliseLoudness"), false).toBool();
    mode->setCurrentIndex(loudness ? 1 : 0);
    QDoubleSpinBox* peak =
        decibels(dialog, "peakTarget", -60.0, 0.0,
                 settings.value(QStringLiteral("ZQProcess/peakDbfs"), -1.0).toDouble(), QStringLiteral(" dBFS"));
    QDoubleSpinBox* lufs =
        decibels(dialog, "loudnessTarget", -70.0, 0.0,
                 settings.value(QStringLiteral("ZQProcess/loudnessLufs"), -23.0).toDouble(), QStringLiteral(" LUFS"));
    QDoubleSpinBox* ceiling =
        decibels(dialog, "truePeakCeiling", -20.0, 0.0,
                 settings.value(QStringLiteral("ZQProcess/ceilingDbtp"), -1.0).toDouble(), QStringLiteral(" dBTP"));
    form->addRow(QStringLiteral("&To:"), mode);
    form->addRow(QStringLiteral("&Peak:"), peak);
    form->addRow(QStringLiteral("&Loudness:"), lufs);
    form->addRow(QStringLiteral("True-peak &ceiling:"), ceiling);
    auto show = [form, peak, lufs, ceiling](int index) {
        form->setRowVisible(peak, index == 0);
        form->setRowVisible(lufs, index == 1);
        form->setRowVisible(ceiling, index == 1);
    };
    show(mode->currentIndex());
    QObject::connect(mode, &QComboBox::currentIndexChanged, dialog, show);
    finish(dialog, [mode, peak, lufs, ceiling] {
        const bool toLoudness = mode->currentIndex() == 1;
        QSettings s;
        s.setValue(QStringLiteral("ZQProcess/normaliseLoudness"), toLoudness);
        s.setValue(QStringLiteral("ZQProcess/peakDbfs"), peak->value());
        s.setValue(QStringLiteral("ZQProcess/loudnessLufs"), lufs->value());
        s.setValue(QStringLiteral("ZQProcess/ceilingDbtp"), ceiling->value());
        Ref<ZQAudioFileDocument> d = current();
        if (!d || !canProcess()) return;
        std::string why;
        if (!d->normaliseRange(targetOf(d.get()), toLoudness, toLoudness ? lufs->value() : peak->value(),
                               ceiling->value(), &why) &&
            !why.empty())
            reportFailure(d.get(), why);
    });
}

} // namespace

QMenu* ZQApplicationMenus::installProcessMenu(QMenuBar* bar) {
    QMenu* process = bar->addMenu(QStringLiteral("&Process"));
    process->setObjectName(QStringLiteral("processMenu"));
    add(process, "gain", QStringLiteral("&Gain\u2026"), {}, canProcess, askGain);
    add(process, "normalise", QStringLiteral("&Normalise\u2026"), {}, canProcess, askNormalise);
    process->addSeparator();
    const struct {
        const char* menu;
        const char* name[2];
        Kind kind;
        const char* step;
    } fades[] = {
        {"Fade &In", {"fadeInLinear", "fadeInEqualPower"}, Kind::FadeIn, "Fade In"},
        {"Fade &Out", {"fadeOutLinear", "fadeOutEqualPower"}, Kind::FadeOut, "Fade Out"},
    };
    for (const auto& f : fades) {
        QMenu* sub = process->addMenu(QString::fromUtf8(f.menu));
        const Kind kind = f.kind;
        const std::string step = f.step;
        add(sub, f.name[0], QStringLiteral("&Linear"), {}, canProcess, [kind, step] {
            run(step, {kind, 1.0, Curve::Linear});
        });
        add(sub, f.name[1], QStringLiteral("&Equal Power"), {}, canProcess, [kind, step] {
            run(step, {kind, 1.0, Curve::EqualPower});
        });
        connect(process, &QMenu::aboutToShow, sub, [sub] { sub->setEnabled(canProcess()); });
    }
    process->addSeparator();
    const struct {
        const char* name;
        const char* title;
        Kind kind;
        const char* step;
    } plain[] = {
        {"silence", "&Silence", Kind::Silence, "Silence"},
        {"reverse", "&Reverse", Kind::Reverse, "Reverse"},
        {"invert", "In&vert", Kind::Invert, "Invert"},
        {"removeDC", "Remove &DC", Kind::RemoveDC, "Remove DC"},
    };
    for (const auto& p : plain) {
        const Kind kind = p.kind;
        const std::string step = p.step;
        add(process, p.name, QString::fromUtf8(p.title), {}, canProcess, [kind, step] { run(step, {kind}); });
    }
    return process;
}
