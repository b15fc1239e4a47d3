#include "tools/common/TerminalProgress.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace zqtools {

TerminalProgress::TerminalProgress(std::string name, const ZQ::DecodeControl& control, int fd)
    : TerminalProgress(
          std::move(name), [&control] { return control.fraction(); }, fd) {}

TerminalProgress::TerminalProgress(std::string name, std::function<double()> fraction, int fd)
    : name_(std::move(name)), fraction_(std::move(fraction)), fd_(fd) {
    if (::isatty(fd_)) thread_ = std::thread([this] { run(); });
}

TerminalProgress::~TerminalProgress() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> g(lock_);
        done_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (wrote_) write("\r\033[K"); // the line goes; what the tool prints next starts clean
}

void TerminalProgress::write(const std::string& text) const {
    for (std::size_t at = 0; at < text.size();) {
        const ssize_t n = ::write(fd_, text.data() + at, text.size() - at);
        if (n <= 0) return;
        at += std::size_t(n);
    }
}

void TerminalProgress::run() {
    std::unique_lock<std::mutex> g(lock_);
    if (wake_.wait_for(g, std::chrono::milliseconds(kShowAfterMs), [this] { return done_; })) return;
    int shown = -1;
    do {
        const int percent = static_cast<int>(fraction_() * 100.0);
        if (percent != shown) {
            shown = percent;
            char line[32];
            std::snprintf(line, sizeof line, ": %d%%", percent);
            write("\r" + name_ + line);
            wrote_ = true;
        }
    } while (!wake_.wait_for(g, std::chrono::milliseconds(kUpdateEveryMs), [this] { return done_; }));
}

} // namespace zqtools
