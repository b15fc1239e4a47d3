#include "audiofile/SampleBlock.h"

#include "audiofile/AudioFileReader.h"
#include "audiofile/MappedFile.h"
#include "core/allocator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

namespace ZQ {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Chunks of 2^15 first-level blocks: about a million frames with the finest
// blocks, small enough for a window to fill in smoothly.
constexpr unsigned kChunkShift = 15;

} // namespace

bool SampleEncoding::isReadable() const {
    if (channels == 0) return false;
    switch (kind) {
    case Kind::Signed:
        return bytes >= 1 && bytes <= 4;
    case Kind::Unsigned:
        return bytes == 1;
    case Kind::Float:
        return bytes == 4 || bytes == 8;
    }
    return false;
}

// The shared part: summaries and the chunks that build them.

SampleBlock::SampleBlock(std::uint64_t frames, unsigned channels)
    : frames_(frames), channels_(channels), summaries_(new WaveformSummary[channels]) {}

SampleBlock::~SampleBlock() = default;

bool SampleBlock::prepareSummaries() {
    // The smallest first-level block that keeps every channel's summary
    // within the budget (8 bytes a block, an eighth more for the levels above).
    unsigned shift = WaveformSummary::kBaseShift;
    const std::uint64_t samples = frames_ * channels_;
    while (shift < 40 && (samples >> shift) * 9 > kSummaryBudgetBytes)
        ++shift;
    baseShift_ = shift;
    for (unsigned c = 0; c < channels_; ++c)
        if (!summaries_[c].prepare(frames_, shift)) {
            for (unsigned k = 0; k < channels_; ++k)
                summaries_[k].clear();
            summarised_ = false;
            complete_.store(true, std::memory_order_release);
            return false;
        }
    summarised_ = true;
    const std::uint64_t chunks = chunkCount();
    chunkState_.reset(new std::atomic<std::uint8_t>[chunks == 0 ? 1 : chunks]);
    for (std::uint64_t i = 0; i < chunks; ++i)
        chunkState_[i].store(0, std::memory_order_relaxed);
    if (chunks == 0) { // shorter than one first-level block: nothing but the tail, which is scanned
        for (unsigned c = 0; c < channels_; ++c)
            summaries_[c].extendValid(0, frames_, true);
        complete_.store(true, std::memory_order_release);
    }
    return true;
}

std::uint64_t SampleBlock::chunkFrames() const {
    return std::uint64_t(1) << (baseShift_ + kChunkShift);
}

std::uint64_t SampleBlock::chunkCount() const {
    const std::uint64_t blocks = frames_ >> baseShift_;
    return (blocks + (std::uint64_t(1) << kChunkShift) - 1) >> kChunkShift;
}

bool SampleBlock::isSummarised() const {
    return complete_.load(std::memory_order_acquire);
}

double SampleBlock::summarisedFraction() const {
    if (isSummarised() || frames_ == 0) return 1.0;
    return double(summaries_[0].validSamples()) / double(frames_);
}

bool SampleBlock::summariseNextChunk(const std::atomic<bool>* stop) {
    if (isSummarised() || !summarised_) return false;
    const std::uint64_t chunks = chunkCount();
    for (std::uint64_t i = firstFree_.load(std::memory_order_relaxed); i < chunks; ++i) {
        std::uint8_t expected = 0;
        if (!chunkState_[i].compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) continue;
        // The first chunk that may still be free moves past this one.
        std::uint64_t hint = firstFree_.load(std::memory_order_relaxed);
        while (hint < i + 1 && !firstFree_.compare_exchange_weak(hint, i + 1, std::memory_order_relaxed)) {
        }
        const std::uint64_t perChunk = std::uint64_t(1) << kChunkShift;
        const std::uint64_t firstBlock = i * perChunk;
        const std::uint64_t blocks = std::min(perChunk, (frames_ >> baseShift_) - firstBlock);
        bool exact = true;
        // A part at a time, so that a stop is heard within a fraction of the chunk.
        constexpr std::uint64_t kPart = std::uint64_t(1) << 12;
        std::vector<WaveformSummary::Extremes*> out(channels_);
        for (std::uint64_t done = 0; done < blocks; done += kPart) {
            if (stop && stop->load(std::memory_order_relaxed)) {
                chunkState_[i].store(0, std::memory_order_release); // someone else's to take
                std::uint64_t free = firstFree_.load(std::memory_order_relaxed);
                while (free > i && !firstFree_.compare_exchange_weak(free, i, std::memory_order_relaxed)) {
                }
                return false;
            }
            for (unsigned c = 0; c < channels_; ++c)
                out[c] = summaries_[c].firstLevel() + firstBlock + done;
            extremes(firstBlock + done, std::min(kPart, blocks - done), baseShift_, out.data(), exact);
        }
        completeChunk(i, exact);
        return true;
    }
    return false;
}

