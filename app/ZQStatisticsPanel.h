// The statistics panel: one floating panel for the whole application that
// measures the frontmost document, its selection when that spans more than
// one sample, else the whole file: per channel the peak (dBFS and sample
// value), RMS, DC offset, clipped samples and where the first peak is. Copy
// puts the same content on the clipboard as plain text. Close, Escape and
// Ctrl+W hide the panel (Escape cancels a measurement in progress first).
//
// The measuring runs on a thread of its own (two while it scans), which
// reads the document's samples in place, a few million at a time, each time
// under the document's monitor: edits and close take that monitor, so the
// samples cannot change or go while a part is read. A change of the samples
// (or a close) between parts stops the work, and the panel measures again.
// The panel follows the frontmost document, its selection and its edits
// while it is shown (a 50 ms timer); a measurement still running after
// 300 ms shows its progress with Cancel. Nothing of the samples is copied;
// the panel keeps the document object (never its samples) while it works.
//
// Main thread only, unless noted.
#pragma once

#include "app/ProgressRow.h"
#include "audiofile/ChannelStatistics.h"
#include "platform/base/Object.h"
#include "processing/Loudness.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ZQAudioFileDocument;

class ZQStatisticsPanel final : public QWidget {
public:
    static constexpr int kUpdateEveryMs = 50;
    static constexpr int kShowProgressAfterMs = 300;
    // Samples (all channels together) read per hold of the document's
    // monitor: a few milliseconds, so that an edit or a menu never waits long.
    static constexpr std::uint64_t kSamplesPerHold = std::uint64_t(1) << 22;
    // The table's columns, after the channel.
    enum Column { Peak, Rms, DcOffset, Clipped, FirstPeak, kColumns };

    // Shows the panel (made on first use) for the current document and
    // measures it; a measurement cancelled before runs again.
    static void showForCurrentDocument();
    // Whether there is a current document with samples to measure.
    static bool canShow();
    // The panel, or null before the first showForCurrentDocument().
    static ZQStatisticsPanel* existingPanel();
    // Stops any measurement and deletes the panel (also done when the
    // application's event loop ends).
    static void shutdown();

    ~ZQStatisticsPanel() override;

    // The document's name and the range of what is shown ("Selection
    // 1000–2000 (1001 samples, 00:00:00.022)", "Whole file (…)").
    QString documentText() const;
    QString rangeText() const;
    // "Computing… <range>", "Cancelled.", "No document.", or empty while a
    // measurement is shown.
    QString statusText() const;
    // "Integrated loudness: -23.0 LUFS   Loudness range: ..." of what is shown.
    QString loudnessText() const;
    // What Copy puts on the clipboard (empty when nothing is shown).
    const QString& plainText() const { return plainText_; }
    // Whether a measurement is running.
    bool isComputing() const { return job_ != nullptr; }
    // Puts plainText() on the clipboard; nothing when it is empty.
    void copyToClipboard();

    QTableWidget* table() const { return table_; }
    QPushButton* copyButton() const { return copyButton_; }
    QPushButton* closeButton() const { return closeButton_; }
    QWidget* progressBox() const { return progressBox_; }
    QPushButton* cancelButton() const { return progress_.cancel; }
    int percent() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    // What to measure: a document's range as it was at one change count.
    struct Target {
        platform::Ref<ZQAudioFileDocument> document;
        std::uint64_t first = 0, last = 0, frames = 0;
        int channels = 0;
        double rate = 0;
        std::uint64_t changeCount = 0;
        bool selection = false;
        QString name;
        bool sameAs(const Target& o) const;
    };
    struct Job;

    ZQStatisticsPanel();
    // The current document's target (no document when there is none).
    static Target currentTarget();
    static QString describeRange(const Target& t);
    // Follows the current target: collects a finished measurement, starts
    // one when what is shown is not what is current, updates the progress.
    void tick();
    void start(const Target& t);
    // Cancels a running measurement and waits for its thread (a few ms).
    void stopJob();
    // The measurement's thread: reads the samples part by part.
    static void measure(Job& job);
    void showResult(const Target& t, const std::vector<ZQ::Statistics::ChannelStatistics>& stats,
                    const ZQ::LoudnessFigures& loudness);
    void clearShown(const QString& status, const Target* t);

    std::unique_ptr<Job> job_;
    QElapsedTimer jobClock_;
    std::optional<Target> shown_;     // what the table shows
    std::optional<Target> cancelled_; // not measured again until asked or changed
    QString plainText_;
    QPointer<QLabel> documentLabel_, rangeLabel_, statusLabel_, loudnessLabel_;
    QPointer<QTableWidget> table_;
    QPointer<QPushButton> copyButton_, closeButton_;
    QPointer<QWidget> progressBox_;
    ProgressRow progress_;
    QTimer timer_;
    bool placed_ = false;
};
