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

// The libraries the thread checker excuses (Qt, the sound server's client)
// are listed in one file, for the tests and for the programs they start.
#define ZQ_TSAN_OPTIONS "allocator_may_return_null=1 suppressions=" ZQ_TSAN_SUPPRESSIONS

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
#if defined(__SANITIZE_THREAD__)
    setenv("TSAN_OPTIONS", ZQ_TSAN_OPTIONS, 0);
#endif
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
#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
// While PortAudio looks for devices, ALSA loads and unloads its plugins
// (through libasound2-plugins, codecs and their image and font libraries),
// whose own start-up allocations then show as leaks of an unknown module.
// In the tests nothing is unloaded, so that what they keep stays theirs;
// PortAudio's own few bytes, lost when it is set up anew, are excused.
extern "C" int dlclose(void*) {
    return 0;
}
// libsndfile 1.2.0's Ogg Vorbis reader keeps the stream's vorbis_info when
// a damaged header makes it give up (a few kilobytes per such file); the
// damaged-file tests open such files on purpose.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libportaudio.so\nleak:vorbis_info_init\n";
}
#endif
extern "C" const char* __tsan_default_options() {
    return ZQ_TSAN_OPTIONS;
}
