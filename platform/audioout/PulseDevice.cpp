// The desktop's sound server as an output device, through libpulse's
// threaded main loop and asynchronous API (the one file that includes it;
// PipeWire desktops answer it through their Pulse service).
//
// One connection serves the whole process: a context on a main-loop thread
// of its own, which also keeps the list of the server's sinks up to date
// (it subscribes to their changes). Each queue gets a stream of its own,
// made corked, so that the sink can suspend until the first Play. The
// server does the timing: it asks for frames when it wants them, and the
// stream writes only what the queue's ring holds, never silence of its own;
// a server that runs dry counts an underflow and waits for its prebuffer.
#include "platform/audioout/AudioDevice.h"
#include "platform/audioout/AudioQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <pulse/pulseaudio.h>
#include <string>
#include <thread>
#include <vector>

namespace platform::audio {

namespace {

// How long a server has to answer a connection before the program goes on
// without it (PortAudio, or no sound).
constexpr auto kConnectTimeout = std::chrono::seconds(2);

// The server's buffer for a stream: long enough that a busy desktop (every
// core taken, a disk being written) never starves it, short enough that a
// Stop is heard at once. The server asks for more a fifth of it at a time,
// and starts (and restarts after running dry) once a few requests' worth
// are there.
constexpr double kTargetSeconds = 0.12;
constexpr double kRequestSeconds = 0.02;
constexpr double kPrebufferSeconds = 0.04;

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

void forget(pa_operation* o) {
    if (o) pa_operation_unref(o);
}

struct Sink {
    std::string name;
    std::string description;
};

// The process's connection to the server.
class Connection {
public:
    // The live connection, or a new one (null, with the reason, when no
    // server answers).
    static std::shared_ptr<Connection> shared(std::string& error) {
        static std::mutex lock;
        static std::shared_ptr<Connection>* current = new std::shared_ptr<Connection>; // kept to the end
        std::lock_guard<std::mutex> g(lock);
        if (*current && !(*current)->isGone()) return *current;
        current->reset();
        auto c = std::shared_ptr<Connection>(new Connection);
        if (!c->connect(error)) return nullptr;
        *current = c;
        return c;
    }

    ~Connection() {
        if (loop_) pa_threaded_mainloop_stop(loop_);
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) pa_threaded_mainloop_free(loop_);
    }

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    bool isGone() const { return gone_.load(std::memory_order_acquire); }

