// A progress line for the command-line tools: "name: 42%" rewritten in place
// on a terminal while a long file decodes (or exports), erased when it ends. Nothing at
// all when the stream is not a terminal (a pipe, a file, a test harness) or
// when the decode ends within half a second.
#pragma once

#include "audiofile/AudioFileReader.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zqtools {

class TerminalProgress {
public:
    static constexpr int kShowAfterMs = 500;
    static constexpr int kUpdateEveryMs = 100;

    // Watches `control` for the decode of `name`, writing to `fd` (standard
    // error by default) when it is a terminal.
    TerminalProgress(std::string name, const ZQ::DecodeControl& control, int fd = 2);
    // The same for any long task whose progress `fraction` tells (0 ... 1).
    TerminalProgress(std::string name, std::function<double()> fraction, int fd = 2);
    // Stops watching and erases the line it wrote.
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

private:
    void run();
    void write(const std::string& text) const;

    std::string name_;
    std::function<double()> fraction_;
    int fd_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool done_ = false;
    bool wrote_ = false;
    std::thread thread_;
};

} // namespace zqtools
