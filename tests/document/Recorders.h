// The window side and the output stream as the document tests see them: a
// window side that records every call in order (and can refuse alerts), and
// a stream that pulls samples from its sources when the test asks.
#pragma once

#include "document/WindowSide.h"
#include "document/ZQAudioFileDocument.h"
#include "playback/OutputSource.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// A display that does nothing: recorders in the tests override only what
// they listen to.
class QuietDisplay : public ZQWaveformDisplayControllerBase {
public:
    void buildUI() override {}
    void audioFileDataHasLoaded() override {}
    void updateNumericAndHMSDisplays() override {}
    void documentWillClose() override {}
    bool hasWindow() const override { return true; }
    void zoomIn() override {}
    void zoomOut() override {}
    void zoomAmplitudeIn() override {}
    void zoomAmplitudeOut() override {}
    void selectAll(platform::Object*) override {}
    void selectNone(platform::Object*) override {}
    void cut(platform::Object*) override {}
    void copy(platform::Object*) override {}
    void paste(platform::Object*) override {}
    void delete_(platform::Object*) override {}
    void duplicate(platform::Object*) override {}
};

class CallLog {
public:
    void add(const std::string& call) {
        std::lock_guard<std::mutex> g(m_);
        calls_.push_back(call);
    }
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> g(m_);
        return calls_;
    }
    int count(const std::string& call) const {
        auto c = calls();
        return static_cast<int>(std::count(c.begin(), c.end(), call));
    }
    // Index of the first `call`, or -1.
    int indexOf(const std::string& call) const {
        auto c = calls();
        auto it = std::find(c.begin(), c.end(), call);
        return it == c.end() ? -1 : static_cast<int>(it - c.begin());
    }
    void clear() {
        std::lock_guard<std::mutex> g(m_);
        calls_.clear();
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> calls_;
};

class RecordingDisplayController final : public ZQWaveformDisplayControllerBase {
public:
    explicit RecordingDisplayController(CallLog& log) : log_(log) {}
    void buildUI() override { log_.add("display.buildUI"); }
    void audioFileDataHasLoaded() override { log_.add("display.audioFileDataHasLoaded"); }
    void updateNumericAndHMSDisplays() override { log_.add("display.updateNumericAndHMSDisplays"); }
    void documentWillClose() override { log_.add("display.documentWillClose"); }
    bool hasWindow() const override { return true; }
    void zoomIn() override { log_.add("display.zoomIn"); }
    void zoomOut() override { log_.add("display.zoomOut"); }
    void zoomAmplitudeIn() override { log_.add("display.zoomAmplitudeIn"); }
    void zoomAmplitudeOut() override { log_.add("display.zoomAmplitudeOut"); }
    void selectAll(platform::Object*) override { log_.add("display.selectAll"); }
    void selectNone(platform::Object*) override { log_.add("display.selectNone"); }
    void cut(platform::Object*) override { log_.add("display.cut"); }
    void copy(platform::Object*) override { log_.add("display.copy"); }
    void paste(platform::Object*) override { log_.add("display.paste"); }
    void delete_(platform::Object*) override { log_.add("display.delete"); }
    void duplicate(platform::Object*) override { log_.add("display.duplicate"); }

private:
    CallLog& log_;
};

class RecordingTransportBar final : public ZQTransportBar {
public:
    explicit RecordingTransportBar(CallLog& log) : log_(log) {
        for (auto& b : buttons_)
            b = platform::Ref<platform::Object>::adopt(platform::String::create("button"));
    }
    bool state(TransportButton b) const override { return on_[int(b)]; }
    void setState(TransportButton b, bool on) override {
        on_[int(b)] = on;
        log_.add("bar.setState");
    }
    bool isEnabled(TransportButton b) const override { return enabled_[int(b)]; }
    void setEnabled(TransportButton b, bool enabled) override { enabled_[int(b)] = enabled; }
    platform::Object* button(TransportButton b) override { return buttons_[int(b)].get(); }

private:
    CallLog& log_;
    bool on_[kTransportButtonCount] = {};
    bool enabled_[kTransportButtonCount] = {true, true, true, true, true, true, true, true};
    platform::Ref<platform::Object> buttons_[kTransportButtonCount];
};

