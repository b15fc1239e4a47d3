// Where a document's samples come from: immutable blocks of frames, each
// either a stretch of a file's sample data read where it lies (converted to
// doubles as the decoder converts them, through 32-bit float) or channels of
// doubles in memory. Each block keeps the exact min/max summary of its
// channels; a file's is built after the file opens, a chunk at a time, by
// whichever workers ask for one more chunk, so that a window can show the
// part summarised so far.
//
// Any number of threads may read a block at once: its samples never change.
#pragma once

#include "audiofile/WaveformSummary.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ZQ {

class MappedFile;

// How a file lays out its samples: interleaved frames of `channels` samples,
// each of one linear encoding.
struct SampleEncoding {
    enum class Kind : std::uint8_t { Signed, Unsigned, Float };
    Kind kind = Kind::Signed;
    unsigned bytes = 2; // per sample: 1 to 4 for integers, 4 or 8 for floats
    bool bigEndian = false;
    unsigned channels = 0;

    std::uint64_t frameBytes() const { return std::uint64_t(bytes) * channels; }
    // Whether blocks can read it (unsigned only as 8-bit, floats of 4 or 8 bytes).
    bool isReadable() const;
};

class SampleBlock {
public:
    // Ranges this long or shorter are scanned where the summary cannot yet
    // answer (a view zoomed into a part not yet summarised); longer ones
    // wait for it (see fold()), so that a view of thousands of columns costs
    // a few million samples at most while the summary is built.
    static constexpr std::uint64_t kScanLimit = std::uint64_t(1) << 12;
    // A block's summaries start at first-level blocks of 128 samples: fine
    // enough that a column folds from them from about 256 samples on, and
    // small (0.07 bytes a sample), since every byte of them is memory the
    // open must be handed fresh. The most they take, whatever the block's
    // length: a longer block gets longer first-level blocks.
    static constexpr unsigned kFirstLevelShift = 7;
    static constexpr std::uint64_t kSummaryBudgetBytes = std::uint64_t(128) << 20;

    SampleBlock(const SampleBlock&) = delete;
    SampleBlock& operator=(const SampleBlock&) = delete;
    virtual ~SampleBlock();

    std::uint64_t frames() const { return frames_; }
    unsigned channels() const { return channels_; }

    // Channel `channel`'s samples [first, first + count) into `out`; the
    // range must lie within the block.
    virtual void read(unsigned channel, std::uint64_t first, std::uint64_t count, double* out) const = 0;
    // Frames [first, first + count) of channels 0 ... outputs-1 into out[c]
    // (a null out[c] is skipped), in one pass over the frames.
    virtual void readFrames(std::uint64_t first, std::uint64_t count, double* const* out, unsigned outputs) const = 0;
    // Folds samples [first, end) of `channel` into lo and hi as the plain
    // scan `lo = min(lo, s); hi = max(hi, s)` does (a NaN never wins).
    virtual void scan(unsigned channel, std::uint64_t first, std::uint64_t end, double& lo, double& hi) const = 0;
    // The same for channels 0 ... count-1 into lo[c] and hi[c], in one pass
    // over the frames.
    virtual void scanFrames(std::uint64_t first, std::uint64_t end, unsigned count, double* lo, double* hi) const;
    // Whether the file under the block changed since it was opened (never
    // for memory). Any thread.
    virtual bool changedOnDisk() const { return false; }
    // The bytes of memory the block holds (not counting its summaries).
    virtual std::uint64_t memoryBytes() const { return 0; }
    // Frames [first, first + count) will be read soon: a file block has the
    // system fetch them meanwhile (a hint; nothing waits).
    virtual void willNeed(std::uint64_t first, std::uint64_t count) const { (void)first, (void)count; }
    // The first-level block of frames around `frame` will be read in a
    // moment: its memory is fetched into the caches meanwhile.
    virtual void prefetch(std::uint64_t frame) const { (void)frame; }

