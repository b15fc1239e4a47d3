// Hands out output streams by sample rate and channel count (the registry
// of OutputStream does the finding and making, on the asking thread), keeps
// the process's controller thread, and the stream thread manager.
#pragma once

#include "core/holders.h"
#include "core/values.h"
#include "playback/OutputSource.h"

#include <string>
#include <vector>

namespace ZQ::AudioStream {
class OutputStream;
}
class ZQASThread;

// A request: rate and channel count in, the stream out.
struct ZQSRCC {
    ZQ::sample_rate sampleRate_;
    ZQ::Num::Count channelCount_;
    ZQ::AudioStream::OutputStream* ostream_ = nullptr;
};

// Carries a pointer through a call that takes an object.
class ZQVoidP final : public platform::Object {
public:
    static ZQVoidP* init() { return new ZQVoidP(nullptr); }
    static ZQVoidP* initWith(void* a) { return new ZQVoidP(a); }
    void* a_;

private:
    explicit ZQVoidP(void* a) : a_(a) {}
};

class ZQAudioStreamOutputStreamController {
public:
    // The stream for a source; null when the controller is not set up (or
    // has terminated) or the rate is invalid.
    static ZQ::AudioStream::OutputStream* getOutputStream(const ZQ::sample_rate* rate, const ZQ::Num::Count* channels);
    static void imp_getOutputStream(ZQVoidP* request);
    static void initializeState();
    static bool shouldTerminate();
    static void applicationWillTerminate();
    // Whether the controller thread runs (diagnostics).
    static bool hasControllerThread();
};

// The registered stream threads, by identifier.
class ZQASThreadManager {
public:
    static void registerThread(ZQASThread* thread);
    // Tells every registered thread (last first) that the application will
    // terminate.
    static void applicationWillTerminate();
    static std::vector<platform::Ref<ZQASThread>> threads();
};

namespace ZQ::AudioStream {
// The stream provider the sources connect through by default: this controller.
StreamProvider& outputStreamControllerProvider();
} // namespace ZQ::AudioStream
