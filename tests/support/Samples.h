// Samples as the tests look at them: a store's channel as a plain vector,
// and a plain vector as a channel of samples in memory.
#pragma once

#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/SampleSequence.h"

#include <cstring>
#include <vector>

namespace testsupport {

// Every sample of the store's channel (empty for a channel it does not have).
inline std::vector<double> channelOf(const ZQ::AudioFileDocumentSampleData& store, int c) {
    const ZQ::ChannelSamples samples = store.channel(c);
    if (!samples.isValid()) return {};
    std::vector<double> out(samples.count());
    samples.read(0, out.size(), out.data());
    return out;
}

// The vectors as the channels of a snapshot in memory (with their summaries).
inline ZQ::SampleSnapshot memorySamples(const std::vector<std::vector<double>>& channels) {
    const auto n = static_cast<unsigned>(channels.size());
    const std::uint64_t frames = channels.empty() ? 0 : channels[0].size();
    std::vector<ZQ::SamplePiece> pieces;
    if (frames > 0) {
        auto block = ZQ::MemorySampleBlock::create(n, frames);
        for (unsigned c = 0; c < n; ++c)
            std::memcpy(block->channelData(c), channels[c].data(), frames * sizeof(double));
        block->finish();
        pieces.push_back({block, 0, frames});
    }
    return std::make_shared<const ZQ::SampleSequence>(n, std::move(pieces));
}

inline ZQ::ChannelSamples memoryChannel(const std::vector<double>& samples) {
    return {memorySamples({samples}), 0};
}

} // namespace testsupport
