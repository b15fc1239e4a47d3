#include "core/errors.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace ZQ {

std::int32_t ask(z_* object, std::int32_t code, QueryResult& result) {
    if (object && object->handle(code, result)) return 1;
    if (code == kQueryNoOperation) return 1;
    std::printf("unhandled opcode: %p op: %d\n", static_cast<void*>(object), static_cast<int>(code));
    return 0;
}

bool isEmptyQuery(z_* object) {
    QueryResult result(true);
    return ask(object, kQueryIsEmpty, result) == 1 ? result.boolean() : true;
}

void printFatalBanner(const char* message) {
    std::printf(" -=== Exception encountered ===- \n");
    std::printf("Message: %s\n", message ? message : "(null)");
    std::printf(" -=============================- \n");
    std::fflush(stdout);
}

void fatal(const char* message) {
    printFatalBanner(message);
    std::this_thread::sleep_for(std::chrono::seconds(600));
    std::abort();
}

} // namespace ZQ
