#include "core/values.h"

#include "platform/base/AudioTypes.h"

#include <cmath>
#include <cstdio>

namespace ZQ {

static_assert(sizeof(Num::Nm<double>) == 16 && alignof(Num::Nm<double>) == 16);
static_assert(sizeof(Num::Count) == 16 && alignof(Num::Count) == 16);
static_assert(kMaxDoubleElements.v_ == 2305843009213693951ull);

sample_rate::sample_rate(double rate) : s_(rate), r_(rate > 0.0 ? 1.0 / rate : 0.0), n_(rate * 0.5) {}

bool sample_rate::isSupported() const {
    if (s_.v_ < platform::audio::kLowestPlaybackRate || s_.v_ > platform::audio::kHighestPlaybackRate) {
        std::printf("Invalid sample rate: %f\n", s_.v_);
        return false;
    }
    return true;
}

bool sample_rate::assign(const sample_rate& other) {
    // Integer parts compared as doubles: no overflow for any rate.
    if (std::trunc(s_.v_) == std::trunc(other.s_.v_) && !other.isForceRefresh_) return false;
    s_ = other.s_;
    r_ = other.r_;
    n_ = other.n_;
    return true;
}

bool sample_rate::operator==(const sample_rate& other) const {
    if (!isValid() || !other.isValid()) return false;
    // Truncation to whole units of 1e-8 Hz (done in double, so huge rates
    // cannot overflow an integer conversion).
    return std::trunc(s_.v_ * 100000000.0) == std::trunc(other.s_.v_ * 100000000.0);
}

std::string hmsText(const HMSTime& time) {
    static const char kDigits[] = "0123456789*";
    const char* zero = "00:00:00.000";
    if (!time.isSupported_) return zero;
    using ld = long double;
    const ld i = static_cast<ld>(time.sample_.v_);
    const ld r = static_cast<ld>(time.rate_.s_.v_);
    const auto hours = static_cast<unsigned long long>(i / (r * 3600));
    const auto minutes = static_cast<unsigned long long>(i / (r * 60)) % 60;
    const auto seconds = static_cast<unsigned long long>(i / r) % 60;
    // i x 1000 / r rather than i / (0.001 r): 0.001 has no exact binary form,
    // and the truncation would turn exactly 10 ms into 9.
    const auto millis = static_cast<unsigned long long>(i * 1000 / r) % 1000;
    if (hours >= 100) return zero;
    char text[13] = {kDigits[hours / 10],
                     kDigits[hours % 10],
                     ':',
                     kDigits[minutes / 10],
                     kDigits[minutes % 10],
                     ':',
                     kDigits[seconds / 10],
                     kDigits[seconds % 10],
                     '.',
                     kDigits[millis / 100],
                     kDigits[millis / 10 % 10],
                     kDigits[millis % 10],
                     0};
    return text;
}

std::string sampleCountText(const Num::SampleRange& range, const std::string& prefix, const std::string& suffix,
                            bool allowsZeroLengthRange) {
    const unsigned long long min = range.min_.v_, max = range.max_.v_;
    if (min > max) return "--/--";
    if (min == max && allowsZeroLengthRange) return prefix + std::to_string(min) + suffix;
    if (max != 0 && min < max) return prefix + std::to_string(min) + "/" + std::to_string(max) + suffix;
    return "--/--";
}

} // namespace ZQ
