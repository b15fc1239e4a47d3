#include "waveform/TimeRuler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ZQ::TimeRuler {

namespace {

// A rung of the ladder of steps, and the parts its minor ticks may divide
// it into (the finer first, taken when there is room).
struct Rung {
    double step;
    int minors[2];
};

// Below a second the 1-2-5 series; above it the clock's own steps.
constexpr Rung kTimeLadder[] = {
    {1e-6, {5, 2}}, {2e-6, {4, 2}}, {5e-6, {5, 1}}, {1e-5, {5, 2}}, {2e-5, {4, 2}},  {5e-5, {5, 1}},  {1e-4, {5, 2}},
    {2e-4, {4, 2}}, {5e-4, {5, 1}}, {1e-3, {5, 2}}, {2e-3, {4, 2}}, {5e-3, {5, 1}},  {1e-2, {5, 2}},  {2e-2, {4, 2}},
    {5e-2, {5, 1}}, {0.1, {5, 2}},  {0.2, {4, 2}},  {0.5, {5, 1}},  {1, {5, 2}},     {2, {4, 2}},     {5, {5, 1}},
    {10, {5, 2}},   {15, {3, 1}},   {30, {3, 2}},   {60, {4, 2}},   {120, {4, 2}},   {300, {5, 1}},   {600, {5, 2}},
    {900, {3, 1}},  {1800, {3, 2}}, {3600, {4, 2}}, {7200, {4, 2}}, {18000, {5, 1}}, {36000, {5, 2}}, {86400, {4, 2}},
};
// Samples: 1-2-5 from a single sample up.
constexpr double kSampleSteps[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
// A sample at least this many pixels wide: the ruler counts samples.
constexpr double kSampleLevelPixels = 4;
// Minor ticks closer than this are left out.
constexpr double kMinorSpacing = 6;

int minorsFor(const int (&choices)[2], double pixels) {
    for (int m : choices)
        if (pixels / m >= kMinorSpacing) return m;
    return 1;
}

// Decimals that a step below a second needs (0.25 -> 2, 0.0005 -> 4).
int decimalsFor(double step) {
    int d = 0;
    while (d < 9 && std::fabs(step * std::pow(10.0, d) - std::round(step * std::pow(10.0, d))) > 1e-6)
        ++d;
    return d;
}

std::string format(const char* pattern, auto... values) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

} // namespace

std::string timeLabel(double seconds, double step) {
    seconds = std::max(0.0, seconds);
    if (step >= 1) {
        const auto s = static_cast<long long>(std::llround(seconds));
        const long long h = s / 3600, m = s % 3600 / 60, sec = s % 60;
        if (h > 0) return format("%lld:%02lld:%02lld", h, m, sec);
        if (m > 0 || step >= 60) return format("%lld:%02lld", m, sec);
        return format("%lld s", sec);
    }
    if (step < 1e-3 && seconds < 1) {
        // Below a millisecond a step, and under a second: milliseconds.
        const int d = std::max(1, decimalsFor(step * 1e3));
        return format("%.*f ms", d, seconds * 1e3);
    }
    // Milliseconds at least (the clock's own precision), more where the
    // step needs them.
    const int d = std::max(3, decimalsFor(step));
    const double scale = std::pow(10.0, d);
    const double rounded = std::round(seconds * scale) / scale;
    const auto whole = static_cast<long long>(std::floor(rounded));
    const double fraction = rounded - static_cast<double>(whole);
    const long long h = whole / 3600, m = whole % 3600 / 60, sec = whole % 60;
    // The fraction's digits, without the "0" before the point.
    const std::string digits = format("%.*f", d, fraction).substr(1);
    if (h > 0) return format("%lld:%02lld:%02lld", h, m, sec) + digits;
    if (m > 0) return format("%lld:%02lld", m, sec) + digits;
    return format("%lld", sec) + digits + " s";
}

Scale chooseScale(double samplesPerPixel, double rate, double seconds,
                  const std::function<double(const std::string&)>& labelWidth, double gap) {
    Scale scale;
    if (!(samplesPerPixel > 0) || !(rate > 0)) return scale;
    if (samplesPerPixel <= 1 / kSampleLevelPixels) {
        scale.inSamples = true;
        const auto last = static_cast<long long>(std::llround(seconds * rate));
        const double widest = labelWidth(std::to_string(last)) + gap;
        for (double step : kSampleSteps) {
            const double pixels = step / samplesPerPixel;
            if (pixels < widest) continue;
            scale.step = step;
            const int choices[2] = {step >= 10 ? 5 : static_cast<int>(step), 1};
            scale.minors = minorsFor(choices, pixels);
            return scale;
        }
        scale.step = kSampleSteps[std::size(kSampleSteps) - 1];
        return scale;
    }
    for (const Rung& rung : kTimeLadder) {
        const double pixels = rung.step * rate / samplesPerPixel;
        // The label of the view's end is the longest this step writes.
        if (pixels < labelWidth(timeLabel(seconds, rung.step)) + gap) continue;
        scale.step = rung.step;
        scale.minors = minorsFor(rung.minors, pixels);
        return scale;
    }
    const Rung& last = kTimeLadder[std::size(kTimeLadder) - 1];
    scale.step = last.step;
    scale.minors = 1;
    return scale;
}

std::vector<Tick> ticks(double first, double samplesPerPixel, double width, double rate, std::uint64_t count,
                        const std::function<double(const std::string&)>& labelWidth, double gap) {
    std::vector<Tick> out;
    if (!(samplesPerPixel > 0) || !(rate > 0) || !(width > 0) || count == 0) return out;
    const double end = std::min(first + width * samplesPerPixel, static_cast<double>(count - 1));
    const Scale scale = chooseScale(samplesPerPixel, rate, end / rate, labelWidth, gap);
    if (!(scale.step > 0)) return out;
    const double stepSamples = scale.inSamples ? scale.step : scale.step * rate;
    const double minorSamples = stepSamples / scale.minors;
    // Steps counted from the file's start, so that a tick's place never
    // depends on where the view begins.
    for (auto i = static_cast<long long>(std::ceil(std::max(0.0, first) / minorSamples - 1e-9));; ++i) {
        const double at = static_cast<double>(i) * minorSamples;
        if (at > end + 1e-9) break;
        Tick t;
        t.x = (at - first) / samplesPerPixel;
        t.sample = static_cast<std::uint64_t>(std::llround(at));
        t.major = i % scale.minors == 0;
        if (t.major)
            t.label = scale.inSamples ? std::to_string(t.sample)
                                      : timeLabel(static_cast<double>(i / scale.minors) * scale.step, scale.step);
        out.push_back(std::move(t));
    }
    return out;
}

} // namespace ZQ::TimeRuler
