#include "audiofile/SampleBlock.h"

#include "audiofile/AudioFileReader.h"
#include "audiofile/MappedFile.h"
#include "core/allocator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <smmintrin.h>
#include <tmmintrin.h>
#endif

namespace ZQ {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Chunks of 2^13 first-level blocks: about a million frames with the usual
// blocks, small enough for a window to fill in smoothly and for two workers
// to share a short file.
constexpr unsigned kChunkShift = 13;

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
    unsigned shift = kFirstLevelShift;
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
        chunkDone(firstBlock << baseShift_, blocks << baseShift_);
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

void SampleBlock::scanFrames(std::uint64_t first, std::uint64_t end, unsigned count, double* lo, double* hi) const {
    for (unsigned c = 0; c < count; ++c)
        scan(c, first, end, lo[c], hi[c]);
}

bool SampleBlock::foldFrames(std::uint64_t first, std::uint64_t last, unsigned count, double* lo, double* hi) const {
    // Every channel's summary has the same blocks: where all of them can
    // answer, they are walked together and the ends scanned once.
    bool together = summarised_ && count > 1;
    for (unsigned c = 0; c < count && together; ++c) {
        const WaveformSummary& s = summaries_[c];
        together = s.isExact() && !s.isEmpty() && last < s.validSamples();
    }
    if (!together) {
        bool known = true;
        for (unsigned c = 0; c < count; ++c)
            known = fold(c, first, last, lo[c], hi[c]) && known;
        return known;
    }
    WaveformSummary::foldAll(summaries_.get(), count, first, last, lo, hi,
                             [&](std::uint64_t a, std::uint64_t b) { scanFrames(a, b, count, lo, hi); });
    return true;
}

// Memory.

std::shared_ptr<MemorySampleBlock> MemorySampleBlock::create(unsigned channels, std::uint64_t frames,
                                                             std::string* refusal) {
    if (channels == 0 || frames == 0) return nullptr;
    const std::uint64_t needed = frames * channels * sizeof(double);
    const std::uint64_t available = availableMemoryBytes();
    if (frames > std::numeric_limits<std::uint64_t>::max() / sizeof(double) / channels || needed > available) {
        if (refusal)
            *refusal =
                "needs " + memorySizeText(needed) + " of memory; " + memorySizeText(available) + " are available";
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
        const std::uint32_t u =
            Big ? (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8)
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

FileSampleBlock::FileSampleBlock(std::shared_ptr<MappedFile> file, const SampleEncoding& encoding, std::uint64_t frames)
    : SampleBlock(frames, encoding.channels), file_(std::move(file)), encoding_(encoding), codec_(codecOf(encoding)) {}

FileSampleBlock::~FileSampleBlock() = default;

bool FileSampleBlock::changedOnDisk() const {
    return file_->changedOnDisk();
}

void FileSampleBlock::read(unsigned channel, std::uint64_t first, std::uint64_t count, double* out) const {
    const std::uint64_t stride = encoding_.frameBytes();
    const unsigned char* p = file_->bytes() + first * stride + std::uint64_t(channel) * encoding_.bytes;
    if (count * stride >= (std::uint64_t(64) << 10)) file_->willNeed(first * stride, count * stride);
    dispatch(codec_, [&](auto w) {
        using W = decltype(w);
        for (std::uint64_t k = 0; k < count; ++k, p += stride)
            out[k] = static_cast<double>(W::value(W::raw(p)));
    });
}

void FileSampleBlock::readFrames(std::uint64_t first, std::uint64_t count, double* const* out, unsigned outputs) const {
    const std::uint64_t stride = encoding_.frameBytes();
    const unsigned n = std::min(outputs, channels());
    const unsigned char* frame = file_->bytes() + first * stride;
    if (count * stride >= (std::uint64_t(64) << 10)) file_->willNeed(first * stride, count * stride);
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
            // words of the extremes, and none is NaN. Two running pairs keep
            // the comparisons from waiting on each other.
            using Raw = typename W::Raw;
            Raw a = W::raw(p), b = a, c = a, d = a;
            std::uint64_t k = 1;
            for (; k + 1 < n; k += 2) {
                const Raw v = W::raw(p + k * stride), u = W::raw(p + (k + 1) * stride);
                a = v < a ? v : a;
                b = b < v ? v : b;
                c = u < c ? u : c;
                d = d < u ? u : d;
            }
            if (k < n) {
                const Raw v = W::raw(p + k * stride);
                a = v < a ? v : a;
                b = b < v ? v : b;
            }
            lo = std::min(lo, static_cast<double>(W::value(std::min(a, c))));
            hi = std::max(hi, static_cast<double>(W::value(std::max(b, d))));
        } else {
            for (std::uint64_t k = 0; k < n; ++k) {
                const double v = static_cast<double>(W::value(W::raw(p + k * stride)));
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    });
}

void FileSampleBlock::prefetch(std::uint64_t frame) const {
    const std::uint64_t stride = encoding_.frameBytes();
    const std::uint64_t size = std::uint64_t(1) << kFirstLevelShift;
    const std::uint64_t from = frame & ~(size - 1), to = std::min(from + size, frames());
    if (from >= to) return;
    const unsigned char* p = file_->bytes() + from * stride;
    for (std::uint64_t at = 0; at < (to - from) * stride; at += 64)
        __builtin_prefetch(p + at);
}

void FileSampleBlock::willNeed(std::uint64_t first, std::uint64_t count) const {
    if (first < frames())
        file_->willNeed(first * encoding_.frameBytes(), std::min(count, frames() - first) * encoding_.frameBytes());
}

void FileSampleBlock::chunkDone(std::uint64_t first, std::uint64_t count) const {
    file_->dontNeed(first * encoding_.frameBytes(), count * encoding_.frameBytes());
}

namespace {

#if defined(__SSE2__)
// Packed 24-bit little-endian words four at a time: twelve bytes spread
// into the top three bytes of four 32-bit lanes (SSSE3's byte shuffle) and
// shifted down with their sign, then SSE4.1's 32-bit minimum and maximum.
// Lane j of the vector starting at a frame's sample 4k holds channel 4k + j,
// so channels in multiples of four (or one or two, which every lane repeats)
// keep one accumulator pair per four channels. The last frame of each block
// is read a word at a time, so no load passes the block's last byte.
__attribute__((target("ssse3,sse4.1"))) void extremes24(const unsigned char* data, unsigned channels,
                                                        std::uint64_t firstBlock, std::uint64_t blocks,
                                                        unsigned baseShift, WaveformSummary::Extremes* const* out) {
    const std::uint64_t size = std::uint64_t(1) << baseShift, stride = std::uint64_t(channels) * 3;
    const __m128i spread = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    const unsigned groups = channels <= 2 ? 1 : channels / 4; // vectors per frame (per 4 frames or 2)
    const unsigned framesPerGroup = channels == 1 ? 4 : channels == 2 ? 2 : 1;
    __m128i lo[16], hi[16];
    for (std::uint64_t b = 0; b < blocks; ++b) {
        const unsigned char* block = data + ((firstBlock + b) << baseShift) * stride;
        for (unsigned g = 0; g < groups; ++g) {
            lo[g] = _mm_set1_epi32(0x7fffffff);
            hi[g] = _mm_set1_epi32(-0x7fffffff - 1);
        }
        // Whole vectors over all frames but the last (or the last few, for 1 or 2 channels).
        const std::uint64_t vectorFrames = size - framesPerGroup;
        for (std::uint64_t f = 0; f < vectorFrames; f += framesPerGroup) {
            const unsigned char* p = block + f * stride;
            for (unsigned g = 0; g < groups; ++g) {
                const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12 * g));
                const __m128i v = _mm_srai_epi32(_mm_shuffle_epi8(raw, spread), 8);
                lo[g] = _mm_min_epi32(lo[g], v);
                hi[g] = _mm_max_epi32(hi[g], v);
            }
        }
        alignas(16) std::int32_t l[64], h[64];
        for (unsigned g = 0; g < groups; ++g) {
            _mm_store_si128(reinterpret_cast<__m128i*>(l + 4 * g), lo[g]);
            _mm_store_si128(reinterpret_cast<__m128i*>(h + 4 * g), hi[g]);
        }
        if (channels <= 2) // every lane held one of the channels: fold them together
            for (unsigned j = channels; j < 4; ++j)
                l[j % channels] = std::min(l[j % channels], l[j]), h[j % channels] = std::max(h[j % channels], h[j]);
        for (std::uint64_t f = vectorFrames; f < size; ++f)
            for (unsigned c = 0; c < channels; ++c) {
                const std::int32_t v = Word<S24LE>::raw(block + f * stride + 3 * c);
                l[c] = std::min(l[c], v);
                h[c] = std::max(h[c], v);
            }
        for (unsigned c = 0; c < channels; ++c)
            out[c][b] = {Word<S24LE>::value(l[c]), Word<S24LE>::value(h[c])};
    }
}

// The common layouts a vector at a time: 16-bit little-endian words or
// floats whose channels share a vector evenly (1, 2, 4 or 8 of them), so
// that lane j always holds channel j % channels. Each first-level block's
// lanes are folded per channel at its end. MINPS/MAXPS give the running
// value when the sample is NaN, as the scan's comparisons do.
bool vectorExtremes(int codec, const unsigned char* data, unsigned channels, std::uint64_t firstBlock,
                    std::uint64_t blocks, unsigned baseShift, WaveformSummary::Extremes* const* out) {
    const std::uint64_t size = std::uint64_t(1) << baseShift;
    if (codec == S16LE && (channels == 1 || channels == 2 || channels == 4 || channels == 8)) {
        const std::uint64_t words = size * channels; // a multiple of 8: size is at least 128
        for (std::uint64_t b = 0; b < blocks; ++b) {
            const auto* p = reinterpret_cast<const __m128i*>(data + ((firstBlock + b) << baseShift) * channels * 2);
            __m128i lo = _mm_set1_epi16(32767), hi = _mm_set1_epi16(-32768);
            __m128i lo2 = lo, hi2 = hi;
            for (std::uint64_t k = 0; k < words / 8; k += 2) {
                const __m128i v = _mm_loadu_si128(p + k), u = _mm_loadu_si128(p + k + 1);
                lo = _mm_min_epi16(lo, v);
                hi = _mm_max_epi16(hi, v);
                lo2 = _mm_min_epi16(lo2, u);
                hi2 = _mm_max_epi16(hi2, u);
            }
            alignas(16) std::int16_t l[8], h[8];
            _mm_store_si128(reinterpret_cast<__m128i*>(l), _mm_min_epi16(lo, lo2));
            _mm_store_si128(reinterpret_cast<__m128i*>(h), _mm_max_epi16(hi, hi2));
            for (unsigned c = 0; c < channels; ++c) {
                std::int16_t a = l[c], z = h[c];
                for (unsigned j = c + channels; j < 8; j += channels)
                    a = std::min(a, l[j]), z = std::max(z, h[j]);
                out[c][b] = {Word<S16LE>::value(a), Word<S16LE>::value(z)};
            }
        }
        return true;
    }
    if (codec == S24LE && channels <= 64 && (channels % 4 == 0 || channels <= 2) && __builtin_cpu_supports("sse4.1")) {
        extremes24(data, channels, firstBlock, blocks, baseShift, out);
        return true;
    }
    if (codec == S24LE && channels <= 64) {
        // Each word read as four bytes (the next byte shifted out), all but
        // the block's last frame, whose last word may end the mapping.
        const std::uint64_t stride = std::uint64_t(channels) * 3;
        std::int32_t l[64], h[64];
        for (std::uint64_t b = 0; b < blocks; ++b) {
            const unsigned char* frame = data + ((firstBlock + b) << baseShift) * stride;
            for (unsigned c = 0; c < channels; ++c)
                l[c] = h[c] = Word<S24LE>::raw(frame + 3 * c);
            for (std::uint64_t k = 1; k + 1 < size; ++k) {
                const unsigned char* f = frame + k * stride;
                for (unsigned c = 0; c < channels; ++c) {
                    std::uint32_t u;
                    std::memcpy(&u, f + 3 * c, 4);
                    const std::int32_t v = static_cast<std::int32_t>(u << 8) >> 8;
                    l[c] = v < l[c] ? v : l[c];
                    h[c] = h[c] < v ? v : h[c];
                }
            }
            const unsigned char* last = frame + (size - 1) * stride;
            for (unsigned c = 0; c < channels; ++c) {
                const std::int32_t v = Word<S24LE>::raw(last + 3 * c);
                l[c] = std::min(l[c], v);
                h[c] = std::max(h[c], v);
                out[c][b] = {Word<S24LE>::value(l[c]), Word<S24LE>::value(h[c])};
            }
        }
        return true;
    }
    if (codec == F32LE && (channels == 1 || channels == 2 || channels == 4)) {
        const std::uint64_t floats = size * channels; // a multiple of 4
        for (std::uint64_t b = 0; b < blocks; ++b) {
            const auto* p = reinterpret_cast<const float*>(data + ((firstBlock + b) << baseShift) * channels * 4);
            __m128 lo = _mm_set1_ps(std::numeric_limits<float>::infinity());
            __m128 hi = _mm_set1_ps(-std::numeric_limits<float>::infinity());
            for (std::uint64_t k = 0; k < floats; k += 4) {
                const __m128 v = _mm_loadu_ps(p + k);
                lo = _mm_min_ps(v, lo);
                hi = _mm_max_ps(v, hi);
            }
            alignas(16) float l[4], h[4];
            _mm_store_ps(l, lo);
            _mm_store_ps(h, hi);
            for (unsigned c = 0; c < channels; ++c) {
                float a = l[c], z = h[c];
                for (unsigned j = c + channels; j < 4; j += channels) {
                    a = l[j] < a ? l[j] : a;
                    z = z < h[j] ? h[j] : z;
                }
                out[c][b] = {a, z};
            }
        }
        return true;
    }
    return false;
}

// Calls f with the vector count as a constant for counts of 1 to 4 (their
// accumulators then stay in registers); false for more.
template <class F> bool withFixedCount(unsigned vectors, F&& f) {
    switch (vectors) {
    case 1:
        return f(std::integral_constant<unsigned, 1>{}), true;
    case 2:
        return f(std::integral_constant<unsigned, 2>{}), true;
    case 3:
        return f(std::integral_constant<unsigned, 3>{}), true;
    case 4:
        return f(std::integral_constant<unsigned, 4>{}), true;
    default:
        return false;
    }
}

// Any number of frames of any number of channels (up to 64), 16-bit
// little-endian words or floats, a vector at a time: a run of lcm(channels,
// lanes) samples holds every channel a whole number of times, so each of
// its vectors keeps one accumulator pair whose lane j is always the same
// channel. Samples after the last whole run are taken one at a time. False
// (nothing folded) where there is not one whole run.
bool vectorScanFrames(int codec, const unsigned char* data, unsigned channels, std::uint64_t frames, unsigned count,
                      double* lo, double* hi) {
    if (channels == 0 || channels > 64) return false;
    const std::uint64_t samples = frames * channels;
    if (codec == S16LE) {
        const unsigned run = std::lcm(channels, 8u), vectors = run / 8;
        const std::uint64_t runs = samples / run;
        if (runs == 0) return false;
        __m128i l[64], h[64];
        for (unsigned v = 0; v < vectors; ++v)
            l[v] = _mm_set1_epi16(32767), h[v] = _mm_set1_epi16(-32768);
        const auto* p = reinterpret_cast<const __m128i*>(data);
        auto fixed = [&](auto count) {
            constexpr unsigned V = decltype(count)::value;
            __m128i a[V], z[V];
            for (unsigned v = 0; v < V; ++v)
                a[v] = l[v], z[v] = h[v];
            for (std::uint64_t r = 0; r < runs; ++r, p += V)
                for (unsigned v = 0; v < V; ++v) {
                    const __m128i x = _mm_loadu_si128(p + v);
                    a[v] = _mm_min_epi16(a[v], x);
                    z[v] = _mm_max_epi16(z[v], x);
                }
            for (unsigned v = 0; v < V; ++v)
                l[v] = a[v], h[v] = z[v];
        };
        if (!withFixedCount(vectors, fixed))
            for (std::uint64_t r = 0; r < runs; ++r, p += vectors)
                for (unsigned v = 0; v < vectors; ++v) {
                    const __m128i x = _mm_loadu_si128(p + v);
                    l[v] = _mm_min_epi16(l[v], x);
                    h[v] = _mm_max_epi16(h[v], x);
                }
        std::int16_t L[64], H[64];
        std::fill(L, L + channels, std::int16_t(32767));
        std::fill(H, H + channels, std::int16_t(-32768));
        for (unsigned v = 0; v < vectors; ++v) {
            alignas(16) std::int16_t a[8], z[8];
            _mm_store_si128(reinterpret_cast<__m128i*>(a), l[v]);
            _mm_store_si128(reinterpret_cast<__m128i*>(z), h[v]);
            for (unsigned j = 0; j < 8; ++j) {
                const unsigned c = (8 * v + j) % channels;
                L[c] = std::min(L[c], a[j]);
                H[c] = std::max(H[c], z[j]);
            }
        }
        for (std::uint64_t k = runs * run; k < samples; ++k) {
            const std::int16_t x = static_cast<std::int16_t>(Word<S16LE>::raw(data + 2 * k));
            const unsigned c = static_cast<unsigned>(k % channels);
            L[c] = std::min(L[c], x);
            H[c] = std::max(H[c], x);
        }
        for (unsigned c = 0; c < count; ++c) {
            lo[c] = std::min(lo[c], static_cast<double>(Word<S16LE>::value(L[c])));
            hi[c] = std::max(hi[c], static_cast<double>(Word<S16LE>::value(H[c])));
        }
        return true;
    }
    if (codec == F32LE) {
        const unsigned run = std::lcm(channels, 4u), vectors = run / 4;
        const std::uint64_t runs = samples / run;
        if (runs == 0) return false;
        constexpr float kInf = std::numeric_limits<float>::infinity();
        __m128 l[64], h[64];
        for (unsigned v = 0; v < vectors; ++v)
            l[v] = _mm_set1_ps(kInf), h[v] = _mm_set1_ps(-kInf);
        const auto* p = reinterpret_cast<const float*>(data);
        auto fixed = [&](auto count) {
            constexpr unsigned V = decltype(count)::value;
            __m128 a[V], z[V];
            for (unsigned v = 0; v < V; ++v)
                a[v] = l[v], z[v] = h[v];
            for (std::uint64_t r = 0; r < runs; ++r, p += run)
                for (unsigned v = 0; v < V; ++v) {
                    const __m128 x = _mm_loadu_ps(p + 4 * v);
                    a[v] = _mm_min_ps(x, a[v]); // the running value where x is NaN
                    z[v] = _mm_max_ps(x, z[v]);
                }
            for (unsigned v = 0; v < V; ++v)
                l[v] = a[v], h[v] = z[v];
        };
        if (!withFixedCount(vectors, fixed))
            for (std::uint64_t r = 0; r < runs; ++r, p += run)
                for (unsigned v = 0; v < vectors; ++v) {
                    const __m128 x = _mm_loadu_ps(p + 4 * v);
                    l[v] = _mm_min_ps(x, l[v]);
                    h[v] = _mm_max_ps(x, h[v]);
                }
        float L[64], H[64];
        std::fill(L, L + channels, kInf);
        std::fill(H, H + channels, -kInf);
        for (unsigned v = 0; v < vectors; ++v) {
            alignas(16) float a[4], z[4];
            _mm_store_ps(a, l[v]);
            _mm_store_ps(z, h[v]);
            for (unsigned j = 0; j < 4; ++j) {
                const unsigned c = (4 * v + j) % channels;
                L[c] = a[j] < L[c] ? a[j] : L[c];
                H[c] = H[c] < z[j] ? z[j] : H[c];
            }
        }
        for (std::uint64_t k = runs * run; k < samples; ++k) {
            const float x = Word<F32LE>::raw(data + 4 * k);
            const unsigned c = static_cast<unsigned>(k % channels);
            L[c] = x < L[c] ? x : L[c];
            H[c] = H[c] < x ? x : H[c];
        }
        for (unsigned c = 0; c < count; ++c) {
            lo[c] = std::min(lo[c], static_cast<double>(L[c]));
            hi[c] = std::max(hi[c], static_cast<double>(H[c]));
        }
        return true;
    }
    return false;
}
#endif

} // namespace

