#include "noise_suppressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace media {

namespace {

constexpr float kPi = 3.14159265358979f;
// The most a band is lowered: steady noise drops by about this much, and
// what is left of it keeps its character instead of turning to warbles.
constexpr float kFloorGain = 0.178f; // -15 dB
// Smoothing of each band's power for the noise tracker (about 60 ms).
constexpr float kSmoothing = 0.7f;
// The floor of a smoothed power lies below its mean; this brings it back.
constexpr float kNoiseBias = 1.5f;
// Weight of last period's clean estimate in the signal-to-noise guess
// (decision-directed): high, so that lone noisy peaks are not let through.
constexpr float kDirected = 0.98f;
// Keeps the ratios finite on digital silence.
constexpr float kTinyPower = 1.0f;

} // namespace

NoiseSuppressor::NoiseSuppressor()
{
    for (std::size_t i = 0; i < kFft; ++i) {
        float w = 1.0f;
        if (i < kOverlap)
            w = std::sin(kPi / 2 * (float(i) + 0.5f) / float(kOverlap));
        else if (i >= kFrameSamples)
            w = std::cos(kPi / 2 * (float(i - kFrameSamples) + 0.5f) / float(kOverlap));
        window_[i] = w;
    }
    for (std::size_t k = 0; k <= kHalf; ++k) {
        cos_[k] = std::cos(2 * kPi * float(k) / float(kFft));
        sin_[k] = std::sin(2 * kPi * float(k) / float(kFft));
    }
    for (std::size_t i = 0; i < kHalf; ++i) {
        std::size_t r = 0;
        for (std::size_t bit = 1, rbit = kHalf / 2; bit < kHalf; bit <<= 1, rbit >>= 1)
            if (i & bit)
                r |= rbit;
        reversed_[i] = static_cast<std::uint8_t>(r);
    }
    std::fill(std::begin(input_), std::end(input_), 0.0f);
    std::fill(std::begin(output_), std::end(output_), 0.0f);
    std::fill(std::begin(smoothed_), std::end(smoothed_), 0.0f);
    for (auto &span : spanFloor_)
        std::fill(std::begin(span), std::end(span), 0.0f);
    std::fill(std::begin(cleanPower_), std::end(cleanPower_), 0.0f);
}

