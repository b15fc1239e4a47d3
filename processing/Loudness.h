// Loudness as ITU-R BS.1770-4 and EBU R 128 define it, through libebur128:
// integrated loudness (gated), loudness range and sample peak; the true
// peak (oversampled) by our own TruePeak.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ZQ {

struct LoudnessFigures {
    double integrated = -HUGE_VAL; // LUFS; -inf for silence or less than 400 ms
    double range = 0;              // LU
    double truePeak = -HUGE_VAL;   // dBTP, the loudest channel
    double samplePeak = -HUGE_VAL; // dBFS, the loudest channel
    bool valid = false;            // false when cancelled or refused
};

// Streams frames into one measurement.
class LoudnessMeter {
public:
    // Null when libebur128 refuses the channel count or rate. Channels are
    // weighted as libebur128 places them: L, R, C, (LFE, not counted), Ls,
    // Rs; a seventh and more are not counted.
    static std::unique_ptr<LoudnessMeter> create(unsigned channels, double rate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    void add(const double* interleaved, std::size_t frames);
    LoudnessFigures figures() const;
    // The figures of several meters over consecutive stretches, as one.
    static LoudnessFigures combined(const std::vector<LoudnessMeter*>& meters);

private:
    LoudnessMeter() = default;
    void* state_ = nullptr;
    unsigned channels_ = 0;
    std::unique_ptr<class TruePeak> truePeak_;
};

// "-23.0 LUFS", "-inf LUFS"; "7.5 LU"; "-1.2 dBTP"; "-3.0 dBFS".
std::string loudnessText(double value, const char* unit);

} // namespace ZQ
