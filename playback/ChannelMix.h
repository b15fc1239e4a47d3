// How a document's channels reach a mono or stereo stream: a gain for each
// channel on each side, from which channels are audible (the soloed ones if
// any, otherwise the unmuted ones) and the file's speaker layout.
//
// One audible channel plays on both sides (or the one side) at unity; two
// play left and right at unity, so both are sample-exact. More are mixed
// down: by the standard coefficients for a known layout (quad, 5.0, 5.1,
// 7.1; the LFE left out), otherwise spread evenly from left to right at
// constant power. A mixdown is scaled so that full scale on every channel
// never exceeds full scale on either side.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace ZQ {

inline constexpr unsigned kMaxMixChannels = 64; // as many as a document holds

struct ChannelMix {
    unsigned inputs = 0;
    unsigned outputs = 0;
    // gain[side][channel]
    std::array<std::array<double, kMaxMixChannels>, 2> gain{};

    // No channel reaches either side (everything muted).
    bool isSilent() const;
};

// The audible channels: the soloed ones if any, otherwise the unmuted ones.
std::vector<bool> audibleChannels(const std::vector<bool>& muted, const std::vector<bool>& soloed);

// `speakerMask`: the file's WAVE speaker bits, one per channel in order, or 0.
ChannelMix makeChannelMix(unsigned inputs, unsigned outputs, const std::vector<bool>& audible,
                          std::uint32_t speakerMask);

} // namespace ZQ
