// What the command-line tools say, and how: help and version texts, a
// failure to open put in words, and the library's diagnostic lines kept
// off the terminal unless --verbose asks for them.
#pragma once

#include "audiofile/AudioFileReader.h"

#include <string>

namespace zqtools {

// "zqinfo (ZQ Audio) 0.1", then the libraries that read and write.
std::string versionText(const char* tool);

// Why `path` could not be opened, in words: the system's reason when it
// cannot be read at all ("No such file or directory"), the reader's refusal
// (disk space), the kind of file it is when that kind is not read, or that
// it is damaged.
std::string openFailureText(const std::string& path, const ZQ::DecodeControl& control);

// While it lives, standard output and error go nowhere (unless `verbose`):
// the reader and writer print their diagnostic lines there, which the
// application's log keeps but a script does not want. terminal() is where a
// progress line may still be written (the real standard error).
class QuietOutput {
public:
    // `errorsToo`: standard error as well (a tool whose alerts go there keeps it).
    explicit QuietOutput(bool verbose, bool errorsToo = true);
    ~QuietOutput();
    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;
    int terminal() const { return savedError_ >= 0 ? savedError_ : 2; }
    // Where the tool's own output still goes (the real standard output).
    int output() const { return savedOutput_ >= 0 ? savedOutput_ : 1; }

private:
    int savedOutput_ = -1;
    int savedError_ = -1;
};

} // namespace zqtools
