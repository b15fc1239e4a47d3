// Runs a step with standard output and standard error captured, so tests can
// check which messages went to which stream.
#pragma once

#include "audiofile/AudioFileDocumentSampleData.h"
#include "core/holders.h"
#include "platform/base/Values.h"

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

inline platform::Ref<platform::URL> fileURL(const std::string& path) {
    return platform::Ref<platform::URL>::adopt(platform::URL::fileURLWithPath(path));
}

// A store that has read `path` (or tried to), with what it printed.
struct Opened {
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
    bool ok = false;
    Captured messages;
};

inline std::unique_ptr<Opened> openStore(const std::string& path) {
    auto o = std::make_unique<Opened>();
    o->store.make();
    auto url = fileURL(path);
    o->messages = capture([&] { o->ok = o->store->read(url.get()); });
    return o;
}

inline std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

} // namespace testsupport
