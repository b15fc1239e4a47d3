// A document's sample store on long files, in this process: what opening,
// summarising, reading and editing cost in time and in memory the process
// owns (RssAnon, sampled every 2 ms through each step, less what it was
// before the step; the file's own pages are the page cache's, not ours).
//   - reading the file with read(2) into one buffer (what `cat` does): the
//     speed the page cache gives, which everything else is measured against
//   - opening (in place: the header and a check against the decoder)
//   - summarising on one and on two workers (the whole file's min/max levels)
//   - decoding the same length of mu-law into the temporary float file
//   - Select All + Cut, Paste, Undo of an edit in the middle
// on a stereo 16-bit WAV and a 16-channel 24-bit WAV (page cache warm).
//
//   store_bench [minutes]     (default 60 for stereo; the 16 channels get a sixth of it)
#include "audiofile/AudioFileDocumentSampleData.h"
#include "audiofile/AudioFileReader.h"
#include "core/holders.h"
#include "platform/base/Values.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sndfile.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

long statusKB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

struct Result {
    double seconds = 0;
    long addedMB = 0; // the most RssAnon rose above where it began
};

// Runs `step` once, sampling RssAnon every 2 ms on another thread.
Result measure(const std::function<void()>& step) {
    const long before = statusKB("RssAnon:");
    std::atomic<bool> done{false};
    std::atomic<long> peak{before};
    std::thread sampler([&] {
        while (!done.load()) {
            const long now = statusKB("RssAnon:");
            if (now > peak.load()) peak.store(now);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto t0 = std::chrono::steady_clock::now();
    step();
    Result r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    done.store(true);
    sampler.join();
    r.addedMB = std::max(0L, std::max(peak.load(), statusKB("RssAnon:")) - before) / 1024;
    return r;
}

bool writeTestFile(const std::string& path, long frames, int channels, int format) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<int> block(static_cast<size_t>(channels) * 65536);
    unsigned seed = 1;
    for (long at = 0; at < frames;) {
        const long n = std::min<long>(65536, frames - at);
        for (long k = 0; k < channels * n; ++k)
            block[k] = static_cast<int>((seed = seed * 1103515245 + 12345) & 0xffffff00u);
        sf_writef_int(f, block.data(), n);
        at += n;
    }
    return sf_close(f) == 0;
}

double fileBytes(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? double(st.st_size) : 0.0;
}

// The whole file through read(2), as cat reads it.
void readLikeCat(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    std::vector<char> buffer(1 << 20);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
}

platform::Ref<platform::URL> urlOf(const std::string& path) {
    return platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
}

void row(const char* name, const Result& r, double bytes, double cat) {
    std::printf("%-34s %8.3f s  %6.2f GB/s  %5.1fx cat  %6ld MB owned\n", name, r.seconds,
                r.seconds > 0 ? bytes / r.seconds / 1e9 : 0.0, cat > 0 ? r.seconds / cat : 0.0, r.addedMB);
}

void benchmarkFile(const std::string& path, const std::string& coded, const char* title, long frames, int channels) {
    const double bytes = fileBytes(path);
    std::printf("\n%s: %ld frames x %d channels, %.0f MB\n", title, frames, channels, bytes / 1e6);
    readLikeCat(path); // warm
    Result cat = measure([&] { readLikeCat(path); });
    row("read(2) of the whole file (cat)", cat, bytes, cat.seconds);

    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
    store.make();
    Result open = measure([&] {
        if (!store->read(urlOf(path).get()) || store->frameCount() != std::uint64_t(frames)) std::abort();
    });
    row("open (in place)", open, bytes, cat.seconds);
    for (unsigned workers : {1u, 2u}) {
        // A fresh store each time: a block's summary is built once.
        store.reset();
        store.make();
        if (!store->read(urlOf(path).get())) std::abort();
        const ZQ::SampleSnapshot samples = store->samples();
        Result summary = measure([&] {
            ZQ::SummaryBuilder builder(*samples, workers, nullptr);
            while (!samples->isSummarised())
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        });
        row(workers == 1 ? "summary, one worker" : "summary, two workers", summary, bytes, cat.seconds);
        if (workers == 2) {
            const Result whole{open.seconds + summary.seconds, std::max(open.addedMB, summary.addedMB)};
            row("open and summary (a complete overview)", whole, bytes, cat.seconds);
        }
    }

    // Reading every sample back out, a second of frames at a time.
    const ZQ::SampleSnapshot samples = store->samples();
    Result reading = measure([&] {
        std::vector<std::vector<double>> buffers(16, std::vector<double>(44100));
        std::vector<double*> outs(16);
        for (int c = 0; c < 16; ++c)
            outs[c] = buffers[c].data();
        for (std::uint64_t at = 0; at < samples->frameCount(); at += 44100)
            samples->readFrames(at, std::min<std::uint64_t>(44100, samples->frameCount() - at), outs.data());
    });
    row("every frame read as doubles", reading, bytes, cat.seconds);

    // Edits of the whole document: Select All + Cut, Paste it back, Undo
    // (the store's part of each; what the window redraws is window_bench's).
    ZQ::SampleDataHolder cut, clip;
    const std::uint64_t n = store->frameCount();
    Result cutAll = measure([&] {
        if (!store->cutRange({ZQ::Num::Count(0ull), ZQ::Num::Count(n - 1)}, cut)) std::abort();
    });
    Result paste = measure([&] {
        if (!cut->copyAll(clip) || !store->pasteRange(clip, {ZQ::Num::Count(0ull), ZQ::Num::Count(0ull)})) std::abort();
    });
    Result undo = measure([&] {
        if (!store->replaceFrames(0, n, nullptr, nullptr) || store->frameCount() != 0) std::abort();
    });
    std::printf("%-34s %8.3f ms  %6ld MB owned\n", "Select All + Cut", cutAll.seconds * 1e3, cutAll.addedMB);
    std::printf("%-34s %8.3f ms  %6ld MB owned\n", "Paste", paste.seconds * 1e3, paste.addedMB);
    std::printf("%-34s %8.3f ms  %6ld MB owned\n", "Undo of the paste", undo.seconds * 1e3, undo.addedMB);

    if (!coded.empty()) {
        const double codedBytes = fileBytes(coded);
        readLikeCat(coded);
        ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> decoded;
        decoded.make();
        ZQ::DecodeControl control;
        Result decode = measure([&] {
            if (!decoded->read(urlOf(coded).get(), &control) || !control.decoded) std::abort();
        });
        std::printf("%-34s %8.3f s  %6.2f GB/s of floats  %6ld MB owned\n", "mu-law decoded to the float file",
                    decode.seconds, double(frames) * channels * 4 / decode.seconds / 1e9, decode.addedMB);
        (void)codedBytes;
    }
}

} // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60.0;
    const long frames = static_cast<long>(minutes * 60 * 44100);
    char dir[] = "/var/tmp/zqbench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    setenv("XDG_CACHE_HOME", dir, 1); // the decoded file's folder, removed with the rest
    const std::string stereo = std::string(dir) + "/stereo16.wav", many = std::string(dir) + "/multi24.wav",
                      coded = std::string(dir) + "/ulaw.wav";
    if (!writeTestFile(stereo, frames, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16) ||
        !writeTestFile(many, frames / 6, 16, SF_FORMAT_WAV | SF_FORMAT_PCM_24) ||
        !writeTestFile(coded, frames / 6, 2, SF_FORMAT_WAV | SF_FORMAT_ULAW))
        return 1;
    std::printf("%.1f minutes of stereo at 44.1 kHz, %.1f of 16 channels; one run each, page cache warm\n", minutes,
                minutes / 6);
    benchmarkFile(stereo, coded, "stereo 16-bit WAV", frames, 2);
    benchmarkFile(many, "", "16-channel 24-bit WAV", frames / 6, 16);
    unlink(stereo.c_str());
    unlink(many.c_str());
    unlink(coded.c_str());
    std::string cache = std::string(dir) + "/ZQAudio";
    rmdir(cache.c_str());
    rmdir(dir);
    return 0;
}
