#include "core/allocator.h"

#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include <algorithm>
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

// Large arrays (a channel's samples, its summary, a decode) are mappings of
// their own, placed on 2 MB boundaries and advised onto 2 MB pages: they are
// read in long strides when an overview is drawn, and on huge pages the
// processor finds every column's samples without a page-table walk each
// time. Being mappings, they grow and shrink by moving page tables, never by
// copying samples, and because every move keeps the 2 MB alignment the huge
// pages survive it (an unaligned move would split them into small ones and
// every later pass over the channel would pay for it).
constexpr std::size_t kMappedBytes = std::size_t(8) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Beyond this a length could not be rounded up to whole huge pages.
constexpr std::size_t kMaxMappedBytes = ~std::size_t{0} / 2;

std::size_t mappedLength(std::size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

// Huge pages are only worth having while they come quickly. In a virtual
// machine whose host takes back free memory, a 2 MB page the host must supply
// again takes milliseconds to fault instead of a tenth of one, and an hour of
// stereo (1,300 such pages) then opens in seconds. A few slow pages turn the
// advice off for the rest of that mapping and, for a while, for new ones:
// small pages fault at a steady pace whatever the host does.
constexpr auto kSlowHugePage = std::chrono::microseconds(2000);
// A warm machine has the odd slow page too (a scheduling hiccup): only a
// few of them tell that the memory is cold.
constexpr int kSlowPagesTolerated = 2;
constexpr auto kSmallPagesFor = std::chrono::seconds(5);
std::atomic<std::int64_t> gSmallPagesUntil{0}; // steady-clock nanoseconds

std::int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Advises `length` bytes at `p` onto huge pages and, with `prefault`, faults
// them in one huge page at a time while each comes quickly; otherwise the
// whole mapping (one advice over all of it, so that it stays one mapping
// the kernel can resize) falls back to small pages.
void adviseHugePages(void* p, std::size_t length, bool prefault) {
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
    if (nowNanoseconds() < gSmallPagesUntil.load(std::memory_order_relaxed)) {
        ::madvise(p, length, MADV_NOHUGEPAGE);
        return;
    }
    ::madvise(p, length, MADV_HUGEPAGE);
    if (!prefault) return;
    auto* bytes = static_cast<volatile unsigned char*>(p);
    int slow = 0;
    for (std::size_t at = 0; at < length; at += kHugePage) {
        const auto t0 = std::chrono::steady_clock::now();
        bytes[at] = 0; // a fresh page is zero: writing zero keeps it so
        if (std::chrono::steady_clock::now() - t0 > kSlowHugePage && ++slow > kSlowPagesTolerated) {
            ::madvise(p, length, MADV_NOHUGEPAGE);
            gSmallPagesUntil.store(nowNanoseconds() +
                                       std::chrono::duration_cast<std::chrono::nanoseconds>(kSmallPagesFor).count(),
                                   std::memory_order_relaxed);
            return;
        }
    }
#else
    (void)p;
    (void)length;
    (void)prefault;
#endif
}

// A fresh zeroed mapping of `length` (whole huge pages) on a huge-page
// boundary; `prefault`: its pages faulted in now (see adviseHugePages).
void* mapAligned(std::size_t length, bool prefault) {
    void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto begin = reinterpret_cast<std::uintptr_t>(raw);
    const auto aligned = (begin + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > begin) ::munmap(raw, aligned - begin);
    const std::size_t after = begin + length + kHugePage - (aligned + length);
    if (after > 0) ::munmap(reinterpret_cast<void*>(aligned + length), after);
    void* p = reinterpret_cast<void*>(aligned);
    adviseHugePages(p, length, prefault);
    return p;
}

// Resizes a mapping made by mapAligned; `p` follows a move. Fresh pages are zero.
bool remapAligned(void*& p, std::size_t oldLength, std::size_t length) {
    if (length == oldLength) return true;
    auto* base = static_cast<unsigned char*>(p);
    if (length < oldLength) return ::munmap(base + length, oldLength - length) == 0;
    if (::mremap(p, oldLength, length, 0) != MAP_FAILED) return true; // grown where it is
    // Moved onto a reserved aligned range: the page tables move, the samples stay.
    void* target = mapAligned(length, false); // its pages are replaced by the moved ones
    if (!target) return false;
    void* moved = ::mremap(p, oldLength, length, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (moved == MAP_FAILED) {
        ::munmap(target, length);
        return false;
    }
    p = moved;
    return true;
}

void zeroBytes(void* p, std::size_t bytes) {
    // In 8-byte words, then the remaining bytes.
    auto* words = static_cast<std::uint64_t*>(p);
    std::size_t nWords = bytes / 8;
    for (std::size_t i = 0; i < nWords; ++i)
        words[i] = 0;
    auto* tail = static_cast<unsigned char*>(p) + nWords * 8;
    for (std::size_t i = 0; i < bytes % 8; ++i)
        tail[i] = 0;
}

} // namespace

void* aref_::allocate(std::size_t bytes, bool array) {
    const bool mapped = array && bytes >= kMappedBytes;
    if (mapped && bytes > kMaxMappedBytes) {
        ZQ_alloc_ref_error_break();
        return nullptr;
    }
    // Smaller arrays come from malloc so that realloc can resize them.
    void* p = mapped  ? mapAligned(mappedLength(bytes), true)
              : array ? std::malloc(bytes)
                      : ::operator new(bytes, std::nothrow);
    if (!p) {
        ZQ_alloc_ref_error_break();
        return nullptr;
    }
    if (!mapped) zeroBytes(p, bytes); // a fresh mapping is zero already
    registerRecord({p, bytes, bytes, true, array, false, mapped});
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
    void* p = address;
    std::size_t stale = bytes; // up to here the block may hold old contents
    bool mapped = record->mapped;
    if (mapped) {
        if (bytes > kMaxMappedBytes) return false;
        const std::size_t oldLength = mappedLength(static_cast<std::size_t>(record->size));
        if (!remapAligned(p, oldLength, mappedLength(bytes))) {
            ZQ_alloc_ref_error_break();
            return false;
        }
        stale = std::min(bytes, oldLength);
    } else if (bytes >= kMappedBytes && bytes <= kMaxMappedBytes) {
        // Outgrowing malloc: from now on a mapping, so later resizes copy nothing.
        p = mapAligned(mappedLength(bytes), false); // under the registry's lock: no faulting here
        if (!p) {
            ZQ_alloc_ref_error_break();
            return false;
        }
        std::memcpy(p, address, oldBytes);
        std::free(address);
        stale = oldBytes;
        mapped = true;
    } else {
        p = std::realloc(address, bytes);
        if (!p) {
            ZQ_alloc_ref_error_break();
            return false;
        }
    }
    if (stale > oldBytes) std::memset(static_cast<unsigned char*>(p) + oldBytes, 0, stale - oldBytes);
    record->address = p;
    record->size = record->size2 = bytes;
    record->mapped = mapped;
    address = p;
    return true;
}

bool aref_::release(void* address) {
    if (!address) return false;
    std::size_t unmap = 0;
    {
        sync_guard g(this);
        AllocationRecord* found = nullptr;
        for (AllocationRecord& r : records_)
            if (r.address == address) {
                found = &r;
                break;
            }
        if (!found) {
            std::printf("ZQ::aref_:unfa^:%p\n", address);
            return false;
        }
        if (!found->live) std::printf("Potential double free for object at: %p\n", address);
        if (found->live && found->mapped) unmap = mappedLength(static_cast<std::size_t>(found->size));
        *found = AllocationRecord{};
    }
    if (unmap == 0) return true;
    // Nothing for the caller to free: the mapping goes back here, outside the
    // registry's lock (giving back a channel's pages takes a while, and other
    // threads' blocks must not wait for it).
    ::munmap(address, unmap);
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
    if (!known) watches_.push_back({nullptr, bytes, bytes, false, array, false, false});
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
