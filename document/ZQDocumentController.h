// The application's list of open documents and the current one (the
// document of the active window), and opening a file by its type.
// Any thread.
#pragma once

#include "platform/base/Object.h"
#include "platform/base/Values.h"

#include <mutex>
#include <string>
#include <vector>

class ZQDocumentController {
public:
    static ZQDocumentController& sharedDocumentController();

    // Documents are kept (retained) until removed; adding twice keeps one.
    void addDocument(platform::Object* document);
    void removeDocument(platform::Object* document);
    std::vector<platform::Ref<platform::Object>> documents() const;
    bool containsDocument(const platform::Object* document) const;

    // Null, or a document of the list (others are ignored).
    void setCurrentDocument(platform::Object* document);
    platform::Ref<platform::Object> currentDocument() const;

    // The document type of a file extension ("" when the application does
    // not open such files). Compared without regard to case.
    static std::string typeForExtension(const std::string& extension);

    // Opens a file the way the application does: the audio types go to the
    // placeholder route (decoded in the background, the window built when
    // done); anything else is refused with an error whose text says why.
    bool openDocumentWithContentsOfPath(const std::string& path, platform::Ref<platform::Error>* error);

private:
    ZQDocumentController() = default;
    mutable std::mutex mutex_;
    std::vector<platform::Ref<platform::Object>> documents_;
    platform::Ref<platform::Object> current_;
};
