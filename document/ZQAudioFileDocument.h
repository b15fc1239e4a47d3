// One open audio file: the sample store (read from the file on demand, with
// the summaries of its blocks built in the background), the window's
// display controller, the playback source and the transport, the
// refresh timer of the numeric displays, and the road from a read request to
// samples in memory and a window on screen.
//
// A reference-counted object; its monitor serialises the import (for the
// whole decode), the rendezvous, window building, the error alert, close and
// teardown, and the forwarding methods marked below.
//
// Lock order: the document's monitor may be held while calling into its
// controllers (display, transport, receiver, source), never the other way
// round. What the transport chain calls back into the document (the
// transport-change handlers, Stop, the connected-source check) takes no
// monitor of the document.
#pragma once

#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileExport.h"
#include "audiofile/AudioFileReader.h"
#include "audiofile/Markers.h"
#include "audiofile/RangeProcessing.h"
#include "core/holders.h"
#include "core/wrappers.h"
#include "document/AudioFileEditHistory.h"
#include "document/DocumentExporter.h"
#include "document/DocumentImport.h"
#include "document/DocumentPreferences.h"
#include "document/DocumentSampleWatch.h"
#include "document/MenuItem.h"
#include "document/WindowSide.h"
#include "platform/base/Values.h"
#include "playback/PlaybackDocument.h"
#include "playback/ZQAudioFileDocumentOutputSourceController.h"
#include "playback/ZQAudioFileDocumentTransportCommandReceiver.h"
#include "waveform/ChannelData.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class ZQAudioFileDocumentAtPath;
class ZQAudioFileDocumentTransportController;

// A view that shows one channel (the waveform view).
class ZQWaveformStoreClient {
public:
    virtual std::int32_t channelNumber() const = 0;
    // The channel's samples as they are now (with the summaries of their
    // blocks, complete or still being built).
    virtual void updateWaveformCache(const ZQ::ChannelSamples& samples) = 0;

protected:
    ~ZQWaveformStoreClient() = default;
};

class ZQAudioFileDocument final : public ZQ::PlaybackDocument {
public:
    // A new document with an empty store (+1).
    static ZQAudioFileDocument* init();
    void initState();

    // The direct route: starts the import on a new thread (which builds the
    // window once the import has ended) and returns true; without a URL, the
    // error ("bzz", 22) and false.
    bool readFromURL(platform::URL* url, const std::string& type, platform::Ref<platform::Error>* error);
    // The import itself, on the calling thread. Tells the window side when
    // it begins and ends (on the main thread), so that a long one can show
    // its progress.
    void readFromURL_Offline(platform::URL* url);
    // The running import's progress, 0 ... 1, or -1 when none is running.
    // Any thread; never waits for the import.
    double importProgress() const;
    // Asks the running import to stop (it does within a chunk); nothing when
    // none is running. Any thread.
    void cancelImport();
    // Whether the last import was cancelled: the document then opens nothing.
    bool importWasCancelled() const { return import_.wasCancelled(); }
    // Cancels every import running in the process (termination).
    static void cancelAllImports();
    // Runs once both the import has ended and the display controller exists.
    void concludeImport();
    // An import that could not start (the file went away): concludes it with
    // `why` as the open-failure alert's text.
    void importFailed(const std::string& why);
    // Builds and shows the window; hops to the main thread when called elsewhere.
    void loadUI();
    void displayFileOpenError();
    // Waits for a running import, tears down, closes the window.
    void close();
    void deallocState();
    // Saving in the document's own format is not supported: prints the line,
    // gives the error (OS status domain, -4) and nothing else.
    platform::Object* dataOfType(const std::string& type, platform::Ref<platform::Error>* error);
    // The placeholder route: queues the placeholder's open (on a new thread).
    static void openAudioFileAtURL(ZQAudioFileDocumentAtPath* placeholder);

    void setFileURL(platform::URL* url);
    platform::Ref<platform::URL> fileURL() const;
    // The file's path ("" without one).
    std::string fileName() const;
    std::string fileOpenError() const;

