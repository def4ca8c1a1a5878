#include "echo_canceller.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace media {

namespace {

// Step size of the normalised LMS: 0.5 learns an echo path within a second
// or two of speech and leaves little misadjustment behind.
constexpr float kStep = 0.5f;
// Added to the far end's energy before dividing by it, so that a quiet far
// end does not make the steps huge: 320 taps at about -50 dB.
constexpr float kRegularisation = EchoCanceller::kTaps * 100.0f * 100.0f;
// Below this peak the far end is silent for our purposes: its echo, if any,
// is under the microphone's own noise.
constexpr float kSilentPeak = 64.0f;
// Geigel's rule: echo is at most half as loud as what the speaker played,
// so a louder microphone sample is the near end talking.
constexpr float kGeigelRatio = 0.5f;
// How long a detection holds: near-end speech dips between its peaks.
constexpr int kHangoverSamples = 240;
// Partial sums of the dot product: enough independent lanes for the
// compiler to keep them in vector registers without reordering the sum.
constexpr std::size_t kLanes = 16;

static_assert(EchoCanceller::kTaps % kLanes == 0);

template <typename Product>
[[gnu::always_inline]] inline float laneSum(Product product)
{
    float lanes[kLanes] = {};
    for (std::size_t k = 0; k < EchoCanceller::kTaps; k += kLanes)
        for (std::size_t j = 0; j < kLanes; ++j)
            lanes[j] += product(k + j);
    float sum = 0;
    for (std::size_t j = 0; j < kLanes; ++j)
        sum += lanes[j];
    return sum;
}

// One step of the update (taps += gain * x) and the next sample's estimate
// from the updated taps, in one pass. Lanes is one vector register's worth:
// more, and the compiler keeps the partial sums in memory.
template <std::size_t kFusedLanes>
[[gnu::always_inline]] inline float learnAndEstimate(float *__restrict taps, const float *__restrict x,
                                                     const float *__restrict next, float gain)
{
    float lanes[kFusedLanes] = {};
    for (std::size_t k = 0; k < EchoCanceller::kTaps; k += kFusedLanes)
        for (std::size_t j = 0; j < kFusedLanes; ++j) {
            const float t = taps[k + j] + gain * x[k + j];
            taps[k + j] = t;
            lanes[j] += t * next[k + j];
        }
    float sum = 0;
    for (std::size_t j = 0; j < kFusedLanes; ++j)
        sum += lanes[j];
    return sum;
}

// The filter's output and its update, for count samples from window0 on.
// Written as plain loops over contiguous floats with fixed trip counts so
// that -O2 vectorises them; compiled once for the baseline and once for
// processors with AVX2 and FMA. The update for one sample and the output
// for the next share one pass over the taps.
template <std::size_t kFusedLanes>
[[gnu::always_inline]] inline void adaptBody(float *__restrict taps, const float *__restrict window0,
                                             const float *__restrict mic, float *__restrict error,
                                             std::size_t count, const bool *__restrict learn)
{
    constexpr std::size_t n = EchoCanceller::kTaps;
    float energy = laneSum([&](std::size_t k) { return window0[k] * window0[k]; });
    float estimate = laneSum([&](std::size_t k) { return taps[k] * window0[k]; });
    for (std::size_t i = 0; i < count; ++i) {
        const float *__restrict x = window0 + i;
        const float residual = mic[i] - estimate;
        error[i] = residual;
        const float gain = learn[i] ? kStep * residual / (energy + kRegularisation) : 0.0f;
        if (i + 1 == count) {
            if (gain != 0.0f)
                for (std::size_t k = 0; k < n; ++k)
                    taps[k] += gain * x[k];
            break;
        }
        estimate = gain != 0.0f ? learnAndEstimate<kFusedLanes>(taps, x, x + 1, gain) : laneSum([&](std::size_t k) {
            return taps[k] * x[k + 1];
        });
        energy = std::max(energy + x[n] * x[n] - x[0] * x[0], 0.0f);
    }
}

void adaptBaseline(float *taps, const float *window0, const float *mic, float *error, std::size_t count,
                   const bool *learn)
{
    adaptBody<4>(taps, window0, mic, error, count, learn);
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2,fma")]] void adaptAvx2(float *taps, const float *window0, const float *mic, float *error,
                                           std::size_t count, const bool *learn)
{
    adaptBody<8>(taps, window0, mic, error, count, learn);
}
#endif

using Adapt = void (*)(float *, const float *, const float *, float *, std::size_t, const bool *);

Adapt bestAdapt()
{
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return adaptAvx2;
#endif
    return adaptBaseline;
}

} // namespace

