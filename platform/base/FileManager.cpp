#include "platform/base/FileManager.h"

#include <sys/stat.h>

namespace platform {

FileManager* FileManager::create() {
    return new FileManager;
}

bool FileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

} // namespace platform
