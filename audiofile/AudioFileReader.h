// Turns one audio file into per-channel single-precision buffers: open, check
// the container type, decode the whole file to interleaved float in one read,
// fill the information record, split the channels. All or nothing.
//
// Messages go to the log (platform::log), standard output or standard error
// as each step says. Any thread; one file per call.
#pragma once

#include "audiofile/AudioFileInformation.h"
#include "core/buffer.h"
#include "platform/base/AudioTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
class URL;
}

namespace ZQ {

using platform::audio::AudioBufferList;
using platform::audio::ExtAudioFile;

// Reads the file `url` names into outputs[0 ... limit-1] (channels beyond the
// file's count are emptied, channels beyond the limit are not delivered) and
// writes the file's channel count to channelCountOut.
bool readAudioFileSamples(const platform::URL* url, AudioFileInformation& information, FloatSampleBuffer* outputs,
                          std::uint16_t limit, std::int32_t& channelCountOut);

// Opens the paths (the program passes one), drops the unsupported ones and
// decodes the first that is left into `list`. references[i] holds path i's
// open file (+1) or null. 0, a service error code, or -1.
OSStatus openAudioFileList(AudioBufferList& list, const std::string* paths, std::size_t count,
                           ExtAudioFile** references);

// WAVE, AIFF, Sound Designer II and CAF files with an extension of 1 to 8
// characters; nothing else.
bool isSupportedAudioFile(const std::string* path, ExtAudioFile* reference);

OSStatus readAllFrames(AudioBufferList& list, ExtAudioFile* reference);
OSStatus AllocateAudioBufferList(AudioBufferList& list, ExtAudioFile* reference, std::uint32_t frames);
void DisposeAudioBufferListData(AudioBufferList& list);

} // namespace ZQ
