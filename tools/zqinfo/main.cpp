// zqinfo FILE...: opens each file as a document does (the reader into a
// sample store) and prints its properties; on failure, the reader's own
// messages. Exit status 0 when every file opened, 1 otherwise.
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileProperties.h"
#include "core/holders.h"
#include "platform/base/Values.h"
#include "tools/common/TerminalProgress.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    // Line by line, so the reader's standard output and error messages keep their order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zqinfo FILE...\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        platform::Ref<platform::URL> url = platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(argv[i]));
        ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
        store.make();
        const std::string path = url->standardizedPath();
        ZQ::DecodeControl control;
        bool read = false;
        {
            zqtools::TerminalProgress progress(std::filesystem::path(argv[i]).filename().string(), control);
            read = store && store->read(url.get(), &control);
        }
        if (!read) {
            std::fflush(stdout);
            std::fprintf(stderr, "\n%s: cannot be opened\n", argv[i]);
            status = 1;
            continue;
        }
        std::fputs(ZQ::describeAudioFileProperties(store.get(), path).text.c_str(), stdout);
    }
    return status;
}
