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

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {
std::string gDir;
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
    // Half the inputs insist on two workers, so that the second file handle,
    // its seek and the split are fuzzed as well as the single decode (files
    // this small would otherwise always decode on one).
    ZQ::DecodeControl control;
    control.workers = size % 2 == 0 ? 2 : 1;
    const bool ok = store->read(url.get(), &control);
    if (control.framesTotal.load() > 0 && control.framesDone.load() > control.framesTotal.load()) std::abort();
    if (ok) {
        // A read that succeeded holds every channel at the record's length.
        const auto frames = static_cast<unsigned long long>(store->information()->fileLengthFrames());
        const std::int32_t channels = store->channelCount();
        if (channels < 1 || channels > 16) std::abort();
        for (std::int32_t c = 0; c < channels; ++c)
            if (store->channelSampleCount(c).v_ != frames || !store->channelSamples(c)) std::abort();
    } else if (store->isLoaded()) {
        std::abort();
    }
    const ZQ::AudioFileProperties p = ZQ::describeAudioFileProperties(store.get(), path);
    if (p.rows.size() != 19) std::abort();
    return 0;
}
