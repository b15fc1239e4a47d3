#include "app/ZQStatisticsPanel.h"

#include "app/PanelClosing.h"
#include "audiofile/SequenceLoudness.h"
#include "core/values.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQDocumentController.h"
#include "platform/threads/Threads.h"
#include "window/ZQWaveform.h"
#include "window/ZQWaveformDisplayController.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

using platform::Ref;
using ZQ::Statistics::ChannelStatistics;

namespace {

const QString kPositionKey = QStringLiteral("ZQStatisticsPanel/position");
const QString kNoDocument = QStringLiteral("No document.");
constexpr int kWidth = 720;

const char* const kColumnTitles[ZQStatisticsPanel::kColumns] = {"Peak", "RMS", "DC offset", "Clipped samples",
                                                                "First peak at"};

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString timeText(double rate, std::uint64_t samples) {
    return text(ZQ::hmsText(ZQ::HMSTime(ZQ::sample_rate(rate), ZQ::Num::Count(samples))));
}

// The cells of one channel, in column order.
std::array<QString, ZQStatisticsPanel::kColumns> cellsOf(const ChannelStatistics& s, double rate) {
    using namespace ZQ::Statistics;
    return {
        text(dbfsText(s.peakDbfs())) + QStringLiteral(" (") + text(sampleValueText(s.peakValue)) + u')',
        text(dbfsText(s.rmsDbfs())),
        text(sampleValueText(s.dcOffset())),
        QString::number(s.clipped),
        QString::number(s.firstPeakIndex) + QStringLiteral(" (") + timeText(rate, s.firstPeakIndex) + u')',
    };
}

ZQStatisticsPanel* sharedPanel = nullptr;

} // namespace

// One measurement: what it measures, its progress and cancel, and what it
// found. The panel owns it and joins its thread before letting it go.
struct ZQStatisticsPanel::Job {
    enum End { Running, Done, Cancelled, Changed };

    Target target;
    // Told when the work ends, through the main thread's own queue (whose
    // hand-over the thread checker sees); set on the main thread.
    QPointer<ZQStatisticsPanel> panel;
    ZQ::Statistics::Control control;
    std::vector<ChannelStatistics> result;
    ZQ::LoudnessFigures loudness;
    std::atomic<int> end{Running};
    std::thread thread;
};

bool ZQStatisticsPanel::Target::sameAs(const Target& o) const {
    return document.get() == o.document.get() && first == o.first && last == o.last && frames == o.frames &&
           channels == o.channels && changeCount == o.changeCount && selection == o.selection;
}

ZQStatisticsPanel::ZQStatisticsPanel() : QWidget(nullptr, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ZQStatisticsPanel"));
    setWindowTitle(QStringLiteral("Statistics"));
    setAttribute(Qt::WA_QuitOnClose, false); // a panel never keeps the application

    auto* layout = new QVBoxLayout(this);
    documentLabel_ = new QLabel(this);
    documentLabel_->setObjectName(QStringLiteral("statisticsDocument"));
    QFont bold = documentLabel_->font();
    bold.setBold(true);
    documentLabel_->setFont(bold);
    rangeLabel_ = new QLabel(this);
    rangeLabel_->setObjectName(QStringLiteral("statisticsRange"));
    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName(QStringLiteral("statisticsStatus"));
    loudnessLabel_ = new QLabel(this);
    loudnessLabel_->setObjectName(QStringLiteral("statisticsLoudness"));
    loudnessLabel_->setWordWrap(true);
    for (QLabel* l : {documentLabel_.data(), rangeLabel_.data(), statusLabel_.data(), loudnessLabel_.data()})
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("statisticsTable"));
    QStringList titles;
    for (const char* t : kColumnTitles)
        titles << QString::fromUtf8(t);
    table_->setHorizontalHeaderLabels(titles);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setFocusPolicy(Qt::NoFocus);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    progressBox_ = new QWidget(this);
    progress_ = ProgressRow::build(progressBox_, QString(), QStringLiteral("statistics"));
    // Alt+C is Close's here.
    progress_.cancel->setText(QStringLiteral("Ca&ncel"));
    connect(progress_.cancel, &QPushButton::clicked, this, [this] {
        if (!job_) return;
        job_->control.cancel();
        progress_.cancelling();
    });
    progressBox_->hide();

    copyButton_ = new QPushButton(QStringLiteral("Co&py"), this);
    copyButton_->setObjectName(QStringLiteral("copyButton"));
    copyButton_->setAutoDefault(false);
    copyButton_->setEnabled(false);
    connect(copyButton_, &QPushButton::clicked, this, [this] { copyToClipboard(); });
    // Escape cancels a measurement in sight first; the next one closes.
    closeButton_ = ZQ::PanelClosing::install(this, [this] {
        if (!progressBox_->isVisible() || !progress_.cancel->isEnabled()) return false;
        progress_.cancel->click();
        return true;
    });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copyButton_);
    buttons->addStretch(1);
    buttons->addWidget(closeButton_);

    layout->addWidget(documentLabel_);
    layout->addWidget(rangeLabel_);
    layout->addWidget(table_, 1);
    layout->addWidget(loudnessLabel_);
    layout->addWidget(statusLabel_);
    layout->addWidget(progressBox_);
    layout->addLayout(buttons);
    resize(kWidth, 260);

    // Where it was last time; else 40 points in from the screen's top right.
    const QVariant stored = QSettings().value(kPositionKey);
    if (stored.canConvert<QPoint>() && stored.isValid()) {
        move(stored.toPoint());
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.right() + 1 - 40 - kWidth, available.top() + 40);
    }
    placed_ = true;

    timer_.setInterval(kUpdateEveryMs);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

