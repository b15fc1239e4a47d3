#include "audiofile/ChannelStatistics.h"

#include "core/allocator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

namespace ZQ::Statistics {

namespace {

// Samples summed in vector lanes before their totals join the compensated
// sums: short enough that a lane's rounding error stays tiny, long enough
// that the compensation costs nothing.
constexpr std::uint64_t kBlock = 4096;
// A piece of work: what a thread takes at a time, and how often cancellation
// is looked at and progress reported (1 ms or so).
constexpr std::uint64_t kPiece = std::uint64_t(1) << 20;
// Below this many samples a second thread costs more than it saves.
constexpr std::uint64_t kTwoThreadsFrom = std::uint64_t(1) << 18;

// Two lanes: one SSE2 register, which every x86-64 has (wider vectors
// without the instructions for them come out as scalar code). Casts between
// the two types reinterpret bits.
typedef double V2 __attribute__((vector_size(16)));
typedef std::int64_t I2 __attribute__((vector_size(16)));

struct Piece {
    double max = -1.0;          // below any |x|, so that silence still names a block
    std::uint64_t maxBlock = 0; // the first block that reaches `max`
    std::uint64_t clipped = 0;
    CompensatedSum sum, squares;
};

// Two samples into one set of accumulators; branch-free, so that the loop
// around it stays straight vector code.
[[gnu::always_inline]] inline void step(const double* x, V2& s, V2& q, V2& m, I2& c) {
    const I2 absMask = {0x7fffffffffffffff, 0x7fffffffffffffff};
    const V2 clip = {kClipLevel, kClipLevel};
    V2 v;
    std::memcpy(&v, x, sizeof v);
    const V2 a = (V2)((I2)v & absMask);
    s += v;
    q += v * v;
    // NaN compares false: it never becomes the maximum (this is maxpd's own
    // rule), nor counts as clipped.
    m = a > m ? a : m;
    c -= (I2)(a >= clip); // a lane that compares true holds -1
}

// Samples [begin, end) of one channel (samples[0] is sample `begin`), block
// by block.
void scanPiece(const double* samples, std::uint64_t begin, std::uint64_t end, Piece& r) {
    for (std::uint64_t b = begin; b < end; b += kBlock) {
        const std::uint64_t n = std::min(kBlock, end - b);
        const double* x = samples + (b - begin);
        // Four independent sets of lanes: no add waits for the one before it.
        V2 s0 = {}, s1 = {}, s2 = {}, s3 = {}, q0 = {}, q1 = {}, q2 = {}, q3 = {};
        V2 m0 = {}, m1 = {}, m2 = {}, m3 = {};
        I2 c0 = {}, c1 = {}, c2 = {}, c3 = {};
        std::uint64_t i = 0;
        for (; i + 8 <= n; i += 8) {
            step(x + i, s0, q0, m0, c0);
            step(x + i + 2, s1, q1, m1, c1);
            step(x + i + 4, s2, q2, m2, c2);
            step(x + i + 6, s3, q3, m3, c3);
        }
        const V2 s = (s0 + s1) + (s2 + s3), q = (q0 + q1) + (q2 + q3);
        const V2 m01 = m0 > m1 ? m0 : m1, m23 = m2 > m3 ? m2 : m3, m = m01 > m23 ? m01 : m23;
        const I2 c = (c0 + c1) + (c2 + c3);
        double sum = s[0] + s[1];
        double squares = q[0] + q[1];
        double max = std::max(m[0], m[1]);
        std::uint64_t clipped = std::uint64_t(c[0] + c[1]);
        for (; i < n; ++i) {
            const double v = x[i], a = std::fabs(v);
            sum += v;
            squares += v * v;
            max = a > max ? a : max;
            clipped += a >= kClipLevel ? 1 : 0;
        }
        if (max > r.max) {
            r.max = max;
            r.maxBlock = b;
        }
        r.clipped += clipped;
        r.sum.add(sum);
        r.squares.add(squares);
    }
}

} // namespace

void CompensatedSum::add(double x) {
    const double t = sum + x;
    error += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
    sum = t;
}

void CompensatedSum::add(const CompensatedSum& other) {
    add(other.sum);
    error += other.error;
}

double toDbfs(double level) {
    if (std::isnan(level)) return level;
    if (level <= 0.0) return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(level);
}

double ChannelStatistics::peakDbfs() const {
    return toDbfs(count ? peak : 0.0);
}

double ChannelStatistics::rms() const {
    if (count == 0) return 0.0;
    const double meanSquare = sumOfSquares.value() / double(count);
    return std::sqrt(std::max(meanSquare, 0.0));
}

double ChannelStatistics::rmsDbfs() const {
    return toDbfs(rms());
}

double ChannelStatistics::dcOffset() const {
    return count ? sum.value() / double(count) : 0.0;
}

void ChannelStatistics::append(const ChannelStatistics& later) {
    if (later.count == 0) return;
    if (count == 0 || later.peak > peak) {
        peak = later.peak;
        peakValue = later.peakValue;
        firstPeakIndex = later.firstPeakIndex;
    }
    count += later.count;
    clipped += later.clipped;
    sum.add(later.sum);
    sumOfSquares.add(later.sumOfSquares);
}

double Control::fraction() const {
    const std::uint64_t total = samplesTotal.load(std::memory_order_relaxed);
    const std::uint64_t done = samplesDone.load(std::memory_order_relaxed);
    return total == 0 ? 0.0 : done >= total ? 1.0 : double(done) / double(total);
}

bool compute(std::span<const double* const> channels, std::uint64_t first, std::uint64_t last,
             std::vector<ChannelStatistics>& out, Control* control, int threads) {
    out.clear();
    for (const double* p : channels)
        if (!p) return false;
    return compute([&channels](std::uint64_t c, std::uint64_t from, std::uint64_t n,
                               double* to) { std::memcpy(to, channels[c] + from, n * sizeof(double)); },
                   channels.size(), first, last, out, control, threads);
}

bool compute(const ChannelReader& read, std::uint64_t channelCount, std::uint64_t first, std::uint64_t last,
             std::vector<ChannelStatistics>& out, Control* control, int threads) {
    out.clear();
    if (channelCount == 0 || !read || first > last || last - first == std::numeric_limits<std::uint64_t>::max())
        return false;
    const std::uint64_t frames = last - first + 1;
    const std::uint64_t perChannel = (frames - 1) / kPiece + 1;
    const std::uint64_t pieceCount = perChannel * channelCount;
    std::vector<Piece> pieces(pieceCount);
    if (control) {
        std::uint64_t none = 0;
        control->samplesTotal.compare_exchange_strong(none, frames * channelCount, std::memory_order_relaxed);
    }

    // Both threads take pieces in order until none is left: the channels and
    // ranges share out evenly whatever their count. Each reads its piece
    // into a buffer of its own.
    std::atomic<std::uint64_t> next{0};
    auto work = [&] {
        double* buffer = static_cast<double*>(allocateZeroedArray(std::min(frames, kPiece) * sizeof(double)));
        if (!buffer) {
            if (control) control->cancel(); // no memory for even a piece: nothing to show
            return;
        }
        for (;;) {
            if (control && control->cancelled()) break;
            const std::uint64_t k = next.fetch_add(1, std::memory_order_relaxed);
            if (k >= pieceCount) break;
            const std::uint64_t c = k / perChannel, j = k % perChannel;
            const std::uint64_t begin = first + j * kPiece;
            const std::uint64_t end = j + 1 == perChannel ? last + 1 : begin + kPiece;
            read(c, begin, end - begin, buffer);
            scanPiece(buffer, begin, end, pieces[k]);
            if (control) {
                control->samplesDone.fetch_add(end - begin, std::memory_order_relaxed);
                if (control->onProgress) control->onProgress(control->fraction());
            }
        }
        freeZeroedArray(buffer);
    };
    std::thread helper;
    if (threads >= 2 && pieceCount >= 2 && frames * channelCount >= kTwoThreadsFrom) {
        try {
            helper = std::thread(work);
        } catch (const std::system_error&) {
            // No second thread to be had: this one does it all.
        }
    }
    work();
    if (helper.joinable()) helper.join();
    if (control && control->cancelled()) return false;

    // Pieces join in order, so that the sums do not depend on which thread
    // took what.
    out.resize(channelCount);
    double block[kBlock];
    for (std::uint64_t c = 0; c < channelCount; ++c) {
        ChannelStatistics& s = out[c];
        s.count = frames;
        double best = -1.0;
        std::uint64_t bestBlock = first;
        for (std::uint64_t j = 0; j < perChannel; ++j) {
            const Piece& p = pieces[c * perChannel + j];
            if (p.max > best) {
                best = p.max;
                bestBlock = p.maxBlock;
            }
            s.clipped += p.clipped;
            s.sum.add(p.sum);
            s.sumOfSquares.add(p.squares);
        }
        s.peak = std::max(best, 0.0);
        s.firstPeakIndex = first;
        s.peakValue = 0.0;
        // The first block that reached the peak holds its first sample (only
        // blocks of nothing but NaN can come before it, when the peak is 0).
        bool found = false;
        for (std::uint64_t at = bestBlock; at <= last && !found; at += kBlock) {
            const std::uint64_t n = std::min(kBlock, last - at + 1);
            read(c, at, n, block);
            for (std::uint64_t i = 0; i < n; ++i)
                if (std::fabs(block[i]) == s.peak) {
                    s.firstPeakIndex = at + i;
                    s.peakValue = block[i];
                    found = true;
                    break;
                }
        }
    }
    return true;
}

namespace {

std::string fixed(double value, int decimals, bool sign) {
    char text[64];
    char* at = text;
    if (sign && value >= 0) *at++ = '+';
    const auto r = std::to_chars(at, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, r.ec == std::errc() ? r.ptr : at);
}

} // namespace

std::string dbfsText(double db) {
    if (std::isnan(db)) return "n/a";
    if (std::isinf(db)) return db < 0 ? "-inf dBFS" : "+inf dBFS";
    return fixed(db, 2, false) + " dBFS";
}

std::string sampleValueText(double value) {
    if (std::isnan(value)) return "n/a";
    if (std::isinf(value)) return value < 0 ? "-inf" : "+inf";
    if (value == 0.0) return "0";
    if (std::fabs(value) >= 1e-4) return fixed(value, 6, true);
    char text[64];
    char* at = text;
    if (value > 0) *at++ = '+';
    const auto r = std::to_chars(at, text + sizeof text, value, std::chars_format::scientific, 3);
    return std::string(text, r.ec == std::errc() ? r.ptr : at);
}

} // namespace ZQ::Statistics
