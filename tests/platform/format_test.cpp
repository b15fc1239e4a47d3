#include "platform/base/Format.h"
#include "platform/base/Values.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Format, ObjectPlaceholderPrintsTheDescription) {
    Ref<URL> u = Ref<URL>::adopt(URL::fileURLWithPath("/a b/c.wav"));
    EXPECT_EQ(format("Error %li returned when attempting to open: %@", -1L, static_cast<const Object*>(u.get())),
              "Error -1 returned when attempting to open: file:///a b/c.wav");
    EXPECT_EQ(format("[%@]", static_cast<const Object*>(nullptr)), "[(null)]");
}

TEST(Format, QuadLengthMeansLongLong) {
    EXPECT_EQ(format("%qu|%qi|%qu", 18446744073709551615ull, -5ll, 7ull), "18446744073709551615|-5|7");
}

TEST(Format, OrdinaryConversionsMatchPrintf) {
    EXPECT_EQ(format("%f %5.2f %s %c %x %u%% %lu", 44100.0, 3.14159, "s", 'k', 255u, 3u, 9ul),
              "44100.000000  3.14 s k ff 3% 9");
    EXPECT_EQ(format("%c%c%c%c", 'p', 't', 'y', '?'), "pty?");
    std::string longText(1000, 'z');
    EXPECT_EQ(format("<%s>", longText.c_str()), "<" + longText + ">");
}
