// Running a program as a user's shell does, for the tests of the tools.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace testsupport {

struct CommandRun {
    int status = -1;
    std::string out; // standard output and error together
};

inline CommandRun runCommand(const std::string& command) {
    CommandRun r;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    const int s = pclose(p);
    r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return r;
}

// A path as one shell word.
inline std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

} // namespace testsupport
