// Owning holders: auto_ptr for the library's own objects (storage from the
// tracking allocator), OCPtr for reference-counted platform objects, the
// notification observation holder and the repeating timer holder.
//
// auto_ptr locks itself while it destroys or replaces its object. OCPtr and the
// small holders take no lock: the object that contains them serialises use.
#pragma once

#include "core/allocator.h"
#include "core/object.h"
#include "platform/base/Notifications.h"
#include "platform/base/Object.h"
#include "platform/threads/Threads.h"

#include <functional>
#include <new>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace ZQ {

template <class T> class auto_ptr : public z_ {
public:
    auto_ptr() = default;
    // Takes ownership of an object whose storage came from allocateZeroed
    // (as make() does).
    explicit auto_ptr(T* o) : o_(o) {}
    auto_ptr(const auto_ptr&) = delete;
    auto_ptr& operator=(const auto_ptr&) = delete;
    ~auto_ptr() override { reset(); }

    // Builds a T in storage from the tracking allocator.
    template <class... Args> static T* create(Args&&... args) {
        static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
        void* storage = allocateZeroed(sizeof(T));
        if (!storage) return nullptr;
        try {
            return new (storage) T(std::forward<Args>(args)...);
        } catch (...) {
            freeZeroed(storage);
            throw;
        }
    }
    template <class... Args> T* make(Args&&... args) {
        reset(create(std::forward<Args>(args)...));
        return o_;
    }

    T* get() const { return o_; }
    T* operator->() const { return o_; }
    T& operator*() const { return *o_; }
    bool isEmpty() const { return o_ == nullptr; }
    explicit operator bool() const { return o_ != nullptr; }

    // Gives up the held object without destroying it (the caller owns it).
    T* detach() {
        sync_guard g(this);
        T* o = o_;
        o_ = nullptr;
        return o;
    }

    // Destroys the held object (if any) and holds `o` instead.
    void reset(T* o = nullptr) {
        sync_guard g(this);
        if (o == o_) return;
        T* old = o_;
        o_ = o;
        destroy(old);
    }

    bool handle(std::int32_t code, QueryResult& result) override {
        if (code != kQueryIsEmpty) return z_::handle(code, result);
        result.setBoolean(o_ == nullptr);
        return true;
    }

private:
    static void destroy(T* o) {
        if (!o) return;
        // The registry gates the free: a block it does not know is only
        // destroyed, never handed back to the system.
        if (release(o)) {
            if constexpr (std::has_virtual_destructor_v<T>) {
                delete o; // the virtual deleting destructor frees the full object
            } else {
                o->~T();
                ::operator delete(static_cast<void*>(o));
            }
        } else {
            o->~T();
        }
    }

    T* o_ = nullptr;
};

// Ownership modes of OCPtr.
enum : char {
    kOCRetain = 0,
    kOCCopy = 1,
    kOCMutableCopy = 2,
    kOCTakeOver = 3,
};

template <class T, int N = 0> class OCPtr : public z_ {
public:
    explicit OCPtr(char mode = kOCRetain) : m_(mode), NS_(&typeid(T)) {}
    // Stores `o` by the mode; with `adopt` it then releases once, so the holder
    // ends up owning exactly the caller's reference.
    OCPtr(T* o, char mode, bool adopt) : OCPtr(mode) {
        set(o);
        if (adopt && o) o->release();
    }
    OCPtr(const OCPtr&) = delete;
    OCPtr& operator=(const OCPtr&) = delete;
    ~OCPtr() override { set(nullptr); }

    void set(T* o) {
        // Checked here rather than on the class, so a holder of a type that is
        // only declared can be a member.
        static_assert(std::is_base_of_v<platform::Object, T>);
        if (o == this->o) return;
        T* old = this->o;
        this->o = store(o);
        if (old) old->release();
    }
    OCPtr& operator=(T* o) {
        set(o);
        return *this;
    }
    OCPtr& operator=(std::nullptr_t) {
        set(nullptr);
        return *this;
    }

    T* get() const { return o; }
    T* operator->() const { return o; }
    // The held object with a reference of the caller's own, so it survives a
    // later set().
    platform::Ref<T> getRetained() const { return platform::Ref<T>::retain(o); }
    bool isEmpty() const { return o == nullptr; }
    char mode() const { return m_; }
    const std::type_info& declaredClass() const { return *NS_; }

    bool handle(std::int32_t code, QueryResult& result) override {
        if (code != kQueryIsEmpty) return z_::handle(code, result);
        result.setBoolean(isEmpty());
        return true;
    }

private:
    T* store(T* o) const {
        if (!o) return nullptr;
        platform::Object* held = nullptr;
        switch (m_) {
        // Through the root: a kind may have its own methods named copy.
        case kOCCopy:
            held = static_cast<const platform::Object*>(o)->copy();
            break;
        case kOCMutableCopy:
            held = static_cast<const platform::Object*>(o)->mutableCopy();
            break;
        case kOCTakeOver:
            return o;
        default:
            return static_cast<T*>(o->retain());
        }
        if (auto* typed = dynamic_cast<T*>(held)) return typed;
        platform::releaseObject(held); // a kind without that form: hold nothing
        return nullptr;
    }

    T* o = nullptr;
    char m_;
    const std::type_info* NS_;
};

// Registers one observer with the default notification centre and unregisters
// it exactly once.
class ObjCObjectObservationManager {
public:
    using Callback = platform::NotificationCenter::Callback;

    explicit ObjCObjectObservationManager(const void* observer = nullptr) : ob_(observer) {}
    ~ObjCObjectObservationManager() { remove(); }
    ObjCObjectObservationManager(const ObjCObjectObservationManager&) = delete;
    ObjCObjectObservationManager& operator=(const ObjCObjectObservationManager&) = delete;

    void setObserver(const void* observer) { ob_ = observer; }
    // Registers the observer for `name` (when both are given); whenever an
    // observer is set, a later remove() unregisters it.
    void observe(Callback callback, const std::string& name);
    void remove();
    bool isRegistered() const { return remove_; }

private:
    const void* ob_;
    bool remove_ = false;
};

// A repeating timer on the current thread's event loop that can be stopped and
// started again.
class RenewableTimer {
public:
    using Callback = platform::Timer::Callback;

    RenewableTimer() = default;
    ~RenewableTimer() { stop(); }
    RenewableTimer(const RenewableTimer&) = delete;
    RenewableTimer& operator=(const RenewableTimer&) = delete;

    // False when a timer is running, the callback is missing or the interval
    // is not above 0; otherwise schedules the timer and returns true.
    bool start(double seconds, Callback callback, platform::Object* userInfo = nullptr);
    void stop();
    bool isRunning() const { return !t_.isEmpty(); }
    platform::Timer* timer() const { return t_.get(); }

private:
    OCPtr<platform::Timer, 0> t_{kOCRetain};
};

} // namespace ZQ
