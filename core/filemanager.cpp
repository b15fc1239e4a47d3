#include "core/filemanager.h"

#include "platform/base/Format.h"

namespace ZQ {

FileManagerUtility::~FileManagerUtility() {
    reportPendingError();
}

bool FileManagerUtility::fileExists(const std::string& path) {
    if (manager_.isEmpty()) {
        auto created = platform::Ref<platform::FileManager>::adopt(platform::FileManager::create());
        manager_.set(created.get());
    }
    if (manager_.isEmpty()) return false;
    return manager_->fileExistsAtPath(path);
}

bool FileManagerUtility::checkedFileExists(const std::string& path) {
    reportPendingError();
    return fileExists(path);
}

void FileManagerUtility::reportPendingError() {
    if (error_.isEmpty()) return;
    auto e = error_.get();
    platform::log("Error in File Operaton: %@", static_cast<const platform::Object*>(e.get()));
}

} // namespace ZQ
