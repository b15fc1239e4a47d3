// A small tour of the core library: sample buffers from the tracking
// allocator, sample rates, value wrappers and the query protocol. With
// --leak it keeps two blocks on purpose, so the allocator's report at exit
// has something to list; otherwise the report stays silent.
#include "core/allocator.h"
#include "core/buffer.h"
#include "core/errors.h"
#include "core/holders.h"
#include "core/values.h"
#include "core/wrappers.h"

#include <cmath>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    bool leak = argc > 1 && std::strcmp(argv[1], "--leak") == 0;
    ZQ::setReportOnExit(true);

    ZQ::sample_rate rate(44100.0);
    std::printf("rate %.1f Hz: period %.9f s, Nyquist %.1f Hz, supported %s\n", rate.rate(), rate.r_.v_, rate.n_.v_,
                rate.isSupported() ? "yes" : "no");

    // One second of a 440 Hz tone in a channel buffer.
    ZQ::SampleBuffer channel;
    const unsigned long long frames = 44100;
    if (!channel.allocate(ZQ::Num::Count(frames), ZQ::Num::Count(frames + 64))) return 1;
    double peak = 0.0;
    for (unsigned long long k = 0; k < frames; ++k) {
        channel.data()[k] = 0.5 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(k) / rate.rate());
        peak = std::max(peak, std::fabs(channel.data()[k]));
    }
    std::printf("channel: %llu samples, capacity %llu, peak %.3f, live blocks %zu\n", channel.count().v_,
                channel.capacity().v_, peak, ZQ::registry().liveCount());

    ZQ::t_string title("demo");
    title.append(" tone");
    std::printf("title \"%s\" (empty: %s)\n", title.utf8().c_str(), title.isEmpty() ? "yes" : "no");
    ZQ::t_url nowhere;
    std::printf("empty url answers empty: %s\n", nowhere.isEmpty() ? "yes" : "no");

    ZQ::auto_ptr<ZQ::SampleBuffer> owned;
    owned.make()->allocate(ZQ::Num::Count(16ull));
    std::printf("owned buffer of %llu samples\n", owned->count().v_);

    if (leak) {
        // Two blocks that nobody releases: the report at exit lists them.
        ZQ::allocateZeroed(16);
        ZQ::allocateZeroed(24);
        std::printf("leaking two blocks (16 and 24 bytes) on purpose\n");
    }
    std::fflush(stdout);
    return 0;
}

// --leak leaks on purpose; the tracking allocator's report is the leak check
// here, so LeakSanitizer (in sanitizer builds) stays out of the way.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