ZQStatisticsPanel::~ZQStatisticsPanel() {
    timer_.stop();
    stopJob();
}

void ZQStatisticsPanel::showForCurrentDocument() {
    if (!sharedPanel) {
        sharedPanel = new ZQStatisticsPanel;
        // Gone before the application object, with its thread ended and the
        // document let go.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { ZQStatisticsPanel::shutdown(); });
    }
    ZQStatisticsPanel* panel = sharedPanel;
    panel->cancelled_.reset(); // asked again: measure even what was cancelled
    panel->QWidget::show();
    panel->raise();
    panel->activateWindow();
    panel->tick();
}

bool ZQStatisticsPanel::canShow() {
    return static_cast<bool>(currentTarget().document);
}

ZQStatisticsPanel* ZQStatisticsPanel::existingPanel() {
    return sharedPanel;
}

void ZQStatisticsPanel::shutdown() {
    delete sharedPanel;
    sharedPanel = nullptr;
}

void ZQStatisticsPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_.start();
}

void ZQStatisticsPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Nobody is looking: no work, and nothing kept that might go stale.
    timer_.stop();
    stopJob();
    clearShown(QString(), nullptr);
}

void ZQStatisticsPanel::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (placed_) QSettings().setValue(kPositionKey, pos());
}

ZQStatisticsPanel::Target ZQStatisticsPanel::currentTarget() {
    Target t;
    Ref<platform::Object> current = ZQDocumentController::sharedDocumentController().currentDocument();
    auto* doc = dynamic_cast<ZQAudioFileDocument*>(current.get());
    if (!doc) return t;
    {
        std::lock_guard<std::recursive_mutex> g(doc->monitor());
        if (!doc->fileHasLoaded()) return t;
        t.channels = doc->channelCount();
        t.frames = doc->sampleCount(0).v_;
        t.rate = doc->sampleRate();
        t.changeCount = doc->changeCount();
    }
    if (t.channels <= 0 || t.frames == 0) return t;
    t.first = 0;
    t.last = t.frames - 1;
    // The selection, as Zoom to Selection reads it: one sample (or none) is
    // a place, not a range.
    if (auto* c = dynamic_cast<ZQWaveformDisplayController*>(doc->waveformDisplayController())) {
        std::lock_guard<std::recursive_mutex> g(c->monitor());
        if (ZQWaveform* view = c->waveform(0)) {
            const ZQ::SampleSelection s = view->selection();
            if (s.min_.v_ < s.max_.v_ && s.min_.v_ < t.frames) {
                t.first = s.min_.v_;
                t.last = std::min<std::uint64_t>(s.max_.v_, t.frames - 1);
                t.selection = true;
            }
        }
    }
    t.name = QFileInfo(QString::fromStdString(doc->fileName())).fileName();
    t.document = Ref<ZQAudioFileDocument>::retain(doc);
    return t;
}

QString ZQStatisticsPanel::describeRange(const Target& t) {
    const std::uint64_t n = t.last - t.first + 1;
    const QString extent = QStringLiteral("(%1 samples, %2)").arg(n).arg(timeText(t.rate, n));
    if (!t.selection) return QStringLiteral("Whole file ") + extent;
    return QStringLiteral("Selection %1\u2013%2 ").arg(t.first).arg(t.last) + extent;
}

