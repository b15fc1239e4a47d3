// Test entry point for suites that need a Qt event loop (timers, threads).
// CTest lists the cases by running the binary without the test's environment,
// so the platform default must be set here for machines without a display.
#include <QCoreApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Under AddressSanitizer, an impossible allocation must come back as null (as
// it does from the system allocator) rather than abort the test run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
// Qt is not built for the thread checker: its own locking (futexes) is
// invisible to it, so accesses inside Qt's event queue look unordered. Our
// hand-overs take locks the checker sees; only Qt's insides are excused.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libQt6Core.so.6\n"; }