    std::vector<Sink> sinks() const {
        std::lock_guard<std::mutex> g(listLock_);
        return sinks_;
    }
    std::string defaultSink() const {
        std::lock_guard<std::mutex> g(listLock_);
        return defaultSink_;
    }
    std::string descriptionOf(const std::string& sinkName) const {
        std::lock_guard<std::mutex> g(listLock_);
        for (const Sink& s : sinks_)
            if (s.name == sinkName) return s.description;
        return sinkName;
    }
    // Under the loop lock: a fresh look at the sinks and the default one
    // (also whenever the server says they changed).
    void refresh() {
        forget(pa_context_get_server_info(context_, &Connection::serverInfo, this));
        forget(pa_context_get_sink_info_list(context_, &Connection::sinkInfo, this));
    }
    // Waits (briefly) until the answers of the last refresh are in.
    void waitForLists() {
        const auto end = std::chrono::steady_clock::now() + kConnectTimeout;
        while (std::chrono::steady_clock::now() < end && !isGone()) {
            {
                std::lock_guard<std::mutex> g(listLock_);
                if (listsArrived_ >= 2) return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

private:
    Connection() = default;

    bool connect(std::string& error) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) {
            error = "the sound server's client library cannot start";
            return false;
        }
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "ZQ Audio");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "zqaudio");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "zqaudio");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "ZQ Audio", props);
        pa_proplist_free(props);
        if (!context_) {
            error = "the sound server's client library cannot start";
            return false;
        }
        pa_context_set_state_callback(context_, &Connection::contextState, this);
        pa_context_set_subscribe_callback(context_, &Connection::subscribed, this);
        // Never start a server of our own: a desktop without one plays through ALSA.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0) {
            error = "no sound server answers";
            return false;
        }
        const auto end = std::chrono::steady_clock::now() + kConnectTimeout;
        for (;;) {
            pa_context_state_t state;
            {
                LoopLock g(loop_);
                state = pa_context_get_state(context_);
                if (state == PA_CONTEXT_READY) {
                    forget(pa_context_subscribe(
                        context_,
                        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
                        nullptr, nullptr));
                    refresh();
                    break;
                }
            }
            if (!PA_CONTEXT_IS_GOOD(state) || std::chrono::steady_clock::now() >= end) {
                error = "no sound server answers";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        waitForLists();
        return true;
    }

    // The loop's thread.
    static void contextState(pa_context* c, void* user) {
        auto* self = static_cast<Connection*>(user);
        const pa_context_state_t state = pa_context_get_state(c);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
            self->gone_.store(true, std::memory_order_release);
    }
    static void subscribed(pa_context*, pa_subscription_event_type_t, std::uint32_t, void* user) {
        static_cast<Connection*>(user)->refresh();
    }
    static void serverInfo(pa_context*, const pa_server_info* info, void* user) {
        auto* self = static_cast<Connection*>(user);
        std::lock_guard<std::mutex> g(self->listLock_);
        if (info && info->default_sink_name) self->defaultSink_ = info->default_sink_name;
        ++self->listsArrived_;
    }
    static void sinkInfo(pa_context*, const pa_sink_info* info, int eol, void* user) {
        auto* self = static_cast<Connection*>(user);
        std::lock_guard<std::mutex> g(self->listLock_);
        if (eol) {
            self->sinks_.swap(self->incoming_);
            self->incoming_.clear();
            ++self->listsArrived_;
            return;
        }
        if (info && info->name)
            self->incoming_.push_back(
                {info->name, info->description && *info->description ? info->description : info->name});
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool> gone_{false};
    mutable std::mutex listLock_;
    std::vector<Sink> sinks_, incoming_;
    std::string defaultSink_;
    int listsArrived_ = 0;
};

class PulseDevice final : public Device {
public:
    PulseDevice(DeviceClient& client, unsigned channels, std::shared_ptr<Connection> connection)
        : client_(client), channels_(channels), connection_(std::move(connection)) {}
    ~PulseDevice() override { close(); }

    bool open(double rate, const std::string& sinkName, const std::string& mediaName, std::string& error) {
        rate_ = rate;
        frameBytes_ = 4u * channels_;
        pa_sample_spec spec{};
        spec.format = PA_SAMPLE_FLOAT32NE;
        spec.rate = static_cast<std::uint32_t>(rate);
        spec.channels = static_cast<std::uint8_t>(channels_);
        pa_channel_map map;
        pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, mediaName.c_str());
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "zqaudio");
        const auto bytes = [&](double seconds) {
            return static_cast<std::uint32_t>(std::max(1.0, std::round(seconds * rate))) * frameBytes_;
        };
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = bytes(kTargetSeconds);
        attr.prebuf = bytes(kPrebufferSeconds);
        attr.minreq = bytes(kRequestSeconds);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        configuredLatency_ = kTargetSeconds;
        pa_threaded_mainloop* loop = connection_->loop();
        LoopLock g(loop);
        stream_ = pa_stream_new_with_proplist(connection_->context(), mediaName.c_str(), &spec, &map, props);
        pa_proplist_free(props);
        if (!stream_) {
            error = refusal();
            return false;
        }
        pa_stream_set_state_callback(stream_, &PulseDevice::streamState, this);
        pa_stream_set_write_callback(stream_, &PulseDevice::writable, this);
        pa_stream_set_underflow_callback(stream_, &PulseDevice::underflow, this);
        pa_stream_set_moved_callback(stream_, &PulseDevice::moved, this);
        // Corked from the start: the sink may sleep until the first Play.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                                          PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(stream_, sinkName.empty() ? nullptr : sinkName.c_str(), &attr, flags, nullptr,
                                       nullptr) < 0) {
            error = refusal();
            pa_stream_unref(stream_);
            stream_ = nullptr;
            return false;
        }
        const auto end = std::chrono::steady_clock::now() + kConnectTimeout;
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) break;
            if (!PA_STREAM_IS_GOOD(state) || std::chrono::steady_clock::now() >= end) {
                error = PA_STREAM_IS_GOOD(state) ? "the sound server did not answer" : refusal();
                pa_stream_set_state_callback(stream_, nullptr, nullptr);
                pa_stream_disconnect(stream_);
                pa_stream_unref(stream_);
                stream_ = nullptr;
                return false;
            }
            pa_threaded_mainloop_unlock(loop);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            pa_threaded_mainloop_lock(loop);
        }
        if (const pa_buffer_attr* got = pa_stream_get_buffer_attr(stream_))
            configuredLatency_ = static_cast<double>(got->tlength) / frameBytes_ / rate_;
        updateName();
        return true;
    }

    bool start() override {
        LoopLock g(connection_->loop());
        if (!stream_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) return false;
        corked_ = false;
        draining_ = false;
        forget(pa_stream_cork(stream_, 0, nullptr, nullptr));
        writeSome();
        return true;
    }
    void stop() override {
        LoopLock g(connection_->loop());
        if (!stream_ || corked_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) return;
        corked_ = true;
        // What the server still holds is silence by now (the queue rests
        // only once it has played out); nothing stale waits for the next Play.
        forget(pa_stream_flush(stream_, nullptr, nullptr));
        forget(pa_stream_cork(stream_, 1, nullptr, nullptr));
    }
    void close() override {
        LoopLock g(connection_->loop());
        if (!stream_) return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_set_moved_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    bool isAlive(std::string& reason) const override {
        std::lock_guard<std::mutex> g(stateLock_);
        if (failure_.empty()) return true;
        reason = failure_;
        return false;
    }
    double sampleRate() const override { return rate_; }
    double outputLatency() const override { return configuredLatency_; }
    double latencyNow() const override {
        // Any thread: the stream may be closing on the queue's. The server's
        // timing is interpolated locally, so this asks nothing of the server.
        LoopLock g(connection_->loop());
        if (!stream_) return 0;
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream_, &usec, &negative) < 0) return configuredLatency_;
        return negative ? 0.0 : static_cast<double>(usec) / 1e6;
    }
    std::string name() const override {
        std::lock_guard<std::mutex> g(stateLock_);
        return name_;
    }
    void kick() override {
        LoopLock g(connection_->loop());
        writeSome();
    }
    void drain() override {
        LoopLock g(connection_->loop());
        draining_ = true;
        writeSome();
    }
    bool emptiesWhenDrained() const override { return true; }
    void setMediaName(const std::string& mediaName) override {
        LoopLock g(connection_->loop());
        if (!stream_) return;
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, mediaName.c_str());
        forget(pa_stream_proplist_update(stream_, PA_UPDATE_REPLACE, props, nullptr, nullptr));
        pa_proplist_free(props);
    }

