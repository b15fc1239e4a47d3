// Error reporting: the query protocol and the fatal-error reporter. Everything
// here reports on standard output and lets the program go on, except fatal().
#pragma once

#include "core/object.h"

#include <cstdint>

namespace ZQ {

// Dispatches a query code to an object: its handle() answers first; code 0 is
// always handled; anything else prints "unhandled opcode: " and returns 0.
// Returns 1 when the query was answered.
std::int32_t ask(z_* object, std::int32_t code, QueryResult& result);

// True when the holder holds nothing; true as well when it cannot say.
bool isEmptyQuery(z_* object);

// Prints the exception banner (without stopping).
void printFatalBanner(const char* message);
// Prints the banner, waits 600 seconds (time to attach a debugger), aborts.
[[noreturn]] void fatal(const char* message);

} // namespace ZQ
