#include "document/DocumentExporter.h"

#include "document/DocumentPreferences.h"
#include "document/WindowSide.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "platform/soundfile/AudioFileWriter.h"
#include "platform/soundfile/ExtAudioFile.h"
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

const std::vector<SaveFormat>& DocumentExporter::saveFormats() {
    using namespace ZQ::AudioFileExport;
    namespace a = platform::audio;
    static const std::vector<SaveFormat> formats = {
        {kInteger16, a::kAudioFileWAVEType, "WAV, 16-bit integer", "wav"},
        {kInteger24, a::kAudioFileWAVEType, "WAV, 24-bit integer", "wav"},
        {kInteger32, a::kAudioFileWAVEType, "WAV, 32-bit integer", "wav"},
        {kFloat32, a::kAudioFileWAVEType, "WAV, 32-bit float", "wav"},
        {kInteger16, a::kAudioFileAIFFType, "AIFF, 16-bit integer", "aif"},
        {kInteger24, a::kAudioFileAIFFType, "AIFF, 24-bit integer", "aif"},
        {kInteger32, a::kAudioFileAIFFType, "AIFF, 32-bit integer", "aif"},
        {kFlac16, a::kAudioFileFLACType, "FLAC, 16-bit", "flac"},
        {kFlac24, a::kAudioFileFLACType, "FLAC, 24-bit", "flac"},
        {kVorbis, a::kAudioFileOggType, "Ogg Vorbis", "ogg"},
        {kOpus, a::kAudioFileOggType, "Opus", "opus"},
        {kMp3, a::kAudioFileMP3Type, "MP3", "mp3"},
    };
    return formats;
}

namespace {

// What Save As and the question before a lossy save call an encoding that
// only the source's own format names.
std::string encodingTitle(const platform::audio::AudioStreamBasicDescription& d) {
    namespace a = platform::audio;
    const std::string bits = std::to_string(d.mBitsPerChannel) + "-bit";
    if (d.mFormatID == a::kAudioFormatLinearPCM)
        return bits + ((d.mFormatFlags & a::kAudioFormatFlagIsFloat) ? " float" : " integer");
    if (d.mFormatID == a::fourcc("ulaw")) return "\u03bc-law";
    if (d.mFormatID == a::fourcc("alaw")) return "A-law";
    if (d.mFormatID == 0x6D730011u || d.mFormatID == a::fourcc("ima4")) return "IMA ADPCM";
    if (d.mFormatID == 0x6D730002u) return "Microsoft ADPCM";
    if (d.mFormatID == a::fourcc("agsm")) return "GSM 6.10";
    if (d.mFormatID == a::fourcc("alac")) return "Apple Lossless, " + bits;
    return "its own encoding";
}

std::string containerTitle(platform::audio::FourCharCode container) {
    namespace a = platform::audio;
    if (container == a::kAudioFileAIFFType) return "AIFF";
    if (container == a::kAudioFileCAFType) return "CAF";
    if (container == a::kAudioFileWave64Type) return "Wave64";
    return "WAV";
}

} // namespace

