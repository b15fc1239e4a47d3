// Reading the waveform: each view names its channel, from the file's
// speaker mask or by number, in the view's label colour, and the name never
// sits over another label.
#include "window/WindowFixture.h"

#include <QLabel>

using namespace testsupport;
using platform::Ref;

namespace {

class ReadingTest : public WindowTest {
protected:
    // A WAVE_FORMAT_EXTENSIBLE file whose mask names `map`'s speakers.
    std::string maskedFile(const std::string& name, const std::vector<int>& map) {
        const std::string path = dir.file(name);
        SF_INFO info{};
        info.channels = static_cast<int>(map.size());
        info.samplerate = 48000;
        info.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        std::vector<int> m = map;
        EXPECT_EQ(sf_command(f, SFC_SET_CHANNEL_MAP_INFO, m.data(), static_cast<int>(sizeof(int) * m.size())), SF_TRUE);
        std::vector<short> frames(map.size() * 4800, 1000);
        sf_writef_short(f, frames.data(), 4800);
        sf_close(f);
        return path;
    }
    static QStringList names(ZQWaveformDisplayController* c) {
        QStringList out;
        for (int i = 0; i < c->waveformCount(); ++i) {
            QLabel* l = c->waveform(i)->channelNameOverlay();
            out << (l && l->isVisibleTo(c->waveform(i)) ? l->text() : QStringLiteral("(hidden)"));
        }
        return out;
    }
};

} // namespace

TEST_F(ReadingTest, EachViewNamesItsChannelFromTheSpeakerMaskOrByNumber) {
    Ref<ZQAudioFileDocument> surround =
        open(maskedFile("five-one.wav", {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER,
                                         SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT}));
    ZQWaveformDisplayController* c = display(surround.get());
    resizeContent(c, 900, 700);
    EXPECT_EQ(names(c), (QStringList{"L", "R", "C", "LFE", "Ls", "Rs"}));
    Ref<ZQAudioFileDocument> plain = open(floatFile("three.wav", 3, 4800, [](int, long) { return 0.1; }));
    ZQWaveformDisplayController* p = display(plain.get());
    resizeContent(p, 900, 500);
    EXPECT_EQ(names(p), (QStringList{"1", "2", "3"}));
    // At the top left, in the labels' colour, clear of the amplitude label.
    ZQWaveform* v = p->waveform(0);
    QLabel* name = v->channelNameOverlay();
    EXPECT_EQ(name->geometry().topLeft(), QPoint(1, 1));
    EXPECT_EQ(name->palette().color(QPalette::WindowText), v->vZoomOverlay()->palette().color(QPalette::WindowText));
    EXPECT_FALSE(name->geometry().intersects(v->vZoomOverlay()->geometry()));
    // Sixteen views too short for a top row: no name over the trace.
    Ref<ZQAudioFileDocument> many = open(floatFile("sixteen.wav", 16, 4800, [](int, long) { return 0.1; }));
    ZQWaveformDisplayController* m = display(many.get());
    resizeContent(m, 900, 300);
    ASSERT_LT(m->waveform(0)->height(), 30);
    for (const QString& n : names(m))
        EXPECT_EQ(n, "(hidden)");
    // Tall enough again: every name is back.
    resizeContent(m, 900, 900);
    ASSERT_GE(m->waveform(0)->height(), 30);
    EXPECT_EQ(names(m).join(' '), "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
}
