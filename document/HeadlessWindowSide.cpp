#include "document/HeadlessWindowSide.h"

#include <cstdio>

namespace {

class HeadlessDisplayController final : public ZQWaveformDisplayControllerBase {
public:
    void buildUI() override {}
    void audioFileDataHasLoaded() override {}
    void updateNumericAndHMSDisplays() override {}
    void documentWillClose() override {}
    bool hasWindow() const override { return false; }
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

} // namespace

ZQWaveformDisplayControllerBase* ZQHeadlessWindowSide::createDisplayController(ZQAudioFileDocument*) {
    return new HeadlessDisplayController;
}

bool ZQHeadlessWindowSide::runAlertSheet(ZQAudioFileDocument*, const std::string& message, const std::string&,
                                         const std::string& informativeText, std::function<void()> dismissed) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n%s\n", message.c_str(), informativeText.c_str());
    {
        std::lock_guard<std::mutex> g(lock_);
        lastAlert_ = message + "\n" + informativeText;
    }
    ++alerts_;
    if (dismissed) dismissed();
    return true;
}