void SampleBlock::completeChunk(std::uint64_t chunk, bool exact) {
    std::lock_guard<std::mutex> g(progressLock_);
    chunkState_[chunk].store(2, std::memory_order_release);
    const std::uint64_t chunks = chunkCount();
    const std::uint64_t before = donePrefix_;
    while (donePrefix_ < chunks && chunkState_[donePrefix_].load(std::memory_order_acquire) == 2)
        ++donePrefix_;
    if (donePrefix_ == before) {
        if (!exact)
            for (unsigned c = 0; c < channels_; ++c)
                summaries_[c].extendValid(0, 0, false);
        return;
    }
    const std::uint64_t blocks = std::min(donePrefix_ << kChunkShift, frames_ >> baseShift_);
    const std::uint64_t valid = donePrefix_ == chunks ? frames_ : blocks << baseShift_;
    for (unsigned c = 0; c < channels_; ++c)
        summaries_[c].extendValid(blocks, valid, exact);
    if (donePrefix_ == chunks) complete_.store(true, std::memory_order_release);
}

void SampleBlock::summariseAll() {
    while (summariseNextChunk()) {
    }
}

bool SampleBlock::fold(unsigned channel, std::uint64_t first, std::uint64_t last, double& lo, double& hi) const {
    const WaveformSummary& s = summaries_[channel];
    auto raw = [this, channel](std::uint64_t a, std::uint64_t b, double& l, double& h) { scan(channel, a, b, l, h); };
    // An inexact summary, or none, answers nothing: the samples are scanned.
    if (!summarised_ || !s.isExact() || s.isEmpty()) {
        if (!summarised_ || s.isComplete() || last - first < kScanLimit) {
            raw(first, last + 1, lo, hi);
            return true;
        }
        return false;
    }
    if (last < s.validSamples()) {
        s.fold(first, last, lo, hi, raw);
        return true;
    }
    if (last - first < kScanLimit) {
        raw(first, last + 1, lo, hi);
        return true;
    }
    return false;
}

// Memory.

std::shared_ptr<MemorySampleBlock> MemorySampleBlock::create(unsigned channels, std::uint64_t frames,
                                                             std::string* refusal) {
    if (channels == 0 || frames == 0) return nullptr;
    const std::uint64_t needed = frames * channels * sizeof(double);
    const std::uint64_t available = availableMemoryBytes();
    if (frames > std::numeric_limits<std::uint64_t>::max() / sizeof(double) / channels || needed > available) {
        if (refusal)
            *refusal = "needs " + memorySizeText(needed) + " of memory; " + memorySizeText(available) + " are available";
        return nullptr;
    }
    std::shared_ptr<MemorySampleBlock> block(new MemorySampleBlock(frames, channels));
    block->data_.assign(channels, nullptr);
    for (unsigned c = 0; c < channels; ++c) {
        block->data_[c] = static_cast<double*>(allocateZeroedArray(frames * sizeof(double)));
        if (!block->data_[c]) {
            if (refusal) *refusal = "needs " + memorySizeText(needed) + " of memory, which could not be had";
            return nullptr;
        }
    }
    return block;
}

