#include "core/allocator.h"

#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace ZQ {

namespace {
// Trivially initialised and never destroyed: tells late releases (from objects
// destroyed after the registry, in other libraries) that the registry is gone.
std::atomic<bool> registryAlive{false};
} // namespace

// Priority 101 is the first one available to programs: the registry is built
// before any default-priority static object and destroyed after all of them.
__attribute__((init_priority(101))) static aref_ theRegistry;

aref_& registry() {
    return theRegistry;
}

extern "C" void ZQ_alloc_ref_error_break() {
    std::printf("ZQ_alloc_ref_error_break::%p::%ld::%ld\n", reinterpret_cast<void*>(pthread_self()),
                static_cast<long>(syscall(SYS_gettid)), static_cast<long>(getpid()));
}

aref_::aref_() : name_("Default") {
    records_.reserve(kReservedRecords);
    registryAlive.store(true);
}

aref_::~aref_() {
    registryAlive.store(false);
    lock();
    compactLocked();
    if (report_) {
        std::uint64_t count = 0, total = 0;
        while (!records_.empty()) {
            AllocationRecord r = records_.back();
            records_.pop_back();
            if (!r.live) continue;
            std::printf("ZQ::aref_^^lqdeq: %p:%llu:%llu:Yes:%s:%s\n", r.address,
                        static_cast<unsigned long long>(r.size), static_cast<unsigned long long>(r.size2),
                        r.array ? "Yes" : "No", r.third ? "Yes" : "No");
            ++count;
            total += r.size;
        }
        if (count)
            std::printf("\nlqct^%llu:%llu\n", static_cast<unsigned long long>(count),
                        static_cast<unsigned long long>(total));
        std::fflush(stdout);
    }
    unlock();
}

