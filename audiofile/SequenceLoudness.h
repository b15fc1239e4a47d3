// The loudness of a stretch of a document's samples, measured on several
// threads (see processing/Loudness.h for the figures).
#pragma once

#include "processing/Loudness.h"

#include <atomic>
#include <cstdint>

namespace ZQ {

class SampleSequence;

// Frames [first, first + count) of `samples` measured on `threads` threads,
// each over a stretch of its own; each stretch after the first starts
// 300 ms early, so that every 400 ms gating block of the whole is measured
// once, by one of them. `cancel`, when set, stops it (figures not valid);
// `samplesDone`, when given, counts the samples measured (any thread).
LoudnessFigures measureLoudness(const SampleSequence& samples, std::uint64_t first, std::uint64_t count, double rate,
                                unsigned threads, const std::atomic<bool>* cancel = nullptr,
                                std::atomic<std::uint64_t>* samplesDone = nullptr);

} // namespace ZQ
