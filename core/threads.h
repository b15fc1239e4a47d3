// Thin thread and run-loop utilities over the platform's thread objects.
#pragma once

#include "platform/base/Values.h"
#include "platform/threads/Threads.h"

#include <functional>
#include <string>

namespace ZQ {
namespace threads {

platform::Thread* current();
platform::Thread* main();
bool isMainThread();
// A process-wide array holding the run loop's common-modes name.
platform::Array* commonModes();
// A thread object for a body, not started (+1; null for an empty body).
platform::Thread* create(platform::Thread::Body body);
void start(platform::Thread* thread);                                                 // ignored for null
void setName(platform::Thread* thread, const char* name);                             // ignored when either is null
void detach(std::function<void(platform::Object*)> body, platform::Object* argument); // ignored when either is null

} // namespace threads
} // namespace ZQ
