#include "playback/ChannelMix.h"

#include <algorithm>
#include <cmath>

namespace ZQ {

namespace {

constexpr double kHalfPower = 0.70710678118654752440;

// WAVE speaker bits.
constexpr std::uint32_t kFrontLeft = 0x1, kFrontRight = 0x2, kFrontCentre = 0x4, kLowFrequency = 0x8, kBackLeft = 0x10,
                        kBackRight = 0x20, kSideLeft = 0x200, kSideRight = 0x400;

bool isKnownLayout(std::uint32_t mask) {
    switch (mask) {
    case kFrontLeft | kFrontRight | kBackLeft | kBackRight:                                // quad
    case kFrontLeft | kFrontRight | kFrontCentre | kBackLeft | kBackRight:                 // 5.0
    case kFrontLeft | kFrontRight | kFrontCentre | kSideLeft | kSideRight:                 // 5.0 (side)
    case kFrontLeft | kFrontRight | kFrontCentre | kLowFrequency | kBackLeft | kBackRight: // 5.1
    case kFrontLeft | kFrontRight | kFrontCentre | kLowFrequency | kSideLeft | kSideRight: // 5.1 (side)
    case kFrontLeft | kFrontRight | kFrontCentre | kLowFrequency | kBackLeft | kBackRight | kSideLeft |
        kSideRight: // 7.1
        return true;
    default:
        return false;
    }
}

// The left and right gains of one speaker in the standard downmix.
std::array<double, 2> speakerGains(std::uint32_t bit) {
    switch (bit) {
    case kFrontLeft:
        return {1.0, 0.0};
    case kFrontRight:
        return {0.0, 1.0};
    case kFrontCentre:
        return {kHalfPower, kHalfPower};
    case kBackLeft:
    case kSideLeft:
        return {kHalfPower, 0.0};
    case kBackRight:
    case kSideRight:
        return {0.0, kHalfPower};
    default:
        return {0.0, 0.0}; // the LFE, and anything else
    }
}

} // namespace

bool ChannelMix::isSilent() const {
    for (unsigned o = 0; o < outputs; ++o)
        for (unsigned c = 0; c < inputs; ++c)
            if (gain[o][c] != 0.0) return false;
    return true;
}

std::vector<bool> audibleChannels(const std::vector<bool>& muted, const std::vector<bool>& soloed) {
    const std::size_t n = std::max(muted.size(), soloed.size());
    auto at = [](const std::vector<bool>& v, std::size_t i) { return i < v.size() && v[i]; };
    bool anySolo = false;
    for (std::size_t i = 0; i < n; ++i)
        anySolo = anySolo || at(soloed, i);
    std::vector<bool> audible(n);
    for (std::size_t i = 0; i < n; ++i)
        audible[i] = anySolo ? at(soloed, i) : !at(muted, i);
    return audible;
}

ChannelMix makeChannelMix(unsigned inputs, unsigned outputs, const std::vector<bool>& audibleIn,
                          std::uint32_t speakerMask) {
    ChannelMix mix;
    mix.inputs = std::min(inputs, kMaxMixChannels);
    mix.outputs = std::clamp(outputs, 1u, 2u);
    std::vector<unsigned> audible;
    for (unsigned c = 0; c < mix.inputs; ++c)
        if (c >= audibleIn.size() || audibleIn[c]) audible.push_back(c);
    if (audible.empty()) return mix;

    if (mix.outputs == 1) {
        // A mono stream carries a mono document (more channels are shared
        // equally, which never exceeds full scale).
        for (unsigned c : audible)
            mix.gain[0][c] = 1.0 / static_cast<double>(audible.size());
        return mix;
    }
    if (audible.size() == 1) {
        mix.gain[0][audible[0]] = mix.gain[1][audible[0]] = 1.0;
        return mix;
    }
    if (audible.size() == 2) {
        mix.gain[0][audible[0]] = 1.0;
        mix.gain[1][audible[1]] = 1.0;
        return mix;
    }
    const bool layout = isKnownLayout(speakerMask) && static_cast<unsigned>(__builtin_popcount(speakerMask)) == inputs;
    if (layout) {
        // The channels name the speakers in bit order.
        std::vector<std::uint32_t> speakers;
        for (std::uint32_t bit = 1; bit != 0 && speakers.size() < inputs; bit <<= 1)
            if (speakerMask & bit) speakers.push_back(bit);
        for (unsigned c : audible) {
            const auto g = speakerGains(speakers[c]);
            mix.gain[0][c] = g[0];
            mix.gain[1][c] = g[1];
        }
    } else {
        // Evenly from left to right, at constant power.
        const double last = static_cast<double>(audible.size() - 1);
        for (std::size_t i = 0; i < audible.size(); ++i) {
            const double angle = (static_cast<double>(i) / last) * (M_PI / 2.0);
            mix.gain[0][audible[i]] = std::cos(angle);
            mix.gain[1][audible[i]] = std::sin(angle);
        }
    }
    double left = 0, right = 0;
    for (unsigned c : audible) {
        left += mix.gain[0][c];
        right += mix.gain[1][c];
    }
    const double loudest = std::max(left, right);
    if (loudest > 1.0)
        for (unsigned c : audible) {
            mix.gain[0][c] /= loudest;
            mix.gain[1][c] /= loudest;
        }
    // A side that gets nothing but a rounding error gets nothing.
    for (unsigned o = 0; o < 2; ++o)
        for (unsigned c : audible)
            if (std::fabs(mix.gain[o][c]) < 1e-12) mix.gain[o][c] = 0.0;
    return mix;
}

} // namespace ZQ
