#include "document/DocumentExporter.h"

#include "document/DocumentPreferences.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "platform/threads/Threads.h"

#include <cstdio>
#include <mutex>

using platform::Ref;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

struct ConvertFormat {
    ZQAction action;
    int code;
    platform::audio::FourCharCode type;
};
constexpr ConvertFormat kConvertFormats[] = {
    {ZQAction::ConvertWave16Integer, ZQ::AudioFileExport::kInteger16, platform::audio::kAudioFileWAVEType},
    {ZQAction::ConvertWave32Integer, ZQ::AudioFileExport::kInteger32, platform::audio::kAudioFileWAVEType},
    {ZQAction::ConvertWave32Float, ZQ::AudioFileExport::kFloat32, platform::audio::kAudioFileWAVEType},
    {ZQAction::ConvertAiff16Integer, ZQ::AudioFileExport::kInteger16, platform::audio::kAudioFileAIFFType},
    {ZQAction::ConvertAiff32Integer, ZQ::AudioFileExport::kInteger32, platform::audio::kAudioFileAIFFType},
    {ZQAction::ConvertFlac16, ZQ::AudioFileExport::kFlac16, platform::audio::kAudioFileFLACType},
    {ZQAction::ConvertFlac24, ZQ::AudioFileExport::kFlac24, platform::audio::kAudioFileFLACType},
    {ZQAction::ConvertVorbis, ZQ::AudioFileExport::kVorbis, platform::audio::kAudioFileOggType},
    {ZQAction::ConvertOpus, ZQ::AudioFileExport::kOpus, platform::audio::kAudioFileOggType},
    {ZQAction::ConvertMp3, ZQ::AudioFileExport::kMp3, platform::audio::kAudioFileMP3Type},
};

} // namespace

std::string DocumentExporter::exportExtension(int code, platform::audio::FourCharCode type) {
    using namespace ZQ::AudioFileExport;
    if (code == kFlac16 || code == kFlac24) return "flac";
    if (code == kVorbis) return "ogg";
    if (code == kOpus) return "opus";
    if (code == kMp3) return "mp3";
    return type == platform::audio::kAudioFileAIFFType ? "aif" : "wav";
}

std::string DocumentExporter::lastComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

void DocumentExporter::performConvert(ZQAction action) {
    for (const ConvertFormat& f : kConvertFormats) {
        if (f.action != action) continue;
        if (!platform::Thread::isMainThread()) {
            Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&document_);
            platform::performOnMainThread([self, action] { self->performConvert(action); });
            return;
        }
        runConvertPanel(f.code, f.type, nullptr);
        return;
    }
}

void DocumentExporter::runConvertPanel(int code, platform::audio::FourCharCode type,
                                       std::function<void(bool exported)> finished) {
    ZQDocumentWindowSide* side = documentWindowSide();
    const std::string extension = exportExtension(code, type);
    // The document's name without its folder and extension.
    std::string proposed;
    if (Ref<platform::URL> url = document_.fileURL()) {
        proposed = url->lastPathComponent();
        bool hasExtension = false;
        const std::string ext = url->pathExtension(&hasExtension);
        if (hasExtension) proposed.resize(proposed.size() - ext.size() - 1);
    }
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&document_);
    auto done = [self, code, type, finished](bool accepted, const std::string& directory, const std::string& file) {
        self->savePanelDidEnd(accepted, directory, file, code, type, finished);
    };
    if (!side || !side->runSavePanel(&document_, extension, proposed, done)) {
        std::printf("Error creating save panel\n");
        if (finished) finished(false);
    }
}

void DocumentExporter::savePanelDidEnd(bool accepted, const std::string& directory, const std::string& file, int code,
                                       platform::audio::FourCharCode type, const std::function<void(bool)>& finished) {
    if (!accepted) {
        if (finished) finished(false);
        return;
    }
    begin(directory, file, code, type, finished);
}

void DocumentExporter::stopPlayback() {
    Guard g(document_.monitor());
    if (Ref<ZQAudioFileDocumentTransportController> t = document_.transport()) t->perform_Stop(nullptr);
}