    // Data access.
    ZQ::AudioFileDocumentSampleData* sampleData() override;
    // What the views draw from besides the samples: the spectral tile cache
    // (made on first use; null once closing). Any thread.
    std::shared_ptr<ZQ::SpectrogramCache> spectrogramCache() {
        return channelData_.spectrogramCache(sampleData_.get());
    }
    // Whoever repaints when spectral tiles finish (called on a worker).
    void setSpectrogramTileListener(std::function<void()> listener) {
        channelData_.setTileListener(std::move(listener));
    }
    bool fileHasLoaded();
    ZQ::Num::Count sampleCount(std::int32_t channel) override;
    double sampleRate() override;
    std::int32_t channelCount() override;
    const ZQ::AudioFileInformationData* audioFileInformation();
    // Whether the summaries of the samples are complete (the overview shows
    // every column); what fraction of the frames they cover. Any thread.
    bool samplesAreSummarised() const;
    double summarisedFraction() const;
    // Whether the file changed on disk since it was opened; the user is told
    // once (checked every two seconds while the window is open). Main thread.
    void checkFileOnDisk();
    void updateWaveformStore(ZQWaveformStoreClient* view);
    void imp_updateWaveformStore(ZQWaveformStoreClient* view);

    // Forwarding († under the document's monitor).
    ZQWaveformDisplayControllerBase* waveformDisplayController() const;
    bool documentWindow() const; // whether the display controller has a window
    void zoomIn();
    void zoomOut();
    void zoomAmplitudeIn();
    void zoomAmplitudeOut();
    void selectAll(platform::Object* sender);  // †
    void selectNone(platform::Object* sender); // †
    void cut(platform::Object* sender);        // †
    using platform::Object::copy;              // the value copy, beside the Edit command
    void copy(platform::Object* sender);       // †
    void paste(platform::Object* sender);      // †
    void delete_(platform::Object* sender);    // †
    void duplicate(platform::Object* sender);  // †
    // Enabling: the five export formats always; Undo and Redo when there is
    // a step to undo or redo; everything else as the display controller
    // decides (disabled without one, or without an item).
    bool validateMenuItem(const ZQMenuItem* item);

    // Editing, on the main thread, each under the document's monitor. Ranges
    // are inclusive; a range with min_ > max_ or past the end is refused.
    // Every change first stops playback, is recorded for Undo, and then
    // refreshes what depends on the samples (summaries from the edit point,
    // the playback length and position, the views, readouts and title).
    //
    // A copy of every channel (the caller owns it), or null.
    ZQ::AudioFileDocumentSampleData* createCopyData();
    ZQ::AudioFileDocumentSampleData* createCopyDataInRange(const ZQ::Num::SampleRange& range);
    void createCopyDataForChannel(ZQ::Num::Count channel, const ZQ::Num::SampleRange& range, ZQ::SampleBuffer& out);
    // Removes the range; the removed samples go to the clipboard.
    bool cutRange(const ZQ::Num::SampleRange& range);
    bool deleteRange(const ZQ::Num::SampleRange& range);
    // Inserts a copy of the range right after it and selects the copy.
    bool duplicateRange(const ZQ::Num::SampleRange& range);
    // The holder's samples (taken from it) replace the range, or, for a range
    // of one index (min_ == max_), go in before that sample; they become the
    // selection.
    bool pasteClipboardData(ZQ::SampleDataHolder& holder, const ZQ::Num::SampleRange& range);
    // Process ▸ Gain, Fade In, Fade Out, Silence, Reverse, Invert, Remove DC
    // on the range: one undo step named `name`, the same length, markers
    // and selection kept; the result is written to a temporary file (false,
    // with why in `refusal`, when it cannot be).
    bool processRange(const std::string& name, const ZQ::RangeProcess& process, const ZQ::Num::SampleRange& range,
                      std::string* refusal = nullptr);
    // Process ▸ Normalise: the range's gain set so that its sample peak is
    // `target` dBFS, or (`loudness`) its integrated loudness `target` LUFS
    // held so that its true peak stays at or under `ceiling` dBTP. False when
    // the range is silent (or, for loudness, too short to measure).
    bool normaliseRange(const ZQ::Num::SampleRange& range, bool loudness, double target, double ceiling,
                        std::string* refusal = nullptr);
    void undo(platform::Object* sender);
    void redo(platform::Object* sender);
    bool canUndo() const;
    bool canRedo() const;
    // The name of the step Undo (Redo) would run ("Delete"), or "".
    std::string undoActionName() const;
    std::string redoActionName() const;
    // The file's markers and regions, loaded with it (clamped to its frames)
    // and moved by every edit, undo and redo before the display hears of
    // the change. Main thread, under the monitor.
    const ZQ::MarkerList& markers() const;
    // Replaces them (clamped to the frames), for tests and tools: not a step
    // to undo, and not a change to the samples.
    void setMarkers(ZQ::MarkerList markers);
    // Marker edits, each one undo step named `name` ("Add Marker", "Rename
    // Marker", ...) that leaves the samples, the selection and playback as
    // they are. Positions are clamped to the frames. False (nothing
    // recorded) when nothing would change, nothing is loaded, or an export
    // is reading the markers.
    bool editMarkers(const std::string& name, ZQ::MarkerList markers);
    // The edits users make; each returns the item's index afterwards (-1
    // when refused). A region needs a length of at least one frame.
    std::ptrdiff_t addMarker(std::uint64_t frame, std::string name = {});
    std::ptrdiff_t addRegion(std::uint64_t frame, std::uint64_t length, std::string name = {});
    std::ptrdiff_t renameMarker(std::size_t index, std::string name);
    std::ptrdiff_t moveMarker(std::size_t index, std::uint64_t frame, std::uint64_t length);
    bool deleteMarker(std::size_t index);
    // Whether the samples differ from the file as opened (or last exported).
    bool isDocumentEdited() const;
    // Counts every change of the samples (an edit, an undo, a redo).
    std::uint64_t changeCount() const { return changeCount_.load(); }
    const ZQ::AudioFileEditHistory& editHistory() const { return history_; }

