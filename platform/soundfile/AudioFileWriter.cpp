#include "platform/soundfile/AudioFileWriter.h"

#include <cmath>
#include <sndfile.h>

namespace platform::audio {

OSStatus AudioFileWriter::create(const std::string& path, FourCharCode type, const AudioStreamBasicDescription& format,
                                 AudioFileWriter** out) {
    if (!out) return kParameterError;
    *out = nullptr;
    int major = type == kAudioFileWAVEType ? SF_FORMAT_WAV : type == kAudioFileAIFFType ? SF_FORMAT_AIFF : 0;
    if (!major) return kAudioFileUnsupportedFileTypeError;
    const bool isFloat = format.mFormatFlags & kAudioFormatFlagIsFloat;
    int sub = 0;
    if (format.mFormatID == kAudioFormatLinearPCM) {
        if (isFloat && format.mBitsPerChannel == 32)
            sub = SF_FORMAT_FLOAT;
        else if (!isFloat && format.mBitsPerChannel == 16)
            sub = SF_FORMAT_PCM_16;
        else if (!isFloat && format.mBitsPerChannel == 32)
            sub = SF_FORMAT_PCM_32;
    }
    const std::uint32_t channels = format.mChannelsPerFrame;
    const double rate = format.mSampleRate;
    if (!sub || channels == 0 || channels > 1024 || !(rate >= 1.0 && rate <= 2147483647.0) ||
        format.mBytesPerFrame != channels * (format.mBitsPerChannel / 8))
        return kAudioFileUnsupportedDataFormatError;

    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(rate));
    info.channels = static_cast<int>(channels);
    // The container's own byte order (big for AIFF, little for WAV), in which
    // the words arrive. Naming the order explicitly would make libsndfile
    // write AIFC instead of AIFF.
    info.format = major | sub | SF_ENDIAN_FILE;
    if (!sf_format_check(&info)) return kAudioFileUnsupportedDataFormatError;
    SNDFILE* s = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!s) return kAudioFilePermissionsError;
    auto* w = new AudioFileWriter;
    w->sndfile_ = s;
    w->bytesPerFrame_ = format.mBytesPerFrame;
    *out = w;
    return kNoErr;
}

OSStatus AudioFileWriter::write(std::uint32_t frames, const void* words) {
    if (!sndfile_) return kAudioFileNotOpenError;
    if (frames == 0) return kNoErr;
    if (!words) return kParameterError;
    const sf_count_t bytes = static_cast<sf_count_t>(frames) * bytesPerFrame_;
    // Raw: libsndfile neither converts nor swaps these bytes.
    return sf_write_raw(static_cast<SNDFILE*>(sndfile_), words, bytes) == bytes ? kNoErr : kAudioFilePermissionsError;
}

OSStatus AudioFileWriter::close() {
    if (!sndfile_) return kNoErr;
    int r = sf_close(static_cast<SNDFILE*>(sndfile_));
    sndfile_ = nullptr;
    return r == 0 ? kNoErr : kAudioFilePermissionsError;
}

AudioFileWriter::~AudioFileWriter() {
    close();
}

} // namespace platform::audio
