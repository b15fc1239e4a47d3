#include "document/ZQDocumentController.h"

#include "document/MenuItem.h"
#include "document/ZQAudioFileDocumentAtPath.h"
#include "platform/base/Notifications.h"

#include <algorithm>
#include <cctype>

using platform::Ref;

ZQDocumentController& ZQDocumentController::sharedDocumentController() {
    static ZQDocumentController* shared = new ZQDocumentController; // lives for the whole process
    return *shared;
}

void commandStateMayHaveChanged() {
    platform::NotificationCenter::defaultCenter().post(kCommandStateMayHaveChangedNotification);
}

void ZQDocumentController::addDocument(platform::Object* document) {
    if (!document) return;
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (auto& d : documents_)
            if (d.get() == document) return;
        documents_.push_back(Ref<platform::Object>::retain(document));
    }
    commandStateMayHaveChanged();
}

void ZQDocumentController::removeDocument(platform::Object* document) {
    Ref<platform::Object> last; // released outside the lock
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = std::find_if(documents_.begin(), documents_.end(), [&](auto& d) { return d.get() == document; });
        if (it == documents_.end()) return;
        last = *it;
        documents_.erase(it);
        if (current_.get() == document) current_ = Ref<platform::Object>();
    }
    commandStateMayHaveChanged();
}

std::vector<Ref<platform::Object>> ZQDocumentController::documents() const {
    std::lock_guard<std::mutex> g(mutex_);
    return documents_;
}

bool ZQDocumentController::containsDocument(const platform::Object* document) const {
    std::lock_guard<std::mutex> g(mutex_);
    return std::any_of(documents_.begin(), documents_.end(), [&](auto& d) { return d.get() == document; });
}

void ZQDocumentController::setCurrentDocument(platform::Object* document) {
    Ref<platform::Object> previous = Ref<platform::Object>::retain(document); // released outside the lock
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (current_.get() == document) return;
        // Only an open document can be the current one: a closed one would be
        // held here for ever (a closing window may still be the active one).
        if (document &&
            std::none_of(documents_.begin(), documents_.end(), [&](auto& d) { return d.get() == document; }))
            return;
        std::swap(current_, previous);
    }
    commandStateMayHaveChanged();
}

Ref<platform::Object> ZQDocumentController::currentDocument() const {
    std::lock_guard<std::mutex> g(mutex_);
    return current_;
}

std::string ZQDocumentController::typeForExtension(const std::string& extension) {
    std::string e = extension;
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const struct {
        const char* extension;
        const char* type;
    } kTypes[] = {
        {"wav", "WAVE audio file"},  {"wave", "WAVE audio file"},  {"aif", "AIFF audio file"},
        {"aiff", "AIFF audio file"}, {"aifc", "AIFF audio file"},  {"sd2", "Sound Designer II audio file"},
        {"caf", "Core Audio file"},  {"w64", "Wave64 audio file"}, {"flac", "FLAC audio file"},
        {"ogg", "Ogg audio file"},   {"oga", "Ogg audio file"},    {"opus", "Ogg audio file"},
        {"mp3", "MPEG audio file"},  {"mp2", "MPEG audio file"},   {"mp1", "MPEG audio file"},
        {"mpga", "MPEG audio file"},
    };
    for (auto& t : kTypes)
        if (e == t.extension) return t.type;
    return "";
}

bool ZQDocumentController::openDocumentWithContentsOfPath(const std::string& path, Ref<platform::Error>* error) {
    Ref<platform::URL> url = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    bool hasExtension = false;
    const std::string type = typeForExtension(url->pathExtension(&hasExtension));
    if (type.empty()) {
        if (error) {
            Ref<platform::String> text = Ref<platform::String>::adopt(platform::String::create(
                "The file '" + url->lastPathComponent() +
                "' cannot be opened: only WAV, AIFF, Sound Designer II, CAF, Wave64, FLAC, Ogg Vorbis, Opus and MPEG "
                "audio files (.wav, .wave, .aif, .aiff, .aifc, .sd2, .caf, .w64, .flac, .ogg, .oga, .opus, .mp3, .mp2, "
                ".mp1, .mpga) can be opened."));
            Ref<platform::MutableDictionary> info =
                Ref<platform::MutableDictionary>::adopt(platform::MutableDictionary::create());
            info->setObject(text.get(), platform::kLocalizedDescriptionKey);
            *error = Ref<platform::Error>::adopt(platform::Error::create("ZQUnsupportedDocumentType", -1, info.get()));
        }
        return false;
    }
    Ref<ZQAudioFileDocumentAtPath> placeholder =
        Ref<ZQAudioFileDocumentAtPath>::adopt(ZQAudioFileDocumentAtPath::create());
    addDocument(placeholder.get());
    if (!placeholder->readFromURL(url.get(), type.c_str(), error)) {
        removeDocument(placeholder.get());
        return false;
    }
    return true;
}
