// What each channel of a file is called: the speaker of its WAVE channel
// mask where the file names one for every channel (L, R, C, LFE, Ls, Rs, …),
// otherwise its number from 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZQ {

// `channels` names; `speakerMask` holds one WAVE speaker bit per channel, in
// channel order (0, or a mask of another count of bits: numbers).
std::vector<std::string> channelNames(unsigned channels, std::uint32_t speakerMask);

} // namespace ZQ