    // Export. Each format's action shows the save dialog on the document's
    // window (handed to the main thread when called elsewhere).
    void perform_convert_Aiff_16_Integer(platform::Object* sender);
    void perform_convert_Aiff_32_Integer(platform::Object* sender);
    void perform_convert_Wave_16_Integer(platform::Object* sender);
    void perform_convert_Wave_32_Integer(platform::Object* sender);
    void perform_convert_Wave_32_Float(platform::Object* sender);
    // The action of a convert item (none for any other action).
    void performConvert(ZQAction action);
    // File > Save and Save As: the document becomes the file written (see
    // DocumentExporter). `finished` hears whether it was saved.
    void save(std::function<void(bool saved)> finished = nullptr);
    void saveAs(std::function<void(bool saved)> finished = nullptr);
    // A save under the monitor, for tools and tests: `format` to `path`.
    bool saveTo(const std::string& path, const SaveFormat& format, std::string* reason = nullptr);
    // The document's own format as a save writes it again; false when none.
    bool ownSaveFormat(SaveFormat* format = nullptr, bool* lossy = nullptr) const;
    // `finished` (when given) hears whether a file was written: false when
    // the dialog was cancelled, could not be shown, or the export failed.
    void runConvertPanel(int code, platform::audio::FourCharCode type,
                         std::function<void(bool exported)> finished = nullptr);
    // The end of the dialog: nothing when cancelled, else the export, whose
    // failure is shown in an alert on the window.
    void savePanelDidEnd(bool accepted, const std::string& directory, const std::string& file, int code,
                         platform::audio::FourCharCode type, const std::function<void(bool)>& finished = nullptr);
    // The format in which "export the changes" writes them: 32-bit float
    // WAV, which holds every sample exactly.
    static constexpr platform::audio::FourCharCode kChangesExportType = platform::audio::kAudioFileWAVEType;
    static int changesExportCode();
    // Stops playback and writes the samples to directory/name; false (with
    // why, for the user, in `reason`) when nothing was written. An existing
    // file there is replaced only by a complete new one.
    bool exportAudioFileDataTo(const std::string& directory, const std::string& name, int code,
                               platform::audio::FourCharCode type, std::string* reason = nullptr,
                               ZQ::AudioFileExport::Outcome* outcome = nullptr);
    // The same export on a thread of its own, as the dialog starts it: the
    // window side shows its progress with Cancel, and once it has ended (on
    // the main thread) a failure is shown in an alert, clipped samples in a
    // note, and `finished` hears whether a file was written. Main thread.
    void beginExport(const std::string& directory, const std::string& name, int code,
                     platform::audio::FourCharCode type, std::function<void(bool exported)> finished = nullptr);
    // Whether an export is running; while one is, the samples cannot change
    // (edits, undo and redo do nothing).
    bool isExporting() const;
    // The running export's progress, 0 ... 1, or -1 when none is running.
    double exportProgress() const;
    // Asks the running export to stop (the destination stays as it was).
    void cancelExport();
    // Cancels every export running in the process and waits for each
    // (termination). Main thread.
    static void cancelAllExports();
    void updateNumericAndHMSDisplays(platform::Object* sender);
    ZQAudioFileDocumentTransportController* audioFileDocumentTransportController() const;
    ZQAudioFileDocumentTransportCommandReceiver* audioFileDocumentTransportCommandReceiver();
    void perform_Stop(platform::Object* sender) override;
    ZQ::AudioStream::OutputSource* audioFileDocumentOutputSource() override;
    std::uint64_t presentPlaybackPosition();
    // Moves the play position to `frame` (a click in a view); while playing,
    // playing goes on from there. The readouts follow.
    void locatePlaybackPosition(std::uint64_t frame);
    // Play Selection: a selection of `first` to `last` (last > first) plays
    // exactly its frames and leaves the position back at `first`; a
    // selection point (last <= first) plays from there to the end. With
    // Loop on, the selection (or the whole file) repeats until Stop.
    void playSelection(std::uint64_t first, std::uint64_t last);
    void connectToStreamingServer(); // † (no lock once connected)
    ZQ::AudioStream::ReadPosition* audioStreamReadPosition() override;
    std::uint32_t speakerMask() override;
    std::string mediaName() const override;
    // Which channels are heard: the soloed ones if any, otherwise the
    // unmuted ones (main thread; the window's toggles and menu follow).
    void setChannelMuted(int channel, bool muted);
    void setChannelSoloed(int channel, bool soloed);
    bool isChannelMuted(int channel) const;
    bool isChannelSoloed(int channel) const;
    void audioOutputDidFail(const std::string& reason, bool unavailable) override;
    ZQAudioFileDocumentOutputSourceController* outputSourceController() const;
    // Run at once on the main thread, else handed to it.
    void transportStateWillChange();
    void transportStateDidChange();
    // Main thread only; they touch only main-thread state (the displays and
    // the timer), so they take no monitor.
    void imp_transportStateWillChange();
    void imp_transportStateDidChange();

