// The file manager stand-in: questions about the file system.
#pragma once

#include "platform/base/Object.h"

#include <string>

namespace platform {

class FileManager final : public Object {
public:
    static FileManager* create(); // +1
    bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr) const;
    const char* kindName() const override { return "FileManager"; }

private:
    FileManager() = default;
};

} // namespace platform