bool DocumentExporter::ownFormat(SaveFormat* out, bool* lossy) const {
    using namespace ZQ::AudioFileExport;
    namespace a = platform::audio;
    if (lossy) *lossy = false;
    const ZQ::AudioFileInformationData* info = document_.sampleData_ ? document_.sampleData_->information() : nullptr;
    if (!info || !info->fileFormat.isPresent()) return false;
    const a::FourCharCode container = info->fileFormat.value;
    const a::AudioStreamBasicDescription& d = info->fileDataFormat.value;
    auto listed = [out](int code, a::FourCharCode type) {
        for (const SaveFormat& f : saveFormats())
            if (f.code == code && f.type == type) {
                if (out) *out = f;
                return true;
            }
        return false;
    };
    const bool wave =
        container == a::kAudioFileWAVEType || container == a::kAudioFileRF64Type || container == a::kAudioFileBW64Type;
    if ((wave || container == a::kAudioFileAIFFType) && d.mFormatID == a::kAudioFormatLinearPCM) {
        const a::FourCharCode type = wave ? a::kAudioFileWAVEType : a::kAudioFileAIFFType;
        const bool isFloat = (d.mFormatFlags & a::kAudioFormatFlagIsFloat) != 0;
        const bool isSigned = (d.mFormatFlags & a::kAudioFormatFlagIsSignedInteger) != 0;
        if (isFloat && wave && d.mBitsPerChannel == 32 && listed(kFloat32, type)) return true;
        if (!isFloat && isSigned && d.mBitsPerChannel == 16 && listed(kInteger16, type)) return true;
        if (!isFloat && isSigned && d.mBitsPerChannel == 24 && listed(kInteger24, type)) return true;
        if (!isFloat && isSigned && d.mBitsPerChannel == 32 && listed(kInteger32, type)) return true;
    }
    if (container == a::kAudioFileFLACType)
        return listed(d.mBitsPerChannel > 16 ? kFlac24 : kFlac16, a::kAudioFileFLACType);
    bool reencodes = true;
    bool found = false;
    if (container == a::kAudioFileOggType && d.mFormatID == a::fourcc("vorb"))
        found = listed(kVorbis, container);
    else if (container == a::kAudioFileOggType && d.mFormatID == a::fourcc("opus"))
        found = listed(kOpus, container);
    else if (container == a::kAudioFileMP3Type && d.mFormatID == a::fourcc(".mp3"))
        found = listed(kMp3, container);
    else if (a::AudioFileWriter::canCreateLike(container, d)) {
        found = true;
        // Linear samples, the companded ones and Apple Lossless come back
        // exactly; the ADPCMs and GSM lose a little each time.
        reencodes = d.mFormatID == 0x6D730011u || d.mFormatID == a::fourcc("ima4") || d.mFormatID == 0x6D730002u ||
                    d.mFormatID == a::fourcc("agsm");
        if (out) {
            SaveFormat f;
            f.code = kSourceEncoding;
            f.type = container;
            f.title = containerTitle(container) + ", " + encodingTitle(d);
            bool hasExtension = false;
            Ref<platform::URL> url = document_.fileURL();
            const std::string ext = url ? url->pathExtension(&hasExtension) : std::string();
            f.extension = hasExtension && !ext.empty()           ? ext
                          : wave                                 ? "wav"
                          : container == a::kAudioFileCAFType    ? "caf"
                          : container == a::kAudioFileWave64Type ? "w64"
                                                                 : "aif";
            *out = f;
        }
    }
    if (lossy) *lossy = found && reencodes;
    return found;
}

void DocumentExporter::save(std::function<void(bool)> finished) {
    bool lossy = false;
    SaveFormat f;
    const std::string path = document_.fileName();
    if (!ownFormat(&f, &lossy) || path.empty()) {
        saveAs(std::move(finished));
        return;
    }
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&document_);
    auto go = [self, directory, path, f, finished](bool confirmed) {
        if (!confirmed) {
            if (finished) finished(false);
            return;
        }
        self->exporter_.begin(directory, path, f.code, f.type, finished, Mode::Save);
    };
    ZQDocumentWindowSide* side = documentWindowSide();
    // Saving a lossy stream encodes it again: asked first (without a window
    // to ask on, the save goes on).
    if (lossy && side &&
        side->runQuestion(&document_, "Do you want to save \u201c" + lastComponent(path) + "\u201d in its own format?",
                          "Saving encodes the whole file again as " + f.title +
                              ", which loses a little more of the sound each time. Save As can write a lossless "
                              "format instead.",
                          "&Save", go))
        return;
    go(true);
}

void DocumentExporter::saveAs(std::function<void(bool)> finished) {
    ZQDocumentWindowSide* side = documentWindowSide();
    // The formats offered: the document's own first where the list lacks it.
    std::vector<SaveFormat> formats = saveFormats();
    int preferred = 0;
    SaveFormat own;
    if (ownFormat(&own)) {
        if (own.code == ZQ::AudioFileExport::kSourceEncoding) {
            formats.insert(formats.begin(), own);
        } else {
            for (std::size_t i = 0; i < formats.size(); ++i)
                if (formats[i].code == own.code && formats[i].type == own.type) preferred = int(i);
        }
    }
    const std::string proposed = proposedName();
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&document_);
    auto done = [self, formats, finished](bool accepted, const std::string& directory, const std::string& file,
                                          int format) {
        if (!accepted || format < 0 || std::size_t(format) >= formats.size()) {
            if (finished) finished(false);
            return;
        }
        const SaveFormat& f = formats[std::size_t(format)];
        self->exporter_.begin(directory, file, f.code, f.type, finished, Mode::Save);
    };
    if (!side || !side->runSaveAsPanel(&document_, formats, preferred, proposed, done)) {
        if (finished) finished(false);
    }
}

bool DocumentExporter::saveTo(const std::string& path, const SaveFormat& f, std::string* reason) {
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    stopPlayback();
    Guard g(document_.monitor());
    if (!write(directory, path, f.code, f.type, document_.markers_, reason, nullptr, nullptr, true, Mode::Save))
        return false;
    didSave(directory + lastComponent(path));
    return true;
}