void FileSampleBlock::scanFrames(std::uint64_t first, std::uint64_t end, unsigned count, double* lo, double* hi) const {
    if (end <= first || count == 0) return;
    const unsigned channels = this->channels();
    const std::uint64_t stride = encoding_.frameBytes();
    const unsigned bytes = encoding_.bytes;
    const unsigned char* data = file_->bytes() + first * stride;
    const std::uint64_t n = end - first;
#if defined(__SSE2__)
    if (vectorScanFrames(codec_, data, channels, n, count, lo, hi)) return;
#endif
    dispatch(codec_, [&](auto w) {
        using W = decltype(w);
        using Raw = typename W::Raw;
        constexpr unsigned kMost = 64;
        Raw l[kMost], h[kMost];
        for (unsigned c0 = 0; c0 < count; c0 += kMost) {
            const unsigned cn = std::min(kMost, count - c0);
            const unsigned char* f = data + c0 * bytes;
            for (unsigned c = 0; c < cn; ++c) {
                if constexpr (W::integer) {
                    l[c] = h[c] = W::raw(f + c * bytes);
                } else {
                    l[c] = std::numeric_limits<float>::infinity();
                    h[c] = -std::numeric_limits<float>::infinity();
                }
            }
            for (std::uint64_t k = 0; k < n; ++k, f += stride)
                for (unsigned c = 0; c < cn; ++c) {
                    const Raw v = W::raw(f + c * bytes);
                    l[c] = v < l[c] ? v : l[c]; // a NaN never replaces the running value
                    h[c] = h[c] < v ? v : h[c];
                }
            // Integers convert in order, and a float's infinity from no
            // number at all loses to any running value.
            for (unsigned c = 0; c < cn; ++c) {
                lo[c0 + c] = std::min(lo[c0 + c], static_cast<double>(W::value(l[c])));
                hi[c0 + c] = std::max(hi[c0 + c], static_cast<double>(W::value(h[c])));
            }
        }
    });
    (void)channels;
}

void FileSampleBlock::extremes(std::uint64_t firstBlock, std::uint64_t blocks, unsigned baseShift,
                               WaveformSummary::Extremes* const* out, bool&) const {
    const unsigned channels = this->channels();
    const std::uint64_t stride = encoding_.frameBytes();
    const std::uint64_t size = std::uint64_t(1) << baseShift;
    const unsigned bytes = encoding_.bytes;
    file_->willNeed((firstBlock << baseShift) * stride, (blocks << baseShift) * stride);
#if defined(__SSE2__)
    if (size >= 128 && vectorExtremes(codec_, file_->bytes(), channels, firstBlock, blocks, baseShift, out)) return;
#endif
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