MemorySampleBlock::~MemorySampleBlock() {
    for (double* d : data_)
        if (d) freeZeroedArray(d);
}

void MemorySampleBlock::finish() {
    if (prepareSummaries()) summariseAll();
}

void MemorySampleBlock::read(unsigned channel, std::uint64_t first, std::uint64_t count, double* out) const {
    std::memcpy(out, data_[channel] + first, count * sizeof(double));
}

void MemorySampleBlock::readFrames(std::uint64_t first, std::uint64_t count, double* const* out,
                                   unsigned outputs) const {
    for (unsigned c = 0; c < outputs && c < channels(); ++c)
        if (out[c]) read(c, first, count, out[c]);
}

void MemorySampleBlock::scan(unsigned channel, std::uint64_t first, std::uint64_t end, double& lo, double& hi) const {
    WaveformSummary::scan(data_[channel], first, end, lo, hi);
}

void MemorySampleBlock::extremes(std::uint64_t firstBlock, std::uint64_t blocks, unsigned baseShift,
                                 WaveformSummary::Extremes* const* out, bool& exact) const {
    const std::uint64_t size = std::uint64_t(1) << baseShift;
    for (unsigned c = 0; c < channels(); ++c)
        for (std::uint64_t b = 0; b < blocks; ++b)
            out[c][b] = WaveformSummary::extremesOf(data_[c] + ((firstBlock + b) << baseShift), size, exact);
}

// Files.

