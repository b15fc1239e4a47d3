// A document's samples as an ordered list of pieces, each a stretch of a
// sample block (a file's data read where it lies, or doubles in memory).
// Editing makes a new sequence from the pieces of the old one and never
// copies a sample; an undo step keeps pieces, not channels.
//
// A sequence never changes once made: readers on any thread hold one
// (SampleSnapshot) and read from it while the document moves on to the next.
#pragma once

#include "audiofile/SampleBlock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace ZQ {

struct SamplePiece {
    std::shared_ptr<SampleBlock> block;
    std::uint64_t offset = 0; // the piece's first frame in the block
    std::uint64_t length = 0; // frames
};

class SampleSequence {
public:
    SampleSequence() = default;
    // The pieces in order (empty ones dropped, neighbours that continue one
    // another in the same block joined); every block must have at least
    // `channels` channels.
    SampleSequence(unsigned channels, std::vector<SamplePiece> pieces);

    unsigned channelCount() const { return channels_; }
    std::uint64_t frameCount() const { return frames_; }
    const std::vector<SamplePiece>& pieces() const { return pieces_; }

    // Channel `channel`'s samples [first, first + count), which must lie
    // within the sequence, into `out`.
    void read(unsigned channel, std::uint64_t first, std::uint64_t count, double* out) const;
    // Frames [first, first + count) of every channel into out[c] (null ones
    // skipped), a piece at a time.
    void readFrames(std::uint64_t first, std::uint64_t count, double* const* out) const;
    // Folds samples [first, last] of `channel` exactly as the plain scan
    // would (see SampleBlock::fold); false while a summary still being built
    // is needed for it.
    bool fold(unsigned channel, std::uint64_t first, std::uint64_t last, double& lo, double& hi) const;
    // An overview column's extremes: lo and hi start from sample `first`
    // and 0 (as min(s, 0) and max(s, 0)) and fold samples first+1 ... last.
    bool column(unsigned channel, std::uint64_t first, std::uint64_t last, double& lo, double& hi) const;
    // column() for every channel at once into lo[c] and hi[c]: the samples
    // no summary block covers are read once for all of them.
    bool columnOfFrames(std::uint64_t first, std::uint64_t last, double* lo, double* hi) const;

    // Frames [first, first + count) will be read soon (see SampleBlock::willNeed).
    void willNeed(std::uint64_t first, std::uint64_t count) const;
    // Frames around `frame` will be read in a moment (see SampleBlock::prefetch).
    void prefetch(std::uint64_t frame) const {
        if (frame >= frames_) return;
        const std::size_t i = pieceAt(frame);
        pieces_[i].block->prefetch(pieces_[i].offset + (frame - starts_[i]));
    }
    // The pieces of frames [first, first + count).
    std::vector<SamplePiece> slice(std::uint64_t first, std::uint64_t count) const;
    // This sequence with frames [at, at + removeCount) replaced by `insert`'s
    // (none when null); at + removeCount must not pass the end.
    SampleSequence replaced(std::uint64_t at, std::uint64_t removeCount, const SampleSequence* insert) const;

    // Whether every block's summary is complete; the fraction of frames summarised.
    bool isSummarised() const;
    double summarisedFraction() const;
    // Whether a file under one of the pieces changed on disk.
    bool changedOnDisk() const;
    // The bytes of memory the distinct blocks hold.
    std::uint64_t memoryBytes() const;

private:
    std::size_t pieceAt(std::uint64_t frame) const;

    std::vector<SamplePiece> pieces_;
    std::vector<std::uint64_t> starts_; // each piece's first frame in the sequence
    std::uint64_t frames_ = 0;
    unsigned channels_ = 0;
};

using SampleSnapshot = std::shared_ptr<const SampleSequence>;

// One channel of a snapshot, for the views and analyses that read a single
// channel (the overview, spectra).
struct ChannelSamples {
    SampleSnapshot samples;
    unsigned channel = 0;

    bool isValid() const { return samples && channel < samples->channelCount(); }
    std::uint64_t count() const { return samples ? samples->frameCount() : 0; }
    void read(std::uint64_t first, std::uint64_t n, double* out) const { samples->read(channel, first, n, out); }
    bool fold(std::uint64_t first, std::uint64_t last, double& lo, double& hi) const {
        return samples->fold(channel, first, last, lo, hi);
    }
    bool column(std::uint64_t first, std::uint64_t last, double& lo, double& hi) const {
        return samples->column(channel, first, last, lo, hi);
    }
};

// Builds the summaries of a sequence's blocks on worker threads, in order
// from the start, until they are complete or it is stopped. `progress` is
// called on a worker after every chunk (whoever listens hops threads).
class SummaryBuilder {
public:
    SummaryBuilder(const SampleSequence& sequence, unsigned workers, std::function<void()> progress);
    // Stops and waits for the workers.
    ~SummaryBuilder();
    SummaryBuilder(const SummaryBuilder&) = delete;
    SummaryBuilder& operator=(const SummaryBuilder&) = delete;
    void stop();
    bool isRunning() const { return running_.load(std::memory_order_acquire) > 0; }
    // Whether every block of `sequence` is summarised or being summarised here.
    bool covers(const SampleSequence& sequence) const;

private:
    void work();
    std::vector<std::shared_ptr<SampleBlock>> blocks_;
    std::function<void()> progress_;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned> running_{0};
    std::vector<std::thread> threads_;
};

} // namespace ZQ
