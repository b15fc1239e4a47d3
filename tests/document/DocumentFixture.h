// A window side that records, a test stream, and helpers to open documents.
#pragma once

#include "Recorders.h"
#include "document/ZQAudioFileDocument.h"
#include "document/ZQAudioFileDocumentTransportController.h"
#include "document/ZQDocumentController.h"
#include "support/Fixtures.h"
#include "support/Output.h"
#include "support/Wait.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sndfile.h>

namespace testsupport {

class DocumentTest : public testing::Test {
protected:
    void SetUp() override {
        setDocumentWindowSide(&side);
        ZQ::AudioStream::setStreamProvider(&stream);
    }
    void TearDown() override {
        for (auto& d : ZQDocumentController::sharedDocumentController().documents())
            if (auto* doc = dynamic_cast<ZQAudioFileDocument*>(d.get())) doc->close();
        for (auto& d : opened)
            d->close();
        opened.clear();
        spinFor(20); // hand-overs still queued run before the recorders go
        ZQ::AudioStream::setStreamProvider(nullptr);
        setDocumentWindowSide(nullptr);
    }

    // A document opened by the direct route, its window built.
    platform::Ref<ZQAudioFileDocument> openDocument(const std::string& path) {
        auto doc = platform::Ref<ZQAudioFileDocument>::adopt(ZQAudioFileDocument::init());
        EXPECT_TRUE(doc->readFromURL(fileURL(path).get(), "WAVE audio file", nullptr));
        EXPECT_TRUE(waitUntil([&] {
            return doc->audioFileDocumentTransportController() || !doc->fileOpenError().empty() ||
                   side.log.count("side.alert:The audio file could not be opened.|Ok") > 0;
        }));
        opened.push_back(doc);
        return doc;
    }

    RecordingWindowSide side;
    TestStream stream{44100, 2};
    TempDir dir;
    std::vector<platform::Ref<ZQAudioFileDocument>> opened;
};

} // namespace testsupport
