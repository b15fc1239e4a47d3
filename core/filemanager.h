// The file-manager utility: a platform file manager created on first use, with
// an error holder whose pending error is logged ("Error in File Operaton: %@")
// before each checked call and when the utility is destroyed.
#pragma once

#include "core/holders.h"
#include "core/wrappers.h"
#include "platform/base/FileManager.h"

#include <string>

namespace ZQ {

class FileManagerUtility {
public:
    FileManagerUtility() = default;
    ~FileManagerUtility();
    FileManagerUtility(const FileManagerUtility&) = delete;
    FileManagerUtility& operator=(const FileManagerUtility&) = delete;

    // Whether a file exists at the path; false when no file manager could be made.
    bool fileExists(const std::string& path);
    // Reports a pending error, then asks.
    bool checkedFileExists(const std::string& path);
    void reportPendingError();
    ZIError& error() { return error_; }

private:
    OCPtr<platform::FileManager, 0> manager_;
    ZIError error_;
};

} // namespace ZQ
