#include "platform/base/Object.h"

#include <cstdio>

namespace platform {

Object* Object::retain() const {
    refs_.fetch_add(1, std::memory_order_relaxed);
    return const_cast<Object*>(this);
}

void Object::release() const {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

Object* Object::copy() const {
    return retain();
}

std::string Object::description() const {
    char text[64];
    std::snprintf(text, sizeof text, "<%s: %p>", kindName(), static_cast<const void*>(this));
    return text;
}

} // namespace platform
