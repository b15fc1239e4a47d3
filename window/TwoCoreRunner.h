// Splits a piece of drawing work between the main thread and one helper
// thread that lives for the whole process, so that a repaint uses both cores
// without starting a thread or allocating anything each time.
#pragma once

#include <cstdint>

namespace ZQ {

// Runs part(context, begin, end) over [0, n) in two halves at once, one on
// the calling thread; returns when both are done. Small jobs run on the
// calling thread alone. Main thread (one job at a time).
void shareBetweenCores(std::uint64_t n, void* context, void (*part)(void*, std::uint64_t, std::uint64_t));

// The same for a callable f(begin, end).
template <class F> void runOnBothCores(std::uint64_t n, F& f) {
    shareBetweenCores(n, &f,
                      [](void* c, std::uint64_t begin, std::uint64_t end) { (*static_cast<F*>(c))(begin, end); });
}

} // namespace ZQ