// In place, radix 2, kHalf points; the inverse is left unscaled. The
// twiddles come from the kFft-point table at twice the stride.
void NoiseSuppressor::fft(float *re, float *im, bool inverse) const
{
    for (std::size_t i = 0; i < kHalf; ++i) {
        const std::size_t j = reversed_[i];
        if (j > i) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (std::size_t a = 0; a < kHalf; a += 2) { // the first stage needs no twiddles
        const float r = re[a + 1], i = im[a + 1];
        re[a + 1] = re[a] - r;
        im[a + 1] = im[a] - i;
        re[a] += r;
        im[a] += i;
    }
    const float sign = inverse ? 1.0f : -1.0f;
    for (std::size_t length = 4; length <= kHalf; length <<= 1) {
        const std::size_t half = length / 2;
        const std::size_t stride = kFft / length;
        for (std::size_t k = 0; k < half; ++k) {
            const float wr = cos_[k * stride];
            const float wi = sign * sin_[k * stride];
            for (std::size_t a = k; a < kHalf; a += length) {
                const std::size_t b = a + half;
                const float tr = re[b] * wr - im[b] * wi;
                const float ti = re[b] * wi + im[b] * wr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

// The spectrum of kFft real samples from the half-size transform of the
// even samples as real parts and the odd ones as imaginary parts: the two
// halves' spectra are untangled by symmetry and joined with the twiddles.
void NoiseSuppressor::forward(const float *re, const float *im, float *spectrumRe, float *spectrumIm) const
{
    float zr[kHalf], zi[kHalf];
    std::copy(re, re + kHalf, zr);
    std::copy(im, im + kHalf, zi);
    fft(zr, zi, false);
    for (std::size_t k = 0; k <= kHalf; ++k) {
        const std::size_t a = k % kHalf, b = (kHalf - k) % kHalf;
        const float evenRe = 0.5f * (zr[a] + zr[b]), evenIm = 0.5f * (zi[a] - zi[b]);
        const float oddRe = 0.5f * (zi[a] + zi[b]), oddIm = -0.5f * (zr[a] - zr[b]);
        const float wr = cos_[k], wi = -sin_[k];
        spectrumRe[k] = evenRe + wr * oddRe - wi * oddIm;
        spectrumIm[k] = evenIm + wr * oddIm + wi * oddRe;
    }
}

// The way back: even and odd samples' spectra from the bins, one half-size
// inverse transform, the samples scaled back.
void NoiseSuppressor::inverse(const float *spectrumRe, const float *spectrumIm, float *re, float *im) const
{
    for (std::size_t k = 0; k < kHalf; ++k) {
        const std::size_t m = kHalf - k;
        const float evenRe = 0.5f * (spectrumRe[k] + spectrumRe[m]);
        const float evenIm = 0.5f * (spectrumIm[k] - spectrumIm[m]);
        const float dr = 0.5f * (spectrumRe[k] - spectrumRe[m]);
        const float di = 0.5f * (spectrumIm[k] + spectrumIm[m]);
        const float wr = cos_[k], wi = sin_[k]; // the conjugate twiddle
        const float oddRe = dr * wr - di * wi;
        const float oddIm = dr * wi + di * wr;
        re[k] = evenRe - oddIm;
        im[k] = evenIm + oddRe;
    }
    fft(re, im, true);
    const float scale = 1.0f / float(kHalf);
    for (std::size_t k = 0; k < kHalf; ++k) {
        re[k] *= scale;
        im[k] *= scale;
    }
}

void NoiseSuppressor::process(std::int16_t (&pcm)[kFrameSamples])
{
    std::memmove(input_, input_ + kFrameSamples, kOverlap * sizeof(float));
    for (std::size_t i = 0; i < kFrameSamples; ++i)
        input_[kOverlap + i] = pcm[i];
    float even[kHalf], odd[kHalf];
    for (std::size_t m = 0; m < kHalf; ++m) {
        even[m] = input_[2 * m] * window_[2 * m];
        odd[m] = input_[2 * m + 1] * window_[2 * m + 1];
    }
    float re[kBins], im[kBins];
    forward(even, odd, re, im);

    // A new span starts with this period's power; the oldest is forgotten.
    const bool newSpan = spanAge_ == 0;
    if (newSpan && started_)
        std::memmove(spanFloor_[0], spanFloor_[1], (kSpans - 1) * sizeof spanFloor_[0]);
    spanAge_ = (spanAge_ + 1) % kSpanPeriods;
    float *current = spanFloor_[kSpans - 1];
    for (std::size_t k = 0; k < kBins; ++k) {
        const float power = re[k] * re[k] + im[k] * im[k];
        if (!started_) {
            smoothed_[k] = power;
            for (auto &span : spanFloor_)
                span[k] = power;
        }
        smoothed_[k] = kSmoothing * smoothed_[k] + (1 - kSmoothing) * power;
        current[k] = newSpan ? smoothed_[k] : std::min(current[k], smoothed_[k]);
        float floor = current[k];
        for (int s = 0; s < kSpans - 1; ++s)
            floor = std::min(floor, spanFloor_[s][k]);
        const float noise = kNoiseBias * floor + kTinyPower;
        const float posterior = power / noise;
        const float prior = kDirected * cleanPower_[k] / noise + (1 - kDirected) * std::max(posterior - 1, 0.0f);
        const float gain = std::max(prior / (1 + prior), kFloorGain);
        cleanPower_[k] = gain * gain * power;
        re[k] *= gain;
        im[k] *= gain;
    }
    started_ = true;

    inverse(re, im, even, odd);
    float frame[kFft];
    for (std::size_t m = 0; m < kHalf; ++m) {
        frame[2 * m] = even[m] * window_[2 * m];
        frame[2 * m + 1] = odd[m] * window_[2 * m + 1];
    }
    for (std::size_t i = 0; i < kFrameSamples; ++i) {
        const float v = i < kOverlap ? frame[i] + output_[i] : frame[i];
        pcm[i] = static_cast<std::int16_t>(std::clamp(std::lrint(v), -32768L, 32767L));
    }
    std::copy(frame + kFrameSamples, frame + kFft, output_);
}

} // namespace media
