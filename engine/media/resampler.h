// Sample-rate conversion for devices that cannot run at 8 kHz (speexdsp).
#pragma once

#include <cstdint>
#include <vector>

struct SpeexResamplerState_;

namespace media {

class Resampler {
public:
    // quality 0..10 (speexdsp's scale); 5 is its own choice for voice over VoIP.
    Resampler(int inputRate, int outputRate, int quality = 5);
    ~Resampler();
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;

    int inputRate() const { return inputRate_; }
    int outputRate() const { return outputRate_; }
    // Converts a block and appends the result; state carries over between calls.
    void process(const std::int16_t *in, std::size_t count, std::vector<std::int16_t> &out);
    // Delay the filter adds, in output samples.
    int latency() const;

private:
    int inputRate_;
    int outputRate_;
    SpeexResamplerState_ *state_ = nullptr; // none when the rates are equal
};

} // namespace media
