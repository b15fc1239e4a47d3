// What the playback layer needs of a document: its samples and format, its
// Stop, and its output source. The document layer implements it (the
// document is a reference-counted object with its own monitor).
#pragma once

#include "core/values.h"
#include "platform/base/Object.h"

#include <cstdint>
#include <string>

namespace ZQ {
class AudioFileDocumentSampleData;
namespace AudioStream {
class OutputSource;
struct ReadPosition;
} // namespace AudioStream
} // namespace ZQ

namespace ZQ {

class PlaybackDocument : public platform::Object {
public:
    virtual Num::Count sampleCount(std::int32_t channel) = 0;
    virtual double sampleRate() = 0;
    virtual std::int32_t channelCount() = 0;
    virtual AudioFileDocumentSampleData* sampleData() = 0;
    // Stops the transport (the end of the file reached on the stream thread).
    virtual void perform_Stop(platform::Object* sender) = 0;
    virtual AudioStream::OutputSource* audioFileDocumentOutputSource() = 0;
    virtual AudioStream::ReadPosition* audioStreamReadPosition() = 0;
    // The WAVE speaker bits of the file's own channel layout (one per
    // channel, in order), or 0 when it names none.
    virtual std::uint32_t speakerMask() { return 0; }
    // What the desktop's volume mixer calls the document's sound: its file's
    // name (any thread).
    virtual std::string mediaName() const { return {}; }
    // Any thread, no lock held: the output the document played through
    // failed (or, `unavailable`, none could be opened for a Play). The
    // transport stops and the user is told why.
    virtual void audioOutputDidFail(const std::string& reason, bool unavailable) = 0;
};

} // namespace ZQ
