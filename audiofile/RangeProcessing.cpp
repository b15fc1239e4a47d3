#include "audiofile/RangeProcessing.h"

#include "audiofile/AudioFileReader.h"
#include "audiofile/MappedFile.h"
#include "audiofile/SampleSequence.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace ZQ {

namespace {

constexpr std::uint64_t kChunkFrames = 1 << 15;

// Every frame of [first, first + count), a chunk at a time, as channels of
// doubles: visit(chunkStart, n, channels).
template <class Visit>
void eachChunk(const SampleSequence& samples, std::uint64_t first, std::uint64_t count, Visit visit) {
    const unsigned channels = samples.channelCount();
    std::vector<double> data(std::size_t(std::min(count, kChunkFrames)) * channels);
    std::vector<double*> out(channels);
    for (unsigned c = 0; c < channels; ++c)
        out[c] = data.data() + std::size_t(c) * std::min(count, kChunkFrames);
    for (std::uint64_t at = 0; at < count; at += kChunkFrames) {
        const std::uint64_t n = std::min(kChunkFrames, count - at);
        samples.readFrames(first + at, n, out.data());
        if (!visit(at, n, out)) return;
    }
}

} // namespace

double RangeProcess::fadeFactor(Curve curve, bool in, std::uint64_t k, std::uint64_t n) {
    if (n <= 1) return in ? 1.0 : 0.0;
    const double t = static_cast<double>(in ? k : n - 1 - k) / static_cast<double>(n - 1);
    return curve == Curve::Linear ? t : std::sin(t * M_PI / 2);
}

std::vector<double> channelMeans(const SampleSequence& samples, std::uint64_t first, std::uint64_t count) {
    const unsigned channels = samples.channelCount();
    std::vector<double> sums(channels, 0.0);
    if (count == 0) return sums;
    eachChunk(samples, first, count, [&](std::uint64_t, std::uint64_t n, const std::vector<double*>& in) {
        for (unsigned c = 0; c < channels; ++c)
            for (std::uint64_t k = 0; k < n; ++k)
                sums[c] += in[c][k];
        return true;
    });
    for (double& s : sums)
        s /= static_cast<double>(count);
    return sums;
}

double samplePeak(const SampleSequence& samples, std::uint64_t first, std::uint64_t count) {
    double peak = 0;
    eachChunk(samples, first, count, [&](std::uint64_t, std::uint64_t n, const std::vector<double*>& in) {
        for (double* channel : in)
            for (std::uint64_t k = 0; k < n; ++k)
                peak = std::max(peak, std::fabs(channel[k]));
        return true;
    });
    return peak;
}

std::shared_ptr<SampleBlock> processFrames(const SampleSequence& samples, std::uint64_t first, std::uint64_t count,
                                           const RangeProcess& process, std::string* refusal,
                                           const std::atomic<bool>* cancel) {
    auto refuse = [refusal](std::string why) {
        if (refusal) *refusal = std::move(why);
        return nullptr;
    };
    const unsigned channels = samples.channelCount();
    if (channels == 0 || count == 0 || first > samples.frameCount() || count > samples.frameCount() - first)
        return refuse("there are no frames to process");
    const std::string folder = decodeCacheFolder();
    const std::uint64_t bytes = count * channels * sizeof(float);
    const std::uint64_t available = availableDiskBytes(folder);
    if (bytes > available)
        return refuse("it needs " + memorySizeText(bytes) + " of disk space in " + folder + "; " +
                      memorySizeText(available) + " are available");
    const int fd = unnamedTemporaryFile(folder);
    if (fd < 0) return refuse(std::string(std::strerror(errno)) + " in " + folder);
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) ::close(fd);
        }
    } owned{fd};

    using Kind = RangeProcess::Kind;
    const std::vector<double> means =
        process.kind == Kind::RemoveDC ? channelMeans(samples, first, count) : std::vector<double>(channels, 0.0);
    std::vector<float> frames(std::size_t(std::min(count, kChunkFrames)) * channels);
    bool failed = false, stopped = false;
    // Reverse reads the chunks from the end; frame k of the result is frame
    // count-1-k of the source.
    const bool reverse = process.kind == Kind::Reverse;
    std::vector<double> data(std::size_t(std::min(count, kChunkFrames)) * channels);
    std::vector<double*> in(channels);
    for (unsigned c = 0; c < channels; ++c)
        in[c] = data.data() + std::size_t(c) * std::min(count, kChunkFrames);
    for (std::uint64_t at = 0; at < count && !failed; at += kChunkFrames) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            stopped = true;
            break;
        }
        const std::uint64_t n = std::min(kChunkFrames, count - at);
        const std::uint64_t from = reverse ? first + count - at - n : first + at;
        if (process.kind != Kind::Silence) samples.readFrames(from, n, in.data());
        for (unsigned c = 0; c < channels; ++c) {
            const double* x = in[c];
            for (std::uint64_t k = 0; k < n; ++k) {
                const std::uint64_t i = at + k; // the frame's place in the result
                double y = 0;
                switch (process.kind) {
                case Kind::Gain:
                    y = x[k] * process.gain;
                    break;
                case Kind::FadeIn:
                case Kind::FadeOut:
                    y = x[k] * RangeProcess::fadeFactor(process.curve, process.kind == Kind::FadeIn, i, count);
                    break;
                case Kind::Silence:
                    y = 0;
                    break;
                case Kind::Reverse:
                    y = x[n - 1 - k];
                    break;
                case Kind::Invert:
                    y = -x[k];
                    break;
                case Kind::RemoveDC:
                    y = x[k] - means[c];
                    break;
                }
                frames[std::size_t(k) * channels + c] = static_cast<float>(y);
            }
        }
        failed = !writeAllBytes(fd, frames.data(), std::size_t(n) * channels * sizeof(float));
    }
    if (stopped) return refuse("");
    if (failed) return refuse(std::string(std::strerror(errno)) + " in " + folder);
    std::string error;
    std::shared_ptr<MappedFile> mapped = MappedFile::adopt(fd, bytes, &error);
    owned.fd = -1; // the mapping has it now, or closed it
    if (!mapped) return refuse("the processed samples could not be mapped: " + error);
    SampleEncoding floats;
    floats.kind = SampleEncoding::Kind::Float;
    floats.bytes = 4;
    floats.bigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    floats.channels = channels;
    std::shared_ptr<FileSampleBlock> block = FileSampleBlock::create(std::move(mapped), floats, count);
    if (!block) return refuse("the processed samples could not be read back");
    return block;
}

} // namespace ZQ
