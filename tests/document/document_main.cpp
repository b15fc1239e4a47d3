// Test entry point of the document suites: a Qt application object for the
// main-thread hand-overs and timers, and preferences in a fresh folder of
// this process's own (each test runs in a process of its own under CTest).
#include <QCoreApplication>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char dir[] = "/tmp/zqprefs-XXXXXX";
    if (mkdtemp(dir)) setenv("XDG_CONFIG_HOME", dir, 1);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("ZQTest");
    QCoreApplication::setApplicationName("DocumentTests");
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::system((std::string("rm -rf ") + dir).c_str());
    return result;
}

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
// Qt is not built for the thread checker: its own locking (futexes) is
// invisible to it, so accesses inside Qt's event queue look unordered. Our
// hand-overs take locks the checker sees; only Qt's insides are excused.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libQt6Core.so.6\n"; }