namespace {

// Large blocks (a channel's samples, its summary, a decode) are read in long
// strides when an overview is drawn: on 2 MB pages the processor finds every
// column's samples without a walk of the page tables each time. Asked for
// before the block is first touched, so that zeroing it fills whole pages.
void adviseHugePages(void* p, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::size_t kLarge = std::size_t(8) << 20;
    if (bytes < kLarge) return;
    const std::uintptr_t page = 4096;
    const auto begin = (reinterpret_cast<std::uintptr_t>(p) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(page - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

} // namespace

void* aref_::allocate(std::size_t bytes, bool array) {
    // Arrays come from malloc so that they can be resized (see resizeArray).
    void* p = array ? std::malloc(bytes) : ::operator new(bytes, std::nothrow);
    if (!p) {
        ZQ_alloc_ref_error_break();
        return nullptr;
    }
    adviseHugePages(p, bytes);
    // Zero in 8-byte words, then the remaining bytes.
    auto* words = static_cast<std::uint64_t*>(p);
    std::size_t nWords = bytes / 8;
    for (std::size_t i = 0; i < nWords; ++i)
        words[i] = 0;
    auto* tail = static_cast<unsigned char*>(p) + nWords * 8;
    for (std::size_t i = 0; i < bytes % 8; ++i)
        tail[i] = 0;
    registerRecord({p, bytes, bytes, true, array, false});
    return p;
}

void* aref_::allocateZeroed(std::size_t bytes) {
    return allocate(bytes, false);
}
void* aref_::allocateZeroedArray(std::size_t bytes) {
    return allocate(bytes, true);
}

void aref_::registerRecord(const AllocationRecord& record) {
    sync_guard g(this);
    compact();
    if (watching_) {
        for (const AllocationRecord& w : watches_) {
            if (w.size != record.size || w.array != record.array) continue;
            std::printf("aref_::mch::%p::%llu::%d\n", record.address, static_cast<unsigned long long>(record.size),
                        record.array ? 1 : 0);
            ZQ_alloc_ref_error_break();
        }
    }
    records_.push_back(record);
}

bool aref_::resizeArray(void*& address, std::size_t oldBytes, std::size_t bytes) {
    if (!address || bytes == 0) return false;
    sync_guard g(this);
    AllocationRecord* record = nullptr;
    for (AllocationRecord& r : records_)
        if (r.address == address && r.live && r.array) record = &r;
    if (!record) return false;
    // Large blocks are mapped pages, which realloc moves without copying:
    // growing or shrinking a channel costs neither a second copy of it in
    // memory nor the time to make one.
    void* p = std::realloc(address, bytes);
    if (!p) {
        ZQ_alloc_ref_error_break();
        return false;
    }
    if (bytes > oldBytes) std::memset(static_cast<unsigned char*>(p) + oldBytes, 0, bytes - oldBytes);
    record->address = p;
    record->size = record->size2 = bytes;
    address = p;
    return true;
}

bool aref_::release(void* address) {
    if (!address) return false;
    sync_guard g(this);
    for (AllocationRecord& r : records_) {
        if (r.address != address) continue;
        if (!r.live) std::printf("Potential double free for object at: %p\n", address);
        r = AllocationRecord{};
        return true;
    }
    std::printf("ZQ::aref_:unfa^:%p\n", address);
    return false;
}

void aref_::compact() {
    sync_guard g(this);
    compactLocked();
}

void aref_::compactLocked() {
    bool removed;
    do {
        removed = false;
        for (std::size_t i = 0; i < records_.size();) {
            if (!records_.back().live) {
                records_.pop_back();
                removed = true;
                continue;
            }
            if (!records_[i].live) {
                std::swap(records_[i], records_.back());
                records_.pop_back();
                removed = true;
            }
            ++i;
        }
    } while (removed);
}

void aref_::setReportOnExit(bool report) {
    sync_guard g(this);
    report_ = report;
}

void aref_::addWatch(std::uint64_t bytes, bool array) {
    sync_guard g(this);
    bool known = false;
    for (const AllocationRecord& w : watches_)
        known = known || (w.size == bytes && w.array == array);
    if (!known) watches_.push_back({nullptr, bytes, bytes, false, array, false});
    watching_ = true;
}

std::size_t aref_::recordCount() const {
    sync_guard g(this);
    return records_.size();
}

std::size_t aref_::liveCount() const {
    sync_guard g(this);
    std::size_t n = 0;
    for (const AllocationRecord& r : records_)
        n += r.live ? 1 : 0;
    return n;
}

std::size_t aref_::watchCount() const {
    sync_guard g(this);
    return watches_.size();
}

void* allocateZeroed(std::size_t bytes) {
    return registry().allocateZeroed(bytes);
}
void* allocateZeroedArray(std::size_t bytes) {
    return registry().allocateZeroedArray(bytes);
}

bool release(void* address) {
    // After the registry is gone nothing can be vouched for: keep the block.
    return registryAlive.load() && registry().release(address);
}

void setReportOnExit(bool report) {
    registry().setReportOnExit(report);
}
void addWatch(std::uint64_t bytes, bool array) {
    registry().addWatch(bytes, array);
}

void freeZeroed(void* address) {
    if (release(address)) ::operator delete(address);
}

void freeZeroedArray(void* address) {
    if (release(address)) std::free(address);
}

bool resizeArrayBytes(void*& block, std::uint64_t count, std::uint64_t n, std::uint64_t limit,
                      std::size_t elementSize) {
    if (!block || n == 0 || n >= limit) return false;
    return registry().resizeArray(block, static_cast<std::size_t>(count * elementSize),
                                  static_cast<std::size_t>(n * elementSize));
}

bool allocateArrayBytes(void*& destination, std::uint64_t n, std::uint64_t limit, std::size_t elementSize) {
    if (destination || n == 0 || n >= limit) return false;
    // A request the system cannot meet is retried a bounded number of times
    // with a short pause: retrying forever would hang the program on a file
    // too large for this machine instead of refusing it.
    void* p = nullptr;
    for (int attempt = 0; attempt < kAllocateArrayAttempts; ++attempt) {
        p = registry().allocateZeroedArray(static_cast<std::size_t>(n * elementSize));
        if (p) break;
        std::printf("allocator failed\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt * 5));
    }
    if (!p) return false;
    destination = p;
    return true;
}

} // namespace ZQ
