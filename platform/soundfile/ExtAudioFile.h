// The extended audio file: an open audio file plus a client format in which
// it hands out samples. Here the client format is always interleaved packed
// 32-bit float at the file's own rate and channel count (the only conversion
// the program asks for); the property questions of the extended service are
// answered from the underlying AudioFile.
//
// One ExtAudioFile is used by one thread at a time.
#pragma once

#include "platform/base/AudioTypes.h"
#include "platform/base/Object.h"
#include "platform/soundfile/AudioFile.h"

#include <cstdint>
#include <string>

namespace platform {
class URL;
}

namespace platform::audio {

class ExtAudioFile final : public Object {
public:
    // Opens the file a file URL names: 0 with *out set (+1), or the audio
    // file's error code.
    static OSStatus openURL(const URL* url, ExtAudioFile** out);

    // Property questions (codes in namespace `ext`). Fixed-size answers are
    // copied up to *ioSize bytes and *ioSize becomes the bytes written; the
    // underlying file ('afil') is handed out without a new reference.
    OSStatus getPropertyInfo(FourCharCode id, std::uint32_t* size, std::uint32_t* writable) const;
    OSStatus getProperty(FourCharCode id, std::uint32_t* ioSize, void* data) const;
    // Only the client data format can be set; a format other than packed
    // native float at the file's rate and channel count is refused.
    OSStatus setProperty(FourCharCode id, std::uint32_t size, const void* data);

    // Decodes up to *ioFrames frames into the list's first buffer, never more
    // than its byte size holds. *ioFrames becomes the frames delivered and the
    // buffer's byte size the bytes delivered (0 at the end of the file).
    OSStatus read(std::uint32_t* ioFrames, AudioBufferList* list);
    // Moves the read position to `frame` (the extended service's seek).
    OSStatus seek(std::int64_t frame);

    AudioFile* audioFile() const { return file_.get(); }
    const AudioStreamBasicDescription& clientDataFormat() const { return client_; }

    const char* kindName() const override { return "ExtAudioFile"; }

private:
    ExtAudioFile() = default;
    OSStatus answer(FourCharCode id, std::vector<unsigned char>& out) const;

    Ref<AudioFile> file_;
    AudioStreamBasicDescription client_;
    bool clientIsSet_ = false;
};

} // namespace platform::audio