private:
    // Under the loop lock: hands the server what the ring holds, up to what it
    // asks for. Once the queue has played out, what is left below the
    // prebuffer plays all the same.
    void writeSome() {
        if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
        std::size_t wanted = pa_stream_writable_size(stream_);
        if (wanted == static_cast<std::size_t>(-1)) return;
        while (wanted >= frameBytes_) {
            void* data = nullptr;
            std::size_t room = wanted - wanted % frameBytes_;
            if (pa_stream_begin_write(stream_, &data, &room) < 0 || !data || room < frameBytes_) break;
            const std::uint64_t frames = client_.take(static_cast<float*>(data), room / frameBytes_);
            if (frames == 0) {
                pa_stream_cancel_write(stream_);
                break;
            }
            pa_stream_write(stream_, data, frames * frameBytes_, nullptr, 0, PA_SEEK_RELATIVE);
            wanted -= static_cast<std::size_t>(frames * frameBytes_);
            if (frames * frameBytes_ < room) break;
        }
        if (draining_ && !client_.isPlaying() && !corked_) {
            draining_ = false;
            forget(pa_stream_trigger(stream_, nullptr, nullptr));
        }
    }
    void updateName() {
        const char* sink = pa_stream_get_device_name(stream_);
        const std::string description = sink ? connection_->descriptionOf(sink) : std::string("the sound server");
        std::lock_guard<std::mutex> g(stateLock_);
        name_ = description;
    }
    std::string refusal() const {
        return std::string("the sound server refused the stream (") +
               pa_strerror(pa_context_errno(connection_->context())) + ")";
    }
    void fail(std::string reason) {
        std::lock_guard<std::mutex> g(stateLock_);
        if (failure_.empty()) failure_ = std::move(reason);
    }

    // The loop's thread.
    static void writable(pa_stream*, std::size_t, void* user) { static_cast<PulseDevice*>(user)->writeSome(); }
    static void underflow(pa_stream*, void* user) {
        auto* self = static_cast<PulseDevice*>(user);
        if (!self->corked_ && self->client_.isPlaying()) self->client_.deviceRanDry();
    }
    static void moved(pa_stream*, void* user) {
        // The user chose another output in the desktop's mixer: it is followed.
        static_cast<PulseDevice*>(user)->updateName();
    }
    static void streamState(pa_stream* s, void* user) {
        auto* self = static_cast<PulseDevice*>(user);
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (PA_STREAM_IS_GOOD(state)) return;
        pa_context* c = self->connection_->context();
        const pa_context_state_t cs = pa_context_get_state(c);
        if (!PA_CONTEXT_IS_GOOD(cs)) {
            self->fail("the sound server went away");
        } else if (pa_context_errno(c) == PA_ERR_KILLED) {
            self->fail("the output \xE2\x80\x9C" + self->name() + "\xE2\x80\x9D was removed");
        } else if (state == PA_STREAM_FAILED) {
            self->fail(self->refusal());
        } else {
            self->fail("the sound server ended the stream");
        }
    }

    DeviceClient& client_;
    unsigned channels_;
    std::shared_ptr<Connection> connection_;
    pa_stream* stream_ = nullptr;
    double rate_ = 0;
    std::uint32_t frameBytes_ = 0;
    double configuredLatency_ = 0;
    bool corked_ = true;    // under the loop lock
    bool draining_ = false; // under the loop lock
    mutable std::mutex stateLock_;
    std::string name_;
    std::string failure_;
};

