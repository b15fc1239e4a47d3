// A window side without windows, for the command-line tools: documents build
// their transport and playback as with a window, alerts are written to
// standard error (and count as dismissed at once, which closes the document).
#pragma once

#include "document/WindowSide.h"

#include <atomic>
#include <mutex>
#include <string>

class ZQHeadlessWindowSide final : public ZQDocumentWindowSide {
public:
    ZQWaveformDisplayControllerBase* createDisplayController(ZQAudioFileDocument* document) override;
    bool prepareWindow(ZQAudioFileDocument*, ZQWaveformDisplayControllerBase*) override { return false; }
    void showWindow(ZQAudioFileDocument*, ZQWaveformDisplayControllerBase*) override {}
    void closeWindow(ZQAudioFileDocument*) override {}
    bool runAlertSheet(ZQAudioFileDocument* document, const std::string& message, const std::string& button,
                       const std::string& informativeText, std::function<void()> dismissed) override;
    double displayRefreshRate(ZQAudioFileDocument*) override { return 0; }
    ZQTransportBar* createTransportBar(ZQAudioFileDocumentTransportController*) override { return nullptr; }

    // Alerts shown so far, and the last one's message and informative text
    // (a line each).
    int alerts() const { return alerts_.load(); }
    std::string lastAlert() const {
        std::lock_guard<std::mutex> g(lock_);
        return lastAlert_;
    }

private:
    std::atomic<int> alerts_{0};
    mutable std::mutex lock_;
    std::string lastAlert_;
};