namespace {

enum Codec { S8, U8, S16LE, S16BE, S24LE, S24BE, S32LE, S32BE, F32LE, F32BE, F64LE, F64BE };

int codecOf(const SampleEncoding& e) {
    using K = SampleEncoding::Kind;
    if (e.kind == K::Unsigned) return U8;
    if (e.kind == K::Float) return e.bytes == 8 ? (e.bigEndian ? F64BE : F64LE) : (e.bigEndian ? F32BE : F32LE);
    switch (e.bytes) {
    case 1:
        return S8;
    case 2:
        return e.bigEndian ? S16BE : S16LE;
    case 3:
        return e.bigEndian ? S24BE : S24LE;
    default:
        return e.bigEndian ? S32BE : S32LE;
    }
}

template <class T> inline T load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Each encoding's word and the float the decoder makes of it: integers are
// scaled by 2^-(bits-1) in float arithmetic, as libsndfile converts them,
// which is exact up to 24 bits and rounds 32-bit words to float.
template <int C> struct Word;
template <> struct Word<S8> {
    using Raw = std::int32_t;
    static constexpr bool integer = true;
    static Raw raw(const unsigned char* p) { return static_cast<std::int8_t>(p[0]); }
    static float value(Raw v) { return static_cast<float>(v) * (1.0f / 128.0f); }
};
template <> struct Word<U8> {
    using Raw = std::int32_t;
    static constexpr bool integer = true;
    static Raw raw(const unsigned char* p) { return std::int32_t(p[0]) - 128; }
    static float value(Raw v) { return static_cast<float>(v) * (1.0f / 128.0f); }
};
template <bool Big> struct Word16 {
    using Raw = std::int32_t;
    static constexpr bool integer = true;
    static Raw raw(const unsigned char* p) {
        std::uint16_t u = load<std::uint16_t>(p);
        if (Big) u = __builtin_bswap16(u);
        return static_cast<std::int16_t>(u);
    }
    static float value(Raw v) { return static_cast<float>(v) * (1.0f / 32768.0f); }
};
template <> struct Word<S16LE> : Word16<false> {};
template <> struct Word<S16BE> : Word16<true> {};
template <bool Big> struct Word24 {
    using Raw = std::int32_t;
    static constexpr bool integer = true;
    static Raw raw(const unsigned char* p) {
        const std::uint32_t u = Big ? (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8)
                                    : (std::uint32_t(p[2]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[0]) << 8);
        return static_cast<std::int32_t>(u) >> 8;
    }
    static float value(Raw v) { return static_cast<float>(v) * (1.0f / 8388608.0f); }
};
template <> struct Word<S24LE> : Word24<false> {};
template <> struct Word<S24BE> : Word24<true> {};
template <bool Big> struct Word32 {
    using Raw = std::int32_t;
    static constexpr bool integer = true;
    static Raw raw(const unsigned char* p) {
        std::uint32_t u = load<std::uint32_t>(p);
        if (Big) u = __builtin_bswap32(u);
        return static_cast<std::int32_t>(u);
    }
    static float value(Raw v) { return static_cast<float>(v) * (1.0f / 2147483648.0f); }
};
template <> struct Word<S32LE> : Word32<false> {};
template <> struct Word<S32BE> : Word32<true> {};
template <bool Big> struct WordF32 {
    using Raw = float;
    static constexpr bool integer = false;
    static Raw raw(const unsigned char* p) {
        std::uint32_t u = load<std::uint32_t>(p);
        if (Big) u = __builtin_bswap32(u);
        float f;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }
    static float value(Raw v) { return v; }
};
template <> struct Word<F32LE> : WordF32<false> {};
template <> struct Word<F32BE> : WordF32<true> {};
template <bool Big> struct WordF64 {
    using Raw = float; // the decoder's float
    static constexpr bool integer = false;
    static Raw raw(const unsigned char* p) {
        std::uint64_t u = load<std::uint64_t>(p);
        if (Big) u = __builtin_bswap64(u);
        double d;
        std::memcpy(&d, &u, sizeof d);
        return static_cast<float>(d);
    }
    static float value(Raw v) { return v; }
};
template <> struct Word<F64LE> : WordF64<false> {};
template <> struct Word<F64BE> : WordF64<true> {};

template <class F> void dispatch(int codec, F&& f) {
    switch (codec) {
    case S8:
        return f(Word<S8>{});
    case U8:
        return f(Word<U8>{});
    case S16LE:
        return f(Word<S16LE>{});
    case S16BE:
        return f(Word<S16BE>{});
    case S24LE:
        return f(Word<S24LE>{});
    case S24BE:
        return f(Word<S24BE>{});
    case S32LE:
        return f(Word<S32LE>{});
    case S32BE:
        return f(Word<S32BE>{});
    case F32LE:
        return f(Word<F32LE>{});
    case F32BE:
        return f(Word<F32BE>{});
    case F64LE:
        return f(Word<F64LE>{});
    default:
        return f(Word<F64BE>{});
    }
}

} // namespace

std::shared_ptr<FileSampleBlock> FileSampleBlock::create(std::shared_ptr<MappedFile> file,
                                                         const SampleEncoding& encoding, std::uint64_t frames) {
    if (!file || !encoding.isReadable() || frames == 0 || frames > file->length() / encoding.frameBytes())
        return nullptr;
    std::shared_ptr<FileSampleBlock> block(new FileSampleBlock(std::move(file), encoding, frames));
    block->prepareSummaries();
    return block;
}

FileSampleBlock::FileSampleBlock(std::shared_ptr<MappedFile> file, const SampleEncoding& encoding,
                                 std::uint64_t frames)
    : SampleBlock(frames, encoding.channels), file_(std::move(file)), encoding_(encoding), codec_(codecOf(encoding)) {}

FileSampleBlock::~FileSampleBlock() = default;

bool FileSampleBlock::changedOnDisk() const {
    return file_->changedOnDisk();
}

void FileSampleBlock::read(unsigned channel, std::uint64_t first, std::uint64_t count, double* out) const {
    const std::uint64_t stride = encoding_.frameBytes();
    const unsigned char* p = file_->bytes() + first * stride + std::uint64_t(channel) * encoding_.bytes;
    dispatch(codec_, [&](auto w) {
        using W = decltype(w);
        for (std::uint64_t k = 0; k < count; ++k, p += stride)
            out[k] = static_cast<double>(W::value(W::raw(p)));
    });
}

