// The editor's processing commands on a stretch of every channel: gain,
// fades, silence, reverse, invert and the removal of a constant offset.
// The result is a new block of 32-bit floats in an unnamed temporary file
// (what a processed hour costs is disk, not memory: the work holds a chunk
// at a time): each command's formula computed in doubles and kept at the
// precision the store reads every file with (the decoder's float).
#pragma once

#include "audiofile/SampleBlock.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ZQ {

class SampleSequence;

struct RangeProcess {
    enum class Kind { Gain, FadeIn, FadeOut, Silence, Reverse, Invert, RemoveDC };
    enum class Curve { Linear, EqualPower };
    Kind kind = Kind::Gain;
    double gain = 1.0;           // Gain: the factor
    Curve curve = Curve::Linear; // the fades

    // The factor a fade gives frame k of n: from 0 at the first frame to 1
    // at the last (a fade in; a fade out runs it backwards), along a line or
    // a quarter sine (equal power: the two crossfaded sum to constant power).
    static double fadeFactor(Curve curve, bool in, std::uint64_t k, std::uint64_t n);
};

// Frames [first, first + count) of `samples`, processed; null, with why in
// `refusal`, when the temporary file cannot be had (disk space, the folder)
// or `cancel` turns true.
std::shared_ptr<SampleBlock> processFrames(const SampleSequence& samples, std::uint64_t first, std::uint64_t count,
                                           const RangeProcess& process, std::string* refusal,
                                           const std::atomic<bool>* cancel = nullptr);

// Each channel's mean over frames [first, first + count).
std::vector<double> channelMeans(const SampleSequence& samples, std::uint64_t first, std::uint64_t count);
// The largest magnitude over frames [first, first + count) of every channel.
double samplePeak(const SampleSequence& samples, std::uint64_t first, std::uint64_t count);

} // namespace ZQ
