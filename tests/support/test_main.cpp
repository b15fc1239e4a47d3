// The entry point of every test binary. A Qt application object for the
// event loop (main-thread hand-overs, timers; a QApplication for the widget
// suites, built with ZQ_TEST_WIDGETS), the offscreen platform unless the
// caller chose one (CTest lists the cases by running the binary without the
// test's environment), and preferences in a fresh folder of this process's
// own, so that no test reads or writes the user's settings.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#ifdef ZQ_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char dir[] = "/tmp/zqprefs-XXXXXX";
    const bool ownPreferences = mkdtemp(dir) != nullptr;
    if (ownPreferences) setenv("XDG_CONFIG_HOME", dir, 1);
    int result;
    {
        TestApplication app(argc, argv);
        QCoreApplication::setOrganizationName("ZQTest");
        QCoreApplication::setApplicationName("Tests");
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (ownPreferences) std::system((std::string("rm -rf ") + dir).c_str());
    return result;
}

// Under AddressSanitizer, an impossible allocation must come back as null (as
// it does from the system allocator) rather than abort the test run.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
extern "C" const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}
// Qt is not built for the thread checker: its own locking (futexes) is
// invisible to it, so accesses inside Qt's event queue look unordered. Our
// hand-overs take locks the checker sees; only Qt's insides are excused.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\ncalled_from_lib:libQt6Widgets.so.6\n";
}
