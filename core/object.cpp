#include "core/object.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

namespace ZQ {

namespace {
// One shared recursive attribute; created on first use, which is the
// construction of the first lock (the allocator registry's, during static
// initialisation), so it exists before any lock needs it.
const pthread_mutexattr_t* recursiveAttribute() {
    static pthread_mutexattr_t attr = [] {
        pthread_mutexattr_t a;
        while (pthread_mutexattr_init(&a) != 0) {
        }
        pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
        return a;
    }();
    return &attr;
}
} // namespace

rlo_::rlo_() {
    std::memset(&mx_, 0, sizeof mx_);
    while (pthread_mutex_init(&mx_, recursiveAttribute()) != 0) {
    }
}

rlo_::~rlo_() {
    destroy();
}

void rlo_::destroy() {
    if (c_) return;
    c_ = true;
    pthread_mutex_destroy(&mx_);
}

int rlo_::lock() {
    if (c_) return 0;
    int r = pthread_mutex_lock(&mx_);
    return r == EINVAL ? 0 : r;
}

int rlo_::trylock() {
    if (c_) return 0;
    int r = pthread_mutex_trylock(&mx_);
    return r == EINVAL ? 0 : r;
}

int rlo_::unlock() {
    if (c_) return 0;
    int r = pthread_mutex_unlock(&mx_);
    return r == EINVAL ? 0 : r;
}

int loc_r::op(int code) {
    switch (code) {
    case kLock: {
        c_.fetch_add(1, std::memory_order_acq_rel);
        int r = lc_.trylock();
        if (r == EBUSY) r = lc_.lock();
        return r;
    }
    case kUnlock: {
        int r = lc_.unlock();
        c_.fetch_sub(1, std::memory_order_acq_rel);
        return r;
    }
    default:
        return EINVAL;
    }
}

loc_r::~loc_r() {
    for (std::int32_t n; (n = c_.load(std::memory_order_acquire)) != 0;) {
        std::printf("sync error... (%u)\n", static_cast<unsigned>(n - 1));
        std::fflush(stdout);
        // Give the holders time to let go rather than flooding the console.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    lc_.destroy();
}

bool z_::handle(std::int32_t code, QueryResult&) {
    return code == kQueryNoOperation;
}

} // namespace ZQ
