// Reading what playback produced through the capture output
// (ZQ_AUDIO_OUTPUT=capture:PATH writes every frame that would have been
// played to a 32-bit float WAV file).
#pragma once

#include "support/Fixtures.h"

#include <cstddef>
#include <string>
#include <vector>

namespace testsupport {

struct PlayedSound {
    std::vector<float> samples; // interleaved
    int channels = 0;
    int rate = 0;
    std::size_t frames() const { return channels ? samples.size() / static_cast<std::size_t>(channels) : 0; }
    float at(std::size_t frame, int channel) const { return samples[frame * channels + channel]; }
    // The first frame in which any channel is not silent; frames() when none.
    std::size_t firstSounding() const {
        for (std::size_t i = 0; i < samples.size(); ++i)
            if (samples[i] != 0.0f) return i / static_cast<std::size_t>(channels);
        return frames();
    }
};

// Empty when the file cannot be read (nothing was played, or no stream).
inline PlayedSound readCapture(const std::string& path) {
    PlayedSound p;
    p.samples = readFloatFile(path, p.channels, p.rate);
    return p;
}

} // namespace testsupport