void ZQStatisticsPanel::tick() {
    if (job_ && job_->end.load() != Job::Running) {
        job_->thread.join();
        std::unique_ptr<Job> done = std::move(job_);
        progressBox_->hide();
        switch (done->end.load()) {
        case Job::Done:
            showResult(done->target, done->result, done->loudness);
            break;
        case Job::Cancelled:
            // Only Cancel stops a measurement without a change to follow.
            cancelled_ = done->target;
            clearShown(QStringLiteral("Cancelled."), &done->target);
            break;
        default: // the samples changed or went: measured again below
            break;
        }
    }
    if (!isVisible()) return;
    const Target t = currentTarget();
    if (job_) {
        if (t.document && t.sameAs(job_->target)) {
            if (!progressBox_->isVisible() && jobClock_.elapsed() >= kShowProgressAfterMs) progressBox_->show();
            progress_.show(job_->control.fraction());
            return;
        }
        stopJob(); // measuring what is no longer current
    }
    if (!t.document) {
        cancelled_.reset();
        if (shown_ || statusText() != kNoDocument) clearShown(kNoDocument, nullptr);
        return;
    }
    if (shown_ && t.sameAs(*shown_)) return;
    if (cancelled_ && t.sameAs(*cancelled_)) return;
    cancelled_.reset();
    start(t);
}

void ZQStatisticsPanel::start(const Target& t) {
    auto job = std::make_unique<Job>();
    job->target = t;
    job->panel = this;
    // The level statistics, then the loudness: each reads every sample once.
    job->control.samplesTotal = 2 * (t.last - t.first + 1) * std::uint64_t(t.channels);
    statusLabel_->setText(QStringLiteral("Computing\u2026 ") + describeRange(t));
    copyButton_->setEnabled(false);
    progress_.name->setText(QStringLiteral("Computing the statistics of \u201c%1\u201d\u2026").arg(t.name));
    progress_.bar->setValue(0);
    progress_.cancel->setEnabled(true);
    jobClock_.start();
    Job* running = job.get();
    try {
        job->thread = std::thread([running] { measure(*running); });
    } catch (const std::system_error&) {
        cancelled_ = t; // not tried again at every tick
        clearShown(QStringLiteral("The statistics could not be computed: no thread could be started."), &t);
        return;
    }
    job_ = std::move(job);
}

void ZQStatisticsPanel::stopJob() {
    if (!job_) return;
    job_->control.cancel();
    if (job_->thread.joinable()) job_->thread.join();
    job_.reset();
    if (progressBox_) progressBox_->hide();
}

void ZQStatisticsPanel::measure(Job& job) {
    const Target& t = job.target;
    const auto channels = static_cast<std::size_t>(t.channels);
    const std::uint64_t perHold = std::max<std::uint64_t>(1, kSamplesPerHold / channels);
    std::vector<ChannelStatistics> total(channels), part;
    auto finish = [&job](int end) {
        job.end.store(end);
        platform::performOnMainThread([panel = job.panel] {
            if (panel) panel->tick();
        });
    };
    // The samples of the target, taken once under the monitor (never
    // waiting past a cancel: whoever holds it may be waiting for this thread
    // to end); a document that changed (or closed) since is not read.
    ZQ::SampleSnapshot snapshot;
    {
        std::unique_lock<std::recursive_mutex> hold(t.document->monitor(), std::try_to_lock);
        while (!hold.owns_lock()) {
            if (job.control.cancelled()) return finish(Job::Cancelled);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            hold.try_lock();
        }
        ZQ::AudioFileDocumentSampleData* data = t.document->sampleData();
        if (!data || !data->isLoaded() || t.document->changeCount() != t.changeCount ||
            data->channelCount() != t.channels || data->frameCount() != t.frames)
            return finish(Job::Changed);
        snapshot = data->samples();
    }
    if (!snapshot || snapshot->channelCount() < channels) return finish(Job::Changed);
    const auto read = [&snapshot](std::uint64_t c, std::uint64_t first, std::uint64_t n, double* to) {
        snapshot->read(static_cast<unsigned>(c), first, n, to);
    };
    for (std::uint64_t at = t.first;;) {
        const std::uint64_t to = at + std::min(perHold - 1, t.last - at);
        // A part at a time, so that an edit meanwhile ends the job early.
        if (job.control.cancelled()) return finish(Job::Cancelled);
        if (t.document->changeCount() != t.changeCount) return finish(Job::Changed);
        if (!ZQ::Statistics::compute(read, channels, at, to, part, &job.control))
            return finish(job.control.cancelled() ? Job::Cancelled : Job::Changed);
        for (std::size_t c = 0; c < channels; ++c)
            total[c].append(part[c]);
        if (to == t.last) break;
        at = to + 1;
    }
    job.result = std::move(total);
    // The loudness of the whole stretch (its 400 ms blocks span the parts
    // above), on both cores.
    job.loudness = ZQ::measureLoudness(*snapshot, t.first, t.last - t.first + 1, t.rate, 2,
                                       &job.control.cancelRequested, &job.control.samplesDone);
    if (job.control.cancelled()) return finish(Job::Cancelled);
    finish(Job::Done);
}