bool DocumentExporter::exportTo(const std::string& directory, const std::string& name, int code,
                                platform::audio::FourCharCode type, std::string* reason,
                                ZQ::AudioFileExport::Outcome* outcome) {
    stopPlayback();
    if (!write(directory, name, code, type, document_.markers_, reason, nullptr, outcome, true)) return false;
    didWriteFile();
    return true;
}

bool DocumentExporter::write(const std::string& directory, const std::string& name, int code,
                             platform::audio::FourCharCode type, const ZQ::MarkerList& markers, std::string* reason,
                             ZQ::AudioFileExport::Progress* progress, ZQ::AudioFileExport::Outcome* outcome,
                             bool holdMonitor) {
    if (directory.empty() || name.empty()) {
        std::printf("Export: Invalid argument\n");
        if (reason) *reason = "No file was chosen.";
        return false;
    }
    std::unique_lock<std::recursive_mutex> g(document_.monitor(), std::defer_lock);
    if (holdMonitor) g.lock();
    const std::string component = lastComponent(name);
    if (component.empty() || component == "/") return false;
    const std::string path = directory.back() == '/' ? directory + component : directory + "/" + component;
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    if (!url || url->path().empty()) return false;
    bool known = false;
    for (const ConvertFormat& f : kConvertFormats)
        known = known || (f.code == code && f.type == type);
    if (!known) return false;
    // The encoders' settings as the export dialog last left them.
    const platform::audio::EncoderSettings settings = ZQ::DocumentPreferences::encoderSettings();
    if (ZQ::AudioFileExport::write(document_.sampleData_.get(), url.get(), type, code, reason, progress, outcome,
                                   &markers, &settings))
        return true;
    if (!(outcome && outcome->cancelled)) std::printf("Write failed\n");
    return false;
}

void DocumentExporter::didWriteFile() {
    {
        Guard g(document_.monitor());
        // The changes are kept in a file now: closing need not ask about them.
        document_.history_.markClean();
    }
    document_.changeCount_.fetch_add(1);
    if (Ref<ZQWaveformDisplayControllerBase> c = document_.display()) c->documentEditedStateDidChange();
    commandStateMayHaveChanged();
}

void DocumentExporter::begin(const std::string& directory, const std::string& name, int code,
                             platform::audio::FourCharCode type, std::function<void(bool)> finished) {
    // The job writes its own copy of the markers (the samples stay still
    // while it runs; the markers are the main thread's).
    ZQ::MarkerList markers;
    {
        Guard g(document_.monitor());
        markers = document_.markers_;
    }
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&document_);
    auto work = [self, directory, name, code, type,
                 markers = std::move(markers)](ZQ::AudioFileExport::Progress* progress, std::string* reason,
                                               ZQ::AudioFileExport::Outcome* outcome) {
        return self->exporter_.write(directory, name, code, type, markers, reason, progress, outcome, false);
    };
    auto done = [self, finished](bool written, const std::string& reason, const ZQ::AudioFileExport::Outcome& outcome) {
        ZQDocumentWindowSide* side = documentWindowSide();
        if (side) side->exportDidEnd(self.get());
        commandStateMayHaveChanged();
        const bool open = !self->closing_.load();
        if (written) self->exporter_.didWriteFile();
        if (open && side && !written && !outcome.cancelled && !reason.empty())
            side->runAlertSheet(self.get(), "The audio file could not be exported.", "Ok", reason, nullptr);
        if (open && side && written && outcome.clippedSamples > 0)
            side->exportClippedSamples(self.get(), outcome.clippedSamples);
        if (finished) finished(written);
    };
    // One at a time (exports start on the main thread only); none once closing.
    if (document_.closing_.load() || job_.isRunning()) {
        if (finished) finished(false);
        return;
    }
    stopPlayback();
    if (!job_.start(std::move(work), std::move(done))) {
        if (finished) finished(false);
        return;
    }
    commandStateMayHaveChanged();
    if (ZQDocumentWindowSide* side = documentWindowSide()) side->exportDidBegin(&document_);
}
