// Runs a step with standard output and standard error captured, so tests can
// check which messages went to which stream.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace testsupport {

struct Captured {
    std::string out;
    std::string err;
};

template <class F> Captured capture(F&& step) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::forward<F>(step)();
    Captured c;
    c.out = testing::internal::GetCapturedStdout();
    c.err = testing::internal::GetCapturedStderr();
    return c;
}

inline std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

} // namespace testsupport
