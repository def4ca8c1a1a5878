// Noise suppression by spectral gain: each period is windowed with the end
// of the one before (256 samples, 96 of them overlapping), taken to the
// frequency domain, and each of its 129 bands is scaled by how far it stands
// above the noise learnt in that band (a Wiener gain on a smoothed
// signal-to-noise estimate, never below -15 dB, so steady noise is lowered,
// not gated). The noise is learnt as the floor of each band's smoothed power
// over the last second and a half or so: speech comes and goes within that
// time, so it is not taken for noise.
// It delays the voice by the overlap, 12 ms.
#pragma once

#include "gsm_codec.h"

#include <cstddef>
#include <cstdint>

namespace media {

class NoiseSuppressor {
public:
    static constexpr std::size_t kFft = 256;
    static constexpr std::size_t kOverlap = kFft - kFrameSamples;
    static constexpr std::size_t kBins = kFft / 2 + 1;

    NoiseSuppressor();
    void process(std::int16_t (&pcm)[kFrameSamples]);

private:
    float window_[kFft];  // analysis and synthesis alike: their product overlaps to one
    float input_[kFft];   // the overlap from the last period, then this one
    float output_[kOverlap]; // what the last period leaves to add to this one
    static constexpr std::size_t kHalf = kFft / 2; // the real transform runs as a complex one of half the size
    float cos_[kHalf + 1];
    float sin_[kHalf + 1];
    std::uint8_t reversed_[kHalf];
    static constexpr int kSpans = 6;       // the floor's memory, in spans of
    static constexpr int kSpanPeriods = 12; // this many periods (240 ms)
    float smoothed_[kBins];
    float spanFloor_[kSpans][kBins]; // the floor of each span, the current one last
    int spanAge_ = 0;
    float cleanPower_[kBins]; // last period's estimate of the clean power
    bool started_ = false;

    void fft(float *re, float *im, bool inverse) const; // kHalf points, in place
    // re/im: the even and odd samples; spectrumRe/Im: bins 0 to kHalf.
    void forward(const float *re, const float *im, float *spectrumRe, float *spectrumIm) const;
    void inverse(const float *spectrumRe, const float *spectrumIm, float *re, float *im) const;
};

} // namespace media
