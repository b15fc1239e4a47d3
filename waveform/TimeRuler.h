// Where the ticks of a time ruler go and what they say, for a view that
// shows samples from `first` on at `samplesPerPixel`: a step of time from a
// fixed ladder (1-2-5 below a second; 1, 2, 5, 10, 15 and 30 seconds and
// minutes; hours), the smallest whose labels never touch, and labels
// trimmed to what that step needs ("1:02:30", "2:30", "45 s", "2.250 s",
// "12.5 ms"). Zoomed in so far that a sample is wider than a pixel, the
// ruler counts samples instead. Costs time in proportion to the ticks in
// view, never to the file's length.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ZQ::TimeRuler {

struct Tick {
    double x = 0; // pixels from the view's left edge
    std::uint64_t sample = 0;
    bool major = false; // a labelled tick
    std::string label;  // empty on minor ticks
};

struct Scale {
    bool inSamples = false;
    double step = 0; // between labelled ticks: seconds, or samples
    int minors = 1;  // parts each step is divided into by minor ticks
};

// The label of the time `seconds` where labelled ticks are `step` seconds
// apart.
std::string timeLabel(double seconds, double step);

// The scale for a view `samplesPerPixel` wide per pixel at `rate`, whose
// labels (as wide as `labelWidth` says, in pixels) keep `gap` pixels apart
// around `seconds` (the time at the view's end, which has the longest
// labels).
Scale chooseScale(double samplesPerPixel, double rate, double seconds,
                  const std::function<double(const std::string&)>& labelWidth, double gap);

// The ticks of the view: samples `first` (a fraction where the view starts
// between samples) to `first + width * samplesPerPixel`, at most `count`
// samples in the file.
std::vector<Tick> ticks(double first, double samplesPerPixel, double width, double rate, std::uint64_t count,
                        const std::function<double(const std::string&)>& labelWidth, double gap = 12);

} // namespace ZQ::TimeRuler