void ZQStatisticsPanel::showResult(const Target& t, const std::vector<ChannelStatistics>& stats,
                                   const ZQ::LoudnessFigures& loudness) {
    shown_ = t;
    documentLabel_->setText(QStringLiteral("\u201c%1\u201d").arg(t.name));
    rangeLabel_->setText(describeRange(t));
    statusLabel_->clear();
    table_->setRowCount(static_cast<int>(stats.size()));
    QString plain = QStringLiteral("Statistics of \u201c%1\u201d\n%2\n").arg(t.name, describeRange(t));
    for (std::size_t c = 0; c < stats.size(); ++c) {
        const int row = static_cast<int>(c);
        const QString channel = QStringLiteral("Channel %1").arg(row + 1);
        table_->setVerticalHeaderItem(row, new QTableWidgetItem(channel));
        plain += u'\n' + channel + u'\n';
        const auto cells = cellsOf(stats[c], t.rate);
        for (int k = 0; k < kColumns; ++k) {
            table_->setItem(row, k, new QTableWidgetItem(cells[std::size_t(k)]));
            plain += QString::fromUtf8(kColumnTitles[k]) + QStringLiteral(": ") + cells[std::size_t(k)] + u'\n';
        }
    }
    // Loudness, as EBU R 128 gives it (a stretch under 400 ms has none).
    QString figures;
    if (loudness.valid)
        figures = QStringLiteral("Integrated loudness: %1   Loudness range: %2   True peak: %3   Sample peak: %4")
                      .arg(QString::fromStdString(ZQ::loudnessText(loudness.integrated, "LUFS")),
                           QString::fromStdString(ZQ::loudnessText(loudness.range, "LU")),
                           QString::fromStdString(ZQ::loudnessText(loudness.truePeak, "dBTP")),
                           QString::fromStdString(ZQ::loudnessText(loudness.samplePeak, "dBFS")));
    loudnessLabel_->setText(figures);
    if (!figures.isEmpty())
        plain += u'\n' + QString(figures).replace(QStringLiteral("   "), QStringLiteral("\n")) + u'\n';
    plainText_ = plain;
    copyButton_->setEnabled(true);
    // Every channel in sight, up to the screen's height.
    const int rows = table_->verticalHeader()->length() + table_->horizontalHeader()->height() + 4;
    const int wanted = sizeHint().height() - table_->sizeHint().height() + rows;
    int limit = 900;
    if (const QScreen* screen = this->screen()) limit = screen->availableGeometry().height() - 80;
    if (height() < std::min(wanted, limit)) resize(width(), std::min(wanted, limit));
}

void ZQStatisticsPanel::clearShown(const QString& status, const Target* t) {
    shown_.reset();
    plainText_.clear();
    if (!table_) return;
    table_->setRowCount(0);
    loudnessLabel_->clear();
    documentLabel_->setText(t ? QStringLiteral("\u201c%1\u201d").arg(t->name) : QString());
    rangeLabel_->setText(t ? describeRange(*t) : QString());
    statusLabel_->setText(status);
    copyButton_->setEnabled(false);
}

QString ZQStatisticsPanel::documentText() const {
    return documentLabel_->text();
}

QString ZQStatisticsPanel::rangeText() const {
    return rangeLabel_->text();
}

QString ZQStatisticsPanel::statusText() const {
    return statusLabel_->text();
}

QString ZQStatisticsPanel::loudnessText() const {
    return loudnessLabel_->text();
}

int ZQStatisticsPanel::percent() const {
    return progress_.bar->value();
}

void ZQStatisticsPanel::copyToClipboard() {
    if (plainText_.isEmpty()) return;
    QGuiApplication::clipboard()->setText(plainText_, QClipboard::Clipboard);
}
