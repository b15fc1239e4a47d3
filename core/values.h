// Numeric value types: the 16-byte aligned number wrapper, closed ranges,
// sample rates and sample positions in time. Plain values without locks: the
// owner of the record that holds them synchronises access.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace ZQ {
namespace Num {

template <class T> struct alignas(16) Nm {
    T v_{};

    constexpr Nm() = default;
    constexpr Nm(T v) : v_(v) {}

    constexpr T get() const { return v_; }
    constexpr auto operator<=>(const Nm&) const = default;
    constexpr bool operator==(const Nm&) const = default;
    constexpr Nm operator+(const Nm& o) const { return Nm(v_ + o.v_); }
    constexpr Nm operator-(const Nm& o) const { return Nm(v_ - o.v_); }
    constexpr Nm operator*(const Nm& o) const { return Nm(v_ * o.v_); }
    constexpr Nm operator/(const Nm& o) const { return Nm(v_ / o.v_); }
    constexpr Nm& operator+=(const Nm& o) { return v_ += o.v_, *this; }
    constexpr Nm& operator-=(const Nm& o) { return v_ -= o.v_, *this; }
};

using Count = Nm<unsigned long long>;
using Factor = Nm<double>;

// A closed range; valid when min_ <= max_. Sample ranges include both ends.
template <class T> struct range {
    T min_{};
    T max_{};

    constexpr range() = default;
    constexpr range(T min, T max) : min_(min), max_(max) {}
    constexpr bool isValid() const { return min_ <= max_; }
    constexpr bool operator==(const range&) const = default;
};

using SampleRange = range<Count>;

} // namespace Num

// Shared constants.
inline constexpr Num::Count kZero{0ull};
inline constexpr Num::Count kAllOnes{18446744073709551615ull};
// The largest count of 8-byte elements whose byte size fits in 64 bits.
inline constexpr Num::Count kMaxDoubleElements{18446744073709551615ull >> 3};

class sample_rate {
public:
    Num::Nm<double> s_{-1.0};
    Num::Nm<double> r_{0.0};
    Num::Nm<double> n_{0.0};
    bool isForceRefresh_ = false;

    // An invalid rate.
    sample_rate() = default;
    explicit sample_rate(double rate);

    double rate() const { return s_.v_; }
    bool isValid() const { return s_.v_ > 1.0 && r_.v_ > 0.0; }
    // 8000 ... 192000 Hz; prints "Invalid sample rate: %f" for any other rate.
    bool isSupported() const;
    // Copies the rate unless the integer parts agree and the source does not
    // force the refresh; returns whether anything was copied.
    bool assign(const sample_rate& other);
    // Equal to within 1e-8 Hz; invalid rates are never equal.
    bool operator==(const sample_rate& other) const;
};

// A point in time: a sample position at a rate.
struct HMSTime {
    sample_rate rate_;
    Num::Count sample_;
    bool isSupported_ = false;

    HMSTime() = default;
    HMSTime(const sample_rate& rate, Num::Count sample)
        : rate_(rate), sample_(sample), isSupported_(rate.isSupported()) {}
};

// "hh:mm:ss.mmm" of a time, digits truncated (never rounded); an invalid
// time, or one of 100 hours or more, reads "00:00:00.000".
std::string hmsText(const HMSTime& time);

// The text of a sample index or range: "--/--" for an inverted range, for an
// empty end, or for a single index unless single indices are allowed;
// otherwise prefix, "min" or "min/max", suffix.
std::string sampleCountText(const Num::SampleRange& range, const std::string& prefix, const std::string& suffix,
                            bool allowsZeroLengthRange);

} // namespace ZQ
