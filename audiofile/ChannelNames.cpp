#include "audiofile/ChannelNames.h"

#include <bit>

namespace ZQ {

namespace {

// The WAVE speaker bits, from the lowest, by the short names mixing desks
// use: the back pair (bits 4 and 5) and the side pair (bits 9 and 10) are
// both "Ls"/"Rs", as a file has one or the other for its surrounds.
const char* const kSpeakers[] = {"L",  "R",  "C",  "LFE", "Ls",  "Rs",  "Lc",  "Rc",  "Cs",
                                 "Ls", "Rs", "Tc", "Tfl", "Tfc", "Tfr", "Tbl", "Tbc", "Tbr"};
constexpr std::uint32_t kBackLeft = 0x10, kBackRight = 0x20, kSideLeft = 0x200, kSideRight = 0x400;

} // namespace

std::vector<std::string> channelNames(unsigned channels, std::uint32_t speakerMask) {
    std::vector<std::string> names;
    names.reserve(channels);
    const bool named = speakerMask != 0 && static_cast<unsigned>(std::popcount(speakerMask)) == channels &&
                       speakerMask < (1u << std::size(kSpeakers));
    if (!named) {
        for (unsigned c = 0; c < channels; ++c)
            names.push_back(std::to_string(c + 1));
        return names;
    }
    // The side pair, when there is one, is the surround pair (5.1 side,
    // 7.1); the back pair is then the rear surrounds.
    const bool sides = (speakerMask & (kSideLeft | kSideRight)) != 0;
    for (unsigned bit = 0; bit < std::size(kSpeakers); ++bit) {
        const std::uint32_t b = 1u << bit;
        if (!(speakerMask & b)) continue;
        if (sides && b == kBackLeft)
            names.push_back("Lrs");
        else if (sides && b == kBackRight)
            names.push_back("Rrs");
        else
            names.push_back(kSpeakers[bit]);
    }
    return names;
}

} // namespace ZQ
