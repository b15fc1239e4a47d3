// The application's termination, in the order the application delegate runs
// it: open queue drained, registered stream threads told, stream registry
// emptied (the streams stay with their threads), stream controller ended;
// then the will-terminate notification, on which every stream thread closes
// its own stream. Main thread; used by the tools now and the application.
#pragma once

#include <functional>

namespace ZQ {

// The termination steps, as `afterStep` hears of them.
enum class TerminationStep { OpensStopped = 1, StreamThreadsTold, StreamRegistryEmptied, StreamControllerEnded };

// The delegate's should-terminate steps; the answer is always "now".
bool applicationShouldTerminate(const std::function<void(TerminationStep)>& afterStep = {});
// What the platform does next: posts the will-terminate notification.
void postApplicationWillTerminate();
// Both, in order.
void terminateApplication();

} // namespace ZQ
