// libFuzzer harness of everything opening a document runs on a file: the
// container check, the information record, the decode into the sample store
// and the properties text. Any input must end in a refusal or a consistent
// store; crashes, sanitizer reports, hangs and oversized allocations are
// faults (libFuzzer's -timeout and -malloc_limit_mb catch the last two).
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileProperties.h"
#include "audiofile/AudioFileReader.h"
#include "core/holders.h"
#include "fuzz/FuzzInput.h"
#include "platform/base/Values.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
std::string gDir;
}

// libsndfile 1.2.0's Ogg Vorbis reader keeps the stream's vorbis_info when
// a damaged header makes it give up: a library's own leak, not one of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:vorbis_info_init\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/zqfuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    gDir = pattern;
    // The reader's messages would drown libFuzzer's own; its reports go to
    // standard error, which stays open unless -close_fd_mask says otherwise.
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDOUT_FILENO);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = zqfuzz::materialize(gDir, data, size);
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
    store.make();
    platform::Ref<platform::URL> url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
    ZQ::DecodeControl control;
    const bool ok = store->read(url.get(), &control);
    if (control.framesTotal.load() > 0 && control.framesDone.load() > control.framesTotal.load()) std::abort();
    if (ok) {
        // A read that succeeded holds every channel at the record's length.
        const auto frames = static_cast<unsigned long long>(store->information()->fileLengthFrames());
        const std::int32_t channels = store->channelCount();
        if (channels < 1 || channels > std::int32_t(ZQ::kMaxDocumentChannels)) std::abort();
        // Every sample can be read, and its summary folds to what a scan finds.
        const ZQ::SampleSnapshot samples = store->samples();
        if (!samples || samples->frameCount() != frames) std::abort();
        while (!samples->isSummarised())
            samples->pieces()[0].block->summariseNextChunk();
        std::vector<double> channel(frames);
        for (std::int32_t c = 0; c < channels; ++c) {
            if (store->channelSampleCount(c).v_ != frames) std::abort();
            samples->read(unsigned(c), 0, frames, channel.data());
            double lo = 0, hi = 0, slo = 0, shi = 0;
            for (double v : channel)
                slo = std::min(slo, v), shi = std::max(shi, v);
            if (!samples->fold(unsigned(c), 0, frames - 1, lo, hi)) std::abort();
            if (!(lo == slo || (lo != lo && slo != slo)) || !(hi == shi || (hi != hi && shi != shi))) std::abort();
        }
    } else if (store->isLoaded()) {
        std::abort();
    }
    const ZQ::AudioFileProperties p = ZQ::describeAudioFileProperties(store.get(), path);
    if (p.rows.size() != 20) std::abort();
    return 0;
}
