// For suites that open documents through the application's route: the run
// ends as the application does after its last window, in the termination's
// order, so that no stream or thread outlives it (the leak report the open
// route switches on then lists nothing).
#include "document/Termination.h"

#include <QCoreApplication>
#include <QEvent>
#include <gtest/gtest.h>

namespace {

class Termination : public testing::Environment {
public:
    void TearDown() override {
        ZQ::terminateApplication();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};
const testing::Environment* const kTermination = testing::AddGlobalTestEnvironment(new Termination);

} // namespace
