// printf-style formatting with two additions the diagnostics rely on:
// "%@" takes an `const platform::Object*` and prints its description ("(null)"
// for null), and the length modifier "q" means "ll" ("%qu", "%qi").
#pragma once

#include <cstdarg>
#include <string>

namespace platform {

std::string format(const char* fmt, ...);
std::string formatv(const char* fmt, va_list args);

// The platform log: one line on standard error, prefixed with a time stamp and
// the process name and id, like the system log of a desktop platform.
void log(const char* fmt, ...);

} // namespace platform
