// MPEG audio (Layers I, II and III) decoded with libmpg123: 32-bit float at
// the stream's own rate and channel count, gapless (the encoder's delay and
// padding that a LAME/Xing tag names are removed, so the length is the
// encoded source's), with an exact length found by scanning the frames and
// sample-exact seeking. libsndfile 1.2.0 is not used for these: without a
// Xing/Info header it decodes such a stream wrongly.
//
// One decoder is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform::audio {

class MpegDecoder {
public:
    // Opens the stream in the file at path: nullptr, with `why` in words,
    // when it holds no MPEG audio that can be decoded.
    static std::unique_ptr<MpegDecoder> open(const std::string& path, std::string* why);
    ~MpegDecoder();
    MpegDecoder(const MpegDecoder&) = delete;
    MpegDecoder& operator=(const MpegDecoder&) = delete;

    long rate() const { return rate_; }
    int channels() const { return channels_; }
    std::int64_t frames() const { return frames_; }
    // 1, 2 or 3.
    int layer() const { return layer_; }
    // The first frame's bit rate in kbit/s, and whether the rate varies.
    int bitRate() const { return bitRate_; }
    bool variableBitRate() const { return vbr_; }
    // The ID3 tags' texts (ID3v2 over ID3v1) under the keys the info
    // dictionary uses ("title", "artist", "album", "year", "comments",
    // "genre", "track number").
    const std::vector<std::pair<std::string, std::string>>& tags() const { return tags_; }

    // Up to `frames` interleaved frames from the current position; the count
    // delivered (0 at the end), or -1 when the stream cannot be decoded further.
    std::int64_t read(float* interleaved, std::uint32_t frames);
    bool seek(std::int64_t frame);

private:
    MpegDecoder() = default;
    void readTags();

    void* handle_ = nullptr; // mpg123_handle*
    long rate_ = 0;
    int channels_ = 0;
    std::int64_t frames_ = 0;
    int layer_ = 0;
    int bitRate_ = 0;
    bool vbr_ = false;
    std::vector<std::pair<std::string, std::string>> tags_;
};

} // namespace platform::audio
