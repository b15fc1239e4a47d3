// Resident memory of this process, for the benchmark programs' peak figures.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace zqbench {

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"), or -1.
inline long statusKB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

// Resets the peak (VmHWM) to the current resident size; false where the
// kernel does not allow it, and then peaks are not comparable.
inline bool resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    return static_cast<bool>(out.flush());
}

} // namespace zqbench
