#include "tools/common/ToolText.h"

#include "platform/soundfile/AudioFile.h"
#include "platform/soundfile/Container.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zqtools {

namespace audio = platform::audio;

namespace {

std::string kindText(audio::FourCharCode type) {
    switch (type) {
    case audio::kAudioFileAIFCType:
        return "an AIFF-C file";
    case audio::kAudioFileNextType:
        return "a NeXT/Sun audio file";
    case audio::kAudioFileAAC_ADTSType:
        return "an AAC stream";
    case audio::kAudioFileMPEG4Type:
    case audio::kAudioFileM4AType:
        return "an MPEG-4 audio file";
    case audio::kAudioFile3GPType:
    case audio::kAudioFile3GP2Type:
        return "a 3GPP file";
    case audio::kAudioFileAMRType:
        return "an AMR file";
    case audio::kAudioFileAC3Type:
        return "an AC-3 stream";
    case audio::kAudioFileWAVEType:
    case audio::kAudioFileRF64Type:
    case audio::kAudioFileBW64Type:
        return "a WAV file";
    case audio::kAudioFileAIFFType:
        return "an AIFF file";
    case audio::kAudioFileCAFType:
        return "a CAF file";
    case audio::kAudioFileWave64Type:
        return "a Wave64 file";
    case audio::kAudioFileFLACType:
        return "a FLAC file";
    case audio::kAudioFileOggType:
        return "an Ogg file";
    case audio::kAudioFileMP1Type:
    case audio::kAudioFileMP2Type:
    case audio::kAudioFileMP3Type:
        return "an MPEG audio file";
    default:
        return "";
    }
}

} // namespace

std::string versionText(const char* tool) {
    return std::string(tool) + " (ZQ Audio) " ZQ_VERSION "\n" + audio::soundFileLibraryVersion() + "\n";
}

std::string openFailureText(const std::string& path, const ZQ::DecodeControl& control) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
    if (!S_ISREG(st.st_mode)) return "is not a regular file";
    if (::access(path.c_str(), R_OK) != 0) return std::strerror(errno);
    if (!control.refusal.empty()) return control.refusal;
    if (st.st_size == 0) return "is empty";
    const audio::ContainerInfo info = audio::readContainerInfo(path);
    const std::string kind = kindText(info.type);
    if (audio::isKnownForeignContainer(info.type)) return "is " + kind + ", which is not read";
    if (kind.empty() && !audio::soundDesignerResourceFork(path).empty())
        return "is a damaged Sound Designer II file, or its resource fork is";
    if (kind.empty()) return "is not an audio file of a kind that is read";
    return "is " + kind + " whose audio data is damaged or not of a kind that is read";
}

QuietOutput::QuietOutput(bool verbose, bool errorsToo) {
    if (verbose) return;
    std::fflush(stdout);
    std::fflush(stderr);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere < 0) return;
    savedOutput_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (errorsToo) savedError_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (savedOutput_ >= 0) ::dup2(nowhere, STDOUT_FILENO);
    if (savedError_ >= 0) ::dup2(nowhere, STDERR_FILENO);
    ::close(nowhere);
}

QuietOutput::~QuietOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (savedOutput_ >= 0) {
        ::dup2(savedOutput_, STDOUT_FILENO);
        ::close(savedOutput_);
    }
    if (savedError_ >= 0) {
        ::dup2(savedError_, STDERR_FILENO);
        ::close(savedError_);
    }
}

} // namespace zqtools
