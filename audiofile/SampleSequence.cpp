#include "audiofile/SampleSequence.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

namespace ZQ {

SampleSequence::SampleSequence(unsigned channels, std::vector<SamplePiece> pieces) : channels_(channels) {
    pieces_.reserve(pieces.size());
    for (SamplePiece& p : pieces) {
        if (!p.block || p.length == 0) continue;
        if (!pieces_.empty()) {
            SamplePiece& last = pieces_.back();
            if (last.block == p.block && last.offset + last.length == p.offset) {
                last.length += p.length;
                continue;
            }
        }
        pieces_.push_back(std::move(p));
    }
    starts_.reserve(pieces_.size());
    for (const SamplePiece& p : pieces_) {
        starts_.push_back(frames_);
        frames_ += p.length;
    }
}

std::size_t SampleSequence::pieceAt(std::uint64_t frame) const {
    // The last piece that starts at or before `frame`.
    auto it = std::upper_bound(starts_.begin(), starts_.end(), frame);
    return static_cast<std::size_t>(it - starts_.begin()) - 1;
}

void SampleSequence::read(unsigned channel, std::uint64_t first, std::uint64_t count, double* out) const {
    if (count == 0) return;
    for (std::size_t i = pieceAt(first); count > 0 && i < pieces_.size(); ++i) {
        const SamplePiece& p = pieces_[i];
        const std::uint64_t inPiece = first - starts_[i];
        const std::uint64_t n = std::min(count, p.length - inPiece);
        p.block->read(channel, p.offset + inPiece, n, out);
        out += n;
        first += n;
        count -= n;
    }
}

void SampleSequence::readFrames(std::uint64_t first, std::uint64_t count, double* const* out) const {
    if (count == 0) return;
    std::vector<double*> at(out, out + channels_);
    for (std::size_t i = pieceAt(first); count > 0 && i < pieces_.size(); ++i) {
        const SamplePiece& p = pieces_[i];
        const std::uint64_t inPiece = first - starts_[i];
        const std::uint64_t n = std::min(count, p.length - inPiece);
        p.block->readFrames(p.offset + inPiece, n, at.data(), channels_);
        for (double*& d : at)
            if (d) d += n;
        first += n;
        count -= n;
    }
}

bool SampleSequence::fold(unsigned channel, std::uint64_t first, std::uint64_t last, double& lo, double& hi) const {
    bool known = true;
    std::uint64_t at = first;
    for (std::size_t i = pieceAt(first); at <= last && i < pieces_.size(); ++i) {
        const SamplePiece& p = pieces_[i];
        const std::uint64_t inPiece = at - starts_[i];
        const std::uint64_t n = std::min(last - at + 1, p.length - inPiece);
        known = p.block->fold(channel, p.offset + inPiece, p.offset + inPiece + n - 1, lo, hi) && known;
        at += n;
    }
    return known;
}

void SampleSequence::willNeed(std::uint64_t first, std::uint64_t count) const {
    for (const SamplePiece& p : slice(first, count))
        p.block->willNeed(p.offset, p.length);
}

bool SampleSequence::column(unsigned channel, std::uint64_t first, std::uint64_t last, double& lo, double& hi) const {
    double s0 = 0;
    read(channel, first, 1, &s0);
    lo = std::min(s0, 0.0);
    hi = std::max(s0, 0.0);
    return first == last || fold(channel, first + 1, last, lo, hi);
}

bool SampleSequence::columnOfFrames(std::uint64_t first, std::uint64_t last, double* lo, double* hi) const {
    // The first frame, from its piece: a column is too short to allocate for.
    const std::size_t i0 = pieceAt(first);
    const SamplePiece& p0 = pieces_[i0];
    constexpr unsigned kOnStack = 64;
    double* stack[kOnStack];
    std::vector<double*> heap(channels_ > kOnStack ? channels_ : 0);
    double** starts = channels_ > kOnStack ? heap.data() : stack;
    for (unsigned c = 0; c < channels_; ++c)
        starts[c] = hi + c;
    p0.block->readFrames(p0.offset + (first - starts_[i0]), 1, starts, channels_);
    for (unsigned c = 0; c < channels_; ++c) {
        lo[c] = std::min(hi[c], 0.0);
        hi[c] = std::max(hi[c], 0.0);
    }
    bool known = true;
    std::uint64_t at = first + 1;
    for (std::size_t i = pieceAt(at); at <= last && i < pieces_.size(); ++i) {
        const SamplePiece& p = pieces_[i];
        const std::uint64_t inPiece = at - starts_[i];
        const std::uint64_t n = std::min(last - at + 1, p.length - inPiece);
        known = p.block->foldFrames(p.offset + inPiece, p.offset + inPiece + n - 1, channels_, lo, hi) && known;
        at += n;
    }
    return known;
}

std::vector<SamplePiece> SampleSequence::slice(std::uint64_t first, std::uint64_t count) const {
    std::vector<SamplePiece> out;
    if (count == 0 || first >= frames_) return out;
    for (std::size_t i = pieceAt(first); count > 0 && i < pieces_.size(); ++i) {
        const SamplePiece& p = pieces_[i];
        const std::uint64_t inPiece = first - starts_[i];
        const std::uint64_t n = std::min(count, p.length - inPiece);
        out.push_back({p.block, p.offset + inPiece, n});
        first += n;
        count -= n;
    }
    return out;
}

SampleSequence SampleSequence::replaced(std::uint64_t at, std::uint64_t removeCount,
                                        const SampleSequence* insert) const {
    std::vector<SamplePiece> pieces = slice(0, at);
    if (insert) pieces.insert(pieces.end(), insert->pieces_.begin(), insert->pieces_.end());
    std::vector<SamplePiece> tail = slice(at + removeCount, frames_ - std::min(frames_, at + removeCount));
    pieces.insert(pieces.end(), tail.begin(), tail.end());
    return SampleSequence(channels_, std::move(pieces));
}

bool SampleSequence::isSummarised() const {
    for (const SamplePiece& p : pieces_)
        if (!p.block->isSummarised()) return false;
    return true;
}

double SampleSequence::summarisedFraction() const {
    if (frames_ == 0) return 1.0;
    double done = 0;
    for (const SamplePiece& p : pieces_)
        done += double(p.length) * p.block->summarisedFraction();
    return std::min(1.0, done / double(frames_));
}

bool SampleSequence::changedOnDisk() const {
    const SampleBlock* last = nullptr;
    for (const SamplePiece& p : pieces_) {
        if (p.block.get() == last) continue;
        last = p.block.get();
        if (last->changedOnDisk()) return true;
    }
    return false;
}

std::uint64_t SampleSequence::memoryBytes() const {
    std::set<const SampleBlock*> seen;
    std::uint64_t bytes = 0;
    for (const SamplePiece& p : pieces_)
        if (seen.insert(p.block.get()).second) bytes += p.block->memoryBytes();
    return bytes;
}

// The summary workers.

SummaryBuilder::SummaryBuilder(const SampleSequence& sequence, unsigned workers, std::function<void()> progress)
    : progress_(std::move(progress)) {
    for (const SamplePiece& p : sequence.pieces())
        if (!p.block->isSummarised() && std::find(blocks_.begin(), blocks_.end(), p.block) == blocks_.end())
            blocks_.push_back(p.block);
    if (blocks_.empty()) return;
    running_.store(std::max(1u, workers), std::memory_order_release);
    for (unsigned i = 0; i < std::max(1u, workers); ++i)
        threads_.emplace_back([this] { work(); });
}

SummaryBuilder::~SummaryBuilder() {
    stop();
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
}

bool SummaryBuilder::covers(const SampleSequence& sequence) const {
    const bool running = isRunning() && !stop_.load(std::memory_order_relaxed);
    for (const SamplePiece& p : sequence.pieces())
        if (!p.block->isSummarised() &&
            (!running || std::find(blocks_.begin(), blocks_.end(), p.block) == blocks_.end()))
            return false;
    return true;
}

void SummaryBuilder::stop() {
    stop_.store(true, std::memory_order_relaxed);
}

void SummaryBuilder::work() {
    // Background work: a window being drawn or a stream being filled comes first.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
    for (const std::shared_ptr<SampleBlock>& block : blocks_) {
        while (!stop_.load(std::memory_order_relaxed) && block->summariseNextChunk(&stop_))
            if (progress_) progress_();
        // Chunks another worker (of this or another document) still holds
        // finish on their own; this one goes on to the next block.
    }
    // Then waits for those, so that whoever listens hears when they are done,
    // and takes back any chunk a stopped worker let go of.
    for (const std::shared_ptr<SampleBlock>& block : blocks_) {
        double seen = block->summarisedFraction();
        while (!stop_.load(std::memory_order_relaxed) && !block->isSummarised()) {
            if (!block->summariseNextChunk(&stop_)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (const double now = block->summarisedFraction(); now != seen && progress_) {
                seen = now;
                progress_();
            }
        }
    }
    if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1 && progress_ && !stop_.load()) progress_();
}

} // namespace ZQ
