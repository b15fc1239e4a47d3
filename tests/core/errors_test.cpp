#include "core/errors.h"
#include "core/filemanager.h"
#include "core/holders.h"
#include "platform/base/Values.h"

#include <cstdio>
#include <gtest/gtest.h>

using namespace ZQ;

TEST(QueryProtocol, NoOperationIsAnsweredForAnyObjectSilently) {
    testing::internal::CaptureStdout();
    z_ o;
    QueryResult r;
    EXPECT_EQ(ask(&o, kQueryNoOperation, r), 1);
    EXPECT_EQ(ask(nullptr, kQueryNoOperation, r), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(QueryProtocol, UnhandledCodesAreReportedAndTheDefaultStands) {
    z_ o;
    QueryResult r(true);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ask(&o, 7, r), 0);
    char expected[96];
    std::snprintf(expected, sizeof expected, "unhandled opcode: %p op: 7\n", static_cast<void*>(&o));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    EXPECT_TRUE(r.boolean());

    testing::internal::CaptureStdout();
    EXPECT_TRUE(isEmptyQuery(&o)); // the root cannot say: default true
    EXPECT_NE(testing::internal::GetCapturedStdout().find(" op: -1997\n"), std::string::npos);
}

TEST(QueryProtocol, HoldersAnswerWhetherTheyAreEmpty) {
    OCPtr<platform::String> p;
    EXPECT_TRUE(isEmptyQuery(&p));
    platform::Ref<platform::String> s = platform::Ref<platform::String>::adopt(platform::String::create("a"));
    p.set(s.get());
    EXPECT_FALSE(isEmptyQuery(&p));
    QueryResult r(true);
    EXPECT_EQ(ask(&p, kQueryIsEmpty, r), 1);
    EXPECT_EQ(r.kind, QueryResult::kBoolean);
    EXPECT_FALSE(r.boolean());
}

TEST(FatalReport, BannerNamesTheMessageOrNull) {
    testing::internal::CaptureStdout();
    printFatalBanner(nullptr);
    printFatalBanner("boom");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " -=== Exception encountered ===- \nMessage: (null)\n -=============================- \n"
              " -=== Exception encountered ===- \nMessage: boom\n -=============================- \n");
}

TEST(FileManagerUtilityCheck, AnswersExistenceAndLogsAPendingError) {
    FileManagerUtility fm;
    EXPECT_TRUE(fm.fileExists("/"));
    EXPECT_FALSE(fm.fileExists("/definitely/not/here"));
    testing::internal::CaptureStderr();
    fm.reportPendingError(); // nothing pending: silent
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    platform::Ref<platform::Error> e = platform::Ref<platform::Error>::adopt(platform::Error::create("Files", 4));
    fm.error().set(e.get());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(fm.checkedFileExists("/"));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Error in File Operaton: Error Domain=Files Code=4"), std::string::npos) << log;
    fm.error().set(nullptr);
}
