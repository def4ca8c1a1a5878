// The sending half of the voice path: echo cancellation and noise
// suppression, the silence threshold, GSM encoding; then the
// voice clock that stamps each frame for the network.
#pragma once

#include "echo_canceller.h"
#include "gsm_codec.h"
#include "noise_suppressor.h"

#include <cstdint>
#include <array>
#include <deque>
#include <memory>
#include <mutex>

namespace media {

struct Processing {
    bool echoCancel = true;
    bool noiseSuppress = true;
};

// Level of one period in dB below full scale; -99 for digital silence.
float levelDb(const std::int16_t (&pcm)[kFrameSamples]);

class SendPath {
public:
    // firstSequence continues the count of a path this one replaces.
    explicit SendPath(Processing processing = {}, std::uint64_t firstSequence = 0);
    SendPath(const SendPath &) = delete;
    // The echo canceller, if there is one: its counts tell how it has worked.
    const EchoCanceller *echoCanceller() const { return echo_.get(); }
    SendPath &operator=(const SendPath &) = delete;

    // -99 (or lower) means never silent: every period is sent.
    void setSilenceThreshold(float db) { threshold_ = db; }
    std::uint64_t nextSequence() const { return sequence_; }
    const Processing &processing() const { return processing_; }

    // What the speaker just played, the echo canceller's reference. Called
    // from the playback device's thread.
    void played(const std::int16_t (&pcm)[kFrameSamples]);

    struct Frame {
        std::uint64_t sequence = 0; // counts captured periods, sent or not
        bool silent = false;
        float levelDb = -99;
        std::uint8_t gsm[kGsmFrameBytes] = {};
    };
    // One captured period. Called from the capture device's thread. Muted,
    // the frame is encoded silence, never left out: the stream goes on.
    Frame process(const std::int16_t (&mic)[kFrameSamples], bool muted = false);

private:
    // The speaker's period that lines up with this captured one.
    void nextFarEnd(std::int16_t (&out)[kFrameSamples]);

    Processing processing_;
    float threshold_ = -99;
    std::uint64_t sequence_ = 0;
    GsmEncoder encoder_;
    std::unique_ptr<EchoCanceller> echo_;
    std::unique_ptr<NoiseSuppressor> noise_;
    std::mutex farEndMutex_;
    std::deque<std::array<std::int16_t, kFrameSamples>> farEnd_;
};

// Gives each sent frame its timestamp: in step with the audio clock (20 ms a
// period, whatever the scheduler did), yet never far from the call's clock,
// so a device that stalled or was switched does not leave the peer behind.
class VoiceClock {
public:
    std::uint32_t stamp(std::uint64_t sequence, std::uint32_t callNowMs);

private:
    bool started_ = false;
    std::uint64_t baseSequence_ = 0;
    std::uint32_t baseTs_ = 0;
    std::uint32_t last_ = 0;
    static constexpr std::int64_t kMaxSkewMs = 200;
};

} // namespace media
