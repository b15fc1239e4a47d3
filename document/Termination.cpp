#include "document/Termination.h"

#include "document/ZQAudioFileDocumentAtPath.h"
#include "platform/base/Notifications.h"
#include "playback/OutputStream.h"
#include "playback/ZQASThread.h"
#include "playback/ZQAudioStreamOutputStreamController.h"

#include <mutex>

namespace ZQ {

bool applicationShouldTerminate(const std::function<void(TerminationStep)>& afterStep) {
    static std::recursive_mutex delegate;
    std::lock_guard<std::recursive_mutex> g(delegate);
    auto done = [&afterStep](TerminationStep s) {
        if (afterStep) afterStep(s);
    };
    ZQAudioFileOpenOperation::applicationWillTerminate();
    done(TerminationStep::OpensStopped);
    ZQASThreadManager::applicationWillTerminate();
    done(TerminationStep::StreamThreadsTold);
    AudioStream::OutputStream::releaseRegistry();
    done(TerminationStep::StreamRegistryEmptied);
    ZQAudioStreamOutputStreamController::applicationWillTerminate();
    done(TerminationStep::StreamControllerEnded);
    return true;
}

void postApplicationWillTerminate() {
    platform::NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification, nullptr);
}

void terminateApplication() {
    applicationShouldTerminate();
    postApplicationWillTerminate();
}

} // namespace ZQ