// A connection's context dies with its server; a stream on a dead one fails
// at once, so a fresh connection is made for it.
std::shared_ptr<Connection> liveConnection(std::string& error) {
    return Connection::shared(error);
}

} // namespace

bool soundServerAnswers() {
    std::string error;
    return liveConnection(error) != nullptr;
}

std::unique_ptr<Device> makePulseDevice(DeviceClient& client, double rate, unsigned channels,
                                        const std::string& sinkName, const std::string& mediaName, std::string& error) {
    std::shared_ptr<Connection> c = liveConnection(error);
    if (!c) return nullptr;
    auto device = std::make_unique<PulseDevice>(client, channels, c);
    if (!device->open(rate, sinkName, mediaName, error)) return nullptr;
    return device;
}

std::vector<SoundServerSink> soundServerSinks(std::string* defaultSink) {
    std::string error;
    std::shared_ptr<Connection> c = liveConnection(error);
    if (!c) return {};
    // Kept up to date by the server's change events.
    std::vector<SoundServerSink> out;
    for (const Sink& s : c->sinks())
        out.push_back({s.name, s.description});
    if (defaultSink) *defaultSink = c->defaultSink();
    return out;
}

const char* soundServerLibraryVersion() {
    return pa_get_library_version();
}

} // namespace platform::audio
