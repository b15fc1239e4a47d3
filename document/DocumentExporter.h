// Writes a document's samples to a file: the formats of the convert actions,
// the save dialog and its end, the export under the document's monitor (for
// tools and tests) and the export on a thread of its own (its progress and
// cancel), and what a written file changes in the document. The document
// owns one and forwards its export methods to it. Main thread, except where
// marked.
#pragma once

#include "audiofile/AudioFileExport.h"
#include "audiofile/Markers.h"
#include "document/ExportJob.h"
#include "document/MenuItem.h"
#include "platform/base/Values.h"

#include <functional>
#include <string>
#include <vector>

class ZQAudioFileDocument;

// A format a document can be written in, as Save As offers them.
struct SaveFormat {
    int code = 0;
    platform::audio::FourCharCode type = 0;
    std::string title;     // "WAV, 24-bit integer"
    std::string extension; // "wav"
};

class DocumentExporter {
public:
    // What a finished write makes of the document: a copy leaves it as it
    // is; Save and Save As make it the file written (its name, its record,
    // no changes left to save).
    enum class Mode { Copy, Save };

    // Every format Save As offers, WAV first.
    static const std::vector<SaveFormat>& saveFormats();
    // The document's own container and encoding as a save writes it again:
    // one of saveFormats(), or where none of them is, its own (code
    // kSourceEncoding: 8-bit and 64-bit samples, codecs inside WAV, AIFF and
    // CAF, CAF and Wave64 files). False when it cannot be written so (Sound
    // Designer II, whose format lives in a second file beside it; MPEG
    // Layers I and II, which nothing here encodes). `lossy` when a save
    // re-encodes with loss (Vorbis, Opus, MP3, ADPCM, GSM).
    bool ownFormat(SaveFormat* format = nullptr, bool* lossy = nullptr) const;
    // Ctrl+S: the document back to its own file, after asking when that
    // re-encodes with loss; Save As where its own format cannot be written.
    void save(std::function<void(bool saved)> finished);
    // Save As: a dialog for the name and format, then the document is that file.
    void saveAs(std::function<void(bool saved)> finished);
    // A save to `path` in `format` under the document's monitor, with what
    // it makes of the document (any thread; for tools and tests).
    bool saveTo(const std::string& path, const SaveFormat& format, std::string* reason);
    explicit DocumentExporter(ZQAudioFileDocument& document) : document_(document) {}
    DocumentExporter(const DocumentExporter&) = delete;
    DocumentExporter& operator=(const DocumentExporter&) = delete;

    // The action of a convert item (none for any other action); hands
    // itself to the main thread when called elsewhere.
    void performConvert(ZQAction action);
    void runConvertPanel(int code, platform::audio::FourCharCode type, std::function<void(bool exported)> finished);
    void savePanelDidEnd(bool accepted, const std::string& directory, const std::string& file, int code,
                         platform::audio::FourCharCode type, const std::function<void(bool)>& finished);
    // The export under the document's monitor; any thread.
    bool exportTo(const std::string& directory, const std::string& name, int code, platform::audio::FourCharCode type,
                  std::string* reason, ZQ::AudioFileExport::Outcome* outcome);
    // The export on its own thread, as the dialog starts it.
    void begin(const std::string& directory, const std::string& name, int code, platform::audio::FourCharCode type,
               std::function<void(bool exported)> finished, Mode mode = Mode::Copy);
    // Any thread.
    bool isRunning() const { return job_.isRunning(); }
    double progress() const { return job_.progress(); }
    void cancel() { job_.cancel(); }
    void join() { job_.join(); }

    // The last path component of `path`.
    static std::string lastComponent(const std::string& path);
    // The extension of an export's files: "wav", "aif", "flac", "ogg", "opus", "mp3".
    static std::string exportExtension(int code, platform::audio::FourCharCode type);

private:
    // The writing itself, without touching the window (any thread).
    // `holdMonitor`: under the document's monitor for the whole write (the
    // synchronous export); an export on its own thread instead keeps the
    // samples still by the document refusing every change while it runs,
    // so that the window, whose menus ask the document under its monitor,
    // never waits for it.
    bool write(const std::string& directory, const std::string& name, int code, platform::audio::FourCharCode type,
               const ZQ::MarkerList& markers, std::string* reason, ZQ::AudioFileExport::Progress* progress,
               ZQ::AudioFileExport::Outcome* outcome, bool holdMonitor, Mode mode);
    // What a written file changes: the changes mark, the title, the menus.
    void didWriteFile();
    // What a save changes besides: the document is the file at `path` now,
    // described as it was written (main thread, or under the monitor).
    void didSave(const std::string& path);
    // What the dialogs propose: the document's name without folder and extension.
    std::string proposedName() const;
    void stopPlayback();

    ZQAudioFileDocument& document_;
    ZQ::ExportJob job_;
};