    // The refresh timer of the numeric displays while playing.
    bool refreshTimerIsRunning() const { return timer_.isRunning(); }
    double refreshTimerInterval() const;
    bool viewDisplayShouldLoadInAwakeFromNib() const { return viewDisplayShouldLoadInAwakeFromNib_; }

    // Writes the default waveform colours when missing; once per process.
    void setupDocumentPreferences();

    const char* kindName() const override { return "ZQAudioFileDocument"; }

private:
    friend class DocumentExporter;
    friend class DocumentImport;
    friend class DocumentSampleWatch;
    ZQAudioFileDocument() = default;
    ~ZQAudioFileDocument() override;
    platform::Ref<ZQWaveformDisplayControllerBase> display() const;
    platform::Ref<ZQAudioFileDocumentTransportController> transport() const;
    platform::Ref<ZQAudioFileDocumentOutputSourceController> sourceController() const;

    // The change itself: frames [at, at + removeCount) become `insert`'s
    // (none when empty; the history takes them), recorded as a step named
    // `name`; with `toClipboard` the removed frames also go to the clipboard.
    // `inPlace`: the frames are changed, not moved (as many inserted as
    // removed): the markers and play position stay where they are.
    bool applyEdit(const char* name, std::uint64_t at, std::uint64_t removeCount, ZQ::SampleDataHolder& insert,
                   const ZQ::Num::SampleRange& before, const ZQ::Num::SampleRange& after, bool toClipboard,
                   bool inPlace = false);
    bool removeRange(const char* name, const ZQ::Num::SampleRange& range, bool toClipboard);
    void stopForEdit();
    // `playAt` is where the play position goes in the new samples.
    void samplesDidChange(std::uint64_t from, const ZQ::Num::SampleRange& selection, std::uint64_t playAt);
    // After a step of marker edits: the views, the title and the menus.
    void markersWereEdited();
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> sampleData_;
    ZQ::ChannelData channelData_;
    // Builds the blocks' summaries and watches the file on disk.
    DocumentSampleWatch sampleWatch_{*this};
    bool viewDisplayShouldLoadInAwakeFromNib_ = false;
    ZQ::OCPtr<ZQWaveformDisplayControllerBase> waveformDisplayController_;
    ZQ::t_string fileOpenError_;
    ZQ::OCPtr<ZQAudioFileDocumentOutputSourceController> audioFileDocumentOutputSourceController_;
    ZQ::OCPtr<ZQAudioFileDocumentTransportController> audioFileDocumentTransportController_;
    ZQ::RenewableTimer timer_; // main thread only
    ZQ::t_url fileURL_;
    ZQ::AudioFileEditHistory history_; // under the monitor
    ZQ::MarkerList markers_;           // under the monitor
    std::atomic<std::uint64_t> changeCount_{0};
    // Guards the three controller holders above and nothing else; never held
    // while calling out, so a stream thread's Stop can reach the transport
    // without the document's monitor (which the import holds for long).
    mutable std::mutex holders_;
    // Reads the file into the samples (its progress and cancel).
    DocumentImport import_{*this};
    // Writes the samples to files (its own thread and progress).
    DocumentExporter exporter_{*this};
    // Set by the first close: the teardown runs once, and every later
    // request (a window closing under it, Quit, a signal) is a no-op.
    std::atomic<bool> closing_{false};
};