void FileSampleBlock::readFrames(std::uint64_t first, std::uint64_t count, double* const* out,
                                 unsigned outputs) const {
    const std::uint64_t stride = encoding_.frameBytes();
    const unsigned n = std::min(outputs, channels());
    const unsigned char* frame = file_->bytes() + first * stride;
    dispatch(codec_, [&](auto w) {
        using W = decltype(w);
        for (std::uint64_t k = 0; k < count; ++k, frame += stride)
            for (unsigned c = 0; c < n; ++c)
                if (out[c]) out[c][k] = static_cast<double>(W::value(W::raw(frame + c * encoding_.bytes)));
    });
}

void FileSampleBlock::scan(unsigned channel, std::uint64_t first, std::uint64_t end, double& lo, double& hi) const {
    if (end <= first) return;
    const std::uint64_t stride = encoding_.frameBytes();
    const unsigned char* p = file_->bytes() + first * stride + std::uint64_t(channel) * encoding_.bytes;
    const std::uint64_t n = end - first;
    dispatch(codec_, [&](auto w) {
        using W = decltype(w);
        if constexpr (W::integer) {
            // Integers convert in order: the extremes of the words are the
            // words of the extremes, and none is NaN.
            typename W::Raw a = W::raw(p), b = a;
            for (std::uint64_t k = 1; k < n; ++k) {
                const typename W::Raw v = W::raw(p + k * stride);
                a = v < a ? v : a;
                b = b < v ? v : b;
            }
            lo = std::min(lo, static_cast<double>(W::value(a)));
            hi = std::max(hi, static_cast<double>(W::value(b)));
        } else {
            for (std::uint64_t k = 0; k < n; ++k) {
                const double v = static_cast<double>(W::value(W::raw(p + k * stride)));
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    });
}

void FileSampleBlock::extremes(std::uint64_t firstBlock, std::uint64_t blocks, unsigned baseShift,
                               WaveformSummary::Extremes* const* out, bool&) const {
    const unsigned channels = this->channels();
    const std::uint64_t stride = encoding_.frameBytes();
    const std::uint64_t size = std::uint64_t(1) << baseShift;
    const unsigned bytes = encoding_.bytes;
    file_->willNeed((firstBlock << baseShift) * stride, (blocks << baseShift) * stride);
    dispatch(codec_, [&](auto w) {
        using W = decltype(w);
        using Raw = typename W::Raw;
        constexpr unsigned kMost = 64;
        Raw lo[kMost], hi[kMost];
        for (std::uint64_t b = 0; b < blocks; ++b) {
            const unsigned char* frame = file_->bytes() + ((firstBlock + b) << baseShift) * stride;
            for (unsigned c0 = 0; c0 < channels; c0 += kMost) {
                const unsigned cn = std::min(kMost, channels - c0);
                if constexpr (W::integer) {
                    for (unsigned c = 0; c < cn; ++c)
                        lo[c] = hi[c] = W::raw(frame + (c0 + c) * bytes);
                } else {
                    for (unsigned c = 0; c < cn; ++c) {
                        lo[c] = std::numeric_limits<float>::infinity();
                        hi[c] = -std::numeric_limits<float>::infinity();
                    }
                }
                const unsigned char* f = frame + c0 * bytes;
                for (std::uint64_t k = 0; k < size; ++k, f += stride)
                    for (unsigned c = 0; c < cn; ++c) {
                        const Raw v = W::raw(f + c * bytes);
                        lo[c] = v < lo[c] ? v : lo[c]; // a NaN never replaces the running value
                        hi[c] = hi[c] < v ? v : hi[c];
                    }
                for (unsigned c = 0; c < cn; ++c)
                    out[c0 + c][b] = {W::value(lo[c]), W::value(hi[c])};
            }
        }
    });
}

} // namespace ZQ
