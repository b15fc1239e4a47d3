// The library's object root `z_`, its per-object counted recursive lock, the
// scoped guard and the one-shot latch.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <pthread.h>

namespace ZQ {

// Query codes answered through z_::handle (see errors.h for the dispatcher).
enum : std::int32_t {
    kQueryNoOperation = 0,
    kQueryIsEmpty = -1997,
};

// The result record of a query: an 8-byte value area and a kind code.
struct QueryResult {
    enum : std::int32_t { kBoolean = 5 };

    std::uint8_t value[8] = {};
    std::int32_t kind = kBoolean;

    QueryResult() = default;
    explicit QueryResult(bool answer) { setBoolean(answer); }
    void setBoolean(bool answer) {
        std::memset(value, 0, sizeof value);
        value[0] = answer ? 1 : 0;
        kind = kBoolean;
    }
    bool boolean() const { return value[0] != 0; }
};

// A recursive POSIX mutex. Once destroyed, lock and unlock report success
// without touching the mutex (the invalid-argument case).
class rlo_ {
public:
    rlo_();
    ~rlo_();
    rlo_(const rlo_&) = delete;
    rlo_& operator=(const rlo_&) = delete;

    int lock();    // 0 on success
    int trylock(); // 0 when taken, EBUSY when held elsewhere
    int unlock();
    void destroy();
    bool destroyed() const { return c_; }

private:
    pthread_mutex_t mx_;
    bool c_ = false;
};

// The per-object lock: a recursive mutex plus the atomic count of threads that
// hold it or wait for it (a re-entering holder counts once per entry).
class loc_r {
public:
    enum : int { kLock = 1, kUnlock = 2 };

    loc_r() = default;
    // Waits (printing "sync error... (" lines) while other threads hold or
    // await the lock, then destroys it.
    ~loc_r();
    loc_r(const loc_r&) = delete;
    loc_r& operator=(const loc_r&) = delete;

    // code 1 locks, 2 unlocks; returns 0 on success.
    int op(int code);
    void lock() { op(kLock); }
    void unlock() { op(kUnlock); }
    std::int32_t holders() const { return c_.load(std::memory_order_acquire); }

private:
    rlo_ lc_;
    std::atomic<std::int32_t> c_{0};
};

// The root of the library's own objects. Virtual operations in slot order:
// destructor, deleting destructor, self, hook, handles, handle.
class z_ {
public:
    z_() = default;
    // A copy is a new object with a lock of its own.
    z_(const z_&) {}
    z_& operator=(const z_&) { return *this; }
    virtual ~z_() = default;

    virtual z_* self() { return this; }
    virtual void hook() {}
    virtual bool handles(std::int32_t code) const { return code == kQueryNoOperation; }
    // Answers a query code; the root answers only "no operation".
    virtual bool handle(std::int32_t code, QueryResult& result);

    void lock() const { lo_.lock(); }
    void unlock() const { lo_.unlock(); }
    loc_r& objectLock() const { return lo_; }

private:
    mutable loc_r lo_;
};

// Holds an object's lock for the guard's lifetime (nothing for a null object).
class sync_guard {
public:
    explicit sync_guard(const z_* o) : o_(o) {
        if (o_) o_->lock();
    }
    explicit sync_guard(const z_& o) : sync_guard(&o) {}
    ~sync_guard() {
        if (o_) o_->unlock();
    }
    sync_guard(const sync_guard&) = delete;
    sync_guard& operator=(const sync_guard&) = delete;

private:
    const z_* o_;
};

// A one-bit latch: starts clear, set once.
struct once {
    unsigned b : 1 = 0;

    bool isSet() const { return b != 0; }
    // Sets the latch; true only for the call that set it.
    bool set() {
        if (b) return false;
        b = 1;
        return true;
    }
};

} // namespace ZQ
