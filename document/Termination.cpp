#include "document/Termination.h"

#include "document/ZQAudioFileDocumentAtPath.h"
#include "platform/base/Notifications.h"
#include "playback/OutputStream.h"
#include "playback/ZQASThread.h"
#include "playback/ZQAudioStreamOutputStreamController.h"

#include <mutex>

namespace ZQ {

bool applicationShouldTerminate() {
    static std::recursive_mutex delegate;
    std::lock_guard<std::recursive_mutex> g(delegate);
    ZQAudioFileOpenOperation::applicationWillTerminate();
    ZQASThreadManager::applicationWillTerminate();
    AudioStream::OutputStream::releaseRegistry();
    ZQAudioStreamOutputStreamController::applicationWillTerminate();
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