void DocumentExporter::didSave(const std::string& path) {
    {
        Guard g(document_.monitor());
        Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
        if (path != document_.fileName()) document_.setFileURL(url.get());
        // The record describes the file as it is now (its length, format,
        // chunks, tags); the samples stay where they are read from.
        platform::audio::ExtAudioFile* reference = nullptr;
        if (document_.sampleData_ && platform::audio::ExtAudioFile::openURL(url.get(), &reference) == 0) {
            document_.sampleData_->informationHolder()->read(reference);
            platform::releaseObject(reference);
        }
    }
    didWriteFile();
    if (ZQDocumentWindowSide* side = documentWindowSide()) side->documentWasSaved(&document_);
}

std::string DocumentExporter::proposedName() const {
    // The document's name without its folder and extension.
    std::string proposed;
    if (Ref<platform::URL> url = document_.fileURL()) {
        proposed = url->lastPathComponent();
        bool hasExtension = false;
        const std::string ext = url->pathExtension(&hasExtension);
        if (hasExtension) proposed.resize(proposed.size() - ext.size() - 1);
    }
    return proposed;
}

std::string DocumentExporter::exportExtension(int code, platform::audio::FourCharCode type) {
    using namespace ZQ::AudioFileExport;
    if (code == kFlac16 || code == kFlac24) return "flac";
    (void)type;
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
    const std::string proposed = proposedName();
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
    if (!write(directory, name, code, type, document_.markers_, reason, nullptr, outcome, true, Mode::Copy))
        return false;
    didWriteFile();
    return true;
}

bool DocumentExporter::write(const std::string& directory, const std::string& name, int code,
                             platform::audio::FourCharCode type, const ZQ::MarkerList& markers, std::string* reason,
                             ZQ::AudioFileExport::Progress* progress, ZQ::AudioFileExport::Outcome* outcome,
                             bool holdMonitor, Mode mode) {
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
    // The listed formats, and a save's own (which the writer checks).
    bool known = code == ZQ::AudioFileExport::kSourceEncoding;
    for (const SaveFormat& f : saveFormats())
        known = known || (f.code == code && f.type == type);
    if (!known) return false;
    // The encoders' settings as the export dialog last left them.
    const platform::audio::EncoderSettings settings = ZQ::DocumentPreferences::encoderSettings();
    // The dither as the dialog last chose it; a new rate only for a copy
    // (a saved document is the file written, at its own rate).
    ZQ::AudioFileExport::Conversion conversion = ZQ::DocumentPreferences::exportConversion();
    if (mode != Mode::Copy) conversion.rate = 0;
    if (ZQ::AudioFileExport::write(document_.sampleData_.get(), url.get(), type, code, reason, progress, outcome,
                                   &markers, &settings, &conversion))
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
                             platform::audio::FourCharCode type, std::function<void(bool)> finished, Mode mode) {
    // The job writes its own copy of the markers (the samples stay still
    // while it runs; the markers are the main thread's).
    ZQ::MarkerList markers;
    {
        Guard g(document_.monitor());
        markers = document_.markers_;
    }
    Ref<ZQAudioFileDocument> self = Ref<ZQAudioFileDocument>::retain(&document_);
    auto work = [self, directory, name, code, type, mode,
                 markers = std::move(markers)](ZQ::AudioFileExport::Progress* progress, std::string* reason,
                                               ZQ::AudioFileExport::Outcome* outcome) {
        return self->exporter_.write(directory, name, code, type, markers, reason, progress, outcome, false, mode);
    };
    const std::string written_path =
        (directory.empty() || directory.back() == '/' ? directory : directory + "/") + lastComponent(name);
    auto done = [self, finished, mode, written_path](bool written, const std::string& reason,
                                                     const ZQ::AudioFileExport::Outcome& outcome) {
        ZQDocumentWindowSide* side = documentWindowSide();
        if (side) side->exportDidEnd(self.get());
        commandStateMayHaveChanged();
        const bool open = !self->closing_.load();
        if (written && mode == Mode::Save && open)
            self->exporter_.didSave(written_path);
        else if (written)
            self->exporter_.didWriteFile();
        if (open && side && !written && !outcome.cancelled && !reason.empty())
            side->runAlertSheet(self.get(),
                                mode == Mode::Save ? "The audio file could not be saved."
                                                   : "The audio file could not be exported.",
                                "Ok", reason, nullptr);
        if (open && side && written && (outcome.clippedSamples > 0 || outcome.markersLeftOut > 0))
            side->exportNote(self.get(), mode == Mode::Save, outcome.clippedSamples, outcome.markersLeftOut);
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
