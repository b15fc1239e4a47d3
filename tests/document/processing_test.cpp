// Process commands on open documents: each against its formula, across the
// chunks the work is done in, on 1 and 16 channels; undo and redo.
#include "DocumentFixture.h"
#include "audiofile/SequenceLoudness.h"

#include <cmath>

using namespace testsupport;
using platform::Ref;
using Kind = ZQ::RangeProcess::Kind;
using Curve = ZQ::RangeProcess::Curve;

namespace {

ZQ::Num::SampleRange rangeOf(std::uint64_t a, std::uint64_t b) {
    return {ZQ::Num::Count(a), ZQ::Num::Count(b)};
}

// Every channel's samples as the document holds them.
std::vector<std::vector<double>> channelsOf(ZQAudioFileDocument* doc) {
    const ZQ::SampleSnapshot s = doc->sampleData()->samples();
    std::vector<std::vector<double>> out(s->channelCount(), std::vector<double>(s->frameCount()));
    for (unsigned c = 0; c < s->channelCount(); ++c)
        s->read(c, 0, s->frameCount(), out[c].data());
    return out;
}

class ProcessingTest : public DocumentTest {};

} // namespace

TEST_F(ProcessingTest, EachCommandGivesItsFormulaAcrossChunksAndUndoesExactly) {
    // 70,000 frames: the range below crosses the 32,768-frame chunks twice.
    for (const int channels : {1, 16}) {
        const std::string path = dir.file("p" + std::to_string(channels) + ".wav");
        ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, channels, 48000, 70000));
        Ref<ZQAudioFileDocument> doc = openDocument(path);
        ASSERT_TRUE(waitUntil([&] { return doc->fileHasLoaded(); }));
        doc->setMarkers(ZQ::MarkerList({{100, 0, "before"}, {30000, 0, "inside"}, {69000, 0, "after"}}));
        const std::vector<std::vector<double>> original = channelsOf(doc.get());
        const std::uint64_t a = 1000, b = 67999, n = b - a + 1;
        std::vector<double> mean(std::size_t(channels), 0.0);
        for (int c = 0; c < channels; ++c) {
            for (std::uint64_t k = a; k <= b; ++k)
                mean[c] += original[c][k];
            mean[c] /= double(n);
        }
        const struct {
            const char* name;
            ZQ::RangeProcess process;
        } commands[] = {
            {"Gain", {Kind::Gain, 0.5011872336272722}},
            {"Fade In", {Kind::FadeIn, 1.0, Curve::Linear}},
            {"Fade Out", {Kind::FadeOut, 1.0, Curve::EqualPower}},
            {"Silence", {Kind::Silence}},
            {"Reverse", {Kind::Reverse}},
            {"Invert", {Kind::Invert}},
            {"Remove DC", {Kind::RemoveDC}},
        };
        for (const auto& command : commands) {
            const ZQ::RangeProcess& p = command.process;
            ASSERT_TRUE(doc->processRange(command.name, p, rangeOf(a, b))) << command.name;
            const std::vector<std::vector<double>> now = channelsOf(doc.get());
            for (int c = 0; c < channels; ++c) {
                ASSERT_EQ(now[c].size(), 70000u);
                for (std::uint64_t k = 0; k < 70000; ++k) {
                    const double x = original[c][k];
                    double expected = x;
                    if (k >= a && k <= b) {
                        const std::uint64_t i = k - a;
                        switch (p.kind) {
                        case Kind::Gain:
                            expected = x * p.gain;
                            break;
                        case Kind::FadeIn:
                            expected = x * (double(i) / double(n - 1));
                            break;
                        case Kind::FadeOut:
                            expected = x * std::sin(double(n - 1 - i) / double(n - 1) * M_PI / 2);
                            break;
                        case Kind::Silence:
                            expected = 0;
                            break;
                        case Kind::Reverse:
                            expected = original[c][b - i];
                            break;
                        case Kind::Invert:
                            expected = -x;
                            break;
                        case Kind::RemoveDC:
                            expected = x - mean[c];
                            break;
                        }
                    }
                    // Kept as the store keeps every sample: a 32-bit float.
                    if (k >= a && k <= b) expected = static_cast<float>(expected);
                    ASSERT_EQ(now[c][k], expected) << command.name << ", channel " << c << ", frame " << k;
                }
            }
            // One step, named for the command; the markers where they were.
            EXPECT_EQ(doc->undoActionName(), command.name);
            EXPECT_EQ(doc->markers().size(), 3u);
            EXPECT_EQ(doc->markers().items()[1].frame, 30000u);
            // Held in a file, not in memory.
            EXPECT_EQ(doc->sampleData()->samples()->memoryBytes(), 0u);
            doc->undo(nullptr);
            EXPECT_EQ(channelsOf(doc.get()), original) << command.name;
            doc->redo(nullptr);
            EXPECT_EQ(channelsOf(doc.get())[0][a], now[0][a]) << command.name;
            doc->undo(nullptr);
        }
        EXPECT_FALSE(doc->isDocumentEdited());
        // Outside the samples: refused, nothing recorded.
        EXPECT_FALSE(doc->processRange("Gain", {Kind::Gain, 2.0}, rangeOf(69000, 70000)));
        EXPECT_FALSE(doc->canUndo());
    }
}

TEST_F(ProcessingTest, NormaliseMeetsItsPeakOrItsLoudnessUnderTheCeiling) {
    const std::string path = dir.file("n.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 48000 * 10, [](int c, long k) {
        return (0.1 + 0.05 * c) * std::sin(2 * M_PI * 440 * double(k) / 48000);
    }));
    Ref<ZQAudioFileDocument> doc = openDocument(path);
    ASSERT_TRUE(waitUntil([&] { return doc->fileHasLoaded(); }));
    const auto all = rangeOf(0, 48000 * 10 - 1);
    ASSERT_TRUE(doc->normaliseRange(all, false, -1.0, 0.0));
    EXPECT_EQ(doc->undoActionName(), "Normalise");
    const ZQ::SampleSnapshot s = doc->sampleData()->samples();
    EXPECT_NEAR(20 * std::log10(ZQ::samplePeak(*s, 0, s->frameCount())), -1.0, 1e-6); // a float's precision
    doc->undo(nullptr);
    ASSERT_TRUE(doc->normaliseRange(all, true, -20.0, -1.0));
    ZQ::LoudnessFigures f = ZQ::measureLoudness(*doc->sampleData()->samples(), 0, 480000, 48000, 1);
    EXPECT_NEAR(f.integrated, -20.0, 0.1);
    doc->undo(nullptr);
    // Louder than the ceiling allows: held at the ceiling.
    ASSERT_TRUE(doc->normaliseRange(all, true, 0.0, -1.0));
    f = ZQ::measureLoudness(*doc->sampleData()->samples(), 0, 480000, 48000, 1);
    EXPECT_NEAR(f.truePeak, -1.0, 0.05);
    EXPECT_LT(f.integrated, -2.0);
    doc->undo(nullptr);
    // Silence cannot be normalised.
    ASSERT_TRUE(doc->processRange("Silence", {Kind::Silence}, all));
    std::string why;
    EXPECT_FALSE(doc->normaliseRange(all, false, -1.0, 0.0, &why));
    EXPECT_EQ(why, "The selection is silent.");
}
