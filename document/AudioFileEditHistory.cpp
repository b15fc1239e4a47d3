#include "document/AudioFileEditHistory.h"

namespace ZQ {

void AudioFileEditHistory::record(std::unique_ptr<AudioFileEditStep> step) {
    if (!step) return;
    // The clean point can no longer be reached once the steps after it go.
    if (clean_ > position_) cleanReachable_ = false;
    steps_.resize(position_);
    steps_.push_back(std::move(step));
    if (steps_.size() > kMaxSteps) {
        steps_.erase(steps_.begin());
        if (clean_ == 0)
            cleanReachable_ = false;
        else
            --clean_;
    }
    position_ = steps_.size();
}

void AudioFileEditHistory::clear() {
    steps_.clear();
    position_ = clean_ = 0;
    cleanReachable_ = true;
}

std::uint64_t AudioFileEditHistory::bytes() const {
    std::uint64_t total = 0;
    for (const auto& s : steps_) {
        const std::uint64_t channels = s->removed    ? std::uint64_t(s->removed->channelCount())
                                       : s->inserted ? s->inserted->channelCount()
                                                     : 0;
        total += (s->removedFrames() + s->insertedFrames()) * channels * sizeof(double);
    }
    return total;
}

} // namespace ZQ
