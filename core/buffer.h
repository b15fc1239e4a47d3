// The owning, lockable sample buffer: one channel of decoded audio in a block
// from the tracking allocator. allocate, release and destruction hold the
// buffer's own (recursive) lock; the read accessors take none, callers
// synchronise through the object that owns the buffer.
#pragma once

#include "core/allocator.h"
#include "core/object.h"
#include "core/values.h"

#include <cstdint>

namespace ZQ {

using address_t = void*;
template <class T> using address_tp = T*;

class array_base : public z_ {
public:
    Num::Count count() const { return count_; }
    Num::Count elementSize() const { return elementSize_; }

protected:
    address_t start_ = nullptr;
    Num::Count count_{0ull};
    Num::Count elementSize_{0ull};
};

template <class T, class A = allocator<T>> class auto_array : public array_base {
public:
    // Above this many elements a request is refused (the byte size would not fit).
    static constexpr std::uint64_t kMaxElements = A::limit - 1;
    // A requested capacity is honoured only this close to the count.
    static constexpr std::uint64_t kCapacitySlack = 64;

    auto_array() = default;
    auto_array(const auto_array&) = delete;
    auto_array& operator=(const auto_array&) = delete;
    ~auto_array() override { release(); }

    // Fresh zero-filled storage for n elements; the old block is released.
    // `capacity` 0 means exactly n. Sets `unchanged` false once the buffer
    // was replaced. True when the buffer holds a block of at least n elements.
    bool allocate(Num::Count n, Num::Count capacity, bool& unchanged) {
        sync_guard g(this);
        unchanged = true;
        const std::uint64_t count = n.v_, cap = capacity.v_;
        if (count == 0) return false;
        if (cap != 0 && count > cap) return false;
        const std::uint64_t lo = count, hi = cap == 0 ? count : cap;
        std::uint64_t size = hi - lo < kCapacitySlack + 1 ? hi : lo;
        if (size == 0 || size > kMaxElements) size = count;
        if (count > kMaxElements) return false;
        T* block = nullptr;
        if (!allocateArray(block, size, A::limit)) return false;
        unchanged = false;
        release();
        start_ = block;
        data_ = block;
        count_ = Num::Count(count);
        elementSize_ = Num::Count(sizeof(T));
        capacity_ = Num::Count(size);
        return data_ != nullptr && count <= capacity_.v_;
    }
    bool allocate(Num::Count n, Num::Count capacity = Num::Count(0ull)) {
        bool unchanged;
        return allocate(n, capacity, unchanged);
    }

    // Changes the count to n (> 0), keeping the first min(n, count) elements
    // and zero-filling the rest; an empty buffer is allocated. The block may
    // move. Shrinking never fails; growing gives false, with the buffer
    // unchanged, when memory runs short.
    bool resize(Num::Count n) {
        sync_guard g(this);
        if (n.v_ == 0 || n.v_ > kMaxElements) return false;
        if (!data_) return allocate(n);
        if (n.v_ <= count_.v_) {
            resizeBlock(n.v_); // giving the rest back; should the system refuse, the block stays larger
        } else if (n.v_ > capacity_.v_) {
            if (!resizeBlock(n.v_)) return false;
        } else {
            for (std::uint64_t k = count_.v_; k < n.v_; ++k)
                data_[k] = T{};
        }
        count_ = n;
        return true;
    }

    void release() {
        if (!data_) return;
        sync_guard g(this);
        capacity_ = Num::Count(0ull);
        T* block = data_;
        data_ = nullptr;
        start_ = nullptr;
        count_ = Num::Count(0ull);
        elementSize_ = Num::Count(0ull);
        alloc_.deallocate(block);
    }

    Num::Count capacity() const { return capacity_; }
    T* data() const { return data_; }
    bool isEmpty() const { return data_ == nullptr; }

private:
    bool resizeBlock(std::uint64_t n) {
        void* block = data_;
        if (!resizeArrayBytes(block, capacity_.v_, n, A::limit, sizeof(T))) return false;
        data_ = static_cast<T*>(block);
        start_ = block;
        capacity_ = Num::Count(n);
        return true;
    }

    address_tp<T> data_ = nullptr;
    A alloc_;
    Num::Count capacity_{0ull};
};

template <class T, class A = allocator<T>> using sample_tp = auto_array<T, A>;

// One channel of a document.
using SampleBuffer = sample_tp<double, allocator<double>>;
// One channel as decoded, before conversion to double.
using FloatSampleBuffer = sample_tp<float, allocator<float>>;

static_assert(auto_array<double>::kMaxElements == 2305843009213693950ull);

} // namespace ZQ