EchoCanceller::EchoCanceller() : adapt_(bestAdapt())
{
    std::fill(std::begin(taps_), std::end(taps_), 0.0f);
    std::fill(std::begin(history_), std::end(history_), 0.0f);
    std::fill(std::begin(blockPeak_), std::end(blockPeak_), 0.0f);
}

void EchoCanceller::shiftIn(const std::int16_t (&far)[kFrameSamples])
{
    std::memmove(history_, history_ + kFrameSamples, kTaps * sizeof(float));
    std::memmove(blockPeak_, blockPeak_ + kFrameSamples / kBlock, (kTaps / kBlock) * sizeof(float));
    for (std::size_t b = 0; b < kFrameSamples / kBlock; ++b) {
        int peak = 0;
        for (std::size_t i = b * kBlock; i < (b + 1) * kBlock; ++i) {
            history_[kTaps + i] = far[i];
            peak = std::max(peak, std::abs(int(far[i])));
        }
        blockPeak_[kTaps / kBlock + b] = static_cast<float>(peak);
    }
}

void EchoCanceller::skip(const std::int16_t (&far)[kFrameSamples])
{
    shiftIn(far);
    hangover_ = 0;
}

void EchoCanceller::process(const std::int16_t (&mic)[kFrameSamples], const std::int16_t (&far)[kFrameSamples],
                            std::int16_t (&out)[kFrameSamples])
{
    shiftIn(far);
    float micF[kFrameSamples];
    float error[kFrameSamples];
    bool learn[kBlock];
    for (std::size_t b = 0; b < kFrameSamples / kBlock; ++b) {
        const std::size_t first = b * kBlock;
        for (std::size_t i = first; i < first + kBlock; ++i)
            micF[i] = mic[i];
        // The window of sample i is history_[i + 1, i + kTaps]: for this
        // block it lies within blocks b to b + kTaps / kBlock.
        const float peak = *std::max_element(blockPeak_ + b, blockPeak_ + b + kTaps / kBlock + 1);
        if (peak < kSilentPeak) { // nothing played within the tail: nothing to cancel
            std::copy(micF + first, micF + first + kBlock, error + first);
            hangover_ = std::max(0, hangover_ - int(kBlock));
            continue;
        }
        for (std::size_t i = 0; i < kBlock; ++i) {
            if (std::fabs(micF[first + i]) > kGeigelRatio * peak)
                hangover_ = kHangoverSamples;
            learn[i] = hangover_ == 0;
            if (hangover_ > 0) {
                --hangover_;
                ++doubleTalkSamples_;
            }
        }
        adapt_(taps_, history_ + first + 1, micF + first, error + first, kBlock, learn);
    }
    // A filter that adds more than it takes away has gone wrong (an echo
    // path that changed, or near-end speech it learnt from): the microphone
    // is better as it is while the filter learns again. One that is no
    // longer a number starts over.
    double micEnergy = 0, errorEnergy = 0;
    for (std::size_t i = 0; i < kFrameSamples; ++i) {
        micEnergy += double(micF[i]) * micF[i];
        errorEnergy += double(error[i]) * error[i];
    }
    if (!std::isfinite(errorEnergy)) {
        std::fill(std::begin(taps_), std::end(taps_), 0.0f);
        std::copy(std::begin(mic), std::end(mic), out);
        return;
    }
    const float *result = errorEnergy > micEnergy ? micF : error;
    for (std::size_t i = 0; i < kFrameSamples; ++i)
        out[i] = static_cast<std::int16_t>(std::clamp(std::lrint(result[i]), -32768L, 32767L));
}

} // namespace media
