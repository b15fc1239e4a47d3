// The tracking allocator: one process-wide registry of every live block the
// library holds, a gate against double release, and a leak report at exit.
//
// Pattern: obtain with allocateZeroed / allocateZeroedArray (or allocateArray),
// and when done call release(); free the block only when release() returned
// true (freeZeroed / freeZeroedArray do both steps). Small arrays are malloc
// blocks (freed with std::free); arrays of 8 MB or more are mappings that
// release() gives back itself (it then returns false). Arrays may be
// resized. Any thread may call.
#pragma once

#include "core/object.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ZQ {

struct AllocationRecord {
    void* address = nullptr;
    std::uint64_t size = 0;
    std::uint64_t size2 = 0;
    bool live = false;
    bool array = false;
    bool third = false;
    // A large array: a mapping of its own, given back by release() itself.
    bool mapped = false;
};

class aref_ : public z_ {
public:
    static constexpr std::size_t kReservedRecords = 2048;

    aref_();
    // Prints the leak report when it was switched on.
    ~aref_() override;

    void* allocateZeroed(std::size_t bytes);
    void* allocateZeroedArray(std::size_t bytes);
    // True means the caller must now free the block; false that it must not
    // (unknown, already released, or a mapping that release() gave back).
    bool release(void* address);
    // Resizes a live array block of `oldBytes` to `bytes`, keeping its
    // contents and zeroing what grew; the block may move (`address` follows).
    // False, with the block untouched, when it is unknown or memory is short.
    bool resizeArray(void*& address, std::size_t oldBytes, std::size_t bytes);
    void setReportOnExit(bool report);
    bool reportOnExit() const { return report_; }
    void addWatch(std::uint64_t bytes, bool array);

    // Removes cleared records; runs before every registration.
    virtual void compact();

    const std::string& name() const { return name_; }
    // Inspection for tests and diagnostics.
    std::size_t recordCount() const;
    std::size_t liveCount() const;
    std::size_t watchCount() const;

private:
    void* allocate(std::size_t bytes, bool array);
    void registerRecord(const AllocationRecord& record);
    void compactLocked();

    std::string name_;
    std::vector<AllocationRecord> records_;
    bool report_ = false;
    std::vector<AllocationRecord> watches_;
    bool watching_ = false;
};

// The registry. Constructed before every other static object of the program
// (a link-time priority, not the accident of file order) and destroyed after
// them, so static owners can release their blocks during their destruction.
aref_& registry();

// The debugger hook: prints the calling thread's identity.
extern "C" void ZQ_alloc_ref_error_break();

void* allocateZeroed(std::size_t bytes);
void* allocateZeroedArray(std::size_t bytes);
bool release(void* address);
void setReportOnExit(bool report);
void addWatch(std::uint64_t bytes, bool array);

// release() followed by the matching free when the registry knew the block.
void freeZeroed(void* address);
void freeZeroedArray(void* address);

// How many times allocateArray tries before it gives up (see allocator.cpp).
inline constexpr int kAllocateArrayAttempts = 8;

// The typed front end of the owning arrays, for 4- and 8-byte elements. Fails
// without allocating when `destination` already holds a pointer, when n is 0,
// or when n is not below `limit`.
bool allocateArrayBytes(void*& destination, std::uint64_t n, std::uint64_t limit, std::size_t elementSize);

// Resizes an array block of `count` elements to n, as aref_::resizeArray.
bool resizeArrayBytes(void*& block, std::uint64_t count, std::uint64_t n, std::uint64_t limit, std::size_t elementSize);

template <class T> bool allocateArray(T*& destination, std::uint64_t n, std::uint64_t limit) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8, "element sizes 4 and 8 only");
    void* p = destination;
    bool ok = allocateArrayBytes(p, n, limit, sizeof(T));
    destination = static_cast<T*>(p);
    return ok;
}

// The allocator type the owning arrays carry: empty, the registry does the work.
template <class T> struct allocator {
    using value_type = T;
    // The largest element count whose byte size fits in 64 bits.
    static constexpr std::uint64_t limit = ~std::uint64_t{0} / sizeof(T);

    T* allocate(std::uint64_t n) {
        T* p = nullptr;
        return allocateArray(p, n, limit) ? p : nullptr;
    }
    void deallocate(T* p) { freeZeroedArray(p); }
};

} // namespace ZQ
