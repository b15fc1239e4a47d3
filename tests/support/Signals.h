// Signalling a child process in tests. A program can only answer SIGTERM
// once it has reached its own handler; before that (the dynamic loader and
// sanitizer start-up can take over a second on a loaded machine) the
// default action ends it, as it would end any program. Tests that check the
// answer therefore wait until the handler is in.
#pragma once

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/types.h>
#include <thread>

namespace testsupport {

// Whether process `pid` has a handler of its own for `signal` (its caught
// mask in /proc).
inline bool catchesSignal(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) != 0) continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        return (mask >> (signal - 1)) & 1ULL;
    }
    return false;
}

// Waits until `pid` catches `signal`, or `timeoutMs` passes.
inline bool waitUntilCatching(pid_t pid, int signal, int timeoutMs = 60000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!catchesSignal(pid, signal)) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace testsupport