class RecordingWindowSide final : public ZQDocumentWindowSide {
public:
    CallLog log;
    bool alertsWork = true;
    double refreshRate = 0;
    // The last alert's dismissal, to press "Ok" with.
    std::function<void()> dismissAlert;
    std::string alertText;
    std::atomic<int> windowsShown{0};

    ZQWaveformDisplayControllerBase* createDisplayController(ZQAudioFileDocument*) override {
        log.add("side.createDisplayController");
        return new RecordingDisplayController(log);
    }
    bool prepareWindow(ZQAudioFileDocument*, ZQWaveformDisplayControllerBase*) override {
        log.add("side.prepareWindow");
        return true;
    }
    void showWindow(ZQAudioFileDocument*, ZQWaveformDisplayControllerBase*) override {
        log.add("side.showWindow");
        ++windowsShown;
    }
    void closeWindow(ZQAudioFileDocument*) override { log.add("side.closeWindow"); }
    bool runAlertSheet(ZQAudioFileDocument*, const std::string& message, const std::string& button,
                       const std::string& text, std::function<void()> dismissed) override {
        log.add("side.alert:" + message + "|" + button);
        if (!alertsWork) return false;
        alertText = text;
        dismissAlert = std::move(dismissed);
        return true;
    }
    double displayRefreshRate(ZQAudioFileDocument*) override { return refreshRate; }
    ZQTransportBar* createTransportBar(ZQAudioFileDocumentTransportController*) override {
        log.add("side.createTransportBar");
        bars.push_back(platform::Ref<RecordingTransportBar>::adopt(new RecordingTransportBar(log)));
        bar = bars.back().get();
        return platform::retained(bar);
    }
    RecordingTransportBar* bar = nullptr; // the last one built
    std::vector<platform::Ref<RecordingTransportBar>> bars;
};

// A stream the test drives: pull() asks every producing source for frames,
// the way an output stream fills a buffer.
class TestStream final : public ZQ::AudioStream::SourceHost, public ZQ::AudioStream::StreamProvider {
public:
    TestStream(double rate, unsigned channels) : rate_(rate), channels_(channels) {}
    ~TestStream() override {
        for (auto* s : sources_)
            s->detachFromStream();
    }
    ZQ::sample_rate streamSampleRate() const override { return rate_; }
    ZQ::Num::Count streamChannelCount() const override { return ZQ::Num::Count(channels_); }
    std::int32_t addSource(ZQ::AudioStream::OutputSource* source, bool start) override {
        ZQ::sync_guard g(this);
        if (!source->attach(this, start)) return -2;
        sources_.push_back(source);
        return 0;
    }
    std::int32_t removeSource(ZQ::AudioStream::OutputSource* source) override {
        ZQ::sync_guard g(this);
        sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
        source->detachFromStream();
        return 0;
    }
    void deferUntilUnlocked(std::function<void()> work) override { deferred_.push_back(std::move(work)); }
    ZQ::AudioStream::SourceHost* getOutputStream(const ZQ::sample_rate& rate, ZQ::Num::Count channels) override {
        ++requests;
        return rate.s_.v_ == rate_.s_.v_ && channels.v_ == channels_ ? this : nullptr;
    }
    // One buffer of `frames` frames: silence plus what the producing sources add.
    std::vector<double> pull(std::uint64_t frames) {
        std::vector<double> buffer(frames * channels_, 0.0);
        std::vector<std::function<void()>> deferred;
        {
            ZQ::sync_guard g(this);
            auto sources = sources_;
            for (auto* s : sources)
                if (s->isProducing()) s->render(buffer.data(), ZQ::Num::Count(frames * channels_));
            deferred.swap(deferred_);
        }
        for (auto& d : deferred)
            d();
        return buffer;
    }
    std::size_t sourceCount() const { return sources_.size(); }
    int requests = 0;

private:
    ZQ::sample_rate rate_;
    unsigned channels_;
    std::vector<ZQ::AudioStream::OutputSource*> sources_;
    std::vector<std::function<void()>> deferred_;
};

} // namespace testsupport
