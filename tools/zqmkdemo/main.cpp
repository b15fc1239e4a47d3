// Writes the bundled demo sound: four seconds of 44.1 kHz stereo 16-bit WAV,
// a chord that moves from left to right with a short fade at each end.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sndfile.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zqmkdemo OUTPUT.wav\n");
        return 2;
    }
    const int rate = 44100;
    const long frames = 4L * rate;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(argv[1], SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "zqmkdemo: %s\n", sf_strerror(nullptr));
        return 1;
    }
    sf_set_string(f, SF_STR_TITLE, "ZQ demo chord");
    const double pi = 3.14159265358979323846;
    const double notes[] = {220.0, 277.18, 329.63, 440.0};
    std::vector<float> block(static_cast<size_t>(frames) * 2);
    for (long k = 0; k < frames; ++k) {
        const double t = static_cast<double>(k) / rate;
        double v = 0;
        for (double n : notes)
            v += std::sin(2 * pi * n * t);
        v *= 0.2 * std::min({1.0, t / 0.05, (4.0 - t) / 0.3});
        const double pan = t / 4.0;
        block[static_cast<size_t>(2 * k)] = static_cast<float>(v * std::cos(pan * pi / 2));
        block[static_cast<size_t>(2 * k + 1)] = static_cast<float>(v * std::sin(pan * pi / 2));
    }
    const bool ok = sf_writef_float(f, block.data(), frames) == frames;
    return sf_close(f) == 0 && ok ? 0 : 1;
}
