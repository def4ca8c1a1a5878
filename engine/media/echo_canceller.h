// Echo cancelling in the time domain: a normalised-LMS filter of 40 ms
// (320 taps at 8 kHz) that learns how the speaker reaches the microphone
// and takes its estimate of that echo off each captured period.
//
// The filter only works while there is something to cancel: when the far
// end has been quiet for the whole tail the period passes untouched. It
// only learns while the far end alone is sounding: near-end speech louder
// than the far end could make its echo (a Geigel detector) freezes it for a
// while, so talking over the other party neither wrecks the filter nor is
// cancelled away.
#pragma once

#include "gsm_codec.h"

#include <cstddef>
#include <cstdint>

namespace media {

class EchoCanceller {
public:
    static constexpr std::size_t kTaps = 2 * kFrameSamples; // 40 ms of echo tail

    EchoCanceller();

    // mic is the captured period; far is what the speaker played in the
    // period that lines up with it (silence if nothing was played). out may
    // be mic itself.
    void process(const std::int16_t (&mic)[kFrameSamples], const std::int16_t (&far)[kFrameSamples],
                 std::int16_t (&out)[kFrameSamples]);
    // The far end played while the microphone was not listened to (muted):
    // the filter keeps its reference in step without working on it.
    void skip(const std::int16_t (&far)[kFrameSamples]);

    // Samples of near-end speech over the far end (the filter held).
    std::uint64_t doubleTalkSamples() const { return doubleTalkSamples_; }

private:
    static constexpr std::size_t kBlock = 40; // 5 ms: the grain of the far end's peak and of the gate
    static constexpr std::size_t kHistory = kTaps + kFrameSamples;
    static constexpr std::size_t kBlocks = kHistory / kBlock;

    void shiftIn(const std::int16_t (&far)[kFrameSamples]);

    // taps_[kTaps - 1] weighs the newest far-end sample, taps_[0] the oldest,
    // so that the filter and the history run the same way through memory.
    alignas(64) float taps_[kTaps];
    // The far end: the last kTaps samples before this period, then this period.
    alignas(64) float history_[kHistory];
    float blockPeak_[kBlocks];
    int hangover_ = 0;
    std::uint64_t doubleTalkSamples_ = 0;
    void (*adapt_)(float *taps, const float *window, const float *mic, float *error, std::size_t count,
                   const bool *learn);
};

} // namespace media
