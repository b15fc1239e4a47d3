// Reference-counted object root for the platform stand-ins.
//
// Every platform value (strings, URLs, collections, errors, timers, threads) and
// every interface object (documents, controllers) derives from Object. An object
// starts with one reference owned by its creator; release() of the last
// reference deletes it. Each object also carries a recursive monitor for
// per-object synchronisation. All members are safe to call from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <typeinfo>

namespace platform {

class Object {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Object* retain() const;
    void release() const;
    std::uint32_t retainCount() const { return refs_.load(std::memory_order_acquire); }

    // A copy that can no longer change under the caller (+1). Immutable kinds
    // return themselves retained; mutable kinds return a fresh immutable copy.
    virtual Object* copy() const;
    // A fresh mutable copy (+1), or null for kinds that have no mutable form.
    virtual Object* mutableCopy() const { return nullptr; }
    virtual std::string description() const;
    virtual bool isEqual(const Object* other) const { return other == this; }
    // The kind's name, used by descriptions and diagnostics.
    virtual const char* kindName() const { return "Object"; }

    std::recursive_mutex& monitor() const { return monitor_; }

protected:
    virtual ~Object() = default;

private:
    mutable std::atomic<std::uint32_t> refs_{1};
    mutable std::recursive_mutex monitor_;
};

// Retain an object (nil allowed) and return it, typed.
template <class T> T* retained(T* o) {
    if (o) o->retain();
    return o;
}

inline void releaseObject(const Object* o) {
    if (o) o->release();
}

// Scoped owner of one reference: the C++ counterpart of a retained local that
// lives until the end of the scope.
template <class T> class Ref {
public:
    Ref() = default;
    // Takes over the caller's reference (a +1 result of create/copy).
    static Ref adopt(T* o) {
        Ref r;
        r.o_ = o;
        return r;
    }
    // Adds a reference of its own.
    static Ref retain(T* o) { return adopt(retained(o)); }
    Ref(const Ref& other) : o_(retained(other.o_)) {}
    Ref(Ref&& other) noexcept : o_(other.o_) { other.o_ = nullptr; }
    Ref& operator=(Ref other) noexcept {
        std::swap(o_, other.o_);
        return *this;
    }
    ~Ref() { releaseObject(o_); }

    T* get() const { return o_; }
    T* operator->() const { return o_; }
    T& operator*() const { return *o_; }
    explicit operator bool() const { return o_ != nullptr; }
    // Gives the reference up to the caller.
    T* detach() {
        T* o = o_;
        o_ = nullptr;
        return o;
    }

private:
    T* o_ = nullptr;
};

} // namespace platform
