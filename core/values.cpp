#include "core/values.h"

#include <cmath>
#include <cstdio>

namespace ZQ {

static_assert(sizeof(Num::Nm<double>) == 16 && alignof(Num::Nm<double>) == 16);
static_assert(sizeof(Num::Count) == 16 && alignof(Num::Count) == 16);
static_assert(kMaxDoubleElements.v_ == 2305843009213693951ull);

sample_rate::sample_rate(double rate) : s_(rate), r_(rate > 0.0 ? 1.0 / rate : 0.0), n_(rate * 0.5) {}

bool sample_rate::isSupported() const {
    if (s_.v_ < 8000.0 || s_.v_ > 192000.0) {
        std::printf("Invalid sample rate: %f\n", s_.v_);
        return false;
    }
    return true;
}

bool sample_rate::assign(const sample_rate& other) {
    // Integer parts compared as doubles: no overflow for any rate.
    if (std::trunc(s_.v_) == std::trunc(other.s_.v_) &&
        !other.isForceRefresh_)
        return false;
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

} // namespace ZQ
