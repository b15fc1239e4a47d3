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

class ZQAudioFileDocument;

class DocumentExporter {
public:
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
               std::function<void(bool exported)> finished);
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
               ZQ::AudioFileExport::Outcome* outcome, bool holdMonitor);
    // What a written file changes: the changes mark, the title, the menus.
    void didWriteFile();
    void stopPlayback();

    ZQAudioFileDocument& document_;
    ZQ::ExportJob job_;
};
