#include "platform/soundfile/MpegDecoder.h"

#include <cstring>
#include <mpg123.h>

namespace platform::audio {

namespace {

mpg123_handle* handleOf(void* h) {
    return static_cast<mpg123_handle*>(h);
}

std::string text(const mpg123_string* s) {
    if (!s || !s->p || s->fill == 0) return {};
    return std::string(s->p, strnlen(s->p, s->fill));
}

// An ID3v1 field: fixed width, padded with NULs or spaces.
std::string fixedText(const char* field, std::size_t width) {
    std::string s(field, strnlen(field, width));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace

std::unique_ptr<MpegDecoder> MpegDecoder::open(const std::string& path, std::string* why) {
    auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        return std::unique_ptr<MpegDecoder>();
    };
    int error = MPG123_OK;
    mpg123_handle* h = mpg123_new(nullptr, &error);
    if (!h) return fail(mpg123_plain_strerror(error));
    std::unique_ptr<MpegDecoder> d(new MpegDecoder);
    d->handle_ = h;
    // Quiet (messages are ours to give), gapless, and float whatever the
    // library's own precision.
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0.0);
    // A damaged stream is resynchronised within a bounded search, never
    // for ever.
    mpg123_param(h, MPG123_RESYNC_LIMIT, 65536, 0.0);
    mpg123_format_none(h);
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    if (mpg123_open(h, path.c_str()) != MPG123_OK) return fail(mpg123_strerror(h));
    int encoding = 0;
    long rate = 0;
    int channels = 0;
    if (mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels <= 0)
        return fail("no MPEG audio frame was found");
    // Later frames are converted to the first one's layout.
    mpg123_format_none(h);
    mpg123_format(h, rate, channels, MPG123_ENC_FLOAT_32);
    d->rate_ = rate;
    d->channels_ = channels;
    mpg123_frameinfo info{};
    if (mpg123_info(h, &info) == MPG123_OK) {
        d->layer_ = info.layer;
        d->bitRate_ = info.bitrate;
        d->vbr_ = info.vbr != MPG123_CBR;
    }
    // The exact length: every frame counted, less the delay and padding.
    if (mpg123_scan(h) != MPG123_OK) return fail(mpg123_strerror(h));
    const off_t length = mpg123_length(h);
    if (length <= 0) return fail("the MPEG audio stream holds no samples");
    d->frames_ = length;
    d->readTags();
    if (mpg123_seek(h, 0, SEEK_SET) < 0) return fail(mpg123_strerror(h));
    return d;
}

MpegDecoder::~MpegDecoder() {
    if (handle_) {
        mpg123_close(handleOf(handle_));
        mpg123_delete(handleOf(handle_));
    }
}

void MpegDecoder::readTags() {
    mpg123_handle* h = handleOf(handle_);
    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    if (!(mpg123_meta_check(h) & MPG123_ID3) || mpg123_id3(h, &v1, &v2) != MPG123_OK) return;
    auto add = [&](const char* key, std::string value) {
        if (value.empty()) return;
        for (auto& t : tags_)
            if (t.first == key) return; // ID3v2's, read first, wins
        tags_.emplace_back(key, std::move(value));
    };
    if (v2) {
        add("title", text(v2->title));
        add("artist", text(v2->artist));
        add("album", text(v2->album));
        add("year", text(v2->year));
        add("genre", text(v2->genre));
        add("comments", text(v2->comment));
        for (std::size_t i = 0; i < v2->texts; ++i) {
            const mpg123_text& t = v2->text[i];
            if (std::memcmp(t.id, "TRCK", 4) == 0) add("track number", text(&t.text));
            if (std::memcmp(t.id, "TDRC", 4) == 0) add("year", text(&t.text));
        }
    }
    if (v1) {
        add("title", fixedText(v1->title, sizeof v1->title));
        add("artist", fixedText(v1->artist, sizeof v1->artist));
        add("album", fixedText(v1->album, sizeof v1->album));
        add("year", fixedText(v1->year, sizeof v1->year));
        // ID3v1.1: a zero before the comment's last byte makes that byte the track.
        const bool hasTrack = v1->comment[28] == 0 && v1->comment[29] != 0;
        add("comments", fixedText(v1->comment, hasTrack ? 28 : sizeof v1->comment));
        if (hasTrack) add("track number", std::to_string(static_cast<unsigned char>(v1->comment[29])));
    }
}

std::int64_t MpegDecoder::read(float* interleaved, std::uint32_t frames) {
    mpg123_handle* h = handleOf(handle_);
    const std::size_t frameBytes = std::size_t(channels_) * sizeof(float);
    auto* out = reinterpret_cast<unsigned char*>(interleaved);
    std::size_t have = 0;
    const std::size_t want = std::size_t(frames) * frameBytes;
    while (have < want) {
        std::size_t done = 0;
        const int r = mpg123_read(h, out + have, want - have, &done);
        have += done;
        if (r == MPG123_DONE) break;
        if (r == MPG123_NEW_FORMAT || r == MPG123_OK) {
            if (done == 0 && r == MPG123_OK) break;
            continue;
        }
        // A damaged stream: what was decoded stands; nothing more comes.
        if (have == 0) return -1;
        break;
    }
    return static_cast<std::int64_t>(have / frameBytes);
}

bool MpegDecoder::seek(std::int64_t frame) {
    return mpg123_seek(handleOf(handle_), static_cast<off_t>(frame), SEEK_SET) >= 0;
}

} // namespace platform::audio
