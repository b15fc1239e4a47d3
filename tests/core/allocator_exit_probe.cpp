// Exits with the registry holding what the arguments say:
//   leak      two leaked blocks (16 and 24 bytes), report on
//   clean     nothing leaked, report on
//   quiet     two leaked blocks, report off
//   static    a block owned by a static object that releases it at exit
#include "core/allocator.h"
#include "core/buffer.h"

#include <cstring>

namespace {
struct StaticOwner {
    ZQ::SampleBuffer buffer;
} staticOwner;
} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "clean";
    ZQ::setReportOnExit(std::strcmp(mode, "quiet") != 0);
    if (!std::strcmp(mode, "leak") || !std::strcmp(mode, "quiet")) {
        ZQ::allocateZeroed(16);
        ZQ::allocateZeroedArray(24);
    }
    if (!std::strcmp(mode, "static")) staticOwner.buffer.allocate(ZQ::Num::Count(8ull));
    void* tidy = ZQ::allocateZeroed(100);
    ZQ::freeZeroed(tidy);
    return 0;
}

// The leaks above are the point of the exercise: keep LeakSanitizer (in
// sanitizer builds) from turning them into a failing exit status.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