    // Folds samples [first, last] of `channel` exactly, from the summary
    // where it covers them; false when it does not yet and the range is
    // longer than kScanLimit (the caller shows it once it does).
    bool fold(unsigned channel, std::uint64_t first, std::uint64_t last, double& lo, double& hi) const;
    // fold() for channels 0 ... count-1 into lo[c] and hi[c]: the ends no
    // summary block covers are scanned once for all of them.
    bool foldFrames(std::uint64_t first, std::uint64_t last, unsigned count, double* lo, double* hi) const;
    // Whether the summaries are complete; what fraction of the frames they cover.
    bool isSummarised() const;
    double summarisedFraction() const;
    // Summarises one more chunk, unless every chunk is done or taken by
    // another worker (false) or `stop` turns true meanwhile (the chunk is
    // given back). Any thread; several may share the work.
    bool summariseNextChunk(const std::atomic<bool>* stop = nullptr);
    const WaveformSummary& summary(unsigned channel) const { return summaries_[channel]; }

protected:
    SampleBlock(std::uint64_t frames, unsigned channels);
    // Prepares the summaries with first-level blocks fitted to the budget;
    // false (no summaries: folds then scan) when memory runs short.
    bool prepareSummaries();
    // The extremes of first-level blocks [firstBlock, firstBlock + blocks) of
    // every channel into out[c][0 ...] (2^baseShift samples each).
    virtual void extremes(std::uint64_t firstBlock, std::uint64_t blocks, unsigned baseShift,
                          WaveformSummary::Extremes* const* out, bool& exact) const = 0;
    // Every chunk, on the calling thread.
    void summariseAll();
    // Frames [first, first + count) are summarised (a file block lets go of
    // their pages: they stay in the page cache, not in the process).
    virtual void chunkDone(std::uint64_t first, std::uint64_t count) const { (void)first, (void)count; }

private:
    std::uint64_t chunkFrames() const;
    std::uint64_t chunkCount() const;
    void completeChunk(std::uint64_t chunk, bool exact);

    std::uint64_t frames_ = 0;
    unsigned channels_ = 0;
    std::unique_ptr<WaveformSummary[]> summaries_;
    bool summarised_ = false; // summaries prepared (else folds scan)
    unsigned baseShift_ = WaveformSummary::kBaseShift;
    // Per chunk: 0 free, 1 taken, 2 done. The done prefix is advanced and
    // the levels above completed under the lock, one worker at a time.
    std::unique_ptr<std::atomic<std::uint8_t>[]> chunkState_;
    std::atomic<std::uint64_t> firstFree_{0};
    std::mutex progressLock_;
    std::uint64_t donePrefix_ = 0; // under progressLock_
    std::atomic<bool> complete_{false};
};

// A block of channels of doubles in memory (an inserted or processed stretch).
class MemorySampleBlock final : public SampleBlock {
public:
    // `channels` channels of `frames` zeroed samples; null, with the memory
    // refusal's text in `refusal` ("needs 9.3 GB of memory; 6.1 GB are
    // available"), when they cannot be had.
    static std::shared_ptr<MemorySampleBlock> create(unsigned channels, std::uint64_t frames,
                                                     std::string* refusal = nullptr);
    ~MemorySampleBlock() override;
    // Filled before the block is shared, then finish() summarises it.
    double* channelData(unsigned c) { return data_[c]; }
    void finish();

    void read(unsigned channel, std::uint64_t first, std::uint64_t count, double* out) const override;
    void readFrames(std::uint64_t first, std::uint64_t count, double* const* out, unsigned outputs) const override;
    void scan(unsigned channel, std::uint64_t first, std::uint64_t end, double& lo, double& hi) const override;
    std::uint64_t memoryBytes() const override { return frames() * channels() * sizeof(double); }

private:
    MemorySampleBlock(std::uint64_t frames, unsigned channels) : SampleBlock(frames, channels) {}
    void extremes(std::uint64_t firstBlock, std::uint64_t blocks, unsigned baseShift,
                  WaveformSummary::Extremes* const* out, bool& exact) const override;
    std::vector<double*> data_; // from the tracking allocator
};

// A block of a file's sample data, read where it lies.
class FileSampleBlock final : public SampleBlock {
public:
    // The `frames` frames of `encoding` from byte 0 of `file`'s mapping.
    static std::shared_ptr<FileSampleBlock> create(std::shared_ptr<MappedFile> file, const SampleEncoding& encoding,
                                                   std::uint64_t frames);
    ~FileSampleBlock() override;

    void read(unsigned channel, std::uint64_t first, std::uint64_t count, double* out) const override;
    void readFrames(std::uint64_t first, std::uint64_t count, double* const* out, unsigned outputs) const override;
    void scan(unsigned channel, std::uint64_t first, std::uint64_t end, double& lo, double& hi) const override;
    void scanFrames(std::uint64_t first, std::uint64_t end, unsigned count, double* lo, double* hi) const override;
    bool changedOnDisk() const override;
    void willNeed(std::uint64_t first, std::uint64_t count) const override;
    void prefetch(std::uint64_t frame) const override;
    const SampleEncoding& encoding() const { return encoding_; }
    const MappedFile& file() const { return *file_; }

private:
    FileSampleBlock(std::shared_ptr<MappedFile> file, const SampleEncoding& encoding, std::uint64_t frames);
    void extremes(std::uint64_t firstBlock, std::uint64_t blocks, unsigned baseShift,
                  WaveformSummary::Extremes* const* out, bool& exact) const override;
    void chunkDone(std::uint64_t first, std::uint64_t count) const override;

    std::shared_ptr<MappedFile> file_;
    SampleEncoding encoding_;
    int codec_ = 0;
};

} // namespace ZQ
