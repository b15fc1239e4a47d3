#include "core/threads.h"

namespace ZQ {
namespace threads {

platform::Thread* current() {
    return platform::Thread::current();
}
platform::Thread* main() {
    return platform::Thread::main();
}
bool isMainThread() {
    return platform::Thread::isMainThread();
}

platform::Array* commonModes() {
    static platform::Array* modes = [] {
        platform::Ref<platform::String> name =
            platform::Ref<platform::String>::adopt(platform::String::create("kCFRunLoopCommonModes"));
        return platform::Array::create({name.get()});
    }();
    return modes;
}

platform::Thread* create(platform::Thread::Body body) {
    return body ? platform::Thread::create(std::move(body)) : nullptr;
}

void start(platform::Thread* thread) {
    if (thread) thread->start();
}

void setName(platform::Thread* thread, const char* name) {
    if (thread && name) thread->setName(name);
}

void detach(std::function<void(platform::Object*)> body, platform::Object* argument) {
    if (!body || !argument) return;
    platform::Ref<platform::Object> arg = platform::Ref<platform::Object>::retain(argument);
    platform::Thread::detachNew([body = std::move(body), arg] { body(arg.get()); });
}

} // namespace threads
} // namespace ZQ
