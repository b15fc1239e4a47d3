// A sample store that has read a file (or tried to), with what it printed.
#pragma once

#include "audiofile/AudioFileDocumentSampleData.h"
#include "core/holders.h"
#include "platform/base/Values.h"
#include "support/Fixtures.h"
#include "support/Output.h"

#include <memory>
#include <string>

namespace testsupport {

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

} // namespace testsupport
